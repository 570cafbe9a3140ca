#include "coverage/coverage_map.h"

#include <algorithm>
#include <iterator>
#include <limits>
#include <mutex>
#include <numeric>

#include "coverage/field_model.h"
#include "coverage/parallel.h"
#include "coverage/walls.h"
#include "platform/text.h"

namespace coverage {

namespace {

// Cells interpolated together: a fixed split, so the arithmetic of every cell
// is the same whatever the number of threads.
constexpr size_t kTileCells = 128;
// Cells combined together by Map().
constexpr size_t kMapChunk = 4096;
// An interpolated level lies between "not heard" and the strongest level
// measured for the access point, plus the margin: a map never shows an access
// point much stronger than anyone measured it, nor one nobody heard at all.
double Limit(double level, double ceiling) {
    const double top = ceiling > kNotHeardDbm ? ceiling + kCeilingMarginDb : kNotHeardDbm;
    return std::clamp(level, kNotHeardDbm, top);
}

struct NamedMethod {
    Method method;
    const char* name;
};
constexpr NamedMethod kMethods[] = {
    {Method::kIdw, "idw"}, {Method::kKriging, "kriging"}, {Method::kPathLoss, "pathloss"}};

struct NamedMetric {
    Metric metric;
    const char* name;
};
constexpr NamedMetric kMetrics[] = {{Metric::kStrongest, "strongest"},
                                    {Metric::kSecond, "second"},
                                    {Metric::kCount, "count"},
                                    {Metric::kCochannel, "cochannel"},
                                    {Metric::kSnr, "snr"}};

// The cells whose centre lies within the radius of a survey position, in
// index order. Each position covers a run of columns in each row it reaches;
// the runs are summed row by row, so the cost grows with rows x positions and
// not with the area each position covers.
std::vector<uint32_t> CellsNearSurvey(const GridSpec& spec, const SiteSamples& samples) {
    const int cols = spec.Cols();
    const int rows = spec.Rows();
    const double r2 = spec.radius * spec.radius;
    const double half = (spec.cell - 1) / 2.0;
    // The cell whose centre lies nearest v, within [0, count - 1].
    const auto near = [&](double v, int count) {
        return static_cast<int>(std::clamp(std::round((v - half) / spec.cell), 0.0, count - 1.0));
    };
    std::vector<uint32_t> cells;
    std::vector<int32_t> run(static_cast<size_t>(cols) + 1);
    for (int row = 0; row < rows; ++row) {
        std::fill(run.begin(), run.end(), 0);
        bool any = false;
        for (size_t p = 0; p < samples.Positions(); ++p) {
            const double px = samples.x[p];
            const double dy = spec.CentreY(row) - samples.y[p];
            if (!(dy * dy <= r2) || !std::isfinite(px)) {
                continue;
            }
            const auto within = [&](int col) {
                const double dx = spec.CentreX(col) - px;
                return dx * dx + dy * dy <= r2;
            };
            const double reach = std::sqrt(r2 - dy * dy);
            int lo = near(px - reach, cols);
            int hi = near(px + reach, cols);
            // The estimate is within a cell of the truth: settle the edges on
            // the distance itself.
            while (lo > 0 && within(lo - 1)) {
                --lo;
            }
            while (lo <= hi && !within(lo)) {
                ++lo;
            }
            while (hi + 1 < cols && within(hi + 1)) {
                ++hi;
            }
            while (hi >= lo && !within(hi)) {
                --hi;
            }
            if (lo <= hi) {
                ++run[lo];
                --run[hi + 1];
                any = true;
            }
        }
        int32_t depth = 0;
        for (int col = 0; any && col < cols; ++col) {
            depth += run[col];
            if (depth > 0) {
                cells.push_back(static_cast<uint32_t>(static_cast<size_t>(row) * cols + col));
            }
        }
    }
    return cells;
}

}  // namespace

const char* MethodName(Method method) {
    for (const NamedMethod& m : kMethods) {
        if (m.method == method) {
            return m.name;
        }
    }
    return "?";
}

bool ParseMethod(const std::string& name, Method& out) {
    for (const NamedMethod& m : kMethods) {
        if (name == m.name) {
            out = m.method;
            return true;
        }
    }
    return false;
}

std::vector<Method> AllMethods() {
    std::vector<Method> all;
    for (const NamedMethod& m : kMethods) {
        all.push_back(m.method);
    }
    return all;
}

const char* MetricName(Metric metric) {
    for (const NamedMetric& m : kMetrics) {
        if (m.metric == metric) {
            return m.name;
        }
    }
    return "?";
}

bool ParseMetric(const std::string& name, Metric& out) {
    for (const NamedMetric& m : kMetrics) {
        if (name == m.name) {
            out = m.metric;
            return true;
        }
    }
    return false;
}

std::string MetricNames() {
    std::string names;
    for (size_t i = 0; i < std::size(kMetrics); ++i) {
        names += i == 0 ? "" : i + 1 == std::size(kMetrics) ? " or " : ", ";
        names += kMetrics[i].name;
    }
    return names;
}

GridSpec DefaultGridSpec(int mapWidth, int mapHeight, std::optional<double> pixelsPerMetre) {
    return GridSpec{mapWidth, mapHeight, kDefaultCell,
                    pixelsPerMetre ? kDefaultRadiusMetres * *pixelsPerMetre : kDefaultRadiusPixels};
}

bool CheckGridSpec(const GridSpec& spec, std::string& error) {
    if (spec.mapWidth <= 0 || spec.mapHeight <= 0) {
        error = "the site has no map";
        return false;
    }
    if (spec.cell < 1) {
        error = "the cell must be at least 1 pixel";
        return false;
    }
    if (!(spec.radius >= 0) || !std::isfinite(spec.radius)) {
        error = "the radius must be a number of pixels, 0 or more";
        return false;
    }
    if (static_cast<int64_t>(spec.Cols()) * spec.Rows() > kMaxCells) {
        error = "too many cells: " + std::to_string(spec.Cols()) + " x " +
                std::to_string(spec.Rows()) + " (use larger cells)";
        return false;
    }
    return true;
}

bool CheckSurveySize(const Survey& survey, std::string& error) {
    if (survey.building.walls.size() > kMaxModelWalls) {
        error = "the plan has " + std::to_string(survey.building.walls.size()) +
                " walls, more than the " + std::to_string(kMaxModelWalls) +
                " a coverage map takes in (leave them out with --walls off)";
        return false;
    }
    std::vector<std::pair<double, double>> places;
    places.reserve(survey.points.size());
    std::vector<Bssid> bssids;
    for (const SurveyPoint& p : survey.points) {
        places.emplace_back(p.x, p.y);
        for (const Reading& r : p.heard) {
            bssids.push_back(r.bssid);
        }
        if (bssids.size() > 2 * static_cast<size_t>(kMaxSampleLevels)) {
            break;  // counted far enough to know
        }
    }
    const auto distinct = [](auto& items) {
        std::sort(items.begin(), items.end());
        return static_cast<size_t>(std::unique(items.begin(), items.end()) - items.begin());
    };
    const size_t positions = distinct(places);
    if (positions > kMaxPositions) {
        error = "the survey has " + std::to_string(positions) + " positions, more than the " +
                std::to_string(kMaxPositions) + " a coverage map is computed from";
        return false;
    }
    const size_t aps = distinct(bssids);
    if (static_cast<int64_t>(positions) * static_cast<int64_t>(aps) > kMaxSampleLevels) {
        error = "the survey's " + std::to_string(positions) + " positions x " +
                std::to_string(aps) + " access points are more than the " +
                std::to_string(kMaxSampleLevels) + " levels a coverage map is computed from";
        return false;
    }
    return true;
}

bool ApFilter::Selects(const AccessPoint& ap) const {
    if (!ssids.empty() && std::none_of(ssids.begin(), ssids.end(), [&](const std::string& s) {
            return s == ap.ssid || s == platform::TextFromBytes(ap.ssid.data(), ap.ssid.size());
        })) {
        return false;
    }
    if (!bssids.empty() && std::find(bssids.begin(), bssids.end(), ap.bssid) == bssids.end()) {
        return false;
    }
    if (!channels.empty() &&
        std::find(channels.begin(), channels.end(), ap.channel) == channels.end()) {
        return false;
    }
    if (!bands.empty() && std::find(bands.begin(), bands.end(), ap.band) == bands.end()) {
        return false;
    }
    return true;
}

CoverageModel::~CoverageModel() = default;

std::shared_ptr<const CoverageModel> CoverageModel::Build(const Survey& survey,
                                                          const GridSpec& spec,
                                                          const BuildOptions& options,
                                                          std::string& error) {
    if (!CheckGridSpec(spec, error) || !CheckSurveySize(survey, error)) {
        return nullptr;
    }
    if (options.progress) {
        options.progress(BuildStage::kFitting, 0);
    }
    const SiteSamples samples = PrepareSamples(survey);
    std::shared_ptr<CoverageModel> model(new CoverageModel());
    model->m_spec = spec;
    model->m_method = options.method;
    model->m_threads = ThreadCount(options.threads);
    model->m_positions = samples.Positions();
    model->m_noise = NoiseMap(survey.noise);

    std::vector<size_t> chosen;
    for (size_t a = 0; a < samples.aps.size(); ++a) {
        if (options.only == nullptr || options.only->Selects(samples.aps[a])) {
            chosen.push_back(a);
            model->m_aps.push_back(samples.aps[a]);
        }
    }
    const size_t apCount = chosen.size();
    model->m_radios = RadioSet(model->m_aps);
    model->m_ceiling.assign(apCount, kNotHeardDbm);
    for (size_t p = 0; p < samples.Positions(); ++p) {
        for (size_t a = 0; a < apCount; ++a) {
            model->m_ceiling[a] = std::max(model->m_ceiling[a], samples.Level(p, chosen[a]));
        }
    }
    model->m_cells = CellsNearSurvey(spec, samples);
    if (static_cast<int64_t>(model->m_cells.size()) * static_cast<int64_t>(apCount) >
        kMaxCellLevels) {
        error = "too many cells for " + std::to_string(apCount) +
                " access points (use larger cells, a smaller radius or filters)";
        return nullptr;
    }

    // Where each access point is, and what the walls cost. With walls every
    // access point takes part, so that the calibrated losses (and hence a
    // filtered map) do not depend on the filter.
    const Building& building = survey.building;
    const bool walls = !building.walls.empty();
    std::vector<SourceFit> sources(apCount);
    if (walls || options.method == Method::kPathLoss) {
        std::vector<size_t> fitted = chosen;
        if (walls) {
            fitted.resize(samples.aps.size());
            std::iota(fitted.begin(), fitted.end(), 0);
        }
        bool cancelled = false;
        BuildingFit fit =
            FitSources(samples, fitted, building, model->m_threads, options.cancel, cancelled);
        if (cancelled) {
            error = "cancelled";
            return nullptr;
        }
        for (size_t a = 0; a < apCount; ++a) {
            sources[a] = std::move(fit.sources[walls ? chosen[a] : a]);
        }
        if (walls) {
            model->m_walls = building.walls;
            model->m_materialLoss = fit.materialLossDb;
            for (size_t a = 0; a < apCount; ++a) {
                model->m_wallLoss.push_back(
                    sources[a].located ? fit.WallLosses(building.walls, model->m_aps[a].band)
                                       : std::vector<double>());
            }
        }
        const double confident =
            kConfidentSourceMetres *
            (building.pixelsPerMetre > 0 ? building.pixelsPerMetre : kAssumedPixelsPerMetre);
        model->m_sources.resize(apCount);
        for (size_t a = 0; a < apCount; ++a) {
            const SourceFit& f = sources[a];
            model->m_sources[a] = {f.located, f.placed, f.x, f.y, f.uncertainty};
            // A source the map may trust: its fall-off shows the level there.
            if (f.trend && (f.placed || f.uncertainty <= confident)) {
                model->m_ceiling[a] = std::max(model->m_ceiling[a], f.p0 - kCeilingMarginDb);
            }
        }
    }
    if (options.method == Method::kKriging) {
        model->m_field = FitKriging(WithoutWalls(samples, chosen, sources), chosen,
                                    model->m_threads, options.cancel, options.exactPositions);
    } else if (options.method == Method::kPathLoss) {
        model->m_field = FitTrendKriging(samples, chosen, sources, model->m_threads, options.cancel,
                                         options.exactPositions);
    } else {
        model->m_field = FitIdw(WithoutWalls(samples, chosen, sources), chosen);
    }
    if (model->m_field == nullptr) {
        error = "cancelled";
        return nullptr;
    }

    // The walls' loss at every cell within reach, source by source (a row of
    // cells at a time, see walls.h), taken off the levels below.
    const size_t cellCount = model->m_cells.size();
    model->m_levels.assign(cellCount * apCount, 0.0f);
    if (!model->m_wallLoss.empty()) {
        const int cols = spec.Cols();
        const bool done = ParallelFor(
            apCount, model->m_threads,
            [&](size_t a) {
                if (model->m_wallLoss[a].empty()) {
                    return;
                }
                std::vector<double> row(static_cast<size_t>(cols));
                int current = -1;
                for (size_t i = 0; i < cellCount; ++i) {
                    const int r = static_cast<int>(model->m_cells[i] / cols);
                    if (r != current) {
                        WallLossRow(spec, r, building.walls, model->m_wallLoss[a], sources[a].x,
                                    sources[a].y, row.data());
                        current = r;
                    }
                    model->m_levels[i * apCount + a] =
                        static_cast<float>(row[model->m_cells[i] % cols]);
                }
            },
            options.cancel);
        if (!done) {
            error = "cancelled";
            return nullptr;
        }
    }

    // Every cell within reach, tile by tile, once the model is ready for them.
    if (apCount > 0) {
        std::vector<double> cx(cellCount), cy(cellCount);
        for (size_t i = 0; i < cellCount; ++i) {
            cx[i] = spec.CentreX(static_cast<int>(model->m_cells[i] % spec.Cols()));
            cy[i] = spec.CentreY(static_cast<int>(model->m_cells[i] / spec.Cols()));
        }
        if (!model->m_field->Prepare(cx.data(), cy.data(), cellCount, model->m_threads,
                                     options.cancel)) {
            error = "cancelled";
            return nullptr;
        }
    }
    if (apCount > 0) {
        const size_t tiles = (cellCount + kTileCells - 1) / kTileCells;
        const FieldModel& field = *model->m_field;
        std::atomic<size_t> tilesDone{0};
        // Under one lock, so two threads finishing tiles at once still tell
        // each percent once and in order.
        std::mutex tellMutex;
        int percentTold = -1;
        const auto tell = [&](size_t done) {
            const int percent = static_cast<int>(done * 100 / tiles);
            std::lock_guard<std::mutex> lock(tellMutex);
            if (percent > percentTold) {
                percentTold = percent;
                options.progress(BuildStage::kCells, percent / 100.0);
            }
        };
        if (options.progress) {
            tell(0);
        }
        const bool done = ParallelFor(
            tiles, model->m_threads,
            [&](size_t t) {
                const size_t begin = t * kTileCells;
                const size_t count = std::min(kTileCells, cellCount - begin);
                std::vector<double> x(count), y(count), out(count * apCount);
                const int cols = spec.Cols();
                for (size_t i = 0; i < count; ++i) {
                    const uint32_t cell = model->m_cells[begin + i];
                    x[i] = spec.CentreX(static_cast<int>(cell % cols));
                    y[i] = spec.CentreY(static_cast<int>(cell / cols));
                }
                field.Predict(x.data(), y.data(), count, out.data());
                float* levels = model->m_levels.data() + begin * apCount;
                for (size_t i = 0; i < count * apCount; ++i) {
                    levels[i] = static_cast<float>(
                        Limit(out[i] - levels[i], model->m_ceiling[i % apCount]));
                }
                const size_t finished = ++tilesDone;
                if (options.progress) {
                    tell(finished);
                }
            },
            options.cancel);
        if (!done) {
            error = "cancelled";
            return nullptr;
        }
    }

    // How well the survey predicts itself. Each position's prediction knows
    // nothing of its own levels, the ceiling included.
    LeaveOneOut& loo = model->m_leaveOneOut;
    loo.positions = samples.Positions();
    if (apCount > 0 && samples.Positions() >= 2) {
        std::vector<double> predicted = model->m_field->LeaveOneOutLevels();
        for (size_t a = 0; a < apCount; ++a) {
            const std::vector<double>& loss = sources[a].wallLoss;
            for (size_t p = 0; p < loss.size(); ++p) {
                predicted[p * apCount + a] -= loss[p];
            }
        }
        std::vector<double> others(apCount, kNotHeardDbm);  // second highest level
        for (size_t a = 0; a < apCount; ++a) {
            bool skipped = false;
            for (size_t p = 0; p < samples.Positions(); ++p) {
                const double v = samples.Level(p, chosen[a]);
                if (v == model->m_ceiling[a] && !skipped) {
                    skipped = true;
                } else {
                    others[a] = std::max(others[a], v);
                }
            }
        }
        double levelSum = 0, strongestSum = 0;
        for (size_t p = 0; p < samples.Positions(); ++p) {
            double heard = kNotHeardDbm, guessed = kNotHeardDbm;
            for (size_t a = 0; a < apCount; ++a) {
                const double truth = samples.Level(p, chosen[a]);
                const double ceiling =
                    truth == model->m_ceiling[a] ? others[a] : model->m_ceiling[a];
                const double guess = Limit(predicted[p * apCount + a], ceiling);
                levelSum += (guess - truth) * (guess - truth);
                heard = std::max(heard, truth);
                guessed = std::max(guessed, guess);
            }
            strongestSum += (guessed - heard) * (guessed - heard);
        }
        loo.levelRmse = std::sqrt(levelSum / (samples.Positions() * apCount));
        loo.strongestRmse = std::sqrt(strongestSum / samples.Positions());
    }
    return model;
}

std::vector<SourceEstimate> LocateAccessPoints(const Survey& survey, unsigned threads) {
    const SiteSamples samples = PrepareSamples(survey);
    std::vector<size_t> all(samples.aps.size());
    std::iota(all.begin(), all.end(), 0);
    bool cancelled = false;
    const BuildingFit fit =
        FitSources(samples, all, survey.building, ThreadCount(threads), nullptr, cancelled);
    std::vector<SourceEstimate> out;
    for (const SourceFit& f : fit.sources) {
        out.push_back({f.located, f.placed, f.x, f.y, f.uncertainty});
    }
    return out;
}

std::vector<std::vector<size_t>> MarkedPlaces(const std::vector<AccessPoint>& aps,
                                              const std::vector<SourceEstimate>& sources,
                                              int mapWidth, int mapHeight, const ApFilter* only) {
    std::vector<size_t> shown;
    for (size_t a = 0; a < aps.size() && a < sources.size(); ++a) {
        const SourceEstimate& s = sources[a];
        if (!s.located || (only != nullptr && !only->Selects(aps[a])) ||
            (!s.placed && (aps[a].pointsHeard < kMinPositionsToLocate ||
                           TooVagueToDraw(s.uncertainty, mapWidth, mapHeight)))) {
            continue;
        }
        shown.push_back(a);
    }
    // Surest first, so each box takes its surest member's place.
    std::stable_sort(shown.begin(), shown.end(), [&](size_t a, size_t b) {
        return sources[a].uncertainty < sources[b].uncertainty;
    });
    std::vector<std::vector<size_t>> boxes;
    for (const size_t a : shown) {
        const SourceEstimate& s = sources[a];
        auto box = std::find_if(boxes.begin(), boxes.end(), [&](const std::vector<size_t>& b) {
            const SourceEstimate& first = sources[b.front()];
            const double apart = std::hypot(first.x - s.x, first.y - s.y);
            return first.placed == s.placed &&
                   (apart < 0.5 ||
                    (!s.placed && apart <= std::min(first.uncertainty, s.uncertainty)));
        });
        if (box == boxes.end()) {
            boxes.push_back({a});
        } else {
            box->push_back(a);
        }
    }
    return boxes;
}

Grid CoverageModel::Map(const MapRequest& request) const {
    Grid grid;
    grid.spec = m_spec;
    grid.metric = request.metric;
    grid.values.assign(static_cast<size_t>(m_spec.Cols()) * m_spec.Rows(),
                       std::numeric_limits<float>::quiet_NaN());
    std::vector<size_t> selected;
    for (size_t a = 0; a < m_aps.size(); ++a) {
        if (request.filter.Selects(m_aps[a])) {
            selected.push_back(a);
        }
    }
    const RadioCombiner combiner(m_radios, std::move(selected));
    const size_t apCount = m_aps.size();
    const size_t chunks = (m_cells.size() + kMapChunk - 1) / kMapChunk;
    const int cols = m_spec.Cols();
    ParallelFor(chunks, m_threads, [&](size_t c) {
        std::vector<double> scratch;
        const size_t end = std::min(m_cells.size(), (c + 1) * kMapChunk);
        for (size_t i = c * kMapChunk; i < end; ++i) {
            const RadioLevels heard =
                combiner.Combine(m_levels.data() + i * apCount, request.threshold, scratch,
                                 request.metric == Metric::kCochannel);
            double value = 0;
            switch (request.metric) {
                case Metric::kStrongest:
                    value = heard.strongest;
                    break;
                case Metric::kSecond:
                    value = heard.second;
                    break;
                case Metric::kCount:
                    value = heard.reaching;
                    break;
                case Metric::kCochannel:
                    value = heard.cochannel;
                    break;
                case Metric::kSnr: {
                    value = std::numeric_limits<double>::quiet_NaN();
                    if (heard.strongestRadio != kNoRadio) {
                        const Radio& radio = m_radios.At(heard.strongestRadio);
                        const uint32_t cell = m_cells[i];
                        const std::optional<double> noise =
                            m_noise.Nearest(radio.band, radio.channel,
                                            m_spec.CentreX(static_cast<int>(cell % cols)),
                                            m_spec.CentreY(static_cast<int>(cell / cols)));
                        if (noise) {
                            value = heard.strongest - *noise;
                        }
                    }
                    break;
                }
            }
            grid.values[m_cells[i]] = static_cast<float>(value);
        }
    });
    return grid;
}

double CoverageModel::LevelAt(size_t ap, double x, double y) const {
    std::vector<double> out(m_aps.size());
    m_field->Predict(&x, &y, 1, out.data());
    double loss = 0;
    if (!m_wallLoss.empty() && !m_wallLoss.at(ap).empty()) {
        loss = WallLossAt(m_walls, m_wallLoss[ap], m_sources[ap].x, m_sources[ap].y, x, y);
    }
    return Limit(out.at(ap) - loss, m_ceiling.at(ap));
}

}  // namespace coverage
