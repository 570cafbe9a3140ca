#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "journal/journal_format.h"
#include "journal/survey_journal.h"
#include "survey/record_list.h"
#include "view/fake_scan_source.h"
#include "walk/walk_engine.h"
#include "walk/walk_path.h"

namespace {

using journal::Entry;
using walk::Place;
using walk::Placing;

Placing Placed(const walk::WalkPath& path, const walk::WalkClock& clock, int64_t from, int64_t to,
               bool ended, Place& at) {
    return walk::PlaceScan(path, clock, {from, to}, ended, at);
}

TEST(WalkPath, ScansArePlacedHalfwayInWalkTimeAcrossTurnsAndPauses) {
    walk::WalkClock clock;
    clock.Start(1000);
    walk::WalkPath path;
    path.Add({0, 0}, 0);
    path.Add({100, 0}, 10);   // a turn at 10 s
    path.Add({100, 50}, 15);  // and at 15 s
    Place at;
    // From 2 s to 6 s: halfway at 4 s, 40 % along the first leg.
    ASSERT_EQ(Placed(path, clock, 3000, 7000, false, at), Placing::kPlace);
    EXPECT_DOUBLE_EQ(at.x, 40);
    EXPECT_DOUBLE_EQ(at.y, 0);
    // Spanning the turn, 8 s to 14 s: halfway at 11 s, a fifth up the second leg.
    ASSERT_EQ(Placed(path, clock, 9000, 15000, false, at), Placing::kPlace);
    EXPECT_DOUBLE_EQ(at.x, 100);
    EXPECT_DOUBLE_EQ(at.y, 10);

    // A pause of 20 s from walk time 16 s stops the clock: halfway through
    // a scan from 15 s to 37 s wall is where the pause began.
    clock.Pause(17000);
    clock.Resume(37000);
    EXPECT_DOUBLE_EQ(clock.At(27000), 16);
    EXPECT_DOUBLE_EQ(clock.At(40000), 19);
    path.Add({0, 50}, clock.At(41000));  // 20 s of walk time
    ASSERT_EQ(Placed(path, clock, 16000, 38000, false, at), Placing::kPlace);
    EXPECT_DOUBLE_EQ(at.x, 80);  // a fifth of the way from (100, 50) to (0, 50)
    EXPECT_DOUBLE_EQ(at.y, 50);
}

TEST(WalkPath, ScansBeyondTheLastCornerWaitThenArePlacedOrDropped) {
    walk::WalkClock clock;
    clock.Start(0);
    walk::WalkPath path;
    path.Add({10, 20}, 0);  // a walk of one click
    Place at;
    // The first scan began with the walk: whatever happens it belongs at the click.
    EXPECT_EQ(Placed(path, clock, 0, 3000, false, at), Placing::kWait);
    ASSERT_EQ(Placed(path, clock, 0, 3000, true, at), Placing::kPlace);
    EXPECT_DOUBLE_EQ(at.x, 10);
    EXPECT_DOUBLE_EQ(at.y, 20);
    // One that began after the last click has no place once the walk ends.
    EXPECT_EQ(Placed(path, clock, 3000, 6000, true, at), Placing::kDrop);
    // Two clicks in one instant: the later corner counts.
    path.Add({30, 20}, 0);
    ASSERT_EQ(Placed(path, clock, 0, 0, false, at), Placing::kPlace);
    EXPECT_DOUBLE_EQ(at.x, 30);
    // A planned path takes its times from the speed.
    const walk::WalkPath planned = walk::WalkPath::Planned({{0, 0}, {30, 40}, {30, 0}}, 10);
    EXPECT_DOUBLE_EQ(planned.EndTimeS(), 9);
    EXPECT_DOUBLE_EQ(planned.LengthPixels(), 90);
}

// A scanner whose every sweep hears one access point at the level the test
// sets, and a clock the test moves.
struct FollowingSource : FakeScanSource {
    SurveyorPlace where;
    void FollowSurveyor(SurveyorPlace w) override { where = std::move(w); }
};

struct Bench : walk::WalkSurvey {
    FollowingSource source;
    int64_t now = 0;
    std::vector<walk::WalkPoint> committed;
    std::vector<int> levels;
    std::vector<walk::WalkProgress> progress;
    int nextName = 1;

