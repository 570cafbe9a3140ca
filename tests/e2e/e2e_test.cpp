// The whole program, headless, driven by scripts against the simulated unit:
// what it prints and the site file it leaves behind.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <regex>
#include <set>

#include <sys/stat.h>

#include <QImage>

#include "kestrow_run.h"
#include "sitefile/site_reader.h"
#include "sitefile/site_writer.h"

namespace {

using sitefile::ReadU16;
using sitefile::ReadU32;

// A unit that never answers a scan command.
const char* kSilentScenario = R"({
  "baud": 0, "dwell_ms": 0, "access_points": [],
  "faults": {"drop_answer_every": 1}})";

struct Entry {
    int channel;
    int rssi;
    std::string mac;
    std::string ssid;
};
struct Group {
    int x;
    int y;
    std::string name;
    std::vector<Entry> entries;
};

class GroupCollector : public sitefile::PointsVisitor {
  public:
    void OnPoint(const sitefile::StoredPoint& point) override {
        groups.push_back({point.x, point.y, point.name, {}});
    }
    void OnEntry(const sitefile::StoredPoint&, const sitefile::StoredEntry& entry) override {
        groups.back().entries.push_back(
            {entry.channel, entry.RssiDbm(), sitefile::MacToText(entry.mac), entry.ssid});
    }
    void OnPointEnd(const sitefile::StoredPoint&, int) override {}
    std::vector<Group> groups;
};

std::vector<Group> ReadGroups(const std::string& path) {
    sitefile::SiteFileReader reader;
    sitefile::OpenError error;
    EXPECT_TRUE(reader.Open(path, error)) << error.Text();
    GroupCollector collector;
    reader.VisitPoints(collector);
    return collector.groups;
}

std::string ReadText(const std::string& path) {
    const std::vector<uint8_t> bytes = ReadBytes(path);
    return std::string(bytes.begin(), bytes.end());
}

std::vector<std::string> Without(const std::vector<std::string>& lines, const std::string& prefix) {
    std::vector<std::string> kept;
    std::copy_if(lines.begin(), lines.end(), std::back_inserter(kept),
                 [&](const std::string& line) { return line.rfind(prefix, 0) != 0; });
    return kept;
}

class EndToEndTest : public ::testing::Test {
  protected:
    ScratchFolder m_folder;
    const std::vector<uint8_t> m_site = MakeSite();
};

