// The scan's state machine over a fake netlink transport and a fake
// NetworkManager, on a fake clock: which requests it makes, how long it waits,
// what it hands back and what it says when it fails.
#include "wifi/wifi_scanner.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <deque>
#include <functional>

#include "tests/wifi/dump_bytes.h"

namespace {

using namespace dump_bytes;
using wifi::ScanEvent;
using wifi::ScanStatus;

constexpr uint64_t kBootNs = 100'000'000'000;  // CLOCK_BOOTTIME when the fake clock reads 0

class FakeTransport : public wifi::NetlinkTransport {
  public:
    std::vector<wifi::WirelessInterface> interfaces{{"wlan0", 3, true, true, "iwlwifi", "phy0"}};
    std::string listError;
    std::deque<int> triggerAnswers;                    // 0 once they run out
    std::deque<std::pair<int64_t, ScanEvent>> events;  // at fake-clock times
    std::function<Bytes()> dump = [] { return Done(); };
    int dumpAnswer = 0;

    int64_t now = 0;
    std::vector<int64_t> triggers;  // when each trigger was sent
    int dumps = 0;
    int64_t longestWait = 0;

    bool ListInterfaces(std::vector<wifi::WirelessInterface>& out, std::string& error) override {
        error = listError;
        out = interfaces;
        return listError.empty();
    }
    int TriggerScan(uint32_t ifindex) override {
        EXPECT_EQ(ifindex, chosenIfindex);
        triggers.push_back(now);
        if (triggerAnswers.empty()) {
            return 0;
        }
        const int answer = triggerAnswers.front();
        triggerAnswers.pop_front();
        return answer;
    }
    ScanEvent WaitScanEvent(uint32_t, std::chrono::milliseconds timeout) override {
        longestWait = std::max<int64_t>(longestWait, timeout.count());
        if (!events.empty() && events.front().first <= now + timeout.count()) {
            now = std::max(now, events.front().first);
            const ScanEvent event = events.front().second;
            events.pop_front();
            return event;
        }
        now += timeout.count();
        return ScanEvent::kNone;
    }
    int DumpScan(uint32_t, std::vector<uint8_t>& bytes) override {
        ++dumps;
        bytes = dump();
        return dumpAnswer;
    }
    int64_t NowMs() override { return now; }
    uint64_t BoottimeNs() override { return kBootNs + static_cast<uint64_t>(now) * 1000000u; }

    uint32_t chosenIfindex = 3;
};

class FakeNetworkManager : public wifi::NetworkManagerScanner {
  public:
    explicit FakeNetworkManager(FakeTransport& clock) : m_clock(clock) {}
    std::string lastScanError, requestError;
    int scanMs = 2500;  // how long its scans take; -1: never end
    int requests = 0;

    bool LastScan(const std::string& iface, int64_t& lastScan, std::string& error) override {
        EXPECT_EQ(iface, "wlan0");
        error = lastScanError;
        lastScan = m_finishAt >= 0 && m_clock.now >= m_finishAt ? 2000 + m_finishAt : 1000;
        return lastScanError.empty();
    }
    bool RequestScan(const std::string&, std::string& error) override {
        ++requests;
        error = requestError;
        if (scanMs >= 0) {
            m_finishAt = m_clock.now + scanMs;
        }
        return requestError.empty();
    }

