// Walls between an access point and the places it reaches: which walls the
// straight line from a source to a point crosses, and the loss they add up
// to, one point at a time or over every cell of a grid at once.
//
// The grid form is what keeps a wall-aware map live: for one source and one
// wall, the cells of a row whose line from the source crosses the wall are
// one run of columns, and each of the conditions that decide it changes at
// most once along the row, so the run's ends are found by bisection on the
// very test a single point uses. Each run is added to a difference array;
// a source's whole loss raster costs walls x rows x log(columns), whatever
// the number of cells, and agrees with the point-by-point test exactly.
#pragma once

#include <vector>

#include "coverage/coverage_map.h"
#include "coverage/survey.h"

namespace coverage {

// Whether the straight line from the source (sx, sy) to (x, y) crosses the
// wall. A line that only touches a wall at an end (its own or the wall's) is
// judged by a fixed half-open rule, so walls meeting end to end across the
// line count once, never twice or not at all; a line along a wall does not
// cross it. The same rule as the simulator's.
bool Crosses(const WallSegment& wall, double sx, double sy, double x, double y);

// The sum of `loss[w]` over the walls w crossed from the source to (x, y).
double WallLossAt(const std::vector<WallSegment>& walls, const std::vector<double>& loss, double sx,
                  double sy, double x, double y);

// The same for every cell of one row of the grid, at the cells' centres:
// out[col] for col in [0, spec.Cols()).
void WallLossRow(const GridSpec& spec, int row, const std::vector<WallSegment>& walls,
                 const std::vector<double>& loss, double sx, double sy, double* out);

}  // namespace coverage
