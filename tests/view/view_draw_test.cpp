// Rendered pixels of the three screens and of the survey-point circles.
#include <QApplication>
#include <QFont>
#include <QImage>
#include <QPainter>

#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <functional>
#include <memory>
#include <mutex>

#include "survey/record_list.h"
#include "survey/site_header.h"
#include "view/fake_scan_source.h"
#include "view/kestrow_view.h"

namespace {

constexpr int kW = 240;
constexpr int kH = 268;
constexpr QRgb kWhite = 0xFFFFFFFF;
constexpr QRgb kBlack = 0xFF000000;

void EnsureApp() {
    static int argc = 1;
    static char name[] = "test_view_draw";
    static char* argv[] = {name, nullptr};
    static QApplication app(argc, argv);
}

// An 8-bit map whose palette entry i is (i, 255 - i, 77).
struct Map8 {
    int32_t width, height;
    std::vector<uint32_t> table = std::vector<uint32_t>(256);
    std::vector<uint8_t> pixels;
    Map8(int32_t w, int32_t h, const std::function<uint8_t(int, int)>& index)
        : width(w), height(h) {
        for (int i = 0; i < 256; ++i) {
            table[i] = (uint32_t(i) << 16) | (uint32_t(255 - i) << 8) | 77u;
        }
        pixels.resize(size_t(w) * h);
        for (int y = 0; y < h; ++y) {
            for (int x = 0; x < w; ++x) {
                pixels[size_t(y) * w + x] = index(x, y);
            }
        }
    }
    static QRgb Color(int i) { return qRgb(i, 255 - i, 77); }
};

class ViewDraw : public ::testing::Test {
  protected:
    void SetUp() override {
        EnsureApp();
        view = std::make_unique<CKestrowView>();
        view->OnInitialUpdate(scanner, 0);
        // Drawn without scroll bars, the client is the whole view.
        view->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        view->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        g_siteHeader = std::make_unique<CSiteHeader>();
        std::lock_guard<std::mutex> lock(g_scanListMutex);
        g_scanList.Clear();
    }
    void TearDown() override {
        g_siteHeader.reset();
        std::lock_guard<std::mutex> lock(g_scanListMutex);
        g_scanList.Clear();
    }

    QImage Draw(int w = kW, int h = kH) {
        QImage image(w, h, QImage::Format_RGB32);
        image.fill(Qt::white);  // the window's background erase
        QPainter painter(&image);
        view->OnDraw(painter, image.rect());
        return image;
    }

    void Open(const Map8& map) {
        ASSERT_TRUE(view->LoadMapImage(map.width, map.height, map.table.data(), map.pixels.data(),
                                       map.width));
        view->m_pViewport->SetMapBounds(0, 0, map.width, map.height);
        view->m_pViewport->SetVisibleRect(0, 0, map.width, map.height);
        view->m_viewMode = CKestrowView::VIEW_MAP;
    }

    void AddAp(int16_t channel, const char* mac, const char* ssid, int16_t rssiSum, int samples) {
        std::lock_guard<std::mutex> lock(g_scanListMutex);
        ApRecord* r = nullptr;
        ASSERT_EQ(g_scanList.AllocRecord(r), 0);
        r->channel = channel;
        std::strncpy(r->macText, mac, sizeof r->macText - 1);
        std::strncpy(r->ssid, ssid, sizeof r->ssid - 1);
        r->rssi = rssiSum;
        r->sampleCount = samples;
        g_scanList.Append(r);
    }