TEST_F(EndToEndTest, SurveyDeleteAndSaveLeaveTheExpectedFile) {
    const std::string scenario = m_folder.Write("lab.json", kLabScenario);
    const std::string site = m_folder.Write("site.ksf", m_site);
    const uint32_t before = static_cast<uint32_t>(std::time(nullptr));
    const KestrowResult run = RunKestrow(m_folder, scenario,
                                         "status\n"
                                         "open site.ksf\n"
                                         "tap 120 134\n"
                                         "status\n"
                                         "# the cursor is now at (120, 160)\n"
                                         "tap 10 10\n"
                                         "status\n"
                                         "hold 200 200\n"
                                         "hold 120 134 delete\n"
                                         "sign 10,10 60,10\n"
                                         "sign 60,10 60,40\n"
                                         "save\n"
                                         "status\n");
    const uint32_t after = static_cast<uint32_t>(std::time(nullptr));
    ASSERT_EQ(run.status, 0) << run.errors;
    EXPECT_EQ(run.errors, "");
    EXPECT_EQ(Without(run.lines, "INFO"),
              std::vector<std::string>({"STATUS L: 0 | P: 0 | X: 0 | Y: 0", kKeepQuestion,
                                        "STATUS L: 1 | P: 3 | X: 120 | Y: 160",
                                        "STATUS L: 2 | P: 6 | X: 10 | Y: 11",
                                        // Deleting does not lower the counters.
                                        "STATUS L: 2 | P: 6 | X: 10 | Y: 11"}));

    const std::vector<uint8_t> saved = ReadBytes(site);
    const size_t rasterOffset = ReadU32(m_site.data() + 142);
    const size_t pointsOffset = ReadU32(m_site.data() + 146);
    ASSERT_GE(saved.size(), pointsOffset + 8);
    // Header: unchanged but for the save time.
    const uint32_t saveTime = ReadU32(saved.data() + 134);
    EXPECT_GE(saveTime, before);
    EXPECT_LE(saveTime, after);
    EXPECT_TRUE(std::equal(saved.begin(), saved.begin() + 134, m_site.begin()));
    EXPECT_TRUE(
        std::equal(saved.begin() + 138, saved.begin() + rasterOffset, m_site.begin() + 138));
    // Sign-off raster: bottom row first; black exactly along the two strokes.
    auto pixel = [&](int x, int y) {
        return ReadU32(saved.data() + rasterOffset + ((99 - y) * 200 + x) * 4);
    };
    for (int x = 10; x <= 60; ++x) {
        EXPECT_EQ(pixel(x, 10), 0u) << x;
    }
    for (int y = 10; y <= 40; ++y) {
        EXPECT_EQ(pixel(60, y), 0u) << y;
    }
    int black = 0;
    for (int y = 0; y < 100; ++y) {
        for (int x = 0; x < 200; ++x) {
            const uint32_t value = pixel(x, y);
            EXPECT_TRUE(value == 0 || value == 0x00FFFFFF);
            black += value == 0;
            if (value == 0) {
                EXPECT_TRUE((y >= 8 && y <= 12 && x >= 8 && x <= 62) ||
                            (x >= 58 && x <= 62 && y >= 8 && y <= 42))
                    << x << "," << y;
            }
        }
    }
    EXPECT_GE(black, 2 * (51 + 31));
    // Points: the sizes, then the surviving point with its three entries in
    // the current scan's order (weakest first, each heard once), and nothing
    // after them.
    EXPECT_EQ(ReadU32(saved.data() + pointsOffset), 42u);
    EXPECT_EQ(ReadU32(saved.data() + pointsOffset + 4), 41u);
    EXPECT_EQ(saved.size(), pointsOffset + 8 + 42 + 3 * 41);
    const std::vector<Group> groups = ReadGroups(site);
    ASSERT_EQ(groups.size(), 1u);
    EXPECT_EQ(groups[0].x, 120);
    EXPECT_EQ(groups[0].y, 160);
    EXPECT_EQ(groups[0].name, "TEST");
    const std::vector<Entry>& entries = groups[0].entries;
    ASSERT_EQ(entries.size(), 3u);
    const Entry expected[] = {{161, -71, "000A1B2C3D50", "Guest"},
                              {60, -62, "000A1B2C3D4F", "Lab-2"},
                              {36, -45, "000A1B2C3D4E", "Lab"}};
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(entries[i].channel, expected[i].channel) << i;
        EXPECT_EQ(entries[i].rssi, expected[i].rssi) << i;
        EXPECT_EQ(entries[i].mac, expected[i].mac) << i;
        EXPECT_EQ(entries[i].ssid, expected[i].ssid) << i;
    }
    // The RSSI is stored as 1/256 dBm: byte 1 zero, byte 2 the dBm value.
    const uint8_t rssiBytes[] = {0xB9, 0xC2, 0xD3};
    for (int i = 0; i < 3; ++i) {
        const uint8_t* entry = saved.data() + pointsOffset + 8 + 42 + i * 41;
        EXPECT_EQ(entry[1], 0x00);
        EXPECT_EQ(entry[2], rssiBytes[i]) << i;
    }
    // The information lines of the deleted point (the one at the cursor); a
    // point surveyed in this session keeps the scanner's lower-case MAC text.
    const std::vector<std::string> info = {"INFO LOCATION INFORMATION",
                                           "INFO X: 10.00",
                                           "INFO Y: 11.00",
                                           "INFO INFORMATION",
                                           "INFO AP's: 3",
                                           "INFO STRONGEST AP",
                                           "INFO MAC Address: 000a1b2c3d4e",
                                           "INFO SSID: Lab",
                                           "INFO RSSI: -45",
                                           "INFO deleted"};
    std::vector<std::string> printed;
    std::copy_if(run.lines.begin(), run.lines.end(), std::back_inserter(printed),
                 [](const std::string& line) { return line.rfind("INFO", 0) == 0; });
    EXPECT_EQ(printed, info);
}

