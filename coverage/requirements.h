// Coverage requirements: a profile says what a place needs (a strongest
// signal, a second radio for roaming, enough radios to locate a device, a
// signal well above the noise, few radios sharing the strongest one's
// channel), and the survey is judged against it twice:
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
// The rules are the maps' own: radios are counted (radios.h), an access
// point a survey point did not hear counts as kNotHeardDbm there, one heard
// twice at a point counts with its average, and a level passes a minimum it
// equals (-67 passes >= -67).
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
    std::optional<double> minStrongestDbm;  // the strongest radio must reach this
    std::optional<double> minSecondDbm;     // and the second strongest radio this
    std::optional<int> maxCochannel;        // radios sharing the strongest one's channel,
                                            // it included, at or above the threshold
    double cochannelThresholdDbm = kDefaultCochannelThresholdDbm;
    std::optional<int> minRadios;        // at least this many radios
    std::optional<double> minRadiosDbm;  // at or above this level (given with minRadios)
    std::optional<double> minSnrDb;      // the strongest radio over its channel's noise
    std::vector<std::string> ssids;      // judged over these SSIDs only; empty: every one
    std::vector<channels::Band> bands;   // and these bands only; empty: every band

    ApFilter Filter() const;
    // The conditions as one line, e.g. "strongest >= -67 dBm, second radio >= -67 dBm";
    // "no condition" for a profile that sets none.
    std::string Describe() const;
};

// The built-in profiles: data (strongest >= -70 dBm), voice (strongest and
// second strongest radio >= -67 dBm) and location (3 radios >= -75 dBm).
std::vector<std::string> BuiltInProfileNames();
bool BuiltInProfile(const std::string& name, Profile& out);

// A profile from JSON text: {"name": "...", "min_strongest_dbm": -67,
// "min_second_dbm": -67, "max_cochannel": 2, "cochannel_threshold_dbm": -82,
// "min_radios": 3, "min_radios_dbm": -75, "min_snr_db": 25, "ssids": ["Corp"],
// "bands": ["5", "6"]}, every field but name optional (min_radios and
// min_radios_dbm go together). False with a one-line reason naming the field
// for an unknown field, a wrong type or a value out of range.
bool ParseProfile(const std::string& json, Profile& out, std::string& error);

// A built-in profile by its name, else the profile file at that path (a file
// named like a built-in profile is given as ./voice). False with a one-line
// reason: an unknown name, a file that cannot be read, a bad profile.
bool ResolveProfile(const std::string& nameOrPath, Profile& out, std::string& error);

// What a profile is judged on at one place, over its radios.
struct Levels {
    double strongest = kNotHeardDbm;  // dBm
    double second = kNotHeardDbm;     // dBm, the second strongest radio
    int cochannel = 0;                // radios at or above the threshold on
    int channel = 0;                  // the strongest one's channel (0: nothing heard)
    channels::Band band = channels::Band::kUnknown;        // the strongest radio's
    channels::Band secondBand = channels::Band::kUnknown;  // the second radio's
    int radios = 0;                                        // radios at or above min_radios_dbm
    bool noiseMeasured = false;                            // any noise measured at the point
    std::optional<double> snr;  // dB; none where its channel's noise is unknown
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
