// The adapter's signal figures as levels, and the channel vocabulary the Wi-Fi
// code shares with the rest of the program.
#pragma once

#include <cstdint>

#include "survey/channels.h"

namespace wifi {

using channels::Band;
using channels::BandName;
using channels::Channel;
using channels::ChannelFromFrequency;

// Hundredths of a dBm to whole dBm, halves away from zero.
int RoundMbmToDbm(int32_t mbm);

// A 0-100 signal quality, where it is all a driver reports, as a level in
// dBm: 0 is -100 dBm, 100 is -50 dBm, linear in between.
int QualityToDbm(uint8_t quality);

}  // namespace wifi
