#include "view/viewport.h"

#include <algorithm>
#include <limits>

namespace {

// Products and sums are formed in 64 bits so a huge map cannot overflow them;
// where the 32-bit arithmetic would not overflow the results are identical.
int32_t Saturate(int64_t v) {
    if (v > std::numeric_limits<int32_t>::max()) {
        return std::numeric_limits<int32_t>::max();
    }
    if (v < std::numeric_limits<int32_t>::min()) {
        return std::numeric_limits<int32_t>::min();
    }
    return static_cast<int32_t>(v);
}

// a * b / c, the product first, the division truncating toward zero.
int64_t MulDiv(int64_t a, int64_t b, int64_t c) {
    return a * b / c;
}

}  // namespace

void CViewport::SetMapBounds(int32_t left, int32_t top, int32_t right, int32_t bottom) {
    m_minX = left;
    m_maxX = Saturate(int64_t{right} - left);
    m_minY = top;
    m_maxY = Saturate(int64_t{bottom} - top);
}

void CViewport::SetVisibleRect(int32_t left, int32_t top, int32_t right, int32_t bottom) {
    m_viewLeft = left;
    m_viewRight = Saturate(int64_t{right} - left);
    m_viewTop = top;
    m_viewBottom = Saturate(int64_t{bottom} - top);
    m_centerX = right / 2;
    m_centerY = bottom / 2;
}

bool CViewport::ZoomIn() {
    const int32_t left = Saturate((int64_t{m_viewLeft} + m_centerX) / 2);
    const int32_t right = Saturate((int64_t{m_centerX} + m_viewRight) / 2);
    const int32_t top = Saturate((int64_t{m_viewTop} + m_centerY) / 2);
    const int32_t bottom = Saturate((int64_t{m_centerY} + m_viewBottom) / 2);
    // Every later division is by the extent: never let it shrink below a pixel.
    if (int64_t{right} - left < 1 || int64_t{bottom} - top < 1) {
        return false;
    }
    m_viewLeft = left;
    m_viewRight = right;
    m_viewTop = top;
    m_viewBottom = bottom;
    return true;
}

void CViewport::ZoomOut() {
    // All four edges move away from the centre as it was on entry.
    int64_t left = 2 * int64_t{m_viewLeft} - m_centerX;
    if (left < m_minX) {
        left = m_minX;
    }
    int64_t right = 2 * int64_t{m_viewRight} - m_centerX;
    if (right > m_maxX) {
        right = m_maxX;
    }
    int64_t top = 2 * int64_t{m_viewTop} - m_centerY;
    if (top < m_minY) {
        top = m_minY;
    }
    int64_t bottom = 2 * int64_t{m_viewBottom} - m_centerY;
    if (bottom > m_maxY) {
        bottom = m_maxY;
    }
    m_viewLeft = Saturate(left);
    m_viewRight = Saturate(right);
    m_viewTop = Saturate(top);
    m_viewBottom = Saturate(bottom);
    m_centerX = Saturate((int64_t{m_viewLeft} + m_viewRight) / 2);
    m_centerY = Saturate((int64_t{m_viewTop} + m_viewBottom) / 2);
}

namespace {

// The extent keeps its half-width about the new centre; an odd width loses a
// pixel. A 1-pixel extent (the deepest zoom) stays 1 pixel: at 0 it could
// neither be drawn nor zoomed out of again.
void RebuildEdges(int32_t center, int32_t& low, int32_t& high) {
    const int64_t extent = int64_t{high} - low;
    const int64_t half = extent / 2;
    low = Saturate(center - half);
    high = Saturate(center + (extent == 1 ? 1 : half));
}

}  // namespace

void CViewport::RebuildEdgesX() {
    RebuildEdges(m_centerX, m_viewLeft, m_viewRight);
}

void CViewport::RebuildEdgesY() {
    RebuildEdges(m_centerY, m_viewTop, m_viewBottom);
}

void CViewport::ScrollLeft(int32_t distance) {
    int64_t x = int64_t{m_centerX} - distance;
    if (x < m_minX) {
        x = m_minX;
    }
    m_centerX = Saturate(x);
    RebuildEdgesX();
}

void CViewport::ScrollRight(int32_t distance) {
    int64_t x = int64_t{m_centerX} + distance;
    if (x > m_maxX) {
        x = m_maxX;
    }
    m_centerX = Saturate(x);
    RebuildEdgesX();
}

void CViewport::ScrollUp(int32_t distance) {
    int64_t y = int64_t{m_centerY} - distance;
    if (y < m_minY) {
        y = m_minY;
    }
    m_centerY = Saturate(y);
    RebuildEdgesY();
}

void CViewport::ScrollDown(int32_t distance) {
    int64_t y = int64_t{m_centerY} + distance;
    if (y > m_maxY) {
        y = m_maxY;
    }
    m_centerY = Saturate(y);
    RebuildEdgesY();
}

void CViewport::SetCenterX(int32_t x) {
    if (x > m_maxX) {
        x = m_maxX;
    }
    if (x < 0) {
        x = 0;
    }
    m_centerX = x;
    RebuildEdgesX();
}

