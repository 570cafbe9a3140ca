// ksf: look into site files, make new ones from any picture, and map their coverage.
#include <QCoreApplication>
#include <QGuiApplication>
#include <QHashFunctions>
#include <QImage>
#include <QPainter>
#include <QString>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <iterator>
#include <map>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "coverage/survey_input.h"
#include "picture/coverage_image.h"
#include "picture/png_output.h"
#include "platform/files.h"
#include "platform/text.h"
#include "sitefile/site_meta.h"
#include "sitefile/site_reader.h"
#include "sitefile/site_writer.h"
#include "survey/channels.h"
#include "tools/ksf/ksf.h"

namespace {

const char kUsage[] =
    "Usage: ksf info SITE\n"
    "       ksf points SITE [--format csv|json]\n"
    "       ksf create --map PLAN -o SITE [--page N] [--width PX]\n"
    "       ksf signature SITE -o PNG\n"
    "       ksf heatmap SITE -o OUT [--format png|csv] [--metric "
    "strongest|second|count|cochannel|snr]\n"
    "                   [--threshold DBM] [--ssid S]... [--bssid MAC]... [--channel N]...\n"
    "                   [--band 2.4|5|6]... [--method pathloss|kriging|idw] [--cell PX]\n"
    "                   [--radius PX] [--walls on|off]\n"
    "       ksf check SITE --profile NAME|FILE [--min-area PERCENT] [--format text|json]\n"
    "                 [--walls on|off]\n"
    "       ksf report SITE -o OUT.pdf|OUT.html [--profile NAME|FILE] [--ssid S]...\n"
    "                  [--min-area PERCENT] [--method NAME] [--customer TEXT]\n"
    "                  [--surveyor TEXT] [--notes TEXT] [--walls on|off]\n"
    "       ksf scale SITE (--pixels-per-metre N | --line X1,Y1,X2,Y2 --metres M)\n"
    "       ksf walls SITE [--format text|json] [-o PNG]\n"
    "       ksf walls SITE (--add X1,Y1,X2,Y2[,MATERIAL]... | --detect [--material M] | --clear)\n"
    "                 [-o PNG]\n"
    "       ksf aps SITE [--format text|json] [--walls on|off]\n"
    "       ksf aps SITE (--place BSSID X Y [--label L] | --unplace BSSID)\n"
    "\n"
    "Kestrow site file and coverage tool.\n"
    "\n"
    "  info SITE              header fields, map size, points and access-point entries,\n"
    "                         and what SITE.meta.json holds (scale, walls, ...)\n"
    "  points SITE            every stored point and its access-point entries\n"
    "    --format csv|json    output format (csv by default)\n"
    "  create                 a new site file from a floor plan: an 8-bit, 256-colour\n"
    "                         map, a white sign-off raster, no points\n"
    "    --map PLAN           the plan: a picture (PNG, JPEG, BMP, GIF, TIFF, WebP,\n"
    "                         ...), SVG or PDF; pictures over 8000 pixels a side are\n"
    "                         scaled down\n"
    "    --page N             the page of a PDF (or multi-page TIFF), from 1\n"
    "    --width PX           SVG and PDF: drawn this many pixels wide (2000 by\n"
    "                         default, at most 8000)\n"
    "    -o, --output SITE    the site file to write\n"
    "  signature SITE         the sign-off raster as a 200 x 100 picture\n"
    "    -o, --output PNG     the picture to write\n"
    "  heatmap SITE           a coverage map of the survey: each access point\n"
    "                         interpolated over the map, then per cell of the grid:\n"
    "    -o, --output OUT     the file to write, - for standard output\n"
    "    --format png|csv     the map in grey with the cells in the colour legend's\n"
    "                         bands (png, the default), or rows x,y,value (csv)\n"
    "    --metric M           strongest (dBm, the default), second (the second\n"
    "                         strongest radio, dBm), count (radios at or above the\n"
    "                         threshold), cochannel (those sharing the strongest\n"
    "                         one's channel, it included), snr (the strongest less\n"
    "                         its channel's noise, dB, where noise was measured)\n"
    "    --threshold DBM      for count and cochannel (-67 by default)\n"
    "    --ssid S, --bssid MAC, --channel N, --band 2.4|5|6\n"
    "                         only these access points; repeat an option for more,\n"
    "                         give several kinds to need every kind to match\n"
    "    --method NAME        pathloss (the default, the most accurate), kriging or\n"
    "                         idw\n"
    "    --cell PX            cell size in map pixels (4 by default)\n"
    "    --radius PX          cells farther than this from every survey point have\n"
    "                         no value (5 m where the site has a scale, else 64 px)\n"
    "    --walls on|off       the sidecar's walls in the model (on by default): each\n"
    "                         wall between an access point and a cell costs its\n"
    "                         material's loss, calibrated on the survey\n"
    "  check SITE             judge the survey against a coverage requirement: at\n"
    "                         each survey point on what was heard there, and over the\n"
    "                         area on the heatmap's cells; exit 0 when it passes, 1\n"
    "                         when it does not, 2 on a usage error, 3 when the site\n"
    "                         cannot be read, 4 when its survey is larger than the\n"
    "                         analysis takes (the message names the bound)\n"
    "    --profile NAME|FILE  data (strongest >= -70 dBm), voice (strongest and\n"
    "                         second radio >= -67 dBm), location (3 radios >= -75\n"
    "                         dBm) or a JSON profile file\n"
    "    --min-area PERCENT   the share of the area that must pass (95 by default)\n"
    "    --format text|json   output format (text by default)\n"
    "    --walls on|off       as for heatmap\n"
    "  report SITE            the survey report: cover and signature, heatmaps, the\n"
    "                         profile's pass/fail map, access points, method, points\n"
    "    -o, --output OUT     the report to write: .pdf (A4) or .html (one file)\n"
    "    --format pdf|html    the format, when the file name does not say\n"
    "    --profile NAME|FILE  the requirement judged (voice by default)\n"
    "    --ssid S             heatmaps and access points of these SSIDs only\n"
    "    --min-area PERCENT   as for check\n"
    "    --method NAME        the interpolation, as for heatmap\n"
    "    --customer, --surveyor, --notes TEXT\n"
    "                         the cover's fields, stored in SITE.meta.json first\n"
    "    --walls on|off       as for heatmap\n"
    "  scale SITE             store the map's scale beside the site, in\n"
    "                         SITE.meta.json (the site file is not changed)\n"
    "    --pixels-per-metre N the scale itself\n"
    "    --line X1,Y1,X2,Y2 --metres M\n"
    "                         a line on the map and its length in metres\n"
    "  walls SITE             the walls kept in SITE.meta.json, one a line\n"
    "                         (x1,y1,x2,y2,material, in map pixels)\n"
    "    --format text|json   output format (text by default)\n"
    "    --add X1,Y1,X2,Y2[,MATERIAL]\n"
    "                         add a wall (drywall by default; glass, wood, brick,\n"
    "                         concrete or metal); repeat for more\n"
    "    --detect             replace the walls with those found in the plan:\n"
    "                         straight dark lines at least 2 px thick and 1 m long\n"
    "                         (24 px without a scale)\n"
    "    --material M         the material of the walls found (drywall by default)\n"
    "    --clear              remove every wall\n"
    "    -o, --output PNG     also draw the plan with its walls into PNG\n"
    "  aps SITE               every radio and its BSSIDs: where each was placed, or\n"
    "                         where the coverage model estimates it and within how\n"
    "                         many metres (BSSIDs heard at 3 points or more)\n"
    "    --format text|json   output format (text by default)\n"
    "    --walls on|off       as for heatmap\n"
    "    --place BSSID X Y    store where the access point is, in map pixels\n"
    "    --label L            with --place: its name on the plan\n"
    "    --unplace BSSID      forget its place\n"
    "\n"
    "  -h, --help             show this help\n"
    "  --version              print the version\n";

}  // namespace

