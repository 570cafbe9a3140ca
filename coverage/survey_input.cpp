#include "coverage/survey_input.h"

#include <algorithm>
#include <cstring>

namespace coverage {

namespace {

Reading MakeReading(const uint8_t* mac, const char* ssid, size_t ssidSize, int channel,
                    double rssi) {
    Reading r;
    std::copy(mac, mac + 6, r.bssid.begin());
    r.ssid.assign(ssid, strnlen(ssid, ssidSize));
    r.channel = channel;
    r.rssi = rssi;
    return r;
}

class SurveyCollector : public sitefile::PointsVisitor {
  public:
    explicit SurveyCollector(Survey& out) : m_out(out) {}
    void OnPoint(const sitefile::StoredPoint& point) override {
        // Consecutive groups at one position are one point, as the survey
        // list holds them once the file is open.
        if (!m_out.points.empty() && m_out.points.back().x == point.x &&
            m_out.points.back().y == point.y) {
            return;
        }
        SurveyPoint p;
        p.x = point.x;
        p.y = point.y;
        p.name.assign(point.name, strnlen(point.name, sizeof point.name));
        m_out.points.push_back(std::move(p));
    }
    void OnEntry(const sitefile::StoredPoint&, const sitefile::StoredEntry& entry) override {
        if (entry.channel != 0) {
            m_out.points.back().heard.push_back(MakeReading(
                entry.mac, entry.ssid, sizeof entry.ssid, entry.channel, entry.RssiDbm()));
        }
    }
    void OnPointEnd(const sitefile::StoredPoint&, int) override {}

  private:
    Survey& m_out;
};

}  // namespace

Survey SurveyFromRecords(const CRecordList& list) {
    Survey out;
    const ApRecord* sentinel = list.Sentinel();
    bool open = false;
    for (const ApRecord* r = sentinel->next; r != sentinel; r = r->next) {
        if (!open || r->x != out.points.back().x || r->y != out.points.back().y) {
            SurveyPoint p;
            p.x = r->x;
            p.y = r->y;
            p.name.assign(r->pointName, strnlen(r->pointName, sizeof r->pointName));
            out.points.push_back(std::move(p));
            open = true;
        }
        if (r->channel != 0) {
            out.points.back().heard.push_back(
                MakeReading(r->mac, r->ssid, sizeof r->ssid, r->channel, r->rssi));
        }
    }
    return out;
}

Survey SurveyFromSiteFile(sitefile::SiteFileReader& reader) {
    Survey out;
    SurveyCollector collector(out);
    reader.VisitPoints(collector);
    return out;
}

void ApplySiteMeta(const sitefile::SiteMeta& meta, Survey& survey) {
    for (SurveyPoint& point : survey.points) {
        for (Reading& r : point.heard) {
            const auto it = meta.bssids.find(r.bssid);
            if (it == meta.bssids.end() || it->second.frequencyMhz <= 0) {
                continue;
            }
            const channels::Channel channel =
                channels::ChannelFromFrequency(static_cast<uint32_t>(it->second.frequencyMhz));
            if (channel.number == r.channel) {
                r.frequencyMhz = it->second.frequencyMhz;
                r.widthMhz = it->second.widthMhz;
            }
        }
    }
    survey.noise.clear();
    for (const sitefile::NoiseReading& n : meta.noise) {
        survey.noise.push_back({n.x, n.y, n.frequencyMhz, n.noiseDbm});
    }
}

bool LoadSurvey(const std::string& path, Survey& out, std::string& error) {
    sitefile::SiteFileReader reader;
    sitefile::OpenError e;
    if (!reader.Open(path, e)) {
        error = path + ": " + e.Describe();
        return false;
    }
    sitefile::SiteMeta meta;
    if (!sitefile::ReadSiteMeta(path, meta, error)) {
        return false;
    }
    out = SurveyFromSiteFile(reader);
    ApplySiteMeta(meta, out);
    return true;
}

}  // namespace coverage
