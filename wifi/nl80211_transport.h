// The kernel's nl80211 as a scan needs it: one socket for requests and their
// replies, one subscribed to the "scan" multicast group for the events, both
// from a NetlinkSystem (the real one, or a test's kernel). Requests are built
// with libnl; replies are walked with the bounds-checked reader. Only what
// comes from the kernel (port 0) is read.
#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "wifi/netlink_socket.h"
#include "wifi/scan_transport.h"

namespace wifi {

class Nl80211Transport {
  public:
    // `helper` starts scans where the kernel refuses this program (no
    // CAP_NET_ADMIN); null for none.
    explicit Nl80211Transport(std::unique_ptr<NetlinkSystem> system = MakeSystemNetlink(),
                              std::unique_ptr<TriggerHelper> helper = nullptr);
    ~Nl80211Transport();
    Nl80211Transport(const Nl80211Transport&) = delete;
    Nl80211Transport& operator=(const Nl80211Transport&) = delete;

    // Every wireless interface, with its state from sysfs. False with a
    // one-line reason when nl80211 cannot be asked (no wireless driver
    // loaded, no netlink).
    bool ListInterfaces(std::vector<WirelessInterface>& interfaces, std::string& error);
    // NL80211_CMD_TRIGGER_SCAN: 0 when the kernel accepted it, else its
    // negative errno (-EPERM without CAP_NET_ADMIN and no helper that has it,
    // -EBUSY while the radio scans or checks for radar, -ENODEV for an
    // interface that has gone, ...) and the kernel's reason where it gave
    // one; -ETIMEDOUT when no answer came.
    int TriggerScan(const WirelessInterface& wi, const ScanRequest& request, std::string& reason);
    // NL80211_CMD_ABORT_SCAN, best effort: 0 or a negative errno.
    int AbortScan(const WirelessInterface& wi);
    // The next scan event of any interface, waiting at most `timeout`.
    ScanEvent WaitScanEvent(std::chrono::milliseconds timeout);
    // Throws away the events already queued: the end of a scan that finished
    // before ours was asked for must not pass for ours.
    void DropQueuedEvents();
    // NL80211_CMD_GET_SCAN and NL80211_CMD_GET_SURVEY: the reply's bytes
    // exactly as received, up to and including its NLMSG_DONE. 0, or a
    // negative errno (and the kernel's reason) when no complete reply came.
    int DumpScan(uint32_t ifindex, std::vector<uint8_t>& bytes, std::string& reason);
    int DumpSurvey(uint32_t ifindex, std::vector<uint8_t>& bytes, std::string& reason);
    // The rfkill switches of the interface's radio and of the computer's
    // Wi-Fi (sysfs).
    RadioBlock RadioBlockOf(const WirelessInterface& wi);

    // Whether the last accepted trigger went through the helper.
    bool UsedHelper() const { return m_usedHelper; }
    int64_t NowMs() { return m_system->NowMs(); }
    uint64_t BoottimeNs() { return m_system->BoottimeNs(); }

  private:
    bool Connect(std::string& error);
    int Send(uint8_t command, int flags, uint32_t ifindex, const ScanRequest* request,
             uint32_t& seq);
    int Request(uint8_t command, int flags, uint32_t ifindex, const ScanRequest* request,
                std::vector<uint8_t>* bytes, std::string& reason);
    int Await(NetlinkSocket& socket, uint32_t seq, bool dump, int timeoutMs,
              std::vector<uint8_t>* bytes, std::string& reason);
    bool ResolveFamily(std::string& error);
    void ReadEvents(const std::vector<uint8_t>& datagram);

    std::unique_ptr<NetlinkSystem> m_system;
    std::unique_ptr<TriggerHelper> m_helper;
    std::unique_ptr<NetlinkSocket> m_requests;
    std::unique_ptr<NetlinkSocket> m_events;
    int m_family = -1;
    uint32_t m_scanGroup = 0;
    uint32_t m_seq = 0;
    std::deque<ScanEvent> m_pending;
    bool m_usedHelper = false;
};

}  // namespace wifi
