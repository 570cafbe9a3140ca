// Wi-Fi scans merged into the scan list like the scanner unit's channel
// results, and saved scans played back, the example file among them.
#include "wifi/scan_merge.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <mutex>
#include <set>

#include "survey/record_list.h"
#include "tests/wifi/dump_bytes.h"
#include "wifi/channels.h"
#include "wifi/scan_replay.h"

namespace {

using namespace dump_bytes;

struct Record {
    std::string macText;
    std::string mac;  // the six bytes
    std::string ssid;
    int rssi;
    int channel;
    int samples;
};

std::vector<Record> ScanList() {
    std::vector<Record> records;
    std::lock_guard<std::mutex> lock(g_scanListMutex);
    ApRecord* r = g_scanList.Sentinel()->next;
    for (; r != g_scanList.Sentinel(); r = r->next) {
        records.push_back({r->macText, std::string(reinterpret_cast<char*>(r->mac), 6), r->ssid,
                           r->rssi, r->channel, r->sampleCount});
    }
    return records;
}

const Record* Find(const std::vector<Record>& records, const std::string& macText) {
    for (const Record& r : records) {
        if (r.macText == macText) {
            return &r;
        }
    }
    return nullptr;
}

class WifiMerge : public ::testing::Test {
  protected:
    void SetUp() override { Clear(); }
    void TearDown() override { Clear(); }
    static void Clear() {
        std::lock_guard<std::mutex> lock(g_scanListMutex);
        g_scanList.Clear();
    }
};

wifi::BssEntry Entry(uint8_t last, uint32_t frequency, int32_t mbm, const std::string& ssid) {
    wifi::BssEntry e;
    const uint8_t mac[6] = {0xA4, 0x2B, 0xB0, 0x0C, 0xDE, last};
    std::copy(mac, mac + 6, e.bssid);
    e.frequency = frequency;
    e.signalMbm = mbm;
    e.ssid = ssid;
    return e;
}

TEST_F(WifiMerge, ScansOfAPointMergeByMac) {
    wifi::BssEntry quality = Entry(0x04, 5975, 0, "Q");
    quality.signalMbm.reset();
    quality.signalQuality = 60;
    wifi::BssEntry noLevel = Entry(0x05, 2437, 0, "none");
    noLevel.signalMbm.reset();
    const std::string wide = std::string(30, 'w') + "\xe2\x82\xac";  // a 3-byte euro sign at 30
    std::vector<wifi::BssEntry> first = {
        Entry(0x01, 2412, -4550, "Corp"),
        Entry(0x02, 5180, -6049, wide),
        quality,
        noLevel,
        Entry(0x06, 58320, -5000, "60 GHz"),
        Entry(0x07, 2411, -5000, "between channels"),
    };
    EXPECT_EQ(wifi::MergeIntoScanList(first), 3);
    std::vector<Record> records = ScanList();
    ASSERT_EQ(records.size(), 3u);
    const Record* corp = Find(records, "a42bb00cde01");
    ASSERT_NE(corp, nullptr);
    EXPECT_EQ(corp->mac, std::string("\xA4\x2B\xB0\x0C\xDE\x01", 6));
    EXPECT_EQ(corp->rssi, -46);
    EXPECT_EQ(corp->channel, 1);
    EXPECT_EQ(corp->samples, 1);
    EXPECT_EQ(corp->ssid, "Corp");
    const Record* cut = Find(records, "a42bb00cde02");
    ASSERT_NE(cut, nullptr);
    EXPECT_EQ(cut->ssid, std::string(30, 'w'));
    EXPECT_EQ(cut->channel, 36);
    EXPECT_EQ(cut->rssi, -60);
    const Record* q = Find(records, "a42bb00cde04");
    ASSERT_NE(q, nullptr);
    EXPECT_EQ(q->rssi, -70);
    EXPECT_EQ(q->channel, 5);

    // The second scan of the point: levels summed and counted, the SSID
    // refreshed, the channel kept as first stored; a new MAC gets its record.
    std::vector<wifi::BssEntry> second = {Entry(0x01, 2462, -5000, "Corp-renamed"),
                                          Entry(0x08, 5745, -7000, "New")};
    EXPECT_EQ(wifi::MergeIntoScanList(second), 2);
    records = ScanList();
    ASSERT_EQ(records.size(), 4u);
    corp = Find(records, "a42bb00cde01");
    EXPECT_EQ(corp->rssi, -96);
    EXPECT_EQ(corp->samples, 2);
    EXPECT_EQ(corp->ssid, "Corp-renamed");
    EXPECT_EQ(corp->channel, 1);
    EXPECT_EQ(Find(records, "a42bb00cde08")->channel, 149);

    // No memory for a record: that entry is dropped, the others still merge.
    CRecordList::s_failAllocations = true;
    EXPECT_EQ(
        wifi::MergeIntoScanList({Entry(0x09, 5180, -5000, "x"), Entry(0x01, 2412, -5000, "Corp")}),
        1);
    CRecordList::s_failAllocations = false;
    EXPECT_EQ(ScanList().size(), 4u);
}

TEST(ScanReplay, EachRequestTakesTheNextScan) {
    Bss a, b, c;
    b.mac[5] = 0xB;
    c.mac[5] = 0xC;
    const Bytes file = Dump({a}) + Dump({b, c}) + Dump({c});
    std::string error;
    auto replay = wifi::ScanReplay::FromBytes(file, "three.dump", error);
    ASSERT_TRUE(replay) << error;
    EXPECT_EQ(replay->ScanCount(), 3u);
    EXPECT_EQ(replay->AdapterName(), "three.dump");
    std::vector<size_t> sizes;
    for (int i = 0; i < 4; ++i) {
        replay->Start();
        EXPECT_EQ(replay->Poll(std::chrono::milliseconds(0)), wifi::ScanStatus::kDone);
        sizes.push_back(replay->Heard().size());
    }
    EXPECT_EQ(sizes, (std::vector<size_t>{1, 2, 1, 1}));

    // Paced: the access points come in over the scan's time.
    int64_t now = 0;
    replay->SetPace(2000, [&] { return now; });
    replay->Start();  // the second scan: two access points
    EXPECT_EQ(replay->Poll(std::chrono::milliseconds(100)), wifi::ScanStatus::kRunning);
    EXPECT_TRUE(replay->Heard().empty());
    now = 1000;
    EXPECT_EQ(replay->Poll(std::chrono::milliseconds(100)), wifi::ScanStatus::kRunning);
    EXPECT_EQ(replay->Heard().size(), 1u);
    now = 2000;
    EXPECT_EQ(replay->Poll(std::chrono::milliseconds(100)), wifi::ScanStatus::kDone);
    EXPECT_EQ(replay->Heard().size(), 2u);

    // A file cut inside its last scan keeps the scans before it; one with no
    // whole scan, or no scan at all, is refused with its reason.
    Bytes cut = Dump({a}) + Dump({b, c});
    cut.resize(cut.size() - 30);
    auto partial = wifi::ScanReplay::FromBytes(cut, "cut.dump", error);
    ASSERT_TRUE(partial);
    EXPECT_EQ(partial->ScanCount(), 1u);
    ASSERT_EQ(partial->LoadWarnings().size(), 1u);
    EXPECT_NE(partial->LoadWarnings()[0].find("that last scan is left out"), std::string::npos);
    Bytes onlyCut = Dump({a});
    onlyCut.pop_back();
    EXPECT_FALSE(wifi::ScanReplay::FromBytes(onlyCut, "x", error));
    EXPECT_NE(error.find("no whole scan comes before it"), std::string::npos) << error;
    EXPECT_FALSE(wifi::ScanReplay::FromBytes({}, "x", error));
    EXPECT_EQ(error, "no scan in it");
    EXPECT_FALSE(wifi::ScanReplay::Load("/dev/zero", error));
    EXPECT_EQ(error, "/dev/zero is not a regular file");

    // A saved scan with its note hands back only what was heard after the
    // scan began, its survey, and itself to be saved again.
    Bss before, during;
    before.boottimeNs = 4'000'000'000;
    during.mac[5] = 0xD;
    during.boottimeNs = 6'000'000'000;
    const Bytes saved = Note(5'000'000'000, 7'000'000'000) + Dump({before, during}) +
                        SurveyMessage(5180, -96) + Done();
    auto noted = wifi::ScanReplay::FromBytes(Dump({a}) + saved, "noted.dump", error);
    ASSERT_TRUE(noted) << error;
    noted->Start();
    noted->Poll(std::chrono::milliseconds(0));
    noted->Start();
    ASSERT_EQ(noted->Poll(std::chrono::milliseconds(0)), wifi::ScanStatus::kDone);
    ASSERT_EQ(noted->Heard().size(), 1u);
    EXPECT_EQ(noted->Heard()[0].bssid[5], 0xD);
    ASSERT_EQ(noted->Survey().size(), 1u);
    EXPECT_EQ(noted->Survey()[0].noiseDbm, -96);
    EXPECT_EQ(noted->SavedScan(), saved);
}

TEST(OnePerBssid, AHiddenPairIsOneNamedAccessPointAndImpossibleLevelsAreRefused) {
    const std::string zeros(9, '\0');
    std::vector<wifi::BssEntry> entries = {
        Entry(0x01, 5180, -6200, zeros),    // a hidden network's beacon,
        Entry(0x02, 2437, -5000, "Ch6"),    // a BSSID heard on its channel
        Entry(0x01, 5180, -6100, "Lab"),    // its answer to our probe
        Entry(0x02, 2442, -8100, "Ch6"),    // and leaking into the next one
        Entry(0x03, 5200, -4000, "Named"),  // named first, the hidden beacon after
        Entry(0x03, 5200, -3900, zeros),   Entry(0x04, 2412, INT32_MAX, "Liar\x1b]0;x"),
        Entry(0x05, 2412, -13000, ""),
    };
    std::vector<std::string> warnings;
    const std::vector<wifi::BssEntry> out = wifi::OnePerBssid(entries, &warnings);
    ASSERT_EQ(out.size(), 3u);
    EXPECT_EQ(out[0].ssid, "Lab");
    EXPECT_EQ(out[0].signalMbm, -6100);
    EXPECT_EQ(out[1].frequency, 2437u);
    EXPECT_EQ(out[1].signalMbm, -5000);
    EXPECT_EQ(out[2].ssid, "Named");
    EXPECT_EQ(out[2].signalMbm, -3900);
    EXPECT_EQ(warnings, (std::vector<std::string>{
                            "access point a4:2b:b0:0c:de:04 (\"Liar\\x1b]0;x\") reported "
                            "21474836 dBm, which no receiver hears; left out",
                            "access point a4:2b:b0:0c:de:05 reported -130 dBm, which no receiver "
                            "hears; left out"}));
}

// New records land where InsertSorted, one after the other, would put them
// once the scan's known MACs have their sums, also in a list whose sums are
// no longer in order.
TEST_F(WifiMerge, NewRecordsLandWhereInsertSortedPutsThem) {
    const int16_t levels[] = {-70, -90, -60, -75, -60, -95, -50, -72};
    std::vector<wifi::BssEntry> first, second;
    for (uint8_t i = 0; i < 4; ++i) {
        first.push_back(Entry(i, 2412, levels[i] * 100, "x"));
    }
    for (uint8_t i = 0; i < 8; ++i) {
        second.push_back(
            Entry(static_cast<uint8_t>(i % 2 ? i : 10 + i), 5180, levels[i] * 100, "y"));
    }
    wifi::MergeIntoScanList(first);
    wifi::MergeIntoScanList(second);
    std::vector<std::string> merged;
    for (const Record& r : ScanList()) {
        merged.push_back(r.macText);
    }
    Clear();
    // The same, the sums first, then one new record at a time.
    const auto reference = [](const std::vector<wifi::BssEntry>& scan) {
        std::lock_guard<std::mutex> lock(g_scanListMutex);
        std::vector<ApRecord*> added;
        for (const wifi::BssEntry& e : scan) {
            char mac[13];
            std::snprintf(mac, sizeof mac, "a42bb00cde%02x", e.bssid[5]);
            ApRecord* r = nullptr;
            if (g_scanList.FindByMac(mac, r) == 0) {
                r->rssi = static_cast<int16_t>(r->rssi + *e.signalMbm / 100);
                continue;
            }
            g_scanList.AllocRecord(r);
            std::memcpy(r->macText, mac, sizeof mac);
            r->rssi = static_cast<int16_t>(*e.signalMbm / 100);
            added.push_back(r);
        }
        for (ApRecord* r : added) {
            g_scanList.InsertSorted(r);
        }
    };
    reference(first);
    reference(second);
    std::vector<std::string> expected;
    for (const Record& r : ScanList()) {
        expected.push_back(r.macText);
    }
    EXPECT_EQ(merged, expected);
}

// The example survey's scans: nine, one per survey point of the demo, each
// with access points on all three bands, one associated, a hidden network
// somewhere, and levels that vary from point to point.
TEST(ScanReplay, ExampleOfficeScans) {
    std::string error;
    auto replay = wifi::ScanReplay::Load(KESTROW_SOURCE_DIR "/examples/office-wifi.dump", error);
    ASSERT_TRUE(replay) << error;
    ASSERT_EQ(replay->ScanCount(), 9u);
    EXPECT_TRUE(replay->LoadWarnings().empty());
    bool hidden = false;
    std::set<int> strongestAt;
    for (int p = 0; p < 9; ++p) {
        replay->Start();
        ASSERT_EQ(replay->Poll(std::chrono::milliseconds(0)), wifi::ScanStatus::kDone);
        EXPECT_TRUE(replay->Warnings().empty());
        // Each scan saved with its note and survey: nothing from before it,
        // a noise for every channel.
        EXPECT_GT(replay->Survey().size(), 30u);
        bool cut = false;
        std::string cutMessage;
        const std::vector<uint8_t> saved = replay->SavedScan();
        const wifi::ScanDump dump =
            wifi::ParseSavedScan(saved.data(), saved.size(), 0, cut, cutMessage);
        ASSERT_TRUE(dump.note);
        for (const wifi::BssEntry& e : replay->Heard()) {
            EXPECT_GE(*e.lastSeenBoottimeNs, dump.note->scanStartNs);
        }
        if (p > 0) {
            EXPECT_GT(dump.entries.size(), replay->Heard().size());  // the point before's, left out
        }
        std::set<wifi::Band> bands;
        int associated = 0, strongest = INT32_MIN, strongestIndex = -1;
        for (size_t i = 0; i < replay->Heard().size(); ++i) {
            const wifi::BssEntry& e = replay->Heard()[i];
            bands.insert(wifi::ChannelFromFrequency(e.frequency).band);
            associated += e.associated;
            hidden = hidden || (!e.ssid.empty() && e.ssid[0] == '\0');
            ASSERT_TRUE(e.signalMbm);
            if (*e.signalMbm > strongest) {
                strongest = *e.signalMbm;
                strongestIndex = e.bssid[4] << 8 | e.bssid[5];
            }
        }
        EXPECT_EQ(bands.size(), 3u) << "scan " << p + 1;
        EXPECT_EQ(bands.count(wifi::Band::kUnknown), 0u);
        EXPECT_EQ(associated, 1) << "scan " << p + 1;
        strongestAt.insert(strongestIndex);
    }
    EXPECT_TRUE(hidden);
    EXPECT_GE(strongestAt.size(), 6u);  // the walk passes from one access point to the next
}

}  // namespace
