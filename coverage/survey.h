// What the coverage analysis works from: survey points at map positions, each
// with the access points heard there. Plain data, no Qt; the adapters in
// survey_input.h fill it from the survey list or a site file.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace coverage {

using Bssid = std::array<uint8_t, 6>;

// The level that stands for "not heard" (and the floor of every map).
constexpr double kNotHeardDbm = -100;

// One access point heard at a survey point.
struct Reading {
    Bssid bssid{};
    std::string ssid;  // the bytes as heard (see platform::TextFromBytes)
    int channel = 0;
    double rssi = kNotHeardDbm;  // dBm
};

struct SurveyPoint {
    double x = 0;  // map pixels
    double y = 0;
    std::vector<Reading> heard;  // empty: a point where nothing was heard
    std::string name;            // the bytes as stored (see platform::TextFromBytes)
};

struct Survey {
    std::vector<SurveyPoint> points;
};

// An access point of the survey, as the maps and filters know it.
struct AccessPoint {
    Bssid bssid{};
    std::string ssid;     // as first heard
    int channel = 0;      // as first heard
    int pointsHeard = 0;  // survey points that heard it
    double best = -1000;  // strongest reading, dBm
};

// The survey as the interpolation sees it. Survey points at one position are
// one site position whose levels are their average (never their sum); a
// point that did not hear an access point counts as kNotHeardDbm for it, and
// an access point heard twice at one point counts with its average.
struct SiteSamples {
    std::vector<double> x;  // distinct positions
    std::vector<double> y;
    std::vector<int> pointsAt;     // survey points at each position
    std::vector<AccessPoint> aps;  // ordered by BSSID
    std::vector<double> levels;    // position-major: levels[p * aps.size() + a]
    size_t Positions() const { return x.size(); }
    double Level(size_t position, size_t ap) const { return levels[position * aps.size() + ap]; }
};

SiteSamples PrepareSamples(const Survey& survey);

// The BSSID as "aa:bb:cc:dd:ee:ff". ParseBssid reads 12 hexadecimal digits,
// either case, bare or in pairs separated by colons (or dashes); false for
// anything else.
std::string BssidText(const Bssid& bssid);
bool ParseBssid(const std::string& text, Bssid& out);

}  // namespace coverage
