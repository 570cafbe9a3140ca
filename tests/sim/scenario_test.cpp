#include "sim/scenario.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "examples/floorplan/office_walls.h"

namespace {

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::string Example(const char* name) {
    return std::string(KESTROW_SOURCE_DIR) + "/examples/" + name;
}

TEST(Scenario, BuiltInOfficeIsTheExampleFileAndDescribesTenPlacedAccessPoints) {
    EXPECT_EQ(ReadFile(Example("office.json")), sim::BuiltInOfficeScenarioText());

    sim::Scenario office;
    std::string error;
    ASSERT_TRUE(sim::LoadScenario(Example("office.json"), office, error)) << error;
    ASSERT_EQ(10u, office.accessPoints.size());
    const int positions[10][2] = {{90, 90},   {320, 80}, {550, 90},  {90, 240},  {320, 240},
                                  {550, 240}, {90, 390}, {320, 400}, {550, 390}, {200, 160}};
    for (size_t i = 0; i < office.accessPoints.size(); ++i) {
        const sim::SimAccessPoint& ap = office.accessPoints[i];
        EXPECT_TRUE(ap.hasPosition);
        EXPECT_EQ(positions[i][0], ap.x);
        EXPECT_EQ(positions[i][1], ap.y);
        EXPECT_LE(-50, ap.rssi);
        EXPECT_GE(-35, ap.rssi);
        // An 802.11a channel: 36..64 in fours, 100..140 in fours, 149..165 in fours.
        int channel = (ap.frequency - 5000) / 5;
        EXPECT_EQ(0, (ap.frequency - 5000) % 5);
        bool valid = (channel >= 36 && channel <= 64 && channel % 4 == 0) ||
                     (channel >= 100 && channel <= 140 && channel % 4 == 0) ||
                     (channel >= 149 && channel <= 165 && (channel - 149) % 4 == 0);
        EXPECT_TRUE(valid) << "channel " << channel;
    }
    EXPECT_EQ(10u, sim::BuiltInOfficeScenario().accessPoints.size());

    sim::Scenario quiet;
    ASSERT_TRUE(sim::LoadScenario(Example("quiet.json"), quiet, error)) << error;
    EXPECT_TRUE(quiet.accessPoints.empty());
}

TEST(Scenario, EveryExampleScenarioParses) {
    int parsed = 0;
    for (const auto& entry :
         std::filesystem::directory_iterator(std::string(KESTROW_SOURCE_DIR) + "/examples")) {
        const std::string name = entry.path().filename().string();
        if (entry.path().extension() != ".json" || name.find(".meta.json") != std::string::npos) {
            continue;  // a site's sidecar is no scenario
        }
        sim::Scenario s;
        std::string error;
        EXPECT_TRUE(sim::LoadScenario(entry.path().string(), s, error)) << error;
        ++parsed;
    }
    EXPECT_GE(parsed, 3);
}

TEST(Scenario, MissingFieldsKeepTheirDefaults) {
    sim::Scenario s;
    std::string error;
    ASSERT_TRUE(sim::ParseScenario(R"({"access_points": [{"mac": "000a1b2c3d4e"}]})", s, error))
        << error;
    EXPECT_EQ("CV-2.10", s.firmware);
    EXPECT_EQ("A1B2C3D4", s.serial);
    EXPECT_EQ(38400u, s.baud);
    EXPECT_EQ(0u, s.dwellMs);
    EXPECT_EQ(0u, s.faults.dropAnswerEvery);
    EXPECT_FALSE(s.faults.radioNotResponding);
    ASSERT_EQ(1u, s.accessPoints.size());
    EXPECT_EQ((std::array<uint8_t, 6>{0x00, 0x0a, 0x1b, 0x2c, 0x3d, 0x4e}), s.accessPoints[0].mac);
    EXPECT_FALSE(s.accessPoints[0].hasPosition);
}

TEST(Scenario, EveryFieldIsRead) {
    const char* text = R"({
      "firmware": "X-1", "serial": "S9", "baud": 9600, "dwell_ms": 15, "seed": 4000000000,
      "access_points": [{ "mac": "aa-bb-cc-dd-ee-ff", "ssid": "Lab", "step": 16, "frequency": 5825,
                          "rssi": -33, "noise_db": 2.5, "x": -4, "y": 7, "path_loss": 2 }],
      "faults": { "drop_answer_every": 3, "garbage_every": 4, "restart_on_step": 5,
                  "radio_not_responding": true } })";
    sim::Scenario s;
    std::string error;
    ASSERT_TRUE(sim::ParseScenario(text, s, error)) << error;
    EXPECT_EQ("X-1", s.firmware);
    EXPECT_EQ("S9", s.serial);
    EXPECT_EQ(9600u, s.baud);
    EXPECT_EQ(15u, s.dwellMs);
    EXPECT_EQ(4000000000u, s.seed);
    const sim::SimAccessPoint& ap = s.accessPoints.at(0);
    EXPECT_EQ(0xFF, ap.mac[5]);
    EXPECT_EQ("Lab", ap.ssid);
    EXPECT_EQ(16, ap.step);
    EXPECT_EQ(5825, ap.frequency);
    EXPECT_EQ(-33, ap.rssi);
    EXPECT_DOUBLE_EQ(2.5, ap.noiseDb);
    EXPECT_TRUE(ap.hasPosition);
    EXPECT_EQ(-4, ap.x);
    EXPECT_EQ(7, ap.y);
    EXPECT_DOUBLE_EQ(2.0, ap.pathLoss);
    EXPECT_EQ(3u, s.faults.dropAnswerEvery);
    EXPECT_EQ(4u, s.faults.garbageEvery);
    EXPECT_EQ(5, s.faults.restartOnStep);
    EXPECT_TRUE(s.faults.radioNotResponding);
}

