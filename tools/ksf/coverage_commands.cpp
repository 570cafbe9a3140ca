// ksf heatmap and ksf scale: coverage maps of a site's survey, and the map
// scale they measure their radius in.
#include <QImage>
#include <QString>

#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "coverage/coverage_map.h"
#include "coverage/survey_input.h"
#include "picture/coverage_image.h"
#include "picture/heatmap_marks.h"
#include "picture/png_output.h"
#include "sitefile/site_meta.h"
#include "sitefile/site_writer.h"
#include "tools/ksf/ksf.h"

namespace {

constexpr int kMaxCell = 4096;

std::string CsvNumber(double v) {
    char text[32];
    std::snprintf(text, sizeof text, "%g", v);
    return text;
}

std::string Csv(const coverage::Grid& grid) {
    const coverage::GridSpec& spec = grid.spec;
    const bool level = !coverage::IsCountMetric(grid.metric);
    std::string out = "x,y,value\n";
    out.reserve(static_cast<size_t>(spec.Cols()) * spec.Rows() * 16);
    char value[32];
    for (int row = 0; row < spec.Rows(); ++row) {
        const std::string y = CsvNumber(spec.CentreY(row));
        for (int col = 0; col < spec.Cols(); ++col) {
            out += CsvNumber(spec.CentreX(col));
            out += ',';
            out += y;
            out += ',';
            if (grid.HasValue(col, row)) {
                std::snprintf(value, sizeof value, level ? "%.1f" : "%.0f", grid.At(col, row));
                out += value;
            }
            out += '\n';
        }
    }
    return out;
}

}  // namespace

bool ParseInt(const std::string& text, long low, long high, long& out) {
    if (text.empty() || std::isspace(static_cast<unsigned char>(text[0]))) {
        return false;
    }
    char* end = nullptr;
    errno = 0;
    const long v = std::strtol(text.c_str(), &end, 10);
    if (errno != 0 || *end != '\0' || v < low || v > high) {
        return false;
    }
    out = v;
    return true;
}

bool ParseSegment(const std::string& text, double (&v)[4]) {
    std::istringstream parts(text);
    std::string part;
    int n = 0;
    while (std::getline(parts, part, ',')) {
        if (n == 4 || !ParseNumber(part, v[n])) {
            return false;
        }
        ++n;
    }
    return n == 4 && text.back() != ',';
}

bool ParseBands(const std::vector<std::string>& texts, std::vector<channels::Band>& out,
                std::string& error) {
    for (const std::string& text : texts) {
        channels::Band band = channels::Band::kUnknown;
        if (!channels::ParseBand(text, band)) {
            error = "bad band '" + text + "' (2.4, 5 or 6)";
            return false;
        }
        out.push_back(band);
    }
    return true;
}

bool ParseMethodOption(const Args& args, coverage::Method& out, std::string& error) {
    if (args.given.count("--method") == 0 || coverage::ParseMethod(args.method, out)) {
        return true;
    }
    std::string names;
    for (coverage::Method m : coverage::AllMethods()) {
        names += names.empty() ? "" : ", ";
        names += coverage::MethodName(m);
    }
    error = "unknown method '" + args.method + "' (" + names + ")";
    return false;
}

bool ParseWallsOption(const Args& args, bool& on, std::string& error) {
    on = true;
    if (args.given.count("--walls") == 0) {
        return true;
    }
    if (args.wallsMode != "on" && args.wallsMode != "off") {
        error = "bad --walls '" + args.wallsMode + "' (on or off)";
        return false;
    }
    on = args.wallsMode == "on";
    return true;
}

void WarnNoNoise(const std::string& path) {
    std::fprintf(stderr,
                 "ksf: warning: %s has no noise measurement, so no signal-to-noise figure: "
                 "the scanner unit measures no noise (survey with the Wi-Fi adapter for it)\n",
                 path.c_str());
}

