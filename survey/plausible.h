// What a survey record can truly hold. A level above 0 dBm is more than any
// access point delivers at a receiver, one below -120 dBm is under the noise
// of every receiver; a channel is 1 to 255 (0 marks a point where nothing
// was heard); a point lies on its map. Records from a scanner, a journal or
// a site file that break these are refused where they are read, with the
// warning these texts begin, and never become survey data.
#pragma once

#include <cstdint>
#include <string>

namespace survey {

constexpr int kMinPlausibleDbm = -120;
constexpr int kMaxPlausibleDbm = 0;
constexpr int kMaxChannel = 255;

inline bool IsPlausibleLevel(int dbm) {
    return dbm >= kMinPlausibleDbm && dbm <= kMaxPlausibleDbm;
}
inline bool IsPlausibleChannel(int channel) {
    return channel >= 1 && channel <= kMaxChannel;
}
inline bool IsOnMap(int64_t x, int64_t y, int64_t width, int64_t height) {
    return x >= 0 && y >= 0 && x < width && y < height;
}

// "+21 dBm", "-127 dBm": a level with its sign, as the warnings give it.
inline std::string SignedDbm(int dbm) {
    return (dbm > 0 ? "+" : "") + std::to_string(dbm) + " dBm";
}

// Why a level cannot be true, or empty when it can.
inline std::string ImplausibleLevel(int dbm) {
    if (IsPlausibleLevel(dbm)) {
        return std::string();
    }
    return "a level of " + SignedDbm(dbm) + " is impossible (" + std::to_string(kMinPlausibleDbm) +
           " to " + std::to_string(kMaxPlausibleDbm) + " dBm)";
}

// Why an access-point record cannot be true, or empty when it can.
inline std::string ImplausibleReading(int dbm, int channel) {
    if (!IsPlausibleChannel(channel)) {
        return "channel " + std::to_string(channel) + " is impossible";
    }
    return ImplausibleLevel(dbm);
}

}  // namespace survey