    std::unique_ptr<CKestrowView> view;
    FakeScanSource scanner;
};

// Pixels of a region that satisfy a test.
int Count(const QImage& image, QRect r, const std::function<bool(QRgb)>& test) {
    int n = 0;
    r = r.intersected(image.rect());
    for (int y = r.top(); y <= r.bottom(); ++y) {
        for (int x = r.left(); x <= r.right(); ++x) {
            n += test(image.pixel(x, y)) ? 1 : 0;
        }
    }
    return n;
}

bool IsDark(QRgb c) {
    return qRed(c) < 100 && qGreen(c) < 100 && qBlue(c) < 100;
}
bool IsGreenText(QRgb c) {
    return qRed(c) == 0 && qBlue(c) == 0 && qGreen(c) > 80;
}
bool IsWhite(QRgb c) {
    return (c | 0xFF000000) == kWhite;
}

// The mark's black pixels show through, its white leaves the map untouched.
void ExpectTargetMarkAt(const QImage& image, int x0, int y0, const QImage& mark,
                        const std::function<QRgb(int, int)>& under) {
    int black = 0;
    for (int y = 0; y < 32; ++y) {
        for (int x = 0; x < 32; ++x) {
            const QRgb expected = (mark.pixel(x, y) & under(x0 + x, y0 + y)) | 0xFF000000;
            ASSERT_EQ(image.pixel(x0 + x, y0 + y) | 0xFF000000, expected) << x << "," << y;
            black += (mark.pixel(x, y) & 0xFFFFFF) == 0;
        }
    }
    EXPECT_GT(black, 100);  // a real ring, not an empty mark
}

TEST_F(ViewDraw, MapImageTakesPaddedRowsAndKeepsTheOldMapOnBadSizes) {
    const uint32_t colors[256] = {0x00102030, 0xFFA0B0C0, 0x00FFFFFF};
    const uint8_t rows[] = {0, 1, 2, 0xEE, 2, 1, 0, 0xEE};  // 3 pixels, stride 4
    ASSERT_TRUE(view->LoadMapImage(3, 2, colors, rows, 4));
    EXPECT_EQ(view->m_mapWidth, 3);
    EXPECT_EQ(view->m_mapHeight, 2);
    EXPECT_EQ(view->m_mapDC.pixel(0, 0), qRgb(0x10, 0x20, 0x30));
    EXPECT_EQ(view->m_mapDC.pixel(1, 0), qRgb(0xA0, 0xB0, 0xC0));
    EXPECT_EQ(view->m_mapDC.pixel(0, 1), qRgb(0xFF, 0xFF, 0xFF));
    EXPECT_EQ(view->m_mapDC.pixel(2, 1), qRgb(0x10, 0x20, 0x30));

    // A bottom-up picture: the last row first, walked with a negative stride.
    ASSERT_TRUE(view->LoadMapImage(3, 2, colors, rows + 4, -4));
    EXPECT_EQ(view->m_mapDC.pixel(0, 0), qRgb(0xFF, 0xFF, 0xFF));
    EXPECT_EQ(view->m_mapDC.pixel(0, 1), qRgb(0x10, 0x20, 0x30));
    EXPECT_FALSE(view->LoadMapImage(5, 2, colors, rows + 4, -4));

    EXPECT_FALSE(view->LoadMapImage(0, 2, colors, rows, 4));
    EXPECT_FALSE(view->LoadMapImage(3, -2, colors, rows, 4));
    EXPECT_FALSE(view->LoadMapImage(5, 2, colors, rows, 4));  // rows shorter than the width
    EXPECT_EQ(view->m_mapWidth, 3);
    EXPECT_EQ(view->m_mapDC.size(), QSize(3, 2));
}

TEST_F(ViewDraw, StartScreenShowsThePictureAndCentredLabels) {
    scanner.firmware = "CV-2.10";
    scanner.serial = "A1B2C3";
    const QImage image = Draw();
    // The picture is stretched over the client: its sky fills the top.
    EXPECT_FALSE(IsWhite(image.pixel(120, 5)));
    EXPECT_FALSE(IsWhite(image.pixel(120, 260)) && IsWhite(image.pixel(5, 5)));

    for (const QRect cell : {QRect(5, 183, 110, 15), QRect(125, 183, 110, 15)}) {
        // Black text on an opaque white background, roughly centred in its cell.
        int minX = 1000, maxX = -1;
        for (int y = cell.top(); y <= cell.bottom(); ++y) {
            for (int x = cell.left(); x <= cell.right(); ++x) {
                if (IsDark(image.pixel(x, y))) {
                    minX = std::min(minX, x);
                    maxX = std::max(maxX, x);
                }
            }
        }
        ASSERT_GE(maxX, 0) << "no text in the label cell";
        EXPECT_NEAR((minX + maxX) / 2.0, cell.center().x(), 3.0);
        // Nothing is drawn outside the cell's width.
        EXPECT_EQ(Count(image, QRect(cell.left() - 3, cell.top(), 3, 15), IsDark), 0);
    }
}

TEST_F(ViewDraw, StartScreenWithoutADeviceStillDrawsTheLabels) {
    view = std::make_unique<CKestrowView>();
    const QImage image = Draw();
    EXPECT_GT(Count(image, QRect(5, 183, 110, 15), IsDark), 20);  // "(Firmware )"
}

TEST_F(ViewDraw, MapScreenCopiesTheMapUnderTheTargetMark) {
    Open(Map8(240, 320, [](int x, int) { return uint8_t(x); }));
    const QImage image = Draw();
    // A full-extent 240 x 320 map on 240 x 268: columns 1:1, rows scaled.
    EXPECT_EQ(image.pixel(0, 0), Map8::Color(0));
    EXPECT_EQ(image.pixel(239, 267), Map8::Color(239));
    EXPECT_EQ(image.pixel(57, 20), Map8::Color(57));
    const QImage mark(QImage(":/bitmaps/137").convertToFormat(QImage::Format_RGB32));
    ExpectTargetMarkAt(image, 104, 118, mark, [](int x, int) { return Map8::Color(x); });
}

TEST_F(ViewDraw, EveryDrawnPixelIsTheMapPixelAPressThereConvertsTo) {
    // Zoomed in and scrolled so all four conversions are exercised.
    Open(Map8(300, 200, [](int x, int y) { return uint8_t((x * 7 + y * 13) & 255); }));
    CViewport& vp = *view->m_pViewport;
    vp.ZoomIn();
    vp.ScrollRight(37);
    vp.ScrollUp(11);
    const QImage image = Draw();
    const Rect client{0, 0, kW, kH};
    for (int sy = 0; sy < kH; sy += 7) {
        for (int sx = 0; sx < kW; sx += 5) {
            if (sx >= 104 && sx < 136 && sy >= 118 && sy < 150) {
                continue;  // under the target mark
            }
            int32_t mx = 0, my = 0;
            vp.ClientToMap(client, sx, sy, mx, my);
            ASSERT_EQ(image.pixel(sx, sy), Map8::Color((mx * 7 + my * 13) & 255))
                << sx << "," << sy;
        }
    }
}

TEST_F(ViewDraw, LineScrollLeftShowsAWhiteStripOnTheLeft) {
    Open(Map8(240, 320, [](int x, int) { return uint8_t(x); }));
    view->m_pViewport->ScrollLeft(10);
    const QImage image = Draw();
    EXPECT_EQ(Count(image, QRect(0, 0, 10, kH), IsWhite), 10 * kH);
    EXPECT_EQ(image.pixel(10, 5), Map8::Color(0));  // map x 0 at client x 10
    EXPECT_EQ(image.pixel(11, 200), Map8::Color(1));
    EXPECT_EQ(image.pixel(239, 5), Map8::Color(229));
}

TEST_F(ViewDraw, MapScreenWithoutAMapIsWhiteWithTheTargetMark) {
    view->m_viewMode = CKestrowView::VIEW_MAP;
    QImage image(kW, kH, QImage::Format_RGB32);
    image.fill(Qt::red);  // whatever the erase left is painted over
    {
        QPainter painter(&image);
        view->OnDraw(painter, image.rect());
    }
    const QImage mark(QImage(":/bitmaps/137").convertToFormat(QImage::Format_RGB32));
    ExpectTargetMarkAt(image, 104, 118, mark, [](int, int) { return kWhite; });
    EXPECT_EQ(Count(image, image.rect(), IsWhite) + Count(image, QRect(104, 118, 32, 32), IsDark),
              kW * kH);

    // A map image with a viewport that was never set: still no division by 0.
    Map8 map(50, 50, [](int, int) { return uint8_t(3); });
    ASSERT_TRUE(view->LoadMapImage(50, 50, map.table.data(), map.pixels.data(), 50));
    const QImage again = Draw();
    EXPECT_EQ(again.pixel(5, 5), kWhite);
}

TEST_F(ViewDraw, TheWindowPaintsWhatOnDrawDraws) {
    Open(Map8(240, 320, [](int x, int y) { return uint8_t(x ^ y); }));
    view->m_pViewport->ZoomIn();
    view->PaintBandCircle(120, 160, -55);
    view->resize(kW, kH);
    const QImage painted = view->viewport()->grab().toImage().convertToFormat(QImage::Format_RGB32);
    ASSERT_EQ(painted.size(), QSize(kW, kH));
    EXPECT_EQ(painted, Draw());
    EXPECT_EQ(view->Render(), Draw());
}

TEST_F(ViewDraw, CirclesTakeTheirBandColourAtEveryBoundary) {
    struct Case {
        int16_t rssi;
        QRgb color;
    };
    const Case cases[] = {
        {5, qRgb(255, 0, 0)},     {-39, qRgb(255, 0, 0)},   {-40, qRgb(255, 128, 0)},
        {-49, qRgb(255, 128, 0)}, {-50, qRgb(255, 255, 0)}, {-59, qRgb(255, 255, 0)},
        {-60, qRgb(0, 255, 0)},   {-69, qRgb(0, 255, 0)},   {-70, qRgb(0, 0, 255)},
        {-79, qRgb(0, 0, 255)},   {-80, qRgb(0, 0, 0)},     {-120, qRgb(0, 0, 0)},
    };
    for (const Case& c : cases) {
        Open(Map8(100, 100, [](int, int) { return uint8_t(200); }));
        const QRgb ground = Map8::Color(200);
        view->PaintBandCircle(50, 50, c.rssi);
        const QImage& map = view->m_mapDC;
        SCOPED_TRACE(c.rssi);
        // Solid colour over the box (50 +- 10), which covers 40 .. 59.
        for (int d : {-10, -5, 0, 5, 9}) {
            EXPECT_EQ(map.pixel(50 + d, 50), c.color);
            EXPECT_EQ(map.pixel(50, 50 + d), c.color);
        }
        EXPECT_EQ(map.pixel(50 - 6, 50 - 6), c.color);
        EXPECT_EQ(map.pixel(40, 40), ground);  // a disc, not a square
        const bool wideOutline = c.color == qRgb(0, 0, 0);
        // One-pixel outlines stay inside the box; the 2-pixel black one
        // straddles its edge by a pixel.
        EXPECT_EQ(map.pixel(wideOutline ? 61 : 60, 50), ground);
        EXPECT_EQ(map.pixel(wideOutline ? 38 : 39, 50), ground);
        EXPECT_EQ(map.pixel(50, wideOutline ? 61 : 60), ground);
    }
}

TEST_F(ViewDraw, PointCircleIsPaintedAtThePointsOwnPosition) {
    Open(Map8(100, 100, [](int, int) { return uint8_t(200); }));
    // The cursor has moved on since the point was begun at (30, 50).
    view->m_pViewport->SetCenterX(70);
    g_siteHeader->BeginPoint(30, 50, "TEST");
    g_siteHeader->m_strongestRssi = -45;
    view->PaintPointCircle();
    EXPECT_EQ(view->m_mapDC.pixel(30, 50), qRgb(255, 128, 0));
    EXPECT_EQ(view->m_mapDC.pixel(70, 50), Map8::Color(200));

    // Without a site header nothing is painted.
    g_siteHeader.reset();
    view->PaintPointCircle();
    EXPECT_EQ(view->m_mapDC.pixel(70, 50), Map8::Color(200));
}

// A deletion repaints: the deleted point's circle goes and the plan under it
// comes back exactly; the other circles stay, in their colours.
TEST_F(ViewDraw, RepaintedCirclesLeaveThePlanWhereAPointWasDeleted) {
    const Map8 plan(100, 100, [](int x, int y) { return uint8_t(x ^ y); });
    Open(plan);
    auto add = [](int x, int y, int channel, int16_t rssi) {
        ApRecord* r = nullptr;
        ASSERT_EQ(g_surveyList.AllocRecord(r), 0);
        r->x = x;
        r->y = y;
        r->channel = static_cast<int16_t>(channel);
        r->rssi = rssi;
        g_surveyList.Append(r);
    };
    add(30, 30, 36, -70);
    add(30, 30, 40, -45);  // the point's strongest: orange
    add(70, 70, 0, 0);     // nothing heard there: black
    view->RepaintCircles();
    EXPECT_EQ(view->m_mapDC.pixel(30, 30), qRgb(255, 128, 0));
    EXPECT_EQ(view->m_mapDC.pixel(70, 70), qRgb(0, 0, 0));

    g_surveyList.Remove(g_surveyList.Sentinel()->next);
    g_surveyList.Remove(g_surveyList.Sentinel()->next);
    view->RepaintCircles();
    for (int y = 15; y < 45; ++y) {
        for (int x = 15; x < 45; ++x) {
            ASSERT_EQ(view->m_mapDC.pixel(x, y), Map8::Color(x ^ y)) << x << "," << y;
        }
    }
    EXPECT_EQ(view->m_mapDC.pixel(70, 70), qRgb(0, 0, 0));
    g_surveyList.Clear();
}

// Stored points far off the map, up to the limits of their 32-bit
// coordinates (a damaged or hostile file), paint nothing and leave the map as
// it was; a circle over the map's edge is cut by it.
TEST_F(ViewDraw, CirclesFarOffTheMapPaintNothing) {
    Open(Map8(100, 100, [](int, int) { return uint8_t(200); }));
    const QImage before = view->m_mapDC.copy();
    const std::pair<int32_t, int32_t> far[] = {{INT32_MAX, INT32_MAX},     {INT32_MIN, INT32_MIN},
                                               {INT32_MAX - 5, 50},        {50, INT32_MIN + 5},
                                               {INT32_MIN + 9, INT32_MAX}, {-40, 50}};
    for (const auto& [x, y] : far) {
        view->PaintBandCircle(x, y, -45);
    }
    EXPECT_EQ(view->m_mapDC, before);
    view->PaintBandCircle(99, 0, -45);
    EXPECT_EQ(view->m_mapDC.pixel(99, 0), qRgb(255, 128, 0));
    EXPECT_EQ(view->m_mapDC.pixel(99, 9), qRgb(255, 128, 0));
}

TEST_F(ViewDraw, CirclesWithoutAMapAreIgnored) {
    view->PaintBandCircle(10, 10, -50);
    view->PaintPointCircle();
    view->RepaintCircles();
    EXPECT_FALSE(view->HasMap());
}

class ScanScreen : public ViewDraw {
  protected:
    void SetUp() override {
        ViewDraw::SetUp();
        view->m_viewMode = CKestrowView::VIEW_SCAN;
        scanner.heading = true;
        scanner.progress = "7";
    }

