// One tap with replayed Wi-Fi scans of many access points: the seconds from
// the tap to the point ready to commit (the scan screen rebuilt as the scan's
// access points come in, the scan merged into the scan list) and the peak
// memory, for scans of 1,000 (the kernel's own cache), 25,000 and 100,000
// BSSes (the most one scan hands on). Linear work grows 4 times from 25,000
// to 100,000; quadratic work, 16 times. Prints figures; not a test.
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <mutex>
#include <string>
#include <vector>

#include "survey/record_list.h"
#include "wifi/scan_dump.h"
#include "wifi/scan_replay.h"
#include "wifi/wifi_scan_source.h"

namespace {

template <typename T>
void Put(std::vector<uint8_t>& b, T v) {
    uint8_t raw[sizeof v];
    std::memcpy(raw, &v, sizeof v);
    b.insert(b.end(), raw, raw + sizeof v);
}

void Attr(std::vector<uint8_t>& b, uint16_t type, const void* data, size_t size) {
    Put<uint16_t>(b, static_cast<uint16_t>(4 + size));
    Put<uint16_t>(b, type);
    const auto* p = static_cast<const uint8_t*>(data);
    b.insert(b.end(), p, p + size);
    b.resize((b.size() + 3) & ~size_t{3}, 0);
}

void Message(std::vector<uint8_t>& out, uint16_t type, const std::vector<uint8_t>& payload) {
    Put<uint32_t>(out, static_cast<uint32_t>(16 + payload.size()));
    Put<uint16_t>(out, type);
    Put<uint16_t>(out, 2);  // NLM_F_MULTI
    Put<uint32_t>(out, 9);
    Put<uint32_t>(out, 4242);
    out.insert(out.end(), payload.begin(), payload.end());
}

// A saved scan of `count` BSSes on every band, each heard during the scan.
std::vector<uint8_t> SavedScan(size_t count) {
    std::vector<uint8_t> out = wifi::ScanNoteMessage({1'000'000'000, 5'000'000'000});
    static const uint32_t kFrequencies[] = {2412, 2437, 2462, 5180, 5500, 5745, 5955, 6115};
    for (size_t i = 0; i < count; ++i) {
        std::vector<uint8_t> bss;
        const uint8_t mac[6] = {0x02,
                                0x5e,
                                static_cast<uint8_t>(i >> 16),
                                static_cast<uint8_t>(i >> 8),
                                static_cast<uint8_t>(i),
                                0x10};
        Attr(bss, 1, mac, 6);  // NL80211_BSS_BSSID
        const uint32_t frequency = kFrequencies[i % 8];
        Attr(bss, 2, &frequency, 4);
        char ies[40];
        const int n = std::snprintf(ies + 2, sizeof ies - 2, "Network-%zu", i % 5000);
        ies[0] = 0;
        ies[1] = static_cast<char>(n);
        Attr(bss, 6, ies, static_cast<size_t>(n) + 2);  // NL80211_BSS_INFORMATION_ELEMENTS
        const int32_t mbm = -3000 - static_cast<int32_t>(i * 37 % 6000);
        Attr(bss, 7, &mbm, 4);                         // NL80211_BSS_SIGNAL_MBM
        const uint64_t seen = 2'000'000'000 + i;       // heard after the start
        Attr(bss, 15, &seen, 8);                       // NL80211_BSS_LAST_SEEN_BOOTTIME
        std::vector<uint8_t> payload = {34, 1, 0, 0};  // NL80211_CMD_NEW_SCAN_RESULTS
        Put<uint16_t>(payload, static_cast<uint16_t>(4 + bss.size()));
        Put<uint16_t>(payload, 47);  // NL80211_ATTR_BSS
        payload.insert(payload.end(), bss.begin(), bss.end());
        Message(out, 0x1c, payload);
    }
    std::vector<uint8_t> done;
    Put<int32_t>(done, 0);
    Message(out, 3, done);  // NLMSG_DONE
    return out;
}

// The process's peak resident memory since the last reset, in MB.
double PeakMb() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmHWM:", 0) == 0) {
            return std::stod(line.substr(6)) / 1024.0;
        }
    }
    return 0;
}

void ResetPeak() {
    std::ofstream("/proc/self/clear_refs") << "5";
}

double OneTap(size_t count, double& peakMb, size_t& recorded) {
    std::vector<uint8_t> bytes = SavedScan(count);
    ResetPeak();
    const auto start = std::chrono::steady_clock::now();
    std::string error;
    auto replay = wifi::ScanReplay::FromBytes(std::move(bytes), "bench.dump", error);
    if (!replay) {
        std::fprintf(stderr, "bench_wifi: %s\n", error.c_str());
        std::exit(1);
    }
    int64_t now = 0;
    replay->SetPace(1000, [&] { return now; });  // a one-second scan, polled as the view polls
    wifi::WifiScanSource source(std::move(replay), 1, nullptr, [&] { return now; });
    source.BeginSweep(0, 0);
    while (source.ContinueSweep() == SweepState::kRunning) {
        now += wifi::WifiScanSource::kPassMs.count();
    }
    source.TakeFinishedSweep();
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    peakMb = PeakMb();
    std::lock_guard<std::mutex> lock(g_scanListMutex);
    recorded = 0;
    for (ApRecord* r = g_scanList.Sentinel()->next; r != g_scanList.Sentinel(); r = r->next) {
        ++recorded;
    }
    g_scanList.Clear();
    return seconds;
}

}  // namespace

int main() {
    std::printf("one tap with a replayed scan (one scan hands on at most %zu BSSes)\n",
                wifi::kMaxScanEntries);
    std::printf("%10s  %10s  %12s  %10s\n", "BSSes", "seconds", "us per BSS", "peak MB");
    double seconds25k = 0, seconds100k = 0;
    for (size_t count : {size_t{1000}, size_t{25000}, size_t{100000}}) {
        double peak = 0;
        size_t recorded = 0;
        const double seconds = OneTap(count, peak, recorded);
        if (recorded != count) {
            std::fprintf(stderr, "bench_wifi: %zu of %zu BSSes recorded\n", recorded, count);
            return 1;
        }
        std::printf("%10zu  %10.3f  %12.2f  %10.1f\n", count, seconds, seconds * 1e6 / count, peak);
        if (count == 25000) {
            seconds25k = seconds;
        } else if (count == 100000) {
            seconds100k = seconds;
        }
    }
    std::printf("100,000 / 25,000: %.1f times the time (linear: 4, quadratic: 16)\n",
                seconds100k / seconds25k);
    return 0;
}
