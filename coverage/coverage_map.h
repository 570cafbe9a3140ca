// Coverage maps from a survey: each access point's level is interpolated on
// its own over a grid of square cells, then every cell's value is taken
// across the selected access points (strongest, second strongest, how many
// reach a threshold, how many share the strongest one's channel), counting
// radios rather than BSSIDs.
//
//   coverage::GridSpec grid{map.width, map.height, 4, 64};
//   std::string error;
//   auto model = coverage::CoverageModel::Build(survey, grid, {}, error);
//   if (!model) { ...error... }
//   coverage::Grid strongest = model->Map({coverage::Metric::kStrongest});
//
// Building the model is the costly part (fitting and interpolating every
// access point); it can run on a worker thread and be abandoned through
// BuildOptions::cancel when a newer survey supersedes it. A built model is
// immutable, so any thread may ask it for maps; a change of metric, threshold
// or filter only combines the cached per-access-point levels again.
//
// Where the survey's building has walls, each access point's map loses the
// loss of every wall between its source and the cell, each material's loss
// calibrated on the survey (see field_model.h).
//
// Cells farther than the radius from every survey point have no value, and
// an access point's interpolated level never exceeds the strongest level
// measured for it by more than kCeilingMarginDb, unless its source is placed
// or confidently located: then the fall-off fitted towards it is trusted up
// to its level at the source. The maps show no coverage nobody measured.
// Output is the same for any number of threads.
#pragma once

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "coverage/noise_map.h"
#include "coverage/radios.h"
#include "coverage/survey.h"

namespace coverage {

// Interpolation methods. kIdw is inverse-distance weighting (power 2) over
// every point, the common method of survey programs, kept as the baseline.
// kKriging is ordinary kriging (a Gaussian-process regression with a constant
// mean estimated from the data): a Matern 3/2 covariance whose length scale
// and measurement noise (up to 2 dB) are fitted to each access point's own
// readings by restricted maximum likelihood, so it smooths noise instead of
// drawing a spot at every reading. kPathLoss is regression kriging: each
// access point's source position, level and path-loss exponent are fitted to
// its readings (a log-distance fall-off), and what that trend misses (walls,
// shadowing) is kriged as above; an access point heard at fewer than four
// positions, or whose readings do not fall off like a source's, is kriged
// without a trend.
enum class Method { kIdw, kKriging, kPathLoss };
// The most accurate method of bench/heatmap's table.
constexpr Method kDefaultMethod = Method::kPathLoss;
// How far above the strongest level measured for an access point a map may
// show it: the fall-off towards a source nobody stood next to may lift the
// map above the strongest reading by as much as a reading's own noise (the
// most kriging assumes), never more.
constexpr double kCeilingMarginDb = 2;
// A fitted source is confident when it is uncertain by no more than this
// (metres; 20 pixels a metre on a plan without scale).
constexpr double kConfidentSourceMetres = 2;
constexpr double kAssumedPixelsPerMetre = 20;
const char* MethodName(Method method);
bool ParseMethod(const std::string& name, Method& out);
std::vector<Method> AllMethods();

// Metrics over radios (see radios.h): the strongest radio's level, the
// second strongest radio's, how many radios reach a threshold, how many of
// those share the strongest one's channel, and the strongest level less the
// noise of its channel (kSnr, where noise was measured).
enum class Metric { kStrongest, kSecond, kCount, kCochannel, kSnr };
const char* MetricName(Metric metric);
bool ParseMetric(const std::string& name, Metric& out);
// "strongest, second, count, cochannel or snr", for messages.
std::string MetricNames();
// kStrongest and kSecond are levels in dBm, kSnr is in dB; the others count radios.
inline bool IsLevelMetric(Metric metric) {
    return metric == Metric::kStrongest || metric == Metric::kSecond;
}
inline bool IsCountMetric(Metric metric) {
    return metric == Metric::kCount || metric == Metric::kCochannel;
}

// The map divided into square cells of `cell` pixels, row by row from the
// top left; the last column and row may be cut by the map's edge. A pixel
// (x, y) is the point (x, y), so a cell's centre is the middle of its pixels.
struct GridSpec {
    int mapWidth = 0;
    int mapHeight = 0;
    int cell = 4;        // pixels
    double radius = 64;  // pixels from the nearest survey point

    int Cols() const { return mapWidth <= 0 || cell <= 0 ? 0 : (mapWidth + cell - 1) / cell; }
    int Rows() const { return mapHeight <= 0 || cell <= 0 ? 0 : (mapHeight + cell - 1) / cell; }
    double CentreX(int col) const { return Centre(col, mapWidth); }
    double CentreY(int row) const { return Centre(row, mapHeight); }

