// How walls are found:
//  1. Darkness: each pixel's place between the paper's brightness (the most
//     common bright level) and the ink's (the darkest half percent, at most
//     a dark grey), so faint scans and coloured plans read like clean ones.
//  2. Ink is what is at least 30% dark; an opening with a 2 x 2 square keeps
//     only strokes at least 2 px thick, which drops 1-px lines and specks.
//  3. The thick strokes are thinned to their 1-px middle lines, traced into
//     polylines, and the polylines cut into straight pieces (a door's arc
//     becomes pieces too short to count).
//  4. Each piece is measured across: how thick it is and how much darkness
//     lies across it (an anti-aliased 1-px line is as wide as a 2-px one
//     but holds only half the darkness), and whether its edges are straight
//     (lettering, even blurred into a bar, is thinner between its letters).
//  5. Pieces on one line are joined when they overlap or when ink runs
//     between them: at junctions it does, over a door gap it does not.
//  6. Each joined wall is fitted again, moved onto the middle of its ink and
//     lengthened to where its ink ends; joined once more (close junctions
//     leave a wall in parts the first time) and kept if it is long enough and
//     not a stroke of a line of text. Walls that end on another are then cut
//     or lengthened to meet it exactly.
#include "plan/wall_detection.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <numeric>
#include <unordered_map>
#include <unordered_set>

namespace plan {

namespace {

constexpr int kInkLevel = 77;           // darkness (of 255) from which a pixel is ink
constexpr double kMinDarkAcross = 1.4;  // darkness across a wall, in pixels of black
constexpr double kEdgeLevel = 0.2;      // darkness beside a stroke that is its own edge
constexpr double kMinSteady = 0.9;      // a wall's edges are straight; blurred lettering's are not
constexpr double kStrayLength = 3;      // of the usual wall thickness: shorter ones meet a long one
constexpr double kHairline = 0.25;      // of the plan's usual wall thickness: thinner is no wall
constexpr double kMaxBend = 0.14;       // radians a wall's halves may differ (8°)
constexpr double kStraightness = 1.5;   // px a straight piece may stray from its chord
constexpr double kMinPieceLength = 6;   // px; shorter pieces are junction and letter bits
constexpr double kMaxAngle = 0.14;      // sine of the largest angle between joined pieces (8°)
constexpr double kMinMeetingAngle = 0.5;  // sine of the smallest angle at which walls meet (30°)
constexpr int kGridCell = 32;             // px, for finding the pieces near a piece

struct Point {
    double x = 0;
    double y = 0;
};

// A raster of bytes with a border one pixel wide that is always 0, so the
// eight neighbours of every pixel can be read without bounds checks.
class Field {
  public:
    Field(int width, int height)
        : m_width(width), m_height(height), m_values(Size(width, height), 0) {}
    int Stride() const { return m_width + 2; }
    size_t IndexOf(int x, int y) const {
        return static_cast<size_t>(y + 1) * Stride() + static_cast<size_t>(x + 1);
    }
    int XOf(size_t index) const { return static_cast<int>(index % Stride()) - 1; }
    int YOf(size_t index) const { return static_cast<int>(index / Stride()) - 1; }
    uint8_t& operator[](size_t index) { return m_values[index]; }
    uint8_t operator[](size_t index) const { return m_values[index]; }
    uint8_t& At(int x, int y) { return m_values[IndexOf(x, y)]; }
    // Any pixel; 0 outside the plan.
    uint8_t Get(int x, int y) const {
        return x < 0 || y < 0 || x >= m_width || y >= m_height ? 0 : m_values[IndexOf(x, y)];
    }
    int Width() const { return m_width; }
    int Height() const { return m_height; }

  private:
    static size_t Size(int w, int h) { return static_cast<size_t>(w + 2) * (h + 2); }
    int m_width;
    int m_height;
    std::vector<uint8_t> m_values;
};

// Darkness, 0 (paper) to 255 (ink); false when the plan has no contrast.
bool Darkness(const GreyPlan& plan, Field& dark) {
    std::array<uint64_t, 256> histogram{};
    for (uint8_t v : plan.pixels) {
        ++histogram[v];
    }
    int paper = 255;
    uint64_t most = 0;
    for (int v = 128; v < 256; ++v) {
        if (histogram[v] > most) {
            most = histogram[v];
            paper = v;
        }
    }
    int ink = 0;
    uint64_t seen = 0;
    for (int v = 0; v < 256; ++v) {
        seen += histogram[v];
        if (seen * 200 >= plan.pixels.size()) {
            ink = v;
            break;
        }
    }
    ink = std::min(ink, 64);
    if (paper - ink < 40) {
        return false;
    }
    for (int y = 0; y < plan.height; ++y) {
        const uint8_t* row = plan.pixels.data() + static_cast<size_t>(y) * plan.width;
        for (int x = 0; x < plan.width; ++x) {
            dark.At(x, y) =
                static_cast<uint8_t>(std::clamp((paper - row[x]) * 255 / (paper - ink), 0, 255));
        }
    }
    return true;
}

// Ink at least 2 px thick: ink, its one-pixel holes filled, opened with a
// 2 x 2 square.
Field ThickInk(const Field& dark) {
    const int w = dark.Width();
    const int h = dark.Height();
    Field ink(w, h);
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            ink.At(x, y) = dark.Get(x, y) >= kInkLevel;
        }
    }
    for (int y = 1; y + 1 < h; ++y) {
        for (int x = 1; x + 1 < w; ++x) {
            if (!ink.Get(x, y) && ink.Get(x - 1, y) && ink.Get(x + 1, y) && ink.Get(x, y - 1) &&
                ink.Get(x, y + 1)) {
                ink.At(x, y) = 1;
            }
        }
    }
    Field square(w, h);  // the square with its top left corner here fits in the ink
    for (int y = 0; y + 1 < h; ++y) {
        for (int x = 0; x + 1 < w; ++x) {
            square.At(x, y) =
                ink.Get(x, y) & ink.Get(x + 1, y) & ink.Get(x, y + 1) & ink.Get(x + 1, y + 1);
        }
    }
    Field thick(w, h);
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            thick.At(x, y) = square.Get(x, y) | square.Get(x - 1, y) | square.Get(x, y - 1) |
                             square.Get(x - 1, y - 1);
        }
    }
    return thick;
}

