// Draws Kestrow's own bitmaps, icons and sounds. Not run by the build: run it
// by hand after changing the art and commit what it writes.
//
//   QT_QPA_PLATFORM=offscreen kestrow_resgen <res folder>
#include <QColor>
#include <QConicalGradient>
#include <QFile>
#include <QFont>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <QString>
#include <QtMath>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <vector>

namespace {

QString g_out;

bool Save(const QImage& image, const QString& name) {
    const QString path = g_out + "/" + name;
    if (!image.save(path, "PNG")) {
        std::fprintf(stderr, "kestrow_resgen: cannot write %s\n", qPrintable(path));
        return false;
    }
    std::printf("%s\n", qPrintable(path));
    return true;
}

QFont Sans(int pixelSize, bool bold = false) {
    QFont f("Liberation Sans");
    f.setPixelSize(pixelSize);
    f.setBold(bold);
    return f;
}

// A hovering kestrel seen from below: long pointed wings held level and
// swept back at the tips, small head, a long tail fanned at its end.
QPainterPath Kestrel(QPointF c, qreal s) {
    QPainterPath p;
    auto at = [&](qreal x, qreal y) { return QPointF(c.x() + x * s, c.y() + y * s); };
    p.moveTo(at(0, -9));                                 // head
    p.cubicTo(at(2.5, -9), at(3.5, -6.5), at(3.5, -4));  // right cheek
    p.cubicTo(at(14, -9), at(30, -10), at(44, -2));      // right wing leading edge
    p.cubicTo(at(34, -1), at(20, 1), at(4, 4));          // right wing trailing edge
    p.cubicTo(at(4, 10), at(5, 16), at(7, 22));          // right side of the tail
    p.cubicTo(at(3, 24), at(-3, 24), at(-7, 22));        // tail fan
    p.cubicTo(at(-5, 16), at(-4, 10), at(-4, 4));        // left side of the tail
    p.cubicTo(at(-20, 1), at(-34, -1), at(-44, -2));     // left wing trailing edge
    p.cubicTo(at(-30, -10), at(-14, -9), at(-3.5, -4));  // left wing leading edge
    p.cubicTo(at(-3.5, -6.5), at(-2.5, -9), at(0, -9));  // left cheek
    p.closeSubpath();
    return p;
}

void StartScreen() {
    QImage img(240, 290, QImage::Format_RGB32);
    img.fill(Qt::white);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);

    // Sky panel with the bird, its radio waves and the name.
    QLinearGradient sky(0, 0, 0, 172);
    sky.setColorAt(0, QColor(12, 38, 92));
    sky.setColorAt(1, QColor(70, 140, 200));
    p.fillRect(0, 0, 240, 172, sky);

    p.setPen(QPen(QColor(255, 255, 255, 90), 2));
    p.setBrush(Qt::NoBrush);
    const QPointF bird(120, 58);
    for (int r = 34; r <= 82; r += 16) {
        p.drawArc(QRectF(bird.x() - r, bird.y() - r, 2 * r, 2 * r), 20 * 16, 50 * 16);
        p.drawArc(QRectF(bird.x() - r, bird.y() - r, 2 * r, 2 * r), 110 * 16, 50 * 16);
    }
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(176, 92, 40));
    p.drawPath(Kestrel(bird, 1.3));
    p.setBrush(QColor(40, 24, 16));
    p.drawEllipse(QPointF(bird.x(), bird.y() - 7.5 * 1.3), 1.8, 1.8);

    p.setPen(Qt::white);
    p.setFont(Sans(38, true));
    p.drawText(QRect(0, 96, 240, 44), Qt::AlignCenter, "Kestrow");
    p.setFont(Sans(13));
    p.setPen(QColor(220, 235, 250));
    p.drawText(QRect(0, 140, 240, 20), Qt::AlignCenter, "Wireless Site Survey");

    // A thin rule, then the white band that carries the firmware and serial
    // labels: it stays plain white for every client height the view stretches to.
    p.setRenderHint(QPainter::Antialiasing, false);
    p.fillRect(0, 172, 240, 3, QColor(232, 160, 32));

    // Below: a floor plan with a few survey points in the band colours.
    const QColor wall(150, 150, 160);
    p.setPen(QPen(wall, 2));
    p.setBrush(Qt::NoBrush);
    p.drawRect(20, 226, 200, 50);
    p.drawLine(90, 226, 90, 256);
    p.drawLine(150, 246, 150, 276);
    p.drawLine(20, 251, 60, 251);
    p.setRenderHint(QPainter::Antialiasing);
    const QColor dots[] = {QColor(255, 0, 0), QColor(255, 128, 0), QColor(255, 255, 0),
                           QColor(0, 255, 0), QColor(0, 0, 255)};
    const QPoint where[] = {{45, 238}, {120, 240}, {185, 262}, {70, 265}, {200, 236}};
    for (int i = 0; i < 5; ++i) {
        p.setPen(QPen(dots[i].darker(130), 1));
        p.setBrush(dots[i]);
        p.drawEllipse(where[i], 5, 5);
    }
    p.setPen(QColor(90, 90, 100));
    p.setFont(Sans(11));
    p.drawText(QRect(0, 277, 240, 13), Qt::AlignCenter, "Open a site file to begin");
    p.end();
    Save(img, "bitmaps/136_start.png");
}

