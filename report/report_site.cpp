#include "report/report_site.h"

#include <QByteArray>
#include <algorithm>
#include <cctype>

#include "coverage/survey_input.h"
#include "picture/coverage_image.h"
#include "platform/files.h"

namespace report {

bool LoadSite(const std::string& path, bool withSignature, LoadedSite& out, std::string& error) {
    sitefile::SiteFileReader reader;
    sitefile::OpenError openError;
    if (!reader.Open(path, openError) || !reader.ReadMap(out.map, openError) ||
        !reader.CheckLayout(openError)) {
        error = path + ": " + openError.Describe();
        return false;
    }
    sitefile::SiteMeta meta;
    if (!sitefile::ReadSiteMeta(path, meta, error)) {
        return false;
    }
    out.pixelsPerMetre = meta.pixelsPerMetre;
    out.fields = meta.report;
    out.saveTime = reader.SaveTime();
    if (withSignature && !picture::SignatureImage(reader, out.signature, error)) {
        error = path + ": " + error;
        return false;
    }
    out.survey = coverage::SurveyFromSiteFile(reader, &out.ignored);
    if (!reader.Points().unreadable.empty()) {
        error = path + ": part of the stored survey cannot be read: " + reader.Points().unreadable;
        return false;
    }
    coverage::ApplySiteMeta(meta, out.survey);
    for (const coverage::SurveyPoint& p : out.survey.points) {
        out.estimatedPoints += std::count(meta.estimatedLevels.begin(), meta.estimatedLevels.end(),
                                          std::pair<double, double>(p.x, p.y)) > 0;
    }
    return true;
}

ReportSite ToReportSite(const std::string& path, LoadedSite& loaded) {
    ReportSite site;
    const size_t slash = path.find_last_of('/');
    site.fileName = slash == std::string::npos ? path : path.substr(slash + 1);
    site.saveTime = loaded.saveTime;
    // Pictures for the page: a large plan is scaled down once, here.
    site.map = picture::SiteMapImage(loaded.map, kMaxPictureSide);
    site.mapSize = QSize(loaded.map.width, loaded.map.height);
    loaded.map = sitefile::SiteMap();
    site.signature = loaded.signature;
    site.pixelsPerMetre = loaded.pixelsPerMetre;
    site.customer = loaded.fields.customer;
    site.surveyor = loaded.fields.surveyor;
    site.notes = loaded.fields.notes;
    site.estimatedPoints = loaded.estimatedPoints;
    site.survey = std::move(loaded.survey);
    return site;
}

std::optional<ReportFormat> FormatForName(const std::string& path) {
    std::string lower = path;
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    const auto endsWith = [&lower](const std::string& suffix) {
        return lower.size() > suffix.size() &&
               lower.compare(lower.size() - suffix.size(), suffix.size(), suffix) == 0;
    };
    if (endsWith(".pdf")) {
        return ReportFormat::kPdf;
    }
    if (endsWith(".html") || endsWith(".htm")) {
        return ReportFormat::kHtml;
    }
    return std::nullopt;
}

bool WriteSiteReport(const std::string& sitePath, const ReportOptions& options,
                     const std::string& outPath, std::string& error) {
    const std::optional<ReportFormat> format = FormatForName(outPath);
    if (!format) {
        error = outPath + ": the report's file name must end in .pdf or .html";
        return false;
    }
    if (outPath == sitePath || platform::SameFile(sitePath, outPath)) {
        error = outPath + " is the site itself";
        return false;
    }
    LoadedSite loaded;
    if (!LoadSite(sitePath, true, loaded, error)) {
        return false;
    }
    const ReportSite site = ToReportSite(sitePath, loaded);
    QByteArray bytes;
    if (!MakeReport(site, options, *format, bytes, error)) {
        error = sitePath + ": " + error;
        return false;
    }
    return platform::WriteOutputFile(outPath, bytes.constData(), static_cast<size_t>(bytes.size()),
                                     error);
}

}  // namespace report
