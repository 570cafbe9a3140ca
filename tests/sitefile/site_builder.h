// Builders for site files in memory, shared by the site-file tests.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "sitefile/site_format.h"
#include "sitefile/site_reader.h"
#include "sitefile/site_writer.h"

namespace sitefile_test {

using sitefile::ReadU32;
using sitefile::WriteU16;
using sitefile::WriteU32;

// A small map whose pixel (x, y) has index (x + 10 * y) mod 256 and whose
// colour i is 0xFF000000 | i * 0x010203.
inline sitefile::SiteMap PatternMap(int32_t width, int32_t height) {
    sitefile::SiteMap map;
    map.width = width;
    map.height = height;
    map.stride = (static_cast<size_t>(width) + 3) / 4 * 4;
    map.bottomUp = false;
    map.pixels.assign(map.stride * height, 0);
    for (int32_t y = 0; y < height; ++y) {
        for (int32_t x = 0; x < width; ++x) {
            map.Row(y)[x] = static_cast<uint8_t>(x + 10 * y);
        }
    }
    for (uint32_t i = 0; i < 256; ++i) {
        map.colors[i] = 0xFF000000u | ((i * 0x010203u) & 0xFFFFFF);
    }
    return map;
}

// Raw points section: the two sizes, then groups appended by the caller.
class PointsBytes {
  public:
    explicit PointsBytes(uint32_t headerSize = 42, uint32_t entrySize = 41)
        : m_headerSize(headerSize), m_entrySize(entrySize) {
        Put32(headerSize);
        Put32(entrySize);
    }
    PointsBytes& Point(int32_t x, int32_t y, const std::string& name, uint16_t count) {
        std::vector<uint8_t> rec(std::max<uint32_t>(m_headerSize, 42), 0);
        WriteU32(rec.data(), static_cast<uint32_t>(x));
        WriteU32(rec.data() + 4, static_cast<uint32_t>(y));
        std::memcpy(rec.data() + 8, name.data(), std::min<size_t>(name.size(), 32));
        WriteU16(rec.data() + 40, count);
        rec.resize(m_headerSize);  // a size below 42 cuts the record
        bytes.insert(bytes.end(), rec.begin(), rec.end());
        return *this;
    }
    PointsBytes& Entry(uint8_t channel, uint8_t rssiLow, uint8_t rssiHigh, std::vector<uint8_t> mac,
                       const std::string& ssid) {
        std::vector<uint8_t> rec(std::max<uint32_t>(m_entrySize, 41), 0xEE);  // excess is skipped
        rec[0] = channel;
        rec[1] = rssiLow;
        rec[2] = rssiHigh;
        std::memcpy(rec.data() + 3, mac.data(), 6);
        std::memset(rec.data() + 9, 0, 32);
        std::memcpy(rec.data() + 9, ssid.data(), std::min<size_t>(ssid.size(), 32));
        rec.resize(m_entrySize);
        bytes.insert(bytes.end(), rec.begin(), rec.end());
        return *this;
    }
    std::vector<uint8_t> bytes;

  private:
    void Put32(uint32_t v) {
        uint8_t b[4];
        WriteU32(b, v);
        bytes.insert(bytes.end(), b, b + 4);
    }
    uint32_t m_headerSize;
    uint32_t m_entrySize;
};

// A site file with the given map and its points section replaced.
inline std::vector<uint8_t> SiteWithPoints(const sitefile::SiteMap& map,
                                           const std::vector<uint8_t>& points) {
    std::vector<uint8_t> file = sitefile::BuildNewSiteFile(map);
    const uint32_t pointsOffset = ReadU32(file.data() + sitefile::kPointsOffsetOffset);
    file.resize(pointsOffset);
    file.insert(file.end(), points.begin(), points.end());
    return file;
}

}  // namespace sitefile_test
