// Heatmap accuracy and speed. Surveys simulated sites (the simulated unit's
// own levels, walls included) at several densities and noise levels, maps
// them with every interpolation method and compares each map with the
// simulator's exact, noise-free field, beside what the surveys leave to
// guess for any method (rooms nobody visited, the error the ceiling on every
// map alone leaves). Then times a large map. Then the same against a second
// ground truth the model does not describe (walls unlike their materials,
// slanted crossings, shadowing, a receiver floor). Prints figures; not a test.
//
//   bench_heatmap [--quick] [--second] [--pictures DIR]
//   (--second: the second ground truth alone; --pictures: its truth and maps
//   side by side, DIR/second-N.ppm for N points)
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <iterator>
#include <map>
#include <random>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "coverage/coverage_map.h"
#include "coverage/rssi_bands.h"
#include "sim/scenario.h"
#include "sim/unit_protocol.h"
#include "survey/channels.h"

namespace {

using coverage::Method;

void Fail(const std::string& what) {
    std::fprintf(stderr, "bench_heatmap: %s\n", what.c_str());
    std::exit(1);
}

double Seconds(const std::function<void()>& work) {
    const auto start = std::chrono::steady_clock::now();
    work();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// The median of `runs` runs.
double Median(int runs, const std::function<void()>& work) {
    std::vector<double> times;
    for (int i = 0; i < runs; ++i) {
        times.push_back(Seconds(work));
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

// A room of a site's plan: x, y, width, height in map pixels.
struct Room {
    int x, y, w, h;
    bool Holds(double px, double py) const {
        return px >= x && px < x + w && py >= y && py < y + h;
    }
};

struct Site {
    std::string name;
    sim::Scenario scenario;
    int width = 0;
    int height = 0;
    int margin = 0;           // survey points keep this far from the map's edge
    std::vector<Room> rooms;  // of the plan, corridors aside (none: an open space)
};

sim::SimAccessPoint PlacedAp(int index, int x, int y, int rssi, double pathLoss, int step) {
    sim::SimAccessPoint ap;
    ap.mac = {0x02, 0x00, 0x00, 0x00, 0x00, static_cast<uint8_t>(index)};
    ap.ssid = "Bench";
    ap.step = step;
    ap.frequency = 5180 + 20 * (step - 1);
    ap.rssi = rssi;
    ap.hasPosition = true;
    ap.x = x;
    ap.y = y;
    ap.pathLoss = pathLoss;
    return ap;
}

// The example office: ten access points and the walls of its floor plan.
Site Office() {
    Site site;
    site.name = "office, walls";
    std::string error;
    const std::string path = std::string(KESTROW_SOURCE_DIR) + "/examples/office.json";
    if (!sim::LoadScenario(path, site.scenario, error)) {
        Fail(error);
    }
    if (site.scenario.walls.empty()) {
        Fail(path + ": the office scenario has no walls");
    }
    site.width = 640;
    site.height = 480;
    site.margin = 16;
    // The rooms examples/floorplan draws.
    site.rooms = {{10, 10, 170, 175},   {180, 10, 270, 175},  {450, 10, 180, 175},
                  {10, 215, 170, 105},  {180, 215, 200, 105}, {380, 215, 70, 105},
                  {450, 215, 180, 105}, {10, 350, 230, 120},  {240, 350, 160, 120},
                  {400, 350, 230, 120}};
    return site;
}

// An open hall without walls: seven access points, irregularly placed, with
// different transmit levels and fall-offs.
Site Hall() {
    Site site;
    site.name = "open hall";
    const int aps[7][4] = {{120, 110, -40, 1}, {430, 80, -44, 5},   {780, 150, -38, 9},
                           {250, 420, -46, 3}, {600, 330, -42, 12}, {860, 520, -45, 16},
                           {60, 560, -48, 7}};
    const double loss[7] = {2.6, 3.0, 3.3, 2.8, 3.1, 2.5, 3.4};
    for (int i = 0; i < 7; ++i) {
        site.scenario.accessPoints.push_back(
            PlacedAp(i + 1, aps[i][0], aps[i][1], aps[i][2], loss[i], aps[i][3]));
    }
    site.width = 960;
    site.height = 640;
    site.margin = 16;
    return site;
}

// Survey positions spread like a surveyor's: one point in each of `count`
// strata of a grid over the floor, at a random place within it.
std::vector<sim::MapPosition> SurveyPositions(const Site& site, int count, std::mt19937& random) {
    const double w = site.width - 2.0 * site.margin;
    const double h = site.height - 2.0 * site.margin;
    const int cols = std::max(1, static_cast<int>(std::lround(std::sqrt(count * w / h))));
    const int rows = (count + cols - 1) / cols;
    std::vector<int> strata(cols * rows);
    for (size_t i = 0; i < strata.size(); ++i) {
        strata[i] = static_cast<int>(i);
    }
    std::shuffle(strata.begin(), strata.end(), random);
    std::uniform_real_distribution<double> unit(0, 1);
    std::vector<sim::MapPosition> out;
    for (int i = 0; i < count; ++i) {
        const int c = strata[i] % cols;
        const int r = strata[i] / cols;
        out.push_back({site.margin + static_cast<int>((c + unit(random)) * w / cols),
                       site.margin + static_cast<int>((r + unit(random)) * h / rows)});
    }
    return out;
}

// A survey of the site as the simulated unit reports it, every access point
// with the given noise.
coverage::Survey Survey(const Site& site, const std::vector<sim::MapPosition>& positions,
                        double noise, uint32_t seed) {
    sim::Scenario scenario = site.scenario;
    scenario.seed = seed;
    for (sim::SimAccessPoint& ap : scenario.accessPoints) {
        ap.noiseDb = noise;
    }
    sim::UnitResponder unit(scenario);
    coverage::Survey survey;
    for (const sim::MapPosition& at : positions) {
        coverage::SurveyPoint point;
        point.x = at.x;
        point.y = at.y;
        for (const sim::SimAccessPoint& ap : scenario.accessPoints) {
            coverage::Reading r;
            std::copy(ap.mac.begin(), ap.mac.end(), r.bssid.begin());
            r.ssid = ap.ssid;
            r.channel = (ap.frequency - 5000) / 5;
            r.rssi = unit.HeardLevel(ap, at);
            point.heard.push_back(r);
        }
        survey.points.push_back(point);
    }
    return survey;
}

// The building as a surveyor would draw it: the scenario's walls, all of
// drywall (whose start value, 4 dB at 5 GHz, is not the simulator's loss).
coverage::Building Building(const Site& site) {
    coverage::Building building;
    building.materialLossDb = {{3, 4, 5}};
    for (const sim::Wall& w : site.scenario.walls) {
        building.walls.push_back({w.x1, w.y1, w.x2, w.y2, 0});
    }
    building.pixelsPerMetre = 20;
    return building;
}

// A map variant: a method, with or without the walls.
struct Variant {
    Method method;
    bool walls;
    bool operator<(const Variant& o) const {
        return std::tie(method, walls) < std::tie(o.method, o.walls);
    }
    std::string Name() const {
        return std::string(coverage::MethodName(method)) + (walls ? "+w" : "");
    }
};

std::vector<Variant> AllVariants() {
    std::vector<Variant> all;
    for (bool walls : {false, true}) {
        for (Method m : coverage::AllMethods()) {
            all.push_back({m, walls});
        }
    }
    return all;
}

// The colour band of a level, as the legend defines it (and the heatmap
// pictures draw it): the first band whose floor the level is above.
int Band(double level) {
    for (int i = 0; i < kRssiBandCount - 1; ++i) {
        if (level > kRssiBands[i].above) {
            return i;
        }
    }
    return kRssiBandCount - 1;
}

struct Score {
    double rmse = 0;     // strongest signal, dB
    double bias = 0;     // mean of map - truth, dB
    double band = 0;     // share of cells in the right colour band
    double apRmse = 0;   // every access point's level, dB
    double looRmse = 0;  // leave-one-out, strongest signal at the survey positions, dB
    double seconds = 0;  // build time
    int runs = 0;

    void Add(const Score& s) {
        rmse += s.rmse;
        bias += s.bias;
        band += s.band;
        apRmse += s.apRmse;
        looRmse += s.looRmse;
        seconds += s.seconds;
        ++runs;
    }
    Score Mean() const {
        Score m = *this;
        const double n = std::max(1, runs);
        m.rmse /= n;
        m.bias /= n;
        m.band /= n;
        m.apRmse /= n;
        m.looRmse /= n;
        m.seconds /= n;
        return m;
    }
};

// The site's exact field at every cell centre: each access point's level.
struct Truth {
    coverage::GridSpec spec;
    std::vector<double> levels;  // cell x access point
};

Truth ExactField(const Site& site, const coverage::GridSpec& spec) {
    Truth truth;
    truth.spec = spec;
    const size_t apCount = site.scenario.accessPoints.size();
    truth.levels.resize(static_cast<size_t>(spec.Cols()) * spec.Rows() * apCount);
    for (int row = 0; row < spec.Rows(); ++row) {
        for (int col = 0; col < spec.Cols(); ++col) {
            const size_t cell = static_cast<size_t>(row) * spec.Cols() + col;
            for (size_t a = 0; a < apCount; ++a) {
                truth.levels[cell * apCount + a] =
                    sim::ExactLevel(site.scenario, site.scenario.accessPoints[a], spec.CentreX(col),
                                    spec.CentreY(row));
            }
        }
    }
    return truth;
}

Score Measure(const Site& site, const Truth& truth, coverage::Survey survey, Variant variant,
              std::vector<double>* locationErrors) {
    coverage::BuildOptions options;
    options.method = variant.method;
    if (variant.walls) {
        survey.building = Building(site);
    }
    std::string error;
    std::shared_ptr<const coverage::CoverageModel> model;
    Score score;
    score.seconds = Seconds(
        [&] { model = coverage::CoverageModel::Build(survey, truth.spec, options, error); });
    if (!model) {
        Fail(error);
    }
    const coverage::Grid map = model->Map(coverage::MapRequest(coverage::Metric::kStrongest));
    // The model orders access points by BSSID; the scenario lists them in its own order.
    const size_t apCount = site.scenario.accessPoints.size();
    std::vector<size_t> modelIndex(apCount);
    for (size_t a = 0; a < apCount; ++a) {
        for (size_t m = 0; m < model->AccessPoints().size(); ++m) {
            if (std::equal(site.scenario.accessPoints[a].mac.begin(),
                           site.scenario.accessPoints[a].mac.end(),
                           model->AccessPoints()[m].bssid.begin())) {
                modelIndex[a] = m;
            }
        }
    }
    double sum2 = 0, sum = 0, apSum2 = 0;
    long cells = 0, agree = 0;
    const coverage::GridSpec& spec = truth.spec;
    for (int row = 0; row < spec.Rows(); ++row) {
        for (int col = 0; col < spec.Cols(); ++col) {
            if (!map.HasValue(col, row)) {
                continue;
            }
            const size_t cell = static_cast<size_t>(row) * spec.Cols() + col;
            double exact = coverage::kNotHeardDbm;
            for (size_t a = 0; a < apCount; ++a) {
                const double t = truth.levels[cell * apCount + a];
                exact = std::max(exact, t);
                const double e =
                    model->LevelAt(modelIndex[a], spec.CentreX(col), spec.CentreY(row));
                apSum2 += (e - t) * (e - t);
            }
            const double estimate = map.At(col, row);
            sum += estimate - exact;
            sum2 += (estimate - exact) * (estimate - exact);
            agree += Band(estimate) == Band(exact);
            ++cells;
        }
    }
    if (cells == 0) {
        Fail("no cell has a value");
    }
    score.rmse = std::sqrt(sum2 / cells);
    score.bias = sum / cells;
    score.band = static_cast<double>(agree) / cells;
    score.apRmse = std::sqrt(apSum2 / (cells * apCount));
    score.looRmse = model->LeaveOneOutError().strongestRmse;
    // Where the model put each access point heard at 4 positions or more, m.
    for (size_t a = 0; locationErrors != nullptr && a < apCount; ++a) {
        const size_t m = modelIndex[a];
        if (m < model->Sources().size() && model->Sources()[m].located &&
            model->AccessPoints()[m].pointsHeard >= 4) {
            const sim::SimAccessPoint& ap = site.scenario.accessPoints[a];
            locationErrors->push_back(
                std::hypot(model->Sources()[m].x - ap.x, model->Sources()[m].y - ap.y) / 20);
        }
    }
    return score;
}

// What a survey leaves to guess, whatever the method.
struct Geometry {
    double unseenCells = 0;  // share of the cells with a value that no survey point sees
    double emptyRooms = 0;   // rooms of the plan without a survey point
    double apsAlone = 0;     // access points in such a room
    double nearest = 0;      // mean distance from an access point to the nearest point, px
    double floor = 0;        // RMSE of the best map the ceiling allows, dB
    int runs = 0;

    void Add(const Geometry& g) {
        unseenCells += g.unseenCells;
        emptyRooms += g.emptyRooms;
        apsAlone += g.apsAlone;
        nearest += g.nearest;
        floor += g.floor;
        ++runs;
    }
    Geometry Mean() const {
        Geometry m = *this;
        const double n = std::max(1, runs);
        m.unseenCells /= n;
        m.emptyRooms /= n;
        m.apsAlone /= n;
        m.nearest /= n;
        m.floor /= n;
        return m;
    }
};

// "Sees": within the radius and no wall between. The floor is the error of
// a map that knows the exact field but, like every map here, shows no access
// point more than the margin above the strongest reading of it.
Geometry Examine(const Site& site, const Truth& truth,
                 const std::vector<sim::MapPosition>& positions, const coverage::Survey& survey) {
    const size_t apCount = site.scenario.accessPoints.size();
    std::vector<double> ceiling(apCount, coverage::kNotHeardDbm);
    for (const coverage::SurveyPoint& point : survey.points) {
        for (size_t a = 0; a < apCount; ++a) {
            ceiling[a] = std::max(ceiling[a], point.heard[a].rssi);
        }
    }
    Geometry g;
    for (const Room& room : site.rooms) {
        if (std::none_of(positions.begin(), positions.end(),
                         [&](const sim::MapPosition& p) { return room.Holds(p.x, p.y); })) {
            ++g.emptyRooms;
            for (const sim::SimAccessPoint& ap : site.scenario.accessPoints) {
                g.apsAlone += room.Holds(ap.x, ap.y);
            }
        }
    }
    for (const sim::SimAccessPoint& ap : site.scenario.accessPoints) {
        double nearest = std::hypot(site.width, site.height);
        for (const sim::MapPosition& p : positions) {
            nearest = std::min(nearest, std::hypot(p.x - ap.x, p.y - ap.y));
        }
        g.nearest += nearest / apCount;
    }
    const coverage::GridSpec& spec = truth.spec;
    long cells = 0, unseen = 0;
    double sum2 = 0;
    for (int row = 0; row < spec.Rows(); ++row) {
        for (int col = 0; col < spec.Cols(); ++col) {
            const double x = spec.CentreX(col), y = spec.CentreY(row);
            bool near = false, seen = false;
            for (const sim::MapPosition& p : positions) {
                const double dx = p.x - x, dy = p.y - y;
                if (dx * dx + dy * dy <= spec.radius * spec.radius) {
                    near = true;
                    seen = seen || sim::WallsCrossed(site.scenario.walls, p.x, p.y, x, y) == 0;
                }
            }
            if (!near) {
                continue;
            }
            const size_t cell = static_cast<size_t>(row) * spec.Cols() + col;
            double exact = coverage::kNotHeardDbm, best = coverage::kNotHeardDbm;
            for (size_t a = 0; a < apCount; ++a) {
                const double t = truth.levels[cell * apCount + a];
                exact = std::max(exact, t);
                best = std::max(best, std::min(t, ceiling[a] + coverage::kCeilingMarginDb));
            }
            sum2 += (best - exact) * (best - exact);
            unseen += !seen;
            ++cells;
        }
    }
    g.unseenCells = static_cast<double>(unseen) / std::max(1l, cells);
    g.floor = std::sqrt(sum2 / std::max(1l, cells));
    return g;
}

// Sums of one figure over the cases, per method.
struct Tally {
    double sum = 0;
    double worstNoiseless = 0;
    int cases = 0;
    void Add(double v, bool noiseless) {
        sum += v;
        ++cases;
        if (noiseless) {
            worstNoiseless = std::max(worstNoiseless, v);
        }
    }
    double Mean() const { return sum / std::max(1, cases); }
};

// The median and 90th percentile of some figures.
std::pair<double, double> Percentiles(std::vector<double> v) {
    if (v.empty()) {
        return {std::nan(""), std::nan("")};
    }
    std::sort(v.begin(), v.end());
    return {v[v.size() / 2], v[std::min(v.size() - 1, v.size() * 9 / 10)]};
}

void AccuracyTable(bool quick) {
    const std::vector<Site> sites = {Office(), Hall()};
    const int densities[] = {15, 30, 60};
    const double noises[] = {0, 3};
    const int surveys = quick ? 2 : 6;  // independent surveys per case, averaged
    const std::vector<Variant> variants = AllVariants();

    std::printf(
        "Accuracy against the simulator's exact, noise-free field, over the cells within the\n"
        "radius (4-pixel cells, radius 100 px = 5 m at 20 px/m). Each case is the mean of %d\n"
        "independent surveys (points spread one a stratum, readings from the simulated unit).\n"
        "Each method maps without the walls (as --walls off) and, +w, with them: the\n"
        "scenario's walls drawn as drywall (4 dB to start; the simulator's walls cost 5 dB),\n"
        "the loss calibrated on the survey.\n"
        "  rmse  the strongest-signal map (what the heatmap shows), dB\n"
        "  bias  its mean error (map - truth), dB\n"
        "  band  share of its cells in the right colour band of the legend\n"
        "  ap    every access point's own interpolated level, RMSE in dB\n"
        "  loo   leave-one-out on the survey itself: strongest signal at each survey\n"
        "        position predicted from the others, RMSE in dB\n\n",
        surveys);
    std::printf("%-14s %6s %5s", "scenario", "points", "noise");
    for (const Variant& v : variants) {
        std::printf(" | %-11s %5s %5s %4s %5s %5s", v.Name().c_str(), "rmse", "bias", "band", "ap",
                    "loo");
    }
    std::printf("\n");

    std::map<Variant, Tally> rmse, ap, band, loo, office15;
    std::map<Variant, std::vector<double>> located;
    std::vector<std::string> geometry;  // one line a case
    for (const Site& site : sites) {
        coverage::GridSpec spec{site.width, site.height, 4, 100};
        const Truth truth = ExactField(site, spec);
        for (double noise : noises) {
            for (int density : densities) {
                std::map<Variant, Score> scores;
                Geometry geo;
                for (int s = 0; s < surveys; ++s) {
                    std::mt19937 random(1000u * density + 17u * s + 5u);
                    const std::vector<sim::MapPosition> positions =
                        SurveyPositions(site, density, random);
                    const coverage::Survey survey =
                        Survey(site, positions, noise, 77u + static_cast<uint32_t>(s));
                    for (const Variant& v : variants) {
                        scores[v].Add(Measure(site, truth, survey, v, &located[v]));
                    }
                    geo.Add(Examine(site, truth, positions, survey));
                }
                const Geometry g = geo.Mean();
                char line[160], rooms[40] = "             -", alone[40] = "             -";
                if (!site.rooms.empty()) {
                    std::snprintf(rooms, sizeof rooms, "%8.1f of %-2zu", g.emptyRooms,
                                  site.rooms.size());
                    std::snprintf(alone, sizeof alone, "%8.1f of %-2zu", g.apsAlone,
                                  site.scenario.accessPoints.size());
                }
                std::snprintf(line, sizeof line, "%-14s %6d %5.0f | %5.0f%% %s %s %7.0f %6.2f",
                              site.name.c_str(), density, noise, 100 * g.unseenCells, rooms, alone,
                              g.nearest, g.floor);
                geometry.push_back(line);
                std::printf("%-14s %6d %5.0f", site.name.c_str(), density, noise);
                for (const Variant& v : variants) {
                    const Score mean = scores[v].Mean();
                    std::printf(" | %-11s %5.2f %+5.2f %3.0f%% %5.2f %5.2f", "", mean.rmse,
                                mean.bias, 100 * mean.band, mean.apRmse, mean.looRmse);
                    rmse[v].Add(mean.rmse, noise == 0);
                    ap[v].Add(mean.apRmse, noise == 0);
                    band[v].Add(mean.band, noise == 0);
                    loo[v].Add(mean.looRmse, noise == 0);
                    if (!site.rooms.empty() && density == 15) {
                        office15[v].Add(mean.rmse, noise == 0);
                    }
                }
                std::printf("\n");
            }
        }
    }

    std::printf("\n%-38s", "");
    for (const Variant& v : variants) {
        std::printf(" %11s", v.Name().c_str());
    }
    const auto row = [&](const char* label, const std::map<Variant, Tally>& tally, bool worst,
                         double scale, const char* unit) {
        std::printf("\n%-38s", label);
        for (const Variant& v : variants) {
            std::printf(" %9.2f%-2s",
                        scale * (worst ? tally.at(v).worstNoiseless : tally.at(v).Mean()), unit);
        }
    };
    row("strongest rmse, mean of all cases", rmse, false, 1, "dB");
    row("strongest rmse, worst case w/o noise", rmse, true, 1, "dB");
    row("walled office, 15 points: mean rmse", office15, false, 1, "dB");
    row("walled office, 15 points: worst w/o noise", office15, true, 1, "dB");
    row("ap rmse, mean of all cases", ap, false, 1, "dB");
    row("ap rmse, worst case w/o noise", ap, true, 1, "dB");
    row("band agreement, mean of all cases", band, false, 100, "% ");
    row("leave-one-out rmse, mean of all cases", loo, false, 1, "dB");
    std::printf("\n%-38s", "ap location error, median");
    for (const Variant& v : variants) {
        std::printf(" %10.2fm", Percentiles(located[v]).first);
    }
    std::printf("\n%-38s", "ap location error, 90th percentile");
    for (const Variant& v : variants) {
        std::printf(" %10.2fm", Percentiles(located[v]).second);
    }
    std::printf(
        "\n(location: access points heard at 4 positions or more, every case; idw and\n"
        "kriging locate only with walls)\n\n");

    const Variant idw{Method::kIdw, false};
    const double idwRmse = rmse[idw].Mean();
    const double idwAp = ap[idw].Mean();
    Variant best = idw;
    for (const Variant& v : variants) {
        if (rmse[v].Mean() < rmse[best].Mean()) {
            best = v;
        }
    }
    for (const Variant& v : variants) {
        if (v.method == Method::kIdw && !v.walls) {
            continue;
        }
        std::printf("%-11s against idw: strongest rmse %+.1f%%, ap rmse %+.1f%%\n",
                    v.Name().c_str(), 100 * (rmse[v].Mean() / idwRmse - 1),
                    100 * (ap[v].Mean() / idwAp - 1));
    }
    const Method d = coverage::kDefaultMethod;
    const Variant dw{d, true}, doff{d, false};
    std::printf("most accurate: %s; the default method is %s\n", best.Name().c_str(),
                coverage::MethodName(d));
    const double gain = 1 - rmse[dw].Mean() / idwRmse;
    const double worst = office15[dw].worstNoiseless;
    const double wallGain = 1 - office15[dw].Mean() / office15[doff].Mean();
    std::printf(
        "targets, the default method with walls: %.1f%% better than idw on average (at least\n"
        "20%%): %s; walled office at 15 points, worst case without noise %.2f dB (at most\n"
        "5 dB): %s; there %.1f%% below the same method with --walls off on average\n\n",
        100 * gain, gain >= 0.2 ? "met" : "NOT met", worst, worst <= 5 ? "met" : "NOT met",
        100 * wallGain);

    std::printf(
        "What the surveys leave to guess, whatever the method (same surveys, same cells):\n"
        "  unseen    cells that no survey point sees (within the radius, no wall between)\n"
        "  rooms     rooms of the plan without a survey point (corridors aside)\n"
        "  aps       access points in those rooms\n"
        "  nearest   mean distance from an access point to the nearest survey point, px\n"
        "  floor     strongest rmse of the best map any method may draw here: the exact\n"
        "            field, but no access point more than %.0f dB above its strongest\n"
        "            reading (the ceiling every map keeps without a confident source), dB\n\n"
        "%-14s %6s %5s | %6s %14s %14s %7s %6s\n",
        coverage::kCeilingMarginDb, "scenario", "points", "noise", "unseen", "rooms", "aps",
        "nearest", "floor");
    for (const std::string& line : geometry) {
        std::printf("%s\n", line.c_str());
    }
    std::printf("\n");
}

// How a wait feels: a person takes up to about 0.1 s as immediate.
const char* Feel(double seconds) {
    return seconds <= 0.1 ? "live" : seconds <= 1.0 ? "a short wait" : "a noticeable wait";
}

// A large site: 2000 x 1500 pixels, 50 access points, rooms of 250 x 250
// pixels with a door gap in every wall; its survey takes 300 points.
Site LargeSite(std::mt19937& random) {
    Site site;
    site.name = "large";
    site.width = 2000;
    site.height = 1500;
    site.margin = 20;
    std::uniform_int_distribution<int> x(50, 1950), y(50, 1450), level(-48, -36), step(1, 16);
    std::uniform_real_distribution<double> loss(2.5, 3.5);
    for (int i = 0; i < 50; ++i) {
        site.scenario.accessPoints.push_back(
            PlacedAp(i + 1, x(random), y(random), level(random), loss(random), step(random)));
    }
    for (int line = 250; line < 2000; line += 250) {
        for (int from = 0; from < 1500; from += 250) {
            site.scenario.walls.push_back({double(line), double(from), double(line), from + 200.0});
        }
    }
    for (int line = 250; line < 1500; line += 250) {
        for (int from = 0; from < 2000; from += 250) {
            site.scenario.walls.push_back({double(from), double(line), from + 200.0, double(line)});
        }
    }
    return site;
}

void Timings(bool quick) {
    std::mt19937 random(2024);
    const Site site = LargeSite(random);
    const coverage::Survey survey = Survey(site, SurveyPositions(site, 300, random), 2, 9);
    coverage::Survey walledSurvey = survey;
    walledSurvey.building = Building(site);
    const coverage::GridSpec spec{2000, 1500, 4, 100};
    coverage::GridSpec noCells = spec;
    noCells.radius = 0;  // the fit alone: no cell centre lies on a survey point
    const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
    const int runs = quick ? 1 : 3;

    std::printf(
        "Speed: a %d x %d map, %zu survey points x %zu access points, %d-pixel cells,\n"
        "radius %.0f px; median of %d runs; this machine has %u cores.\n"
        "  full map     building the model and its strongest-signal map, s\n"
        "  fit          of that, fitting the method to the survey, s\n"
        "  per cell/ap  the rest, per cell and access point\n"
        "  new filter   the strongest signal of one channel's access points from the\n"
        "               built model (a change of filter, metric or threshold), ms\n\n",
        spec.mapWidth, spec.mapHeight, survey.points.size(), site.scenario.accessPoints.size(),
        spec.cell, spec.radius, runs, cores);
    std::printf("%-8s %7s %9s %7s %8s %11s %10s\n", "method", "threads", "full map", "fit", "cells",
                "per cell/ap", "new filter");
    std::map<Method, double> fullOnAll;
    double worstFilter = 0;
    for (Method m : coverage::AllMethods()) {
        for (unsigned threads : {1u, cores}) {
            coverage::BuildOptions options;
            options.method = m;
            options.threads = threads;
            std::shared_ptr<const coverage::CoverageModel> model;
            std::string error;
            coverage::Grid map;
            const auto build = [&](const coverage::GridSpec& grid) {
                model = coverage::CoverageModel::Build(survey, grid, options, error);
                if (!model) {
                    Fail(error);
                }
                map = model->Map(coverage::MapRequest(coverage::Metric::kStrongest));
            };
            const double fit = Median(runs, [&] { build(noCells); });
            const double full = Median(runs, [&] { build(spec); });
            coverage::MapRequest request;
            request.filter.channels = {model->AccessPoints()[0].channel};
            const double filter = Median(runs * 5, [&] { map = model->Map(request); });
            const double perCell = (full - fit) / (static_cast<double>(model->CellsWithValue()) *
                                                   model->AccessPoints().size());
            std::printf("%-8s %7u %8.3fs %6.3fs %8zu %8.0f ns %7.1f ms\n", coverage::MethodName(m),
                        threads, full, fit, model->CellsWithValue(), perCell * 1e9, filter * 1e3);
            if (threads == cores) {
                fullOnAll[m] = full;
                worstFilter = std::max(worstFilter, filter);
            }
        }
    }

    // The default method with the walls: the same survey (its readings lose
    // the walls' loss too), the full map on every core.
    double walledFull = 0;
    {
        coverage::BuildOptions options;
        options.threads = cores;
        std::string error;
        walledFull = Median(runs, [&] {
            auto model = coverage::CoverageModel::Build(walledSurvey, spec, options, error);
            if (!model) {
                Fail(error);
            }
            model->Map(coverage::MapRequest(coverage::Metric::kStrongest));
        });
        std::printf("%-8s %7u %8.3fs  with %zu walls: %.2fx the time without\n", "pathloss", cores,
                    walledFull, site.scenario.walls.size(),
                    walledFull / fullOnAll[coverage::kDefaultMethod]);
    }

    // A survey in progress: the example office's size, as Kestrow recomputes
    // it after every committed point.
    const Site office = Office();
    std::mt19937 walk(7);
    const coverage::Survey officeSurvey = Survey(office, SurveyPositions(office, 40, walk), 2, 3);
    const coverage::GridSpec officeSpec{office.width, office.height, 4, 64};
    std::printf(
        "\nA survey in progress: the %d x %d office, %zu points x %zu access points, "
        "%d-pixel cells, %u threads:\n",
        office.width, office.height, officeSurvey.points.size(),
        office.scenario.accessPoints.size(), officeSpec.cell, cores);
    std::map<Method, double> officeTime;
    for (Method m : coverage::AllMethods()) {
        coverage::BuildOptions options;
        options.method = m;
        std::string error;
        officeTime[m] = Median(runs * 3, [&] {
            auto model = coverage::CoverageModel::Build(officeSurvey, officeSpec, options, error);
            if (!model) {
                Fail(error);
            }
            model->Map(coverage::MapRequest(coverage::Metric::kStrongest));
        });
        std::printf("  %-8s model and map after a new point: %6.1f ms\n", coverage::MethodName(m),
                    officeTime[m] * 1e3);
    }
    coverage::Survey walledOffice = officeSurvey;
    walledOffice.building = Building(office);
    double walledOfficeTime = 0;
    {
        coverage::BuildOptions options;
        std::string error;
        walledOfficeTime = Median(runs * 3, [&] {
            auto model = coverage::CoverageModel::Build(walledOffice, officeSpec, options, error);
            if (!model) {
                Fail(error);
            }
            model->Map(coverage::MapRequest(coverage::Metric::kStrongest));
        });
        std::printf(
            "  %-8s the same with its %zu walls (fit, calibration, wall loss of every\n"
            "           cell): %6.1f ms\n",
            coverage::MethodName(coverage::kDefaultMethod), office.scenario.walls.size(),
            walledOfficeTime * 1e3);
    }

    const Method d = coverage::kDefaultMethod;
    std::printf(
        "\nOn this machine (%u cores), with the default method (%s):\n"
        "  a filter, metric or threshold change: at most %.1f ms: %s\n"
        "  a new point on the large site: %.2f s: %s, computed off the user-interface thread\n"
        "  a new point on an office-sized survey: %.1f ms: %s; with its walls %.1f ms: %s\n"
        "  a new point on the large site with walls: %.2f s, %.2fx without (at most 2x): %s\n",
        cores, coverage::MethodName(d), worstFilter * 1e3, Feel(worstFilter), fullOnAll[d],
        Feel(fullOnAll[d]), officeTime[d] * 1e3, Feel(officeTime[d]), walledOfficeTime * 1e3,
        Feel(walledOfficeTime), walledFull, walledFull / fullOnAll[d],
        walledFull <= 2 * fullOnAll[d] ? "met" : "NOT met");
}

// A second ground truth, one the model does not describe: every wall costs
// its material's loss at the access point's band times a factor of its own
// (up to kLossSpread either way), and more the more slanted its crossing (the
// path through it grows as 1 / cos of the angle from its normal, capped at
// kAngleCap); the simulator's shadowing lies on every access point's level;
// and the receiver hears nothing below kFloorDbm. The model is given the
// walls with their materials (as a sidecar gives them) and the materials'
// table losses to start from, or no walls at all.
constexpr double kLossSpread = 0.4;
constexpr double kAngleCap = 3;
constexpr double kShadowingDb = 3;
constexpr double kShadowingM = 2;
constexpr double kFloorDbm = -95;

struct RealSite {
    Site site;                // its scenario's walls carry their materials
    sim::Scenario open;       // the same without walls: distance and shadowing
    std::vector<double> own;  // each wall's loss over its material's
};

RealSite MakeReal(Site site, const std::vector<sitefile::Material>& materials, uint32_t seed) {
    RealSite real;
    std::mt19937 random(seed);
    std::uniform_real_distribution<double> spread(1 - kLossSpread, 1 + kLossSpread);
    for (size_t i = 0; i < site.scenario.walls.size(); ++i) {
        site.scenario.walls[i].material = materials[i % materials.size()];
        real.own.push_back(spread(random));
    }
    site.scenario.shadowingDb = kShadowingDb;
    site.scenario.shadowingM = kShadowingM;
    site.scenario.pixelsPerMetre = 20;
    site.scenario.sensitivityDbm = kFloorDbm;
    site.scenario.seed = seed;
    real.open = site.scenario;
    real.open.walls.clear();
    real.site = std::move(site);
    return real;
}

// The example office, its walls of several materials: concrete outside,
// brick and glass along the corridors, drywall, wood and a metal-clad
// server room inside; three of its access points moved to 2.4 and 6 GHz.
RealSite RealOffice() {
    using M = sitefile::Material;
    const std::vector<M> materials = {
        M::kConcrete, M::kConcrete, M::kConcrete, M::kConcrete, M::kConcrete, M::kConcrete,
        M::kBrick,    M::kBrick,    M::kBrick,    M::kBrick,    M::kGlass,    M::kGlass,
        M::kGlass,    M::kGlass,    M::kDrywall,  M::kDrywall,  M::kDrywall,  M::kDrywall,
        M::kBrick,    M::kBrick,    M::kBrick,    M::kBrick,    M::kDrywall,  M::kWood,
        M::kDrywall,  M::kMetal,    M::kDrywall,  M::kDrywall,  M::kGlass};
    Site office = Office();
    if (office.scenario.walls.size() != materials.size()) {
        Fail("the office scenario's walls are not the ones this bench gives materials to");
    }
    office.name = "office";
    office.scenario.accessPoints[2].frequency = 2412;
    office.scenario.accessPoints[6].frequency = 2437;
    office.scenario.accessPoints[4].frequency = 5975;
    return MakeReal(office, materials, 31);
}

double RealLevel(const RealSite& real, const sim::SimAccessPoint& ap, double x, double y) {
    double level = sim::PathLevel(real.open, ap, x, y);
    const sim::Scenario& scenario = real.site.scenario;
    const double rx = x - ap.x, ry = y - ap.y, ray = std::hypot(rx, ry);
    for (size_t i = 0; i < scenario.walls.size(); ++i) {
        const sim::Wall& w = scenario.walls[i];
        if (!sim::CrossesWall(w, ap.x, ap.y, x, y)) {
            continue;
        }
        const double wx = w.x2 - w.x1, wy = w.y2 - w.y1;
        // cos of the angle from the wall's normal = sin of the angle from the wall.
        const double cosine = std::fabs(wx * ry - wy * rx) / (std::hypot(wx, wy) * ray);
        level -= sim::CrossingLoss(scenario, w, ap) * real.own[i] *
                 std::min(kAngleCap, 1 / std::max(cosine, 1e-9));
    }
    return level;
}

coverage::Survey RealSurvey(const RealSite& real, const std::vector<sim::MapPosition>& positions,
                            double noise, uint32_t seed) {
    std::mt19937 random(seed);
    std::normal_distribution<double> gaussian(0, 1);
    coverage::Survey survey;
    for (const sim::MapPosition& at : positions) {
        coverage::SurveyPoint point;
        point.x = at.x;
        point.y = at.y;
        for (const sim::SimAccessPoint& ap : real.site.scenario.accessPoints) {
            const double level = RealLevel(real, ap, at.x, at.y) + noise * gaussian(random);
            if (level < kFloorDbm) {
                continue;
            }
            coverage::Reading r;
            std::copy(ap.mac.begin(), ap.mac.end(), r.bssid.begin());
            r.ssid = ap.ssid;
            r.frequencyMhz = ap.frequency;
            r.channel = channels::ChannelFromFrequency(static_cast<uint32_t>(ap.frequency)).number;
            r.rssi = std::lround(std::clamp(level, -100.0, -20.0));
            point.heard.push_back(r);
        }
        survey.points.push_back(point);
    }
    return survey;
}

// The walls as the sidecar gives them: each with its material, every
// material at its table loss to start from.
coverage::Building RealBuilding(const RealSite& real) {
    coverage::Building building;
    for (const sitefile::MaterialInfo& info : sitefile::AllMaterials()) {
        building.materialLossDb.push_back({info.lossDb[0], info.lossDb[1], info.lossDb[2]});
    }
    for (const sim::Wall& w : real.site.scenario.walls) {
        building.walls.push_back({w.x1, w.y1, w.x2, w.y2, static_cast<int>(*w.material)});
    }
    building.pixelsPerMetre = 20;
    return building;
}

// Each access point's level at every cell centre (cell x access point) as
// the receiver hears it: kNotHeardDbm below its floor.
std::vector<double> RealField(const RealSite& real, const coverage::GridSpec& spec) {
    const std::vector<sim::SimAccessPoint>& aps = real.site.scenario.accessPoints;
    std::vector<double> out;
    out.reserve(static_cast<size_t>(spec.Cols()) * spec.Rows() * aps.size());
    for (int row = 0; row < spec.Rows(); ++row) {
        for (int col = 0; col < spec.Cols(); ++col) {
            for (const sim::SimAccessPoint& ap : aps) {
                const double level = RealLevel(real, ap, spec.CentreX(col), spec.CentreY(row));
                out.push_back(level < kFloorDbm ? coverage::kNotHeardDbm : std::min(level, -20.0));
            }
        }
    }
    return out;
}

// How far LocateAccessPoints puts each access point heard at 4 points or
// more from its place, metres.
void LocationErrors(const RealSite& real, const coverage::Survey& survey,
                    std::vector<double>& out) {
    // LocateAccessPoints answers in BSSID order, for the access points heard.
    std::vector<size_t> heard;
    std::vector<int> points(real.site.scenario.accessPoints.size(), 0);
    for (size_t a = 0; a < points.size(); ++a) {
        const auto& mac = real.site.scenario.accessPoints[a].mac;
        for (const coverage::SurveyPoint& p : survey.points) {
            points[a] +=
                std::any_of(p.heard.begin(), p.heard.end(), [&](const coverage::Reading& r) {
                    return std::equal(mac.begin(), mac.end(), r.bssid.begin());
                });
        }
        if (points[a] > 0) {
            heard.push_back(a);
        }
    }
    std::sort(heard.begin(), heard.end(), [&](size_t a, size_t b) {
        return real.site.scenario.accessPoints[a].mac < real.site.scenario.accessPoints[b].mac;
    });
    const std::vector<coverage::SourceEstimate> sources = coverage::LocateAccessPoints(survey);
    if (sources.size() != heard.size()) {
        Fail("LocateAccessPoints answered for another set of access points");
    }
    for (size_t k = 0; k < heard.size(); ++k) {
        const sim::SimAccessPoint& ap = real.site.scenario.accessPoints[heard[k]];
        if (points[heard[k]] >= 4 && sources[k].located) {
            out.push_back(std::hypot(sources[k].x - ap.x, sources[k].y - ap.y) / 20);
        } else if (points[heard[k]] >= 4) {
            out.push_back(std::nan(""));  // heard enough, not located: counted as missed
        }
    }
}

struct RealCase {
    int points = 0;
    double noise = 0;
    double rmse[2] = {0, 0};      // walls off, known; mean over the surveys
    double worst[2] = {0, 0};     // the worst survey
    double ceiling = 0;           // the best map the ceiling allows, mean
    std::vector<double> located;  // walls known
};

// Maps side by side as a PPM picture (`convert` makes it a PNG): each cell
// 2 x 2 pixels in its strongest-signal band's colour, grey where a map has
// no value, the survey points black and the walls dark grey.
void WritePanels(const std::string& path, const coverage::GridSpec& spec,
                 const std::vector<std::vector<double>>& panels, const coverage::Survey& survey,
                 const std::vector<sim::Wall>& walls) {
    const int cols = spec.Cols();
    const int rows = spec.Rows();
    const int gap = 8;
    const int width = static_cast<int>(panels.size()) * (2 * cols + gap) - gap;
    const int height = 2 * rows;
    std::vector<uint8_t> rgb(static_cast<size_t>(width) * height * 3, 255);
    const auto put = [&](int x, int y, uint32_t colour) {
        if (x >= 0 && y >= 0 && x < width && y < height) {
            uint8_t* p = &rgb[(static_cast<size_t>(y) * width + x) * 3];
            p[0] = (colour >> 16) & 0xFF;
            p[1] = (colour >> 8) & 0xFF;
            p[2] = colour & 0xFF;
        }
    };
    for (size_t k = 0; k < panels.size(); ++k) {
        const int left = static_cast<int>(k) * (2 * cols + gap);
        for (int r = 0; r < rows; ++r) {
            for (int c = 0; c < cols; ++c) {
                const double v = panels[k][static_cast<size_t>(r) * cols + c];
                const uint32_t colour =
                    std::isnan(v)
                        ? 0xC8C8C8u
                        : ColorRefToRgb(
                              kRssiBands[RssiBandIndex(static_cast<int>(std::lround(v)))].colorRef);
                for (int d = 0; d < 4; ++d) {
                    put(left + 2 * c + d % 2, 2 * r + d / 2, colour);
                }
            }
        }
        const double scale = 2.0 / spec.cell;
        for (const sim::Wall& w : walls) {
            const int steps = static_cast<int>(std::hypot(w.x2 - w.x1, w.y2 - w.y1) * scale) + 1;
            for (int i = 0; i <= steps; ++i) {
                const double t = static_cast<double>(i) / steps;
                put(left + static_cast<int>((w.x1 + t * (w.x2 - w.x1)) * scale),
                    static_cast<int>((w.y1 + t * (w.y2 - w.y1)) * scale), 0x404040u);
            }
        }
        for (const coverage::SurveyPoint& p : survey.points) {
            for (int d = 0; d < 9; ++d) {
                put(left + static_cast<int>(p.x * scale) + d % 3 - 1,
                    static_cast<int>(p.y * scale) + d / 3 - 1, 0x000000u);
            }
        }
    }
    std::FILE* out = std::fopen(path.c_str(), "wb");
    if (out == nullptr) {
        Fail("cannot write " + path);
    }
    std::fprintf(out, "P6\n%d %d\n255\n", width, height);
    std::fwrite(rgb.data(), 1, rgb.size(), out);
    std::fclose(out);
}

void RealTable(bool quick, const std::string& picturesDir) {
    const RealSite real = RealOffice();
    const Site& site = real.site;
    const size_t apCount = site.scenario.accessPoints.size();
    const coverage::GridSpec spec{site.width, site.height, 4, 100};
    const std::vector<double> field = RealField(real, spec);
    std::vector<double> truth(field.size() / apCount, coverage::kNotHeardDbm);
    for (size_t i = 0; i < field.size(); ++i) {
        truth[i / apCount] = std::max(truth[i / apCount], field[i]);
    }
    const int surveys = quick ? 2 : 4;
    std::printf(
        "A second ground truth: the office with walls of several materials, each wall's loss\n"
        "its material's times a factor of its own (up to %.0f%% either way) and 1 / cos of the\n"
        "angle of crossing (capped at %.0fx), shadowing of %.0f dB over %.0f m, nothing heard\n"
        "below %.0f dBm; three of its access points at 2.4 or 6 GHz. The default method (%s)\n"
        "with the walls known (the sidecar's walls and materials, the table's losses to start\n"
        "from) and with walls off. Strongest-signal RMSE in dB over the cells within 100 px,\n"
        "mean of %d surveys (the worst in brackets); below: how far walls known is below walls\n"
        "off; ceiling: the RMSE of the best map the ceiling on every map allows (the exact\n"
        "field, no access point above its strongest reading + %.0f dB), with walls known the\n"
        "same cells. Access points located by LocateAccessPoints with the walls known, those\n"
        "heard at 4 points or more: error in m, and how many it did not locate.\n\n",
        100 * kLossSpread, kAngleCap, kShadowingDb, kShadowingM, kFloorDbm,
        coverage::MethodName(coverage::kDefaultMethod), surveys, coverage::kCeilingMarginDb);
    std::printf("%6s %5s | %15s %15s %6s %7s | %6s %6s %6s\n", "points", "noise", "walls off",
                "walls known", "below", "ceiling", "median", "p90", "missed");
    std::vector<RealCase> cases;
    std::vector<double> allLocated;
    for (double noise : {0.0, 3.0}) {
        for (int density : {15, 30, 60}) {
            RealCase c;
            c.points = density;
            c.noise = noise;
            for (int s = 0; s < surveys; ++s) {
                std::mt19937 random(500u * density + 13u * s + 1u);
                const coverage::Survey plain =
                    RealSurvey(real, SurveyPositions(site, density, random), noise, 90u + s);
                coverage::Survey walled = plain;
                walled.building = RealBuilding(real);
                std::vector<double> ceiling(apCount, coverage::kNotHeardDbm);
                for (const coverage::SurveyPoint& p : plain.points) {
                    for (const coverage::Reading& r : p.heard) {
                        for (size_t a = 0; a < apCount; ++a) {
                            const auto& mac = site.scenario.accessPoints[a].mac;
                            if (std::equal(mac.begin(), mac.end(), r.bssid.begin())) {
                                ceiling[a] = std::max(ceiling[a], r.rssi);
                            }
                        }
                    }
                }
                int k = 0;
                std::vector<std::vector<double>> maps = {truth};
                for (const coverage::Survey* survey :
                     {&plain, static_cast<const coverage::Survey*>(&walled)}) {
                    std::string error;
                    auto model = coverage::CoverageModel::Build(*survey, spec, {}, error);
                    if (!model) {
                        Fail(error);
                    }
                    const coverage::Grid map =
                        model->Map(coverage::MapRequest(coverage::Metric::kStrongest));
                    double sum2 = 0, floor2 = 0;
                    long cells = 0;
                    for (size_t i = 0; i < map.values.size(); ++i) {
                        if (std::isnan(map.values[i])) {
                            continue;
                        }
                        sum2 += (map.values[i] - truth[i]) * (map.values[i] - truth[i]);
                        double best = coverage::kNotHeardDbm;
                        for (size_t a = 0; a < apCount; ++a) {
                            best =
                                std::max(best, std::min(field[i * apCount + a],
                                                        ceiling[a] + coverage::kCeilingMarginDb));
                        }
                        floor2 += (best - truth[i]) * (best - truth[i]);
                        ++cells;
                    }
                    if (!picturesDir.empty() && s == 0 && noise == 0) {
                        maps.push_back(std::vector<double>(map.values.begin(), map.values.end()));
                    }
                    const double rmse = std::sqrt(sum2 / std::max(1l, cells));
                    c.rmse[k] += rmse / surveys;
                    c.worst[k] = std::max(c.worst[k], rmse);
                    if (k == 1) {
                        c.ceiling += std::sqrt(floor2 / std::max(1l, cells)) / surveys;
                    }
                    ++k;
                }
                if (maps.size() == 3) {
                    // The truth, the map with walls off, the map with walls known.
                    WritePanels(picturesDir + "/second-" + std::to_string(density) + ".ppm", spec,
                                maps, walled, site.scenario.walls);
                }
                LocationErrors(real, walled, c.located);
            }
            std::vector<double> found;
            std::copy_if(c.located.begin(), c.located.end(), std::back_inserter(found),
                         [](double e) { return !std::isnan(e); });
            const auto [median, p90] = Percentiles(found);
            std::printf(
                "%6d %5.0f | %5.2f (%5.2f)   %5.2f (%5.2f) %5.1f%% %7.2f | %5.2fm %5.2fm %6zu\n",
                density, noise, c.rmse[0], c.worst[0], c.rmse[1], c.worst[1],
                100 * (1 - c.rmse[1] / c.rmse[0]), c.ceiling, median, p90,
                c.located.size() - found.size());
            allLocated.insert(allLocated.end(), c.located.begin(), c.located.end());
            cases.push_back(std::move(c));
        }
    }
    double off = 0, known = 0;
    bool betterEach = true, closeEnough = true;
    for (const RealCase& c : cases) {
        off += c.rmse[0] / cases.size();
        known += c.rmse[1] / cases.size();
        betterEach = betterEach && c.rmse[1] <= 0.75 * c.rmse[0];
        if (c.noise == 0 && (c.points == 15 || c.points == 30)) {
            closeEnough = closeEnough && c.worst[1] <= (c.points == 15 ? 5 : 4);
        }
    }
    std::vector<double> found;
    size_t missed = 0;
    for (double e : allLocated) {
        if (std::isnan(e)) {
            ++missed;
        } else {
            found.push_back(e);
        }
    }
    const auto [median, p90] = Percentiles(found);
    std::printf(
        "\ntargets: walls known at least 25%% below walls off: %.1f%% on average: %s, in every "
        "case: %s;\n"
        "noiseless, walls known, every survey at most 5 dB at 15 points and 4 dB at 30: %s;\n"
        "access points located (%zu, %zu more heard at 4 points or more but not located):\n"
        "median %.2f m (at most 2 m): %s, 90th percentile %.2f m (at most 4 m): %s\n\n",
        100 * (1 - known / off), known <= 0.75 * off ? "met" : "NOT met",
        betterEach ? "met" : "NOT met", closeEnough ? "met" : "NOT met", found.size(), missed,
        median, median <= 2 ? "met" : "NOT met", p90, p90 <= 4 ? "met" : "NOT met");
}

// The large site under the second ground truth: its walls of six materials,
// the full map (model and strongest-signal map, every core) with the walls
// known against the same without them.
void RealTimings(bool quick) {
    using M = sitefile::Material;
    std::mt19937 random(2024);
    const Site large = LargeSite(random);
    const std::vector<sim::MapPosition> positions = SurveyPositions(large, 300, random);
    const RealSite real = MakeReal(
        large, {M::kDrywall, M::kBrick, M::kGlass, M::kDrywall, M::kConcrete, M::kWood}, 41);
    const coverage::Survey plain = RealSurvey(real, positions, 2, 9);
    coverage::Survey walled = plain;
    walled.building = RealBuilding(real);
    const coverage::GridSpec spec{large.width, large.height, 4, 100};
    coverage::BuildOptions options;
    options.threads = std::max(1u, std::thread::hardware_concurrency());
    std::map<const coverage::Survey*, double> time;
    for (const coverage::Survey* survey : {&plain, static_cast<const coverage::Survey*>(&walled)}) {
        time[survey] = Median(quick ? 1 : 3, [&] {
            std::string error;
            auto model = coverage::CoverageModel::Build(*survey, spec, options, error);
            if (!model) {
                Fail(error);
            }
            model->Map(coverage::MapRequest(coverage::Metric::kStrongest));
        });
    }
    const double ratio = time[&walled] / time[&plain];
    std::printf(
        "The large site under the second ground truth (%d x %d, %zu points x %zu access points,\n"
        "%u threads, median of %d runs): full map without walls %.2f s, with its %zu walls of\n"
        "six materials known %.2f s: %.2fx (at most 2x): %s\n",
        large.width, large.height, positions.size(), large.scenario.accessPoints.size(),
        options.threads, quick ? 1 : 3, time[&plain], large.scenario.walls.size(), time[&walled],
        ratio, ratio <= 2 ? "met" : "NOT met");
}

}  // namespace

int main(int argc, char** argv) {
    bool quick = false, second = false;
    std::string pictures;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--quick") == 0) {
            quick = true;
        } else if (std::strcmp(argv[i], "--second") == 0) {
            second = true;
        } else if (std::strcmp(argv[i], "--pictures") == 0 && i + 1 < argc) {
            pictures = argv[++i];
        } else {
            std::fprintf(stderr, "usage: bench_heatmap [--quick] [--second] [--pictures DIR]\n");
            return 2;
        }
    }
    if (!second) {
        AccuracyTable(quick);
        Timings(quick);
        std::printf("\n");
    }
    RealTable(quick, pictures);
    RealTimings(quick);
    return 0;
}
