// ksf check and ksf report: a survey judged against a coverage requirement,
// and the survey report a customer signs.
#include <QByteArray>
#include <QImage>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "coverage/coverage_map.h"
#include "coverage/requirements.h"
#include "coverage/survey_input.h"
#include "picture/coverage_image.h"
#include "platform/text.h"
#include "report/report_site.h"
#include "report/survey_report.h"
#include "sitefile/site_meta.h"
#include "tools/ksf/ksf.h"

namespace {

constexpr double kDefaultMinArea = 95;
constexpr char kDefaultReportProfile[] = "voice";

// check's exit status when the site cannot be read, and when its survey is
// larger than the coverage analysis's bounds (the message names the bound).
constexpr int kSiteUnreadable = 3;
constexpr int kSurveyTooLarge = 4;

using report::LoadedSite;
using report::LoadSite;

bool ParseMinArea(const Args& args, double& out) {
    out = kDefaultMinArea;
    return args.given.count("--min-area") == 0 ||
           (ParseNumber(args.minArea, out) && out >= 0 && out <= 100);
}

// Warns when the profile's SSIDs match no access point of the survey: every
// place then fails for want of a signal.
void WarnIfNothingJudged(const std::string& path, const coverage::Survey& survey,
                         const coverage::ApFilter& filter, const char* what) {
    if (filter.Empty()) {
        return;
    }
    for (const coverage::SurveyPoint& p : survey.points) {
        for (const coverage::Reading& r : p.heard) {
            coverage::AccessPoint ap;
            ap.bssid = r.bssid;
            ap.ssid = r.ssid;
            ap.channel = r.channel;
            ap.band = channels::BandOfReading(r.channel, r.frequencyMhz);
            if (filter.Selects(ap)) {
                return;
            }
        }
    }
    std::fprintf(stderr, "ksf: warning: no access point of %s has %s\n", path.c_str(), what);
}

// --customer, --surveyor and --notes, written to the sidecar (the site file
// is not changed); those not given stay as they were.
bool StoreReportFields(const std::string& path, const Args& args, std::string& error) {
    sitefile::SiteFileReader reader;
    if (!OpenSite(path, reader, error)) {
        return false;
    }
    for (const std::string* text : {&args.customer, &args.surveyor, &args.notes}) {
        if (text->size() > sitefile::kMaxReportFieldBytes) {
            error = "a report field of " + std::to_string(text->size()) + " bytes is over the " +
                    std::to_string(sitefile::kMaxReportFieldBytes) + " a sidecar keeps";
            return false;
        }
    }
    std::string note;
    const bool stored = sitefile::UpdateSiteMeta(
        path,
        [&args](sitefile::SiteMeta& meta, std::string&) {
            if (args.given.count("--customer") != 0) {
                meta.report.customer = args.customer;
            }
            if (args.given.count("--surveyor") != 0) {
                meta.report.surveyor = args.surveyor;
            }
            if (args.given.count("--notes") != 0) {
                meta.report.notes = args.notes;
            }
            return true;
        },
        error, &note);
    if (!note.empty()) {
        std::fprintf(stderr, "ksf: warning: %s\n", note.c_str());
    }
    return stored;
}

std::string Number(double v) {
    return coverage::DbmText(v);  // whole numbers without decimals
}

}  // namespace

