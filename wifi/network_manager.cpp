#include "wifi/network_manager.h"

#include <systemd/sd-bus.h>

#include <cstring>

namespace wifi {

namespace {

constexpr const char* kService = "org.freedesktop.NetworkManager";
constexpr const char* kManagerPath = "/org/freedesktop/NetworkManager";
constexpr const char* kWireless = "org.freedesktop.NetworkManager.Device.Wireless";
constexpr uint64_t kCallTimeoutUs = 3000000;

// Frees a D-Bus error and the reply at the end of a call.
struct Call {
    sd_bus_error error = SD_BUS_ERROR_NULL;
    sd_bus_message* reply = nullptr;
    ~Call() {
        sd_bus_error_free(&error);
        sd_bus_message_unref(reply);
    }
    // One line for a failed call.
    std::string Problem(int rc) const {
        if (sd_bus_error_has_name(&error, SD_BUS_ERROR_SERVICE_UNKNOWN) ||
            sd_bus_error_has_name(&error, SD_BUS_ERROR_NAME_HAS_NO_OWNER)) {
            return "NetworkManager is not running";
        }
        if (sd_bus_error_has_name(&error, "org.freedesktop.NetworkManager.PermissionDenied") ||
            sd_bus_error_has_name(&error, SD_BUS_ERROR_ACCESS_DENIED)) {
            return "NetworkManager does not allow this user to scan";
        }
        if (error.message != nullptr) {
            return std::string("NetworkManager: ") + error.message;
        }
        return std::string("NetworkManager: ") + std::strerror(rc < 0 ? -rc : rc);
    }
};

}  // namespace

NetworkManagerBus::~NetworkManagerBus() {
    sd_bus_flush_close_unref(m_bus);
}

bool NetworkManagerBus::DevicePath(const std::string& iface, std::string& path,
                                   std::string& error) {
    if (m_bus == nullptr) {
        const int rc = sd_bus_open_system(&m_bus);
        if (rc < 0) {
            m_bus = nullptr;
            error = std::string("no system D-Bus to reach NetworkManager: ") + std::strerror(-rc);
            return false;
        }
        sd_bus_set_method_call_timeout(m_bus, kCallTimeoutUs);
    }
    auto known = m_devices.find(iface);
    if (known != m_devices.end()) {
        path = known->second;
        return true;
    }
    Call call;
    int rc = sd_bus_call_method(m_bus, kService, kManagerPath, kService, "GetDeviceByIpIface",
                                &call.error, &call.reply, "s", iface.c_str());
    if (rc < 0) {
        error = sd_bus_error_has_name(&call.error, "org.freedesktop.NetworkManager.UnknownDevice")
                    ? "NetworkManager does not manage " + iface
                    : call.Problem(rc);
        return false;
    }
    const char* object = nullptr;
    rc = sd_bus_message_read(call.reply, "o", &object);
    if (rc < 0 || object == nullptr) {
        error = "NetworkManager gave no device for " + iface;
        return false;
    }
    path = object;
    m_devices[iface] = path;
    return true;
}

bool NetworkManagerBus::LastScan(const std::string& iface, int64_t& lastScan, std::string& error) {
    std::string path;
    if (!DevicePath(iface, path, error)) {
        return false;
    }
    Call call;
    int64_t value = 0;
    const int rc = sd_bus_get_property_trivial(m_bus, kService, path.c_str(), kWireless, "LastScan",
                                               &call.error, 'x', &value);
    if (rc < 0) {
        error = sd_bus_error_has_name(&call.error, SD_BUS_ERROR_UNKNOWN_PROPERTY) ||
                        sd_bus_error_has_name(&call.error, SD_BUS_ERROR_UNKNOWN_INTERFACE)
                    ? "NetworkManager has no Wi-Fi device " + iface +
                          " (or is older than 1.12, without LastScan)"
                    : call.Problem(rc);
        return false;
    }
    lastScan = value;
    return true;
}

bool NetworkManagerBus::RequestScan(const std::string& iface, std::string& error) {
    std::string path;
    if (!DevicePath(iface, path, error)) {
        return false;
    }
    Call call;
    const int rc = sd_bus_call_method(m_bus, kService, path.c_str(), kWireless, "RequestScan",
                                      &call.error, &call.reply, "a{sv}", 0);
    if (rc < 0) {
        error = call.Problem(rc);
        return false;
    }
    return true;
}

}  // namespace wifi
