#include "wifi/network_manager.h"

namespace wifi {

namespace {

constexpr const char* kNetworkManager = "org.freedesktop.NetworkManager";
constexpr const char* kManagerPath = "/org/freedesktop/NetworkManager";
constexpr const char* kWireless = "org.freedesktop.NetworkManager.Device.Wireless";
constexpr const char* kIwd = "net.connman.iwd";
constexpr const char* kIwdDevice = "net.connman.iwd.Device";
constexpr const char* kIwdStation = "net.connman.iwd.Station";

}  // namespace

ExternalScanner::Answer NetworkManagerBus::RequestScan(const std::string& iface,
                                                       std::string& problem) {
    // A device path known from before may belong to a device that has since
    // gone (the adapter was plugged out and in): look it up once more.
    for (int attempt = 0; attempt < 2; ++attempt) {
        BusError error;
        auto known = m_devices.find(iface);
        if (known == m_devices.end()) {
            std::string path;
            if (!m_bus->Call(kNetworkManager, kManagerPath, kNetworkManager, "GetDeviceByIpIface",
                             "s", iface, &path, error) ||
                path.empty()) {
                problem = error.name == "org.freedesktop.NetworkManager.UnknownDevice"
                              ? "NetworkManager does not manage " + iface
                              : ServiceProblem("NetworkManager", error);
                return Answer::kRefused;
            }
            known = m_devices.emplace(iface, path).first;
        }
        if (m_bus->Call(kNetworkManager, known->second, kWireless, "RequestScan", "a{sv}", "",
                        nullptr, error)) {
            return Answer::kAccepted;
        }
        m_devices.erase(known);
        if (!ObjectIsGone(error)) {
            problem = ServiceProblem("NetworkManager", error);
            return Answer::kRefused;
        }
        problem = "NetworkManager has no Wi-Fi device " + iface;
    }
    return Answer::kRefused;
}

bool IwdBus::StationPath(const std::string& iface, std::string& path, std::string& problem) {
    auto known = m_stations.find(iface);
    if (known != m_stations.end()) {
        path = known->second;
        return true;
    }
    BusObjects objects;
    BusError error;
    if (!m_bus->ManagedObjects(kIwd, objects, error)) {
        problem = ServiceProblem("iwd", error);
        return false;
    }
    for (const auto& [object, interfaces] : objects) {
        const auto device = interfaces.find(kIwdDevice);
        if (device == interfaces.end() || interfaces.count(kIwdStation) == 0) {
            continue;
        }
        const auto name = device->second.find("Name");
        if (name != device->second.end() && name->second == iface) {
            path = object;
            m_stations[iface] = object;
            return true;
        }
    }
    problem = "iwd has no station " + iface + " (is it in station mode?)";
    return false;
}

ExternalScanner::Answer IwdBus::RequestScan(const std::string& iface, std::string& problem) {
    // iwd numbers its objects afresh when it restarts: a path from before
    // may be gone.
    for (int attempt = 0; attempt < 2; ++attempt) {
        std::string path;
        if (!StationPath(iface, path, problem)) {
            return Answer::kRefused;
        }
        BusError error;
        if (m_bus->Call(kIwd, path, kIwdStation, "Scan", "", "", nullptr, error)) {
            return Answer::kAccepted;
        }
        if (error.name == "net.connman.iwd.Busy" || error.name == "net.connman.iwd.InProgress") {
            return Answer::kBusy;
        }
        m_stations.erase(iface);
        problem = ServiceProblem("iwd", error);
        if (!ObjectIsGone(error)) {
            return Answer::kRefused;
        }
    }
    return Answer::kRefused;
}

std::optional<bool> IwdBus::Scanning(const std::string& iface) {
    std::string path, problem;
    bool scanning = false;
    BusError error;
    if (!StationPath(iface, path, problem) ||
        !m_bus->GetBool(kIwd, path, kIwdStation, "Scanning", scanning, error)) {
        return std::nullopt;
    }
    return scanning;
}

}  // namespace wifi
