// Feeds arbitrary bytes to the scan-dump parser as a file of saved scans, plays
// them back and merges every scan into the scan list, as kestrow --wifi-replay
// does. Besides the sanitizers' checks: the dumps lie inside the input one
// after another, every SSID holds at most 32 bytes, channels agree with their
// bands, widths are widths, one scan hands on at most kMaxScanEntries access
// points and one per BSSID with a plausible level, and only channels 1-255
// reach the scan list.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "survey/record_list.h"
#include "wifi/channels.h"
#include "wifi/scan_dump.h"
#include "wifi/scan_merge.h"
#include "wifi/scan_replay.h"

namespace {

void Check(bool ok) {
    if (!ok) {
        std::abort();
    }
}

void CheckEntry(const wifi::BssEntry& e) {
    Check(e.ssid.size() <= wifi::kMaxSsidBytes);
    static const std::set<int> kWidths = {0, 20, 40, 80, 160, 320};
    Check(kWidths.count(e.widthMhz) == 1);
    Check(!e.signalQuality || *e.signalQuality <= 100);
    const wifi::Channel ch = wifi::ChannelFromFrequency(e.frequency);
    Check((ch.number == 0) == (ch.band == wifi::Band::kUnknown));
    switch (ch.band) {
        case wifi::Band::k2_4GHz:
            Check(ch.number >= 1 && ch.number <= 14 && e.frequency >= 2412 && e.frequency <= 2484);
            break;
        case wifi::Band::k5GHz:
            Check(ch.number >= 1 && ch.number <= 196 && e.frequency >= 4910 && e.frequency <= 5885);
            break;
        case wifi::Band::k6GHz:
            Check(ch.number >= 1 && ch.number <= 233 && e.frequency >= 5935 && e.frequency <= 7115);
            break;
        case wifi::Band::kUnknown:
            break;
    }
}

void CheckScanList() {
    std::lock_guard<std::mutex> lock(g_scanListMutex);
    for (ApRecord* r = g_scanList.Sentinel()->next; r != g_scanList.Sentinel(); r = r->next) {
        Check(r->channel >= 1 && r->channel <= 255);
        Check(r->sampleCount >= 1);
        Check(strnlen(r->ssid, sizeof r->ssid) <= wifi::kMaxSsidBytes);
        Check(strnlen(r->macText, sizeof r->macText) == 12);
    }
    g_scanList.Clear();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const wifi::ScanDumps parsed = wifi::ParseScanDumps(data, size);
    size_t offset = 0;
    for (const wifi::ScanDump& dump : parsed.dumps) {
        Check(dump.complete && dump.begin == offset && dump.end > dump.begin && dump.end <= size);
        offset = dump.end;
        for (const wifi::BssEntry& e : dump.entries) {
            CheckEntry(e);
        }
    }
    Check(parsed.cut == (offset < size));
    if (parsed.cut) {
        Check(parsed.cutDump.begin == offset && !parsed.cutMessage.empty());
        for (const wifi::BssEntry& e : parsed.cutDump.entries) {
            CheckEntry(e);
        }
    }

    // Played back twice round, two scans merged per survey point.
    std::string error;
    auto replay =
        wifi::ScanReplay::FromBytes(std::vector<uint8_t>(data, data + size), "fuzz", error);
    bool anyWhole = false;  // a dump the kernel did not end with an error
    for (const wifi::ScanDump& dump : parsed.dumps) {
        anyWhole = anyWhole || dump.error == 0;
    }
    Check((replay != nullptr) == anyWhole);
    if (replay) {
        for (size_t i = 0; i < 2 * replay->ScanCount(); ++i) {
            replay->Start();
            Check(replay->Poll(std::chrono::milliseconds(0)) == wifi::ScanStatus::kDone);
            std::vector<wifi::BssEntry> heard = replay->Heard();
            Check(heard.size() <= wifi::kMaxScanEntries);
            wifi::DropStaleEntries(heard, 1'000'000'000, 2'000'000'000);
            std::vector<std::string> warnings;
            const std::vector<wifi::BssEntry> one = wifi::OnePerBssid(heard, &warnings);
            std::set<std::string> bssids;
            for (const wifi::BssEntry& e : one) {
                Check(bssids.insert(wifi::BssidText(e.bssid)).second);
                int dbm = 0;
                Check(!wifi::EntryLevelDbm(e, dbm) ||
                      (dbm >= wifi::kMinLevelDbm && dbm <= wifi::kMaxLevelDbm));
            }
            for (const wifi::ChannelSurvey& c : replay->Survey()) {
                Check(c.frequency != 0 &&
                      (!c.noiseDbm || (*c.noiseDbm >= -128 && *c.noiseDbm < 128)));
            }
            wifi::MergeIntoScanList(one);
            if (i % 2 == 1) {
                CheckScanList();
            }
        }
        CheckScanList();
    }
    return 0;
}
