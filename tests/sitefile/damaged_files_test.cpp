// Damaged and hostile site files: every one must end in a known message or a
// quiet end of the points, never a crash, overrun or hang (the sanitizer
// builds check the overruns).
#include <gtest/gtest.h>

#include <cstring>
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

// The open's checks alone: "" when the site is accepted, else the message
// (its first line: the second says why).
std::string Accepts(const uint8_t* data, size_t size, SiteMap& map) {
    SiteFileReader reader;
    OpenError error;
    if (!reader.Open(std::make_unique<MemoryByteSource>(data, size), error) ||
        !reader.ReadMap(map, error) || !reader.CheckLayout(error)) {
        const std::string text = error.Text();
        return text.substr(0, text.find('\n'));
    }
    return "";
}

// Runs the whole open on the bytes; answers the message shown, or "" when the
// site was accepted. With `save`, an accepted site must save, and the saved
// file must be accepted again with the same map: the open and the save share
// one rule.
std::string OpenAll(const uint8_t* data, size_t size, bool save = true) {
    SiteMap map;
    const std::string message = Accepts(data, size, map);
    if (!message.empty() || !save) {
        if (message.empty()) {
            EXPECT_GT(map.width, 0);
        }
        return message;
    }
    SiteFileReader reader;
    OpenError error;
    reader.Open(std::make_unique<MemoryByteSource>(data, size), error);
    std::vector<PointCircle> circles;
    std::unique_ptr<CSiteHeader> header = sitefile::TakeSite(reader, true, g_surveyList, circles);
    std::vector<uint8_t> saved;
    std::string detail;
    const bool savedOk =
        header && BuildSavedFile(data, size, *header, g_surveyList, nullptr, 1, saved, detail);
    g_surveyList.Clear();
    EXPECT_GT(map.width, 0);
    EXPECT_EQ(map.pixels.size(), map.stride * static_cast<size_t>(map.height));
    EXPECT_TRUE(savedOk) << "accepted by the open but not saved: " << detail;
    SiteMap again;
    EXPECT_EQ(Accepts(saved.data(), saved.size(), again), "");
    EXPECT_EQ(again.pixels, map.pixels);
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
    const size_t raster = ReadU32(site.data() + kRasterOffsetOffset);
    for (size_t size = 0; size <= site.size(); ++size) {
        // Every cut inside the raster saves alike: a sample of them is saved.
        const bool save = size < raster + 8 || size + 512 > site.size() || size % 97 == 0;
        const std::string message = OpenAll(site.data(), size, save);
        if (!message.empty()) {
            ASSERT_TRUE(kMessages.count(message)) << size << ": " << message;
        }
        // Cut inside the header or the bitmap refuses the file; after that it opens.
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
    // No save could write such a site back, so the open refuses it as well;
    // a points section that starts right at the end is merely empty.
    std::vector<uint8_t> site = SampleSite();
    for (size_t field : {kBitmapOffsetOffset, kPointsOffsetOffset, kRasterOffsetOffset}) {
        for (uint32_t value : {static_cast<uint32_t>(site.size()),
                               static_cast<uint32_t>(site.size() + 1), 0xFFFFFFFFu}) {
            std::vector<uint8_t> file = site;
            WriteU32(file.data() + field, value);
            const bool emptyPoints = field == kPointsOffsetOffset && value == site.size();
            EXPECT_EQ(OpenAll(file.data(), file.size()), emptyPoints ? "" : "Error Loading Site")
                << field << " " << value;
        }
    }
}

// Sections that overlap where the save writes: each such site is refused by
// the open and by the save alike, while the same sections apart open and
// save.
TEST(DamagedFiles, OverlappingSectionsAreRefusedByTheOpenAsByTheSave) {
    const std::vector<uint8_t> site = SampleSite();
    const uint32_t bitmap = ReadU32(site.data() + kBitmapOffsetOffset);
    const uint32_t raster = ReadU32(site.data() + kRasterOffsetOffset);
    const uint32_t points = ReadU32(site.data() + kPointsOffsetOffset);
    const size_t imageSize = bitmap + kBitmapFileHeaderSize + 20;
    struct Case {
        const char* what;
        size_t field;
        uint32_t value;
    };
    const Case refused[] = {
        {"points offset inside the raster", kPointsOffsetOffset, raster + 100},
        {"points offset inside the header", kPointsOffsetOffset, 100},
        {"raster over the map's pixels", kRasterOffsetOffset,
         bitmap + static_cast<uint32_t>(kBitmapPixelsOffset)},
        {"raster inside the header", kRasterOffsetOffset, 0},
        {"map's image size running into the points", imageSize,
         static_cast<uint32_t>(site.size() - bitmap - kBitmapPixelsOffset)},
    };
    for (const Case& c : refused) {
        std::vector<uint8_t> file = site;
        WriteU32(file.data() + c.field, c.value);
        EXPECT_EQ(OpenAll(file.data(), file.size()), "Error Loading Site") << c.what;
        CSiteHeader header;
        std::memcpy(header.m_fileHeader, file.data(), kFileHeaderSize);
        std::vector<uint8_t> saved;
        std::string detail;
        EXPECT_FALSE(BuildSavedFile(file.data(), file.size(), header, g_surveyList, nullptr, 1,
                                    saved, detail))
            << c.what;
    }
    // Apart: a gap before the points offset, the raster behind a gap.
    std::vector<uint8_t> spaced = site;
    spaced.insert(spaced.begin() + points, 64, 0xAB);
    WriteU32(spaced.data() + kPointsOffsetOffset, points + 64);
    EXPECT_EQ(OpenAll(spaced.data(), spaced.size()), "");
    WriteU32(spaced.data() + kRasterOffsetOffset, raster + 64);
    EXPECT_EQ(OpenAll(spaced.data(), spaced.size()), "");
}

}  // namespace