void CViewport::SetCenterY(int32_t y) {
    if (y > m_maxY) {
        y = m_maxY;
    }
    if (y < 0) {
        y = 0;
    }
    m_centerY = y;
    RebuildEdgesY();
}

// A client area with no width or height (never the case while the view is
// shown) maps every point to the extent's left or top edge.
void CViewport::MapClientPoint(const Rect& client, int32_t x, int32_t y, int32_t& mapX,
                               int32_t& mapY) const {
    const int64_t w = int64_t{client.right} - client.left;
    const int64_t h = int64_t{client.bottom} - client.top;
    const int64_t ew = int64_t{m_viewRight} - m_viewLeft;
    const int64_t eh = int64_t{m_viewBottom} - m_viewTop;
    mapX = Saturate(m_viewLeft + (w > 0 ? MulDiv(ew, x, w) : 0));
    mapY = Saturate(m_viewTop + (h > 0 ? MulDiv(eh, y, h) : 0));
}

void CViewport::CenterOnClientPoint(const Rect& client, int32_t x, int32_t y) {
    int32_t mapX = 0;
    int32_t mapY = 0;
    MapClientPoint(client, x, y, mapX, mapY);
    // A tap is surveyed where it centres the view: a tap beyond the map's
    // right or bottom edge centres on the last pixel, not one past it.
    SetCenterX(Saturate(std::min<int64_t>(mapX, int64_t{m_maxX} - 1)));
    SetCenterY(Saturate(std::min<int64_t>(mapY, int64_t{m_maxY} - 1)));
}

void CViewport::ClientToMap(const Rect& client, int32_t x, int32_t y, int32_t& mapX,
                            int32_t& mapY) {
    MapClientPoint(client, x, y, mapX, mapY);
    m_tapX = mapX;
    m_tapY = mapY;
}

Rect CircleBox(int32_t x, int32_t y, int32_t radius) {
    return {Saturate(int64_t{x} - radius), Saturate(int64_t{y} - radius),
            Saturate(int64_t{x} + radius), Saturate(int64_t{y} + radius)};
}

Rect CViewport::GetCenterCircleRect() const {
    return CircleBox(m_centerX, m_centerY, 10);
}

Rect CViewport::GetTapCircleRect() const {
    return CircleBox(m_tapX, m_tapY, 15);
}

void CViewport::AddMargin(int32_t left, int32_t top, int32_t right, int32_t bottom) {
    if (m_marginCount < kMaxMargins) {
        m_margins[m_marginCount++] = {left, top, right, bottom};
    }
}

bool CViewport::ComputeBlit(Rect& dest, Rect& source) {
    const Rect client = dest;
    const int64_t w = int64_t{client.right} - client.left;
    const int64_t h = int64_t{client.bottom} - client.top;
    const int64_t ew = int64_t{m_viewRight} - m_viewLeft;
    const int64_t eh = int64_t{m_viewBottom} - m_viewTop;

    m_marginCount = 0;
    if (ew <= 0 || eh <= 0) {
        // No map (or no extent): nothing to copy, the whole client is margin.
        dest = {client.left, client.top, client.left, client.top};
        source = {0, 0, 0, 0};
        AddMargin(client.left, client.top, client.right, client.bottom);
        return false;
    }

    // Each step sees the edges the earlier ones moved.
    if (m_viewLeft <= 0) {
        dest.left = Saturate(client.left - MulDiv(w, m_viewLeft, ew));
    }
    if (m_viewTop <= 0) {
        dest.top = Saturate(client.top - MulDiv(h, m_viewTop, eh));
    }
    if (m_viewRight > m_maxX) {
        dest.right = Saturate(client.right - MulDiv(int64_t{m_viewRight} - m_maxX,
                                                    int64_t{client.right} - dest.left, ew));
    }
    if (m_viewBottom > m_maxY) {
        dest.bottom = Saturate(client.bottom - MulDiv(int64_t{m_viewBottom} - m_maxY,
                                                      int64_t{client.bottom} - dest.top, eh));
    }

    source.left = m_viewLeft < 0 ? 0 : m_viewLeft;
    source.top = m_viewTop < 0 ? 0 : m_viewTop;
    source.right = m_viewRight < m_maxX ? m_viewRight : m_maxX;
    source.bottom = m_viewBottom < m_maxY ? m_viewBottom : m_maxY;

    // The left and top tests include 0, so an edge exactly on the map border
    // still gives a strip, of zero width or height.
    const int32_t width = Saturate(w);
    const int32_t height = Saturate(h);
    if (m_viewLeft <= 0) {
        AddMargin(0, 0, dest.left, height);
    }
    if (m_viewTop <= 0) {
        AddMargin(0, 0, width, dest.top);
    }
    if (m_viewRight > m_maxX) {
        AddMargin(dest.right, 0, client.right, height);
    }
    if (m_viewBottom > m_maxY) {
        AddMargin(0, dest.bottom, width, client.bottom);
    }
    return true;
}
