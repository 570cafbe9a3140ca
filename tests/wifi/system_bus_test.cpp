// The D-Bus calls to NetworkManager and iwd through sd-bus, against services
// of our own on a private bus daemon (standing in for the system bus): the
// messages as the services marshal them, their errors as they name them.
#include <gtest/gtest.h>
#include <signal.h>
#include <systemd/sd-bus.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "wifi/network_manager.h"
#include "wifi/system_bus.h"

namespace {

constexpr const char* kDevice = "/org/freedesktop/NetworkManager/Devices/3";
constexpr const char* kStation = "/net/connman/iwd/0/4";

std::atomic<int> g_requests{0};

int GetDeviceByIpIface(sd_bus_message* m, void*, sd_bus_error* error) {
    const char* iface = nullptr;
    sd_bus_message_read(m, "s", &iface);
    if (iface == nullptr || std::strcmp(iface, "wlan0") != 0) {
        return sd_bus_error_set(error, "org.freedesktop.NetworkManager.UnknownDevice",
                                "No device found for the requested iface.");
    }
    return sd_bus_reply_method_return(m, "o", kDevice);
}

int RequestScan(sd_bus_message* m, void*, sd_bus_error*) {
    ++g_requests;
    return sd_bus_reply_method_return(m, "");
}

int Scanning(sd_bus*, const char*, const char*, const char*, sd_bus_message* reply, void*,
             sd_bus_error*) {
    return sd_bus_message_append(reply, "b", 1);
}

// iwd's object list: an adapter, and a device with its station, their
// properties of several types (those that are not text are skipped).
int GetManagedObjects(sd_bus_message* m, void*, sd_bus_error*) {
    if (!sd_bus_message_is_method_call(m, "org.freedesktop.DBus.ObjectManager",
                                       "GetManagedObjects")) {
        return 0;
    }
    sd_bus_message* reply = nullptr;
    sd_bus_message_new_method_return(m, &reply);
    sd_bus_message_open_container(reply, 'a', "{oa{sa{sv}}}");
    sd_bus_message_append(reply, "{oa{sa{sv}}}", "/net/connman/iwd/0", 1, "net.connman.iwd.Adapter",
                          2, "Powered", "b", 1, "SupportedModes", "as", 2, "station", "ap");
    sd_bus_message_open_container(reply, 'e', "oa{sa{sv}}");
    sd_bus_message_append(reply, "o", kStation);
    sd_bus_message_append(reply, "a{sa{sv}}", 2, "net.connman.iwd.Device", 4, "Name", "s", "wlan0",
                          "Adapter", "o", "/net/connman/iwd/0", "Channel", "u", 36, "Powered", "b",
                          1, "net.connman.iwd.Station", 1, "Scanning", "b", 0);
    sd_bus_message_close_container(reply);
    sd_bus_message_close_container(reply);
    const int rc = sd_bus_send(nullptr, reply, nullptr);
    sd_bus_message_unref(reply);
    return rc < 0 ? rc : 1;
}

const sd_bus_vtable kManager[] = {
    SD_BUS_VTABLE_START(0), SD_BUS_METHOD("GetDeviceByIpIface", "s", "o", GetDeviceByIpIface, 0),
    SD_BUS_VTABLE_END};
const sd_bus_vtable kWireless[] = {SD_BUS_VTABLE_START(0),
                                   SD_BUS_METHOD("RequestScan", "a{sv}", "", RequestScan, 0),
                                   SD_BUS_VTABLE_END};
const sd_bus_vtable kStationTable[] = {
    SD_BUS_VTABLE_START(0), SD_BUS_PROPERTY("Scanning", "b", Scanning, 0, 0),
    SD_BUS_METHOD("Scan", "", "", RequestScan, 0), SD_BUS_VTABLE_END};

// A bus daemon of our own, and the two services on it, served by a thread.
class PrivateBus {
  public:
    PrivateBus() {
        FILE* out = ::popen("dbus-daemon --session --fork --print-address=1 --print-pid=1", "r");
        char address[512] = {}, pid[32] = {};
        if (out == nullptr || std::fgets(address, sizeof address, out) == nullptr ||
            std::fgets(pid, sizeof pid, out) == nullptr) {
            if (out != nullptr) {
                ::pclose(out);
            }
            return;
        }
        ::pclose(out);
        address[std::strcspn(address, "\n")] = '\0';
        m_daemon = std::atoi(pid);
        ::setenv("DBUS_SYSTEM_BUS_ADDRESS", address, 1);
        sd_bus_new(&m_service);
        sd_bus_set_address(m_service, address);
        sd_bus_set_bus_client(m_service, 1);
        if (sd_bus_start(m_service) < 0) {
            return;
        }
        sd_bus_add_object_vtable(m_service, nullptr, "/org/freedesktop/NetworkManager",
                                 "org.freedesktop.NetworkManager", kManager, nullptr);
        sd_bus_add_object_vtable(m_service, nullptr, kDevice,
                                 "org.freedesktop.NetworkManager.Device.Wireless", kWireless,
                                 nullptr);
        sd_bus_add_object(m_service, nullptr, "/", GetManagedObjects, nullptr);
        sd_bus_add_object_vtable(m_service, nullptr, kStation, "net.connman.iwd.Station",
                                 kStationTable, nullptr);
        sd_bus_request_name(m_service, "org.freedesktop.NetworkManager", 0);
        sd_bus_request_name(m_service, "net.connman.iwd", 0);
        m_thread = std::thread([this] {
            while (!m_stop) {
                if (sd_bus_process(m_service, nullptr) <= 0) {
                    sd_bus_wait(m_service, 50000);
                }
            }
        });
        m_ready = true;
    }
    ~PrivateBus() {
        m_stop = true;
        if (m_thread.joinable()) {
            m_thread.join();
        }
        sd_bus_flush_close_unref(m_service);
        if (m_daemon > 0) {
            ::kill(m_daemon, SIGTERM);
        }
        ::unsetenv("DBUS_SYSTEM_BUS_ADDRESS");
    }
    bool Ready() const { return m_ready; }

