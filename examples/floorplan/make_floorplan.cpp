// Draws the example site: a 640 x 480 plan of a small office floor with
// rooms, corridors, doors, furniture and room names, as a PNG picture, or as
// SVG or PDF (the same drawing in vectors). With --walls it prints
// the plan's walls, door gaps cut out, as the JSON list the office scenario's
// "walls" field holds; with --sidecar the example site's sidecar (scale, walls).
#include <QFont>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QPdfWriter>
#include <QRect>
#include <QString>
#include <QSvgGenerator>

#include <cstdio>
#include <cstring>

#include "examples/floorplan/office_walls.h"

namespace {

const QColor kWall(0x20, 0x20, 0x20);
const QColor kDoor(0x90, 0x90, 0x90);
const QColor kFurniture(0xD8, 0xD8, 0xD8);
const QColor kFurnitureEdge(0xA8, 0xA8, 0xA8);
const QColor kLabel(0x1A, 0x3A, 0x6A);
const QColor kCorridor(0xF2, 0xF2, 0xEC);
using office_plan::kDoorWidth;
using office_plan::kWallWidth;

struct Room {
    QRect box;
    const char* name;
};

// Wall lines; doors are gaps cut into them afterwards.
void Wall(QPainter& p, int x1, int y1, int x2, int y2) {
    p.setPen(QPen(kWall, kWallWidth, Qt::SolidLine, Qt::SquareCap));
    p.drawLine(x1, y1, x2, y2);
}

// A door in a horizontal wall at height y, opening downwards (or upwards).
void DoorH(QPainter& p, int x, int y, bool down) {
    p.fillRect(QRect(x, y - kWallWidth / 2 - 1, kDoorWidth, kWallWidth + 2), Qt::white);
    p.setPen(QPen(kDoor, 1));
    const int dy = down ? kDoorWidth : -kDoorWidth;
    p.drawLine(x, y, x, y + dy);
    p.drawArc(QRect(x - kDoorWidth, y - kDoorWidth, 2 * kDoorWidth, 2 * kDoorWidth), 0,
              down ? -90 * 16 : 90 * 16);
}

// A door in a vertical wall at x, opening to the right (or left).
void DoorV(QPainter& p, int x, int y, bool right) {
    p.fillRect(QRect(x - kWallWidth / 2 - 1, y, kWallWidth + 2, kDoorWidth), Qt::white);
    p.setPen(QPen(kDoor, 1));
    const int dx = right ? kDoorWidth : -kDoorWidth;
    p.drawLine(x, y, x + dx, y);
    p.drawArc(QRect(x - kDoorWidth, y - kDoorWidth, 2 * kDoorWidth, 2 * kDoorWidth),
              right ? -90 * 16 : 180 * 16, right ? 90 * 16 : 90 * 16);
}

void Desk(QPainter& p, int x, int y, int w, int h) {
    p.setPen(QPen(kFurnitureEdge, 1));
    p.setBrush(kFurniture);
    p.drawRect(x, y, w, h);
}

void Label(QPainter& p, const QRect& room, const char* text) {
    p.setPen(kLabel);
    p.drawText(room.adjusted(8, 6, -8, -6), Qt::AlignLeft | Qt::AlignTop, QString::fromUtf8(text));
}

}  // namespace

// The scenario's "walls" list, one wall a line.
void PrintWalls() {
    const std::vector<std::array<int, 4>> walls = office_plan::WallSegments();
    std::printf("  \"walls\": [\n");
    for (size_t i = 0; i < walls.size(); ++i) {
        const std::array<int, 4>& w = walls[i];
        std::printf("    [%d, %d, %d, %d]%s\n", w[0], w[1], w[2], w[3],
                    i + 1 < walls.size() ? "," : "");
    }
    std::printf("  ],\n");
}

// The example site's sidecar: the plan's scale (32 m across) and its walls,
// door gaps cut out, as drywall (the office scenario's 5 dB a wall is about
// drywall's loss at 5 GHz; the survey's calibration finds the rest).
void PrintSidecar() {
    const std::vector<std::array<int, 4>> walls = office_plan::WallSegments();
    std::printf("{\n  \"pixels_per_metre\": 20,\n  \"walls\": [\n");
    for (size_t i = 0; i < walls.size(); ++i) {
        const std::array<int, 4>& w = walls[i];
        std::printf(
            "    {\"x1\": %d, \"y1\": %d, \"x2\": %d, \"y2\": %d, \"material\": \"drywall\"}%s\n",
            w[0], w[1], w[2], w[3], i + 1 < walls.size() ? "," : "");
    }
    std::printf("  ]\n}\n");
}