// The survey cursor: a thick black ring with four ticks pointing at the centre.
void TargetMark() {
    QImage img(32, 32, QImage::Format_RGB32);
    img.fill(Qt::white);
    for (int y = 0; y < 32; ++y) {
        for (int x = 0; x < 32; ++x) {
            const double d = std::hypot(x - 16.0, y - 16.0);
            if (d >= 11.6 && d <= 15.2) {
                img.setPixel(x, y, qRgb(0, 0, 0));
            }
        }
    }
    for (int i = 6; i <= 10; ++i) {
        for (int w = 0; w < 2; ++w) {
            img.setPixel(15 + w, 16 - i, qRgb(0, 0, 0));
            img.setPixel(15 + w, 16 + i, qRgb(0, 0, 0));
            img.setPixel(16 - i, 15 + w, qRgb(0, 0, 0));
            img.setPixel(16 + i, 15 + w, qRgb(0, 0, 0));
        }
    }
    Save(img, "bitmaps/137_target.png");
}

// One frame of the radar display; the arm turns a quarter turn per frame.
void RadarFrame(int number, double armDegrees) {
    QImage img(104, 104, QImage::Format_RGB32);
    img.fill(Qt::black);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    const QPointF c(52, 52);
    const double r = 48;

    p.setBrush(QColor(0, 36, 12));
    p.setPen(QPen(QColor(0, 160, 60), 2));
    p.drawEllipse(c, r, r);

    // Trail behind the arm (clockwise sweep, so the trail lies anticlockwise).
    // Qt angles run anticlockwise from 3 o'clock; the arm angle is clockwise from 12.
    const double qtArm = 90.0 - armDegrees;
    QConicalGradient trail(c, qtArm);
    trail.setColorAt(0.0, QColor(40, 255, 110, 200));
    trail.setColorAt(0.18, QColor(20, 160, 60, 60));
    trail.setColorAt(0.30, QColor(0, 0, 0, 0));
    trail.setColorAt(1.0, QColor(0, 0, 0, 0));
    p.setPen(Qt::NoPen);
    p.setBrush(trail);
    p.drawPie(QRectF(c.x() - r, c.y() - r, 2 * r, 2 * r), int(qtArm * 16), int(110 * 16));

    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(QColor(0, 120, 45), 1));
    for (double rr : {16.0, 32.0}) {
        p.drawEllipse(c, rr, rr);
    }
    p.drawLine(QPointF(c.x() - r, c.y()), QPointF(c.x() + r, c.y()));
    p.drawLine(QPointF(c.x(), c.y() - r), QPointF(c.x(), c.y() + r));

    // Echoes: bright just after the arm has passed them, fading afterwards.
    struct Blip {
        double bearing, range;
    };
    const Blip blips[] = {{35, 30}, {130, 20}, {215, 38}, {300, 24}};
    for (const Blip& b : blips) {
        double behind = std::fmod(armDegrees - b.bearing + 360.0, 360.0);
        const int alpha = behind < 120 ? int(255 * (1.0 - behind / 140.0)) : 40;
        const double a = qDegreesToRadians(b.bearing);
        const QPointF pos(c.x() + b.range * std::sin(a), c.y() - b.range * std::cos(a));
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(120, 255, 150, alpha));
        p.drawEllipse(pos, 2.6, 2.6);
    }

    const double a = qDegreesToRadians(armDegrees);
    p.setPen(QPen(QColor(170, 255, 190), 2, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(c, QPointF(c.x() + r * std::sin(a), c.y() - r * std::cos(a)));
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(170, 255, 190));
    p.drawEllipse(c, 2.5, 2.5);
    p.end();
    Save(img, QString("bitmaps/%1_radar.png").arg(number));
}

