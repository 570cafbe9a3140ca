#include "sitefile/site_writer.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "site_builder.h"
#include "survey/record_list.h"

namespace {

using namespace sitefile;
using namespace sitefile_test;

void Stored(int32_t x, int32_t y, int channel, int rssi = -50, const char* name = "TEST",
            const char* ssid = "net") {
    ApRecord* r = nullptr;
    ASSERT_EQ(g_surveyList.AllocRecord(r), 0);
    r->x = x;
    r->y = y;
    r->channel = static_cast<int16_t>(channel);
    r->rssi = static_cast<int16_t>(rssi);
    std::snprintf(r->pointName, sizeof r->pointName, "%s", name);
    std::snprintf(r->ssid, sizeof r->ssid, "%s", ssid);
    for (int i = 0; i < 6; ++i) {
        r->mac[i] = static_cast<uint8_t>(0xA0 + i);
    }
    g_surveyList.Append(r);
}

std::vector<uint8_t> ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

void WriteFile(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
}

std::vector<uint8_t> PointsOf(const std::vector<uint8_t>& file) {
    const uint32_t at = ReadU32(file.data() + kPointsOffsetOffset);
    return std::vector<uint8_t>(file.begin() + at, file.end());
}

class SiteWriterTest : public ::testing::Test {
  protected:
    void SetUp() override {
        g_surveyList.Clear();
        char templ[] = "/tmp/kestrow_writer_XXXXXX";
        ASSERT_NE(mkdtemp(templ), nullptr);
        dir = templ;
        path = dir + "/site.ksf";
        WriteFile(path, BuildNewSiteFile(PatternMap(64, 64)));
        OpenError error;
        ASSERT_TRUE(reader.Open(path, error));
        std::memcpy(header.m_fileHeader, reader.Header().m_fileHeader, kFileHeaderSize);
        ASSERT_TRUE(reader.Identify(opened, error));
    }
    void TearDown() override {
        g_surveyList.Clear();
        std::system(("rm -rf " + dir).c_str());
    }

    bool Save(const PixelQuery& pad = nullptr, uint32_t time = 1234567890) {
        SaveError error;
        const bool ok = SaveSite(path, header, g_surveyList, pad, time, opened, error);
        lastError = error;
        return ok;
    }

    // As if the file at `site`, as it is now, had just been opened with `h`'s
    // header image: a save of `h` over it passes the identity check.
    FileIdentity Reopened(const std::string& site, const CSiteHeader& h) {
        FileIdentity identity;
        std::string detail;
        EXPECT_TRUE(IdentifySiteFile(site, h.m_fileHeader, identity, detail)) << detail;
        return identity;
    }
    bool SaveOverCurrentFile(const std::string& site, CSiteHeader& h, SaveError& error,
                             uint32_t time = 1) {
        FileIdentity identity = Reopened(site, h);
        return SaveSite(site, h, g_surveyList, nullptr, time, identity, error);
    }

