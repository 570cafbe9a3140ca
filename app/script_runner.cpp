#include "app/script_runner.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <sstream>
#include <string>

namespace {

std::vector<std::string> SplitWords(const std::string& line) {
    std::istringstream stream(line);
    std::vector<std::string> words;
    std::string word;
    while (stream >> word) {
        words.push_back(word);
    }
    return words;
}

bool ParseInt(const std::string& text, int& value) {
    if (text.empty()) {
        return false;
    }
    errno = 0;
    char* end = nullptr;
    const long parsed = std::strtol(text.c_str(), &end, 10);
    if (*end != '\0' || errno == ERANGE || parsed < INT_MIN || parsed > INT_MAX) {
        return false;
    }
    value = static_cast<int>(parsed);
    return true;
}

bool ParsePoint(const std::string& text, int& x, int& y) {
    const size_t comma = text.find(',');
    return comma != std::string::npos && ParseInt(text.substr(0, comma), x) &&
           ParseInt(text.substr(comma + 1), y);
}

enum class LineRead { kLine, kEnd, kTooLong };

// Reads one line without its end, keeping at most kMaxScriptLine bytes of it:
// an endless line (a device, a binary file) never grows memory.
LineRead ReadLine(std::istream& in, std::string& line) {
    line.clear();
    for (int c = in.get(); c != std::char_traits<char>::eof(); c = in.get()) {
        if (c == '\n') {
            return LineRead::kLine;
        }
        if (line.size() == ScriptRunner::kMaxScriptLine) {
            return LineRead::kTooLong;
        }
        line.push_back(static_cast<char>(c));
    }
    return line.empty() ? LineRead::kEnd : LineRead::kLine;
}

}  // namespace

int ScriptRunner::Run(std::istream& script) {
    std::string line;
    int number = 0;
    for (LineRead read = ReadLine(script, line); read != LineRead::kEnd;
         read = ReadLine(script, line)) {
        ++number;
        if (read == LineRead::kTooLong) {
            m_errors << "script line " << number << ": longer than " << kMaxScriptLine << " bytes"
                     << std::endl;
            return 2;
        }
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        const std::vector<std::string> words = SplitWords(line);
        if (words.empty() || words[0][0] == '#') {
            continue;
        }
        std::string reason;
        switch (Execute(words, reason)) {
            case Outcome::kNext:
                break;
            case Outcome::kQuit:
                return 0;
            case Outcome::kFail:
                m_errors << "script line " << number << ": " << reason << std::endl;
                return 2;
        }
    }
    return 0;
}

