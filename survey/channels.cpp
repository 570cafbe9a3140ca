#include "survey/channels.h"

#include <algorithm>

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

Band BandOfReading(int number, int frequencyMhz) {
    if (frequencyMhz > 0) {
        const Channel channel = ChannelFromFrequency(static_cast<uint32_t>(frequencyMhz));
        if (channel.number == number) {
            return channel.band;
        }
    }
    return BandOfChannel(number);
}

int FrequencyOfChannel(Band band, int number) {
    int mhz = 0;
    switch (band) {
        case Band::k2_4GHz:
            mhz = number == 14 ? 2484 : 2407 + 5 * number;
            break;
        case Band::k5GHz:
            mhz = number >= 182 ? 4000 + 5 * number : 5000 + 5 * number;
            break;
        case Band::k6GHz:
            mhz = number == 2 ? 5935 : 5950 + 5 * number;
            break;
        case Band::kUnknown:
            return 0;
    }
    const Channel back = ChannelFromFrequency(static_cast<uint32_t>(std::max(mhz, 0)));
    return back.band == band && back.number == number ? mhz : 0;
}

Span ChannelSpan(Band band, int number, int widthMhz) {
    const int centre = FrequencyOfChannel(band, number);
    if (centre == 0) {
        return {};
    }
    Span span{centre - 10, centre + 10};
    const bool blocks =
        band == Band::k5GHz ? number >= 36 && number <= 177 : band == Band::k6GHz && number != 2;
    if (!blocks || (widthMhz != 40 && widthMhz != 80 && widthMhz != 160 && widthMhz != 320) ||
        (band == Band::k5GHz && widthMhz == 320)) {
        return span;
    }
    // The blocks start at channel 36 (and again at 149) in 5 GHz, at 1 in 6 GHz.
    const int base = band == Band::k6GHz ? 1 : number >= 149 ? 149 : 36;
    const int step = widthMhz / 5;  // channel numbers a block spans
    const int first = base + (number - base) / step * step;
    span.lowMhz = FrequencyOfChannel(band, first) - 10;
    span.highMhz = span.lowMhz + widthMhz;
    return span;
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
