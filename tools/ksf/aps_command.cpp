// ksf aps: every radio of a site's survey and its BSSIDs, each where it was
// placed on the plan or where the coverage model estimates it; --place and
// --unplace store a known place in the sidecar.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "coverage/coverage_map.h"
#include "coverage/survey_input.h"
#include "platform/text.h"
#include "sitefile/site_meta.h"
#include "tools/ksf/ksf.h"

namespace {

int Place(const Args& args) {
    const bool place = args.given.count("--place") != 0;
    const std::string& path = args.positional[0];
    if (place ? args.positional.size() != 3 : args.positional.size() != 1) {
        return UsageError(place ? "aps --place needs BSSID X Y (map pixels) after SITE"
                                : "aps --unplace needs one SITE and a BSSID");
    }
    if (args.given.count("--label") != 0 && !place) {
        return UsageError("--label goes with --place");
    }
    coverage::Bssid bssid;
    const std::string& text = place ? args.place : args.unplace;
    if (!coverage::ParseBssid(text, bssid)) {
        return UsageError("bad BSSID '" + text +
                          "' (12 hexadecimal digits, e.g. 00:1d:7e:4a:10:01)");
    }
    double x = 0, y = 0;
    if (place && (!ParseNumber(args.positional[1], x) || !ParseNumber(args.positional[2], y))) {
        return UsageError("bad place '" + args.positional[1] + " " + args.positional[2] +
                          "' (X Y in map pixels)");
    }
    if (args.label.size() > 256) {
        return UsageError("a label of at most 256 bytes");
    }
    sitefile::SiteFileReader reader;
    sitefile::SiteMap map;
    std::string error;
    if (!OpenAcceptedSite(path, reader, error, &map)) {
        return WorkError(error);
    }
    if (place && (x < 0 || y < 0 || x > map.width || y > map.height)) {
        char message[160];
        std::snprintf(message, sizeof message, "the place %g, %g is outside the %d x %d map", x, y,
                      map.width, map.height);
        return UsageError(message);
    }
    bool wasPlaced = false;
    std::string note;
    const bool stored = sitefile::UpdateSiteMeta(
        path,
        [&](sitefile::SiteMeta& meta, std::string& why) {
            auto& aps = meta.accessPoints;
            const auto it = std::find_if(aps.begin(), aps.end(),
                                         [&](const auto& p) { return p.bssid == bssid; });
            wasPlaced = it != aps.end();
            if (!place) {
                if (wasPlaced) {
                    aps.erase(it);
                }
                return true;
            }
            if (!wasPlaced && aps.size() >= sitefile::kMaxPlacedAccessPoints) {
                why = "the sidecar already holds " + std::to_string(aps.size()) +
                      " placed access points, the most it keeps";
                return false;
            }
            sitefile::PlacedAccessPoint& p = wasPlaced ? *it : aps.emplace_back();
            p.bssid = bssid;
            p.x = x;
            p.y = y;
            p.label = args.label;
            return true;
        },
        error, &note);
    if (!note.empty()) {
        std::fprintf(stderr, "ksf: warning: %s\n", note.c_str());
    }
    if (!stored) {
        return WorkError(error);
    }
    if (place) {
        std::printf("placed %s at %g, %g\n", coverage::BssidText(bssid).c_str(), x, y);
    } else {
        std::printf(wasPlaced ? "unplaced %s\n" : "%s was not placed\n",
                    coverage::BssidText(bssid).c_str());
    }
    return 0;
}

}  // namespace

