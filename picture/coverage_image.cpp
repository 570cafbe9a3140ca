#include "picture/coverage_image.h"

#include <QFont>
#include <QPainter>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

#include "coverage/rssi_bands.h"
#include "sitefile/site_format.h"

namespace picture {

namespace {

QRgb Translucent(QRgb c) {
    return qPremultiply(qRgba(qRed(c), qGreen(c), qBlue(c), kOverlayAlpha));
}

// Cells of the grid at map resolution: every pixel of cell (col, row) in
// colourOf(col, row) (premultiplied; 0 leaves it clear).
template <typename ColourOf>
QImage DrawCells(const coverage::GridSpec& spec, QSize mapSize, ColourOf colourOf) {
    QImage overlay(mapSize, QImage::Format_ARGB32_Premultiplied);
    overlay.fill(Qt::transparent);
    const int width = std::min(mapSize.width(), spec.Cols() * spec.cell);
    const int height = std::min(mapSize.height(), spec.Rows() * spec.cell);
    std::vector<QRgb> colours(static_cast<size_t>(spec.Cols()));
    for (int y = 0; y < height; ++y) {
        if (y % spec.cell == 0) {
            for (int col = 0; col < spec.Cols(); ++col) {
                colours[col] = colourOf(col, y / spec.cell);
            }
        }
        QRgb* line = reinterpret_cast<QRgb*>(overlay.scanLine(y));
        for (int x = 0; x < width; ++x) {
            line[x] = colours[x / spec.cell];
        }
    }
    return overlay;
}

// The map in grey with the overlay over it.
QImage GreyMapUnder(const QImage& overlay, const QImage& map) {
    QImage picture = GreyMap(map);
    QPainter painter(&picture);
    painter.drawImage(0, 0, overlay);
    painter.end();
    return picture;
}

}  // namespace

QImage GreyMap(const QImage& map) {
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
    return picture;
}

QRgb CellColour(coverage::Metric metric, float value) {
    int band = kRssiBandCount - 1;
    if (std::isnan(value)) {
        return 0xFF000000u | ColorRefToRgb(kRssiBands[band].colorRef);
    }
    if (metric == coverage::Metric::kSnr) {
        band = 0;
        while (band < kRssiBandCount - 1 && !(value >= kSnrBandFloorsDb[band])) {
            ++band;
        }
    } else if (coverage::IsLevelMetric(metric)) {
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
    return DrawCells(grid.spec, mapSize, [&grid](int col, int row) {
        const float value = grid.At(col, row);
        return std::isnan(value) ? 0u : Translucent(CellColour(grid.metric, value));
    });
}

QImage PassFailOverlay(const coverage::AreaVerdict& verdict, QSize mapSize) {
    return DrawCells(verdict.spec, mapSize, [&verdict](int col, int row) {
        switch (verdict.At(col, row)) {
            case coverage::CellVerdict::kPass:
                return Translucent(kPassColour);
            case coverage::CellVerdict::kFail:
                return Translucent(kFailColour);
            case coverage::CellVerdict::kNone:
                break;
        }
        return 0u;
    });
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

bool SignatureImage(sitefile::SiteFileReader& reader, QImage& out, std::string& error) {
    ByteSource& source = reader.Source();
    if (uint64_t{reader.RasterOffset()} + sitefile::kRasterSize > source.Size()) {
        error = "the sign-off raster lies past the end of the file";
        return false;
    }
    std::vector<uint8_t> raster(sitefile::kRasterSize);
    source.Seek(reader.RasterOffset());
    if (source.Read(raster.data(), raster.size()) != raster.size()) {
        error = "cannot read the sign-off raster";
        return false;
    }
    QImage picture(sitefile::kRasterWidth, sitefile::kRasterHeight, QImage::Format_RGB32);
    const uint8_t* p = raster.data();
    for (int fileRow = 0; fileRow < sitefile::kRasterHeight; ++fileRow) {
        const int y = sitefile::kRasterHeight - 1 - fileRow;  // the bottom row comes first
        QRgb* line = reinterpret_cast<QRgb*>(picture.scanLine(y));
        for (int x = 0; x < sitefile::kRasterWidth; ++x, p += 4) {
            const uint32_t v = sitefile::ReadU32(p);  // 0x00BBGGRR
            line[x] = qRgb(v & 0xFF, (v >> 8) & 0xFF, (v >> 16) & 0xFF);
        }
    }
    out = picture;
    return true;
}

QImage HeatmapPicture(const coverage::Grid& grid, const QImage& map) {
    return GreyMapUnder(CoverageOverlay(grid, map.size()), map);
}

QImage PassFailPicture(const coverage::AreaVerdict& verdict, const QImage& map) {
    return GreyMapUnder(PassFailOverlay(verdict, map.size()), map);
}

void DrawScaleBar(QImage& picture, double pixelsPerMetre) {
    if (!(pixelsPerMetre > 0) || picture.isNull()) {
        return;
    }
    // The longest round length that fits in a fifth of the width.
    const double most = picture.width() / 5.0 / pixelsPerMetre;
    double metres = std::pow(10.0, std::floor(std::log10(most)));
    for (double step : {5.0, 2.0}) {
        if (metres * step <= most) {
            metres *= step;
            break;
        }
    }
    const double length = metres * pixelsPerMetre;
    if (!std::isfinite(length) || length < 4) {
        return;
    }
    char label[32];
    if (metres >= 1) {
        std::snprintf(label, sizeof label, "%.0f m", metres);
    } else {
        std::snprintf(label, sizeof label, "%g cm", metres * 100);
    }
    // Sizes follow the picture, so the bar reads the same at any map size.
    const int unit = std::max(2, std::min(picture.width(), picture.height()) / 120);
    QFont font("Liberation Sans");
    font.setPixelSize(unit * 4);
    QPainter painter(&picture);
    painter.setRenderHint(QPainter::Antialiasing, false);
    painter.setFont(font);
    const int textWidth = painter.fontMetrics().horizontalAdvance(QString::fromLatin1(label));
    const int boxWidth = static_cast<int>(std::ceil(length)) + textWidth + unit * 7;
    const int boxHeight = unit * 9;
    const QRect box(unit * 3, picture.height() - unit * 3 - boxHeight, boxWidth, boxHeight);
    painter.fillRect(box, QColor(255, 255, 255, 225));
    painter.setPen(QPen(Qt::black, 1));
    painter.drawRect(box.adjusted(0, 0, -1, -1));
    const int left = box.left() + unit * 2;
    const int right = left + static_cast<int>(std::lround(length));
    const int base = box.top() + boxHeight / 2 + unit;
    painter.fillRect(QRect(left, base - unit, right - left, unit), Qt::black);
    painter.fillRect(QRect(left, base - unit * 3, std::max(1, unit / 2), unit * 3), Qt::black);
    painter.fillRect(
        QRect(right - std::max(1, unit / 2), base - unit * 3, std::max(1, unit / 2), unit * 3),
        Qt::black);
    painter.drawText(QRect(right + unit * 2, box.top(), textWidth + unit * 2, boxHeight),
                     Qt::AlignLeft | Qt::AlignVCenter, QString::fromLatin1(label));
}

}  // namespace picture
