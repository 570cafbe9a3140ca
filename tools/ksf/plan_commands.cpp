// ksf create and ksf walls: a new site from a floor plan, and the walls kept
// beside it.
#include <QImage>
#include <cmath>
#include <cstdio>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "picture/coverage_image.h"
#include "picture/png_output.h"
#include "picture/walls_picture.h"
#include "plan/plan_import.h"
#include "plan/site_prep.h"
#include "sitefile/site_meta.h"
#include "tools/ksf/ksf.h"

namespace {

void Note(const std::string& note) {
    std::fprintf(stderr, "ksf: note: %s\n", note.c_str());
}

// One --add value: X1,Y1,X2,Y2 and, after a fourth comma, the material.
bool ParseWall(const std::string& text, sitefile::Wall& wall, std::string& error) {
    size_t commas = 0;
    size_t cut = std::string::npos;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == ',' && ++commas == 4) {
            cut = i;
            break;
        }
    }
    double v[4];
    if (!ParseSegment(text.substr(0, cut), v)) {
        error = "bad wall '" + text + "' (X1,Y1,X2,Y2[,MATERIAL] in map pixels)";
        return false;
    }
    wall = {v[0], v[1], v[2], v[3], sitefile::Material::kDrywall};
    if (cut != std::string::npos) {
        const std::string material = text.substr(cut + 1);
        if (!sitefile::ParseMaterial(material, wall.material)) {
            error = "unknown material '" + material + "' (" + sitefile::MaterialNames() + ")";
            return false;
        }
    }
    if (wall.x1 == wall.x2 && wall.y1 == wall.y2) {
        error = "the wall '" + text + "' has no length";
        return false;
    }
    return true;
}

double LengthOf(const std::vector<sitefile::Wall>& walls) {
    double length = 0;
    for (const sitefile::Wall& w : walls) {
        length += std::hypot(w.x2 - w.x1, w.y2 - w.y1);
    }
    return length;
}

std::string LengthText(double pixels, const sitefile::SiteMeta& meta) {
    char text[64];
    if (meta.pixelsPerMetre) {
        std::snprintf(text, sizeof text, "%.1f m", pixels / *meta.pixelsPerMetre);
    } else {
        std::snprintf(text, sizeof text, "%.0f px", pixels);
    }
    return text;
}

void PrintWalls(const std::vector<sitefile::Wall>& walls, bool json) {
    if (!json) {
        for (const sitefile::Wall& w : walls) {
            std::printf("%g,%g,%g,%g,%s\n", w.x1, w.y1, w.x2, w.y2,
                        sitefile::InfoOf(w.material).name);
        }
        return;
    }
    // The sidecar's own layout of its walls.
    sitefile::SiteMeta only;
    only.walls = walls;
    const nlohmann::json listed = nlohmann::json::parse(sitefile::MetaText(only));
    std::printf("%s\n", listed.value("walls", nlohmann::json::array()).dump(2, ' ', true).c_str());
}

}  // namespace

int Create(const Args& args) {
    if (!args.positional.empty() || args.map.empty() || args.output.empty()) {
        return UsageError("create needs --map PLAN and -o SITE");
    }
    plan::PlanOptions options;
    long number = 0;
    if (args.given.count("--page") != 0) {
        if (!ParseInt(args.page, 1, 1000000, number)) {
            return UsageError("bad page '" + args.page + "' (a page number from 1)");
        }
        options.page = static_cast<int>(number);
    }
    if (args.given.count("--width") != 0) {
        if (!ParseInt(args.width, 1, plan::kMaxPlanSide, number)) {
            return UsageError("bad width '" + args.width + "' (1 to " +
                              std::to_string(plan::kMaxPlanSide) + " pixels)");
        }
        options.width = static_cast<int>(number);
    }
    plan::Plan plan;
    std::vector<std::string> notes;
    sitefile::SiteMap map;
    std::string error;
    if (!plan::CreateSiteFromPlan(args.map, options, args.output, notes, error, &map, &plan)) {
        return WorkError(error);
    }
    if (options.width && plan.kind == plan::PlanKind::kPicture) {
        Note("--width is for SVG and PDF plans; a picture keeps its own size");
    }
    for (const std::string& note : notes) {
        Note(note);
    }
    std::string from = std::string("the ") + plan::PlanKindName(plan.kind);
    if (plan.pages > 1) {
        from = "page " + std::to_string(options.page) + " of " + std::to_string(plan.pages) +
               " of " + from;
    }
    std::printf("site: %s, a map of %d x %d pixels from %s\n", args.output.c_str(), map.width,
                map.height, from.c_str());
    return 0;
}

