#include "sitefile/site_layout.h"

#include <algorithm>
#include <memory>
#include <vector>

#include "sitefile/site_format.h"

// Used header-only, so nothing is linked and nothing is needed at run time.
#define XXH_INLINE_ALL
#include <xxhash.h>

namespace sitefile {

namespace {

constexpr size_t kImageSizeOffset = kBitmapFileHeaderSize + 20;
constexpr size_t kDigestChunk = 1 << 20;

bool Overlap(uint64_t aStart, uint64_t aLength, uint64_t bStart, uint64_t bLength) {
    return aStart < bStart + bLength && bStart < aStart + aLength;
}

// Feeds the bytes [from, to) of `file` to the digest in order: those in
// `known` from memory, the others read a chunk at a time.
bool DigestRange(ByteSource& file, uint64_t from, uint64_t to, const KnownBytes& known,
                 std::vector<uint8_t>& buffer, XXH3_state_t& state) {
    const uint64_t knownEnd = known.offset + known.size;
    for (uint64_t at = from; at < to;) {
        if (known.data != nullptr && at >= known.offset && at < knownEnd) {
            const uint64_t n = std::min(to, knownEnd) - at;
            XXH3_64bits_update(&state, known.data + (at - known.offset), static_cast<size_t>(n));
            at += n;
            continue;
        }
        const uint64_t stop =
            known.data != nullptr && known.offset > at ? std::min(to, known.offset) : to;
        const size_t n = static_cast<size_t>(std::min<uint64_t>(buffer.size(), stop - at));
        file.Seek(at);
        if (file.Read(buffer.data(), n) != n) {
            return false;
        }
        XXH3_64bits_update(&state, buffer.data(), n);
        at += n;
    }
    return true;
}

}  // namespace

bool ReadLayout(ByteSource& file, const uint8_t* headerImage, SiteLayout& layout,
                std::string& detail) {
    layout.fileSize = file.Size();
    layout.bitmapOffset = ReadU32(headerImage + kBitmapOffsetOffset);
    layout.rasterOffset = ReadU32(headerImage + kRasterOffsetOffset);
    layout.pointsOffset = ReadU32(headerImage + kPointsOffsetOffset);
    uint8_t imageSize[4];
    file.Seek(layout.bitmapOffset + kImageSizeOffset);
    if (file.Read(imageSize, sizeof imageSize) != sizeof imageSize) {
        detail = "the bitmap headers lie past the end of the file";
        return false;
    }
    layout.bitmapLength = kBitmapPixelsOffset + uint64_t{ReadU32(imageSize)};
    return true;
}

bool CheckLayout(const SiteLayout& l, std::string& detail) {
    if (l.bitmapOffset < kFileHeaderSize) {
        // The save stamps its time into the header block.
        detail = "the bitmap lies inside the header block";
        return false;
    }
    if (l.pointsOffset < kFileHeaderSize) {
        detail = "the points offset lies inside the header block";
        return false;
    }
    if (l.rasterOffset < kFileHeaderSize) {
        // Written over the header, the raster would leave a file that no
        // longer opens.
        detail = "the sign-off raster would overwrite the header block";
        return false;
    }
    if (l.rasterOffset + kRasterSize > l.pointsOffset) {
        detail = "the sign-off raster would run past the points offset";
        return false;
    }
    if (Overlap(l.bitmapOffset, l.bitmapLength, l.rasterOffset, kRasterSize)) {
        detail = "the sign-off raster would overwrite the bitmap";
        return false;
    }
    if (l.bitmapOffset + l.bitmapLength > l.pointsOffset) {
        // The save cuts the file at the points offset.
        detail = "the bitmap runs into the points section";
        return false;
    }
    // A file may end anywhere inside its sign-off raster (a site fresh from
    // the preparation program may not carry one yet): the raster written now
    // fills the rest. A gap the save would have to invent is refused.
    const bool gapIsTheRaster =
        l.fileSize >= l.rasterOffset && l.pointsOffset == l.rasterOffset + kRasterSize;
    if (l.fileSize < l.pointsOffset && !gapIsTheRaster) {
        detail = "the site file ends before its points offset";
        return false;
    }
    return true;
}

bool CheckSiteLayout(ByteSource& file, const uint8_t* headerImage, std::string& detail) {
    SiteLayout layout;
    return ReadLayout(file, headerImage, layout, detail) && CheckLayout(layout, detail);
}

bool IdentifySiteFile(ByteSource& file, const uint8_t* headerImage, FileIdentity& identity,
                      const KnownBytes& known) {
    identity = FileIdentity{};
    file.FileId(identity.device, identity.inode);
    identity.size = file.Size();
    const uint64_t raster = ReadU32(headerImage + kRasterOffsetOffset);
    const uint64_t end =
        std::min<uint64_t>(file.Size(), ReadU32(headerImage + kPointsOffsetOffset));
    const uint64_t first = kFileHeaderSize;
    std::vector<uint8_t> buffer(
        static_cast<size_t>(std::min<uint64_t>(kDigestChunk, end > first ? end - first : 1)));
    XXH3_state_t state;
    XXH3_64bits_reset(&state);
    const bool ok =
        DigestRange(file, first, std::min(end, raster), known, buffer, state) &&
        DigestRange(file, std::max(first, raster + kRasterSize), end, known, buffer, state);
    identity.keptDigest = XXH3_64bits_digest(&state);
    return ok;
}

bool IdentifySiteFile(const std::string& path, const uint8_t* headerImage, FileIdentity& identity,
                      std::string& detail) {
    std::string systemText;
    std::unique_ptr<FileByteSource> file = FileByteSource::Open(path, systemText);
    if (!file) {
        detail = path + ": " + systemText;
        return false;
    }
    if (!IdentifySiteFile(*file, headerImage, identity)) {
        detail = path + " cannot be read as far as its size says";
        return false;
    }
    return true;
}

}  // namespace sitefile