int UsageError(const std::string& message) {
    std::fprintf(stderr, "ksf: %s (try 'ksf --help')\n", message.c_str());
    return 2;
}

int WorkError(const std::string& message) {
    std::fprintf(stderr, "ksf: %s\n", message.c_str());
    return 1;
}

// Arguments after the command: positional ones and the values of known options.
bool ParseArgs(const std::vector<std::string>& in, Args& args, std::string& error) {
    // Options that take a value: the last one given counts, or every one for
    // the repeatable ones.
    const std::map<std::string, std::string*> single = {
        {"--format", &args.format},     {"--map", &args.map},
        {"-o", &args.output},           {"--output", &args.output},
        {"--metric", &args.metric},     {"--threshold", &args.threshold},
        {"--method", &args.method},     {"--cell", &args.cell},
        {"--radius", &args.radius},     {"--pixels-per-metre", &args.pixelsPerMetre},
        {"--line", &args.line},         {"--metres", &args.metres},
        {"--profile", &args.profile},   {"--min-area", &args.minArea},
        {"--page", &args.page},         {"--width", &args.width},
        {"--material", &args.material}, {"--customer", &args.customer},
        {"--surveyor", &args.surveyor}, {"--notes", &args.notes},
        {"--place", &args.place},       {"--unplace", &args.unplace},
        {"--label", &args.label},       {"--walls", &args.wallsMode},
    };
    const std::map<std::string, std::vector<std::string>*> repeated = {
        {"--ssid", &args.ssids}, {"--bssid", &args.bssids}, {"--channel", &args.channels},
        {"--add", &args.walls},  {"--band", &args.bands},
    };
    const std::set<std::string> flags = {"--clear", "--detect"};
    for (size_t i = 0; i < in.size(); ++i) {
        const std::string& a = in[i];
        std::string name = a;
        std::optional<std::string> value;
        const size_t equals = a.find('=');
        if (a.rfind("--", 0) == 0 && equals != std::string::npos) {
            name = a.substr(0, equals);
            value = a.substr(equals + 1);
        }
        if (flags.count(a) != 0) {
            args.given.insert(a);
            continue;
        }
        const auto one = single.find(name);
        const auto many = repeated.find(name);
        if (one == single.end() && many == repeated.end()) {
            if (a.size() > 1 && a[0] == '-') {
                error = "unknown option " + a;
                return false;
            }
            args.positional.push_back(a);
            continue;
        }
        if (!value) {
            if (i + 1 >= in.size()) {
                error = "option " + a + " needs a value";
                return false;
            }
            value = in[++i];
        }
        if (one != single.end()) {
            *one->second = *value;
            args.given.insert(name == "--output" ? "-o" : name);
        } else {
            many->second->push_back(*value);
            args.given.insert(name);
        }
    }
    return true;
}