ScriptRunner::Outcome ScriptRunner::Execute(const std::vector<std::string>& words,
                                            std::string& reason) {
    const std::string& command = words[0];
    const size_t argc = words.size() - 1;
    auto fail = [&reason](std::string text) {
        reason = std::move(text);
        return Outcome::kFail;
    };
    auto usage = [&](const char* form) { return fail(std::string("usage: ") + form); };

    if (const std::optional<Outcome> prepared = ExecutePreparation(words, reason)) {
        return *prepared;
    }
    if (command == "open") {
        size_t next = 2;
        bool keep = true;
        bool recover = true;
        if (next < words.size() && (words[next] == "keep" || words[next] == "discard")) {
            keep = words[next++] == "keep";
        }
        if (next < words.size() && (words[next] == "recover" || words[next] == "norecover")) {
            recover = words[next++] == "recover";
        }
        if (argc < 1 || next != words.size()) {
            return usage("open PATH [keep|discard] [recover|norecover]");
        }
        if (!m_host.Open(words[1], keep, recover, reason)) {
            return Outcome::kFail;
        }
        return Outcome::kNext;
    }
    if (command == "close") {
        static const std::pair<const char*, CloseAnswer> kAnswers[] = {
            {"save", CloseAnswer::kSave},
            {"discard", CloseAnswer::kDiscard},
            {"cancel", CloseAnswer::kCancel}};
        if (argc == 1) {
            for (const auto& [name, answer] : kAnswers) {
                if (words[1] == name) {
                    return m_host.Close(answer) ? Outcome::kQuit : Outcome::kNext;
                }
            }
        }
        return usage("close save|discard|cancel");
    }
    if (command == "open-cancel") {
        if (argc != 0) {
            return usage("open-cancel");
        }
        m_host.OpenCancel();
        return Outcome::kNext;
    }
    if (command == "tap" || command == "hold") {
        int x = 0;
        int y = 0;
        const bool isHold = command == "hold";
        const bool extraOk = isHold && argc == 3 && words[3] == "delete";
        if ((argc != 2 && !extraOk) || !ParseInt(words[1], x) || !ParseInt(words[2], y)) {
            return usage(isHold ? "hold X Y [delete]" : "tap X Y");
        }
        if (isHold) {
            m_host.Hold(x, y, extraOk);
        } else {
            m_host.Tap(x, y);
        }
        return Outcome::kNext;
    }
    if (command == "key") {
        static const std::pair<const char*, unsigned> kKeys[] = {
            {"left", 0x25}, {"up", 0x26}, {"right", 0x27}, {"down", 0x28}, {"action", 0x86}};
        if (argc == 1) {
            for (const auto& [name, code] : kKeys) {
                if (words[1] == name) {
                    m_host.Key(code);
                    return Outcome::kNext;
                }
            }
        }
        return usage("key left|up|right|down|action");
    }
    if (command == "zoom") {
        if (argc != 1 || (words[1] != "in" && words[1] != "out")) {
            return usage("zoom in|out");
        }
        m_host.Zoom(words[1] == "in");
        return Outcome::kNext;
    }
    if (command == "hscroll" || command == "vscroll") {
        int code = 0;
        int position = 0;
        if (argc < 1 || argc > 2 || !ParseInt(words[1], code) ||
            (argc == 2 && !ParseInt(words[2], position))) {
            return usage(command == "hscroll" ? "hscroll CODE [POS]" : "vscroll CODE [POS]");
        }
        m_host.Scroll(command == "hscroll", code, position);
        return Outcome::kNext;
    }
    if (command == "sign") {
        Stroke stroke;
        for (size_t i = 1; i < words.size(); ++i) {
            int x = 0;
            int y = 0;
            if (!ParsePoint(words[i], x, y)) {
                return fail("sign: '" + words[i] + "' is not a point X,Y");
            }
            stroke.emplace_back(x, y);
        }
        if (stroke.empty()) {
            return usage("sign X1,Y1 X2,Y2 ...");
        }
        m_host.Sign(stroke);
        return Outcome::kNext;
    }
    if (command == "save" || command == "status" || command == "quit") {
        if (argc != 0) {
            return usage(command.c_str());
        }
        if (command == "quit") {
            return Outcome::kQuit;
        }
        if (command == "save") {
            m_host.Save();
        } else {
            m_host.Status();
        }
        return Outcome::kNext;
    }
    if (command == "dialog") {
        if (argc != 1 || (words[1] != "colors" && words[1] != "help" && words[1] != "about")) {
            return usage("dialog colors|help|about");
        }
        m_host.Dialog(words[1]);
        return Outcome::kNext;
    }
    if (command == "screenshot") {
        if (argc != 1) {
            return usage("screenshot FILE");
        }
        return m_host.Screenshot(words[1], reason) ? Outcome::kNext : Outcome::kFail;
    }
    if (command == "window-screenshot") {
        if (argc != 1) {
            return usage("window-screenshot FILE");
        }
        return m_host.WindowScreenshot(words[1], reason) ? Outcome::kNext : Outcome::kFail;
    }
    if (command == "dialog-screenshot") {
        if (argc != 1) {
            return usage("dialog-screenshot FILE");
        }
        m_host.DialogScreenshot(words[1]);
        return Outcome::kNext;
    }
    if (command == "overlay") {
        if (argc != 1 || (words[1] != "off" && words[1] != "strongest" && words[1] != "second" &&
                          words[1] != "count" && words[1] != "passfail" &&
                          words[1] != "cochannel" && words[1] != "snr")) {
            return usage("overlay off|strongest|second|count|cochannel|snr|passfail");
        }
        m_host.Overlay(words[1]);
        return Outcome::kNext;
    }
    if (command == "undo" || command == "redo") {
        if (argc != 0) {
            return usage(command.c_str());
        }
        return m_host.Undo(command == "redo", reason) ? Outcome::kNext : Outcome::kFail;
    }
    if (command == "move") {
        int v[4] = {};
        if (argc != 4 || !ParseInt(words[1], v[0]) || !ParseInt(words[2], v[1]) ||
            !ParseInt(words[3], v[2]) || !ParseInt(words[4], v[3])) {
            return usage("move X1 Y1 X2 Y2");
        }
        return m_host.Move(v[0], v[1], v[2], v[3], reason) ? Outcome::kNext : Outcome::kFail;
    }
    if (command == "rename" || command == "sign-field") {
        // The name or text is the rest of the line, its words one space apart.
        const size_t textStart = command == "rename" ? 3 : 2;
        std::string text;
        for (size_t i = textStart; i < words.size(); ++i) {
            text += (i > textStart ? " " : "") + words[i];
        }
        if (command == "sign-field") {
            if (argc < 1 ||
                (words[1] != "customer" && words[1] != "surveyor" && words[1] != "notes")) {
                return usage("sign-field customer|surveyor|notes TEXT");
            }
            m_host.SignField(words[1], text);
            return Outcome::kNext;
        }
        int x = 0;
        int y = 0;
        if (argc < 3 || !ParseInt(words[1], x) || !ParseInt(words[2], y)) {
            return usage("rename X Y NAME");
        }
        return m_host.Rename(x, y, text, reason) ? Outcome::kNext : Outcome::kFail;
    }
    if (command == "save-as") {
        if (argc != 1) {
            return usage("save-as PATH");
        }
        return m_host.SaveAs(words[1], reason) ? Outcome::kNext : Outcome::kFail;
    }
    if (command == "walk") {
        Stroke path;
        double speed = 1;
        for (size_t i = 1; i < words.size(); ++i) {
            int x = 0;
            int y = 0;
            if (ParsePoint(words[i], x, y)) {
                path.emplace_back(x, y);
                continue;
            }
            char* end = nullptr;
            speed = std::strtod(words[i].c_str(), &end);
            if (i + 1 != words.size() || *end != '\0' || !(speed > 0 && speed <= 1e6)) {
                return fail("walk: '" + words[i] +
                            "' is neither a point X,Y nor a speed above 0 (the last word)");
            }
        }
        if (path.empty()) {
            return usage("walk X1,Y1 X2,Y2 ... [SPEED]");
        }
        return m_host.Walk(path, speed, reason) ? Outcome::kNext : Outcome::kFail;
    }
    if (command == "wheel" || command == "pan") {
        const bool wheel = command == "wheel";
        int a = 0;
        int b = 0;
        int steps = 0;
        if (argc != (wheel ? 3u : 2u) || !ParseInt(words[1], a) || !ParseInt(words[2], b) ||
            (wheel && !ParseInt(words[3], steps))) {
            return usage(wheel ? "wheel X Y N" : "pan DX DY");
        }
        const bool done = wheel ? m_host.Wheel(a, b, steps, reason) : m_host.Pan(a, b, reason);
        return done ? Outcome::kNext : Outcome::kFail;
    }
    if (command == "fit") {
        if (argc != 0) {
            return usage("fit");
        }
        return m_host.Fit(reason) ? Outcome::kNext : Outcome::kFail;
    }
    if (command == "sleep") {
        int milliseconds = 0;
        if (argc != 1 || !ParseInt(words[1], milliseconds) || milliseconds < 0) {
            return usage("sleep MS");
        }
        m_host.Sleep(milliseconds);
        return Outcome::kNext;
    }
    return fail("unknown command '" + command + "'");
}
