// Requirement profiles: how they are read, and the verdicts at the survey
// points and over the area.
#include "coverage/requirements.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "survey_maker.h"

namespace {

using namespace coverage;
using namespace coverage_test;

constexpr int kWidthForArea = 120;
constexpr int kHeightForArea = 90;

Reading Heard(uint8_t id, int channel, double rssi, const std::string& ssid = "Corp") {
    Reading r;
    r.bssid = TestBssid(id);
    r.ssid = ssid;
    r.channel = channel;
    r.rssi = rssi;
    return r;
}

SurveyPoint At(double x, double y, std::vector<Reading> heard, const std::string& name = "") {
    SurveyPoint p;
    p.x = x;
    p.y = y;
    p.heard = std::move(heard);
    p.name = name;
    return p;
}

Profile Parsed(const std::string& json) {
    Profile p;
    std::string error;
    EXPECT_TRUE(ParseProfile(json, p, error)) << json << ": " << error;
    return p;
}

// ---------------------------------------------------------------------------
// Profiles

TEST(Profiles, BuiltInsAndFilesGiveTheirConditions) {
    Profile voice, data;
    ASSERT_TRUE(BuiltInProfile("voice", voice));
    ASSERT_TRUE(BuiltInProfile("data", data));
    EXPECT_EQ(voice.minStrongestDbm, -67);
    EXPECT_EQ(voice.minSecondDbm, -67);
    EXPECT_EQ(data.minStrongestDbm, -70);
    EXPECT_FALSE(data.minSecondDbm || data.maxCochannel || voice.maxCochannel);

    const Profile full = Parsed(
        R"({"name": "Corp voice", "min_strongest_dbm": -65.5, "min_second_dbm": -70,
            "max_cochannel": 2, "cochannel_threshold_dbm": -85, "ssids": ["Corp", "Caf\u00e9"],
            "min_radios": 3, "min_radios_dbm": -75, "min_snr_db": 25, "bands": ["5", "6 GHz"]})");
    EXPECT_EQ(full.name, "Corp voice");
    EXPECT_EQ(full.minStrongestDbm, -65.5);
    EXPECT_EQ(full.minSecondDbm, -70);
    EXPECT_EQ(full.maxCochannel, 2);
    EXPECT_EQ(full.cochannelThresholdDbm, -85);
    EXPECT_EQ(full.ssids, (std::vector<std::string>{"Corp", "Caf\xC3\xA9"}));
    EXPECT_EQ(full.bands,
              (std::vector<channels::Band>{channels::Band::k5GHz, channels::Band::k6GHz}));
    EXPECT_EQ(full.Describe(),
              "strongest >= -65.5 dBm, second radio >= -70 dBm, 3 radios >= -75 dBm, SNR >= 25 "
              "dB, at most 2 radios on the strongest one's channel at -85 dBm or above");
    Profile location;
    ASSERT_TRUE(BuiltInProfile("location", location));
    EXPECT_EQ(location.Describe(), "3 radios >= -75 dBm");

    const Profile named = Parsed(R"({"name": "any", "max_cochannel": 1})");
    EXPECT_FALSE(named.minStrongestDbm || named.minSecondDbm);
    EXPECT_EQ(named.cochannelThresholdDbm, kDefaultCochannelThresholdDbm);
    EXPECT_TRUE(named.ssids.empty());
}

