#include "dialogs/point_info_lines.h"

#include <cstdio>
#include <cstring>

#include "platform/text.h"
#include "survey/site_header.h"

namespace {

// Length of a text field that may lack its terminator: never reads past the field.
template <size_t N>
int FieldLength(const char (&field)[N]) {
    const void* end = std::memchr(field, '\0', N);
    return static_cast<int>(end ? static_cast<const char*>(end) - field : N);
}

}  // namespace

std::vector<std::string> PointInfoLines(const CSiteHeader& h) {
    char line[kPointInfoLineBuffer];
    std::vector<std::string> lines;
    lines.emplace_back("LOCATION INFORMATION");
    std::snprintf(line, sizeof line, "X: %.2f", h.m_selX);
    lines.emplace_back(line);
    std::snprintf(line, sizeof line, "Y: %.2f", h.m_selY);
    lines.emplace_back(line);
    lines.emplace_back("INFORMATION");
    std::snprintf(line, sizeof line, "AP's: %d", static_cast<int>(h.m_selApCount));
    lines.emplace_back(line);
    lines.emplace_back("STRONGEST AP");
    std::snprintf(line, sizeof line, "MAC Address: %.*s", FieldLength(h.m_selBestMac),
                  h.m_selBestMac);
    lines.emplace_back(line);
    // The SSID as text, cut to the line without splitting a character.
    std::string ssid = "SSID: " + platform::TextFromBytes(h.m_selBestSsid, sizeof h.m_selBestSsid);
    ssid.resize(platform::FittingPrefixLength(ssid.data(), ssid.size(), sizeof line - 1));
    lines.push_back(ssid);
    std::snprintf(line, sizeof line, "RSSI: %d", static_cast<int>(h.m_selBestRssi));
    lines.emplace_back(line);
    return lines;
}