    std::string dir;
    std::string path;
    SiteFileReader reader;
    CSiteHeader header;
    FileIdentity opened;
    SaveError lastError;
};

TEST_F(SiteWriterTest, GroupsFollowPositionsAndMarkers) {
    Stored(10, 20, 6, -45, "A");
    Stored(10, 20, 11, -60, "A");
    Stored(30, 40, 0, 0, "FILL", "FILL");
    Stored(50, 60, 1, -70, "C");
    std::vector<uint8_t> out;
    AppendPointsSection(header, g_surveyList, out);

    ASSERT_EQ(out.size(), 8u + 42 + 2 * 41 + 42 + 42 + 41);
    EXPECT_EQ(ReadU32(out.data()), 42u);
    EXPECT_EQ(ReadU32(out.data() + 4), 41u);
    const uint8_t* g1 = out.data() + 8;
    EXPECT_EQ(ReadU32(g1), 10u);
    EXPECT_EQ(ReadU32(g1 + 4), 20u);
    EXPECT_STREQ(reinterpret_cast<const char*>(g1 + 8), "A");
    EXPECT_EQ(sitefile::ReadU16(g1 + 40), 2);
    const uint8_t* e1 = g1 + 42;
    EXPECT_EQ(e1[0], 6);
    EXPECT_EQ(e1[1], 0x00);
    EXPECT_EQ(e1[2], 0xD3);  // -45 x 256
    EXPECT_EQ(e1[3], 0xA0);
    EXPECT_EQ(e1[8], 0xA5);
    EXPECT_STREQ(reinterpret_cast<const char*>(e1 + 9), "net");
    const uint8_t* g2 = e1 + 2 * 41;
    EXPECT_EQ(ReadU32(g2), 30u);
    EXPECT_EQ(sitefile::ReadU16(g2 + 40), 0);
    const uint8_t* g3 = g2 + 42;
    EXPECT_EQ(ReadU32(g3), 50u);
    EXPECT_EQ(sitefile::ReadU16(g3 + 40), 1);
    EXPECT_EQ(header.m_pointHeaderSize, 42u);
    EXPECT_EQ(header.m_apEntrySize, 41u);
}

TEST_F(SiteWriterTest, MarkersAndRevisitsMakeTheirOwnGroups) {
    Stored(5, 5, 0);  // marker, then records at the same spot join it
    Stored(5, 5, 36);
    Stored(5, 5, 0);  // a second marker opens a new group
    Stored(9, 9, 36);
    Stored(5, 5, 36);  // a revisit after another point
    std::vector<uint8_t> out;
    AppendPointsSection(header, g_surveyList, out);
    const uint8_t* g = out.data() + 8;
    EXPECT_EQ(sitefile::ReadU16(g + 40), 1);
    g += 42 + 41;
    EXPECT_EQ(ReadU32(g), 5u);
    EXPECT_EQ(sitefile::ReadU16(g + 40), 0);
    g += 42;
    EXPECT_EQ(ReadU32(g), 9u);
    g += 42 + 41;
    EXPECT_EQ(ReadU32(g), 5u);
    EXPECT_EQ(sitefile::ReadU16(g + 40), 1);
    EXPECT_EQ(g + 42 + 41, out.data() + out.size());
}

TEST_F(SiteWriterTest, LongTextsAreCutAndOutOfRangeRssiIsClamped) {
    const std::string longSsid(100, 'S');
    Stored(1, 1, 36, -200, "0123456789012345678901234567890", longSsid.c_str());
    Stored(1, 1, 36, 300);
    std::vector<uint8_t> out;
    AppendPointsSection(header, g_surveyList, out);
    const uint8_t* e = out.data() + 8 + 42;
    EXPECT_EQ(static_cast<int8_t>(e[2]), -128);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(e + 9), 32), std::string(32, 'S'));
    EXPECT_EQ(e[41], 36);  // the next entry starts right after 32 bytes of SSID
    EXPECT_EQ(static_cast<int8_t>(e[41 + 2]), 127);
}

TEST_F(SiteWriterTest, RunsLongerThanA16BitCountSplit) {
    for (int i = 0; i < 0x10000 + 1; ++i) {
        Stored(3, 3, 36);
    }
    std::vector<uint8_t> out;
    AppendPointsSection(header, g_surveyList, out);
    EXPECT_EQ(sitefile::ReadU16(out.data() + 8 + 40), 0xFFFF);
    const uint8_t* second = out.data() + 8 + 42 + 0xFFFF * 41;
    EXPECT_EQ(ReadU32(second), 3u);
    EXPECT_EQ(sitefile::ReadU16(second + 40), 2);
}

TEST_F(SiteWriterTest, SaveKeepsEverythingButHeaderRasterAndPoints) {
    std::vector<uint8_t> before = ReadFile(path);
    // Bytes the save must carry over: an unknown header byte and a bitmap byte.
    header.m_fileHeader[50] = 0x5A;
    ASSERT_TRUE(Save());
    std::vector<uint8_t> after = ReadFile(path);

    const uint32_t raster = ReadU32(before.data() + kRasterOffsetOffset);
    const uint32_t points = ReadU32(before.data() + kPointsOffsetOffset);
    ASSERT_EQ(after.size(), points + 8u);
    EXPECT_EQ(after[50], 0x5A);
    EXPECT_EQ(ReadU32(after.data() + kSaveTimeOffset), 1234567890u);
    EXPECT_EQ(ReadU32(header.m_fileHeader + kSaveTimeOffset), 1234567890u);
    EXPECT_TRUE(std::equal(before.begin() + 150, before.begin() + raster, after.begin() + 150));
    // An untouched pad is all white.
    for (size_t i = raster; i < raster + kRasterSize; i += 4) {
        ASSERT_EQ(ReadU32(after.data() + i), 0x00FFFFFFu) << i;
    }
    EXPECT_EQ(ReadU32(after.data() + points), 42u);
    EXPECT_EQ(ReadU32(after.data() + points + 4), 41u);
}

