// NetworkManager over the system D-Bus (sd-bus): scans for programs that may
// not trigger one themselves (no CAP_NET_ADMIN).
#pragma once

#include <map>
#include <string>

#include "wifi/scan_transport.h"

struct sd_bus;

namespace wifi {

class NetworkManagerBus : public NetworkManagerScanner {
  public:
    NetworkManagerBus() = default;
    ~NetworkManagerBus() override;
    NetworkManagerBus(const NetworkManagerBus&) = delete;
    NetworkManagerBus& operator=(const NetworkManagerBus&) = delete;

    bool LastScan(const std::string& iface, int64_t& lastScan, std::string& error) override;
    bool RequestScan(const std::string& iface, std::string& error) override;

  private:
    bool DevicePath(const std::string& iface, std::string& path, std::string& error);

    sd_bus* m_bus = nullptr;
    std::map<std::string, std::string> m_devices;  // interface -> device object path
};

}  // namespace wifi