bool OutputIsTheSite(const Args& args) {
    return args.positional.size() == 1 && !args.output.empty() && args.output != "-" &&
           platform::SameFile(args.positional[0], args.output);
}

bool WriteOutput(const std::string& path, const void* data, size_t size, std::string& error) {
    std::fflush(stdout);  // what was printed comes before what is written
    return platform::WriteOutputFile(path, data, size, error);
}

void WarnIgnored(const std::vector<std::string>& ignored) {
    for (const std::string& line : ignored) {
        std::fprintf(stderr, "ksf: warning: ignored: %s\n", line.c_str());
    }
}

std::string PointsNotRead(const std::string& path, const sitefile::PointsReport& report) {
    return path + ": part of the stored survey cannot be read: " + report.unreadable;
}

bool ReadSurvey(const std::string& path, sitefile::SiteFileReader& reader,
                const sitefile::SiteMeta& meta, bool walls, coverage::Survey& survey,
                std::string& error) {
    std::vector<std::string> ignored;
    survey = coverage::SurveyFromSiteFile(reader, &ignored);
    if (!reader.Points().unreadable.empty()) {
        error = PointsNotRead(path, reader.Points());
        return false;
    }
    WarnIgnored(ignored);
    coverage::ApplySiteMeta(meta, survey);
    if (!walls) {
        survey.building.walls.clear();
    }
    return true;
}

bool OpenSite(const std::string& path, sitefile::SiteFileReader& reader, std::string& error) {
    sitefile::OpenError e;
    if (!reader.Open(path, e)) {
        error = path + ": " + e.Describe();
        return false;
    }
    return true;
}

// Opens the site and makes every check Kestrow's open makes, so a site that
// Kestrow refuses is refused here with the same reason as `info` gives.
bool OpenAcceptedSite(const std::string& path, sitefile::SiteFileReader& reader, std::string& error,
                      sitefile::SiteMap* kept) {
    if (!OpenSite(path, reader, error)) {
        return false;
    }
    sitefile::OpenError e;
    sitefile::SiteMap read;
    sitefile::SiteMap& map = kept != nullptr ? *kept : read;
    if (!reader.ReadMap(map, e) || !reader.CheckLayout(e)) {
        error = path + ": " + e.Describe();
        return false;
    }
    return true;
}