// What a field engineer attaches to a bug report: the trace of a survey
// point, decoded again by corvell: the start-up requests, then the sixteen
// scan commands each answered.
TEST_F(EndToEndTest, TraceOfASurveyDecodesBack) {
    const std::string scenario = m_folder.Write("lab.json", kLabScenario);
    m_folder.Write("site.ksf", m_site);
    const std::string trace = m_folder.Path() + "/wire.trace";
    const KestrowResult run = RunKestrow(m_folder, scenario, "open site.ksf\ntap 120 134\n",
                                         nullptr, "--trace '" + trace + "'");
    ASSERT_EQ(run.status, 0) << run.errors;
    FILE* decode = popen(("'" CORVELL_EXE "' decode --trace '" + trace + "'").c_str(), "r");
    ASSERT_NE(decode, nullptr);
    std::vector<std::string> lines;
    char line[512];
    while (std::fgets(line, sizeof line, decode) != nullptr) {
        lines.emplace_back(line, std::strcspn(line, "\n"));
    }
    ASSERT_EQ(pclose(decode), 0);
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines[0], "tx type=01 length=0 payload=");
    auto count = [&lines](const std::string& start) {
        return std::count_if(lines.begin(), lines.end(),
                             [&](const std::string& text) { return text.rfind(start, 0) == 0; });
    };
    EXPECT_EQ(count("rx type=01 length=7 "), 1);
    EXPECT_EQ(count("tx type=02 length=0 "), 1);
    // Every step asked and answered (a step may be asked again on a busy
    // machine, when its answer is late).
    for (int step = 1; step <= 16; ++step) {
        char command[64];
        std::snprintf(command, sizeof command, "payload=01 00 1C 00 00 %02X", step);
        EXPECT_GE(count(std::string("tx type=03 length=12 ") + command), 1) << step;
        EXPECT_GE(count(std::string("rx type=04 length=70 ") + command), 1) << step;
    }
}

// Every access point heard at a point is stored with that point, whatever the
// unit does: a crowded last step (each of its access points answers on its
// own), every step crowded, and a unit slower than the host's 250 ms wait
// (every step asked twice, answered twice). Taps follow each other at once,
// at different places: no late answer of one point lands in the next.
TEST_F(EndToEndTest, EveryAccessPointIsStoredAtItsOwnPoint) {
    struct Case {
        std::string scenario;
        size_t accessPoints;
    };
    std::string slow = ReadText(KESTROW_SOURCE_DIR "/examples/office.json");
    const std::string fast = "\"dwell_ms\": 40";
    const size_t dwell = slow.find(fast);
    ASSERT_NE(dwell, std::string::npos);
    slow.replace(dwell, fast.size(), "\"dwell_ms\": 300");
    // Every access point heard at every tap, however far: a sensitivity below
    // the lowest level the unit reports.
    const auto everyHeard = [](std::string text) {
        return text.insert(text.find('{') + 1, "\"sensitivity_dbm\": -128, ");
    };
    const Case cases[] = {
        {m_folder.Write(
             "crowded-last-step.json",
             everyHeard(ReadText(KESTROW_SOURCE_DIR "/examples/crowded-last-step.json"))),
         14},
        {m_folder.Write("crowded.json",
                        everyHeard(ReadText(KESTROW_SOURCE_DIR "/examples/crowded.json"))),
         48},
        {m_folder.Write("slow.json", everyHeard(slow)), 10},
    };
    for (const Case& c : cases) {
        const std::string site = m_folder.Write("site.ksf", m_site);
        const KestrowResult run = RunKestrow(m_folder, c.scenario,
                                             "open site.ksf\n"
                                             "tap 120 134\ntap 20 20\ntap 220 250\n"
                                             "save\n");
        ASSERT_EQ(run.status, 0) << run.errors;
        const std::vector<Group> groups = ReadGroups(site);
        ASSERT_EQ(groups.size(), 3u) << c.scenario;
        std::set<std::pair<int, int>> places;
        for (const Group& group : groups) {
            places.insert({group.x, group.y});
            std::set<std::string> macs;
            for (const Entry& entry : group.entries) {
                macs.insert(entry.mac);
            }
            EXPECT_EQ(macs.size(), group.entries.size()) << c.scenario;
            EXPECT_EQ(group.entries.size(), c.accessPoints)
                << c.scenario << " at " << group.x << "," << group.y;
        }
        EXPECT_EQ(places.size(), 3u) << c.scenario;
    }
}

