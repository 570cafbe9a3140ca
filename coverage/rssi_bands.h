// The RSSI colour bands: every survey-point circle and the colour legend use
// this one table. Colours are 0x00BBGGRR values (red in the low byte).
#pragma once

#include <cstdint>

struct RssiBand {
    int above;          // the band holds RSSI values greater than this (dBm)
    uint32_t colorRef;  // 0x00BBGGRR
    int penWidth;       // outline width of a circle in this band
};

constexpr int kRssiBandCount = 6;

constexpr RssiBand kRssiBands[kRssiBandCount] = {
    {-40, 0x000000FF, 1},              // red
    {-50, 0x000080FF, 1},              // orange
    {-60, 0x0000FFFF, 1},              // yellow
    {-70, 0x0000FF00, 1},              // green
    {-80, 0x00FF0000, 1},              // blue
    {-2147483647 - 1, 0x00000000, 2},  // black: everything else
};

// The signal-to-noise maps use the same six colours: band i holds values of
// at least kSnrBandFloorsDb[i] dB (the last band everything below).
constexpr int kSnrBandFloorsDb[kRssiBandCount - 1] = {40, 30, 25, 15, 10};

// Index (0..5) of the band an RSSI value falls in; the first band whose test holds wins.
constexpr int RssiBandIndex(int rssi) {
    for (int i = 0; i < kRssiBandCount - 1; ++i) {
        if (rssi > kRssiBands[i].above) {
            return i;
        }
    }
    return kRssiBandCount - 1;
}

// 0x00BBGGRR to 0xRRGGBB, for Qt colours.
constexpr uint32_t ColorRefToRgb(uint32_t colorRef) {
    return ((colorRef & 0xFF) << 16) | (colorRef & 0xFF00) | ((colorRef >> 16) & 0xFF);
}

static_assert(RssiBandIndex(-39) == 0 && RssiBandIndex(-40) == 1 && RssiBandIndex(-49) == 1 &&
              RssiBandIndex(-50) == 2 && RssiBandIndex(-69) == 3 && RssiBandIndex(-70) == 4 &&
              RssiBandIndex(-79) == 4 && RssiBandIndex(-80) == 5 && RssiBandIndex(5) == 0);
