#include "report/survey_report.h"

#include <QAbstractTextDocumentLayout>
#include <QBuffer>
#include <QFont>
#include <QPageLayout>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>
#include <QString>
#include <QTextDocument>
#include <QUrl>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <tuple>
#include <utility>

#include "coverage/rssi_bands.h"
#include "picture/coverage_image.h"
#include "picture/heatmap_marks.h"
#include "picture/walls_picture.h"
#include "platform/text.h"
#include "sitefile/site_meta.h"

namespace report {

namespace {

using coverage::AccessPoint;
using picture::DrawScaleBar;
using picture::HeatmapPicture;
using picture::kFailColour;
using picture::kOverlayAlpha;
using picture::kPassColour;
using picture::PassFailPicture;

// ---------------------------------------------------------------------------
// Page and type. The PDF is laid out at 96 dots an inch, so a CSS pixel is a
// device pixel and the same HTML serves both outputs.

constexpr int kPdfDpi = 96;
constexpr double kMarginMm = 18;
constexpr double kFooterPx = 30;
constexpr char kFontFamily[] = "Liberation Sans";
constexpr char kAccent[] = "#1f3a5f";
constexpr char kRule[] = "#d0d6de";
constexpr char kHeaderFill[] = "#dfe6ee";
// Survey points are numbered on the maps up to this many.
constexpr size_t kMostNumberedPoints = 60;

QString Esc(const std::string& utf8) {
    return QString::fromStdString(utf8).toHtmlEscaped();
}

// Bytes from the air or from the file, as text.
std::string Text(const std::string& bytes) {
    return platform::TextFromBytes(bytes.data(), bytes.size());
}

QString SsidLabel(const std::string& bytes) {
    return bytes.empty() ? QStringLiteral("<i>(hidden)</i>") : Esc(Text(bytes));
}

std::string Format(const char* format, double v) {
    char text[64];
    std::snprintf(text, sizeof text, format, v);
    return text;
}

std::string Coordinate(double v) {
    return v == std::round(v) ? Format("%.0f", v) : Format("%.1f", v);
}

std::string Percent(double v) {
    return Format("%.1f", v) + "%";
}

std::string SaveTimeText(uint32_t saveTime) {
    if (saveTime == 0) {
        return "never saved";
    }
    const std::time_t t = saveTime;
    std::tm utc{};
    gmtime_r(&t, &utc);
    char text[40];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S UTC", &utc);
    return text;
}

// A distance in plan pixels, and in metres where the scale is known.
std::string Distance(double pixels, std::optional<double> pixelsPerMetre) {
    std::string out = Format("%g", pixels) + " plan pixels";
    if (pixelsPerMetre) {
        out = Format("%.2g", pixels / *pixelsPerMetre) + " m (" + out + ")";
    }
    return out;
}

// ---------------------------------------------------------------------------
// What the report shows, computed once for both formats.

struct SsidGroup {
    std::string bytes;
    int accessPoints = 0;
    int readings = 0;
};

// An access point of the table with its radio's number (from 1).
struct ShownAp {
    AccessPoint ap;
    size_t radio = 0;
};

struct Content {
    const ReportSite* site = nullptr;
    const ReportOptions* options = nullptr;
    std::shared_ptr<const coverage::CoverageModel> model;
    coverage::ApFilter selection;  // the SSIDs asked for
    std::vector<ShownAp> shown;    // the access points of the table, radio by radio
    size_t radiosShown = 0;
    std::vector<channels::Band> bands;  // the bands heard, when more than one
    bool noise = false;                 // noise was measured: the SNR map
    std::vector<SsidGroup> ssids;       // busiest first, those with a map
    size_t ssidsLeftOut = 0;            // selected SSIDs without a map
    std::vector<coverage::PointVerdict> points;
    coverage::AreaVerdict area;
    bool pass = false;
    size_t readings = 0;
    size_t distinctSsids = 0;
    std::map<QString, QImage> images;  // by name, in a fixed order
};

// The site map's own size.
QSize MapSize(const ReportSite& site) {
    return site.mapSize.isEmpty() ? site.map.size() : site.mapSize;
}

// The survey's positions on a map picture (the map, or the map scaled down
// by `scale`): a white dot ringed in black, and the point's number beside it
// when there are few enough to read.
void MarkSurveyPoints(QImage& picture, const coverage::Survey& survey, double scale) {
    const int unit = std::max(1, std::min(picture.width(), picture.height()) / 240);
    const bool numbered = survey.points.size() <= kMostNumberedPoints;
    QPainter painter(&picture);
    painter.setRenderHint(QPainter::Antialiasing, true);
    QFont font(kFontFamily);
    font.setPixelSize(unit * 10);
    font.setBold(true);
    painter.setFont(font);
    std::set<std::pair<double, double>> marked;
    for (size_t i = 0; i < survey.points.size(); ++i) {
        const coverage::SurveyPoint& p = survey.points[i];
        if (!marked.emplace(p.x, p.y).second) {
            continue;  // a later point at the same place: its number would cover the first
        }
        const QPointF at((p.x + 0.5) * scale, (p.y + 0.5) * scale);
        painter.setPen(QPen(Qt::black, unit));
        painter.setBrush(Qt::white);
        painter.drawEllipse(at, unit * 3.0, unit * 3.0);
        if (numbered) {
            const QString number = QString::number(i + 1);
            const QPointF text = at + QPointF(unit * 4.5, -unit * 3.5);
            painter.setPen(Qt::white);
            for (const QPointF& d :
                 {QPointF(-1, 0), QPointF(1, 0), QPointF(0, -1), QPointF(0, 1)}) {
                painter.drawText(text + d * unit, number);
            }
            painter.setPen(Qt::black);
            painter.drawText(text, number);
        }
    }
}

// The report's legend is printed under each picture.
QImage MapPicture(QImage picture, const ReportSite& site,
                  const picture::MapMarks* marks = nullptr) {
    const double scale = static_cast<double>(picture.width()) / MapSize(site).width();
    if (marks != nullptr) {
        const int unit = picture::MarkUnit(picture);
        QPainter painter(&picture);
        painter.scale(scale, scale);
        picture::DrawWalls(painter, marks->walls, std::max(2.0, unit * 0.75) / scale);
        painter.resetTransform();
        picture::DrawAccessPoints(painter, marks->aps, scale, unit);
    }
    MarkSurveyPoints(picture, site.survey, scale);
    if (site.pixelsPerMetre) {
        DrawScaleBar(picture, *site.pixelsPerMetre * scale);
    }
    return picture;
}

QString BandImageName(channels::Band band) {
    return QString("band-%1.png").arg(channels::BandName(band));
}

bool Compute(const ReportSite& site, const ReportOptions& options, Content& c, std::string& error) {
    c.site = &site;
    c.options = &options;
    const coverage::GridSpec spec = coverage::DefaultGridSpec(
        MapSize(site).width(), MapSize(site).height(), site.pixelsPerMetre);
    // Over every access point, as check builds it, so the verdicts are check's.
    coverage::BuildOptions build;
    build.method = options.method;
    c.model = coverage::CoverageModel::Build(site.survey, spec, build, error);
    if (!c.model) {
        return false;
    }
    c.selection.ssids = options.ssids;
    std::set<std::string> allSsids;
    std::set<channels::Band> bands;
    std::map<std::string, SsidGroup> groups;
    const std::vector<AccessPoint>& aps = c.model->AccessPoints();
    for (size_t a = 0; a < aps.size(); ++a) {
        const AccessPoint& ap = aps[a];
        allSsids.insert(ap.ssid);
        if (ap.band != channels::Band::kUnknown) {
            bands.insert(ap.band);
        }
        if (!c.selection.Selects(ap)) {
            continue;
        }
        c.shown.push_back({ap, c.model->Radios().RadioOf(a) + 1});
        SsidGroup& g = groups[ap.ssid];
        g.bytes = ap.ssid;
        ++g.accessPoints;
        g.readings += ap.pointsHeard;
    }
    c.distinctSsids = allSsids.size();
    if (bands.size() > 1) {
        c.bands.assign(bands.begin(), bands.end());
    }
    c.noise = !c.model->Noise().Empty();
    for (const coverage::SurveyPoint& p : site.survey.points) {
        c.readings += p.heard.size();
    }
    // Radio by radio, each radio's BSSIDs by SSID (hidden ones last).
    std::sort(c.shown.begin(), c.shown.end(), [](const ShownAp& a, const ShownAp& b) {
        return std::make_tuple(a.radio, a.ap.ssid.empty(), Text(a.ap.ssid), a.ap.bssid) <
               std::make_tuple(b.radio, b.ap.ssid.empty(), Text(b.ap.ssid), b.ap.bssid);
    });
    std::set<size_t> radios;
    for (const ShownAp& s : c.shown) {
        radios.insert(s.radio);
    }
    c.radiosShown = radios.size();
    // The busiest SSIDs first: most access points, then most readings.
    for (auto& [bytes, g] : groups) {
        c.ssids.push_back(g);
    }
    std::stable_sort(c.ssids.begin(), c.ssids.end(), [](const SsidGroup& a, const SsidGroup& b) {
        return std::make_pair(a.accessPoints, a.readings) >
               std::make_pair(b.accessPoints, b.readings);
    });
    if (c.ssids.size() > kMaxSsidMaps) {
        c.ssidsLeftOut = c.ssids.size() - kMaxSsidMaps;
        c.ssids.resize(kMaxSsidMaps);
    }

    c.points = coverage::JudgePoints(site.survey, options.profile);
    c.area = coverage::JudgeArea(*c.model, options.profile);
    c.pass = coverage::AreaPasses(c.area.PassPercent(), options.minAreaPercent);

    const coverage::Grid strongest =
        c.model->Map(coverage::MapRequest(coverage::Metric::kStrongest, -67, c.selection));
    const picture::MapMarks marks =
        picture::MarksOf(*c.model, c.model->Sources(), nullptr, site.pixelsPerMetre);
    c.images["strongest.png"] = MapPicture(HeatmapPicture(strongest, site.map), site, &marks);
    c.images["passfail.png"] = MapPicture(PassFailPicture(c.area, site.map), site);
    for (channels::Band band : c.bands) {
        coverage::ApFilter only = c.selection;
        only.bands = {band};
        const coverage::Grid grid =
            c.model->Map(coverage::MapRequest(coverage::Metric::kStrongest, -67, only));
        // Each band's map marks that band's access points, each network's its own.
        const picture::MapMarks bandMarks =
            picture::MarksOf(*c.model, c.model->Sources(), nullptr, site.pixelsPerMetre, &only);
        c.images[BandImageName(band)] =
            MapPicture(HeatmapPicture(grid, site.map), site, &bandMarks);
    }
    if (c.noise) {
        const coverage::Grid snr =
            c.model->Map(coverage::MapRequest(coverage::Metric::kSnr, -67, c.selection));
        c.images["snr.png"] = MapPicture(HeatmapPicture(snr, site.map), site, &marks);
    }
    for (size_t i = 0; i < c.ssids.size(); ++i) {
        coverage::ApFilter only;
        only.ssids = {c.ssids[i].bytes};
        const coverage::Grid grid =
            c.model->Map(coverage::MapRequest(coverage::Metric::kStrongest, -67, only));
        const picture::MapMarks ssidMarks =
            picture::MarksOf(*c.model, c.model->Sources(), nullptr, site.pixelsPerMetre, &only);
        c.images[QString("ssid-%1.png").arg(i + 1)] =
            MapPicture(HeatmapPicture(grid, site.map), site, &ssidMarks);
    }
    c.images["signature.png"] = site.signature;
    return true;
}

// ---------------------------------------------------------------------------
// The document, as HTML for both outputs.

struct Target {
    bool pdf = false;
    QSizeF body;  // the PDF's text area, device pixels
    std::function<QString(const QString& name)> source;
};

// An <img> of a named picture, as large as fits `width` x `height`.
QString Image(const Content& c, const Target& t, const QString& name, double width, double height,
              const QString& alt) {
    const QImage& image = c.images.at(name);
    if (image.isNull()) {
        return {};
    }
    double scale = std::min(width / image.width(), height / image.height());
    if (!t.pdf) {
        // A browser blurs what it enlarges: small pictures grow to 640 pixels
        // at most, larger ones keep their own size.
        scale = std::min(scale, std::max(1.0, 640.0 / image.width()));
    }
    const int w = static_cast<int>(std::floor(image.width() * scale));
    const int h = static_cast<int>(std::floor(image.height() * scale));
    return QString("<img src=\"%1\" width=\"%2\" height=\"%3\" alt=\"%4\"%5>")
        .arg(t.source(name))
        .arg(w)
        .arg(h)
        .arg(alt.toHtmlEscaped(), t.pdf ? QString() : QStringLiteral(" class=\"map\""));
}

// A section heading: every section starts on a page of its own.
QString Heading(const QString& text) {
    return "<h2 style=\"page-break-before: always\">" + text + "</h2>\n";
}

// A picture in a paragraph of its own, centred.
QString Figure(const QString& image) {
    return "<p align=\"center\">" + image + "</p>\n";
}

// A table with a header row that repeats on every page it runs over, rows
// parted by thin rules. Columns are described as "<width>%" with an "r"
// after it for right-aligned ones, e.g. {"8%r", "30%"}.
class Table {
  public:
    Table(const QStringList& headers, const QStringList& columns) {
        for (const QString& c : columns) {
            m_right << c.endsWith('r');
            m_width << (c.endsWith('r') ? c.chopped(1) : c);
        }
        m_html = QString(
            "<table class=\"data\" cellspacing=\"0\" cellpadding=\"4\" border=\"0\" "
            "width=\"100%\" style=\"border-collapse: collapse\">\n<thead><tr>");
        for (int i = 0; i < headers.size(); ++i) {
            m_html += QString(
                          "<th bgcolor=\"%1\" align=\"%2\" width=\"%3\" style=\"border-bottom: "
                          "1px solid %4\">%5</th>")
                          .arg(kHeaderFill, Align(i), m_width.value(i), kAccent, headers[i]);
        }
        m_html += "</tr></thead>\n";
    }
    void Row(const QStringList& cells) {
        m_html += "<tr>";
        for (int i = 0; i < cells.size(); ++i) {
            m_html += QString("<td align=\"%1\" style=\"border-bottom: 1px solid %2\">%3</td>")
                          .arg(Align(i), kRule, cells[i]);
        }
        m_html += "</tr>\n";
    }
    QString Html() const { return m_html + "</table>\n"; }

