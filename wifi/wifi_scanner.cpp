#include "wifi/wifi_scanner.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace wifi {

namespace {

std::string ErrnoText(int negativeErrno) {
    return std::strerror(-negativeErrno);
}

std::string Seconds(int ms) {
    return std::to_string((ms + 999) / 1000) + " s";
}

}  // namespace

WifiScanner::WifiScanner(std::unique_ptr<NetlinkTransport> transport,
                         std::unique_ptr<NetworkManagerScanner> networkManager,
                         WifiScannerOptions options)
    : m_transport(std::move(transport)),
      m_networkManager(std::move(networkManager)),
      m_options(std::move(options)) {}

bool WifiScanner::Open() {
    std::vector<WirelessInterface> interfaces;
    std::string error;
    if (!m_transport->ListInterfaces(interfaces, error)) {
        Fail(error);
        return false;
    }
    if (interfaces.empty()) {
        Fail("no Wi-Fi adapter: the computer has no wireless interface");
        return false;
    }
    const WirelessInterface* chosen = nullptr;
    if (!m_options.iface.empty()) {
        for (const WirelessInterface& i : interfaces) {
            if (i.name == m_options.iface) {
                chosen = &i;
            }
        }
        if (chosen == nullptr) {
            std::string names;
            for (const WirelessInterface& i : interfaces) {
                names += (names.empty() ? "" : ", ") + i.name;
            }
            Fail(m_options.iface + " is not a wireless interface (wireless interfaces: " + names +
                 ")");
            return false;
        }
        if (!chosen->up) {
            Fail(chosen->name + " is down: bring it up (ip link set " + chosen->name +
                 " up, or connect it with NetworkManager) and try again");
            return false;
        }
    } else {
        for (const WirelessInterface& i : interfaces) {
            if (chosen == nullptr && i.up && i.station) {
                chosen = &i;
            }
        }
        if (chosen == nullptr) {
            Fail("no wireless interface is up (" + interfaces.front().name +
                 " is down or not a client interface): bring one up (ip link set " +
                 interfaces.front().name + " up) and try again");
            return false;
        }
    }
    m_interface = *chosen;
    m_open = true;
    m_status = ScanStatus::kIdle;
    m_error.clear();
    return true;
}

int64_t WifiScanner::ElapsedMs() const {
    if (m_status == ScanStatus::kIdle) {
        return 0;
    }
    return (m_status == ScanStatus::kRunning ? m_transport->NowMs() : m_endMs) - m_startMs;
}

void WifiScanner::Start() {
    m_heard.clear();
    m_warnings.clear();
    m_error.clear();
    m_dumpBytes.clear();
    m_retried = false;
    m_waitedForOther = false;
    m_usedNetworkManager = false;
    m_startMs = m_transport->NowMs();
    if (!m_open && !Open()) {
        return;
    }
    m_status = ScanStatus::kRunning;
    m_step = Step::kTrigger;
}

ScanStatus WifiScanner::Poll(std::chrono::milliseconds timeout) {
    const int64_t pollEnd = m_transport->NowMs() + std::max<int64_t>(0, timeout.count());
    while (m_status == ScanStatus::kRunning) {
        switch (m_step) {
            case Step::kTrigger:
                Trigger();
                break;
            case Step::kWaitKernel:
            case Step::kWaitOtherScan:
                WaitKernel(pollEnd);
                break;
            case Step::kWaitNetworkManager:
                WaitNetworkManager(pollEnd);
                break;
        }
        if (m_step != Step::kTrigger && m_transport->NowMs() >= pollEnd) {
            break;
        }
    }
    return m_status;
}

void WifiScanner::Cancel() {
    if (m_status == ScanStatus::kRunning) {
        Fail("the scan was cancelled");
    }
}

void WifiScanner::Trigger() {
    m_scanStartBoottimeNs = m_transport->BoottimeNs();
    const int rc = m_transport->TriggerScan(m_interface.ifindex);
    const int64_t now = m_transport->NowMs();
    if (rc == 0) {
        m_step = Step::kWaitKernel;
        m_deadlineMs = now + m_options.scanTimeoutMs;
        m_nextProgressMs = now + m_options.progressIntervalMs;
    } else if (rc == -EBUSY && !m_waitedForOther) {
        // Another program's scan is running: let it end, then scan ourselves,
        // so every channel is heard after our start.
        m_waitedForOther = true;
        m_step = Step::kWaitOtherScan;
        m_deadlineMs = now + m_options.scanTimeoutMs;
    } else if (rc == -EPERM || rc == -EACCES) {
        AskNetworkManager();
    } else if (rc == -ENETDOWN) {
        Fail(m_interface.name + " is down: bring it up (ip link set " + m_interface.name +
             " up, or connect it with NetworkManager) and try again");
    } else if (rc == -ETIMEDOUT) {
        Fail("the kernel did not answer the scan request on " + m_interface.name);
    } else {
        Fail("the scan request on " + m_interface.name + " was refused: " + ErrnoText(rc));
    }
}

std::string WifiScanner::PermissionAdvice(const std::string& networkManagerProblem) const {
    return "cannot scan with " + m_interface.name +
           ": starting a scan needs the CAP_NET_ADMIN capability, and NetworkManager could "
           "not scan instead (" +
           networkManagerProblem + "); run NetworkManager, or give " + m_options.program +
           " the capability: sudo setcap cap_net_admin+ep $(which " + m_options.program + ")";
}

