// Geometry of the site-map display: the map bounds, the visible extent (in map
// pixels) stretched over the whole client area, its centre (the survey cursor)
// and the last press converted to map pixels. Plain integer arithmetic:
// signed 32-bit values, truncating division, products formed before divisions.
#pragma once

#include <cstdint>

struct Rect {
    int32_t left;
    int32_t top;
    int32_t right;
    int32_t bottom;

    int32_t Width() const { return right - left; }
    int32_t Height() const { return bottom - top; }
    bool operator==(const Rect& o) const {
        return left == o.left && top == o.top && right == o.right && bottom == o.bottom;
    }
    bool operator!=(const Rect& o) const { return !(*this == o); }
};

// The box (x - radius, y - radius, x + radius, y + radius) of a circle, formed
// in 64 bits and clamped to the 32-bit range: a point near the limits of its
// coordinates gets a box cut at the limit, never one that wraps round.
Rect CircleBox(int32_t x, int32_t y, int32_t radius);

class CViewport {
  public:
    static constexpr int kMaxMargins = 4;

    CViewport() = default;
    virtual ~CViewport() = default;

    // (0, 0, map width, map height) when a site is opened.
    void SetMapBounds(int32_t left, int32_t top, int32_t right, int32_t bottom);
    void SetVisibleRect(int32_t left, int32_t top, int32_t right, int32_t bottom);

    // Halves the extent about the centre. Returns false, changing nothing, when
    // the extent would become less than one pixel wide or high.
    bool ZoomIn();
    // Doubles the extent about the centre, clamped to the map, then re-centres.
    void ZoomOut();

    void ScrollLeft(int32_t distance);
    void ScrollRight(int32_t distance);
    void ScrollUp(int32_t distance);
    void ScrollDown(int32_t distance);
    void SetCenterX(int32_t x);
    void SetCenterY(int32_t y);
    int32_t GetCenterX() const { return m_centerX; }
    int32_t GetCenterY() const { return m_centerY; }

    // Centres the view on the map position under a client point, kept on the
    // map's last column and row at most.
    void CenterOnClientPoint(const Rect& client, int32_t x, int32_t y);
    // Converts a client point to map pixels and records it as the last press.
    void ClientToMap(const Rect& client, int32_t x, int32_t y, int32_t& mapX, int32_t& mapY);

    Rect GetCenterCircleRect() const;  // radius 10 about the centre
    Rect GetTapCircleRect() const;     // radius 15 about the last press

    // dest: in, the client rectangle; out, where the source lands. source: out,
    // the part of the map to copy. Refreshes the margins (the client strips the
    // map does not cover). With an empty extent nothing can be copied: dest and
    // source are left empty, the one margin is the whole client rectangle, and
    // the answer is false.
    bool ComputeBlit(Rect& dest, Rect& source);
    int GetMarginCount() const { return m_marginCount; }
    Rect GetMargin(int i) const { return m_margins[i]; }

    Rect GetVisibleRect() const { return {m_viewLeft, m_viewTop, m_viewRight, m_viewBottom}; }
    Rect GetMapBounds() const { return {m_minX, m_minY, m_maxX, m_maxY}; }
    int32_t GetTapX() const { return m_tapX; }
    int32_t GetTapY() const { return m_tapY; }

  private:
    void RebuildEdgesX();
    void RebuildEdgesY();
    void MapClientPoint(const Rect& client, int32_t x, int32_t y, int32_t& mapX,
                        int32_t& mapY) const;
    void AddMargin(int32_t left, int32_t top, int32_t right, int32_t bottom);

    int32_t m_minX = 0;
    int32_t m_maxX = 0;
    int32_t m_minY = 0;
    int32_t m_maxY = 0;
    int32_t m_viewLeft = 0;
    int32_t m_viewRight = 0;
    int32_t m_viewTop = 0;
    int32_t m_viewBottom = 0;
    int32_t m_centerX = 0;
    int32_t m_centerY = 0;
    Rect m_margins[kMaxMargins] = {};
    int32_t m_marginCount = 0;
    int32_t m_tapX = 0;
    int32_t m_tapY = 0;
};
