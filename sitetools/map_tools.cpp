#include "sitetools/map_tools.h"

#include <QPainter>
#include <QPainterPath>
#include <algorithm>
#include <cmath>

#include "picture/walls_picture.h"
#include "sitetools/site_prep_tools.h"
#include "workspace/canvas_geometry.h"
#include "workspace/map_canvas.h"

namespace sitetools {

namespace {

QPointF ToCanvas(const workspace::CanvasGeometry& g, QPointF map) {
    return {g.MapToCanvasX(map.x()), g.MapToCanvasY(map.y())};
}

QPointF End(const sitefile::Wall& wall, int end) {
    return end == 0 ? QPointF(wall.x1, wall.y1) : QPointF(wall.x2, wall.y2);
}

QString LengthText(double pixels, const sitefile::SiteMeta& meta) {
    if (meta.pixelsPerMetre) {
        return QStringLiteral("%1 m").arg(pixels / *meta.pixelsPerMetre, 0, 'f', 2);
    }
    return QStringLiteral("%1 px").arg(pixels, 0, 'f', 0);
}

// A label on a white ground beside a canvas point, kept on the canvas.
void Tag(QPainter& painter, QPointF at, const QString& text) {
    const QRectF box = painter.fontMetrics().boundingRect(text).adjusted(-4, -2, 4, 2);
    QRectF placed = box.translated(at + QPointF(10, -10) - box.bottomLeft());
    const QPaintDevice* device = painter.device();
    if (placed.right() > device->width()) {
        placed.moveRight(at.x() - 10);
    }
    if (placed.top() < 0) {
        placed.moveTop(at.y() + 10);
    }
    painter.fillRect(placed, QColor(255, 255, 255, 230));
    painter.setPen(Qt::black);
    painter.drawText(placed, Qt::AlignCenter, text);
}

// A dashed line from a to b (canvas points) with a dot at each end.
void RubberBand(QPainter& painter, QPointF a, QPointF b, QColor colour) {
    painter.setPen(QPen(colour, 2, Qt::DashLine));
    painter.drawLine(a, b);
    painter.setPen(Qt::NoPen);
    painter.setBrush(colour);
    painter.drawEllipse(a, 4, 4);
    painter.drawEllipse(b, 4, 4);
}

const sitefile::PlacedAccessPoint* PlacedNear(const SitePrepTools& owner, QPointF canvas) {
    const workspace::CanvasGeometry& g = owner.Geometry();
    const sitefile::PlacedAccessPoint* best = nullptr;
    double bestDistance = kGrabDistance + 4;
    for (const sitefile::PlacedAccessPoint& ap : owner.Meta().accessPoints) {
        const double d =
            std::hypot(g.MapToCanvasX(ap.x) - canvas.x(), g.MapToCanvasY(ap.y) - canvas.y());
        if (d <= bestDistance) {
            best = &ap;
            bestDistance = d;
        }
    }
    return best;
}

}  // namespace

double SegmentDistance(QPointF p, QPointF a, QPointF b) {
    const QPointF ab = b - a;
    const double length2 = QPointF::dotProduct(ab, ab);
    double t = length2 > 0 ? QPointF::dotProduct(p - a, ab) / length2 : 0;
    t = std::clamp(t, 0.0, 1.0);
    const QPointF nearest = a + t * ab;
    return std::hypot(p.x() - nearest.x(), p.y() - nearest.y());
}

// ---- scale ----------------------------------------------------------------

QString ScaleTool::Hint() const {
    return m_first ? QObject::tr("Click the other end of the distance you know")
                   : QObject::tr(
                         "Scale: click one end of a distance you know (a wall, a "
                         "dimension line), then the other");
}

void ScaleTool::Reset() {
    m_first.reset();
}

void ScaleTool::Press(const ToolEvent& event) {
    if (!m_first) {
        m_first = event.map;
        m_cursor = event.map;
        return;
    }
    const QPointF a = *m_first;
    const QPointF b = event.map;
    m_first.reset();
    m_owner.Canvas().update();
    const double pixels = std::hypot(b.x() - a.x(), b.y() - a.y());
    if (pixels < 1) {
        SitePrepTools::Refused(
            "The two ends of the scale are the same point: click two points "
            "a known distance apart.");
        return;
    }
    const std::optional<double> metres = m_owner.askMetres(&m_owner.Canvas(), pixels);
    std::string error;
    if (metres && !m_owner.SetScaleFromLine(a, b, *metres, error)) {
        SitePrepTools::Refused("The scale was not set: " + error + ".");
    }
}

void ScaleTool::Move(const ToolEvent& event, bool) {
    m_cursor = event.map;
}

bool ScaleTool::Key(int key) {
    if (key == Qt::Key_Escape && m_first) {
        Reset();
        return true;
    }
    return false;
}

void ScaleTool::Draw(QPainter& painter, const workspace::CanvasGeometry& g) const {
    if (!m_first) {
        return;
    }
    const QPointF a = ToCanvas(g, *m_first);
    const QPointF b = ToCanvas(g, m_cursor);
    RubberBand(painter, a, b, QColor(0xD0, 0x20, 0x20));
    Tag(painter, b,
        QStringLiteral("%1 px").arg(
            std::hypot(m_cursor.x() - m_first->x(), m_cursor.y() - m_first->y()), 0, 'f', 0));
}

// ---- walls ----------------------------------------------------------------

QString WallTool::Hint() const {
    if (m_first) {
        return QObject::tr("Click the wall's other end (Shift: level or upright; Esc: cancel)");
    }
    return QObject::tr(
        "Walls: click each end of a wall; drag an end to move it; click a wall "
        "and press Delete to remove it");
}

void WallTool::Reset() {
    m_first.reset();
    m_dragWall.reset();
    m_selected.reset();
}

QPointF WallTool::Placed(const ToolEvent& event, std::optional<QPointF> from) const {
    const workspace::CanvasGeometry& g = m_owner.Geometry();
    QPointF at = event.map;
    if (from && (event.modifiers & Qt::ShiftModifier)) {
        if (std::abs(at.x() - from->x()) >= std::abs(at.y() - from->y())) {
            at.setY(from->y());
        } else {
            at.setX(from->x());
        }
    }
    // The nearest end of another wall within reach on the screen.
    double best = kSnapDistance;
    const std::vector<sitefile::Wall>& walls = m_owner.EditedWalls();
    for (size_t i = 0; i < walls.size(); ++i) {
        if (m_dragWall && *m_dragWall == i) {
            continue;
        }
        for (int end = 0; end < 2; ++end) {
            const QPointF candidate = End(walls[i], end);
            const double d = std::hypot(g.MapToCanvasX(candidate.x()) - event.canvas.x(),
                                        g.MapToCanvasY(candidate.y()) - event.canvas.y());
            if (d < best) {
                best = d;
                at = candidate;
            }
        }
    }
    at.setX(std::clamp(at.x(), 0.0, static_cast<double>(g.MapWidth())));
    at.setY(std::clamp(at.y(), 0.0, static_cast<double>(g.MapHeight())));
    return at;
}

void WallTool::Press(const ToolEvent& event) {
    const workspace::CanvasGeometry& g = m_owner.Geometry();
    if (m_first) {
        const QPointF end = Placed(event, m_first);
        const QPointF a = ToCanvas(g, *m_first);
        const QPointF b = ToCanvas(g, end);
        if (std::hypot(a.x() - b.x(), a.y() - b.y()) < 3) {
            return;  // a second click on the first end is not a wall
        }
        const sitefile::Wall wall{m_first->x(), m_first->y(), end.x(), end.y(),
                                  m_owner.CurrentMaterial()};
        m_first.reset();
        std::string error;
        if (!m_owner.AddWall(wall, error)) {
            SitePrepTools::Refused("The wall was not added: " + error + ".");
            return;
        }
        m_selected = m_owner.EditedWalls().size() - 1;
        return;
    }
    const std::vector<sitefile::Wall>& walls = m_owner.EditedWalls();
    // An end first (it lies on its wall too), then the nearest wall.
    for (size_t i = 0; i < walls.size(); ++i) {
        for (int end = 0; end < 2; ++end) {
            const QPointF at = ToCanvas(g, End(walls[i], end));
            if (std::hypot(at.x() - event.canvas.x(), at.y() - event.canvas.y()) <= kGrabDistance) {
                m_selected = i;
                m_dragWall = i;
                m_dragEnd = end;
                m_dragTo = End(walls[i], end);
                return;
            }
        }
    }
    std::optional<size_t> nearest;
    double best = kGrabDistance;
    for (size_t i = 0; i < walls.size(); ++i) {
        const double d = SegmentDistance(event.canvas, ToCanvas(g, End(walls[i], 0)),
                                         ToCanvas(g, End(walls[i], 1)));
        if (d <= best) {
            best = d;
            nearest = i;
        }
    }
    if (nearest) {
        m_selected = nearest;
        m_owner.SetMaterial(walls[*nearest].material);
        return;
    }
    m_selected.reset();
    m_first = Placed(event, std::nullopt);
    m_cursor = *m_first;
}

void WallTool::Move(const ToolEvent& event, bool leftDown) {
    if (m_dragWall && *m_dragWall >= m_owner.EditedWalls().size()) {
        m_dragWall.reset();  // the walls changed under the drag
    }
    if (m_dragWall && leftDown) {
        const sitefile::Wall& wall = m_owner.EditedWalls()[*m_dragWall];
        m_dragTo = Placed(event, End(wall, 1 - m_dragEnd));
    } else if (m_first) {
        m_cursor = Placed(event, m_first);
    }
}

void WallTool::Release(const ToolEvent&) {
    if (!m_dragWall) {
        return;
    }
    const size_t index = *m_dragWall;
    m_dragWall.reset();
    if (index >= m_owner.EditedWalls().size()) {
        return;
    }
    sitefile::Wall wall = m_owner.EditedWalls()[index];
    if (End(wall, m_dragEnd) == m_dragTo) {
        // A click on an end, not a drag: a new wall begins there (a corner).
        m_first = m_dragTo;
        m_cursor = m_dragTo;
        m_selected.reset();
        return;
    }
    (m_dragEnd == 0 ? wall.x1 : wall.x2) = m_dragTo.x();
    (m_dragEnd == 0 ? wall.y1 : wall.y2) = m_dragTo.y();
    std::string error;
    if (!m_owner.ChangeWall(index, wall, error)) {
        SitePrepTools::Refused("The wall was not moved: " + error + ".");
    }
}

bool WallTool::Key(int key) {
    if (key == Qt::Key_Escape && (m_first || m_selected)) {
        m_first.reset();
        m_selected.reset();
        return true;
    }
    if ((key == Qt::Key_Delete || key == Qt::Key_Backspace) && m_selected) {
        const size_t index = *m_selected;
        m_selected.reset();
        std::string error;
        if (!m_owner.DeleteWall(index, error)) {
            SitePrepTools::Refused("The wall was not removed: " + error + ".");
        }
        return true;
    }
    return false;
}

void WallTool::Draw(QPainter& painter, const workspace::CanvasGeometry& g) const {
    const std::vector<sitefile::Wall>& walls = m_owner.EditedWalls();
    if (m_selected && *m_selected < walls.size()) {
        sitefile::Wall wall = walls[*m_selected];
        if (m_dragWall) {
            (m_dragEnd == 0 ? wall.x1 : wall.x2) = m_dragTo.x();
            (m_dragEnd == 0 ? wall.y1 : wall.y2) = m_dragTo.y();
        }
        const QPointF a = ToCanvas(g, End(wall, 0));
        const QPointF b = ToCanvas(g, End(wall, 1));
        painter.setPen(QPen(QColor(255, 200, 0, 160), 10, Qt::SolidLine, Qt::RoundCap));
        painter.drawLine(a, b);
        painter.setPen(QPen(picture::MaterialColour(wall.material), 3));
        painter.drawLine(a, b);
        painter.setPen(QPen(Qt::black, 1));
        painter.setBrush(Qt::white);
        painter.drawRect(QRectF(a - QPointF(5, 5), QSizeF(10, 10)));
        painter.drawRect(QRectF(b - QPointF(5, 5), QSizeF(10, 10)));
        const double length = std::hypot(wall.x2 - wall.x1, wall.y2 - wall.y1);
        Tag(painter, (a + b) / 2,
            QStringLiteral("%1, %2").arg(
                LengthText(length, m_owner.Meta()),
                QString::fromLatin1(sitefile::InfoOf(wall.material).name)));
    }
    if (m_first) {
        const QPointF a = ToCanvas(g, *m_first);
        const QPointF b = ToCanvas(g, m_cursor);
        RubberBand(painter, a, b, picture::MaterialColour(m_owner.CurrentMaterial()));
        Tag(painter, b,
            LengthText(std::hypot(m_cursor.x() - m_first->x(), m_cursor.y() - m_first->y()),
                       m_owner.Meta()));
    }
}

// ---- access points --------------------------------------------------------

QString AccessPointTool::Hint() const {
    return QObject::tr(
        "Access points: click where one hangs and choose it; drag a placed one "
        "to move it; Delete unplaces the one selected");
}

void AccessPointTool::Reset() {
    m_selected.reset();
    m_dragging = false;
}

void AccessPointTool::Press(const ToolEvent& event) {
    if (const sitefile::PlacedAccessPoint* ap = PlacedNear(m_owner, event.canvas)) {
        m_selected = ap->bssid;
        m_dragging = true;
        m_dragTo = QPointF(ap->x, ap->y);
        return;
    }
    m_selected.reset();
    if (const EstimatedAp* estimate = m_owner.EstimateAt(event.canvas)) {
        const EstimatedAp here = *estimate;
        if (m_owner.askPlaceHere(&m_owner.Canvas(), event.canvas, here)) {
            std::string error;
            if (!m_owner.PlaceAccessPoint(here.bssid, QPointF(here.x, here.y), here.label, error)) {
                SitePrepTools::Refused("The access point was not placed: " + error + ".");
            }
            m_selected = here.bssid;
        }
        return;
    }
    const std::optional<sitefile::MacBytes> chosen =
        m_owner.askBssid(&m_owner.Canvas(), event.canvas, SitePrepTools::HeardBssids(event.map));
    if (!chosen) {
        return;
    }
    std::string label;
    for (const HeardBssid& heard : SitePrepTools::HeardBssids(event.map)) {
        if (heard.bssid == *chosen) {
            label = heard.ssid;
        }
    }
    std::string error;
    if (!m_owner.PlaceAccessPoint(*chosen, event.map, label, error)) {
        SitePrepTools::Refused("The access point was not placed: " + error + ".");
        return;
    }
    m_selected = chosen;
}

void AccessPointTool::Move(const ToolEvent& event, bool leftDown) {
    if (m_dragging && leftDown) {
        const workspace::CanvasGeometry& g = m_owner.Geometry();
        m_dragTo = QPointF(std::clamp(event.map.x(), 0.0, static_cast<double>(g.MapWidth())),
                           std::clamp(event.map.y(), 0.0, static_cast<double>(g.MapHeight())));
    }
}

void AccessPointTool::Release(const ToolEvent&) {
    if (!m_dragging || !m_selected) {
        return;
    }
    m_dragging = false;
    const sitefile::PlacedAccessPoint* ap = m_owner.Meta().PlacedAt(*m_selected);
    if (ap == nullptr || QPointF(ap->x, ap->y) == m_dragTo) {
        return;
    }
    std::string error;
    if (!m_owner.PlaceAccessPoint(*m_selected, m_dragTo, std::string(), error)) {
        SitePrepTools::Refused("The access point was not moved: " + error + ".");
    }
}

bool AccessPointTool::Key(int key) {
    if (key == Qt::Key_Escape && m_selected) {
        Reset();
        return true;
    }
    if ((key == Qt::Key_Delete || key == Qt::Key_Backspace) && m_selected) {
        const sitefile::MacBytes bssid = *m_selected;
        Reset();
        std::string error;
        if (!m_owner.UnplaceAccessPoint(bssid, error)) {
            SitePrepTools::Refused("The access point was not unplaced: " + error + ".");
        }
        return true;
    }
    return false;
}

void AccessPointTool::Draw(QPainter& painter, const workspace::CanvasGeometry& g) const {
    if (!m_selected) {
        return;
    }
    const sitefile::PlacedAccessPoint* ap = m_owner.Meta().PlacedAt(*m_selected);
    if (ap == nullptr) {
        return;
    }
    const QPointF at = ToCanvas(g, m_dragging ? m_dragTo : QPointF(ap->x, ap->y));
    painter.setPen(QPen(QColor(255, 200, 0), 3));
    painter.setBrush(Qt::NoBrush);
    painter.drawEllipse(at, 15, 15);
}

}  // namespace sitetools
