// The interpolation methods behind CoverageModel: a fitted model of some
// access points' levels over the map plane.
#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <memory>
#include <vector>

#include "coverage/coverage_map.h"
#include "coverage/survey.h"

namespace coverage {

class FieldModel {
  public:
    virtual ~FieldModel() = default;

    // The levels of the fitted access points at `count` positions:
    // out[i * ApCount() + a], in dBm, not yet limited to any range. The value
    // at a position does not depend on the thread asking.
    virtual void Predict(const double* x, const double* y, size_t count, double* out) const = 0;

    // For every survey position, the levels predicted from all the other
    // positions: out[p * ApCount() + a].
    virtual std::vector<double> LeaveOneOutLevels() const = 0;

    // Readies the model for predictions at these positions (the cells of a
    // map), on up to `threads` threads; false once `cancel` stopped it.
    // Predict answers the same with or without it, only slower without.
    virtual bool Prepare(const double* x, const double* y, size_t count, unsigned threads,
                         const std::atomic<bool>* cancel) {
        (void)x, (void)y, (void)count, (void)threads, (void)cancel;
        return true;
    }

    size_t ApCount() const { return m_apCount; }

  protected:
    explicit FieldModel(size_t apCount) : m_apCount(apCount) {}

  private:
    size_t m_apCount;
};

// Fits the access points `aps` (indices into samples.aps) of the samples.
// Kriging uses up to `threads` threads and stops early (answering null) once
// `cancel` is set; over more than `exactPositions` positions it is local
// (see BuildOptions::exactPositions).
std::unique_ptr<FieldModel> FitIdw(const SiteSamples& samples, const std::vector<size_t>& aps);
std::unique_ptr<FieldModel> FitKriging(const SiteSamples& samples, const std::vector<size_t>& aps,
                                       unsigned threads, const std::atomic<bool>* cancel,
                                       size_t exactPositions = kMaxExactPositions);

// Where one access point's signal comes from and how it falls off: the
// log-distance trend
//   level = p0 - 10 n log10(sqrt(d^2 + h^2) / h) - (loss of the walls crossed)
// fitted to its readings (h a short offset that keeps it finite at the
// source).
struct SourceFit {
    bool located = false;  // x and y hold the source: placed, or estimated
    bool placed = false;
    bool trend = false;  // p0 and exponent make a trend the readings follow
    double x = 0;        // map pixels
    double y = 0;
    double p0 = 0;  // dBm at the source
    double exponent = 0;
    // How far the source may be from (x, y): the root of the estimate's
    // variance, in map pixels; 0 for a placed one.
    double uncertainty = 0;
    std::vector<double> wallLoss;  // dB from the source to each position; empty: none
    // Where there is a trend: at each position that heard the access point,
    // the trend's level there (walls in) when fitted without it; NaN elsewhere.
    std::vector<double> leftOut;
};

// The sources of some access points and the walls' calibrated losses.
struct BuildingFit {
    std::vector<SourceFit> sources;                     // one per access point asked for
    std::vector<std::array<double, 3>> materialLossDb;  // per material: 2.4, 5, 6 GHz
    // The loss of one crossing of each wall on the band.
    std::vector<double> WallLosses(const std::vector<WallSegment>& walls,
                                   channels::Band band) const;
};

// Locates the access points `aps` (indices into samples.aps): a placed one
// is where it was placed, the others' sources are fitted, each on its own,
// with the walls' loss in the fit; with walls, each material's loss is then
// calibrated on all of them together, and the sources fitted again with it.
// `cancelled` tells whether `cancel` stopped it.
BuildingFit FitSources(const SiteSamples& samples, const std::vector<size_t>& aps,
                       const Building& building, unsigned threads, const std::atomic<bool>* cancel,
                       bool& cancelled);

// The samples with the walls' loss from each located source (one per
// access point of `aps`) added back to that access point's levels: the
// levels as if no wall stood between. Every method interpolates these; a map
// takes the walls' loss off again at each cell.
SiteSamples WithoutWalls(const SiteSamples& samples, const std::vector<size_t>& aps,
                         const std::vector<SourceFit>& sources);

// Regression kriging: each access point's trend from its source (one per
// access point of `aps`, in order), its residuals kriged. Like every model
// here it predicts the levels without the walls (see WithoutWalls), its
// leave-one-out levels too.
std::unique_ptr<FieldModel> FitTrendKriging(const SiteSamples& samples,
                                            const std::vector<size_t>& aps,
                                            const std::vector<SourceFit>& sources, unsigned threads,
                                            const std::atomic<bool>* cancel,
                                            size_t exactPositions = kMaxExactPositions);

}  // namespace coverage