namespace {

// Walks the points section for its counts only.
class Counter : public sitefile::PointsVisitor {
  public:
    void OnPoint(const sitefile::StoredPoint&) override {}
    void OnEntry(const sitefile::StoredPoint&, const sitefile::StoredEntry&) override {}
    void OnPointEnd(const sitefile::StoredPoint&, int) override {}
};

// Text from the sidecar, safe to print on one line, cut after `limit` bytes.
std::string Shown(const std::string& text, size_t limit) {
    const size_t kept = platform::FittingPrefixLength(text.data(), text.size(), limit);
    return platform::PrintableText(text.substr(0, kept)) + (kept < text.size() ? " ..." : "");
}

// What the sidecar holds, a line each.
void PrintSidecar(const sitefile::SiteMeta& meta) {
    if (meta.pixelsPerMetre) {
        std::printf("scale: %g pixels per metre\n", *meta.pixelsPerMetre);
    } else {
        std::printf("scale: not set\n");
    }
    std::map<std::string, int> byMaterial;
    for (const sitefile::Wall& wall : meta.walls) {
        ++byMaterial[sitefile::InfoOf(wall.material).name];
    }
    std::string materials;
    for (const auto& [name, count] : byMaterial) {
        materials += (materials.empty() ? " (" : ", ") + std::to_string(count) + " " + name;
    }
    std::printf("walls: %zu%s\n", meta.walls.size(),
                materials.empty() ? "" : (materials + ")").c_str());
    std::printf("placed access points: %zu\n", meta.accessPoints.size());
    std::printf("bssids with channel details: %zu\n", meta.bssids.size());
    std::printf("noise readings: %zu\n", meta.noise.size());
    size_t walkPoints = 0;
    for (const sitefile::Walk& walk : meta.walks) {
        walkPoints += walk.points.size();
    }
    std::printf("walks: %zu (%zu points)\n", meta.walks.size(), walkPoints);
    const std::pair<const char*, const std::string*> fields[] = {
        {"customer", &meta.report.customer},
        {"surveyor", &meta.report.surveyor},
        {"notes", &meta.report.notes}};
    for (const auto& [name, value] : fields) {
        if (!value->empty()) {
            std::printf("report %s: %s\n", name, Shown(*value, 80).c_str());
        }
    }
    for (const auto& [name, text] : meta.otherFields) {
        std::printf("other field: %s\n", Shown(name, 80).c_str());
    }
}

int Info(const Args& args) {
    if (args.positional.size() != 1) {
        return UsageError("info needs one SITE");
    }
    const std::string& path = args.positional[0];
    sitefile::SiteFileReader reader;
    std::string error;
    if (!OpenSite(path, reader, error)) {
        return WorkError(error);
    }
    std::printf("file: %s\n", path.c_str());
    std::printf("size: %llu bytes\n", static_cast<unsigned long long>(reader.Source().Size()));
    std::printf("header length: %u\n", reader.HeaderLength());
    std::printf("magic: 0x%08X\n", sitefile::kMagic);
    std::printf("version: %u\n", reader.Version());
    if (reader.SaveTime() == 0) {
        std::printf("last saved: never\n");
    } else {
        const std::time_t t = reader.SaveTime();
        std::tm utc{};
        gmtime_r(&t, &utc);
        char text[32];
        std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S UTC", &utc);
        std::printf("last saved: %s (%u)\n", text, reader.SaveTime());
    }
    std::printf("bitmap offset: %u\n", reader.BitmapOffset());
    std::printf("raster offset: %u\n", reader.RasterOffset());
    std::printf("points offset: %u\n", reader.PointsOffset());

    // The same checks as Kestrow's open: the map, then the layout a save needs.
    sitefile::SiteMap map;
    sitefile::OpenError mapError;
    const bool mapOk = reader.ReadMap(map, mapError);
    if (mapOk) {
        std::printf("map: %d x %d pixels, 8 bits, 256 colours, %s\n", map.width, map.height,
                    map.bottomUp ? "bottom row first" : "top row first");
    } else {
        std::printf("map: unreadable: %s\n", mapError.Describe().c_str());
    }
    const bool accepted = mapOk && reader.CheckLayout(mapError);
    Counter counter;
    const sitefile::PointsReport& points = reader.VisitPoints(counter);
    const CSiteHeader& h = reader.Header();
    std::printf("record sizes: %u / %u\n", h.m_pointHeaderSize, h.m_apEntrySize);
    std::printf("points: %ld\n", points.points);
    std::printf("access-point entries: %ld\n", points.entries);
    if (!points.unreadable.empty()) {
        std::printf("unreadable: %s\n", points.unreadable.c_str());
    }
    sitefile::SiteMeta meta;
    std::string metaError;
    const bool metaOk = sitefile::ReadSiteMeta(path, meta, metaError);
    if (metaOk) {
        PrintSidecar(meta);
    } else {
        std::printf("scale: unreadable\n");
    }
    if (!accepted) {
        return WorkError(path + ": " + mapError.Describe());
    }
    if (!metaOk) {
        return WorkError(metaError);
    }
    if (!points.unreadable.empty()) {
        return WorkError(PointsNotRead(path, points));
    }
    return 0;
}

std::string CsvField(const std::string& text) {
    if (text.find_first_of(",\"\r\n") == std::string::npos) {
        return text;
    }
    std::string out = "\"";
    for (char c : text) {
        out += c;
        if (c == '"') {
            out += '"';
        }
    }
    return out + "\"";
}

// A stored name or SSID as text: UTF-8 when it is, else Latin-1.
template <size_t N>
std::string Text(const char (&field)[N]) {
    return platform::TextFromBytes(field, N);
}
// The same, safe to print on a terminal.
template <size_t N>
std::string Printable(const char (&field)[N]) {
    return platform::PrintableText(Text(field));
}

class CsvPrinter : public sitefile::PointsVisitor {
  public:
    CsvPrinter() { std::printf("point,x,y,name,channel,rssi,mac,ssid\n"); }
    void OnPoint(const sitefile::StoredPoint&) override { ++m_index; }
    void OnEntry(const sitefile::StoredPoint& p, const sitefile::StoredEntry& e) override {
        std::printf("%ld,%d,%d,%s,%u,%d,%s,%s\n", m_index, p.x, p.y,
                    CsvField(Printable(p.name)).c_str(), e.channel, e.RssiDbm(),
                    sitefile::MacToText(e.mac).c_str(), CsvField(Printable(e.ssid)).c_str());
    }
    void OnPointEnd(const sitefile::StoredPoint& p, int entriesRead) override {
        if (entriesRead == 0) {
            std::printf("%ld,%d,%d,%s,,,,\n", m_index, p.x, p.y,
                        CsvField(Printable(p.name)).c_str());
        }
    }