    std::string NextPointName() override { return std::to_string(nextName); }
    bool CommitWalkPoint(int32_t x, int32_t y, const std::string& name, const CRecordList& scan,
                         const SweepDetails&) override {
        EXPECT_EQ(progress.back().points.back().name, name) << "told before it is committed";
        committed.push_back({x, y, name});
        levels.push_back(scan.IsEmpty() ? 0 : scan.Sentinel()->next->rssi);
        ++nextName;
        return true;
    }
    void WalkProgressed(const walk::WalkProgress& p) override { progress.push_back(p); }

    // The scan under way hears `rssi` and ends `ms` later.
    void Sweep(walk::WalkEngine& engine, int ms, int16_t rssi) {
        source.outcome = SweepState::kRunning;
        engine.Poll();
        {
            std::lock_guard<std::mutex> lock(g_scanListMutex);
            ApRecord* r = nullptr;
            ASSERT_EQ(g_scanList.AllocRecord(r), 0);
            std::memset(r->macText, 0, sizeof r->macText);
            r->rssi = rssi;
            r->sampleCount = 1;
            r->channel = 36;
            g_scanList.Append(r);
        }
        now += ms;
        source.outcome = SweepState::kDone;
        engine.Poll();
    }
};

TEST(WalkEngine, RunsScansBackToBackAndCommitsEachAtItsPlace) {
    Bench bench;
    walk::WalkEngine engine(bench.source, bench, 20, [&bench] { return bench.now; });
    engine.Start({0, 0});
    EXPECT_EQ(bench.source.sweeps, 1);
    bench.Sweep(engine, 2000, -50);  // 0-2 s
    bench.Sweep(engine, 2000, -60);  // 2-4 s
    EXPECT_EQ(bench.source.sweeps, 3) << "the next scan starts as soon as one ends";
    EXPECT_TRUE(bench.committed.empty()) << "no place is known before the next click";
    engine.Turn({80, 0});  // at 4 s
    ASSERT_EQ(bench.committed.size(), 2u);
    EXPECT_EQ(bench.committed[0].x, 20);
    EXPECT_EQ(bench.committed[1].x, 60);
    EXPECT_EQ(bench.levels[1], -60) << "each point keeps its own scan's records";

    bench.now += 1000;
    engine.Pause();                  // at 5 s
    bench.Sweep(engine, 1000, -70);  // the scan under way finishes (4-5 s walk time)
    EXPECT_EQ(engine.ScansWaiting(), 1u);
    EXPECT_EQ(bench.source.sweeps, 3) << "no scan starts while paused";
    bench.now += 60000;
    engine.Resume();
    engine.Poll();
    EXPECT_EQ(bench.source.sweeps, 4);
    bench.now += 1000;
    engine.End();  // at 6 s, with no click since 4 s
    bench.Sweep(engine, 0, -80);
    EXPECT_EQ(engine.State(), walk::WalkState::kEnded);
    ASSERT_EQ(bench.committed.size(), 3u);
    EXPECT_EQ(bench.committed[2].x, 80) << "begun before the last click: placed there";
    EXPECT_EQ(bench.levels[2], -70);
    EXPECT_EQ(engine.ScansDropped(), 1u) << "begun after the last click: dropped";

    // The walk told its corners and points once each, and its pace at the end.
    size_t corners = 0, points = 0;
    for (const walk::WalkProgress& p : bench.progress) {
        corners += p.corners.size();
        points += p.points.size();
    }
    EXPECT_TRUE(bench.progress.front().begun);
    EXPECT_TRUE(bench.progress.back().ended);
    EXPECT_EQ(corners, 2u);
    EXPECT_EQ(points, 3u);
    EXPECT_DOUBLE_EQ(bench.progress.back().speed, 1.0) << "80 px in 4 s at 20 px a metre";
}

TEST(WalkEngine, PlannedWalkTellsTheScannerTheTruePlaceAndEndsByItself) {
    Bench bench;
    {
        walk::WalkEngine engine(bench.source, bench, 1, [&bench] { return bench.now; });
        engine.StartPlanned({{0, 0}, {100, 0}}, 50);  // 2 s
        bench.now = 1500;
        double x = 0, y = 0;
        ASSERT_TRUE(bench.source.where && bench.source.where(x, y));
        EXPECT_DOUBLE_EQ(x, 75);
        bench.now = 0;
        bench.Sweep(engine, 1000, -50);  // 0-1 s: halfway at 0.5 s
        bench.Sweep(engine, 1000, -50);  // 1-2 s
        EXPECT_EQ(engine.Poll(), walk::WalkState::kEnded);
        ASSERT_GE(bench.committed.size(), 2u);
        EXPECT_EQ(bench.committed[0].x, 25);
        EXPECT_EQ(bench.committed[1].x, 75);
        EXPECT_FALSE(bench.source.where) << "an ended walk stops telling the scanner";
    }
}

TEST(WalkEngine, AScanTheScannerGivesUpOnIsCountedAndTriedAgainAfterAPause) {
    Bench bench;
    walk::WalkEngine engine(bench.source, bench, 1, [&bench] { return bench.now; });
    engine.Start({0, 0});
    bench.source.outcome = SweepState::kGaveUp;
    bench.source.gaveUpReason = "No Wi-Fi adapter.";
    engine.Poll();
    engine.Poll();
    EXPECT_EQ(bench.source.sweeps, 1) << "not asked again at once";
    EXPECT_EQ(engine.ScansFailed(), 1u);
    EXPECT_EQ(engine.LastFailure(), "No Wi-Fi adapter.");
    bench.now += walk::WalkEngine::kRetryMs;
    engine.Poll();
    EXPECT_EQ(bench.source.sweeps, 2);
    EXPECT_TRUE(bench.committed.empty());
}

// A walk's journal entries read back, add up to the walk, and reach the
// sidecar with each point as the survey names it at the save.
TEST(WalkJournal, EntriesAddUpToTheSidecarsWalk) {
    std::vector<Entry> entries(3);
    for (Entry& e : entries) {
        e.kind = Entry::Kind::kWalk;
        e.walk.walk = 1;
    }
    entries[0].walk.corners = {{10.5, 20, 0}};
    entries[1].walk.points = {{11, 20, "4"}, {30, 20, "5"}};
    entries[2].walk.corners = {{90, 20, 8.25}};
    entries[2].walk.points = {{60, 20, "6"}};
    entries[2].walk.speed = 1.25;
    std::vector<uint8_t> bytes = journal::EncodeHeader({});
    for (const Entry& e : entries) {
        journal::EncodeEntry(e, bytes);
    }
    const journal::JournalContents read = journal::ParseJournal(bytes.data(), bytes.size());
    ASSERT_EQ(read.entries.size(), 3u);
    journal::SweepFindings findings;
    for (const Entry& e : read.entries) {
        findings.Add(e);
    }
    EXPECT_EQ(findings.NextWalkNumber(), 2u);

    sitefile::SiteMeta meta;
    meta.walks.push_back({{{0, 0}, {5, 5}}, {}, 0, {"1", "2"}});  // an earlier walk
    // Point 5 was deleted, 6 renamed, and the earlier walk's 2 deleted.
    findings.MergeWalksInto(meta, {{{11, 20}, "4"}, {{60, 20}, "kitchen"}, {{0, 0}, "1"}});
    ASSERT_EQ(meta.walks.size(), 2u);
    EXPECT_EQ(meta.walks[0].points, std::vector<std::string>({"1"}));
    const sitefile::Walk& walk = meta.walks[1];
    EXPECT_EQ(walk.path, (std::vector<std::pair<double, double>>{{10.5, 20}, {90, 20}}));
    EXPECT_EQ(walk.timesS, std::vector<double>({0, 8.25}));
    EXPECT_DOUBLE_EQ(walk.speed, 1.25);
    EXPECT_EQ(walk.points, std::vector<std::string>({"4", "kitchen"}));

    // A walk entry with a place no map has is no entry.
    Entry wild = entries[0];
    wild.walk.corners[0].x = 1e300;
    std::vector<uint8_t> bad = journal::EncodeHeader({});
    journal::EncodeEntry(wild, bad);
    EXPECT_TRUE(journal::ParseJournal(bad.data(), bad.size()).entries.empty());
}

}  // namespace
