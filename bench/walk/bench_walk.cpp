// A walking survey of the simulated office at 1 m/s (20 pixels a metre).
// First in real time through the simulated unit on its pseudo-terminal: the
// sweeps' length, points a minute, and how far each stored position lies
// from the places the unit heard its readings at (the unit asks where the
// surveyor is for every channel step). Then the whole route in simulated
// time with the same engine: the heatmap's error against the simulator's
// exact field, for the walk and for stop-and-go points taken in the same
// time. Prints figures; not a test.
//
//   bench_walk [--quick]
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "coverage/coverage_map.h"
#include "platform/window_messages.h"
#include "sim/scenario.h"
#include "sim/simulated_scan_source.h"
#include "sim/unit_protocol.h"
#include "survey/record_list.h"
#include "walk/walk_engine.h"

namespace {

constexpr double kPixelsPerMetre = 20;
constexpr double kSpeed = 1;  // metres a second
constexpr int kMapWidth = 640;
constexpr int kMapHeight = 480;

void Fail(const std::string& what) {
    std::fprintf(stderr, "bench_walk: %s\n", what.c_str());
    std::exit(1);
}

int64_t SteadyMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// Through the office's corridors and every room, by its doors.
std::vector<walk::Place> Route() {
    return {{20, 200},  {135, 200}, {135, 170}, {140, 40},  {40, 40},   {40, 150},  {135, 170},
            {135, 200}, {415, 200}, {415, 170}, {410, 40},  {210, 40},  {210, 150}, {415, 170},
            {415, 200}, {485, 200}, {485, 170}, {490, 40},  {600, 40},  {600, 150}, {485, 170},
            {485, 200}, {575, 200}, {575, 230}, {600, 300}, {470, 300}, {470, 240}, {575, 230},
            {575, 200}, {315, 200}, {315, 230}, {350, 300}, {210, 300}, {210, 240}, {315, 230},
            {315, 200}, {135, 200}, {135, 230}, {160, 300}, {40, 300},  {40, 240},  {135, 230},
            {135, 200}, {20, 200},  {20, 335},  {75, 335},  {75, 365},  {40, 450},  {220, 450},
            {220, 370}, {75, 365},  {75, 335},  {365, 335}, {365, 365}, {260, 450}, {380, 450},
            {380, 370}, {365, 365}, {365, 335}, {420, 335}, {420, 305}, {430, 240}, {420, 305},
            {420, 335}, {595, 335}, {595, 365}, {610, 450}, {420, 450}, {420, 370}, {595, 365}};
}

// The route's first `metres`.
std::vector<walk::Place> Prefix(const std::vector<walk::Place>& route, double metres) {
    std::vector<walk::Place> out{route.front()};
    double left = metres * kPixelsPerMetre;
    for (size_t i = 1; i < route.size() && left > 0; ++i) {
        const double dx = route[i].x - route[i - 1].x, dy = route[i].y - route[i - 1].y;
        const double d = std::hypot(dx, dy);
        const double f = std::min(1.0, left / d);
        out.push_back({route[i - 1].x + f * dx, route[i - 1].y + f * dy});
        left -= d;
    }
    return out;
}

class NullWindow : public platform::WindowHandle {
  public:
    bool PostMessage(platform::MessageId, uintptr_t, intptr_t) override { return true; }
};

// Where a scan's readings were heard: one place a channel step.
struct HeardPlaces {
    int64_t startMs = 0;
    int64_t endMs = 0;
    std::vector<walk::Place> places;
};

// Passes everything to the scanner and notes, for every sweep, the places
// the surveyor was at whenever the scanner asked.
class Recorder : public ScanSource {
  public:
    explicit Recorder(ScanSource& inner) : m_inner(inner) {}
    void Connect(platform::WindowHandle* view) override { m_inner.Connect(view); }
    void Disconnect() override { m_inner.Disconnect(); }
    void RequestIdentity() override { m_inner.RequestIdentity(); }
    void StartScreenTexts(std::string& l, std::string& r) override {
        m_inner.StartScreenTexts(l, r);
    }
    void BeginSweep(int32_t x, int32_t y) override {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_current = HeardPlaces();
            m_current.startMs = SteadyMs();
        }
        m_inner.BeginSweep(x, y);
    }
    SweepState ContinueSweep() override { return m_inner.ContinueSweep(); }
    bool IsSweepRequested() const override { return m_inner.IsSweepRequested(); }
    bool TakeFinishedSweep() override {
        if (!m_inner.TakeFinishedSweep()) {
            return false;
        }
        std::lock_guard<std::mutex> lock(m_mutex);
        m_current.endMs = SteadyMs();
        finished.push_back(m_current);
        return true;
    }
    void CancelSweep() override { m_inner.CancelSweep(); }
    SweepDetails FinishedSweepDetails() const override { return m_inner.FinishedSweepDetails(); }
    std::string ProgressText() const override { return m_inner.ProgressText(); }
    bool ShowsScanHeading() const override { return m_inner.ShowsScanHeading(); }
    void FollowSurveyor(SurveyorPlace where) override {
        if (!where) {
            m_inner.FollowSurveyor(nullptr);
            return;
        }
        m_inner.FollowSurveyor([this, where](double& x, double& y) {
            if (!where(x, y)) {
                return false;
            }
            std::lock_guard<std::mutex> lock(m_mutex);
            // The unit hears at the whole pixel.
            m_current.places.push_back({std::round(x), std::round(y)});
            return true;
        });
    }

