#include "dialogs/signature_pad.h"

#include <QMouseEvent>
#include <QPainter>

CSignaturePad::CSignaturePad(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_OpaquePaintEvent, false);
}

void CSignaturePad::TakeOver(const QRect& geometry) {
    setGeometry(geometry);
    m_surface = QImage(geometry.size(), QImage::Format_RGB32);
    m_surface.fill(Qt::white);
    m_penPosition = QPoint(0, 0);
}

void CSignaturePad::DrawLine(QPoint from, QPoint to) {
    if (m_surface.isNull()) {
        return;
    }
    QPainter painter(&m_surface);
    painter.setRenderHint(QPainter::Antialiasing, false);
    painter.setPen(QPen(Qt::black, 2, Qt::SolidLine, Qt::SquareCap, Qt::MiterJoin));
    if (from == to) {
        painter.drawPoint(to);
    } else {
        painter.drawLine(from, to);
    }
}

void CSignaturePad::StylusDown(QPoint point) {
    m_penPosition = point;
    DrawLine(point, point);
    update();
}

void CSignaturePad::StylusMove(QPoint point) {
    DrawLine(m_penPosition, point);
    m_penPosition = point;
    update();
}

void CSignaturePad::Clear() {
    m_surface.fill(Qt::white);
    update();
}

uint32_t CSignaturePad::PixelQuery(int x, int y) const {
    if (x < 0 || y < 0 || x >= m_surface.width() || y >= m_surface.height()) {
        return 0x00FFFFFF;
    }
    return (m_surface.pixel(x, y) & 0x00FFFFFF) != 0 ? 0x00FFFFFF : 0;
}

void CSignaturePad::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) {
        StylusDown(event->position().toPoint());
    }
    QWidget::mousePressEvent(event);
}

void CSignaturePad::mouseMoveEvent(QMouseEvent* event) {
    StylusMove(event->position().toPoint());
    QWidget::mouseMoveEvent(event);
}

void CSignaturePad::paintEvent(QPaintEvent*) {
    if (m_surface.isNull() || width() <= 2 || height() <= 2) {
        return;
    }
    // The outermost pixel stays the dialog's own: a 1-pixel margin.
    QPainter painter(this);
    const QRect inner(1, 1, width() - 2, height() - 2);
    painter.drawImage(inner, m_surface, inner);
}
