#include "picture/walls_picture.h"

#include <QFont>
#include <algorithm>
#include <cmath>
#include <map>

#include "picture/coverage_image.h"

namespace picture {

QColor MaterialColour(sitefile::Material material) {
    switch (material) {
        case sitefile::Material::kDrywall:
            return QColor(0x1F, 0x77, 0xE0);  // blue
        case sitefile::Material::kGlass:
            return QColor(0x00, 0xB8, 0xC8);  // cyan
        case sitefile::Material::kWood:
            return QColor(0x9C, 0x64, 0x1E);  // brown
        case sitefile::Material::kBrick:
            return QColor(0xD6, 0x3A, 0x12);  // brick red
        case sitefile::Material::kConcrete:
            return QColor(0x6A, 0x2C, 0x9E);  // purple
        case sitefile::Material::kMetal:
            return QColor(0xE0, 0x10, 0x90);  // magenta
    }
    return Qt::black;
}

void DrawWalls(QPainter& painter, const std::vector<sitefile::Wall>& walls, double width) {
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    for (const sitefile::Wall& wall : walls) {
        const QColor colour = MaterialColour(wall.material);
        painter.setPen(QPen(colour, width, Qt::SolidLine, Qt::FlatCap));
        const QPointF a(wall.x1, wall.y1);
        const QPointF b(wall.x2, wall.y2);
        painter.drawLine(a, b);
        painter.setPen(Qt::NoPen);
        painter.setBrush(colour);
        painter.drawEllipse(a, width, width);
        painter.drawEllipse(b, width, width);
    }
    painter.restore();
}

QImage WallsPicture(const QImage& map, const std::vector<sitefile::Wall>& walls,
                    std::optional<double> pixelsPerMetre) {
    QImage picture = GreyMap(map);
    // Sizes follow the picture, so it reads the same at any map size.
    const int unit = std::max(2, std::min(picture.width(), picture.height()) / 120);
    QPainter painter(&picture);
    painter.fillRect(picture.rect(), QColor(255, 255, 255, 110));  // the plan fades back
    DrawWalls(painter, walls, std::max(2.0, unit * 0.75));

    std::map<sitefile::Material, int> used;
    for (const sitefile::Wall& wall : walls) {
        ++used[wall.material];
    }
    if (!used.empty()) {
        QFont font("Liberation Sans");
        font.setPixelSize(unit * 4);
        painter.setFont(font);
        const int line = unit * 6;
        int textWidth = 0;
        for (const auto& [material, count] : used) {
            const QString text = QString("%1 %2").arg(count).arg(sitefile::InfoOf(material).name);
            textWidth = std::max(textWidth, painter.fontMetrics().horizontalAdvance(text));
        }
        const QRect box(picture.width() - unit * 12 - textWidth, unit * 3, unit * 9 + textWidth,
                        line * static_cast<int>(used.size()) + unit * 2);
        painter.fillRect(box, QColor(255, 255, 255, 225));
        painter.setPen(QPen(Qt::black, 1));
        painter.drawRect(box.adjusted(0, 0, -1, -1));
        int y = box.top() + unit;
        for (const auto& [material, count] : used) {
            painter.fillRect(QRect(box.left() + unit * 2, y + unit * 2, unit * 4, unit * 2),
                             MaterialColour(material));
            painter.setPen(Qt::black);
            painter.drawText(QRect(box.left() + unit * 7, y, textWidth + unit, line),
                             Qt::AlignVCenter | Qt::AlignLeft,
                             QString("%1 %2").arg(count).arg(sitefile::InfoOf(material).name));
            y += line;
        }
    }
    painter.end();
    if (pixelsPerMetre) {
        DrawScaleBar(picture, *pixelsPerMetre);
    }
    return picture;
}

}  // namespace picture
