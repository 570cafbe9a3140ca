#include "wifi/wifi_scanner.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "wifi/channels.h"

namespace wifi {

namespace {

std::string Seconds(int ms) {
    return std::to_string((ms + 999) / 1000) + " s";
}

std::string WithReason(const std::string& text, const std::string& reason) {
    return reason.empty() ? text : text + " (the kernel says: " + reason + ")";
}

bool IsSixGhz(uint32_t mhz) {
    return ChannelFromFrequency(mhz).band == Band::k6GHz;
}

}  // namespace

WifiScanner::WifiScanner(std::unique_ptr<Nl80211Transport> transport,
                         std::vector<std::unique_ptr<ExternalScanner>> services,
                         WifiScannerOptions options)
    : m_transport(std::move(transport)),
      m_services(std::move(services)),
      m_options(std::move(options)) {}

std::string WifiScanner::DownMessage(const WirelessInterface& wi) {
    const RadioBlock block = m_transport->RadioBlockOf(wi);
    if (block.hard) {
        return wi.name +
               " is down: its radio is switched off by the computer's Wi-Fi switch or key "
               "(rfkill hard block); switch it on and try again";
    }
    if (block.soft) {
        return wi.name +
               " is down: its radio is switched off (rfkill soft block); switch it on with "
               "'rfkill unblock wifi' or 'nmcli radio wifi on' and try again";
    }
    return wi.name + " is down: bring it up (ip link set " + wi.name +
           " up, or connect it with NetworkManager) and try again";
}

std::string WifiScanner::GoneMessage() const {
    return m_interface.name +
           " has gone (was the adapter unplugged?): plug it in again and try again";
}

bool WifiScanner::Choose(const std::vector<WirelessInterface>& interfaces) {
    std::string clients;
    for (const WirelessInterface& i : interfaces) {
        if (i.CanScan()) {
            clients += (clients.empty() ? "" : ", ") + i.name;
        }
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
        if (!chosen->CanScan()) {
            Fail(chosen->name + " is " + chosen->KindText() + ", which does not scan: " +
                 (clients.empty() ? "the adapter needs a client interface"
                                  : "use a client interface (" + clients + ")"));
            return false;
        }
        if (!chosen->up) {
            Fail(DownMessage(*chosen));
            return false;
        }
    } else {
        const WirelessInterface* down = nullptr;
        for (const WirelessInterface& i : interfaces) {
            if (i.CanScan() && chosen == nullptr && i.up) {
                chosen = &i;
            } else if (i.CanScan() && down == nullptr && !i.up) {
                down = &i;
            }
        }
        if (chosen == nullptr && down != nullptr) {
            Fail("no wireless interface is up: " + DownMessage(*down));
            return false;
        }
        if (chosen == nullptr) {
            Fail("no wireless client interface (" + interfaces.front().name + " is " +
                 interfaces.front().KindText() + ", which does not scan)");
            return false;
        }
    }
    m_interface = *chosen;
    return true;
}

bool WifiScanner::Open() {
    std::vector<WirelessInterface> interfaces;
    std::string error;
    m_open = false;
    if (!m_transport->ListInterfaces(interfaces, error)) {
        Fail(error);
        return false;
    }
    if (interfaces.empty()) {
        Fail("no Wi-Fi adapter: the computer has no wireless interface");
        return false;
    }
    if (!Choose(interfaces)) {
        return false;
    }
    m_open = true;
    m_status = ScanStatus::kIdle;
    m_error.clear();
    return true;
}

void WifiScanner::Start() {
    m_heard.clear();
    m_survey.clear();
    m_warnings.clear();
    m_error.clear();
    m_saved.clear();
    m_sixGhz.clear();
    m_helperProblem.clear();
    m_through.clear();
    m_service = nullptr;
    m_sixGhzPart = false;
    m_startMayBeLost = false;
    m_sawResults = false;
    m_retriedAborted = false;
    m_reresolved = false;
    m_busySinceMs = -1;
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
            case Step::kBusy:
                WaitBusy(pollEnd);
                break;
            case Step::kAwaitStart:
                WaitStart(pollEnd);
                break;
            case Step::kAwaitEnd:
                WaitEnd(pollEnd);
                break;
            case Step::kAwaitMore:
                WaitMore(pollEnd);
                break;
        }
        if (m_step != Step::kTrigger && m_transport->NowMs() >= pollEnd) {
            break;
        }
    }
    return m_status;
}

void WifiScanner::Cancel() {
    if (m_status != ScanStatus::kRunning) {
        return;
    }
    // Our own scan stops too, so the next one does not find the radio busy.
    if (m_service == nullptr && (m_step == Step::kAwaitStart || m_step == Step::kAwaitEnd)) {
        m_transport->AbortScan(m_interface);
    }
    Fail("the scan was cancelled");
}

