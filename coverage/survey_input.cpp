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
    SurveyCollector(Survey& out, int32_t mapWidth, int32_t mapHeight,
                    std::vector<std::string>& ignored)
        : m_out(out), m_mapWidth(mapWidth), m_mapHeight(mapHeight), m_ignored(ignored) {}
    void OnPoint(const sitefile::StoredPoint& point) override {
        m_kept = 0;
        m_created = false;
        const std::string problem =
            m_mapWidth > 0 ? sitefile::ImplausiblePoint(point, m_mapWidth, m_mapHeight) : "";
        m_skip = !problem.empty();
        if (m_skip) {
            m_ignored.push_back(problem);
            return;
        }
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
        m_created = true;
    }
    void OnEntry(const sitefile::StoredPoint& point, const sitefile::StoredEntry& entry) override {
        if (m_skip) {
            return;
        }
        const std::string problem = sitefile::ImplausibleEntry(point, entry);
        if (!problem.empty()) {
            m_ignored.push_back(problem);
            return;
        }
        ++m_kept;
        if (entry.channel != 0) {
            m_out.points.back().heard.push_back(MakeReading(
                entry.mac, entry.ssid, sizeof entry.ssid, entry.channel, entry.RssiDbm()));
        }
    }
    void OnPointEnd(const sitefile::StoredPoint&, int entriesRead) override {
        // A point whose every entry was refused heard nothing that counts;
        // it is no point where nothing was heard either.
        if (m_created && entriesRead > 0 && m_kept == 0 && m_out.points.back().heard.empty()) {
            m_out.points.pop_back();
        }
    }

  private:
    Survey& m_out;
    int32_t m_mapWidth;
    int32_t m_mapHeight;
    std::vector<std::string>& m_ignored;
    bool m_skip = false;     // the current point is off the map
    bool m_created = false;  // the current group began a survey point
    int m_kept = 0;          // its entries kept
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

Survey SurveyFromSiteFile(sitefile::SiteFileReader& reader, std::vector<std::string>* ignored) {
    Survey out;
    std::vector<std::string> none;
    SurveyCollector collector(out, reader.MapWidth(), reader.MapHeight(),
                              ignored ? *ignored : none);
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
    Building& building = survey.building;
    building = Building();
    for (int i = 0; i < sitefile::kMaterialCount; ++i) {
        const sitefile::MaterialInfo& m = sitefile::InfoOf(static_cast<sitefile::Material>(i));
        building.materialLossDb.push_back({m.lossDb[0], m.lossDb[1], m.lossDb[2]});
    }
    for (const sitefile::Wall& w : meta.walls) {
        building.walls.push_back({w.x1, w.y1, w.x2, w.y2, static_cast<int>(w.material)});
    }
    for (const sitefile::PlacedAccessPoint& p : meta.accessPoints) {
        building.placed.push_back({p.bssid, p.x, p.y});
    }
    building.pixelsPerMetre = meta.pixelsPerMetre.value_or(0);
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