int Check(const Args& args) {
    if (args.positional.size() != 1 || args.given.count("--profile") == 0) {
        return UsageError("check needs one SITE and --profile NAME|FILE");
    }
    const std::string& path = args.positional[0];
    const std::string format = args.given.count("--format") != 0 ? args.format : "text";
    if (format != "text" && format != "json") {
        return UsageError("unknown format '" + format + "' (text or json)");
    }
    double minArea = kDefaultMinArea;
    if (!ParseMinArea(args, minArea)) {
        return UsageError("bad minimum area '" + args.minArea + "' (a percentage from 0 to 100)");
    }
    coverage::Profile profile;
    std::string error;
    if (!coverage::ResolveProfile(args.profile, profile, error)) {
        return UsageError(error);
    }
    bool walls = true;
    if (!ParseWallsOption(args, walls, error)) {
        return UsageError(error);
    }

    LoadedSite site;
    if (!LoadSite(path, false, site, error)) {
        std::fprintf(stderr, "ksf: %s\n", error.c_str());
        return kSiteUnreadable;
    }
    if (!walls) {
        site.survey.building.walls.clear();
    }
    const coverage::GridSpec spec =
        coverage::DefaultGridSpec(site.map.width, site.map.height, site.pixelsPerMetre);
    // Over every access point, as the report builds it: the same verdicts.
    const std::shared_ptr<const coverage::CoverageModel> model =
        coverage::CoverageModel::Build(site.survey, spec, {}, error);
    if (!model) {
        // The default grid of a map that opened is always sound: only the
        // size of the survey or of its grid can refuse it.
        std::fprintf(stderr, "ksf: %s: %s\n", path.c_str(), error.c_str());
        return kSurveyTooLarge;
    }
    WarnIfNothingJudged(path, site.survey, profile.Filter(), "the profile's SSIDs and bands");
    if (profile.minSnrDb && site.survey.noise.empty()) {
        WarnNoNoise(path);
    }
    const std::vector<coverage::PointVerdict> points = coverage::JudgePoints(site.survey, profile);
    const coverage::AreaVerdict area = coverage::JudgeArea(*model, profile);
    const double percent = area.PassPercent();
    const bool pass = coverage::AreaPasses(percent, minArea);
    size_t passing = 0;
    for (const coverage::PointVerdict& v : points) {
        passing += v.pass;
    }

    std::string out;
    if (format == "json") {
        const auto coordinate = [](double v) {
            return v == std::floor(v) && std::fabs(v) < 1e15
                       ? nlohmann::ordered_json(static_cast<long long>(v))
                       : nlohmann::ordered_json(v);
        };
        nlohmann::ordered_json failing = nlohmann::ordered_json::array();
        for (const coverage::PointVerdict& v : points) {
            if (!v.pass) {
                failing.push_back({{"x", coordinate(v.x)},
                                   {"y", coordinate(v.y)},
                                   {"name", platform::TextFromBytes(v.name.data(), v.name.size())},
                                   {"reason", v.reason}});
            }
        }
        nlohmann::ordered_json result = {
            {"profile", profile.name},
            {"pass", pass},
            {"points", {{"total", points.size()}, {"pass", passing}, {"failing", failing}}},
            {"area", {{"cells", area.judged}, {"pass_percent", percent}}}};
        if (!site.ignored.empty()) {
            // Stored records that cannot be true: reported, never counted.
            result["ignored"] = site.ignored;
        }
        out = platform::PrintableJson(
                  result.dump(2, ' ', false, nlohmann::json::error_handler_t::replace)) +
              "\n";
    } else {
        char line[160];
        out =
            platform::PrintableText("profile: " + profile.name + " (" + profile.Describe() + ")") +
            "\n";
        std::snprintf(line, sizeof line, "points: %zu of %zu pass\n", passing, points.size());
        out += line;
        for (const coverage::PointVerdict& v : points) {
            if (!v.pass) {
                const std::string name =
                    platform::PrintableText(platform::TextFromBytes(v.name.data(), v.name.size()));
                out += "  fail at (" + Number(v.x) + ", " + Number(v.y) + ")" +
                       (name.empty() ? "" : " " + name) + ": " + v.reason + "\n";
            }
        }
        std::snprintf(line, sizeof line, "area: %.1f%% of %zu cells pass (%g%% needed)\n", percent,
                      area.judged, minArea);
        out += line;
        for (const std::string& line : site.ignored) {
            out += "ignored: " + line + "\n";
        }
        out += pass ? "verdict: pass\n" : "verdict: fail\n";
    }
    if (!WriteOutput("-", out.data(), out.size(), error)) {
        return WorkError(error);
    }
    return pass ? 0 : 1;
}

int Report(const Args& args) {
    if (args.positional.size() != 1 || args.output.empty()) {
        return UsageError("report needs one SITE and -o OUT.pdf or OUT.html");
    }
    if (OutputIsTheSite(args)) {
        return UsageError("-o " + args.output + " is the site itself");
    }
    const std::string& path = args.positional[0];
    std::string format = args.format;
    if (args.given.count("--format") == 0) {
        const std::optional<report::ReportFormat> named = report::FormatForName(args.output);
        if (!named) {
            return UsageError(
                "the report's file name must end in .pdf or .html (or give --format)");
        }
        format = *named == report::ReportFormat::kPdf ? "pdf" : "html";
    }
    if (format != "pdf" && format != "html") {
        return UsageError("unknown format '" + format + "' (pdf or html)");
    }
    report::ReportOptions options;
    if (!ParseMinArea(args, options.minAreaPercent)) {
        return UsageError("bad minimum area '" + args.minArea + "' (a percentage from 0 to 100)");
    }
    std::string error;
    const std::string profileName =
        args.given.count("--profile") != 0 ? args.profile : kDefaultReportProfile;
    if (!coverage::ResolveProfile(profileName, options.profile, error)) {
        return UsageError(error);
    }
    options.ssids = args.ssids;
    if (!ParseMethodOption(args, options.method, error)) {
        return UsageError(error);
    }
    bool walls = true;
    if (!ParseWallsOption(args, walls, error)) {
        return UsageError(error);
    }
    const bool fieldsGiven = args.given.count("--customer") + args.given.count("--surveyor") +
                                 args.given.count("--notes") >
                             0;
    if (fieldsGiven && !StoreReportFields(path, args, error)) {
        return WorkError(error);
    }

    LoadedSite loaded;
    if (!LoadSite(path, true, loaded, error)) {
        return WorkError(error);
    }
    WarnIgnored(loaded.ignored);
    if (!walls) {
        loaded.survey.building.walls.clear();
    }
    coverage::ApFilter selection;
    selection.ssids = options.ssids;
    WarnIfNothingJudged(path, loaded.survey, selection, "the SSIDs asked for");
    WarnIfNothingJudged(path, loaded.survey, options.profile.Filter(), "the profile's SSIDs");

    const report::ReportSite site = report::ToReportSite(path, loaded);
    QByteArray bytes;
    if (!report::MakeReport(
            site, options,
            format == "pdf" ? report::ReportFormat::kPdf : report::ReportFormat::kHtml, bytes,
            error)) {
        return WorkError(path + ": " + error);
    }
    return WriteOutput(args.output, bytes.constData(), static_cast<size_t>(bytes.size()), error)
               ? 0
               : WorkError(error);
}