// The eight neighbours, clockwise from north.
std::array<long, 8> NeighbourOffsets(const Field& f) {
    const long s = f.Stride();
    return {-s, -s + 1, 1, s + 1, s, s - 1, -1, -s - 1};
}

// Zhang-Suen thinning, in place: every stroke becomes its 1-px middle line.
void Thin(Field& f) {
    const std::array<long, 8> off = NeighbourOffsets(f);
    std::vector<size_t> live;
    for (int y = 0; y < f.Height(); ++y) {
        for (int x = 0; x < f.Width(); ++x) {
            if (f.At(x, y)) {
                live.push_back(f.IndexOf(x, y));
            }
        }
    }
    std::vector<size_t> removed;
    bool changed = true;
    while (changed) {
        changed = false;
        for (int step = 0; step < 2; ++step) {
            removed.clear();
            for (size_t p : live) {
                if (!f[p]) {
                    continue;
                }
                int n[8];
                int count = 0;
                for (int k = 0; k < 8; ++k) {
                    n[k] = f[p + off[k]] != 0;
                    count += n[k];
                }
                int rises = 0;
                for (int k = 0; k < 8; ++k) {
                    rises += !n[k] && n[(k + 1) % 8];
                }
                if (count < 2 || count > 6 || rises != 1) {
                    continue;
                }
                const bool keep = step == 0 ? (n[0] && n[2] && n[4]) || (n[2] && n[4] && n[6])
                                            : (n[0] && n[2] && n[6]) || (n[0] && n[4] && n[6]);
                if (!keep) {
                    removed.push_back(p);
                }
            }
            for (size_t p : removed) {
                f[p] = 0;
            }
            changed = changed || !removed.empty();
        }
        live.erase(std::remove_if(live.begin(), live.end(), [&f](size_t p) { return !f[p]; }),
                   live.end());
    }
}

// The thinned strokes as polylines of pixel centres: from every end and
// junction to the next, then the closed loops that have neither.
std::vector<std::vector<Point>> Trace(const Field& skeleton) {
    const std::array<long, 8> off = NeighbourOffsets(skeleton);
    // Straight neighbours first, so a path takes the step along it.
    constexpr int kOrder[8] = {0, 2, 4, 6, 1, 3, 5, 7};
    auto isNode = [&](size_t p) {
        int count = 0;
        int rises = 0;
        for (int k = 0; k < 8; ++k) {
            count += skeleton[p + off[k]] != 0;
            rises += !skeleton[p + off[k]] && skeleton[p + off[(k + 1) % 8]];
        }
        return count <= 1 || (count >= 3 && rises >= 3);
    };
    std::vector<uint8_t> visited(static_cast<size_t>(skeleton.Stride()) * (skeleton.Height() + 2));
    std::vector<uint8_t> node(visited.size());
    std::vector<size_t> pixels;
    for (int y = 0; y < skeleton.Height(); ++y) {
        for (int x = 0; x < skeleton.Width(); ++x) {
            const size_t p = skeleton.IndexOf(x, y);
            if (skeleton[p]) {
                pixels.push_back(p);
                node[p] = isNode(p);
            }
        }
    }
    auto centre = [&](size_t p) { return Point{skeleton.XOf(p) + 0.5, skeleton.YOf(p) + 0.5}; };
    std::vector<std::vector<Point>> lines;
    auto follow = [&](size_t start, size_t first) {
        std::vector<Point> line = {centre(start), centre(first)};
        visited[first] = 1;
        size_t previous = start;
        size_t current = first;
        while (!node[current]) {
            size_t next = 0;
            size_t end = 0;
            for (int k : kOrder) {
                const size_t q = current + off[k];
                if (!skeleton[q] || q == previous) {
                    continue;
                }
                if (node[q]) {
                    end = end != 0 ? end : q;
                } else if (!visited[q] && next == 0) {
                    next = q;
                }
            }
            if (end != 0 && (end != start || line.size() > 2)) {
                line.push_back(centre(end));
                break;
            }
            if (next == 0) {
                break;
            }
            visited[next] = 1;
            line.push_back(centre(next));
            previous = current;
            current = next;
        }
        lines.push_back(std::move(line));
    };
    for (size_t p : pixels) {
        if (!node[p]) {
            continue;
        }
        for (int k : kOrder) {
            const size_t q = p + off[k];
            if (skeleton[q] && !node[q] && !visited[q]) {
                follow(p, q);
            }
        }
    }
    for (size_t p : pixels) {
        if (node[p] || visited[p]) {
            continue;
        }
        visited[p] = 1;
        for (int k : kOrder) {
            const size_t q = p + off[k];
            if (skeleton[q] && !visited[q]) {
                follow(p, q);
                break;
            }
        }
    }
    return lines;
}