// A finite number, all of the text.
bool ParseNumber(const std::string& text, double& out) {
    if (text.empty() || std::isspace(static_cast<unsigned char>(text[0]))) {
        return false;
    }
    char* end = nullptr;
    errno = 0;
    const double v = std::strtod(text.c_str(), &end);
    if (errno != 0 || *end != '\0' || !std::isfinite(v)) {
        return false;
    }
    out = v;
    return true;
}

int Heatmap(const Args& args) {
    if (args.positional.size() != 1 || args.output.empty()) {
        return UsageError("heatmap needs one SITE and -o OUT");
    }
    if (OutputIsTheSite(args)) {
        return UsageError("-o " + args.output + " is the site itself");
    }
    const std::string& path = args.positional[0];
    const std::string format = args.given.count("--format") != 0 ? args.format : "png";
    if (format != "png" && format != "csv") {
        return UsageError("unknown format '" + format + "' (png or csv)");
    }
    coverage::MapRequest request;
    if (args.given.count("--metric") != 0 && !coverage::ParseMetric(args.metric, request.metric)) {
        return UsageError("unknown metric '" + args.metric + "' (" + coverage::MetricNames() + ")");
    }
    if (args.given.count("--threshold") != 0 &&
        (!ParseNumber(args.threshold, request.threshold) || request.threshold < -200 ||
         request.threshold > 100)) {
        return UsageError("bad threshold '" + args.threshold + "' (dBm, e.g. -67)");
    }
    coverage::BuildOptions options;
    std::string error;
    if (!ParseMethodOption(args, options.method, error)) {
        return UsageError(error);
    }
    long cell = coverage::kDefaultCell;
    if (args.given.count("--cell") != 0 && !ParseInt(args.cell, 1, kMaxCell, cell)) {
        return UsageError("bad cell '" + args.cell + "' (whole pixels from 1 to " +
                          std::to_string(kMaxCell) + ")");
    }
    double radius = -1;
    if (args.given.count("--radius") != 0 && (!ParseNumber(args.radius, radius) || radius < 0)) {
        return UsageError("bad radius '" + args.radius + "' (pixels, 0 or more)");
    }
    for (const std::string& ssid : args.ssids) {
        request.filter.ssids.push_back(ssid);
    }
    for (const std::string& text : args.bssids) {
        coverage::Bssid bssid;
        if (!coverage::ParseBssid(text, bssid)) {
            return UsageError("bad BSSID '" + text +
                              "' (12 hexadecimal digits, e.g. 00:1d:7e:4a:10:01)");
        }
        request.filter.bssids.push_back(bssid);
    }
    for (const std::string& text : args.channels) {
        long channel = 0;
        if (!ParseInt(text, 1, 255, channel)) {
            return UsageError("bad channel '" + text + "' (a channel number from 1 to 255)");
        }
        request.filter.channels.push_back(static_cast<int>(channel));
    }
    if (!ParseBands(args.bands, request.filter.bands, error)) {
        return UsageError(error);
    }
    bool walls = true;
    if (!ParseWallsOption(args, walls, error)) {
        return UsageError(error);
    }

    sitefile::SiteFileReader reader;
    if (!OpenSite(path, reader, error)) {
        return WorkError(error);
    }
    sitefile::SiteMap map;
    sitefile::OpenError mapError;
    if (!reader.ReadMap(map, mapError) || !reader.CheckLayout(mapError)) {
        return WorkError(path + ": " + mapError.Describe());
    }
    sitefile::SiteMeta meta;
    if (!sitefile::ReadSiteMeta(path, meta, error)) {
        return WorkError(error);
    }
    if (radius < 0) {
        radius = coverage::DefaultGridSpec(map.width, map.height, meta.pixelsPerMetre).radius;
    }
    coverage::Survey survey;
    if (!ReadSurvey(path, reader, meta, walls, survey, error)) {
        return WorkError(error);
    }
    if (request.metric == coverage::Metric::kSnr && survey.noise.empty()) {
        WarnNoNoise(path);
    }
    const coverage::GridSpec spec{map.width, map.height, static_cast<int>(cell), radius};
    options.only = &request.filter;
    const std::shared_ptr<const coverage::CoverageModel> model =
        coverage::CoverageModel::Build(survey, spec, options, error);
    if (!model) {
        return WorkError(path + ": " + error);
    }
    if (model->AccessPoints().empty() && !request.filter.Empty()) {
        std::fprintf(stderr, "ksf: warning: no access point of %s matches the filters\n",
                     path.c_str());
    }
    const coverage::Grid grid = model->Map(request);

    if (format == "csv") {
        const std::string text = Csv(grid);
        return WriteOutput(args.output, text.data(), text.size(), error) ? 0 : WorkError(error);
    }
    // The access points where the model put them (or, for a method that
    // does not locate them, where the survey does).
    std::vector<coverage::SourceEstimate> sources = model->Sources();
    if (sources.empty()) {
        const coverage::SiteSamples samples = coverage::PrepareSamples(survey);
        const std::vector<coverage::SourceEstimate> all = coverage::LocateAccessPoints(survey);
        for (const coverage::AccessPoint& ap : model->AccessPoints()) {
            for (size_t a = 0; a < samples.aps.size(); ++a) {
                if (samples.aps[a].bssid == ap.bssid) {
                    sources.push_back(all[a]);
                }
            }
        }
    }
    const QImage picture = picture::MarkedHeatmapPicture(
        grid, picture::SiteMapImage(map),
        picture::MarksOf(*model, sources, &meta, meta.pixelsPerMetre));
    std::fflush(stdout);
    return picture::WritePng(args.output, picture, error) ? 0 : WorkError(error);
}