  private:
    double Centre(int i, int extent) const {
        const int first = i * cell;
        const int last = std::min(first + cell, extent) - 1;
        return (first + last) / 2.0;
    }
};

// The grid a map gets when nothing else is asked for: 4-pixel cells, and a
// reach of 5 m from the survey points where the map's scale is known, else
// 64 pixels. ksf heatmap, check and report use it; a window that draws the
// same verdicts as check builds its model on it too.
constexpr int kDefaultCell = 4;
constexpr double kDefaultRadiusPixels = 64;
constexpr double kDefaultRadiusMetres = 5;
GridSpec DefaultGridSpec(int mapWidth, int mapHeight, std::optional<double> pixelsPerMetre);

// Limits that keep a wrong option from exhausting the machine.
constexpr int64_t kMaxCells = 64ll * 1024 * 1024;
constexpr int64_t kMaxCellLevels = 64ll * 1024 * 1024;  // cells with a value x access points
// The largest survey a model is built from, checked before anything is
// allocated for it: its positions (survey points at one place count once)
// and its positions x access points, the levels it holds. Kriging grows
// about linearly with the positions past kMaxExactPositions (see
// BuildOptions::exactPositions); inverse-distance weighting looks at every
// position from every cell, so it grows with cells x positions.
constexpr size_t kMaxPositions = 30000;
// Up to this many positions kriging solves one system over all of them;
// beyond, each block of cells is kriged from its nearest positions.
constexpr size_t kMaxExactPositions = 300;
// The most walls a model takes in: each costs a crossing test per survey
// position and per row of cells, for every access point (about a
// millisecond each for an office-sized survey).
constexpr size_t kMaxModelWalls = 5000;
constexpr int64_t kMaxSampleLevels = 16ll * 1024 * 1024;

// False with a one-line reason naming the bound when the survey is larger.
bool CheckSurveySize(const Survey& survey, std::string& error);

// False with a one-line reason when the grid cannot be built: no map, a cell
// below 1 pixel, a radius that is negative or not a number, too many cells.
bool CheckGridSpec(const GridSpec& spec, std::string& error);

// Which access points (BSSIDs) a map is about. Each kind given must match:
// an access point is selected when its SSID is one of `ssids` (if any are
// given), its BSSID one of `bssids` (if any), its channel one of `channels`
// (if any) and its band one of `bands` (if any).
struct ApFilter {
    std::vector<std::string> ssids;  // bytes as heard, or their text as printed
    std::vector<Bssid> bssids;
    std::vector<int> channels;
    std::vector<channels::Band> bands;

    bool Selects(const AccessPoint& ap) const;
    bool Empty() const {
        return ssids.empty() && bssids.empty() && channels.empty() && bands.empty();
    }
};

struct MapRequest {
    MapRequest() = default;
    explicit MapRequest(Metric m, double dbm = -67, ApFilter only = {})
        : metric(m), threshold(dbm), filter(std::move(only)) {}

    Metric metric = Metric::kStrongest;
    double threshold = -67;  // dBm, for kCount and kCochannel
    ApFilter filter;
};

// One value per cell, row by row; NaN for a cell with no value. kStrongest
// and kSecond are in dBm (kNotHeardDbm when fewer radios are selected),
// kCount and kCochannel are whole numbers, kSnr is in dB (NaN also where
// the strongest radio's channel had its noise measured nowhere).
struct Grid {
    GridSpec spec;
    Metric metric = Metric::kStrongest;
    std::vector<float> values;

