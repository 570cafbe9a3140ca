#include "coverage/walls.h"

#include <algorithm>
#include <array>
#include <functional>

namespace coverage {

namespace {

// Which side of the line through a and b the point p lies on: true for the
// left (counter-clockwise) side; a point on the line counts as the right side.
bool LeftOf(double ax, double ay, double bx, double by, double px, double py) {
    return (bx - ax) * (py - ay) - (by - ay) * (px - ax) > 0;
}

}  // namespace

bool Crosses(const WallSegment& w, double sx, double sy, double x, double y) {
    return LeftOf(w.x1, w.y1, w.x2, w.y2, sx, sy) != LeftOf(w.x1, w.y1, w.x2, w.y2, x, y) &&
           LeftOf(sx, sy, x, y, w.x1, w.y1) != LeftOf(sx, sy, x, y, w.x2, w.y2);
}

double WallLossAt(const std::vector<WallSegment>& walls, const std::vector<double>& loss, double sx,
                  double sy, double x, double y) {
    double total = 0;
    for (size_t w = 0; w < walls.size(); ++w) {
        if (loss[w] != 0 && Crosses(walls[w], sx, sy, x, y)) {
            total += loss[w];
        }
    }
    return total;
}

void WallLossRow(const GridSpec& spec, int row, const std::vector<WallSegment>& walls,
                 const std::vector<double>& loss, double sx, double sy, double* out) {
    const int cols = spec.Cols();
    std::vector<double> diff(static_cast<size_t>(cols) + 1, 0.0);
    const double y = spec.CentreY(row);
    for (size_t w = 0; w < walls.size(); ++w) {
        const WallSegment& wall = walls[w];
        if (loss[w] == 0 || cols == 0) {
            continue;
        }
        // Each condition of Crosses() is the sign of an expression linear in
        // the cell's x, evaluated with monotone floating-point steps: along
        // the row it changes at most once. Its change is found by bisection
        // on the expression itself; between the changes the crossing test is
        // constant, so one column decides each stretch.
        const std::array<std::function<bool(double)>, 3> conditions = {
            [&](double x) { return LeftOf(wall.x1, wall.y1, wall.x2, wall.y2, x, y); },
            [&](double x) { return LeftOf(sx, sy, x, y, wall.x1, wall.y1); },
            [&](double x) { return LeftOf(sx, sy, x, y, wall.x2, wall.y2); }};
        std::array<int, 5> cuts = {0, cols, cols, cols, cols};
        for (size_t c = 0; c < conditions.size(); ++c) {
            const bool first = conditions[c](spec.CentreX(0));
            int lo = 0, hi = cols;  // the first column where the condition differs, or cols
            while (hi - lo > 1) {
                const int mid = lo + (hi - lo) / 2;
                (conditions[c](spec.CentreX(mid)) == first ? lo : hi) = mid;
            }
            cuts[c + 1] = hi;
        }
        std::sort(cuts.begin(), cuts.end());
        for (size_t k = 0; k + 1 < cuts.size(); ++k) {
            const int begin = cuts[k], end = cuts[k + 1];
            if (begin < end && Crosses(wall, sx, sy, spec.CentreX(begin), y)) {
                diff[static_cast<size_t>(begin)] += loss[w];
                diff[static_cast<size_t>(end)] -= loss[w];
            }
        }
    }
    double depth = 0;
    for (int col = 0; col < cols; ++col) {
        depth += diff[static_cast<size_t>(col)];
        out[col] = depth;
    }
}

}  // namespace coverage
