// The interpolation methods behind CoverageModel: a fitted model of some
// access points' levels over the map plane.
#pragma once

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

    size_t ApCount() const { return m_apCount; }

  protected:
    explicit FieldModel(size_t apCount) : m_apCount(apCount) {}

  private:
    size_t m_apCount;
};

// Fits the access points `aps` (indices into samples.aps) of the samples.
// Kriging uses up to `threads` threads and stops early (answering null) once
// `cancel` is set.
std::unique_ptr<FieldModel> FitIdw(const SiteSamples& samples, const std::vector<size_t>& aps);
std::unique_ptr<FieldModel> FitKriging(const SiteSamples& samples, const std::vector<size_t>& aps,
                                       unsigned threads, const std::atomic<bool>* cancel);
// Regression kriging: a log-distance trend from a fitted source per access
// point, its residuals kriged.
std::unique_ptr<FieldModel> FitTrendKriging(const SiteSamples& samples,
                                            const std::vector<size_t>& aps, unsigned threads,
                                            const std::atomic<bool>* cancel);

}  // namespace coverage
