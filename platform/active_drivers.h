// The platform registry's active-driver keys "Drivers\Active\NN", each with the
// string values "PnpId" (the hardware's identity) and "Name" (the device to
// open), reached through the platform's open-key / query-value / close-key
// calls. On Linux the table is built from sysfs; tests fill one in memory.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace platform {

using RegistryKey = uint32_t;

// "Drivers\Active\%02d".
std::string ActiveDriverKeyName(int index);

class ActiveDriverTable {
  public:
    virtual ~ActiveDriverTable() = default;

    // Answers true and a key for an existing key name.
    bool OpenKey(const std::string& keyName, RegistryKey& key);
    // Reads a string value as 16-bit characters with a terminator into buffer,
    // which holds byteSize bytes. A value that does not fit is cut (the
    // terminator always fits); nothing is written beyond byteSize. Stores the
    // bytes written in byteSize. Answers false for an unknown key or value, or
    // a buffer too small for even the terminator.
    bool QueryValue(RegistryKey key, const std::string& valueName, char16_t* buffer,
                    uint32_t& byteSize);
    void CloseKey(RegistryKey key);

    // Keys opened and not yet closed.
    int OpenKeyCount() const { return m_openKeys; }

  protected:
    struct Entry {
        std::string keyName;
        std::map<std::string, std::u16string> values;
    };
    std::vector<Entry> m_entries;

  private:
    int m_openKeys = 0;
};

// A table held in memory, for tests.
class InMemoryDriverTable : public ActiveDriverTable {
  public:
    // Adds key "Drivers\Active\NN" (or replaces its values).
    void SetValue(int index, const std::string& valueName, const std::string& value);
    void SetValue(int index, const std::string& valueName, const std::u16string& value);
};

// One key per serial device that belongs to a USB or PC-card adapter, found
// under <sysRoot>/class/tty, numbered from 00 in natural order of the tty
// names. "PnpId" is the manufacturer and product strings joined by a space,
// "Name" the device path /dev/<tty>.
class SysfsDriverTable : public ActiveDriverTable {
  public:
    explicit SysfsDriverTable(const std::string& sysRoot = "/sys");

    struct Port {
        std::string pnpId;
        std::string devicePath;
    };
    const std::vector<Port>& Ports() const { return m_ports; }

  private:
    std::vector<Port> m_ports;
};

}  // namespace platform