// Every mistake names its field, on one line.
TEST(Profiles, UnknownFieldsWrongTypesAndMissingNameAreRefusedByName) {
    const struct {
        const char* json;
        const char* named;
    } bad[] = {
        {R"({"name": "x", "min_strongest": -67})", "\"min_strongest\""},
        {R"({"name": "x", "colour": "red"})", "\"colour\""},
        {R"({"min_strongest_dbm": -67})", "\"name\" is missing"},
        {R"({"name": 5})", "\"name\""},
        {R"({"name": ""})", "\"name\""},
        {R"({"name": "x", "min_strongest_dbm": "-67"})", "\"min_strongest_dbm\""},
        {R"({"name": "x", "min_strongest_dbm": 67})", "\"min_strongest_dbm\""},
        {R"({"name": "x", "min_second_dbm": true})", "\"min_second_dbm\""},
        {R"({"name": "x", "max_cochannel": 2.5})", "\"max_cochannel\""},
        {R"({"name": "x", "max_cochannel": -1})", "\"max_cochannel\""},
        {R"({"name": "x", "cochannel_threshold_dbm": null})", "\"cochannel_threshold_dbm\""},
        {R"({"name": "x", "ssids": "Corp"})", "\"ssids\""},
        {R"({"name": "x", "ssids": [1]})", "\"ssids\""},
        {R"({"name": "x", "ssids": []})", "\"ssids\""},
        {R"({"name": "x", "ssids": ["a name far longer than thirty-two bytes"]})", "\"ssids\""},
        {R"({"name": "x", "min_radios": 3})", "\"min_radios_dbm\""},
        {R"({"name": "x", "min_radios": 0, "min_radios_dbm": -75})", "\"min_radios\""},
        {R"({"name": "x", "min_snr_db": -5})", "\"min_snr_db\""},
        {R"({"name": "x", "bands": ["2.4", "60"]})", "\"bands\""},
        {R"(["name", "x"])", "one JSON object"},
        {R"({"name": "x",)", "not valid JSON"},
    };
    for (const auto& b : bad) {
        Profile p;
        std::string error;
        EXPECT_FALSE(ParseProfile(b.json, p, error)) << b.json;
        EXPECT_NE(error.find(b.named), std::string::npos) << b.json << ": " << error;
        EXPECT_EQ(error.find('\n'), std::string::npos) << error;
    }
}

TEST(Profiles, ResolvedByNameElseAsAFile) {
    char dir[] = "/tmp/kestrow_profile_XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    const std::string good = std::string(dir) + "/corp.json";
    const std::string bad = std::string(dir) + "/bad.json";
    std::ofstream(good) << R"({"name": "corp", "min_strongest_dbm": -60})";
    std::ofstream(bad) << R"({"name": "bad", "min_strongest_dbm": "loud"})";

    Profile p;
    std::string error;
    ASSERT_TRUE(ResolveProfile("voice", p, error));
    EXPECT_EQ(p.name, "voice");
    ASSERT_TRUE(ResolveProfile(good, p, error)) << error;
    EXPECT_EQ(p.minStrongestDbm, -60);
    EXPECT_FALSE(ResolveProfile("office", p, error));
    EXPECT_EQ(error, "unknown profile 'office' (data, voice, location, or a profile file)");
    EXPECT_FALSE(ResolveProfile(bad, p, error));
    EXPECT_EQ(error.rfind(bad + ": \"min_strongest_dbm\"", 0), 0u) << error;
    EXPECT_FALSE(ResolveProfile(dir, p, error)) << "a folder";
    std::remove(good.c_str());
    std::remove(bad.c_str());
    rmdir(dir);
}

// ---------------------------------------------------------------------------
// Verdicts at the survey points

