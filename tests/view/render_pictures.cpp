// Renders the start, map and scan screens with the view's own drawing code
// into PNG files for the documentation. Built on demand:
//   cmake --build --preset default --target kestrow_view_pictures
//   build/default/tests/view/kestrow_view_pictures docs/images
#include <QApplication>
#include <QImage>
#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <vector>

#include "survey/record_list.h"
#include "survey/site_header.h"
#include "view/fake_scan_source.h"
#include "view/kestrow_view.h"

namespace {

constexpr int kW = 240;
constexpr int kH = 268;

// A small office floor plan, as the site-preparation program would hand it
// over: 8 bits a pixel with a colour table.
QImage FloorPlan() {
    QImage plan(300, 335, QImage::Format_RGB32);
    plan.fill(QColor(250, 250, 246));
    QPainter p(&plan);
    p.setRenderHint(QPainter::Antialiasing, false);
    const QColor wall(60, 60, 70);
    const QColor furniture(190, 180, 160);
    p.fillRect(QRect(0, 0, 300, 335), QColor(250, 250, 246));
    p.setPen(QPen(wall, 4));
    p.drawRect(6, 6, 288, 323);
    p.setPen(QPen(wall, 3));
    p.drawLine(6, 120, 120, 120);  // offices along the north side
    p.drawLine(120, 6, 120, 120);
    p.drawLine(60, 6, 60, 120);
    p.drawLine(180, 120, 294, 120);
    p.drawLine(180, 6, 180, 120);
    p.drawLine(240, 6, 240, 120);
    p.drawLine(6, 230, 150, 230);  // meeting room and store
    p.drawLine(150, 230, 150, 329);
    p.drawLine(220, 200, 294, 200);
    p.drawLine(220, 200, 220, 329);
    p.setPen(QPen(QColor(250, 250, 246), 4));  // doors
    for (int x : {30, 90, 210, 265}) {
        p.drawLine(x - 8, 120, x + 8, 120);
    }
    p.drawLine(70, 230, 90, 230);
    p.drawLine(220, 240, 220, 258);
    p.setPen(Qt::NoPen);
    p.setBrush(furniture);
    for (int x : {15, 75, 135, 195, 255}) {
        p.drawRect(x, 20, 30, 16);
    }
    p.drawRoundedRect(30, 255, 90, 45, 12, 12);
    for (int y = 150; y < 200; y += 25) {
        for (int x = 40; x < 200; x += 50) {
            p.drawRect(x, y, 36, 14);
        }
    }
    p.end();
    return plan;
}

void LoadMap(CKestrowView& view, const QImage& plan) {
    const QImage indexed = plan.convertToFormat(QImage::Format_Indexed8, Qt::ThresholdDither);
    std::vector<uint32_t> table(256);
    const QList<QRgb> colors = indexed.colorTable();
    std::copy_n(colors.begin(), std::min<qsizetype>(colors.size(), 256), table.begin());
    view.LoadMapImage(indexed.width(), indexed.height(), table.data(), indexed.constBits(),
                      indexed.bytesPerLine());
    view.m_pViewport->SetMapBounds(0, 0, indexed.width(), indexed.height());
    view.m_pViewport->SetVisibleRect(0, 0, indexed.width(), indexed.height());
}

void AddAp(int16_t channel, const char* mac, const char* ssid, int16_t rssiSum, int samples) {
    std::lock_guard<std::mutex> lock(g_scanListMutex);
    ApRecord* r = nullptr;
    if (g_scanList.AllocRecord(r) != 0) {
        return;
    }
    r->channel = channel;
    std::strncpy(r->macText, mac, sizeof r->macText - 1);
    std::strncpy(r->ssid, ssid, sizeof r->ssid - 1);
    r->rssi = rssiSum;
    r->sampleCount = samples;
    g_scanList.Append(r);
}

bool Save(CKestrowView& view, const QString& path) {
    QImage image(kW, kH, QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter painter(&image);
    view.OnDraw(painter, image.rect());
    painter.end();
    if (!image.save(path, "PNG")) {
        std::fprintf(stderr, "kestrow_view_pictures: cannot write %s\n", qPrintable(path));
        return false;
    }
    std::printf("%s\n", qPrintable(path));
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: kestrow_view_pictures OUTPUT_FOLDER\n");
        return 2;
    }
    const QString out = QString::fromLocal8Bit(argv[1]);

    FakeScanSource scanner;
    scanner.firmware = "2.10";
    scanner.serial = "A1B2C3";
    g_siteHeader = std::make_unique<CSiteHeader>();

    CKestrowView view;
    view.OnInitialUpdate(scanner, 0);
    bool ok = Save(view, out + "/start-screen.png");

    // The map with a circle of every band, the strongest on the left.
    LoadMap(view, FloorPlan());
    const struct {
        int x, y;
        int16_t rssi;
    } points[] = {{35, 70, -35},  {90, 70, -45},   {150, 70, -55}, {210, 70, -65},
                  {268, 70, -75}, {260, 270, -85}, {90, 280, -62}};
    for (const auto& point : points) {
        view.PaintBandCircle(point.x, point.y, point.rssi);
    }
    view.m_pViewport->SetCenterX(170);
    view.m_pViewport->SetCenterY(175);
    view.m_viewMode = CKestrowView::VIEW_MAP;
    ok = Save(view, out + "/map-screen.png") && ok;

    // The scan screen part-way through a sweep.
    view.m_viewMode = CKestrowView::VIEW_SCAN;
    scanner.heading = true;
    scanner.progress = "9";
    // The scan list keeps ascending RSSI order; RSSI values are sums of samples.
    AddAp(40, "0012CF0B7740", "Lab-5G", -162, 2);
    AddAp(64, "00A0F8A1C3E5", "Guest", -241, 3);
    AddAp(60, "00A0F8A1C3E6", "Office", -130, 3);
    AddAp(52, "00904C7E0011", "Printers", -41, 1);
    AddAp(36, "001A2B3C4D5E", "Office", -78, 2);
    ok = Save(view, out + "/scan-screen.png") && ok;

    g_siteHeader.reset();
    return ok ? 0 : 1;
}
