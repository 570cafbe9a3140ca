// One scan with the computer's own Wi-Fi adapter, as a state machine over the
// nl80211 transport and the services that may scan for us:
//
//   trigger --accepted--> our TRIGGER_SCAN event --> NEW_SCAN_RESULTS --> dump, survey --> done
//      |  \--EBUSY (the radio scans or checks for radar)--> its end, or 0.75 s --> trigger again
//      |  \--ENODEV (the adapter was plugged out and in)--> find the interface again, once
//      |                                  \--SCAN_ABORTED--> trigger again (once)
//      \--EPERM--> the scan helper (kscan with CAP_NET_ADMIN) triggers instead
//               \--> NetworkManager RequestScan, else iwd Station.Scan -->
//                    our interface's TRIGGER_SCAN --> its end --> no further part within 1 s -->
//                    dump
//
// End events before our own start are an earlier scan's and are ignored.
// Every wait is bounded (30 s from our trigger, 35 s from a service's
// request; a scan that runs out of time is aborted); a scan that fails says
// why in one line and hands back nothing. Results older than the scan's
// start are left out.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "wifi/nl80211_transport.h"
#include "wifi/scan_source.h"
#include "wifi/scan_transport.h"

namespace wifi {

struct WifiScannerOptions {
    std::string iface;  // empty: the first wireless client interface that is up
    // After the usual scan, a passive one of every 6 GHz channel (slower: the
    // usual scan finds 6 GHz access points on the preferred channels and
    // those that 2.4 and 5 GHz ones announce).
    bool full6Ghz = false;
    int scanTimeoutMs = 30000;      // trigger to results; also how long a busy radio is tried
    int externalTimeoutMs = 35000;  // a service's request to results
    int busyRetryMs = 750;          // a busy radio is asked again this often
    int splitWaitMs = 1000;         // after a service's scan ends, a further part may start within
    int progressIntervalMs = 1000;  // results read while the scan runs; 0: none
    int dumpAttempts = 5;           // reads of a result list that changes while it is read
};

class WifiScanner : public ScanSource {
  public:
    WifiScanner(std::unique_ptr<Nl80211Transport> transport,
                std::vector<std::unique_ptr<ExternalScanner>> services, WifiScannerOptions options);

    // Chooses the interface. False (and Error()) when there is no adapter, or
    // the one asked for is not a wireless client interface or is down.
    // Start() opens first when this has not been done.
    bool Open() override;

    void Start() override;
    ScanStatus Poll(std::chrono::milliseconds timeout) override;
    void Cancel() override;

    ScanStatus Status() const override { return m_status; }
    const std::vector<BssEntry>& Heard() const override { return m_heard; }
    const std::vector<ChannelSurvey>& Survey() const override { return m_survey; }
    std::vector<uint8_t> SavedScan() const override { return m_saved; }
    const std::string& Error() const override { return m_error; }
    const std::vector<std::string>& Warnings() const override { return m_warnings; }
    std::string AdapterName() const override { return m_interface.name; }
    std::string AdapterDriver() const override { return m_interface.driver; }

    // What started the last scan when this program could not: "the scan
    // helper", "NetworkManager", "iwd"; empty when it did itself.
    std::string ScannedThrough() const { return m_through; }

  private:
    enum class Step { kTrigger, kBusy, kAwaitStart, kAwaitEnd, kAwaitMore };

    bool Choose(const std::vector<WirelessInterface>& interfaces);
    void Trigger();
    void AskServices();
    void WaitBusy(int64_t pollEnd);
    void WaitStart(int64_t pollEnd);
    void WaitEnd(int64_t pollEnd);
    void WaitMore(int64_t pollEnd);
    void PartEnded(bool withResults);
    void TimedOut();
    bool Ours(const ScanEvent& event) const;
    bool ReadResults(bool final);
    void Fail(const std::string& message);
    std::string DownMessage(const WirelessInterface& wi);
    std::string GoneMessage() const;
    std::string PermissionAdvice(const std::string& problems) const;

    std::unique_ptr<Nl80211Transport> m_transport;
    std::vector<std::unique_ptr<ExternalScanner>> m_services;
    WifiScannerOptions m_options;
    WirelessInterface m_interface;
    bool m_open = false;

    ScanStatus m_status = ScanStatus::kIdle;
    Step m_step = Step::kTrigger;
    std::vector<BssEntry> m_heard;
    std::vector<ChannelSurvey> m_survey;
    std::vector<std::string> m_warnings;
    std::string m_error;
    std::vector<uint8_t> m_saved;
    int64_t m_deadlineMs = 0;
    int64_t m_retryAtMs = 0;  // a busy radio's next trigger; a service's next request
    int64_t m_busySinceMs = -1;
    int64_t m_moreUntilMs = 0;  // a further part of a service's scan may start until then
    int64_t m_nextProgressMs = 0;
    uint64_t m_scanStartNs = 0;
    bool m_sixGhzPart = false;  // the passive scan of every 6 GHz channel runs
    std::vector<uint32_t> m_sixGhz;
    ExternalScanner* m_service = nullptr;  // the service that scans for us, if one does
    std::string m_helperProblem;
    bool m_startMayBeLost = false;
    bool m_sawResults = false;
    bool m_retriedAborted = false;
    bool m_reresolved = false;
    std::string m_through;
};

// A scanner on the computer's own adapter: nl80211 through libnl, the scan
// helper (kscan) where `useHelper`, then NetworkManager and iwd on the system
// bus for unprivileged scans.
std::unique_ptr<WifiScanner> MakeAdapterScanner(WifiScannerOptions options, bool useHelper = true);

}  // namespace wifi
