// The 802.11 information elements of a beacon or probe response: what a
// survey reads from them (the network's name, the width of the channel the
// access point works on). Every read is bounded by the list: an element whose
// length runs past it ends the walk, and neither it nor anything after it is
// read.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace wifi {

constexpr size_t kMaxSsidBytes = 32;

// The first SSID element's bytes (at most 32, a longer one cut without
// splitting a character); empty when there is none.
std::string SsidFromElements(const uint8_t* elements, size_t length);

// The access point's channel width in MHz (20, 40, 80, 160 or 320) from its
// operation elements, the widest one that says: EHT, HE (its 6 GHz part),
// VHT, HT. 20 for an element list without any (a legacy access point), 0 for
// an empty list.
int ChannelWidthFromElements(const uint8_t* elements, size_t length);

}  // namespace wifi
