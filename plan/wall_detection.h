// Finding the walls drawn in a floor plan. Detection only proposes: the
// surveyor reviews the walls found (in the window, or with `ksf walls`) and
// corrects them before they are kept.
//
// A wall is a straight dark run at least 2 px thick and at least 1 m long,
// found as the segment along its middle. Lines 1 px thick (furniture,
// hatching, dimension lines), curves (door swings), text and solid areas
// wider than a wall are not walls; a door gap stays a gap; a wall drawn twice
// is found once. Walls that meet at a corner or a T end exactly on each other.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "sitefile/site_reader.h"

namespace plan {

// A plan as brightness, 0 black to 255 white, row by row from the top.
struct GreyPlan {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> pixels;
};

// The brightness of a site map, pixel by pixel.
GreyPlan GreyOf(const sitefile::SiteMap& map);

// A wall found: its middle line in map coordinates, where pixel (x, y) covers
// x to x + 1 and y to y + 1 (so a wall drawn over rows 182 to 187 lies at
// y = 185), and how many pixels thick it is drawn.
struct FoundWall {
    double x1 = 0;
    double y1 = 0;
    double x2 = 0;
    double y2 = 0;
    double thickness = 0;
};

// A plan without a scale is taken to have this many pixels a metre.
constexpr double kAssumedPixelsPerMetre = 24;

// The walls drawn in `plan`, a pure function of its pixels and scale (pixels
// per metre; kAssumedPixelsPerMetre without one), in a fixed order.
std::vector<FoundWall> DetectWalls(const GreyPlan& plan, std::optional<double> pixelsPerMetre);

}  // namespace plan
