// The site-preparation tools of the workspace's map canvas, one class a
// tool: each takes the left button (and a few keys) while it is the chosen
// tool, and draws what it is doing over the plan. The canvas keeps the wheel
// and panning. What a tool makes goes through SitePrepTools, which writes it
// to the sidecar.
#pragma once

#include <QPointF>
#include <QString>
#include <optional>
#include <string>

#include "sitefile/site_meta.h"

class QPainter;

namespace workspace {
class CanvasGeometry;
}

namespace sitetools {

class SitePrepTools;

// A mouse event as a tool sees it: where, in map and canvas pixels.
struct ToolEvent {
    QPointF map;
    QPointF canvas;
    Qt::KeyboardModifiers modifiers;
};

class MapTool {
  public:
    explicit MapTool(SitePrepTools& owner) : m_owner(owner) {}
    virtual ~MapTool() = default;
    MapTool(const MapTool&) = delete;
    MapTool& operator=(const MapTool&) = delete;

    // What the status bar says while the tool is chosen.
    virtual QString Hint() const = 0;
    // Drops what is half done (a first point, a drag).
    virtual void Reset() {}
    virtual void Press(const ToolEvent&) {}
    virtual void Move(const ToolEvent&, bool leftDown) { (void)leftDown; }
    virtual void Release(const ToolEvent&) {}
    // True when the key was the tool's.
    virtual bool Key(int key) {
        (void)key;
        return false;
    }
    // Draws the tool's marks (painter in canvas pixels).
    virtual void Draw(QPainter&, const workspace::CanvasGeometry&) const {}

  protected:
    SitePrepTools& m_owner;
};

// Two clicks on the plan a known distance apart, then that distance in
// metres: the map's scale.
class ScaleTool : public MapTool {
  public:
    using MapTool::MapTool;
    QString Hint() const override;
    void Reset() override;
    void Press(const ToolEvent& event) override;
    void Move(const ToolEvent& event, bool leftDown) override;
    bool Key(int key) override;
    void Draw(QPainter& painter, const workspace::CanvasGeometry& geometry) const override;

  private:
    std::optional<QPointF> m_first;
    QPointF m_cursor;
};

// Walls: a click at each end draws one in the chosen material (Shift keeps
// it level or upright; ends snap to the ends of other walls, and a click on
// an end begins the next wall there), a drag of an end moves it, a click on
// a wall selects it and Delete removes it.
class WallTool : public MapTool {
  public:
    using MapTool::MapTool;
    QString Hint() const override;
    void Reset() override;
    void Press(const ToolEvent& event) override;
    void Move(const ToolEvent& event, bool leftDown) override;
    void Release(const ToolEvent& event) override;
    bool Key(int key) override;
    void Draw(QPainter& painter, const workspace::CanvasGeometry& geometry) const override;

    std::optional<size_t> Selected() const { return m_selected; }
    void Select(std::optional<size_t> wall) { m_selected = wall; }

  private:
    // Where a new end goes: snapped to a nearby wall end, Shift's rule.
    QPointF Placed(const ToolEvent& event, std::optional<QPointF> from) const;

    std::optional<QPointF> m_first;
    QPointF m_cursor;
    std::optional<size_t> m_selected;
    // The wall whose end is being dragged, and which end (0 or 1).
    std::optional<size_t> m_dragWall;
    int m_dragEnd = 0;
    QPointF m_dragTo;
};

// Access points: a click on the plan offers the BSSIDs heard (loudest at the
// nearest survey point first) to place there; a placed one is dragged to
// move it, and Delete unplaces the one selected; a click on an estimated
// access point offers to place it where it is estimated. (A BSSID dragged from a
// list onto the plan is placed too, whatever the tool: SitePrepTools.)
class AccessPointTool : public MapTool {
  public:
    using MapTool::MapTool;
    QString Hint() const override;
    void Reset() override;
    void Press(const ToolEvent& event) override;
    void Move(const ToolEvent& event, bool leftDown) override;
    void Release(const ToolEvent& event) override;
    bool Key(int key) override;
    void Draw(QPainter& painter, const workspace::CanvasGeometry& geometry) const override;

  private:
    std::optional<sitefile::MacBytes> m_selected;
    bool m_dragging = false;
    QPointF m_dragTo;
};

// Hit distances, in canvas pixels.
constexpr double kGrabDistance = 7;
constexpr double kSnapDistance = 9;

// The distance from p to the segment from a to b.
double SegmentDistance(QPointF p, QPointF a, QPointF b);

}  // namespace sitetools
