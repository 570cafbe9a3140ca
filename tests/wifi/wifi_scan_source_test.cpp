// The Wi-Fi scan source as the survey view drives it: a point's scans merged
// into g_scanList, the scan screen's list while they run, the seconds shown,
// and a failed scan that leaves nothing to record.
#include "wifi/wifi_scan_source.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <mutex>
#include <tuple>

#include "platform/message_box.h"
#include "platform/window_messages.h"
#include "survey/record_list.h"
#include "tests/wifi/dump_bytes.h"
#include "tests/wifi/fake_kernel.h"
#include "wifi/scan_replay.h"
#include "wifi/wifi_scanner.h"

namespace {

using namespace dump_bytes;

// Channel, level sum, samples.
using Row = std::tuple<int, int, int>;

// g_scanList by MAC text.
std::map<std::string, Row> ScanList() {
    std::map<std::string, Row> rows;
    std::lock_guard<std::mutex> lock(g_scanListMutex);
    for (ApRecord* r = g_scanList.Sentinel()->next; r != g_scanList.Sentinel(); r = r->next) {
        rows[r->macText] = Row{int{r->channel}, int{r->rssi}, int{r->sampleCount}};
    }
    return rows;
}

class DrawPosts : public platform::WindowHandle {
  public:
    bool PostMessage(platform::MessageId message, uintptr_t, intptr_t) override {
        posts += message == platform::RegisterWindowMessage("KORV_DRAW");
        return true;
    }
    int posts = 0;
};

class Boxes : public platform::MessageBoxHandler {
  public:
    int Show(const std::string& text, const std::string& caption, unsigned) override {
        shown.push_back(caption + " | " + text);
        return platform::kIdOk;
    }
    std::vector<std::string> shown;
};

// Scans decided by the test: each Start() takes the next outcome, a scan
// that fails when it has an error.
class ScriptedScans : public wifi::ScanSource {
  public:
    struct Outcome {
        std::vector<wifi::BssEntry> heard;
        std::string error;
        std::vector<std::string> warnings;
        std::vector<wifi::ChannelSurvey> survey;
    };
    bool Open() override { return (m_error = openError).empty(); }
    void Start() override { m_current = outcomes.at(m_next++); }
    wifi::ScanStatus Poll(std::chrono::milliseconds) override { return Status(); }
    void Cancel() override {}
    wifi::ScanStatus Status() const override {
        return m_current.error.empty() ? wifi::ScanStatus::kDone : wifi::ScanStatus::kFailed;
    }
    const std::vector<wifi::BssEntry>& Heard() const override { return m_current.heard; }
    const std::vector<wifi::ChannelSurvey>& Survey() const override { return m_current.survey; }
    std::vector<uint8_t> SavedScan() const override { return {}; }
    const std::string& Error() const override {
        return m_current.error.empty() ? m_error : m_current.error;
    }
    const std::vector<std::string>& Warnings() const override { return m_current.warnings; }
    std::string AdapterName() const override { return openError.empty() ? "wlan0" : ""; }
    std::string AdapterDriver() const override { return openError.empty() ? "iwlwifi" : ""; }

    std::vector<Outcome> outcomes;
    std::string openError;