    std::deque<HeardPlaces> finished;  // taken, not yet committed

  private:
    ScanSource& m_inner;
    std::mutex m_mutex;
    HeardPlaces m_current;
};

// Distances, in metres, of stored positions from where readings were heard.
struct Spread {
    std::vector<double> d;
    void Add(double v) { d.push_back(v); }
    double Mean() const {
        double s = 0;
        for (double v : d) {
            s += v;
        }
        return d.empty() ? 0 : s / d.size();
    }
    double Quantile(double q) {
        if (d.empty()) {
            return 0;
        }
        std::sort(d.begin(), d.end());
        return d[std::min(d.size() - 1, static_cast<size_t>(q * d.size()))];
    }
};

coverage::SurveyPoint PointOf(int32_t x, int32_t y, const CRecordList& scan) {
    coverage::SurveyPoint point;
    point.x = x;
    point.y = y;
    for (const ApRecord* r = scan.Sentinel()->next; r != scan.Sentinel(); r = r->next) {
        coverage::Reading reading;
        std::copy(r->mac, r->mac + 6, reading.bssid.begin());
        reading.channel = r->channel;
        reading.rssi = static_cast<double>(r->rssi) / std::max(1, r->sampleCount);
        point.heard.push_back(reading);
    }
    return point;
}

// Commits into a coverage survey, measuring each point against where its
// readings were heard.
class Collector : public walk::WalkSurvey {
  public:
    explicit Collector(Recorder* recorder) : m_recorder(recorder) {}
    std::string NextPointName() override { return std::to_string(survey.points.size() + 1); }
    bool CommitWalkPoint(int32_t x, int32_t y, const std::string&, const CRecordList& scan,
                         const SweepDetails&) override {
        if (m_recorder && !m_recorder->finished.empty()) {
            const HeardPlaces heard = m_recorder->finished.front();
            m_recorder->finished.pop_front();
            sweepMs.Add(static_cast<double>(heard.endMs - heard.startMs));
            double mx = 0, my = 0;
            for (const walk::Place& p : heard.places) {
                reading.Add(std::hypot(p.x - x, p.y - y) / kPixelsPerMetre);
                mx += p.x / heard.places.size();
                my += p.y / heard.places.size();
            }
            if (!heard.places.empty()) {
                centre.Add(std::hypot(mx - x, my - y) / kPixelsPerMetre);
            }
        }
        survey.points.push_back(PointOf(x, y, scan));
        return true;
    }
    void WalkProgressed(const walk::WalkProgress&) override {}

    coverage::Survey survey;
    Spread reading;  // each channel step's place
    Spread centre;   // the mean of them
    Spread sweepMs;

  private:
    Recorder* m_recorder;
};

