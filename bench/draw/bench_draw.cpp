// Paints the map screen of a 240 x 268 client from a 4096 x 4096 map and
// compares it with a bare QPainter::drawImage of the same rectangles, timed
// in the same run. Prints microseconds per paint and the ratio.
#include <QApplication>
#include <QImage>
#include <QPainter>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <memory>
#include <vector>

#include "survey/record_list.h"
#include "survey/site_header.h"
#include "view/kestrow_view.h"

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
    return 0;
}
