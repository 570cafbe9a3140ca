// Coverage requirements: a profile says what a place needs (a strongest
// signal, a second access point for roaming, few access points sharing the
// strongest one's channel), and the survey is judged against it twice:
//
//   - at each survey point, on exactly what was heard there (no
//     interpolation), with the failing conditions as the reason;
//   - over the area, on the cells of a coverage map, each cell with a value
//     passing or failing on the map's interpolated levels.
//
//   coverage::Profile profile;
//   if (!coverage::ResolveProfile("voice", profile, error)) { ... }
//   auto points = coverage::JudgePoints(survey, profile);
//   auto area = coverage::JudgeArea(*model, profile);   // the model a map is drawn from
//   double percent = area.PassPercent();                 // 87.5
//
// The rules are the maps' own: an access point a survey point did not hear
// counts as kNotHeardDbm there, one heard twice at a point counts with its
// average, and a level passes a minimum it equals (-67 passes >= -67).
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "coverage/coverage_map.h"
#include "coverage/survey.h"

namespace coverage {

// Access points at or above this level count towards max_cochannel when a
// profile does not say otherwise: the level at which a radio defers to
// another one's transmission.
constexpr double kDefaultCochannelThresholdDbm = -82;

struct Profile {
    std::string name;
    std::optional<double> minStrongestDbm;  // the strongest level must reach this
    std::optional<double> minSecondDbm;     // and the second strongest this
    std::optional<int> maxCochannel;        // access points on the strongest one's channel,
                                            // that one included, at or above the threshold
    double cochannelThresholdDbm = kDefaultCochannelThresholdDbm;
    std::vector<std::string> ssids;  // judged over these SSIDs only; empty: every access point

    ApFilter Filter() const;
    // The conditions as one line, e.g. "strongest >= -67 dBm, second >= -67 dBm";
    // "no condition" for a profile that sets none.
    std::string Describe() const;
};

// The built-in profiles: data (strongest >= -70 dBm) and voice (strongest and
// second strongest >= -67 dBm).
std::vector<std::string> BuiltInProfileNames();
bool BuiltInProfile(const std::string& name, Profile& out);

// A profile from JSON text: {"name": "...", "min_strongest_dbm": -67,
// "min_second_dbm": -67, "max_cochannel": 2, "cochannel_threshold_dbm": -82,
// "ssids": ["Corp"]}, every field but name optional. False with a one-line
// reason naming the field for an unknown field, a wrong type or a value out of
// range.
bool ParseProfile(const std::string& json, Profile& out, std::string& error);

// A built-in profile by its name, else the profile file at that path (a file
// named like a built-in profile is given as ./voice). False with a one-line
// reason: an unknown name, a file that cannot be read, a bad profile.
bool ResolveProfile(const std::string& nameOrPath, Profile& out, std::string& error);

// What a profile is judged on at one place, over its access points.
struct Levels {
    double strongest = kNotHeardDbm;  // dBm
    double second = kNotHeardDbm;     // dBm
    int cochannel = 0;                // access points at or above the threshold on
    int channel = 0;                  // the strongest one's channel (0: nothing heard)
};

struct PointVerdict {
    size_t index = 0;  // in the survey's points
    double x = 0;
    double y = 0;
    std::string name;  // the bytes as stored
    Levels levels;
    bool pass = false;
    std::string reason;  // the failing conditions, e.g. "strongest -71 dBm < -67"; empty on a pass
};

// Every survey point, in the survey's order.
std::vector<PointVerdict> JudgePoints(const Survey& survey, const Profile& profile);

enum class CellVerdict : uint8_t { kNone, kFail, kPass };

struct AreaVerdict {
    GridSpec spec;
    std::vector<CellVerdict> cells;  // row by row, as a Grid's values
    size_t judged = 0;               // cells with a value
    size_t passing = 0;

    CellVerdict At(int col, int row) const {
        return cells[static_cast<size_t>(row) * spec.Cols() + col];
    }
    // The share of judged cells that pass, in percent to one decimal, rounded
    // down: 100.0 means every cell, and a minimum of one decimal is reached
    // exactly when the share itself reaches it. 0 when no cell has a value.
    double PassPercent() const;
};

// Judges every cell of the model's grid that has a value. The model must hold
// the profile's access points (built over every access point, or with the
// profile's filter); check and report build theirs over every access point on
// DefaultGridSpec, and a window that shows the same verdicts does the same.
AreaVerdict JudgeArea(const CoverageModel& model, const Profile& profile);

// The verdict on the area: its pass percent (as shown, one decimal) reaches
// the minimum.
inline bool AreaPasses(double passPercent, double minimumPercent) {
    return passPercent >= minimumPercent;
}

// A level as the reasons write it: whole dBm without decimals, else one.
std::string DbmText(double dbm);

}  // namespace coverage
