// Where the plan lies on the workspace's map canvas: one scale (canvas pixels
// per map pixel) and the canvas position of the map's top-left corner. The
// canvas shows map pixel (i, j) over canvas [x0 + s*i, x0 + s*(i+1)) and the
// same rows, so a canvas pixel shows the map pixel its centre falls in.
#pragma once

#include <cstdint>

namespace workspace {

struct MapRectF {
    double left = 0;
    double top = 0;
    double right = 0;
    double bottom = 0;
    bool IsEmpty() const { return right <= left || bottom <= top; }
};

class CanvasGeometry {
  public:
    // One wheel step zooms by this factor.
    static constexpr double kWheelStep = 1.25;
    // The closest zoom: a map pixel this many canvas pixels wide.
    static constexpr double kMaxScale = 32.0;

    // A new canvas size keeps the map point at the canvas centre where it
    // was, or fits the plan again while it was fitted.
    void SetCanvasSize(int width, int height);
    // A newly opened plan, fitted.
    void SetMapSize(int width, int height);
    bool HasMap() const { return m_mapWidth > 0 && m_mapHeight > 0; }

    // The whole plan in the canvas, its proportions kept, centred.
    void Fit();
    bool IsFitted() const { return m_fitted; }
    // steps wheel steps about canvas point (x, y): positive zooms in. The map
    // point under (x, y) stays under it; the scale stays between a quarter
    // of the fitted scale and kMaxScale.
    void ZoomAt(double x, double y, int steps);
    // Moves the plan by (dx, dy) canvas pixels; some of it stays in view.
    void Pan(double dx, double dy);
    // Puts map point (x, y) at the canvas centre.
    void CenterOn(double x, double y);

    // The map pixel under canvas pixel (x, y); false beside the plan.
    bool CanvasToMap(int x, int y, int32_t& mapX, int32_t& mapY) const;
    // The canvas position of map point (x, y) (map pixel i's left edge is i).
    double MapToCanvasX(double x) const { return m_x0 + m_scale * x; }
    double MapToCanvasY(double y) const { return m_y0 + m_scale * y; }
    // The canvas point's map position, unrounded.
    double CanvasToMapX(double x) const { return (x - m_x0) / m_scale; }
    double CanvasToMapY(double y) const { return (y - m_y0) / m_scale; }
    // The part of the plan in view, in map pixels.
    MapRectF VisibleMapRect() const;

    double Scale() const { return m_scale; }
    double FitScale() const;
    double OriginX() const { return m_x0; }
    double OriginY() const { return m_y0; }
    int CanvasWidth() const { return m_canvasWidth; }
    int CanvasHeight() const { return m_canvasHeight; }
    int MapWidth() const { return m_mapWidth; }
    int MapHeight() const { return m_mapHeight; }

  private:
    void KeepInView();

    int m_canvasWidth = 1;
    int m_canvasHeight = 1;
    int m_mapWidth = 0;
    int m_mapHeight = 0;
    double m_scale = 1;
    double m_x0 = 0;
    double m_y0 = 0;
    bool m_fitted = true;
};

}  // namespace workspace
