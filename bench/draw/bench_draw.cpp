// Paints the map screen of a 240 x 268 client from a 4096 x 4096 map and
// compares it with a bare QPainter::drawImage of the same rectangles, timed
// in the same run. Prints microseconds per paint and the ratio. Then the
// same for the workspace's canvas at desktop size.
#include <QApplication>
#include <QImage>
#include <QPainter>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <functional>
#include <memory>
#include <vector>

#include "survey/record_list.h"
#include "survey/site_header.h"
#include "view/kestrow_view.h"
#include "workspace/canvas_geometry.h"
#include "workspace/map_canvas.h"

namespace {

constexpr int kClientW = 240;
constexpr int kClientH = 268;
constexpr int kMapSize = 4096;
constexpr int kPaintsPerRound = 200;
constexpr int kRounds = 15;

// Microseconds of one paint, averaged over a round; the two paints alternate
// round by round and each keeps its fastest round, which is the figure least
// disturbed by other work on the machine.
double RoundMicros(const std::function<void()>& paint) {
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < kPaintsPerRound; ++i) {
        paint();
    }
    const std::chrono::duration<double, std::micro> took = std::chrono::steady_clock::now() - start;
    return took.count() / kPaintsPerRound;
}

void Compare(const std::function<void()>& ours, const std::function<void()>& bare, double& oursUs,
             double& bareUs) {
    ours();  // warm up
    bare();
    oursUs = bareUs = 1e300;
    for (int r = 0; r < kRounds; ++r) {
        oursUs = std::min(oursUs, RoundMicros(ours));
        bareUs = std::min(bareUs, RoundMicros(bare));
    }
}