TEST_F(EndToEndTest, StoredPointsAreKeptOrDiscardedOnOpen) {
    const std::string scenario = m_folder.Write("lab.json", kLabScenario);
    m_folder.Write("site.ksf", m_site);
    KestrowResult run =
        RunKestrow(m_folder, scenario, "open site.ksf\ntap 120 134\nscreenshot fresh.png\nsave\n");
    ASSERT_EQ(run.status, 0) << run.errors;

    // Reopened with its points: the circle is back and the point can be held.
    run = RunKestrow(m_folder, scenario,
                     "open site.ksf keep\n"
                     "screenshot kept.png\n"
                     "hold 120 134\n"
                     "open site.ksf discard\n"
                     "hold 120 134\n"
                     "screenshot discarded.png\n");
    ASSERT_EQ(run.status, 0) << run.errors;
    EXPECT_EQ(run.lines, std::vector<std::string>(
                             {kKeepQuestion, "INFO LOCATION INFORMATION", "INFO X: 120.00",
                              "INFO Y: 160.00", "INFO INFORMATION", "INFO AP's: 3",
                              "INFO STRONGEST AP", "INFO MAC Address: 000A1B2C3D4E",
                              "INFO SSID: Lab", "INFO RSSI: -45", kKeepQuestion}));
    const QImage fresh(QString::fromStdString(m_folder.Path() + "/fresh.png"));
    const QImage kept(QString::fromStdString(m_folder.Path() + "/kept.png"));
    const QImage discarded(QString::fromStdString(m_folder.Path() + "/discarded.png"));
    // Just inside the circle, clear of the target mark: orange for -45 dBm.
    const QPoint inCircle(120 + 7, 134 + 2);
    EXPECT_EQ(fresh.pixel(inCircle) & 0xFFFFFF, 0xFF8000u);
    EXPECT_EQ(kept.pixel(inCircle) & 0xFFFFFF, 0xFF8000u);
    // Discarding leaves the file's points unread: no circle on the fresh map.
    EXPECT_NE(discarded.pixel(inCircle) & 0xFFFFFF, 0xFF8000u);
}

TEST_F(EndToEndTest, QuietSiteWarnsAndStoresEmptyPoints) {
    const std::string site = m_folder.Write("site.ksf", m_site);
    const KestrowResult run =
        RunKestrow(m_folder, KESTROW_SOURCE_DIR "/examples/quiet.json",
                   "open site.ksf\ntap 120 134\nstatus\nkey action\nstatus\nsave\n");
    ASSERT_EQ(run.status, 0) << run.errors;
    const std::string warning = "MSGBOX COVERAGE WARNING | No Access Points Detected!";
    EXPECT_EQ(run.lines, std::vector<std::string>({kKeepQuestion, warning,
                                                   "STATUS L: 1 | P: 0 | X: 120 | Y: 160", warning,
                                                   "STATUS L: 2 | P: 0 | X: 120 | Y: 160"}));
    // Each empty point is a group of its own, under the marker's name.
    const std::vector<Group> groups = ReadGroups(site);
    ASSERT_EQ(groups.size(), 2u);
    for (const Group& group : groups) {
        EXPECT_EQ(group.x, 120);
        EXPECT_EQ(group.y, 160);
        EXPECT_EQ(group.name, "FILL");
        EXPECT_TRUE(group.entries.empty());
    }
}

