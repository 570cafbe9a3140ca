#include "platform/active_drivers.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <string>

namespace {

// A miniature sysfs: class/tty entries whose device links lead into a
// devices/ tree with USB and PC-card attributes.
class FakeSysfs {
  public:
    FakeSysfs() {
        char pattern[] = "/tmp/kestrow-sysfs-XXXXXX";
        m_root = mkdtemp(pattern);
        MakeDirs("class/tty");
    }
    ~FakeSysfs() { std::system(("rm -rf '" + m_root + "'").c_str()); }
    const std::string& Root() const { return m_root; }

    void MakeDirs(const std::string& relative) {
        std::string path = m_root;
        size_t start = 0;
        while (start <= relative.size()) {
            size_t slash = relative.find('/', start);
            if (slash == std::string::npos) {
                slash = relative.size();
            }
            path += "/" + relative.substr(start, slash - start);
            mkdir(path.c_str(), 0755);
            start = slash + 1;
        }
    }
    void WriteFile(const std::string& relative, const std::string& text) {
        std::ofstream(m_root + "/" + relative) << text << "\n";
    }
    // class/tty/<name>, with a device link to devices/<deviceDir> when given.
    void AddTty(const std::string& name, const std::string& deviceDir = "") {
        MakeDirs("class/tty/" + name);
        if (!deviceDir.empty()) {
            MakeDirs("devices/" + deviceDir);
            std::string link = m_root + "/class/tty/" + name + "/device";
            EXPECT_EQ(symlink((m_root + "/devices/" + deviceDir).c_str(), link.c_str()), 0);
        }
    }
    void AddUsbDevice(const std::string& dir, const std::string& manufacturer,
                      const std::string& product) {
        MakeDirs("devices/" + dir);
        WriteFile("devices/" + dir + "/idVendor", "0403");
        if (!manufacturer.empty()) {
            WriteFile("devices/" + dir + "/manufacturer", manufacturer);
        }
        if (!product.empty()) {
            WriteFile("devices/" + dir + "/product", product);
        }
    }

  private:
    std::string m_root;
};

std::string Query(platform::ActiveDriverTable& table, int index, const char* value) {
    platform::RegistryKey key;
    if (!table.OpenKey(platform::ActiveDriverKeyName(index), key)) {
        return "<no key>";
    }
    char16_t buffer[512];
    uint32_t size = 511;
    bool ok = table.QueryValue(key, value, buffer, size);
    table.CloseKey(key);
    if (!ok) {
        return "<no value>";
    }
    std::string out;
    for (size_t i = 0; buffer[i] != 0; ++i) {
        out.push_back(static_cast<char>(buffer[i]));
    }
    return out;
}

TEST(SysfsDriverTable, AdapterPortsBecomeKeysInNaturalOrder) {
    FakeSysfs sys;
    sys.AddUsbDevice("pci0/usb1/1-1", "Quatech", "SSU-100 Serial");
    sys.AddTty("ttyUSB0", "pci0/usb1/1-1/1-1:1.0/ttyUSB0");
    sys.AddUsbDevice("pci0/usb1/1-2", "FTDI", "");
    sys.AddTty("ttyUSB10", "pci0/usb1/1-2/1-2:1.0/ttyUSB10");
    sys.AddUsbDevice("pci0/usb1/1-3", "Prolific", "USB-Serial");
    sys.AddTty("ttyUSB2", "pci0/usb1/1-3/1-3:1.0/ttyUSB2");
    sys.AddTty("ttyACM0", "pci0/usb1/1-3/1-3:1.1");
    // A PC-card serial adapter.
    sys.MakeDirs("devices/pcmcia0/0.0");
    sys.WriteFile("devices/pcmcia0/0.0/prod_id1", "Socket");
    sys.WriteFile("devices/pcmcia0/0.0/prod_id2", "CF+ Serial");
    sys.AddTty("ttyS1", "pcmcia0/0.0");
    // On-board port and virtual terminals: not adapters.
    sys.AddTty("ttyS0", "platform/serial8250");
    sys.AddTty("tty0");
    sys.AddTty("console");

    platform::SysfsDriverTable table(sys.Root());
    ASSERT_EQ(table.Ports().size(), 5u);
    EXPECT_EQ(Query(table, 0, "Name"), "/dev/ttyACM0");
    EXPECT_EQ(Query(table, 0, "PnpId"), "Prolific USB-Serial");
    EXPECT_EQ(Query(table, 1, "Name"), "/dev/ttyS1");
    EXPECT_EQ(Query(table, 1, "PnpId"), "Socket CF+ Serial");
    EXPECT_EQ(Query(table, 2, "Name"), "/dev/ttyUSB0");
    EXPECT_EQ(Query(table, 2, "PnpId"), "Quatech SSU-100 Serial");
    EXPECT_EQ(Query(table, 3, "Name"), "/dev/ttyUSB2");
    EXPECT_EQ(Query(table, 4, "Name"), "/dev/ttyUSB10");
    EXPECT_EQ(Query(table, 4, "PnpId"), "FTDI");
    EXPECT_EQ(Query(table, 5, "Name"), "<no key>");
    EXPECT_EQ(Query(table, 0, "Other"), "<no value>");
    EXPECT_EQ(table.OpenKeyCount(), 0);
}

TEST(SysfsDriverTable, MissingTreeGivesAnEmptyTable) {
    platform::SysfsDriverTable table("/nonexistent-sysfs-root");
    EXPECT_TRUE(table.Ports().empty());
    platform::RegistryKey key;
    EXPECT_FALSE(table.OpenKey("Drivers\\Active\\00", key));
}

TEST(ActiveDriverTable, QueryNeverWritesPastTheOfferedSize) {
    platform::InMemoryDriverTable table;
    table.SetValue(0, "PnpId", std::u16string(u"Quatech \u00e9"));
    platform::RegistryKey key;
    ASSERT_TRUE(table.OpenKey("Drivers\\Active\\00", key));
    char16_t buffer[20];
    for (uint32_t offered : {0u, 1u, 2u, 7u, 9u, 32u}) {
        std::fill(std::begin(buffer), std::end(buffer), u'#');
        uint32_t size = offered;
        bool ok = table.QueryValue(key, "PnpId", buffer, size);
        if (offered < 2) {
            EXPECT_FALSE(ok) << offered;
            EXPECT_EQ(buffer[0], u'#');
            continue;
        }
        ASSERT_TRUE(ok) << offered;
        size_t chars = std::min<size_t>(offered / 2, 10);
        EXPECT_EQ(size, chars * 2);
        EXPECT_EQ(buffer[chars - 1], u'\0');
        EXPECT_EQ(buffer[offered / 2], u'#') << offered;
    }
    EXPECT_EQ(std::u16string(buffer), u"Quatech \u00e9");
    table.CloseKey(key);
    EXPECT_EQ(table.OpenKeyCount(), 0);
}

}  // namespace
