// corvell: scanner unit tools (frame encoder, stream decoder, simulated unit).
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <algorithm>
#include <fstream>

#include "platform/files.h"
#include "platform/serial_port.h"
#include "scanner/frame_codec.h"
#include "scanner/receive_loop.h"
#include "scanner/wire_trace.h"
#ifdef KESTROW_HAVE_SIM
#include <chrono>
#include <mutex>

#include "platform/text.h"
#include "sim/scenario.h"
#include "sim/simulated_unit.h"
#include "sim/unit_protocol.h"
#endif

namespace {

const char kUsage[] =
    "Usage: corvell encode TYPE [HEX...]\n"
    "       corvell decode [--describe] [FILE]\n"
    "       corvell decode --trace [--describe] FILE\n"
    "       corvell sim [--scenario FILE] [--link PATH] [--verbose]\n"
    "\n"
    "Scanner unit tools for Kestrow.\n"
    "\n"
    "  encode TYPE [HEX...]   print the frame for message TYPE (decimal or 0x-hex)\n"
    "                         and the payload given as hexadecimal bytes, with or\n"
    "                         without spaces\n"
    "  decode [FILE]          decode a captured byte stream (standard input by\n"
    "                         default) through the receive state machine, one\n"
    "                         one-byte read at a time; one line per message\n"
    "    --describe           add an indented line reading each message\n"
    "    --trace              FILE is a wire trace (kestrow --trace): decode both\n"
    "                         directions, each message line led by rx or tx\n"
    "  sim                    run the simulated scanner unit on a new pseudo-terminal\n"
    "    --scenario FILE      scenario file (JSON); the built-in office by default\n"
    "    --link PATH          create a symbolic link to the terminal at PATH\n"
    "    --verbose            log every frame in both directions to standard error\n"
    "\n"
    "  -h, --help             show this help\n"
    "  --version              print the version\n";

int UsageError(const std::string& message) {
    std::fprintf(stderr, "corvell: %s (try 'corvell --help')\n", message.c_str());
    return 2;
}

// Decimal, or hexadecimal after 0x; a leading zero does not make it octal.
bool ParseNumber(const std::string& text, unsigned long& value) {
    const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
    const std::string digits = hex ? text.substr(2) : text;
    if (digits.empty() || digits.find_first_not_of(hex ? "0123456789abcdefABCDEF" : "0123456789") !=
                              std::string::npos) {
        return false;
    }
    errno = 0;
    value = std::strtoul(digits.c_str(), nullptr, hex ? 16 : 10);
    return errno == 0;
}

// Parses hexadecimal bytes given as one or more arguments, spaces allowed anywhere
// between bytes but not inside one.
bool ParseHexBytes(const std::vector<std::string>& args, std::vector<uint8_t>& out,
                   std::string& error) {
    std::string digits;
    for (const std::string& arg : args) {
        std::string word;
        for (char c : arg + " ") {
            if (c == ' ' || c == '\t' || c == '\n' || c == ',') {
                if (word.size() % 2 != 0) {
                    error = "odd number of hexadecimal digits in '" + word + "'";
                    return false;
                }
                digits += word;
                word.clear();
            } else if (platform::HexDigitValue(c) < 0) {
                error = std::string("'") + c + "' is not a hexadecimal digit";
                return false;
            } else {
                word += c;
            }
        }
    }
    for (size_t i = 0; i < digits.size(); i += 2) {
        out.push_back(static_cast<uint8_t>(platform::HexDigitValue(digits[i]) * 16 +
                                           platform::HexDigitValue(digits[i + 1])));
    }
    return true;
}

void PrintHex(const uint8_t* bytes, size_t n) {
    for (size_t i = 0; i < n; ++i) {
        std::printf(i ? " %02X" : "%02X", bytes[i]);
    }
}

int Encode(const std::vector<std::string>& args) {
    if (args.empty()) {
        return UsageError("encode needs a message TYPE");
    }
    unsigned long type = 0;
    if (!ParseNumber(args[0], type) || type > 0xFF) {
        return UsageError("'" + args[0] + "' is not a message type from 0 to 255");
    }
    std::vector<uint8_t> payload;
    std::string error;
    if (!ParseHexBytes({args.begin() + 1, args.end()}, payload, error)) {
        return UsageError(error);
    }
    uint8_t frame[kFrameBufferSize];
    unsigned n = EncodeFrame(static_cast<uint8_t>(type), payload.data(),
                             static_cast<unsigned>(payload.size()), frame);
    if (n == 0) {
        std::fprintf(stderr, "corvell: a payload of %zu bytes does not fit a %zu-byte frame\n",
                     payload.size(), kFrameBufferSize);
        return 1;
    }
    PrintHex(frame, n);
    std::printf("\n");
    return 0;
}

// Formats each delivered message as its line (and, with --describe, an
// indented reading under it).
class FormattingSink : public MessageSink {
  public:
    explicit FormattingSink(bool describe) : m_describe(describe) {}
    void OnMessage(uint8_t type, const uint8_t* payload, uint16_t length) override {
        char head[40];
        std::snprintf(head, sizeof head, "type=%02X length=%u payload=", type, length);
        Delivered message{head + HexText(payload, length), std::string()};
#ifdef KESTROW_HAVE_SIM
        if (m_describe) {
            message.reading = "    " + sim::DescribeMessage(type, payload, length);
        }
#endif
        OnDelivered(message);
    }

