// The largest plan a site holds (8192 x 8192 pixels) with 300 survey points:
// the survey report, the ksf heatmap picture and the window at the largest
// client area, each in a process of its own, with the seconds it took and
// the peak memory of that process. The report and the picture are made
// twice, with their map pictures at the plan's own size (how they were made
// before) and as they are made now, and the ratio of the two peaks printed.
// Prints figures; not a test.
//
//   bench_memory
#include <QApplication>
#include <QBuffer>
#include <QImage>
#include <QPainter>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <random>
#include <string>

#include "coverage/coverage_map.h"
#include "coverage/coverage_worker.h"
#include "picture/coverage_image.h"
#include "report/survey_report.h"
#include "sitefile/site_reader.h"
#include "survey/record_list.h"
#include "survey/site_header.h"
#include "view/kestrow_view.h"

namespace {

constexpr int kMapSide = 8192;
constexpr int kPoints = 300;
constexpr int kAccessPoints = 8;

// A plan of rooms: grey walls every 512 pixels on white.
sitefile::SiteMap Plan() {
    sitefile::SiteMap map;
    map.width = map.height = kMapSide;
    map.stride = kMapSide;
    map.bottomUp = false;
    map.pixels.assign(size_t{kMapSide} * kMapSide, 0);
    for (int y = 0; y < kMapSide; ++y) {
        for (int x = 0; x < kMapSide; ++x) {
            map.Row(y)[x] = (x % 512 < 6 || y % 512 < 6) ? 1 : 0;
        }
    }
    map.colors[0] = 0xFFFFFFFF;
    map.colors[1] = 0xFF404040;
    return map;
}

// Access points in the plan, heard with a log-distance fall-off and noise.
coverage::Survey Survey() {
    std::mt19937 random(7);
    std::uniform_real_distribution<double> place(0, kMapSide - 1);
    std::normal_distribution<double> noise(0, 3);
    std::vector<std::pair<double, double>> sources;
    for (int a = 0; a < kAccessPoints; ++a) {
        sources.emplace_back(place(random), place(random));
    }
    coverage::Survey survey;
    for (int i = 0; i < kPoints; ++i) {
        coverage::SurveyPoint p;
        p.x = std::floor(place(random));
        p.y = std::floor(place(random));
        for (int a = 0; a < kAccessPoints; ++a) {
            const double d =
                std::max(1.0, std::hypot(p.x - sources[a].first, p.y - sources[a].second) / 10);
            const double level = std::round(-30 - 20 * std::log10(d) + noise(random));
            if (level >= -95) {
                coverage::Reading r;
                r.bssid = {2, 0, 0, 0, 0, static_cast<uint8_t>(a)};
                r.ssid = "Net" + std::to_string(a % 3);
                r.channel = 1 + a % 11;
                r.rssi = std::min(-20.0, level);
                p.heard.push_back(r);
            }
        }
        survey.points.push_back(p);
    }
    return survey;
}

void Fail(const std::string& what) {
    std::fprintf(stderr, "bench_memory: %s\n", what.c_str());
    std::_Exit(1);
}

// Runs `work` in a child process; answers its seconds and peak resident MB.
std::pair<double, double> InChild(const std::function<void()>& work) {
    std::fflush(stdout);
    const pid_t pid = fork();
    if (pid == 0) {
        work();
        std::_Exit(0);
    }
    const auto start = std::chrono::steady_clock::now();
    int status = 0;
    rusage usage{};
    if (pid < 0 || wait4(pid, &status, 0, &usage) != pid || !WIFEXITED(status) ||
        WEXITSTATUS(status) != 0) {
        Fail("a measured process failed");
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    return {seconds, usage.ru_maxrss / 1024.0};
}

void Report(bool scaled) {
    const sitefile::SiteMap plan = Plan();
    report::ReportSite site;
    site.fileName = "large.ksf";
    site.map =
        scaled ? picture::SiteMapImage(plan, report::kMaxPictureSide) : picture::SiteMapImage(plan);
    site.mapSize = QSize(plan.width, plan.height);
    site.signature = QImage(200, 100, QImage::Format_RGB32);
    site.signature.fill(Qt::white);
    site.survey = Survey();
    report::ReportOptions options;
    coverage::BuiltInProfile("voice", options.profile);
    QByteArray pdf;
    std::string error;
    if (!report::MakeReport(site, options, report::ReportFormat::kPdf, pdf, error)) {
        Fail(error);
    }
}

void Heatmap(bool banded) {
    const sitefile::SiteMap plan = Plan();
    std::string error;
    const auto model = coverage::CoverageModel::Build(
        Survey(), coverage::DefaultGridSpec(kMapSide, kMapSide, std::nullopt), {}, error);
    if (!model) {
        Fail(error);
    }
    const coverage::Grid grid = model->Map(coverage::MapRequest(coverage::Metric::kStrongest));
    const QImage map = picture::SiteMapImage(plan);
    QImage picture;
    if (banded) {
        picture = picture::HeatmapPicture(grid, map);
    } else {
        // The whole overlay at once over a whole grey copy of the map.
        picture =
            map.convertToFormat(QImage::Format_Grayscale8).convertToFormat(QImage::Format_RGB32);
        QPainter painter(&picture);
        painter.drawImage(0, 0, picture::CoverageOverlay(grid, map.size()));
    }
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    picture.save(&buffer, "PNG");
}

// The window's view at the largest client area over the plan, its overlay
// computed and shown, the map screen painted once.
void Window() {
    const sitefile::SiteMap plan = Plan();
    CKestrowView view;
    view.resize(8192, 8192);
    view.show();  // with its backing store, as a window has
    std::vector<uint32_t> colors(plan.colors, plan.colors + 256);
    if (!view.LoadMapImage(plan.width, plan.height, colors.data(), plan.Row(0),
                           static_cast<int64_t>(plan.stride))) {
        Fail("the map does not load");
    }
    view.m_viewMode = CKestrowView::VIEW_MAP;
    for (const coverage::SurveyPoint& p : Survey().points) {
        for (const coverage::Reading& r : p.heard) {
            ApRecord* record = nullptr;
            if (g_surveyList.AllocRecord(record) != 0) {
                Fail("no memory for the survey");
            }
            record->x = static_cast<int32_t>(p.x);
            record->y = static_cast<int32_t>(p.y);
            record->channel = static_cast<int16_t>(r.channel);
            record->rssi = static_cast<int16_t>(r.rssi);
            std::copy(r.bssid.begin(), r.bssid.end(), record->mac);
            g_surveyList.Append(record);
        }
    }
    view.SetOverlay(CKestrowView::Overlay::kStrongest);
    while (view.IsOverlayPending()) {
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    }
    view.repaint();
    const QImage shown = view.Render();
    if (shown.width() < 8000) {
        Fail("the view is not at the largest client area");
    }
    g_surveyList.Clear();
}

}  // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    std::printf("%d x %d plan, %d survey points, %d access points\n", kMapSide, kMapSide, kPoints,
                kAccessPoints);
    const auto line = [](const char* what, std::pair<double, double> figures) {
        std::printf("  %-44s %6.1f s  peak %6.0f MB\n", what, figures.first, figures.second);
    };
    const auto reportWhole = InChild([] { Report(false); });
    const auto reportScaled = InChild([] { Report(true); });
    line("report (PDF), map pictures at the plan's size", reportWhole);
    line("report (PDF), map pictures scaled for the page", reportScaled);
    std::printf("  report peak ratio: %.2f\n", reportScaled.second / reportWhole.second);
    const auto heatmapWhole = InChild([] { Heatmap(false); });
    const auto heatmapBanded = InChild([] { Heatmap(true); });
    line("heatmap picture, overlay drawn whole", heatmapWhole);
    line("heatmap picture, overlay drawn in bands", heatmapBanded);
    std::printf("  heatmap peak ratio: %.2f\n", heatmapBanded.second / heatmapWhole.second);
    line("window, 8192 x 8192 client, overlay shown", InChild([] { Window(); }));
    return 0;
}