// The simulated unit without its line, in simulated time: a sweep of 16
// channel steps over `sweepMs`, each step heard at the surveyor's place then.
class VirtualUnit : public ScanSource {
  public:
    VirtualUnit(const sim::Scenario& scenario, int64_t& now, int sweepMs)
        : m_scenario(scenario), m_unit(scenario), m_now(now), m_stepMs(sweepMs / 16) {}
    void Connect(platform::WindowHandle*) override {}
    void Disconnect() override {}
    void RequestIdentity() override {}
    void StartScreenTexts(std::string&, std::string&) override {}
    void BeginSweep(int32_t x, int32_t y) override {
        m_at = {static_cast<double>(x), static_cast<double>(y)};
        m_step = 1;
        m_requested = true;
        m_done = false;
    }
    SweepState ContinueSweep() override {
        m_now += m_stepMs;
        double x = m_at.x, y = m_at.y;
        if (m_where) {
            m_where(x, y);
        }
        const sim::MapPosition at{static_cast<int>(std::lround(x)),
                                  static_cast<int>(std::lround(y))};
        std::lock_guard<std::mutex> lock(g_scanListMutex);
        for (const sim::SimAccessPoint& ap : m_scenario.accessPoints) {
            if (ap.step != m_step) {
                continue;
            }
            ApRecord* r = nullptr;
            if (g_scanList.AllocRecord(r) != 0) {
                Fail("out of memory");
            }
            std::memcpy(r->mac, ap.mac.data(), 6);
            r->rssi = static_cast<int16_t>(m_unit.HeardLevel(ap, at));
            r->sampleCount = 1;
            r->channel = static_cast<int16_t>((ap.frequency - 5000) / 5);
            g_scanList.Append(r);
        }
        if (++m_step > 16) {
            m_done = true;
            return SweepState::kDone;
        }
        return SweepState::kRunning;
    }
    bool IsSweepRequested() const override { return m_requested; }
    bool TakeFinishedSweep() override {
        const bool taken = m_requested && m_done;
        m_requested = m_requested && !taken;
        return taken;
    }
    void CancelSweep() override { m_requested = false; }
    std::string ProgressText() const override { return std::to_string(m_step); }
    bool ShowsScanHeading() const override { return true; }
    void FollowSurveyor(SurveyorPlace where) override { m_where = std::move(where); }

  private:
    sim::Scenario m_scenario;
    sim::UnitResponder m_unit;
    int64_t& m_now;
    int m_stepMs;
    walk::Place m_at;
    int m_step = 1;
    bool m_requested = false;
    bool m_done = false;
    SurveyorPlace m_where;
};

// The heatmap's error against the exact, noise-free field, dB, and the share
// of the floor's cells it has a value for.
struct Score {
    double rmse = 0;
    double cells = 0;
};

Score Measure(const sim::Scenario& scenario, const coverage::Survey& survey) {
    const coverage::GridSpec spec{kMapWidth, kMapHeight, 4, 5 * kPixelsPerMetre};
    std::string error;
    auto model = coverage::CoverageModel::Build(survey, spec, {}, error);
    if (!model) {
        Fail(error);
    }
    const coverage::Grid map = model->Map(coverage::MapRequest(coverage::Metric::kStrongest));
    double sum2 = 0;
    long cells = 0;
    for (int row = 0; row < spec.Rows(); ++row) {
        for (int col = 0; col < spec.Cols(); ++col) {
            if (!map.HasValue(col, row)) {
                continue;
            }
            double exact = coverage::kNotHeardDbm;
            for (const sim::SimAccessPoint& ap : scenario.accessPoints) {
                exact = std::max(
                    exact, sim::ExactLevel(scenario, ap, spec.CentreX(col), spec.CentreY(row)));
            }
            sum2 += (map.At(col, row) - exact) * (map.At(col, row) - exact);
            ++cells;
        }
    }
    return {std::sqrt(sum2 / std::max(1l, cells)),
            static_cast<double>(cells) / (static_cast<double>(spec.Cols()) * spec.Rows())};
}

