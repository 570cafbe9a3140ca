// kscan: Wi-Fi scans with the computer's own adapter (nl80211), the saved scan
// dumps people attach to their bug reports, and the scan helper that starts
// scans for Kestrow when kscan alone has been given the capability.
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "platform/text.h"
#include "wifi/channels.h"
#include "wifi/dump_file.h"
#include "wifi/nl80211_transport.h"
#include "wifi/scan_dump.h"
#include "wifi/scan_merge.h"
#include "wifi/wifi_scanner.h"

namespace {

const char kUsage[] =
    "Usage: kscan [--iface IFACE] [--format text|json] [--save-dump FILE] [--full-6ghz]\n"
    "       kscan --from-dump FILE [--format text|json]\n"
    "       kscan --list-interfaces [--format text|json]\n"
    "       kscan --trigger-scan --iface IFACE [--passive] [--frequencies F,...] [--no-colocated]\n"
    "       kscan --abort-scan --iface IFACE\n"
    "\n"
    "Wi-Fi scans with the computer's own adapter, for Kestrow.\n"
    "\n"
    "  (no command)           scan now and list every access point heard\n"
    "    --iface IFACE        scan with this interface; by default the first\n"
    "                         wireless interface that is up\n"
    "    --save-dump FILE     append the kernel's raw scan results to FILE (for\n"
    "                         a bug report, or kestrow --wifi-replay)\n"
    "    --full-6ghz          then listen on every 6 GHz channel too (slower)\n"
    "  --from-dump FILE       list the access points of saved scans\n"
    "  --list-interfaces      the wireless interfaces and whether they are up\n"
    "  --format text|json     output format (text by default)\n"
    "  --trigger-scan         as Kestrow's scan helper: start a scan and answer\n"
    "                         one line, 0 or the kernel's negative errno\n"
    "  --abort-scan           as Kestrow's scan helper: stop the running scan\n"
    "\n"
    "  -h, --help             show this help\n"
    "  --version              print the version\n"
    "\n"
    "Starting a scan needs the CAP_NET_ADMIN capability; without it kscan asks\n"
    "NetworkManager, then iwd, to scan. Given it once (sudo setcap\n"
    "cap_net_admin+ep $(which kscan)), kscan also starts the scans of Kestrow.\n"
    "Exit status: 0 success, 1 failure, 2 usage error.\n";

constexpr size_t kMaxFrequencies = 1024;

int UsageError(const std::string& message) {
    std::fprintf(stderr, "kscan: %s (try 'kscan --help')\n", message.c_str());
    return 2;
}

int Failure(const std::string& message) {
    std::fprintf(stderr, "kscan: %s\n", message.c_str());
    return 1;
}

void Warn(const std::string& message) {
    std::fprintf(stderr, "kscan: warning: %s\n", message.c_str());
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

nlohmann::ordered_json OrNull(bool known, nlohmann::ordered_json value) {
    return known ? value : nlohmann::ordered_json();
}

// The noise of each channel a scan's survey measured, by frequency.
using NoiseByFrequency = std::map<uint32_t, int>;

NoiseByFrequency NoiseOf(const std::vector<wifi::ChannelSurvey>& survey) {
    NoiseByFrequency noise;
    for (const wifi::ChannelSurvey& c : survey) {
        if (c.noiseDbm) {
            noise[c.frequency] = *c.noiseDbm;
        }
    }
    return noise;
}

nlohmann::ordered_json EntryJson(const wifi::BssEntry& e, size_t scan,
                                 const NoiseByFrequency& noise) {
    const wifi::Channel channel = wifi::ChannelFromFrequency(e.frequency);
    const char* band = wifi::BandName(channel.band);
    const auto heardNoise = noise.find(e.frequency);
    nlohmann::ordered_json j;
    j["bssid"] = wifi::BssidText(e.bssid);
    j["ssid"] = platform::TextFromBytes(e.ssid.data(), e.ssid.size());
    j["ssid_hex"] = Hex(e.ssid);
    j["frequency"] = e.frequency;
    j["channel"] = OrNull(channel.number > 0, channel.number);
    j["band"] = OrNull(band != nullptr, band ? band : "");
    j["signal_dbm"] = OrNull(e.signalMbm.has_value(), e.signalMbm.value_or(0) / 100.0);
    j["signal_quality"] = OrNull(e.signalQuality.has_value(), e.signalQuality.value_or(0));
    j["seen_ms_ago"] = OrNull(e.seenMsAgo.has_value(), e.seenMsAgo.value_or(0));
    j["associated"] = e.associated;
    j["scan"] = scan;
    j["width_mhz"] = OrNull(e.widthMhz > 0, e.widthMhz);
    j["noise_dbm"] =
        OrNull(heardNoise != noise.end(), heardNoise != noise.end() ? heardNoise->second : 0);
    return j;
}

const char kTextHeading[] =
    "BSSID              FREQ   CH   BAND  WIDTH  SIGNAL           NOISE      SEEN  SSID\n";

std::string TextRow(const wifi::BssEntry& e, const NoiseByFrequency& noise) {
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
    char noiseText[16] = "-";
    const auto heardNoise = noise.find(e.frequency);
    if (heardNoise != noise.end()) {
        std::snprintf(noiseText, sizeof noiseText, "%d dBm", heardNoise->second);
    }
    const char* band = wifi::BandName(channel.band);
    char row[200];
    std::snprintf(row, sizeof row, "%-17s  %5u  %3s  %-4s  %5s  %-13s  %7s  %8s  ",
                  wifi::BssidText(e.bssid).c_str(), static_cast<unsigned>(e.frequency),
                  channel.number > 0 ? std::to_string(channel.number).c_str() : "-",
                  band ? band : "-", e.widthMhz > 0 ? std::to_string(e.widthMhz).c_str() : "-",
                  signal, noiseText, seen);
    const std::string ssid = platform::TextFromBytes(e.ssid.data(), e.ssid.size());
    return row + (ssid.empty() ? std::string("(hidden)") : platform::PrintableText(ssid)) +
           (e.associated ? "  [associated]" : "");
}

// Prints scans one at a time, so a large file never has to be held whole:
// JSON as one array (laid out as nlohmann's dump(2) lays out an array),
// text as a list per scan, under a line of its own when there are several.
class ScanPrinter {
  public:
    ScanPrinter(bool json, bool several) : m_json(json), m_several(several) {}

    void Print(const std::vector<wifi::BssEntry>& entries,
               const std::vector<wifi::ChannelSurvey>& survey) {
        ++m_scan;
        const NoiseByFrequency noise = NoiseOf(survey);
        if (m_json) {
            for (const wifi::BssEntry& e : entries) {
                std::string text = EntryJson(e, m_scan, noise).dump(2);
                std::string indented = "  ";
                for (char c : text) {
                    indented += c;
                    if (c == '\n') {
                        indented += "  ";
                    }
                }
                std::printf("%s%s", m_first ? "[\n" : ",\n", indented.c_str());
                m_first = false;
            }
            return;
        }
        if (m_several) {
            std::printf("%sscan %zu: %zu access point%s\n", m_scan > 1 ? "\n" : "", m_scan,
                        entries.size(), entries.size() == 1 ? "" : "s");
        }
        std::fputs(kTextHeading, stdout);
        for (const wifi::BssEntry& e : entries) {
            std::printf("%s\n", TextRow(e, noise).c_str());
        }
    }

    void Finish() {
        if (m_json) {
            std::printf("%s\n", m_first ? "[]" : "\n]");
        }
        std::fflush(stdout);
    }

  private:
    bool m_json;
    bool m_several;
    bool m_first = true;
    size_t m_scan = 0;
};

// One access point per BSSID, as Kestrow records them; impossible levels
// warned about and left out.
std::vector<wifi::BssEntry> AsRecorded(const std::vector<wifi::BssEntry>& entries) {
    std::vector<std::string> warnings;
    std::vector<wifi::BssEntry> recorded = wifi::OnePerBssid(entries, &warnings);
    for (const std::string& w : warnings) {
        Warn(w);
    }
    return recorded;
}

int FromDump(const std::string& path, bool json) {
    std::vector<uint8_t> bytes;
    std::string error;
    if (!wifi::ReadDumpFile(path, bytes, error)) {
        return Failure(error);
    }
    if (bytes.empty()) {
        return Failure(path + " holds no scan dump");
    }
    int status = 0;
    size_t offset = 0, scans = 0;
    std::unique_ptr<ScanPrinter> printer;
    std::string cutMessage;
    while (offset < bytes.size()) {
        bool cut = false;
        wifi::ScanDump dump =
            wifi::ParseSavedScan(bytes.data(), bytes.size(), offset, cut, cutMessage);
        for (const std::string& w : dump.warnings) {
            Warn(path + ": " + w);
        }
        ++scans;
        if (dump.error < 0) {
            std::fprintf(stderr, "kscan: %s: scan %zu ended with an error from the kernel: %s\n",
                         path.c_str(), scans, std::strerror(-dump.error));
            status = 1;
        }
        if (!printer) {
            printer = std::make_unique<ScanPrinter>(json, !cut && dump.end < bytes.size());
        }
        wifi::DropStaleEntries(dump);
        printer->Print(AsRecorded(dump.entries), dump.survey);
        if (cut) {
            printer->Finish();
            std::fprintf(stderr, "kscan: %s: %s; the access points before it are listed\n",
                         path.c_str(), cutMessage.c_str());
            return 1;
        }
        offset = dump.end;
    }
    printer->Finish();
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
                           {"client", i.CanScan()},
                           {"driver", i.driver},
                           {"phy", i.phy}});
        }
        std::printf("%s\n", all.dump(2).c_str());
        return 0;
    }
    for (const wifi::WirelessInterface& i : interfaces) {
        std::printf("%-15s %-4s  %-12s %s%s\n", i.name.c_str(), i.up ? "up" : "down",
                    i.driver.empty() ? "-" : i.driver.c_str(), i.phy.c_str(),
                    i.CanScan() ? "" : ("  (" + i.KindText() + ": cannot scan)").c_str());
    }
    return 0;
}

