// A site file read for its report or its check: the map, the scale, the
// survey with what the sidecar adds, the save time, the signature and the
// cover's fields. `ksf report` and the workspace's export make their report
// through it, so the two give the same bytes.
#pragma once

#include <QImage>
#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "coverage/survey.h"
#include "report/survey_report.h"
#include "sitefile/site_meta.h"
#include "sitefile/site_reader.h"

namespace report {

struct LoadedSite {
    sitefile::SiteMap map;
    std::optional<double> pixelsPerMetre;
    coverage::Survey survey;
    std::vector<std::string> ignored;  // stored records that cannot be true
    uint32_t saveTime = 0;
    QImage signature;
    sitefile::ReportFields fields;
    size_t estimatedPoints = 0;  // whose levels came from a signal quality
};

// The site as Kestrow would open it, its scale and its survey; false with a
// one-line reason naming the file when it, its stored points or its sidecar
// cannot be read.
bool LoadSite(const std::string& path, bool withSignature, LoadedSite& out, std::string& error);

// What the report is made of; the survey and the map are moved out of
// `loaded`, the map scaled for the page.
ReportSite ToReportSite(const std::string& path, LoadedSite& loaded);

// PDF for a name ending in .pdf, HTML for .html or .htm (either case).
std::optional<ReportFormat> FormatForName(const std::string& path);

// The report of the site at `sitePath` written to `outPath` (its format by
// its ending, never the site itself), as `ksf report` writes it; false with
// a one-line reason.
bool WriteSiteReport(const std::string& sitePath, const ReportOptions& options,
                     const std::string& outPath, std::string& error);

}  // namespace report
