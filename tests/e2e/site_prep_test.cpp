// From a PDF floor plan to the first survey point, as a script drives the
// window: the site made, its scale and walls in the sidecar at once, a point
// taken and saved.
#include <gtest/gtest.h>

#include "kestrow_run.h"
#include "sitefile/site_meta.h"
#include "sitefile/site_reader.h"

namespace {

TEST(SitePreparationEndToEnd, PdfPlanToScaledWalledSiteAndItsFirstPoint) {
    ScratchFolder folder;
    const std::string scenario = folder.Write("lab.json", kLabScenario);
    const std::string plan = KESTROW_SOURCE_DIR "/examples/office-plan.pdf";
    // The 640 x 480 pt page is drawn 2000 px wide: the outer wall, 620 pt
    // long, is 1937.5 px and 31 m.
    const KestrowResult run = RunKestrow(folder, scenario,
                                         "new-site " + plan +
                                             " site.ksf\n"
                                             "scale 31.25 31.25 1968.75 31.25 31\n"
                                             "detect-walls\n"
                                             "wall 100 100 300 100 glass\n"
                                             "place-ap 00:0a:1b:2c:3d:4e 500 400\n"
                                             "tap 120 134\n"
                                             "sign 10,10 60,10\n"
                                             "save\n"
                                             "wall 0 0 3000 0\n");
    // The last wall runs off the map: the script stops there, saying why.
    EXPECT_EQ(run.status, 2);
    EXPECT_NE(
        run.errors.find("script line 9: the wall's end 3000,0 lies outside the 2000 x 1500 map"),
        std::string::npos)
        << run.errors;

    const std::string site = folder.Path() + "/site.ksf";
    sitefile::SiteMeta meta;
    std::string error;
    ASSERT_TRUE(sitefile::ReadSiteMeta(site, meta, error)) << error;
    ASSERT_TRUE(meta.pixelsPerMetre);
    EXPECT_DOUBLE_EQ(*meta.pixelsPerMetre, 62.5);
    // The plan's fifteen wall lines, cut by their doors, and the one drawn.
    EXPECT_GE(meta.walls.size(), 15u);
    EXPECT_EQ(meta.walls.back().material, sitefile::Material::kGlass);
    ASSERT_EQ(meta.accessPoints.size(), 1u);
    EXPECT_EQ(meta.accessPoints[0].x, 500);

    sitefile::SiteFileReader reader;
    sitefile::OpenError openError;
    ASSERT_TRUE(reader.Open(site, openError)) << openError.Text();
    sitefile::SiteMap map;
    ASSERT_TRUE(reader.ReadMap(map, openError)) << openError.Text();
    EXPECT_EQ(map.width, 2000);
    EXPECT_EQ(map.height, 1500);
    struct Names : sitefile::PointsVisitor {
        void OnPoint(const sitefile::StoredPoint& point) override { names.push_back(point.name); }
        void OnEntry(const sitefile::StoredPoint&, const sitefile::StoredEntry&) override {}
        void OnPointEnd(const sitefile::StoredPoint&, int) override {}
        std::vector<std::string> names;
    } points;
    reader.VisitPoints(points);
    EXPECT_EQ(points.names.size(), 1u);
}

}  // namespace
