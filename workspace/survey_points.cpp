#include "workspace/survey_points.h"

#include <algorithm>
#include <cstring>
#include <mutex>

#include "coverage/survey_input.h"
#include "platform/text.h"
#include "survey/channels.h"
#include "survey/record_list.h"
#include "survey/site_header.h"

namespace workspace {

namespace {

HeardEntry EntryOf(const ApRecord& r, int rssi, const sitefile::SiteMeta* extras) {
    HeardEntry entry;
    coverage::Bssid bssid{};
    std::copy(r.mac, r.mac + 6, bssid.begin());
    entry.bssid = coverage::BssidText(bssid);
    entry.ssid = platform::TextFromBytes(r.ssid, strnlen(r.ssid, sizeof r.ssid));
    int frequency = 0;
    if (extras) {
        const auto known = extras->bssids.find(bssid);
        frequency = known != extras->bssids.end() ? known->second.frequencyMhz : 0;
    }
    const char* band = channels::BandName(channels::BandOfReading(r.channel, frequency));
    entry.band = band ? band : "";
    entry.channel = r.channel;
    entry.rssi = rssi;
    return entry;
}

void Strongest(std::vector<HeardEntry>& entries) {
    std::stable_sort(entries.begin(), entries.end(),
                     [](const HeardEntry& a, const HeardEntry& b) { return a.rssi > b.rssi; });
}

}  // namespace

std::vector<HeardEntry> HeardAtSelection(const sitefile::SiteMeta* extras) {
    std::vector<HeardEntry> heard;
    if (!g_siteHeader) {
        return heard;
    }
    const ApRecord* sentinel = g_surveyList.Sentinel();
    const ApRecord* r = sentinel->next;
    for (int32_t i = 1; i < g_siteHeader->m_selFirstIndex && r != sentinel; ++i) {
        r = r->next;
    }
    if (r == sentinel) {
        return heard;
    }
    const int32_t x = r->x;
    const int32_t y = r->y;
    for (; r != sentinel && r->channel != 0 && r->x == x && r->y == y; r = r->next) {
        heard.push_back(EntryOf(*r, r->rssi, extras));
    }
    Strongest(heard);
    return heard;
}

std::vector<HeardEntry> HeardInSweep(const sitefile::SiteMeta* extras) {
    std::vector<HeardEntry> heard;
    std::lock_guard<std::mutex> lock(g_scanListMutex);
    const ApRecord* sentinel = g_scanList.Sentinel();
    for (const ApRecord* r = sentinel->next; r != sentinel; r = r->next) {
        // Copied out first: the record is packed, so its field cannot be bound
        // to std::max's reference.
        const int count = r->sampleCount;
        const int samples = std::max(count, 1);
        heard.push_back(EntryOf(*r, r->rssi / samples, extras));
    }
    Strongest(heard);
    return heard;
}

std::vector<SiteAccessPoint> SiteAccessPoints(const sitefile::SiteMeta* extras) {
    coverage::Survey survey = coverage::SurveyFromRecords(g_surveyList);
    if (extras) {
        coverage::ApplySiteMeta(*extras, survey);
    }
    const coverage::SiteSamples samples = coverage::PrepareSamples(survey);
    const std::vector<int> radios = coverage::RadioNumbers(samples.aps);
    std::vector<SiteAccessPoint> out;
    out.reserve(samples.aps.size());
    for (size_t i = 0; i < samples.aps.size(); ++i) {
        const coverage::AccessPoint& ap = samples.aps[i];
        SiteAccessPoint site;
        site.bssid = ap.bssid;
        site.entry.bssid = coverage::BssidText(ap.bssid);
        site.entry.ssid = platform::TextFromBytes(ap.ssid.data(), ap.ssid.size());
        const char* band = channels::BandName(ap.band);
        site.entry.band = band ? band : "";
        site.entry.channel = ap.channel;
        site.entry.rssi = static_cast<int>(ap.best);
        site.points = ap.pointsHeard;
        site.radio = i < radios.size() ? radios[i] : 0;
        out.push_back(std::move(site));
    }
    return out;
}

std::string DescribeEntry(const HeardEntry& entry) {
    std::string text =
        entry.bssid + " " + std::to_string(entry.rssi) + " dBm ch " + std::to_string(entry.channel);
    if (!entry.band.empty()) {
        text += " (" + entry.band + " GHz)";
    }
    return text + " " + entry.ssid;
}

}  // namespace workspace
