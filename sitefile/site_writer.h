// Writing a site file: the save of a survey (header image with the save time,
// sign-off raster, points section) and a new site from a map.
//
// A save never rewrites the site file in place: the new contents go to a
// temporary file in the same directory, which is flushed to disk and renamed
// over the old one. The result holds exactly the bytes an in-place update
// would leave; on any failure the old file is untouched.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "sitefile/site_format.h"
#include "sitefile/site_layout.h"
#include "sitefile/site_reader.h"
#include "survey/record_list.h"
#include "survey/site_header.h"

namespace sitefile {

// The sign-off pad's pixel at (x, y): 0x00FFFFFF for white, 0 for black.
using PixelQuery = std::function<uint32_t(int x, int y)>;

// Appends the points section: the record sizes 42 and 41, then one group per
// survey point of `list`. Sets the sizes and record buffers in `header` as the
// save leaves them.
void AppendPointsSection(CSiteHeader& header, CRecordList& list, std::vector<uint8_t>& out);

// Writes the 80,000-byte raster: row 99 first, columns 0 to 199 in each row.
void WriteRaster(uint8_t* out, const PixelQuery& pad);

// The save's layout, worked out once: how much of the old file is kept, the
// length of the new one, and what is written where (the header image at 0,
// the raster at its offset, the points section at the points offset). The
// save applies it to a file; tests and tools apply the very same plan to a
// buffer.
struct SavePlan {
    struct Write {
        uint64_t offset = 0;
        std::vector<uint8_t> bytes;
    };
    uint64_t keep = 0;  // bytes of the old file copied first
    uint64_t length = 0;
    std::vector<Write> writes;  // in this order, after the copy
};

// Plans the save of `header` and `list` over the old file. Stamps saveTime
// into the header image. False with a reason when the layout breaks the rule
// of site_layout.h, which the open applies too.
bool PlanSave(CSiteHeader& header, ByteSource& old, CRecordList& list, const PixelQuery& pad,
              uint32_t saveTime, SavePlan& plan, std::string& detail);

// The new file's bytes: `old` holds at least plan.keep bytes of the old file.
void ApplySavePlan(const SavePlan& plan, const uint8_t* old, std::vector<uint8_t>& out);

// PlanSave and ApplySavePlan in one: the bytes of the saved file, given the
// old file's bytes (oldSize of them).
bool BuildSavedFile(const uint8_t* old, size_t oldSize, CSiteHeader& header, CRecordList& list,
                    const PixelQuery& pad, uint32_t saveTime, std::vector<uint8_t>& out,
                    std::string& detail);

// The save of the open site to `path`, from g_siteHeader's image and `list`.
// `opened` is the identity of the file as the open (or the last save) left
// it: a file that is no longer that one is not replaced (kSiteChanged), nor
// is a read-only one (kReadOnlySite). After a save `opened` names the new file.
bool SaveSite(const std::string& path, CSiteHeader& header, CRecordList& list,
              const PixelQuery& pad, uint32_t saveTime, FileIdentity& opened, SaveError& error);
// The same with the current time from platform::CurrentTimeSeconds().
bool SaveSite(const std::string& path, CSiteHeader& header, CRecordList& list,
              const PixelQuery& pad, FileIdentity& opened, SaveError& error);

// The same written to `newPath` instead (Save As): the open site at `path`,
// still as `opened` names it, gives what the save keeps of the old file;
// a regular file at `newPath` that may be written is replaced, a free name
// is created, and the site itself is never changed (unless `newPath` is
// it). After a save `opened` names the new file.
bool SaveSiteAs(const std::string& path, const std::string& newPath, CSiteHeader& header,
                CRecordList& list, const PixelQuery& pad, FileIdentity& opened, SaveError& error);

// A new site file: header (version 2, save time 0), the map as an 8-bit
// bottom-up bitmap, a white sign-off raster and an empty points section.
std::vector<uint8_t> BuildNewSiteFile(const SiteMap& map);

}  // namespace sitefile
