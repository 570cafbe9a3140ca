// The freehand sign-off pad: strokes drawn with a 2-pixel black pen on a white
// surface of the pad's client size, read back pixel by pixel by the save.
#pragma once

#include <QImage>
#include <QPoint>
#include <QWidget>
#include <cstdint>

class CSignaturePad : public QWidget {
    Q_OBJECT
  public:
    explicit CSignaturePad(QWidget* parent = nullptr);

    // Takes over the given geometry (the control it replaces) and starts a
    // white surface of that client size.
    void TakeOver(const QRect& geometry);

    // Stylus down: the pen moves here and marks the spot.
    void StylusDown(QPoint point);
    // Stylus moved: a line from the pen position to here.
    void StylusMove(QPoint point);
    // Fills the surface white.
    void Clear();

    // 0x00FFFFFF for a pixel with any red, green or blue bit set, or outside
    // the surface; 0 for black.
    uint32_t PixelQuery(int x, int y) const;

    const QImage& Surface() const { return m_surface; }

  protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

  private:
    void DrawLine(QPoint from, QPoint to);

    QImage m_surface;
    QPoint m_penPosition;
};
