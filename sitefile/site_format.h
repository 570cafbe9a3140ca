// The site file layout: every offset and size the reader and writer share.
// All multi-byte values are little-endian.
#pragma once

#include <cstddef>
#include <cstdint>

#include "survey/site_header.h"

namespace sitefile {

// Header block.
constexpr uint32_t kMagic = 0x4B4F5220;  // bytes 20 52 4F 4B
constexpr uint16_t kCurrentVersion = 2;
constexpr size_t kHeaderLengthOffset = 0;
constexpr size_t kMagicOffset = 4;
constexpr size_t kVersionOffset = 8;
constexpr size_t kSaveTimeOffset = 134;
constexpr size_t kBitmapOffsetOffset = 138;
constexpr size_t kRasterOffsetOffset = 142;
constexpr size_t kPointsOffsetOffset = 146;

// Site-map bitmap: file header, information header, colour table, pixels.
constexpr size_t kBitmapFileHeaderSize = 14;
constexpr size_t kBitmapInfoHeaderSize = 40;
constexpr size_t kColorTableEntries = 256;
constexpr size_t kColorTableSize = kColorTableEntries * 4;
constexpr size_t kBitmapPixelsOffset =
    kBitmapFileHeaderSize + kBitmapInfoHeaderSize + kColorTableSize;
constexpr uint64_t kMaxMapPixels = 64ull * 1024 * 1024;

// Sign-off raster: 100 rows of 200 pixels, bottom row first, 4 bytes a pixel.
constexpr int kRasterWidth = 200;
constexpr int kRasterHeight = 100;
constexpr size_t kRasterSize = size_t{kRasterWidth} * kRasterHeight * 4;
constexpr uint32_t kRasterWhite = 0x00FFFFFF;

// Points section: the two record sizes, then groups of a point header and its entries.
constexpr size_t kPointNameSize = 32;
constexpr size_t kPointEntryCountOffset = 40;
constexpr size_t kEntrySsidSize = 32;
constexpr size_t kEntryRssiOffset = 1;
constexpr size_t kEntryMacOffset = 3;
constexpr size_t kEntrySsidOffset = 9;

inline uint16_t ReadU16(const uint8_t* p) {
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}
inline uint32_t ReadU32(const uint8_t* p) {
    return uint32_t{p[0]} | (uint32_t{p[1]} << 8) | (uint32_t{p[2]} << 16) | (uint32_t{p[3]} << 24);
}
inline int32_t ReadI32(const uint8_t* p) {
    return static_cast<int32_t>(ReadU32(p));
}
inline void WriteU16(uint8_t* p, uint16_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}
inline void WriteU32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) {
        p[i] = static_cast<uint8_t>(v >> (8 * i));
    }
}

}  // namespace sitefile
