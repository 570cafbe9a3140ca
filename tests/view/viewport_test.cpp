#include "view/viewport.h"

#include <gtest/gtest.h>

#include <climits>

namespace {

constexpr Rect kClient{0, 0, 240, 268};

CViewport Opened(int32_t width, int32_t height) {
    CViewport v;
    v.SetMapBounds(0, 0, width, height);
    v.SetVisibleRect(0, 0, width, height);
    return v;
}

TEST(Viewport, StartsAllZero) {
    CViewport v;
    EXPECT_EQ(v.GetVisibleRect(), (Rect{0, 0, 0, 0}));
    EXPECT_EQ(v.GetMapBounds(), (Rect{0, 0, 0, 0}));
    EXPECT_EQ(v.GetCenterX(), 0);
    EXPECT_EQ(v.GetMarginCount(), 0);
    // Centre moves clamp to the empty map.
    v.ScrollRight(10);
    v.SetCenterY(50);
    EXPECT_EQ(v.GetCenterX(), 0);
    EXPECT_EQ(v.GetCenterY(), 0);
}

TEST(Viewport, OpenedMapFillsTheClientWithZeroSizeStrips) {
    CViewport v = Opened(240, 320);
    EXPECT_EQ(v.GetVisibleRect(), (Rect{0, 0, 240, 320}));
    EXPECT_EQ(v.GetCenterX(), 120);
    EXPECT_EQ(v.GetCenterY(), 160);

    Rect d = kClient, s{};
    EXPECT_TRUE(v.ComputeBlit(d, s));
    EXPECT_EQ(s, (Rect{0, 0, 240, 320}));
    EXPECT_EQ(d, (Rect{0, 0, 240, 268}));
    ASSERT_EQ(v.GetMarginCount(), 2);
    EXPECT_EQ(v.GetMargin(0), (Rect{0, 0, 0, 268}));
    EXPECT_EQ(v.GetMargin(1), (Rect{0, 0, 240, 0}));
}

TEST(Viewport, ZoomInThenOutReturnsToTheWholeMap) {
    CViewport v = Opened(240, 320);
    EXPECT_TRUE(v.ZoomIn());
    EXPECT_EQ(v.GetVisibleRect(), (Rect{60, 80, 180, 240}));
    EXPECT_EQ(v.GetCenterX(), 120);
    EXPECT_EQ(v.GetCenterY(), 160);

    // Fully inside the map: the extent fills the client, no strips.
    Rect d = kClient, s{};
    v.ComputeBlit(d, s);
    EXPECT_EQ(s, (Rect{60, 80, 180, 240}));
    EXPECT_EQ(d, kClient);
    EXPECT_EQ(v.GetMarginCount(), 0);

    v.ZoomOut();
    EXPECT_EQ(v.GetVisibleRect(), (Rect{0, 0, 240, 320}));
    EXPECT_EQ(v.GetCenterX(), 120);
}

TEST(Viewport, LineScrollLeftLeavesAStripOnTheLeft) {
    CViewport v = Opened(240, 320);
    v.ScrollLeft(10);
    EXPECT_EQ(v.GetCenterX(), 110);
    EXPECT_EQ(v.GetVisibleRect(), (Rect{-10, 0, 230, 320}));

    Rect d = kClient, s{};
    v.ComputeBlit(d, s);
    EXPECT_EQ(d, (Rect{10, 0, 240, 268}));
    EXPECT_EQ(s, (Rect{0, 0, 230, 320}));
    ASSERT_GE(v.GetMarginCount(), 1);
    EXPECT_EQ(v.GetMargin(0), (Rect{0, 0, 10, 268}));

    // Zooming out at full extent uses the entry centre and clamps to the map.
    v.ZoomOut();
    EXPECT_EQ(v.GetVisibleRect(), (Rect{0, 0, 240, 320}));
    EXPECT_EQ(v.GetCenterX(), 120);
}

TEST(Viewport, RightAndBottomStripsUseTheAdjustedEdges) {
    CViewport v = Opened(240, 320);
    v.ScrollRight(20);  // centre 140, extent 20..260
    v.ScrollDown(40);   // centre 200, extent 40..360
    Rect d = kClient, s{};
    v.ComputeBlit(d, s);
    // 20 of 240 extent pixels lie right of the map: 240 - 20 * 240 / 240.
    EXPECT_EQ(d, (Rect{0, 0, 220, 268 - 40 * 268 / 320}));
    EXPECT_EQ(s, (Rect{20, 40, 240, 320}));
    ASSERT_EQ(v.GetMarginCount(), 2);
    EXPECT_EQ(v.GetMargin(0), (Rect{220, 0, 240, 268}));
    EXPECT_EQ(v.GetMargin(1), (Rect{0, 235, 240, 268}));

    // Centre at the top-left corner: left and top strips of half the client.
    v.SetCenterX(0);
    v.SetCenterY(0);
    d = kClient;
    v.ComputeBlit(d, s);
    EXPECT_EQ(d, (Rect{120, 134, 240, 268}));
    EXPECT_EQ(s, (Rect{0, 0, 120, 160}));
    ASSERT_EQ(v.GetMarginCount(), 2);
    EXPECT_EQ(v.GetMargin(0), (Rect{0, 0, 120, 268}));
    EXPECT_EQ(v.GetMargin(1), (Rect{0, 0, 240, 134}));
}

TEST(Viewport, CentreMovesClampAndRebuildTheEdges) {
    CViewport v = Opened(240, 320);
    v.SetCenterX(5);
    v.ScrollLeft(10);
    EXPECT_EQ(v.GetCenterX(), 0);
    EXPECT_EQ(v.GetVisibleRect().left, -120);
    EXPECT_EQ(v.GetVisibleRect().right, 120);

    v.SetCenterX(-5);
    EXPECT_EQ(v.GetCenterX(), 0);
    v.SetCenterX(10000);
    EXPECT_EQ(v.GetCenterX(), 240);
    v.SetCenterY(-1);
    EXPECT_EQ(v.GetCenterY(), 0);
    v.SetCenterY(321);
    EXPECT_EQ(v.GetCenterY(), 320);
    v.ScrollUp(1000);
    EXPECT_EQ(v.GetCenterY(), 0);
    v.ScrollDown(1000);
    EXPECT_EQ(v.GetCenterY(), 320);
    EXPECT_EQ(v.GetVisibleRect().top, 160);
    EXPECT_EQ(v.GetVisibleRect().bottom, 480);
}

TEST(Viewport, OddExtentLosesAPixelAtItsFirstMove) {
    CViewport v = Opened(241, 320);
    EXPECT_EQ(v.GetVisibleRect().right, 241);
    EXPECT_EQ(v.GetCenterX(), 120);
    v.ScrollRight(10);
    EXPECT_EQ(v.GetCenterX(), 130);
    EXPECT_EQ(v.GetVisibleRect().left, 10);
    EXPECT_EQ(v.GetVisibleRect().right, 250);
}

TEST(Viewport, ClientToMapRecordsThePressAndCentringDoesNot) {
    CViewport v = Opened(240, 320);
    v.ZoomIn();
    int32_t mx = 0, my = 0;
    v.ClientToMap(kClient, 120, 134, mx, my);
    EXPECT_EQ(mx, 120);
    EXPECT_EQ(my, 160);
    EXPECT_EQ(v.GetTapX(), 120);
    EXPECT_EQ(v.GetTapY(), 160);

    // Product before division: 120 * 7 / 240 = 3, not 120 / 240 * 7 = 0.
    v.ClientToMap(kClient, 7, 1, mx, my);
    EXPECT_EQ(mx, 63);
    EXPECT_EQ(my, 80);

    v.CenterOnClientPoint(kClient, 0, 0);
    EXPECT_EQ(v.GetCenterX(), 60);
    EXPECT_EQ(v.GetCenterY(), 80);
    EXPECT_EQ(v.GetTapX(), 63);  // unchanged by centring

    // A press in a margin lies outside the map; the centre is clamped to it.
    CViewport w = Opened(240, 320);
    w.SetCenterX(0);
    w.ClientToMap(kClient, 10, 0, mx, my);
    EXPECT_EQ(mx, -110);
    w.CenterOnClientPoint(kClient, 10, 0);
    EXPECT_EQ(w.GetCenterX(), 0);
}

TEST(Viewport, CircleBoxes) {
    CViewport v = Opened(240, 320);
    EXPECT_EQ(v.GetCenterCircleRect(), (Rect{110, 150, 130, 170}));
    int32_t mx = 0, my = 0;
    v.ClientToMap(kClient, 50, 67, mx, my);  // map (50, 80)
    EXPECT_EQ(v.GetTapCircleRect(), (Rect{35, 65, 65, 95}));
}

// A tap beyond the map's right or bottom edge is surveyed at the centre it
// sets: the map's last column and row, never one past them. Setting the
// centre keeps its clamp to the width and height, and a converted press is
// not clamped at all.
TEST(Viewport, TapsBeyondTheMapCentreOnItsLastPixel) {
    CViewport v = Opened(240, 320);
    v.SetCenterX(10000);
    v.SetCenterY(10000);
    EXPECT_EQ(v.GetCenterX(), 240);
    EXPECT_EQ(v.GetCenterY(), 320);
    v.CenterOnClientPoint(kClient, 239, 267);
    EXPECT_EQ(v.GetCenterX(), 239);
    EXPECT_EQ(v.GetCenterY(), 319);
    int32_t mx = 0, my = 0;
    v.ClientToMap(kClient, 239, 267, mx, my);
    EXPECT_GT(mx, 240);
    // Inside the map a tap centres exactly where it lands.
    v.CenterOnClientPoint(kClient, 0, 0);
    EXPECT_EQ(v.GetCenterX(), 119);
    EXPECT_EQ(v.GetCenterY(), 159);
}

TEST(Viewport, CircleBoxesAtTheCoordinateLimitsAreCutNotWrapped) {
    EXPECT_EQ(CircleBox(120, 160, 10), (Rect{110, 150, 130, 170}));
    EXPECT_EQ(CircleBox(INT32_MAX, INT32_MIN, 10),
              (Rect{INT32_MAX - 10, INT32_MIN, INT32_MAX, INT32_MIN + 10}));
    EXPECT_EQ(CircleBox(INT32_MIN + 5, INT32_MAX - 5, 15),
              (Rect{INT32_MIN, INT32_MAX - 20, INT32_MIN + 20, INT32_MAX}));
}

TEST(Viewport, ZeroExtentIsNeverDividedBy) {
    CViewport v;
    Rect d = kClient, s{1, 1, 1, 1};
    EXPECT_FALSE(v.ComputeBlit(d, s));
    EXPECT_EQ(s, (Rect{0, 0, 0, 0}));
    EXPECT_EQ(d.Width(), 0);
    ASSERT_EQ(v.GetMarginCount(), 1);
    EXPECT_EQ(v.GetMargin(0), kClient);
    EXPECT_FALSE(v.ZoomIn());
}

TEST(Viewport, ZoomInStopsBeforeTheExtentVanishes) {
    // At the left border the extent halves down to -1..1 and then would be 0..0.
    CViewport v = Opened(240, 240);
    v.SetCenterX(0);
    v.SetCenterY(0);
    int zooms = 0;
    while (v.ZoomIn()) {
        ++zooms;
        ASSERT_LT(zooms, 40);
    }
    EXPECT_EQ(zooms, 6);
    EXPECT_EQ(v.GetVisibleRect(), (Rect{-1, -1, 1, 1}));
    Rect d = kClient, s{};
    EXPECT_TRUE(v.ComputeBlit(d, s));

    // Away from the borders the extent settles at one pixel.
    CViewport w = Opened(240, 240);
    for (int i = 0; i < 20; ++i) {
        w.ZoomIn();
    }
    EXPECT_EQ(w.GetVisibleRect().Width(), 1);
    EXPECT_EQ(w.GetVisibleRect().Height(), 1);
}

TEST(Viewport, DeepestZoomSurvivesMovesAndZoomsOutAgain) {
    // A 1-pixel extent moved by a tap, a scroll or the thumb keeps its pixel;
    // at 0 the map could no longer be drawn, and zooming out would keep it 0.
    CViewport v = Opened(640, 480);
    for (int i = 0; i < 20; ++i) {
        v.ZoomIn();
    }
    ASSERT_EQ(v.GetVisibleRect(), (Rect{319, 239, 320, 240}));
    v.CenterOnClientPoint(kClient, 0, 0);
    EXPECT_EQ(v.GetVisibleRect(), (Rect{319, 239, 320, 240}));
    v.ScrollLeft(10);
    v.SetCenterY(100);
    EXPECT_EQ(v.GetVisibleRect(), (Rect{309, 100, 310, 101}));
    Rect d = kClient, s{};
    EXPECT_TRUE(v.ComputeBlit(d, s));
    EXPECT_EQ(s, (Rect{309, 100, 310, 101}));
    for (int i = 0; i < 20; ++i) {
        v.ZoomOut();
    }
    EXPECT_EQ(v.GetVisibleRect(), (Rect{0, 0, 640, 480}));

    // Wider odd extents still lose their pixel at the first move.
    CViewport w = Opened(241, 241);
    w.ScrollRight(10);
    EXPECT_EQ(w.GetVisibleRect().Width(), 240);
}

TEST(Viewport, HugeMapsDoNotOverflow) {
    // 32-bit products would overflow here: 100000 * 60000 > 2^31.
    CViewport v = Opened(100000, 100000);
    int32_t mx = 0, my = 0;
    v.ClientToMap(Rect{0, 0, 60000, 60000}, 59999, 30000, mx, my);
    EXPECT_EQ(mx, 99998);
    EXPECT_EQ(my, 50000);
    v.ScrollLeft(90000);  // centre 0, extent -50000..50000
    Rect d{0, 0, 60000, 60000}, s{};
    v.ComputeBlit(d, s);
    EXPECT_EQ(d.left, 30000);
    EXPECT_EQ(s, (Rect{0, 0, 50000, 100000}));
    v.ZoomOut();
    EXPECT_EQ(v.GetVisibleRect(), (Rect{0, 0, 100000, 100000}));
}

}  // namespace
