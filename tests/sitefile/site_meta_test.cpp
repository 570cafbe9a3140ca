#include "sitefile/site_meta.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

namespace {

class SiteMetaTest : public ::testing::Test {
  protected:
    void SetUp() override {
        char pattern[] = "/tmp/site_meta_XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        m_dir = pattern;
        m_site = m_dir + "/site.ksf";
        std::ofstream(m_site) << "site";
        ::chmod(m_site.c_str(), 0600);
    }
    void TearDown() override { std::system(("rm -rf " + m_dir).c_str()); }

    void WriteMeta(const std::string& text) { std::ofstream(m_site + ".meta.json") << text; }
    static std::string Read(const std::string& path) {
        std::ifstream in(path);
        std::ostringstream text;
        text << in.rdbuf();
        return text.str();
    }

    std::string m_dir;
    std::string m_site;
};

TEST_F(SiteMetaTest, EveryFieldSurvivesARoundTripAndUnknownFieldsAreKept) {
    WriteMeta(R"({"pixels_per_metre": 20.5, "future": {"a": [1, 2]},
      "walls": [{"x1": 0, "y1": 160, "x2": 640.5, "y2": 160, "material": "brick"}],
      "access_points": [{"bssid": "02:00:00:00:00:A1", "x": 100, "y": 80, "label": "AP-1"}],
      "bssids": {"02:00:00:00:00:a1": {"frequency": 5180, "width_mhz": 80}},
      "noise": [{"x": 120, "y": 160, "frequency": 5180, "noise_dbm": -95.5}],
      "estimated_levels": [{"x": 120, "y": 160}],
      "walks": [{"path": [[10, 20], [200, 20]], "times_s": [0, 12.5], "speed": 1, "points": ["4"]}],
      "report": {"customer": "Acme", "surveyor": "Jo", "notes": "Floor 2"}})");
    sitefile::SiteMeta meta;
    std::string error;
    ASSERT_TRUE(sitefile::ReadSiteMeta(m_site, meta, error)) << error;
    EXPECT_EQ(meta.walls.at(0).material, sitefile::Material::kBrick);
    EXPECT_EQ(sitefile::InfoOf(meta.walls[0].material).lossDb[1], 10);
    ASSERT_NE(meta.PlacedAt({0x02, 0, 0, 0, 0, 0xa1}), nullptr);
    EXPECT_EQ(meta.bssids.at({0x02, 0, 0, 0, 0, 0xa1}).widthMhz, 80);
    EXPECT_EQ(meta.walks.at(0).timesS.at(1), 12.5);
    EXPECT_EQ(meta.estimatedLevels.size(), 1u);
    EXPECT_EQ(meta.report.notes, "Floor 2");

    ASSERT_TRUE(sitefile::WriteSiteMeta(m_site, meta, error)) << error;
    sitefile::SiteMeta again;
    ASSERT_TRUE(sitefile::ReadSiteMeta(m_site, again, error)) << error;
    EXPECT_EQ(sitefile::MetaText(again), sitefile::MetaText(meta));
    EXPECT_NE(Read(m_site + ".meta.json").find("\"future\""), std::string::npos);
    // The sidecar holds what the site holds: it gets the site's permissions.
    struct stat st {};
    ASSERT_EQ(::stat((m_site + ".meta.json").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
}

TEST_F(SiteMetaTest, ADamagedSidecarIsReportedAndSetAsideBeforeAnyWrite) {
    std::string many = "{\"walls\": [";
    for (int i = 0; i <= 100000; ++i) {
        many += std::string(i ? "," : "") + "{\"x1\":0,\"y1\":0,\"x2\":1,\"y2\":1}";
    }
    many += "]}";
    const std::pair<std::string, std::string> cases[] = {
        {"not json", "line 1, column 2"},
        {R"({"walls": [{"x1": 1e300, "y1": 0, "x2": 1, "y2": 1}]})", "walls[0].x1: must be"},
        {R"({"walls": [{"x1": 0, "y1": 0, "x2": 1, "y2": 1, "material": "cheese"}]})",
         "unknown material 'cheese'"},
        {R"({"access_points": [{"bssid": "nope", "x": 1, "y": 2}]})", "is not a BSSID"},
        {R"({"pixels_per_metre": 1e400})", "number overflow"},
        {many, "more than the 100000 allowed"},
    };
    for (const auto& [text, expected] : cases) {
        WriteMeta(text);
        sitefile::SiteMeta meta;
        std::string error;
        EXPECT_FALSE(sitefile::ReadSiteMeta(m_site, meta, error));
        EXPECT_EQ(error.rfind(m_site + ".meta.json: ", 0), 0u) << error;
        EXPECT_NE(error.find(expected), std::string::npos) << error;
        EXPECT_EQ(error.find('\n'), std::string::npos);
    }
    // Two repairs in a row keep both damaged copies.
    std::string error;
    std::string note;
    WriteMeta("first");
    ASSERT_TRUE(sitefile::WriteSiteScale(m_site, 10, error, &note)) << error;
    EXPECT_NE(note.find(".meta.json.damaged"), std::string::npos) << note;
    WriteMeta("second");
    ASSERT_TRUE(sitefile::WriteSiteScale(m_site, 12, error, &note)) << error;
    EXPECT_EQ(Read(m_site + ".meta.json.damaged"), "first");
    EXPECT_EQ(Read(m_site + ".meta.json.damaged.2"), "second");

    // A folder where the sidecar should be is reported and left alone.
    std::system(("rm -f " + m_site + ".meta.json").c_str());
    ASSERT_EQ(::mkdir((m_site + ".meta.json").c_str(), 0700), 0);
    sitefile::SiteMeta meta;
    EXPECT_FALSE(sitefile::ReadSiteMeta(m_site, meta, error));
    EXPECT_NE(error.find("is a directory"), std::string::npos) << error;
    EXPECT_FALSE(sitefile::WriteSiteScale(m_site, 12, error));
}

}  // namespace
