#include "sim/scenario.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <fstream>
#include <limits>
#include <map>
#include <set>
#include <sstream>

#include "platform/json_reader.h"
#include "platform/text.h"
#include "survey/channels.h"

namespace sim {

namespace {

using platform::Json;
using json = platform::Json;

// Far more than any scenario needs; keeps a wrong file from filling memory.
constexpr size_t kMaxScenarioBytes = 16 * 1024 * 1024;

using Checker = platform::JsonChecker;

// Accepts "00:0a:1b:2c:3d:4e", "00-0a-1b-2c-3d-4e" or "000a1b2c3d4e".
bool ParseMac(const std::string& text, std::array<uint8_t, 6>& mac) {
    std::string digits;
    for (size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if ((c == ':' || c == '-') && text.size() == 17 && i % 3 == 2) {
            continue;
        }
        if (platform::HexDigitValue(c) < 0) {
            return false;
        }
        digits += c;
    }
    if (digits.size() != 12 || (text.size() != 12 && text.size() != 17)) {
        return false;
    }
    for (size_t i = 0; i < 6; ++i) {
        mac[i] = static_cast<uint8_t>(platform::HexDigitValue(digits[2 * i]) * 16 +
                                      platform::HexDigitValue(digits[2 * i + 1]));
    }
    return true;
}

bool ParseAccessPoint(const json& item, const std::string& where, Checker& check,
                      SimAccessPoint& ap) {
    if (!item.is_object()) {
        return check.Fail(where, "must be an object");
    }
    if (!check.OnlyKnownFields(
            item, where,
            {"mac", "ssid", "step", "frequency", "rssi", "noise_db", "x", "y", "path_loss"})) {
        return false;
    }
    auto mac = item.find("mac");
    if (mac == item.end()) {
        return check.Fail(where + ".mac", "missing");
    }
    if (!mac->is_string() || !ParseMac(mac->get<std::string>(), ap.mac)) {
        return check.Fail(where + ".mac",
                          "must be six hexadecimal bytes like \"00:0a:1b:2c:3d:4e\"");
    }
    long long step = ap.step, frequency = ap.frequency, rssi = ap.rssi, x = 0, y = 0;
    if (!check.Text(item, where, "ssid", 32, ap.ssid) ||
        !check.Integer(item, where, "step", 1, 16, step) ||
        !check.Integer(item, where, "frequency", 1, 32767, frequency) ||
        !check.Integer(item, where, "rssi", -128, 127, rssi) ||
        !check.Number(item, where, "noise_db", 0, 100, ap.noiseDb) ||
        !check.Integer(item, where, "x", -1000000, 1000000, x) ||
        !check.Integer(item, where, "y", -1000000, 1000000, y) ||
        !check.Number(item, where, "path_loss", 0, 10, ap.pathLoss)) {
        return false;
    }
    bool hasX = item.contains("x"), hasY = item.contains("y");
    if (hasX != hasY) {
        return check.Fail(where + (hasX ? ".y" : ".x"), "missing (x and y go together)");
    }
    ap.step = static_cast<int>(step);
    ap.frequency = static_cast<int>(frequency);
    ap.rssi = static_cast<int>(rssi);
    ap.hasPosition = hasX;
    ap.x = static_cast<int>(x);
    ap.y = static_cast<int>(y);
    return true;
}

bool ParseWalls(const json& walls, Checker& check, std::vector<Wall>& out) {
    if (!walls.is_array()) {
        return check.Fail("walls", "must be an array of [x1, y1, x2, y2] segments");
    }
    for (size_t i = 0; i < walls.size(); ++i) {
        const json& item = walls[i];
        const std::string field = "walls[" + std::to_string(i) + "]";
        if (!item.is_array() || item.size() < 4 || item.size() > 5) {
            return check.Fail(field,
                              "must be [x1, y1, x2, y2], with a material or a loss in dB after "
                              "them or not");
        }
        double v[4];
        for (size_t k = 0; k < 4; ++k) {
            if (!item[k].is_number() || !std::isfinite(item[k].get<double>()) ||
                std::fabs(item[k].get<double>()) > 1000000) {
                return check.Fail(field, "coordinates must be numbers from -1000000 to 1000000");
            }
            v[k] = item[k].get<double>();
        }
        Wall wall{v[0], v[1], v[2], v[3]};
        if (item.size() == 5) {
            const json& kind = item[4];
            if (kind.is_string()) {
                sitefile::Material material;
                if (!sitefile::ParseMaterial(kind.get<std::string>(), material)) {
                    return check.Fail(field, "unknown material '" + kind.get<std::string>() +
                                                 "' (one of " + sitefile::MaterialNames() + ")");
                }
                wall.material = material;
            } else if (kind.is_number()) {
                const double loss = kind.get<double>();
                if (!std::isfinite(loss) || loss < 0 || loss > 100) {
                    return check.Fail(field, "a loss must be a number from 0 to 100 (dB)");
                }
                wall.lossDb = loss;
            } else {
                return check.Fail(field, "the fifth entry must be a material name or a loss in dB");
            }
        }
        out.push_back(wall);
    }
    return true;
}

bool ParseFaults(const json& faults, Checker& check, ScenarioFaults& out) {
    if (!faults.is_object()) {
        return check.Fail("faults", "must be an object");
    }
    if (!check.OnlyKnownFields(
            faults, "faults",
            {"drop_answer_every", "garbage_every", "restart_on_step", "radio_not_responding"})) {
        return false;
    }
    long long drop = out.dropAnswerEvery, garbage = out.garbageEvery, restart = out.restartOnStep;
    if (!check.Integer(faults, "faults", "drop_answer_every", 0, 1000000, drop) ||
        !check.Integer(faults, "faults", "garbage_every", 0, 1000000, garbage) ||
        !check.Integer(faults, "faults", "restart_on_step", 0, 16, restart) ||
        !check.Boolean(faults, "faults", "radio_not_responding", out.radioNotResponding)) {
        return false;
    }
    out.dropAnswerEvery = static_cast<unsigned>(drop);
    out.garbageEvery = static_cast<unsigned>(garbage);
    out.restartOnStep = static_cast<int>(restart);
    return true;
}

}  // namespace

namespace {

bool ScenarioFromJson(const json& root, Scenario& out, std::string& error) {
    Checker check("");
    if (!root.is_object()) {
        error = "not a scenario: the file must hold one JSON object";
        return false;
    }
    Scenario scenario;
    long long baud = scenario.baud, dwell = scenario.dwellMs, seed = scenario.seed;
    if (check.OnlyKnownFields(root, "",
                              {"firmware", "serial", "baud", "dwell_ms", "seed", "access_points",
                               "walls", "wall_loss_db", "sensitivity_dbm", "shadowing_db",
                               "shadowing_m", "pixels_per_metre", "faults"}) &&
        check.Text(root, "", "firmware", 200, scenario.firmware) &&
        check.Text(root, "", "serial", 200, scenario.serial) &&
        check.Integer(root, "", "baud", 0, 4000000, baud) &&
        check.Integer(root, "", "dwell_ms", 0, 60000, dwell) &&
        check.Integer(root, "", "seed", 0, 4294967295LL, seed) &&
        check.Number(root, "", "wall_loss_db", 0, 100, scenario.wallLossDb) &&
        check.Number(root, "", "sensitivity_dbm", -128, 0, scenario.sensitivityDbm) &&
        check.Number(root, "", "shadowing_db", 0, 30, scenario.shadowingDb) &&
        check.Number(root, "", "shadowing_m", 0.01, 1000, scenario.shadowingM) &&
        check.Number(root, "", "pixels_per_metre", sitefile::kMinPixelsPerMetre,
                     sitefile::kMaxPixelsPerMetre, scenario.pixelsPerMetre)) {
        auto aps = root.find("access_points");
        if (aps != root.end()) {
            if (!aps->is_array()) {
                check.Fail("access_points", "must be an array");
            }
            for (size_t i = 0; !check.Failed() && i < aps->size(); ++i) {
                SimAccessPoint ap;
                if (ParseAccessPoint((*aps)[i], "access_points[" + std::to_string(i) + "]", check,
                                     ap)) {
                    scenario.accessPoints.push_back(ap);
                }
            }
        }
        auto walls = root.find("walls");
        if (!check.Failed() && walls != root.end()) {
            ParseWalls(*walls, check, scenario.walls);
        }
        auto faults = root.find("faults");
        if (!check.Failed() && faults != root.end()) {
            ParseFaults(*faults, check, scenario.faults);
        }
    }
    if (check.Failed()) {
        error = check.Error();
        return false;
    }
    scenario.baud = static_cast<unsigned>(baud);
    scenario.dwellMs = static_cast<unsigned>(dwell);
    scenario.seed = static_cast<uint32_t>(seed);
    out = scenario;
    return true;
}

}  // namespace

bool ParseScenario(const std::string& jsonText, Scenario& out, std::string& error) {
    json root;
    if (!platform::ParseJson(jsonText, "", root, error)) {
        error = "not valid JSON: " + error;
        return false;
    }
    return ScenarioFromJson(root, out, error);
}

bool LoadScenario(const std::string& path, Scenario& out, std::string& error) {
    json root;
    if (platform::ReadJsonFile(path, kMaxScenarioBytes, root, error) != platform::JsonFile::kRead) {
        return false;
    }
    if (!ScenarioFromJson(root, out, error)) {
        error = path + ": " + error;
        return false;
    }
    return true;
}

namespace {

// Which side of the line through a and b the point p lies on: true for the
// left (counter-clockwise) side; a point on the line counts as the right side.
bool LeftOf(double ax, double ay, double bx, double by, double px, double py) {
    return (bx - ax) * (py - ay) - (by - ay) * (px - ax) > 0;
}

}  // namespace

namespace {

// The column of sitefile's loss table for the access point's frequency.
int BandColumn(const SimAccessPoint& ap) {
    switch (channels::ChannelFromFrequency(static_cast<uint32_t>(ap.frequency)).band) {
        case channels::Band::k2_4GHz:
            return 0;
        case channels::Band::k6GHz:
            return 2;
        default:
            return 1;
    }
}

// Shadowing as a sum of random Fourier features: cosines of random
// directions and frequencies with random phases. Frequencies drawn from a
// two-dimensional Cauchy distribution give the exponential correlation
// exp(-d / l); the sum of many is close to Gaussian. The features are drawn
// for l = 1 and scaled at each query.
constexpr int kShadowFeatures = 64;
struct ShadowFeature {
    double wx = 0;
    double wy = 0;
    double phase = 0;
};
using ShadowFeatures = std::array<ShadowFeature, kShadowFeatures>;

uint64_t SplitMix(uint64_t& state) {
    uint64_t z = (state += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

double UnitInterval(uint64_t& state) {  // (0, 1)
    return (static_cast<double>(SplitMix(state) >> 11) + 0.5) * 0x1p-53;
}

double Gaussian(uint64_t& state) {
    constexpr double kTwoPi = 6.283185307179586;
    const double u1 = UnitInterval(state);
    return std::sqrt(-2.0 * std::log(u1)) * std::cos(kTwoPi * UnitInterval(state));
}

// Drawing the features costs several times a query, so each thread keeps
// those it has drawn (a scenario has few access points; the cache is
// emptied should it ever grow large).
const ShadowFeatures& FeaturesOf(uint32_t seed, const std::array<uint8_t, 6>& mac) {
    uint64_t macBits = 0;
    for (uint8_t byte : mac) {
        macBits = macBits << 8 | byte;
    }
    thread_local std::map<std::pair<uint32_t, uint64_t>, ShadowFeatures> cache;
    const auto key = std::make_pair(seed, macBits);
    auto it = cache.find(key);
    if (it != cache.end()) {
        return it->second;
    }
    if (cache.size() >= 4096) {
        cache.clear();
    }
    uint64_t state = (static_cast<uint64_t>(seed) << 48) ^ macBits ^ 0x5348414430574eull;
    ShadowFeatures features;
    for (ShadowFeature& f : features) {
        constexpr double kTwoPi = 6.283185307179586;
        const double scale = 1 / std::max(std::fabs(Gaussian(state)), 1e-9);
        f.wx = Gaussian(state) * scale;
        f.wy = Gaussian(state) * scale;
        f.phase = kTwoPi * UnitInterval(state);
    }
    return cache.emplace(key, features).first->second;
}

}  // namespace

bool CrossesWall(const Wall& w, double ax, double ay, double bx, double by) {
    // Each segment's ends on different sides of the other's line, with "on
    // the line" taken as one side: segments meeting end to end along a path
    // are counted once, never twice or not at all.
    return LeftOf(w.x1, w.y1, w.x2, w.y2, ax, ay) != LeftOf(w.x1, w.y1, w.x2, w.y2, bx, by) &&
           LeftOf(ax, ay, bx, by, w.x1, w.y1) != LeftOf(ax, ay, bx, by, w.x2, w.y2);
}

int WallsCrossed(const std::vector<Wall>& walls, double ax, double ay, double bx, double by) {
    int crossed = 0;
    for (const Wall& w : walls) {
        crossed += CrossesWall(w, ax, ay, bx, by);
    }
    return crossed;
}

double CrossingLoss(const Scenario& scenario, const Wall& wall, const SimAccessPoint& ap) {
    return wall.lossDb     ? *wall.lossDb
           : wall.material ? sitefile::InfoOf(*wall.material).lossDb[BandColumn(ap)]
                           : scenario.wallLossDb;
}

double WallLoss(const Scenario& scenario, const SimAccessPoint& ap, double x, double y) {
    double loss = 0;
    for (const Wall& w : scenario.walls) {
        if (CrossesWall(w, ap.x, ap.y, x, y)) {
            loss += CrossingLoss(scenario, w, ap);
        }
    }
    return loss;
}

double Shadowing(const Scenario& scenario, const SimAccessPoint& ap, double x, double y) {
    if (scenario.shadowingDb <= 0 || !ap.hasPosition) {
        return 0;
    }
    const ShadowFeatures& features = FeaturesOf(scenario.seed, ap.mac);
    const double perPixel = 1 / (scenario.shadowingM * scenario.pixelsPerMetre);
    const double px = x * perPixel, py = y * perPixel;
    double sum = 0;
    for (const ShadowFeature& f : features) {
        sum += std::cos(f.wx * px + f.wy * py + f.phase);
    }
    return scenario.shadowingDb * std::sqrt(2.0 / kShadowFeatures) * sum;
}

double PathLevel(const Scenario& scenario, const SimAccessPoint& ap, double x, double y) {
    double level = ap.rssi;
    if (ap.hasPosition) {
        const double distance = std::hypot(x - ap.x, y - ap.y);
        if (distance > 10) {
            level -= 10 * ap.pathLoss * std::log10(distance / 10);
        }
        level -= WallLoss(scenario, ap, x, y);
        level += Shadowing(scenario, ap, x, y);
    }
    return level;
}

double ExactLevel(const Scenario& scenario, const SimAccessPoint& ap, double x, double y) {
    return std::clamp(PathLevel(scenario, ap, x, y), -100.0, -20.0);
}

Scenario BuiltInOfficeScenario() {
    Scenario scenario;
    std::string error;
    // The text is part of the program and is checked by the tests.
    ParseScenario(BuiltInOfficeScenarioText(), scenario, error);
    return scenario;
}

}  // namespace sim
