// Drawing of the survey view: the three screens and the survey-point circles.
#include <QFont>
#include <QPaintEvent>
#include <QPainter>
#include <QPainterPath>
#include <QPainterPathStroker>
#include <QPalette>
#include <QString>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <vector>

#include "coverage/coverage_worker.h"
#include "coverage/requirements.h"
#include "coverage/rssi_bands.h"
#include "picture/coverage_image.h"
#include "platform/qt/qt_window_handle.h"
#include "platform/text.h"
#include "res/resources.h"
#include "scanner/scan_source.h"
#include "survey/record_list.h"
#include "survey/site_header.h"
#include "view/kestrow_view.h"

int32_t CKestrowView::s_radarFrame = 0;

namespace {

constexpr int kTargetMarkSize = 32;
constexpr int kRadarFrameSize = 50;  // drawn size of the 104 x 104 frames
constexpr int kScanFirstRowTop = 70;
constexpr int kScanRowPitch = 20;
constexpr int kTextHeight = 15;
constexpr int kStartTextCheckMs = 250;
// The level a point's circle shows when nothing was heard there: black.
constexpr int16_t kNothingHeardRssi = -120;

QColor ColorOf(uint32_t colorRef) {
    return QColor::fromRgb(ColorRefToRgb(colorRef));
}

// A font of the given size in tenths of a point, as the handheld's 96-dpi
// screen sizes it: 10 points -> 13 pixels, 8 points -> 11 pixels.
QFont PointFont(const char* family, int tenths) {
    QFont font(family);
    font.setPixelSize((tenths * 96 + 360) / 720);
    return font;
}

QRect ToQRect(const Rect& r) {
    return QRect(r.left, r.top, r.right - r.left, r.bottom - r.top);
}

// Text (UTF-8) in a cell, clipped to it, on an opaque background.
void DrawCell(QPainter& painter, int left, int top, int right, int bottom, const char* text,
              int flags) {
    painter.drawText(QRect(left, top, right - left, bottom - top), flags | Qt::TextSingleLine,
                     QString::fromUtf8(text));
}

// One row of the scan screen, copied out of the scan list under its lock.
struct ScanRow {
    int16_t channel;
    int rssi;
    char mac[17];
    std::string ssid;  // as text: the one rule for bytes from the air
};

void CopyBounded(char* out, size_t outSize, const char* in, size_t inSize) {
    const size_t n = strnlen(in, std::min(inSize, outSize - 1));
    std::memcpy(out, in, n);
    out[n] = '\0';
}

}  // namespace

CKestrowView::CKestrowView(QWidget* parent) : QAbstractScrollArea(parent) {
    InitKestrowResources();

    m_penWhite = QPen(QColor(255, 255, 255), 2, Qt::SolidLine);
    m_penBlack = QPen(ColorOf(kRssiBands[5].colorRef), kRssiBands[5].penWidth, Qt::SolidLine);
    QPen* bandPens[] = {&m_penBand1, &m_penBand2, &m_penBand3, &m_penBand4, &m_penBand5};
    for (int i = 0; i < 5; ++i) {
        *bandPens[i] = QPen(ColorOf(kRssiBands[i].colorRef), kRssiBands[i].penWidth, Qt::SolidLine);
    }
    m_brBlack = QBrush(ColorOf(kRssiBands[5].colorRef));
    m_brWhite = QBrush(QColor(255, 255, 255));
    QBrush* bandBrushes[] = {&m_brBand1, &m_brBand2, &m_brBand3, &m_brBand4, &m_brBand5};
    for (int i = 0; i < 5; ++i) {
        *bandBrushes[i] = QBrush(ColorOf(kRssiBands[i].colorRef));
    }
    m_cursorBitmap = QImage(":/bitmaps/137").convertToFormat(QImage::Format_RGB32);
    m_pViewport = std::make_unique<CViewport>();
    m_viewMode = VIEW_START;

    // The client area is the whole view, less any scroll bars.
    setFrameShape(QFrame::NoFrame);
    // The window's background erase: white.
    QPalette pal = viewport()->palette();
    pal.setColor(QPalette::Base, Qt::white);
    pal.setColor(QPalette::Window, Qt::white);
    viewport()->setPalette(pal);
    viewport()->setAutoFillBackground(true);

    m_startTextTimer.start(kStartTextCheckMs, this);
}

