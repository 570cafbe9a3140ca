#include "coverage/field_model.h"

#include <Eigen/Dense>
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <numeric>
#include <unordered_map>
#include <unsupported/Eigen/NonLinearOptimization>

#include "coverage/parallel.h"
#include "coverage/walls.h"

namespace coverage {

namespace {

using Eigen::ArrayXd;
using Eigen::ArrayXXd;
using Eigen::MatrixXd;
using Eigen::VectorXd;

// A position closer than this to a survey position (squared pixels) is that
// position.
constexpr double kSamePlace2 = 1e-12;

// The survey levels of the chosen access points: positions x access points.
MatrixXd LevelMatrix(const SiteSamples& s, const std::vector<size_t>& aps) {
    MatrixXd y(s.Positions(), aps.size());
    for (size_t p = 0; p < s.Positions(); ++p) {
        for (size_t a = 0; a < aps.size(); ++a) {
            y(p, a) = s.Level(p, aps[a]);
        }
    }
    return y;
}

// Squared distances from `count` positions (rows) to the survey positions.
ArrayXXd SquaredDistances(const double* x, const double* y, size_t count, const ArrayXd& px,
                          const ArrayXd& py) {
    const Eigen::Map<const ArrayXd> qx(x, static_cast<Eigen::Index>(count));
    const Eigen::Map<const ArrayXd> qy(y, static_cast<Eigen::Index>(count));
    ArrayXXd d2(count, px.size());
    for (Eigen::Index j = 0; j < px.size(); ++j) {
        d2.col(j) = (qx - px[j]).square() + (qy - py[j]).square();
    }
    return d2;
}

// ---------------------------------------------------------------------------
// Inverse-distance weighting, power 2, over every survey position.

// Positions whose leave-one-out levels are weighted together.
constexpr size_t kIdwRows = 256;

class IdwModel : public FieldModel {
  public:
    IdwModel(const SiteSamples& s, const std::vector<size_t>& aps)
        : FieldModel(aps.size()),
          m_x(Eigen::Map<const ArrayXd>(s.x.data(), static_cast<Eigen::Index>(s.Positions()))),
          m_y(Eigen::Map<const ArrayXd>(s.y.data(), static_cast<Eigen::Index>(s.Positions()))),
          m_levels(LevelMatrix(s, aps)) {}

    void Predict(const double* x, const double* y, size_t count, double* out) const override {
        const size_t apCount = ApCount();
        if (m_x.size() == 0) {
            std::fill(out, out + count * apCount, kNotHeardDbm);
            return;
        }
        const ArrayXXd d2 = SquaredDistances(x, y, count, m_x, m_y);
        MatrixXd weights = d2.max(kSamePlace2).inverse().matrix();
        for (size_t i = 0; i < count; ++i) {
            Eigen::Index nearest = 0;
            if (d2.row(i).minCoeff(&nearest) < kSamePlace2) {
                // On a survey position: its own levels, exactly.
                weights.row(i).setZero();
                weights(i, nearest) = 1;
            }
        }
        const VectorXd total = weights.rowwise().sum();
        const MatrixXd sums = weights * m_levels;
        for (size_t i = 0; i < count; ++i) {
            for (size_t a = 0; a < apCount; ++a) {
                out[i * apCount + a] = sums(i, a) / total(i);
            }
        }
    }

    std::vector<double> LeaveOneOutLevels() const override {
        const size_t n = m_x.size();
        const size_t apCount = ApCount();
        std::vector<double> out(n * apCount, kNotHeardDbm);
        if (n < 2) {
            return out;
        }
        // A few rows at a time: the whole matrix would be positions squared.
        for (size_t first = 0; first < n; first += kIdwRows) {
            const size_t rows = std::min(kIdwRows, n - first);
            const ArrayXXd d2 =
                SquaredDistances(m_x.data() + first, m_y.data() + first, rows, m_x, m_y);
            MatrixXd weights = d2.max(kSamePlace2).inverse().matrix();
            for (size_t i = 0; i < rows; ++i) {
                weights(static_cast<Eigen::Index>(i), static_cast<Eigen::Index>(first + i)) = 0;
            }
            const VectorXd total = weights.rowwise().sum();
            const MatrixXd sums = weights * m_levels;
            for (size_t i = 0; i < rows; ++i) {
                const Eigen::Index r = static_cast<Eigen::Index>(i);
                for (size_t a = 0; a < apCount; ++a) {
                    out[(first + i) * apCount + a] =
                        sums(r, static_cast<Eigen::Index>(a)) / total(r);
                }
            }
        }
        return out;
    }

  private:
    ArrayXd m_x;
    ArrayXd m_y;
    MatrixXd m_levels;
};

// ---------------------------------------------------------------------------
// Ordinary kriging with a Matern 3/2 covariance, fitted per access point.
//
// With unit signal variance, correlation matrix C (length scale l) and noise
// ratio lambda, the readings y at positions holding w survey points each have
// covariance sigma^2 (C + lambda W^-1). Writing W^1/2 C W^1/2 = U diag(v) U',
// every quantity the fit needs is a sum over the spectrum v + lambda, so one
// eigendecomposition per length scale serves every noise ratio and every
// access point. Eigen's solver copes with any positions: coincident ones are
// merged before, collinear ones only make some eigenvalues small, and lambda
// keeps them away from zero.

constexpr double kSqrt3 = 1.7320508075688772;

ArrayXXd Matern32(const ArrayXXd& distance, double length) {
    const ArrayXXd s = distance * (kSqrt3 / length);
    return (1 + s) * (-s).exp();
}

// The measurement noise a fit may assume, at most (standard deviation, dB).
// Readings are averages over a sweep; a fit that put more of them down to
// noise would smooth a survey point's own reading away, and the map would
// disagree with the point's colour.
constexpr double kMaxNoiseDb = 2;
// Noise ratios searched (noise variance over signal variance).
constexpr double kMinNoiseRatio = 1e-5;
constexpr double kMaxNoiseRatio = 10;
constexpr int kNoiseGridSteps = 25;
// Length scales searched: multiples of the typical spacing of the survey.
constexpr int kLengthCandidates = 7;
// The fit looks at no more positions than this (a spread subset beyond).
constexpr size_t kMaxFitPositions = 300;

// One length scale's spectrum over a set of positions.
struct Spectrum {
    double length = 0;
    VectorXd values;   // eigenvalues, no smaller than zero
    MatrixXd vectors;  // columns: eigenvectors
    VectorXd ones;     // U' W^1/2 1
    MatrixXd centred;  // U' W^1/2 (Y - mean), one column per access point
};

Spectrum Decompose(const ArrayXXd& distance, const VectorXd& rootWeights, double length,
                   const MatrixXd& centredLevels) {
    Spectrum s;
    s.length = length;
    const MatrixXd c =
        rootWeights.asDiagonal() * Matern32(distance, length).matrix() * rootWeights.asDiagonal();
    Eigen::SelfAdjointEigenSolver<MatrixXd> solver(c);
    s.values = solver.eigenvalues().cwiseMax(0.0);
    s.vectors = solver.eigenvectors();
    s.ones = s.vectors.transpose() * rootWeights;
    s.centred = s.vectors.transpose() * (rootWeights.asDiagonal() * centredLevels);
    return s;
}

// Twice the negative restricted log-likelihood of one access point (column a
// of the spectrum) at noise ratio lambda, constants dropped; infinite where
// the noise would exceed kMaxNoiseDb.
double Objective(const Spectrum& s, Eigen::Index a, double lambda) {
    const ArrayXd d = s.values.array() + lambda;
    const ArrayXd z = s.centred.col(a).array();
    const ArrayXd u = s.ones.array();
    const double sum = (u.square() / d).sum();
    const double cross = (u * z / d).sum();
    const double quad = (z.square() / d).sum() - cross * cross / sum;
    const double n = static_cast<double>(d.size());
    // The noise variance is lambda times the signal variance's estimate.
    if (!(quad > 0) || !(sum > 0) || lambda * quad / (n - 1) > kMaxNoiseDb * kMaxNoiseDb) {
        return std::numeric_limits<double>::infinity();
    }
    return (n - 1) * std::log(quad) + d.log().sum() + std::log(sum);
}

struct ApFit {
    bool flat = false;  // a constant level: every reading the same
    double mean = 0;
    int length = 0;  // index of the length scale
    double lambda = 1;
};

// The best noise ratio for one access point at one length scale: the grid's
// best, refined by golden-section search between its neighbours.
std::pair<double, double> BestNoise(const Spectrum& s, Eigen::Index a) {
    const double logMin = std::log(kMinNoiseRatio);
    const double step = (std::log(kMaxNoiseRatio) - logMin) / (kNoiseGridSteps - 1);
    int best = 0;
    double bestValue = std::numeric_limits<double>::infinity();
    for (int i = 0; i < kNoiseGridSteps; ++i) {
        const double value = Objective(s, a, std::exp(logMin + i * step));
        if (value < bestValue) {
            bestValue = value;
            best = i;
        }
    }
    if (!std::isfinite(bestValue)) {
        return {bestValue, 1.0};
    }
    double lo = logMin + std::max(0, best - 1) * step;
    double hi = logMin + std::min(kNoiseGridSteps - 1, best + 1) * step;
    const double g = 0.6180339887498949;
    double c = hi - g * (hi - lo), d = lo + g * (hi - lo);
    double fc = Objective(s, a, std::exp(c)), fd = Objective(s, a, std::exp(d));
    for (int i = 0; i < 24; ++i) {
        if (fc < fd) {
            hi = d;
            d = c;
            fd = fc;
            c = hi - g * (hi - lo);
            fc = Objective(s, a, std::exp(c));
        } else {
            lo = c;
            c = d;
            fc = fd;
            d = lo + g * (hi - lo);
            fd = Objective(s, a, std::exp(d));
        }
    }
    const double refined = std::exp((lo + hi) / 2);
    const double refinedValue = Objective(s, a, refined);
    if (refinedValue < bestValue) {
        return {refinedValue, refined};
    }
    return {bestValue, std::exp(logMin + best * step)};
}

// Positions the fit looks at: all of them, or an even spread of the survey's
// order (a walk through the site) when there are more than kMaxFitPositions.
std::vector<size_t> FitSubset(size_t n) {
    std::vector<size_t> subset;
    if (n <= kMaxFitPositions) {
        subset.resize(n);
        std::iota(subset.begin(), subset.end(), 0);
        return subset;
    }
    for (size_t i = 0; i < kMaxFitPositions; ++i) {
        subset.push_back(i * n / kMaxFitPositions);
    }
    return subset;
}

// Length scales to try: from half the median nearest-neighbour spacing up,
// doubling, no farther than twice the survey's extent.
std::vector<double> LengthCandidates(const ArrayXXd& distance) {
    const Eigen::Index n = distance.rows();
    std::vector<double> nearest(n);
    for (Eigen::Index i = 0; i < n; ++i) {
        double best = std::numeric_limits<double>::infinity();
        for (Eigen::Index j = 0; j < n; ++j) {
            if (j != i) {
                best = std::min(best, distance(i, j));
            }
        }
        nearest[i] = best;
    }
    std::nth_element(nearest.begin(), nearest.begin() + n / 2, nearest.end());
    const double spacing = nearest[n / 2];
    const double extent = distance.maxCoeff();
    std::vector<double> lengths;
    for (int k = 0; k < kLengthCandidates; ++k) {
        const double length = std::ldexp(spacing, k - 1);
        if (k > 1 && length > 2 * extent) {
            break;
        }
        lengths.push_back(length);
    }
    return lengths;
}

class KrigingModel : public FieldModel {
  public:
    // A group of access points sharing a length scale.
    struct Group {
        int lengthIndex = 0;  // among the candidates, each twice the one before
        double length = 0;
        MatrixXd weights;            // positions x access points of the group
        VectorXd means;              // their constant means
        std::vector<size_t> column;  // each one's place in the output
    };