TEST_F(EndToEndTest, FailedOpensKeepThePreviousSite) {
    const std::string scenario = m_folder.Write("lab.json", kLabScenario);
    std::vector<uint8_t> obsolete = m_site;
    obsolete[8] = 1;
    std::vector<uint8_t> notSite = m_site;
    notSite[4] = 0x21;
    m_folder.Write("empty.ksf", std::string());
    m_folder.Write("obsolete.ksf", obsolete);
    const std::string notSitePath = m_folder.Write("notsite.ksf", notSite);
    std::filesystem::create_directory(m_folder.Path() + "/folder.ksf");
    // A named pipe with no writer: opening it must not wait for one.
    ASSERT_EQ(mkfifo((m_folder.Path() + "/pipe.ksf").c_str(), 0644), 0);
    const std::string good = m_folder.Write("good.ksf", m_site);

    const KestrowResult run = RunKestrow(m_folder, scenario,
                                         "open empty.ksf\n"
                                         "open notsite.ksf\n"
                                         "open obsolete.ksf\n"
                                         "open folder.ksf\n"
                                         "open pipe.ksf\n"
                                         "open good.ksf discard\n"
                                         "open notsite.ksf\n"
                                         "open-cancel\n"
                                         "tap 120 134\n"
                                         "status\n"
                                         "save\n");
    ASSERT_EQ(run.status, 0) << run.errors;
    const std::string notSiteBox = "MSGBOX File Error | Not a Site File.";
    EXPECT_EQ(run.lines, std::vector<std::string>(
                             {notSiteBox, notSiteBox,
                              "MSGBOX File Error | Obsolete Site File, recreate using Zorvane",
                              "MSGBOX File Open Error | Is a directory",
                              "MSGBOX File Open Error | a named pipe, not a regular file",
                              kKeepQuestion, notSiteBox, "STATUS L: 1 | P: 3 | X: 120 | Y: 160"}));
    // The save went to the site in force, and the rejected file is untouched.
    EXPECT_EQ(ReadGroups(good).size(), 1u);
    EXPECT_EQ(ReadBytes(notSitePath), notSite);
}

TEST_F(EndToEndTest, WithoutASiteNothingIsSurveyedOrSaved) {
    const std::string scenario = m_folder.Write("lab.json", kLabScenario);
    const KestrowResult run = RunKestrow(m_folder, scenario,
                                         "tap 120 134\n"
                                         "key action\n"
                                         "hold 120 134\n"
                                         "save\n"
                                         "open-cancel\n"
                                         "tap 120 134\n"
                                         "status\n"
                                         "screenshot blank.png\n");
    ASSERT_EQ(run.status, 0) << run.errors;
    const std::string openFirst = "MSGBOX Kestrow | Open a site file first.";
    EXPECT_EQ(run.lines,
              std::vector<std::string>({openFirst, openFirst,
                                        "MSGBOX Site Update Error | Could not update site",
                                        openFirst, "STATUS L: 0 | P: 0 | X: 0 | Y: 0"}));
    EXPECT_TRUE(std::filesystem::exists(m_folder.Path() + "/blank.png"));
}

TEST_F(EndToEndTest, SaveIntoAVanishedFolderLeavesTheOldFileIntact) {
    const std::string scenario = m_folder.Write("lab.json", kLabScenario);
    m_folder.Write("sub/site.ksf", m_site);
    const std::string sub = m_folder.Path() + "/sub";
    const std::string moved = m_folder.Path() + "/moved";
    const KestrowResult run =
        RunKestrow(m_folder, scenario, "open sub/site.ksf\ntap 120 134\nstatus\nsleep 1000\nsave\n",
                   [&](const std::string& line) {
                       if (line.rfind("STATUS", 0) == 0) {
                           std::filesystem::rename(sub, moved);
                       }
                   });
    ASSERT_EQ(run.status, 0) << run.errors;
    EXPECT_EQ(run.lines,
              std::vector<std::string>({kKeepQuestion, "STATUS L: 1 | P: 3 | X: 120 | Y: 160",
                                        "MSGBOX Site Update Error | Could not update site\\n" +
                                            sub + "/site.ksf: No such file or directory."}));
    EXPECT_EQ(ReadBytes(moved + "/site.ksf"), m_site);
    EXPECT_FALSE(std::filesystem::exists(sub));
}