void WifiScanner::AskNetworkManager() {
    if (!m_networkManager) {
        Fail(PermissionAdvice("not available in this build"));
        return;
    }
    std::string problem;
    if (!m_networkManager->LastScan(m_interface.name, m_lastScanBefore, problem)) {
        Fail(PermissionAdvice(problem));
        return;
    }
    m_scanStartBoottimeNs = m_transport->BoottimeNs();
    if (!m_networkManager->RequestScan(m_interface.name, problem)) {
        Fail(PermissionAdvice(problem));
        return;
    }
    m_usedNetworkManager = true;
    const int64_t now = m_transport->NowMs();
    m_step = Step::kWaitNetworkManager;
    m_deadlineMs = now + m_options.networkManagerTimeoutMs;
    m_nextProgressMs = now + m_options.progressIntervalMs;
}

void WifiScanner::WaitKernel(int64_t pollEnd) {
    int64_t now = m_transport->NowMs();
    int64_t until = std::min(pollEnd, m_deadlineMs);
    if (m_options.progressIntervalMs > 0 && m_step == Step::kWaitKernel) {
        until = std::min(until, m_nextProgressMs);
    }
    const ScanEvent event = m_transport->WaitScanEvent(
        m_interface.ifindex, std::chrono::milliseconds(std::max<int64_t>(0, until - now)));
    if (event != ScanEvent::kNone && m_step == Step::kWaitOtherScan) {
        m_step = Step::kTrigger;
        return;
    }
    if (event == ScanEvent::kNewResults) {
        ReadResults(true);
        return;
    }
    if (event == ScanEvent::kAborted) {
        if (m_retried) {
            Fail("the scan on " + m_interface.name + " was aborted twice");
        } else {
            m_retried = true;
            m_step = Step::kTrigger;
        }
        return;
    }
    now = m_transport->NowMs();
    if (now >= m_deadlineMs) {
        Fail(m_step == Step::kWaitOtherScan
                 ? "another scan on " + m_interface.name + " did not end within " +
                       Seconds(m_options.scanTimeoutMs)
                 : "no scan results from " + m_interface.name + " within " +
                       Seconds(m_options.scanTimeoutMs));
    } else if (m_step == Step::kWaitKernel && m_options.progressIntervalMs > 0 &&
               now >= m_nextProgressMs) {
        ReadProgress();
    }
}

void WifiScanner::WaitNetworkManager(int64_t pollEnd) {
    int64_t now = m_transport->NowMs();
    const int64_t until =
        std::min({pollEnd, m_deadlineMs, now + std::max(1, m_options.networkManagerPollMs)});
    // The kernel's scan event wakes us early; LastScan decides.
    m_transport->WaitScanEvent(m_interface.ifindex,
                               std::chrono::milliseconds(std::max<int64_t>(0, until - now)));
    int64_t lastScan = 0;
    std::string problem;
    if (!m_networkManager->LastScan(m_interface.name, lastScan, problem)) {
        Fail("NetworkManager stopped answering during the scan of " + m_interface.name + " (" +
             problem + ")");
        return;
    }
    if (lastScan != m_lastScanBefore) {
        ReadResults(true);
        return;
    }
    now = m_transport->NowMs();
    if (now >= m_deadlineMs) {
        Fail("NetworkManager did not finish a scan of " + m_interface.name + " within " +
             Seconds(m_options.networkManagerTimeoutMs));
    } else if (m_options.progressIntervalMs > 0 && now >= m_nextProgressMs) {
        ReadProgress();
    }
}

// Reads the kernel's scan results. A dump the kernel marks as interrupted
// (its list changed meanwhile) is read once more.
bool WifiScanner::ReadResults(bool final) {
    for (int attempt = 0;; ++attempt) {
        std::vector<uint8_t> bytes;
        const int rc = m_transport->DumpScan(m_interface.ifindex, bytes);
        if (rc < 0) {
            if (final) {
                Fail("the scan results of " + m_interface.name +
                     " could not be read: " + ErrnoText(rc));
            }
            return false;
        }
        bool cut = false;
        std::string cutMessage;
        ScanDump dump = ParseScanDump(bytes.data(), bytes.size(), cut, cutMessage);
        if (cut || dump.error < 0) {
            if (final) {
                Fail("the scan results of " + m_interface.name +
                     " could not be read: " + (cut ? cutMessage : ErrnoText(dump.error)));
            }
            return false;
        }
        if (dump.interrupted && attempt == 0) {
            continue;
        }
        DropStaleEntries(dump.entries, m_scanStartBoottimeNs, m_transport->BoottimeNs());
        m_heard = std::move(dump.entries);
        if (final) {
            m_warnings = std::move(dump.warnings);
            m_dumpBytes = std::move(bytes);
            m_status = ScanStatus::kDone;
            m_endMs = m_transport->NowMs();
        }
        return true;
    }
}

void WifiScanner::ReadProgress() {
    ReadResults(false);
    m_nextProgressMs = m_transport->NowMs() + m_options.progressIntervalMs;
}

void WifiScanner::Fail(const std::string& message) {
    m_status = ScanStatus::kFailed;
    m_endMs = m_transport->NowMs();
    m_error = message;
    m_heard.clear();
}

}  // namespace wifi
