#include "wifi/scan_merge.h"

#include <algorithm>
#include <array>
#include <climits>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string_view>
#include <unordered_map>

#include "platform/text.h"
#include "survey/record_list.h"
#include "wifi/channels.h"

namespace wifi {

namespace {

// The SSID field of a record: the first 32 bytes without a split character,
// terminated, the rest of the field zero.
void CopySsid(ApRecord& record, const std::string& ssid) {
    const size_t n = platform::FittingPrefixLength(ssid.data(), ssid.size(), kMaxSsidBytes);
    std::memset(record.ssid, 0, sizeof record.ssid);
    std::memcpy(record.ssid, ssid.data(), n);
}

// No name, or a hidden network's zeros in place of one.
bool Unnamed(const std::string& ssid) {
    return platform::TextFromBytes(ssid.data(), ssid.size()).empty();
}

bool Plausible(int dbm) {
    return dbm >= kMinLevelDbm && dbm <= kMaxLevelDbm;
}

std::string MacKey(const uint8_t (&bssid)[6]) {
    return std::string(reinterpret_cast<const char*>(bssid), 6);
}

}  // namespace

bool EntryLevelDbm(const BssEntry& entry, int& dbm) {
    if (entry.signalMbm) {
        dbm = RoundMbmToDbm(*entry.signalMbm);
    } else if (entry.signalQuality) {
        dbm = QualityToDbm(*entry.signalQuality);
    } else {
        return false;
    }
    return true;
}

std::vector<BssEntry> OnePerBssid(const std::vector<BssEntry>& entries,
                                  std::vector<std::string>* warnings) {
    std::vector<BssEntry> out;
    std::vector<int> levels;  // of `out`, for the comparisons
    std::unordered_map<std::string, size_t> where;
    out.reserve(entries.size());
    for (const BssEntry& e : entries) {
        int level = 0;
        const bool hasLevel = EntryLevelDbm(e, level);
        if (hasLevel && !Plausible(level)) {
            if (warnings != nullptr) {
                const std::string name = platform::TextFromBytes(e.ssid.data(), e.ssid.size());
                warnings->push_back(
                    "access point " + BssidText(e.bssid) +
                    (name.empty() ? "" : " (\"" + platform::PrintableText(name) + "\")") +
                    " reported " + std::to_string(level) +
                    " dBm, which no receiver hears; left out");
            }
            continue;
        }
        const auto [it, fresh] = where.emplace(MacKey(e.bssid), out.size());
        if (fresh) {
            out.push_back(e);
            levels.push_back(hasLevel ? level : INT32_MIN);
            continue;
        }
        BssEntry& kept = out[it->second];
        const std::string name = Unnamed(kept.ssid) ? e.ssid : kept.ssid;
        if (hasLevel && level > levels[it->second]) {
            kept = e;
            levels[it->second] = level;
        }
        if (Unnamed(kept.ssid)) {
            kept.ssid = name;
        }
    }
    return out;
}

int MergeIntoScanList(const std::vector<BssEntry>& entries) {
    int merged = 0;
    std::lock_guard<std::mutex> lock(g_scanListMutex);
    std::unordered_map<std::string_view, ApRecord*> byMac;
    for (ApRecord* r = g_scanList.Sentinel()->next; r != g_scanList.Sentinel(); r = r->next) {
        byMac.emplace(std::string_view(r->macText, strnlen(r->macText, sizeof r->macText)), r);
    }
    std::vector<ApRecord*> added;
    for (const BssEntry& entry : entries) {
        const Channel channel = ChannelFromFrequency(entry.frequency);
        int level = 0;
        if (channel.number < 1 || channel.number > 255 || !EntryLevelDbm(entry, level) ||
            !Plausible(level)) {
            continue;
        }
        char macText[13];
        std::snprintf(macText, sizeof macText, "%02x%02x%02x%02x%02x%02x", entry.bssid[0],
                      entry.bssid[1], entry.bssid[2], entry.bssid[3], entry.bssid[4],
                      entry.bssid[5]);
        const int16_t rssi = static_cast<int16_t>(level);
        const auto known = byMac.find(std::string_view(macText, 12));
        ApRecord* record = nullptr;
        if (known != byMac.end()) {
            record = known->second;
            record->sampleCount = record->sampleCount + 1;
            // The sum wraps as a 16-bit value, as the unit's merge does.
            record->rssi = static_cast<int16_t>(static_cast<uint16_t>(record->rssi) +
                                                static_cast<uint16_t>(rssi));
            if (!Unnamed(entry.ssid)) {
                CopySsid(*record, entry.ssid);
            }
        } else if (g_scanList.AllocRecord(record) == 0) {
            std::memcpy(record->macText, macText, sizeof macText);
            std::memcpy(record->mac, entry.bssid, sizeof record->mac);
            record->rssi = rssi;
            record->channel = static_cast<int16_t>(channel.number);
            record->reserved1 = 0;
            record->reserved2 = 1;
            record->sampleCount = 1;
            CopySsid(*record, entry.ssid);
            byMac.emplace(std::string_view(record->macText, 12), record);
            added.push_back(record);
        } else {
            continue;
        }
        ++merged;
    }
    // InsertSorted, one record after the other, puts each before the first
    // record of higher level; ascending new records land in the same places
    // when placed in one walk.
    std::stable_sort(added.begin(), added.end(), [](const ApRecord* a, const ApRecord* b) {
        return g_scanList.CompareRssi(a, b) == -1;
    });
    size_t next = 0;
    for (ApRecord* r = g_scanList.Sentinel()->next; r != g_scanList.Sentinel(); r = r->next) {
        while (next < added.size() && g_scanList.CompareRssi(added[next], r) == -1) {
            g_scanList.InsertBefore(added[next++], r);
        }
    }
    while (next < added.size()) {
        g_scanList.Append(added[next++]);
    }
    return merged;
}

}  // namespace wifi