bool WifiScanner::Ours(const ScanEvent& event) const {
    return event.ifindex == m_interface.ifindex;
}

void WifiScanner::Trigger() {
    ScanRequest request;
    if (m_sixGhzPart) {
        request.frequencies = m_sixGhz;
        request.passive = true;
        request.colocated6Ghz = false;
    } else {
        m_scanStartNs = m_transport->BoottimeNs();
    }
    std::string reason;
    const int rc = m_transport->TriggerScan(m_interface, request, reason);
    const int64_t now = m_transport->NowMs();
    if (rc == 0) {
        m_step = Step::kAwaitStart;
        m_deadlineMs = now + m_options.scanTimeoutMs;
        m_nextProgressMs = now + m_options.progressIntervalMs;
        m_busySinceMs = -1;
        if (m_transport->UsedHelper()) {
            m_through = "the scan helper";
        }
    } else if (rc == -EBUSY) {
        // The radio is the whole adapter's: another program's scan (on this
        // interface or its Wi-Fi Direct device) or a radar check holds it.
        if (m_busySinceMs < 0) {
            m_busySinceMs = now;
        }
        if (now - m_busySinceMs >= m_options.scanTimeoutMs) {
            Fail("the adapter is busy: " + m_interface.phy + " (" + m_interface.name +
                 ") was still scanning for another program or checking for radar after " +
                 Seconds(m_options.scanTimeoutMs) + "; try again in a moment");
            return;
        }
        m_step = Step::kBusy;
        m_retryAtMs = now + m_options.busyRetryMs;
    } else if (rc == -EPERM || rc == -EACCES) {
        m_helperProblem = reason;
        AskServices();
    } else if (rc == -ENODEV && !m_reresolved) {
        // A USB adapter plugged out and in comes back with a new index.
        m_reresolved = true;
        std::vector<WirelessInterface> interfaces;
        std::string error;
        const std::string name = m_interface.name;
        bool found = false;
        if (m_transport->ListInterfaces(interfaces, error)) {
            for (const WirelessInterface& i : interfaces) {
                if (i.name == name && i.CanScan()) {
                    m_interface = i;
                    found = true;
                }
            }
        }
        if (!found && m_options.iface.empty() && !interfaces.empty() && Choose(interfaces)) {
            found = true;
        }
        if (!found) {
            m_interface.name = name;
            Fail(GoneMessage());
        }
    } else if (rc == -ENODEV) {
        Fail(GoneMessage());
    } else if (rc == -ENETDOWN) {
        Fail(DownMessage(m_interface));
    } else if (rc == -ETIMEDOUT) {
        Fail("the kernel did not answer the scan request on " + m_interface.name);
    } else {
        Fail(WithReason(
            "the scan request on " + m_interface.name + " was refused: " + std::strerror(-rc),
            reason));
    }
}

std::string WifiScanner::PermissionAdvice(const std::string& problems) const {
    return "cannot scan with " + m_interface.name +
           ": starting a scan needs the CAP_NET_ADMIN capability, and nothing could scan "
           "instead (" +
           problems +
           "); run NetworkManager or iwd, or give the scan helper the capability once: sudo "
           "setcap cap_net_admin+ep $(which kscan)";
}

// The kernel refused our trigger: ask NetworkManager, then iwd, to scan.
void WifiScanner::AskServices() {
    std::string problems = m_helperProblem;
    const int64_t now = m_transport->NowMs();
    if (m_service == nullptr) {
        m_deadlineMs = now + m_options.externalTimeoutMs;
        // Until the start is seen, the request is the earliest it can be.
        m_scanStartNs = m_transport->BoottimeNs();
    }
    for (const std::unique_ptr<ExternalScanner>& service : m_services) {
        if (m_service != nullptr && service.get() != m_service) {
            continue;  // asking again the one that was busy
        }
        std::string problem;
        const ExternalScanner::Answer answer = service->RequestScan(m_interface.name, problem);
        if (answer == ExternalScanner::Answer::kRefused) {
            problems += (problems.empty() ? "" : "; ") + problem;
            continue;
        }
        m_service = service.get();
        m_through = service->Name();
        if (answer == ExternalScanner::Answer::kBusy) {
            m_step = Step::kBusy;
            m_retryAtMs = now + m_options.busyRetryMs;
            return;
        }
        m_step = Step::kAwaitStart;
        m_nextProgressMs = now + m_options.progressIntervalMs;
        if (m_options.full6Ghz) {
            m_warnings.push_back("no full 6 GHz scan: " + m_through +
                                 " scans only as usual for a program without the capability");
        }
        return;
    }
    if (problems.empty()) {
        problems = "no service to ask in this build";
    }
    Fail(PermissionAdvice(problems));
}

