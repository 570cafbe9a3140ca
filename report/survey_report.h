// The survey report a customer signs: a cover (the site, the customer, the
// surveyor and notes, the survey's save time, its counts and the sign-off
// signature), the strongest-signal heatmap with its legend, a heatmap per
// band where more than one was heard, the signal-to-noise map where noise
// was measured, a requirement profile's pass/fail map and figures, a heatmap
// per SSID, the access points grouped by radio, the method and its measured
// error, and the survey points, in that order.
//
// It is written as PDF (Qt's own PDF writer, A4, paginated with running
// footers) or as one self-contained HTML file (its pictures inside as data:
// URIs). Both are reproducible: the same site gives the same bytes, and the
// only time in them is the survey's own save time.
#pragma once

#include <QByteArray>
#include <QImage>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "coverage/requirements.h"
#include "coverage/survey.h"

namespace report {

// What the report is made of, as read from a site file.
struct ReportSite {
    std::string fileName;   // shown as given (bytes, see platform::TextFromBytes)
    uint32_t saveTime = 0;  // seconds since 1970, UTC; 0: never saved
    QImage map;             // the site map in colour
    QImage signature;       // the sign-off raster
    std::optional<double> pixelsPerMetre;
    coverage::Survey survey;  // with the noise measured, where it was
    // Survey points whose levels are estimates from a signal quality.
    size_t estimatedPoints = 0;
    // The cover's fields (text, UTF-8); empty ones are left out.
    std::string customer;
    std::string surveyor;
    std::string notes;
};

struct ReportOptions {
    coverage::Profile profile;
    double minAreaPercent = 95;
    // The SSIDs the heatmaps and the access-point table show (all when
    // empty). The profile is judged over its own access points, as check
    // judges it.
    std::vector<std::string> ssids;
    coverage::Method method = coverage::kDefaultMethod;
};

enum class ReportFormat { kPdf, kHtml };

// At most this many SSIDs get a heatmap of their own, the busiest first.
constexpr size_t kMaxSsidMaps = 8;

// The report's bytes; false with a one-line reason when the coverage maps
// cannot be built (a grid the engine refuses) or the PDF cannot be written.
bool MakeReport(const ReportSite& site, const ReportOptions& options, ReportFormat format,
                QByteArray& out, std::string& error);

// Sets the creation date a PDF from Qt's writer carries (the time it was
// written) to `when` (seconds since 1970, UTC), keeping the file's
// cross-reference table right. Leaves a file it does not recognise unchanged
// and answers false.
bool SetPdfCreationDate(QByteArray& pdf, uint32_t when);

}  // namespace report
