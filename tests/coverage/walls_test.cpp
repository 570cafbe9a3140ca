// The wall-aware model: wall crossings over a grid, the calibration of a
// material's loss, placed access points.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

#include "coverage/coverage_map.h"
#include "coverage/walls.h"
#include "survey_maker.h"

namespace {

using namespace coverage;
using namespace coverage_test;

// A row's loss raster is the sum over walls of the point-by-point test, at
// every cell centre: random walls, and the awkward ones (through cell
// centres, along a row, meeting end to end, through the source).
TEST(Walls, RowRasterIsThePointByPointTestAtEveryCell) {
    std::mt19937 random(3);
    std::uniform_real_distribution<double> x(-20, 220), y(-20, 170);
    std::vector<WallSegment> walls;
    for (int i = 0; i < 40; ++i) {
        walls.push_back({x(random), y(random), x(random), y(random), 0});
    }
    walls.push_back({101.5, 0, 101.5, 150, 0});  // through cell centres (4-pixel cells)
    walls.push_back({0, 61.5, 200, 61.5, 0});    // along a row of centres
    walls.push_back({20, 20, 60, 60, 0});        // end to end with the next
    walls.push_back({60, 60, 100, 20, 0});
    walls.push_back({50, 100, 90, 100, 0});  // through the source
    std::vector<double> ones(walls.size(), 1.0), losses;
    for (size_t i = 0; i < walls.size(); ++i) {
        losses.push_back(1 + 0.5 * static_cast<double>(i % 5));
    }
    const GridSpec spec{203, 150, 4, 0};
    for (const auto& [sx, sy] : std::vector<std::pair<double, double>>{{70, 100}, {5.5, 9.5}}) {
        std::vector<double> row(static_cast<size_t>(spec.Cols()));
        int crossings = 0;
        for (int r = 0; r < spec.Rows(); ++r) {
            WallLossRow(spec, r, walls, ones, sx, sy, row.data());
            for (int c = 0; c < spec.Cols(); ++c) {
                const double cx = spec.CentreX(c), cy = spec.CentreY(r);
                int count = 0;
                for (const WallSegment& w : walls) {
                    count += Crosses(w, sx, sy, cx, cy);
                }
                ASSERT_EQ(row[static_cast<size_t>(c)], count) << "cell " << c << "," << r;
                crossings += count;
            }
            WallLossRow(spec, r, walls, losses, sx, sy, row.data());
            for (int c = 0; c < spec.Cols(); ++c) {
                ASSERT_NEAR(row[static_cast<size_t>(c)],
                            WallLossAt(walls, losses, sx, sy, spec.CentreX(c), spec.CentreY(r)),
                            1e-9);
            }
        }
        EXPECT_GT(crossings, spec.Cols() * spec.Rows());  // walls were crossed, often
    }
}

// A survey of one access point behind walls whose true loss is 7.5 dB, drawn
// as a material that starts at 4: the calibration finds the loss, the map
// behind a wall falls by it, and where no wall is crossed the map is the
// wall-less one's.
Survey WalledSurvey(const std::vector<WallSegment>& walls, double loss, bool two = false) {
    const double sources[2][2] = {{60, 70}, {270, 90}};
    Survey survey;
    for (const auto& [x, y] : SpreadPositions(48, 300, 150, 5)) {
        SurveyPoint p;
        p.x = x;
        p.y = y;
        for (int a = 0; a < (two ? 2 : 1); ++a) {
            const double sx = sources[a][0], sy = sources[a][1];
            Reading r;
            r.bssid = TestBssid(static_cast<uint8_t>(a + 1));
            r.ssid = "Corp";
            r.channel = 36 + 16 * a;
            double crossed = 0;
            for (const WallSegment& w : walls) {
                crossed += Crosses(w, sx, sy, x, y);
            }
            r.rssi = std::round(LogDistanceLevel(sx, sy, x, y) - loss * crossed);
            p.heard.push_back(r);
        }
        survey.points.push_back(p);
    }
    return survey;
}

TEST(Walls, CalibrationFindsTheMaterialsLossAndTheMapFallsBehindTheWall) {
    const std::vector<WallSegment> walls = {{150, 0, 150, 150, 0}, {225, 0, 225, 150, 0}};
    Survey survey = WalledSurvey(walls, 7.5, true);
    survey.building.walls = walls;
    survey.building.materialLossDb = {{3, 4, 5}};
    const GridSpec spec{300, 150, 4, 40};
    BuildOptions options;
    std::string error;
    auto walled = CoverageModel::Build(survey, spec, options, error);
    ASSERT_TRUE(walled);
    ASSERT_EQ(walled->MaterialLossDb().size(), 1u);
    EXPECT_NEAR(walled->MaterialLossDb()[0][1], 7.5, 1);  // 5 GHz: calibrated
    EXPECT_EQ(walled->MaterialLossDb()[0][0], 3);         // 2.4 GHz: nothing to learn from
    EXPECT_NEAR(walled->Sources()[0].x, 60, 5);

    // Just either side of the first wall: a step of about the loss.
    const double step = walled->LevelAt(0, 146, 70) - walled->LevelAt(0, 154, 70);
    EXPECT_GT(step, 6);

    // The map without walls of a survey that had none: the same where the
    // walled map crosses none (in front of the first wall).
    Survey open = WalledSurvey({}, 0);
    open.points.erase(std::remove_if(open.points.begin(), open.points.end(),
                                     [](const SurveyPoint& p) { return p.x >= 270; }),
                      open.points.end());
    auto plain = CoverageModel::Build(open, spec, options, error);
    Survey openWithWalls = open;
    openWithWalls.building.walls = {{290, 0, 290, 150, 0}};  // behind every point
    openWithWalls.building.materialLossDb = {{3, 4, 5}};
    auto behind = CoverageModel::Build(openWithWalls, spec, options, error);
    ASSERT_TRUE(plain && behind);
    const Grid a = plain->Map(MapRequest(Metric::kStrongest));
    const Grid b = behind->Map(MapRequest(Metric::kStrongest));
    for (int row = 0; row < spec.Rows(); ++row) {
        for (int col = 0; spec.CentreX(col) < 280; ++col) {
            ASSERT_EQ(a.HasValue(col, row), b.HasValue(col, row));
            if (a.HasValue(col, row)) {
                ASSERT_NEAR(a.At(col, row), b.At(col, row), 1e-4) << col << "," << row;
            }
        }
    }
}

// A placed access point is where it was placed, even where the readings
// would put it elsewhere, and so is its radio's other BSSID; the maps'
// trends start there.
TEST(Walls, PlacedAccessPointsStayWhereTheyWerePlaced) {
    Survey survey = WalledSurvey({}, 0);
    for (SurveyPoint& p : survey.points) {
        Reading sibling = p.heard[0];
        sibling.bssid = TestBssid(1, 1);  // the same radio's Guest SSID
        sibling.ssid = "Guest";
        p.heard.push_back(sibling);
    }
    survey.building.placed = {{TestBssid(1), 80, 90}};
    const GridSpec spec{300, 150, 4, 40};
    for (Method m : AllMethods()) {
        std::string error;
        BuildOptions options;
        options.method = m;
        auto model = CoverageModel::Build(survey, spec, options, error);
        ASSERT_TRUE(model);
        if (m == Method::kPathLoss) {
            ASSERT_EQ(model->Sources().size(), 2u);
            for (const SourceEstimate& s : model->Sources()) {
                EXPECT_TRUE(s.placed);
                EXPECT_EQ(s.x, 80);
                EXPECT_EQ(s.y, 90);
                EXPECT_EQ(s.uncertainty, 0);
            }
        }
    }
    const std::vector<SourceEstimate> located = LocateAccessPoints(survey);
    ASSERT_EQ(located.size(), 2u);
    EXPECT_TRUE(located[0].placed && located[1].placed);
    survey.building.placed.clear();
    const SourceEstimate estimate = LocateAccessPoints(survey).at(0);
    EXPECT_FALSE(estimate.placed);
    EXPECT_LT(std::hypot(estimate.x - 60, estimate.y - 70), 5);
    EXPECT_GT(estimate.uncertainty, 0);
}

// One mark a box: radios estimated within each other's uncertainty fold into
// the surest; a vague estimate, one heard too rarely and one the filter
// leaves out get none; placed ones are marked apart from estimates.
TEST(MarkedPlaces, FoldBoxesAndLeaveOutVagueRareAndUnselected) {
    std::vector<AccessPoint> aps(6);
    for (size_t i = 0; i < aps.size(); ++i) {
        aps[i].bssid = TestBssid(static_cast<int>(i) + 1);
        aps[i].pointsHeard = 5;
        aps[i].band = channels::Band::k5GHz;
    }
    aps[4].pointsHeard = kMinPositionsToLocate - 1;
    aps[5].band = channels::Band::k2_4GHz;
    const std::vector<SourceEstimate> sources = {
        {true, false, 100, 100, 30},  {true, false, 110, 100, 12},  // one box, 1 the surest
        {true, true, 110, 100, 0},                                  // placed there
        {true, false, 400, 300, 600},                               // too vague
        {true, false, 300, 300, 10},                                // heard too rarely
        {true, false, 300, 100, 10}};
    const auto boxes = MarkedPlaces(aps, sources, 640, 480);
    ASSERT_EQ(boxes.size(), 3u);
    EXPECT_EQ(boxes[0], (std::vector<size_t>{2}));
    EXPECT_EQ(boxes[1], (std::vector<size_t>{5}));
    EXPECT_EQ(boxes[2], (std::vector<size_t>{1, 0}));
    ApFilter only;
    only.bands = {channels::Band::k2_4GHz};
    EXPECT_EQ(MarkedPlaces(aps, sources, 640, 480, &only), (std::vector<std::vector<size_t>>{{5}}));
}

}  // namespace