// Stored points the open could not read are never saved over: the save says
// why and leaves the file as it was.
TEST_F(EndToEndTest, ASaveNeverWritesOverStoredPointsThatCouldNotBeRead) {
    const std::string scenario = m_folder.Write("lab.json", kLabScenario);
    std::vector<uint8_t> damaged = m_site;
    damaged.insert(damaged.end(), 17, 0xAB);  // not a whole point
    const std::string site = m_folder.Write("site.ksf", damaged);
    const KestrowResult run =
        RunKestrow(m_folder, scenario, "open site.ksf\ntap 120 134\nsleep 1000\nsave\n");
    ASSERT_EQ(run.status, 0) << run.errors;
    const std::string lines = [&] {
        std::string all;
        for (const std::string& line : run.lines) {
            all += line + "\n";
        }
        return all;
    }();
    EXPECT_NE(lines.find("its last 17 bytes are not a whole point"), std::string::npos) << lines;
    EXPECT_NE(lines.find("a save would lose them"), std::string::npos) << lines;
    EXPECT_EQ(ReadBytes(site), damaged);
}

// The open refuses a site that no save could write back; a save refuses a
// read-only site file and one replaced since the open, each with its reason,
// leaving every file as it is and the survey in memory.
TEST_F(EndToEndTest, SavesReplaceOnlyTheWritableFileThatWasOpened) {
    const std::string scenario = m_folder.Write("lab.json", kLabScenario);
    std::vector<uint8_t> unsaveable = m_site;
    sitefile::WriteU32(unsaveable.data() + sitefile::kPointsOffsetOffset,
                       static_cast<uint32_t>(m_site.size() + 1));
    m_folder.Write("unsaveable.ksf", unsaveable);
    const std::string readOnly = m_folder.Write("readonly.ksf", m_site);
    ASSERT_EQ(chmod(readOnly.c_str(), 0444), 0);
    const std::string site = m_folder.Write("site.ksf", m_site);
    std::vector<uint8_t> other = m_site;
    other[2000] ^= 0x0F;  // another plan of the same size
    const std::string otherPath = m_folder.Write("other.ksf", other);

    const KestrowResult run =
        RunKestrow(m_folder, scenario,
                   "open unsaveable.ksf\nopen readonly.ksf\ntap 120 134\nsave\n"
                   "open site.ksf discard\ntap 120 134\nstatus\nsleep 1000\nsave\nstatus\n",
                   [&](const std::string& line) {
                       if (line.rfind("STATUS", 0) == 0 && std::filesystem::exists(otherPath)) {
                           std::filesystem::rename(otherPath, site);
                       }
                   });
    ASSERT_EQ(run.status, 0) << run.errors;
    const std::string status = "STATUS L: 1 | P: 3 | X: 120 | Y: 160";
    EXPECT_EQ(
        run.lines,
        std::vector<std::string>(
            {"MSGBOX Kestrow | Error Loading Site\\nThe site file ends before its points offset.",
             kKeepQuestion,
             "MSGBOX Site Update Error | Could not update site\\nThe site file is read-only.",
             kKeepQuestion, status,
             "MSGBOX Site Update Error | Could not update site\\nThe site file was changed or "
             "replaced since it was opened.",
             status}));
    EXPECT_EQ(ReadBytes(readOnly), m_site);
    EXPECT_EQ(ReadBytes(site), other);
    EXPECT_EQ(ReadBytes(m_folder.Path() + "/unsaveable.ksf"), unsaveable);
}

// Under a file-size limit smaller than the site, the save's write fails like
// any other: the program says so and goes on, the old file is intact and no
// temporary file is left.
TEST_F(EndToEndTest, SaveBeyondTheFileSizeLimitFailsCleanly) {
    const std::string scenario = m_folder.Write("lab.json", kLabScenario);
    const std::string site = m_folder.Write("site.ksf", m_site);
    const KestrowResult run =
        RunKestrow(m_folder, scenario, "open site.ksf\ntap 120 134\nsave\nstatus\n", nullptr,
                   std::string(), "ulimit -f 100 &&");
    ASSERT_EQ(run.status, 0) << run.errors;
    EXPECT_EQ(run.lines, std::vector<std::string>({kKeepQuestion,
                                                   "MSGBOX Site Update Error | Could not update "
                                                   "site\\nCannot write the new site file: File "
                                                   "too large.",
                                                   "STATUS L: 1 | P: 3 | X: 120 | Y: 160"}));
    EXPECT_EQ(ReadBytes(site), m_site);
    for (const auto& entry : std::filesystem::directory_iterator(m_folder.Path())) {
        EXPECT_NE(entry.path().filename().string().rfind(".site.ksf.", 0), 0u) << entry.path();
    }
}

