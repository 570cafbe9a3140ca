// Damaged and hostile site files: every one must end in a known message or a
// quiet end of the points, never a crash, overrun or hang (the sanitizer
// builds check the overruns).
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "site_builder.h"
#include "sitefile/site_reader.h"
#include "survey/record_list.h"

namespace {

using namespace sitefile;
using namespace sitefile_test;

const std::set<std::string> kMessages = {
    "Not a Site File.", "Obsolete Site File, recreate using Zorvane", "Error Loading Site"};

// Runs the whole open on the bytes; answers the message shown, or "" when the
// site was accepted.
std::string OpenAll(const uint8_t* data, size_t size) {
    SiteFileReader reader;
    OpenError error;
    if (!reader.Open(std::make_unique<MemoryByteSource>(data, size), error)) {
        return error.Text();
    }
    SiteMap map;
    if (!reader.ReadMap(map, error)) {
        return error.Text();
    }
    EXPECT_GT(map.width, 0);
    EXPECT_EQ(map.pixels.size(), map.stride * static_cast<size_t>(map.height));
    std::vector<PointCircle> circles;
    std::unique_ptr<CSiteHeader> header = sitefile::TakeSite(reader, true, g_surveyList, circles);
    EXPECT_TRUE(header);
    g_surveyList.Clear();
    return "";
}

std::vector<uint8_t> SampleSite() {
    PointsBytes p;
    p.Point(10, 20, "First", 2)
        .Entry(36, 0, 0xD3, {0, 1, 2, 3, 4, 5}, "Lab")
        .Entry(40, 0, 0xC4, {6, 7, 8, 9, 10, 11}, "Office")
        .Point(30, 40, "Empty", 0)
        .Point(50, 60, "Last", 1)
        .Entry(44, 0, 0xE0, {1, 1, 1, 1, 1, 1}, "Guest");
    return SiteWithPoints(PatternMap(7, 4), p.bytes);
}

TEST(DamagedFiles, TruncatedAtEveryLength) {
    const std::vector<uint8_t> site = SampleSite();
    for (size_t size = 0; size <= site.size(); ++size) {
        const std::string message = OpenAll(site.data(), size);
        if (!message.empty()) {
            ASSERT_TRUE(kMessages.count(message)) << size << ": " << message;
        }
        // Cut inside the header or the bitmap refuses the file; after that it opens.
        const size_t raster = ReadU32(site.data() + kRasterOffsetOffset);
        ASSERT_EQ(message.empty(), size >= raster) << size;
    }
}

TEST(DamagedFiles, EveryHeaderAndBitmapFieldSetToExtremes) {
    const std::vector<uint8_t> site = SampleSite();
    const size_t bitmapEnd =
        ReadU32(site.data() + kBitmapOffsetOffset) + kBitmapFileHeaderSize + kBitmapInfoHeaderSize;
    for (size_t at = 0; at + 4 <= bitmapEnd; ++at) {
        for (uint32_t value : {0u, 1u, 0x7FFFFFFFu, 0x80000000u, 0xFFFFFFFFu, 0xFFFFu, 150u}) {
            std::vector<uint8_t> file = site;
            WriteU32(file.data() + at, value);
            const std::string message = OpenAll(file.data(), file.size());
            if (!message.empty()) {
                ASSERT_TRUE(kMessages.count(message)) << at << " " << value << ": " << message;
            }
        }
    }
}

TEST(DamagedFiles, PointsSectionBytesSetToExtremes) {
    const std::vector<uint8_t> site = SampleSite();
    const size_t points = ReadU32(site.data() + kPointsOffsetOffset);
    for (size_t at = points; at < site.size(); ++at) {
        for (uint8_t value : {0x00, 0x7F, 0x80, 0xFF}) {
            std::vector<uint8_t> file = site;
            file[at] = value;
            ASSERT_EQ(OpenAll(file.data(), file.size()), "") << at;
        }
    }
}

TEST(DamagedFiles, OffsetsPastTheEnd) {
    std::vector<uint8_t> site = SampleSite();
    for (size_t field : {kBitmapOffsetOffset, kPointsOffsetOffset, kRasterOffsetOffset}) {
        for (uint32_t value : {static_cast<uint32_t>(site.size()),
                               static_cast<uint32_t>(site.size() + 1), 0xFFFFFFFFu}) {
            std::vector<uint8_t> file = site;
            WriteU32(file.data() + field, value);
            const std::string message = OpenAll(file.data(), file.size());
            if (field == kBitmapOffsetOffset) {
                EXPECT_EQ(message, "Error Loading Site");
            } else {
                EXPECT_EQ(message, "");
            }
        }
    }
}

}  // namespace
