// Access points heard by the Wi-Fi adapter, stored like those heard by the
// scanner unit: one record per MAC in g_scanList, repeated scans of a survey
// point summing their levels and counting their samples.
#pragma once

#include <vector>

#include "wifi/scan_dump.h"

namespace wifi {

// The level a record stores for the entry, in whole dBm: the signal rounded,
// or, where the driver reports only a 0-100 quality, that quality as a level.
// False when the entry has neither.
bool EntryLevelDbm(const BssEntry& entry, int& dbm);

// Merges one scan into g_scanList under g_scanListMutex. A MAC already in the
// list adds its level to the record's sum, counts one more sample and
// refreshes the SSID; a new one gets a record (MAC, SSID cut to 32 bytes
// without splitting a character, channel number, level) placed by
// InsertSorted. Entries without a level, or whose channel is not 1-255, are
// left out, as are records the list cannot allocate. Answers how many were
// merged.
int MergeIntoScanList(const std::vector<BssEntry>& entries);

}  // namespace wifi
