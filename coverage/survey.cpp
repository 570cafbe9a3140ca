#include "coverage/survey.h"

#include <algorithm>
#include <cstdio>
#include <map>
#include <utility>

#include "platform/text.h"

namespace coverage {

SiteSamples PrepareSamples(const Survey& survey) {
    SiteSamples out;
    // The access points, in BSSID order, described as first heard.
    std::map<Bssid, size_t> index;
    std::vector<AccessPoint> found;
    for (const SurveyPoint& point : survey.points) {
        for (const Reading& r : point.heard) {
            auto [it, added] = index.emplace(r.bssid, found.size());
            if (added) {
                AccessPoint ap;
                ap.bssid = r.bssid;
                ap.ssid = r.ssid;
                ap.channel = r.channel;
                ap.frequencyMhz = r.frequencyMhz;
                ap.widthMhz = r.widthMhz;
                ap.band = channels::BandOfReading(r.channel, r.frequencyMhz);
                found.push_back(ap);
            }
            found[it->second].best = std::max(found[it->second].best, r.rssi);
        }
    }
    size_t order = 0;
    for (auto& [bssid, at] : index) {
        out.aps.push_back(found[at]);
        at = order++;
    }
    const size_t apCount = out.aps.size();

    // Each survey point's levels, then the points at one position averaged.
    std::map<std::pair<double, double>, size_t> positions;
    std::vector<double> sums;
    std::vector<double> levels(apCount);
    std::vector<int> readings(apCount);
    for (const SurveyPoint& point : survey.points) {
        std::fill(levels.begin(), levels.end(), 0.0);
        std::fill(readings.begin(), readings.end(), 0);
        for (const Reading& r : point.heard) {
            const size_t a = index[r.bssid];
            levels[a] += r.rssi;
            ++readings[a];
        }
        for (size_t a = 0; a < apCount; ++a) {
            if (readings[a] == 0) {
                levels[a] = kNotHeardDbm;
            } else {
                levels[a] /= readings[a];
                ++out.aps[a].pointsHeard;
            }
        }
        auto [it, added] = positions.emplace(std::make_pair(point.x, point.y), out.x.size());
        if (added) {
            out.x.push_back(point.x);
            out.y.push_back(point.y);
            out.pointsAt.push_back(0);
            sums.resize(sums.size() + apCount, 0.0);
        }
        ++out.pointsAt[it->second];
        for (size_t a = 0; a < apCount; ++a) {
            sums[it->second * apCount + a] += levels[a];
        }
    }
    out.levels = std::move(sums);
    for (size_t p = 0; p < out.x.size(); ++p) {
        for (size_t a = 0; a < apCount; ++a) {
            out.levels[p * apCount + a] /= out.pointsAt[p];
        }
    }
    return out;
}

RadioKey RadioKeyOf(const AccessPoint& ap) {
    RadioKey key;
    key.band = ap.band != channels::Band::kUnknown ? ap.band : channels::BandOfChannel(ap.channel);
    key.channel = ap.channel;
    key.masked = ap.bssid;
    key.masked[0] &= static_cast<uint8_t>(~0x02);
    key.masked[5] &= 0xF0;
    return key;
}

std::vector<int> RadioNumbers(const std::vector<AccessPoint>& aps) {
    std::map<RadioKey, int> radios;
    std::vector<int> out;
    out.reserve(aps.size());
    for (const AccessPoint& ap : aps) {
        out.push_back(
            radios.emplace(RadioKeyOf(ap), static_cast<int>(radios.size()) + 1).first->second);
    }
    return out;
}

std::string BssidText(const Bssid& bssid) {
    char text[18];
    std::snprintf(text, sizeof text, "%02x:%02x:%02x:%02x:%02x:%02x", bssid[0], bssid[1], bssid[2],
                  bssid[3], bssid[4], bssid[5]);
    return text;
}

bool ParseBssid(const std::string& text, Bssid& out) {
    const bool separated = text.size() == 17;
    if (!separated && text.size() != 12) {
        return false;
    }
    const char separator = separated ? text[2] : 0;
    if (separated && separator != ':' && separator != '-') {
        return false;
    }
    size_t at = 0;
    for (size_t i = 0; i < 6; ++i) {
        if (separated && i > 0 && text[at++] != separator) {
            return false;
        }
        const int high = platform::HexDigitValue(text[at]);
        const int low = platform::HexDigitValue(text[at + 1]);
        if (high < 0 || low < 0) {
            return false;
        }
        out[i] = static_cast<uint8_t>(high * 16 + low);
        at += 2;
    }
    return true;
}

}  // namespace coverage