int Scale(const Args& args) {
    if (args.positional.size() != 1) {
        return UsageError("scale needs one SITE");
    }
    const bool byValue = args.given.count("--pixels-per-metre") != 0;
    const bool byLine = args.given.count("--line") != 0 || args.given.count("--metres") != 0;
    if (byValue == byLine) {
        return UsageError("scale needs --pixels-per-metre N, or --line X1,Y1,X2,Y2 and --metres M");
    }
    double scale = 0;
    if (byValue) {
        if (!ParseNumber(args.pixelsPerMetre, scale) || scale <= 0) {
            return UsageError("bad scale '" + args.pixelsPerMetre +
                              "' (pixels per metre, more than 0)");
        }
    } else {
        if (args.given.count("--line") == 0 || args.given.count("--metres") == 0) {
            return UsageError("--line and --metres go together");
        }
        double v[4];
        if (!ParseSegment(args.line, v)) {
            return UsageError("bad line '" + args.line + "' (X1,Y1,X2,Y2 in map pixels)");
        }
        double metres = 0;
        if (!ParseNumber(args.metres, metres) || metres <= 0) {
            return UsageError("bad length '" + args.metres + "' (metres, more than 0)");
        }
        const double length = std::hypot(v[2] - v[0], v[3] - v[1]);
        if (length <= 0) {
            return UsageError("the line has no length");
        }
        scale = length / metres;
    }
    if (scale < sitefile::kMinPixelsPerMetre || scale > sitefile::kMaxPixelsPerMetre) {
        char text[128];
        std::snprintf(text, sizeof text, "a scale of %g pixels per metre is outside %g to %g",
                      scale, sitefile::kMinPixelsPerMetre, sitefile::kMaxPixelsPerMetre);
        return UsageError(text);
    }
    const std::string& path = args.positional[0];
    sitefile::SiteFileReader reader;
    std::string error;
    if (!OpenSite(path, reader, error)) {
        return WorkError(error);
    }
    std::string note;
    if (!sitefile::WriteSiteScale(path, scale, error, &note)) {
        return WorkError(error);
    }
    if (!note.empty()) {
        std::fprintf(stderr, "ksf: warning: %s\n", note.c_str());
    }
    std::printf("scale: %g pixels per metre, in %s\n", scale, sitefile::MetaPath(path).c_str());
    return 0;
}
