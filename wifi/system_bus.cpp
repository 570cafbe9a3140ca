#include "wifi/system_bus.h"

#include <systemd/sd-bus.h>

#include <cstring>

namespace wifi {

namespace {

constexpr uint64_t kCallTimeoutUs = 3000000;

// Frees a D-Bus error and the message and reply of a call.
struct Call {
    sd_bus_error error = SD_BUS_ERROR_NULL;
    sd_bus_message* message = nullptr;
    sd_bus_message* reply = nullptr;
    ~Call() {
        sd_bus_error_free(&error);
        sd_bus_message_unref(message);
        sd_bus_message_unref(reply);
    }
    bool Fail(int rc, BusError& out) const {
        out.name = error.name ? error.name : "";
        out.message = error.message ? error.message : std::strerror(rc < 0 ? -rc : rc);
        return false;
    }
};

// Reads a variant holding a string, an object path or a boolean as text;
// skips any other.
int ReadVariantText(sd_bus_message* m, std::string& text, bool& known) {
    char type = 0;
    const char* contents = nullptr;
    int rc = sd_bus_message_peek_type(m, &type, &contents);
    if (rc < 0) {
        return rc;
    }
    known =
        contents != nullptr && (std::strcmp(contents, "s") == 0 ||
                                std::strcmp(contents, "o") == 0 || std::strcmp(contents, "b") == 0);
    if (!known) {
        return sd_bus_message_skip(m, "v");
    }
    if (contents[0] == 'b') {
        int value = 0;
        rc = sd_bus_message_read(m, "v", "b", &value);
        text = value ? "true" : "false";
        return rc;
    }
    const char* value = nullptr;
    rc = sd_bus_message_read(m, "v", contents, &value);
    text = value ? value : "";
    return rc;
}

// The dictionaries of GetManagedObjects' answer, a{oa{sa{sv}}}: each level
// entered, read and left; 0 or above when whole.
int ReadProperties(sd_bus_message* m, BusProperties& properties) {
    int rc = sd_bus_message_enter_container(m, 'a', "{sv}");
    while (rc >= 0 && (rc = sd_bus_message_enter_container(m, 'e', "sv")) > 0) {
        const char* key = nullptr;
        std::string text;
        bool known = false;
        if ((rc = sd_bus_message_read(m, "s", &key)) < 0 ||
            (rc = ReadVariantText(m, text, known)) < 0) {
            return rc;
        }
        if (known && key != nullptr) {
            properties[key] = text;
        }
        rc = sd_bus_message_exit_container(m);
    }
    return rc < 0 ? rc : sd_bus_message_exit_container(m);
}

int ReadInterfaces(sd_bus_message* m, std::map<std::string, BusProperties>& interfaces) {
    int rc = sd_bus_message_enter_container(m, 'a', "{sa{sv}}");
    while (rc >= 0 && (rc = sd_bus_message_enter_container(m, 'e', "sa{sv}")) > 0) {
        const char* name = nullptr;
        if ((rc = sd_bus_message_read(m, "s", &name)) < 0 ||
            (rc = ReadProperties(m, interfaces[name ? name : ""])) < 0) {
            return rc;
        }
        rc = sd_bus_message_exit_container(m);
    }
    return rc < 0 ? rc : sd_bus_message_exit_container(m);
}

int ReadObjects(sd_bus_message* m, BusObjects& objects) {
    int rc = sd_bus_message_enter_container(m, 'a', "{oa{sa{sv}}}");
    while (rc >= 0 && (rc = sd_bus_message_enter_container(m, 'e', "oa{sa{sv}}")) > 0) {
        const char* object = nullptr;
        if ((rc = sd_bus_message_read(m, "o", &object)) < 0 ||
            (rc = ReadInterfaces(m, objects[object ? object : ""])) < 0) {
            return rc;
        }
        rc = sd_bus_message_exit_container(m);
    }
    return rc < 0 ? rc : sd_bus_message_exit_container(m);
}

class SdSystemBus : public SystemBus {
  public:
    ~SdSystemBus() override { sd_bus_flush_close_unref(m_bus); }