int Walls(const Args& args) {
    if (args.positional.size() != 1) {
        return UsageError("walls needs one SITE");
    }
    const bool add = args.given.count("--add") != 0;
    const bool detect = args.given.count("--detect") != 0;
    const bool clear = args.given.count("--clear") != 0;
    if (add + detect + clear > 1) {
        return UsageError("give one of --add, --detect and --clear");
    }
    if (args.given.count("--material") != 0 && !detect) {
        return UsageError("--material goes with --detect (a wall added gives its own)");
    }
    sitefile::Material material = sitefile::Material::kDrywall;
    if (detect && args.given.count("--material") != 0 &&
        !sitefile::ParseMaterial(args.material, material)) {
        return UsageError("unknown material '" + args.material + "' (" + sitefile::MaterialNames() +
                          ")");
    }
    const std::string format = args.given.count("--format") != 0 ? args.format : "text";
    if (format != "text" && format != "json") {
        return UsageError("unknown format '" + format + "' (text or json)");
    }
    if (args.given.count("--format") != 0 && (add || detect || clear)) {
        return UsageError("--format is for listing the walls");
    }
    std::vector<sitefile::Wall> added;
    for (const std::string& text : args.walls) {
        sitefile::Wall wall;
        std::string error;
        if (!ParseWall(text, wall, error)) {
            return UsageError(error);
        }
        added.push_back(wall);
    }

    if (args.given.count("-o") != 0 && args.output == "-") {
        return UsageError("write the walls' picture to a file (-o PNG)");
    }
    if (OutputIsTheSite(args)) {
        return UsageError("-o " + args.output + " is the site itself");
    }

    const std::string& path = args.positional[0];
    sitefile::SiteFileReader reader;
    sitefile::SiteMap map;
    std::string error;
    if (!OpenAcceptedSite(path, reader, error, &map)) {
        return WorkError(error);
    }
    for (const sitefile::Wall& w : added) {
        const auto inside = [&](double x, double y) {
            return x >= 0 && y >= 0 && x <= map.width && y <= map.height;
        };
        if (!inside(w.x1, w.y1) || !inside(w.x2, w.y2)) {
            char text[160];
            std::snprintf(text, sizeof text, "the wall %g,%g,%g,%g runs outside the %d x %d map",
                          w.x1, w.y1, w.x2, w.y2, map.width, map.height);
            return UsageError(text);
        }
    }

    sitefile::SiteMeta meta;
    std::string note;
    size_t before = 0;
    if (add || detect || clear) {
        std::vector<sitefile::Wall> found;
        if (detect) {
            sitefile::SiteMeta current;
            std::string ignored;
            sitefile::ReadSiteMeta(path, current, ignored);  // only its scale matters here
            if (!current.pixelsPerMetre) {
                Note(
                    "the site has no scale, so a metre is taken as 24 pixels: set the scale "
                    "first (ksf scale) for a plan drawn larger than that");
            }
            found = plan::ProposeWalls(map, current.pixelsPerMetre, material);
        }
        const bool stored = sitefile::UpdateSiteMeta(
            path,
            [&](sitefile::SiteMeta& m, std::string& why) {
                before = m.walls.size();
                if (clear) {
                    m.walls.clear();
                } else if (detect) {
                    m.walls = found;
                } else {
                    m.walls.insert(m.walls.end(), added.begin(), added.end());
                }
                if (m.walls.size() > sitefile::kMaxWalls) {
                    why = "a site holds at most " + std::to_string(sitefile::kMaxWalls) + " walls";
                    return false;
                }
                meta = m;
                return true;
            },
            error, &note);
        if (!stored) {
            return WorkError(error);
        }
        if (!note.empty()) {
            std::fprintf(stderr, "ksf: warning: %s\n", note.c_str());
        }
        const std::string where = sitefile::MetaPath(path);
        if (detect) {
            std::printf("walls: %zu found in the plan (%s), replacing %zu, in %s\n",
                        meta.walls.size(), LengthText(LengthOf(meta.walls), meta).c_str(), before,
                        where.c_str());
        } else if (clear) {
            std::printf("walls: none (%zu removed), in %s\n", before, where.c_str());
        } else {
            std::printf("walls: %zu (%zu added), in %s\n", meta.walls.size(), added.size(),
                        where.c_str());
        }
    } else {
        if (!sitefile::ReadSiteMeta(path, meta, error)) {
            return WorkError(error);
        }
        PrintWalls(meta.walls, format == "json");
    }

    if (args.given.count("-o") != 0) {
        const QImage picture =
            picture::WallsPicture(picture::SiteMapImage(map), meta.walls, meta.pixelsPerMetre);
        std::fflush(stdout);
        if (!picture::WritePng(args.output, picture, error)) {
            return WorkError(error);
        }
    }
    return 0;
}
