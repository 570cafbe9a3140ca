// NetworkManager and iwd over the system D-Bus: the services that scan for
// a program the kernel does not let start scans itself. Both only start the
// scan; the scan's own kernel events tell when it has begun and ended.
#pragma once

#include <map>
#include <memory>
#include <string>

#include "wifi/scan_transport.h"
#include "wifi/system_bus.h"

namespace wifi {

// org.freedesktop.NetworkManager.Device.Wireless.RequestScan. NetworkManager
// answers at once and starts the scan later (it waits 1.5 s after its last
// scan, 8 s while connected).
class NetworkManagerBus : public ExternalScanner {
  public:
    explicit NetworkManagerBus(std::shared_ptr<SystemBus> bus) : m_bus(std::move(bus)) {}

    std::string Name() const override { return "NetworkManager"; }
    Answer RequestScan(const std::string& iface, std::string& problem) override;

  private:
    std::shared_ptr<SystemBus> m_bus;
    std::map<std::string, std::string> m_devices;  // interface -> device object path
};

// net.connman.iwd.Station.Scan, for iwd without NetworkManager; its Scanning
// property tells when all of its scan is over (iwd splits one scan into
// several of the kernel's).
class IwdBus : public ExternalScanner {
  public:
    explicit IwdBus(std::shared_ptr<SystemBus> bus) : m_bus(std::move(bus)) {}

    std::string Name() const override { return "iwd"; }
    Answer RequestScan(const std::string& iface, std::string& problem) override;
    std::optional<bool> Scanning(const std::string& iface) override;

  private:
    bool StationPath(const std::string& iface, std::string& path, std::string& problem);

    std::shared_ptr<SystemBus> m_bus;
    std::map<std::string, std::string> m_stations;  // interface -> station object path
};

}  // namespace wifi
