#include "survey/channels.h"

namespace channels {

Channel ChannelFromFrequency(uint32_t mhz) {
    Channel channel;
    if (mhz == 2484) {
        channel = {Band::k2_4GHz, 14};
    } else if (mhz >= 2412 && mhz <= 2472 && (mhz - 2407) % 5 == 0) {
        channel = {Band::k2_4GHz, static_cast<int>((mhz - 2407) / 5)};
    } else if (mhz >= 4910 && mhz <= 4980 && mhz % 5 == 0) {
        channel = {Band::k5GHz, static_cast<int>((mhz - 4000) / 5)};
    } else if (mhz >= 5005 && mhz <= 5885 && mhz % 5 == 0) {
        channel = {Band::k5GHz, static_cast<int>((mhz - 5000) / 5)};
    } else if (mhz == 5935) {
        channel = {Band::k6GHz, 2};
    } else if (mhz >= 5955 && mhz <= 7115 && (mhz - 5950) % 5 == 0) {
        channel = {Band::k6GHz, static_cast<int>((mhz - 5950) / 5)};
    }
    return channel;
}

Band BandOfChannel(int number) {
    if (number >= 1 && number <= 14) {
        return Band::k2_4GHz;
    }
    if (number >= 32 && number <= 177) {
        return Band::k5GHz;
    }
    return Band::kUnknown;
}

const char* BandName(Band band) {
    switch (band) {
        case Band::k2_4GHz:
            return "2.4";
        case Band::k5GHz:
            return "5";
        case Band::k6GHz:
            return "6";
        case Band::kUnknown:
            break;
    }
    return nullptr;
}

bool ParseBand(const std::string& text, Band& out) {
    std::string t = text;
    for (const char* unit : {" GHz", "GHz", " ghz", "ghz"}) {
        const std::string u = unit;
        if (t.size() > u.size() && t.compare(t.size() - u.size(), u.size(), u) == 0) {
            t.resize(t.size() - u.size());
            break;
        }
    }
    for (Band band : {Band::k2_4GHz, Band::k5GHz, Band::k6GHz}) {
        if (t == BandName(band)) {
            out = band;
            return true;
        }
    }
    return false;
}

}  // namespace channels
