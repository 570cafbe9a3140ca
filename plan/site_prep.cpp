#include "plan/site_prep.h"

#include <sys/stat.h>

#include <cmath>
#include <cstdio>

#include "plan/wall_detection.h"
#include "platform/files.h"

namespace plan {

namespace {

bool SameWall(const sitefile::Wall& a, const sitefile::Wall& b) {
    return a.x1 == b.x1 && a.y1 == b.y1 && a.x2 == b.x2 && a.y2 == b.y2 && a.material == b.material;
}

std::string Number(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%g", value);
    return text;
}

std::string TooMany(size_t limit, const char* what) {
    return "a site holds at most " + std::to_string(limit) + " " + what;
}

}  // namespace

bool ScaleFromLine(double x1, double y1, double x2, double y2, double metres,
                   double& pixelsPerMetre, std::string& error) {
    if (!std::isfinite(metres) || metres <= 0) {
        error = "the length " + Number(metres) + " is not a number of metres above 0";
        return false;
    }
    const double length = std::hypot(x2 - x1, y2 - y1);
    if (!std::isfinite(length) || length <= 0) {
        error = "the two points of the scale are the same point";
        return false;
    }
    const double scale = length / metres;
    if (scale < sitefile::kMinPixelsPerMetre || scale > sitefile::kMaxPixelsPerMetre) {
        error = "a scale of " + Number(scale) + " pixels per metre is outside " +
                Number(sitefile::kMinPixelsPerMetre) + " to " +
                Number(sitefile::kMaxPixelsPerMetre);
        return false;
    }
    pixelsPerMetre = scale;
    return true;
}

bool SitePreparation::Load(const std::string& sitePath, int width, int height, std::string& error) {
    m_sitePath = sitePath;
    m_width = width;
    m_height = height;
    m_note.clear();
    return Reload(error);
}

bool SitePreparation::Reload(std::string& error) {
    m_meta = sitefile::SiteMeta();
    sitefile::SiteMeta read;
    if (!sitefile::ReadSiteMeta(m_sitePath, read, error)) {
        return false;
    }
    m_meta = std::move(read);
    return true;
}

std::string SitePreparation::TakeNote() {
    std::string note;
    note.swap(m_note);
    return note;
}

bool SitePreparation::Update(const Change& change, std::string& error) {
    if (m_sitePath.empty()) {
        error = "open a site first";
        return false;
    }
    sitefile::SiteMeta written;
    std::string note;
    const bool stored = sitefile::UpdateSiteMeta(
        m_sitePath,
        [&](sitefile::SiteMeta& meta, std::string& why) {
            if (!change(meta, why)) {
                return false;
            }
            written = meta;
            return true;
        },
        error, &note);
    if (!stored) {
        return false;
    }
    m_meta = std::move(written);
    if (!note.empty()) {
        m_note = note;
    }
    return true;
}

bool SitePreparation::SetScale(double pixelsPerMetre, std::string& error) {
    if (!std::isfinite(pixelsPerMetre) || pixelsPerMetre < sitefile::kMinPixelsPerMetre ||
        pixelsPerMetre > sitefile::kMaxPixelsPerMetre) {
        error = "a scale of " + Number(pixelsPerMetre) + " pixels per metre is outside " +
                Number(sitefile::kMinPixelsPerMetre) + " to " +
                Number(sitefile::kMaxPixelsPerMetre);
        return false;
    }
    return Update(
        [pixelsPerMetre](sitefile::SiteMeta& meta, std::string&) {
            meta.pixelsPerMetre = pixelsPerMetre;
            return true;
        },
        error);
}

bool SitePreparation::SetScaleFromLine(double x1, double y1, double x2, double y2, double metres,
                                       std::string& error) {
    double scale = 0;
    return ScaleFromLine(x1, y1, x2, y2, metres, scale, error) && SetScale(scale, error);
}

bool SitePreparation::CheckInside(double x, double y, const char* what, std::string& error) const {
    if (std::isfinite(x) && std::isfinite(y) && x >= 0 && y >= 0 && x <= m_width && y <= m_height) {
        return true;
    }
    error = std::string(what) + " " + Number(x) + "," + Number(y) + " lies outside the " +
            std::to_string(m_width) + " x " + std::to_string(m_height) + " map";
    return false;
}

bool SitePreparation::CheckWall(const sitefile::Wall& wall, std::string& error) const {
    if (!CheckInside(wall.x1, wall.y1, "the wall's end", error) ||
        !CheckInside(wall.x2, wall.y2, "the wall's end", error)) {
        return false;
    }
    if (wall.x1 == wall.x2 && wall.y1 == wall.y2) {
        error = "the wall has no length: both its ends are at " + Number(wall.x1) + "," +
                Number(wall.y1);
        return false;
    }
    return true;
}

std::optional<size_t> SitePreparation::Locate(const std::vector<sitefile::Wall>& walls,
                                              size_t index) const {
    if (index >= m_meta.walls.size()) {
        return std::nullopt;
    }
    const sitefile::Wall& shown = m_meta.walls[index];
    if (index < walls.size() && SameWall(walls[index], shown)) {
        return index;
    }
    for (size_t i = 0; i < walls.size(); ++i) {
        if (SameWall(walls[i], shown)) {
            return i;
        }
    }
    return std::nullopt;
}

bool SitePreparation::AddWall(const sitefile::Wall& wall, std::string& error) {
    if (!CheckWall(wall, error)) {
        return false;
    }
    return Update(
        [&wall](sitefile::SiteMeta& meta, std::string& why) {
            if (meta.walls.size() >= sitefile::kMaxWalls) {
                why = TooMany(sitefile::kMaxWalls, "walls");
                return false;
            }
            meta.walls.push_back(wall);
            return true;
        },
        error);
}

bool SitePreparation::EditWall(
    size_t index, const std::function<void(std::vector<sitefile::Wall>&, size_t)>& edit,
    std::string& error) {
    return Update(
        [&](sitefile::SiteMeta& meta, std::string& why) {
            const std::optional<size_t> at = Locate(meta.walls, index);
            if (!at) {
                why = "that wall is no longer in the sidecar (changed by another program?)";
                return false;
            }
            edit(meta.walls, *at);
            return true;
        },
        error);
}

bool SitePreparation::ChangeWall(size_t index, const sitefile::Wall& to, std::string& error) {
    return CheckWall(to, error) &&
           EditWall(
               index, [&to](std::vector<sitefile::Wall>& walls, size_t at) { walls[at] = to; },
               error);
}

bool SitePreparation::DeleteWall(size_t index, std::string& error) {
    return EditWall(
        index,
        [](std::vector<sitefile::Wall>& walls, size_t at) {
            walls.erase(walls.begin() + static_cast<std::ptrdiff_t>(at));
        },
        error);
}

bool SitePreparation::ReplaceWalls(const std::vector<sitefile::Wall>& walls, std::string& error) {
    if (walls.size() > sitefile::kMaxWalls) {
        error = TooMany(sitefile::kMaxWalls, "walls");
        return false;
    }
    for (const sitefile::Wall& wall : walls) {
        if (!CheckWall(wall, error)) {
            return false;
        }
    }
    return Update(
        [&walls](sitefile::SiteMeta& meta, std::string&) {
            meta.walls = walls;
            return true;
        },
        error);
}

bool SitePreparation::PlaceAccessPoint(const sitefile::MacBytes& bssid, double x, double y,
                                       const std::string& label, std::string& error) {
    if (!CheckInside(x, y, "the access point's place", error)) {
        return false;
    }
    if (label.size() > kMaxLabelBytes) {
        error = "a label is at most " + std::to_string(kMaxLabelBytes) + " bytes";
        return false;
    }
    return Update(
        [&](sitefile::SiteMeta& meta, std::string& why) {
            for (sitefile::PlacedAccessPoint& ap : meta.accessPoints) {
                if (ap.bssid == bssid) {
                    ap.x = x;
                    ap.y = y;
                    if (!label.empty()) {
                        ap.label = label;
                    }
                    return true;
                }
            }
            if (meta.accessPoints.size() >= sitefile::kMaxPlacedAccessPoints) {
                why = TooMany(sitefile::kMaxPlacedAccessPoints, "placed access points");
                return false;
            }
            meta.accessPoints.push_back({bssid, x, y, label});
            return true;
        },
        error);
}

bool SitePreparation::UnplaceAccessPoint(const sitefile::MacBytes& bssid, std::string& error) {
    return Update(
        [&](sitefile::SiteMeta& meta, std::string& why) {
            for (auto it = meta.accessPoints.begin(); it != meta.accessPoints.end(); ++it) {
                if (it->bssid == bssid) {
                    meta.accessPoints.erase(it);
                    return true;
                }
            }
            why = coverage::BssidText(bssid) + " is not placed";
            return false;
        },
        error);
}

bool CreateSiteFromPlan(const std::string& planPath, const PlanOptions& options,
                        const std::string& sitePath, std::vector<std::string>& notes,
                        std::string& error, sitefile::SiteMap* map, Plan* plan) {
    Plan drawn;
    if (!LoadPlan(planPath, options, drawn, error)) {
        return false;
    }
    notes = drawn.notes;
    const std::string meta = sitefile::MetaPath(sitePath);
    std::string aside;
    struct stat st {};
    // A sidecar already there is another site's (one replaced, or one
    // removed without it); "-" is standard output and a device is written
    // to as it is, neither has a sidecar.
    struct stat site {};
    const bool isFile = ::stat(sitePath.c_str(), &site) != 0 || S_ISREG(site.st_mode);
    const bool stale = sitePath != "-" && isFile && ::stat(meta.c_str(), &st) == 0;
    if (stale && !platform::MoveAsideNumbered(meta, ".replaced", aside, error)) {
        error = meta + ": " + error + " (it belongs to the site being replaced; nothing written)";
        return false;
    }
    if (!WriteNewSite(drawn.image, sitePath, error, map)) {
        if (stale) {
            std::rename(aside.c_str(), meta.c_str());
        }
        return false;
    }
    if (stale) {
        notes.push_back("the sidecar found at " + meta +
                        " belongs to the site replaced (its scale, walls and access points); it "
                        "was moved aside to " +
                        aside);
    }
    if (plan != nullptr) {
        drawn.image = QImage();
        *plan = std::move(drawn);
    }
    return true;
}

std::vector<sitefile::Wall> ProposeWalls(const sitefile::SiteMap& map,
                                         std::optional<double> pixelsPerMetre,
                                         sitefile::Material material) {
    std::vector<sitefile::Wall> walls;
    for (const FoundWall& f : DetectWalls(GreyOf(map), pixelsPerMetre)) {
        walls.push_back({f.x1, f.y1, f.x2, f.y2, material});
    }
    return walls;
}

}  // namespace plan