// The whole route walked in simulated time with a scanner whose sweep takes
// `sweepMs`.
coverage::Survey WalkSimulated(const sim::Scenario& scenario, int sweepMs) {
    int64_t now = 0;
    VirtualUnit unit(scenario, now, sweepMs);
    Collector collector(nullptr);
    walk::WalkEngine engine(unit, collector, kPixelsPerMetre, [&now] { return now; });
    engine.StartPlanned(Route(), kSpeed);
    while (engine.Poll() != walk::WalkState::kEnded) {
    }
    return collector.survey;
}

// Stop-and-go in `seconds`: each point costs `perPointS` standing (finding
// the place on the plan, the tap, the sweep) and the walk to it, one point
// a stratum of a grid over the floor visited in a tour of about
// sqrt(points x area); as many points as fit.
coverage::Survey StopAndGo(const sim::Scenario& scenario, double seconds, double perPointS,
                           uint32_t seed, int& count) {
    const double margin = 16;
    const double w = kMapWidth - 2 * margin, h = kMapHeight - 2 * margin;
    const double area = w * h / (kPixelsPerMetre * kPixelsPerMetre);
    count = 1;
    while (std::sqrt((count + 1) * area) / kSpeed + (count + 1) * perPointS <= seconds) {
        ++count;
    }
    const int cols = std::max(1, static_cast<int>(std::lround(std::sqrt(count * w / h))));
    const int rows = (count + cols - 1) / cols;
    std::vector<int> strata(static_cast<size_t>(cols * rows));
    for (size_t i = 0; i < strata.size(); ++i) {
        strata[i] = static_cast<int>(i);
    }
    std::mt19937 random(seed);
    std::shuffle(strata.begin(), strata.end(), random);
    std::uniform_real_distribution<double> unit(0, 1);
    sim::UnitResponder responder(scenario);
    coverage::Survey survey;
    for (int i = 0; i < count; ++i) {
        const int c = strata[i] % cols, r = strata[i] / cols;
        const sim::MapPosition at{static_cast<int>(margin + (c + unit(random)) * w / cols),
                                  static_cast<int>(margin + (r + unit(random)) * h / rows)};
        coverage::SurveyPoint point;
        point.x = at.x;
        point.y = at.y;
        for (const sim::SimAccessPoint& ap : scenario.accessPoints) {
            coverage::Reading reading;
            std::copy(ap.mac.begin(), ap.mac.end(), reading.bssid.begin());
            reading.channel = (ap.frequency - 5000) / 5;
            reading.rssi = responder.HeardLevel(ap, at);
            point.heard.push_back(reading);
        }
        survey.points.push_back(point);
    }
    return survey;
}

// The same points with every reading heard exactly at its stored place.
coverage::Survey HeardWhereStored(const sim::Scenario& scenario, coverage::Survey survey) {
    for (coverage::SurveyPoint& point : survey.points) {
        for (coverage::Reading& r : point.heard) {
            for (const sim::SimAccessPoint& ap : scenario.accessPoints) {
                if (std::equal(ap.mac.begin(), ap.mac.end(), r.bssid.begin())) {
                    r.rssi = std::lround(sim::ExactLevel(scenario, ap, point.x, point.y));
                }
            }
        }
    }
    return survey;
}

}  // namespace

