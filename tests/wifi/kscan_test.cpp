// kscan as a person runs it: saved scans listed as text and JSON, damaged
// dumps, the command line's edges, and a machine without an adapter.
#include <dirent.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "tests/wifi/dump_bytes.h"

namespace {

using namespace dump_bytes;

struct ToolRun {
    int status = -1;
    std::string out;
    std::string err;
};

std::string TempPath(const std::string& name) {
    return ::testing::TempDir() + "kscan_test_" + std::to_string(::getpid()) + "_" + name;
}

std::string Slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

ToolRun Kscan(const std::string& args) {
    const std::string out = TempPath("out"), err = TempPath("err");
    const int raw =
        std::system((std::string(KSCAN_PATH) + " " + args + " >" + out + " 2>" + err).c_str());
    ToolRun run{WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, Slurp(out), Slurp(err)};
    std::remove(out.c_str());
    std::remove(err.c_str());
    return run;
}

std::string WriteDump(const std::string& name, const Bytes& bytes) {
    const std::string path = TempPath(name);
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
    return path;
}

size_t Lines(const std::string& text) {
    size_t n = 0;
    for (char c : text) {
        n += c == '\n';
    }
    return n;
}

TEST(Kscan, ListsSavedScans) {
    const std::string example = KESTROW_SOURCE_DIR "/examples/office-wifi.dump";
    ToolRun json = Kscan("--from-dump " + example + " --format json");
    ASSERT_EQ(json.status, 0) << json.err;
    EXPECT_EQ(json.err, "");
    const nlohmann::json all = nlohmann::json::parse(json.out);
    ASSERT_TRUE(all.is_array());
    ASSERT_GT(all.size(), 100u);
    EXPECT_EQ(all.back()["scan"], 9);
    ToolRun text = Kscan("--from-dump " + example);
    ASSERT_EQ(text.status, 0);
    // Nine lists, each under its own line and heading.
    EXPECT_EQ(Lines(text.out), all.size() + 9 * 2 + 8);
    EXPECT_EQ(text.out.rfind("scan 1: ", 0), 0u);

    // One scan: the fields as INTERFACES.md gives them, SSIDs by the one text
    // rule, control characters escaped in text.
    Bss latin1;
    latin1.frequency = 2437;
    latin1.elements = SsidElement("Caf\xe9");
    latin1.mbm = -4512;
    latin1.status = NL80211_BSS_STATUS_ASSOCIATED;
    Bss quality;
    quality.mac[5] = 0x66;
    quality.frequency = 6115;
    quality.elements = SsidElement("Evil\x1b[2J\nNet");
    quality.mbm.reset();
    quality.quality = 55;
    quality.seenMsAgo.reset();
    Bss hidden;
    hidden.mac[5] = 0x77;
    hidden.elements = SsidElement(std::string(4, '\0'));
    const std::string path = WriteDump("one.dump", Dump({latin1, quality, hidden}));
    json = Kscan("--from-dump " + path + " --format json");
    ASSERT_EQ(json.status, 0) << json.err;
    const nlohmann::ordered_json one = nlohmann::ordered_json::parse(json.out);
    ASSERT_EQ(one.size(), 3u);
    EXPECT_EQ(
        one[0].dump(),
        R"({"bssid":"02:11:22:33:44:55","ssid":"Café","ssid_hex":"436166e9","frequency":2437,)"
        R"("channel":6,"band":"2.4","signal_dbm":-45.12,"signal_quality":null,)"
        R"("seen_ms_ago":40,"associated":true,"scan":1,"width_mhz":20,"noise_dbm":null})");
    EXPECT_EQ(one[1]["signal_quality"], 55);
    EXPECT_TRUE(one[1]["signal_dbm"].is_null());
    EXPECT_TRUE(one[1]["seen_ms_ago"].is_null());
    EXPECT_EQ(one[1]["channel"], 33);
    EXPECT_EQ(one[1]["band"], "6");
    EXPECT_EQ(one[2]["ssid"], "");
    EXPECT_EQ(one[2]["ssid_hex"], "00000000");
    text = Kscan("--from-dump " + path);
    ASSERT_EQ(text.status, 0);
    EXPECT_EQ(Lines(text.out), 4u);
    EXPECT_NE(text.out.find("Café  [associated]"), std::string::npos) << text.out;
    EXPECT_NE(text.out.find("Evil\\x1b[2J\\x0aNet"), std::string::npos) << text.out;
    EXPECT_NE(text.out.find("55/100"), std::string::npos);
    EXPECT_NE(text.out.find("(hidden)"), std::string::npos);
    std::remove(path.c_str());

    // A scan saved with its note and survey: what was cached from before it
    // is left out, a hidden network's two entries are one named line, and
    // each line has its channel's noise.
    Bss stale, beacon, answer;
    stale.boottimeNs = 1'000'000'000;
    beacon.mac[5] = answer.mac[5] = 0x44;
    beacon.elements = SsidElement(std::string(3, '\0'));
    answer.elements = SsidElement("Lab") + HtOperation(true) + VhtOperation(1, 42, 0);
    answer.mbm = -4400;
    answer.probeResponse = true;
    beacon.boottimeNs = answer.boottimeNs = 6'000'000'000;
    const std::string noted =
        WriteDump("noted.dump", Note(5'000'000'000, 8'000'000'000) + Dump({stale, beacon, answer}) +
                                    SurveyMessage(5180, -97) + Done());
    json = Kscan("--from-dump " + noted + " --format json");
    ASSERT_EQ(json.status, 0) << json.err;
    const nlohmann::json heard = nlohmann::json::parse(json.out);
    ASSERT_EQ(heard.size(), 1u);
    EXPECT_EQ(heard[0]["ssid"], "Lab");
    EXPECT_EQ(heard[0]["width_mhz"], 80);
    EXPECT_EQ(heard[0]["noise_dbm"], -97);
    EXPECT_EQ(heard[0]["signal_dbm"], -44.0);
    text = Kscan("--from-dump " + noted);
    EXPECT_NE(text.out.find("  36  5        80  -44.00 dBm     -97 dBm"), std::string::npos)
        << text.out;
    std::remove(noted.c_str());
}

TEST(Kscan, DamagedDumps) {
    Bss a, b;
    b.mac[5] = 0x99;
    // A malformed message between two good ones: skipped with one warning.
    Bytes bad = ScanResultMessage(ValueAttr<uint32_t>(NL80211_ATTR_IFINDEX, 3));
    bad[20] = 100;
    std::string path = WriteDump("bad.dump", a.Message() + bad + b.Message() + Done());
    ToolRun run = Kscan("--from-dump " + path + " --format json");
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(nlohmann::json::parse(run.out).size(), 2u);
    EXPECT_EQ(run.err, "kscan: warning: " + path + ": message at byte " +
                           std::to_string(a.Message().size()) +
                           ": an attribute runs past its message; skipped\n");
    std::remove(path.c_str());

    // Cut inside a message: what came before is listed, the cut is told, exit 1.
    Bytes cut = Dump({a}) + Dump({a, b});
    cut.resize(cut.size() - 24);
    path = WriteDump("cut.dump", cut);
    run = Kscan("--from-dump " + path + " --format json");
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(nlohmann::json::parse(run.out).size(), 2u);
    EXPECT_EQ(Lines(run.err), 1u);
    EXPECT_NE(run.err.find("ends inside a message"), std::string::npos) << run.err;
    std::remove(path.c_str());

    // Nothing to read.
    path = WriteDump("empty.dump", {});
    run = Kscan("--from-dump " + path);
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "kscan: " + path + " holds no scan dump\n");
    std::remove(path.c_str());
    run = Kscan("--from-dump /nonexistent/scan.dump");
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(Lines(run.err), 1u);
    run = Kscan("--from-dump /");
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "kscan: / is not a regular file\n");

    // Too large to read: refused before a byte is read.
    path = TempPath("huge.dump");
    ASSERT_EQ(::truncate(WriteDump("huge.dump", {}).c_str(), 300l << 20), 0);
    run = Kscan("--from-dump " + path);
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "kscan: " + path +
                           " is 300 MB, more than the 256 MB a file of saved scans may hold: "
                           "split it, or save fewer scans to one file\n");
    std::remove(path.c_str());
}

