#include "sitefile/site_reader.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <vector>

#include "site_builder.h"
#include "survey/record_list.h"

namespace {

using namespace sitefile;
using namespace sitefile_test;

std::unique_ptr<ByteSource> Memory(const std::vector<uint8_t>& bytes) {
    return std::make_unique<MemoryByteSource>(bytes.data(), bytes.size());
}

OpenError OpenFailure(const std::vector<uint8_t>& bytes) {
    SiteFileReader reader;
    OpenError error;
    EXPECT_FALSE(reader.Open(Memory(bytes), error));
    return error;
}

OpenError MapFailure(const std::vector<uint8_t>& bytes) {
    SiteFileReader reader;
    OpenError error;
    EXPECT_TRUE(reader.Open(Memory(bytes), error)) << error.detail;
    SiteMap map;
    EXPECT_FALSE(reader.ReadMap(map, error));
    EXPECT_EQ(error.Caption(), "Kestrow");
    return error;
}

std::vector<ApRecord*> Survey() {
    std::vector<ApRecord*> out;
    ApRecord* pos = nullptr;
    for (int rc = g_surveyList.GetAt(1, pos); rc != -2; rc = g_surveyList.GetNext(pos)) {
        out.push_back(pos);
    }
    return out;
}

// Opens, reads the map and loads the points with the given answer; what
// the load could not take goes to `notRead` when asked for.
std::unique_ptr<CSiteHeader> Load(const std::vector<uint8_t>& bytes, bool keep,
                                  std::vector<PointCircle>& circles,
                                  std::vector<std::string>* notRead = nullptr) {
    SiteFileReader reader;
    OpenError error;
    EXPECT_TRUE(reader.Open(Memory(bytes), error)) << error.detail;
    SiteMap map;
    EXPECT_TRUE(reader.ReadMap(map, error)) << error.detail;
    std::unique_ptr<CSiteHeader> header = sitefile::TakeSite(reader, keep, g_surveyList, circles);
    if (notRead != nullptr) {
        *notRead = reader.Refused();
        if (!reader.Points().unreadable.empty()) {
            notRead->push_back(reader.Points().unreadable);
        }
    }
    return header;
}

const std::vector<uint8_t> kMac{0x00, 0x0A, 0x1B, 0x2C, 0x3D, 0x4E};

class SiteReaderTest : public ::testing::Test {
  protected:
    void SetUp() override { g_surveyList.Clear(); }
    void TearDown() override { g_surveyList.Clear(); }
    std::vector<uint8_t> site = BuildNewSiteFile(PatternMap(5, 3));
};

TEST_F(SiteReaderTest, HeaderChecks) {
    SiteFileReader reader;
    OpenError error;
    ASSERT_TRUE(reader.Open(Memory(site), error));
    EXPECT_EQ(reader.HeaderLength(), 150u);
    EXPECT_EQ(reader.Version(), 2);
    EXPECT_EQ(std::memcmp(reader.Header().m_fileHeader, site.data(), 150), 0);

    std::vector<uint8_t> v1 = site;
    v1[8] = 1;
    OpenError e = OpenFailure(v1);
    EXPECT_EQ(e.Text(), "Obsolete Site File, recreate using Zorvane");
    EXPECT_EQ(e.Caption(), "File Error");

    std::vector<uint8_t> v3 = site;
    v3[8] = 3;
    EXPECT_TRUE(SiteFileReader().Open(Memory(v3), error));

    std::vector<uint8_t> magic = site;
    magic[7] = 'K' + 1;
    e = OpenFailure(magic);
    EXPECT_EQ(e.Text(), "Not a Site File.");
    EXPECT_EQ(e.Caption(), "File Error");

    e = OpenFailure({});
    EXPECT_EQ(e.Text(), "Not a Site File.");
    e = OpenFailure(std::vector<uint8_t>(site.begin(), site.begin() + 100));
    EXPECT_EQ(e.Text(), "Not a Site File.");

    std::vector<uint8_t> shortLength = site;
    WriteU32(shortLength.data(), 149);
    e = OpenFailure(shortLength);
    EXPECT_EQ(e.Text(), "Not a Site File.");
    EXPECT_EQ(e.Caption(), "File Error");
}

TEST_F(SiteReaderTest, LongerHeaderKeepsItsFirst150Bytes) {
    std::vector<uint8_t> longer = site;
    WriteU32(longer.data(), 0xFFFFFFF0u);
    SiteFileReader reader;
    OpenError error;
    ASSERT_TRUE(reader.Open(Memory(longer), error)) << error.detail;
    EXPECT_EQ(reader.HeaderLength(), 0xFFFFFFF0u);
    SiteMap map;
    EXPECT_TRUE(reader.ReadMap(map, error));
}

TEST_F(SiteReaderTest, UnopenableFileGivesTheSystemText) {
    SiteFileReader reader;
    OpenError error;
    EXPECT_FALSE(reader.Open("/nonexistent/dir/site.ksf", error));
    EXPECT_EQ(error.Text(), std::strerror(ENOENT));
    EXPECT_EQ(error.Caption(), "File Open Error");
    EXPECT_FALSE(reader.Open("/tmp", error));
    EXPECT_EQ(error.Caption(), "File Open Error");
    EXPECT_EQ(error.Text(), std::strerror(EISDIR));
}

TEST_F(SiteReaderTest, MapRowsComeTopFirstInBothRowOrders) {
    SiteFileReader reader;
    OpenError error;
    ASSERT_TRUE(reader.Open(Memory(site), error));
    SiteMap map;
    ASSERT_TRUE(reader.ReadMap(map, error)) << error.detail;
    EXPECT_EQ(map.width, 5);
    EXPECT_EQ(map.height, 3);
    EXPECT_TRUE(map.bottomUp);
    EXPECT_EQ(map.stride, 8u);
    EXPECT_EQ(map.Row(0)[4], 4);
    EXPECT_EQ(map.Row(2)[1], 21);
    EXPECT_EQ(map.ColorAt(1, 2), 0xFF000000u | (21 * 0x010203u));
    // The file keeps the bottom row first: rows 2, 1, 0.
    const size_t pixels = reader.BitmapOffset() + kBitmapPixelsOffset;
    EXPECT_EQ(site[pixels], 20);
    EXPECT_EQ(site[pixels + 16], 0);

    // The same image stored top row first, with a negative height.
    std::vector<uint8_t> topDown = site;
    uint8_t* info = topDown.data() + reader.BitmapOffset() + kBitmapFileHeaderSize;
    WriteU32(info + 8, static_cast<uint32_t>(-3));
    for (int row = 0; row < 3; ++row) {
        std::memcpy(topDown.data() + pixels + row * 8, map.Row(row), 8);
    }
    SiteFileReader reader2;
    ASSERT_TRUE(reader2.Open(Memory(topDown), error));
    SiteMap map2;
    ASSERT_TRUE(reader2.ReadMap(map2, error)) << error.detail;
    EXPECT_FALSE(map2.bottomUp);
    EXPECT_EQ(map2.height, 3);
    for (int row = 0; row < 3; ++row) {
        EXPECT_EQ(std::memcmp(map2.Row(row), map.Row(row), 5), 0) << row;
    }
}

TEST_F(SiteReaderTest, MapsThatAreNotWhole8BitImagesAreRefused) {
    const size_t bitmap = ReadU32(site.data() + kBitmapOffsetOffset);
    const size_t infoAt = bitmap + kBitmapFileHeaderSize;
    auto with = [&](size_t at, uint32_t value, int bytes = 4) {
        std::vector<uint8_t> f = site;
        if (bytes == 2) {
            WriteU16(f.data() + at, static_cast<uint16_t>(value));
        } else {
            WriteU32(f.data() + at, value);
        }
        return f;
    };
    struct Case {
        const char* what;
        std::vector<uint8_t> file;
    };
    const Case cases[] = {
        {"24 bits", with(infoAt + 14, 24, 2)},
        {"1 bit", with(infoAt + 14, 1, 2)},
        {"compressed", with(infoAt + 16, 1)},
        {"16 colours", with(infoAt + 32, 16)},
        {"width 0", with(infoAt + 4, 0)},
        {"negative width", with(infoAt + 4, static_cast<uint32_t>(-5))},
        {"height 0", with(infoAt + 8, 0)},
        {"most negative height", with(infoAt + 8, 0x80000000u)},
        {"over 64 megapixels", with(infoAt + 4, 8193)},
        {"huge width and height", with(infoAt + 4, 0x7FFFFFFF)},
        {"image size 0", with(infoAt + 20, 0)},
        {"image size short", with(infoAt + 20, 23)},
        {"image size past the end", with(infoAt + 20, 0xFFFFFFFF)},
        {"bitmap offset past the end", with(kBitmapOffsetOffset, 0xFFFFFFFF)},
        {"bitmap offset near the end", with(kBitmapOffsetOffset, site.size() - 100)},
        {"pixels cut off", std::vector<uint8_t>(site.begin(), site.begin() + bitmap + 1080)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<uint8_t> file = c.file;
        if (std::string(c.what) == "over 64 megapixels") {
            WriteU32(file.data() + infoAt + 8, 8192);  // 8193 x 8192 pixels
        }
        if (std::string(c.what) == "huge width and height") {
            WriteU32(file.data() + infoAt + 8, 0x7FFFFFFF);
        }
        OpenError e = MapFailure(file);
        EXPECT_FALSE(e.detail.empty());
        EXPECT_EQ(e.Text(), "Error Loading Site\n" + std::string(1, std::toupper(e.detail[0])) +
                                e.detail.substr(1) + ".");
    }
}

TEST_F(SiteReaderTest, AnsweringNoLoadsNothingAndClearsTheSurvey) {
    PointsBytes p;
    p.Point(10, 20, "P1", 1).Entry(36, 0x00, 0xD3, kMac, "Lab");
    ApRecord* leftover = nullptr;
    g_surveyList.AllocRecord(leftover);
    g_surveyList.Append(leftover);
    std::vector<PointCircle> circles;
    std::unique_ptr<CSiteHeader> header =
        Load(SiteWithPoints(PatternMap(64, 64), p.bytes), false, circles);
    ASSERT_TRUE(header);
    EXPECT_TRUE(g_surveyList.IsEmpty());
    EXPECT_TRUE(circles.empty());
    EXPECT_EQ(header->m_pointCount, 0);
}

TEST_F(SiteReaderTest, StoredPointsBecomeRecordsAndCircles) {
    PointsBytes p;
    p.Point(10, 20, "First", 2)
        .Entry(36, 0x00, 0xD3, kMac, "Lab")
        .Entry(149, 0x00, 0xC4, {1, 2, 3, 4, 5, 6}, std::string(32, 'S'))
        .Point(5, 60, "Empty", 0)
        .Point(30, 40, "Fraction", 1)
        .Entry(1, 0x80, 0xD3, kMac, "");
    std::vector<PointCircle> circles;
    std::unique_ptr<CSiteHeader> header =
        Load(SiteWithPoints(PatternMap(64, 64), p.bytes), true, circles);
    ASSERT_TRUE(header);
    EXPECT_EQ(header->m_pointHeaderSize, 42u);
    EXPECT_EQ(header->m_apEntrySize, 41u);
    EXPECT_EQ(header->m_pointCount, 0);

    std::vector<ApRecord*> s = Survey();
    ASSERT_EQ(s.size(), 4u);
    EXPECT_EQ(s[0]->rssi, -45);
    EXPECT_EQ(s[0]->channel, 36);
    EXPECT_STREQ(s[0]->macText, "000A1B2C3D4E");
    EXPECT_EQ(std::memcmp(s[0]->mac, kMac.data(), 6), 0);
    EXPECT_STREQ(s[0]->ssid, "Lab");
    EXPECT_STREQ(s[0]->pointName, "First");
    EXPECT_EQ(s[0]->x, 10);
    EXPECT_EQ(s[0]->y, 20);
    EXPECT_EQ(s[1]->rssi, -60);
    EXPECT_EQ(std::string(s[1]->ssid), std::string(32, 'S'));  // a full field, no terminator
    EXPECT_STREQ(s[1]->macText, "010203040506");

    EXPECT_EQ(s[2]->channel, 0);
    EXPECT_EQ(s[2]->rssi, -100);
    EXPECT_STREQ(s[2]->macText, "000000000000");
    EXPECT_STREQ(s[2]->ssid, "");
    EXPECT_STREQ(s[2]->pointName, "Empty");
    EXPECT_EQ(s[2]->y, 60);

    EXPECT_EQ(s[3]->rssi, -44);  // 0xD380 / 256 truncates toward zero

    ASSERT_EQ(circles.size(), 3u);
    EXPECT_EQ(circles[0].x, 10);
    EXPECT_EQ(circles[0].rssi, -45);
    EXPECT_EQ(circles[1].x, 5);
    EXPECT_EQ(circles[1].rssi, -120);
    EXPECT_EQ(circles[2].rssi, -44);
}

TEST_F(SiteReaderTest, PointsThatCannotBeReadOrBeTrueAreNamedNeverLostInSilence) {
    std::vector<PointCircle> circles;
    std::vector<std::string> notRead;
    // Sizes, counts and leftovers no reading of points can account for.
    PointsBytes undersized(40, 41);
    undersized.Point(1, 1, "A", 0);
    PointsBytes overrun;
    overrun.Point(1, 1, "A", 60).Entry(36, 0, 0xD3, kMac, "x").Point(2, 2, "B", 0);
    PointsBytes leftover;
    leftover.Point(1, 1, "A", 0);
    leftover.bytes.resize(leftover.bytes.size() + 17, 0);
    PointsBytes huge;
    huge.bytes.resize(kMaxPointsSectionBytes + 9);
    for (const auto& [bytes, reason] : std::vector<std::pair<std::vector<uint8_t>, std::string>>{
             {undersized.bytes, "its record sizes 40 / 41 are smaller"},
             {overrun.bytes, "point 1 at (1, 1) announces 60 access-point entries"},
             {leftover.bytes, "its last 17 bytes are not a whole point"},
             {huge.bytes, "the points section is 32 MiB, more than the 32 MiB"}}) {
        Load(SiteWithPoints(PatternMap(64, 64), bytes), true, circles, &notRead);
        ASSERT_EQ(notRead.size(), 1u) << reason;
        EXPECT_EQ(notRead[0].rfind(reason, 0), 0u) << notRead[0];
    }
    // Only the two sizes, whatever they are, hold no point: nothing is lost.
    Load(SiteWithPoints(PatternMap(64, 64), PointsBytes(0, 0).bytes), true, circles, &notRead);
    EXPECT_TRUE(notRead.empty());

    // Points off the map and levels or channels no radio gives are left out
    // by name; the points around them load.
    PointsBytes p;
    p.Point(63, 63, "Edge", 1)
        .Entry(36, 0, 0xD3, kMac, "ok")
        .Point(64, 10, "Off", 0)
        .Point(-1, 10, "Neg\xE2\x80\xAE", 0)
        .Point(5, 5, "Loud", 2)
        .Entry(36, 0, 0x15, kMac, "+21 dBm")
        .Entry(36, 0, 0xD3, kMac, "-45 dBm")
        .Point(6, 6, "Deaf", 1)
        .Entry(36, 0, 0x80, kMac, "-128 dBm");
    circles.clear();
    Load(SiteWithPoints(PatternMap(64, 64), p.bytes), true, circles, &notRead);
    EXPECT_EQ(notRead, std::vector<std::string>(
                           {"point Off at (64, 10) lies off the 64 x 64 map",
                            "point Neg\\u{202e} at (-1, 10) lies off the 64 x 64 map",
                            "access point 000A1B2C3D4E at point Loud at (5, 5): a level of +21 dBm "
                            "is impossible (-120 to 0 dBm)",
                            "access point 000A1B2C3D4E at point Deaf at (6, 6): a level of -128 "
                            "dBm is impossible (-120 to 0 dBm)"}));
    const std::vector<ApRecord*> kept = Survey();
    ASSERT_EQ(kept.size(), 2u);
    EXPECT_STREQ(kept[1]->pointName, "Loud");
    EXPECT_EQ(kept[1]->rssi, -45);
    EXPECT_EQ(circles.size(), 2u);
}

TEST_F(SiteReaderTest, ShortReadsEndTheLoadingSilently) {
    PointsBytes onlySizes;
    std::vector<PointCircle> circles;
    Load(SiteWithPoints(PatternMap(64, 64), onlySizes.bytes), true, circles);
    EXPECT_TRUE(g_surveyList.IsEmpty());
    EXPECT_TRUE(circles.empty());

    // Sizes cut short, a header cut short.
    for (size_t cut : {0u, 3u, 7u, 8u + 41u}) {
        PointsBytes p;
        p.Point(1, 1, "A", 0);
        p.bytes.resize(cut);
        Load(SiteWithPoints(PatternMap(64, 64), p.bytes), true, circles);
        EXPECT_TRUE(g_surveyList.IsEmpty()) << cut;
        EXPECT_TRUE(circles.empty()) << cut;
    }

    // An entry cut short ends its point, painted with the best RSSI so far.
    PointsBytes p;
    p.Point(7, 8, "Cut", 3)
        .Entry(36, 0, 0xC4, kMac, "a")
        .Entry(36, 0, 0xD3, kMac, "b")
        .Entry(36, 0, 0xE0, kMac, "c");
    p.bytes.resize(p.bytes.size() - 1);
    Load(SiteWithPoints(PatternMap(64, 64), p.bytes), true, circles);
    EXPECT_EQ(Survey().size(), 2u);
    ASSERT_EQ(circles.size(), 1u);
    EXPECT_EQ(circles[0].rssi, -45);
}

TEST_F(SiteReaderTest, AShortEntryEndsTheFileEvenWhenAPointHeaderWouldFitInIt) {
    // Entries of 100 bytes: the 60 bytes left after the header are a short
    // entry, not a point header of 42 bytes and 18 bytes to spare.
    PointsBytes p(42, 100);
    p.Point(5, 6, "Real", 1);
    PointsBytes phantom;
    phantom.Point(70, 80, "Phantom", 0);
    p.bytes.insert(p.bytes.end(), phantom.bytes.begin() + 8, phantom.bytes.end());
    p.bytes.resize(p.bytes.size() + 18, 0);
    std::vector<PointCircle> circles;
    Load(SiteWithPoints(PatternMap(64, 64), p.bytes), true, circles);
    EXPECT_TRUE(g_surveyList.IsEmpty());
    ASSERT_EQ(circles.size(), 1u);
    EXPECT_EQ(circles[0].x, 5);
    EXPECT_EQ(circles[0].rssi, -120);
}

TEST_F(SiteReaderTest, RecordSizesBelowOursLoadNothingAndLargerOnesSkipTheExcess) {
    std::vector<PointCircle> circles;
    for (auto sizes : {std::pair<uint32_t, uint32_t>{41, 41}, {42, 40}, {0, 0}}) {
        PointsBytes p(sizes.first, sizes.second);
        p.Point(1, 2, "A", 0).Point(3, 4, "B", 0);
        std::unique_ptr<CSiteHeader> h =
            Load(SiteWithPoints(PatternMap(64, 64), p.bytes), true, circles);
        EXPECT_TRUE(g_surveyList.IsEmpty());
        EXPECT_TRUE(circles.empty());
    }

    PointsBytes big(50, 45);
    big.Point(1, 2, "Big", 2)
        .Entry(36, 0, 0xD3, kMac, "x")
        .Entry(40, 0, 0xC4, kMac, "y")
        .Point(3, 4, "Next", 0);
    Load(SiteWithPoints(PatternMap(64, 64), big.bytes), true, circles);
    std::vector<ApRecord*> s = Survey();
    ASSERT_EQ(s.size(), 3u);
    EXPECT_EQ(s[1]->channel, 40);
    EXPECT_STREQ(s[1]->ssid, "y");
    EXPECT_STREQ(s[2]->pointName, "Next");

    // A record size beyond the file's end is a short read, not an allocation.
    PointsBytes huge(0xFFFFFFFF, 0xFFFFFFFF);
    huge.bytes.resize(200, 1);
    Load(SiteWithPoints(PatternMap(64, 64), huge.bytes), true, circles);
    EXPECT_TRUE(g_surveyList.IsEmpty());
}

TEST_F(SiteReaderTest, OutOfMemoryStillPaintsEveryPoint) {
    PointsBytes p;
    p.Point(10, 20, "A", 1).Entry(36, 0, 0xD3, kMac, "Lab").Point(30, 40, "B", 0);
    std::vector<PointCircle> circles;
    CRecordList::s_failAllocations = true;
    Load(SiteWithPoints(PatternMap(64, 64), p.bytes), true, circles);
    CRecordList::s_failAllocations = false;
    EXPECT_TRUE(g_surveyList.IsEmpty());
    ASSERT_EQ(circles.size(), 2u);
    EXPECT_EQ(circles[0].rssi, -45);
}

TEST_F(SiteReaderTest, NameFillingItsFieldKeepsEveryByte) {
    PointsBytes p;
    p.Point(1, 2, std::string(32, 'N'), 0);
    std::vector<PointCircle> circles;
    Load(SiteWithPoints(PatternMap(64, 64), p.bytes), true, circles);
    ASSERT_EQ(Survey().size(), 1u);
    const char* name = Survey()[0]->pointName;
    EXPECT_EQ(std::string(name, strnlen(name, 32)), std::string(32, 'N'));
}

TEST_F(SiteReaderTest, HostileCountsAndOffsetsEndQuietly) {
    PointsBytes p;
    p.Point(1, 2, "A", 0xFFFF).Entry(36, 0, 0xD3, kMac, "only one");
    std::vector<uint8_t> file = SiteWithPoints(PatternMap(64, 64), p.bytes);
    std::vector<PointCircle> circles;
    Load(file, true, circles);
    EXPECT_EQ(Survey().size(), 1u);
    EXPECT_EQ(circles.size(), 1u);

    WriteU32(file.data() + kPointsOffsetOffset, 0xFFFFFFFF);
    circles.clear();
    Load(file, true, circles);
    EXPECT_TRUE(g_surveyList.IsEmpty());
    EXPECT_TRUE(circles.empty());
}

TEST_F(SiteReaderTest, ReadsTheSameFromDiskAsFromMemory) {
    PointsBytes p;
    p.Point(10, 20, "Disk", 1).Entry(36, 0, 0xD3, kMac, "Lab");
    std::vector<uint8_t> bytes = SiteWithPoints(PatternMap(300, 200), p.bytes);
    char path[] = "/tmp/kestrow_reader_XXXXXX";
    const int fd = mkstemp(path);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(write(fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    close(fd);

    SiteFileReader disk;
    SiteFileReader memory;
    OpenError error;
    ASSERT_TRUE(disk.Open(path, error)) << error.detail;
    ASSERT_TRUE(memory.Open(Memory(bytes), error));
    SiteMap a;
    SiteMap b;
    ASSERT_TRUE(disk.ReadMap(a, error));
    ASSERT_TRUE(memory.ReadMap(b, error));
    EXPECT_EQ(a.pixels, b.pixels);
    std::vector<PointCircle> circles;
    sitefile::TakeSite(disk, true, g_surveyList, circles);
    ASSERT_EQ(Survey().size(), 1u);
    EXPECT_STREQ(Survey()[0]->ssid, "Lab");
    unlink(path);
}

// The simulator's scenario places its access points at these map positions;
// each must lie in a room or corridor, clear of every wall.
TEST(OfficeExample, AccessPointPositionsLieOffTheWalls) {
    SiteFileReader reader;
    OpenError error;
    ASSERT_TRUE(reader.Open(std::string(KESTROW_SOURCE_DIR) + "/examples/office.ksf", error))
        << error.detail;
    SiteMap map;
    ASSERT_TRUE(reader.ReadMap(map, error)) << error.detail;
    EXPECT_EQ(map.width, 640);
    EXPECT_EQ(map.height, 480);
    auto isWall = [&](int x, int y) {
        const uint32_t c = map.ColorAt(x, y);
        return ((c >> 16) & 0xFF) < 0x50 && ((c >> 8) & 0xFF) < 0x50 && (c & 0xFF) < 0x50;
    };
    EXPECT_TRUE(isWall(10, 100));  // the outer wall, to show the test can see walls
    const int positions[][2] = {{90, 90},   {320, 80}, {550, 90},  {90, 240},  {320, 240},
                                {550, 240}, {90, 390}, {320, 400}, {550, 390}, {200, 160}};
    for (const auto& pos : positions) {
        for (int dy = -5; dy <= 5; ++dy) {
            for (int dx = -5; dx <= 5; ++dx) {
                EXPECT_FALSE(isWall(pos[0] + dx, pos[1] + dy)) << pos[0] << "," << pos[1];
            }
        }
    }
}

}  // namespace