// As the scan helper: one line on standard output, "0" or "-errno reason".
int Helper(const std::string& iface, bool abort, const wifi::ScanRequest& request) {
    wifi::Nl80211Transport transport;
    std::vector<wifi::WirelessInterface> interfaces;
    std::string reason;
    int rc = -ENODEV;
    if (!transport.ListInterfaces(interfaces, reason)) {
        rc = -ENODEV;
    }
    for (const wifi::WirelessInterface& i : interfaces) {
        if (i.name == iface) {
            rc = abort ? transport.AbortScan(i) : transport.TriggerScan(i, request, reason);
        }
    }
    if (rc == 0) {
        std::printf("0\n");
        return 0;
    }
    const std::string text = reason.empty() ? std::strerror(-rc) : reason;
    std::printf("%d %s\n", rc, platform::PrintableText(text).c_str());
    return 1;
}

bool ParseFrequencies(const std::string& text, std::vector<uint32_t>& out) {
    size_t start = 0;
    while (start <= text.size() && out.size() < kMaxFrequencies) {
        const size_t end = std::min(text.find(',', start), text.size());
        const std::string item = text.substr(start, end - start);
        char* stop = nullptr;
        const unsigned long mhz = std::strtoul(item.c_str(), &stop, 10);
        if (item.empty() || *stop != '\0' || mhz < 2400 || mhz > 7200) {
            return false;
        }
        out.push_back(static_cast<uint32_t>(mhz));
        start = end + 1;
    }
    return start > text.size();
}