    KrigingModel(size_t apCount, ArrayXd x, ArrayXd y)
        : FieldModel(apCount), m_x(std::move(x)), m_y(std::move(y)) {}

    void Predict(const double* x, const double* y, size_t count, double* out) const override {
        const size_t apCount = ApCount();
        for (const auto& [column, level] : m_flat) {
            for (size_t i = 0; i < count; ++i) {
                out[i * apCount + column] = level;
            }
        }
        if (m_groups.empty()) {
            return;
        }
        const ArrayXXd distance = SquaredDistances(x, y, count, m_x, m_y).sqrt();
        // Each length scale is half the next, so its exponential is the
        // square of the next one's: one exp() per distance, the rest are
        // products.
        ArrayXXd decay;
        int current = -1;
        for (auto g = m_groups.rbegin(); g != m_groups.rend(); ++g) {
            const double scale = kSqrt3 / g->length;
            if (current < 0) {
                decay = (distance * -scale).exp();
            }
            for (; current > g->lengthIndex; --current) {
                decay = decay.square();
            }
            current = g->lengthIndex;
            const MatrixXd levels = ((1 + distance * scale) * decay).matrix() * g->weights;
            for (size_t i = 0; i < count; ++i) {
                for (size_t k = 0; k < g->column.size(); ++k) {
                    out[i * apCount + g->column[k]] = g->means[k] + levels(i, k);
                }
            }
        }
    }

    std::vector<double> LeaveOneOutLevels() const override { return m_leaveOneOut; }

    std::vector<Group> m_groups;
    std::vector<std::pair<size_t, double>> m_flat;  // output column, level
    std::vector<double> m_leaveOneOut;

  private:
    ArrayXd m_x;
    ArrayXd m_y;
};

// ---------------------------------------------------------------------------
// Local kriging, for surveys of more than kMaxExactPositions positions.
//
// One system over every position costs the cube of their number in time and
// the square in memory. Beyond the bound each cell is kriged from a fixed
// number of positions near it instead (a moving neighbourhood): with a
// Matern 3/2 covariance the nearest readings screen the farther ones off, so
// their weights are small and leaving them out moves the level little, while
// the work per cell stays fixed. A nearest-neighbour Gaussian process
// (Vecchia) would approximate the likelihood as well, but the fit already
// looks at a spread subset of kMaxFitPositions positions, so only the
// prediction has to scale, and conditioning each prediction on readings near
// it is local kriging, with no approximate factor to keep.
//
// Screening is weakest where the fitted length scale is long beside the
// spacing and the readings noisy: the exact model then averages the noise
// over many more positions than the nearest. So a neighbourhood is the
// kNeighbours nearest positions and the kFarNeighbours nearest of a sparser
// spread (every kFarStride-th position), which reach about three times as
// far for the same cost; over a survey denser than its length scale that
// takes a third off the distance from the exact model that the nearest
// alone leave.
//
// Cells share a neighbourhood by block: the plane is cut into squares of
// half the nearest neighbours' typical reach, and every cell of a square is
// kriged from the neighbourhood of its centre. One eigendecomposition per
// square and length scale then serves every access point's noise ratio, as
// in the exact model. Each cell is kriged around its access point's mean
// (simple kriging), the generalised least-squares mean of the exact model
// over every position, with the inverse of the covariance a Vecchia
// approximation needs only a few neighbours per position for (see
// EstimateMeans): the mean of the fit's subset alone left ten times the
// difference on surveys whose length scales are short. Over few enough
// positions to fall into one neighbourhood the levels are the exact
// model's. Positions are found through uniform grids of buckets. The
// squares depend on the survey alone: a level depends neither on which
// cells are asked together nor on the threads. The cost: levels jump
// slightly across the edge of two squares.

// Positions a neighbourhood takes, nearest first (see above).
constexpr size_t kNeighbours = 48;
constexpr size_t kFarNeighbours = 32;
constexpr size_t kFarStride = 8;
// A square's side, as a share of the distance that takes in kNeighbours
// positions around a typical position.
constexpr double kBlockShare = 0.5;
// Positions in a bucket of the index, on average.
constexpr double kBucketPositions = 2;
// Positions each position is conditioned on in the means' estimate, and
// positions taken together by one thread there.
constexpr size_t kMeanNeighbours = 24;
constexpr size_t kMeanChunk = 256;
// Positions whose neighbourhood sizes the squares.
constexpr size_t kReachSamples = 64;

// The positions nearest a place, through a uniform grid of buckets.
class PositionIndex {
  public:
    PositionIndex(const ArrayXd& x, const ArrayXd& y) : m_x(x), m_y(y) {
        const Eigen::Index n = x.size();
        m_x0 = x.minCoeff();
        m_y0 = y.minCoeff();
        const double w = x.maxCoeff() - m_x0, h = y.maxCoeff() - m_y0;
        m_side = std::max(1e-6, std::sqrt((w + 1) * (h + 1) * kBucketPositions / n));
        m_cols = static_cast<int>(w / m_side) + 1;
        m_rows = static_cast<int>(h / m_side) + 1;
        m_start.assign(static_cast<size_t>(m_cols) * m_rows + 1, 0);
        for (Eigen::Index i = 0; i < n; ++i) {
            ++m_start[Bucket(x[i], y[i]) + 1];
        }
        std::partial_sum(m_start.begin(), m_start.end(), m_start.begin());
        std::vector<size_t> next(m_start.begin(), m_start.end() - 1);
        m_items.resize(static_cast<size_t>(n));
        for (Eigen::Index i = 0; i < n; ++i) {
            m_items[next[Bucket(x[i], y[i])]++] = i;
        }
    }

    // The `k` positions nearest (qx, qy) (all when there are fewer), nearest
    // first, the lower index first at equal distances.
    std::vector<Eigen::Index> Nearest(double qx, double qy, size_t k) const {
        k = std::min(k, m_items.size());
        const int cx = Column(qx), cy = Row(qy);
        std::vector<std::pair<double, Eigen::Index>> found;
        const auto visit = [&](int row, int col) {
            const size_t b = static_cast<size_t>(row) * m_cols + col;
            for (size_t j = m_start[b]; j < m_start[b + 1]; ++j) {
                const Eigen::Index i = m_items[j];
                const double dx = m_x[i] - qx, dy = m_y[i] - qy;
                found.emplace_back(dx * dx + dy * dy, i);
            }
        };
        for (int r = 0;; ++r) {
            const int c0 = cx - r, c1 = cx + r, r0 = cy - r, r1 = cy + r;
            for (int row = std::max(r0, 0); row <= std::min(r1, m_rows - 1); ++row) {
                if (row == r0 || row == r1) {
                    for (int col = std::max(c0, 0); col <= std::min(c1, m_cols - 1); ++col) {
                        visit(row, col);
                    }
                    continue;
                }
                if (c0 >= 0) {
                    visit(row, c0);
                }
                if (c1 < m_cols && c1 != c0) {
                    visit(row, c1);
                }
            }
            const bool all = c0 <= 0 && r0 <= 0 && c1 >= m_cols - 1 && r1 >= m_rows - 1;
            if (all) {
                break;
            }
            if (found.size() >= k) {
                // Every position not visited is at least `bound` away.
                double bound = std::numeric_limits<double>::infinity();
                if (c0 > 0) {
                    bound = std::min(bound, qx - (m_x0 + c0 * m_side));
                }
                if (c1 < m_cols - 1) {
                    bound = std::min(bound, m_x0 + (c1 + 1) * m_side - qx);
                }
                if (r0 > 0) {
                    bound = std::min(bound, qy - (m_y0 + r0 * m_side));
                }
                if (r1 < m_rows - 1) {
                    bound = std::min(bound, m_y0 + (r1 + 1) * m_side - qy);
                }
                std::nth_element(found.begin(), found.begin() + static_cast<std::ptrdiff_t>(k - 1),
                                 found.end());
                if (bound > 0 && found[k - 1].first < bound * bound) {
                    break;
                }
            }
        }
        std::partial_sort(found.begin(), found.begin() + static_cast<std::ptrdiff_t>(k),
                          found.end());
        std::vector<Eigen::Index> out(k);
        for (size_t j = 0; j < k; ++j) {
            out[j] = found[j].second;
        }
        return out;
    }

  private:
    int Column(double x) const { return Clamp((x - m_x0) / m_side, m_cols); }
    int Row(double y) const { return Clamp((y - m_y0) / m_side, m_rows); }
    static int Clamp(double v, int count) {
        return v >= 0 ? static_cast<int>(std::min(v, static_cast<double>(count - 1))) : 0;
    }
    size_t Bucket(double x, double y) const {
        return static_cast<size_t>(Row(y)) * m_cols + Column(x);
    }

    ArrayXd m_x;
    ArrayXd m_y;
    double m_x0 = 0;
    double m_y0 = 0;
    double m_side = 1;
    int m_cols = 1;
    int m_rows = 1;
    std::vector<size_t> m_start;  // each bucket's first item, buckets row by row
    std::vector<Eigen::Index> m_items;
};

class LocalKrigingModel : public FieldModel {
  public:
    // Access points sharing a length scale.
    struct Group {
        double length = 0;
        std::vector<size_t> column;  // each one's place in the output
        VectorXd lambda;             // noise ratios
        VectorXd means;
    };

