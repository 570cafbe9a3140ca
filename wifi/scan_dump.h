// The nl80211 scan-results dump: the reply to NL80211_CMD_GET_SCAN as the
// netlink socket delivers it, and the same bytes saved to a file (several
// dumps one after another). One parser reads both.
//
// A saved scan is, in order: a note (an NLMSG_NOOP message whose 16-byte
// payload holds the scan's start and the dump's time, CLOCK_BOOTTIME
// nanoseconds, host byte order), the scan-results dump, and, where the
// adapter answered one, its channel survey (the reply to
// NL80211_CMD_GET_SURVEY, also up to its NLMSG_DONE). Files written before
// the note and the survey existed hold the dumps alone and read as before.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "wifi/elements.h"

namespace wifi {

// The most access points one scan may hand on; the kernel's own cache holds
// 1,000 by default. Entries past it are left out with a warning, so no dump
// can exhaust memory however many it holds.
constexpr size_t kMaxScanEntries = 100000;

// One BSS (access point radio) of a dump.
struct BssEntry {
    uint8_t bssid[6] = {};
    uint32_t frequency = 0;                // MHz; 0 when the kernel gave none
    int widthMhz = 0;                      // its operating channel width; 0 when unknown
    std::string ssid;                      // the SSID element's bytes, at most 32, as sent
    std::optional<int32_t> signalMbm;      // hundredths of a dBm
    std::optional<uint8_t> signalQuality;  // 0-100, where that is all the driver gives
    std::optional<uint32_t> seenMsAgo;
    std::optional<uint64_t> lastSeenBoottimeNs;  // CLOCK_BOOTTIME of the last frame heard
    bool associated = false;                     // this computer is associated with it
};

// One channel of the adapter's survey.
struct ChannelSurvey {
    uint32_t frequency = 0;       // MHz
    std::optional<int> noiseDbm;  // where the driver measured it
    bool inUse = false;           // the channel the adapter is tuned to
};

// When the scan ran, CLOCK_BOOTTIME nanoseconds.
struct ScanNote {
    uint64_t scanStartNs = 0;
    uint64_t dumpNs = 0;  // when the results were read
};

struct ScanDump {
    std::vector<BssEntry> entries;
    std::optional<ScanNote> note;
    std::vector<ChannelSurvey> survey;  // saved beside the scan; empty when none was
    std::vector<std::string> warnings;  // one line each, without the program's name
    bool complete = false;              // ended by its NLMSG_DONE (or an NLMSG_ERROR)
    int error = 0;                      // a negative errno the kernel ended the dump with
    bool interrupted = false;           // the kernel's list changed during the dump
    size_t leftOut = 0;                 // access points past kMaxScanEntries
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
// NLMSG_ERROR): a scan's results (after its note, where it has one) or a
// channel survey. Messages that are malformed are skipped with a warning.
// `cut` is set when the bytes end before the dump does.
ScanDump ParseScanDump(const uint8_t* data, size_t size, bool& cut, std::string& cutMessage);

// Parses the saved scan that starts at `offset`: its note, its dump and the
// channel survey after it. `end` becomes where the next one starts.
ScanDump ParseSavedScan(const uint8_t* data, size_t size, size_t offset, bool& cut,
                        std::string& cutMessage);

// Parses every saved scan of a file, one after another.
ScanDumps ParseScanDumps(const uint8_t* data, size_t size);

// The note written before a saved scan.
std::vector<uint8_t> ScanNoteMessage(const ScanNote& note);

// Leaves out the entries last seen before the scan started (the kernel keeps
// older ones in its cache): by their boot-time stamp where the kernel gives
// one, else by how long ago they were seen, counted back from `dumpBoottimeNs`
// (when the dump was read). Entries with neither are kept.
void DropStaleEntries(std::vector<BssEntry>& entries, uint64_t scanStartBoottimeNs,
                      uint64_t dumpBoottimeNs);
// The same by a saved scan's note; a scan without one keeps every entry.
void DropStaleEntries(ScanDump& dump);

// "aa:bb:cc:dd:ee:ff"
std::string BssidText(const uint8_t (&bssid)[6]);

}  // namespace wifi