  private:
    long m_index = 0;
};

// Prints the points as one JSON array, a point at a time, so that a large
// section never needs all of its points in memory at once.
class JsonPrinter : public sitefile::PointsVisitor {
  public:
    explicit JsonPrinter(const sitefile::SiteMeta& meta) : m_meta(meta) {}
    void OnPoint(const sitefile::StoredPoint& p) override {
        const bool estimated =
            std::find(m_meta.estimatedLevels.begin(), m_meta.estimatedLevels.end(),
                      std::pair<double, double>(p.x, p.y)) != m_meta.estimatedLevels.end();
        m_point = {{"x", p.x},
                   {"y", p.y},
                   {"name", Text(p.name)},
                   {"aps", nlohmann::json::array()},
                   {"levels_estimated", estimated}};
    }
    void OnEntry(const sitefile::StoredPoint&, const sitefile::StoredEntry& e) override {
        // The band: the frequency the adapter reported for the BSSID, else the channel's.
        sitefile::MacBytes mac;
        std::copy(std::begin(e.mac), std::end(e.mac), mac.begin());
        const auto known = m_meta.bssids.find(mac);
        const char* band = channels::BandName(channels::BandOfReading(
            e.channel, known == m_meta.bssids.end() ? 0 : known->second.frequencyMhz));
        m_point["aps"].push_back({{"channel", e.channel},
                                  {"band", band ? nlohmann::json(band) : nlohmann::json()},
                                  {"rssi", e.RssiDbm()},
                                  {"mac", sitefile::MacToText(e.mac)},
                                  {"ssid", Text(e.ssid)}});
    }
    void OnPointEnd(const sitefile::StoredPoint&, int) override {
        // As the element of an indented array prints: its lines two spaces in.
        // Names are bytes from the file: anything that is not UTF-8 is replaced.
        const std::string text = platform::PrintableJson(
            m_point.dump(2, ' ', false, nlohmann::json::error_handler_t::replace));
        std::string indented;
        indented.reserve(text.size() + text.size() / 8);
        for (char c : text) {
            indented += c;
            if (c == '\n') {
                indented += "  ";
            }
        }
        std::printf("%s  %s", m_printed++ == 0 ? "[\n" : ",\n", indented.c_str());
    }
    // Ends the array.
    void Finish() const { std::printf(m_printed == 0 ? "[]\n" : "\n]\n"); }