    LocalKrigingModel(size_t apCount, const ArrayXd& x, const ArrayXd& y,
                      const VectorXd& rootWeights)
        : FieldModel(apCount),
          m_x(x),
          m_y(y),
          m_rootWeights(rootWeights),
          m_index(x, y),
          m_far(Stride(x), Stride(y)) {
        // Squares of about half the reach of a neighbourhood: the median,
        // over a spread of positions, of the distance to the farthest of
        // their nearest kNeighbours.
        const size_t n = static_cast<size_t>(x.size());
        std::vector<double> reach;
        for (size_t s = 0; s < std::min(n, kReachSamples); ++s) {
            const Eigen::Index p = static_cast<Eigen::Index>(s * n / std::min(n, kReachSamples));
            const Eigen::Index far = m_index.Nearest(x[p], y[p], kNeighbours).back();
            reach.push_back(std::hypot(x[far] - x[p], y[far] - y[p]));
        }
        std::nth_element(reach.begin(), reach.begin() + reach.size() / 2, reach.end());
        m_side = std::max(1.0, kBlockShare * reach[reach.size() / 2]);
    }

    // Estimates the means over every position (unless `meansExact`: the
    // groups' means came from every position already), then solves the
    // squares holding a position and the leave-one-out levels. `levels` are
    // the readings, positions x output columns. False once cancelled.
    bool Fit(const MatrixXd& levels, std::vector<Group> groups,
             std::vector<std::pair<size_t, double>> flat, bool meansExact, unsigned threads,
             const std::atomic<bool>* cancel) {
        m_groups = std::move(groups);
        m_flat = std::move(flat);
        const size_t n = static_cast<size_t>(m_x.size());
        const size_t columns = ApCount();
        m_residuals = levels;
        for (const Group& g : m_groups) {
            for (size_t j = 0; j < g.column.size(); ++j) {
                m_residuals.col(static_cast<Eigen::Index>(g.column[j])).array() -=
                    g.means[static_cast<Eigen::Index>(j)];
            }
        }
        if (!meansExact && !EstimateMeans(threads, cancel)) {
            return false;
        }
        m_leaveOneOut.assign(n * columns, 0.0);
        for (const auto& [column, level] : m_flat) {
            for (size_t i = 0; i < n; ++i) {
                m_leaveOneOut[i * columns + column] = level;
            }
        }
        // Each position's square, and the positions of each.
        std::vector<std::pair<uint64_t, Eigen::Index>> held(n);
        for (size_t i = 0; i < n; ++i) {
            const Eigen::Index p = static_cast<Eigen::Index>(i);
            held[i] = {Key(m_x[p], m_y[p]), p};
        }
        std::sort(held.begin(), held.end());
        std::vector<size_t> firsts;
        for (size_t i = 0; i < n; ++i) {
            if (i == 0 || held[i].first != held[i - 1].first) {
                firsts.push_back(i);
            }
        }
        firsts.push_back(n);
        std::vector<Block> blocks(firsts.size() - 1);
        std::vector<std::vector<Eigen::Index>> missed(blocks.size());
        if (!ParallelFor(
                blocks.size(), threads,
                [&](size_t b) {
                    std::vector<Eigen::Index> inside;
                    for (size_t i = firsts[b]; i < firsts[b + 1]; ++i) {
                        inside.push_back(held[i].second);
                    }
                    const auto [cx, cy] = Centre(held[firsts[b]].first);
                    blocks[b] = Solve(cx, cy, &inside, &m_leaveOneOut, &missed[b]);
                },
                cancel)) {
            return false;
        }
        // A position its square's neighbourhood leaves out (a square holding
        // more than kNeighbours) is left out of its own.
        std::vector<Eigen::Index> rest;
        for (const auto& m : missed) {
            rest.insert(rest.end(), m.begin(), m.end());
        }
        if (!ParallelFor(
                rest.size(), threads,
                [&](size_t i) {
                    const std::vector<Eigen::Index> one{rest[i]};
                    Solve(m_x[rest[i]], m_y[rest[i]], &one, &m_leaveOneOut);
                },
                cancel)) {
            return false;
        }
        for (size_t b = 0; b < blocks.size(); ++b) {
            m_blocks.emplace(held[firsts[b]].first, std::move(blocks[b]));
        }
        return true;
    }

    bool Prepare(const double* x, const double* y, size_t count, unsigned threads,
                 const std::atomic<bool>* cancel) override {
        std::vector<uint64_t> keys;
        for (size_t i = 0; i < count; ++i) {
            const uint64_t key = Key(x[i], y[i]);
            if ((keys.empty() || keys.back() != key) && m_blocks.count(key) == 0) {
                keys.push_back(key);
            }
        }
        std::sort(keys.begin(), keys.end());
        keys.erase(std::unique(keys.begin(), keys.end()), keys.end());
        std::vector<Block> blocks(keys.size());
        if (!ParallelFor(
                keys.size(), threads,
                [&](size_t b) {
                    const auto [cx, cy] = Centre(keys[b]);
                    blocks[b] = Solve(cx, cy);
                },
                cancel)) {
            return false;
        }
        for (size_t b = 0; b < keys.size(); ++b) {
            m_blocks.emplace(keys[b], std::move(blocks[b]));
        }
        return true;
    }

    void Predict(const double* x, const double* y, size_t count, double* out) const override {
        const size_t apCount = ApCount();
        for (const auto& [column, level] : m_flat) {
            for (size_t i = 0; i < count; ++i) {
                out[i * apCount + column] = level;
            }
        }
        if (m_groups.empty()) {
            return;
        }
        std::vector<std::pair<uint64_t, size_t>> order(count);
        for (size_t i = 0; i < count; ++i) {
            order[i] = {Key(x[i], y[i]), i};
        }
        std::sort(order.begin(), order.end());
        for (size_t first = 0; first < count;) {
            size_t end = first + 1;
            while (end < count && order[end].first == order[first].first) {
                ++end;
            }
            Block own;
            const auto known = m_blocks.find(order[first].first);
            if (known == m_blocks.end()) {
                const auto [cx, cy] = Centre(order[first].first);
                own = Solve(cx, cy);
            }
            const Block& block = known == m_blocks.end() ? own : known->second;
            const Eigen::Index rows = static_cast<Eigen::Index>(end - first);
            const Eigen::Index k = static_cast<Eigen::Index>(block.near.size());
            ArrayXXd distance(rows, k);
            for (Eigen::Index j = 0; j < k; ++j) {
                const Eigen::Index p = block.near[static_cast<size_t>(j)];
                for (Eigen::Index r = 0; r < rows; ++r) {
                    const size_t i = order[first + static_cast<size_t>(r)].second;
                    distance(r, j) = std::hypot(x[i] - m_x[p], y[i] - m_y[p]);
                }
            }
            for (size_t g = 0; g < m_groups.size(); ++g) {
                const Group& group = m_groups[g];
                const MatrixXd levels =
                    Matern32(distance, group.length).matrix() * block.weights[g];
                for (Eigen::Index r = 0; r < rows; ++r) {
                    const size_t i = order[first + static_cast<size_t>(r)].second;
                    for (size_t m = 0; m < group.column.size(); ++m) {
                        const Eigen::Index mm = static_cast<Eigen::Index>(m);
                        out[i * apCount + group.column[m]] = group.means[mm] + levels(r, mm);
                    }
                }
            }
            first = end;
        }
    }

    std::vector<double> LeaveOneOutLevels() const override { return m_leaveOneOut; }

  private:
    // Per group, for each access point: two sums (see EstimateMeans).
    using Sums = std::vector<ArrayXXd>;

    // Each access point's mean, from where the groups hold it: its
    // generalised least-squares estimate 1' K^-1 y / 1' K^-1 1 over every
    // position, K^-1 as Vecchia's approximation B' D^-1 B has it: each
    // position conditioned on the kMeanNeighbours nearest of those before it
    // in a scattered order (those of earlier rounds of a doubling, for an
    // index per round). The residuals follow. False once cancelled.
    bool EstimateMeans(unsigned threads, const std::atomic<bool>* cancel) {
        const size_t n = static_cast<size_t>(m_x.size());
        // A scattered order: rank r holds position r * step mod n.
        size_t step = 2654435761u % n;
        while (std::gcd(step, n) != 1) {
            ++step;
        }
        std::vector<Eigen::Index> order(n);
        for (size_t r = 0; r < n; ++r) {
            order[r] = static_cast<Eigen::Index>(r * step % n);
        }
        // Chunks of ranks, each conditioned on the ranks before `known`.
        struct Chunk {
            size_t first, end, known;
        };
        std::vector<Chunk> chunks;
        std::vector<size_t> rounds;  // the ranks before each round
        for (size_t first = 0, known = 0; first < n;) {
            const size_t end =
                known == 0 ? std::min(n, kMeanNeighbours + 1) : std::min(n, 2 * first);
            for (size_t c = first; c < end; c += kMeanChunk) {
                chunks.push_back({c, std::min(end, c + kMeanChunk), known});
            }
            rounds.push_back(known);
            known = end;
            first = end;
        }
        // An index over the ranks before each round (none for the first,
        // whose positions are conditioned on those before them directly).
        std::vector<std::unique_ptr<PositionIndex>> indices(rounds.size());
        std::vector<std::vector<Eigen::Index>> members(rounds.size());
        for (size_t k = 1; k < rounds.size(); ++k) {
            members[k].assign(order.begin(),
                              order.begin() + static_cast<std::ptrdiff_t>(rounds[k]));
            ArrayXd ix(static_cast<Eigen::Index>(rounds[k])), iy(ix.size());
            for (Eigen::Index i = 0; i < ix.size(); ++i) {
                ix[i] = m_x[members[k][static_cast<size_t>(i)]];
                iy[i] = m_y[members[k][static_cast<size_t>(i)]];
            }
            indices[k] = std::make_unique<PositionIndex>(ix, iy);
        }
        std::vector<Sums> sums(chunks.size());
        if (!ParallelFor(
                chunks.size(), threads,
                [&](size_t c) {
                    const Chunk& chunk = chunks[c];
                    const size_t round = static_cast<size_t>(
                        std::find(rounds.begin(), rounds.end(), chunk.known) - rounds.begin());
                    for (const Group& g : m_groups) {
                        sums[c].push_back(
                            ArrayXXd::Zero(static_cast<Eigen::Index>(g.column.size()), 2));
                    }
                    for (size_t r = chunk.first; r < chunk.end; ++r) {
                        const Eigen::Index i = order[r];
                        std::vector<Eigen::Index> given;
                        if (round == 0) {
                            given.assign(order.begin(),
                                         order.begin() + static_cast<std::ptrdiff_t>(r));
                        } else {
                            for (Eigen::Index f :
                                 indices[round]->Nearest(m_x[i], m_y[i], kMeanNeighbours)) {
                                given.push_back(members[round][static_cast<size_t>(f)]);
                            }
                        }
                        Condition(i, given, sums[c]);
                    }
                },
                cancel)) {
            return false;
        }
        for (size_t g = 0; g < m_groups.size(); ++g) {
            Group& group = m_groups[g];
            ArrayXXd total = ArrayXXd::Zero(static_cast<Eigen::Index>(group.column.size()), 2);
            for (const Sums& part : sums) {
                total += part[g];
            }
            for (size_t j = 0; j < group.column.size(); ++j) {
                const Eigen::Index jj = static_cast<Eigen::Index>(j);
                const double shift = total(jj, 1) > 0 ? total(jj, 0) / total(jj, 1) : 0.0;
                group.means[jj] += shift;
                m_residuals.col(static_cast<Eigen::Index>(group.column[j])).array() -= shift;
            }
        }
        return true;
    }

