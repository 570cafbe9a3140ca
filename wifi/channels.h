// Channel numbers and bands of the 802.11 frequencies (MHz).
#pragma once

#include <cstdint>

namespace wifi {

enum class Band { kUnknown, k2_4GHz, k5GHz, k6GHz };

struct Channel {
    Band band = Band::kUnknown;
    int number = 0;  // 0 when the frequency is not on a known channel
};

// 2.4 GHz: channels 1-13 every 5 MHz from 2412, 14 at 2484. 5 GHz: (f - 5000) / 5
// up to 5885 (channel 177), and the 4.9 GHz channels 182-196 as (f - 4000) / 5.
// 6 GHz: (f - 5950) / 5 from 5955 (channel 1) to 7115 (233), and 5935 as channel 2.
// A frequency between channels or outside these ranges has no channel.
Channel ChannelFromFrequency(uint32_t mhz);

// "2.4", "5", "6", or nullptr for an unknown band.
const char* BandName(Band band);

// Hundredths of a dBm to whole dBm, halves away from zero.
int RoundMbmToDbm(int32_t mbm);

// A 0-100 signal quality, where it is all a driver reports, as a level in
// dBm: 0 is -100 dBm, 100 is -50 dBm, linear in between.
int QualityToDbm(uint8_t quality);

}  // namespace wifi
