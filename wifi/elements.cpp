#include "wifi/elements.h"

#include <algorithm>
#include <cstdlib>
#include <functional>

#include "platform/text.h"

namespace wifi {

namespace {

constexpr uint8_t kSsid = 0;
constexpr uint8_t kHtOperation = 61;
constexpr uint8_t kVhtOperation = 192;
constexpr uint8_t kExtension = 255;
constexpr uint8_t kHeOperation = 36;  // extension IDs
constexpr uint8_t kEhtOperation = 106;

// Calls `visit(id, body, length)` for each whole element, in order, until it
// answers false.
void ForEachElement(const uint8_t* p, size_t length,
                    const std::function<bool(uint8_t, const uint8_t*, size_t)>& visit) {
    size_t i = 0;
    while (length - i >= 2) {
        const size_t bodyLength = p[i + 1];
        if (bodyLength > length - i - 2) {
            return;
        }
        if (!visit(p[i], p + i + 2, bodyLength)) {
            return;
        }
        i += 2 + bodyLength;
    }
}

// A VHT operation's channel width field and its two centre-frequency
// segments: 80, 160 (or 80+80), or 0 when it leaves the width to HT.
int VhtWidth(uint8_t width, uint8_t segment0, uint8_t segment1) {
    switch (width) {
        case 1:
            if (segment1 == 0) {
                return 80;
            }
            return std::abs(segment1 - segment0) >= 8 ? 160 : 80;
        case 2:  // the deprecated forms of 160 and 80+80
        case 3:
            return 160;
        default:
            return 0;
    }
}

int HtWidth(const uint8_t* body, size_t length) {
    if (length < 22) {
        return 0;
    }
    const uint8_t info = body[1];
    const uint8_t secondary = info & 3;  // 1 above, 3 below the primary
    const bool anyWidth = (info & 4) != 0;
    return anyWidth && (secondary == 1 || secondary == 3) ? 40 : 20;
}

int HeWidth(const uint8_t* body, size_t length) {
    // Parameters (3 bytes), BSS colour (1), basic HE-MCS and NSS set (2).
    if (length < 6) {
        return 0;
    }
    const uint32_t parameters = body[0] | body[1] << 8 | body[2] << 16;
    size_t at = 6;
    int width = 0;
    if ((parameters & (1u << 14)) != 0) {  // VHT operation information
        if (length < at + 3) {
            return 0;
        }
        width = VhtWidth(body[at], body[at + 1], body[at + 2]);
        at += 3;
    }
    if ((parameters & (1u << 15)) != 0) {  // co-hosted BSS indicator
        at += 1;
    }
    if ((parameters & (1u << 17)) != 0) {  // 6 GHz operation information
        if (length < at + 5) {
            return width;
        }
        static const int kWidths[] = {20, 40, 80, 160};
        width = std::max(width, kWidths[body[at + 1] & 3]);
    }
    return width;
}

int EhtWidth(const uint8_t* body, size_t length) {
    // Parameters (1 byte), basic EHT-MCS and NSS set (4), then the
    // operation information (3) when the first parameter bit says so.
    if (length < 8 || (body[0] & 1) == 0) {
        return 0;
    }
    static const int kWidths[] = {20, 40, 80, 160, 320};
    const uint8_t code = body[5] & 7;
    return code < 5 ? kWidths[code] : 0;
}

}  // namespace

std::string SsidFromElements(const uint8_t* elements, size_t length) {
    std::string ssid;
    ForEachElement(elements, length, [&](uint8_t id, const uint8_t* body, size_t bodyLength) {
        if (id != kSsid) {
            return true;
        }
        // An over-long element (hostile: 802.11 allows 32 bytes) keeps what
        // fits without cutting a character in two.
        const char* text = reinterpret_cast<const char*>(body);
        ssid.assign(text, platform::FittingPrefixLength(text, bodyLength, kMaxSsidBytes));
        return false;
    });
    return ssid;
}

int ChannelWidthFromElements(const uint8_t* elements, size_t length) {
    int width = 0;
    bool any = false;
    ForEachElement(elements, length, [&](uint8_t id, const uint8_t* body, size_t bodyLength) {
        any = true;
        if (id == kHtOperation) {
            width = std::max(width, HtWidth(body, bodyLength));
        } else if (id == kVhtOperation && bodyLength >= 5) {
            width = std::max(width, VhtWidth(body[0], body[1], body[2]));
        } else if (id == kExtension && bodyLength >= 1 && body[0] == kHeOperation) {
            width = std::max(width, HeWidth(body + 1, bodyLength - 1));
        } else if (id == kExtension && bodyLength >= 1 && body[0] == kEhtOperation) {
            width = std::max(width, EhtWidth(body + 1, bodyLength - 1));
        }
        return true;
    });
    return any && width == 0 ? 20 : width;
}

}  // namespace wifi
