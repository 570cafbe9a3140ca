// The sidecar beside a site file, `<site path>.meta.json`: what the site file
// itself has no room for, such as the map's scale. The site file is never
// changed for it.
//
//   {"pixels_per_metre": 12.5}
//
// Fields this program does not know are kept when it writes the sidecar.
#pragma once

#include <optional>
#include <string>

namespace sitefile {

std::string MetaPath(const std::string& sitePath);

struct SiteMeta {
    std::optional<double> pixelsPerMetre;
};

// Scales outside this range are refused (pixels per metre).
constexpr double kMinPixelsPerMetre = 1e-3;
constexpr double kMaxPixelsPerMetre = 1e5;

// Reads the site's sidecar. A site without one has an empty SiteMeta; a
// sidecar that cannot be read or holds a wrong value answers false with a
// one-line reason naming the sidecar.
bool ReadSiteMeta(const std::string& sitePath, SiteMeta& out, std::string& error);

// Stores the scale in the site's sidecar (created, or updated keeping its
// other fields), written beside it and renamed into place. Refuses a sidecar
// that is there but unreadable rather than replace it.
bool WriteSiteScale(const std::string& sitePath, double pixelsPerMetre, std::string& error);

}  // namespace sitefile