    // What a cell of the scan screen looks like with this text in it.
    static QImage Cell(const QRect& cell, const char* text, QRgb color) {
        QImage image(kW, kH, QImage::Format_RGB32);
        image.fill(Qt::black);
        QPainter painter(&image);
        QFont font("Arial");
        font.setPixelSize(11);
        painter.setFont(font);
        painter.setPen(QColor::fromRgb(color));
        painter.setBackground(Qt::black);
        painter.setBackgroundMode(Qt::OpaqueMode);
        painter.drawText(cell, Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine, text);
        painter.end();
        return image.copy(cell);
    }
};

TEST_F(ScanScreen, ListsAtMostTheRowsThatFit) {
    for (int i = 0; i < 12; ++i) {
        char mac[16];
        std::snprintf(mac, sizeof mac, "00112233%04X", i);
        AddAp(int16_t(1 + i), mac, "Lab", int16_t(-40 - i), 1);
    }
    const QImage image = Draw();
    // Rows at tops 70, 90, ..., 230: nine rows; 250 > 268 - 20 is refused.
    for (int top = 70; top <= 230; top += 20) {
        EXPECT_GT(Count(image, QRect(20, top, 80, 15), IsGreenText), 10) << top;
    }
    EXPECT_EQ(Count(image, QRect(0, 248, kW, 20), IsGreenText), 0);
    // Black everywhere outside the text: the heading's background fill.
    EXPECT_EQ(image.pixel(230, 260), kBlack);
    EXPECT_EQ(image.pixel(235, 100), kBlack);
}

TEST_F(ScanScreen, ShowsTheAverageRssiTruncatedTowardZero) {
    AddAp(36, "00A0F8123456", "Office", -130, 3);
    const QImage image = Draw();
    const QRect rssiCell(190, 70, 30, 15);
    const QImage shown = image.copy(rssiCell);
    EXPECT_EQ(shown, Cell(rssiCell, "-43", qRgb(0, 255, 0)));
    EXPECT_NE(shown, Cell(rssiCell, "-44", qRgb(0, 255, 0)));
    EXPECT_EQ(image.copy(QRect(0, 70, 15, 15)), Cell(QRect(0, 70, 15, 15), "36", qRgb(0, 255, 0)));
    EXPECT_EQ(image.copy(QRect(120, 10, 30, 15)),
              Cell(QRect(120, 10, 30, 15), "7", qRgb(255, 255, 255)));
    EXPECT_EQ(image.copy(QRect(20, 50, 80, 15)),
              Cell(QRect(20, 50, 80, 15), "MAC Addr", qRgb(255, 255, 255)));
}

TEST_F(ScanScreen, RadarFramesFollowInOrder) {
    auto scaled = [](int id) {
        QImage image(50, 50, QImage::Format_RGB32);
        QPainter painter(&image);
        painter.drawImage(QRect(0, 0, 50, 50), QImage(QString(":/bitmaps/%1").arg(id)));
        return image;
    };
    CKestrowView::s_radarFrame = 0;
    for (int id : {140, 141, 142, 139, 140, 141, 142, 139, 140}) {
        EXPECT_EQ(Draw().copy(0, 0, 50, 50), scaled(id)) << id;
    }
}

TEST_F(ScanScreen, WithoutTheHeadingOnlyTheTextsAreOpaque) {
    scanner.heading = false;
    const QImage image = Draw();
    EXPECT_EQ(Count(image, QRect(0, 50, kW, 15), [](QRgb c) { return !IsWhite(c); }), 0);
    EXPECT_EQ(image.pixel(230, 260), kWhite);                        // the erase shows through
    EXPECT_NE(Count(image, QRect(0, 0, 50, 50), IsWhite), 50 * 50);  // radar frame
    // White text on white would vanish: the channel's text cell is opaque black.
    EXPECT_GT(Count(image, QRect(120, 10, 30, 15), IsDark), 40);
    EXPECT_EQ(Count(image, QRect(0, 70, kW, kH - 70), [](QRgb c) { return !IsWhite(c); }), 0);
}

}  // namespace
