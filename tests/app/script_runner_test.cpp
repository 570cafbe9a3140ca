#include "app/script_runner.h"

#include <gtest/gtest.h>

#include <initializer_list>
#include <sstream>
#include <streambuf>
#include <string>

namespace {

// Records every call as one line of text.
class RecordingHost : public ScriptHost {
  public:
    bool Open(const std::string& path, bool keep, bool recover, std::string& reason) override {
        if (path == "missing.ksf") {
            reason = "no such file: missing.ksf";
            return false;
        }
        calls.push_back("open " + path + (keep ? " keep" : " discard") +
                        (recover ? " recover" : " norecover"));
        return true;
    }
    void OpenCancel() override { calls.push_back("open-cancel"); }
    void Tap(int x, int y) override { Add("tap", x, y); }
    void Hold(int x, int y, bool del) override { Add(del ? "hold-delete" : "hold", x, y); }
    void Key(unsigned code) override { Add("key", static_cast<int>(code)); }
    void Zoom(bool in) override { calls.push_back(in ? "zoom in" : "zoom out"); }
    void Scroll(bool horizontal, int code, int position) override {
        Add(horizontal ? "hscroll" : "vscroll", code, position);
    }
    void Sign(const Stroke& stroke) override {
        std::string text = "sign";
        for (auto [x, y] : stroke) {
            text += " " + std::to_string(x) + "," + std::to_string(y);
        }
        calls.push_back(text);
    }
    void Save() override { calls.push_back("save"); }
    void Status() override { calls.push_back("status"); }
    void Dialog(const std::string& which) override { calls.push_back("dialog " + which); }
    bool Screenshot(const std::string& path, std::string&) override {
        calls.push_back("screenshot " + path);
        return true;
    }
    bool WindowScreenshot(const std::string& path, std::string&) override {
        calls.push_back("window-screenshot " + path);
        return true;
    }
    void DialogScreenshot(const std::string& path) override {
        calls.push_back("dialog-screenshot " + path);
    }
    void Sleep(int ms) override { Add("sleep", ms); }
    void Overlay(const std::string& which) override { calls.push_back("overlay " + which); }
    bool Close(CloseAnswer answer) override {
        calls.push_back(answer == CloseAnswer::kSave      ? "close save"
                        : answer == CloseAnswer::kDiscard ? "close discard"
                                                          : "close cancel");
        return closes;
    }
    bool Undo(bool redo, std::string&) override {
        calls.push_back(redo ? "redo" : "undo");
        return true;
    }
    bool Move(int x1, int y1, int x2, int y2, std::string&) override {
        Add("move", x1, y1);
        calls.back() += " " + std::to_string(x2) + " " + std::to_string(y2);
        return true;
    }
    bool Rename(int x, int y, const std::string& name, std::string&) override {
        Add("rename", x, y);
        calls.back() += " [" + name + "]";
        return true;
    }
    bool SaveAs(const std::string& path, std::string&) override {
        calls.push_back("save-as " + path);
        return true;
    }
    void SignField(const std::string& field, const std::string& text) override {
        calls.push_back(field + " [" + text + "]");
    }
    bool NewSite(const std::string& plan, const std::string& site, int page,
                 std::string&) override {
        calls.push_back("new-site " + plan + " " + site + " " + std::to_string(page));
        return true;
    }
    bool Scale(double x1, double y1, double x2, double y2, double metres, std::string&) override {
        calls.push_back("scale " + Numbers({x1, y1, x2, y2, metres}));
        return true;
    }
    bool AddWall(const sitefile::Wall& w, std::string&) override {
        calls.push_back("wall " + Numbers({w.x1, w.y1, w.x2, w.y2}) + " " +
                        sitefile::InfoOf(w.material).name);
        return true;
    }
    bool DetectWalls(std::string&) override {
        calls.push_back("detect-walls");
        return true;
    }
    bool PlaceAccessPoint(const sitefile::MacBytes& bssid, double x, double y,
                          std::string&) override {
        calls.push_back("place-ap " + coverage::BssidText(bssid) + " " + Numbers({x, y}));
        return true;
    }
    static std::string Numbers(std::initializer_list<double> values) {
        std::ostringstream text;
        for (double v : values) {
            text << (text.tellp() > 0 ? " " : "") << v;
        }
        return text.str();
    }
    bool closes = false;  // whether the window closes

