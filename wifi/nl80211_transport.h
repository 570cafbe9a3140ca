// The netlink transport of a real adapter: nl80211 over libnl-genl-3. One
// socket for requests and their replies, one subscribed to nl80211's "scan"
// multicast group for the end-of-scan events.
#pragma once

#include "wifi/scan_transport.h"

struct nl_sock;

namespace wifi {

class Nl80211Transport : public NetlinkTransport {
  public:
    Nl80211Transport() = default;
    ~Nl80211Transport() override;
    Nl80211Transport(const Nl80211Transport&) = delete;
    Nl80211Transport& operator=(const Nl80211Transport&) = delete;

    bool ListInterfaces(std::vector<WirelessInterface>& interfaces, std::string& error) override;
    int TriggerScan(uint32_t ifindex) override;
    ScanEvent WaitScanEvent(uint32_t ifindex, std::chrono::milliseconds timeout) override;
    int DumpScan(uint32_t ifindex, std::vector<uint8_t>& bytes) override;
    int64_t NowMs() override;
    uint64_t BoottimeNs() override;

  private:
    bool Connect(std::string& error);
    void DrainEvents();
    int Request(uint8_t command, int flags, uint32_t ifindex, bool dump, int timeoutMs,
                std::vector<uint8_t>* bytes);

    nl_sock* m_requests = nullptr;
    nl_sock* m_events = nullptr;
    int m_family = -1;
};

}  // namespace wifi
