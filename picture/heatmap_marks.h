// What a coverage map picture shows besides its cells: the walls the model
// took in, the access points where they were placed or estimated, a legend
// in the metric's unit and a scale bar, and, where no cell has a value, a
// plain statement that there is nothing to show. `ksf heatmap` and the
// report draw them; a window can draw the same marks over its canvas.
#pragma once

#include <QImage>
#include <QPainter>
#include <QString>
#include <optional>
#include <string>
#include <vector>

#include "coverage/coverage_map.h"
#include "sitefile/site_meta.h"

namespace picture {

// An access point on the plan, in map pixels.
struct ApMark {
    double x = 0;
    double y = 0;
    bool placed = false;
    double uncertainty = 0;  // map pixels, for an estimated one
    std::string label;       // a placed one's label, or empty
};

struct MapMarks {
    std::vector<sitefile::Wall> walls;
    std::vector<ApMark> aps;
    std::optional<double> pixelsPerMetre;
};

// The walls the model took in and the places coverage::MarkedPlaces marks
// (of the access points `only` selects, all without), placed ones with their
// sidecar labels when `meta` is given.
MapMarks MarksOf(const coverage::CoverageModel& model,
                 const std::vector<coverage::SourceEstimate>& sources,
                 const sitefile::SiteMeta* meta, std::optional<double> pixelsPerMetre,
                 const coverage::ApFilter* only = nullptr);

// Placed access points as filled squares with their labels; estimated ones
// as hollow diamonds inside a dashed circle of their uncertainty. `unit`
// sizes the marks (picture pixels), `scale` takes map pixels to the picture's.
void DrawAccessPoints(QPainter& painter, const std::vector<ApMark>& aps, double scale, int unit);

// The legend of the metric's colours in the top right corner: levels in dBm,
// signal-to-noise in dB, counts in radios. Left out on a picture too small
// to hold it.
void DrawLegend(QImage& picture, coverage::Metric metric);

// Hatches the picture and writes `why` across it: a map with no value
// anywhere.
void DrawNoData(QImage& picture, const QString& why);

// HeatmapPicture with the marks: the walls and access points over the cells,
// the legend, the scale bar, or the statement that nothing was mapped.
QImage MarkedHeatmapPicture(const coverage::Grid& grid, const QImage& map, const MapMarks& marks);

// The size a mark's lines are drawn at on a picture: it reads the same at any
// picture size.
int MarkUnit(const QImage& picture);

}  // namespace picture