double DistanceToChord(const Point& p, const Point& a, const Point& b) {
    const double dx = b.x - a.x;
    const double dy = b.y - a.y;
    const double length = std::hypot(dx, dy);
    if (length == 0) {
        return std::hypot(p.x - a.x, p.y - a.y);
    }
    return std::fabs((p.x - a.x) * dy - (p.y - a.y) * dx) / length;
}

// Douglas-Peucker: the indices of the corners that keep every point within
// kStraightness of the chords between them.
std::vector<size_t> Corners(const std::vector<Point>& line) {
    std::vector<uint8_t> keep(line.size(), 0);
    keep.front() = keep.back() = 1;
    std::vector<std::pair<size_t, size_t>> spans = {{0, line.size() - 1}};
    while (!spans.empty()) {
        const auto [a, b] = spans.back();
        spans.pop_back();
        double worst = 0;
        size_t at = a;
        for (size_t i = a + 1; i < b; ++i) {
            const double d = DistanceToChord(line[i], line[a], line[b]);
            if (d > worst) {
                worst = d;
                at = i;
            }
        }
        if (worst > kStraightness) {
            keep[at] = 1;
            spans.push_back({a, at});
            spans.push_back({at, b});
        }
    }
    std::vector<size_t> corners;
    for (size_t i = 0; i < line.size(); ++i) {
        if (keep[i]) {
            corners.push_back(i);
        }
    }
    return corners;
}

// A straight line through points: a point on it, its direction, and how far
// the points reach along it either side of that point.
struct Line {
    Point centre;
    Point along;  // unit length
    double from = 0;
    double to = 0;

    Point Normal() const { return {-along.y, along.x}; }
    Point At(double t) const { return {centre.x + t * along.x, centre.y + t * along.y}; }
    double Along(const Point& p) const {
        return (p.x - centre.x) * along.x + (p.y - centre.y) * along.y;
    }
    double Across(const Point& p) const {
        return (p.y - centre.y) * along.x - (p.x - centre.x) * along.y;
    }
    double Length() const { return to - from; }
};

Line Fit(const std::vector<Point>& points) {
    Line line;
    for (const Point& p : points) {
        line.centre.x += p.x;
        line.centre.y += p.y;
    }
    line.centre.x /= static_cast<double>(points.size());
    line.centre.y /= static_cast<double>(points.size());
    double sxx = 0;
    double syy = 0;
    double sxy = 0;
    for (const Point& p : points) {
        const double dx = p.x - line.centre.x;
        const double dy = p.y - line.centre.y;
        sxx += dx * dx;
        syy += dy * dy;
        sxy += dx * dy;
    }
    const double angle = 0.5 * std::atan2(2 * sxy, sxx - syy);
    line.along = {std::cos(angle), std::sin(angle)};
    line.from = 1e300;
    line.to = -1e300;
    for (const Point& p : points) {
        const double t = line.Along(p);
        line.from = std::min(line.from, t);
        line.to = std::max(line.to, t);
    }
    return line;
}

// The ink across a line at one place.
struct Section {
    bool ink = false;
    double offset = 0;  // of the ink's middle from the line, px along the normal
    double run = 0;     // px of ink across
    double dark = 0;    // darkness across, in px of black
};

class Measure {
  public:
    Measure(const Field& thick, const Field& dark, double maxThickness)
        : m_thick(thick), m_dark(dark), m_maxThickness(maxThickness) {}

    // Across the line at `at`, pixel by pixel along the axis nearer its
    // normal (whole pixels, whatever the angle), scaled to the normal.
    Section Across(const Point& at, const Point& normal) const {
        const bool columns = std::fabs(normal.y) >= std::fabs(normal.x);
        const int dx = columns ? 0 : (normal.x > 0 ? 1 : -1);
        const int dy = columns ? (normal.y > 0 ? 1 : -1) : 0;
        const double scale = columns ? std::fabs(normal.y) : std::fabs(normal.x);
        const int reach = static_cast<int>(std::ceil(m_maxThickness / scale)) + 2;
        const int x0 = static_cast<int>(std::floor(at.x));
        const int y0 = static_cast<int>(std::floor(at.y));
        auto pixel = [&](int s, const Field& f) { return f.Get(x0 + s * dx, y0 + s * dy); };
        Section section;
        int start = 0;
        if (!pixel(0, m_thick)) {
            start = pixel(-1, m_thick) ? -1 : pixel(1, m_thick) ? 1 : 2;
        }
        if (start == 2) {
            return section;
        }
        int a = start;
        int b = start;
        while (a > -reach && pixel(a - 1, m_thick)) {
            --a;
        }
        while (b < reach && pixel(b + 1, m_thick)) {
            ++b;
        }
        section.ink = true;
        section.offset = 0.5 * (a + b) * scale;
        section.run = (b - a + 1) * scale;
        // The pixels either side count where they are partly covered (an
        // anti-aliased edge), not where they are a light fill.
        for (int s = a - 1; s <= b + 1; ++s) {
            const double d = pixel(s, m_dark) / 255.0;
            section.dark += (s >= a && s <= b ? d : d >= kEdgeLevel ? d : 0) * scale;
        }
        return section;
    }