struct BadScenario {
    const char* text;
    const char* error;
};

TEST(Scenario, MalformedScenariosNameTheFieldAndTheProblem) {
    const BadScenario cases[] = {
        {"[1, 2]", "not a scenario: the file must hold one JSON object"},
        {R"({"baud": 38400, "dwel_ms": 3})", "dwel_ms: unknown field"},
        {R"({"baud": -1})", "baud: must be an integer from 0 to 4000000"},
        {R"({"baud": 9600.5})", "baud: must be an integer from 0 to 4000000"},
        {R"({"firmware": 7})", "firmware: must be a string"},
        {R"({"access_points": {}})", "access_points: must be an array"},
        {R"({"access_points": [7]})", "access_points[0]: must be an object"},
        {R"({"access_points": [{"ssid": "x"}]})", "access_points[0].mac: missing"},
        {R"({"access_points": [{"mac": "00:0a:1b:2c:3d"}]})",
         "access_points[0].mac: must be six hexadecimal bytes like \"00:0a:1b:2c:3d:4e\""},
        {R"({"access_points": [{"mac": "00:0a:1b:2c:3d:4g"}]})",
         "access_points[0].mac: must be six hexadecimal bytes like \"00:0a:1b:2c:3d:4e\""},
        {R"({"access_points": [{"mac": "000a1b2c3d4e"}, {"mac": "000a1b2c3d4f", "step": 17}]})",
         "access_points[1].step: must be an integer from 1 to 16"},
        {R"({"access_points": [{"mac": "000a1b2c3d4e", "frequency": 0}]})",
         "access_points[0].frequency: must be an integer from 1 to 32767"},
        {R"({"access_points": [{"mac": "000a1b2c3d4e", "ssid": "123456789012345678901234567890123"}]})",
         "access_points[0].ssid: must be at most 32 bytes"},
        {R"({"access_points": [{"mac": "000a1b2c3d4e", "x": 3}]})",
         "access_points[0].y: missing (x and y go together)"},
        {R"({"access_points": [{"mac": "000a1b2c3d4e", "noise_db": -1}]})",
         "access_points[0].noise_db: must be a number from 0 to 100"},
        {R"({"access_points": [{"mac": "000a1b2c3d4e", "rssi": "-40"}]})",
         "access_points[0].rssi: must be an integer from -128 to 127"},
        {R"({"faults": {"drop_every": 2}})", "faults.drop_every: unknown field"},
        {R"({"faults": {"restart_on_step": 17}})",
         "faults.restart_on_step: must be an integer from 0 to 16"},
        {R"({"faults": {"radio_not_responding": 1}})",
         "faults.radio_not_responding: must be true or false"},
        {R"({"faults": []})", "faults: must be an object"},
        {R"({"walls": {}})", "walls: must be an array of [x1, y1, x2, y2] segments"},
        {R"({"walls": [[0, 0, 10, 0], [1, 2, 3]]})",
         "walls[1]: must be [x1, y1, x2, y2], with a material or a loss in dB after them or not"},
        {R"({"walls": [[0, 0, 10, 0, "paper"]]})",
         "walls[0]: unknown material 'paper' (one of drywall, glass, wood, brick, concrete, "
         "metal)"},
        {R"({"walls": [[0, 0, 10, 0, -2]]})",
         "walls[0]: a loss must be a number from 0 to 100 (dB)"},
        {R"({"walls": [[0, 0, 10, 0, null]]})",
         "walls[0]: the fifth entry must be a material name or a loss in dB"},
        {R"({"sensitivity_dbm": 3})", "sensitivity_dbm: must be a number from -128 to 0"},
        {R"({"shadowing_m": 0})", "shadowing_m: must be a number from 0.01 to 1000"},
        {R"({"pixels_per_metre": 0})", "pixels_per_metre: must be a number from 0.001 to 100000"},
        {R"({"walls": [[0, 0, "10", 0]]})",
         "walls[0]: coordinates must be numbers from -1000000 to 1000000"},
        {R"({"wall_loss_db": -1})", "wall_loss_db: must be a number from 0 to 100"},
    };
    for (const BadScenario& c : cases) {
        sim::Scenario s;
        s.firmware = "untouched";
        std::string error;
        EXPECT_FALSE(sim::ParseScenario(c.text, s, error)) << c.text;
        EXPECT_EQ(c.error, error) << c.text;
        EXPECT_EQ("untouched", s.firmware) << "a failed parse must leave the scenario alone";
    }
}