int main(int argc, char** argv) {
    const bool quick = argc > 1 && std::strcmp(argv[1], "--quick") == 0;
    if (argc > 1 && !quick) {
        std::fprintf(stderr, "usage: bench_walk [--quick]\n");
        return 2;
    }
    sim::Scenario scenario;
    std::string error;
    if (!sim::LoadScenario(std::string(KESTROW_SOURCE_DIR) + "/examples/office.json", scenario,
                           error)) {
        Fail(error);
    }
    const std::vector<walk::Place> route = Route();
    const double routeM = walk::WalkPath::Planned(route, 1).LengthPixels() / kPixelsPerMetre;

    // 1. Real time, through the simulated unit's line.
    const double realM = quick ? 15 : 60;
    auto unit = sim::SimulatedScanSource::Start(scenario, nullptr, error);
    if (!unit) {
        Fail(error);
    }
    NullWindow window;
    unit->Connect(&window);
    Recorder recorder(*unit);
    Collector real(&recorder);
    const int64_t started = SteadyMs();
    {
        walk::WalkEngine engine(recorder, real, kPixelsPerMetre);
        engine.StartPlanned(Prefix(route, realM), kSpeed);
        while (engine.Poll() != walk::WalkState::kEnded) {
        }
    }
    const double realS = (SteadyMs() - started) / 1000.0;
    unit->Disconnect();
    const double sweepMs = real.sweepMs.Mean();
    std::printf(
        "Walking the simulated office at %.0f m/s (%.0f px a metre), scans back to back.\n\n"
        "1. Real time through the simulated unit (38400 baud, the office scenario), the first\n"
        "   %.0f m of the %.0f m route:\n"
        "   %zu points in %.1f s: %.0f points a minute; a sweep took %.0f ms on average\n"
        "   stored position to the places its readings were heard (one a channel step):\n"
        "     mean %.2f m, 95th percentile %.2f m, largest %.2f m\n"
        "   stored position to the middle of those places: mean %.3f m, largest %.3f m\n\n",
        kSpeed, kPixelsPerMetre, realM, routeM, real.survey.points.size(), realS,
        60.0 * real.survey.points.size() / realS, sweepMs, real.reading.Mean(),
        real.reading.Quantile(0.95), real.reading.Quantile(1.0), real.centre.Mean(),
        real.centre.Quantile(1.0));

    // 2. The whole route in simulated time: the heatmap.
    const double walkS = routeM / kSpeed;
    sim::Scenario exact = scenario;
    for (sim::SimAccessPoint& ap : exact.accessPoints) {
        ap.noiseDb = 0;
    }
    std::printf(
        "2. The whole route in simulated time (%.0f s), the heatmap of the strongest signal\n"
        "   (default method, 4 px cells, 5 m radius) against the exact field; stop-and-go\n"
        "   gets the same %.0f s, each point costing its sweep and %.0f s to stop and tap, on\n"
        "   a tour of one point a stratum of the floor (walls ignored, to its favour):\n\n"
        "   %-34s %7s %9s %8s %8s\n",
        walkS, walkS, 5.0, "scanner", "points", "rmse dB", "cells", "per min");
    const int sweeps[] = {static_cast<int>(std::lround(sweepMs)), 3000};
    const char* names[] = {"simulated unit", "Wi-Fi, 3 s scans"};
    for (int i = 0; i < 2; ++i) {
        const coverage::Survey walked = WalkSimulated(scenario, sweeps[i]);
        const Score w = Measure(scenario, walked);
        std::printf("   %-34s %7zu %9.2f %7.0f%% %8.0f\n",
                    (std::string(names[i]) + ", walk").c_str(), walked.points.size(), w.rmse,
                    100 * w.cells, 60 * walked.points.size() / walkS);
        // Stop-and-go: the mean of several surveys.
        const int surveys = quick ? 3 : 8;
        double rmse = 0, cells = 0;
        int count = 0;
        for (int s = 0; s < surveys; ++s) {
            const Score g = Measure(
                scenario, StopAndGo(scenario, walkS, 5 + sweeps[i] / 1000.0, 11u + s, count));
            rmse += g.rmse / surveys;
            cells += g.cells / surveys;
        }
        std::printf("   %-34s %7d %9.2f %7.0f%% %8.1f\n", "  stop-and-go, same time", count, rmse,
                    100 * cells, 60 * count / walkS);
        // What the readings' spread along the path costs: noise-free
        // readings, heard while walking or exactly where stored.
        const coverage::Survey smeared = WalkSimulated(exact, sweeps[i]);
        const Score a = Measure(exact, smeared);
        const Score b = Measure(exact, HeardWhereStored(exact, smeared));
        std::printf("   %-34s %7s %9.2f\n", "  noise-free, heard while walking", "", a.rmse);
        std::printf("   %-34s %7s %9.2f   (position's share: %+.2f dB)\n",
                    "  noise-free, heard where stored", "", b.rmse, a.rmse - b.rmse);
    }
    std::printf(
        "\nWalked points are weighted like any other: the position's share above is what any\n"
        "weighting for their position could win back at most.\n");
    return 0;
}
