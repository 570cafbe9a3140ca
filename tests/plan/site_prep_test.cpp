// The preparation of a site as the window's tools and the script make it:
// every change is in the sidecar at once, and what else the sidecar holds
// (another program's change included) is kept.
#include "plan/site_prep.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

namespace {

namespace fs = std::filesystem;
using sitefile::Material;
using sitefile::Wall;

std::string ReadText(const std::string& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

void WriteText(const std::string& path, const std::string& text) {
    std::ofstream(path) << text;
}

class SitePrepTest : public ::testing::Test {
  protected:
    void SetUp() override {
        m_dir =
            fs::temp_directory_path() /
            ("kestrow_prep_" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
             "_" + ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(m_dir);
        fs::create_directories(m_dir);
        m_site = (m_dir / "site.ksf").string();
        WriteText(m_site, "site");
    }
    void TearDown() override { fs::remove_all(m_dir); }

    sitefile::SiteMeta Stored() const {
        sitefile::SiteMeta meta;
        std::string error;
        EXPECT_TRUE(sitefile::ReadSiteMeta(m_site, meta, error)) << error;
        return meta;
    }

    fs::path m_dir;
    std::string m_site;
};

TEST_F(SitePrepTest, ScaleFromTwoPointsIsStoredAtOnceKeepingTheRest) {
    WriteText(sitefile::MetaPath(m_site), R"({"made_by": {"tool": "x"}, "walls": []})");
    plan::SitePreparation prep;
    std::string error;
    ASSERT_TRUE(prep.Load(m_site, 640, 480, error)) << error;
    // 300 px along a diagonal measured as 15 m.
    ASSERT_TRUE(prep.SetScaleFromLine(10, 20, 190, 260, 15, error)) << error;
    EXPECT_DOUBLE_EQ(*Stored().pixelsPerMetre, 20.0);
    EXPECT_DOUBLE_EQ(*prep.Meta().pixelsPerMetre, 20.0);
    EXPECT_NE(ReadText(sitefile::MetaPath(m_site)).find("made_by"), std::string::npos);

    // Refused, with the stored scale untouched.
    EXPECT_FALSE(prep.SetScaleFromLine(5, 5, 5, 5, 2, error));
    EXPECT_FALSE(prep.SetScaleFromLine(0, 0, 100, 0, 0, error));
    EXPECT_FALSE(prep.SetScaleFromLine(0, 0, 100, 0, std::nan(""), error));
    EXPECT_FALSE(prep.SetScale(1e9, error));
    EXPECT_NE(error.find("pixels per metre"), std::string::npos) << error;
    EXPECT_DOUBLE_EQ(*Stored().pixelsPerMetre, 20.0);
}

TEST_F(SitePrepTest, WallsAreAddedChangedAndDeletedInTheSidecar) {
    plan::SitePreparation prep;
    std::string error;
    ASSERT_TRUE(prep.Load(m_site, 640, 480, error)) << error;
    ASSERT_TRUE(prep.AddWall({0, 160, 640, 160, Material::kDrywall}, error)) << error;
    ASSERT_TRUE(prep.AddWall({320, 0, 320, 160, Material::kBrick}, error)) << error;
    ASSERT_TRUE(prep.ChangeWall(1, {320, 0, 320, 150, Material::kConcrete}, error)) << error;
    ASSERT_EQ(Stored().walls.size(), 2u);
    EXPECT_EQ(Stored().walls[1].y2, 150);
    EXPECT_EQ(Stored().walls[1].material, Material::kConcrete);

    // Outside the map, or without length: refused, nothing written.
    EXPECT_FALSE(prep.AddWall({0, 0, 700, 0, Material::kGlass}, error));
    EXPECT_NE(error.find("outside the 640 x 480 map"), std::string::npos) << error;
    EXPECT_FALSE(prep.AddWall({5, 5, 5, 5, Material::kGlass}, error));
    EXPECT_FALSE(prep.ChangeWall(7, {0, 0, 10, 0, Material::kGlass}, error));
    EXPECT_EQ(Stored().walls.size(), 2u);

    // Another program put a wall first meanwhile: the wall shown as 0 is
    // the one deleted, and the other program's wall stays.
    ASSERT_TRUE(sitefile::UpdateSiteMeta(
        m_site,
        [](sitefile::SiteMeta& meta, std::string&) {
            meta.walls.insert(meta.walls.begin(), Wall{1, 1, 2, 2, Material::kMetal});
            return true;
        },
        error));
    ASSERT_TRUE(prep.DeleteWall(0, error)) << error;
    ASSERT_EQ(Stored().walls.size(), 2u);
    EXPECT_EQ(Stored().walls[0].material, Material::kMetal);
    EXPECT_EQ(Stored().walls[1].material, Material::kConcrete);
    EXPECT_EQ(prep.Meta().walls.size(), 2u);

    ASSERT_TRUE(prep.ReplaceWalls({}, error)) << error;
    EXPECT_TRUE(Stored().walls.empty());
}

TEST_F(SitePrepTest, AccessPointsArePlacedMovedAndUnplacedOverADamagedSidecar) {
    const std::string meta = sitefile::MetaPath(m_site);
    WriteText(meta, "{not json");
    plan::SitePreparation prep;
    std::string error;
    EXPECT_FALSE(prep.Load(m_site, 640, 480, error));
    EXPECT_NE(error.find(meta), std::string::npos) << error;

    sitefile::MacBytes bssid{};
    ASSERT_TRUE(coverage::ParseBssid("02:00:00:00:00:a1", bssid));
    ASSERT_TRUE(prep.PlaceAccessPoint(bssid, 100, 80, "AP-1", error)) << error;
    // The damaged sidecar was set aside, byte for byte, and said so once.
    EXPECT_EQ(ReadText(meta + ".damaged"), "{not json");
    EXPECT_NE(prep.TakeNote().find(".damaged"), std::string::npos);
    EXPECT_EQ(prep.TakeNote(), "");

    // Moved without a label: the label stays.
    ASSERT_TRUE(prep.PlaceAccessPoint(bssid, 120, 90, "", error)) << error;
    ASSERT_EQ(Stored().accessPoints.size(), 1u);
    EXPECT_EQ(Stored().accessPoints[0].x, 120);
    EXPECT_EQ(Stored().accessPoints[0].label, "AP-1");
    EXPECT_FALSE(prep.PlaceAccessPoint(bssid, -1, 90, "", error));

    ASSERT_TRUE(prep.UnplaceAccessPoint(bssid, error)) << error;
    EXPECT_TRUE(Stored().accessPoints.empty());
    EXPECT_FALSE(prep.UnplaceAccessPoint(bssid, error));
    EXPECT_NE(error.find("02:00:00:00:00:a1 is not placed"), std::string::npos) << error;
}

}  // namespace