    bool HasValue(int col, int row) const { return !std::isnan(At(col, row)); }
    float At(int col, int row) const {
        return values[static_cast<size_t>(row) * spec.Cols() + col];
    }
};

// How well the method predicts the survey from itself: each survey position
// is left out in turn and its levels predicted from the others.
struct LeaveOneOut {
    size_t positions = 0;
    double levelRmse = 0;      // every access point's level, dB
    double strongestRmse = 0;  // the strongest level at the position, dB
};

// How far a build has come, for a window to show: the fit of the access
// points (no figure: it ends all at once), then the cells, `done` of 1.
enum class BuildStage { kFitting, kCells };
using BuildProgress = std::function<void(BuildStage stage, double done)>;

struct BuildOptions {
    Method method = kDefaultMethod;
    unsigned threads = 0;                       // 0: one per core
    const ApFilter* only = nullptr;             // interpolate only these (all by default)
    const std::atomic<bool>* cancel = nullptr;  // set it to abandon the build
    // Kriging over more positions than this krige each block of cells from
    // its nearest positions instead of from all of them (0: always).
    size_t exactPositions = kMaxExactPositions;
    // Told of the stages and of every whole percent of the cells, from the
    // building threads; none when empty.
    BuildProgress progress;
};

class FieldModel;
struct SourceFit;

// Where an access point is, as a map may draw it: placed on the plan, or
// estimated from the survey (the source of its fall-off, fitted with the
// walls in the fit) with how far it may be from there.
struct SourceEstimate {
    bool located = false;  // x and y hold a place
    bool placed = false;
    double x = 0;  // map pixels
    double y = 0;
    double uncertainty = 0;  // map pixels (0 for a placed one)
};

// An estimate as uncertain as a quarter of the plan's diagonal (map pixels)
// says nothing of where the access point hangs (one heard faintly from
// outside, say): maps leave it out.
inline bool TooVagueToDraw(double uncertainty, int mapWidth, int mapHeight) {
    return uncertainty > 0.25 * std::hypot(mapWidth, mapHeight);
}

// The places a map marks, as indices of `sources` (the model's access
// points' order): the placed ones, and the estimates not too vague to draw
// of access points heard at kMinPositionsToLocate positions or more, among
// those `only` selects. Estimates within each other's uncertainty are one box
// (an access point's radios on 2.4, 5 and 6 GHz, or its BSSIDs of one radio):
// one mark a box, at its surest estimate, listing its members surest first.
std::vector<std::vector<size_t>> MarkedPlaces(const std::vector<AccessPoint>& aps,
                                              const std::vector<SourceEstimate>& sources,
                                              int mapWidth, int mapHeight,
                                              const ApFilter* only = nullptr);

// Access points whose place is estimated have been heard at this many
// positions at least.
constexpr int kMinPositionsToLocate = 3;

// The place of every access point of the survey (in the order of
// PrepareSamples(survey).aps: by BSSID), with the survey's walls and placed
// access points as the survey's building gives them.
std::vector<SourceEstimate> LocateAccessPoints(const Survey& survey, unsigned threads = 0);

class CoverageModel {
  public:
    // Fits and interpolates every access point (or those options.only
    // selects) over the grid's cells within the radius. Null with a one-line
    // reason when the grid or the survey is refused (before the work
    // starts), and with "cancelled" when abandoned.
    static std::shared_ptr<const CoverageModel> Build(const Survey& survey, const GridSpec& spec,
                                                      const BuildOptions& options,
                                                      std::string& error);
    ~CoverageModel();
    CoverageModel(const CoverageModel&) = delete;
    CoverageModel& operator=(const CoverageModel&) = delete;

    const GridSpec& Spec() const { return m_spec; }
    Method GetMethod() const { return m_method; }
    // The access points interpolated, ordered by BSSID, and their radios.
    const std::vector<AccessPoint>& AccessPoints() const { return m_aps; }
    const RadioSet& Radios() const { return m_radios; }
    // The noise the survey measured.
    const NoiseMap& Noise() const { return m_noise; }
    // Survey positions (survey points at one place count once).
    size_t Positions() const { return m_positions; }
    // Cells within the radius of a survey point.
    size_t CellsWithValue() const { return m_cells.size(); }

    // The metric over the access points the request's filter selects (among
    // those interpolated); cheap next to Build.
    Grid Map(const MapRequest& request) const;
    // One access point's interpolated level at any map position, ignoring the
    // radius (for tests and tools); the cells hold the same values.
    double LevelAt(size_t ap, double x, double y) const;
    const LeaveOneOut& LeaveOneOutError() const { return m_leaveOneOut; }
    // Each access point's place (as AccessPoints() orders them) where the
    // method located it: always with walls or the path-loss method.
    const std::vector<SourceEstimate>& Sources() const { return m_sources; }
    // The walls the model took in, and each material's loss of one crossing
    // at 2.4, 5 and 6 GHz as the survey calibrated it (empty without walls).
    const std::vector<WallSegment>& Walls() const { return m_walls; }
    const std::vector<std::array<double, 3>>& MaterialLossDb() const { return m_materialLoss; }

  private:
    CoverageModel() = default;

    GridSpec m_spec;
    Method m_method = kDefaultMethod;
    unsigned m_threads = 1;
    size_t m_positions = 0;
    std::vector<AccessPoint> m_aps;
    RadioSet m_radios;
    NoiseMap m_noise;
    std::vector<double> m_ceiling;  // each access point's strongest level at a position
    std::vector<uint32_t> m_cells;  // indices (row * cols + col) of the cells with a value
    std::vector<float> m_levels;    // m_cells.size() x m_aps.size(), cell by cell
    std::unique_ptr<FieldModel> m_field;
    LeaveOneOut m_leaveOneOut;
    std::vector<SourceEstimate> m_sources;
    std::vector<WallSegment> m_walls;
    std::vector<std::array<double, 3>> m_materialLoss;
    std::vector<std::vector<double>> m_wallLoss;  // per access point: each wall's loss; empty: none
};

}  // namespace coverage
