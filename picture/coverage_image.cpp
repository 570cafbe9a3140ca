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

// Rows drawn at a time into a picture, so no picture-sized scratch image is
// ever needed beside the picture itself.
constexpr int kBandRows = 256;

// One pixel a cell of the grid, in colourOf(col, row) (premultiplied; 0 is clear).
template <typename ColourOf>
QImage DrawCells(const coverage::GridSpec& spec, ColourOf colourOf) {
    QImage cells(std::max(1, spec.Cols()), std::max(1, spec.Rows()),
                 QImage::Format_ARGB32_Premultiplied);
    cells.fill(Qt::transparent);
    for (int row = 0; row < spec.Rows(); ++row) {
        QRgb* line = reinterpret_cast<QRgb*>(cells.scanLine(row));
        for (int col = 0; col < spec.Cols(); ++col) {
            line[col] = colourOf(col, row);
        }
    }
    return cells;
}

// The map pixel a picture pixel shows: the same one, or for a picture
// smaller than the map, the one its scale puts there.
int MapPixel(int at, int pictureExtent, int mapExtent) {
    return pictureExtent >= mapExtent
               ? at
               : static_cast<int>(int64_t{at} * mapExtent / std::max(1, pictureExtent));
}

// Calls draw(band) for each band of rows of a picture of `size`, top down.
template <typename Draw>
void ForEachBand(QSize size, Draw draw) {
    for (int top = 0; top < size.height(); top += kBandRows) {
        draw(QRect(0, top, size.width(), std::min(kBandRows, size.height() - top)));
    }
}

// The band of `map` in grey, into the same rows of `picture`.
void PutGrey(const QImage& map, const QRect& band, QImage& picture) {
    const QImage colour = map.copy(band).convertToFormat(QImage::Format_RGB32);
    for (int y = 0; y < band.height(); ++y) {
        const QRgb* in = reinterpret_cast<const QRgb*>(colour.constScanLine(y));
        QRgb* out = reinterpret_cast<QRgb*>(picture.scanLine(band.top() + y));
        for (int x = 0; x < band.width(); ++x) {
            const int grey = qGray(in[x]);
            out[x] = qRgb(grey, grey, grey);
        }
    }
}

// The map in grey with the cells over it, band by band.
QImage GreyMapUnder(const QImage& cells, const coverage::GridSpec& spec, const QImage& map) {
    QImage picture(map.size(), QImage::Format_RGB32);
    QPainter painter(&picture);
    ForEachBand(map.size(), [&](const QRect& band) {
        PutGrey(map, band, picture);
        painter.drawImage(band.topLeft(), ExpandCells(cells, spec, map.size(), band));
    });
    painter.end();
    return picture;
}

}  // namespace

QImage GreyMap(const QImage& map) {
    QImage picture(map.size(), QImage::Format_RGB32);
    ForEachBand(map.size(), [&](const QRect& band) { PutGrey(map, band, picture); });
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

QImage ExpandCells(const QImage& cells, const coverage::GridSpec& spec, QSize pictureSize,
                   const QRect& region) {
    QImage out(region.size(), QImage::Format_ARGB32_Premultiplied);
    out.fill(Qt::transparent);
    const int gridWidth = spec.Cols() * spec.cell;
    const int gridHeight = spec.Rows() * spec.cell;
    std::vector<int> columns(static_cast<size_t>(std::max(0, region.width())));
    for (int x = 0; x < region.width(); ++x) {
        const int mx = MapPixel(region.left() + x, pictureSize.width(), spec.mapWidth);
        columns[x] = mx < gridWidth ? mx / spec.cell : -1;
    }
    for (int y = 0; y < region.height(); ++y) {
        const int my = MapPixel(region.top() + y, pictureSize.height(), spec.mapHeight);
        if (my >= gridHeight) {
            continue;
        }
        const QRgb* colours = reinterpret_cast<const QRgb*>(cells.constScanLine(my / spec.cell));
        QRgb* line = reinterpret_cast<QRgb*>(out.scanLine(y));
        for (int x = 0; x < region.width(); ++x) {
            if (columns[x] >= 0) {
                line[x] = colours[columns[x]];
            }
        }
    }
    return out;
}

QImage CoverageCells(const coverage::Grid& grid) {
    return DrawCells(grid.spec, [&grid](int col, int row) {
        const float value = grid.At(col, row);
        return std::isnan(value) ? 0u : Translucent(CellColour(grid.metric, value));
    });
}

QImage CoverageOverlay(const coverage::Grid& grid, QSize mapSize) {
    return ExpandCells(CoverageCells(grid), grid.spec, mapSize, QRect(QPoint(0, 0), mapSize));
}

QImage PassFailOverlay(const coverage::AreaVerdict& verdict, QSize mapSize) {
    return ExpandCells(PassFailCells(verdict), verdict.spec, mapSize, QRect(QPoint(0, 0), mapSize));
}

QImage PassFailCells(const coverage::AreaVerdict& verdict) {
    return DrawCells(verdict.spec, [&verdict](int col, int row) {
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

QImage SiteMapImage(const sitefile::SiteMap& map, int maxSide) {
    const int longer = std::max(map.width, map.height);
    if (longer <= maxSide || maxSide <= 0) {
        return SiteMapImage(map);
    }
    // Each picture pixel is the average of the block of map pixels it
    // covers, so thin lines of the plan fade rather than vanish.
    const int width = std::max(1, static_cast<int>(int64_t{map.width} * maxSide / longer));
    const int height = std::max(1, static_cast<int>(int64_t{map.height} * maxSide / longer));
    QImage image(width, height, QImage::Format_RGB32);
    std::vector<int> firstColumn(static_cast<size_t>(width) + 1);
    for (int x = 0; x <= width; ++x) {
        firstColumn[x] = static_cast<int>(int64_t{x} * map.width / width);
    }
    std::vector<uint64_t> sums(static_cast<size_t>(width) * 3);
    for (int y = 0; y < height; ++y) {
        const int top = static_cast<int>(int64_t{y} * map.height / height);
        const int bottom = static_cast<int>(int64_t{y + 1} * map.height / height);
        std::fill(sums.begin(), sums.end(), 0);
        for (int my = top; my < bottom; ++my) {
            const uint8_t* row = map.Row(my);
            for (int x = 0; x < width; ++x) {
                for (int mx = firstColumn[x]; mx < firstColumn[x + 1]; ++mx) {
                    const uint32_t c = map.colors[row[mx]];
                    sums[3 * x] += (c >> 16) & 0xFF;
                    sums[3 * x + 1] += (c >> 8) & 0xFF;
                    sums[3 * x + 2] += c & 0xFF;
                }
            }
        }
        QRgb* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < width; ++x) {
            const uint64_t n =
                uint64_t{static_cast<uint32_t>(firstColumn[x + 1] - firstColumn[x])} *
                static_cast<uint32_t>(bottom - top);
            line[x] = qRgb(static_cast<int>(sums[3 * x] / n), static_cast<int>(sums[3 * x + 1] / n),
                           static_cast<int>(sums[3 * x + 2] / n));
        }
    }
    return image;
}

QImage HeatmapPicture(const coverage::Grid& grid, const QImage& map) {
    return GreyMapUnder(CoverageCells(grid), grid.spec, map);
}

QImage PassFailPicture(const coverage::AreaVerdict& verdict, const QImage& map) {
    return GreyMapUnder(PassFailCells(verdict), verdict.spec, map);
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