    // Position i's term of 1' B' D^-1 B r and 1' B' D^-1 B 1, conditioned on
    // the positions `given`, for every access point of every group.
    void Condition(Eigen::Index i, const std::vector<Eigen::Index>& given, Sums& sums) const {
        const Eigen::Index q = static_cast<Eigen::Index>(given.size());
        ArrayXd gx(q), gy(q);
        VectorXd w(q);
        ArrayXXd toI(q, 1);
        for (Eigen::Index j = 0; j < q; ++j) {
            const Eigen::Index p = given[static_cast<size_t>(j)];
            gx[j] = m_x[p];
            gy[j] = m_y[p];
            w[j] = m_rootWeights[p];
            toI(j, 0) = std::hypot(m_x[p] - m_x[i], m_y[p] - m_y[i]);
        }
        const ArrayXXd distance = SquaredDistances(gx.data(), gy.data(), q, gx, gy).sqrt();
        const double wi = m_rootWeights[i] * m_rootWeights[i];
        for (size_t g = 0; g < m_groups.size(); ++g) {
            const Group& group = m_groups[g];
            const Eigen::Index members = static_cast<Eigen::Index>(group.column.size());
            MatrixXd rn(q, members);
            VectorXd ri(members);
            for (Eigen::Index m = 0; m < members; ++m) {
                const Eigen::Index column =
                    static_cast<Eigen::Index>(group.column[static_cast<size_t>(m)]);
                ri[m] = m_residuals(i, column);
                for (Eigen::Index j = 0; j < q; ++j) {
                    rn(j, m) = m_residuals(given[static_cast<size_t>(j)], column);
                }
            }
            if (q == 0) {
                for (Eigen::Index m = 0; m < members; ++m) {
                    const double d = 1 + group.lambda[m] / wi;
                    sums[g](m, 0) += ri[m] / d;
                    sums[g](m, 1) += 1 / d;
                }
                continue;
            }
            const MatrixXd c =
                w.asDiagonal() * Matern32(distance, group.length).matrix() * w.asDiagonal();
            const Eigen::SelfAdjointEigenSolver<MatrixXd> solver(c);
            const VectorXd values = solver.eigenvalues().cwiseMax(0.0);
            const MatrixXd& vectors = solver.eigenvectors();
            const VectorXd k = Matern32(toI, group.length).matrix();
            const ArrayXd uk = vectors.transpose() * (w.asDiagonal() * k);
            for (Eigen::Index m = 0; m < members; ++m) {
                const ArrayXd d = values.array() + group.lambda[m];
                // b = K_NN^-1 k: the weights of the given positions.
                const VectorXd b = w.asDiagonal() * (vectors * (uk / d).matrix());
                const double variance = 1 + group.lambda[m] / wi - k.dot(b);
                if (!(variance > 0)) {
                    continue;
                }
                const double a = 1 - b.sum();
                sums[g](m, 0) += a * (ri[m] - b.dot(rn.col(m))) / variance;
                sums[g](m, 1) += a * a / variance;
            }
        }
    }

    // A square's neighbourhood and, for each group, the kriging weights of
    // its positions: neighbours x access points of the group.
    struct Block {
        std::vector<Eigen::Index> near;
        std::vector<MatrixXd> weights;
    };

    // The square holding (x, y), as one number.
    uint64_t Key(double x, double y) const {
        const auto index = [&](double v) {
            const double i = std::floor(v / m_side);
            const double limit = 1 << 30;
            return static_cast<uint32_t>(
                static_cast<int32_t>(std::isfinite(i) ? std::clamp(i, -limit, limit) : 0.0));
        };
        return static_cast<uint64_t>(index(x)) << 32 | index(y);
    }
    std::pair<double, double> Centre(uint64_t key) const {
        const double col = static_cast<int32_t>(static_cast<uint32_t>(key >> 32));
        const double row = static_cast<int32_t>(static_cast<uint32_t>(key & 0xffffffffu));
        return {(col + 0.5) * m_side, (row + 0.5) * m_side};
    }

    // The weights of the positions nearest (cx, cy). With `leftOut`, also
    // each of those positions' leave-one-out levels (from the others of the
    // neighbourhood) into `leaveOneOut`; those it does not hold go to `missed`.
    Block Solve(double cx, double cy, const std::vector<Eigen::Index>* leftOut = nullptr,
                std::vector<double>* leaveOneOut = nullptr,
                std::vector<Eigen::Index>* missed = nullptr) const {
        Block block;
        block.near = m_index.Nearest(cx, cy, kNeighbours);
        const size_t nearest = block.near.size();
        for (Eigen::Index f : m_far.Nearest(cx, cy, kFarNeighbours)) {
            const Eigen::Index p = f * static_cast<Eigen::Index>(kFarStride);
            if (std::find(block.near.begin(), block.near.begin() + nearest, p) ==
                block.near.begin() + nearest) {
                block.near.push_back(p);
            }
        }
        const Eigen::Index k = static_cast<Eigen::Index>(block.near.size());
        ArrayXd nx(k), ny(k);
        VectorXd w(k);
        for (Eigen::Index j = 0; j < k; ++j) {
            const Eigen::Index p = block.near[static_cast<size_t>(j)];
            nx[j] = m_x[p];
            ny[j] = m_y[p];
            w[j] = m_rootWeights[p];
        }
        const ArrayXXd distance = SquaredDistances(nx.data(), ny.data(), k, nx, ny).sqrt();
        // Where each position left out sits in the neighbourhood.
        std::vector<std::pair<Eigen::Index, Eigen::Index>> out;  // position, index
        if (leftOut != nullptr) {
            for (Eigen::Index p : *leftOut) {
                const auto at = std::find(block.near.begin(), block.near.end(), p);
                if (at != block.near.end()) {
                    out.emplace_back(p, static_cast<Eigen::Index>(at - block.near.begin()));
                } else if (missed != nullptr) {
                    missed->push_back(p);
                }
            }
        }
        const size_t columns = ApCount();
        for (const Group& g : m_groups) {
            const MatrixXd c =
                w.asDiagonal() * Matern32(distance, g.length).matrix() * w.asDiagonal();
            const Eigen::SelfAdjointEigenSolver<MatrixXd> solver(c);
            const VectorXd values = solver.eigenvalues().cwiseMax(0.0);
            const MatrixXd& vectors = solver.eigenvectors();
            const Eigen::Index members = static_cast<Eigen::Index>(g.column.size());
            MatrixXd r(k, members);
            for (Eigen::Index m = 0; m < members; ++m) {
                const Eigen::Index column =
                    static_cast<Eigen::Index>(g.column[static_cast<size_t>(m)]);
                for (Eigen::Index j = 0; j < k; ++j) {
                    r(j, m) = m_residuals(block.near[static_cast<size_t>(j)], column);
                }
            }
            const MatrixXd z = vectors.transpose() * (w.asDiagonal() * r);
            MatrixXd weights(k, members);
            const MatrixXd squaredVectors = vectors.cwiseAbs2();
            for (Eigen::Index m = 0; m < members; ++m) {
                const ArrayXd d = values.array() + g.lambda[m];
                const VectorXd beta = w.asDiagonal() * (vectors * (z.col(m).array() / d).matrix());
                weights.col(m) = beta;
                for (const auto& [p, j] : out) {
                    // Leaving position j out changes its prediction by
                    // beta_j / P_jj, P the system's inverse.
                    const double pjj =
                        w[j] * w[j] * squaredVectors.row(j).dot(d.inverse().matrix());
                    const size_t column = g.column[static_cast<size_t>(m)];
                    const double level = r(j, m) + g.means[m];
                    (*leaveOneOut)[static_cast<size_t>(p) * columns + column] =
                        level - (pjj > 0 ? beta[j] / pjj : 0.0);
                }
            }
            block.weights.push_back(std::move(weights));
        }
        return block;
    }

    static ArrayXd Stride(const ArrayXd& v) {
        ArrayXd out((v.size() + kFarStride - 1) / kFarStride);
        for (Eigen::Index i = 0; i < out.size(); ++i) {
            out[i] = v[i * static_cast<Eigen::Index>(kFarStride)];
        }
        return out;
    }

