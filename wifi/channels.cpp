#include "wifi/channels.h"

namespace wifi {

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