CKestrowView::~CKestrowView() = default;

const QPen& CKestrowView::BandPen(int band) const {
    const QPen* pens[] = {&m_penBand1, &m_penBand2, &m_penBand3,
                          &m_penBand4, &m_penBand5, &m_penBlack};
    return *pens[band];
}

const QBrush& CKestrowView::BandBrush(int band) const {
    const QBrush* brushes[] = {&m_brBand1, &m_brBand2, &m_brBand3,
                               &m_brBand4, &m_brBand5, &m_brBlack};
    return *brushes[band];
}

Rect CKestrowView::ClientRect() const {
    return {0, 0, viewport()->width(), viewport()->height()};
}

void CKestrowView::Repaint() {
    viewport()->update();
    if (m_repaintHook) {
        m_repaintHook();
    }
}

void CKestrowView::RepaintNow() {
    viewport()->repaint();
    if (m_repaintHook) {
        m_repaintHook();
    }
}

QImage CKestrowView::Render() {
    // What the window shows stays what the window last drew.
    const std::string firmware = m_drawnFirmware;
    const std::string serial = m_drawnSerial;
    QImage image(viewport()->size(), QImage::Format_RGB32);
    image.fill(Qt::white);
    {
        QPainter painter(&image);
        OnDraw(painter, image.rect());
    }
    m_drawnFirmware = firmware;
    m_drawnSerial = serial;
    return image;
}

void CKestrowView::paintEvent(QPaintEvent*) {
    QPainter painter(viewport());
    OnDraw(painter, viewport()->rect());
}

void CKestrowView::OnDraw(QPainter& painter, const QRect& client) {
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing, false);
    painter.setRenderHint(QPainter::SmoothPixmapTransform, false);
    switch (m_viewMode) {
        case VIEW_START:
            DrawStartScreen(painter, client);
            break;
        case VIEW_MAP:
            DrawMapScreen(painter, client);
            break;
        case VIEW_SCAN:
            DrawScanScreen(painter, client);
            break;
        default:
            break;
    }
    painter.restore();
}

void CKestrowView::DrawStartScreen(QPainter& painter, const QRect& client) {
    const QImage picture(":/bitmaps/136");
    if (!picture.isNull()) {
        painter.drawImage(QRect(0, 0, client.width(), client.height()), picture);
    }
    painter.setPen(QColor(0, 0, 0));
    painter.setBackground(QColor(255, 255, 255));
    painter.setBackgroundMode(Qt::OpaqueMode);
    painter.setFont(PointFont("Arial", 100));

    std::string left = "(Firmware )";
    std::string right = "(SN )";
    if (m_scanner) {
        m_scanner->StartScreenTexts(left, right);
    }
    m_drawnFirmware = left;
    m_drawnSerial = right;
    DrawCell(painter, 5, 183, 115, 198, left.c_str(), Qt::AlignCenter);
    DrawCell(painter, 125, 183, 235, 198, right.c_str(), Qt::AlignCenter);
}

void CKestrowView::CheckStartTexts() {
    if (m_viewMode != VIEW_START) {
        m_startTextTimer.stop();  // nothing returns the view to the start screen
        return;
    }
    if (!m_scanner) {
        return;
    }
    std::string left;
    std::string right;
    m_scanner->StartScreenTexts(left, right);
    if (m_drawnFirmware != left || m_drawnSerial != right) {
        Repaint();
    }
}