    void Add(const std::string& name, int a, int b = INT32_MIN) {
        calls.push_back(name + " " + std::to_string(a) +
                        (b == INT32_MIN ? "" : " " + std::to_string(b)));
    }
    std::vector<std::string> calls;
};

struct Outcome {
    int status;
    std::vector<std::string> calls;
    std::string errors;
};

Outcome RunScript(const std::string& script) {
    RecordingHost host;
    std::ostringstream errors;
    std::istringstream in(script);
    const int status = ScriptRunner(host, errors).Run(in);
    return {status, host.calls, errors.str()};
}

TEST(ScriptRunnerTest, EveryCommandReachesTheHost) {
    const Outcome out = RunScript(
        "# a survey\n"
        "\n"
        "open site.ksf\n"
        "open other.ksf discard\n"
        "open third.ksf norecover\n"
        "open fourth.ksf discard recover\n"
        "open-cancel\r\n"
        "  tap 120 134\n"
        "hold 10 -5 delete\n"
        "hold 1 2\n"
        "key left\nkey up\nkey right\nkey down\nkey action\n"
        "zoom in\nzoom out\n"
        "hscroll 5 500\nvscroll 1\n"
        "sign 1,2 3,4 5,6\n"
        "save\nstatus\ndialog colors\ndialog help\ndialog about\n"
        "screenshot shot.png\nwindow-screenshot w.png\ndialog-screenshot d.png\nsleep 10\n"
        "overlay strongest\noverlay off\n"
        "undo\nredo\nmove 1 2 3 4\nrename 5 6  Room   12 \nsave-as b.ksf\n"
        "sign-field notes Door  left open\nsign-field customer\n");
    EXPECT_EQ(out.status, 0);
    EXPECT_EQ(out.errors, "");
    EXPECT_EQ(out.calls, std::vector<std::string>({"open site.ksf keep recover",
                                                   "open other.ksf discard recover",
                                                   "open third.ksf keep norecover",
                                                   "open fourth.ksf discard recover",
                                                   "open-cancel",
                                                   "tap 120 134",
                                                   "hold-delete 10 -5",
                                                   "hold 1 2",
                                                   "key 37",
                                                   "key 38",
                                                   "key 39",
                                                   "key 40",
                                                   "key 134",
                                                   "zoom in",
                                                   "zoom out",
                                                   "hscroll 5 500",
                                                   "vscroll 1 0",
                                                   "sign 1,2 3,4 5,6",
                                                   "save",
                                                   "status",
                                                   "dialog colors",
                                                   "dialog help",
                                                   "dialog about",
                                                   "screenshot shot.png",
                                                   "window-screenshot w.png",
                                                   "dialog-screenshot d.png",
                                                   "sleep 10",
                                                   "overlay strongest",
                                                   "overlay off",
                                                   "undo",
                                                   "redo",
                                                   "move 1 2 3 4",
                                                   "rename 5 6 [Room 12]",
                                                   "save-as b.ksf",
                                                   "notes [Door left open]",
                                                   "customer []"}));
}

TEST(ScriptRunnerTest, SitePreparationCommandsReachTheHostOrSayTheirForm) {
    const Outcome out = RunScript(
        "new-site plan.pdf site.ksf\nnew-site plan.pdf site.ksf 3\n"
        "scale 10 20 190.5 260 15\nwall 0 160 640 160\nwall 1 2 3 4 concrete\n"
        "detect-walls\nplace-ap 02:00:00:00:00:A1 100 80.5\n");
    EXPECT_EQ(out.errors, "");
    EXPECT_EQ(out.calls,
              std::vector<std::string>({"new-site plan.pdf site.ksf 1",
                                        "new-site plan.pdf site.ksf 3", "scale 10 20 190.5 260 15",
                                        "wall 0 160 640 160 drywall", "wall 1 2 3 4 concrete",
                                        "detect-walls", "place-ap 02:00:00:00:00:a1 100 80.5"}));
    const std::pair<const char*, const char*> refused[] = {
        {"new-site plan.pdf site.ksf 0\n", "usage: new-site IMAGE SITE [PAGE] (PAGE from 1)"},
        {"scale 1 2 3 4\n", "usage: scale X1 Y1 X2 Y2 METRES"},
        {"scale 1 2 3 4 nan\n", "usage: scale X1 Y1 X2 Y2 METRES"},
        {"wall 1 2 3 4 paper\n",
         "wall: unknown material 'paper' (drywall, glass, wood, brick, concrete, metal)"},
        {"detect-walls now\n", "usage: detect-walls"},
        {"place-ap ap1 1 2\n", "place-ap: 'ap1' is not a BSSID (aa:bb:cc:dd:ee:ff)"},
    };
    for (const auto& [script, error] : refused) {
        const Outcome bad = RunScript(script);
        EXPECT_EQ(bad.status, 2) << script;
        EXPECT_EQ(bad.errors, std::string("script line 1: ") + error + "\n") << script;
    }
}

TEST(ScriptRunnerTest, QuitEndsTheScriptWithSuccess) {
    const Outcome out = RunScript("status\nquit\nstatus\n");
    EXPECT_EQ(out.status, 0);
    EXPECT_EQ(out.calls, std::vector<std::string>({"status"}));
}

TEST(ScriptRunnerTest, CloseEndsTheScriptOnlyWhenTheWindowCloses) {
    for (const bool closes : {false, true}) {
        RecordingHost host;
        host.closes = closes;
        std::ostringstream errors;
        std::istringstream in("close cancel\nstatus\nclose save\nstatus\n");
        EXPECT_EQ(ScriptRunner(host, errors).Run(in), 0);
        EXPECT_EQ(host.calls, closes ? std::vector<std::string>({"close cancel"})
                                     : std::vector<std::string>(
                                           {"close cancel", "status", "close save", "status"}));
    }
}

TEST(ScriptRunnerTest, CommandThatCannotRunStopsWithItsLineNumber) {
    struct Case {
        const char* script;
        const char* error;
    };
    const Case cases[] = {
        {"status\n\n# c\nfly away\nstatus\n", "script line 4: unknown command 'fly'\n"},
        {"tap 1\n", "script line 1: usage: tap X Y\n"},
        {"tap 1 two\n", "script line 1: usage: tap X Y\n"},
        {"hold 1 2 remove\n", "script line 1: usage: hold X Y [delete]\n"},
        {"key middle\n", "script line 1: usage: key left|up|right|down|action\n"},
        {"open a.ksf maybe\n",
         "script line 1: usage: open PATH [keep|discard] [recover|norecover]\n"},
        {"open a.ksf recover keep\n",
         "script line 1: usage: open PATH [keep|discard] [recover|norecover]\n"},
        {"close\n", "script line 1: usage: close save|discard|cancel\n"},
        {"close later\n", "script line 1: usage: close save|discard|cancel\n"},
        {"sign 1,2 3;4\n", "script line 1: sign: '3;4' is not a point X,Y\n"},
        {"zoom\n", "script line 1: usage: zoom in|out\n"},
        {"sleep -4\n", "script line 1: usage: sleep MS\n"},
        {"dialog settings\n", "script line 1: usage: dialog colors|help|about\n"},
        {"status\nopen missing.ksf\n", "script line 2: no such file: missing.ksf\n"},
        {"tap 99999999999 1\n", "script line 1: usage: tap X Y\n"},
        {"wheel 1 2\n", "script line 1: usage: wheel X Y N\n"},
        {"pan 1\n", "script line 1: usage: pan DX DY\n"},
        {"fit now\n", "script line 1: usage: fit\n"},
        // The handheld frame (this host) has none of the workspace's canvas moves.
        {"wheel 1 2 3\n", "script line 1: wheel: the handheld frame has no wheel zoom\n"},
        {"undo now\n", "script line 1: usage: undo\n"},
        {"move 1 2 3\n", "script line 1: usage: move X1 Y1 X2 Y2\n"},
        {"rename 1 2\n", "script line 1: usage: rename X Y NAME\n"},
        {"save-as\n", "script line 1: usage: save-as PATH\n"},
        {"sign-field date x\n", "script line 1: usage: sign-field customer|surveyor|notes TEXT\n"},
    };
    for (const Case& c : cases) {
        const Outcome out = RunScript(c.script);
        EXPECT_EQ(out.status, 2) << c.script;
        EXPECT_EQ(out.errors, c.error) << c.script;
    }
    // Nothing after the failing line runs.
    EXPECT_EQ(RunScript("status\nfly\nstatus\n").calls, std::vector<std::string>({"status"}));
}

// An endless run of zero bytes, as /dev/zero gives, counting what was taken.
class ZeroBytes : public std::streambuf {
  public:
    size_t taken = 0;

