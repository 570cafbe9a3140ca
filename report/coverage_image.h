// Coverage maps as pictures. The overlay is what the Kestrow window lays over
// its map and what `ksf heatmap` draws over the map in grey, so the two agree
// pixel for pixel: it depends on nothing but the grid and the map's size.
#pragma once

#include <QImage>
#include <QRgb>
#include <QSize>

#include "coverage/coverage_map.h"
#include "sitefile/site_reader.h"

namespace report {

// Opacity of the overlay's cells, 0..255.
constexpr int kOverlayAlpha = 150;

// The colour of a cell (opaque). Levels take the colour legend's band (the
// first band whose floor the level is above, as for the circles); counts of
// access points run up the same six colours: 0 black, 1 blue, 2 green,
// 3 yellow, 4 orange, 5 or more red.
QRgb CellColour(coverage::Metric metric, float value);

// The overlay at map resolution (Format_ARGB32_Premultiplied): every pixel of
// a cell with a value in the cell's colour at kOverlayAlpha, every other
// pixel fully transparent.
QImage CoverageOverlay(const coverage::Grid& grid, QSize mapSize);

// The site map as stored, in colour (Format_RGB32).
QImage SiteMapImage(const sitefile::SiteMap& map);

// The picture of `ksf heatmap`: the map in grey with the overlay over it
// (Format_RGB32, the map's size).
QImage HeatmapPicture(const coverage::Grid& grid, const QImage& map);

}  // namespace report
