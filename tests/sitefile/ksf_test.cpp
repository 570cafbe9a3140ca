// The ksf tool, run as a program: its outputs, the files it makes and its exit codes.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <QImage>
#include <QPainter>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "command_run.h"
#include "site_builder.h"
#include "sitefile/site_reader.h"
#include "sitefile/site_writer.h"
#include "survey/record_list.h"

namespace {

using namespace sitefile;
using namespace sitefile_test;

using Result = CommandRun;

Result Ksf(const std::string& args) {
    return RunCommand(std::string(KSF_PATH) + " " + args);
}

std::string Stderr(const std::string& args) {
    const std::string command = std::string(KSF_PATH) + " " + args + " 2>&1 >/dev/null";
    std::string out;
    FILE* pipe = popen(command.c_str(), "r");
    char buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) {
        out.append(buffer, n);
    }
    pclose(pipe);
    return out;
}

class KsfTest : public ::testing::Test {
  protected:
    void SetUp() override {
        char templ[] = "/tmp/kestrow_ksf_XXXXXX";
        ASSERT_NE(mkdtemp(templ), nullptr);
        dir = templ;
        g_surveyList.Clear();
    }
    void TearDown() override {
        g_surveyList.Clear();
        std::system(("rm -rf " + dir).c_str());
    }
    std::string dir;
};

SiteMap ReadMap(const std::string& path) {
    SiteFileReader reader;
    OpenError error;
    SiteMap map;
    EXPECT_TRUE(reader.Open(path, error)) << error.detail;
    EXPECT_TRUE(reader.ReadMap(map, error)) << error.detail;
    return map;
}

TEST_F(KsfTest, CreateMakesAnIndexedMapFromAnyPicture) {
    // A picture with transparency and three colours.
    QImage picture(33, 20, QImage::Format_ARGB32);
    picture.fill(Qt::transparent);
    QPainter p(&picture);
    p.fillRect(0, 0, 10, 20, QColor(255, 0, 0));
    p.fillRect(10, 0, 10, 20, QColor(0, 0, 255));
    p.end();
    const std::string png = dir + "/plan.png";
    ASSERT_TRUE(picture.save(QString::fromStdString(png)));

    const std::string site = dir + "/site.ksf";
    ASSERT_EQ(Ksf("create --map " + png + " -o " + site).status, 0);
    const SiteMap map = ReadMap(site);
    EXPECT_EQ(map.width, 33);
    EXPECT_EQ(map.height, 20);
    EXPECT_EQ(map.ColorAt(0, 0), 0xFFFF0000u);
    EXPECT_EQ(map.ColorAt(15, 19), 0xFF0000FFu);
    EXPECT_EQ(map.ColorAt(32, 5), 0xFFFFFFFFu);  // transparent becomes white

    const Result info = Ksf("info " + site);
    EXPECT_EQ(info.status, 0);
    EXPECT_NE(info.out.find("version: 2\n"), std::string::npos) << info.out;
    EXPECT_NE(info.out.find("map: 33 x 20 pixels"), std::string::npos) << info.out;
    EXPECT_NE(info.out.find("points: 0\n"), std::string::npos) << info.out;

    // A fresh site has a white raster and the two record sizes only.
    std::ifstream in(site, std::ios::binary);
    std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), {});
    EXPECT_EQ(ReadU32(bytes.data() + kPointsOffsetOffset) + 8u, bytes.size());
}

