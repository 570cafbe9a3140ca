// The script's walk against the simulated unit: scans back to back along the
// path, each stored where the unit heard it, the walk in the sidecar; and a
// walk killed half way recovered with every point taken.
#include <gtest/gtest.h>

#include <cmath>
#include <csignal>
#include <string>
#include <thread>
#include <vector>

#include "e2e/kestrow_run.h"
#include "journal/journal_format.h"
#include "sitefile/site_meta.h"
#include "sitefile/site_reader.h"

namespace {

// One access point at the map's left edge, without noise, heard on the
// middle channel step (about halfway through a sweep): its level tells how
// far away the surveyor was.
const char* const kBeaconScenario = R"({
  "baud": 38400, "dwell_ms": 20, "seed": 1,
  "access_points": [{"mac": "00:0a:1b:2c:3d:4e", "ssid": "Beacon", "step": 8,
                     "frequency": 5320, "rssi": -30, "x": 0, "y": 160, "path_loss": 3.0}]})";

struct Heard {
    int x = 0;
    int y = 0;
    int rssi = 0;
};

class Points : public sitefile::PointsVisitor {
  public:
    void OnPoint(const sitefile::StoredPoint& p) override { points.push_back({p.x, p.y, 0}); }
    void OnEntry(const sitefile::StoredPoint&, const sitefile::StoredEntry& e) override {
        points.back().rssi = e.RssiDbm();
    }
    void OnPointEnd(const sitefile::StoredPoint&, int) override {}
    std::vector<Heard> points;
};

std::vector<Heard> SavedPoints(const std::string& path) {
    sitefile::SiteFileReader reader;
    sitefile::OpenError error;
    EXPECT_TRUE(reader.Open(path, error)) << error.Text();
    Points lister;
    reader.VisitPoints(lister);
    return lister.points;
}

sitefile::SiteMeta Sidecar(const std::string& site) {
    sitefile::SiteMeta meta;
    std::string error;
    EXPECT_TRUE(sitefile::ReadSiteMeta(site, meta, error)) << error;
    return meta;
}

TEST(WalkE2e, EachScanIsStoredWhereTheUnitHeardIt) {
    ScratchFolder folder;
    const std::string scenario = folder.Write("beacon.json", kBeaconScenario);
    const std::string site = folder.Write("site.ksf", MakeSite());
    // 200 pixels at 100 pixels a second (the site has no scale).
    const KestrowResult run =
        RunKestrowWorkspace(folder, "--simulate='" + scenario + "'",
                            "open site.ksf\nwalk 20,160 220,160 100\nsign 1,1 9,9\nsave\n");
    ASSERT_EQ(run.status, 0) << run.errors;
    ASSERT_EQ(run.lines.size(), 2u);
    const std::vector<Heard> points = SavedPoints(site);
    EXPECT_EQ(run.lines[1],
              "WALK " + std::to_string(points.size()) + " points, 0 scans dropped, 0 failed");
    ASSERT_GE(points.size(), 2u);
    int lastX = 0;
    for (const Heard& p : points) {
        EXPECT_EQ(p.y, 160);
        EXPECT_GT(p.x, lastX) << "in the order walked";
        lastX = p.x;
        // -30 dBm at 10 pixels, 30 dB a decade beyond: where it was heard.
        const double heardAt = 10 * std::pow(10.0, (-30.0 - p.rssi) / 30.0);
        EXPECT_NEAR(heardAt, p.x, 0.25 * p.x + 10) << "stored at " << p.x;
    }
    EXPECT_GT(points.back().x, 150) << "scanning went on to the end";

    const sitefile::SiteMeta meta = Sidecar(site);
    ASSERT_EQ(meta.walks.size(), 1u);
    const sitefile::Walk& walk = meta.walks[0];
    EXPECT_EQ(walk.path, (std::vector<std::pair<double, double>>{{20, 160}, {220, 160}}));
    EXPECT_EQ(walk.timesS, std::vector<double>({0, 2}));
    EXPECT_EQ(walk.speed, 100);
    std::vector<std::string> names;
    for (size_t i = 1; i <= points.size(); ++i) {
        names.push_back(std::to_string(i));  // numbered like every other point
    }
    EXPECT_EQ(walk.points, names);

    // A corner off the map is refused before anything is walked.
    const KestrowResult off = RunKestrow(folder, scenario, "open site.ksf\nwalk 20,160 400,160\n");
    EXPECT_EQ(off.status, 2);
    EXPECT_NE(off.errors.find("400,160 lies off the 240 x 320 map"), std::string::npos)
        << off.errors;
}

TEST(WalkE2e, WalkKilledHalfWayIsRecoveredWithEveryPointTaken) {
    ScratchFolder folder;
    const std::string scenario = folder.Write("beacon.json", kBeaconScenario);
    const std::string site = folder.Write("site.ksf", MakeSite());
    const std::string journalPath = site + ".journal";
    // 30 s of walking; killed once the journal holds three points.
    KestrowProcess killed(folder, scenario, "--client-size=640x480");
    killed.Send("open site.ksf\nwalk 20,40 220,40 220,300 20,300 16\n");
    size_t taken = 0;
    for (int i = 0; i < 200 && taken < 3; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        const std::vector<uint8_t> bytes = ReadBytes(journalPath);
        taken = 0;
        for (const journal::Entry& e : journal::ParseJournal(bytes.data(), bytes.size()).entries) {
            taken += e.kind == journal::Entry::Kind::kPoint;
        }
    }
    ASSERT_EQ(taken, 3u);
    killed.Signal(SIGKILL);
    EXPECT_EQ(killed.Wait(), 128 + SIGKILL);

    const KestrowResult run =
        RunKestrowWorkspace(folder, "--simulate='" + scenario + "'",
                            "open site.ksf keep recover\nsign 1,1 9,9\nsave\n");
    ASSERT_EQ(run.status, 0) << run.errors;
    const std::vector<Heard> points = SavedPoints(site);
    ASSERT_GE(points.size(), 3u) << "every point the journal held";
    const sitefile::SiteMeta meta = Sidecar(site);
    ASSERT_EQ(meta.walks.size(), 1u);
    EXPECT_EQ(meta.walks[0].points.size(), points.size());
    ASSERT_GE(meta.walks[0].path.size(), 1u);
    EXPECT_EQ(meta.walks[0].path[0], std::make_pair(20.0, 40.0));
    EXPECT_EQ(meta.walks[0].speed, 16);
}

}  // namespace
