// One scan with the computer's own Wi-Fi adapter, as a state machine over the
// netlink transport (and NetworkManager where the kernel refuses the trigger):
//
//   trigger --accepted--> wait for NEW_SCAN_RESULTS --> dump --> done
//      |  \--busy (another scan runs)--> wait for its end, trigger again (once)
//      |                  \--SCAN_ABORTED--> trigger again (once)
//      \--EPERM/EACCES--> NetworkManager RequestScan --> wait for LastScan to change --> dump
//
// Every wait is bounded; a scan that fails says why in one line and hands
// back nothing. Results older than the scan's start are left out.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "wifi/scan_source.h"
#include "wifi/scan_transport.h"

namespace wifi {

struct WifiScannerOptions {
    std::string iface;                // empty: the first wireless interface that is up
    std::string program = "kestrow";  // named in the advice on permissions
    int scanTimeoutMs = 15000;        // trigger to results
    int networkManagerTimeoutMs = 20000;
    int networkManagerPollMs = 250;  // how often LastScan is read
    int progressIntervalMs = 1000;   // results read while the scan runs; 0: none
};

class WifiScanner : public ScanSource {
  public:
    WifiScanner(std::unique_ptr<NetlinkTransport> transport,
                std::unique_ptr<NetworkManagerScanner> networkManager, WifiScannerOptions options);

    // Chooses the interface. False (and Error()) when there is no adapter, or
    // the one asked for is not wireless or is down. Start() opens first when
    // this has not been done.
    bool Open() override;

    void Start() override;
    ScanStatus Poll(std::chrono::milliseconds timeout) override;
    void Cancel() override;

    ScanStatus Status() const override { return m_status; }
    const std::vector<BssEntry>& Heard() const override { return m_heard; }
    const std::string& Error() const override { return m_error; }
    const std::vector<std::string>& Warnings() const override { return m_warnings; }
    std::string AdapterName() const override { return m_interface.name; }
    std::string AdapterDriver() const override { return m_interface.driver; }

    // The raw reply of the last finished scan (what --save-dump writes).
    const std::vector<uint8_t>& DumpBytes() const { return m_dumpBytes; }
    // Whether the last scan went through NetworkManager.
    bool UsedNetworkManager() const { return m_usedNetworkManager; }
    // Time since Start(); once the scan has ended, how long it took.
    int64_t ElapsedMs() const;

  private:
    enum class Step { kTrigger, kWaitKernel, kWaitOtherScan, kWaitNetworkManager };

    void Trigger();
    void AskNetworkManager();
    void WaitKernel(int64_t pollEnd);
    void WaitNetworkManager(int64_t pollEnd);
    bool ReadResults(bool final);
    void ReadProgress();
    void Fail(const std::string& message);
    std::string PermissionAdvice(const std::string& networkManagerProblem) const;

    std::unique_ptr<NetlinkTransport> m_transport;
    std::unique_ptr<NetworkManagerScanner> m_networkManager;
    WifiScannerOptions m_options;
    WirelessInterface m_interface;
    bool m_open = false;

    ScanStatus m_status = ScanStatus::kIdle;
    Step m_step = Step::kTrigger;
    std::vector<BssEntry> m_heard;
    std::vector<std::string> m_warnings;
    std::string m_error;
    std::vector<uint8_t> m_dumpBytes;
    int64_t m_startMs = 0;
    int64_t m_endMs = 0;
    int64_t m_deadlineMs = 0;
    int64_t m_nextProgressMs = 0;
    uint64_t m_scanStartBoottimeNs = 0;
    int64_t m_lastScanBefore = 0;
    bool m_retried = false;         // after SCAN_ABORTED
    bool m_waitedForOther = false;  // after EBUSY
    bool m_usedNetworkManager = false;
};

}  // namespace wifi

namespace wifi {

// A scanner on the computer's own adapter: nl80211 through libnl, with
// NetworkManager on the system bus for unprivileged scans.
std::unique_ptr<WifiScanner> MakeAdapterScanner(WifiScannerOptions options);

}  // namespace wifi
