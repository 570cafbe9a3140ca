// kscan: Wi-Fi scans with the computer's own adapter (nl80211), and the
// saved scan dumps people attach to their bug reports.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "platform/text.h"
#include "wifi/channels.h"
#include "wifi/nl80211_transport.h"
#include "wifi/scan_dump.h"
#include "wifi/wifi_scanner.h"

namespace {

const char kUsage[] =
    "Usage: kscan [--iface IFACE] [--format text|json] [--save-dump FILE]\n"
    "       kscan --from-dump FILE [--format text|json]\n"
    "       kscan --list-interfaces [--format text|json]\n"
    "\n"
    "Wi-Fi scans with the computer's own adapter, for Kestrow.\n"
    "\n"
    "  (no command)           scan now and list every access point heard\n"
    "    --iface IFACE        scan with this interface; by default the first\n"
    "                         wireless interface that is up\n"
    "    --save-dump FILE     append the kernel's raw scan results to FILE (for\n"
    "                         a bug report, or kestrow --wifi-replay)\n"
    "  --from-dump FILE       list the access points of saved scans\n"
    "  --list-interfaces      the wireless interfaces and whether they are up\n"
    "  --format text|json     output format (text by default)\n"
    "\n"
    "  -h, --help             show this help\n"
    "  --version              print the version\n"
    "\n"
    "Starting a scan needs the CAP_NET_ADMIN capability; without it kscan asks\n"
    "NetworkManager to scan. Exit status: 0 success, 1 failure, 2 usage error.\n";

int UsageError(const std::string& message) {
    std::fprintf(stderr, "kscan: %s (try 'kscan --help')\n", message.c_str());
    return 2;
}

int Failure(const std::string& message) {
    std::fprintf(stderr, "kscan: %s\n", message.c_str());
    return 1;
}

std::string Hex(const std::string& bytes) {
    static const char kDigits[] = "0123456789abcdef";
    std::string text;
    for (unsigned char c : bytes) {
        text += kDigits[c >> 4];
        text += kDigits[c & 15];
    }
    return text;
}

// SSID text for a terminal: control characters (a hostile SSID may carry
// escape sequences or line breaks) shown as \xNN.
std::string PrintableSsid(const std::string& raw) {
    const std::string text = platform::TextFromBytes(raw.data(), raw.size());
    if (text.empty()) {
        return "(hidden)";
    }
    std::string out;
    for (unsigned char c : text) {
        if (c < 0x20 || c == 0x7F || c == '\\') {
            char escaped[5];
            std::snprintf(escaped, sizeof escaped, "\\x%02x", c);
            out += escaped;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

nlohmann::ordered_json EntryJson(const wifi::BssEntry& e, size_t scan) {
    const wifi::Channel channel = wifi::ChannelFromFrequency(e.frequency);
    nlohmann::ordered_json j;
    j["bssid"] = wifi::BssidText(e.bssid);
    j["ssid"] = platform::TextFromBytes(e.ssid.data(), e.ssid.size());
    j["ssid_hex"] = Hex(e.ssid);
    j["frequency"] = e.frequency;
    j["channel"] =
        channel.number > 0 ? nlohmann::ordered_json(channel.number) : nlohmann::ordered_json();
    const char* band = wifi::BandName(channel.band);
    j["band"] = band ? nlohmann::ordered_json(band) : nlohmann::ordered_json();
    j["signal_dbm"] =
        e.signalMbm ? nlohmann::ordered_json(*e.signalMbm / 100.0) : nlohmann::ordered_json();
    j["signal_quality"] =
        e.signalQuality ? nlohmann::ordered_json(*e.signalQuality) : nlohmann::ordered_json();
    j["seen_ms_ago"] =
        e.seenMsAgo ? nlohmann::ordered_json(*e.seenMsAgo) : nlohmann::ordered_json();
    j["associated"] = e.associated;
    j["scan"] = scan;
    return j;
}

std::string TextRow(const wifi::BssEntry& e) {
    const wifi::Channel channel = wifi::ChannelFromFrequency(e.frequency);
    char signal[24] = "-";
    if (e.signalMbm) {
        std::snprintf(signal, sizeof signal, "%.2f dBm", *e.signalMbm / 100.0);
    } else if (e.signalQuality) {
        std::snprintf(signal, sizeof signal, "%u/100", static_cast<unsigned>(*e.signalQuality));
    }
    char seen[16] = "-";
    if (e.seenMsAgo) {
        std::snprintf(seen, sizeof seen, "%u ms", static_cast<unsigned>(*e.seenMsAgo));
    }
    const char* band = wifi::BandName(channel.band);
    char row[160];
    std::snprintf(row, sizeof row, "%-17s  %5u  %3s  %-4s  %-11s  %8s  ",
                  wifi::BssidText(e.bssid).c_str(), static_cast<unsigned>(e.frequency),
                  channel.number > 0 ? std::to_string(channel.number).c_str() : "-",
                  band ? band : "-", signal, seen);
    return row + PrintableSsid(e.ssid) + (e.associated ? "  [associated]" : "");
}

const char kTextHeading[] = "BSSID              FREQ   CH   BAND  SIGNAL           SEEN  SSID\n";

// Prints the scans, each a list of its access points; several scans in text
// get a line of their own before each list.
void PrintScans(const std::vector<const std::vector<wifi::BssEntry>*>& scans, bool json) {
    if (json) {
        nlohmann::ordered_json all = nlohmann::ordered_json::array();
        for (size_t s = 0; s < scans.size(); ++s) {
            for (const wifi::BssEntry& e : *scans[s]) {
                all.push_back(EntryJson(e, s + 1));
            }
        }
        std::printf("%s\n", all.dump(2).c_str());
        return;
    }
    for (size_t s = 0; s < scans.size(); ++s) {
        if (scans.size() > 1) {
            std::printf("%sscan %zu: %zu access point%s\n", s ? "\n" : "", s + 1, scans[s]->size(),
                        scans[s]->size() == 1 ? "" : "s");
        }
        std::fputs(kTextHeading, stdout);
        for (const wifi::BssEntry& e : *scans[s]) {
            std::printf("%s\n", TextRow(e).c_str());
        }
    }
}

bool ReadFile(const std::string& path, std::vector<uint8_t>& bytes, std::string& error) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) {
        error = "cannot open " + path + ": " + std::strerror(errno);
        return false;
    }
    if (!S_ISREG(info.st_mode)) {
        error = path + " is not a regular file";
        return false;
    }
    FILE* f = std::fopen(path.c_str(), "rb");
    if (f == nullptr) {
        error = "cannot open " + path + ": " + std::strerror(errno);
        return false;
    }
    bytes.resize(static_cast<size_t>(info.st_size));
    const size_t n = std::fread(bytes.data(), 1, bytes.size(), f);
    const bool failed = std::ferror(f) != 0;
    std::fclose(f);
    if (failed) {
        error = "cannot read " + path;
        return false;
    }
    bytes.resize(n);
    return true;
}

int FromDump(const std::string& path, bool json) {
    std::vector<uint8_t> bytes;
    std::string error;
    if (!ReadFile(path, bytes, error)) {
        return Failure(error);
    }
    const wifi::ScanDumps parsed = wifi::ParseScanDumps(bytes.data(), bytes.size());
    std::vector<const std::vector<wifi::BssEntry>*> scans;
    int status = 0;
    auto takeScan = [&](const wifi::ScanDump& dump) {
        for (const std::string& w : dump.warnings) {
            std::fprintf(stderr, "kscan: warning: %s: %s\n", path.c_str(), w.c_str());
        }
        if (dump.error < 0) {
            std::fprintf(stderr, "kscan: %s: scan %zu ended with an error from the kernel: %s\n",
                         path.c_str(), scans.size() + 1, std::strerror(-dump.error));
            status = 1;
        }
        scans.push_back(&dump.entries);
    };
    for (const wifi::ScanDump& dump : parsed.dumps) {
        takeScan(dump);
    }
    if (parsed.cut) {
        takeScan(parsed.cutDump);
    }
    if (scans.empty()) {
        return Failure(path + " holds no scan dump");
    }
    PrintScans(scans, json);
    if (parsed.cut) {
        std::fflush(stdout);
        std::fprintf(stderr, "kscan: %s: %s; the access points before it are listed\n",
                     path.c_str(), parsed.cutMessage.c_str());
        status = 1;
    }
    return status;
}

int ListInterfaces(bool json) {
    wifi::Nl80211Transport transport;
    std::vector<wifi::WirelessInterface> interfaces;
    std::string error;
    if (!transport.ListInterfaces(interfaces, error)) {
        return Failure(error);
    }
    if (interfaces.empty()) {
        return Failure("no Wi-Fi adapter: the computer has no wireless interface");
    }
    if (json) {
        nlohmann::ordered_json all = nlohmann::ordered_json::array();
        for (const wifi::WirelessInterface& i : interfaces) {
            all.push_back({{"name", i.name},
                           {"up", i.up},
                           {"client", i.station},
                           {"driver", i.driver},
                           {"phy", i.phy}});
        }
        std::printf("%s\n", all.dump(2).c_str());
        return 0;
    }
    for (const wifi::WirelessInterface& i : interfaces) {
        std::printf("%-15s %-4s  %-12s %s%s\n", i.name.c_str(), i.up ? "up" : "down",
                    i.driver.empty() ? "-" : i.driver.c_str(), i.phy.c_str(),
                    i.station ? "" : "  (not a client interface: cannot scan)");
    }
    return 0;
}

// Appends the dump to the file. A write that fails leaves the file as it was.
bool AppendDump(const std::string& path, const std::vector<uint8_t>& bytes, std::string& error) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd < 0) {
        error = "cannot write " + path + ": " + std::strerror(errno);
        return false;
    }
    struct stat info {};
    const bool regular = ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode);
    size_t done = 0;
    while (regular && done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            break;
        }
        done += static_cast<size_t>(n);
    }
    const int writeErrno = errno;
    const bool ok = regular && done == bytes.size() && ::fsync(fd) == 0;
    if (!ok && regular && ::ftruncate(fd, info.st_size) != 0) {
        // The partial dump stays; a reader reports it as cut.
    }
    ::close(fd);
    if (!ok) {
        error = regular ? "cannot write " + path + ": " + std::strerror(writeErrno)
                        : path + " is not a regular file";
    }
    return ok;
}