TEST_F(SiteWriterTest, SaveLeavesExactlyTheBytesOfAnUpdateInPlace) {
    // Bytes between the raster and the points offset, and old points past it.
    std::vector<uint8_t> old = ReadFile(path);
    const uint32_t points = ReadU32(old.data() + kPointsOffsetOffset);
    old.insert(old.begin() + points, 100, 0xAB);
    WriteU32(old.data() + kPointsOffsetOffset, points + 100);
    old.insert(old.end(), 500, 0xCD);
    WriteFile(path, old);
    std::memcpy(header.m_fileHeader, old.data(), kFileHeaderSize);
    opened = Reopened(path, header);
    Stored(10, 20, 6, -45, "A");
    Stored(30, 40, 0, 0, "FILL", "FILL");

    CSiteHeader copy = header;
    std::vector<uint8_t> expected;
    std::string detail;
    ASSERT_TRUE(BuildSavedFile(
        old.data(), old.size(), copy, g_surveyList,
        [](int x, int) { return x < 50 ? 0u : 0x00FFFFFFu; }, 77, expected, detail));
    ASSERT_TRUE(Save([](int x, int) { return x < 50 ? 0u : 0x00FFFFFFu; }, 77));
    const std::vector<uint8_t> after = ReadFile(path);
    EXPECT_EQ(after, expected);
    EXPECT_EQ(after[points + 99], 0xAB);
    EXPECT_EQ(after.size(), points + 100 + 8 + 42 + 41 + 42u);
}

TEST_F(SiteWriterTest, RasterStartsWithTheBottomRowOfThePad) {
    ASSERT_TRUE(Save([](int x, int y) {
        return (x == 0 && y == 99) || (x == 199 && y == 0) || (x == 3 && y == 98) ? 0u
                                                                                  : 0x00FFFFFFu;
    }));
    std::vector<uint8_t> after = ReadFile(path);
    const uint8_t* raster = after.data() + ReadU32(after.data() + kRasterOffsetOffset);
    EXPECT_EQ(ReadU32(raster), 0u);
    EXPECT_EQ(ReadU32(raster + 4), 0x00FFFFFFu);
    EXPECT_EQ(ReadU32(raster + (200 + 3) * 4), 0u);
    EXPECT_EQ(ReadU32(raster + kRasterSize - 4), 0u);
    EXPECT_EQ(ReadU32(raster + kRasterSize - 8), 0x00FFFFFFu);
}

TEST_F(SiteWriterTest, ReadWriteReadRoundTripsByteForByte) {
    Stored(10, 20, 6, -45, "A", "Lab");
    Stored(10, 20, 11, -60, "A", std::string(32, 'x').c_str());
    Stored(30, 40, 0, 0, "FILL", "FILL");
    Stored(50, 60, 1, -99, "C", "");
    ASSERT_TRUE(Save());
    std::vector<uint8_t> first = ReadFile(path);

    // Open it as the open command does, keeping the points, and save again.
    SiteFileReader again;
    OpenError error;
    ASSERT_TRUE(again.Open(path, error));
    SiteMap map;
    ASSERT_TRUE(again.ReadMap(map, error));
    ASSERT_TRUE(again.CheckLayout(error));
    FileIdentity identity;  // the map's pixels taken from memory, as the open does
    ASSERT_TRUE(again.Identify(identity, error, &map));
    std::vector<PointCircle> circles;
    std::unique_ptr<CSiteHeader> reopened = sitefile::TakeSite(again, true, g_surveyList, circles);
    ASSERT_EQ(circles.size(), 3u);
    SaveError saveError;
    ASSERT_TRUE(SaveSite(path, *reopened, g_surveyList, nullptr, 1234567890, identity, saveError));
    EXPECT_EQ(ReadFile(path), first);

    // Saving twice without new points gives the same points section.
    ASSERT_TRUE(SaveSite(path, *reopened, g_surveyList, nullptr, 99, identity, saveError));
    EXPECT_EQ(PointsOf(ReadFile(path)), PointsOf(first));
}

