#include "report/coverage_image.h"

#include <QPainter>
#include <algorithm>
#include <cmath>
#include <vector>

#include "view/rssi_bands.h"

namespace report {

QRgb CellColour(coverage::Metric metric, float value) {
    int band = kRssiBandCount - 1;
    if (std::isnan(value)) {
        return 0xFF000000u | ColorRefToRgb(kRssiBands[band].colorRef);
    }
    if (coverage::IsLevelMetric(metric)) {
        // As the legend defines its bands: the first whose floor the level
        // is above, so a whole-dBm level falls where the circles put it.
        for (int i = 0; i < kRssiBandCount - 1; ++i) {
            if (value > kRssiBands[i].above) {
                band = i;
                break;
            }
        }
    } else {
        const long count = std::lround(std::clamp(value, 0.0f, 1000.0f));
        band = static_cast<int>(std::max(0L, kRssiBandCount - 1 - count));
    }
    return 0xFF000000u | ColorRefToRgb(kRssiBands[band].colorRef);
}

QImage CoverageOverlay(const coverage::Grid& grid, QSize mapSize) {
    QImage overlay(mapSize, QImage::Format_ARGB32_Premultiplied);
    overlay.fill(Qt::transparent);
    const coverage::GridSpec& spec = grid.spec;
    const int width = std::min(mapSize.width(), spec.Cols() * spec.cell);
    const int height = std::min(mapSize.height(), spec.Rows() * spec.cell);
    std::vector<QRgb> colours(static_cast<size_t>(spec.Cols()));
    for (int y = 0; y < height; ++y) {
        if (y % spec.cell == 0) {
            // The colours of this row of cells, transparent where no value.
            for (int col = 0; col < spec.Cols(); ++col) {
                const float value = grid.At(col, y / spec.cell);
                const QRgb c = CellColour(grid.metric, value);
                colours[col] =
                    std::isnan(value)
                        ? 0u
                        : qPremultiply(qRgba(qRed(c), qGreen(c), qBlue(c), kOverlayAlpha));
            }
        }
        QRgb* line = reinterpret_cast<QRgb*>(overlay.scanLine(y));
        for (int x = 0; x < width; ++x) {
            line[x] = colours[x / spec.cell];
        }
    }
    return overlay;
}

QImage SiteMapImage(const sitefile::SiteMap& map) {
    QImage image(map.width, map.height, QImage::Format_RGB32);
    for (int32_t y = 0; y < map.height; ++y) {
        const uint8_t* row = map.Row(y);
        QRgb* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int32_t x = 0; x < map.width; ++x) {
            line[x] = 0xFF000000u | (map.colors[row[x]] & 0xFFFFFFu);
        }
    }
    return image;
}

QImage HeatmapPicture(const coverage::Grid& grid, const QImage& map) {
    QImage picture(map.size(), QImage::Format_RGB32);
    const QImage colour = map.convertToFormat(QImage::Format_RGB32);
    for (int y = 0; y < colour.height(); ++y) {
        const QRgb* in = reinterpret_cast<const QRgb*>(colour.constScanLine(y));
        QRgb* out = reinterpret_cast<QRgb*>(picture.scanLine(y));
        for (int x = 0; x < colour.width(); ++x) {
            const int grey = qGray(in[x]);
            out[x] = qRgb(grey, grey, grey);
        }
    }
    QPainter painter(&picture);
    painter.drawImage(0, 0, CoverageOverlay(grid, map.size()));
    painter.end();
    return picture;
}

}  // namespace report
