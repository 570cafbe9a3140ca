#include "workspace/map_canvas.h"

#include <QFontMetrics>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QTimerEvent>
#include <QWheelEvent>
#include <algorithm>
#include <cmath>

#include "coverage/rssi_bands.h"
#include "survey/record_list.h"
#include "view/kestrow_view.h"

namespace workspace {

namespace {

constexpr int16_t kNothingHeardRssi = -120;
// A press held this long within kHoldSlop pixels is a hold, as in the handheld.
constexpr int kHoldMs = 500;
constexpr int kHoldSlop = 6;
constexpr int kSweepPulseMs = 80;
const QColor kBeside(0xD8, 0xDC, 0xE0);  // the canvas beside the plan

QColor BandColour(int16_t rssi) {
    return QColor::fromRgb(ColorRefToRgb(kRssiBands[RssiBandIndex(rssi)].colorRef));
}

bool IsNumber(const char* text) {
    if (*text == '\0') {
        return false;
    }
    for (; *text != '\0'; ++text) {
        if (*text < '0' || *text > '9') {
            return false;
        }
    }
    return true;
}

}  // namespace

std::vector<PointMark> SurveyPointMarks() {
    std::vector<PointMark> marks;
    const ApRecord* sentinel = g_surveyList.Sentinel();
    for (const ApRecord* r = sentinel->next; r != sentinel;) {
        PointMark mark;
        mark.x = r->x;
        mark.y = r->y;
        mark.strongest = kNothingHeardRssi;
        char name[sizeof r->pointName + 1] = {};
        std::copy(r->pointName, r->pointName + sizeof r->pointName, name);
        if (r->channel == 0) {
            r = r->next;
        } else {
            for (; r != sentinel && r->channel != 0 && r->x == mark.x && r->y == mark.y;
                 r = r->next) {
                mark.strongest = std::max(mark.strongest, r->rssi);
            }
        }
        mark.label = IsNumber(name) ? name : std::to_string(marks.size() + 1);
        marks.push_back(std::move(mark));
    }
    return marks;
}

MapCanvas::MapCanvas(CKestrowView& core, QWidget* parent) : QWidget(parent), m_core(core) {
    setObjectName(QStringLiteral("MapCanvas"));
    setFocusPolicy(Qt::StrongFocus);
    setMouseTracking(true);
    setAttribute(Qt::WA_OpaquePaintEvent);
    setMinimumSize(120, 90);
}

void MapCanvas::MapOpened() {
    m_geometry.SetCanvasSize(width(), height());
    m_geometry.SetMapSize(m_core.HasMap() ? m_core.m_mapDC.width() : 0,
                          m_core.HasMap() ? m_core.m_mapDC.height() : 0);
    m_selection.reset();
    update();
}

void MapCanvas::FitToWindow() {
    m_geometry.Fit();
    update();
}

void MapCanvas::ZoomAt(QPointF at, int steps) {
    m_geometry.ZoomAt(at.x(), at.y(), steps);
    update();
}

void MapCanvas::Pan(QPointF by) {
    m_geometry.Pan(by.x(), by.y());
    update();
}

bool MapCanvas::Tap(QPoint at) {
    int32_t x = 0;
    int32_t y = 0;
    if (!m_geometry.CanvasToMap(at.x(), at.y(), x, y)) {
        return false;
    }
    if (onTap) {
        onTap(x, y);
    }
    return true;
}

bool MapCanvas::Hold(QPoint at) {
    int32_t x = 0;
    int32_t y = 0;
    if (!m_geometry.CanvasToMap(at.x(), at.y(), x, y)) {
        return false;
    }
    if (onHold) {
        onHold(x, y, at);
    }
    return true;
}

void MapCanvas::SetSelection(std::optional<QPoint> mapPoint) {
    m_selection = mapPoint;
    update();
}

void MapCanvas::SetSweeping(std::optional<QPoint> mapPoint) {
    m_sweeping = mapPoint;
    if (m_sweeping) {
        m_sweepTimer.start(kSweepPulseMs, this);
    } else {
        m_sweepTimer.stop();
    }
    update();
}

void MapCanvas::SetLegend(QString title, std::vector<LegendRow> rows) {
    m_legendTitle = std::move(title);
    m_legend = std::move(rows);
    update();
}

QImage MapCanvas::Render() {
    QImage image(size(), QImage::Format_RGB32);
    QPainter painter(&image);
    Draw(painter, size());
    return image;
}

void MapCanvas::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    Draw(painter, size());
}

void MapCanvas::Draw(QPainter& painter, QSize size) {
    painter.fillRect(QRect(QPoint(0, 0), size), kBeside);
    if (m_core.HasMap() && m_geometry.HasMap()) {
        DrawPlan(painter);
        if (drawOverPlan) {
            drawOverPlan(painter, size);
        }
        DrawPoints(painter, size);
    }
    DrawLegend(painter, size);
    DrawStatusLine(painter, size);
}

