// Surveys of made-up sites for the coverage tests: access points whose level
// falls off smoothly with distance, read at chosen positions, with or without
// noise. Readings weaker than -95 dBm are not heard at all.
#pragma once

#include <cmath>
#include <cstdint>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "coverage/survey.h"

namespace coverage_test {

struct TestAp {
    uint8_t id;
    std::string ssid;
    int channel;
    double x;
    double y;
    double level;  // dBm at the access point
};

// 0.2 dB a pixel plus a gentle ripple, so the field is neither flat nor a cone.
inline double FieldLevel(const TestAp& ap, double x, double y) {
    const double d = std::hypot(x - ap.x, y - ap.y);
    return ap.level - 0.2 * d + 2 * std::sin(x / 23.0) * std::cos(y / 31.0);
}

// A level that falls 30 dB a decade of distance from a source at (sx, sy):
// -40 dBm at 10 pixels, and no stronger nearer.
inline double LogDistanceLevel(double sx, double sy, double x, double y) {
    return -40 - 30 * std::log10(std::max(1.0, std::hypot(x - sx, y - sy) / 10));
}

// Each id its own radio; a radio's further BSSIDs differ in the last byte's
// low four bits (`sibling`), as vendors number them.
inline coverage::Bssid TestBssid(uint8_t id, uint8_t sibling = 0) {
    return {0x00, 0x1d, 0x7e, 0x4a, id, static_cast<uint8_t>(0x10 | sibling)};
}

inline coverage::Survey MakeSurvey(const std::vector<TestAp>& aps,
                                   const std::vector<std::pair<double, double>>& positions,
                                   double noise = 0, uint32_t seed = 1) {
    std::mt19937 random(seed);
    std::normal_distribution<double> gauss(0, 1);
    coverage::Survey survey;
    for (const auto& [x, y] : positions) {
        coverage::SurveyPoint point;
        point.x = x;
        point.y = y;
        for (const TestAp& ap : aps) {
            const double level = std::round(FieldLevel(ap, x, y) + noise * gauss(random));
            if (level >= -95) {
                coverage::Reading r;
                r.bssid = TestBssid(ap.id);
                r.ssid = ap.ssid;
                r.channel = ap.channel;
                r.rssi = std::min(-20.0, level);
                point.heard.push_back(r);
            }
        }
        survey.points.push_back(point);
    }
    return survey;
}

// `count` positions spread over a width x height map: one in each cell of a
// grid, at a random place within it, on whole pixels.
inline std::vector<std::pair<double, double>> SpreadPositions(int count, int width, int height,
                                                              uint32_t seed = 7) {
    std::mt19937 random(seed);
    std::uniform_real_distribution<double> unit(0, 1);
    const int cols = static_cast<int>(std::ceil(std::sqrt(count * double(width) / height)));
    const int rows = (count + cols - 1) / cols;
    std::vector<std::pair<double, double>> out;
    for (int i = 0; i < count; ++i) {
        const int c = i % cols, r = i / cols;
        out.push_back({std::floor((c + unit(random)) * width / cols),
                       std::floor((r + unit(random)) * height / rows)});
    }
    return out;
}

// Four access points on a 200 x 150 map: two SSIDs, three channels.
inline std::vector<TestAp> FourAps() {
    return {{1, "Corp", 36, 30, 30, -35},
            {2, "Corp", 52, 170, 40, -40},
            {3, "Guest", 36, 100, 120, -38},
            {4, "Guest", 149, 20, 140, -45}};
}

}  // namespace coverage_test
