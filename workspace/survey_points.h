// The survey as the workspace's panels list it: what was heard at a point,
// what is being heard now, and every access point of the site.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "coverage/survey.h"

namespace sitefile {
struct SiteMeta;
}

namespace workspace {

// One access point heard, as text for a table.
struct HeardEntry {
    std::string bssid;  // aa:bb:cc:dd:ee:ff
    std::string ssid;   // as text (UTF-8, or Latin-1 read as such)
    std::string band;   // "2.4", "5", "6" or "" when unknown
    int channel = 0;
    int rssi = 0;  // dBm
};

// What was heard at the point the site header has selected (the run of
// records from position m_selFirstIndex, counted from 1), strongest first; empty when none is
// selected or nothing was heard there. `extras`: the frequencies known of
// the BSSIDs, for the band (from the channel alone without).
std::vector<HeardEntry> HeardAtSelection(const sitefile::SiteMeta* extras);

// What the running sweep has heard so far (g_scanList, under its lock),
// strongest first; levels are the average of the samples so far.
std::vector<HeardEntry> HeardInSweep(const sitefile::SiteMeta* extras);

// Every BSSID of the survey: its SSID, band, channel, best level, the
// points that heard it and its radio (numbered from 1).
struct SiteAccessPoint {
    coverage::Bssid bssid{};
    HeardEntry entry;  // rssi: the best level
    int points = 0;
    int radio = 0;
};
// `extras`: the sidecar's frequencies, for the band (from the channel without).
std::vector<SiteAccessPoint> SiteAccessPoints(const sitefile::SiteMeta* extras);

// One line of text for a heard entry: "aa:bb:cc:dd:ee:ff -52 dBm ch 36 (5 GHz) SSID".
std::string DescribeEntry(const HeardEntry& entry);

}  // namespace workspace