void WifiScanner::WaitBusy(int64_t pollEnd) {
    const int64_t now = m_transport->NowMs();
    const int64_t until = std::min(pollEnd, m_retryAtMs);
    const ScanEvent event =
        m_transport->WaitScanEvent(std::chrono::milliseconds(std::max<int64_t>(0, until - now)));
    const bool radioFree =
        (event.kind == ScanEvent::Kind::kNewResults || event.kind == ScanEvent::Kind::kAborted) &&
        event.wiphy && *event.wiphy == m_interface.wiphy;
    if (m_service != nullptr) {
        if (m_transport->NowMs() >= m_deadlineMs) {
            Fail(m_service->Name() + " was still busy scanning " + m_interface.name + " after " +
                 Seconds(m_options.externalTimeoutMs));
        } else if (radioFree || m_transport->NowMs() >= m_retryAtMs) {
            AskServices();
        }
        return;
    }
    if (radioFree || m_transport->NowMs() >= m_retryAtMs) {
        m_step = Step::kTrigger;
    }
}

void WifiScanner::WaitStart(int64_t pollEnd) {
    const int64_t now = m_transport->NowMs();
    const int64_t until = std::min(pollEnd, m_deadlineMs);
    const ScanEvent event =
        m_transport->WaitScanEvent(std::chrono::milliseconds(std::max<int64_t>(0, until - now)));
    if (event.kind == ScanEvent::Kind::kStarted && Ours(event)) {
        if (m_service != nullptr) {
            m_scanStartNs = m_transport->BoottimeNs();
        }
        if (!m_sixGhzPart) {
            for (uint32_t f : event.frequencies) {
                if (IsSixGhz(f)) {
                    m_sixGhz.push_back(f);
                }
            }
        }
        m_step = Step::kAwaitEnd;
        return;
    }
    if (event.kind == ScanEvent::Kind::kLost) {
        if (m_service == nullptr) {
            // Our trigger was accepted, so our scan has begun; its end may be
            // among what was lost.
            m_warnings.push_back(
                "the kernel's scan events were lost (its socket overran); the "
                "results are those there when that was noticed");
            ReadResults(true);
        } else {
            m_startMayBeLost = true;  // the service's start may be among them
        }
        return;
    }
    const bool end =
        event.kind == ScanEvent::Kind::kNewResults || event.kind == ScanEvent::Kind::kAborted;
    if (end && Ours(event) && m_startMayBeLost) {
        PartEnded(event.kind == ScanEvent::Kind::kNewResults);
        return;
    }
    // Any other end is an earlier scan's: ours has not begun.
    if (m_transport->NowMs() >= m_deadlineMs) {
        if (m_service != nullptr) {
            Fail(m_service->Name() + " did not start a scan of " + m_interface.name + " within " +
                 Seconds(m_options.externalTimeoutMs));
        } else {
            TimedOut();
        }
    }
}

void WifiScanner::WaitEnd(int64_t pollEnd) {
    const int64_t now = m_transport->NowMs();
    int64_t until = std::min(pollEnd, m_deadlineMs);
    if (m_options.progressIntervalMs > 0) {
        until = std::min(until, m_nextProgressMs);
    }
    const ScanEvent event =
        m_transport->WaitScanEvent(std::chrono::milliseconds(std::max<int64_t>(0, until - now)));
    if (event.kind == ScanEvent::Kind::kNewResults && Ours(event)) {
        PartEnded(true);
        return;
    }
    if (event.kind == ScanEvent::Kind::kAborted && Ours(event)) {
        if (m_service != nullptr) {
            PartEnded(false);
        } else if (m_retriedAborted) {
            Fail("the scan on " + m_interface.name + " was aborted twice");
        } else {
            m_retriedAborted = true;
            m_step = Step::kTrigger;
        }
        return;
    }
    if (event.kind == ScanEvent::Kind::kLost) {
        m_warnings.push_back(
            "the kernel's scan events were lost (its socket overran); the "
            "results are those there when that was noticed");
        m_sawResults = true;
        ReadResults(true);
        return;
    }
    const int64_t later = m_transport->NowMs();
    if (later >= m_deadlineMs && m_service != nullptr) {
        Fail(m_service->Name() + " did not finish its scan of " + m_interface.name + " within " +
             Seconds(m_options.externalTimeoutMs));
    } else if (later >= m_deadlineMs) {
        TimedOut();
    } else if (m_options.progressIntervalMs > 0 && later >= m_nextProgressMs) {
        ReadResults(false);
        m_nextProgressMs = m_transport->NowMs() + m_options.progressIntervalMs;
    }
}