  private:
    const sitefile::SiteMeta& m_meta;
    nlohmann::json m_point;
    long m_printed = 0;
};

int Points(const Args& args) {
    if (args.positional.size() != 1) {
        return UsageError("points needs one SITE");
    }
    const std::string format = args.given.count("--format") != 0 ? args.format : "csv";
    if (format != "csv" && format != "json") {
        return UsageError("unknown format '" + args.format + "' (csv or json)");
    }
    sitefile::SiteFileReader reader;
    std::string error;
    if (!OpenAcceptedSite(args.positional[0], reader, error)) {
        return WorkError(error);
    }
    const sitefile::PointsReport* points = nullptr;
    if (format == "csv") {
        CsvPrinter printer;
        points = &reader.VisitPoints(printer);
    } else {
        sitefile::SiteMeta meta;
        if (!sitefile::ReadSiteMeta(args.positional[0], meta, error)) {
            return WorkError(error);
        }
        JsonPrinter printer(meta);
        points = &reader.VisitPoints(printer);
        printer.Finish();
    }
    // What could be read is listed; the rest is told, as a failure.
    if (!points->unreadable.empty()) {
        std::fflush(stdout);
        return WorkError(PointsNotRead(args.positional[0], *points));
    }
    return 0;
}

int Signature(const Args& args) {
    if (args.positional.size() != 1 || args.output.empty()) {
        return UsageError("signature needs one SITE and -o PNG");
    }
    if (OutputIsTheSite(args)) {
        return UsageError("-o " + args.output + " is the site itself");
    }
    const std::string& path = args.positional[0];
    sitefile::SiteFileReader reader;
    std::string error;
    if (!OpenSite(path, reader, error)) {
        return WorkError(error);
    }
    QImage picture;
    if (!picture::SignatureImage(reader, picture, error)) {
        return WorkError(path + ": " + error);
    }
    std::fflush(stdout);
    if (!picture::WritePng(args.output, picture, error)) {
        return WorkError(error);
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    // A write past the file-size limit fails with a message instead of
    // ending the program with a temporary file left behind.
    std::signal(SIGXFSZ, SIG_IGN);
    std::vector<std::string> all(argv + 1, argv + argc);
    // Image plug-ins are found through the application object. The report,
    // plans drawn from SVG and the walls' picture set text, which needs the
    // fonts of a GUI application: one without a window (the offscreen
    // platform), so it needs no display.
    // Errors are ksf's own one-line messages: the warnings Qt and its
    // plug-ins print while reading a damaged picture or plan (libpng's,
    // Qt SVG's, a session without a runtime folder) say nothing more.
    qInstallMessageHandler([](QtMsgType type, const QMessageLogContext&, const QString& text) {
        if (type == QtCriticalMsg || type == QtFatalMsg) {
            std::fprintf(stderr, "%s\n", qPrintable(text));
        }
    });
    std::unique_ptr<QCoreApplication> app;
    if (!all.empty() &&
        (all[0] == "report" || all[0] == "create" || all[0] == "walls" || all[0] == "heatmap")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        // Qt's PDF writer lists the fonts in the order of a hash table:
        // the same order every run, so the same report is the same bytes.
        QHashSeed::setDeterministicGlobalSeed();
        app = std::make_unique<QGuiApplication>(argc, argv);
    } else {
        app = std::make_unique<QCoreApplication>(argc, argv);
    }
    for (const std::string& a : all) {
        if (a == "-h" || a == "--help") {
            std::fputs(kUsage, stdout);
            return 0;
        }
        if (a == "--version") {
            std::printf("ksf %s\n", KESTROW_VERSION);
            return 0;
        }
    }
    if (all.empty()) {
        return UsageError("no command given");
    }
    const std::string command = all[0];
    Args args;
    std::string error;
    if (!ParseArgs(std::vector<std::string>(all.begin() + 1, all.end()), args, error)) {
        return UsageError(error);
    }
    if (command == "info") {
        return Info(args);
    }
    if (command == "points") {
        return Points(args);
    }
    if (command == "signature") {
        return Signature(args);
    }
    if (command == "create") {
        return Create(args);
    }
    if (command == "walls") {
        return Walls(args);
    }
    if (command == "aps") {
        return Aps(args);
    }
    if (command == "heatmap") {
        return Heatmap(args);
    }
    if (command == "scale") {
        return Scale(args);
    }
    if (command == "check") {
        return Check(args);
    }
    if (command == "report") {
        return Report(args);
    }
    return UsageError("unknown command '" + command + "'");
}
