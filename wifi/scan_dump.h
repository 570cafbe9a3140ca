// The nl80211 scan-results dump: the reply to NL80211_CMD_GET_SCAN as the
// netlink socket delivers it, and the same bytes saved to a file (several
// dumps one after another). One parser reads both.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace wifi {

constexpr size_t kMaxSsidBytes = 32;

// One BSS (access point radio) of a dump.
struct BssEntry {
    uint8_t bssid[6] = {};
    uint32_t frequency = 0;                // MHz; 0 when the kernel gave none
    std::string ssid;                      // the SSID element's bytes, at most 32, as sent
    std::optional<int32_t> signalMbm;      // hundredths of a dBm
    std::optional<uint8_t> signalQuality;  // 0-100, where that is all the driver gives
    std::optional<uint32_t> seenMsAgo;
    std::optional<uint64_t> lastSeenBoottimeNs;  // CLOCK_BOOTTIME of the last frame heard
    bool associated = false;                     // this computer is associated with it
};

struct ScanDump {
    std::vector<BssEntry> entries;
    std::vector<std::string> warnings;  // one line each, without the program's name
    bool complete = false;              // ended by its NLMSG_DONE (or an NLMSG_ERROR)
    int error = 0;                      // a negative errno the kernel ended the dump with
    bool interrupted = false;           // the kernel's list changed during the dump
    size_t begin = 0;                   // byte offsets of the dump in the bytes parsed
    size_t end = 0;
};

struct ScanDumps {
    std::vector<ScanDump> dumps;  // complete ones, in order
    // Set when the bytes end inside a dump (inside a message, or before the
    // dump's end); `cutDump` then holds the part that was read.
    bool cut = false;
    std::string cutMessage;
    ScanDump cutDump;
};

// Parses one dump from the start of the bytes, up to its NLMSG_DONE (or an
// NLMSG_ERROR). Messages that are malformed are skipped with a warning.
// `cut` is set when the bytes end before the dump does.
ScanDump ParseScanDump(const uint8_t* data, size_t size, bool& cut, std::string& cutMessage);

// Parses every dump of a file, one after another.
ScanDumps ParseScanDumps(const uint8_t* data, size_t size);

// Leaves out the entries last seen before the scan started (the kernel keeps
// older ones in its cache): by their boot-time stamp where the kernel gives
// one, else by how long ago they were seen, counted back from `dumpBoottimeNs`
// (when the dump was read). Entries with neither are kept.
void DropStaleEntries(std::vector<BssEntry>& entries, uint64_t scanStartBoottimeNs,
                      uint64_t dumpBoottimeNs);

// "aa:bb:cc:dd:ee:ff"
std::string BssidText(const uint8_t (&bssid)[6]);

}  // namespace wifi