    ArrayXd m_x;
    ArrayXd m_y;
    VectorXd m_rootWeights;
    PositionIndex m_index;
    PositionIndex m_far;  // every kFarStride-th position
    double m_side = 1;    // of a square, in map pixels
    std::vector<Group> m_groups;
    std::vector<std::pair<size_t, double>> m_flat;  // output column, level
    MatrixXd m_residuals;  // positions x output columns: the levels less each one's mean
    std::vector<double> m_leaveOneOut;
    std::unordered_map<uint64_t, Block> m_blocks;  // solved squares
};

// Ordinary kriging of each column of `levels` (positions x columns) on its
// own, exact over up to `exactPositions` positions, local beyond. Null once
// `cancel` is set.
std::unique_ptr<FieldModel> KrigeColumns(const SiteSamples& samples, const MatrixXd& levels,
                                         unsigned threads, const std::atomic<bool>* cancel,
                                         size_t exactPositions) {
    const size_t n = samples.Positions();
    const size_t columns = static_cast<size_t>(levels.cols());
    const Eigen::Index apCount = levels.cols();
    const ArrayXd x = Eigen::Map<const ArrayXd>(samples.x.data(), static_cast<Eigen::Index>(n));
    const ArrayXd y = Eigen::Map<const ArrayXd>(samples.y.data(), static_cast<Eigen::Index>(n));
    VectorXd rootWeights(n);
    for (size_t p = 0; p < n; ++p) {
        rootWeights[p] = std::sqrt(static_cast<double>(samples.pointsAt[p]));
    }
    // Centred by each access point's weighted average, for a stable fit.
    const double totalWeight = rootWeights.squaredNorm();
    const VectorXd average =
        (levels.transpose() * rootWeights.cwiseAbs2()) / totalWeight;  // per access point
    const MatrixXd centred = levels.rowwise() - average.transpose();

    // The fit, on all positions or a spread subset of them.
    const std::vector<size_t> subset = FitSubset(n);
    const bool whole = subset.size() == n;
    const Eigen::Index m = static_cast<Eigen::Index>(subset.size());
    ArrayXd fx(m), fy(m);
    VectorXd fw(m);
    MatrixXd fc(m, apCount);
    for (Eigen::Index i = 0; i < m; ++i) {
        fx[i] = x[subset[i]];
        fy[i] = y[subset[i]];
        fw[i] = rootWeights[subset[i]];
        fc.row(i) = centred.row(subset[i]);
    }
    const ArrayXXd fitDistance = SquaredDistances(fx.data(), fy.data(), m, fx, fy).sqrt();
    const std::vector<double> lengths = LengthCandidates(fitDistance);
    std::vector<Spectrum> spectra(lengths.size());
    if (!ParallelFor(
            lengths.size(), threads,
            [&](size_t k) { spectra[k] = Decompose(fitDistance, fw, lengths[k], fc); }, cancel)) {
        return nullptr;
    }

    // Each access point's length scale and noise ratio.
    std::vector<ApFit> fits(columns);
    ParallelFor(columns, threads, [&](size_t a) {
        ApFit& fit = fits[a];
        const auto column = levels.col(static_cast<Eigen::Index>(a));
        if (column.maxCoeff() - column.minCoeff() < 1e-9) {
            fit.flat = true;
            fit.mean = column[0];
            return;
        }
        double best = std::numeric_limits<double>::infinity();
        for (size_t k = 0; k < spectra.size(); ++k) {
            const auto [value, lambda] = BestNoise(spectra[k], static_cast<Eigen::Index>(a));
            if (value < best) {
                best = value;
                fit.length = static_cast<int>(k);
                fit.lambda = lambda;
            }
        }
        if (!std::isfinite(best)) {
            fit.flat = true;
            fit.mean = average[static_cast<Eigen::Index>(a)];
        }
    });

    // The length scales in use.
    std::vector<int> used;
    for (const ApFit& fit : fits) {
        if (!fit.flat && std::find(used.begin(), used.end(), fit.length) == used.end()) {
            used.push_back(fit.length);
        }
    }
    std::sort(used.begin(), used.end());
    if (n > exactPositions) {
        // Each access point's mean as its fit estimated it on the fit's
        // positions, where the local model starts its estimate over all.
        std::vector<LocalKrigingModel::Group> groups;
        for (int k : used) {
            const Spectrum& s = spectra[static_cast<size_t>(k)];
            LocalKrigingModel::Group group;
            group.length = s.length;
            std::vector<double> lambda, means;
            for (size_t a = 0; a < fits.size(); ++a) {
                if (fits[a].flat || fits[a].length != k) {
                    continue;
                }
                const Eigen::Index column = static_cast<Eigen::Index>(a);
                const ArrayXd d = s.values.array() + fits[a].lambda;
                const ArrayXd u = s.ones.array();
                const double shift =
                    (u * s.centred.col(column).array() / d).sum() / (u.square() / d).sum();
                group.column.push_back(a);
                lambda.push_back(fits[a].lambda);
                means.push_back(average[column] + shift);
            }
            group.lambda = Eigen::Map<const VectorXd>(lambda.data(), Eigen::Index(lambda.size()));
            group.means = Eigen::Map<const VectorXd>(means.data(), Eigen::Index(means.size()));
            groups.push_back(std::move(group));
        }
        spectra.clear();
        std::vector<std::pair<size_t, double>> flat;
        for (size_t a = 0; a < fits.size(); ++a) {
            if (fits[a].flat) {
                flat.emplace_back(a, fits[a].mean);
            }
        }
        auto model = std::make_unique<LocalKrigingModel>(columns, x, y, rootWeights);
        if (!model->Fit(levels, std::move(groups), std::move(flat), whole, threads, cancel)) {
            return nullptr;
        }
        return model;
    }

    // Their spectra over every position.
    std::vector<Spectrum> full(used.size());
    if (!whole) {
        const ArrayXXd distance = SquaredDistances(x.data(), y.data(), n, x, y).sqrt();
        if (!ParallelFor(
                used.size(), threads,
                [&](size_t k) {
                    full[k] = Decompose(distance, rootWeights, lengths[used[k]], centred);
                },
                cancel)) {
            return nullptr;
        }
    } else {
        for (size_t k = 0; k < used.size(); ++k) {
            full[k] = std::move(spectra[used[k]]);
        }
    }
    spectra.clear();

    // Weights and means per group, and the leave-one-out levels: leaving
    // position i out changes its prediction by beta_i / P_ii, where P is the
    // kriging system's inverse with the mean's estimate taken into account.
    auto model = std::make_unique<KrigingModel>(columns, x, y);
    model->m_leaveOneOut.assign(n * columns, 0.0);
    for (size_t k = 0; k < full.size(); ++k) {
        const Spectrum& s = full[k];
        KrigingModel::Group group;
        group.lengthIndex = used[k];
        group.length = s.length;
        std::vector<Eigen::Index> members;
        for (size_t a = 0; a < fits.size(); ++a) {
            if (!fits[a].flat && fits[a].length == used[k]) {
                members.push_back(static_cast<Eigen::Index>(a));
            }
        }
        group.weights.resize(n, static_cast<Eigen::Index>(members.size()));
        group.means.resize(static_cast<Eigen::Index>(members.size()));
        const MatrixXd squaredVectors = s.vectors.cwiseAbs2();
        for (size_t j = 0; j < members.size(); ++j) {
            const Eigen::Index a = members[j];
            const double lambda = fits[a].lambda;
            const ArrayXd d = s.values.array() + lambda;
            const ArrayXd u = s.ones.array();
            const ArrayXd z = s.centred.col(a).array();
            const double sum = (u.square() / d).sum();
            const double shift = (u * z / d).sum() / sum;  // mean - average
            const VectorXd coefficients = ((z - shift * u) / d).matrix();
            const VectorXd beta = rootWeights.asDiagonal() * (s.vectors * coefficients);
            group.weights.col(static_cast<Eigen::Index>(j)) = beta;
            group.means[static_cast<Eigen::Index>(j)] = average[a] + shift;
            group.column.push_back(static_cast<size_t>(a));

            const VectorXd inverseDiagonal =
                rootWeights.cwiseAbs2().asDiagonal() * (squaredVectors * d.inverse().matrix());
            const VectorXd inverseOnes = rootWeights.asDiagonal() * (s.vectors * (u / d).matrix());
            for (size_t i = 0; i < n; ++i) {
                const Eigen::Index ii = static_cast<Eigen::Index>(i);
                const double p = inverseDiagonal[ii] - inverseOnes[ii] * inverseOnes[ii] / sum;
                model->m_leaveOneOut[i * columns + static_cast<size_t>(a)] =
                    levels(ii, a) - (p > 0 ? beta[ii] / p : 0.0);
            }
        }
        model->m_groups.push_back(std::move(group));
    }
    for (size_t a = 0; a < fits.size(); ++a) {
        if (fits[a].flat) {
            model->m_flat.emplace_back(a, fits[a].mean);
            for (size_t i = 0; i < n; ++i) {
                model->m_leaveOneOut[i * columns + a] = fits[a].mean;
            }
        }
    }
    return model;
}

// ---------------------------------------------------------------------------
// Regression kriging with a log-distance trend.
//
// A radio level falls with the logarithm of the distance from its source.
// Each access point heard widely enough gets a source position and a trend
//   level = p0 - 10 n log10(sqrt(d^2 + h^2) / h)
// (p0 the level at the source, n the path-loss exponent, h a short offset
// that keeps the trend finite there), fitted to its readings by nonlinear
// least squares. A reading of "not heard" only says that the level is below
// the floor, so it counts against the trend where the trend is above the
// floor and not at all elsewhere. Each access point is fitted on its own, so
// its map does not depend on which others were heard. What the trend misses
// (walls, furniture, shadowing) is kriged as above. An access point whose
// readings are too few, or do not fall off like a source's, is kriged as it
// is.

// The offset h, in map pixels (about a metre on a plan of 20 pixels a metre:
// a handheld scanner is rarely much closer to a ceiling-mounted access point).
// The trend is flat within about this distance of the source; the ceiling on
// every map decides what is shown there anyway.
constexpr double kNearField = 20;
// Path-loss exponents a fit may choose: from a corridor that guides the
// signal (below free space's 2) to a floor full of walls.
constexpr double kMinExponent = 1.5;
constexpr double kMaxExponent = 6;
// Where a fit starts: a typical indoor exponent.
constexpr double kStartExponent = 3;
// Levels a source may have: at most the strongest a scanner reports.
constexpr double kMinSourceLevel = -100;
constexpr double kMaxSourceLevel = -20;
// A source lies within the surveyed area or this share of its size beyond.
constexpr double kSourceReach = 0.25;
// An access point gets a trend when it was heard above the floor at this
// many positions ...
constexpr int kMinHeard = 4;
// ... and the trend explains at least this share of its readings' variance.
constexpr double kMinExplained = 0.5;
// A fit starts at each of this many of the strongest readings; the best wins.
constexpr int kStarts = 3;
constexpr int kMaxEvaluations = 200;
// The leverage a position left out of a fit is given at most (see FitTrend).
constexpr double kMaxLeverage = 0.9;

// Walls: the trend at a position loses what the walls between the source and
// it cost. The loss changes only where the source crosses the line of a
// wall, so the solver holds it fixed at the source it starts from, the loss
// is taken again at the source it ends at, and the solver runs once more
// from there while the walls crossed still change, at most this many times.
constexpr int kWallRounds = 4;
// An access point's place is estimated from this many positions that heard it.
constexpr int kMinEstimateHeard = 3;
// Each material's loss of one crossing is calibrated on the survey: the
// start value is a prior with this spread (its share of the value, at least
// kMinPriorSpreadDb), against readings of about kReadingSpreadDb, and the fit
// keeps within a half and twice the start value (at least 3 dB either way).
constexpr double kPriorShare = 1;
constexpr double kMinPriorSpreadDb = 3;
constexpr double kReadingSpreadDb = 3;
constexpr double kMinLossDb = 3;
// Rounds of calibration: locate the sources with the losses, calibrate the
// losses with the sources.
constexpr int kCalibrationRounds = 2;
// The calibration solves its readings' matrix itself up to this many
// entries, its normal equations beyond (a survey of 30,000 positions and 50
// access points would need a gigabyte).
constexpr Eigen::Index kMaxCalibrationEntries = 8 * 1024 * 1024;
// The variance of a reading a position's uncertainty assumes at least, dB^2:
// a fit through three readings is exact, but the readings are not.
constexpr double kMinReadingVariance = 4;

// How a trend is fitted: the source and its fall-off; the source with a
// typical fall-off (too few readings for more); or the fall-off of a source
// whose place is known.
enum class TrendMode { kFree, kFixedExponent, kPlaced };

// One access point's trend. Off: no trend (it is kriged as it is).
struct SourceTrend {
    bool on = false;
    double x = 0;
    double y = 0;
    double p0 = 0;
    double exponent = 0;

