#include "workspace/map_canvas.h"

#include <QFontMetrics>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QPolygonF>
#include <QTimerEvent>
#include <QWheelEvent>
#include <algorithm>
#include <cmath>
#include <cstring>

#include "coverage/rssi_bands.h"
#include "platform/text.h"
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

// The name a circle shows: the point's own, unless it is the handheld's
// "TEST" every point of an old site has (or none), where its number in the
// survey says more.
std::string MarkLabel(const char* name, size_t ordinal) {
    if (name[0] == '\0' || std::strcmp(name, "TEST") == 0) {
        return std::to_string(ordinal);
    }
    return platform::TextFromBytes(name, std::strlen(name));
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
        mark.label = MarkLabel(name, marks.size() + 1);
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

std::optional<PointMark> MapCanvas::MarkAt(QPoint at) const {
    const double reach = kCircleDiameter / 2.0 + 2;
    std::optional<PointMark> best;
    double bestDistance = reach * reach;
    for (const PointMark& mark : SurveyPointMarks()) {
        const double dx = m_geometry.MapToCanvasX(mark.x + 0.5) - (at.x() + 0.5);
        const double dy = m_geometry.MapToCanvasY(mark.y + 0.5) - (at.y() + 0.5);
        if (dx * dx + dy * dy <= bestDistance) {
            bestDistance = dx * dx + dy * dy;
            best = mark;
        }
    }
    return best;
}

void MapCanvas::SetSelection(std::optional<QPoint> mapPoint) {
    m_selection = mapPoint;
    update();
}

void MapCanvas::SetSweeping(std::optional<QPoint> mapPoint) {
    const QRect before = SweepArea();
    m_sweeping = mapPoint;
    if (m_sweeping) {
        m_sweepTimer.start(kSweepPulseMs, this);
    } else {
        m_sweepTimer.stop();
    }
    update(before.united(SweepArea()));
}

// The pulsing ring's reach: a pulse repaints only this much of the canvas.
QRect MapCanvas::SweepArea() const {
    if (!m_sweeping) {
        return QRect();
    }
    const int x = static_cast<int>(m_geometry.MapToCanvasX(m_sweeping->x() + 0.5));
    const int y = static_cast<int>(m_geometry.MapToCanvasY(m_sweeping->y() + 0.5));
    const int reach = kCircleDiameter / 2 + 4 + 8 * 3 + 4;
    return QRect(x - reach, y - reach, 2 * reach + 1, 2 * reach + 1);
}

void MapCanvas::SetWalkPath(std::vector<QPointF> corners, std::optional<QPointF> pointer) {
    m_walkPath = std::move(corners);
    m_walkPointer = m_walkPath.empty() ? std::nullopt : pointer;
    update();
}

void MapCanvas::DrawWalk(QPainter& painter) {
    if (m_walkPath.empty()) {
        return;
    }
    auto canvas = [this](QPointF p) {
        return QPointF(m_geometry.MapToCanvasX(p.x() + 0.5), m_geometry.MapToCanvasY(p.y() + 0.5));
    };
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing, true);
    const QColor walkColour(0, 90, 255);
    QPolygonF line;
    for (const QPointF& corner : m_walkPath) {
        line << canvas(corner);
    }
    painter.setPen(QPen(walkColour, 3, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    painter.drawPolyline(line);
    if (m_walkPointer) {
        painter.setPen(QPen(walkColour, 2, Qt::DashLine, Qt::RoundCap));
        painter.drawLine(line.back(), canvas(*m_walkPointer));
    }
    // The corners as small squares, the start as a larger one.
    painter.setPen(Qt::NoPen);
    painter.setBrush(walkColour);
    for (int i = 0; i < line.size(); ++i) {
        const double half = i == 0 ? 5 : 3;
        painter.drawRect(QRectF(line[i] - QPointF(half, half), QSizeF(2 * half, 2 * half)));
    }
    painter.restore();
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

void MapCanvas::SurveyChanged() {
    m_marksRead = false;
    update();
}

void MapCanvas::Draw(QPainter& painter, QSize size) {
    Marks();
    const FrameKey key{m_core.MapGeneration(), m_marksVersion,       m_geometry.Scale(),
                       m_geometry.OriginX(),   m_geometry.OriginY(), size};
    if (m_frameKey && *m_frameKey == key) {
        painter.drawImage(QPoint(0, 0), m_frame);
    } else if (m_lastKey && *m_lastKey == key) {
        // The second paint at one place: keep it for the paints that follow.
        m_frame = QImage(size, QImage::Format_RGB32);
        QPainter frame(&m_frame);
        DrawPlanAndPoints(frame, size);
        frame.end();
        m_frameKey = key;
        painter.drawImage(QPoint(0, 0), m_frame);
    } else {
        DrawPlanAndPoints(painter, size);
        m_frameKey.reset();
        m_frame = QImage();
    }
    m_lastKey = key;
    // The site's preparation (walls, access points, a tool's rubber band)
    // changes with every mouse move while a tool is in use: drawn over the
    // kept frame, never into it.
    if (drawOverPlan && m_core.HasMap() && m_geometry.HasMap()) {
        drawOverPlan(painter, size);
    }
    DrawWalk(painter);
    DrawMarks(painter);
    DrawLegend(painter, size);
    DrawStatusLine(painter, size);
}

void MapCanvas::DrawPlanAndPoints(QPainter& painter, QSize size) {
    const QRect canvas(QPoint(0, 0), size);
    if (!m_core.HasMap() || !m_geometry.HasMap()) {
        painter.fillRect(canvas, kBeside);
        return;
    }
    // Only what lies beside the plan is filled: the plan covers the rest.
    const MapRectF visible = m_geometry.VisibleMapRect();
    const QRect plan =
        QRect(QPoint(static_cast<int>(std::ceil(m_geometry.MapToCanvasX(visible.left))),
                     static_cast<int>(std::ceil(m_geometry.MapToCanvasY(visible.top)))),
              QPoint(static_cast<int>(std::floor(m_geometry.MapToCanvasX(visible.right))) - 1,
                     static_cast<int>(std::floor(m_geometry.MapToCanvasY(visible.bottom))) - 1))
            .intersected(canvas);
    if (plan.isEmpty()) {
        painter.fillRect(canvas, kBeside);
    } else {
        painter.fillRect(QRect(0, 0, size.width(), plan.top()), kBeside);
        painter.fillRect(
            QRect(0, plan.bottom() + 1, size.width(), size.height() - plan.bottom() - 1), kBeside);
        painter.fillRect(QRect(0, plan.top(), plan.left(), plan.height()), kBeside);
        painter.fillRect(
            QRect(plan.right() + 1, plan.top(), size.width() - plan.right() - 1, plan.height()),
            kBeside);
    }
    DrawPlan(painter);
    DrawPoints(painter, size);
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

// Every commit and deletion changes the view's generation, as do the
// editing core's repaints; anything else calls SurveyChanged.
const std::vector<PointMark>& MapCanvas::Marks() {
    if (!m_marksRead || m_core.MapGeneration() != m_marksGeneration) {
        m_marks = SurveyPointMarks();
        m_marksGeneration = m_core.MapGeneration();
        m_marksRead = true;
        ++m_marksVersion;
    }
    return m_marks;
}

// Each circle is drawn once a colour band and then copied: thousands of
// points cost thousands of small copies, not thousands of ellipses.
const QImage& MapCanvas::CircleSprite(int16_t rssi) {
    if (m_circleSprites.empty()) {
        for (int band = 0; band < kRssiBandCount; ++band) {
            QImage sprite(kCircleDiameter + 4, kCircleDiameter + 4,
                          QImage::Format_ARGB32_Premultiplied);
            sprite.fill(Qt::transparent);
            QPainter p(&sprite);
            p.setRenderHint(QPainter::Antialiasing, true);
            p.setPen(QPen(Qt::black, 1.5));
            p.setBrush(QColor::fromRgb(ColorRefToRgb(kRssiBands[band].colorRef)));
            const double r = kCircleDiameter / 2.0;
            p.drawEllipse(QPointF(sprite.width() / 2.0, sprite.height() / 2.0), r, r);
            m_circleSprites.push_back(std::move(sprite));
        }
    }
    return m_circleSprites[RssiBandIndex(rssi)];
}

const QImage& MapCanvas::LabelSprite(const std::string& label) {
    auto found = m_labelSprites.find(label);
    if (found != m_labelSprites.end()) {
        return found->second;
    }
    if (m_labelSprites.size() > 20000) {
        m_labelSprites.clear();
    }
    QFont font = this->font();
    font.setPixelSize(12);
    font.setBold(true);
    const QFontMetrics metrics(font);
    const QString text = QString::fromStdString(label);
    QImage sprite(metrics.horizontalAdvance(text) + 6, metrics.height() + 2,
                  QImage::Format_ARGB32_Premultiplied);
    sprite.fill(Qt::transparent);
    QPainter p(&sprite);
    p.setRenderHint(QPainter::Antialiasing, true);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(255, 255, 255, 215));
    p.drawRoundedRect(QRectF(sprite.rect()), 3, 3);
    p.setFont(font);
    p.setPen(Qt::black);
    p.drawText(QRectF(sprite.rect()), Qt::AlignCenter, text);
    p.end();
    return m_labelSprites.emplace(label, std::move(sprite)).first->second;
}

void MapCanvas::DrawPoints(QPainter& painter, QSize size) {
    const std::vector<PointMark>& marks = Marks();
    const double r = kCircleDiameter / 2.0;
    const QRectF canvas(-r - 40, -r - 20, size.width() + 2 * r + 80, size.height() + 2 * r + 40);
    std::vector<std::pair<const PointMark*, QPoint>> shown;
    shown.reserve(marks.size());
    for (const PointMark& mark : marks) {
        const QPointF at(m_geometry.MapToCanvasX(mark.x + 0.5),
                         m_geometry.MapToCanvasY(mark.y + 0.5));
        if (canvas.contains(at)) {
            shown.emplace_back(&mark, QPoint(static_cast<int>(std::floor(at.x())),
                                             static_cast<int>(std::floor(at.y()))));
        }
    }
    const int half = (kCircleDiameter + 4) / 2;
    for (const auto& [mark, at] : shown) {
        painter.drawImage(at - QPoint(half, half), CircleSprite(mark->strongest));
    }
    if (shown.size() <= static_cast<size_t>(kMaxLabels)) {
        for (const auto& [mark, at] : shown) {
            const QImage& label = LabelSprite(mark->label);
            painter.drawImage(at + QPoint(static_cast<int>(r) + 2, -label.height() / 2), label);
        }
    }
}

// What changes without the plan or the points changing: the selection, a
// point being dragged, the point being swept.
void MapCanvas::DrawMarks(QPainter& painter) {
    const double r = kCircleDiameter / 2.0;
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing, true);
    painter.setBrush(Qt::NoBrush);
    if (m_selection) {
        const QPointF at(m_geometry.MapToCanvasX(m_selection->x() + 0.5),
                         m_geometry.MapToCanvasY(m_selection->y() + 0.5));
        painter.setPen(QPen(QColor(0, 90, 255), 3));
        painter.drawEllipse(at, r + 4, r + 4);
    }
    if (m_dragging && m_pressMark) {
        painter.setPen(QPen(QColor(0, 90, 255), 2, Qt::DashLine));
        painter.setBrush(QColor(0, 90, 255, 60));
        painter.drawEllipse(QPointF(m_dragTo) + QPointF(0.5, 0.5), r + 2, r + 2);
        painter.setBrush(Qt::NoBrush);
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
        m_pressMark = MarkAt(at);
        m_dragging = false;
        m_holdTimer.start(kHoldMs, this);
    }
    event->accept();
}

void MapCanvas::mouseMoveEvent(QMouseEvent* event) {
    const QPoint at = event->position().toPoint();
    if (m_panning) {
        Pan(event->position() - m_panFrom);
        m_panFrom = event->position();
    } else if (m_dragging) {
        m_dragTo = at;
        update();
    } else if (m_pressPending && (at - m_pressPoint).manhattanLength() > kHoldSlop) {
        // A circle dragged is moved (where moving is offered); any other
        // press that wandered off is neither a click nor a hold.
        m_holdTimer.stop();
        m_pressPending = false;
        if (m_pressMark && onMove) {
            m_dragging = true;
            m_dragTo = at;
            setCursor(Qt::SizeAllCursor);
            update();
        }
    }
    ReportCursor(event->position().toPoint());
    event->accept();
}

void MapCanvas::mouseReleaseEvent(QMouseEvent* event) {
    if (m_panning && (event->button() == Qt::MiddleButton || event->button() == Qt::LeftButton)) {
        m_panning = false;
        unsetCursor();
    } else if (event->button() == Qt::LeftButton && m_dragging) {
        m_dragging = false;
        unsetCursor();
        int32_t x = 0;
        int32_t y = 0;
        const PointMark mark = *m_pressMark;
        update();
        if (m_geometry.CanvasToMap(m_dragTo.x(), m_dragTo.y(), x, y) && onMove) {
            onMove(mark.x, mark.y, x, y);
        }
    } else if (event->button() == Qt::LeftButton && m_pressPending) {
        m_holdTimer.stop();
        m_pressPending = false;
        if (m_pressMark && onSelect) {
            onSelect(m_pressMark->x, m_pressMark->y);
        } else {
            Tap(m_pressPoint);
        }
    }
    event->accept();
}

void MapCanvas::mouseDoubleClickEvent(QMouseEvent* event) {
    int32_t x = 0;
    int32_t y = 0;
    const QPoint at = event->position().toPoint();
    if (event->button() == Qt::LeftButton && !m_spaceHeld && onDoubleTap &&
        m_geometry.CanvasToMap(at.x(), at.y(), x, y)) {
        m_holdTimer.stop();
        m_pressPending = false;
        onDoubleTap(x, y);
        event->accept();
        return;
    }
    mousePressEvent(event);
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
        update(SweepArea());
        return;
    }
    QWidget::timerEvent(event);
}

}  // namespace workspace