TEST_F(KsfTest, PointsAsCsvAndJson) {
    const std::string site = dir + "/site.ksf";
    PointsBytes p;
    p.Point(10, 20, "Desk, east", 2)
        .Entry(36, 0, 0xD3, {0x00, 0x0A, 0x1B, 0x2C, 0x3D, 0x4E}, "Lab")
        .Entry(149, 0, 0xC4, {1, 2, 3, 4, 5, 6}, "Say \"hi\"")
        .Point(30, 40, "FILL", 0);
    const std::vector<uint8_t> bytes = SiteWithPoints(PatternMap(4, 4), p.bytes);
    std::ofstream(site, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));

    const Result csv = Ksf("points " + site);
    EXPECT_EQ(csv.status, 0);
    EXPECT_EQ(csv.out,
              "point,x,y,name,channel,rssi,mac,ssid\n"
              "1,10,20,\"Desk, east\",36,-45,000A1B2C3D4E,Lab\n"
              "1,10,20,\"Desk, east\",149,-60,010203040506,\"Say \"\"hi\"\"\"\n"
              "2,30,40,FILL,,,,\n");

    const Result json = Ksf("points " + site + " --format json");
    EXPECT_EQ(json.status, 0);
    EXPECT_NE(json.out.find("\"mac\": \"000A1B2C3D4E\""), std::string::npos) << json.out;
    EXPECT_NE(json.out.find("\"aps\": []"), std::string::npos) << json.out;
    EXPECT_NE(json.out.find("\"rssi\": -60"), std::string::npos) << json.out;

    const Result info = Ksf("info " + site);
    EXPECT_NE(info.out.find("points: 2\naccess-point entries: 2\n"), std::string::npos) << info.out;

    // Names and SSIDs that are not UTF-8 are read as Latin-1: valid JSON and CSV.
    PointsBytes latin;
    latin.Point(1, 2, "Caf\xE9", 1).Entry(36, 0, 0xD3, {1, 2, 3, 4, 5, 6}, "R\xE9seau");
    const std::vector<uint8_t> latinBytes = SiteWithPoints(PatternMap(4, 4), latin.bytes);
    std::ofstream(site, std::ios::binary | std::ios::trunc)
        .write(reinterpret_cast<const char*>(latinBytes.data()),
               static_cast<std::streamsize>(latinBytes.size()));
    const Result latinJson = Ksf("points " + site + " --format json");
    EXPECT_EQ(latinJson.status, 0);
    EXPECT_NE(latinJson.out.find("\"ssid\": \"R\xC3\xA9seau\""), std::string::npos);
    EXPECT_NE(Ksf("points " + site).out.find("1,2,Caf\xC3\xA9,36"), std::string::npos);
}

TEST_F(KsfTest, SignatureShowsThePadTheRightWayUp) {
    const std::string site = dir + "/site.ksf";
    const std::vector<uint8_t> fresh = BuildNewSiteFile(PatternMap(4, 4));
    std::ofstream(site, std::ios::binary)
        .write(reinterpret_cast<const char*>(fresh.data()),
               static_cast<std::streamsize>(fresh.size()));
    CSiteHeader header;
    std::memcpy(header.m_fileHeader, fresh.data(), kFileHeaderSize);
    FileIdentity opened;
    std::string detail;
    ASSERT_TRUE(IdentifySiteFile(site, header.m_fileHeader, opened, detail)) << detail;
    SaveError error;
    ASSERT_TRUE(SaveSite(
        site, header, g_surveyList,
        [](int x, int y) { return x == 5 && y == 2 ? 0u : 0x00FFFFFFu; }, 1, opened, error));

    const std::string png = dir + "/sig.png";
    ASSERT_EQ(Ksf("signature " + site + " -o " + png).status, 0);
    QImage signature(QString::fromStdString(png));
    ASSERT_EQ(signature.size(), QSize(200, 100));
    EXPECT_EQ(signature.pixel(5, 2) & 0xFFFFFF, 0u);
    EXPECT_EQ(signature.pixel(5, 97) & 0xFFFFFF, 0xFFFFFFu);
    EXPECT_EQ(signature.pixel(0, 0) & 0xFFFFFF, 0xFFFFFFu);
}

