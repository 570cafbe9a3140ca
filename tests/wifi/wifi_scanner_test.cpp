// The scan's state machine and the nl80211 transport over the fake kernel,
// NetworkManager and iwd of fake_kernel.h, on their clock: which requests
// reach the kernel and when, which events count, what a finished scan hands
// back and what a failed one says.
#include "wifi/wifi_scanner.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "tests/wifi/fake_kernel.h"
#include "wifi/network_manager.h"
#include "wifi/scan_helper.h"

namespace {

using namespace dump_bytes;
using fake::Hears;
using wifi::ScanStatus;

struct Rig {
    std::unique_ptr<fake::Kernel> kernel = std::make_unique<fake::Kernel>();
    std::shared_ptr<fake::Bus> bus = std::make_shared<fake::Bus>(*kernel);
    std::unique_ptr<wifi::WifiScanner> scanner;
};

// `helper`: 0 none, 1 one without the capability, 2 one with it.
Rig MakeRig(wifi::WifiScannerOptions options = {}, int helper = 0) {
    Rig rig;
    std::vector<std::unique_ptr<wifi::ExternalScanner>> services;
    services.push_back(std::make_unique<wifi::NetworkManagerBus>(rig.bus));
    services.push_back(std::make_unique<wifi::IwdBus>(rig.bus));
    auto transport = std::make_unique<wifi::Nl80211Transport>(
        rig.kernel->System(), helper ? rig.kernel->Helper(helper == 2) : nullptr);
    rig.scanner =
        std::make_unique<wifi::WifiScanner>(std::move(transport), std::move(services), options);
    return rig;
}

// Polls as the window's loop does, every 100 ms, until the scan ends. No
// poll may wait longer than asked.
ScanStatus RunScan(Rig& rig) {
    rig.scanner->Start();
    ScanStatus status = rig.scanner->Status();
    for (int i = 0; i < 2000 && status == ScanStatus::kRunning; ++i) {
        const int64_t before = rig.kernel->now;
        status = rig.scanner->Poll(std::chrono::milliseconds(100));
        EXPECT_LE(rig.kernel->now - before, 100);
    }
    return status;
}

std::vector<int> Endings(const wifi::WifiScanner& scanner) {
    std::vector<int> endings;
    for (const wifi::BssEntry& e : scanner.Heard()) {
        endings.push_back(e.bssid[5]);
    }
    std::sort(endings.begin(), endings.end());
    return endings;
}

TEST(WifiScanner, OurScanCountsFromItsOwnStartToItsOwnEnd) {
    Rig rig = MakeRig();
    fake::Kernel& kernel = *rig.kernel;
    kernel.Cache(Heard(1, 2412, -60, "Old"), -4000);  // still cached from before
    Bss six = Heard(3, 5955, -70, "Six");
    six.elements = SsidElement("Six") + He6GhzOperation(3);
    six.padded = true;
    kernel.hears = {{Heard(2, 2412, -50, "Near"), 500}, {six, 2500}};
    kernel.survey = {{2412, -92, true}, {5955, -97, false}, {5180, std::nullopt, false}};
    // An earlier scan's end arrives just after our trigger goes in: it is
    // not ours, and reading the results then would find nothing of ours.
    kernel.beforeTrigger = [&] { kernel.Event(NL80211_CMD_NEW_SCAN_RESULTS, 3, {}); };
    ASSERT_EQ(RunScan(rig), ScanStatus::kDone) << rig.scanner->Error();
    EXPECT_EQ(kernel.now, 3000);
    EXPECT_EQ(Endings(*rig.scanner), (std::vector<int>{2, 3}));
    EXPECT_EQ(rig.scanner->Heard().back().widthMhz, 160);
    EXPECT_TRUE(rig.scanner->Warnings().empty());
    // One active scan of every channel, asking for the 6 GHz access points
    // that 2.4 and 5 GHz ones announce.
    ASSERT_EQ(kernel.requests.size(), 1u);
    EXPECT_TRUE(kernel.requests[0].colocated6Ghz);
    EXPECT_FALSE(kernel.requests[0].passive);
    EXPECT_TRUE(kernel.requests[0].frequencies.empty());
    // The survey's noise where the driver measured it.
    ASSERT_EQ(rig.scanner->Survey().size(), 3u);
    EXPECT_EQ(rig.scanner->Survey()[1].noiseDbm, -97);
    EXPECT_TRUE(rig.scanner->Survey()[0].inUse);
    EXPECT_FALSE(rig.scanner->Survey()[2].noiseDbm);

    // Saved: the note (started at 0, read at 3 s), the kernel's dump whole
    // (the stale entry too), the survey.
    const std::vector<uint8_t> saved = rig.scanner->SavedScan();
    bool cut = false;
    std::string cutMessage;
    const wifi::ScanDump dump =
        wifi::ParseSavedScan(saved.data(), saved.size(), 0, cut, cutMessage);
    ASSERT_FALSE(cut) << cutMessage;
    ASSERT_TRUE(dump.note);
    EXPECT_EQ(dump.note->scanStartNs, fake::kBootNs);
    EXPECT_EQ(dump.note->dumpNs, fake::kBootNs + 3'000'000'000u);
    EXPECT_EQ(dump.entries.size(), 3u);
    EXPECT_EQ(dump.survey.size(), 3u);
    EXPECT_EQ(dump.end, saved.size());

    // The full 6 GHz scan: afterwards, a passive one of the 6 GHz channels
    // the first scan covered.
    wifi::WifiScannerOptions full;
    full.full6Ghz = true;
    Rig slow = MakeRig(full);
    ASSERT_EQ(RunScan(slow), ScanStatus::kDone) << slow.scanner->Error();
    ASSERT_EQ(slow.kernel->requests.size(), 2u);
    EXPECT_TRUE(slow.kernel->requests[1].passive);
    EXPECT_EQ(slow.kernel->requests[1].frequencies, (std::vector<uint32_t>{5955, 6035, 6115}));
    EXPECT_EQ(slow.kernel->now, 6000);
}

TEST(WifiScanner, ABusyRadioIsAskedAgainUntilItIsFree) {
    // The radio's Wi-Fi Direct device scans twice in a row: asked again
    // every 0.75 s and at each of its ends (no interface, the same wiphy),
    // which are never our end. Another adapter's end frees nothing.
    Rig twice = MakeRig();
    twice.kernel->OtherScan(0, 1200);
    twice.kernel->OtherScan(1200, 1800);
    twice.kernel->At(300, [&] { twice.kernel->Event(NL80211_CMD_NEW_SCAN_RESULTS, 9, {}, 1); });
    twice.kernel->hears = {{Heard(9, 5180, -55, "Lab"), 1000}};
    ASSERT_EQ(RunScan(twice), ScanStatus::kDone) << twice.scanner->Error();
    EXPECT_EQ(twice.kernel->triggers, (std::vector<int64_t>{0, 750, 1200, 1800}));
    EXPECT_EQ(twice.kernel->now, 4800);
    EXPECT_EQ(Endings(*twice.scanner), std::vector<int>{9});

    // A radar check sends no events: asked every 0.75 s, for 30 s.
    Rig radar = MakeRig();
    radar.kernel->OtherScan(0, 100000, false);
    EXPECT_EQ(RunScan(radar), ScanStatus::kFailed);
    EXPECT_EQ(radar.kernel->triggers.size(), 41u);
    EXPECT_EQ(radar.kernel->triggers[1], 750);
    EXPECT_EQ(radar.scanner->Error().rfind("the adapter is busy: phy0 (wlan0) was still", 0), 0u)
        << radar.scanner->Error();

    // A scan that never ends is aborted at 30 s, so the next one is not
    // refused as busy.
    Rig stuck = MakeRig();
    stuck.kernel->scanMs = 100000;
    EXPECT_EQ(RunScan(stuck), ScanStatus::kFailed);
    EXPECT_EQ(stuck.scanner->Error(), "no scan results from wlan0 within 30 s");
    EXPECT_EQ(stuck.kernel->aborts, std::vector<int64_t>{30000});
    stuck.kernel->scanMs = 3000;
    EXPECT_EQ(RunScan(stuck), ScanStatus::kDone) << stuck.scanner->Error();

    // Aborted by the kernel: tried once more; twice is the end.
    Rig aborted = MakeRig();
    aborted.kernel->At(1000, [&] { aborted.kernel->Abort(3); });
    aborted.kernel->At(2000, [&] { aborted.kernel->Abort(3); });
    EXPECT_EQ(RunScan(aborted), ScanStatus::kFailed);
    EXPECT_EQ(aborted.kernel->triggers, (std::vector<int64_t>{0, 1000}));
    EXPECT_EQ(aborted.scanner->Error(), "the scan on wlan0 was aborted twice");

    // A cancelled scan stops in the kernel too.
    Rig cancelled = MakeRig();
    cancelled.scanner->Start();
    cancelled.scanner->Poll(std::chrono::milliseconds(500));
    cancelled.scanner->Cancel();
    EXPECT_EQ(cancelled.scanner->Error(), "the scan was cancelled");
    EXPECT_EQ(cancelled.kernel->aborts, std::vector<int64_t>{500});
    EXPECT_FALSE(cancelled.kernel->Scanning());
}

TEST(WifiScanner, WhatTheKernelDoesWrongIsSurvived) {
    // A result list that changes while it is read is read again, up to five
    // times, then used with a warning.
    wifi::WifiScannerOptions quiet;
    quiet.progressIntervalMs = 0;
    Rig changing = MakeRig(quiet);
    changing.kernel->hears = {{Heard(1, 2412, -50, "A"), 100}, {Heard(2, 2437, -50, "B"), 200}};
    changing.kernel->interruptDumps = 2;
    ASSERT_EQ(RunScan(changing), ScanStatus::kDone);
    EXPECT_EQ(changing.kernel->scanDumps, 3);
    EXPECT_TRUE(changing.scanner->Warnings().empty());
    changing.kernel->interruptDumps = 100;
    ASSERT_EQ(RunScan(changing), ScanStatus::kDone);
    EXPECT_EQ(changing.kernel->scanDumps, 3 + 5);
    ASSERT_EQ(changing.scanner->Warnings().size(), 1u);
    EXPECT_NE(changing.scanner->Warnings()[0].find("changed during each of 5 reads"),
              std::string::npos);
    EXPECT_EQ(changing.scanner->Heard().size(), 2u);

    // A thousand access points of 2 KB of elements each: a reply of many
    // datagrams, marked interrupted half-way and on its end, read again.
    Rig crowded = MakeRig(quiet);
    for (int i = 0; i < 1000; ++i) {
        Bss b = Heard(static_cast<uint8_t>(i), 5180, -70, "Crowd");
        b.mac[4] = static_cast<uint8_t>(i >> 8);
        b.elements = *b.elements + Element(221, std::string(250, 'v')) +
                     Element(221, std::string(250, 'w')) + Element(221, std::string(250, 'x')) +
                     Element(221, std::string(250, 'y')) + Element(221, std::string(250, 'z')) +
                     Element(221, std::string(250, 'a')) + Element(221, std::string(250, 'b')) +
                     Element(221, std::string(250, 'c'));
        crowded.kernel->hears.push_back({b, 100});
    }
    crowded.kernel->interruptDumps = 1;
    ASSERT_EQ(RunScan(crowded), ScanStatus::kDone) << crowded.scanner->Error();
    EXPECT_EQ(crowded.kernel->scanDumps, 2);
    EXPECT_EQ(crowded.scanner->Heard().size(), 1000u);
    EXPECT_GT(crowded.scanner->SavedScan().size(), 1000u * 2000);

    // Unplugged and plugged in again: the interface is found again once,
    // under its new index.
    Rig replugged = MakeRig();
    ASSERT_EQ(RunScan(replugged), ScanStatus::kDone);
    replugged.kernel->Replug(replugged.kernel->now, 7);
    ASSERT_EQ(RunScan(replugged), ScanStatus::kDone) << replugged.scanner->Error();
    EXPECT_EQ(replugged.kernel->triggers.size(), 3u);  // the first, the refused, the new
    replugged.kernel->interfaces.clear();
    EXPECT_EQ(RunScan(replugged), ScanStatus::kFailed);
    EXPECT_EQ(replugged.scanner->Error(),
              "wlan0 has gone (was the adapter unplugged?): plug it in again and try again");

    // The events socket overruns before our end: the results are read with a
    // warning. Another program's datagram that claims our end is ignored.
    Rig overrun = MakeRig();
    overrun.kernel->hears = {{Heard(1, 2412, -50, "A"), 100}, {Heard(2, 2412, -50, "B"), 2500}};
    overrun.kernel->Spoof(50, ScanResultMessage(ValueAttr<uint32_t>(NL80211_ATTR_WIPHY, 0) +
                                                    ValueAttr<uint32_t>(NL80211_ATTR_IFINDEX, 3),
                                                NL80211_CMD_NEW_SCAN_RESULTS, 0, 0, 0));
    overrun.kernel->Overrun(1500);
    ASSERT_EQ(RunScan(overrun), ScanStatus::kDone);
    EXPECT_EQ(overrun.kernel->now, 1500);
    EXPECT_EQ(Endings(*overrun.scanner), std::vector<int>{1});
    ASSERT_EQ(overrun.scanner->Warnings().size(), 1u);
    EXPECT_NE(overrun.scanner->Warnings()[0].find("events were lost"), std::string::npos);

    // A refusal carries the kernel's reason, whether the request is echoed
    // before it or not.
    for (bool capped : {true, false}) {
        Rig refused = MakeRig();
        refused.kernel->capAck = capped;
        refused.kernel->refuseTriggers = -EINVAL;
        refused.kernel->SetReason("unsupported scan flags");
        EXPECT_EQ(RunScan(refused), ScanStatus::kFailed);
        EXPECT_EQ(refused.scanner->Error(),
                  "the scan request on wlan0 was refused: Invalid argument (the kernel says: "
                  "unsupported scan flags)");
    }
}

TEST(WifiScanner, WithoutTheCapabilityTheHelperOrAServiceScans) {
    // kscan, given the capability, starts our scan.
    Rig helped = MakeRig({}, 2);
    helped.kernel->privileged = false;
    ASSERT_EQ(RunScan(helped), ScanStatus::kDone) << helped.scanner->Error();
    EXPECT_EQ(helped.scanner->ScannedThrough(), "the scan helper");
    EXPECT_EQ(helped.kernel->now, 3000);

    // NetworkManager answers at once and scans later; whatever else ends
    // meanwhile is not our scan. On wpa_supplicant a background scan ends
    // 0.4 s after the request (where LastScan would change); NetworkManager
    // scans 1.5 s after its last scan (8 s while connected); on iwd the scan
    // comes in two parts, the second starting when the first ends (where
    // LastScan would change too).
    struct Case {
        int deferMs, parts;
        bool background;
        int64_t doneAt;
    } cases[] = {
        {1500, 1, true, 4500 + 1000}, {8000, 1, false, 11000 + 1000}, {0, 2, false, 3005 + 1000}};
    for (const Case& c : cases) {
        Rig rig = MakeRig({}, 1);
        rig.kernel->privileged = false;
        rig.bus->deferMs = c.deferMs;
        rig.bus->parts = c.parts;
        if (c.background) {
            rig.kernel->scanMs = 400;  // running since before the request, ends 0.4 s after
            rig.kernel->StartScan(3, {}, 1, false);
            rig.kernel->scanMs = 3000;
            rig.kernel->triggers.clear();
        }
        // Heard near the end of the scan (its second part, on iwd).
        rig.kernel->hears = {{Heard(4, 5180, -61, "Late"), 2900}};
        ASSERT_EQ(RunScan(rig), ScanStatus::kDone) << rig.scanner->Error();
        EXPECT_EQ(rig.scanner->ScannedThrough(), "NetworkManager");
        EXPECT_EQ(rig.bus->requests, 1);
        EXPECT_NEAR(rig.kernel->now, c.doneAt, 100) << c.deferMs;
        EXPECT_EQ(Endings(*rig.scanner), std::vector<int>{4}) << c.deferMs;
    }

    // After NetworkManager restarts, the device's new path is found again.
    Rig restarted = MakeRig();
    restarted.kernel->privileged = false;
    ASSERT_EQ(RunScan(restarted), ScanStatus::kDone) << restarted.scanner->Error();
    restarted.bus->generation = 2;
    ASSERT_EQ(RunScan(restarted), ScanStatus::kDone) << restarted.scanner->Error();
    EXPECT_EQ(restarted.scanner->ScannedThrough(), "NetworkManager");

    // NetworkManager that takes the request and never scans: 35 s.
    Rig never = MakeRig();
    never.kernel->privileged = false;
    never.bus->deferMs = 60000;
    EXPECT_EQ(RunScan(never), ScanStatus::kFailed);
    EXPECT_EQ(never.scanner->Error(), "NetworkManager did not start a scan of wlan0 within 35 s");
    EXPECT_EQ(never.kernel->now, 35000);

    // iwd alone: its Scanning property ends the wait as soon as its last
    // part is over; after iwd restarts, its station is found again.
    Rig iwd = MakeRig();
    iwd.kernel->privileged = false;
    iwd.bus->networkManager = false;
    iwd.bus->iwd = true;
    iwd.bus->parts = 2;
    ASSERT_EQ(RunScan(iwd), ScanStatus::kDone) << iwd.scanner->Error();
    EXPECT_EQ(iwd.scanner->ScannedThrough(), "iwd");
    EXPECT_LE(iwd.kernel->now, iwd.kernel->LastEndMs() + 100);
    iwd.bus->generation = 2;
    ASSERT_EQ(RunScan(iwd), ScanStatus::kDone) << iwd.scanner->Error();

    // Nothing can scan: one line that names every reason and the fixes.
    Rig nothing = MakeRig({}, 1);
    nothing.kernel->privileged = false;
    nothing.bus->networkManager = false;
    EXPECT_EQ(RunScan(nothing), ScanStatus::kFailed);
    EXPECT_EQ(nothing.scanner->Error(),
              "cannot scan with wlan0: starting a scan needs the CAP_NET_ADMIN capability, and "
              "nothing could scan instead (the scan helper has not been given the capability; "
              "NetworkManager is not running; iwd is not running); run NetworkManager or iwd, "
              "or give the scan helper the capability once: sudo setcap cap_net_admin+ep "
              "$(which kscan)");
    nothing.bus->networkManager = true;
    nothing.bus->allowed = false;
    EXPECT_EQ(RunScan(nothing), ScanStatus::kFailed);
    EXPECT_NE(nothing.scanner->Error().find("NetworkManager does not allow this user to scan"),
              std::string::npos);
    EXPECT_TRUE(nothing.scanner->Heard().empty());
    EXPECT_EQ(nothing.kernel->scanDumps, 0);
}

TEST(WifiScanner, ChoosesTheInterfaceAndSaysWhyNot) {
    const auto open = [](std::vector<fake::Interface> interfaces, const std::string& iface) {
        wifi::WifiScannerOptions options;
        options.iface = iface;
        Rig rig = MakeRig(options);
        rig.kernel->interfaces = std::move(interfaces);
        for (const fake::Interface& i : rig.kernel->interfaces) {
            rig.kernel->WriteSysfs(i);
        }
        rig.scanner->Open();
        return rig;
    };
    const std::vector<fake::Interface> three = {
        {"mon0", 4, 1, NL80211_IFTYPE_MONITOR},
        {"wlan0", 3, 0, NL80211_IFTYPE_STATION, false},
        {"wlan1", 7, 2, NL80211_IFTYPE_STATION},
    };
    Rig chosen = open(three, "");
    EXPECT_EQ(chosen.scanner->AdapterName(), "wlan1");
    EXPECT_EQ(chosen.scanner->AdapterDriver(), "iwlwifi");
    EXPECT_EQ(RunScan(chosen), ScanStatus::kDone);

    EXPECT_EQ(open(three, "mon0").scanner->Error(),
              "mon0 is a monitor interface, which does not scan: use a client interface (wlan0, "
              "wlan1)");
    EXPECT_EQ(open({{"ap0", 5, 0, NL80211_IFTYPE_AP}}, "ap0").scanner->Error(),
              "ap0 is an access point interface, which does not scan: the adapter needs a client "
              "interface");
    EXPECT_EQ(open(three, "eth0").scanner->Error(),
              "eth0 is not a wireless interface (wireless interfaces: mon0, wlan0, wlan1)");
    EXPECT_EQ(open(three, "wlan0").scanner->Error(),
              "wlan0 is down: bring it up (ip link set wlan0 up, or connect it with "
              "NetworkManager) and try again");
    // Down because its radio is switched off.
    Rig soft = open(three, "");
    soft.kernel->interfaces.pop_back();
    soft.kernel->Rfkill("wlan0", true, false);
    soft.scanner->Open();
    EXPECT_EQ(soft.scanner->Error(),
              "no wireless interface is up: wlan0 is down: its radio is switched off (rfkill soft "
              "block); switch it on with 'rfkill unblock wifi' or 'nmcli radio wifi on' and try "
              "again");
    soft.kernel->Rfkill("wlan0", true, true);
    soft.scanner->Open();
    EXPECT_NE(soft.scanner->Error().find("Wi-Fi switch or key (rfkill hard block)"),
              std::string::npos);

    Rig none = open({}, "");
    EXPECT_EQ(none.scanner->Error(), "no Wi-Fi adapter: the computer has no wireless interface");
    none.scanner->Start();
    EXPECT_EQ(none.scanner->Status(), ScanStatus::kFailed);
    EXPECT_TRUE(none.kernel->triggers.empty());
}

}  // namespace

namespace {

// The scan helper as a child process: the arguments it gets, the answer it
// gives, and a helper that is missing or answers nonsense.
TEST(ScanHelper, RunsKscanAndReadsItsOneLine) {
    const std::string dir = ::testing::TempDir() + "helper_" + std::to_string(::getpid());
    std::filesystem::create_directories(dir);
    const auto script = [&](const std::string& name, const std::string& body) {
        const std::string path = dir + "/" + name;
        std::ofstream(path) << "#!/bin/sh\n" << body << "\n";
        std::filesystem::permissions(path, std::filesystem::perms::owner_all);
        return path;
    };
    const std::string busy = script(
        "busy", "echo \"$@\" > " + dir + "/args\necho '-16 Device or resource busy'\nexit 1");
    std::string reason;
    wifi::ScanRequest passive;
    passive.passive = true;
    passive.colocated6Ghz = false;
    passive.frequencies = {5955, 5975};
    EXPECT_EQ(wifi::MakeKscanHelper(busy)->Trigger("wlan0", passive, reason), -EBUSY);
    EXPECT_EQ(reason, "Device or resource busy");
    std::ifstream args(dir + "/args");
    std::string line;
    std::getline(args, line);
    EXPECT_EQ(line,
              "--trigger-scan --iface wlan0 --passive --no-colocated --frequencies 5955,5975");
    const std::string ok = script("ok", "echo 0");
    EXPECT_EQ(wifi::MakeKscanHelper(ok)->Abort("wlan0", reason), 0);
    const std::string refused = script("refused", "echo '-1 Operation not permitted'; exit 1");
    EXPECT_EQ(wifi::MakeKscanHelper(refused)->Trigger("wlan0", {}, reason), -EPERM);
    EXPECT_EQ(reason, "the scan helper " + refused + " has not been given the capability");
    const std::string old = script("old", "echo 'kscan: unknown argument' >&2; exit 2");
    EXPECT_EQ(wifi::MakeKscanHelper(old)->Trigger("wlan0", {}, reason), -ENOENT);
    EXPECT_EQ(wifi::MakeKscanHelper(dir + "/none")->Trigger("wlan0", {}, reason), -ENOENT);
    EXPECT_EQ(reason, "the scan helper kscan was not found");
    std::filesystem::remove_all(dir);
}

}  // namespace
