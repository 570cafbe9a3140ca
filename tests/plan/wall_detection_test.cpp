// What detection holds to on small plans: what is a wall and what is not,
// gaps kept, a wall drawn twice found once, walls meeting exactly.
#include "plan/wall_detection.h"

#include <gtest/gtest.h>

#include <QPainter>
#include <array>
#include <cmath>
#include <functional>

#include "plan/plan_files.h"

namespace {

using plan::FoundWall;

// Detection of what `draw` paints on a white 240 x 180 plan.
std::vector<FoundWall> Detect(const std::function<void(QPainter&)>& draw,
                              std::optional<double> pixelsPerMetre = std::nullopt) {
    NeedGuiApplication();
    QImage image(240, 180, QImage::Format_RGB32);
    image.fill(Qt::white);
    {
        QPainter p(&image);
        draw(p);
    }
    plan::GreyPlan grey;
    grey.width = image.width();
    grey.height = image.height();
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            grey.pixels.push_back(static_cast<uint8_t>(qGray(image.pixel(x, y))));
        }
    }
    return plan::DetectWalls(grey, pixelsPerMetre);
}

void Line(QPainter& p, double width, double x1, double y1, double x2, double y2,
          QColor colour = QColor(0x20, 0x20, 0x20)) {
    p.setPen(QPen(colour, width, Qt::SolidLine, Qt::FlatCap));
    p.drawLine(QPointF(x1, y1), QPointF(x2, y2));
}

std::string Describe(const std::vector<FoundWall>& walls) {
    std::string text;
    for (const FoundWall& w : walls) {
        text += std::to_string(w.x1) + "," + std::to_string(w.y1) + " " + std::to_string(w.x2) +
                "," + std::to_string(w.y2) + "; ";
    }
    return text;
}

void ExpectWall(const FoundWall& w, double x1, double y1, double x2, double y2) {
    EXPECT_NEAR(w.x1, x1, 1) << Describe({w});
    EXPECT_NEAR(w.y1, y1, 1) << Describe({w});
    EXPECT_NEAR(w.x2, x2, 1) << Describe({w});
    EXPECT_NEAR(w.y2, y2, 1) << Describe({w});
}

TEST(WallDetection, StraightRunsTwoPixelsThickAndAMetreLongAreWalls) {
    // Along its middle, whatever its thickness, angle or colour.
    const auto walls = Detect([](QPainter& p) {
        Line(p, 2, 20, 30, 220, 30);
        Line(p, 8, 20, 90, 220, 90, QColor(0x10, 0x30, 0xA0));  // dark blue
        p.setRenderHint(QPainter::Antialiasing);
        Line(p, 3, 30, 170, 130, 120);
    });
    ASSERT_EQ(walls.size(), 3u) << Describe(walls);
    ExpectWall(walls[0], 20, 30, 220, 30);
    EXPECT_NEAR(walls[0].thickness, 2, 0.5);
    ExpectWall(walls[1], 20, 90, 220, 90);
    EXPECT_NEAR(walls[1].thickness, 8, 1);
    ExpectWall(walls[2], 30, 170, 130, 120);

    // 1 m is 24 px without a scale, the scale's pixels with one.
    const auto shortWall = [](QPainter& p) { Line(p, 3, 20, 30, 50, 30); };
    EXPECT_EQ(Detect(shortWall).size(), 1u);
    EXPECT_EQ(Detect(shortWall, 40.0).size(), 0u);
}

TEST(WallDetection, TextArcsHatchingThinLinesAndSolidAreasAreNotWalls) {
    const auto walls = Detect([](QPainter& p) {
        QFont font("Liberation Sans");
        font.setBold(true);
        for (const auto& [size, y] : {std::pair{10, 20}, {14, 42}, {22, 76}}) {
            font.setPixelSize(size);
            p.setFont(font);
            p.setPen(Qt::black);
            p.drawText(QPointF(10, y), "MEETING ROOM 11 - HALL EEE");
        }
        p.setPen(QPen(Qt::black, 3));
        p.drawArc(QRectF(150, 100, 80, 80), 0, 90 * 16);  // a door's swing
        p.setPen(QPen(Qt::black, 1));
        for (int x = 0; x < 60; x += 4) {  // hatching
            p.drawLine(QPointF(20 + x, 170), QPointF(40 + x, 110));
        }
        p.drawRect(QRectF(100, 110, 40, 60));            // furniture, 1 px
        p.fillRect(QRectF(160, 10, 70, 50), Qt::black);  // a solid area
    });
    EXPECT_TRUE(walls.empty()) << Describe(walls);
}

// A plan drawn large: its room name's strokes are as thick as thin walls and
// longer than a metre, but stand free of the walls.
TEST(WallDetection, LargeLetteringInsideThickWallsIsNotAWall) {
    const auto walls = Detect([](QPainter& p) {
        for (const auto& [x1, y1, x2, y2] : {std::array{10, 10, 230, 10},
                                             {10, 170, 230, 170},
                                             {10, 10, 10, 170},
                                             {230, 10, 230, 170}}) {
            Line(p, 14, x1, y1, x2, y2);
        }
        QFont font("Liberation Sans");
        font.setPixelSize(56);
        p.setFont(font);
        p.setPen(QColor(0x33, 0x33, 0x33));
        p.setRenderHint(QPainter::Antialiasing);
        p.drawText(QPointF(30, 80), "Lab");
        p.drawText(QPointF(100, 150), "Store");
    });
    EXPECT_EQ(walls.size(), 4u) << Describe(walls);
}

// A door gap stays a gap; a wall drawn twice (overlapping, a pixel apart) is
// found once; walls meeting at a corner or a T end exactly on each other.
TEST(WallDetection, GapsKeptWallsFoundOnceAndMeetingExactly) {
    const auto gap = Detect([](QPainter& p) {
        Line(p, 4, 20, 40, 100, 40);
        Line(p, 4, 130, 40, 220, 40);
    });
    ASSERT_EQ(gap.size(), 2u) << Describe(gap);
    ExpectWall(gap[0], 20, 40, 100, 40);
    ExpectWall(gap[1], 130, 40, 220, 40);

    const auto twice = Detect([](QPainter& p) {
        Line(p, 4, 20, 60, 220, 60);
        Line(p, 4, 20, 61, 140, 61);
        Line(p, 4, 100, 60, 220, 60);
    });
    ASSERT_EQ(twice.size(), 1u) << Describe(twice);
    ExpectWall(twice[0], 20, 60.5, 220, 60.5);

    const auto meeting = Detect([](QPainter& p) {
        p.setPen(QPen(QColor(0x20, 0x20, 0x20), 6, Qt::SolidLine, Qt::SquareCap));
        p.drawLine(30, 30, 200, 30);    // an L: along the top,
        p.drawLine(30, 30, 30, 160);    // down the left,
        p.drawLine(120, 30, 120, 160);  // and a T from the top
    });
    ASSERT_EQ(meeting.size(), 3u) << Describe(meeting);
    int atCorner = 0;
    int atT = 0;
    for (const FoundWall& w : meeting) {
        for (const auto& [x, y] : {std::pair{w.x1, w.y1}, {w.x2, w.y2}}) {
            atCorner += x == 30 && y == 30;
            atT += x == 120 && y == 30;
        }
    }
    EXPECT_EQ(atCorner, 2) << Describe(meeting);
    EXPECT_EQ(atT, 1) << Describe(meeting);
}

}  // namespace
