#include "platform/active_drivers.h"

#include <dirent.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <fstream>

namespace platform {

namespace {

std::u16string Widen(const std::string& text) {
    std::u16string wide;
    wide.reserve(text.size());
    for (unsigned char c : text) {
        wide.push_back(static_cast<char16_t>(c));
    }
    return wide;
}

bool FileExists(const std::string& path) {
    struct stat info;
    return ::stat(path.c_str(), &info) == 0;
}

// First line of a sysfs attribute, without the line end.
std::string ReadAttribute(const std::string& path) {
    std::ifstream in(path);
    std::string line;
    std::getline(in, line);
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r' || line.back() == ' ')) {
        line.pop_back();
    }
    return line;
}

std::string JoinNonEmpty(const std::string& a, const std::string& b) {
    if (a.empty()) {
        return b;
    }
    if (b.empty()) {
        return a;
    }
    return a + " " + b;
}

// Orders "ttyUSB2" before "ttyUSB10".
bool NaturalLess(const std::string& a, const std::string& b) {
    size_t i = 0;
    size_t j = 0;
    while (i < a.size() && j < b.size()) {
        if (std::isdigit(static_cast<unsigned char>(a[i])) &&
            std::isdigit(static_cast<unsigned char>(b[j]))) {
            size_t iEnd = i;
            size_t jEnd = j;
            while (iEnd < a.size() && std::isdigit(static_cast<unsigned char>(a[iEnd]))) {
                ++iEnd;
            }
            while (jEnd < b.size() && std::isdigit(static_cast<unsigned char>(b[jEnd]))) {
                ++jEnd;
            }
            std::string na = a.substr(i, iEnd - i);
            std::string nb = b.substr(j, jEnd - j);
            na.erase(0, std::min(na.find_first_not_of('0'), na.size()));
            nb.erase(0, std::min(nb.find_first_not_of('0'), nb.size()));
            if (na.size() != nb.size()) {
                return na.size() < nb.size();
            }
            if (na != nb) {
                return na < nb;
            }
            i = iEnd;
            j = jEnd;
        } else {
            if (a[i] != b[j]) {
                return a[i] < b[j];
            }
            ++i;
            ++j;
        }
    }
    return a.size() - i < b.size() - j;
}

// The hardware identity of a tty's device: walks up from the device directory
// to the USB device (idVendor, manufacturer, product) or the PC card (prod_id1,
// prod_id2). Answers false for anything else (on-board ports, virtual ttys).
bool AdapterIdentity(const std::string& deviceDir, std::string& pnpId) {
    char resolved[PATH_MAX];
    if (::realpath(deviceDir.c_str(), resolved) == nullptr) {
        return false;
    }
    std::string dir = resolved;
    for (int level = 0; level < 6 && dir.size() > 1; ++level) {
        if (FileExists(dir + "/idVendor")) {
            pnpId =
                JoinNonEmpty(ReadAttribute(dir + "/manufacturer"), ReadAttribute(dir + "/product"));
            return true;
        }
        if (FileExists(dir + "/prod_id1")) {
            pnpId =
                JoinNonEmpty(ReadAttribute(dir + "/prod_id1"), ReadAttribute(dir + "/prod_id2"));
            return true;
        }
        size_t slash = dir.find_last_of('/');
        if (slash == std::string::npos || slash == 0) {
            break;
        }
        dir.erase(slash);
    }
    return false;
}

}  // namespace

std::string ActiveDriverKeyName(int index) {
    char name[32];
    std::snprintf(name, sizeof name, "Drivers\\Active\\%02d", index);
    return name;
}

bool ActiveDriverTable::OpenKey(const std::string& keyName, RegistryKey& key) {
    for (size_t i = 0; i < m_entries.size(); ++i) {
        if (m_entries[i].keyName == keyName) {
            key = static_cast<RegistryKey>(i + 1);
            ++m_openKeys;
            return true;
        }
    }
    return false;
}

bool ActiveDriverTable::QueryValue(RegistryKey key, const std::string& valueName, char16_t* buffer,
                                   uint32_t& byteSize) {
    if (key == 0 || key > m_entries.size()) {
        return false;
    }
    const auto& values = m_entries[key - 1].values;
    auto found = values.find(valueName);
    size_t capacity = byteSize / sizeof(char16_t);  // whole characters only
    if (found == values.end() || capacity == 0) {
        return false;
    }
    size_t length = std::min(found->second.size(), capacity - 1);
    std::copy(found->second.begin(), found->second.begin() + length, buffer);
    buffer[length] = u'\0';
    byteSize = static_cast<uint32_t>((length + 1) * sizeof(char16_t));
    return true;
}

void ActiveDriverTable::CloseKey(RegistryKey key) {
    if (key != 0 && key <= m_entries.size() && m_openKeys > 0) {
        --m_openKeys;
    }
}

void InMemoryDriverTable::SetValue(int index, const std::string& valueName,
                                   const std::string& value) {
    SetValue(index, valueName, Widen(value));
}

void InMemoryDriverTable::SetValue(int index, const std::string& valueName,
                                   const std::u16string& value) {
    std::string keyName = ActiveDriverKeyName(index);
    for (auto& entry : m_entries) {
        if (entry.keyName == keyName) {
            entry.values[valueName] = value;
            return;
        }
    }
    m_entries.push_back({keyName, {{valueName, value}}});
}

SysfsDriverTable::SysfsDriverTable(const std::string& sysRoot) {
    std::string classDir = sysRoot + "/class/tty";
    std::vector<std::string> names;
    if (DIR* dir = ::opendir(classDir.c_str())) {
        while (dirent* item = ::readdir(dir)) {
            std::string name = item->d_name;
            if (name != "." && name != "..") {
                names.push_back(name);
            }
        }
        ::closedir(dir);
    }
    std::sort(names.begin(), names.end(), NaturalLess);
    for (const auto& name : names) {
        std::string pnpId;
        if (!AdapterIdentity(classDir + "/" + name + "/device", pnpId)) {
            continue;
        }
        Port port{pnpId, "/dev/" + name};
        int index = static_cast<int>(m_ports.size());
        m_entries.push_back({ActiveDriverKeyName(index),
                             {{"PnpId", Widen(port.pnpId)}, {"Name", Widen(port.devicePath)}}});
        m_ports.push_back(port);
    }
}

}  // namespace platform