int Scan(const std::string& iface, const std::string& savePath, bool json) {
    wifi::WifiScannerOptions options;
    options.iface = iface;
    options.program = "kscan";
    options.progressIntervalMs = 0;
    std::unique_ptr<wifi::WifiScanner> scanner = wifi::MakeAdapterScanner(options);
    scanner->Start();
    while (scanner->Poll(std::chrono::milliseconds(500)) == wifi::ScanStatus::kRunning) {
    }
    if (scanner->Status() != wifi::ScanStatus::kDone) {
        return Failure(scanner->Error());
    }
    for (const std::string& w : scanner->Warnings()) {
        std::fprintf(stderr, "kscan: warning: %s\n", w.c_str());
    }
    if (scanner->UsedNetworkManager()) {
        std::fprintf(stderr, "kscan: scanned through NetworkManager (no CAP_NET_ADMIN)\n");
    }
    std::string error;
    if (!savePath.empty() && !AppendDump(savePath, scanner->DumpBytes(), error)) {
        return Failure(error);
    }
    PrintScans({&scanner->Heard()}, json);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    for (const std::string& a : args) {
        if (a == "-h" || a == "--help") {
            std::fputs(kUsage, stdout);
            return 0;
        }
        if (a == "--version") {
            std::printf("kscan %s\n", KESTROW_VERSION);
            return 0;
        }
    }
    std::string iface, savePath, dumpPath, format = "text";
    bool haveIface = false, haveSave = false, haveDump = false, haveFormat = false, list = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        auto value = [&](std::string& out, bool& seen) {
            if (seen) {
                return UsageError(a + " given twice");
            }
            if (i + 1 >= args.size() || args[i + 1].empty()) {
                return UsageError(a + " needs a value");
            }
            out = args[++i];
            seen = true;
            return 0;
        };
        int rc = 0;
        if (a == "--iface") {
            rc = value(iface, haveIface);
        } else if (a == "--save-dump") {
            rc = value(savePath, haveSave);
        } else if (a == "--from-dump") {
            rc = value(dumpPath, haveDump);
        } else if (a == "--format") {
            rc = value(format, haveFormat);
        } else if (a == "--list-interfaces") {
            list = true;
        } else {
            return UsageError("unknown argument '" + a + "'");
        }
        if (rc != 0) {
            return rc;
        }
    }
    if (format != "text" && format != "json") {
        return UsageError("unknown format '" + format + "' (text or json)");
    }
    const bool json = format == "json";
    if (list) {
        if (haveIface || haveSave || haveDump) {
            return UsageError("--list-interfaces takes no other option but --format");
        }
        return ListInterfaces(json);
    }
    if (haveDump) {
        if (haveIface || haveSave) {
            return UsageError("--from-dump reads saved scans: no --iface or --save-dump");
        }
        return FromDump(dumpPath, json);
    }
    return Scan(iface, savePath, json);
}