    // Is the pixel at `at` ink?
    bool InkPixel(const Point& at) const {
        return m_thick.Get(static_cast<int>(std::floor(at.x)), static_cast<int>(std::floor(at.y)));
    }

    // Is there ink on the line at `at` (or a pixel beside it)?
    bool InkAt(const Point& at, const Point& normal) const {
        for (int s = -1; s <= 1; ++s) {
            if (m_thick.Get(static_cast<int>(std::floor(at.x + s * normal.x)),
                            static_cast<int>(std::floor(at.y + s * normal.y)))) {
                return true;
            }
        }
        return false;
    }

  private:
    const Field& m_thick;
    const Field& m_dark;
    double m_maxThickness;
};

double Median(std::vector<double> values) {
    if (values.empty()) {
        return 0;
    }
    const size_t mid = values.size() / 2;
    std::nth_element(values.begin(), values.begin() + static_cast<long>(mid), values.end());
    return values[mid];
}

// What the sections along a line say: the share that has ink, and the
// medians of the others.
struct Profile {
    double inkShare = 0;
    double offset = 0;
    double run = 0;
    double dark = 0;
    double steady = 0;  // share of the sections (junctions aside) as thick as the median and
                        // centred where it is: 1 for a wall with straight edges
};

// `middles`, when given, gets the middle of the ink at every place along
// the line that nothing touches (no thicker than the median).
Profile ProfileOf(const Line& line, const Measure& measure, double step,
                  std::vector<Point>* middles = nullptr) {
    std::vector<double> along;
    std::vector<double> offsets;
    std::vector<double> runs;
    std::vector<double> darks;
    int samples = 0;
    for (double t = line.from; t <= line.to + 1e-9; t += step) {
        ++samples;
        const Section s = measure.Across(line.At(t), line.Normal());
        if (s.ink) {
            along.push_back(t);
            offsets.push_back(s.offset);
            runs.push_back(s.run);
            darks.push_back(s.dark);
        }
    }
    Profile profile;
    profile.inkShare = samples == 0 ? 0 : static_cast<double>(runs.size()) / samples;
    profile.offset = Median(offsets);
    profile.run = Median(runs);
    profile.dark = Median(darks);
    // Whatever touches a wall (another wall, furniture, a door's swing) only
    // adds ink across it; lettering also has places thinner than its middle
    // (between letters, where they are short) and places off its line.
    int steady = 0;
    const double tolerance = 1.5 + 0.05 * profile.run;
    for (size_t i = 0; i < runs.size(); ++i) {
        const bool thinner = runs[i] < profile.run - tolerance;
        const bool shifted = runs[i] <= profile.run + tolerance &&
                             std::fabs(offsets[i] - profile.offset) > tolerance;
        steady += !thinner && !shifted;
        if (middles != nullptr && runs[i] <= profile.run + tolerance) {
            const Point p = line.At(along[i]);
            middles->push_back(
                {p.x + offsets[i] * line.Normal().x, p.y + offsets[i] * line.Normal().y});
        }
    }
    profile.steady = runs.empty() ? 0 : static_cast<double>(steady) / runs.size();
    return profile;
}

// A straight piece of a traced stroke, or pieces joined into a wall.
struct Piece {
    std::vector<Point> points;
    Line line;
    double thickness = 0;
    double dark = 0;      // darkness across, median
    double inkShare = 0;  // of the places along it that have ink across
    double steady = 0;    // how straight its edges are (see Profile)
    double bend = 0;      // radians between the directions of its two halves
};

// How much a line of points turns: the angle between the lines fitted to its
// first and second halves. A wall's middle is straight; an arc's turns by
// the angle it spans over half its length.
double Bend(const std::vector<Point>& middles) {
    if (middles.size() < 8) {
        return 0;
    }
    const size_t half = middles.size() / 2;
    const Line a =
        Fit(std::vector<Point>(middles.begin(), middles.begin() + static_cast<long>(half)));
    const Line b =
        Fit(std::vector<Point>(middles.begin() + static_cast<long>(half), middles.end()));
    return std::asin(std::min(1.0, std::fabs(a.along.x * b.along.y - a.along.y * b.along.x)));
}

struct Rules {
    double minLength = 0;
    double maxThickness = 0;
};

bool Parallel(const Line& a, const Line& b) {
    return std::fabs(a.along.x * b.along.y - a.along.y * b.along.x) <= kMaxAngle;
}