// A script is a regular file or standard input: a folder, a device or a pipe
// is a usage error said in one line before anything starts, as is an unknown
// requirement profile.
TEST_F(EndToEndTest, ScriptsAreRegularFilesOfBoundedLines) {
    std::filesystem::create_directory(m_folder.Path() + "/folder");
    ASSERT_EQ(mkfifo((m_folder.Path() + "/pipe").c_str(), 0644), 0);
    for (const char* script :
         {"folder", "/dev/zero", "pipe", "missing.kscript", "- --profile loudest"}) {
        const KestrowResult run =
            RunKestrowCommand(m_folder, std::string("--headless --script ") + script);
        EXPECT_EQ(run.status, 2) << script;
        EXPECT_EQ(run.errors.rfind("kestrow: ", 0), 0u) << run.errors;
        EXPECT_EQ(std::count(run.errors.begin(), run.errors.end(), '\n'), 1) << run.errors;
    }
}

TEST_F(EndToEndTest, ScannerThatNeverAnswersGivesUpAndRecordsNothing) {
    const std::string scenario = m_folder.Write("silent.json", kSilentScenario);
    const std::string site = m_folder.Write("site.ksf", m_site);
    const KestrowResult run =
        RunKestrow(m_folder, scenario, "open site.ksf\ntap 120 134\nstatus\nsave\n");
    ASSERT_EQ(run.status, 0) << run.errors;
    EXPECT_EQ(run.lines,
              std::vector<std::string>(
                  {kKeepQuestion,
                   "MSGBOX COVERAGE WARNING | The scanner did not respond. No survey point was "
                   "recorded.",
                   "STATUS L: 0 | P: 0 | X: 0 | Y: 0"}));
    EXPECT_TRUE(ReadGroups(site).empty());
}

TEST_F(EndToEndTest, RadioThatReportsItselfDeadIsShownAndTheSweepGivesUp) {
    const std::string scenario = m_folder.Write(
        "radio.json", R"({"baud": 0, "dwell_ms": 0, "faults": {"radio_not_responding": true}})");
    m_folder.Write("site.ksf", m_site);
    const KestrowResult run =
        RunKestrow(m_folder, scenario, "open site.ksf\ntap 120 134\nstatus\n");
    ASSERT_EQ(run.status, 0) << run.errors;
    // Every scan command is answered with the radio's report, shown once (from
    // the reader thread) while the sweep goes on asking.
    const std::regex report("MSGBOX Kestrow \\| Intersil Not Responding at \\d{1,2}:\\d{1,2}");
    int reports = 0;
    std::vector<std::string> others;
    for (const std::string& line : run.lines) {
        if (std::regex_match(line, report)) {
            ++reports;
        } else {
            others.push_back(line);
        }
    }
    EXPECT_EQ(reports, 1);
    EXPECT_EQ(others,
              std::vector<std::string>(
                  {kKeepQuestion,
                   "MSGBOX COVERAGE WARNING | The scanner did not respond. No survey point was "
                   "recorded.",
                   "STATUS L: 0 | P: 0 | X: 0 | Y: 0"}));
}