void CKestrowView::DrawMapScreen(QPainter& painter, const QRect& client) {
    const Rect a{0, 0, client.width(), client.height()};
    Rect dest = a;
    Rect source{};
    // Without a map, or with an empty extent, there is nothing to copy: the
    // client is white under the target mark.
    if (!HasMap() || !m_pViewport->ComputeBlit(dest, source)) {
        painter.fillRect(client, m_brWhite);
    } else {
        const int dw = dest.Width();
        const int dh = dest.Height();
        const int sw = source.Width();
        const int sh = source.Height();
        if (dw > 0 && dh > 0 && sw > 0 && sh > 0) {
            // Nearest-neighbour copy with the scale ClientToMap uses, so a press
            // lands on the map pixel drawn under it. Source indices are kept
            // inside the image whatever the viewport says.
            if (m_frame.width() != dw || m_frame.height() != dh) {
                m_frame = QImage(dw, dh, QImage::Format_RGB32);
            }
            const int64_t maxX = m_mapDC.width() - 1;
            const int64_t maxY = m_mapDC.height() - 1;
            std::vector<int32_t> columns(dw);
            for (int x = 0; x < dw; ++x) {
                const int64_t sx = source.left + int64_t{x} * sw / dw;
                columns[x] = static_cast<int32_t>(std::clamp<int64_t>(sx, 0, maxX));
            }
            const uchar* bits = m_mapDC.constBits();
            const qsizetype stride = m_mapDC.bytesPerLine();
            for (int y = 0; y < dh; ++y) {
                const int64_t sy = std::clamp<int64_t>(source.top + int64_t{y} * sh / dh, 0, maxY);
                const QRgb* in = reinterpret_cast<const QRgb*>(bits + sy * stride);
                QRgb* out = reinterpret_cast<QRgb*>(m_frame.scanLine(y));
                for (int x = 0; x < dw; ++x) {
                    out[x] = in[columns[x]];
                }
            }
            painter.drawImage(QPoint(dest.left, dest.top), m_frame);
        }
        for (int i = 0; i < m_pViewport->GetMarginCount(); ++i) {
            painter.fillRect(ToQRect(m_pViewport->GetMargin(i)), m_brWhite);
        }
    }

    DrawOverlayStatus(painter, client);

    // The survey cursor over the viewport centre: white leaves the map as it
    // is, the black ring and ticks show.
    if (!m_cursorBitmap.isNull()) {
        painter.setCompositionMode(QPainter::RasterOp_SourceAndDestination);
        painter.drawImage(
            QPoint(a.right / 2 - kTargetMarkSize / 2, a.bottom / 2 - kTargetMarkSize / 2),
            m_cursorBitmap, QRect(0, 0, kTargetMarkSize, kTargetMarkSize));
        painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
    }
}

void CKestrowView::DrawScanScreen(QPainter& painter, const QRect& client) {
    const int bottom = client.height();
    s_radarFrame = s_radarFrame + 1;
    if (s_radarFrame > 7) {
        s_radarFrame = 0;
    }
    const QImage frame(QString(":/bitmaps/%1").arg(139 + s_radarFrame % 4));

    // The heading and the black background show while the scanner asks for them.
    const bool heading = m_scanner && m_scanner->ShowsScanHeading();
    if (heading) {
        painter.fillRect(QRect(0, 0, client.width(), bottom), m_brBlack);
    }

    painter.setPen(QColor(255, 255, 255));
    painter.setBackground(QColor(0, 0, 0));
    painter.setBackgroundMode(Qt::OpaqueMode);
    painter.setFont(PointFont("Arial", 80));
    const int topLeft = Qt::AlignLeft | Qt::AlignTop;

    if (heading) {
        DrawCell(painter, 0, 50, 15, 65, "CH", topLeft);
        DrawCell(painter, 20, 50, 100, 65, "MAC Addr", topLeft);
        DrawCell(painter, 110, 50, 180, 65, "SSID", topLeft);
        DrawCell(painter, 190, 50, 220, 65, "RSSI", topLeft);
    }
    if (!frame.isNull()) {
        painter.drawImage(QRect(0, 0, kRadarFrameSize, kRadarFrameSize), frame);
    }
    char text[32];
    if (m_scanner) {
        DrawCell(painter, 120, 10, 150, 25, m_scanner->ProgressText().c_str(), topLeft);
    }

    // Copy the rows that fit while holding the list's lock (the reader thread
    // extends the list during a sweep), then draw them without it.
    std::vector<ScanRow> rows;
    {
        std::lock_guard<std::mutex> lock(g_scanListMutex);
        int top = kScanFirstRowTop;
        const ApRecord* sentinel = g_scanList.Sentinel();
        for (const ApRecord* r = sentinel->next; r != sentinel; r = r->next) {
            if (!rows.empty()) {
                top += kScanRowPitch;
                if (top > bottom - 20) {
                    break;
                }
            }
            ScanRow row;
            row.channel = r->channel;
            // The list holds RSSI sums; show the average. A record that has
            // no samples yet shows its value as it is.
            row.rssi = r->sampleCount != 0 ? r->rssi / r->sampleCount : r->rssi;
            CopyBounded(row.mac, sizeof row.mac, r->macText, sizeof r->macText);
            row.ssid = platform::TextFromBytes(r->ssid, sizeof r->ssid);
            rows.push_back(row);
        }
    }

    painter.setPen(QColor(0, 255, 0));
    int top = kScanFirstRowTop;
    for (const ScanRow& row : rows) {
        const int rowBottom = top + kTextHeight;
        std::snprintf(text, sizeof text, "%d", int{row.channel});
        DrawCell(painter, 0, top, 15, rowBottom, text, topLeft);
        DrawCell(painter, 20, top, 100, rowBottom, row.mac, topLeft);
        DrawCell(painter, 110, top, 180, rowBottom, row.ssid.c_str(), topLeft);
        std::snprintf(text, sizeof text, "%d", row.rssi);
        DrawCell(painter, 190, top, 220, rowBottom, text, topLeft);
        top += kScanRowPitch;
    }
}