// Only the part of the plan in view is scaled, nearest neighbour, with the
// transform CanvasToMap inverts: a click lands on the pixel drawn under it.
void MapCanvas::DrawPlan(QPainter& painter) {
    const MapRectF visible = m_geometry.VisibleMapRect();
    if (visible.IsEmpty()) {
        return;
    }
    const QRect source(QPoint(static_cast<int>(std::floor(visible.left)),
                              static_cast<int>(std::floor(visible.top))),
                       QPoint(static_cast<int>(std::ceil(visible.right)) - 1,
                              static_cast<int>(std::ceil(visible.bottom)) - 1));
    painter.save();
    painter.setRenderHint(QPainter::SmoothPixmapTransform, false);
    painter.translate(m_geometry.OriginX(), m_geometry.OriginY());
    painter.scale(m_geometry.Scale(), m_geometry.Scale());
    painter.drawImage(QRectF(source), m_core.m_mapDC, QRectF(source));
    painter.restore();
}

void MapCanvas::DrawPoints(QPainter& painter, QSize size) {
    const std::vector<PointMark> marks = SurveyPointMarks();
    const double r = kCircleDiameter / 2.0;
    const QRectF canvas(-r - 40, -r - 20, size.width() + 2 * r + 80, size.height() + 2 * r + 40);
    std::vector<const PointMark*> shown;
    shown.reserve(marks.size());
    for (const PointMark& mark : marks) {
        const QPointF at(m_geometry.MapToCanvasX(mark.x + 0.5),
                         m_geometry.MapToCanvasY(mark.y + 0.5));
        if (canvas.contains(at)) {
            shown.push_back(&mark);
        }
    }
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing, true);
    for (const PointMark* mark : shown) {
        const QPointF at(m_geometry.MapToCanvasX(mark->x + 0.5),
                         m_geometry.MapToCanvasY(mark->y + 0.5));
        painter.setPen(QPen(Qt::black, 1.5));
        painter.setBrush(BandColour(mark->strongest));
        painter.drawEllipse(at, r, r);
    }
    if (shown.size() <= static_cast<size_t>(kMaxLabels)) {
        QFont font = painter.font();
        font.setPixelSize(12);
        font.setBold(true);
        painter.setFont(font);
        const QFontMetrics metrics(font);
        for (const PointMark* mark : shown) {
            const QPointF at(m_geometry.MapToCanvasX(mark->x + 0.5),
                             m_geometry.MapToCanvasY(mark->y + 0.5));
            const QString text = QString::fromStdString(mark->label);
            const QRectF box(at.x() + r + 1, at.y() - metrics.height() / 2.0 - 1,
                             metrics.horizontalAdvance(text) + 6, metrics.height() + 2);
            painter.setPen(Qt::NoPen);
            painter.setBrush(QColor(255, 255, 255, 215));
            painter.drawRoundedRect(box, 3, 3);
            painter.setPen(Qt::black);
            painter.drawText(box, Qt::AlignCenter, text);
        }
    }
    painter.setBrush(Qt::NoBrush);
    if (m_selection) {
        const QPointF at(m_geometry.MapToCanvasX(m_selection->x() + 0.5),
                         m_geometry.MapToCanvasY(m_selection->y() + 0.5));
        painter.setPen(QPen(QColor(0, 90, 255), 3));
        painter.drawEllipse(at, r + 4, r + 4);
    }
    if (m_sweeping) {
        const QPointF at(m_geometry.MapToCanvasX(m_sweeping->x() + 0.5),
                         m_geometry.MapToCanvasY(m_sweeping->y() + 0.5));
        const double grow = r + 4 + (m_sweepPhase % 8) * 3;
        painter.setPen(QPen(QColor(0, 90, 255, 255 - (m_sweepPhase % 8) * 28), 2.5));
        painter.drawEllipse(at, grow, grow);
        painter.setPen(QPen(QColor(0, 90, 255), 2));
        painter.drawLine(at - QPointF(r, 0), at + QPointF(r, 0));
        painter.drawLine(at - QPointF(0, r), at + QPointF(0, r));
    }
    painter.restore();
}

void MapCanvas::DrawLegend(QPainter& painter, QSize size) {
    if (m_legend.empty()) {
        return;
    }
    QFont font = painter.font();
    font.setPixelSize(12);
    painter.save();
    painter.setFont(font);
    const QFontMetrics metrics(font);
    const int row = metrics.height() + 2;
    int width = metrics.horizontalAdvance(m_legendTitle);
    for (const LegendRow& entry : m_legend) {
        width = std::max(width, 22 + metrics.horizontalAdvance(entry.label));
    }
    const QRect box(10, size.height() - 10 - (static_cast<int>(m_legend.size()) + 1) * row - 12,
                    width + 16, (static_cast<int>(m_legend.size()) + 1) * row + 12);
    painter.setPen(QColor(120, 120, 120));
    painter.setBrush(QColor(255, 255, 255, 230));
    painter.drawRect(box);
    painter.setPen(Qt::black);
    painter.drawText(QRect(box.left() + 8, box.top() + 6, width, row), Qt::AlignVCenter,
                     m_legendTitle);
    int y = box.top() + 6 + row;
    for (const LegendRow& entry : m_legend) {
        painter.fillRect(QRect(box.left() + 8, y + 2, 14, row - 4), QColor::fromRgb(entry.rgb));
        painter.drawText(QRect(box.left() + 30, y, width, row), Qt::AlignVCenter, entry.label);
        y += row;
    }
    painter.restore();
}