  protected:
    struct Delivered {
        std::string line;
        std::string reading;  // empty without --describe
    };
    virtual void OnDelivered(const Delivered& message) = 0;

  private:
    static std::string HexText(const uint8_t* bytes, size_t count) {
        static const char kHex[] = "0123456789ABCDEF";
        std::string text;
        for (size_t i = 0; i < count; ++i) {
            text += i == 0 ? "" : " ";
            text += kHex[bytes[i] >> 4];
            text += kHex[bytes[i] & 0x0F];
        }
        return text;
    }
    bool m_describe;
};

class PrintingSink : public FormattingSink {
  public:
    using FormattingSink::FormattingSink;

  private:
    void OnDelivered(const Delivered& message) override {
        std::printf("%s\n", message.line.c_str());
        if (!message.reading.empty()) {
            std::printf("%s\n", message.reading.c_str());
        }
    }
};

// Collects one direction's messages with the time of the byte that ended each.
class TimedSink : public FormattingSink {
  public:
    struct Entry {
        double seconds;
        std::string text;
    };
    TimedSink(bool describe, const char* prefix, std::vector<Entry>& out)
        : FormattingSink(describe), m_prefix(prefix), m_out(out) {}
    double now = 0;

  private:
    void OnDelivered(const Delivered& message) override {
        std::string text = m_prefix + message.line;
        if (!message.reading.empty()) {
            text += "\n" + message.reading;
        }
        m_out.push_back({now, text});
    }
    std::string m_prefix;
    std::vector<Entry>& m_out;
};

// Says so and answers true when a recording to decode is over the bound,
// by its size on disk (a regular file) or by what was read of it so far.
bool TooLargeToReplay(const std::string& path, uint64_t read = 0) {
    struct stat st {};
    const uint64_t size = ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode)
                              ? static_cast<uint64_t>(st.st_size)
                              : read;
    if (std::max(size, read) <= platform::kMaxReplayFileBytes) {
        return false;
    }
    std::fprintf(stderr, "corvell: %s: larger than the %llu MiB a recording is decoded from\n",
                 path.c_str(),
                 static_cast<unsigned long long>(platform::kMaxReplayFileBytes >> 20));
    return true;
}

