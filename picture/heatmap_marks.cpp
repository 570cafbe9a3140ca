#include "picture/heatmap_marks.h"

#include <QFont>
#include <QPainterPath>
#include <algorithm>
#include <cmath>

#include "coverage/rssi_bands.h"
#include "picture/coverage_image.h"
#include "picture/walls_picture.h"

namespace picture {

namespace {

// A legend needs about this much room.
constexpr int kMinLegendSide = 120;

QColor BandColour(int band) {
    return QColor::fromRgb(ColorRefToRgb(kRssiBands[band].colorRef));
}

}  // namespace

int MarkUnit(const QImage& picture) {
    return std::max(2, std::min(picture.width(), picture.height()) / 120);
}

MapMarks MarksOf(const coverage::CoverageModel& model,
                 const std::vector<coverage::SourceEstimate>& sources,
                 const sitefile::SiteMeta* meta, std::optional<double> pixelsPerMetre,
                 const coverage::ApFilter* only) {
    MapMarks marks;
    marks.pixelsPerMetre = pixelsPerMetre;
    for (const coverage::WallSegment& w : model.Walls()) {
        marks.walls.push_back(
            {w.x1, w.y1, w.x2, w.y2, static_cast<sitefile::Material>(w.material)});
    }
    const std::vector<coverage::AccessPoint>& aps = model.AccessPoints();
    for (const std::vector<size_t>& box : coverage::MarkedPlaces(
             aps, sources, model.Spec().mapWidth, model.Spec().mapHeight, only)) {
        const coverage::SourceEstimate& s = sources[box.front()];
        ApMark mark{s.x, s.y, s.placed, s.uncertainty, {}};
        const sitefile::PlacedAccessPoint* p =
            meta != nullptr ? meta->PlacedAt(aps[box.front()].bssid) : nullptr;
        if (s.placed && p != nullptr) {
            mark.label = p->label;
        }
        marks.aps.push_back(mark);
    }
    return marks;
}

void DrawAccessPoints(QPainter& painter, const std::vector<ApMark>& aps, double scale, int unit) {
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    const double r = unit * 2.5;
    for (const ApMark& ap : aps) {
        const QPointF at(ap.x * scale, ap.y * scale);
        if (ap.placed) {
            painter.setPen(QPen(Qt::white, unit * 0.6));
            painter.setBrush(Qt::black);
            painter.drawRect(QRectF(at.x() - r, at.y() - r, 2 * r, 2 * r));
            if (!ap.label.empty()) {
                QFont font("Liberation Sans");
                font.setPixelSize(unit * 4);
                painter.setFont(font);
                const QPointF text = at + QPointF(r + unit, -r);
                const QString label = QString::fromStdString(ap.label);
                painter.setPen(Qt::white);
                for (const QPointF& d :
                     {QPointF(-1, 0), QPointF(1, 0), QPointF(0, -1), QPointF(0, 1)}) {
                    painter.drawText(text + d * (unit / 2.0), label);
                }
                painter.setPen(Qt::black);
                painter.drawText(text, label);
            }
            continue;
        }
        const double spread = ap.uncertainty * scale;
        if (spread > r) {
            painter.setBrush(QColor(255, 255, 255, 50));
            painter.setPen(QPen(Qt::black, std::max(1.0, unit * 0.4), Qt::DashLine));
            painter.drawEllipse(at, spread, spread);
        }
        QPainterPath diamond;
        diamond.moveTo(at + QPointF(0, -r * 1.3));
        diamond.lineTo(at + QPointF(r * 1.3, 0));
        diamond.lineTo(at + QPointF(0, r * 1.3));
        diamond.lineTo(at + QPointF(-r * 1.3, 0));
        diamond.closeSubpath();
        painter.setBrush(Qt::white);
        painter.setPen(QPen(Qt::black, unit * 0.7));
        painter.drawPath(diamond);
    }
    painter.restore();
}

void DrawLegend(QImage& picture, coverage::Metric metric) {
    if (std::min(picture.width(), picture.height()) < kMinLegendSide) {
        return;
    }
    QString title;
    QStringList labels;
    if (coverage::IsLevelMetric(metric)) {
        title = metric == coverage::Metric::kSecond ? "second radio, dBm" : "signal, dBm";
        for (int i = 0; i < kRssiBandCount - 1; ++i) {
            labels << QString("above %1").arg(kRssiBands[i].above);
        }
        labels << QString("%1 or below").arg(kRssiBands[kRssiBandCount - 2].above);
    } else if (metric == coverage::Metric::kSnr) {
        title = "signal to noise, dB";
        for (int i = 0; i < kRssiBandCount - 1; ++i) {
            labels << QString("%1 or more").arg(kSnrBandFloorsDb[i]);
        }
        labels << QString("below %1").arg(kSnrBandFloorsDb[kRssiBandCount - 2]);
    } else {
        title = metric == coverage::Metric::kCount ? "radios heard" : "radios on the channel";
        labels << "5 or more";
        for (int n = 4; n >= 0; --n) {
            labels << QString::number(n);
        }
    }
    const int unit = MarkUnit(picture);
    QFont font("Liberation Sans");
    font.setPixelSize(unit * 4);
    QPainter painter(&picture);
    painter.setFont(font);
    const int line = unit * 6;
    int textWidth = painter.fontMetrics().horizontalAdvance(title);
    for (const QString& l : labels) {
        textWidth = std::max(textWidth, painter.fontMetrics().horizontalAdvance(l) + unit * 7);
    }
    const QRect box(picture.width() - unit * 7 - textWidth, unit * 3, textWidth + unit * 4,
                    line * static_cast<int>(labels.size() + 1) + unit * 2);
    painter.fillRect(box, QColor(255, 255, 255, 225));
    painter.setPen(QPen(Qt::black, 1));
    painter.drawRect(box.adjusted(0, 0, -1, -1));
    int y = box.top() + unit;
    painter.drawText(QRect(box.left() + unit * 2, y, textWidth, line),
                     Qt::AlignVCenter | Qt::AlignLeft, title);
    for (int i = 0; i < labels.size(); ++i) {
        y += line;
        painter.fillRect(QRect(box.left() + unit * 2, y + unit, unit * 5, line - unit * 2),
                         BandColour(i));
        painter.drawText(QRect(box.left() + unit * 9, y, textWidth, line),
                         Qt::AlignVCenter | Qt::AlignLeft, labels[i]);
    }
}

void DrawNoData(QImage& picture, const QString& why) {
    const int unit = MarkUnit(picture);
    QPainter painter(&picture);
    painter.fillRect(picture.rect(), QBrush(QColor(0, 0, 0, 60), Qt::BDiagPattern));
    painter.fillRect(picture.rect(), QColor(255, 255, 255, 70));
    QFont font("Liberation Sans");
    font.setPixelSize(std::max(8, unit * 6));
    font.setBold(true);
    painter.setFont(font);
    const QRect text = painter.fontMetrics()
                           .boundingRect(picture.rect(), Qt::AlignCenter | Qt::TextWordWrap, why)
                           .adjusted(-unit * 3, -unit * 2, unit * 3, unit * 2);
    painter.fillRect(text, QColor(255, 255, 255, 235));
    painter.setPen(QPen(Qt::black, 1));
    painter.drawRect(text.adjusted(0, 0, -1, -1));
    painter.drawText(picture.rect(), Qt::AlignCenter | Qt::TextWordWrap, why);
}

QImage MarkedHeatmapPicture(const coverage::Grid& grid, const QImage& map, const MapMarks& marks) {
    QImage picture = HeatmapPicture(grid, map);
    const double scale =
        grid.spec.mapWidth > 0 ? static_cast<double>(picture.width()) / grid.spec.mapWidth : 1;
    const int unit = MarkUnit(picture);
    {
        QPainter painter(&picture);
        painter.scale(scale, scale);
        DrawWalls(painter, marks.walls, std::max(2.0, unit * 0.75) / scale);
        painter.resetTransform();
        DrawAccessPoints(painter, marks.aps, scale, unit);
    }
    // Nothing to show: no cell in reach of a survey point, or levels that
    // are all "not heard".
    const bool level = coverage::IsLevelMetric(grid.metric);
    const bool any = std::any_of(grid.values.begin(), grid.values.end(), [&](float v) {
        return !std::isnan(v) && (!level || v > coverage::kNotHeardDbm);
    });
    if (!any) {
        DrawNoData(picture,
                   "No coverage to show: nothing heard within reach of any cell\n"
                   "(no survey point, or no access point the filters select)");
    } else {
        DrawLegend(picture, grid.metric);
    }
    if (marks.pixelsPerMetre) {
        DrawScaleBar(picture, *marks.pixelsPerMetre * scale);
    }
    return picture;
}

}  // namespace picture