TEST(PointVerdicts, BoundariesPassAndReasonsNameEveryFailingCondition) {
    Survey survey;
    survey.points = {
        At(0, 0, {Heard(1, 36, -67), Heard(2, 52, -67)}, "door"),  // both exactly at the minimum
        At(10, 0, {Heard(1, 36, -68), Heard(2, 52, -67)}),
        At(20, 0, {Heard(1, 36, -71), Heard(2, 52, -80)}),
        At(30, 0, {}),                                                         // nothing heard
        At(40, 0, {Heard(1, 36, -66), Heard(1, 36, -68), Heard(2, 52, -60)}),  // -66 and -68: -67
        At(50, 0, {Heard(1, 36, -70)}),                                        // one access point
    };
    Profile voice, data;
    ASSERT_TRUE(BuiltInProfile("voice", voice));
    ASSERT_TRUE(BuiltInProfile("data", data));

    const std::vector<PointVerdict> v = JudgePoints(survey, voice);
    ASSERT_EQ(v.size(), survey.points.size());
    EXPECT_TRUE(v[0].pass) << v[0].reason;
    EXPECT_EQ(v[0].name, "door");
    EXPECT_EQ(v[0].reason, "");
    EXPECT_FALSE(v[1].pass);
    EXPECT_EQ(v[1].reason, "second radio -68 dBm < -67 on 5 GHz");
    EXPECT_EQ(v[2].reason, "strongest -71 dBm < -67 on 5 GHz; second radio -80 dBm < -67 on 5 GHz");
    EXPECT_EQ(v[3].reason, "strongest -100 dBm < -67; second radio -100 dBm < -67");
    EXPECT_TRUE(v[4].pass) << "an access point heard twice counts with its average: "
                           << v[4].reason;
    EXPECT_EQ(v[5].reason, "strongest -70 dBm < -67 on 5 GHz; second radio -100 dBm < -67");
    EXPECT_EQ(v[2].x, 20);

    const std::vector<PointVerdict> d = JudgePoints(survey, data);
    EXPECT_TRUE(d[5].pass) << "-70 passes >= -70";
    EXPECT_EQ(d[2].reason, "strongest -71 dBm < -70 on 5 GHz");
}

TEST(PointVerdicts, ProfileSsidsAndCochannelLimitChooseWhatCounts) {
    Survey survey;
    survey.points = {
        At(0, 0, {Heard(1, 36, -50, "Guest"), Heard(2, 36, -72, "Corp")}),
        At(10, 0,
           {Heard(2, 36, -60, "Corp"), Heard(3, 36, -82, "Corp"), Heard(4, 52, -55, "Corp")}),
        At(20, 0, {Heard(2, 36, -60, "Corp"), Heard(3, 36, -83, "Corp")}),
    };
    const Profile corp = Parsed(
        R"({"name": "corp", "min_strongest_dbm": -70, "max_cochannel": 1, "ssids": ["Corp"]})");
    const std::vector<PointVerdict> v = JudgePoints(survey, corp);
    EXPECT_EQ(v[0].reason, "strongest -72 dBm < -70 on 5 GHz")
        << "the Guest access point does not count";
    // The strongest (4, channel 52) shares its channel with nobody; 2 and 3
    // on 36 do not matter.
    EXPECT_TRUE(v[1].pass) << v[1].reason;
    EXPECT_TRUE(v[2].pass) << "-83 is below the -82 threshold: " << v[2].reason;

    const Profile strict =
        Parsed(R"({"name": "strict", "max_cochannel": 1, "cochannel_threshold_dbm": -83})");
    const std::vector<PointVerdict> s = JudgePoints(survey, strict);
    EXPECT_EQ(s[0].reason, "cochannel 2 radios > 1 on 5 GHz channel 36");
    EXPECT_EQ(s[1].levels.channel, 52);
    EXPECT_TRUE(s[1].pass);
    EXPECT_EQ(s[2].reason, "cochannel 2 radios > 1 on 5 GHz channel 36");
}

// ---------------------------------------------------------------------------
// Verdicts over the area

std::shared_ptr<const CoverageModel> Model(const Survey& survey, const GridSpec& spec,
                                           Method method = kDefaultMethod) {
    BuildOptions options;
    options.method = method;
    std::string error;
    auto model = CoverageModel::Build(survey, spec, options, error);
    EXPECT_NE(model, nullptr) << error;
    return model;
}

