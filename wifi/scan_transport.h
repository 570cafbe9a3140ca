// The words a Wi-Fi scan is made of, shared by the nl80211 transport, the
// services that may scan on our behalf and the scan's state machine.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace wifi {

struct WirelessInterface {
    std::string name;  // "wlan0"
    uint32_t ifindex = 0;
    uint32_t wiphy = 0;   // the radio it belongs to (several interfaces may share one)
    uint32_t iftype = 0;  // NL80211_IFTYPE_*
    bool up = false;      // administratively up (IFF_UP)
    std::string driver;   // kernel driver of its device, "" when unknown
    std::string phy;      // "phy0"

    // A client interface, of the kinds that scan: station, P2P client, IBSS.
    bool CanScan() const;
    // "a monitor interface", "an access point interface", ...
    std::string KindText() const;
};

// What a trigger asks of the kernel.
struct ScanRequest {
    std::vector<uint32_t> frequencies;  // MHz; empty: every channel the adapter may use
    bool passive = false;               // listen only, no probe requests
    // Let the kernel find 6 GHz access points from the neighbour reports of
    // 2.4 and 5 GHz ones (NL80211_SCAN_FLAG_COLOCATED_6GHZ); without it some
    // drivers scan only the preferred 6 GHz channels.
    bool colocated6Ghz = true;
};

// An event of nl80211's "scan" multicast group, for any interface.
struct ScanEvent {
    enum class Kind {
        kNone,        // the wait ran out
        kStarted,     // NL80211_CMD_TRIGGER_SCAN: a scan began
        kNewResults,  // NL80211_CMD_NEW_SCAN_RESULTS: it ended
        kAborted,     // NL80211_CMD_SCAN_ABORTED
        kLost,        // the socket overran (ENOBUFS): events were dropped
    };
    Kind kind = Kind::kNone;
    std::optional<uint32_t> wiphy;
    uint32_t ifindex = 0;               // 0 for a device without a network interface (P2P)
    std::vector<uint32_t> frequencies;  // the channels the scan covers, where told
};

// Whether an rfkill switch keeps the interface's radio off.
struct RadioBlock {
    bool soft = false;  // rfkill block, NetworkManager's radio switch
    bool hard = false;  // the laptop's hardware switch or key
};

// Something that starts scans with privileges this program may lack: the
// scan helper (kscan, given CAP_NET_ADMIN once).
class TriggerHelper {
  public:
    virtual ~TriggerHelper() = default;
    // Starts the scan, or aborts the running one: 0, or the kernel's negative
    // errno with its reason; -ENOENT when there is no helper to run.
    virtual int Trigger(const std::string& iface, const ScanRequest& request,
                        std::string& reason) = 0;
    virtual int Abort(const std::string& iface, std::string& reason) = 0;
};

// A service that scans for any program that asks: NetworkManager, iwd.
class ExternalScanner {
  public:
    enum class Answer {
        kAccepted,
        kBusy,     // it is scanning already: ask again once that scan is over
        kRefused,  // with the problem, in a few words
    };

    virtual ~ExternalScanner() = default;
    virtual std::string Name() const = 0;
    // Asks it to scan the interface.
    virtual Answer RequestScan(const std::string& iface, std::string& problem) = 0;
    // Whether its scan still runs, where the service says so (iwd); nothing
    // where it does not (NetworkManager).
    virtual std::optional<bool> Scanning(const std::string&) { return std::nullopt; }
};

}  // namespace wifi
