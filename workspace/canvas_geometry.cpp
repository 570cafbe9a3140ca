#include "workspace/canvas_geometry.h"

#include <algorithm>
#include <cmath>

namespace workspace {

void CanvasGeometry::SetCanvasSize(int width, int height) {
    width = std::max(width, 1);
    height = std::max(height, 1);
    if (width == m_canvasWidth && height == m_canvasHeight) {
        return;
    }
    const double centreX = CanvasToMapX(m_canvasWidth / 2.0);
    const double centreY = CanvasToMapY(m_canvasHeight / 2.0);
    m_canvasWidth = width;
    m_canvasHeight = height;
    if (m_fitted) {
        Fit();
    } else {
        CenterOn(centreX, centreY);
    }
}

void CanvasGeometry::SetMapSize(int width, int height) {
    m_mapWidth = std::max(width, 0);
    m_mapHeight = std::max(height, 0);
    Fit();
}

double CanvasGeometry::FitScale() const {
    if (!HasMap()) {
        return 1;
    }
    return std::min(static_cast<double>(m_canvasWidth) / m_mapWidth,
                    static_cast<double>(m_canvasHeight) / m_mapHeight);
}

void CanvasGeometry::Fit() {
    m_fitted = true;
    if (!HasMap()) {
        m_scale = 1;
        m_x0 = 0;
        m_y0 = 0;
        return;
    }
    m_scale = FitScale();
    m_x0 = (m_canvasWidth - m_mapWidth * m_scale) / 2;
    m_y0 = (m_canvasHeight - m_mapHeight * m_scale) / 2;
}

void CanvasGeometry::ZoomAt(double x, double y, int steps) {
    if (!HasMap() || steps == 0) {
        return;
    }
    const double minScale = FitScale() / 4;
    const double maxScale = std::max(kMaxScale, FitScale());
    const double wanted = m_scale * std::pow(kWheelStep, steps);
    const double scale = std::clamp(wanted, minScale, maxScale);
    if (scale == m_scale) {
        return;
    }
    // The map point under (x, y) before is under it after.
    const double mapX = CanvasToMapX(x);
    const double mapY = CanvasToMapY(y);
    m_scale = scale;
    m_x0 = x - mapX * m_scale;
    m_y0 = y - mapY * m_scale;
    m_fitted = false;
    KeepInView();
}

void CanvasGeometry::Pan(double dx, double dy) {
    if (!HasMap()) {
        return;
    }
    m_x0 += dx;
    m_y0 += dy;
    m_fitted = false;
    KeepInView();
}

void CanvasGeometry::CenterOn(double x, double y) {
    if (!HasMap()) {
        return;
    }
    m_x0 = m_canvasWidth / 2.0 - x * m_scale;
    m_y0 = m_canvasHeight / 2.0 - y * m_scale;
    m_fitted = false;
    KeepInView();
}

// At least a quarter of the canvas (or the whole plan, where it is smaller)
// stays covered by the plan on each axis: the plan cannot be lost off-screen.
void CanvasGeometry::KeepInView() {
    const double width = m_mapWidth * m_scale;
    const double height = m_mapHeight * m_scale;
    const double keepX = std::min(m_canvasWidth / 4.0, width);
    const double keepY = std::min(m_canvasHeight / 4.0, height);
    m_x0 = std::clamp(m_x0, keepX - width, m_canvasWidth - keepX);
    m_y0 = std::clamp(m_y0, keepY - height, m_canvasHeight - keepY);
}

bool CanvasGeometry::CanvasToMap(int x, int y, int32_t& mapX, int32_t& mapY) const {
    if (!HasMap()) {
        return false;
    }
    const double fx = std::floor(CanvasToMapX(x + 0.5));
    const double fy = std::floor(CanvasToMapY(y + 0.5));
    if (fx < 0 || fy < 0 || fx >= m_mapWidth || fy >= m_mapHeight) {
        return false;
    }
    mapX = static_cast<int32_t>(fx);
    mapY = static_cast<int32_t>(fy);
    return true;
}

MapRectF CanvasGeometry::VisibleMapRect() const {
    MapRectF r;
    if (!HasMap()) {
        return r;
    }
    r.left = std::max(0.0, CanvasToMapX(0));
    r.top = std::max(0.0, CanvasToMapY(0));
    r.right = std::min<double>(m_mapWidth, CanvasToMapX(m_canvasWidth));
    r.bottom = std::min<double>(m_mapHeight, CanvasToMapY(m_canvasHeight));
    return r;
}

}  // namespace workspace