// A service's scan may come in parts (iwd splits one into several of the
// kernel's): after each end, wait for a further start.
void WifiScanner::WaitMore(int64_t pollEnd) {
    const std::optional<bool> scanning = m_service->Scanning(m_interface.name);
    if (scanning && !*scanning) {
        ReadResults(true);
        return;
    }
    const int64_t now = m_transport->NowMs();
    const int64_t until = std::min({pollEnd, m_deadlineMs, scanning ? pollEnd : m_moreUntilMs});
    const ScanEvent event =
        m_transport->WaitScanEvent(std::chrono::milliseconds(std::max<int64_t>(0, until - now)));
    if (event.kind == ScanEvent::Kind::kStarted && Ours(event)) {
        m_step = Step::kAwaitEnd;
        return;
    }
    const int64_t later = m_transport->NowMs();
    if (!scanning && later >= m_moreUntilMs) {
        ReadResults(true);  // fails when every part was aborted
    } else if (later >= m_deadlineMs) {
        Fail(m_service->Name() + " did not finish its scan of " + m_interface.name + " within " +
             Seconds(m_options.externalTimeoutMs));
    }
}

void WifiScanner::PartEnded(bool withResults) {
    m_sawResults = m_sawResults || withResults;
    if (m_service != nullptr) {
        m_step = Step::kAwaitMore;
        m_moreUntilMs = m_transport->NowMs() + m_options.splitWaitMs;
        return;
    }
    if (m_options.full6Ghz && !m_sixGhzPart) {
        if (!m_sixGhz.empty()) {
            m_sixGhzPart = true;
            m_step = Step::kTrigger;
            return;
        }
        m_warnings.push_back("no full 6 GHz scan: " + m_interface.name + " scans no 6 GHz channel");
    }
    ReadResults(true);
}

void WifiScanner::TimedOut() {
    // Stop it, so the next point does not find the radio busy.
    m_transport->AbortScan(m_interface);
    Fail("no scan results from " + m_interface.name + " within " +
         Seconds(m_options.scanTimeoutMs));
}

// Reads the kernel's scan results. A dump the kernel marks as interrupted
// (its list changed meanwhile) is read again, a few times at most.
bool WifiScanner::ReadResults(bool final) {
    if (final && m_service != nullptr && !m_sawResults) {
        Fail(m_service->Name() + "'s scan of " + m_interface.name + " was aborted");
        return false;
    }
    const int attempts = final ? std::max(1, m_options.dumpAttempts) : 1;
    std::vector<uint8_t> bytes;
    ScanDump dump;
    uint64_t dumpNs = 0;
    for (int attempt = 1;; ++attempt) {
        std::string reason;
        dumpNs = m_transport->BoottimeNs();
        const int rc = m_transport->DumpScan(m_interface.ifindex, bytes, reason);
        if (rc < 0) {
            if (final) {
                Fail(rc == -ENODEV ? GoneMessage()
                                   : WithReason("the scan results of " + m_interface.name +
                                                    " could not be read: " + std::strerror(-rc),
                                                reason));
            }
            return false;
        }
        bool cut = false;
        std::string cutMessage;
        dump = ParseScanDump(bytes.data(), bytes.size(), cut, cutMessage);
        if (cut || dump.error < 0) {
            if (final) {
                Fail("the scan results of " + m_interface.name +
                     " could not be read: " + (cut ? cutMessage : std::strerror(-dump.error)));
            }
            return false;
        }
        if (!dump.interrupted || attempt >= attempts) {
            break;
        }
    }
    if (dump.interrupted && final) {
        m_warnings.push_back("the kernel's list of results changed during each of " +
                             std::to_string(attempts) + " reads; the last read is used");
    }
    dump.note = ScanNote{m_scanStartNs, dumpNs};
    DropStaleEntries(dump);
    m_heard = std::move(dump.entries);
    if (!final) {
        return true;
    }
    m_warnings.insert(m_warnings.end(), dump.warnings.begin(), dump.warnings.end());
    m_saved = ScanNoteMessage(*dump.note);
    m_saved.insert(m_saved.end(), bytes.begin(), bytes.end());
    // The noise of each channel: drivers that measure none answer
    // EOPNOTSUPP or nothing, and the scan stands without it.
    std::string reason;
    std::vector<uint8_t> surveyBytes;
    if (m_transport->DumpSurvey(m_interface.ifindex, surveyBytes, reason) == 0) {
        bool cut = false;
        std::string cutMessage;
        const ScanDump survey =
            ParseScanDump(surveyBytes.data(), surveyBytes.size(), cut, cutMessage);
        if (!cut && survey.error == 0 && !survey.survey.empty()) {
            m_survey = survey.survey;
            m_saved.insert(m_saved.end(), surveyBytes.begin(), surveyBytes.end());
        }
    }
    m_status = ScanStatus::kDone;
    return true;
}

void WifiScanner::Fail(const std::string& message) {
    m_status = ScanStatus::kFailed;
    m_error = message;
    m_heard.clear();
    m_survey.clear();
    m_saved.clear();
}

}  // namespace wifi
