// The walls of a site drawn over its plan: what `ksf walls -o` writes, so a
// surveyor can see what detection found, and the drawing any picture of the
// site shares for its walls.
#pragma once

#include <QColor>
#include <QImage>
#include <QPainter>
#include <optional>
#include <vector>

#include "sitefile/site_meta.h"

namespace picture {

// The colour a wall of this material is drawn in.
QColor MaterialColour(sitefile::Material material);

// Each wall as a line `width` pixels wide in its material's colour, a dot at
// each end, in map pixels.
void DrawWalls(QPainter& painter, const std::vector<sitefile::Wall>& walls, double width);

// The map in grey with the walls over it, a key of the materials used in the
// top right corner and, with a scale, a scale bar (Format_RGB32, the map's
// size).
QImage WallsPicture(const QImage& map, const std::vector<sitefile::Wall>& walls,
                    std::optional<double> pixelsPerMetre);

}  // namespace picture
