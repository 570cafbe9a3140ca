// A floor plan in whatever form a surveyor is sent it, drawn as a picture for
// a new site: any raster picture Qt reads (PNG, JPEG, BMP, GIF, TIFF, WebP,
// ...), SVG (and gzip-packed SVGZ) and PDF. The format is told from the
// file's contents, not its name.
#pragma once

#include <QImage>
#include <optional>
#include <string>
#include <vector>

#include "sitefile/site_reader.h"

namespace plan {

// No side of a plan is longer than this; larger ones are scaled down.
constexpr int kMaxPlanSide = 8000;
// SVG and PDF plans are drawn this many pixels wide unless asked otherwise.
constexpr int kDefaultDrawWidth = 2000;
// A picture is never decoded into more memory than this.
constexpr int kMaxDecodeMegabytes = 1024;

enum class PlanKind { kPicture, kSvg, kPdf };
// "picture", "SVG" or "PDF".
const char* PlanKindName(PlanKind kind);

struct PlanOptions {
    // The page of a PDF (or of a multi-page picture such as a TIFF), from 1.
    int page = 1;
    // SVG and PDF: the width to draw at, 1 to kMaxPlanSide pixels.
    std::optional<int> width;
};

struct Plan {
    QImage image;  // Format_RGB32, opaque (transparency laid on white paper)
    PlanKind kind = PlanKind::kPicture;
    int pages = 1;  // of a PDF or a multi-page picture
    // What was done that the surveyor should know, one sentence each:
    // scaled down, links left out of an SVG, ...
    std::vector<std::string> notes;
};

// Reads and draws the plan at `path`. False with a one-line reason that
// begins with the path and, where it can, says what would work instead.
bool LoadPlan(const std::string& path, const PlanOptions& options, Plan& out, std::string& error);

// Whether the file at `path` is a plan, told from its contents: a PDF, an
// SVG, a picture Qt can decode, or a drawing in a form Kestrow does not read
// (DWG, PostScript, ...) for which LoadPlan says what to do.
bool LooksLikePlan(const std::string& path);

// Writes a new, empty site file at `sitePath` whose map is `plan` in 256
// colours (plan_palette.h), replacing any file there only once the new one
// is whole. `map`, when given, gets the map as written. False with a
// one-line reason beginning with the path.
bool WriteNewSite(const QImage& plan, const std::string& sitePath, std::string& error,
                  sitefile::SiteMap* map = nullptr);

}  // namespace plan