int Aps(const Args& args) {
    if (args.positional.empty()) {
        return UsageError("aps needs one SITE");
    }
    const bool place = args.given.count("--place") != 0;
    const bool unplace = args.given.count("--unplace") != 0;
    if (place && unplace) {
        return UsageError("give one of --place and --unplace");
    }
    if (place || unplace) {
        if (args.given.count("--format") != 0) {
            return UsageError("--format is for listing the access points");
        }
        return Place(args);
    }
    if (args.positional.size() != 1) {
        return UsageError("aps needs one SITE");
    }
    if (args.given.count("--label") != 0) {
        return UsageError("--label goes with --place");
    }
    const std::string format = args.given.count("--format") != 0 ? args.format : "text";
    if (format != "text" && format != "json") {
        return UsageError("unknown format '" + format + "' (text or json)");
    }
    bool walls = true;
    std::string error;
    if (!ParseWallsOption(args, walls, error)) {
        return UsageError(error);
    }
    const std::string& path = args.positional[0];
    sitefile::SiteFileReader reader;
    if (!OpenAcceptedSite(path, reader, error)) {
        return WorkError(error);
    }
    sitefile::SiteMeta meta;
    if (!sitefile::ReadSiteMeta(path, meta, error)) {
        return WorkError(error);
    }
    coverage::Survey survey;
    if (!ReadSurvey(path, reader, meta, walls, survey, error)) {
        return WorkError(error);
    }
    if (!coverage::CheckSurveySize(survey, error)) {
        return WorkError(path + ": " + error);
    }
    const coverage::SiteSamples samples = coverage::PrepareSamples(survey);
    const std::vector<coverage::SourceEstimate> places = coverage::LocateAccessPoints(survey);
    const std::vector<int> radios = coverage::RadioNumbers(samples.aps);
    const double ppm = meta.pixelsPerMetre.value_or(0);

    // Heard ones by radio, then those placed but never heard.
    std::vector<size_t> order(samples.aps.size());
    for (size_t i = 0; i < order.size(); ++i) {
        order[i] = i;
    }
    std::stable_sort(order.begin(), order.end(),
                     [&](size_t a, size_t b) { return radios[a] < radios[b]; });
    nlohmann::ordered_json list = nlohmann::ordered_json::array();
    std::string text;
    const auto labelOf = [&](const coverage::Bssid& bssid) -> std::string {
        const sitefile::PlacedAccessPoint* p = meta.PlacedAt(bssid);
        return p != nullptr ? p->label : "";
    };
    char line[512];
    for (size_t a : order) {
        const coverage::AccessPoint& ap = samples.aps[a];
        const coverage::SourceEstimate& at = places[a];
        const char* band = channels::BandName(ap.band);
        const bool located =
            at.located && (at.placed || ap.pointsHeard >= coverage::kMinPositionsToLocate);
        nlohmann::ordered_json uncertainty;
        if (located) {
            if (at.placed) {
                uncertainty = 0.0;
            } else if (ppm > 0) {
                uncertainty = std::round(at.uncertainty / ppm * 10) / 10;
            }
        }
        const std::string ssid = platform::TextFromBytes(ap.ssid.data(), ap.ssid.size());
        list.push_back({{"bssid", coverage::BssidText(ap.bssid)},
                        {"ssid", ssid},
                        {"radio", radios[a]},
                        {"band", band ? nlohmann::ordered_json(band) : nlohmann::ordered_json()},
                        {"channel", ap.channel},
                        {"x", located ? nlohmann::ordered_json(std::round(at.x * 10) / 10)
                                      : nlohmann::ordered_json()},
                        {"y", located ? nlohmann::ordered_json(std::round(at.y * 10) / 10)
                                      : nlohmann::ordered_json()},
                        {"placed", at.placed},
                        {"uncertainty_m", uncertainty},
                        {"points", ap.pointsHeard}});
        std::string where;
        if (at.placed) {
            std::snprintf(line, sizeof line, "placed at %.0f, %.0f", at.x, at.y);
            where = line;
            const std::string label = labelOf(ap.bssid);
            if (!label.empty()) {
                where += " (" + platform::PrintableText(label) + ")";
            }
        } else if (located) {
            if (ppm > 0) {
                std::snprintf(line, sizeof line, "estimated at %.0f, %.0f, within %.1f m", at.x,
                              at.y, at.uncertainty / ppm);
            } else {
                std::snprintf(line, sizeof line, "estimated at %.0f, %.0f, within %.0f px", at.x,
                              at.y, at.uncertainty);
            }
            where = line;
        } else {
            std::snprintf(line, sizeof line, "not located (heard at fewer than %d points)",
                          coverage::kMinPositionsToLocate);
            where = line;
        }
        std::snprintf(line, sizeof line, "radio %d  %s  %s GHz ch %d  %d points  ", radios[a],
                      coverage::BssidText(ap.bssid).c_str(), band ? band : "?", ap.channel,
                      ap.pointsHeard);
        text += line + where + "  " + platform::PrintableText(ssid) + "\n";
    }
    for (const sitefile::PlacedAccessPoint& p : meta.accessPoints) {
        if (std::any_of(samples.aps.begin(), samples.aps.end(),
                        [&](const coverage::AccessPoint& ap) { return ap.bssid == p.bssid; })) {
            continue;
        }
        list.push_back({{"bssid", coverage::BssidText(p.bssid)},
                        {"ssid", nullptr},
                        {"radio", nullptr},
                        {"band", nullptr},
                        {"channel", nullptr},
                        {"x", p.x},
                        {"y", p.y},
                        {"placed", true},
                        {"uncertainty_m", 0.0},
                        {"points", 0}});
        std::snprintf(line, sizeof line, "never heard  %s  placed at %.0f, %.0f",
                      coverage::BssidText(p.bssid).c_str(), p.x, p.y);
        text += line;
        text += p.label.empty() ? "\n" : " (" + platform::PrintableText(p.label) + ")\n";
    }
    if (format == "json") {
        text = platform::PrintableJson(
                   list.dump(2, ' ', false, nlohmann::json::error_handler_t::replace)) +
               "\n";
    } else if (text.empty()) {
        text = "no access point heard or placed\n";
    }
    return WriteOutput("-", text.data(), text.size(), error) ? 0 : WorkError(error);
}