// Texts keep whole characters and all their bytes: a point name filling all
// 32 bytes (no terminator) survives an open and a save; an SSID too long for
// its 32-byte field is cut before the character that would not fit whole.
TEST_F(SiteWriterTest, TextsKeepAllTheirBytesAndWholeCharacters) {
    const std::string name(32, 'N');
    std::string ssid;
    for (int i = 0; i < 20; ++i) {
        ssid += "\xC3\xA9";  // "é" in UTF-8, 40 bytes in all
    }
    Stored(10, 20, 6, -45, "A", ssid.c_str());
    ASSERT_TRUE(Save());
    {
        SiteFileReader reader;
        OpenError error;
        ASSERT_TRUE(reader.Open(path, error));
        std::vector<PointCircle> circles;
        std::unique_ptr<CSiteHeader> h = sitefile::TakeSite(reader, true, g_surveyList, circles);
        ApRecord* r = g_surveyList.Sentinel()->next;
        EXPECT_EQ(std::string(r->ssid), ssid.substr(0, 32));  // 16 whole characters
        std::memcpy(r->pointName, name.data(), 32);           // no room for a terminator
        SaveError saveError;
        ASSERT_TRUE(SaveOverCurrentFile(path, *h, saveError));
    }
    SiteFileReader reader;
    OpenError error;
    ASSERT_TRUE(reader.Open(path, error));
    std::vector<PointCircle> circles;
    sitefile::TakeSite(reader, true, g_surveyList, circles);
    ApRecord* r = g_surveyList.Sentinel()->next;
    EXPECT_EQ(std::string(r->pointName, strnlen(r->pointName, sizeof r->pointName)), name);

    // A cut in the middle of a character moves back to its start.
    g_surveyList.Clear();
    Stored(10, 20, 6, -45, "A", ("x" + ssid).c_str());
    SaveError saveError;
    ASSERT_TRUE(SaveOverCurrentFile(path, header, saveError));
    ASSERT_TRUE(reader.Open(path, error));
    sitefile::TakeSite(reader, true, g_surveyList, circles);
    EXPECT_EQ(std::string(g_surveyList.Sentinel()->next->ssid), "x" + ssid.substr(0, 30));
}

TEST_F(SiteWriterTest, EmptySurveyEndsRightAfterTheSizes) {
    // A file holding old points is cut back to the two sizes.
    Stored(1, 2, 36);
    ASSERT_TRUE(Save());
    g_surveyList.Clear();
    ASSERT_TRUE(Save());
    std::vector<uint8_t> after = ReadFile(path);
    EXPECT_EQ(PointsOf(after).size(), 8u);
}

TEST_F(SiteWriterTest, FailedSavesLeaveTheOldFileIntact) {
    Stored(1, 2, 36);
    const std::vector<uint8_t> before = ReadFile(path);

    SaveError error;
    EXPECT_FALSE(
        SaveSite(dir + "/missing/site.ksf", header, g_surveyList, nullptr, 1, opened, error));
    // The reason on a second line; without a site at all, the message alone.
    EXPECT_EQ(error.Text(),
              "Could not update site\n" + dir + "/missing/site.ksf: No such file or directory.");
    EXPECT_EQ(error.Caption(), "Site Update Error");
    EXPECT_FALSE(SaveSite("", header, g_surveyList, nullptr, 1, opened, error));
    EXPECT_EQ(error.Text(), "Could not update site");

    // A raster that would run past the points offset is not saved.
    CSiteHeader bad = header;
    WriteU32(bad.m_fileHeader + kRasterOffsetOffset,
             ReadU32(header.m_fileHeader + kPointsOffsetOffset) - kRasterSize + 1);
    EXPECT_FALSE(SaveOverCurrentFile(path, bad, error));
    EXPECT_FALSE(error.detail.empty());
    // A raster over the header block would leave a file that no longer opens.
    bad = header;
    WriteU32(bad.m_fileHeader + kRasterOffsetOffset, 0);
    EXPECT_FALSE(SaveOverCurrentFile(path, bad, error));
    WriteU32(bad.m_fileHeader + kRasterOffsetOffset, kFileHeaderSize - 1);
    EXPECT_FALSE(SaveOverCurrentFile(path, bad, error));
    // A points offset past the end of the file, or inside the header.
    bad = header;
    WriteU32(bad.m_fileHeader + kPointsOffsetOffset, 0xFFFFFFF0u);
    EXPECT_FALSE(SaveOverCurrentFile(path, bad, error));
    bad = header;
    WriteU32(bad.m_fileHeader + kPointsOffsetOffset, 100);
    WriteU32(bad.m_fileHeader + kRasterOffsetOffset, 0);
    EXPECT_FALSE(SaveOverCurrentFile(path, bad, error));

    // A directory that cannot take the temporary file.
    if (geteuid() != 0) {
        ASSERT_EQ(chmod(dir.c_str(), 0500), 0);
        EXPECT_FALSE(Save());
        chmod(dir.c_str(), 0700);
    }
    EXPECT_EQ(ReadFile(path), before);
    // No temporary file is left behind.
    EXPECT_EQ(std::system(("test $(ls -A " + dir + " | wc -l) -eq 1").c_str()), 0);
}