TEST_F(KsfTest, ExitCodesAndErrors) {
    EXPECT_EQ(Ksf("").status, 2);
    EXPECT_EQ(Ksf("frobnicate").status, 2);
    EXPECT_EQ(Ksf("info").status, 2);
    EXPECT_EQ(Ksf("points a b").status, 2);
    EXPECT_EQ(Ksf("info --bogus x").status, 2);
    EXPECT_EQ(Ksf("create --map").status, 2);
    EXPECT_EQ(Ksf("create -o x.ksf").status, 2);
    EXPECT_EQ(Ksf("signature x.ksf").status, 2);
    EXPECT_EQ(Ksf("points x --format xml").status, 2);
    EXPECT_EQ(Ksf("--help").status, 0);
    EXPECT_NE(Ksf("--help").out.find("ksf create --map PLAN -o SITE"), std::string::npos);
    EXPECT_EQ(Ksf("--version").status, 0);

    EXPECT_EQ(Ksf("info " + dir + "/missing.ksf").status, 1);
    const std::string notSite = dir + "/plain.txt";
    std::ofstream(notSite) << "hello, this is not a site file at all";
    EXPECT_EQ(Ksf("info " + notSite).status, 1);
    const std::string message = Stderr("info " + notSite);
    EXPECT_NE(message.find("Not a Site File."), std::string::npos) << message;
    EXPECT_EQ(std::count(message.begin(), message.end(), '\n'), 1);
    EXPECT_EQ(Ksf("create --map " + notSite + " -o " + dir + "/x.ksf").status, 1);
    EXPECT_EQ(Ksf("create --map " + notSite + " -o " + dir + "/none/x.ksf").status, 1);
}

// A site Kestrow would refuse is refused by `points` too, exit 1, with the
// very line `info` ends with.
TEST_F(KsfTest, PointsOfASiteKestrowRefusesFailLikeInfo) {
    PointsBytes p;
    p.Point(10, 20, "A", 0);
    const std::vector<uint8_t> good = SiteWithPoints(PatternMap(4, 4), p.bytes);
    std::vector<uint8_t> pointsPastEnd = good;
    WriteU32(pointsPastEnd.data() + kPointsOffsetOffset, static_cast<uint32_t>(good.size() + 10));
    std::vector<uint8_t> bitmapPastEnd = good;
    WriteU32(bitmapPastEnd.data() + kBitmapOffsetOffset, static_cast<uint32_t>(good.size() - 100));
    const std::pair<const char*, const std::vector<uint8_t>*> sites[] = {
        {"points.ksf", &pointsPastEnd}, {"bitmap.ksf", &bitmapPastEnd}};
    for (const auto& [name, bytes] : sites) {
        const std::string site = dir + "/" + name;
        std::ofstream(site, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes->data()),
                   static_cast<std::streamsize>(bytes->size()));
        SCOPED_TRACE(name);
        const Result points = Ksf("points " + site);
        EXPECT_EQ(points.status, 1);
        EXPECT_EQ(points.out, "");
        EXPECT_EQ(Ksf("points " + site + " --format json").status, 1);
        EXPECT_EQ(Ksf("info " + site).status, 1);
        const std::string reason = Stderr("points " + site);
        EXPECT_NE(reason.find("Error Loading Site"), std::string::npos) << reason;
        EXPECT_EQ(reason, Stderr("info " + site));
    }
    const std::string site = dir + "/good.ksf";
    std::ofstream(site, std::ios::binary)
        .write(reinterpret_cast<const char*>(good.data()),
               static_cast<std::streamsize>(good.size()));
    EXPECT_EQ(Ksf("points " + site).status, 0);
    EXPECT_EQ(Ksf("info " + site).status, 0);
}

TEST(OfficeExample, MapMatchesItsPlanPicture) {
    const SiteMap map = ReadMap(std::string(KESTROW_SOURCE_DIR) + "/examples/office.ksf");
    QImage plan(QString(KESTROW_SOURCE_DIR) + "/examples/office-plan.png");
    ASSERT_EQ(plan.size(), QSize(map.width, map.height));
    for (int y = 0; y < map.height; ++y) {
        for (int x = 0; x < map.width; ++x) {
            ASSERT_EQ(map.ColorAt(x, y) & 0xFFFFFF, plan.pixel(x, y) & 0xFFFFFF) << x << "," << y;
        }
    }
}

}  // namespace