  private:
    FakeTransport& m_clock;
    int64_t m_finishAt = -1;
};

// A BSS last seen `ms` after the fake clock's zero.
Bss SeenAt(int64_t ms, uint8_t last) {
    Bss b;
    b.mac[5] = last;
    b.boottimeNs = kBootNs + static_cast<uint64_t>(ms) * 1000000u;
    return b;
}

struct Rig {
    FakeTransport* transport;
    FakeNetworkManager* networkManager;
    std::unique_ptr<wifi::WifiScanner> scanner;
};

Rig MakeRig(wifi::WifiScannerOptions options = {}, bool withNetworkManager = true) {
    auto transport = std::make_unique<FakeTransport>();
    Rig rig{transport.get(), nullptr, nullptr};
    std::unique_ptr<FakeNetworkManager> nm;
    if (withNetworkManager) {
        nm = std::make_unique<FakeNetworkManager>(*transport);
        rig.networkManager = nm.get();
    }
    rig.scanner = std::make_unique<wifi::WifiScanner>(std::move(transport), std::move(nm), options);
    return rig;
}

// Polls as the window's loop does, every 100 ms, until the scan ends. No
// poll may wait longer than asked.
ScanStatus RunScan(Rig& rig) {
    rig.scanner->Start();
    ScanStatus status = rig.scanner->Status();
    for (int i = 0; i < 1000 && status == ScanStatus::kRunning; ++i) {
        const int64_t before = rig.transport->now;
        status = rig.scanner->Poll(std::chrono::milliseconds(100));
        EXPECT_LE(rig.transport->now - before, 100);
    }
    return status;
}

std::string MacEnding(const wifi::BssEntry& e) {
    return std::to_string(e.bssid[5]);
}

TEST(WifiScanner, AcceptedTriggerWaitsForResultsAndDropsStaleOnes) {
    Rig rig = MakeRig();
    rig.transport->events = {{3000, ScanEvent::kNewResults}};
    // The kernel's cache holds an entry from before the scan; a new one is
    // heard at 0.5 s, another at 2.5 s.
    rig.transport->dump = [&] {
        std::vector<Bss> heard = {SeenAt(-4000, 1), SeenAt(500, 2)};
        if (rig.transport->now >= 2500) {
            heard.push_back(SeenAt(2500, 3));
        }
        return Dump(heard);
    };
    rig.scanner->Start();
    std::vector<size_t> heardWhileRunning;
    while (rig.scanner->Poll(std::chrono::milliseconds(100)) == ScanStatus::kRunning) {
        heardWhileRunning.push_back(rig.scanner->Heard().size());
    }
    ASSERT_EQ(rig.scanner->Status(), ScanStatus::kDone) << rig.scanner->Error();
    // Access points come in while the scan runs, read once a second.
    EXPECT_EQ(heardWhileRunning.front(), 0u);
    EXPECT_EQ(heardWhileRunning.back(), 1u);
    EXPECT_EQ(rig.transport->dumps, 3);  // at 1 s, at 2 s, and the results
    ASSERT_EQ(rig.scanner->Heard().size(), 2u);
    EXPECT_EQ(MacEnding(rig.scanner->Heard()[0]), "2");
    EXPECT_EQ(MacEnding(rig.scanner->Heard()[1]), "3");
    EXPECT_EQ(rig.scanner->DumpBytes(),
              Dump({SeenAt(-4000, 1), SeenAt(500, 2), SeenAt(2500, 3)}));  // saved whole
    EXPECT_EQ(rig.transport->triggers, std::vector<int64_t>{0});
    rig.transport->now += 700;
    EXPECT_EQ(rig.scanner->ElapsedMs(), 3000);
    EXPECT_FALSE(rig.scanner->UsedNetworkManager());
    EXPECT_EQ(rig.scanner->AdapterName(), "wlan0");
    EXPECT_EQ(rig.scanner->AdapterDriver(), "iwlwifi");

    // A dump the kernel marks as interrupted is read again.
    wifi::WifiScannerOptions quiet;
    quiet.progressIntervalMs = 0;
    Rig again = MakeRig(quiet);
    again.transport->events = {{1000, ScanEvent::kNewResults}};
    again.transport->dump = [&] {
        if (again.transport->dumps == 1) {
            return ScanResultMessage(Attr(NL80211_ATTR_BSS, SeenAt(900, 8).Attributes()),
                                     NL80211_CMD_NEW_SCAN_RESULTS, NLM_F_MULTI | NLM_F_DUMP_INTR) +
                   Done();
        }
        return Dump({SeenAt(900, 9)});
    };
    ASSERT_EQ(RunScan(again), ScanStatus::kDone);
    EXPECT_EQ(again.transport->dumps, 2);
    ASSERT_EQ(again.scanner->Heard().size(), 1u);
    EXPECT_EQ(MacEnding(again.scanner->Heard()[0]), "9");
}

TEST(WifiScanner, RefusedTriggerGoesThroughNetworkManager) {
    Rig rig = MakeRig();
    rig.transport->triggerAnswers = {-EPERM};
    rig.transport->dump = [] { return Dump({SeenAt(-10, 1), SeenAt(1200, 2)}); };
    ASSERT_EQ(RunScan(rig), ScanStatus::kDone) << rig.scanner->Error();
    EXPECT_TRUE(rig.scanner->UsedNetworkManager());
    EXPECT_EQ(rig.networkManager->requests, 1);
    EXPECT_EQ(rig.transport->triggers.size(), 1u);
    EXPECT_GE(rig.transport->now, 2500);
    EXPECT_LE(rig.transport->now, 2500 + 100);  // LastScan read at every poll
    ASSERT_EQ(rig.scanner->Heard().size(), 1u);
    EXPECT_EQ(MacEnding(rig.scanner->Heard()[0]), "2");

    // Neither way works: one line that names what is missing and the fixes,
    // and nothing heard.
    struct Case {
        int trigger;
        bool withNetworkManager;
        std::string lastScanError, requestError;
        std::string expected;
    } cases[] = {
        {-EPERM, true, "NetworkManager is not running", "", "(NetworkManager is not running)"},
        {-EACCES, true, "", "NetworkManager does not allow this user to scan", "does not allow"},
        {-EPERM, false, "", "", "not available in this build"},
    };
    for (const Case& c : cases) {
        Rig failing = MakeRig({}, c.withNetworkManager);
        failing.transport->triggerAnswers = {c.trigger};
        if (failing.networkManager) {
            failing.networkManager->lastScanError = c.lastScanError;
            failing.networkManager->requestError = c.requestError;
        }
        EXPECT_EQ(RunScan(failing), ScanStatus::kFailed);
        const std::string& error = failing.scanner->Error();
        EXPECT_NE(error.find("cannot scan with wlan0"), std::string::npos) << error;
        EXPECT_NE(error.find("CAP_NET_ADMIN"), std::string::npos) << error;
        EXPECT_NE(error.find(c.expected), std::string::npos) << error;
        EXPECT_NE(error.find("run NetworkManager"), std::string::npos) << error;
        EXPECT_NE(error.find("sudo setcap cap_net_admin+ep $(which kestrow)"), std::string::npos);
        EXPECT_EQ(error.find('\n'), std::string::npos);
        EXPECT_TRUE(failing.scanner->Heard().empty());
        EXPECT_EQ(failing.transport->dumps, 0);
    }

    // NetworkManager takes the request but never finishes: a bounded wait.
    Rig stuck = MakeRig();
    stuck.transport->triggerAnswers = {-EPERM};
    stuck.networkManager->scanMs = -1;
    EXPECT_EQ(RunScan(stuck), ScanStatus::kFailed);
    EXPECT_EQ(stuck.scanner->Error(), "NetworkManager did not finish a scan of wlan0 within 20 s");
    EXPECT_EQ(stuck.transport->now, 20000);
    EXPECT_TRUE(stuck.scanner->Heard().empty());
}

TEST(WifiScanner, AbortedOrBusyScansAreTriedOnceMore) {
    Rig aborted = MakeRig();
    aborted.transport->events = {{2000, ScanEvent::kAborted}, {5000, ScanEvent::kNewResults}};
    aborted.transport->dump = [] { return Dump({SeenAt(1000, 1), SeenAt(3000, 2)}); };
    ASSERT_EQ(RunScan(aborted), ScanStatus::kDone);
    EXPECT_EQ(aborted.transport->triggers, (std::vector<int64_t>{0, 2000}));
    // Only what the second scan heard counts.
    ASSERT_EQ(aborted.scanner->Heard().size(), 1u);
    EXPECT_EQ(MacEnding(aborted.scanner->Heard()[0]), "2");

    Rig twice = MakeRig();
    twice.transport->events = {{2000, ScanEvent::kAborted}, {4000, ScanEvent::kAborted}};
    EXPECT_EQ(RunScan(twice), ScanStatus::kFailed);
    EXPECT_EQ(twice.scanner->Error(), "the scan on wlan0 was aborted twice");
    EXPECT_EQ(twice.transport->triggers.size(), 2u);

    // Another program's scan is running: its end is awaited, then ours runs.
    Rig busy = MakeRig();
    busy.transport->triggerAnswers = {-EBUSY};
    busy.transport->events = {{1500, ScanEvent::kNewResults}, {4000, ScanEvent::kNewResults}};
    busy.transport->dump = [] { return Dump({SeenAt(1000, 1), SeenAt(3000, 2)}); };
    ASSERT_EQ(RunScan(busy), ScanStatus::kDone);
    EXPECT_EQ(busy.transport->triggers, (std::vector<int64_t>{0, 1500}));
    ASSERT_EQ(busy.scanner->Heard().size(), 1u);
    EXPECT_EQ(MacEnding(busy.scanner->Heard()[0]), "2");
}

TEST(WifiScanner, FailuresAreBoundedAndSayWhy) {
    Rig silent = MakeRig();
    EXPECT_EQ(RunScan(silent), ScanStatus::kFailed);
    EXPECT_EQ(silent.scanner->Error(), "no scan results from wlan0 within 15 s");
    EXPECT_EQ(silent.transport->now, 15000);

    struct Case {
        int trigger;
        int dumpAnswer;
        std::string error;
    } cases[] = {
        {-ENETDOWN, 0, "wlan0 is down: bring it up"},
        {-ETIMEDOUT, 0, "the kernel did not answer the scan request on wlan0"},
        {-EINVAL, 0, "the scan request on wlan0 was refused: Invalid argument"},
        {0, -ENOBUFS, "the scan results of wlan0 could not be read: No buffer space available"},
    };
    for (const Case& c : cases) {
        Rig rig = MakeRig();
        rig.transport->triggerAnswers = {c.trigger};
        rig.transport->events = {{500, ScanEvent::kNewResults}};
        rig.transport->dumpAnswer = c.dumpAnswer;
        rig.transport->dump = [] { return Dump({SeenAt(100, 1)}); };
        EXPECT_EQ(RunScan(rig), ScanStatus::kFailed);
        EXPECT_EQ(rig.scanner->Error().rfind(c.error, 0), 0u) << rig.scanner->Error();
        EXPECT_TRUE(rig.scanner->Heard().empty());
    }

    Rig cancelled = MakeRig();
    cancelled.transport->events = {{5000, ScanEvent::kNewResults}};
    cancelled.transport->dump = [] { return Dump({SeenAt(100, 1)}); };
    cancelled.scanner->Start();
    cancelled.scanner->Poll(std::chrono::milliseconds(1500));
    EXPECT_FALSE(cancelled.scanner->Heard().empty());  // heard while running
    cancelled.scanner->Cancel();
    EXPECT_EQ(cancelled.scanner->Status(), ScanStatus::kFailed);
    EXPECT_EQ(cancelled.scanner->Error(), "the scan was cancelled");
    EXPECT_TRUE(cancelled.scanner->Heard().empty());
}

TEST(WifiScanner, ChoosesTheInterface) {
    auto open = [](std::vector<wifi::WirelessInterface> interfaces, const std::string& iface,
                   const std::string& listError = "") {
        wifi::WifiScannerOptions options;
        options.iface = iface;
        Rig rig = MakeRig(options);
        rig.transport->interfaces = std::move(interfaces);
        rig.transport->listError = listError;
        rig.scanner->Open();
        return rig;
    };
    const std::vector<wifi::WirelessInterface> three = {
        {"mon0", 4, true, false, "ath9k", "phy1"},
        {"wlan0", 3, false, true, "iwlwifi", "phy0"},
        {"wlan1", 7, true, true, "mt76x2u", "phy2"},
    };
    Rig chosen = open(three, "");
    EXPECT_EQ(chosen.scanner->AdapterName(), "wlan1");
    EXPECT_EQ(chosen.scanner->AdapterDriver(), "mt76x2u");
    chosen.transport->chosenIfindex = 7;
    chosen.transport->events = {{100, ScanEvent::kNewResults}};
    EXPECT_EQ(RunScan(chosen), ScanStatus::kDone);

    EXPECT_EQ(open(three, "wlan0").scanner->Error().rfind("wlan0 is down: bring it up", 0), 0u);
    EXPECT_EQ(open(three, "eth0").scanner->Error(),
              "eth0 is not a wireless interface (wireless interfaces: mon0, wlan0, wlan1)");
    EXPECT_EQ(
        open({three[0], three[1]}, "").scanner->Error().rfind("no wireless interface is up", 0),
        0u);
    EXPECT_EQ(open({}, "").scanner->Error(),
              "no Wi-Fi adapter: the computer has no wireless interface");
    Rig none = open({}, "", "no Wi-Fi adapter: the kernel offers no nl80211");
    EXPECT_EQ(none.scanner->Error(), "no Wi-Fi adapter: the kernel offers no nl80211");
    // A scan without an adapter fails at once and triggers nothing.
    none.scanner->Start();
    EXPECT_EQ(none.scanner->Status(), ScanStatus::kFailed);
    EXPECT_TRUE(none.transport->triggers.empty());
}

}  // namespace