TEST(Kscan, CommandLine) {
    ToolRun run = Kscan("--version");
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, "kscan 1.0.0\n");
    run = Kscan("--help");
    EXPECT_EQ(run.status, 0);
    EXPECT_NE(run.out.find("--save-dump FILE"), std::string::npos);
    for (const char* args :
         {"--bogus", "--format xml", "--iface", "--from-dump x --iface wlan0",
          "--from-dump x --save-dump y", "--list-interfaces --iface wlan0", "--iface a --iface b",
          "--trigger-scan", "--trigger-scan --abort-scan --iface a", "--passive",
          "--trigger-scan --iface a --frequencies 5180,x", "--abort-scan --iface a --passive"}) {
        run = Kscan(args);
        EXPECT_EQ(run.status, 2) << args;
        EXPECT_EQ(Lines(run.err), 1u) << args;
        EXPECT_EQ(run.out, "") << args;
    }
}

bool HasWirelessDevice() {
    DIR* dir = ::opendir("/sys/class/ieee80211");
    if (dir == nullptr) {
        return false;
    }
    bool found = false;
    while (dirent* e = ::readdir(dir)) {
        found = found || e->d_name[0] != '.';
    }
    ::closedir(dir);
    return found;
}

TEST(Kscan, WithoutAnAdapterSaysSoInOneLine) {
    if (HasWirelessDevice()) {
        GTEST_SKIP() << "this machine has a Wi-Fi adapter";
    }
    const std::string save = TempPath("never.dump");
    for (const std::string& args : std::vector<std::string>{
             "", "--format json", "--list-interfaces", "--save-dump " + save}) {
        const ToolRun run = Kscan(args);
        EXPECT_EQ(run.status, 1) << args;
        EXPECT_EQ(run.out, "") << args;
        EXPECT_EQ(Lines(run.err), 1u) << args;
        EXPECT_EQ(run.err.rfind("kscan: no Wi-Fi adapter", 0), 0u) << run.err;
    }
    EXPECT_NE(::access(save.c_str(), F_OK), 0);  // nothing recorded
    // As the scan helper: one line that its caller reads.
    const ToolRun helper = Kscan("--trigger-scan --iface wlan0");
    EXPECT_EQ(helper.status, 1);
    EXPECT_EQ(helper.out.rfind("-19 no Wi-Fi adapter", 0), 0u) << helper.out;
    EXPECT_EQ(Lines(helper.out), 1u);
}

}  // namespace