  protected:
    int_type underflow() override {
        if (taken >= kGiveUpAfter) {
            return traits_type::eof();  // only so a runaway reader ends at all
        }
        taken += sizeof m_chunk;
        setg(m_chunk, m_chunk, m_chunk + sizeof m_chunk);
        return 0;
    }

  private:
    static constexpr size_t kGiveUpAfter = size_t{64} << 20;
    char m_chunk[4096] = {};
};

// A line longer than kMaxScriptLine stops the script at that line without
// reading (or keeping) more of it; a line of exactly that length still runs.
TEST(ScriptRunnerTest, OverlongLineStopsTheScriptWithoutGrowingMemory) {
    const std::string longest = "status" + std::string(ScriptRunner::kMaxScriptLine - 6, ' ');
    Outcome out = RunScript(longest + "\nstatus\n");
    EXPECT_EQ(out.status, 0) << out.errors;
    EXPECT_EQ(out.calls, std::vector<std::string>({"status", "status"}));

    out = RunScript("status\n" + longest + " \nstatus\n");
    EXPECT_EQ(out.status, 2);
    EXPECT_EQ(out.errors, "script line 2: longer than 4096 bytes\n");
    EXPECT_EQ(out.calls, std::vector<std::string>({"status"}));

    RecordingHost host;
    std::ostringstream errors;
    ZeroBytes zeros;
    std::istream endless(&zeros);
    EXPECT_EQ(ScriptRunner(host, errors).Run(endless), 2);
    EXPECT_EQ(errors.str(), "script line 1: longer than 4096 bytes\n");
    EXPECT_LE(zeros.taken, 2 * ScriptRunner::kMaxScriptLine);
}

}  // namespace