TEST_F(SiteWriterTest, SiteWithoutARasterYetGetsOneOnSave) {
    // A site straight from the preparation program may end where its raster
    // begins, or part-way into it: the save writes the raster and the points.
    std::vector<uint8_t> full = ReadFile(path);
    const uint32_t rasterOffset = ReadU32(full.data() + kRasterOffsetOffset);
    for (uint32_t cut : {rasterOffset, rasterOffset + 1000}) {
        const std::vector<uint8_t> old(full.begin(), full.begin() + cut);
        WriteFile(path, old);
        opened = Reopened(path, header);
        g_surveyList.Clear();
        Stored(3, 4, 36, -50, "P", "Lab");
        CSiteHeader copy = header;
        std::vector<uint8_t> inPlace;
        std::string detail;
        ASSERT_TRUE(BuildSavedFile(old.data(), old.size(), copy, g_surveyList, nullptr, 1234567890,
                                   inPlace, detail));
        ASSERT_TRUE(Save()) << lastError.detail;
        std::vector<uint8_t> after = ReadFile(path);
        EXPECT_EQ(after, inPlace);
        ASSERT_EQ(after.size(), rasterOffset + kRasterSize + 8u + 42 + 41);
        EXPECT_TRUE(std::equal(full.begin() + kFileHeaderSize, full.begin() + rasterOffset,
                               after.begin() + kFileHeaderSize));
        SiteFileReader again;
        OpenError error;
        ASSERT_TRUE(again.Open(path, error));
        SiteMap map;
        ASSERT_TRUE(again.ReadMap(map, error));
        std::vector<PointCircle> circles;
        sitefile::TakeSite(again, true, g_surveyList, circles);
        EXPECT_EQ(circles.size(), 1u);
    }
    // A file that ends before its raster would need bytes the save cannot know.
    WriteFile(path, std::vector<uint8_t>(full.begin(), full.begin() + rasterOffset - 1));
    opened = Reopened(path, header);
    EXPECT_FALSE(Save());
}