// Like the platform's Ellipse: the box's right and bottom edges are outside
// the figure, so (x - 10, y - 10, x + 10, y + 10) covers x - 10 .. x + 9. A
// 1-pixel outline lies inside the box; a wider one is centred on its edge.
// Never antialiased, so the band colours stay exact.
void CKestrowView::PaintEllipse(QPainter& painter, const Rect& box, const QPen& pen,
                                const QBrush& brush) {
    // A box wholly off the map paints nothing; leaving it out also keeps
    // coordinates far beyond the map away from the painter.
    const int64_t reach = pen.width() + 1;
    const QImage& map = m_mapDC;
    if (map.isNull() || int64_t{box.right} + reach < 0 || int64_t{box.bottom} + reach < 0 ||
        int64_t{box.left} - reach > map.width() || int64_t{box.top} - reach > map.height()) {
        return;
    }
    // Filled as paths: the aliased path fill samples pixel centres, so the
    // disc is symmetric about the box centre and ends where the box ends.
    auto disc = [](const QRectF& r) {
        QPainterPath path;
        path.addEllipse(r);
        return path;
    };
    const QRectF outer(box.left, box.top, static_cast<double>(box.right) - box.left,
                       static_cast<double>(box.bottom) - box.top);
    painter.setPen(Qt::NoPen);
    if (pen.width() <= 1) {
        painter.setBrush(pen.color());
        painter.drawPath(disc(outer));
        painter.setBrush(brush);
        painter.drawPath(disc(outer.adjusted(1, 1, -1, -1)));
    } else {
        painter.setBrush(brush);
        painter.drawPath(disc(outer));
        QPainterPathStroker stroker;
        stroker.setWidth(pen.widthF());
        painter.setBrush(pen.color());
        painter.drawPath(stroker.createStroke(disc(outer)));
    }
}

void CKestrowView::PaintBandCircle(int32_t x, int32_t y, int16_t rssi) {
    if (m_mapDC.isNull() || !m_circlesInMap) {
        return;
    }
    ++m_mapGeneration;
    QPainter painter(&m_mapDC);
    painter.setRenderHint(QPainter::Antialiasing, false);
    const int band = RssiBandIndex(rssi);
    PaintEllipse(painter, CircleBox(x, y, 10), BandPen(band), BandBrush(band));
}

void CKestrowView::PaintPointCircle() {
    if (!g_siteHeader) {
        return;
    }
    int16_t rssi = 0;
    g_siteHeader->GetStrongestRssi(rssi);
    PaintBandCircle(g_siteHeader->m_curX, g_siteHeader->m_curY, rssi);
}

void CKestrowView::RepaintCircles() {
    RepaintCircles(Rect{0, 0, m_mapPlan.width(), m_mapPlan.height()});
}