// The plan, on any paint device 640 x 480 units large.
void DrawPlan(QPainter& p) {
    p.fillRect(QRect(0, 0, 640, 480), Qt::white);
    QFont font("Liberation Sans");
    font.setPixelSize(12);
    font.setBold(true);
    // Plain, unsmoothed drawing keeps the plan to a handful of colours, so
    // the site's 256-colour map holds it exactly.
    font.setStyleStrategy(QFont::NoAntialias);
    p.setRenderHint(QPainter::Antialiasing, false);
    p.setRenderHint(QPainter::TextAntialiasing, false);
    p.setFont(font);

    // Corridors, shaded lightly.
    p.fillRect(QRect(10, 185, 620, 30), kCorridor);
    p.fillRect(QRect(10, 320, 620, 30), kCorridor);

    const Room rooms[] = {
        {QRect(10, 10, 170, 175), "Reception"},        {QRect(180, 10, 270, 175), "Open Plan"},
        {QRect(450, 10, 180, 175), "Meeting Room 1"},  {QRect(10, 215, 170, 105), "Kitchen"},
        {QRect(180, 215, 200, 105), "Meeting Room 2"}, {QRect(380, 215, 70, 105), "Store"},
        {QRect(450, 215, 180, 105), "Server"},         {QRect(10, 350, 230, 120), "Lab"},
        {QRect(240, 350, 160, 120), "Quiet Room"},     {QRect(400, 350, 230, 120), "Training"},
    };

    // Furniture first, so walls and labels stay on top.
    Desk(p, 30, 120, 90, 24);            // reception counter
    for (int row = 0; row < 2; ++row) {  // open plan desks
        for (int col = 0; col < 4; ++col) {
            Desk(p, 230 + col * 52, 40 + row * 56, 40, 22);
        }
    }
    p.setBrush(kFurniture);
    p.setPen(QPen(kFurnitureEdge, 1));
    p.drawEllipse(QRect(510, 120, 70, 40));  // meeting table 1
    Desk(p, 20, 290, 90, 20);                // kitchen worktop
    Desk(p, 230, 270, 120, 30);              // meeting table 2
    for (int i = 0; i < 3; ++i) {            // server racks
        Desk(p, 470 + i * 30, 270, 20, 40);
    }
    Desk(p, 390, 243, 50, 35);     // shelving
    Desk(p, 30, 440, 190, 20);     // lab bench
    Desk(p, 150, 370, 20, 60);     // lab bench
    Desk(p, 260, 440, 60, 20);     // sofa
    for (int i = 0; i < 3; ++i) {  // training tables
        Desk(p, 420 + i * 70, 430, 55, 20);
    }

    for (const office_plan::PlanWall& w : office_plan::kWalls) {
        Wall(p, w.x1, w.y1, w.x2, w.y2);
    }
    for (const office_plan::PlanDoor& d : office_plan::kDoors) {
        if (d.inHorizontalWall) {
            DoorH(p, d.x, d.y, d.forward);
        } else {
            DoorV(p, d.x, d.y, d.forward);
        }
    }

    for (const Room& r : rooms) {
        Label(p, r.box, r.name);
    }
    QFont small = font;
    small.setBold(false);
    small.setPixelSize(10);
    p.setFont(small);
    p.setPen(kLabel);
    p.drawText(QRect(60, 187, 200, 26), Qt::AlignVCenter, "Corridor");
    p.drawText(QRect(260, 322, 200, 26), Qt::AlignVCenter, "Corridor");
}

int main(int argc, char** argv) {
    if (argc == 2 && std::strcmp(argv[1], "--walls") == 0) {
        PrintWalls();
        return 0;
    }
    if (argc == 2 && std::strcmp(argv[1], "--sidecar") == 0) {
        PrintSidecar();
        return 0;
    }
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(
            stderr,
            "usage: make_floorplan OUTPUT.png|OUTPUT.svg|OUTPUT.pdf | --walls | --sidecar\n");
        return 2;
    }
    const QString path = QString::fromLocal8Bit(argv[1]);
    bool written = true;
    if (path.endsWith(".svg")) {
        // The same plan as a vector drawing, as an architect would send it.
        QSvgGenerator svg;
        svg.setFileName(path);
        svg.setSize(QSize(640, 480));
        svg.setViewBox(QRect(0, 0, 640, 480));
        svg.setTitle("Office floor plan");
        QPainter p(&svg);
        DrawPlan(p);
        written = p.end();
    } else if (path.endsWith(".pdf")) {
        // A PDF page of 640 x 480 points.
        QPdfWriter pdf(path);
        pdf.setPageSize(QPageSize(QSizeF(640, 480), QPageSize::Point));
        pdf.setPageMargins(QMarginsF(0, 0, 0, 0));
        pdf.setResolution(72);
        pdf.setTitle("Office floor plan");
        pdf.setCreator("make_floorplan");
        QPainter p(&pdf);
        DrawPlan(p);
        written = p.end();
    } else {
        QImage plan(640, 480, QImage::Format_RGB32);
        QPainter p(&plan);
        DrawPlan(p);
        p.end();
        written = plan.save(path, "PNG");
    }
    if (!written) {
        std::fprintf(stderr, "make_floorplan: cannot write %s\n", argv[1]);
        return 1;
    }
    return 0;
}