TEST_F(EndToEndTest, ScrollZoomAndDialogCommands) {
    const std::string scenario = m_folder.Write("lab.json", kLabScenario);
    m_folder.Write("site.ksf", m_site);
    const KestrowResult run = RunKestrow(m_folder, scenario,
                                         "open site.ksf\n"
                                         "screenshot opened.png\n"
                                         "hscroll 0\n"
                                         "screenshot scrolled.png\n"
                                         "hscroll 4 77\n"
                                         "zoom in\nzoom out\n"
                                         "vscroll 5 500\n"
                                         "tap 120 134\n"
                                         "status\n"
                                         "dialog about\n"
                                         "dialog colors\n");
    ASSERT_EQ(run.status, 0) << run.errors;
    // The thumb position changes nothing; zooming in and out again after the
    // scroll leaves the extent 0..230 (centre 115); thumb tracking past the
    // end stops at the map's height, and a tap there is recorded on the
    // map's last row.
    EXPECT_EQ(std::vector<std::string>(run.lines.begin(), run.lines.begin() + 5),
              std::vector<std::string>(
                  {kKeepQuestion, "STATUS L: 1 | P: 3 | X: 115 | Y: 319", "DIALOG About Marlo",
                   "ITEM Marlo Vantrel for Corvell 802.11a.", "ITEM Version 1.00"}));
    ASSERT_EQ(run.lines.size(), 11u);
    EXPECT_EQ(run.lines[5], "SWATCH 1 #FF0000 greater than -39 dBm");
    EXPECT_EQ(run.lines[10], "SWATCH 6 #000000 -80 thru -89 dBm");

    // The map's left wall is at client x 0; a line scroll to the left moves
    // it 10 pixels right and leaves a white strip.
    const QImage opened(QString::fromStdString(m_folder.Path() + "/opened.png"));
    const QImage scrolled(QString::fromStdString(m_folder.Path() + "/scrolled.png"));
    ASSERT_EQ(opened.size(), QSize(240, 268));
    ASSERT_EQ(scrolled.size(), QSize(240, 268));
    EXPECT_EQ(opened.pixel(0, 100) & 0xFFFFFF, 0x5A5A5Au);
    for (int x = 0; x < 10; ++x) {
        EXPECT_EQ(scrolled.pixel(x, 100) & 0xFFFFFF, 0xFFFFFFu) << x;
    }
    EXPECT_EQ(scrolled.pixel(10, 100) & 0xFFFFFF, 0x5A5A5Au);
    // The target mark over the centre.
    EXPECT_EQ(opened.pixel(120, 134 - 14) & 0xFFFFFF, 0u);
}

// Site files hold their map bottom row first; the view shows it the right
// way up, and a point is recorded at the map position drawn under the stylus.
TEST_F(EndToEndTest, MapIsShownTheRightWayUp) {
    sitefile::SiteMap map;
    map.width = 240;
    map.height = 320;
    map.stride = 240;
    map.bottomUp = false;
    map.colors[0] = 0xFF000000u;
    map.colors[1] = 0xFFFFFFFFu;
    map.pixels.assign(240 * 320, 1);
    std::fill(map.pixels.begin(), map.pixels.begin() + 240 * 40, 0);  // a dark top band
    const std::string scenario = m_folder.Write("lab.json", kLabScenario);
    m_folder.Write("site.ksf", sitefile::BuildNewSiteFile(map));
    const KestrowResult run = RunKestrow(m_folder, scenario,
                                         "open site.ksf\n"
                                         "screenshot opened.png\n"
                                         "tap 120 10\n"
                                         "status\n");
    ASSERT_EQ(run.status, 0) << run.errors;
    const QImage opened(QString::fromStdString(m_folder.Path() + "/opened.png"));
    ASSERT_EQ(opened.size(), QSize(240, 268));
    // 40 of 320 map rows are the top 33 of 268 client rows.
    EXPECT_EQ(opened.pixel(60, 5) & 0xFFFFFF, 0u);
    EXPECT_EQ(opened.pixel(60, 30) & 0xFFFFFF, 0u);
    EXPECT_EQ(opened.pixel(60, 40) & 0xFFFFFF, 0xFFFFFFu);
    EXPECT_EQ(opened.pixel(60, 260) & 0xFFFFFF, 0xFFFFFFu);
    ASSERT_EQ(run.lines.size(), 2u);
    EXPECT_EQ(run.lines[1], "STATUS L: 1 | P: 3 | X: 120 | Y: 11");
}

TEST_F(EndToEndTest, ScriptErrorsStopWithStatusTwo) {
    const std::string scenario = m_folder.Write("lab.json", kLabScenario);
    KestrowResult run = RunKestrow(m_folder, scenario, "status\nopen missing.ksf\nstatus\n");
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.lines, std::vector<std::string>({"STATUS L: 0 | P: 0 | X: 0 | Y: 0"}));
    EXPECT_EQ(run.errors, "script line 2: no such file: missing.ksf\n");

    run = RunKestrow(m_folder, scenario, "# nothing yet\nwarp 9\n");
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.errors, "script line 2: unknown command 'warp'\n");
}

}  // namespace
