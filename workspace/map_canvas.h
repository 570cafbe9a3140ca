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
    // Draws over the plan, under the points (the walls, the access points).
    std::function<void(QPainter& painter, QSize size)> drawOverPlan;

    // The same as a person's click or hold at canvas pixel `at`; false when
    // it lies beside the plan.
    bool Tap(QPoint at);
    bool Hold(QPoint at);

    // The selected point (drawn ringed), none when null.
    void SetSelection(std::optional<QPoint> mapPoint);
    // The point being swept (drawn as a pulsing ring), none when null.
    void SetSweeping(std::optional<QPoint> mapPoint);
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
    void keyPressEvent(QKeyEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void timerEvent(QTimerEvent* event) override;

  private:
    void DrawPlan(QPainter& painter);
    void DrawPoints(QPainter& painter, QSize size);
    void DrawLegend(QPainter& painter, QSize size);
    void DrawStatusLine(QPainter& painter, QSize size);
    void ReportCursor(QPoint at);

    CKestrowView& m_core;
    CanvasGeometry m_geometry;
    std::optional<QPoint> m_selection;
    std::optional<QPoint> m_sweeping;
    int m_sweepPhase = 0;
    QBasicTimer m_sweepTimer;
    QString m_legendTitle;
    std::vector<LegendRow> m_legend;

    // Mouse state: a press that may become a click or a hold, or a pan.
    QBasicTimer m_holdTimer;
    QPoint m_pressPoint;
    bool m_pressPending = false;
    bool m_panning = false;
    QPointF m_panFrom;
    bool m_spaceHeld = false;
    int m_wheelRemainder = 0;  // eighths of a degree not yet a whole step
};

}  // namespace workspace