// Do two pieces belong to one wall? Along one line, and either overlapping
// or with ink all the way between them.
bool OneWall(const Piece& first, const Piece& second, const Measure& measure) {
    // The shorter one is measured against the longer one's line.
    const bool firstLonger = first.line.Length() >= second.line.Length();
    const Piece& a = firstLonger ? first : second;
    const Piece& b = firstLonger ? second : first;
    if (!Parallel(a.line, b.line)) {
        return false;
    }
    const double tolerance = std::max(1.5, 0.5 * std::min(a.thickness, b.thickness)) + 0.5;
    const Point a0 = a.line.At(a.line.from);
    const Point a1 = a.line.At(a.line.to);
    const Point b0 = b.line.At(b.line.from);
    const Point b1 = b.line.At(b.line.to);
    if (std::fabs(a.line.Across(b0)) > tolerance || std::fabs(a.line.Across(b1)) > tolerance) {
        return false;
    }
    const double t0 = std::min(a.line.Along(b0), a.line.Along(b1));
    const double t1 = std::max(a.line.Along(b0), a.line.Along(b1));
    const double gap = std::max(t0 - a.line.to, a.line.from - t1);
    if (gap <= 0) {
        return true;
    }
    if (gap > 2 * std::max(a.thickness, b.thickness) + 6) {
        return false;
    }
    // The facing ends, and the ink between them.
    const bool bAfter = t0 >= a.line.to;
    const Point from = bAfter ? a1 : a0;
    const Point to = bAfter ? (a.line.Along(b0) < a.line.Along(b1) ? b0 : b1)
                            : (a.line.Along(b0) > a.line.Along(b1) ? b0 : b1);
    const double length = std::hypot(to.x - from.x, to.y - from.y);
    int misses = 0;
    for (double s = 0; s <= length; s += 0.5) {
        const Point p = {from.x + (to.x - from.x) * s / length,
                         from.y + (to.y - from.y) * s / length};
        misses = measure.InkAt(p, a.line.Normal()) ? 0 : misses + 1;
        if (misses > 2) {
            return false;
        }
    }
    return true;
}

class UnionFind {
  public:
    explicit UnionFind(size_t n) : m_parent(n) { std::iota(m_parent.begin(), m_parent.end(), 0); }
    size_t Find(size_t i) {
        while (m_parent[i] != i) {
            m_parent[i] = m_parent[m_parent[i]];
            i = m_parent[i];
        }
        return i;
    }
    void Join(size_t a, size_t b) { m_parent[Find(a)] = Find(b); }

  private:
    std::vector<size_t> m_parent;
};

// Joins the pieces of each wall; only pieces near each other are compared.
std::vector<std::vector<size_t>> GroupPieces(const std::vector<Piece>& pieces,
                                             const Measure& measure, int width, int height) {
    const int cols = width / kGridCell + 1;
    const int rows = height / kGridCell + 1;
    std::unordered_map<long, std::vector<size_t>> cells;
    for (size_t i = 0; i < pieces.size(); ++i) {
        const Line& line = pieces[i].line;
        const double reach = 2 * pieces[i].thickness + 8;
        long lastCell = -1;
        for (double t = line.from - reach; t <= line.to + reach; t += kGridCell / 2.0) {
            const Point p = line.At(t);
            const int cx = std::clamp(static_cast<int>(p.x) / kGridCell, 0, cols - 1);
            const int cy = std::clamp(static_cast<int>(p.y) / kGridCell, 0, rows - 1);
            const long cell = static_cast<long>(cy) * cols + cx;
            if (cell != lastCell) {
                std::vector<size_t>& in = cells[cell];
                if (in.empty() || in.back() != i) {
                    in.push_back(i);
                }
                lastCell = cell;
            }
        }
    }
    UnionFind groups(pieces.size());
    std::unordered_set<uint64_t> tried;
    for (const auto& [cell, members] : cells) {
        for (size_t m = 0; m < members.size(); ++m) {
            for (size_t n = m + 1; n < members.size(); ++n) {
                const size_t a = std::min(members[m], members[n]);
                const size_t b = std::max(members[m], members[n]);
                if (a == b || groups.Find(a) == groups.Find(b) ||
                    !tried.insert(static_cast<uint64_t>(a) << 32 | b).second) {
                    continue;
                }
                if (OneWall(pieces[a], pieces[b], measure)) {
                    groups.Join(a, b);
                }
            }
        }
    }
    std::unordered_map<size_t, std::vector<size_t>> byRoot;
    for (size_t i = 0; i < pieces.size(); ++i) {
        byRoot[groups.Find(i)].push_back(i);
    }
    std::vector<std::vector<size_t>> out;
    for (auto& [root, members] : byRoot) {
        out.push_back(std::move(members));
    }
    std::sort(out.begin(), out.end());
    return out;
}

// Moves an end of the wall outwards as long as thick ink continues there.
double Lengthen(const Line& line, double end, double direction, double limit,
                const Measure& measure) {
    double last = end;
    int misses = 0;
    for (double d = 0.5; d <= limit; d += 0.5) {
        const Section s = measure.Across(line.At(end + direction * d), line.Normal());
        if (s.ink && s.dark >= kMinDarkAcross * 0.75) {
            last = end + direction * d;
            misses = 0;
        } else if (++misses > 2) {
            break;
        }
    }
    // The ink ends at the edge of the last pixel with ink (the next place
    // looked at, half a pixel on, had none), not where that pixel was seen.
    const Point at = line.At(last);
    if (!measure.InkPixel(at)) {
        return last;  // already at the edge
    }
    double edge = 0.5;
    for (const auto& [position, step] :
         {std::pair{at.x, line.along.x * direction}, std::pair{at.y, line.along.y * direction}}) {
        if (std::fabs(step) > 1e-9) {
            const double boundary = step > 0 ? std::floor(position) + 1 : std::floor(position);
            const double distance = (boundary - position) / step;
            if (distance >= 0 && distance <= edge) {
                edge = distance;
            }
        }
    }
    return last + direction * edge;
}