void Magnifier(QPainter& p, int x0, bool plus) {
    p.setPen(QPen(QColor(90, 60, 30), 3, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(x0 + 10.5, 10.5), QPointF(x0 + 14, 14));
    p.setPen(QPen(QColor(40, 40, 40), 1.5));
    p.setBrush(QColor(215, 235, 255));
    p.drawEllipse(QPointF(x0 + 6.5, 6.5), 5, 5);
    p.setPen(QPen(Qt::black, 1.6));
    p.drawLine(QPointF(x0 + 4, 6.5), QPointF(x0 + 9, 6.5));
    if (plus) {
        p.drawLine(QPointF(x0 + 6.5, 4), QPointF(x0 + 6.5, 9));
    }
}

void Sheet(QPainter& p, QRectF r) {
    const qreal fold = 3.5;
    QPainterPath page;
    page.moveTo(r.left(), r.top());
    page.lineTo(r.right() - fold, r.top());
    page.lineTo(r.right(), r.top() + fold);
    page.lineTo(r.right(), r.bottom());
    page.lineTo(r.left(), r.bottom());
    page.closeSubpath();
    p.setPen(QPen(QColor(40, 40, 40), 1));
    p.setBrush(Qt::white);
    p.drawPath(page);
    p.drawLine(QPointF(r.right() - fold, r.top()), QPointF(r.right() - fold, r.top() + fold));
    p.drawLine(QPointF(r.right() - fold, r.top() + fold), QPointF(r.right(), r.top() + fold));
}

void Toolbar() {
    QImage img(112, 16, QImage::Format_ARGB32);
    img.fill(Qt::transparent);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);

    // 1: open, a document sheet with a few lines of text.
    Sheet(p, QRectF(2.5, 0.5, 11, 15));
    p.setPen(QPen(QColor(120, 120, 140), 1));
    for (int y = 5; y <= 12; y += 2) {
        p.drawLine(QPointF(4.5, y + 0.5), QPointF(11.5, y + 0.5));
    }

    // 2: save, a sheet and a red arrow down into a disk.
    Sheet(p, QRectF(16.5, 0.5, 7, 8));
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(40, 70, 140));
    p.drawRoundedRect(QRectF(22, 7, 9, 9), 1, 1);
    p.setBrush(QColor(210, 215, 225));
    p.drawRect(QRectF(24, 7, 5, 3));
    p.setBrush(Qt::white);
    p.drawRect(QRectF(23.5, 12, 6, 3.5));
    p.setPen(QPen(QColor(220, 20, 20), 1.6));
    p.drawLine(QPointF(25.5, 1.5), QPointF(25.5, 6.5));
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(220, 20, 20));
    p.drawPolygon(QPolygonF({QPointF(23, 5), QPointF(28, 5), QPointF(25.5, 8.5)}));

    // 3: colour ranges, a wheel of red, blue and green.
    const QRectF wheel(33.5, 1.5, 13, 13);
    const QColor thirds[] = {QColor(230, 20, 20), QColor(30, 60, 230), QColor(20, 180, 40)};
    for (int i = 0; i < 3; ++i) {
        p.setPen(Qt::NoPen);
        p.setBrush(thirds[i]);
        p.drawPie(wheel, (90 + 120 * i) * 16, 120 * 16);
    }
    p.setPen(QPen(QColor(30, 30, 30), 1));
    p.setBrush(Qt::NoBrush);
    p.drawEllipse(wheel);

    // 4 and 5: zoom in and zoom out.
    Magnifier(p, 48, true);
    Magnifier(p, 64, false);

    // 6 and 7: help in blue, about in red.
    p.setFont(Sans(16, true));
    p.setPen(QColor(20, 60, 220));
    p.drawText(QRect(80, 0, 16, 16), Qt::AlignCenter, "?");
    p.setPen(QColor(220, 20, 20));
    p.drawText(QRect(96, 0, 16, 16), Qt::AlignCenter, "?");
    p.end();
    Save(img, "bitmaps/128_toolbar.png");
}

