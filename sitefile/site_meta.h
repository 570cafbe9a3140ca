// The sidecar beside a site file, `<site path>.meta.json`: what the site file
// itself has no room for. The site file is never changed for it.
//
//   { "pixels_per_metre": 20.0,
//     "walls": [ {"x1": 0, "y1": 160, "x2": 640, "y2": 160, "material": "drywall"} ],
//     "access_points": [ {"bssid": "02:00:00:00:00:a1", "x": 100, "y": 80, "label": "AP-1"} ],
//     "bssids": { "02:00:00:00:00:a1": {"frequency": 5180, "width_mhz": 80} },
//     "noise": [ {"x": 120, "y": 160, "frequency": 5180, "noise_dbm": -95} ],
//     "estimated_levels": [ {"x": 120, "y": 160} ],
//     "walks": [ {"path": [[10, 20], [200, 20]], "times_s": [0, 12.5], "speed": 1.0,
//                 "points": ["4", "5", "6"]} ],
//     "report": {"customer": "...", "surveyor": "...", "notes": "..."} }
//
// Every field is optional. Fields this program does not know are kept, as
// they were, whenever it writes the sidecar. It is written whole, beside the
// site and renamed into place, with the site's permission bits (it holds
// BSSIDs and positions). A sidecar that cannot be read is reported, never
// replaced in silence: a write first sets it aside, byte for byte.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "coverage/survey.h"

namespace sitefile {

std::string MetaPath(const std::string& sitePath);

// Wall materials and the loss of one crossing at 2.4, 5 and 6 GHz (dB): the
// starting values that a survey calibrates.
enum class Material { kDrywall, kGlass, kWood, kBrick, kConcrete, kMetal };
constexpr int kMaterialCount = 6;
struct MaterialInfo {
    Material material;
    const char* name;
    double lossDb[3];  // 2.4, 5, 6 GHz
};
const MaterialInfo& InfoOf(Material material);
const MaterialInfo (&AllMaterials())[kMaterialCount];
// By name ("drywall", ...); false for an unknown one.
bool ParseMaterial(const std::string& name, Material& out);
// "drywall, glass, wood, brick, concrete, metal", for messages.
std::string MaterialNames();

// BSSIDs as coverage::BssidText writes them and coverage::ParseBssid reads them.
using MacBytes = coverage::Bssid;

// A wall along a segment of the plan, in map pixels.
struct Wall {
    double x1 = 0;
    double y1 = 0;
    double x2 = 0;
    double y2 = 0;
    Material material = Material::kDrywall;
};

// An access point whose place on the plan is known, in map pixels.
struct PlacedAccessPoint {
    MacBytes bssid{};
    double x = 0;
    double y = 0;
    std::string label;
};

// What the Wi-Fi adapter reported of a BSSID's channel; 0 where unknown.
struct BssidChannel {
    int frequencyMhz = 0;
    int widthMhz = 0;
};

// The noise floor of one channel measured at a survey point.
struct NoiseReading {
    double x = 0;
    double y = 0;
    int frequencyMhz = 0;
    double noiseDbm = 0;
};

// A walking survey: the corners of its path (map pixels), when the surveyor
// was at each (seconds from the walk's start, where known), the speed
// (metres a second; pixels a second on a site without scale; 0 unknown) and
// the names of the survey points it took.
struct Walk {
    std::vector<std::pair<double, double>> path;
    std::vector<double> timesS;  // empty, or one per corner
    double speed = 0;
    std::vector<std::string> points;
};

struct ReportFields {
    std::string customer;
    std::string surveyor;
    std::string notes;
    bool Empty() const { return customer.empty() && surveyor.empty() && notes.empty(); }
};

struct SiteMeta {
    std::optional<double> pixelsPerMetre;
    std::vector<Wall> walls;
    std::vector<PlacedAccessPoint> accessPoints;
    std::map<MacBytes, BssidChannel> bssids;
    std::vector<NoiseReading> noise;
    // Points whose levels the Wi-Fi adapter gave only as a signal quality,
    // stored as estimated dBm.
    std::vector<std::pair<double, double>> estimatedLevels;
    std::vector<Walk> walks;
    ReportFields report;
    // Fields this program does not know, as JSON text by name.
    std::map<std::string, std::string> otherFields;

    const PlacedAccessPoint* PlacedAt(const MacBytes& bssid) const;
};

// Limits that keep a damaged or hostile sidecar from exhausting memory.
constexpr double kMinPixelsPerMetre = 1e-3;
constexpr double kMaxPixelsPerMetre = 1e5;
constexpr size_t kMaxMetaBytes = 64u << 20;
constexpr size_t kMaxWalls = 100000;
constexpr size_t kMaxPlacedAccessPoints = 10000;
constexpr size_t kMaxBssidChannels = 100000;
constexpr size_t kMaxNoiseReadings = 1000000;
constexpr size_t kMaxWalks = 10000;
constexpr size_t kMaxWalkCorners = 100000;
constexpr size_t kMaxReportFieldBytes = 64u << 10;
// Coordinates beyond this many pixels from the origin are refused.
constexpr double kMaxMetaCoordinate = 1e7;

// Reads the site's sidecar. A site without one has an empty SiteMeta and
// answers true; a sidecar that cannot be read or holds a wrong value answers
// false with a one-line reason naming the sidecar and the field.
bool ReadSiteMeta(const std::string& sitePath, SiteMeta& out, std::string& error);

// Writes the whole sidecar. An existing sidecar that cannot be read is first
// set aside as `<sidecar>.damaged` (`.damaged.2`, ... when that is taken) and
// `note` says where it went. False with the reason when nothing was written.
bool WriteSiteMeta(const std::string& sitePath, const SiteMeta& meta, std::string& error,
                   std::string* note = nullptr);

// Reads the sidecar, lets `change` edit it and writes it back: the way every
// single change (a scale, a wall) is stored at once. A damaged sidecar is
// set aside as WriteSiteMeta does and `change` starts from an empty one.
// `change` may refuse (false, with the reason in error): nothing is written.
bool UpdateSiteMeta(const std::string& sitePath,
                    const std::function<bool(SiteMeta&, std::string& error)>& change,
                    std::string& error, std::string* note = nullptr);

// Stores the scale, keeping every other field.
bool WriteSiteScale(const std::string& sitePath, double pixelsPerMetre, std::string& error,
                    std::string* note = nullptr);

// Copies the sidecar of one site to another (Save As); no sidecar, no copy.
bool CopySiteMeta(const std::string& fromSite, const std::string& toSite, std::string& error);

// The sidecar's JSON text as WriteSiteMeta writes it.
std::string MetaText(const SiteMeta& meta);
// Parses a sidecar's text; `name` begins every message.
bool ParseSiteMeta(const std::string& text, const std::string& name, SiteMeta& out,
                   std::string& error);

}  // namespace sitefile
