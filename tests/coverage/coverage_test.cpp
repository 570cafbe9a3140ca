// The coverage engine: what it reads, the relations its maps must keep, and
// that the same survey always gives the same map.
#include "coverage/coverage_map.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "coverage/coverage_worker.h"
#include "coverage/survey_input.h"
#include "sitefile/site_builder.h"
#include "survey/record_list.h"
#include "survey_maker.h"

namespace {

using namespace coverage;
using namespace coverage_test;

constexpr int kWidth = 200;
constexpr int kHeight = 150;

std::shared_ptr<const CoverageModel> BuildOrFail(const Survey& survey, const GridSpec& spec,
                                                 BuildOptions options = {}) {
    std::string error;
    auto model = CoverageModel::Build(survey, spec, options, error);
    EXPECT_NE(model, nullptr) << error;
    return model;
}

BuildOptions With(Method method, unsigned threads = 0) {
    BuildOptions options;
    options.method = method;
    options.threads = threads;
    return options;
}

// ---------------------------------------------------------------------------
// Input

void AddRecord(CRecordList& list, int x, int y, int channel, int rssi, uint8_t id, const char* ssid,
               const char* name = "") {
    ApRecord* r = nullptr;
    ASSERT_EQ(list.AllocRecord(r), 0);
    r->x = x;
    r->y = y;
    r->channel = static_cast<int16_t>(channel);
    r->rssi = static_cast<int16_t>(rssi);
    if (channel != 0) {
        const Bssid bssid = TestBssid(id);
        std::memcpy(r->mac, bssid.data(), 6);
    }
    std::snprintf(r->ssid, sizeof r->ssid, "%s", ssid);
    std::snprintf(r->pointName, sizeof r->pointName, "%s", name);
    list.Append(r);
}

// The survey list and the site file hold points the same way, and both
// adapters read them the same: a point per group (consecutive groups at one
// position being one point), a marker record or empty group for a point that
// heard nothing.
TEST(SurveyInput, RecordListAndSiteFileGiveTheSameSurvey) {
    CRecordList list;
    AddRecord(list, 10, 20, 36, -45, 1, "Lab", "A");
    AddRecord(list, 10, 20, 149, -60, 2, "Caf\xE9", "A");  // Latin-1, kept as bytes
    AddRecord(list, 30, 40, 0, -100, 0, "");               // nothing heard here
    AddRecord(list, 10, 20, 36, -50, 1, "Lab");            // a later point at the first one's place
    AddRecord(list, 50, 60, 36, -70, 1, "Lab");
    AddRecord(list, 50, 60, 52, -71, 3, "Lab");

    sitefile_test::PointsBytes bytes;
    const auto mac = [](uint8_t id) {
        const Bssid b = TestBssid(id);
        return std::vector<uint8_t>(b.begin(), b.end());
    };
    const auto rssi = [](int dbm) { return static_cast<uint8_t>(static_cast<int8_t>(dbm)); };
    bytes.Point(10, 20, "A", 2)
        .Entry(36, 0, rssi(-45), mac(1), "Lab")
        .Entry(149, 0, rssi(-60), mac(2), "Caf\xE9")
        .Point(30, 40, "B", 0)
        .Point(10, 20, "C", 1)
        .Entry(36, 0, rssi(-50), mac(1), "Lab")
        .Point(50, 60, "D", 1)  // one point split over two groups
        .Entry(36, 0, rssi(-70), mac(1), "Lab")
        .Point(50, 60, "D", 1)
        .Entry(52, 0, rssi(-71), mac(3), "Lab");
    const std::vector<uint8_t> file =
        sitefile_test::SiteWithPoints(sitefile_test::PatternMap(8, 8), bytes.bytes);
    sitefile::SiteFileReader reader;
    sitefile::OpenError error;
    ASSERT_TRUE(reader.Open(std::make_unique<MemoryByteSource>(file.data(), file.size()), error))
        << error.detail;
    g_surveyList.Clear();
    const Survey fromFile = SurveyFromSiteFile(reader);
    EXPECT_TRUE(g_surveyList.IsEmpty()) << "reading a survey must not load the survey list";
    const Survey fromList = SurveyFromRecords(list);

    for (const Survey* s : {&fromList, &fromFile}) {
        ASSERT_EQ(s->points.size(), 4u);
        EXPECT_EQ(s->points[0].heard.size(), 2u);
        EXPECT_TRUE(s->points[1].heard.empty());
        EXPECT_EQ(s->points[2].x, 10);
        EXPECT_EQ(s->points[0].name, "A");
        EXPECT_EQ(s->points[3].heard.size(), 2u);
        const Reading& r = s->points[0].heard[1];
        EXPECT_EQ(r.bssid, TestBssid(2));
        EXPECT_EQ(r.ssid, "Caf\xE9");
        EXPECT_EQ(r.channel, 149);
        EXPECT_EQ(r.rssi, -60);
    }
}

// Points at one place are one position whose levels are their average; an
// access point a point did not hear counts as -100 dBm there, and so does
// every access point at a point that heard nothing.
TEST(Samples, CoincidentPointsAverageNeverAdd) {
    Survey survey;
    const auto point = [](double x, double y, std::vector<std::pair<uint8_t, double>> heard) {
        SurveyPoint p;
        p.x = x;
        p.y = y;
        for (const auto& [id, rssi] : heard) {
            Reading r;
            r.bssid = TestBssid(id);
            r.channel = 36;
            r.rssi = rssi;
            p.heard.push_back(r);
        }
        return p;
    };
    survey.points = {point(50, 50, {{1, -50}, {2, -70}}), point(50, 50, {{1, -60}}),
                     point(120, 80, {}),
                     point(150, 100, {{2, -40}, {2, -44}})};  // heard twice in one sweep
    const SiteSamples s = PrepareSamples(survey);
    ASSERT_EQ(s.Positions(), 3u);
    ASSERT_EQ(s.aps.size(), 2u);
    EXPECT_EQ(s.pointsAt[0], 2);
    EXPECT_DOUBLE_EQ(s.Level(0, 0), -55);
    EXPECT_DOUBLE_EQ(s.Level(0, 1), -85);  // -70 and "not heard"
    EXPECT_DOUBLE_EQ(s.Level(1, 0), kNotHeardDbm);
    EXPECT_DOUBLE_EQ(s.Level(1, 1), kNotHeardDbm);
    EXPECT_DOUBLE_EQ(s.Level(2, 1), -42);
    EXPECT_EQ(s.aps[1].pointsHeard, 2);
    EXPECT_DOUBLE_EQ(s.aps[1].best, -40);

    // On the map: inverse-distance weighting shows the average there; no
    // method shows more than either point heard.
    const GridSpec spec{kWidth, kHeight, 1, 30};
    auto idw = BuildOrFail(survey, spec, With(Method::kIdw));
    EXPECT_DOUBLE_EQ(idw->LevelAt(0, 50, 50), -55);
    for (Method m : AllMethods()) {
        auto model = BuildOrFail(survey, spec, With(m));
        const Grid strongest = model->Map(MapRequest(Metric::kStrongest));
        EXPECT_LE(strongest.At(50, 50), -50) << MethodName(m);
    }
}

// One radio's BSSIDs, however the vendor derives them, are one radio; the
// same scheme on another channel or band is another radio.
TEST(Samples, RadiosGroupBssidsOfOneTransmitter) {
    const auto ap = [](Bssid bssid, int channel, channels::Band band) {
        AccessPoint a;
        a.bssid = bssid;
        a.channel = channel;
        a.band = band;
        return a;
    };
    using channels::Band;
    const std::vector<AccessPoint> aps = {
        ap({0x00, 0x11, 0x22, 0x33, 0x44, 0x50}, 36, Band::kUnknown),  // 5 GHz from its channel
        ap({0x00, 0x11, 0x22, 0x33, 0x44, 0x51}, 36, Band::k5GHz),     // consecutive last byte
        ap({0x02, 0x11, 0x22, 0x33, 0x44, 0x5f}, 36, Band::k5GHz),     // locally administered
        ap({0x00, 0x11, 0x22, 0x33, 0x44, 0x60}, 36, Band::k5GHz),     // another radio
        ap({0x00, 0x11, 0x22, 0x33, 0x44, 0x52}, 1, Band::k2_4GHz),    // the 2.4 GHz radio
        ap({0x00, 0x11, 0x22, 0x33, 0x44, 0x53}, 1, Band::k6GHz),      // 6 GHz channel 1
    };
    EXPECT_EQ(RadioNumbers(aps), (std::vector<int>{1, 1, 1, 2, 3, 4}));
}

// ---------------------------------------------------------------------------
// Accuracy relations

TEST(Interpolation, IdwIsExactAtSurveyPoints) {
    const Survey survey = MakeSurvey(FourAps(), SpreadPositions(25, kWidth, kHeight), 2.0);
    const SiteSamples samples = PrepareSamples(survey);
    // One-pixel cells: every survey point is a cell centre.
    const GridSpec spec{kWidth, kHeight, 1, 20};
    auto model = BuildOrFail(survey, spec, With(Method::kIdw));
    for (size_t p = 0; p < samples.Positions(); ++p) {
        for (size_t a = 0; a < samples.aps.size(); ++a) {
            EXPECT_DOUBLE_EQ(model->LevelAt(a, samples.x[p], samples.y[p]), samples.Level(p, a));
        }
        double strongest = kNotHeardDbm;
        for (size_t a = 0; a < samples.aps.size(); ++a) {
            strongest = std::max(strongest, samples.Level(p, a));
        }
        const Grid map = model->Map(MapRequest(Metric::kStrongest));
        EXPECT_FLOAT_EQ(map.At(static_cast<int>(samples.x[p]), static_cast<int>(samples.y[p])),
                        static_cast<float>(strongest));
    }
}

// The levels residuals at the survey points: RMS and largest, in dB.
std::pair<double, double> MissAtSurveyPoints(const Survey& survey, const CoverageModel& model) {
    const SiteSamples samples = PrepareSamples(survey);
    double sum2 = 0, worst = 0;
    for (size_t p = 0; p < samples.Positions(); ++p) {
        for (size_t a = 0; a < samples.aps.size(); ++a) {
            const double miss = model.LevelAt(a, samples.x[p], samples.y[p]) - samples.Level(p, a);
            sum2 += miss * miss;
            worst = std::max(worst, std::fabs(miss));
        }
    }
    return {std::sqrt(sum2 / (samples.Positions() * samples.aps.size())), worst};
}

// The default method smooths noise: at the survey points it stays within the
// readings' noise, and without noise it goes through them (within the
// rounding of readings to whole dBm).
TEST(Interpolation, DefaultMethodStaysWithinTheNoiseAtSurveyPoints) {
    for (double noise : {0.0, 2.0}) {
        const Survey survey =
            MakeSurvey(FourAps(), SpreadPositions(40, kWidth, kHeight), noise, 11);
        auto model = BuildOrFail(survey, GridSpec{kWidth, kHeight, 4, 20});
        const auto [rms, worst] = MissAtSurveyPoints(survey, *model);
        const double allowed = std::max(noise, 0.5);  // readings are whole dBm
        EXPECT_LE(rms, allowed) << "noise " << noise;
        EXPECT_LE(worst, 4 * allowed) << "noise " << noise;
        EXPECT_GT(model->LeaveOneOutError().levelRmse, 0);
    }

    // One point a room of the example office (the demo survey, noise 1.5 to
    // 2 dB): each access point is strong at one point only, where a fit is
    // most tempted to call that reading noise and paint the room the wrong
    // colour.
    const double demo[9][12] = {{90, 100, -42, -89, -100, -92, -100, -92, -100, -88, -100, -100},
                                {311, 139, -87, -70, -87, -73, -100, -97, -100, -82, -93, -100},
                                {540, 110, -100, -89, -53, -89, -100, -100, -100, -100, -87, -100},
                                {540, 269, -100, -97, -88, -85, -100, -100, -100, -100, -59, -83},
                                {281, 265, -100, -94, -96, -55, -97, -96, -98, -91, -99, -100},
                                {89, 270, -92, -100, -100, -84, -83, -64, -100, -95, -100, -100},
                                {121, 409, -100, -100, -100, -82, -63, -98, -95, -100, -100, -100},
                                {321, 419, -100, -100, -100, -84, -94, -100, -62, -100, -100, -88},
                                {521, 410, -100, -100, -100, -87, -100, -100, -97, -100, -92, -58}};
    Survey survey;
    for (const auto& row : demo) {
        SurveyPoint point;
        point.x = row[0];
        point.y = row[1];
        for (uint8_t a = 0; a < 10; ++a) {
            Reading r;
            r.bssid = TestBssid(a);
            r.channel = 36;
            r.rssi = row[2 + a];
            point.heard.push_back(r);
        }
        survey.points.push_back(point);
    }
    auto model = BuildOrFail(survey, GridSpec{640, 480, 4, 64});
    const auto [rms, worst] = MissAtSurveyPoints(survey, *model);
    EXPECT_LE(rms, 2);
    EXPECT_LE(worst, 6);
}

// Positions on one line, twice at one place, or too few to fit anything:
// every method still gives a finite map within the levels heard.
TEST(Interpolation, CoincidentCollinearAndFewPointsNeverFail) {
    const std::vector<std::vector<std::pair<double, double>>> layouts = {
        {{20, 75}, {60, 75}, {100, 75}, {140, 75}, {180, 75}},  // a corridor
        {{10, 10}, {50, 50}, {90, 90}, {90, 90}, {130, 130}},   // diagonal, one twice
        {{100, 75}},                                            // one point
        {{100, 75}, {100, 75}, {100, 75}},                      // one place, three times
        {{100, 75}, {101, 75}, {100, 76}},                      // almost one place
        {{40, 40}, {160, 110}},                                 // two points
    };
    for (Method m : AllMethods()) {
        for (size_t i = 0; i < layouts.size(); ++i) {
            const Survey survey = MakeSurvey(FourAps(), layouts[i], 1.0, 3);
            auto model = BuildOrFail(survey, GridSpec{kWidth, kHeight, 4, 60}, With(m));
            ASSERT_NE(model, nullptr);
            const Grid map = model->Map(MapRequest(Metric::kStrongest));
            int cells = 0;
            for (float v : map.values) {
                if (!std::isnan(v)) {
                    ++cells;
                    EXPECT_TRUE(v >= kNotHeardDbm && v <= -20) << MethodName(m) << " layout " << i;
                }
            }
            EXPECT_GT(cells, 0) << MethodName(m) << " layout " << i;
            const LeaveOneOut& loo = model->LeaveOneOutError();
            EXPECT_TRUE(std::isfinite(loo.levelRmse) && std::isfinite(loo.strongestRmse));
        }
    }
}

// A survey of one access point at `source` whose level falls off with the
// logarithm of the distance (no walls), read at `positions` as whole dBm.
Survey LogDistanceSurvey(double sourceX, double sourceY,
                         const std::vector<std::pair<double, double>>& positions) {
    Survey survey;
    for (const auto& [x, y] : positions) {
        SurveyPoint point;
        point.x = x;
        point.y = y;
        Reading r;
        r.bssid = TestBssid(1);
        r.channel = 36;
        r.rssi = std::round(LogDistanceLevel(sourceX, sourceY, x, y));
        point.heard.push_back(r);
        survey.points.push_back(point);
    }
    return survey;
}

// An access point at the edge of the surveyed area, nobody next to it: the
// path-loss method finds the source and follows the fall-off towards it,
// above the strongest reading by the margin at most, where kriging would
// flatten out. Its leave-one-out error is close to what mapping without each
// point gives there.
TEST(Interpolation, PathLossFollowsTheFallOffToASourceNobodyStoodNextTo) {
    const double sx = 70, sy = 100;
    std::vector<std::pair<double, double>> positions = SpreadPositions(15, 120, 150, 4);
    for (auto& at : positions) {
        at.first += 80;
    }
    const Survey survey = LogDistanceSurvey(sx, sy, positions);
    const GridSpec spec{kWidth, kHeight, 4, 60};
    auto model = BuildOrFail(survey, spec, With(Method::kPathLoss));
    const double best = model->AccessPoints()[0].best;
    const double ceiling = best + kCeilingMarginDb;
    // The source is located where the field peaks, confidently enough that
    // the map follows the fall-off up to it, above the strongest reading.
    const SourceEstimate& source = model->Sources().at(0);
    ASSERT_TRUE(source.located);
    EXPECT_FALSE(source.placed);
    EXPECT_LT(std::hypot(source.x - sx, source.y - sy), 5.0);
    EXPECT_LT(source.uncertainty, kConfidentSourceMetres * kAssumedPixelsPerMetre);
    EXPECT_GT(model->LevelAt(0, sx, sy), ceiling);
    EXPECT_LT(model->LevelAt(0, sx, sy), LogDistanceLevel(sx, sy, sx, sy));

    const Grid map = model->Map(MapRequest(Metric::kStrongest));
    double sum2 = 0;
    int cells = 0;
    for (int row = 0; row < spec.Rows(); ++row) {
        for (int col = 0; col < spec.Cols(); ++col) {
            const double exact = LogDistanceLevel(sx, sy, spec.CentreX(col), spec.CentreY(row));
            if (map.HasValue(col, row) && exact < ceiling) {
                sum2 += (map.At(col, row) - exact) * (map.At(col, row) - exact);
                ++cells;
            }
        }
    }
    ASSERT_GT(cells, 500);
    EXPECT_LT(std::sqrt(sum2 / cells), 1.0);

    double loo2 = 0;
    for (size_t p = 0; p < survey.points.size(); ++p) {
        Survey rest = survey;
        rest.points.erase(rest.points.begin() + static_cast<long>(p));
        auto without = BuildOrFail(rest, spec, With(Method::kPathLoss));
        const SurveyPoint& left = survey.points[p];
        const double miss = without->LevelAt(0, left.x, left.y) - left.heard[0].rssi;
        loo2 += miss * miss;
    }
    const double refitted = std::sqrt(loo2 / survey.points.size());
    EXPECT_NEAR(model->LeaveOneOutError().levelRmse, refitted, 0.25 * refitted);
}

// An access point heard at fewer than four positions, or heard alike
// everywhere, has no trend to fit: the path-loss method maps it as kriging
// does. None of the methods shows an access point more than the margin above
// its strongest reading, nor one heard nowhere above the floor.
TEST(Interpolation, WithoutATrendPathLossIsKrigingAndNoMapPassesTheCeiling) {
    Survey survey = MakeSurvey(FourAps(), SpreadPositions(20, kWidth, kHeight), 1.0, 6);
    for (size_t p = 0; p < survey.points.size(); ++p) {
        auto& heard = survey.points[p].heard;
        // Access point 4 only at three points, 3 at -60 everywhere.
        heard.erase(
            std::remove_if(heard.begin(), heard.end(),
                           [&](const Reading& r) { return r.bssid == TestBssid(4) && p >= 3; }),
            heard.end());
        for (Reading& r : heard) {
            if (r.bssid == TestBssid(3)) {
                r.rssi = -60;
            }
        }
        Reading floor;  // heard only at the floor
        floor.bssid = TestBssid(9);
        floor.channel = 149;
        floor.rssi = kNotHeardDbm;
        heard.push_back(floor);
    }
    const GridSpec spec{kWidth, kHeight, 4, 40};
    auto pathLoss = BuildOrFail(survey, spec, With(Method::kPathLoss));
    auto kriging = BuildOrFail(survey, spec, With(Method::kKriging));
    ASSERT_EQ(pathLoss->AccessPoints().size(), 5u);
    for (double x = 0; x < kWidth; x += 13) {
        for (double y = 0; y < kHeight; y += 11) {
            for (size_t a : {2u, 3u}) {
                EXPECT_NEAR(pathLoss->LevelAt(a, x, y), kriging->LevelAt(a, x, y), 1e-9)
                    << "access point " << a + 1 << " at " << x << "," << y;
            }
        }
    }
    for (Method m : AllMethods()) {
        auto model = BuildOrFail(survey, spec, With(m));
        for (size_t a = 0; a < model->AccessPoints().size(); ++a) {
            // Only a confidently located source lifts the ceiling (to its
            // fitted level there).
            const auto& sources = model->Sources();
            if (a < sources.size() && sources[a].located &&
                sources[a].uncertainty <= kConfidentSourceMetres * kAssumedPixelsPerMetre) {
                continue;
            }
            const double best = model->AccessPoints()[a].best;
            const double ceiling = best > kNotHeardDbm ? best + kCeilingMarginDb : kNotHeardDbm;
            for (double x = 0; x < kWidth; x += 7) {
                for (double y = 0; y < kHeight; y += 7) {
                    ASSERT_LE(model->LevelAt(a, x, y), ceiling)
                        << MethodName(m) << " access point " << a << " at " << x << "," << y;
                }
            }
        }
    }
}

// IDW's leave-one-out error is what dropping each position and mapping the
// rest gives there.
TEST(Interpolation, LeaveOneOutIsMappingWithoutThePoint) {
    const Survey survey = MakeSurvey(FourAps(), SpreadPositions(12, kWidth, kHeight), 1.0);
    const GridSpec spec{kWidth, kHeight, 8, 20};
    auto model = BuildOrFail(survey, spec, With(Method::kIdw));
    const SiteSamples samples = PrepareSamples(survey);
    double sum2 = 0;
    for (size_t p = 0; p < survey.points.size(); ++p) {
        Survey rest = survey;
        rest.points.erase(rest.points.begin() + static_cast<long>(p));
        auto without = BuildOrFail(rest, spec, With(Method::kIdw));
        ASSERT_EQ(without->AccessPoints().size(), samples.aps.size());
        double heard = kNotHeardDbm, guessed = kNotHeardDbm;
        for (size_t a = 0; a < samples.aps.size(); ++a) {
            heard = std::max(heard, samples.Level(p, a));
            guessed = std::max(guessed, without->LevelAt(a, samples.x[p], samples.y[p]));
        }
        sum2 += (guessed - heard) * (guessed - heard);
    }
    EXPECT_NEAR(model->LeaveOneOutError().strongestRmse, std::sqrt(sum2 / survey.points.size()),
                1e-9);
    EXPECT_EQ(model->LeaveOneOutError().positions, survey.points.size());
}

// ---------------------------------------------------------------------------
// Metrics and filters

// A map filtered to some access points is the map of a survey that heard only
// those (and nothing at the points where it heard only others).
TEST(Metrics, FilteredMapIsTheMapOfASurveyOfOnlyThoseAccessPoints) {
    const Survey survey = MakeSurvey(FourAps(), SpreadPositions(30, kWidth, kHeight), 2.0, 5);
    const GridSpec spec{kWidth, kHeight, 5, 40};
    std::vector<ApFilter> filters(4);
    filters[0].ssids = {"Guest"};
    filters[1].bssids = {TestBssid(1), TestBssid(4)};
    filters[2].channels = {36};
    filters[3].ssids = {"Corp", "Guest"};
    filters[3].channels = {52, 149};  // both kinds must match: access points 2 and 4
    const size_t expected[] = {2, 2, 2, 2};
    for (Method m : AllMethods()) {
        auto whole = BuildOrFail(survey, spec, With(m));
        for (size_t f = 0; f < filters.size(); ++f) {
            Survey only = survey;
            for (SurveyPoint& p : only.points) {
                std::vector<Reading> kept;
                for (const Reading& r : p.heard) {
                    AccessPoint ap;
                    ap.bssid = r.bssid;
                    ap.ssid = r.ssid;
                    ap.channel = r.channel;
                    if (filters[f].Selects(ap)) {
                        kept.push_back(r);
                    }
                }
                p.heard = kept;
            }
            auto reduced = BuildOrFail(only, spec, With(m));
            ASSERT_EQ(reduced->AccessPoints().size(), expected[f]) << "filter " << f;
            for (Metric metric :
                 {Metric::kStrongest, Metric::kSecond, Metric::kCount, Metric::kCochannel}) {
                const Grid filtered = whole->Map(MapRequest(metric, -70, filters[f]));
                const Grid alone = reduced->Map(MapRequest(metric, -70));
                ASSERT_EQ(filtered.values.size(), alone.values.size());
                for (size_t i = 0; i < alone.values.size(); ++i) {
                    ASSERT_EQ(std::isnan(filtered.values[i]), std::isnan(alone.values[i]));
                    if (!std::isnan(alone.values[i])) {
                        ASSERT_NEAR(filtered.values[i], alone.values[i], 1e-3)
                            << MethodName(m) << " filter " << f << " " << MetricName(metric)
                            << " cell " << i;
                    }
                }
            }
        }
    }
}

TEST(Metrics, SecondNeverAboveStrongestAndCountsFallAsTheThresholdRises) {
    const Survey survey = MakeSurvey(FourAps(), SpreadPositions(30, kWidth, kHeight), 2.0, 9);
    auto model = BuildOrFail(survey, GridSpec{kWidth, kHeight, 4, 50});
    const Grid strongest = model->Map(MapRequest(Metric::kStrongest));
    const Grid second = model->Map(MapRequest(Metric::kSecond));
    std::vector<Grid> counts, cochannel;
    const std::vector<double> thresholds = {-100, -90, -80, -75, -67, -60, -50, -40, -20};
    for (double t : thresholds) {
        counts.push_back(model->Map(MapRequest(Metric::kCount, t)));
        cochannel.push_back(model->Map(MapRequest(Metric::kCochannel, t)));
    }
    int checked = 0;
    for (size_t i = 0; i < strongest.values.size(); ++i) {
        if (std::isnan(strongest.values[i])) {
            continue;
        }
        ++checked;
        ASSERT_LE(second.values[i], strongest.values[i]);
        EXPECT_EQ(counts[0].values[i], 4.0f) << "every level is at least -100";
        for (size_t t = 0; t < thresholds.size(); ++t) {
            if (t > 0) {
                ASSERT_LE(counts[t].values[i], counts[t - 1].values[i]);
            }
            ASSERT_LE(cochannel[t].values[i], counts[t].values[i]);
            // The strongest one counts itself once it reaches the threshold.
            ASSERT_EQ(cochannel[t].values[i] >= 1, strongest.values[i] >= thresholds[t]);
            ASSERT_EQ(counts[t].values[i] >= 1, strongest.values[i] >= thresholds[t]);
            ASSERT_EQ(counts[t].values[i] >= 2, second.values[i] >= thresholds[t]);
        }
    }
    EXPECT_GT(checked, 100);

    // One access point selected: there is no second one.
    ApFilter one;
    one.bssids = {TestBssid(3)};
    const Grid alone = model->Map(MapRequest(Metric::kSecond, -67, one));
    for (float v : alone.values) {
        if (!std::isnan(v)) {
            ASSERT_EQ(v, static_cast<float>(kNotHeardDbm));
        }
    }
}

// ---------------------------------------------------------------------------
// The grid

// A cell has a value exactly when its centre is within the radius of a
// survey point; cells at the map's right and bottom edges are cut to the map.
TEST(Grid, CellsBeyondTheRadiusHaveNoValue) {
    const std::vector<std::pair<double, double>> positions = {{20, 20}, {150, 60}, {199, 149}};
    const Survey survey = MakeSurvey(FourAps(), positions);
    for (int cell : {1, 3, 8}) {
        for (double radius : {0.0, 5.0, 27.5}) {
            const GridSpec spec{kWidth, kHeight, cell, radius};
            EXPECT_EQ(spec.Cols(), (kWidth + cell - 1) / cell);
            auto model = BuildOrFail(survey, spec, With(Method::kIdw));
            const Grid map = model->Map(MapRequest(Metric::kStrongest));
            size_t withValue = 0;
            for (int row = 0; row < spec.Rows(); ++row) {
                for (int col = 0; col < spec.Cols(); ++col) {
                    bool near = false;
                    for (const auto& [x, y] : positions) {
                        const double dx = spec.CentreX(col) - x, dy = spec.CentreY(row) - y;
                        near = near || dx * dx + dy * dy <= radius * radius;
                    }
                    ASSERT_EQ(map.HasValue(col, row), near)
                        << "cell " << cell << " radius " << radius << " at " << col << "," << row;
                    withValue += near;
                }
            }
            EXPECT_EQ(model->CellsWithValue(), withValue);
        }
    }
    // Centres: the middle of the cell's pixels, the last cell cut by the edge.
    const GridSpec spec{10, 7, 4, 1};
    EXPECT_EQ(spec.Cols(), 3);
    EXPECT_DOUBLE_EQ(spec.CentreX(0), 1.5);
    EXPECT_DOUBLE_EQ(spec.CentreX(2), 8.5);
    EXPECT_DOUBLE_EQ(spec.CentreY(1), 5);
}

TEST(Grid, BadGridsAreRefusedWithAReason) {
    const Survey survey = MakeSurvey(FourAps(), SpreadPositions(5, kWidth, kHeight));
    const GridSpec bad[] = {
        {0, 100, 4, 10},          {kWidth, kHeight, 0, 10},           {kWidth, kHeight, -4, 10},
        {kWidth, kHeight, 4, -1}, {kWidth, kHeight, 4, std::nan("")}, {65536, 65536, 1, 10}};
    for (const GridSpec& spec : bad) {
        std::string error;
        EXPECT_EQ(CoverageModel::Build(survey, spec, {}, error), nullptr);
        EXPECT_FALSE(error.empty());
        EXPECT_EQ(error.find('\n'), std::string::npos);
    }
}

// A survey past the bounds is refused before anything is built for it, the
// message naming the bound; one within them says how far it has come.
TEST(Build, SurveysBeyondTheBoundsAreRefusedAndOthersReportProgress) {
    Survey many;
    many.points.resize(kMaxPositions + 1);
    for (size_t i = 0; i < many.points.size(); ++i) {
        many.points[i].x = static_cast<double>(i % 100);
        many.points[i].y = static_cast<double>(i / 100);
    }
    std::string error;
    EXPECT_EQ(CoverageModel::Build(many, GridSpec{kWidth, kHeight, 4, 40}, {}, error), nullptr);
    EXPECT_NE(error.find("more than the " + std::to_string(kMaxPositions)), std::string::npos)
        << error;
    many.points.resize(kMaxPositions);  // the bound itself is allowed
    EXPECT_TRUE(CheckSurveySize(many, error)) << error;
    many.building.walls.resize(kMaxModelWalls + 1);
    EXPECT_FALSE(CheckSurveySize(many, error));
    EXPECT_NE(error.find("walls"), std::string::npos) << error;
    many.building.walls.clear();
    // Within the positions, but each heard two access points of its own:
    // positions x access points pass the levels' bound.
    for (size_t i = 0; i < many.points.size(); ++i) {
        for (uint32_t k = 0; k < 2; ++k) {
            Reading r;
            const uint32_t id = static_cast<uint32_t>(2 * i + k);
            r.bssid = {2,
                       0,
                       0,
                       static_cast<uint8_t>(id >> 16),
                       static_cast<uint8_t>(id >> 8),
                       static_cast<uint8_t>(id)};
            many.points[i].heard.push_back(r);
        }
    }
    const Survey& wide = many;
    EXPECT_FALSE(CheckSurveySize(wide, error));
    EXPECT_NE(error.find("levels"), std::string::npos) << error;

    std::vector<std::pair<BuildStage, double>> told;
    std::mutex mutex;
    BuildOptions options = With(Method::kIdw, 2);
    options.progress = [&](BuildStage stage, double done) {
        std::lock_guard<std::mutex> lock(mutex);
        told.emplace_back(stage, done);
    };
    BuildOrFail(MakeSurvey(FourAps(), SpreadPositions(30, 400, 300)), GridSpec{400, 300, 2, 60},
                options);
    ASSERT_GE(told.size(), 3u);
    EXPECT_EQ(told.front().first, BuildStage::kFitting);
    EXPECT_EQ(told.back(), std::make_pair(BuildStage::kCells, 1.0));
    for (size_t i = 2; i < told.size(); ++i) {
        EXPECT_LT(told[i - 1].second, told[i].second);  // each percent once, in order
    }
}

// ---------------------------------------------------------------------------
// Determinism and cancelling

TEST(Build, SameMapForAnyNumberOfThreads) {
    // Enough cells for many tiles and chunks, so the threads share the work.
    const Survey survey = MakeSurvey(FourAps(), SpreadPositions(30, 400, 300), 2.0, 4);
    const GridSpec spec{400, 300, 3, 40};
    for (Method m : AllMethods()) {
        auto one = BuildOrFail(survey, spec, With(m, 1));
        const Grid reference = one->Map(MapRequest(Metric::kStrongest));
        for (unsigned threads : {2u, 3u, 8u}) {
            auto many = BuildOrFail(survey, spec, With(m, threads));
            const Grid map = many->Map(MapRequest(Metric::kStrongest));
            ASSERT_EQ(0, std::memcmp(map.values.data(), reference.values.data(),
                                     map.values.size() * sizeof(float)))
                << MethodName(m) << " with " << threads << " threads";
            EXPECT_EQ(many->LeaveOneOutError().levelRmse, one->LeaveOneOutError().levelRmse);
        }
    }
}

// Local kriging forced on, over a survey of many neighbourhoods: close to
// the exact model, the same for any number of threads, a filtered map the
// map of a survey of only those access points, a position's level its
// cell's.
TEST(Build, LocalKrigingKeepsToTheExactModel) {
    const Survey survey = MakeSurvey(FourAps(), SpreadPositions(500, kWidth, kHeight), 2.0, 3);
    Survey only = survey;  // access points 1 and 4
    for (SurveyPoint& p : only.points) {
        p.heard.erase(std::remove_if(p.heard.begin(), p.heard.end(),
                                     [](const Reading& r) {
                                         return r.bssid != TestBssid(1) && r.bssid != TestBssid(4);
                                     }),
                      p.heard.end());
    }
    ApFilter filter;
    filter.bssids = {TestBssid(1), TestBssid(4)};
    const GridSpec spec{kWidth, kHeight, 3, 20};
    for (Method m : {Method::kKriging, Method::kPathLoss}) {
        BuildOptions exact = With(m), local = With(m, 1);
        exact.exactPositions = kMaxPositions;
        local.exactPositions = 0;
        auto reference = BuildOrFail(survey, spec, exact);
        auto one = BuildOrFail(survey, spec, local);
        local.threads = 3;
        auto many = BuildOrFail(survey, spec, local);
        auto reduced = BuildOrFail(only, spec, local);
        const Grid truth = reference->Map(MapRequest(Metric::kStrongest));
        const Grid map = one->Map(MapRequest(Metric::kStrongest));
        ASSERT_EQ(0, std::memcmp(map.values.data(), many->Map(MapRequest()).values.data(),
                                 map.values.size() * sizeof(float)))
            << MethodName(m);
        EXPECT_EQ(many->LeaveOneOutError().levelRmse, one->LeaveOneOutError().levelRmse);
        EXPECT_NEAR(one->LeaveOneOutError().levelRmse, reference->LeaveOneOutError().levelRmse,
                    0.05);
        const Grid filtered = one->Map(MapRequest(Metric::kStrongest, -67, filter));
        const Grid alone = reduced->Map(MapRequest(Metric::kStrongest));
        ApFilter third;
        third.bssids = {TestBssid(3)};
        const Grid level = one->Map(MapRequest(Metric::kStrongest, -67, third));
        double worst = 0, sum = 0;
        int cells = 0;
        for (int row = 0; row < spec.Rows(); ++row) {
            for (int col = 0; col < spec.Cols(); ++col) {
                const size_t i = static_cast<size_t>(row) * spec.Cols() + col;
                ASSERT_EQ(std::isnan(map.values[i]), std::isnan(truth.values[i]));
                if (std::isnan(map.values[i])) {
                    continue;
                }
                const double miss = std::abs(double(map.values[i]) - truth.values[i]);
                worst = std::max(worst, miss);
                sum += miss;
                ++cells;
                ASSERT_NEAR(filtered.values[i], alone.values[i], 1e-3) << MethodName(m);
                ASSERT_NEAR(one->LevelAt(2, spec.CentreX(col), spec.CentreY(row)), level.values[i],
                            1e-4);
            }
        }
        // A few tenths of a dB at worst where the fitted length scale is
        // longer than the map, far less on average.
        EXPECT_LT(worst, 0.5) << MethodName(m);
        EXPECT_LT(sum / cells, 0.1) << MethodName(m);
    }
}

TEST(Build, ACancelledBuildAnswersNothing) {
    const Survey survey = MakeSurvey(FourAps(), SpreadPositions(30, kWidth, kHeight));
    std::atomic<bool> cancel{true};
    for (Method m : AllMethods()) {
        BuildOptions options = With(m);
        options.cancel = &cancel;
        std::string error;
        EXPECT_EQ(CoverageModel::Build(survey, GridSpec{kWidth, kHeight, 4, 40}, options, error),
                  nullptr);
        EXPECT_EQ(error, "cancelled");
    }
}

// The worker builds the survey as it stands after each point, dropping what
// a newer survey has made stale: whatever the timing, the last model handed
// over is the newest survey's, and no older one comes after a newer one.
TEST(CoverageWorker, HandsOverTheNewestSurveysModel) {
    const GridSpec spec{kWidth, kHeight, 2, 40};
    const std::vector<std::pair<double, double>> positions = SpreadPositions(25, kWidth, kHeight);
    std::mutex mutex;
    std::vector<uint64_t> generations;
    std::shared_ptr<const CoverageModel> last;
    uint64_t newest = 0;
    Survey survey;
    {
        CoverageWorker worker([&](uint64_t generation, std::shared_ptr<const CoverageModel> model,
                                  const std::string& error) {
            std::lock_guard<std::mutex> lock(mutex);
            EXPECT_NE(model, nullptr) << error;
            generations.push_back(generation);
            last = std::move(model);
        });
        for (const auto& at : positions) {
            survey.points.push_back(MakeSurvey(FourAps(), {at}, 1.0, 2).points[0]);
            newest = worker.Submit(survey, spec, {});
        }
        worker.WaitIdle();
    }
    ASSERT_FALSE(generations.empty());
    EXPECT_TRUE(std::is_sorted(generations.begin(), generations.end()));
    EXPECT_EQ(generations.back(), newest);
    EXPECT_EQ(newest, positions.size());
    auto direct = BuildOrFail(survey, spec);
    const Grid expected = direct->Map(MapRequest(Metric::kStrongest));
    const Grid got = last->Map(MapRequest(Metric::kStrongest));
    EXPECT_EQ(0, std::memcmp(got.values.data(), expected.values.data(),
                             got.values.size() * sizeof(float)));

    // A refused grid is reported; a worker destroyed mid-build stops at once.
    std::string refused;
    {
        CoverageWorker worker(
            [&](uint64_t, std::shared_ptr<const CoverageModel> model, const std::string& error) {
                EXPECT_EQ(model, nullptr);
                refused = error;
            });
        worker.Submit(survey, GridSpec{kWidth, kHeight, 0, 10}, {});
        worker.WaitIdle();
        worker.Submit(MakeSurvey(FourAps(), SpreadPositions(200, 2000, 1500)),
                      GridSpec{2000, 1500, 1, 200}, {});
    }
    EXPECT_NE(refused.find("cell"), std::string::npos) << refused;

    // Cancelled: what was running and waiting is never handed over.
    std::atomic<int> handed{0};
    {
        CoverageWorker worker(
            [&](uint64_t, std::shared_ptr<const CoverageModel>, const std::string&) { ++handed; });
        worker.Submit(MakeSurvey(FourAps(), SpreadPositions(200, 2000, 1500)),
                      GridSpec{2000, 1500, 1, 200}, {});
        worker.Submit(survey, spec, {});
        worker.Cancel();
        worker.WaitIdle();
    }
    EXPECT_EQ(handed, 0);
}

TEST(Bssid, TextBothWays) {
    Bssid b{};
    EXPECT_TRUE(ParseBssid("00:1D:7e:4a:10:0F", b));
    EXPECT_EQ(BssidText(b), "00:1d:7e:4a:10:0f");
    EXPECT_TRUE(ParseBssid("001D7E4A100F", b));
    EXPECT_EQ(BssidText(b), "00:1d:7e:4a:10:0f");
    EXPECT_TRUE(ParseBssid("00-1d-7e-4a-10-0f", b));
    for (const char* bad : {"", "001D7E4A100", "001D7E4A100F0", "00:1D:7E:4A:10:0G",
                            "00:1D:7E-4A:10:0F", "00:1D:7E:4A:100F", "0x1D7E4A100F"}) {
        EXPECT_FALSE(ParseBssid(bad, b)) << bad;
    }
}

}  // namespace