void AppIcon(int size) {
    QImage img(size, size, QImage::Format_ARGB32);
    img.fill(Qt::transparent);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(size / 32.0, size / 32.0);
    QLinearGradient sky(0, 0, 0, 32);
    sky.setColorAt(0, QColor(20, 50, 110));
    sky.setColorAt(1, QColor(70, 140, 200));
    p.setPen(Qt::NoPen);
    p.setBrush(sky);
    p.drawRoundedRect(QRectF(0.5, 0.5, 31, 31), 5, 5);
    // Radio waves rising from a survey point.
    p.setPen(QPen(Qt::white, 3, Qt::SolidLine, Qt::RoundCap));
    p.setBrush(Qt::NoBrush);
    const QPointF origin(16, 25);
    for (int r = 7; r <= 19; r += 6) {
        p.drawArc(QRectF(origin.x() - r, origin.y() - r, 2 * r, 2 * r), 45 * 16, 90 * 16);
    }
    p.setPen(QPen(Qt::white, 1));
    p.setBrush(QColor(255, 60, 40));
    p.drawEllipse(origin, 3.5, 3.5);
    p.end();
    Save(img, QString("icons/kestrow_%1.png").arg(size));
}

// RIFF wave, PCM, mono, 8 bits unsigned, 11025 samples a second.
constexpr int kRate = 11025;

void PutLe(std::vector<uint8_t>& out, uint32_t v, int bytes) {
    for (int i = 0; i < bytes; ++i) {
        out.push_back(uint8_t(v >> (8 * i)));
    }
}

bool SaveWave(const std::vector<double>& samples, const QString& name) {
    const uint32_t n = uint32_t(samples.size());
    const uint32_t pad = n & 1;  // chunks are word aligned
    std::vector<uint8_t> out;
    out.insert(out.end(), {'R', 'I', 'F', 'F'});
    PutLe(out, 4 + 8 + 16 + 8 + n + pad, 4);
    out.insert(out.end(), {'W', 'A', 'V', 'E', 'f', 'm', 't', ' '});
    PutLe(out, 16, 4);
    PutLe(out, 1, 2);      // PCM
    PutLe(out, 1, 2);      // mono
    PutLe(out, kRate, 4);  // samples a second
    PutLe(out, kRate, 4);  // bytes a second
    PutLe(out, 1, 2);      // block alignment
    PutLe(out, 8, 2);      // bits a sample
    out.insert(out.end(), {'d', 'a', 't', 'a'});
    PutLe(out, n, 4);
    for (double s : samples) {
        const long v = std::lround(128.0 + 127.0 * std::clamp(s, -1.0, 1.0));
        out.push_back(uint8_t(std::clamp(v, 0L, 255L)));
    }
    if (pad) {
        out.push_back(0x80);
    }
    QFile f(g_out + "/" + name);
    if (!f.open(QIODevice::WriteOnly) || f.write(reinterpret_cast<const char*>(out.data()),
                                                 qint64(out.size())) != qint64(out.size())) {
        std::fprintf(stderr, "kestrow_resgen: cannot write %s\n", qPrintable(f.fileName()));
        return false;
    }
    std::printf("%s\n", qPrintable(f.fileName()));
    return true;
}

// A sonar ping: a 1.2 kHz tone struck and left to ring down, with a faint echo.
void Ping() {
    std::vector<double> s(18679);
    for (size_t i = 0; i < s.size(); ++i) {
        const double t = double(i) / kRate;
        const double attack = std::min(1.0, t / 0.004);
        double v = attack * std::exp(-t / 0.32) * std::sin(2 * M_PI * 1200 * t);
        const double te = t - 0.55;
        if (te > 0) {
            v += 0.22 * std::min(1.0, te / 0.004) * std::exp(-te / 0.28) *
                 std::sin(2 * M_PI * 1200 * te);
        }
        s[i] = 0.85 * v;
    }
    SaveWave(s, "sounds/ping.wav");
}

// An alarm: two tones alternating every eighth of a second for one second.
void RedAlert() {
    std::vector<double> s(kRate);
    const double segment = 0.125;
    for (size_t i = 0; i < s.size(); ++i) {
        const double t = double(i) / kRate;
        const int k = int(t / segment);
        const double in = t - k * segment;
        const double f = (k % 2 == 0) ? 880.0 : 660.0;
        // Soft edges at every switch avoid clicks.
        const double edge = std::min({1.0, in / 0.005, (segment - in) / 0.005});
        const double w = 2 * M_PI * f * t;
        const double v = std::sin(w) + 0.3 * std::sin(3 * w) + 0.15 * std::sin(5 * w);
        s[i] = 0.6 * edge * v;
    }
    SaveWave(s, "sounds/redalert.wav");
}