// One wall of each group of pieces: fitted through all their points, then
// through the middle of their ink, and lengthened as far as its ink runs.
std::vector<Piece> Merge(const std::vector<Piece>& pieces, const Measure& measure, int width,
                         int height) {
    std::vector<Piece> walls;
    for (const std::vector<size_t>& group : GroupPieces(pieces, measure, width, height)) {
        Piece wall;
        for (size_t i : group) {
            wall.points.insert(wall.points.end(), pieces[i].points.begin(), pieces[i].points.end());
        }
        wall.line = Fit(wall.points);
        for (size_t i : group) {
            for (double t : {pieces[i].line.from, pieces[i].line.to}) {
                const double along = wall.line.Along(pieces[i].line.At(t));
                wall.line.from = std::min(wall.line.from, along);
                wall.line.to = std::max(wall.line.to, along);
            }
        }
        // Fitted again through the middle of its ink (a thinned stroke of
        // even thickness lies half a pixel to one side), kept as long as it was.
        std::vector<Point> middles;
        ProfileOf(wall.line, measure, 1, &middles);
        if (middles.size() >= 2) {
            const Line before = wall.line;
            wall.line = Fit(middles);
            wall.line.from = std::min(wall.line.Along(before.At(before.from)),
                                      wall.line.Along(before.At(before.to)));
            wall.line.to = std::max(wall.line.Along(before.At(before.from)),
                                    wall.line.Along(before.At(before.to)));
        }
        const double limit = ProfileOf(wall.line, measure, 2).run + 6;
        wall.line.from = Lengthen(wall.line, wall.line.from, -1, limit, measure);
        wall.line.to = Lengthen(wall.line, wall.line.to, 1, limit, measure);
        // Measured over all its length, as far as it was lengthened.
        middles.clear();
        const Profile profile = ProfileOf(wall.line, measure, 1, &middles);
        wall.bend = Bend(middles);
        wall.thickness = profile.run;
        wall.dark = profile.dark;
        wall.inkShare = profile.inkShare;
        wall.steady = profile.steady;
        walls.push_back(std::move(wall));
    }
    return walls;
}

// The connected parts of the thick ink, found run by run, so that a wall can
// be told from a stroke of lettering: the letters around a stroke are ink of
// its own small part that no wall accounts for.
class InkParts {
  public:
    explicit InkParts(const Field& thick) : m_rowStart(thick.Height() + 1, 0) {
        for (int y = 0; y < thick.Height(); ++y) {
            m_rowStart[y] = m_runs.size();
            for (int x = 0; x < thick.Width(); ++x) {
                if (thick.Get(x, y)) {
                    const int start = x;
                    while (x + 1 < thick.Width() && thick.Get(x + 1, y)) {
                        ++x;
                    }
                    m_runs.push_back({y, start, x});
                }
            }
        }
        m_rowStart[thick.Height()] = m_runs.size();
        m_parent.resize(m_runs.size());
        std::iota(m_parent.begin(), m_parent.end(), 0);
        for (int y = 1; y < thick.Height(); ++y) {
            size_t above = m_rowStart[y - 1];
            for (size_t r = m_rowStart[y]; r < m_rowStart[y + 1]; ++r) {
                while (above < m_rowStart[y] && m_runs[above].x1 < m_runs[r].x0 - 1) {
                    ++above;
                }
                for (size_t a = above; a < m_rowStart[y] && m_runs[a].x0 <= m_runs[r].x1 + 1; ++a) {
                    m_parent[Find(a)] = Find(r);
                }
            }
        }
        m_parts.resize(m_runs.size());
        for (size_t r = 0; r < m_runs.size(); ++r) {
            Part& part = m_parts[Find(r)];
            const Run& run = m_runs[r];
            part.pixels += run.x1 - run.x0 + 1;
            part.x0 = std::min(part.x0, run.x0);
            part.x1 = std::max(part.x1, run.x1);
            part.y0 = std::min(part.y0, run.y);
            part.y1 = std::max(part.y1, run.y);
        }
    }

    struct Part {
        long pixels = 0;
        int x0 = 1 << 30;
        int y0 = 1 << 30;
        int x1 = -1;
        int y1 = -1;
    };

    // The part holding pixel (x, y), or null.
    const Part* At(int x, int y) {
        if (y < 0 || y + 1 >= static_cast<int>(m_rowStart.size())) {
            return nullptr;
        }
        const auto first = m_runs.begin() + static_cast<long>(m_rowStart[y]);
        const auto last = m_runs.begin() + static_cast<long>(m_rowStart[y + 1]);
        const auto it =
            std::upper_bound(first, last, x, [](int v, const Run& run) { return v < run.x0; });
        if (it == first || (it - 1)->x1 < x) {
            return nullptr;
        }
        return &m_parts[Find(static_cast<size_t>(it - 1 - m_runs.begin()))];
    }

  private:
    struct Run {
        int y;
        int x0;
        int x1;
    };
    size_t Find(size_t i) {
        while (m_parent[i] != i) {
            m_parent[i] = m_parent[m_parent[i]];
            i = m_parent[i];
        }
        return i;
    }
    std::vector<Run> m_runs;
    std::vector<size_t> m_rowStart;
    std::vector<size_t> m_parent;
    std::vector<Part> m_parts;
};