int Scan(const std::string& iface, const std::string& savePath, bool json, bool full6Ghz) {
    wifi::WifiScannerOptions options;
    options.iface = iface;
    options.progressIntervalMs = 0;
    options.full6Ghz = full6Ghz;
    std::unique_ptr<wifi::WifiScanner> scanner = wifi::MakeAdapterScanner(options, false);
    scanner->Start();
    while (scanner->Poll(std::chrono::milliseconds(500)) == wifi::ScanStatus::kRunning) {
    }
    if (scanner->Status() != wifi::ScanStatus::kDone) {
        return Failure(scanner->Error());
    }
    for (const std::string& w : scanner->Warnings()) {
        Warn(w);
    }
    if (!scanner->ScannedThrough().empty()) {
        std::fprintf(stderr, "kscan: scanned through %s (no CAP_NET_ADMIN)\n",
                     scanner->ScannedThrough().c_str());
    }
    std::string error;
    if (!savePath.empty() && !wifi::AppendDumpFile(savePath, scanner->SavedScan(), error)) {
        return Failure(error);
    }
    ScanPrinter printer(json, false);
    printer.Print(AsRecorded(scanner->Heard()), scanner->Survey());
    printer.Finish();
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
    std::string iface, savePath, dumpPath, format = "text", frequencies;
    bool haveIface = false, haveSave = false, haveDump = false, haveFormat = false,
         haveFrequencies = false;
    bool list = false, full6Ghz = false, trigger = false, abort = false, passive = false,
         noColocated = false;
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
        } else if (a == "--frequencies") {
            rc = value(frequencies, haveFrequencies);
        } else if (a == "--list-interfaces") {
            list = true;
        } else if (a == "--full-6ghz") {
            full6Ghz = true;
        } else if (a == "--trigger-scan") {
            trigger = true;
        } else if (a == "--abort-scan") {
            abort = true;
        } else if (a == "--passive") {
            passive = true;
        } else if (a == "--no-colocated") {
            noColocated = true;
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
    const bool helperOption = passive || noColocated || haveFrequencies;
    if (trigger || abort) {
        if (trigger && abort) {
            return UsageError("--trigger-scan and --abort-scan exclude each other");
        }
        if (!haveIface || haveSave || haveDump || haveFormat || list || full6Ghz ||
            (abort && helperOption)) {
            return UsageError(std::string(trigger ? "--trigger-scan" : "--abort-scan") +
                              " takes --iface and, to start a scan, --passive, --frequencies "
                              "and --no-colocated only");
        }
        wifi::ScanRequest request;
        request.passive = passive;
        request.colocated6Ghz = !noColocated;
        if (haveFrequencies && !ParseFrequencies(frequencies, request.frequencies)) {
            return UsageError(
                "--frequencies needs a list of frequencies in MHz, 2400 to 7200, "
                "separated by commas (at most 1024)");
        }
        return Helper(iface, abort, request);
    }
    if (helperOption) {
        return UsageError("--passive, --frequencies and --no-colocated go with --trigger-scan");
    }
    if (list) {
        if (haveIface || haveSave || haveDump || full6Ghz) {
            return UsageError("--list-interfaces takes no other option but --format");
        }
        return ListInterfaces(json);
    }
    if (haveDump) {
        if (haveIface || haveSave || full6Ghz) {
            return UsageError(
                "--from-dump reads saved scans: no --iface, --save-dump or "
                "--full-6ghz");
        }
        return FromDump(dumpPath, json);
    }
    return Scan(iface, savePath, json, full6Ghz);
}
