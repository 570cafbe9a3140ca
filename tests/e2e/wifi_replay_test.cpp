// The whole program surveying with replayed Wi-Fi scans: the example office's
// scans, several merged into each point, saved and read back; and dump files
// that cannot be used.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <set>

#include "kestrow_run.h"
#include "sitefile/site_reader.h"
#include "wifi/channels.h"
#include "wifi/scan_replay.h"

namespace {

const std::string kDump = KESTROW_SOURCE_DIR "/examples/office-wifi.dump";

struct Stored {
    int channel;
    int rssi;
    std::string ssid;
    wifi::Band band = wifi::Band::kUnknown;  // expected points only
};
using Point = std::map<std::string, Stored>;  // by MAC, 12 upper-case digits

class PointReader : public sitefile::PointsVisitor {
  public:
    void OnPoint(const sitefile::StoredPoint& point) override {
        points.emplace_back();
        positions.emplace_back(point.x, point.y);
    }
    void OnEntry(const sitefile::StoredPoint&, const sitefile::StoredEntry& entry) override {
        points.back()[sitefile::MacToText(entry.mac)] = {entry.channel, entry.RssiDbm(),
                                                         entry.ssid};
    }
    void OnPointEnd(const sitefile::StoredPoint&, int) override {}
    std::vector<Point> points;
    std::vector<std::pair<int, int>> positions;
};

// What a point made of the given scans must hold, worked out from the dump on
// its own terms: every BSSID heard, its channel, its SSID up to the first zero
// byte (a hidden network's named probe answer beside its beacon in the same
// scan: the name, and the stronger level), and the whole-dBm levels of its
// scans averaged as the scan list does (sum over count, cut toward zero).
// `varied` counts the access points whose level differed between the scans.
Point Expected(const std::vector<std::vector<wifi::BssEntry>>& scans, int& varied) {
    struct Sum {
        wifi::Channel channel;
        std::string ssid;
        std::set<int> levels;
        int total = 0;
        int count = 0;
    };
    std::map<std::string, Sum> sums;
    for (const auto& scan : scans) {
        std::map<std::string, std::pair<int, std::string>> heard;  // level, name
        for (const wifi::BssEntry& e : scan) {
            const std::string mac = sitefile::MacToText(e.bssid);
            const int dbm = wifi::RoundMbmToDbm(*e.signalMbm);
            const std::string name = e.ssid.substr(0, e.ssid.find('\0'));
            Sum& s = sums[mac];
            if (s.count == 0 && heard.count(mac) == 0) {
                s.channel = wifi::ChannelFromFrequency(e.frequency);
            }
            auto [it, fresh] = heard.emplace(mac, std::make_pair(dbm, name));
            it->second.first = std::max(it->second.first, dbm);
            if (it->second.second.empty()) {
                it->second.second = name;
            }
        }
        for (const auto& [mac, level] : heard) {
            Sum& s = sums[mac];
            s.ssid = level.second;
            s.levels.insert(level.first);
            s.total += level.first;
            ++s.count;
        }
    }
    Point point;
    varied = 0;
    for (const auto& [mac, s] : sums) {
        point[mac] = {s.channel.number, s.total / s.count, s.ssid, s.channel.band};
        varied += s.levels.size() > 1;
    }
    return point;
}

TEST(WifiReplayEndToEnd, SurveyStoresTheReplayedAccessPointsAveraged) {
    ScratchFolder folder;
    std::filesystem::copy_file(KESTROW_SOURCE_DIR "/examples/office.ksf",
                               folder.Path() + "/site.ksf");
    const KestrowResult run = RunKestrowWith(folder, "--wifi-replay '" + kDump + "'",
                                             "open site.ksf\n"
                                             "tap 34 56\n"
                                             "tap 203 156\n"
                                             "save\n"
                                             "status\n",
                                             nullptr, "--wifi-scans 3");
    ASSERT_EQ(run.status, 0) << run.errors;
    EXPECT_EQ(run.errors, "");
    ASSERT_FALSE(run.lines.empty());
    EXPECT_EQ(run.lines.back().rfind("STATUS L: 2 | P: ", 0), 0u) << run.lines.back();

    // The dump's first six scans, as the replay hands them out.
    std::string error;
    auto replay = wifi::ScanReplay::Load(kDump, error);
    ASSERT_TRUE(replay) << error;
    std::vector<std::vector<wifi::BssEntry>> scans;
    for (int i = 0; i < 6; ++i) {
        replay->Start();
        ASSERT_EQ(replay->Poll(std::chrono::milliseconds(0)), wifi::ScanStatus::kDone);
        scans.push_back(replay->Heard());
    }

    sitefile::SiteFileReader reader;
    sitefile::OpenError openError;
    ASSERT_TRUE(reader.Open(folder.Path() + "/site.ksf", openError)) << openError.Text();
    PointReader saved;
    reader.VisitPoints(saved);
    ASSERT_EQ(saved.points.size(), 2u);
    EXPECT_EQ(saved.positions, (std::vector<std::pair<int, int>>{{90, 100}, {311, 139}}));
    for (size_t p = 0; p < 2; ++p) {
        int varied = 0;
        const Point expected = Expected({scans.begin() + 3 * p, scans.begin() + 3 * p + 3}, varied);
        EXPECT_GT(varied, 5) << "point " << p + 1;  // the average is not any one scan's level
        ASSERT_EQ(saved.points[p].size(), expected.size()) << "point " << p + 1;
        std::set<wifi::Band> bands;
        for (const auto& [mac, want] : expected) {
            const auto got = saved.points[p].find(mac);
            ASSERT_NE(got, saved.points[p].end()) << mac;
            EXPECT_EQ(got->second.channel, want.channel) << mac;
            EXPECT_EQ(got->second.rssi, want.rssi) << mac;
            EXPECT_EQ(got->second.ssid, want.ssid) << mac;
            bands.insert(want.band);
        }
        EXPECT_EQ(bands.size(), 3u);  // 2.4, 5 and 6 GHz, each by its own channel numbers
    }
}

TEST(WifiReplayEndToEnd, DumpMissingStopsBeforeAnyWindowAndCutOneIsUsedWithAWarning) {
    ScratchFolder folder;
    const KestrowResult missing = RunKestrowWith(folder, "--wifi-replay missing.dump", "status\n");
    EXPECT_EQ(missing.status, 1);
    EXPECT_TRUE(missing.lines.empty());
    EXPECT_EQ(missing.errors, "kestrow: cannot open missing.dump: No such file or directory\n");

    // A file cut inside its last scan: the scans before it are used, and the
    // surveyor is told what was left out.
    std::vector<uint8_t> cut = ReadBytes(kDump);
    cut.resize(cut.size() - 10);
    folder.Write("cut.dump", cut);
    const KestrowResult shortened = RunKestrowWith(folder, "--wifi-replay cut.dump", "status\n");
    EXPECT_EQ(shortened.status, 0);
    EXPECT_EQ(shortened.lines, std::vector<std::string>{"STATUS L: 0 | P: 0 | X: 0 | Y: 0"});
    EXPECT_EQ(shortened.errors.rfind("kestrow: warning: cut.dump: ", 0), 0u) << shortened.errors;
    EXPECT_NE(shortened.errors.find("; that last scan is left out\n"), std::string::npos);
    EXPECT_EQ(std::count(shortened.errors.begin(), shortened.errors.end(), '\n'), 1);
}

}  // namespace