  private:
    Outcome m_current;
    size_t m_next = 0;
    std::string m_error;
};

wifi::BssEntry Entry(uint8_t last, uint32_t frequency, int32_t mbm) {
    wifi::BssEntry e;
    e.bssid[5] = last;
    e.frequency = frequency;
    e.signalMbm = mbm;
    return e;
}

class WifiScanSourceTest : public ::testing::Test {
  protected:
    void SetUp() override {
        Clear();
        platform::SetMessageBoxHandler(&m_boxes);
    }
    void TearDown() override {
        platform::SetMessageBoxHandler(nullptr);
        Clear();
    }
    static void Clear() {
        std::lock_guard<std::mutex> lock(g_scanListMutex);
        g_scanList.Clear();
    }
    Boxes m_boxes;
    DrawPosts m_view;
};

TEST_F(WifiScanSourceTest, ScansOfAPointAreMergedAndShownAsTheyComeIn) {
    // Three saved scans; two make a survey point. Access point 1 is heard in
    // both scans of the first point, 2 and 3 once each.
    const auto bss = [](uint8_t last, uint32_t frequency, int32_t mbm) {
        Bss b;
        b.mac[5] = last;
        b.frequency = frequency;
        b.mbm = mbm;
        return b;
    };
    // Access point 3 is on 6 GHz channel 1, beside 2.4 GHz channel 1.
    Bss ap1 = bss(1, 2412, -4550), ap2 = bss(2, 5180, -6000), ap3 = bss(3, 5955, -7000),
        ap1Again = bss(1, 2412, -5050);
    ap2.elements = SsidElement("Lab") + HtOperation(true) + VhtOperation(1, 42, 0);
    ap3.elements = SsidElement("Lab") + He6GhzOperation(3);
    std::string error;
    auto replay = wifi::ScanReplay::FromBytes(
        Dump({ap1, ap2}) + SurveyMessage(5180, -95) + SurveyMessage(2412, std::nullopt) + Done() +
            Dump({ap1Again, ap3}) + SurveyMessage(5180, -98) + Done() + Dump({ap2}),
        "office.dump", error);
    ASSERT_TRUE(replay) << error;
    int64_t now = 0;
    replay->SetPace(1000, [&] { return now; });
    wifi::WifiScanSource source(std::move(replay), 2, nullptr, [&] { return now; });
    source.Connect(&m_view);
    EXPECT_TRUE(m_boxes.shown.empty());
    std::string left, right;
    source.StartScreenTexts(left, right);
    EXPECT_EQ(left + " " + right, "(office.dump) (replayed scans)");

    const std::string ap1Mac = "021122334401", ap2Mac = "021122334402", ap3Mac = "021122334403";
    source.BeginSweep(10, 20);
    EXPECT_TRUE(source.IsSweepRequested());
    EXPECT_EQ(source.ProgressText(), "0 s");
    EXPECT_EQ(source.ContinueSweep(), SweepState::kRunning);
    EXPECT_TRUE(ScanList().empty());
    now = 500;  // half of the first scan: its first access point
    EXPECT_EQ(source.ContinueSweep(), SweepState::kRunning);
    EXPECT_EQ(ScanList(), (std::map<std::string, Row>{{ap1Mac, {1, -46, 1}}}));
    EXPECT_EQ(m_view.posts, 1);
    now = 1000;  // the first scan ends, the second begins
    EXPECT_EQ(source.ContinueSweep(), SweepState::kRunning);
    EXPECT_EQ(source.ProgressText(), "1 s");
    EXPECT_FALSE(source.TakeFinishedSweep());
    now = 1500;  // the second scan has heard access point 1 again
    EXPECT_EQ(source.ContinueSweep(), SweepState::kRunning);
    EXPECT_EQ(ScanList(),
              (std::map<std::string, Row>{{ap1Mac, {1, -97, 2}}, {ap2Mac, {36, -60, 1}}}));
    now = 2000;
    EXPECT_EQ(source.ContinueSweep(), SweepState::kDone);
    // Each scan counted once, whatever was shown while it ran.
    const std::map<std::string, Row> point = {
        {ap1Mac, {1, -97, 2}}, {ap2Mac, {36, -60, 1}}, {ap3Mac, {1, -70, 1}}};
    EXPECT_EQ(ScanList(), point);
    // What the records cannot hold: each BSSID's frequency and width, and
    // the noise of each channel averaged over the point's scans.
    const SweepDetails details = source.FinishedSweepDetails();
    ASSERT_EQ(details.channels.size(), 3u);
    EXPECT_EQ(details.channels[0].frequencyMhz, 2412);
    EXPECT_EQ(details.channels[0].widthMhz, 20);
    EXPECT_EQ(details.channels[1].widthMhz, 80);
    EXPECT_EQ(details.channels[2].frequencyMhz, 5955);
    EXPECT_EQ(details.channels[2].widthMhz, 160);
    EXPECT_EQ(details.channels[2].mac[5], 3);
    ASSERT_EQ(details.noise.size(), 1u);
    EXPECT_EQ(details.noise[0].frequencyMhz, 5180);
    EXPECT_DOUBLE_EQ(details.noise[0].noiseDbm, -96.5);
    EXPECT_FALSE(details.levelsEstimated);
    EXPECT_GE(m_view.posts, 3);
    now = 9000;
    EXPECT_EQ(source.ProgressText(), "2 s");  // the time the point took
    EXPECT_EQ(source.ContinueSweep(), SweepState::kDone);
    EXPECT_EQ(ScanList(), point);
    EXPECT_TRUE(source.TakeFinishedSweep());
    EXPECT_FALSE(source.TakeFinishedSweep());
    EXPECT_FALSE(source.IsSweepRequested());
    EXPECT_EQ(source.FinishedSweepDetails().channels.size(), 3u);  // until the next point
    source.BeginSweep(0, 0);
    EXPECT_TRUE(source.FinishedSweepDetails().channels.empty());

    EXPECT_EQ(source.GaveUpReason(), "");
}

TEST_F(WifiScanSourceTest, FailuresAreToldAndLeaveNothingToRecord) {
    auto owned = std::make_unique<ScriptedScans>();
    ScriptedScans& scans = *owned;
    scans.openError = "no Wi-Fi adapter: the computer has no wireless interface";
    scans.outcomes = {{{Entry(1, 2437, -5000)}, "", {"a message at byte 96 was skipped"}, {}},
                      {{}, "no scan results from wlan0 within 15 s", {}, {}},
                      {{Entry(2, 5180, -6000)}, "", {}, {}},
                      {{Entry(3, 5180, -6000)}, "", {}, {}}};
    std::vector<std::string> warnings;
    wifi::WifiScanSource source(std::move(owned), 2,
                                [&](const std::string& line) { warnings.push_back(line); });
    // An adapter that cannot be used is told once, at start-up.
    source.Connect(&m_view);
    EXPECT_EQ(m_boxes.shown,
              std::vector<std::string>{
                  "Kestrow | Wi-Fi: no Wi-Fi adapter: the computer has no wireless interface"});
    std::string left, right;
    source.StartScreenTexts(left, right);
    EXPECT_EQ(left + " " + right, "(Wi-Fi) (not ready)");
    scans.openError.clear();
    source.StartScreenTexts(left, right);
    EXPECT_EQ(left + " " + right, "(wlan0) (iwlwifi)");

    // The first scan is merged (and its skipped message reported); the second
    // fails: the point is given up with the reason and nothing is left.
    source.BeginSweep(0, 0);
    EXPECT_EQ(source.ContinueSweep(), SweepState::kRunning);
    EXPECT_EQ(ScanList().size(), 1u);
    EXPECT_EQ(warnings, std::vector<std::string>{"wlan0: a message at byte 96 was skipped"});
    EXPECT_EQ(source.ContinueSweep(), SweepState::kGaveUp);
    EXPECT_TRUE(ScanList().empty());
    EXPECT_FALSE(source.IsSweepRequested());
    EXPECT_FALSE(source.TakeFinishedSweep());
    EXPECT_EQ(source.GaveUpReason(),
              "The Wi-Fi scan failed: no scan results from wlan0 within 15 s.");
    EXPECT_EQ(source.ContinueSweep(), SweepState::kGaveUp);  // and stays given up

    // The next point starts afresh.
    source.BeginSweep(0, 0);
    EXPECT_EQ(source.GaveUpReason(), "");
    EXPECT_EQ(source.ContinueSweep(), SweepState::kRunning);
    EXPECT_EQ(source.ContinueSweep(), SweepState::kDone);
    EXPECT_EQ(ScanList().size(), 2u);
    EXPECT_TRUE(source.TakeFinishedSweep());
    EXPECT_EQ(m_boxes.shown.size(), 1u);

    // A driver with only a signal quality: told once a session, and each
    // such point marked. A level no receiver hears is refused, named.
    wifi::BssEntry quality = Entry(4, 2437, 0);
    quality.signalMbm.reset();
    quality.signalQuality = 40;
    scans.outcomes.insert(scans.outcomes.end(), {{{quality, Entry(5, 5180, 2100)}, "", {}, {}},
                                                 {{quality}, "", {}, {}},
                                                 {{quality}, "", {}, {}},
                                                 {{quality}, "", {}, {}}});
    warnings.clear();
    for (int p = 0; p < 2; ++p) {
        source.BeginSweep(0, 0);
        while (source.ContinueSweep() == SweepState::kRunning) {
        }
        EXPECT_TRUE(source.FinishedSweepDetails().levelsEstimated);
        EXPECT_TRUE(source.TakeFinishedSweep());
    }
    EXPECT_EQ(ScanList(), (std::map<std::string, Row>{{"000000000004", {6, -160, 2}}}));
    ASSERT_EQ(m_boxes.shown.size(), 2u);
    EXPECT_EQ(m_boxes.shown[1],
              "COVERAGE WARNING | The Wi-Fi adapter (iwlwifi) reports only a signal quality, not "
              "levels: the levels recorded are estimates (quality 0 to 100 as -100 to -50 dBm).");
    ASSERT_EQ(warnings.size(), 2u);
    EXPECT_EQ(warnings[0],
              "wlan0: access point 00:00:00:00:00:05 reported 21 dBm, which no receiver hears; "
              "left out");
}

// What a live scan records, and what its saved scans record when replayed,
// are the same: access points, levels, channels, frequencies, widths, noise.
TEST_F(WifiScanSourceTest, ALiveScanAndItsSavedScansRecordTheSame) {
    fake::Kernel kernel;
    kernel.Cache(Heard(9, 2412, -66, "Gone"), -8000);  // cached from the last point
    Bss hidden = Heard(7, 5180, -71, std::string(5, '\0')), answer = Heard(7, 5180, -69, "Lab");
    answer.probeResponse = true;
    hidden.elements = *hidden.elements + HtOperation(true) + VhtOperation(1, 42, 0);
    answer.elements = *answer.elements + HtOperation(true) + VhtOperation(1, 42, 0);
    kernel.hears = {{Heard(1, 2412, -48, "Corp"), 300},
                    {hidden, 900},
                    {answer, 950},
                    {Heard(2, 2437, -58, "Corp"), 1200},
                    {Heard(2, 2442, -83, "Corp"), 1250},
                    {Heard(3, 5955, -75, "Six"), 2600}};
    kernel.survey = {{2412, -92, false}, {5180, -96, true}, {5955, -99, false}};
    const std::string saved = ::testing::TempDir() + "live_" + std::to_string(::getpid()) + ".dump";
    std::remove(saved.c_str());

    std::vector<std::string> liveWarnings;
    auto scanner = std::make_unique<wifi::WifiScanner>(
        std::make_unique<wifi::Nl80211Transport>(kernel.System()),
        std::vector<std::unique_ptr<wifi::ExternalScanner>>{}, wifi::WifiScannerOptions{});
    wifi::WifiScanSource live(
        std::move(scanner), 2, [&](const std::string& w) { liveWarnings.push_back(w); },
        [&] { return kernel.now; });
    live.SaveScansTo(saved);
    const auto survey = [&](wifi::WifiScanSource& source) {
        source.BeginSweep(0, 0);
        while (source.ContinueSweep() == SweepState::kRunning) {
        }
        EXPECT_TRUE(source.TakeFinishedSweep());
        return std::make_pair(ScanList(), source.FinishedSweepDetails());
    };
    const auto [liveList, liveDetails] = survey(live);
    EXPECT_EQ(liveWarnings, std::vector<std::string>{});
    EXPECT_EQ(liveList.size(), 4u);  // 1, 2, 3 and the hidden network, named
    EXPECT_EQ(std::get<2>(liveList.at("021122334407")), 2);  // one a scan

    std::string error;
    auto replay = wifi::ScanReplay::Load(saved, error);
    ASSERT_TRUE(replay) << error;
    EXPECT_EQ(replay->ScanCount(), 2u);
    wifi::WifiScanSource played(std::move(replay), 2);
    const auto [playedList, playedDetails] = survey(played);
    EXPECT_EQ(playedList, liveList);
    ASSERT_EQ(playedDetails.channels.size(), liveDetails.channels.size());
    for (size_t i = 0; i < liveDetails.channels.size(); ++i) {
        EXPECT_EQ(playedDetails.channels[i].mac, liveDetails.channels[i].mac);
        EXPECT_EQ(playedDetails.channels[i].frequencyMhz, liveDetails.channels[i].frequencyMhz);
        EXPECT_EQ(playedDetails.channels[i].widthMhz, liveDetails.channels[i].widthMhz);
    }
    EXPECT_EQ(liveDetails.channels[1].widthMhz, 80);
    ASSERT_EQ(playedDetails.noise.size(), 3u);
    EXPECT_EQ(playedDetails.noise[1].noiseDbm, liveDetails.noise[1].noiseDbm);
    std::remove(saved.c_str());
}

}  // namespace