// A place measured exactly at the minimum passes everywhere; a dB less fails
// everywhere; cells beyond the radius are not judged.
TEST(AreaVerdicts, MinimumPassesAndOnlyCellsWithAValueAreJudged) {
    for (const double level : {-67.0, -68.0}) {
        Survey survey;
        for (const auto& [x, y] : SpreadPositions(12, kWidthForArea, kHeightForArea)) {
            survey.points.push_back(At(x, y, {Heard(1, 36, level), Heard(2, 52, level)}));
        }
        const auto model = Model(survey, GridSpec{kWidthForArea, kHeightForArea, 4, 20});
        Profile voice;
        ASSERT_TRUE(BuiltInProfile("voice", voice));
        const AreaVerdict area = JudgeArea(*model, voice);
        EXPECT_EQ(area.judged, model->CellsWithValue());
        EXPECT_LT(area.judged, area.cells.size()) << "some cells lie beyond the radius";
        EXPECT_EQ(area.passing, level == -67 ? area.judged : 0u) << level;
        EXPECT_EQ(area.PassPercent(), level == -67 ? 100.0 : 0.0);
        const Grid strongest = model->Map(MapRequest(Metric::kStrongest));
        for (int row = 0; row < area.spec.Rows(); ++row) {
            for (int col = 0; col < area.spec.Cols(); ++col) {
                ASSERT_EQ(area.At(col, row) == CellVerdict::kNone, !strongest.HasValue(col, row));
            }
        }
    }
}

// Where a map keeps a survey point's own levels (inverse-distance weighting,
// one-pixel cells), the cell there gets the point's verdict: the two
// judgements follow one set of rules, not heard, ties and channels included.
TEST(AreaVerdicts, CellAtASurveyPointAgreesWithThePoint) {
    Survey survey;
    survey.points = {
        At(5, 5, {Heard(1, 36, -60), Heard(2, 36, -66), Heard(3, 52, -75)}),
        At(30, 5, {Heard(1, 36, -67), Heard(3, 52, -67)}),
        At(55, 5, {}),
        // A tie: the first BSSID is the strongest, and its channel (36) has one.
        At(5, 30, {Heard(2, 36, -50, "Guest"), Heard(3, 52, -50), Heard(4, 52, -65)}),
        At(30, 30, {Heard(1, 36, -69), Heard(2, 36, -62), Heard(3, 52, -90)}),
        At(55, 30, {Heard(3, 52, -40)}),
    };
    const auto model = Model(survey, GridSpec{60, 40, 1, 3}, Method::kIdw);
    const char* profiles[] = {
        R"({"name": "v", "min_strongest_dbm": -67, "min_second_dbm": -67})",
        R"({"name": "c", "max_cochannel": 1, "cochannel_threshold_dbm": -70})",
        R"({"name": "s", "min_strongest_dbm": -65, "ssids": ["Corp"]})",
    };
    for (const char* json : profiles) {
        const Profile profile = Parsed(json);
        const AreaVerdict area = JudgeArea(*model, profile);
        for (const PointVerdict& p : JudgePoints(survey, profile)) {
            EXPECT_EQ(area.At(static_cast<int>(p.x), static_cast<int>(p.y)) == CellVerdict::kPass,
                      p.pass)
                << json << " at " << p.x << "," << p.y << ": " << p.reason;
        }
    }
}

// Rounded down, so a share short of a minimum never shows as reaching it:
// 1999 cells of 2000 are 99.9%, not 100%.
TEST(AreaVerdicts, PassPercentIsRoundedDownToOneDecimal) {
    AreaVerdict area;
    const struct {
        size_t passing, judged;
        double percent;
    } cases[] = {{1, 3, 33.3}, {2, 3, 66.6}, {1, 8, 12.5},       {0, 5, 0},
                 {7, 7, 100},  {0, 0, 0},    {1999, 2000, 99.9}, {1901, 2000, 95.0}};
    for (const auto& c : cases) {
        area.passing = c.passing;
        area.judged = c.judged;
        EXPECT_DOUBLE_EQ(area.PassPercent(), c.percent) << c.passing << "/" << c.judged;
    }
    area.passing = 1899;  // 94.95%
    EXPECT_FALSE(AreaPasses(area.PassPercent(), 95));
    area.passing = 1900;
    EXPECT_TRUE(AreaPasses(area.PassPercent(), 95)) << "the minimum itself passes";
}

}  // namespace