    double At(double px, double py) const {
        const double d2 = (px - x) * (px - x) + (py - y) * (py - y);
        return p0 - 5 * exponent * std::log10(1 + d2 / (kNearField * kNearField));
    }
};

// The bounded range [lo, hi] as tanh of an unbounded parameter, so that the
// solver never leaves it.
struct Squeeze {
    double lo;
    double hi;
    double Value(double u) const { return lo + (hi - lo) * (1 + std::tanh(u)) / 2; }
    double Slope(double u) const {
        const double t = std::tanh(u);
        return (hi - lo) * (1 - t * t) / 2;
    }
    double Parameter(double value) const {
        return std::atanh(std::clamp(2 * (value - lo) / (hi - lo) - 1, -0.99, 0.99));
    }
};

// The loss-free fall-off g(d) = 5 log10(1 + d^2 / h^2): the trend is p0 - n g.
double FallOff(double dx, double dy) {
    return 5 * std::log10(1 + (dx * dx + dy * dy) / (kNearField * kNearField));
}

// One access point's trend as a least-squares problem for Eigen's
// Levenberg-Marquardt solver, in unbounded parameters: of (source x, source
// y, p0, exponent) those the mode fits. The walls' loss at each position is
// an offset the caller keeps up to date (see kWallRounds).
class TrendProblem {
  public:
    using Scalar = double;
    using InputType = VectorXd;
    using ValueType = VectorXd;
    using JacobianType = MatrixXd;
    enum { InputsAtCompileTime = Eigen::Dynamic, ValuesAtCompileTime = Eigen::Dynamic };

    // Positions, their root weights and the access point's levels there.
    TrendProblem(const ArrayXd& x, const ArrayXd& y, const ArrayXd& rootWeights,
                 const ArrayXd& levels, TrendMode mode)
        : m_x(x),
          m_y(y),
          m_w(rootWeights),
          m_levels(levels),
          m_mode(mode),
          m_offset(ArrayXd::Zero(x.size())) {
        const double reach = kSourceReach * std::max({x.maxCoeff() - x.minCoeff(),
                                                      y.maxCoeff() - y.minCoeff(), kNearField});
        m_sx = {x.minCoeff() - reach, x.maxCoeff() + reach};
        m_sy = {y.minCoeff() - reach, y.maxCoeff() + reach};
        m_fixed << 0, 0, 0, kStartExponent;
    }

    int inputs() const {
        return m_mode == TrendMode::kFree ? 4 : m_mode == TrendMode::kPlaced ? 2 : 3;
    }
    int values() const { return static_cast<int>(m_x.size()); }

    bool Heard(Eigen::Index i) const { return m_levels[i] > kNotHeardDbm; }
    void SetOffset(const ArrayXd& offset) { m_offset = offset; }
    const ArrayXd& Offset() const { return m_offset; }

    // The place of a known source.
    void Place(double x, double y) {
        m_fixed[0] = x;
        m_fixed[1] = y;
    }

    SourceTrend Trend(const VectorXd& u) const {
        SourceTrend t;
        t.on = true;
        if (m_mode == TrendMode::kPlaced) {
            t.x = m_fixed[0];
            t.y = m_fixed[1];
            t.p0 = kSourceLevel.Value(u[0]);
            t.exponent = kExponent.Value(u[1]);
            return t;
        }
        t.x = m_sx.Value(u[0]);
        t.y = m_sy.Value(u[1]);
        t.p0 = kSourceLevel.Value(u[2]);
        t.exponent = m_mode == TrendMode::kFree ? kExponent.Value(u[3]) : m_fixed[3];
        return t;
    }

    // A source at (x, y) with the typical exponent, at the level that fits
    // the heard readings best (the offset taken as it is).
    VectorXd Start(double x, double y) const {
        SourceTrend t;
        t.x = x;
        t.y = y;
        t.exponent = kStartExponent;
        double sum = 0, weight = 0;
        for (Eigen::Index i = 0; i < m_x.size(); ++i) {
            if (Heard(i)) {
                sum += m_w[i] * m_w[i] * (m_levels[i] + m_offset[i] - t.At(m_x[i], m_y[i]));
                weight += m_w[i] * m_w[i];
            }
        }
        const double p0 = kSourceLevel.Parameter(sum / weight);
        const double n = kExponent.Parameter(kStartExponent);
        VectorXd u(inputs());
        if (m_mode == TrendMode::kPlaced) {
            u << p0, n;
        } else if (m_mode == TrendMode::kFree) {
            u << m_sx.Parameter(x), m_sy.Parameter(y), p0, n;
        } else {
            u << m_sx.Parameter(x), m_sy.Parameter(y), p0;
        }
        return u;
    }

    // Trend minus reading at each heard position; at the others, how far
    // the trend is above the floor.
    int operator()(const VectorXd& u, VectorXd& residuals) const {
        const SourceTrend t = Trend(u);
        residuals.resize(m_x.size());
        for (Eigen::Index i = 0; i < m_x.size(); ++i) {
            const double level = t.At(m_x[i], m_y[i]) - m_offset[i];
            residuals[i] =
                m_w[i] * (Heard(i) ? level - m_levels[i] : std::max(0.0, level - kNotHeardDbm));
        }
        return 0;
    }

    // The Jacobian in the solver's parameters or, with `real`, in the
    // source's place, level and exponent themselves.
    void Jacobian(const VectorXd& u, MatrixXd& jacobian, bool real) const {
        const SourceTrend t = Trend(u);
        const double h2 = kNearField * kNearField;
        const double slope = 10 * t.exponent / std::log(10.0);  // dB per unit of ln(d^2 + h^2)
        const bool placed = m_mode == TrendMode::kPlaced;
        const double dx = real || placed ? 1 : m_sx.Slope(u[0]);
        const double dy = real || placed ? 1 : m_sy.Slope(u[1]);
        const double dp = real ? 1 : kSourceLevel.Slope(u[placed ? 0 : 2]);
        const double dn =
            real || m_mode == TrendMode::kFixedExponent ? 1 : kExponent.Slope(u[placed ? 1 : 3]);
        jacobian.resize(m_x.size(), inputs());
        for (Eigen::Index i = 0; i < m_x.size(); ++i) {
            const double ex = m_x[i] - t.x, ey = m_y[i] - t.y;
            const double q = ex * ex + ey * ey + h2;
            if (!Heard(i) && t.At(m_x[i], m_y[i]) - m_offset[i] <= kNotHeardDbm) {
                jacobian.row(i).setZero();
                continue;
            }
            const double full[4] = {m_w[i] * slope * ex / q * dx, m_w[i] * slope * ey / q * dy,
                                    m_w[i] * dp, -m_w[i] * 5 * std::log10(q / h2) * dn};
            if (placed) {
                jacobian(i, 0) = full[2];
                jacobian(i, 1) = full[3];
            } else {
                for (int k = 0; k < inputs(); ++k) {
                    jacobian(i, k) = full[k];
                }
            }
        }
    }

    int df(const VectorXd& u, MatrixXd& jacobian) const {
        Jacobian(u, jacobian, false);
        return 0;
    }

    // The weighted sum of squared residuals at u.
    double Cost(const VectorXd& u) const {
        VectorXd residuals;
        (*this)(u, residuals);
        return residuals.squaredNorm();
    }

    // Improves u from where it is.
    void Solve(VectorXd& u) {
        Eigen::LevenbergMarquardt<TrendProblem> solver(*this);
        solver.parameters.maxfev = kMaxEvaluations;
        solver.minimize(u);
    }

  private:
    static constexpr Squeeze kSourceLevel{kMinSourceLevel, kMaxSourceLevel};
    static constexpr Squeeze kExponent{kMinExponent, kMaxExponent};

