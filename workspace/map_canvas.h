// The workspace's map canvas: the open site's plan (with the coverage
// overlay the view computes) at any zoom, the survey points as circles with
// their numbers beside them, the overlay's legend, and the mouse: the wheel
// zooms about the cursor, the middle button (or the left with Space held)
// pans, a click takes a point at the map pixel under the cursor, a
// right-click or a held press opens the point under it.
#pragma once

#include <QBasicTimer>
#include <QImage>
#include <QPoint>
#include <QWidget>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "workspace/canvas_geometry.h"

class CKestrowView;

namespace workspace {

// One survey point as the canvas draws it.
struct PointMark {
    int32_t x = 0;
    int32_t y = 0;
    int16_t strongest = 0;  // dBm; -120 where nothing was heard
    std::string label;      // drawn beside the circle
};

// The survey points of g_surveyList, in list order: the point's name where
// it is a number, else its place in the list from 1.
std::vector<PointMark> SurveyPointMarks();

class MapCanvas : public QWidget {
    Q_OBJECT
  public:
    // Circles are drawn this many canvas pixels across whatever the zoom.
    static constexpr int kCircleDiameter = 14;
    // Above this many points in view their numbers are left out: they
    // would only cover each other.
    static constexpr int kMaxLabels = 400;

    explicit MapCanvas(CKestrowView& core, QWidget* parent = nullptr);

    CanvasGeometry& Geometry() { return m_geometry; }
    const CanvasGeometry& Geometry() const { return m_geometry; }
    // A newly opened site: the whole plan in view.
    void MapOpened();
    void FitToWindow();
    void ZoomAt(QPointF at, int steps);
    void Pan(QPointF by);

    // What a click, a hold and the cursor do. A click or hold beside the
    // plan calls nothing.
    std::function<void(int32_t mapX, int32_t mapY)> onTap;
    std::function<void(int32_t mapX, int32_t mapY, QPoint canvas)> onHold;
    std::function<void(std::optional<QPointF> mapPoint)> onCursor;
    std::function<void()> onEscape;
    // A click on a circle selects its point instead of taking a new one;
    // with onMove set, a circle dragged elsewhere on the plan moves there.
    std::function<void(int32_t mapX, int32_t mapY)> onSelect;
    std::function<void(int32_t fromX, int32_t fromY, int32_t toX, int32_t toY)> onMove;

    // The point whose circle covers canvas pixel `at`, if any.
    std::optional<PointMark> MarkAt(QPoint at) const;
    // A double-click on the plan (its first click came as onTap).
    std::function<void(int32_t mapX, int32_t mapY)> onDoubleTap;
    // Draws over the plan, under the points (the walls, the access points).
    std::function<void(QPainter& painter, QSize size)> drawOverPlan;

    // The same as a person's click or hold at canvas pixel `at`; false when
    // it lies beside the plan.
    bool Tap(QPoint at);
    bool Hold(QPoint at);

    // The survey was changed other than through the view's own commits and
    // deletions: its points are read again at the next paint.
    void SurveyChanged();

    // The selected point (drawn ringed), none when null.
    void SetSelection(std::optional<QPoint> mapPoint);
    // The point being swept (drawn as a pulsing ring), none when null.
    void SetSweeping(std::optional<QPoint> mapPoint);
    // A walk's path (map pixels), drawn under the points, and a dashed line
    // on from its last corner to `pointer`; none when empty.
    void SetWalkPath(std::vector<QPointF> corners, std::optional<QPointF> pointer);
    // The overlay's legend: its title (with the unit) and one colour and
    // label a row; none when empty.
    struct LegendRow {
        uint32_t rgb;
        QString label;
    };
    void SetLegend(QString title, std::vector<LegendRow> rows);

    // Draws the canvas as it is now onto `painter` (the widget's paint and
    // the script's screenshot).
    void Draw(QPainter& painter, QSize size);
    QImage Render();

  protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void timerEvent(QTimerEvent* event) override;

  private:
    void DrawPlan(QPainter& painter);
    void DrawPoints(QPainter& painter, QSize size);
    void DrawMarks(QPainter& painter);
    void DrawWalk(QPainter& painter);
    void DrawLegend(QPainter& painter, QSize size);
    void DrawStatusLine(QPainter& painter, QSize size);
    void ReportCursor(QPoint at);
    QRect SweepArea() const;

    // The survey's points, read again only when the survey changed.
    const std::vector<PointMark>& Marks();
    const QImage& CircleSprite(int16_t rssi);
    const QImage& LabelSprite(const std::string& label);

    CKestrowView& m_core;
    CanvasGeometry m_geometry;
    std::vector<PointMark> m_marks;
    uint64_t m_marksGeneration = 0;  // the view's map generation they were read at
    uint64_t m_marksVersion = 0;     // counts the readings
    bool m_marksRead = false;
    // The plan and points as drawn at one geometry, copied whole while the
    // view stands still; any change draws afresh.
    struct FrameKey {
        uint64_t mapGeneration = 0;
        uint64_t marksVersion = 0;
        double scale = 0;
        double x0 = 0;
        double y0 = 0;
        QSize size;
        bool operator==(const FrameKey& o) const {
            return mapGeneration == o.mapGeneration && marksVersion == o.marksVersion &&
                   scale == o.scale && x0 == o.x0 && y0 == o.y0 && size == o.size;
        }
    };
    QImage m_frame;
    std::optional<FrameKey> m_frameKey;  // what m_frame holds
    std::optional<FrameKey> m_lastKey;   // the geometry of the last paint
    void DrawPlanAndPoints(QPainter& painter, QSize size);
    std::vector<QImage> m_circleSprites;  // one a colour band
    std::unordered_map<std::string, QImage> m_labelSprites;
    std::optional<QPoint> m_selection;
    std::optional<QPoint> m_sweeping;
    std::vector<QPointF> m_walkPath;
    std::optional<QPointF> m_walkPointer;
    int m_sweepPhase = 0;
    QBasicTimer m_sweepTimer;
    QString m_legendTitle;
    std::vector<LegendRow> m_legend;

    // Mouse state: a press that may become a click or a hold, or a pan.
    QBasicTimer m_holdTimer;
    QPoint m_pressPoint;
    bool m_pressPending = false;
    std::optional<PointMark> m_pressMark;  // the circle pressed on
    bool m_dragging = false;
    QPoint m_dragTo;
    bool m_panning = false;
    QPointF m_panFrom;
    bool m_spaceHeld = false;
    int m_wheelRemainder = 0;  // eighths of a degree not yet a whole step
};

}  // namespace workspace
