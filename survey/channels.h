// Channel numbers and bands of the 802.11 frequencies (MHz). Channel numbers
// repeat across bands (6 GHz channel 1 is not 2.4 GHz channel 1), so a
// channel means something only with its band.
#pragma once

#include <cstdint>
#include <string>

namespace channels {

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

// The band a channel number means where no frequency is known: 1-14 are
// 2.4 GHz, 32-177 are 5 GHz; anything else is unknown (a 6 GHz channel can
// only be told by its frequency).
Band BandOfChannel(int number);

// The band of a channel heard on a frequency: the frequency's band when the
// frequency is that channel, else the band the number means on its own (a
// frequency recorded for a BSSID that has since moved is no guide).
Band BandOfReading(int number, int frequencyMhz);

// The centre frequency of a band's channel (MHz); 0 when there is no such channel.
int FrequencyOfChannel(Band band, int number);

// The frequencies a channel occupies (MHz, lower and upper edge) when it is
// `widthMhz` wide: 40, 80, 160 and 320 MHz channels are the blocks of 20 MHz
// channels that 5 GHz and 6 GHz are divided into, the channel being one of
// them. A width that is unknown (0), 20 MHz, not one of those, or on 2.4 GHz
// (whose 40 MHz channels may lie above or below) gives the 20 MHz channel.
// Empty (low == high == 0) for a channel that does not exist.
struct Span {
    int lowMhz = 0;
    int highMhz = 0;
    bool Overlaps(const Span& o) const { return lowMhz < o.highMhz && o.lowMhz < highMhz; }
};
Span ChannelSpan(Band band, int number, int widthMhz);

// "2.4", "5", "6", or nullptr for an unknown band.
const char* BandName(Band band);
// "2.4", "5" or "6" (also "2.4GHz", "5 GHz"); false for anything else.
bool ParseBand(const std::string& text, Band& out);

}  // namespace channels
