// How a coverage model grows with the survey: the seconds and the peak
// memory of building the default model and drawing its strongest-signal map
// from 1,000, 3,000 and 10,000 positions of a simulated site (50 access
// points on a 2000 x 1500 map), each size in a process of its own so that
// the peaks do not add up. Then how far local kriging is from the exact
// model: at 30 and 300 positions the default model (exact there) and local
// kriging forced on, at 1,000 the default model (local there), each against
// the exact model, as the largest and the mean absolute difference of the
// strongest-signal map. Prints figures; not a test.
//
//   bench_scaling [--accuracy | --positions N]
//   (--accuracy: the second table only; --positions: the first, at N alone)
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "coverage/coverage_map.h"

namespace {

constexpr int kWidth = 2000;
constexpr int kHeight = 1500;
constexpr int kAccessPoints = 50;
constexpr int kMargin = 20;

void Fail(const std::string& what) {
    std::fprintf(stderr, "bench_scaling: %s\n", what.c_str());
    std::exit(1);
}

// An access point of the simulated site: a log-distance fall-off from its
// place, shadowing that varies over a few metres, readings noisy by 2 dB.
struct SimAp {
    double x, y, p0, exponent;
    double waves[6][4];  // amplitude, x and y frequency, phase
    int channel;
};

std::vector<SimAp> MakeAps() {
    std::mt19937 random(17);
    std::uniform_real_distribution<double> unit(0, 1);
    const int channels[] = {1, 6, 11, 36, 40, 44, 48, 149, 153, 157};
    std::vector<SimAp> aps;
    for (int a = 0; a < kAccessPoints; ++a) {
        SimAp ap{};
        ap.x = kMargin + unit(random) * (kWidth - 2 * kMargin);
        ap.y = kMargin + unit(random) * (kHeight - 2 * kMargin);
        ap.p0 = -30 - 8 * unit(random);
        ap.exponent = 2.5 + unit(random);
        for (auto& w : ap.waves) {
            const double wavelength = 80 + 320 * unit(random);
            const double angle = 2 * M_PI * unit(random);
            w[0] = 1.5 * unit(random);
            w[1] = 2 * M_PI / wavelength * std::cos(angle);
            w[2] = 2 * M_PI / wavelength * std::sin(angle);
            w[3] = 2 * M_PI * unit(random);
        }
        ap.channel = channels[a % 10];
        aps.push_back(ap);
    }
    return aps;
}

double Level(const SimAp& ap, double x, double y) {
    const double d2 = (x - ap.x) * (x - ap.x) + (y - ap.y) * (y - ap.y);
    double level = ap.p0 - 5 * ap.exponent * std::log10(1 + d2 / 400);
    for (const auto& w : ap.waves) {
        level += w[0] * std::sin(w[1] * x + w[2] * y + w[3]);
    }
    return level;
}

// `count` positions over the map, one in each cell of a grid at a random
// place within it, read with noise.
coverage::Survey MakeSurvey(const std::vector<SimAp>& aps, int count) {
    std::mt19937 random(static_cast<uint32_t>(count));
    std::uniform_real_distribution<double> unit(0, 1);
    std::normal_distribution<double> gauss(0, 2);
    const double w = kWidth - 2 * kMargin, h = kHeight - 2 * kMargin;
    const int cols = static_cast<int>(std::ceil(std::sqrt(count * w / h)));
    const int rows = (count + cols - 1) / cols;
    coverage::Survey survey;
    for (int i = 0; i < count; ++i) {
        coverage::SurveyPoint point;
        point.x = std::round(kMargin + (i % cols + unit(random)) * w / cols);
        point.y = std::round(kMargin + (i / cols + unit(random)) * h / rows);
        for (size_t a = 0; a < aps.size(); ++a) {
            const double level = std::round(Level(aps[a], point.x, point.y) + gauss(random));
            if (level >= -95) {
                coverage::Reading r;
                r.bssid = {0x02, 0x00, 0x00, 0x00, static_cast<uint8_t>(a), 0x10};
                r.ssid = "Scale";
                r.channel = aps[a].channel;
                r.rssi = std::min(-20.0, level);
                point.heard.push_back(r);
            }
        }
        survey.points.push_back(point);
    }
    return survey;
}

double Seconds(std::chrono::steady_clock::time_point since) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

coverage::Grid StrongestMap(const coverage::Survey& survey, size_t exactPositions,
                            double* seconds) {
    const auto start = std::chrono::steady_clock::now();
    coverage::BuildOptions options;
    options.exactPositions = exactPositions;
    std::string error;
    const auto model = coverage::CoverageModel::Build(
        survey, coverage::DefaultGridSpec(kWidth, kHeight, std::nullopt), options, error);
    if (!model) {
        Fail(error);
    }
    coverage::Grid grid = model->Map(coverage::MapRequest(coverage::Metric::kStrongest));
    if (seconds != nullptr) {
        *seconds = Seconds(start);
    }
    return grid;
}

struct Figures {
    double seconds = 0;
    double peakMb = 0;
    double maxDiff = 0;
    double meanDiff = 0;
    double exactSeconds = 0;
};

// Runs `work` in a child process and returns what it wrote.
template <typename Work>
Figures InChild(Work work) {
    int fds[2];
    if (pipe(fds) != 0) {
        Fail("no pipe");
    }
    const pid_t pid = fork();
    if (pid < 0) {
        Fail("no fork");
    }
    if (pid == 0) {
        close(fds[0]);
        Figures f = work();
        rusage usage{};
        getrusage(RUSAGE_SELF, &usage);
        f.peakMb = usage.ru_maxrss / 1024.0;
        const bool written = write(fds[1], &f, sizeof f) == static_cast<ssize_t>(sizeof f);
        _exit(written ? 0 : 1);
    }
    close(fds[1]);
    Figures f;
    const bool read_ = read(fds[0], &f, sizeof f) == static_cast<ssize_t>(sizeof f);
    close(fds[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    if (!read_ || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        Fail("a measurement failed");
    }
    return f;
}

// Largest and mean absolute difference of two maps over the cells both show.
void Compare(const coverage::Grid& a, const coverage::Grid& b, Figures& f) {
    double sum = 0;
    size_t count = 0;
    for (size_t i = 0; i < a.values.size(); ++i) {
        if (std::isnan(a.values[i]) || std::isnan(b.values[i])) {
            continue;
        }
        const double d = std::abs(static_cast<double>(a.values[i]) - b.values[i]);
        f.maxDiff = std::max(f.maxDiff, d);
        sum += d;
        ++count;
    }
    f.meanDiff = count > 0 ? sum / count : 0;
}

}  // namespace

int main(int argc, char** argv) {
    const std::vector<SimAp> aps = MakeAps();
    const std::string option = argc > 1 ? argv[1] : "";
    const bool timing = option != "--accuracy";
    std::vector<int> counts = {1000, 3000, 10000};
    if (option == "--positions" && argc > 2) {
        counts = {std::atoi(argv[2])};
    }
    if (timing) {
        std::printf(
            "Default model (%s), fit and strongest-signal map, %d access points, %d x %d map,\n"
            "%u threads; exact kriging up to %zu positions, local beyond:\n",
            coverage::MethodName(coverage::kDefaultMethod), kAccessPoints, kWidth, kHeight,
            std::thread::hardware_concurrency(), coverage::kMaxExactPositions);
        std::printf("  %9s %10s %10s\n", "positions", "seconds", "peak MB");
        double first = 0, last = 0;
        for (int count : counts) {
            const Figures f = InChild([&] {
                const coverage::Survey survey = MakeSurvey(aps, count);
                Figures out;
                StrongestMap(survey, coverage::kMaxExactPositions, &out.seconds);
                return out;
            });
            std::printf("  %9d %10.2f %10.1f\n", count, f.seconds, f.peakMb);
            (count == 1000 ? first : last) = f.seconds;
        }
        if (counts.size() > 1) {
            std::printf("  10,000 positions take %.1fx the time of 1,000\n\n", last / first);
        } else {
            return 0;
        }
    }

    std::printf("Strongest-signal map against the exact model (dB over the cells with a value):\n");
    std::printf("  %9s %-22s %8s %8s %10s %10s\n", "positions", "model", "max", "mean", "seconds",
                "exact s");
    const size_t exact = std::numeric_limits<size_t>::max();
    struct Case {
        int count;
        size_t exactPositions;
        const char* name;
    };
    for (const Case& c : {Case{30, coverage::kMaxExactPositions, "default (exact here)"},
                          Case{30, 0, "local forced on"},
                          Case{300, coverage::kMaxExactPositions, "default (exact here)"},
                          Case{300, 0, "local forced on"},
                          Case{1000, coverage::kMaxExactPositions, "default (local here)"}}) {
        const Figures f = InChild([&] {
            const coverage::Survey survey = MakeSurvey(aps, c.count);
            Figures out;
            const coverage::Grid truth = StrongestMap(survey, exact, &out.exactSeconds);
            const coverage::Grid approx = StrongestMap(survey, c.exactPositions, &out.seconds);
            Compare(approx, truth, out);
            return out;
        });
        std::printf("  %9d %-22s %8.3f %8.4f %10.2f %10.2f\n", c.count, c.name, f.maxDiff,
                    f.meanDiff, f.seconds, f.exactSeconds);
    }
    return 0;
}
