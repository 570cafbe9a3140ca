#include "wifi/scan_merge.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <mutex>

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

}  // namespace

bool EntryLevelDbm(const BssEntry& entry, int& dbm) {
    if (entry.signalMbm) {
        dbm = RoundMbmToDbm(*entry.signalMbm);
    } else if (entry.signalQuality) {
        dbm = QualityToDbm(*entry.signalQuality);
    } else {
        return false;
    }
    // A sample is a signed byte, as the scanner unit reports it.
    dbm = std::clamp(dbm, -128, 127);
    return true;
}

int MergeIntoScanList(const std::vector<BssEntry>& entries) {
    int merged = 0;
    std::lock_guard<std::mutex> lock(g_scanListMutex);
    for (const BssEntry& entry : entries) {
        const Channel channel = ChannelFromFrequency(entry.frequency);
        int level = 0;
        if (channel.number < 1 || channel.number > 255 || !EntryLevelDbm(entry, level)) {
            continue;
        }
        char macText[13];
        std::snprintf(macText, sizeof macText, "%02x%02x%02x%02x%02x%02x", entry.bssid[0],
                      entry.bssid[1], entry.bssid[2], entry.bssid[3], entry.bssid[4],
                      entry.bssid[5]);
        const int16_t rssi = static_cast<int16_t>(level);
        ApRecord* record = nullptr;
        if (g_scanList.FindByMac(macText, record) == 0) {
            record->sampleCount = record->sampleCount + 1;
            // The sum wraps as a 16-bit value, as the unit's merge does.
            record->rssi = static_cast<int16_t>(static_cast<uint16_t>(record->rssi) +
                                                static_cast<uint16_t>(rssi));
            CopySsid(*record, entry.ssid);
        } else if (g_scanList.AllocRecord(record) == 0) {
            std::memcpy(record->macText, macText, sizeof macText);
            std::memcpy(record->mac, entry.bssid, sizeof record->mac);
            record->rssi = rssi;
            record->channel = static_cast<int16_t>(channel.number);
            record->reserved1 = 0;
            record->reserved2 = 1;
            record->sampleCount = 1;
            CopySsid(*record, entry.ssid);
            g_scanList.InsertSorted(record);
        } else {
            continue;
        }
        ++merged;
    }
    return merged;
}

}  // namespace wifi