    const ArrayXd& m_x;
    const ArrayXd& m_y;
    const ArrayXd& m_w;
    const ArrayXd& m_levels;
    TrendMode m_mode;
    ArrayXd m_offset;
    Eigen::Vector4d m_fixed;
    Squeeze m_sx{0, 1};
    Squeeze m_sy{0, 1};
};

// The survey as every source fit sees it.
struct Positions {
    ArrayXd x;
    ArrayXd y;
    ArrayXd rootWeights;
};

Positions PositionsOf(const SiteSamples& samples) {
    const Eigen::Index rows = static_cast<Eigen::Index>(samples.Positions());
    Positions p;
    p.x = Eigen::Map<const ArrayXd>(samples.x.data(), rows);
    p.y = Eigen::Map<const ArrayXd>(samples.y.data(), rows);
    p.rootWeights.resize(rows);
    for (Eigen::Index i = 0; i < rows; ++i) {
        p.rootWeights[i] = std::sqrt(static_cast<double>(samples.pointsAt[static_cast<size_t>(i)]));
    }
    return p;
}

// The walls' loss from (sx, sy) to every position.
ArrayXd OffsetsFrom(const Positions& at, const std::vector<WallSegment>& walls,
                    const std::vector<double>& loss, double sx, double sy) {
    ArrayXd offset = ArrayXd::Zero(at.x.size());
    if (walls.empty()) {
        return offset;
    }
    for (Eigen::Index i = 0; i < at.x.size(); ++i) {
        offset[i] = WallLossAt(walls, loss, sx, sy, at.x[i], at.y[i]);
    }
    return offset;
}

// As SourceFit keeps it: nothing where there are no walls.
std::vector<double> LossVector(const ArrayXd& offset, const std::vector<WallSegment>& walls) {
    if (walls.empty()) {
        return {};
    }
    return std::vector<double>(offset.data(), offset.data() + offset.size());
}

// Solves from u, keeping the walls' loss in step with the source.
void SolveWithWalls(TrendProblem& problem, const Positions& at,
                    const std::vector<WallSegment>& walls, const std::vector<double>& loss,
                    VectorXd& u) {
    for (int round = 0; round < kWallRounds; ++round) {
        problem.Solve(u);
        if (walls.empty()) {
            return;
        }
        const SourceTrend t = problem.Trend(u);
        const ArrayXd offset = OffsetsFrom(at, walls, loss, t.x, t.y);
        if ((offset == problem.Offset()).all()) {
            return;
        }
        problem.SetOffset(offset);
    }
}

// One access point's source and trend. `warm`, when given, is where a fit
// with other wall losses ended: the only start then. Otherwise each of the
// strongest readings is a start and the best is kept.
SourceFit FitSource(const Positions& at, const ArrayXd& levels,
                    const std::vector<WallSegment>& walls, const std::vector<double>& loss,
                    const PlacedSource* placed, const VectorXd* warm, VectorXd* solution) {
    SourceFit fit;
    std::vector<Eigen::Index> heard;
    for (Eigen::Index i = 0; i < levels.size(); ++i) {
        if (levels[i] > kNotHeardDbm) {
            heard.push_back(i);
        }
    }
    const int heardCount = static_cast<int>(heard.size());
    if (placed != nullptr) {
        fit.located = fit.placed = true;
        fit.x = placed->x;
        fit.y = placed->y;
        fit.wallLoss = LossVector(OffsetsFrom(at, walls, loss, placed->x, placed->y), walls);
    }
    if (heardCount < (placed != nullptr ? 2 : kMinEstimateHeard)) {
        return fit;
    }
    const TrendMode mode = placed != nullptr         ? TrendMode::kPlaced
                           : heardCount >= kMinHeard ? TrendMode::kFree
                                                     : TrendMode::kFixedExponent;
    TrendProblem problem(at.x, at.y, at.rootWeights, levels, mode);
    std::stable_sort(heard.begin(), heard.end(),
                     [&](Eigen::Index i, Eigen::Index j) { return levels[i] > levels[j]; });
    double best = std::numeric_limits<double>::infinity();
    VectorXd bestU;
    ArrayXd bestOffset;
    const int starts = placed != nullptr || warm != nullptr ? 1 : std::min(kStarts, heardCount);
    for (int s = 0; s < starts; ++s) {
        double sx = at.x[heard[s]], sy = at.y[heard[s]];
        if (placed != nullptr) {
            problem.Place(placed->x, placed->y);
            sx = placed->x;
            sy = placed->y;
        } else if (warm != nullptr) {
            const SourceTrend t = problem.Trend(*warm);
            sx = t.x;
            sy = t.y;
        }
        problem.SetOffset(OffsetsFrom(at, walls, loss, sx, sy));
        VectorXd u = warm != nullptr && placed == nullptr ? *warm : problem.Start(sx, sy);
        SolveWithWalls(problem, at, walls, loss, u);
        const double cost = problem.Cost(u);
        if (cost < best) {
            best = cost;
            bestU = u;
            bestOffset = problem.Offset();
        }
    }
    problem.SetOffset(bestOffset);
    const SourceTrend trend = problem.Trend(bestU);
    if (solution != nullptr) {
        *solution = bestU;
    }
    fit.located = true;
    fit.x = trend.x;
    fit.y = trend.y;
    fit.p0 = trend.p0;
    fit.exponent = trend.exponent;
    fit.wallLoss = LossVector(bestOffset, walls);

    // How far the source may be from its estimate: the spread of the fitted
    // place as the fit linearised at its optimum sees it.
    MatrixXd jacobian;
    if (placed == nullptr) {
        problem.Jacobian(bestU, jacobian, true);
        const int k = problem.inputs();
        const double variance = std::max(kMinReadingVariance, best / std::max(1, heardCount - k));
        const MatrixXd normal = jacobian.transpose() * jacobian;
        const Eigen::FullPivLU<MatrixXd> lu(normal);
        const double extent =
            std::hypot(at.x.maxCoeff() - at.x.minCoeff(), at.y.maxCoeff() - at.y.minCoeff()) +
            kNearField;
        fit.uncertainty = extent;
        if (lu.isInvertible()) {
            const MatrixXd covariance = variance * lu.inverse();
            const double spread = std::sqrt(covariance(0, 0) + covariance(1, 1));
            if (std::isfinite(spread)) {
                fit.uncertainty = std::min(spread, extent);
            }
        }
    }

    // A trend needs the fall-off fitted and explaining enough of the spread.
    const ArrayXd w2 = at.rootWeights.square();
    const double mean = (w2 * levels).sum() / w2.sum();
    const double spread = (w2 * (levels - mean).square()).sum();
    if (mode == TrendMode::kFixedExponent || !(spread > 0) ||
        !(best <= (1 - kMinExplained) * spread)) {
        return fit;
    }
    fit.trend = true;

    // Each heard position left out in turn, as the fit linearised at its
    // optimum sees it: the trend's miss there grows by 1 / (1 - leverage).
    // A position that alone decides the fit (leverage near 1) is taken as
    // one of kMaxLeverage.
    problem.df(bestU, jacobian);
    const Eigen::ColPivHouseholderQR<MatrixXd> qr(jacobian);
    const MatrixXd basis =
        (qr.householderQ() * MatrixXd::Identity(jacobian.rows(), jacobian.cols()))
            .leftCols(qr.rank());
    fit.leftOut.assign(static_cast<size_t>(levels.size()), std::nan(""));
    for (Eigen::Index p : heard) {
        const double leverage = std::min(basis.row(p).squaredNorm(), kMaxLeverage);
        const double miss = trend.At(at.x[p], at.y[p]) - bestOffset[p] - levels[p];
        fit.leftOut[static_cast<size_t>(p)] = levels[p] + miss / (1 - leverage);
    }
    return fit;
}

int BandIndex(channels::Band band) {
    return band == channels::Band::kUnknown ? 1 : static_cast<int>(band) - 1;
}

// Each material's loss at every band, calibrated on the trends of the
// sources as they are: one linear least-squares problem in every trend's
// level and exponent and every (material, band) crossed, each loss drawn
// towards its start value, then kept within reason.
void Calibrate(const Positions& at, const SiteSamples& samples, const std::vector<size_t>& aps,
               const Building& building, std::vector<SourceFit>& fits,
               std::vector<std::array<double, 3>>& loss) {
    const size_t materials = building.materialLossDb.size();
    std::vector<size_t> trended;
    for (size_t a = 0; a < aps.size(); ++a) {
        if (fits[a].trend) {
            trended.push_back(a);
        }
    }
    // The crossings of each material from each trended source to each position.
    std::vector<std::vector<int>> crossings(trended.size());
    std::vector<int> column(materials * 3, -1);  // (material, band) -> unknown
    Eigen::Index unknowns = static_cast<Eigen::Index>(2 * trended.size());
    Eigen::Index rows = static_cast<Eigen::Index>(materials * 3);
    for (size_t k = 0; k < trended.size(); ++k) {
        const SourceFit& fit = fits[trended[k]];
        const int band = BandIndex(samples.aps[aps[trended[k]]].band);
        std::vector<int>& c = crossings[k];
        c.assign(samples.Positions() * materials, 0);
        for (size_t p = 0; p < samples.Positions(); ++p) {
            if (!(samples.Level(p, aps[trended[k]]) > kNotHeardDbm)) {
                continue;
            }
            ++rows;
            for (const WallSegment& w : building.walls) {
                if (Crosses(w, fit.x, fit.y, at.x[static_cast<Eigen::Index>(p)],
                            at.y[static_cast<Eigen::Index>(p)])) {
                    ++c[p * materials + static_cast<size_t>(w.material)];
                    int& col = column[static_cast<size_t>(w.material) * 3 + band];
                    if (col < 0) {
                        col = static_cast<int>(unknowns++);
                    }
                }
            }
        }
    }
    if (trended.empty() || unknowns == static_cast<Eigen::Index>(2 * trended.size())) {
        return;  // no wall crossed: nothing to learn
    }
    // Every row of the problem: its nonzero entries (column, value) and its
    // right-hand side.
    std::vector<std::pair<Eigen::Index, double>> entries;
    const auto forEachRow = [&](const auto& take) {
        for (size_t k = 0; k < trended.size(); ++k) {
            const SourceFit& fit = fits[trended[k]];
            const int band = BandIndex(samples.aps[aps[trended[k]]].band);
            for (size_t p = 0; p < samples.Positions(); ++p) {
                const double level = samples.Level(p, aps[trended[k]]);
                if (!(level > kNotHeardDbm)) {
                    continue;
                }
                const Eigen::Index i = static_cast<Eigen::Index>(p);
                const double w = at.rootWeights[i];
                entries.clear();
                entries.emplace_back(static_cast<Eigen::Index>(2 * k), w);
                entries.emplace_back(static_cast<Eigen::Index>(2 * k + 1),
                                     -w * FallOff(at.x[i] - fit.x, at.y[i] - fit.y));
                for (size_t m = 0; m < materials; ++m) {
                    const int c = crossings[k][p * materials + m];
                    if (c != 0) {
                        entries.emplace_back(column[m * 3 + band], -w * c);
                    }
                }
                take(w * level);
            }
        }
        for (size_t m = 0; m < materials; ++m) {
            for (int band = 0; band < 3; ++band) {
                const double start = building.materialLossDb[m][band];
                const double spread = std::max(kMinPriorSpreadDb, kPriorShare * start);
                const int col = column[m * 3 + band];
                entries.clear();
                if (col >= 0) {
                    entries.emplace_back(col, kReadingSpreadDb / spread);
                }
                take(col >= 0 ? kReadingSpreadDb / spread * start : 0.0);
            }
        }
    };
    VectorXd solution;
    if (rows * unknowns <= kMaxCalibrationEntries) {
        MatrixXd a = MatrixXd::Zero(rows, unknowns);
        VectorXd b = VectorXd::Zero(rows);
        Eigen::Index row = 0;
        forEachRow([&](double rhs) {
            for (const auto& [col, value] : entries) {
                a(row, col) = value;
            }
            b[row++] = rhs;
        });
        solution = a.colPivHouseholderQr().solve(b);
    } else {
        // A large survey: the normal equations, summed row by row, instead
        // of a matrix of every reading.
        MatrixXd normal = MatrixXd::Zero(unknowns, unknowns);
        VectorXd moment = VectorXd::Zero(unknowns);
        forEachRow([&](double rhs) {
            for (const auto& [i, u] : entries) {
                for (const auto& [j, v] : entries) {
                    normal(i, j) += u * v;
                }
                moment[i] += u * rhs;
            }
        });
        solution = normal.colPivHouseholderQr().solve(moment);
    }
    for (size_t m = 0; m < materials; ++m) {
        for (int band = 0; band < 3; ++band) {
            const int col = column[m * 3 + band];
            if (col < 0 || !std::isfinite(solution[col])) {
                continue;
            }
            const double start = building.materialLossDb[m][band];
            const double lo = std::max(0.0, std::min(start / 2, start - kMinLossDb));
            const double hi = std::max(2 * start, start + kMinLossDb);
            loss[m][static_cast<size_t>(band)] = std::clamp(solution[col], lo, hi);
        }
    }
}

class TrendModel : public FieldModel {
  public:
    TrendModel(std::vector<SourceTrend> trends, std::unique_ptr<FieldModel> residuals,
               std::vector<double> leaveOneOut)
        : FieldModel(trends.size()),
          m_trends(std::move(trends)),
          m_residuals(std::move(residuals)),
          m_leaveOneOut(std::move(leaveOneOut)) {}

