// The text lines of the point information dialog, in drawing order.
#pragma once

#include <string>
#include <vector>

class CSiteHeader;

constexpr int kPointInfoLineBuffer = 64;  // each line holds at most 63 characters

// "LOCATION INFORMATION", "X: %.2f", "Y: %.2f", "INFORMATION", "AP's: %d", "STRONGEST AP",
// "MAC Address: %s", "SSID: %s", "RSSI: %d", from the header's selected-point fields.
std::vector<std::string> PointInfoLines(const CSiteHeader& header);
