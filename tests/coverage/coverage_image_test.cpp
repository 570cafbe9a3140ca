// Coverage maps as pictures: the overlay the window and ksf share, and the
// ksf picture built on it.
#include "picture/coverage_image.h"

#include <gtest/gtest.h>

#include <QColor>
#include <QGuiApplication>
#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

#include "coverage/rssi_bands.h"

namespace {

using coverage::Grid;
using coverage::GridSpec;
using coverage::Metric;

QRgb BandRgb(int band) {
    return 0xFF000000u | ColorRefToRgb(kRssiBands[band].colorRef);
}

// A grid of 3 x 2 cells of 4 pixels over a 10 x 7 map (the last column and
// row cut by the map's edge).
Grid SmallGrid(Metric metric, std::vector<float> values) {
    Grid grid;
    grid.spec = GridSpec{10, 7, 4, 0};
    grid.metric = metric;
    grid.values = std::move(values);
    return grid;
}

void ExpectColour(const QImage& image, int x, int y, QRgb rgb, int alpha) {
    const QColor c = image.pixelColor(x, y);
    EXPECT_EQ(c.alpha(), alpha) << x << "," << y;
    EXPECT_NEAR(c.red(), qRed(rgb), 2) << x << "," << y;
    EXPECT_NEAR(c.green(), qGreen(rgb), 2) << x << "," << y;
    EXPECT_NEAR(c.blue(), qBlue(rgb), 2) << x << "," << y;
}

// A level's colour is the colour legend's band, as for the circles: a cell at
// a survey point that keeps the point's level shows its circle's colour.
TEST(CellColour, LevelsTakeTheLegendsBandAndCountsRunUpTheSameColours) {
    for (int dbm = -110; dbm <= 0; ++dbm) {
        ASSERT_EQ(picture::CellColour(Metric::kStrongest, static_cast<float>(dbm)),
                  BandRgb(RssiBandIndex(dbm)))
            << dbm;
    }
    EXPECT_EQ(picture::CellColour(Metric::kSecond, -69.9f), BandRgb(3));  // above -70: green
    EXPECT_EQ(picture::CellColour(Metric::kSecond, -70.1f), BandRgb(4));  // blue
    const int countBands[] = {5, 4, 3, 2, 1, 0, 0};  // 0 black ... 5 or more red
    for (int n = 0; n <= 6; ++n) {
        EXPECT_EQ(picture::CellColour(Metric::kCount, static_cast<float>(n)),
                  BandRgb(countBands[n]))
            << n;
        EXPECT_EQ(picture::CellColour(Metric::kCochannel, static_cast<float>(n)),
                  BandRgb(countBands[n]))
            << n;
    }
}

TEST(CoverageOverlay, CellsInTheirColourTranslucentTheRestClear) {
    const float none = std::numeric_limits<float>::quiet_NaN();
    const Grid grid = SmallGrid(Metric::kStrongest, {-35, -45, none, -75, -85, -55});
    const QImage overlay = picture::CoverageOverlay(grid, QSize(10, 7));
    ASSERT_EQ(overlay.size(), QSize(10, 7));
    ExpectColour(overlay, 0, 0, BandRgb(0), picture::kOverlayAlpha);
    ExpectColour(overlay, 3, 3, BandRgb(0), picture::kOverlayAlpha);
    ExpectColour(overlay, 4, 0, BandRgb(1), picture::kOverlayAlpha);
    EXPECT_EQ(overlay.pixelColor(9, 0).alpha(), 0) << "no value: clear";
    ExpectColour(overlay, 2, 6, BandRgb(4), picture::kOverlayAlpha);
    ExpectColour(overlay, 9, 6, BandRgb(2), picture::kOverlayAlpha);  // the cut corner cell

    // Larger than the grid's map: the rest is clear.
    const QImage larger = picture::CoverageOverlay(grid, QSize(14, 9));
    EXPECT_EQ(larger.pixelColor(12, 2).alpha(), 0);
    EXPECT_EQ(larger.pixelColor(2, 8).alpha(), 0);
    ExpectColour(larger, 2, 6, BandRgb(4), picture::kOverlayAlpha);
}

// The ksf picture: the map in grey, the overlay over it; where no cell has a
// value the grey map shows unchanged.
TEST(HeatmapPicture, GreyMapUnderTheOverlay) {
    const float none = std::numeric_limits<float>::quiet_NaN();
    const Grid grid = SmallGrid(Metric::kCount, {0, 5, none, none, none, none});
    QImage map(10, 7, QImage::Format_RGB32);
    map.fill(QColor(200, 40, 90));
    const QImage picture = picture::HeatmapPicture(grid, map);
    ASSERT_EQ(picture.size(), map.size());
    const int grey = qGray(qRgb(200, 40, 90));
    EXPECT_EQ(picture.pixel(9, 6), qRgb(grey, grey, grey));
    const auto blend = [&](int channel) {
        return (channel * picture::kOverlayAlpha + grey * (255 - picture::kOverlayAlpha)) / 255;
    };
    const QColor black = picture.pixelColor(1, 1);  // 0 access points: black
    EXPECT_NEAR(black.red(), blend(0), 2);
    EXPECT_NEAR(black.green(), blend(0), 2);
    const QColor red = picture.pixelColor(5, 1);  // 5 access points: red
    EXPECT_NEAR(red.red(), blend(255), 2);
    EXPECT_NEAR(red.green(), blend(0), 2);
    EXPECT_NEAR(red.blue(), blend(0), 2);
}

// The pass/fail map is drawn as the heatmap is: the same cells, the same
// translucency, green and red; cells without a verdict stay clear.
TEST(PassFailOverlay, PassGreenFailRedNoVerdictClear) {
    coverage::AreaVerdict verdict;
    verdict.spec = GridSpec{10, 7, 4, 0};
    using coverage::CellVerdict;
    verdict.cells = {CellVerdict::kPass, CellVerdict::kFail, CellVerdict::kNone,
                     CellVerdict::kNone, CellVerdict::kPass, CellVerdict::kFail};
    const QImage overlay = picture::PassFailOverlay(verdict, QSize(10, 7));
    ASSERT_EQ(overlay.size(), QSize(10, 7));
    ExpectColour(overlay, 3, 3, picture::kPassColour, picture::kOverlayAlpha);
    ExpectColour(overlay, 4, 0, picture::kFailColour, picture::kOverlayAlpha);
    EXPECT_EQ(overlay.pixelColor(9, 0).alpha(), 0);
    EXPECT_EQ(overlay.pixelColor(1, 5).alpha(), 0);
    ExpectColour(overlay, 9, 6, picture::kFailColour, picture::kOverlayAlpha);

    QImage map(10, 7, QImage::Format_RGB32);
    map.fill(Qt::white);
    const QImage picture = picture::PassFailPicture(verdict, map);
    EXPECT_EQ(picture.pixel(9, 0), qRgb(255, 255, 255));
    EXPECT_GT(picture.pixelColor(0, 0).green(), picture.pixelColor(0, 0).red());
    EXPECT_GT(picture.pixelColor(4, 0).red(), picture.pixelColor(4, 0).green());
}

// The scale bar is a round length (1, 2 or 5 times a power of ten metres) at
// the map's own scale, about a fifth of the picture wide.
TEST(ScaleBar, RoundLengthAtTheMapsScale) {
    static int argc = 1;
    static char name[] = "test_coverage_image";
    static char* argv[] = {name, nullptr};
    static QGuiApplication app(argc, argv);  // the bar's label needs fonts
    for (const double pixelsPerMetre : {20.0, 3.0, 0.5, 250.0}) {
        QImage picture(640, 480, QImage::Format_RGB32);
        picture.fill(Qt::white);
        picture::DrawScaleBar(picture, pixelsPerMetre);
        // The bar: the longest run of black pixels in two rows running (the
        // frame around it is one pixel thick).
        std::vector<int> runs(picture.height());
        for (int y = 0; y < picture.height(); ++y) {
            int run = 0;
            for (int x = 0; x < picture.width(); ++x) {
                run = picture.pixel(x, y) == qRgb(0, 0, 0) ? run + 1 : 0;
                runs[y] = std::max(runs[y], run);
            }
        }
        int longest = 0;
        for (int y = 0; y + 1 < picture.height(); ++y) {
            longest = std::max(longest, std::min(runs[y], runs[y + 1]));
        }
        const double metres = longest / pixelsPerMetre;
        const double mantissa = metres / std::pow(10.0, std::floor(std::log10(metres) + 1e-9));
        EXPECT_TRUE(std::fabs(mantissa - 1) < 0.02 || std::fabs(mantissa - 2) < 0.04 ||
                    std::fabs(mantissa - 5) < 0.1)
            << pixelsPerMetre << " px/m: a bar of " << longest << " px is " << metres << " m";
        EXPECT_LE(longest, 640 / 5 + 1) << pixelsPerMetre;
        EXPECT_GT(longest, 640 / 13) << pixelsPerMetre;
    }
    QImage untouched(64, 48, QImage::Format_RGB32);
    untouched.fill(Qt::white);
    const QImage before = untouched.copy();
    picture::DrawScaleBar(untouched, 0);
    EXPECT_EQ(untouched, before) << "no scale, no bar";
}

}  // namespace
