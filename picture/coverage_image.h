// Coverage maps as pictures. The overlays are what the Kestrow window lays
// over its map and what `ksf heatmap` and the survey report draw over the map
// in grey, so they agree pixel for pixel: each depends on nothing but the
// grid (or the verdicts) and the map's size.
#pragma once

#include <QImage>
#include <QRect>
#include <QRgb>
#include <QSize>
#include <string>

#include "coverage/coverage_map.h"
#include "coverage/requirements.h"
#include "sitefile/site_reader.h"

namespace picture {

// Opacity of the overlay's cells, 0..255.
constexpr int kOverlayAlpha = 150;

// The colour of a cell (opaque). Levels take the colour legend's band (the
// first band whose floor the level is above, as for the circles); counts of
// radios run up the same six colours: 0 black, 1 blue, 2 green, 3 yellow,
// 4 orange, 5 or more red; signal-to-noise ratios take kSnrBandFloorsDb.
QRgb CellColour(coverage::Metric metric, float value);

// The overlay at map resolution (Format_ARGB32_Premultiplied): every pixel of
// a cell with a value in the cell's colour at kOverlayAlpha, every other
// pixel fully transparent.
QImage CoverageOverlay(const coverage::Grid& grid, QSize mapSize);
// The same as one pixel a cell (Cols x Rows), for ExpandCells.
QImage CoverageCells(const coverage::Grid& grid);

// Cells (one pixel each) laid over `region` of a picture of the grid's map:
// a picture of the map's size, pixel for pixel (larger: the rest is clear),
// or of the map scaled down to `pictureSize`, each pixel taking the cell of
// the map pixel it shows. Only the region is made, so a large map is drawn
// a band at a time.
QImage ExpandCells(const QImage& cells, const coverage::GridSpec& spec, QSize pictureSize,
                   const QRect& region);

// The colours of a requirement's verdict on a cell (opaque).
constexpr QRgb kPassColour = 0xFF00C000u;  // green
constexpr QRgb kFailColour = 0xFFFF0000u;  // red

// The pass/fail map of a profile, as CoverageOverlay draws a metric: passing
// cells green, failing cells red, both at kOverlayAlpha, cells without a
// value clear.
QImage PassFailOverlay(const coverage::AreaVerdict& verdict, QSize mapSize);
QImage PassFailCells(const coverage::AreaVerdict& verdict);

// The site map as stored, in colour (Format_RGB32).
QImage SiteMapImage(const sitefile::SiteMap& map);
// The same scaled down to fit `maxSide` pixels on its longer side when it
// is larger (each pixel the average of those it covers), for pictures that
// need no more: a page, a report.
QImage SiteMapImage(const sitefile::SiteMap& map, int maxSide);
// A map picture in grey (Format_RGB32), for drawing over.
QImage GreyMap(const QImage& map);

// The site's sign-off raster as a kRasterWidth x kRasterHeight picture
// (Format_RGB32); false with a one-line reason when it cannot be read.
bool SignatureImage(sitefile::SiteFileReader& reader, QImage& out, std::string& error);

// The picture of `ksf heatmap`: the map in grey with the overlay over it
// (Format_RGB32, the size of `map`: the grid's map, or that map scaled down,
// the cells scaled with it).
QImage HeatmapPicture(const coverage::Grid& grid, const QImage& map);
// The same with the pass/fail overlay.
QImage PassFailPicture(const coverage::AreaVerdict& verdict, const QImage& map);

// Draws a scale bar of a round length (1, 2 or 5 times a power of ten
// metres, about a fifth of the picture's width) in the bottom left corner of
// a map picture, on a white ground.
void DrawScaleBar(QImage& picture, double pixelsPerMetre);

}  // namespace picture