    void Predict(const double* x, const double* y, size_t count, double* out) const override {
        m_residuals->Predict(x, y, count, out);
        const size_t apCount = ApCount();
        const Eigen::Map<const ArrayXd> qx(x, static_cast<Eigen::Index>(count));
        const Eigen::Map<const ArrayXd> qy(y, static_cast<Eigen::Index>(count));
        Eigen::Map<ArrayXXd> levels(out, static_cast<Eigen::Index>(apCount),
                                    static_cast<Eigen::Index>(count));
        for (size_t a = 0; a < apCount; ++a) {
            const SourceTrend& t = m_trends[a];
            if (t.on) {
                // SourceTrend::At over the whole tile at once.
                const ArrayXd ratio =
                    1 + ((qx - t.x).square() + (qy - t.y).square()) / (kNearField * kNearField);
                levels.row(static_cast<Eigen::Index>(a)) +=
                    (t.p0 - 5 * t.exponent / std::log(10.0) * ratio.log()).transpose();
            }
        }
    }

    bool Prepare(const double* x, const double* y, size_t count, unsigned threads,
                 const std::atomic<bool>* cancel) override {
        return m_residuals->Prepare(x, y, count, threads, cancel);
    }

    std::vector<double> LeaveOneOutLevels() const override { return m_leaveOneOut; }

  private:
    std::vector<SourceTrend> m_trends;
    std::unique_ptr<FieldModel> m_residuals;
    std::vector<double> m_leaveOneOut;
};

}  // namespace

std::unique_ptr<FieldModel> FitIdw(const SiteSamples& samples, const std::vector<size_t>& aps) {
    return std::make_unique<IdwModel>(samples, aps);
}

std::unique_ptr<FieldModel> FitKriging(const SiteSamples& samples, const std::vector<size_t>& aps,
                                       unsigned threads, const std::atomic<bool>* cancel,
                                       size_t exactPositions) {
    if (samples.Positions() < 3) {
        // Too few positions to learn anything from: weight by distance.
        return FitIdw(samples, aps);
    }
    return KrigeColumns(samples, LevelMatrix(samples, aps), threads, cancel, exactPositions);
}

std::vector<double> BuildingFit::WallLosses(const std::vector<WallSegment>& walls,
                                            channels::Band band) const {
    std::vector<double> out;
    out.reserve(walls.size());
    for (const WallSegment& w : walls) {
        const size_t m = static_cast<size_t>(w.material);
        out.push_back(m < materialLossDb.size() ? materialLossDb[m][BandIndex(band)] : 0.0);
    }
    return out;
}

BuildingFit FitSources(const SiteSamples& samples, const std::vector<size_t>& aps,
                       const Building& building, unsigned threads, const std::atomic<bool>* cancel,
                       bool& cancelled) {
    BuildingFit out;
    out.materialLossDb = building.materialLossDb;
    out.sources.resize(aps.size());
    cancelled = false;
    if (samples.Positions() == 0) {
        return out;
    }
    const Positions at = PositionsOf(samples);
    // A placed BSSID places its radio: the radio's other BSSIDs (its other
    // SSIDs) come from the same transmitter.
    std::vector<const PlacedSource*> placed(aps.size(), nullptr);
    for (const PlacedSource& p : building.placed) {
        const auto heard = std::find_if(samples.aps.begin(), samples.aps.end(),
                                        [&](const AccessPoint& ap) { return ap.bssid == p.bssid; });
        for (size_t a = 0; a < aps.size(); ++a) {
            const AccessPoint& ap = samples.aps[aps[a]];
            if (ap.bssid == p.bssid) {
                placed[a] = &p;
            } else if (placed[a] == nullptr && heard != samples.aps.end() &&
                       RadioKeyOf(ap) == RadioKeyOf(*heard)) {
                placed[a] = &p;
            }
        }
    }
    std::vector<VectorXd> solutions(aps.size());
    const auto locate = [&](bool warm) {
        return ParallelFor(
            aps.size(), threads,
            [&](size_t a) {
                const ArrayXd levels = Eigen::Map<const ArrayXd, 0, Eigen::InnerStride<>>(
                    samples.levels.data() + aps[a], static_cast<Eigen::Index>(samples.Positions()),
                    Eigen::InnerStride<>(static_cast<Eigen::Index>(samples.aps.size())));
                const bool useWarm = warm && solutions[a].size() > 0;
                VectorXd previous = useWarm ? solutions[a] : VectorXd();
                out.sources[a] = FitSource(at, levels, building.walls,
                                           out.WallLosses(building.walls, samples.aps[aps[a]].band),
                                           placed[a], useWarm ? &previous : nullptr, &solutions[a]);
            },
            cancel);
    };
    if (!locate(false)) {
        cancelled = true;
        return out;
    }
    for (int round = 0; !building.walls.empty() && round < kCalibrationRounds; ++round) {
        const auto before = out.materialLossDb;
        Calibrate(at, samples, aps, building, out.sources, out.materialLossDb);
        if (out.materialLossDb == before) {
            break;
        }
        if (!locate(true)) {
            cancelled = true;
            return out;
        }
    }
    return out;
}

SiteSamples WithoutWalls(const SiteSamples& samples, const std::vector<size_t>& aps,
                         const std::vector<SourceFit>& sources) {
    SiteSamples out = samples;
    for (size_t a = 0; a < aps.size(); ++a) {
        const std::vector<double>& loss = sources[a].wallLoss;
        for (size_t p = 0; p < loss.size(); ++p) {
            out.levels[p * samples.aps.size() + aps[a]] += loss[p];
        }
    }
    return out;
}

std::unique_ptr<FieldModel> FitTrendKriging(const SiteSamples& samples,
                                            const std::vector<size_t>& aps,
                                            const std::vector<SourceFit>& sources, unsigned threads,
                                            const std::atomic<bool>* cancel,
                                            size_t exactPositions) {
    const size_t n = samples.Positions();
    if (n < static_cast<size_t>(kMinHeard)) {
        return FitKriging(WithoutWalls(samples, aps, sources), aps, threads, cancel,
                          exactPositions);
    }
    const Eigen::Index rows = static_cast<Eigen::Index>(n);
    const Positions at = PositionsOf(samples);
    const MatrixXd levels = LevelMatrix(samples, aps);

    // What the trends leave, walls in. A reading of "not heard" where the
    // trend is below the floor agrees with it.
    MatrixXd residuals = levels;
    MatrixXd trendLevels = MatrixXd::Zero(rows, levels.cols());
    std::vector<SourceTrend> trends(aps.size());
    for (Eigen::Index a = 0; a < levels.cols(); ++a) {
        const SourceFit& fit = sources[static_cast<size_t>(a)];
        SourceTrend& t = trends[static_cast<size_t>(a)];
        t.on = fit.trend;
        t.x = fit.x;
        t.y = fit.y;
        t.p0 = fit.p0;
        t.exponent = fit.exponent;
        for (Eigen::Index p = 0; p < rows; ++p) {
            const double loss = fit.wallLoss.empty() ? 0.0 : fit.wallLoss[static_cast<size_t>(p)];
            if (!t.on) {
                residuals(p, a) += loss;  // kriged as it is, without the walls
                continue;
            }
            trendLevels(p, a) = t.At(at.x[p], at.y[p]) - loss;
            residuals(p, a) = levels(p, a) > kNotHeardDbm
                                  ? levels(p, a) - trendLevels(p, a)
                                  : std::min(0.0, kNotHeardDbm - trendLevels(p, a));
        }
    }
    std::unique_ptr<FieldModel> kriged =
        KrigeColumns(samples, residuals, threads, cancel, exactPositions);
    if (kriged == nullptr) {
        return nullptr;
    }

    // Leaving a position out: its residual kriged from the others', plus the
    // trend fitted without it.
    std::vector<double> leaveOneOut = kriged->LeaveOneOutLevels();
    for (Eigen::Index a = 0; a < levels.cols(); ++a) {
        const SourceFit& fit = sources[static_cast<size_t>(a)];
        for (Eigen::Index p = 0; fit.trend && p < rows; ++p) {
            const double leftOut = fit.leftOut[static_cast<size_t>(p)];
            const double loss = fit.wallLoss.empty() ? 0.0 : fit.wallLoss[static_cast<size_t>(p)];
            leaveOneOut[static_cast<size_t>(p * levels.cols() + a)] +=
                (std::isnan(leftOut) ? trendLevels(p, a) : leftOut) + loss;
        }
    }
    return std::make_unique<TrendModel>(std::move(trends), std::move(kriged),
                                        std::move(leaveOneOut));
}

}  // namespace coverage