TEST_F(SiteWriterTest, SaveKeepsPermissionsAndFollowsLinks) {
    ASSERT_EQ(chmod(path.c_str(), 0640), 0);
    ASSERT_TRUE(Save());
    struct stat st {};
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);

    const std::string link = dir + "/link.ksf";
    ASSERT_EQ(symlink(path.c_str(), link.c_str()), 0);
    Stored(4, 4, 36);
    SaveError error;
    ASSERT_TRUE(SaveSite(link, header, g_surveyList, nullptr, 5, opened, error)) << error.detail;
    ASSERT_EQ(lstat(link.c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    EXPECT_EQ(PointsOf(ReadFile(path)).size(), 8u + 42 + 41);
}

// Only the file that was opened, as it was, is replaced: one put in its
// place, changed where the save keeps it, or reached by a re-pointed link is
// refused with the reason and left as it is, and so is every other file.
TEST_F(SiteWriterTest, SaveReplacesOnlyTheFileThatWasOpened) {
    Stored(1, 2, 36);
    const std::string changed =
        "Could not update site\nThe site file was changed or replaced since it was opened.";
    auto expectRefused = [&](const std::string& site, const char* what) {
        SCOPED_TRACE(what);
        const std::vector<uint8_t> before = ReadFile(site);
        EXPECT_FALSE(Save());
        EXPECT_EQ(lastError.kind, SiteErrorKind::kSiteChanged);
        EXPECT_EQ(lastError.Text(), changed);
        EXPECT_EQ(lastError.Caption(), "Site Update Error");
        EXPECT_EQ(ReadFile(site), before);
        EXPECT_EQ(std::system(("test -z \"$(ls -A " + dir + " | grep '^\\.')\"").c_str()), 0)
            << "a temporary file was left";
    };
    const std::vector<uint8_t> original = ReadFile(path);
    const uint32_t pixel = ReadU32(original.data() + kBitmapOffsetOffset) + 1078;
    auto putPixel = [&](uint8_t value) {
        std::fstream file(path, std::ios::in | std::ios::out | std::ios::binary);
        file.seekp(pixel);
        file.put(static_cast<char>(value));
    };

    // A map pixel changed in place: same file, same size, other kept bytes.
    putPixel(original[pixel] ^ 0xFF);
    expectRefused(path, "changed in place");
    putPixel(original[pixel]);  // as it was: the file opened again
    ASSERT_TRUE(Save()) << lastError.detail;

    // Grown in place, as a copy of a bigger site over it leaves it; cut back,
    // it is the file the last save left.
    std::ofstream(path, std::ios::binary | std::ios::app) << "more points";
    expectRefused(path, "grown in place");
    std::vector<uint8_t> saved = ReadFile(path);
    saved.resize(saved.size() - 11);
    WriteFile(path, saved);
    ASSERT_TRUE(Save()) << lastError.detail;

    // The very same bytes, renamed into its place: another file.
    WriteFile(dir + "/copy.ksf", ReadFile(path));
    ASSERT_EQ(std::rename((dir + "/copy.ksf").c_str(), path.c_str()), 0);
    expectRefused(path, "replaced by a copy");

    // A link pointed at another site after the open.
    const std::string other = dir + "/other.ksf";
    const std::string link = dir + "/link.ksf";
    const std::vector<uint8_t> otherSite = BuildNewSiteFile(PatternMap(9, 9));
    WriteFile(other, otherSite);
    ASSERT_EQ(symlink(path.c_str(), link.c_str()), 0);
    opened = Reopened(link, header);
    ASSERT_EQ(unlink(link.c_str()), 0);
    ASSERT_EQ(symlink(other.c_str(), link.c_str()), 0);
    SaveError error;
    EXPECT_FALSE(SaveSite(link, header, g_surveyList, nullptr, 1, opened, error));
    EXPECT_EQ(error.kind, SiteErrorKind::kSiteChanged);
    EXPECT_EQ(ReadFile(other), otherSite);
}

// A read-only site file is refused like a read-only folder, with the reason,
// whoever runs the save; made writable again, it is saved.
TEST_F(SiteWriterTest, ReadOnlySiteFileIsRefusedWithTheReason) {
    Stored(1, 2, 36);
    const std::vector<uint8_t> before = ReadFile(path);
    ASSERT_EQ(chmod(path.c_str(), 0444), 0);
    EXPECT_FALSE(Save());
    EXPECT_EQ(lastError.kind, SiteErrorKind::kReadOnlySite);
    EXPECT_EQ(lastError.Text(), "Could not update site\nThe site file is read-only.");
    EXPECT_EQ(lastError.Describe().find('\n'), std::string::npos);
    EXPECT_EQ(ReadFile(path), before);
    struct stat st {};
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0444u);

    ASSERT_EQ(chmod(path.c_str(), 0644), 0);
    EXPECT_TRUE(Save()) << lastError.detail;
    EXPECT_EQ(PointsOf(ReadFile(path)).size(), 8u + 42 + 41);
}

TEST(NewSiteFile, LaysOutHeaderBitmapRasterAndEmptyPoints) {
    const SiteMap map = PatternMap(6, 5);
    const std::vector<uint8_t> file = BuildNewSiteFile(map);
    EXPECT_EQ(ReadU32(file.data()), 150u);
    EXPECT_EQ(file[4], 0x20);
    EXPECT_EQ(file[5], 0x52);
    EXPECT_EQ(file[6], 0x4F);
    EXPECT_EQ(file[7], 0x4B);
    EXPECT_EQ(sitefile::ReadU16(file.data() + 8), 2);
    EXPECT_EQ(ReadU32(file.data() + kBitmapOffsetOffset), 150u);
    const uint32_t raster = ReadU32(file.data() + kRasterOffsetOffset);
    EXPECT_EQ(raster, 150u + 1078 + 8 * 5);
    EXPECT_EQ(ReadU32(file.data() + kPointsOffsetOffset), raster + kRasterSize);
    EXPECT_EQ(file.size(), raster + kRasterSize + 8);
    EXPECT_EQ(file[150], 'B');
    EXPECT_EQ(file[151], 'M');

    SiteFileReader reader;
    OpenError error;
    ASSERT_TRUE(reader.Open(std::make_unique<MemoryByteSource>(file.data(), file.size()), error));
    SiteMap back;
    ASSERT_TRUE(reader.ReadMap(back, error)) << error.detail;
    EXPECT_EQ(back.width, 6);
    EXPECT_EQ(back.height, 5);
    for (int row = 0; row < 5; ++row) {
        EXPECT_EQ(std::memcmp(back.Row(row), map.Row(row), 6), 0) << row;
    }
    EXPECT_EQ(std::memcmp(back.colors, map.colors, sizeof back.colors), 0);
}

}  // namespace