void CKestrowView::RepaintCircles(const Rect& area) {
    if (m_mapPlan.isNull()) {
        return;
    }
    const QRect region = QRect(area.left, area.top, area.right - area.left, area.bottom - area.top)
                             .intersected(m_mapPlan.rect());
    if (region.isEmpty()) {
        return;
    }
    if (m_mapDC.size() != m_mapPlan.size()) {
        m_mapDC = QImage(m_mapPlan.size(), QImage::Format_RGB32);
        if (m_mapDC.isNull()) {
            return;
        }
    }
    // The plan copied back a band at a time: no second map-sized image.
    constexpr int kBandRows = 256;
    {
        QPainter copy(&m_mapDC);
        copy.setCompositionMode(QPainter::CompositionMode_Source);
        for (int top = region.top(); top <= region.bottom(); top += kBandRows) {
            const QRect band(region.left(), top, region.width(),
                             std::min(kBandRows, region.bottom() + 1 - top));
            copy.drawImage(band.topLeft(),
                           m_mapPlan.copy(band).convertToFormat(QImage::Format_RGB32));
        }
    }
    ++m_mapGeneration;
    QPainter painter(&m_mapDC);
    painter.setRenderHint(QPainter::Antialiasing, false);
    painter.setClipRect(region);
    // The coverage overlay lies over the plan, under the circles: its cells
    // laid out at map resolution a band at a time, never the whole map at once.
    if (!m_overlayCells.isNull()) {
        for (int top = region.top(); top <= region.bottom(); top += kBandRows) {
            const QRect band(region.left(), top, region.width(),
                             std::min(kBandRows, region.bottom() + 1 - top));
            painter.drawImage(band.topLeft(), picture::ExpandCells(m_overlayCells, m_overlaySpec,
                                                                   m_mapPlan.size(), band));
        }
    }
    if (!m_circlesInMap) {
        return;
    }
    // One circle a point: a run of records at one position, or a marker
    // record of a point where nothing was heard. Its colour is the strongest
    // level heard there, black when nothing was. Only circles that reach the
    // area are painted (a 2-pixel outline reaches a pixel past the box).
    const ApRecord* sentinel = g_surveyList.Sentinel();
    for (const ApRecord* r = sentinel->next; r != sentinel;) {
        const int32_t x = r->x;
        const int32_t y = r->y;
        int16_t strongest = kNothingHeardRssi;
        if (r->channel == 0) {
            r = r->next;
        } else {
            for (; r != sentinel && r->channel != 0 && r->x == x && r->y == y; r = r->next) {
                strongest = std::max(strongest, r->rssi);
            }
        }
        const Rect box = CircleBox(x, y, 10);
        if (!region.intersects(QRect(box.left - 1, box.top - 1, 22, 22))) {
            continue;
        }
        const int band = RssiBandIndex(strongest);
        PaintEllipse(painter, box, BandPen(band), BandBrush(band));
    }
}

bool CKestrowView::LoadMapImage(int32_t width, int32_t height, const uint32_t* colors,
                                const uint8_t* pixels, int64_t stride) {
    if (width <= 0 || height <= 0 || (stride < 0 ? -stride : stride) < width || !colors ||
        !pixels) {
        return false;
    }
    QImage plan(width, height, QImage::Format_Indexed8);
    if (plan.isNull()) {
        return false;
    }
    QList<QRgb> table(256);
    for (int i = 0; i < 256; ++i) {
        table[i] = 0xFF000000u | (colors[i] & 0x00FFFFFFu);
    }
    plan.setColorTable(table);
    for (int32_t y = 0; y < height; ++y) {
        std::memcpy(plan.scanLine(y), pixels + y * stride, static_cast<size_t>(width));
    }
    QImage image = plan.convertToFormat(QImage::Format_RGB32);
    if (image.isNull()) {
        return false;
    }
    m_mapPlan = std::move(plan);
    m_mapDC = std::move(image);
    ++m_mapGeneration;
    ++m_mapLoads;
    // An overlay belongs to the map it was computed for.
    m_overlayCells = QImage();
    m_coverageModel.reset();
    m_mapWidth = width;
    m_mapHeight = height;
    return true;
}