// A trace as the reader met it: the bytes of each direction fed to the
// receive machine one read at a time. The trace has no lines for reads that
// returned nothing; a pause longer than the read time-out between two bytes
// had at least one, so it is fed as one.
int DecodeTrace(const std::string& path, bool describe) {
    std::ifstream in(path);
    if (!in) {
        std::fprintf(stderr, "corvell: cannot open %s: %s\n", path.c_str(), std::strerror(errno));
        return 1;
    }
    if (TooLargeToReplay(path)) {
        return 1;
    }
    std::vector<TraceLine> lines;
    std::string text;
    uint64_t read = 0;  // a pipe says nothing of its size before
    for (int number = 1; std::getline(in, text); ++number) {
        read += text.size() + 1;
        if (read > platform::kMaxReplayFileBytes) {
            TooLargeToReplay(path, read);
            return 1;
        }
        TraceLine line;
        std::string error;
        if (ParseTraceLine(text, line, error)) {
            lines.push_back(std::move(line));
        } else if (!error.empty()) {
            std::fprintf(stderr, "corvell: %s:%d: %s\n", path.c_str(), number, error.c_str());
            return 1;
        }
    }
    if (in.bad()) {
        std::fprintf(stderr, "corvell: cannot read %s: %s\n", path.c_str(), std::strerror(errno));
        return 1;
    }
    constexpr double kReadTimeout = platform::kReadTimeoutTenths / 10.0;
    std::vector<TimedSink::Entry> entries;
    for (const auto direction : {WireTrace::Direction::kRx, WireTrace::Direction::kTx}) {
        TimedSink sink(describe, direction == WireTrace::Direction::kRx ? "rx " : "tx ", entries);
        uint16_t state = 0;
        auto step = [&](const uint8_t* bytes, int count) {
            return ReceiveStep(state, bytes, count, sink);
        };
        uint8_t byte = 0;
        receive_loop::FeedRead(step, &byte, 0);
        double last = -1;
        for (const TraceLine& line : lines) {
            if (line.direction != direction) {
                continue;
            }
            sink.now = line.seconds;
            if (last >= 0 && line.seconds - last > kReadTimeout) {
                receive_loop::FeedRead(step, &byte, 0);
            }
            for (uint8_t b : line.bytes) {
                byte = b;
                receive_loop::FeedRead(step, &byte, 1);
            }
            last = line.seconds;
        }
        receive_loop::FeedRead(step, &byte, 0);
    }
    std::stable_sort(
        entries.begin(), entries.end(),
        [](const TimedSink::Entry& a, const TimedSink::Entry& b) { return a.seconds < b.seconds; });
    for (const TimedSink::Entry& entry : entries) {
        std::printf("%s\n", entry.text.c_str());
    }
    return 0;
}

int Decode(const std::vector<std::string>& args) {
    bool describe = false;
    bool trace = false;
    std::string path;
    for (const std::string& a : args) {
        if (a == "--describe") {
            describe = true;
        } else if (a == "--trace") {
            trace = true;
        } else if (a.size() > 1 && a[0] == '-') {
            return UsageError("unknown decode option '" + a + "'");
        } else if (path.empty()) {
            path = a;
        } else {
            return UsageError("decode takes one FILE");
        }
    }
    if (trace) {
        if (path.empty() || path == "-") {
            return UsageError("decode --trace needs the trace FILE");
        }
        return DecodeTrace(path, describe);
    }
    FILE* in = stdin;
    if (!path.empty() && path != "-") {
        in = std::fopen(path.c_str(), "rb");
        if (!in) {
            std::fprintf(stderr, "corvell: cannot open %s: %s\n", path.c_str(),
                         std::strerror(errno));
            return 1;
        }
        if (TooLargeToReplay(path)) {
            std::fclose(in);
            return 1;
        }
    }
    // Fed exactly as the serial reader thread feeds the machine: one-byte
    // reads, and at the end of input a read that returns no byte.
    PrintingSink sink(describe);
    uint16_t state = 0;
    auto step = [&](const uint8_t* bytes, int count) {
        return ReceiveStep(state, bytes, count, sink);
    };
    uint8_t byte = 0;
    receive_loop::FeedRead(step, &byte, 0);
    int c = 0;
    while ((c = std::fgetc(in)) != EOF) {
        byte = static_cast<uint8_t>(c);
        receive_loop::FeedRead(step, &byte, 1);
    }
    if (std::ferror(in)) {
        // A failed read is not the end of a capture: say so rather than
        // print a partial decode as if it were whole.
        std::fprintf(stderr, "corvell: cannot read %s: %s\n",
                     path.empty() || path == "-" ? "standard input" : path.c_str(),
                     std::strerror(errno));
        if (in != stdin) {
            std::fclose(in);
        }
        return 1;
    }
    receive_loop::FeedRead(step, &byte, 0);
    if (in != stdin) {
        std::fclose(in);
    }
    return 0;
}

#ifdef KESTROW_HAVE_SIM
void FormatMessage(std::string& line, const sim::WireMessage& m) {
    char head[40];
    std::snprintf(head, sizeof head, "type=%02X length=%zu payload=", m.type, m.payload.size());
    line += head;
    for (size_t i = 0; i < m.payload.size(); ++i) {
        char hex[4];
        std::snprintf(hex, sizeof hex, i ? " %02X" : "%02X", m.payload[i]);
        line += hex;
    }
    line += "\n             " + sim::DescribeMessage(m.type, m.payload.data(), m.payload.size());
}