// The workspace's canvas: a 1600 x 1000 canvas over an 8000 x 6000 plan with
// 5,000 points and the overlay in the map image, at fit, at 4x the fitted
// scale and while panning, against a bare drawImage of the same region with
// the same transform.
int WorkspaceCanvas() {
    constexpr int kW = 8000;
    constexpr int kH = 6000;
    constexpr int kPoints = 5000;
    std::vector<uint32_t> table(256);
    for (int i = 0; i < 256; ++i) {
        table[i] = qRgb(255 - (i & 63), 255 - (i & 31), 250);
    }
    std::vector<uint8_t> pixels(size_t(kW) * kH);
    for (int y = 0; y < kH; ++y) {
        for (int x = 0; x < kW; ++x) {
            pixels[size_t(y) * kW + x] = (x % 400 < 8 || y % 300 < 8) ? 255 : uint8_t(x ^ y);
        }
    }
    CKestrowView core;
    core.SetCirclesInMap(false);
    if (!core.LoadMapImage(kW, kH, table.data(), pixels.data(), kW)) {
        std::fprintf(stderr, "bench_draw: cannot build the workspace's map image\n");
        return 1;
    }
    {
        // The overlay lies in the map image, as the view lays it there.
        QPainter overlay(&core.m_mapDC);
        for (int y = 0; y < kH; y += 200) {
            for (int x = 0; x < kW; x += 200) {
                overlay.fillRect(x, y, 200, 200, QColor((x * 7) % 255, (y * 3) % 255, 90, 150));
            }
        }
    }
    for (int i = 0; i < kPoints; ++i) {
        ApRecord* r = nullptr;
        if (g_surveyList.AllocRecord(r) != 0) {
            return 1;
        }
        r->x = 20 + (i * 2654435761u) % (kW - 40);
        r->y = 20 + (i * 40503u) % (kH - 40);
        r->channel = 36;
        r->rssi = static_cast<int16_t>(-35 - i % 60);
        std::snprintf(r->pointName, sizeof r->pointName, "%d", i + 1);
        g_surveyList.Append(r);
    }
    workspace::MapCanvas canvas(core);
    canvas.resize(1600, 1000);
    canvas.MapOpened();
    canvas.SetLegend("Strongest signal (dBm)",
                     {{0xFF0000u, "above -40"}, {0x0000FFu, "-79 to -70"}});
    workspace::CanvasGeometry& g = canvas.Geometry();
    QImage target(1600, 1000, QImage::Format_RGB32);
    QPainter painter(&target);
    const QSize size(1600, 1000);
    auto bare = [&] {
        const workspace::MapRectF v = g.VisibleMapRect();
        const QRectF source(std::floor(v.left), std::floor(v.top),
                            std::ceil(v.right) - std::floor(v.left),
                            std::ceil(v.bottom) - std::floor(v.top));
        painter.save();
        painter.translate(g.OriginX(), g.OriginY());
        painter.scale(g.Scale(), g.Scale());
        painter.drawImage(source, core.m_mapDC, source);
        painter.restore();
    };
    std::printf(
        "\nworkspace canvas, 1600x1000 over an %dx%d plan, %d points, overlay on\n"
        "(ms per paint, best of %d rounds of %d; drawImage: the same region alone;\n"
        " a view that stands still is copied from the frame the canvas keeps)\n",
        kW, kH, kPoints, kRounds, kPaintsPerRound / 10);
    std::printf("%-28s %10s %10s %7s\n", "case", "canvas", "drawImage", "ratio");
    struct Case {
        const char* name;
        int steps;  // wheel steps from the fitted scale
        int panPerPaint;
    };
    // 1.25^6 is about 3.8: the nearest wheel zoom to 4x.
    const Case cases[] = {{"fit", 0, 0}, {"zoom 4x", 6, 0}, {"zoom 4x, panning", 6, 7}};
    for (const Case& c : cases) {
        g.Fit();
        g.ZoomAt(800, 500, c.steps);
        int direction = 1;
        int travelled = 0;
        auto pan = [&] {
            if (c.panPerPaint == 0) {
                return;
            }
            g.Pan(direction * c.panPerPaint, direction * c.panPerPaint / 2);
            travelled += c.panPerPaint;
            if (travelled > 600) {
                travelled = 0;
                direction = -direction;
            }
        };
        double ours = 1e300;
        double theirs = 1e300;
        auto round = [&](const std::function<void()>& paint) {
            const auto start = std::chrono::steady_clock::now();
            for (int i = 0; i < kPaintsPerRound / 10; ++i) {
                pan();
                paint();
            }
            const std::chrono::duration<double, std::milli> took =
                std::chrono::steady_clock::now() - start;
            return took.count() / (kPaintsPerRound / 10);
        };
        canvas.Draw(painter, size);
        for (int r = 0; r < kRounds; ++r) {
            ours = std::min(ours, round([&] { canvas.Draw(painter, size); }));
            theirs = std::min(theirs, round(bare));
        }
        std::printf("%-28s %10.2f %10.2f %7.2f\n", c.name, ours, theirs, ours / theirs);
    }
    g_surveyList.Clear();
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication app(argc, argv);

    // An 8-bit map with some structure, so neighbouring rows differ.
    std::vector<uint32_t> table(256);
    for (int i = 0; i < 256; ++i) {
        table[i] = qRgb(i * 7 & 255, 255 - i, i);
    }
    std::vector<uint8_t> pixels(size_t(kMapSize) * kMapSize);
    for (int y = 0; y < kMapSize; ++y) {
        for (int x = 0; x < kMapSize; ++x) {
            pixels[size_t(y) * kMapSize + x] = uint8_t((x / 16) ^ (y / 16) ^ (x * y));
        }
    }
    CKestrowView view;
    if (!view.LoadMapImage(kMapSize, kMapSize, table.data(), pixels.data(), kMapSize)) {
        std::fprintf(stderr, "bench_draw: cannot build the map image\n");
        return 1;
    }
    CViewport& vp = *view.m_pViewport;
    vp.SetMapBounds(0, 0, kMapSize, kMapSize);
    vp.SetVisibleRect(0, 0, kMapSize, kMapSize);
    view.m_viewMode = CKestrowView::VIEW_MAP;

    QImage client(kClientW, kClientH, QImage::Format_RGB32);
    QPainter painter(&client);
    const QRect rect(0, 0, kClientW, kClientH);

    std::printf(
        "map screen, %dx%d client from a %dx%d map (us per paint, best of %d rounds of %d)\n",
        kClientW, kClientH, kMapSize, kMapSize, kRounds, kPaintsPerRound);
    std::printf("%-28s %10s %10s %7s\n", "case", "OnDraw", "drawImage", "ratio");

    struct Case {
        const char* name;
        int zoomIns;
        int scrollLeft;
    };
    const Case cases[] = {
        {"full extent", 0, 0},
        {"zoomed in x2 (2048 px)", 1, 0},
        {"zoomed in x16 (256 px)", 4, 0},
        {"zoomed in x64 (64 px)", 6, 0},
        {"zoomed x4, left margin", 2, 1500},
    };
    for (const Case& c : cases) {
        vp.SetVisibleRect(0, 0, kMapSize, kMapSize);
        for (int i = 0; i < c.zoomIns; ++i) {
            vp.ZoomIn();
        }
        vp.ScrollLeft(c.scrollLeft);
        Rect dest{0, 0, kClientW, kClientH};
        Rect source{};
        vp.ComputeBlit(dest, source);
        const QRect d(dest.left, dest.top, dest.Width(), dest.Height());
        const QRect s(source.left, source.top, source.Width(), source.Height());

        double ours = 0;
        double bare = 0;
        Compare([&] { view.OnDraw(painter, rect); }, [&] { painter.drawImage(d, view.m_mapDC, s); },
                ours, bare);
        std::printf("%-28s %10.1f %10.1f %7.2f\n", c.name, ours, bare, ours / bare);
    }

    // Circles: a tap paints its point's circle into the map; a deletion
    // paints the map as loaded again with every point's circle over it.
    constexpr int kPoints = 5000;
    for (int i = 0; i < kPoints; ++i) {
        ApRecord* r = nullptr;
        if (g_surveyList.AllocRecord(r) != 0) {
            return 1;
        }
        r->x = 20 + (i * 2654435761u) % (kMapSize - 40);
        r->y = 20 + (i * 40503u) % (kMapSize - 40);
        r->channel = 36;
        r->rssi = static_cast<int16_t>(-35 - i % 60);
        g_surveyList.Append(r);
    }
    g_siteHeader = std::make_unique<CSiteHeader>();
    g_siteHeader->BeginPoint(2000, 2000, "TEST");
    g_siteHeader->m_strongestRssi = -55;
    auto millis = [](const std::function<void()>& work, int times) {
        double best = 1e300;
        for (int round = 0; round < 5; ++round) {
            const auto start = std::chrono::steady_clock::now();
            for (int i = 0; i < times; ++i) {
                work();
            }
            const std::chrono::duration<double, std::milli> took =
                std::chrono::steady_clock::now() - start;
            best = std::min(best, took.count() / times);
        }
        return best;
    };
    vp.SetVisibleRect(0, 0, kMapSize, kMapSize);
    Rect dest{0, 0, kClientW, kClientH};
    Rect source{};
    vp.ComputeBlit(dest, source);
    const double paint = millis([&] { view.OnDraw(painter, rect); }, 50);
    const double tap = millis([&] { view.PaintPointCircle(); }, 200);
    const double repaint = millis([&] { view.RepaintCircles(Rect{1989, 1989, 2012, 2012}); }, 200);
    const double whole = millis([&] { view.RepaintCircles(); }, 3);
    std::printf("\ncircles on the %dx%d map, %d survey points (ms, best of 5 rounds)\n", kMapSize,
                kMapSize, kPoints);
    std::printf("%-48s %8.3f\n", "a paint of the map screen", paint);
    std::printf("%-48s %8.3f  (%.2f paints)\n", "a tap's circle (PaintPointCircle)", tap,
                tap / paint);
    std::printf("%-48s %8.3f  (%.2f paints)\n", "a deletion: the plan and circles where it was",
                repaint, repaint / paint);
    std::printf("%-48s %8.3f  (%.2f paints)\n", "the whole map and every circle again", whole,
                whole / paint);
    g_surveyList.Clear();
    g_siteHeader.reset();
    return WorkspaceCanvas();
}
