// Wall detection against plans drawn here, whose walls are known exactly.
// Each style draws random floors (rooms split from a rectangle, a door in
// every long wall, furniture, room names, stairs) in one way of drawing
// plans; every plan goes through the site's 256 colours, as `ksf create`
// stores it, and then through detection. Prints, per style, precision and
// recall of wall length against the truth, walls found twice, door gaps
// bridged and time. Prints figures; not a test.
//
//   bench_walls [--seeds N] [--pictures DIR]
//
// --pictures writes each style's first plan with the walls found drawn over
// it in red, and the truth in thin green, to look at.
#include <QBuffer>
#include <QFont>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QTransform>
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "plan/plan_palette.h"
#include "plan/wall_detection.h"

namespace {

struct Segment {
    double x1, y1, x2, y2;
    double thickness;
    double Length() const { return std::hypot(x2 - x1, y2 - y1); }
};

// How a style draws its plans.
struct Style {
    const char* name;
    double pixelsPerMetre;
    double innerWall;  // px
    double outerWall;  // px
    bool antialiased = false;
    bool coloured = false;
    bool scanned = false;
    bool drawnTwice = false;
    bool diagonals = false;
    bool hatching = false;
    QColor wallColour = QColor(0x10, 0x10, 0x10);
    bool dimensions = false;  // dimension lines and a column grid, 1 px
};

const Style kStyles[] = {
    {"thin walls", 24, 2, 3},
    {"thick walls", 30, 6, 12, false, false, false, false, false, true},
    {"coloured", 25, 4, 6, false, true, false, false, false, false, QColor(0x1E, 0x32, 0x8C)},
    {"scanned", 24, 3, 5, false, false, true, false, false, true, QColor(0x30, 0x30, 0x30)},
    {"vector (anti-aliased)", 23.7, 2.5, 5, true, false, false, false, true, true},
    {"drawn twice", 24, 3, 6, false, false, false, true, true},
    {"low resolution, busy", 15, 2, 3, true, false, false, false, true, true,
     QColor(0x50, 0x50, 0x50), true},
};

struct Room {
    double x0, y0, x1, y1;  // metres
};

struct Wall {
    double x1, y1, x2, y2;  // metres, along an axis or (diagonals) not
    bool outer;
};

struct Door {
    double x, y;  // metres: the gap's middle
    bool alongX;  // in a wall along x
};

struct Floor {
    std::vector<Room> rooms;
    std::vector<Wall> walls;
    std::vector<Door> doors;
    std::vector<std::pair<double, double>> gaps;  // per wall: the door's span along it, or none
};

// Splits a rectangle into rooms, the walls between them running the whole
// way across the part split.
void Split(const Room& r, int depth, std::mt19937& rng, Floor& floor) {
    const double w = r.x1 - r.x0;
    const double h = r.y1 - r.y0;
    const double minRoom = 3;
    std::uniform_real_distribution<double> u(0, 1);
    const bool canX = w >= 2 * minRoom;
    const bool canY = h >= 2 * minRoom;
    if (depth >= 5 || (!canX && !canY) || (depth >= 2 && u(rng) < 0.25)) {
        floor.rooms.push_back(r);
        return;
    }
    const bool splitX = canX && (!canY || w * u(rng) > h * u(rng));
    if (splitX) {
        const double x = std::round((r.x0 + minRoom + u(rng) * (w - 2 * minRoom)) * 2) / 2;
        floor.walls.push_back({x, r.y0, x, r.y1, false});
        Split({r.x0, r.y0, x, r.y1}, depth + 1, rng, floor);
        Split({x, r.y0, r.x1, r.y1}, depth + 1, rng, floor);
    } else {
        const double y = std::round((r.y0 + minRoom + u(rng) * (h - 2 * minRoom)) * 2) / 2;
        floor.walls.push_back({r.x0, y, r.x1, y, false});
        Split({r.x0, r.y0, r.x1, y}, depth + 1, rng, floor);
        Split({r.x0, y, r.x1, r.y1}, depth + 1, rng, floor);
    }
}

Floor MakeFloor(std::mt19937& rng, const Style& style) {
    Floor floor;
    const double W = 34;
    const double H = 22;
    floor.walls = {{0, 0, W, 0, true}, {0, H, W, H, true}, {0, 0, 0, H, true}, {W, 0, W, H, true}};
    Split({0, 0, W, H}, 0, rng, floor);
    std::uniform_real_distribution<double> u(0, 1);
    // A door in each wall long enough, clear of the walls that meet it.
    const double doorWidth = 0.9;
    for (const Wall& wall : floor.walls) {
        const bool alongX = wall.y1 == wall.y2;
        const double from = alongX ? wall.x1 : wall.y1;
        const double to = alongX ? wall.x2 : wall.y2;
        std::pair<double, double> gap = {0, 0};
        const bool door = (to - from >= 2.5) && (!wall.outer || u(rng) < 0.5);
        for (int attempt = 0; door && attempt < 20; ++attempt) {
            const double at = from + 0.4 + u(rng) * (to - from - 0.8 - doorWidth);
            bool clear = true;
            for (const Wall& other : floor.walls) {
                for (const auto& [px, py] : {std::pair{other.x1, other.y1}, {other.x2, other.y2}}) {
                    const double along = alongX ? px : py;
                    const double across = alongX ? py : px;
                    if (std::fabs(across - (alongX ? wall.y1 : wall.x1)) < 1e-9 &&
                        along > at - 0.4 && along < at + doorWidth + 0.4) {
                        clear = false;
                    }
                }
            }
            if (clear) {
                gap = {at, at + doorWidth};
                floor.doors.push_back(alongX ? Door{at + doorWidth / 2, wall.y1, true}
                                             : Door{wall.x1, at + doorWidth / 2, false});
                break;
            }
        }
        floor.gaps.push_back(gap);
    }
    if (style.diagonals) {
        // Corners cut off two rooms.
        for (size_t i = 0; i < floor.rooms.size() && i < 2; ++i) {
            const Room& r = floor.rooms[i * floor.rooms.size() / 2];
            const double a = std::min({2.0, (r.x1 - r.x0) / 2, (r.y1 - r.y0) / 2});
            floor.walls.push_back({r.x1 - a, r.y1, r.x1, r.y1 - a, false});
            floor.gaps.push_back({0, 0});
        }
    }
    return floor;
}

// The truth: the middle lines of the walls as drawn, door gaps cut out, in
// pixels of the picture (margin included).
std::vector<Segment> Truth(const Floor& floor, const Style& style, double margin) {
    std::vector<Segment> out;
    const double s = style.pixelsPerMetre;
    for (size_t i = 0; i < floor.walls.size(); ++i) {
        const Wall& w = floor.walls[i];
        const double thick = w.outer ? style.outerWall : style.innerWall;
        auto px = [&](double x, double y) {
            return Segment{margin + x * s, margin + y * s, 0, 0, thick};
        };
        const auto [g0, g1] = floor.gaps[i];
        const bool alongX = w.y1 == w.y2;
        if (g1 > g0) {
            Segment a = px(w.x1, w.y1);
            Segment b = px(alongX ? g1 : w.x1, alongX ? w.y1 : g1);
            a.x2 = margin + (alongX ? g0 : w.x1) * s;
            a.y2 = margin + (alongX ? w.y1 : g0) * s;
            b.x2 = margin + w.x2 * s;
            b.y2 = margin + w.y2 * s;
            out.push_back(a);
            out.push_back(b);
        } else {
            Segment a = px(w.x1, w.y1);
            a.x2 = margin + w.x2 * s;
            a.y2 = margin + w.y2 * s;
            out.push_back(a);
        }
    }
    return out;
}

QColor Pastel(std::mt19937& rng) {
    std::uniform_int_distribution<int> hue(0, 359);
    return QColor::fromHsv(hue(rng), 40, 245);
}

const char* const kNames[] = {"Office", "Meeting", "Store",     "Kitchen", "Lab",
                              "WC",     "Plant",   "Reception", "Server",  "Print"};

QImage Draw(const Floor& floor, const Style& style, double margin, std::mt19937& rng) {
    const double s = style.pixelsPerMetre;
    const int width = static_cast<int>(2 * margin + 34 * s);
    const int height = static_cast<int>(2 * margin + 22 * s);
    QImage plan(width, height, QImage::Format_RGB32);
    plan.fill(Qt::white);
    QPainter p(&plan);
    p.setRenderHint(QPainter::Antialiasing, style.antialiased);
    p.setRenderHint(QPainter::TextAntialiasing, style.antialiased);
    std::uniform_real_distribution<double> u(0, 1);
    auto at = [&](double x, double y) { return QPointF(margin + x * s, margin + y * s); };

    if (style.coloured) {
        for (const Room& r : floor.rooms) {
            p.fillRect(QRectF(at(r.x0, r.y0), at(r.x1, r.y1)), Pastel(rng));
        }
    }
    // Furniture: desks with 1-px outlines, round tables.
    const QColor edge = style.coloured ? QColor(0x60, 0x80, 0x50) : QColor(0x70, 0x70, 0x70);
    for (const Room& r : floor.rooms) {
        p.setPen(QPen(edge, 1));
        p.setBrush(style.coloured ? QColor(0xE0, 0xF0, 0xD0) : QColor(0xE4, 0xE4, 0xE4));
        const int desks = static_cast<int>((r.x1 - r.x0) * (r.y1 - r.y0) / 8);
        for (int d = 0; d < desks; ++d) {
            const double x = r.x0 + 0.6 + u(rng) * (r.x1 - r.x0 - 2.6);
            const double y = r.y0 + 1.2 + u(rng) * (r.y1 - r.y0 - 2.2);
            if (u(rng) < 0.7) {
                p.drawRect(QRectF(at(x, y), at(x + 1.6, y + 0.8)));
            } else {
                p.drawEllipse(QRectF(at(x, y), at(x + 1.2, y + 1.2)));
            }
        }
    }
    if (style.hatching && !floor.rooms.empty()) {
        // Stairs: treads and a hatched landing, all 1 px.
        const Room& r = floor.rooms.back();
        const QRectF box(at(r.x0 + 0.5, r.y0 + 0.5), at(r.x0 + 2.5, r.y0 + 2.5));
        p.save();
        p.setClipRect(box);
        p.setPen(QPen(QColor(0x40, 0x40, 0x40), 1));
        for (double d = -box.height(); d < box.width(); d += 5) {
            p.drawLine(QPointF(box.left() + d, box.bottom()),
                       QPointF(box.left() + d + box.height(), box.top()));
        }
        p.restore();
        p.setPen(QPen(QColor(0x40, 0x40, 0x40), 1));
        for (double y = r.y0 + 2.6; y < std::min(r.y1 - 0.3, r.y0 + 6); y += 0.28) {
            p.drawLine(at(r.x0 + 0.5, y), at(r.x0 + 2.5, y));
        }
    }
    // Walls, drawn whole (twice, a pixel apart, in one style); the door gaps
    // cut out afterwards.
    for (const Wall& w : floor.walls) {
        const double thick = w.outer ? style.outerWall : style.innerWall;
        p.setPen(QPen(style.wallColour, thick, Qt::SolidLine, Qt::SquareCap));
        p.drawLine(at(w.x1, w.y1), at(w.x2, w.y2));
        if (style.drawnTwice) {
            const QPointF a = at(w.x1, w.y1);
            const QPointF b = at(w.x2, w.y2);
            const QPointF shift = w.y1 == w.y2 ? QPointF(0, 1) : QPointF(1, 0);
            p.drawLine(a + shift, a + (b - a) * 0.6 + shift);
            p.drawLine(a + (b - a) * 0.4, b);
        }
    }
    p.setRenderHint(QPainter::Antialiasing, false);
    for (size_t i = 0; i < floor.walls.size(); ++i) {
        const Wall& w = floor.walls[i];
        const auto [g0, g1] = floor.gaps[i];
        if (g1 <= g0) {
            continue;
        }
        const double half = (w.outer ? style.outerWall : style.innerWall) / 2 + 1.5;
        const bool alongX = w.y1 == w.y2;
        const QPointF a = alongX ? at(g0, w.y1) : at(w.x1, g0);
        const QPointF b = alongX ? at(g1, w.y1) : at(w.x1, g1);
        const QRectF gap = alongX ? QRectF(a.x(), a.y() - half, b.x() - a.x(), 2 * half)
                                  : QRectF(a.x() - half, a.y(), 2 * half, b.y() - a.y());
        p.fillRect(gap, Qt::white);
    }
    p.setRenderHint(QPainter::Antialiasing, style.antialiased);
    // Door leaves and swings, 1 px.
    p.setPen(QPen(QColor(0x50, 0x50, 0x50), 1));
    p.setBrush(Qt::NoBrush);
    for (const Door& d : floor.doors) {
        const double r = 0.9 * s;
        const QPointF hinge = d.alongX ? at(d.x - 0.45, d.y) : at(d.x, d.y - 0.45);
        const QPointF leaf = d.alongX ? hinge + QPointF(0, r) : hinge + QPointF(r, 0);
        p.drawLine(hinge, leaf);
        p.drawArc(QRectF(hinge.x() - r, hinge.y() - r, 2 * r, 2 * r), d.alongX ? -90 * 16 : 0,
                  90 * 16);
    }
    if (style.dimensions) {
        // A dimension line below the building with ticks, and the column grid.
        p.setPen(QPen(QColor(0x30, 0x30, 0x30), 1));
        p.drawLine(at(0, 22.8), at(34, 22.8));
        for (double x = 0; x <= 34; x += 4) {
            p.drawLine(at(x, 22.5), at(x, 23.1));
        }
        p.setPen(QPen(QColor(0x80, 0x80, 0x80), 1, Qt::DashDotLine));
        for (double x = 4; x < 34; x += 8) {
            p.drawLine(at(x, -0.4), at(x, 22.4));
        }
        for (double y = 5.5; y < 22; y += 11) {
            p.drawLine(at(-0.4, y), at(34.4, y));
        }
    }
    // Room names and areas, and the floor's title.
    QFont font("Liberation Sans");
    font.setStyleStrategy(style.antialiased ? QFont::PreferAntialias : QFont::NoAntialias);
    for (size_t i = 0; i < floor.rooms.size(); ++i) {
        const Room& r = floor.rooms[i];
        font.setPixelSize(13);
        font.setBold(true);
        p.setFont(font);
        p.setPen(style.coloured ? QColor(0x90, 0x20, 0x20) : QColor(0x10, 0x10, 0x10));
        p.drawText(at(r.x0 + 0.4, r.y0 + 0.9), QString("%1 %2").arg(kNames[i % 10]).arg(i + 1));
        font.setPixelSize(10);
        font.setBold(false);
        p.setFont(font);
        p.drawText(at(r.x0 + 0.4, r.y0 + 1.5),
                   QString("%1 m²").arg((r.x1 - r.x0) * (r.y1 - r.y0), 0, 'f', 1));
    }
    font.setPixelSize(22);
    font.setBold(true);
    p.setFont(font);
    p.drawText(QPointF(margin, margin - 12), "GROUND FLOOR - LEVEL 0 - HALLOWAY HOUSE");
    p.end();
    return plan;
}

// A scanner's way with a paper plan: grey paper, a little blur, noise,
// specks, a slight turn and JPEG.
QImage Scan(const QImage& plan, std::mt19937& rng, QTransform& turn) {
    turn = QTransform().translate(plan.width() / 2.0, plan.height() / 2.0).rotate(0.4);
    turn.translate(-plan.width() / 2.0, -plan.height() / 2.0);
    QImage turned(plan.size(), QImage::Format_RGB32);
    turned.fill(Qt::white);
    {
        QPainter p(&turned);
        p.setRenderHint(QPainter::SmoothPixmapTransform);
        p.setTransform(turn);
        p.drawImage(0, 0, plan);
    }
    QImage out(plan.size(), QImage::Format_RGB32);
    std::normal_distribution<double> noise(0, 9);
    std::uniform_real_distribution<double> u(0, 1);
    const int w = plan.width();
    const int h = plan.height();
    for (int y = 0; y < h; ++y) {
        QRgb* row = reinterpret_cast<QRgb*>(out.scanLine(y));
        for (int x = 0; x < w; ++x) {
            double sum = 0;
            double weight = 0;
            for (int dy = -1; dy <= 1; ++dy) {
                for (int dx = -1; dx <= 1; ++dx) {
                    const int xx = std::clamp(x + dx, 0, w - 1);
                    const int yy = std::clamp(y + dy, 0, h - 1);
                    const double k = (dx == 0 ? 2 : 1) * (dy == 0 ? 2 : 1);
                    sum += k * qGray(turned.pixel(xx, yy));
                    weight += k;
                }
            }
            double v = 20 + (sum / weight) * (232 - 20) / 255 + noise(rng);
            if (u(rng) < 0.0008) {
                v = 40;  // a speck of dust
            }
            const int g = std::clamp(static_cast<int>(v), 0, 255);
            row[x] = qRgb(g, g, static_cast<int>(g * 0.97));
        }
    }
    QByteArray jpeg;
    QBuffer buffer(&jpeg);
    buffer.open(QIODevice::WriteOnly);
    out.save(&buffer, "JPEG", 75);
    return QImage::fromData(jpeg, "JPEG").convertToFormat(QImage::Format_RGB32);
}

double DistanceToSegment(double px, double py, const Segment& s) {
    const double dx = s.x2 - s.x1;
    const double dy = s.y2 - s.y1;
    const double l2 = dx * dx + dy * dy;
    double t = l2 == 0 ? 0 : ((px - s.x1) * dx + (py - s.y1) * dy) / l2;
    t = std::clamp(t, 0.0, 1.0);
    return std::hypot(px - (s.x1 + t * dx), py - (s.y1 + t * dy));
}

bool SameDirection(const Segment& a, const Segment& b) {
    const double cross = (a.x2 - a.x1) * (b.y2 - b.y1) - (a.y2 - a.y1) * (b.x2 - b.x1);
    return std::fabs(cross) <= std::sin(10 * M_PI / 180) * a.Length() * b.Length();
}

// Length of `of` (every half pixel) lying near a segment of `in` along the
// same direction; `twice` counts the length near two or more of them.
double LengthNear(const std::vector<Segment>& of, const std::vector<Segment>& in, double tolerance,
                  double* twice = nullptr, bool skipSelf = false) {
    double near = 0;
    for (size_t i = 0; i < of.size(); ++i) {
        const Segment& s = of[i];
        const double length = s.Length();
        for (double t = 0.25; t < length; t += 0.5) {
            const double x = s.x1 + (s.x2 - s.x1) * t / length;
            const double y = s.y1 + (s.y2 - s.y1) * t / length;
            int hits = 0;
            for (size_t j = 0; j < in.size(); ++j) {
                if (skipSelf && i == j) {
                    continue;
                }
                const double allowed = std::max(tolerance, 0.5 * in[j].thickness + 1);
                if (SameDirection(s, in[j]) && DistanceToSegment(x, y, in[j]) <= allowed) {
                    ++hits;
                }
            }
            near += hits > 0 ? 0.5 : 0;
            if (twice != nullptr && hits > 0) {
                *twice += 0.5;
            }
        }
    }
    return near;
}

struct Score {
    double truthM = 0;
    double foundM = 0;
    double correct = 0;   // px of found near the truth
    double recalled = 0;  // px of truth near what was found
    double twice = 0;     // px of found near another found
    int doors = 0;
    int bridged = 0;
    int walls = 0;
    double ms = 0;
};

void DrawCheck(QImage& plan, const std::vector<Segment>& truth, const std::vector<Segment>& found) {
    QPainter p(&plan);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(QColor(0, 200, 0), 1));
    for (const Segment& s : truth) {
        p.drawLine(QPointF(s.x1, s.y1), QPointF(s.x2, s.y2));
    }
    p.setPen(QPen(QColor(255, 0, 0, 170), 2));
    for (const Segment& s : found) {
        p.drawLine(QPointF(s.x1, s.y1), QPointF(s.x2, s.y2));
        p.drawEllipse(QPointF(s.x1, s.y1), 2, 2);
        p.drawEllipse(QPointF(s.x2, s.y2), 2, 2);
    }
}

}  // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    int seeds = 3;
    std::string pictures;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--seeds") == 0 && i + 1 < argc) {
            seeds = std::max(1, std::atoi(argv[++i]));
        } else if (std::strcmp(argv[i], "--pictures") == 0 && i + 1 < argc) {
            pictures = argv[++i];
        } else {
            std::fprintf(stderr, "usage: bench_walls [--seeds N] [--pictures DIR]\n");
            return 2;
        }
    }
    std::printf(
        "Wall detection on %d generated floors per style (34 x 22 m, through the site's "
        "256 colours)\n\n",
        seeds);
    std::printf("%-22s %6s %8s %8s %9s %7s %6s %8s %8s\n", "style", "walls", "truth m", "found m",
                "precision", "recall", "twice", "bridged", "ms");
    Score all;
    for (const Style& style : kStyles) {
        Score score;
        for (int seed = 1; seed <= seeds; ++seed) {
            std::mt19937 rng(static_cast<unsigned>(seed * 7919));
            const Floor floor = MakeFloor(rng, style);
            const double margin = 40;
            std::vector<Segment> truth = Truth(floor, style, margin);
            QImage plan = Draw(floor, style, margin, rng);
            if (style.scanned) {
                QTransform turn;
                plan = Scan(plan, rng, turn);
                for (Segment& s : truth) {
                    const QPointF a = turn.map(QPointF(s.x1, s.y1));
                    const QPointF b = turn.map(QPointF(s.x2, s.y2));
                    s = {a.x(), a.y(), b.x(), b.y(), s.thickness};
                }
            }
            const sitefile::SiteMap map = plan::IndexedSiteMap(plan);
            const plan::GreyPlan grey = plan::GreyOf(map);
            const auto start = std::chrono::steady_clock::now();
            const std::vector<plan::FoundWall> walls =
                plan::DetectWalls(grey, style.pixelsPerMetre);
            score.ms +=
                std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                    .count();
            std::vector<Segment> found;
            for (const plan::FoundWall& w : walls) {
                found.push_back({w.x1, w.y1, w.x2, w.y2, w.thickness});
            }
            double truthPx = 0;
            for (const Segment& s : truth) {
                truthPx += s.Length();
            }
            double foundPx = 0;
            for (const Segment& s : found) {
                foundPx += s.Length();
            }
            score.walls += static_cast<int>(truth.size());
            score.truthM += truthPx / style.pixelsPerMetre;
            score.foundM += foundPx / style.pixelsPerMetre;
            score.correct += LengthNear(found, truth, 2) / style.pixelsPerMetre;
            score.recalled += LengthNear(truth, found, 2) / style.pixelsPerMetre;
            double twice = 0;
            LengthNear(found, found, 2, &twice, true);
            score.twice += twice / style.pixelsPerMetre;
            for (const Door& d : floor.doors) {
                double x = margin + d.x * style.pixelsPerMetre;
                double y = margin + d.y * style.pixelsPerMetre;
                ++score.doors;
                for (const Segment& s : found) {
                    if (DistanceToSegment(x, y, s) <= 2) {
                        ++score.bridged;
                        break;
                    }
                }
            }
            if (seed == 1 && !pictures.empty()) {
                QImage check = plan;
                DrawCheck(check, truth, found);
                std::string name = style.name;
                std::replace(name.begin(), name.end(), ' ', '-');
                name.erase(std::remove_if(name.begin(), name.end(),
                                          [](char c) { return c == '(' || c == ')'; }),
                           name.end());
                check.save(QString::fromStdString(pictures + "/walls-" + name + ".png"));
            }
        }
        std::printf("%-22s %6d %8.1f %8.1f %8.1f%% %6.1f%% %5.1f%% %4d/%-3d %8.0f\n", style.name,
                    score.walls, score.truthM, score.foundM, 100 * score.correct / score.foundM,
                    100 * score.recalled / score.truthM, 100 * score.twice / score.foundM,
                    score.bridged, score.doors, score.ms / seeds);
        all.truthM += score.truthM;
        all.foundM += score.foundM;
        all.correct += score.correct;
        all.recalled += score.recalled;
        all.twice += score.twice;
        all.walls += score.walls;
        all.doors += score.doors;
        all.bridged += score.bridged;
        all.ms += score.ms / seeds;
    }
    std::printf("%-22s %6d %8.1f %8.1f %8.1f%% %6.1f%% %5.1f%% %4d/%-3d %8.0f\n", "all", all.walls,
                all.truthM, all.foundM, 100 * all.correct / all.foundM,
                100 * all.recalled / all.truthM, 100 * all.twice / all.foundM, all.bridged,
                all.doors, all.ms / std::size(kStyles));
    std::printf(
        "\nprecision: share of the length found that lies on a true wall (within 2 px or "
        "half its thickness)\nrecall: share of the true walls' length that was found; "
        "twice: share of the length found twice;\nbridged: door gaps a wall was found "
        "across; ms: detection time a plan\n");

    // The largest plan a site holds: a floor drawn at 230 px a metre.
    const Style large = {"largest", 230, 35, 70};
    std::mt19937 rng(1);
    const Floor floor = MakeFloor(rng, large);
    const QImage plan = Draw(floor, large, 80, rng);
    const plan::GreyPlan grey = plan::GreyOf(plan::IndexedSiteMap(plan));
    const auto start = std::chrono::steady_clock::now();
    const size_t found = plan::DetectWalls(grey, large.pixelsPerMetre).size();
    const double ms =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    std::printf("\nlargest plan: %d x %d px, %zu walls found of %zu drawn, %.0f ms\n", plan.width(),
                plan.height(), found, Truth(floor, large, 80).size(), ms);
    return 0;
}
