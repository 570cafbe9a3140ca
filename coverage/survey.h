// What the coverage analysis works from: survey points at map positions, each
// with the access points heard there. Plain data, no Qt; the adapters in
// survey_input.h fill it from the survey list or a site file.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <tuple>
#include <vector>

#include "survey/channels.h"

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
    int frequencyMhz = 0;        // where the scanner reported it; 0 unknown
    int widthMhz = 0;            // the channel's width where reported; 0 unknown
};

struct SurveyPoint {
    double x = 0;  // map pixels
    double y = 0;
    std::vector<Reading> heard;  // empty: a point where nothing was heard
    std::string name;            // the bytes as stored (see platform::TextFromBytes)
};

// The noise floor of one channel, measured where a survey point was taken.
struct NoiseSample {
    double x = 0;  // map pixels
    double y = 0;
    int frequencyMhz = 0;
    double noiseDbm = 0;
};

// A wall of the plan, in map pixels, of a material the building knows.
struct WallSegment {
    double x1 = 0;
    double y1 = 0;
    double x2 = 0;
    double y2 = 0;
    int material = 0;  // index into Building::materialLossDb
};

// An access point whose place on the plan is known.
struct PlacedSource {
    Bssid bssid{};
    double x = 0;  // map pixels
    double y = 0;
};

// What the plan tells of the building: its walls, the loss of one crossing
// of each material at 2.4, 5 and 6 GHz before the survey calibrates it, the
// access points whose place is known, and the scale.
struct Building {
    std::vector<WallSegment> walls;
    std::vector<std::array<double, 3>> materialLossDb;
    std::vector<PlacedSource> placed;
    double pixelsPerMetre = 0;  // 0 unknown
};

struct Survey {
    std::vector<SurveyPoint> points;
    std::vector<NoiseSample> noise;  // empty: the scanner measured none
    Building building;
};

// An access point of the survey, as the maps and filters know it.
struct AccessPoint {
    Bssid bssid{};
    std::string ssid;     // as first heard
    int channel = 0;      // as first heard
    int pointsHeard = 0;  // survey points that heard it
    double best = -1000;  // strongest reading, dBm
    // The band: from the frequency where one is known, else from the channel.
    channels::Band band = channels::Band::kUnknown;
    int frequencyMhz = 0;  // 0 unknown
    int widthMhz = 0;      // 0 unknown
};

// A radio is one transmitter that may send several BSSIDs (one per SSID).
// BSSIDs on the same band and channel are one radio when they are equal once
// the locally-administered bit (0x02) of the first byte and the low four bits
// of the last byte are cleared: the schemes vendors use to derive a radio's
// further BSSIDs from its first.
struct RadioKey {
    channels::Band band = channels::Band::kUnknown;
    int channel = 0;
    Bssid masked{};
    bool operator<(const RadioKey& o) const {
        return std::tie(band, channel, masked) < std::tie(o.band, o.channel, o.masked);
    }
    bool operator==(const RadioKey& o) const {
        return band == o.band && channel == o.channel && masked == o.masked;
    }
};
RadioKey RadioKeyOf(const AccessPoint& ap);
// The radio of each access point, numbered from 1 in the order radios are
// first met in `aps`.
std::vector<int> RadioNumbers(const std::vector<AccessPoint>& aps);

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