TEST(Scenario, WallsAreReadAndOptional) {
    sim::Scenario s;
    std::string error;
    ASSERT_TRUE(sim::ParseScenario(R"({"access_points": []})", s, error)) << error;
    EXPECT_TRUE(s.walls.empty());
    EXPECT_DOUBLE_EQ(5, s.wallLossDb);
    ASSERT_TRUE(
        sim::ParseScenario(R"({"walls": [[0, 160, 640.5, 160]], "wall_loss_db": 7.5})", s, error))
        << error;
    ASSERT_EQ(1u, s.walls.size());
    EXPECT_DOUBLE_EQ(640.5, s.walls[0].x2);
    EXPECT_DOUBLE_EQ(160, s.walls[0].y2);
    EXPECT_DOUBLE_EQ(7.5, s.wallLossDb);
}

// The office scenario's walls are the floor plan's, door gaps cut out: the
// plan generator and the scenario share one table (make_floorplan --walls).
TEST(Scenario, OfficeWallsAreTheFloorPlansWalls) {
    sim::Scenario office;
    std::string error;
    ASSERT_TRUE(sim::LoadScenario(Example("office.json"), office, error)) << error;
    const std::vector<std::array<int, 4>> plan = office_plan::WallSegments();
    ASSERT_EQ(plan.size(), office.walls.size());
    for (size_t i = 0; i < plan.size(); ++i) {
        const sim::Wall& w = office.walls[i];
        EXPECT_EQ(plan[i], (std::array<int, 4>{static_cast<int>(w.x1), static_cast<int>(w.y1),
                                               static_cast<int>(w.x2), static_cast<int>(w.y2)}))
            << "wall " << i;
    }
    EXPECT_DOUBLE_EQ(5, office.wallLossDb);
    // The door of the Open Plan (x 400..429 on y = 185) is a gap.
    EXPECT_EQ(0, sim::WallsCrossed(office.walls, 415, 150, 415, 200));
    EXPECT_EQ(1, sim::WallsCrossed(office.walls, 300, 150, 300, 200));
}

// A wall costs its own loss, else its material's at the access point's band,
// else the scenario's; the walls' costs add up.
TEST(Scenario, WallsCostTheirOwnLossTheirMaterialsOrTheScenarios) {
    sim::Scenario s;
    std::string error;
    ASSERT_TRUE(sim::ParseScenario(R"({"wall_loss_db": 7,
        "walls": [[150, 0, 150, 200], [250, 0, 250, 200, "brick"], [350, 0, 350, 200, 12.5]],
        "access_points": [
          {"mac": "02:00:00:00:00:01", "frequency": 2412, "x": 100, "y": 100, "rssi": -30},
          {"mac": "02:00:00:00:00:02", "frequency": 5180, "x": 100, "y": 100, "rssi": -30},
          {"mac": "02:00:00:00:00:03", "frequency": 5955, "x": 100, "y": 100, "rssi": -30}]})",
                                   s, error))
        << error;
    sim::Scenario open = s;
    open.walls.clear();
    const double* brick = sitefile::InfoOf(sitefile::Material::kBrick).lossDb;
    for (size_t band = 0; band < 3; ++band) {
        const sim::SimAccessPoint& ap = s.accessPoints[band];
        EXPECT_DOUBLE_EQ(7 + brick[band] + 12.5, sim::WallLoss(s, ap, 400, 100)) << band;
        EXPECT_DOUBLE_EQ(sim::PathLevel(open, ap, 400, 100) - sim::WallLoss(s, ap, 400, 100),
                         sim::PathLevel(s, ap, 400, 100));
        EXPECT_DOUBLE_EQ(7 + brick[band], sim::WallLoss(s, ap, 300, 100)) << band;
    }
    EXPECT_LT(brick[0], brick[2]) << "the bands must differ for this test to tell them apart";
}