// A stroke of lettering: every ink part along it is narrower (one way or the
// other) than a wall is long, like a line of text, and together they hold
// more ink besides the stroke than the stroke itself.
bool IsLettering(const Piece& wall, InkParts& parts, double minLength) {
    std::vector<const InkParts::Part*> touched;
    const Point n = wall.line.Normal();
    for (double t = wall.line.from; t <= wall.line.to; t += 1) {
        const Point p = wall.line.At(t);
        for (int s = -1; s <= 1; ++s) {
            const InkParts::Part* part = parts.At(static_cast<int>(std::floor(p.x + s * n.x)),
                                                  static_cast<int>(std::floor(p.y + s * n.y)));
            if (part == nullptr ||
                std::find(touched.begin(), touched.end(), part) != touched.end()) {
                continue;
            }
            if (std::min(part->x1 - part->x0, part->y1 - part->y0) + 1 >= minLength) {
                return false;
            }
            touched.push_back(part);
        }
    }
    long ink = 0;
    for (const InkParts::Part* part : touched) {
        ink += part->pixels;
    }
    const double own = wall.line.Length() * wall.thickness;
    return ink - own > 0.75 * own;
}

// Drops lines far thinner than the plan's walls: a plan drawn large (a PDF
// page rendered wide) has door leaves and furniture lines several pixels
// thick, but still a fraction of its walls' thickness.
double DropHairlines(std::vector<Piece>& walls) {
    if (walls.size() < 4) {
        return 0;
    }
    std::vector<std::pair<double, double>> byThickness;  // thickness, length
    double total = 0;
    for (const Piece& wall : walls) {
        byThickness.push_back({wall.thickness, wall.line.Length()});
        total += wall.line.Length();
    }
    std::sort(byThickness.begin(), byThickness.end());
    double seen = 0;
    double typical = 0;
    for (const auto& [thickness, length] : byThickness) {
        seen += length;
        typical = thickness;
        if (2 * seen >= total) {
            break;
        }
    }
    walls.erase(std::remove_if(
                    walls.begin(), walls.end(),
                    [typical](const Piece& wall) { return wall.thickness < kHairline * typical; }),
                walls.end());
    return typical;
}

// Drops the short strokes that meet no long wall: the letters of room names
// on a plan drawn large are as thick as thin walls, and a stroke of one is
// longer than a wall is thick, but it stands free. A short wall between two
// doors meets the walls it joins. `typical`: the plan's usual wall thickness.
void DropStrayStrokes(std::vector<Piece>& walls, double typical) {
    if (typical <= 0) {
        return;
    }
    const auto isLong = [typical](const Piece& wall) {
        return wall.line.Length() >= kStrayLength * typical;
    };
    const auto meetsLongWall = [&](const Piece& wall) {
        for (const Piece& other : walls) {
            if (&other == &wall || !isLong(other)) {
                continue;
            }
            for (const double t : {wall.line.from, wall.line.to}) {
                const Point end = wall.line.At(t);
                const double along =
                    std::clamp(other.line.Along(end), other.line.from, other.line.to);
                const Point nearest = other.line.At(along);
                if (std::hypot(end.x - nearest.x, end.y - nearest.y) <=
                    0.5 * (wall.thickness + other.thickness) + 2) {
                    return true;
                }
            }
        }
        return false;
    };
    std::vector<Piece> kept;
    for (const Piece& wall : walls) {
        if (isLong(wall) || meetsLongWall(wall)) {
            kept.push_back(wall);
        }
    }
    walls = std::move(kept);
}

// Cuts or lengthens each end that stops at another wall (within either's
// thickness) to the point where their middle lines cross.
void MeetAtJunctions(std::vector<Piece>& walls) {
    std::vector<std::array<double, 2>> ends(walls.size());
    for (size_t i = 0; i < walls.size(); ++i) {
        ends[i] = {walls[i].line.from, walls[i].line.to};
        for (int side = 0; side < 2; ++side) {
            const Line& a = walls[i].line;
            const double at = side == 0 ? a.from : a.to;
            const double outward = side == 0 ? -1 : 1;
            const Point end = a.At(at);
            double best = 1e300;
            for (size_t j = 0; j < walls.size(); ++j) {
                const Line& b = walls[j].line;
                const double cross = a.along.x * b.along.y - a.along.y * b.along.x;
                if (j == i || std::fabs(cross) < kMinMeetingAngle) {
                    continue;
                }
                // How far along a its end moves to reach b's middle line.
                const double s = -b.Across(end) / (a.along.y * b.along.x - a.along.x * b.along.y);
                const double reachA = 0.5 * walls[i].thickness + 3;
                const double reachB = 0.5 * walls[j].thickness + 3;
                const double move = s * outward;  // > 0: lengthens the wall
                if (move < -(reachA + reachB) || move > reachA + reachB) {
                    continue;
                }
                const double onB = b.Along(a.At(at + s));
                if (onB < b.from - reachA || onB > b.to + reachA) {
                    continue;
                }
                if (std::fabs(s) < std::fabs(best)) {
                    best = s;
                }
            }
            if (best < 1e300) {
                ends[i][side] = at + best;
            }
        }
    }
    for (size_t i = 0; i < walls.size(); ++i) {
        walls[i].line.from = std::min(ends[i][0], ends[i][1]);
        walls[i].line.to = std::max(ends[i][0], ends[i][1]);
    }
}

double Round(double v) {
    return std::round(v * 10) / 10;
}

}  // namespace