void MapCanvas::DrawStatusLine(QPainter& painter, QSize size) {
    const std::string& status = m_core.CoverageStatus();
    if (status.empty()) {
        return;
    }
    const QString text = QString::fromStdString(status);
    const QFontMetrics metrics(painter.font());
    const int height = metrics.height() + 6;
    const QRect strip(0, 0, size.width(), height);
    painter.fillRect(strip, QColor(0, 0, 0, 190));
    painter.setPen(Qt::white);
    painter.drawText(strip.adjusted(8, 0, -8, 0), Qt::AlignVCenter | Qt::AlignLeft,
                     metrics.elidedText(text, Qt::ElideRight, strip.width() - 16));
}

void MapCanvas::resizeEvent(QResizeEvent*) {
    m_geometry.SetCanvasSize(width(), height());
}

void MapCanvas::wheelEvent(QWheelEvent* event) {
    // Ctrl+wheel zooms as the plain wheel does: there is nothing to scroll.
    m_wheelRemainder += event->angleDelta().y();
    const int steps = m_wheelRemainder / 120;
    m_wheelRemainder -= steps * 120;
    if (steps != 0) {
        ZoomAt(event->position(), steps);
        ReportCursor(event->position().toPoint());
    }
    event->accept();
}

void MapCanvas::mousePressEvent(QMouseEvent* event) {
    const QPoint at = event->position().toPoint();
    setFocus(Qt::MouseFocusReason);
    if (event->button() == Qt::MiddleButton || (event->button() == Qt::LeftButton && m_spaceHeld)) {
        m_panning = true;
        m_panFrom = event->position();
        m_pressPending = false;
        m_holdTimer.stop();
        setCursor(Qt::ClosedHandCursor);
    } else if (event->button() == Qt::RightButton) {
        m_holdTimer.stop();
        m_pressPending = false;
        Hold(at);
    } else if (event->button() == Qt::LeftButton) {
        m_pressPoint = at;
        m_pressPending = true;
        m_holdTimer.start(kHoldMs, this);
    }
    event->accept();
}

void MapCanvas::mouseMoveEvent(QMouseEvent* event) {
    if (m_panning) {
        Pan(event->position() - m_panFrom);
        m_panFrom = event->position();
    } else if (m_pressPending &&
               (event->position().toPoint() - m_pressPoint).manhattanLength() > kHoldSlop) {
        // A press that wandered off is neither a click nor a hold.
        m_holdTimer.stop();
        m_pressPending = false;
    }
    ReportCursor(event->position().toPoint());
    event->accept();
}

void MapCanvas::mouseReleaseEvent(QMouseEvent* event) {
    if (m_panning && (event->button() == Qt::MiddleButton || event->button() == Qt::LeftButton)) {
        m_panning = false;
        unsetCursor();
    } else if (event->button() == Qt::LeftButton && m_pressPending) {
        m_holdTimer.stop();
        m_pressPending = false;
        Tap(m_pressPoint);
    }
    event->accept();
}

void MapCanvas::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Space) {
        m_spaceHeld = true;
        setCursor(Qt::OpenHandCursor);
    } else if (event->key() == Qt::Key_Escape && onEscape) {
        onEscape();
    } else {
        QWidget::keyPressEvent(event);
        return;
    }
    event->accept();
}

void MapCanvas::keyReleaseEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Space && !event->isAutoRepeat()) {
        m_spaceHeld = false;
        if (!m_panning) {
            unsetCursor();
        }
        event->accept();
        return;
    }
    QWidget::keyReleaseEvent(event);
}

void MapCanvas::leaveEvent(QEvent*) {
    if (onCursor) {
        onCursor(std::nullopt);
    }
}

void MapCanvas::ReportCursor(QPoint at) {
    if (!onCursor) {
        return;
    }
    int32_t x = 0;
    int32_t y = 0;
    if (m_geometry.CanvasToMap(at.x(), at.y(), x, y)) {
        onCursor(
            QPointF(m_geometry.CanvasToMapX(at.x() + 0.5), m_geometry.CanvasToMapY(at.y() + 0.5)));
    } else {
        onCursor(std::nullopt);
    }
}

void MapCanvas::timerEvent(QTimerEvent* event) {
    if (event->timerId() == m_holdTimer.timerId()) {
        m_holdTimer.stop();
        if (m_pressPending) {
            m_pressPending = false;
            Hold(m_pressPoint);
        }
        return;
    }
    if (event->timerId() == m_sweepTimer.timerId()) {
        ++m_sweepPhase;
        update();
        return;
    }
    QWidget::timerEvent(event);
}

}  // namespace workspace