  private:
    pid_t m_daemon = 0;
    sd_bus* m_service = nullptr;
    std::thread m_thread;
    std::atomic<bool> m_stop{false};
    bool m_ready = false;
};

TEST(SystemBus, NetworkManagerAndIwdThroughSdBus) {
    PrivateBus bus;
    if (!bus.Ready()) {
        GTEST_SKIP() << "no dbus-daemon to run a private bus";
    }
    std::shared_ptr<wifi::SystemBus> system = wifi::MakeSystemBus();
    wifi::NetworkManagerBus networkManager(system);
    std::string problem;
    EXPECT_EQ(networkManager.RequestScan("wlan0", problem),
              wifi::ExternalScanner::Answer::kAccepted)
        << problem;
    EXPECT_EQ(networkManager.RequestScan("wlan9", problem),
              wifi::ExternalScanner::Answer::kRefused);
    EXPECT_EQ(problem, "NetworkManager does not manage wlan9");

    wifi::IwdBus iwd(system);
    EXPECT_EQ(iwd.RequestScan("wlan0", problem), wifi::ExternalScanner::Answer::kAccepted)
        << problem;
    EXPECT_EQ(iwd.Scanning("wlan0"), true);
    EXPECT_EQ(g_requests, 2);

    wifi::BusObjects objects;
    wifi::BusError error;
    ASSERT_TRUE(system->ManagedObjects("net.connman.iwd", objects, error)) << error.message;
    const wifi::BusProperties& device = objects.at(kStation).at("net.connman.iwd.Device");
    EXPECT_EQ(device,
              (wifi::BusProperties{
                  {"Name", "wlan0"}, {"Adapter", "/net/connman/iwd/0"}, {"Powered", "true"}}));
    EXPECT_EQ(objects.at("/net/connman/iwd/0").at("net.connman.iwd.Adapter"),
              (wifi::BusProperties{{"Powered", "true"}}));

    // A service that is not there is named as such.
    EXPECT_FALSE(system->Call("org.freedesktop.ModemManager1", "/", "org.freedesktop.DBus.Peer",
                              "Ping", "", "", nullptr, error));
    EXPECT_EQ(wifi::ServiceProblem("ModemManager", error), "ModemManager is not running");
}

}  // namespace
