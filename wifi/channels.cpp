#include "wifi/channels.h"

namespace wifi {

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

int RoundMbmToDbm(int32_t mbm) {
    // In 64 bits: INT32_MIN and INT32_MAX stay in range.
    const int64_t v = mbm;
    return static_cast<int>(v >= 0 ? (v + 50) / 100 : -((-v + 50) / 100));
}

int QualityToDbm(uint8_t quality) {
    const int q = quality > 100 ? 100 : quality;
    return q / 2 - 100;
}

}  // namespace wifi
