// What a Wi-Fi scan needs from the system, behind two small interfaces so the
// scan's state machine can be driven by fakes in tests: the kernel's nl80211
// over netlink, and NetworkManager for unprivileged scans.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace wifi {

struct WirelessInterface {
    std::string name;  // "wlan0"
    uint32_t ifindex = 0;
    bool up = false;       // administratively up (IFF_UP)
    bool station = false;  // a client (managed) interface, the kind that scans
    std::string driver;    // kernel driver of its device, "" when unknown
    std::string phy;       // "phy0"
};

enum class ScanEvent {
    kNone,        // the wait ran out
    kNewResults,  // NL80211_CMD_NEW_SCAN_RESULTS for the interface
    kAborted,     // NL80211_CMD_SCAN_ABORTED for the interface
};

class NetlinkTransport {
  public:
    virtual ~NetlinkTransport() = default;

    // Every wireless interface. False with a one-line reason when nl80211
    // cannot be asked (no wireless driver loaded, no netlink).
    virtual bool ListInterfaces(std::vector<WirelessInterface>& interfaces, std::string& error) = 0;
    // NL80211_CMD_TRIGGER_SCAN (all channels, wildcard SSID): 0 when the
    // kernel accepted it, else its negative errno (-EPERM without
    // CAP_NET_ADMIN, -EBUSY while another scan runs, -ENETDOWN, ...);
    // -ETIMEDOUT when no answer came.
    virtual int TriggerScan(uint32_t ifindex) = 0;
    // Waits at most `timeout` for the end of a scan on the interface (events
    // of the "scan" multicast group, subscribed before any trigger).
    virtual ScanEvent WaitScanEvent(uint32_t ifindex, std::chrono::milliseconds timeout) = 0;
    // NL80211_CMD_GET_SCAN: the reply's bytes exactly as received, up to and
    // including its NLMSG_DONE. 0, or a negative errno when no complete reply
    // could be read.
    virtual int DumpScan(uint32_t ifindex, std::vector<uint8_t>& bytes) = 0;
    // Clocks: monotonic milliseconds for the waits, CLOCK_BOOTTIME
    // nanoseconds (the kernel's time stamps of the scan results).
    virtual int64_t NowMs() = 0;
    virtual uint64_t BoottimeNs() = 0;
};

// NetworkManager's device for an interface: RequestScan and LastScan.
class NetworkManagerScanner {
  public:
    virtual ~NetworkManagerScanner() = default;

    // The device's LastScan (CLOCK_BOOTTIME milliseconds, -1 before its
    // first scan). False with a reason (no system bus, NetworkManager not
    // running, the interface not managed by it).
    virtual bool LastScan(const std::string& iface, int64_t& lastScan, std::string& error) = 0;
    // org.freedesktop.NetworkManager.Device.Wireless.RequestScan.
    virtual bool RequestScan(const std::string& iface, std::string& error) = 0;
};

}  // namespace wifi
