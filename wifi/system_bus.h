// The few D-Bus calls the Wi-Fi code makes on the system bus (to
// NetworkManager and iwd), behind a seam so tests can stand in for the
// services, their errors and their timing.
#pragma once

#include <map>
#include <memory>
#include <string>

namespace wifi {

// A D-Bus error as the service or the bus sends it.
struct BusError {
    std::string name;  // "org.freedesktop.DBus.Error.ServiceUnknown"
    std::string message;
};

// Each object's interfaces and their properties, as text (strings and
// object paths as they are, booleans as "true" or "false"; others left out).
using BusProperties = std::map<std::string, std::string>;
using BusObjects = std::map<std::string, std::map<std::string, BusProperties>>;

class SystemBus {
  public:
    virtual ~SystemBus() = default;

    // Calls a method whose argument is `argument` (signature "s"),
    // an empty a{sv} (signature "a{sv}") or nothing (signature ""). The
    // reply's object path, when it starts with one, goes to `replyPath`.
    virtual bool Call(const std::string& service, const std::string& path,
                      const std::string& interface, const std::string& member,
                      const std::string& signature, const std::string& argument,
                      std::string* replyPath, BusError& error) = 0;
    virtual bool GetBool(const std::string& service, const std::string& path,
                         const std::string& interface, const std::string& property, bool& value,
                         BusError& error) = 0;
    // org.freedesktop.DBus.ObjectManager.GetManagedObjects of the service's "/".
    virtual bool ManagedObjects(const std::string& service, BusObjects& objects,
                                BusError& error) = 0;
};

// The system bus through sd-bus, connected at the first call.
std::shared_ptr<SystemBus> MakeSystemBus();

// The object the call went to is gone (the service restarted, the device
// was unplugged): looking it up again may help.
bool ObjectIsGone(const BusError& error);

// A failed call to `service` in a few words: "NetworkManager is not
// running", "iwd does not allow this user to scan", ...
std::string ServiceProblem(const std::string& service, const BusError& error);

}  // namespace wifi