// One line (two for a frame) per event, stamped with seconds since start.
class VerboseLog {
  public:
    void operator()(const sim::UnitEvent& event) {
        double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - m_start).count();
        char stamp[32];
        std::snprintf(stamp, sizeof stamp, "[%9.3f] ", seconds);
        std::string line = stamp;
        switch (event.kind) {
            case sim::UnitEvent::kHostMessage:
                line += "host> ";
                FormatMessage(line, event.message);
                break;
            case sim::UnitEvent::kUnitMessage:
                line += "unit> ";
                FormatMessage(line, event.message);
                break;
            case sim::UnitEvent::kGarbage:
                line += "unit> garbage " + std::to_string(event.message.payload.size()) + " bytes";
                break;
            case sim::UnitEvent::kAnswerDropped:
                line += "unit: no answer to this scan command (dropped)";
                break;
        }
        std::fprintf(stderr, "%s\n", line.c_str());
    }

  private:
    std::chrono::steady_clock::time_point m_start = std::chrono::steady_clock::now();
};

int Simulate(const std::vector<std::string>& args) {
    std::string scenarioPath, linkPath;
    bool verbose = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "--verbose") {
            verbose = true;
        } else if (a == "--scenario" || a == "--link") {
            if (i + 1 >= args.size()) {
                return UsageError(a + " needs a value");
            }
            (a == "--scenario" ? scenarioPath : linkPath) = args[++i];
        } else if (a.rfind("--scenario=", 0) == 0) {
            scenarioPath = a.substr(11);
        } else if (a.rfind("--link=", 0) == 0) {
            linkPath = a.substr(7);
        } else {
            return UsageError("unknown sim option '" + a + "'");
        }
    }
    sim::Scenario scenario = sim::BuiltInOfficeScenario();
    std::string error;
    if (!scenarioPath.empty() && !sim::LoadScenario(scenarioPath, scenario, error)) {
        std::fprintf(stderr, "corvell: %s\n", error.c_str());
        return 1;
    }

    // SIGINT and SIGTERM are taken with sigwait below; blocked before the
    // unit's thread starts so it inherits the mask and never takes them.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    sim::UnitEventCallback log;
    if (verbose) {
        log = VerboseLog();
    }
    std::unique_ptr<sim::SimulatedUnit> unit = sim::SimulatedUnit::Start(scenario, error, log);
    if (!unit) {
        std::fprintf(stderr, "corvell: %s\n", error.c_str());
        return 1;
    }
    if (!linkPath.empty()) {
        struct stat existing;
        if (::lstat(linkPath.c_str(), &existing) == 0 && S_ISLNK(existing.st_mode)) {
            ::unlink(linkPath.c_str());  // a link left by an earlier run
        }
        if (::symlink(unit->SlavePath().c_str(), linkPath.c_str()) != 0) {
            std::fprintf(stderr, "corvell: cannot create the link %s: %s\n", linkPath.c_str(),
                         std::strerror(errno));
            return 1;
        }
    }
    std::printf("%s\n", unit->SlavePath().c_str());
    std::fflush(stdout);

    int signal = 0;
    sigwait(&stopSignals, &signal);
    unit->Stop();
    if (!linkPath.empty()) {
        ::unlink(linkPath.c_str());
    }
    return 0;
}
#endif

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    const std::vector<std::string> argsWithCommand = args;
    if (args.empty()) {
        return UsageError("missing command");
    }
    const std::string command = args[0];
    args.erase(args.begin());
    // --help and --version answer wherever they stand, as with every tool. A
    // payload byte never looks like either, so encode loses nothing.
    for (const std::string& a : argsWithCommand) {
        if (a == "-h" || a == "--help") {
            std::fputs(kUsage, stdout);
            return 0;
        }
        if (a == "--version") {
            std::printf("corvell %s\n", KESTROW_VERSION);
            return 0;
        }
    }
    if (command == "encode") {
        return Encode(args);
    }
    if (command == "decode") {
        return Decode(args);
    }
    if (command == "sim") {
#ifdef KESTROW_HAVE_SIM
        return Simulate(args);
#else
        std::fprintf(stderr, "corvell: this build has no simulated unit\n");
        return 1;
#endif
    }
    return UsageError("unknown command '" + command + "'");
}
