// Where the sections of a site file lie, the one rule the open and the save
// share about them, and the identity by which a save knows that the file it
// is about to replace is still the one that was opened.
//
// The rule: a site is accepted only if a save can write it back and the file
// that save leaves opens again. The save writes the header image over the
// first 150 bytes, the sign-off raster at its offset and the points section
// at the points offset, and cuts the file there; so the raster and the site
// map must lie clear of the header block, of each other and of the points
// section, and the file must reach the points offset (or end inside the
// raster, which the save fills in when the points follow it directly).
#pragma once

#include <cstdint>
#include <string>

#include "sitefile/byte_source.h"

namespace sitefile {

struct SiteLayout {
    uint64_t fileSize = 0;
    uint64_t bitmapOffset = 0;
    // The bitmap's headers, colour table and as many pixel bytes as its
    // information header's image size gives.
    uint64_t bitmapLength = 0;
    uint64_t rasterOffset = 0;
    uint64_t pointsOffset = 0;
};

// Reads the layout of `file` as the 150-byte header image describes it; the
// bitmap's image size comes from the file. False with the reason when the
// bitmap's information header lies past the end of the file.
bool ReadLayout(ByteSource& file, const uint8_t* headerImage, SiteLayout& layout,
                std::string& detail);

// The rule above. False with the reason for the first part it breaks.
bool CheckLayout(const SiteLayout& layout, std::string& detail);

// ReadLayout and CheckLayout in one.
bool CheckSiteLayout(ByteSource& file, const uint8_t* headerImage, std::string& detail);

// The file a save may replace: the one opened (or last saved), unchanged in
// what the save keeps of it.
struct FileIdentity {
    uint64_t device = 0;
    uint64_t inode = 0;
    uint64_t size = 0;
    // Digest of the bytes the save keeps: everything before the points offset
    // but the first 150 bytes of the header block and the sign-off raster,
    // which the save writes anew.
    uint64_t keptDigest = 0;

    bool operator==(const FileIdentity& o) const {
        return device == o.device && inode == o.inode && size == o.size &&
               keptDigest == o.keptDigest;
    }
    bool operator!=(const FileIdentity& o) const { return !(*this == o); }
};

// Bytes of a file that are already in memory: `size` of them from `offset`.
struct KnownBytes {
    uint64_t offset = 0;
    const uint8_t* data = nullptr;
    size_t size = 0;
};

// The identity of `file` read through `headerImage`'s offsets (device and
// inode 0 for a source that is no file); bytes in `known` are taken from
// memory instead of being read again. False when the file cannot be read up
// to its points offset although its size says it can.
bool IdentifySiteFile(ByteSource& file, const uint8_t* headerImage, FileIdentity& identity,
                      const KnownBytes& known = KnownBytes());

// The identity of the site file at `path` as it is now, read through the
// header image's offsets. False with the reason when it cannot be read.
bool IdentifySiteFile(const std::string& path, const uint8_t* headerImage, FileIdentity& identity,
                      std::string& detail);

}  // namespace sitefile