GreyPlan GreyOf(const sitefile::SiteMap& map) {
    GreyPlan grey;
    grey.width = map.width;
    grey.height = map.height;
    grey.pixels.resize(static_cast<size_t>(map.width) * map.height);
    uint8_t level[sitefile::kColorTableEntries];
    for (size_t i = 0; i < sitefile::kColorTableEntries; ++i) {
        const uint32_t c = map.colors[i];
        level[i] = static_cast<uint8_t>(
            (299 * ((c >> 16) & 0xFF) + 587 * ((c >> 8) & 0xFF) + 114 * (c & 0xFF) + 500) / 1000);
    }
    for (int y = 0; y < map.height; ++y) {
        const uint8_t* row = map.Row(y);
        uint8_t* out = grey.pixels.data() + static_cast<size_t>(y) * map.width;
        for (int x = 0; x < map.width; ++x) {
            out[x] = level[row[x]];
        }
    }
    return grey;
}

std::vector<FoundWall> DetectWalls(const GreyPlan& plan, std::optional<double> pixelsPerMetre) {
    if (plan.width < 2 || plan.height < 2 ||
        plan.pixels.size() != static_cast<size_t>(plan.width) * plan.height) {
        return {};
    }
    const double scale =
        pixelsPerMetre && *pixelsPerMetre > 0 ? *pixelsPerMetre : kAssumedPixelsPerMetre;
    Rules rules;
    rules.minLength = std::max(scale, 4.0);
    rules.maxThickness = std::max(scale, 3.0);

    Field dark(plan.width, plan.height);
    if (!Darkness(plan, dark)) {
        return {};
    }
    const Field thick = ThickInk(dark);
    Field skeleton = thick;
    Thin(skeleton);
    const Measure measure(thick, dark, rules.maxThickness);

    std::vector<Piece> pieces;
    for (const std::vector<Point>& line : Trace(skeleton)) {
        if (line.size() < 2) {
            continue;
        }
        const std::vector<size_t> corners = Corners(line);
        for (size_t c = 0; c + 1 < corners.size(); ++c) {
            Piece piece;
            piece.points.assign(line.begin() + static_cast<long>(corners[c]),
                                line.begin() + static_cast<long>(corners[c + 1]) + 1);
            piece.line = Fit(piece.points);
            if (piece.line.Length() < kMinPieceLength) {
                continue;
            }
            const Profile profile = ProfileOf(piece.line, measure, 2);
            piece.thickness = profile.run;
            if (profile.inkShare < 0.5 || profile.dark < kMinDarkAcross ||
                profile.run > rules.maxThickness || piece.line.Length() < profile.run) {
                continue;
            }
            pieces.push_back(std::move(piece));
        }
    }

    // Joined twice: the walls of the first round are long and straight enough
    // to join the parts that junctions close together left apart.
    std::vector<Piece> joined =
        Merge(Merge(pieces, measure, plan.width, plan.height), measure, plan.width, plan.height);
    InkParts parts(thick);
    std::vector<Piece> walls;
    for (Piece& wall : joined) {
        if (wall.line.Length() < rules.minLength || wall.inkShare < 0.8 ||
            wall.dark < kMinDarkAcross || wall.steady < kMinSteady || wall.bend > kMaxBend ||
            wall.thickness > rules.maxThickness || IsLettering(wall, parts, rules.minLength)) {
            continue;
        }
        // Walls drawn along the axes are kept exactly along them.
        const double spread = wall.line.Length() *
                              std::min(std::fabs(wall.line.along.x), std::fabs(wall.line.along.y));
        if (spread <= 1.0) {
            const bool horizontal = std::fabs(wall.line.along.x) > std::fabs(wall.line.along.y);
            const Point a = wall.line.At(wall.line.from);
            const Point b = wall.line.At(wall.line.to);
            const double mid = horizontal ? 0.5 * (a.y + b.y) : 0.5 * (a.x + b.x);
            wall.line.centre =
                horizontal ? Point{0.5 * (a.x + b.x), mid} : Point{mid, 0.5 * (a.y + b.y)};
            wall.line.along = horizontal ? Point{1, 0} : Point{0, 1};
            const double half = 0.5 * std::hypot(b.x - a.x, b.y - a.y);
            wall.line.from = -half;
            wall.line.to = half;
        }
        walls.push_back(std::move(wall));
    }
    DropStrayStrokes(walls, DropHairlines(walls));
    MeetAtJunctions(walls);

    std::vector<FoundWall> found;
    for (const Piece& wall : walls) {
        // From left to right, or, more upright than not, from top to bottom.
        Point a = wall.line.At(wall.line.from);
        Point b = wall.line.At(wall.line.to);
        const bool upright = std::fabs(b.y - a.y) > std::fabs(b.x - a.x);
        if (upright ? b.y < a.y : b.x < a.x) {
            std::swap(a, b);
        }
        auto clampX = [&](double v) { return Round(std::clamp(v, 0.0, 1.0 * plan.width)); };
        auto clampY = [&](double v) { return Round(std::clamp(v, 0.0, 1.0 * plan.height)); };
        found.push_back({clampX(a.x), clampY(a.y), clampX(b.x), clampY(b.y), wall.thickness});
    }
    std::sort(found.begin(), found.end(), [](const FoundWall& p, const FoundWall& q) {
        return std::tie(p.y1, p.x1, p.y2, p.x2) < std::tie(q.y1, q.x1, q.y2, q.x2);
    });
    return found;
}

}  // namespace plan