// The workspace's tool-bar and menu icons, 32 x 32, one flat style: a dark
// slate outline, blue and orange accents.
void WorkspaceIcons() {
    const QColor ink(0x2d, 0x3e, 0x50);
    const QColor blue(0x2a, 0x7f, 0xd4);
    const QColor orange(0xf2, 0x8c, 0x28);
    const QColor paper(0xfa, 0xfa, 0xf7);
    auto icon = [&](const char* name, const std::function<void(QPainter&)>& draw) {
        QImage image(32, 32, QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        QPainter p(&image);
        p.setRenderHint(QPainter::Antialiasing);
        draw(p);
        p.end();
        Save(image, QString("icons/ws_%1.png").arg(name));
    };
    const QPen outline(ink, 2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    auto page = [&](QPainter& p) {
        p.setPen(outline);
        p.setBrush(paper);
        QPainterPath sheet;
        sheet.moveTo(7, 3);
        sheet.lineTo(20, 3);
        sheet.lineTo(26, 9);
        sheet.lineTo(26, 29);
        sheet.lineTo(7, 29);
        sheet.closeSubpath();
        p.drawPath(sheet);
        p.drawLine(QPointF(20, 3), QPointF(20, 9));
        p.drawLine(QPointF(20, 9), QPointF(26, 9));
    };
    auto magnifier = [&](QPainter& p) {
        p.setPen(QPen(ink, 3, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(QPointF(19, 19), QPointF(28, 28));
        p.setPen(outline);
        p.setBrush(paper);
        p.drawEllipse(QPointF(13, 13), 9, 9);
    };
    auto arrow = [&](QPainter& p, bool forward) {
        p.save();
        if (forward) {
            p.translate(32, 0);
            p.scale(-1, 1);
        }
        p.setPen(QPen(blue, 3.2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        p.setBrush(Qt::NoBrush);
        QPainterPath curve;
        curve.moveTo(9, 13);
        curve.lineTo(20, 13);
        curve.cubicTo(30, 13, 30, 27, 20, 27);
        curve.lineTo(13, 27);
        p.drawPath(curve);
        p.setPen(Qt::NoPen);
        p.setBrush(blue);
        p.drawPolygon(QPolygonF({QPointF(3, 13), QPointF(11, 6), QPointF(11, 20)}));
        p.restore();
    };
    icon("open", [&](QPainter& p) {
        p.setPen(outline);
        p.setBrush(QColor(0xf6, 0xc4, 0x5a));
        p.drawPolygon(QPolygonF({QPointF(3, 8), QPointF(11, 8), QPointF(14, 11), QPointF(27, 11),
                                 QPointF(27, 26), QPointF(3, 26)}));
        p.setBrush(QColor(0xfb, 0xdc, 0x8c));
        p.drawPolygon(
            QPolygonF({QPointF(7, 15), QPointF(30, 15), QPointF(27, 26), QPointF(3, 26)}));
    });
    icon("save", [&](QPainter& p) {
        p.setPen(outline);
        p.setBrush(blue);
        p.drawRoundedRect(QRectF(4, 4, 24, 24), 3, 3);
        p.setBrush(paper);
        p.drawRect(QRectF(9, 4, 14, 9));
        p.setBrush(ink);
        p.drawRect(QRectF(18, 6, 3, 5));
        p.setBrush(paper);
        p.drawRect(QRectF(8, 17, 16, 11));
    });
    icon("save_as", [&](QPainter& p) {
        p.setPen(outline);
        p.setBrush(blue);
        p.drawRoundedRect(QRectF(3, 3, 20, 20), 3, 3);
        p.setBrush(paper);
        p.drawRect(QRectF(7, 3, 12, 7));
        p.drawRect(QRectF(7, 14, 12, 9));
        p.setPen(QPen(orange, 4, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(QPointF(17, 28), QPointF(28, 17));
        p.setPen(QPen(ink, 2, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(QPointF(14, 30), QPointF(16, 29));
    });
    icon("new_site", [&](QPainter& p) {
        page(p);
        p.setPen(QPen(ink, 1.5));
        p.drawLine(QPointF(10, 14), QPointF(23, 14));
        p.drawLine(QPointF(16, 14), QPointF(16, 26));
        p.drawLine(QPointF(10, 20), QPointF(16, 20));
        p.setPen(Qt::NoPen);
        p.setBrush(orange);
        p.drawEllipse(QPointF(24, 24), 6, 6);
        p.setPen(QPen(paper, 2, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(QPointF(24, 21), QPointF(24, 27));
        p.drawLine(QPointF(21, 24), QPointF(27, 24));
    });
    icon("report", [&](QPainter& p) {
        page(p);
        p.setPen(Qt::NoPen);
        const QColor bars[] = {QColor(0x2f, 0xa8, 0x4f), QColor(0xf2, 0xc2, 0x28), orange};
        for (int i = 0; i < 3; ++i) {
            p.setBrush(bars[i]);
            p.drawRect(QRectF(10 + i * 5, 26 - (10 - i * 3), 4, 10 - i * 3));
        }
        p.setPen(QPen(ink, 1.5));
        p.drawLine(QPointF(10, 12), QPointF(18, 12));
    });
    icon("undo", [&](QPainter& p) { arrow(p, false); });
    icon("redo", [&](QPainter& p) { arrow(p, true); });
    icon("zoom_in", [&](QPainter& p) {
        magnifier(p);
        p.setPen(QPen(blue, 2.5, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(QPointF(9, 13), QPointF(17, 13));
        p.drawLine(QPointF(13, 9), QPointF(13, 17));
    });
    icon("zoom_out", [&](QPainter& p) {
        magnifier(p);
        p.setPen(QPen(blue, 2.5, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(QPointF(9, 13), QPointF(17, 13));
    });
    icon("fit", [&](QPainter& p) {
        p.setPen(QPen(ink, 1.5));
        p.setBrush(paper);
        p.drawRect(QRectF(8, 10, 16, 12));
        p.setPen(QPen(blue, 2.5, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        p.setBrush(Qt::NoBrush);
        for (int sx : {-1, 1}) {
            for (int sy : {-1, 1}) {
                const QPointF corner(16 + sx * 13, 16 + sy * 11);
                p.drawPolyline(QPolygonF(
                    {corner + QPointF(0, -sy * 6), corner, corner + QPointF(-sx * 6, 0)}));
            }
        }
    });
    icon("overlay", [&](QPainter& p) {
        QLinearGradient heat(4, 28, 28, 4);
        heat.setColorAt(0, QColor(0x1f, 0x4f, 0xd8));
        heat.setColorAt(0.35, QColor(0x2f, 0xb8, 0x4f));
        heat.setColorAt(0.65, QColor(0xf2, 0xd0, 0x28));
        heat.setColorAt(1, QColor(0xe8, 0x3a, 0x1e));
        p.setPen(outline);
        p.setBrush(heat);
        p.drawRoundedRect(QRectF(4, 4, 24, 24), 4, 4);
        p.setPen(QPen(paper, 2));
        p.setBrush(Qt::NoBrush);
        p.drawEllipse(QPointF(22, 10), 4, 4);
        p.drawEllipse(QPointF(22, 10), 8, 8);
    });
    icon("guide", [&](QPainter& p) {
        p.setPen(outline);
        p.setBrush(blue);
        p.drawRoundedRect(QRectF(5, 3, 22, 26), 2, 2);
        p.setBrush(paper);
        p.drawRect(QRectF(9, 3, 18, 22));
        p.setPen(QPen(ink, 2.6, Qt::SolidLine, Qt::RoundCap));
        QPainterPath mark;
        mark.moveTo(14, 10);
        mark.cubicTo(14, 6, 22, 6, 22, 10);
        mark.cubicTo(22, 13, 18, 13, 18, 16);
        p.setBrush(Qt::NoBrush);
        p.drawPath(mark);
        p.drawPoint(QPointF(18, 21));
    });
    icon("walk", [&](QPainter& p) {
        p.setPen(QPen(blue, 2.5, Qt::DashLine, Qt::RoundCap));
        p.drawPolyline(
            QPolygonF({QPointF(4, 28), QPointF(12, 18), QPointF(22, 22), QPointF(28, 6)}));
        p.setPen(outline);
        p.setBrush(orange);
        p.drawEllipse(QPointF(28, 6), 3, 3);
        p.drawEllipse(QPointF(4, 28), 3, 3);
    });
}

}  // namespace

int main(int argc, char** argv) {
    QGuiApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: kestrow_resgen RES_FOLDER\n");
        return 2;
    }
    g_out = QString::fromLocal8Bit(argv[1]);
    StartScreen();
    TargetMark();
    const int frames[] = {139, 140, 141, 142};
    for (int i = 0; i < 4; ++i) {
        RadarFrame(frames[i], 90.0 * i + 20.0);
    }
    Toolbar();
    AppIcon(32);
    AppIcon(16);
    WorkspaceIcons();
    Ping();
    RedAlert();
    return 0;
}
