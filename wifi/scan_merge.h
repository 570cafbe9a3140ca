// Access points heard by the Wi-Fi adapter, stored like those heard by the
// scanner unit: one record per MAC in g_scanList, repeated scans of a survey
// point summing their levels and counting their samples.
#pragma once

#include <string>
#include <vector>

#include "wifi/scan_dump.h"

namespace wifi {

// Levels a receiver can hear: anything outside is a driver's or a file's
// nonsense and never becomes survey data.
constexpr int kMinLevelDbm = -120;
constexpr int kMaxLevelDbm = 0;

// The level a record stores for the entry, in whole dBm: the signal rounded,
// or, where the driver reports only a 0-100 quality, that quality as a level.
// False when the entry has neither.
bool EntryLevelDbm(const BssEntry& entry, int& dbm);
// The entry's level is a quality turned into dBm, not a measured signal.
inline bool LevelIsEstimated(const BssEntry& entry) {
    return !entry.signalMbm && entry.signalQuality;
}

// One scan's access points as a survey point takes them: one per BSSID, in
// the order first heard. The kernel keeps a hidden network's beacon and its
// named probe answer as two entries of one BSSID (in either order), and may
// keep a BSSID heard on two channels: the strongest entry gives the level,
// frequency and width, and the name is kept from whichever entry has one.
// Entries with a level outside kMinLevelDbm..kMaxLevelDbm are left out, each
// with a warning naming the access point (when `warnings` is given).
std::vector<BssEntry> OnePerBssid(const std::vector<BssEntry>& entries,
                                  std::vector<std::string>* warnings);

// Merges one scan into g_scanList under g_scanListMutex. A MAC already in the
// list adds its level to the record's sum, counts one more sample and takes
// the SSID when it has one; a new one gets a record (MAC, SSID cut to 32
// bytes without splitting a character, channel number, level) placed as
// InsertSorted would place it. Entries without a plausible level, or whose
// channel is not 1-255, are left out, as are records the list cannot
// allocate. Linear in the scan and the list (a hash map on the MAC, one
// sort of the new records). Answers how many were merged.
int MergeIntoScanList(const std::vector<BssEntry>& entries);

}  // namespace wifi