    bool Call(const std::string& service, const std::string& path, const std::string& interface,
              const std::string& member, const std::string& signature, const std::string& argument,
              std::string* replyPath, BusError& error) override {
        if (!Connect(error)) {
            return false;
        }
        wifi::Call call;
        int rc = sd_bus_message_new_method_call(m_bus, &call.message, service.c_str(), path.c_str(),
                                                interface.c_str(), member.c_str());
        if (rc >= 0 && signature == "s") {
            rc = sd_bus_message_append(call.message, "s", argument.c_str());
        } else if (rc >= 0 && signature == "a{sv}") {
            rc = sd_bus_message_append(call.message, "a{sv}", 0);
        }
        if (rc >= 0) {
            rc = sd_bus_call(m_bus, call.message, kCallTimeoutUs, &call.error, &call.reply);
        }
        if (rc < 0) {
            return call.Fail(rc, error);
        }
        const char* object = nullptr;
        if (replyPath != nullptr && sd_bus_message_read(call.reply, "o", &object) >= 0 &&
            object != nullptr) {
            *replyPath = object;
        }
        return true;
    }

    bool GetBool(const std::string& service, const std::string& path, const std::string& interface,
                 const std::string& property, bool& value, BusError& error) override {
        if (!Connect(error)) {
            return false;
        }
        wifi::Call call;
        int flag = 0;
        const int rc =
            sd_bus_get_property_trivial(m_bus, service.c_str(), path.c_str(), interface.c_str(),
                                        property.c_str(), &call.error, 'b', &flag);
        if (rc < 0) {
            return call.Fail(rc, error);
        }
        value = flag != 0;
        return true;
    }

    bool ManagedObjects(const std::string& service, BusObjects& objects, BusError& error) override {
        objects.clear();
        if (!Connect(error)) {
            return false;
        }
        wifi::Call call;
        int rc =
            sd_bus_call_method(m_bus, service.c_str(), "/", "org.freedesktop.DBus.ObjectManager",
                               "GetManagedObjects", &call.error, &call.reply, "");
        if (rc < 0) {
            return call.Fail(rc, error);
        }
        rc = ReadObjects(call.reply, objects);
        if (rc < 0) {
            error.name = SD_BUS_ERROR_INVALID_ARGS;
            error.message = std::string("unreadable object list: ") + std::strerror(-rc);
            return false;
        }
        return true;
    }

  private:
    bool Connect(BusError& error) {
        if (m_bus != nullptr) {
            return true;
        }
        const int rc = sd_bus_open_system(&m_bus);
        if (rc < 0) {
            m_bus = nullptr;
            error.name = SD_BUS_ERROR_NO_SERVER;
            error.message = std::string("no system D-Bus: ") + std::strerror(-rc);
            return false;
        }
        sd_bus_set_method_call_timeout(m_bus, kCallTimeoutUs);
        return true;
    }

    sd_bus* m_bus = nullptr;
};

}  // namespace

std::shared_ptr<SystemBus> MakeSystemBus() {
    return std::make_shared<SdSystemBus>();
}

bool ObjectIsGone(const BusError& error) {
    return error.name == SD_BUS_ERROR_UNKNOWN_OBJECT || error.name == SD_BUS_ERROR_UNKNOWN_METHOD ||
           error.name == SD_BUS_ERROR_UNKNOWN_INTERFACE;
}

std::string ServiceProblem(const std::string& service, const BusError& error) {
    if (error.name == SD_BUS_ERROR_SERVICE_UNKNOWN ||
        error.name == SD_BUS_ERROR_NAME_HAS_NO_OWNER) {
        return service + " is not running";
    }
    if (error.name == SD_BUS_ERROR_ACCESS_DENIED ||
        error.name == "org.freedesktop.NetworkManager.PermissionDenied") {
        return service + " does not allow this user to scan";
    }
    if (error.name == SD_BUS_ERROR_NO_SERVER) {
        return error.message;
    }
    return service + ": " + (error.message.empty() ? error.name : error.message);
}

}  // namespace wifi