// Shadowing is a fixed field: the same value at the same place for the same
// seed, close at places much nearer than the correlation distance,
// uncorrelated at places far beyond it, with the deviation asked for.
TEST(Scenario, ShadowingIsFixedAndSpatiallyCorrelated) {
    sim::Scenario s;
    s.shadowingDb = 6;
    s.shadowingM = 2;
    s.pixelsPerMetre = 20;  // correlation distance 40 px
    double same = 0, near = 0, far = 0, nearCross = 0, farCross = 0, seedDiffers = 0;
    int samples = 0;
    sim::Scenario other = s;
    other.seed = s.seed + 1;
    for (int a = 0; a < 30; ++a) {
        sim::SimAccessPoint ap;
        ap.mac = {0x02, 0, 0, 0, 0, static_cast<uint8_t>(a)};
        ap.hasPosition = true;
        for (int i = 0; i < 100; ++i) {
            const double x = 37.0 * i + 3 * a, y = 1000 - 23.0 * i;
            const double v = sim::Shadowing(s, ap, x, y);
            const double n = sim::Shadowing(s, ap, x + 1.2, y + 1.6);  // 2 px away
            const double f = sim::Shadowing(s, ap, x + 3000, y - 2000);
            EXPECT_EQ(v, sim::Shadowing(s, ap, x, y));
            same += v * v;
            near += n * n;
            far += f * f;
            nearCross += v * n;
            farCross += v * f;
            seedDiffers += std::fabs(v - sim::Shadowing(other, ap, x, y)) > 1;
            ++samples;
        }
    }
    EXPECT_NEAR(6, std::sqrt(same / samples), 1);
    EXPECT_GT(nearCross / std::sqrt(same * near), 0.85);  // exp(-2 / 40) = 0.95
    EXPECT_LT(std::fabs(farCross / std::sqrt(same * far)), 0.15);
    EXPECT_GT(seedDiffers, samples / 2) << "another seed, another field";

    sim::SimAccessPoint ap;
    ap.hasPosition = true;
    sim::Scenario flat = s;
    flat.shadowingDb = 0;
    EXPECT_DOUBLE_EQ(sim::PathLevel(flat, ap, 300, 40) + sim::Shadowing(s, ap, 300, 40),
                     sim::PathLevel(s, ap, 300, 40));
    EXPECT_EQ(0, sim::Shadowing(flat, ap, 300, 40));
}

TEST(Scenario, SyntaxErrorsAndUnreadableFilesSayWhere) {
    sim::Scenario s;
    std::string error;
    EXPECT_FALSE(sim::ParseScenario("{\n  \"baud\": 38400,\n  \"seed\" 1\n}", s, error));
    EXPECT_EQ(0u, error.find("not valid JSON: ")) << error;
    EXPECT_NE(std::string::npos, error.find("line 3")) << error;

    EXPECT_FALSE(sim::LoadScenario("/nonexistent/scenario.json", s, error));
    EXPECT_EQ("/nonexistent/scenario.json: cannot be read (No such file or directory)", error);
    EXPECT_FALSE(sim::LoadScenario(KESTROW_SOURCE_DIR, s, error));
    EXPECT_EQ(std::string(KESTROW_SOURCE_DIR) + ": is a directory, not a file", error);
    // Devices and pipes are refused before anything is read: /dev/zero would
    // never end and a pipe could block for ever.
    EXPECT_FALSE(sim::LoadScenario("/dev/zero", s, error));
    EXPECT_EQ("/dev/zero: is not a regular file", error);
}

}  // namespace