  private:
    QString Align(int i) const {
        return m_right.value(i) ? QStringLiteral("right") : QStringLiteral("left");
    }
    QList<bool> m_right;
    QStringList m_width;
    QString m_html;
};

// Two columns of label and value, no header.
QString Facts(const std::vector<std::pair<QString, QString>>& rows) {
    QString html = QString(
        "<table class=\"facts\" cellspacing=\"0\" cellpadding=\"4\" "
        "border=\"0\" width=\"100%\">\n");
    for (const auto& [label, value] : rows) {
        html += QString(
                    "<tr><td width=\"34%\" style=\"color: #555555\">%1</td>"
                    "<td><b>%2</b></td></tr>\n")
                    .arg(label, value);
    }
    return html + "</table>\n";
}

// A colour swatch as a filled table cell, the colour as the overlay shows it
// over white paper.
QString Swatch(QRgb colour) {
    const auto mix = [](int c) { return (c * kOverlayAlpha + 255 * (255 - kOverlayAlpha)) / 255; };
    const QColor shown(mix(qRed(colour)), mix(qGreen(colour)), mix(qBlue(colour)));
    return QString(
               "<td width=\"22\" bgcolor=\"%1\" style=\"border: 1px solid #888888\">&nbsp;</td>")
        .arg(shown.name());
}

QString Legend(const std::vector<std::pair<QRgb, QString>>& entries, int perRow) {
    QString html =
        "<table class=\"legend\" align=\"center\" cellspacing=\"3\" cellpadding=\"2\" "
        "border=\"0\">\n";
    for (size_t i = 0; i < entries.size(); ++i) {
        if (i % perRow == 0) {
            html += "<tr>";
        }
        html += Swatch(entries[i].first) +
                QString("<td style=\"padding-right: 14px\">%1</td>").arg(entries[i].second);
        if (i % perRow == static_cast<size_t>(perRow) - 1 || i + 1 == entries.size()) {
            html += "</tr>\n";
        }
    }
    return html + "</table>\n";
}

QString BandLegend() {
    std::vector<std::pair<QRgb, QString>> entries;
    for (int i = 0; i < kRssiBandCount; ++i) {
        const QRgb colour = 0xFF000000u | ColorRefToRgb(kRssiBands[i].colorRef);
        QString label;
        if (i == 0) {
            label = QString("above %1 dBm").arg(kRssiBands[0].above);
        } else if (i == kRssiBandCount - 1) {
            label = QString("%1 dBm and below").arg(kRssiBands[i - 1].above);
        } else {
            label =
                QString("%1 to %2 dBm").arg(kRssiBands[i - 1].above).arg(kRssiBands[i].above + 1);
        }
        entries.emplace_back(colour, label);
    }
    return Legend(entries, 3);
}

QString ReachText(const Content& c) {
    return Esc(Distance(c.model->Spec().radius, c.site->pixelsPerMetre));
}

QString BandCell(channels::Band band) {
    const char* name = channels::BandName(band);
    return name ? QString("%1 GHz").arg(name) : QStringLiteral("?");
}

QString SelectionText(const std::vector<std::string>& ssids,
                      const std::vector<channels::Band>& bands = {}) {
    QString text = "every access point";
    if (!ssids.empty()) {
        QStringList names;
        for (const std::string& s : ssids) {
            names << Esc(Text(s));
        }
        text = "the SSIDs " + names.join(", ");
    }
    if (!bands.empty()) {
        QStringList names;
        for (channels::Band band : bands) {
            names << BandCell(band);
        }
        text += " on " + names.join(", ");
    }
    return text;
}

std::string BandsText(const Content& c) {
    std::set<channels::Band> bands;
    for (const AccessPoint& ap : c.model->AccessPoints()) {
        bands.insert(ap.band);
    }
    std::string out;
    for (channels::Band band : bands) {
        const char* name = channels::BandName(band);
        out += out.empty() ? "" : ", ";
        out += name ? std::string(name) + " GHz" : "unknown (channel without frequency)";
    }
    return out.empty() ? "none" : out;
}

QString SnrLegend() {
    std::vector<std::pair<QRgb, QString>> entries;
    for (int i = 0; i < kRssiBandCount; ++i) {
        const QRgb colour = 0xFF000000u | ColorRefToRgb(kRssiBands[i].colorRef);
        QString label;
        if (i == 0) {
            label = QString("%1 dB and above").arg(kSnrBandFloorsDb[0]);
        } else if (i == kRssiBandCount - 1) {
            label = QString("below %1 dB").arg(kSnrBandFloorsDb[i - 1]);
        } else {
            label = QString("%1 to %2 dB").arg(kSnrBandFloorsDb[i]).arg(kSnrBandFloorsDb[i - 1]);
        }
        entries.emplace_back(colour, label);
    }
    return Legend(entries, 3);
}

QString MethodText(coverage::Method method) {
    switch (method) {
        case coverage::Method::kIdw:
            return QStringLiteral("inverse-distance weighting, power 2 (idw)");
        case coverage::Method::kKriging:
            return QStringLiteral(
                "ordinary kriging (kriging): a Mat&eacute;rn covariance fitted to each access "
                "point's readings, measurement noise included");
        case coverage::Method::kPathLoss:
            break;
    }
    return QStringLiteral(
        "path-loss trend with kriged residuals (pathloss): each access point's source "
        "position, level and fall-off with distance fitted to its readings, what that trend "
        "misses kriged with a Mat&eacute;rn covariance; an access point heard at fewer than "
        "four places, or not falling off like a source, is kriged without a trend");
}

QString Cover(const Content& c, const Target& t) {
    const ReportSite& site = *c.site;
    QString html = QString(
                       "<p style=\"font-size: 11pt; color: %1; margin-top: 40px\">WIRELESS SITE "
                       "SURVEY REPORT</p>\n<h1 style=\"font-size: 26pt; color: %1; margin-bottom: "
                       "24px\">%2</h1>\n")
                       .arg(kAccent, Esc(Text(site.fileName)));
    std::string scale = "not set";
    if (site.pixelsPerMetre) {
        scale = Format("%g", *site.pixelsPerMetre) + " plan pixels a metre";
    }
    std::vector<std::pair<QString, QString>> people;
    if (!site.customer.empty()) {
        people.emplace_back("Customer", Esc(site.customer));
    }
    if (!site.surveyor.empty()) {
        people.emplace_back("Surveyor", Esc(site.surveyor));
    }
    if (!people.empty()) {
        html += Facts(people);
    }
    html += Facts({
        {"Site file", Esc(Text(site.fileName))},
        {"Survey saved", Esc(SaveTimeText(site.saveTime))},
        {"Survey points", QString::number(site.survey.points.size())},
        {"Access points", QString("%1 BSSIDs on %2 radios")
                              .arg(c.model->AccessPoints().size())
                              .arg(c.model->Radios().Count())},
        {"Bands heard", Esc(BandsText(c))},
        {"Noise",
         c.noise ? QStringLiteral("measured at each point by the Wi-Fi adapter")
                 : QStringLiteral(
                       "not measured (the scanner unit, and some Wi-Fi drivers, report none)")},
        {"Levels", site.estimatedPoints == 0
                       ? QStringLiteral("measured")
                       : QString("estimated from a signal quality at %1 of %2 points (the Wi-Fi "
                                 "adapter reported no levels there)")
                             .arg(site.estimatedPoints)
                             .arg(site.survey.points.size())},
        {"SSIDs", QString::number(c.distinctSsids)},
        {"Readings", QString::number(c.readings)},
        {"Floor plan", QString("%1 &times; %2 pixels, scale %3")
                           .arg(MapSize(site).width())
                           .arg(MapSize(site).height())
                           .arg(Esc(scale))},
        {"Requirement profile", Esc(c.options->profile.name)},
    });
    if (!c.options->ssids.empty()) {
        html += QString("<p>The heatmaps and the access-point table show %1 only.</p>\n")
                    .arg(SelectionText(c.options->ssids));
    }
    if (!site.notes.empty()) {
        html += "<h3>Notes</h3>\n<p>" + Esc(site.notes).replace('\n', "<br>") + "</p>\n";
    }
    html += "<h3 style=\"margin-top: 36px\">Signed off</h3>\n";
    bool blank = true;
    const QImage signature = site.signature.convertToFormat(QImage::Format_RGB32);
    for (int y = 0; y < signature.height() && blank; ++y) {
        const QRgb* line = reinterpret_cast<const QRgb*>(signature.constScanLine(y));
        for (int x = 0; x < signature.width() && blank; ++x) {
            blank = (line[x] & 0xFFFFFF) == 0xFFFFFF;
        }
    }
    if (blank) {
        return html + "<p>The survey has not been signed off.</p>\n";
    }
    // Twice its size, in a thin frame.
    return html +
           QString(
               "<table cellspacing=\"0\" cellpadding=\"0\" border=\"1\" "
               "style=\"border-color: %1; border-style: solid\"><tr><td>%2</td></tr></table>\n")
               .arg(kRule, Image(c, t, "signature.png", signature.width() * 2,
                                 signature.height() * 2, "The sign-off signature"));
}

QString Document(const Content& c, const Target& t) {
    const ReportSite& site = *c.site;
    const coverage::Profile& profile = c.options->profile;
    const double width = t.pdf ? t.body.width() : 960;
    const double bigMap = t.pdf ? t.body.height() * 0.6 : 720;
    QString html = Cover(c, t);

    // Coverage.
    html += Heading("Coverage: strongest signal");
    html += QString(
                "<p>Each cell of the plan shows the strongest signal of %1, interpolated from "
                "the survey points (white dots, numbered as in the survey-point table). Cells "
                "farther than %2 from every survey point are left clear: nobody measured "
                "there.</p>\n")
                .arg(SelectionText(c.options->ssids), ReachText(c));
    html += Figure(Image(c, t, "strongest.png", width, bigMap, "Heatmap of the strongest signal"));
    html += BandLegend();
    if (site.pixelsPerMetre) {
        html += "<p>The bar in the corner of the plan gives its scale.</p>\n";
    } else {
        html += "<p>The plan has no scale; distances are in plan pixels.</p>\n";
    }

    // One band at a time, where more than one was heard.
    if (!c.bands.empty()) {
        const double bandMap = t.pdf ? t.body.height() * 0.37 : 540;
        for (size_t i = 0; i < c.bands.size(); ++i) {
            const bool newPage = i > 0 && (!t.pdf || i % 2 == 0);
            if (i == 0) {
                html += Heading("Coverage per band");
                html += QString(
                            "<p>The strongest signal of %1 on each band on its own: a device "
                            "that uses one band sees only that band's radios.</p>\n")
                            .arg(SelectionText(c.options->ssids)) +
                        BandLegend();
            }
            html += QString("<h3%1>%2</h3>\n")
                        .arg(newPage ? QStringLiteral(" style=\"page-break-before: always\"")
                                     : QString(),
                             BandCell(c.bands[i]));
            html += Figure(Image(c, t, BandImageName(c.bands[i]), width, bandMap,
                                 "Heatmap of the " + BandCell(c.bands[i]) + " band"));
        }
    }

    // Signal to noise, where the noise was measured.
    if (c.noise) {
        html += Heading("Signal to noise");
        html += QString(
            "<p>Each cell shows the strongest radio's level less the noise floor of its "
            "channel, as measured by the Wi-Fi adapter at the nearest survey point that "
            "measured that channel. Cells whose strongest radio's channel had its noise "
            "measured nowhere are left clear.</p>\n");
        html += Figure(Image(c, t, "snr.png", width, bigMap, "Signal-to-noise map"));
        html += SnrLegend();
    }

    // The requirement.
    html += Heading("Requirement: " + Esc(profile.name));
    html += QString(
        "<p>Each cell passes when its interpolated levels meet the profile, and fails "
        "otherwise; each survey point is judged on exactly what was heard there. An "
        "access point not heard at a point counts as -100 dBm.</p>\n");
    html +=
        Figure(Image(c, t, "passfail.png", width, bigMap * 0.85,
                     "Pass/fail map of the requirement " + QString::fromStdString(profile.name)));
    html += Legend({{kPassColour, "passes"},
                    {kFailColour, "fails"},
                    {0xFFFFFFFFu, "not surveyed (beyond " + ReachText(c) + ")"}},
                   3);
    size_t pointsPassing = 0;
    for (const coverage::PointVerdict& v : c.points) {
        pointsPassing += v.pass;
    }
    const QString verdict = c.pass ? QStringLiteral("<span style=\"color: #007a00\">PASS</span>")
                                   : QStringLiteral("<span style=\"color: #c00000\">FAIL</span>");
    html += Facts({
        {"Profile", Esc(profile.name) + " &mdash; " + Esc(profile.Describe())},
        {"Judged over", SelectionText(profile.ssids, profile.bands)},
        {"Area passing",
         QString("%1 of %2 cells").arg(Esc(Percent(c.area.PassPercent()))).arg(c.area.judged)},
        {"Area needed", Esc(Format("%g", c.options->minAreaPercent)) + "%"},
        {"Verdict", verdict},
        {"Survey points passing", QString("%1 of %2").arg(pointsPassing).arg(c.points.size())},
    });
    if (pointsPassing < c.points.size()) {
        html += "<h3>Survey points that fail</h3>\n";
        Table failing({"#", "x", "y", "Name", "Reason"}, {"6%r", "8%r", "8%r", "24%", "54%"});
        for (const coverage::PointVerdict& v : c.points) {
            if (!v.pass) {
                failing.Row({QString::number(v.index + 1), Esc(Coordinate(v.x)),
                             Esc(Coordinate(v.y)), Esc(Text(v.name)), Esc(v.reason)});
            }
        }
        html += failing.Html();
    }

    // One heatmap per SSID, as many to a page as fit.
    if (!c.ssids.empty()) {
        const double ssidMap = t.pdf ? t.body.height() * 0.37 : 540;
        const double block = ssidMap + 70;
        const size_t perPage =
            t.pdf ? std::max<size_t>(1, static_cast<size_t>(t.body.height() / block)) : 1;
        for (size_t i = 0; i < c.ssids.size(); ++i) {
            const SsidGroup& g = c.ssids[i];
            if (i == 0) {
                html += Heading("Coverage per SSID");
                html +=
                    "<p>The strongest signal of each SSID's own access points, busiest SSID "
                    "first:</p>\n" +
                    BandLegend();
            }
            const bool newPage = i > 0 && i % perPage == 0;
            html += QString("<h3%1>%2 &mdash; %3 access point%4</h3>\n")
                        .arg(newPage ? QStringLiteral(" style=\"page-break-before: always\"")
                                     : QString(),
                             SsidLabel(g.bytes))
                        .arg(g.accessPoints)
                        .arg(g.accessPoints == 1 ? "" : "s");
            html += Figure(Image(c, t, QString("ssid-%1.png").arg(i + 1), width, ssidMap,
                                 "Heatmap of the SSID " + QString::fromStdString(Text(g.bytes))));
        }
        if (c.ssidsLeftOut > 0) {
            html += QString("<p>%1 quieter SSID%2 not shown.</p>\n")
                        .arg(c.ssidsLeftOut)
                        .arg(c.ssidsLeftOut == 1 ? " is" : "s are");
        }
    }

    // The access points.
    html += Heading("Access points");
    if (c.shown.empty()) {
        html += "<p>No access point was heard.</p>\n";
    } else {
        html += QString(
                    "<p>%1 BSSIDs on %2 radios. A radio is one transmitter: the BSSIDs it sends "
                    "(one per SSID) are on one band and channel and differ only in the "
                    "locally administered bit of the first byte and the last four bits. "
                    "Second, count and co-channel figures count radios.</p>\n")
                    .arg(c.shown.size())
                    .arg(c.radiosShown);
        Table aps({"Radio", "BSSID", "SSID", "Band", "Channel", "Best signal", "Points heard at"},
                  {"8%r", "21%", "26%", "9%r", "10%r", "12%r", "14%r"});
        for (size_t i = 0; i < c.shown.size(); ++i) {
            const ShownAp& s = c.shown[i];
            const bool first = i == 0 || c.shown[i - 1].radio != s.radio;
            aps.Row(
                {first ? QString::number(s.radio) : QString(), Esc(coverage::BssidText(s.ap.bssid)),
                 SsidLabel(s.ap.ssid), BandCell(s.ap.band), QString::number(s.ap.channel),
                 Esc(coverage::DbmText(s.ap.best)) + " dBm", QString::number(s.ap.pointsHeard)});
        }
        html += aps.Html();
    }

    // The method.
    const coverage::LeaveOneOut& loo = c.model->LeaveOneOutError();
    QString error = "not measured: fewer than two survey positions";
    if (loo.positions >= 2 && !c.model->AccessPoints().empty()) {
        error = QString(
                    "%1 dB RMSE on an access point's level, %2 dB on the strongest level, over "
                    "%3 positions each predicted from all the others")
                    .arg(Esc(Format("%.1f", loo.levelRmse)), Esc(Format("%.1f", loo.strongestRmse)))
                    .arg(loo.positions);
    }
    // The walls, and what the survey made of their materials.
    QString walls = "none drawn on the plan";
    if (!c.model->Walls().empty()) {
        std::map<int, int> used;
        for (const coverage::WallSegment& w : c.model->Walls()) {
            ++used[w.material];
        }
        QStringList losses;
        for (const auto& [material, count] : used) {
            const auto& info = sitefile::InfoOf(static_cast<sitefile::Material>(material));
            const auto& loss = c.model->MaterialLossDb().at(static_cast<size_t>(material));
            losses << QString("%1 %2: %3 / %4 / %5 dB")
                          .arg(count)
                          .arg(info.name)
                          .arg(Esc(Format("%.1f", loss[0])), Esc(Format("%.1f", loss[1])),
                               Esc(Format("%.1f", loss[2])));
        }
        walls =
            "each wall between an access point and a cell costs its material's loss at "
            "2.4 / 5 / 6 GHz, calibrated on the survey: " +
            losses.join("; ");
    }
    html += Heading("Method");
    html += Facts({
        {"Walls", walls},
        {"Interpolation", MethodText(c.model->GetMethod())},
        {"Each access point",
         "interpolated on its own; a point that did not hear it counts as "
         "-100 dBm, points at one place are averaged"},
        {"Radios",
         "a radio's level is its strongest BSSID's; second, count and co-channel "
         "count radios, co-channel meaning the same band and channel (on 5 and 6 "
         "GHz also channels whose reported widths overlap)"},
        {"Cells", "squares of " + Esc(Distance(c.model->Spec().cell, site.pixelsPerMetre))},
        {"Reach of a survey point", ReachText(c)},
        {"Leave-one-out error", error},
    });

    // The survey points.
    html += Heading("Survey points");
    if (c.points.empty()) {
        html += "<p>The site holds no survey point.</p>\n";
    } else {
        html += QString(
                    "<p>Strongest and second are the levels of the two strongest radios heard "
                    "over %1, as the requirement judges them.</p>\n")
                    .arg(SelectionText(profile.ssids, profile.bands));
        QStringList headers = {"#", "x", "y", "Name", "Radios heard", "Strongest", "Second"};
        QStringList widths = {"6%r", "7%r", "7%r", "22%", "14%r", "12%r", "11%r"};
        if (c.noise) {
            headers << "SNR";
            widths << "9%r";
        }
        headers << Esc(profile.name);
        widths << "12%";
        Table points(headers, widths);
        std::map<coverage::Bssid, size_t> radioOf;
        for (size_t a = 0; a < c.model->AccessPoints().size(); ++a) {
            radioOf[c.model->AccessPoints()[a].bssid] = c.model->Radios().RadioOf(a);
        }
        for (const coverage::PointVerdict& v : c.points) {
            const coverage::SurveyPoint& p = site.survey.points[v.index];
            std::set<size_t> heard;
            for (const coverage::Reading& r : p.heard) {
                heard.insert(radioOf.at(r.bssid));
            }
            QStringList row = {QString::number(v.index + 1),
                               Esc(Coordinate(v.x)),
                               Esc(Coordinate(v.y)),
                               Esc(Text(v.name)),
                               QString::number(heard.size()),
                               Esc(coverage::DbmText(v.levels.strongest)),
                               Esc(coverage::DbmText(v.levels.second))};
            if (c.noise) {
                row << (v.levels.snr ? Esc(Format("%.0f", *v.levels.snr)) + " dB"
                                     : QStringLiteral("&ndash;"));
            }
            row << (v.pass ? QStringLiteral("pass")
                           : QStringLiteral("<span style=\"color: #c00000\">fail</span>"));
            points.Row(row);
        }
        html += points.Html();
    }
    return html;
}

// ---------------------------------------------------------------------------
// The two outputs.

const char kStyle[] =
    R"(body { font-family: "Liberation Sans", Arial, Helvetica, sans-serif; font-size: 10pt; color: #1a1a1a; }
h1 { font-weight: bold; margin-bottom: 18px; }
h2 { font-size: 16pt; color: #1f3a5f; margin-top: 0px; margin-bottom: 10px; }
h3 { font-size: 12pt; color: #1f3a5f; margin-top: 14px; margin-bottom: 6px; }
th { font-weight: bold; }
)";

const char kBrowserStyle[] =
    R"(body { max-width: 980px; margin: 24px auto; padding: 0 20px; line-height: 1.35; }
h2 { border-bottom: 2px solid #1f3a5f; padding-bottom: 4px; margin-top: 40px; }
table.data { border-collapse: collapse; width: 100%; margin: 8px 0 16px 0; }
table.data th, table.data td { padding: 3px 7px; }
table.facts td { padding: 3px 7px; }
img.map { max-width: 100%; height: auto; border: 1px solid #c5ccd6; }
@media print { h2 { page-break-before: always; } }
)";

QString Base64Png(const QImage& image) {
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return "data:image/png;base64," + QString::fromLatin1(png.toBase64());
}

QByteArray HtmlReport(const Content& c) {
    Target t;
    t.source = [&c](const QString& name) { return Base64Png(c.images.at(name)); };
    const QString title = "Survey report: " + Esc(Text(c.site->fileName));
    QString html = QString(
                       "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
                       "<title>%1</title>\n<style>\n%2%3</style>\n</head>\n<body>\n")
                       .arg(title, kStyle, kBrowserStyle);
    html += Document(c, t);
    html += "</body>\n</html>\n";
    return html.toUtf8();
}

bool PdfReport(const Content& c, QByteArray& out, std::string& error) {
    out.clear();
    QBuffer buffer(&out);
    buffer.open(QIODevice::WriteOnly);
    QPdfWriter writer(&buffer);
    writer.setResolution(kPdfDpi);
    writer.setPageLayout(QPageLayout(QPageSize(QPageSize::A4), QPageLayout::Portrait,
                                     QMarginsF(kMarginMm, kMarginMm, kMarginMm, kMarginMm),
                                     QPageLayout::Millimeter));
    const QString name = QString::fromStdString(Text(c.site->fileName));
    writer.setTitle("Survey report: " + name);
    writer.setCreator("Kestrow");

    const QRect paint = writer.pageLayout().paintRectPixels(kPdfDpi);
    Target t;
    t.pdf = true;
    t.body = QSizeF(paint.width(), paint.height() - kFooterPx);
    t.source = [](const QString& name) { return name; };

    QTextDocument doc;
    doc.documentLayout()->setPaintDevice(&writer);
    QFont font(kFontFamily);
    font.setPointSizeF(10);
    doc.setDefaultFont(font);
    doc.setDocumentMargin(0);
    doc.setDefaultStyleSheet(kStyle);
    for (const auto& [imageName, image] : c.images) {
        doc.addResource(QTextDocument::ImageResource, QUrl(imageName), image);
    }
    doc.setHtml(Document(c, t));
    doc.setPageSize(t.body);
    const int pages = doc.pageCount();

    QPainter painter;
    if (!painter.begin(&writer)) {
        error = "cannot write the PDF";
        return false;
    }
    // Maps keep their sharp cell edges: no JPEG.
    painter.setRenderHint(QPainter::LosslessImageRendering);
    QFont footerFont(kFontFamily);
    footerFont.setPointSizeF(8);
    const QString footer = "Survey report: " + name + QString::fromUtf8(" \u2014 ") +
                           (c.site->saveTime == 0 ? QString() : QStringLiteral("saved ")) +
                           QString::fromStdString(SaveTimeText(c.site->saveTime));
    for (int page = 0; page < pages; ++page) {
        if (page > 0) {
            writer.newPage();
        }
        painter.save();
        painter.setClipRect(QRectF(QPointF(0, 0), t.body));
        painter.translate(0, -page * t.body.height());
        QAbstractTextDocumentLayout::PaintContext context;
        // Lines are drawn when they touch the clip, and the first line of
        // the next page starts exactly on this page's edge: a hair inside it,
        // so no page carries an invisible copy of its neighbour's text.
        constexpr double kHair = 0.5;
        context.clip =
            QRectF(0, page * t.body.height() + kHair, t.body.width(), t.body.height() - 2 * kHair);
        doc.documentLayout()->draw(&painter, context);
        painter.restore();

        const double top = t.body.height() + kFooterPx / 2;
        painter.setPen(QPen(QColor(kRule), 1));
        painter.drawLine(QPointF(0, top - 6), QPointF(t.body.width(), top - 6));
        painter.setFont(footerFont);
        painter.setPen(QColor("#555555"));
        const QRectF line(0, top - 2, t.body.width(), kFooterPx / 2 + 2);
        painter.drawText(line, Qt::AlignLeft | Qt::AlignTop, footer);
        painter.drawText(line, Qt::AlignRight | Qt::AlignTop,
                         QString("Page %1 of %2").arg(page + 1).arg(pages));
    }
    if (!painter.end()) {
        error = "cannot write the PDF";
        return false;
    }
    buffer.close();
    SetPdfCreationDate(out, c.site->saveTime);
    return true;
}

}  // namespace

bool MakeReport(const ReportSite& site, const ReportOptions& options, ReportFormat format,
                QByteArray& out, std::string& error) {
    Content content;
    if (!Compute(site, options, content, error)) {
        return false;
    }
    if (format == ReportFormat::kHtml) {
        out = HtmlReport(content);
        return true;
    }
    return PdfReport(content, out, error);
}

bool SetPdfCreationDate(QByteArray& pdf, uint32_t when) {
    const QByteArray key = "/CreationDate (";
    const int start = pdf.indexOf(key);
    if (start < 0) {
        return false;
    }
    const int from = start + key.size();
    const int to = pdf.indexOf(')', from);
    if (to < 0) {
        return false;
    }
    const std::time_t t = when;
    std::tm utc{};
    gmtime_r(&t, &utc);
    char date[32];
    std::strftime(date, sizeof date, "D:%Y%m%d%H%M%SZ", &utc);
    const QByteArray value(date);
    const int delta = static_cast<int>(value.size()) - (to - from);

    // Everything after the date moves by delta: the cross-reference table's
    // offsets past it, and the table's own offset at the end.
    const int xref = pdf.lastIndexOf("\nxref\n");
    const int startxref = pdf.lastIndexOf("startxref\n");
    if (xref < to || startxref < xref) {
        return false;
    }
    QByteArray fixed = pdf.left(from) + value + pdf.mid(to, xref + 6 - to);
    int at = xref + 6;
    const int subsection = pdf.indexOf('\n', at);
    if (subsection < 0) {
        return false;
    }
    const QList<QByteArray> range = pdf.mid(at, subsection - at).trimmed().split(' ');
    bool ok1 = false, ok2 = false;
    if (range.size() != 2) {
        return false;
    }
    range[0].toInt(&ok1);
    const int count = range[1].toInt(&ok2);
    if (!ok1 || !ok2 || count < 0) {
        return false;
    }
    fixed += pdf.mid(at, subsection + 1 - at);
    at = subsection + 1;
    for (int i = 0; i < count; ++i, at += 20) {
        if (at + 20 > startxref) {
            return false;
        }
        const QByteArray entry = pdf.mid(at, 20);
        bool ok = false;
        qint64 offset = entry.left(10).toLongLong(&ok);
        if (!ok || (entry[17] != 'n' && entry[17] != 'f')) {
            return false;
        }
        if (entry[17] == 'n' && offset > from) {
            offset += delta;
        }
        fixed += QByteArray::number(offset).rightJustified(10, '0') + entry.mid(10);
    }
    fixed += pdf.mid(at, startxref + 10 - at);
    const int numberEnd = pdf.indexOf('\n', startxref + 10);
    bool ok = false;
    const qint64 tableAt = pdf.mid(startxref + 10, numberEnd - startxref - 10).toLongLong(&ok);
    if (numberEnd < 0 || !ok) {
        return false;
    }
    fixed += QByteArray::number(tableAt + delta) + pdf.mid(numberEnd);
    pdf = fixed;
    return true;
}

}  // namespace report
