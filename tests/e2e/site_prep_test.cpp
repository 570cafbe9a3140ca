// From a PDF floor plan to the first survey point, as a script drives the
// workspace: the site made, its scale, walls and access point in the sidecar
// at once and drawn on the canvas, a point taken and saved.
#include <gtest/gtest.h>

#include <QImage>

#include "kestrow_run.h"
#include "sitefile/site_meta.h"
#include "sitefile/site_reader.h"

namespace {

TEST(SitePreparationEndToEnd, PdfPlanToScaledWalledSiteAndItsFirstPoint) {
    ScratchFolder folder;
    const std::string scenario = folder.Write("lab.json", kLabScenario);
    const std::string plan = KESTROW_SOURCE_DIR "/examples/office-plan.pdf";
    // The 640 x 480 pt page is drawn 2000 px wide: the outer wall, 620 pt
    // long, is 1937.5 px and 31 m. On a 1000 x 750 canvas a map pixel is
    // half a canvas pixel (canvas pixel 400 has its centre over map pixel 801).
    const KestrowResult run = RunKestrowWorkspace(folder, "--simulate='" + scenario + "'",
                                                  "new-site " + plan +
                                                      " site.ksf\n"
                                                      "scale 31.25 31.25 1968.75 31.25 31\n"
                                                      "detect-walls\n"
                                                      "wall 100 100 300 100 glass\n"
                                                      "place-ap 00:0a:1b:2c:3d:4e 500 400\n"
                                                      "tap 400 300\n"
                                                      "screenshot shot.png\n"
                                                      "sign 10,10 60,10\n"
                                                      "save\n"
                                                      "wall 0 0 3000 0\n",
                                                  "--client-size 1000x750");
    // The last wall runs off the map: the script stops there, saying why.
    EXPECT_EQ(run.status, 2);
    EXPECT_NE(
        run.errors.find("script line 10: the wall's end 3000,0 lies outside the 2000 x 1500 map"),
        std::string::npos)
        << run.errors;

    const std::string site = folder.Path() + "/site.ksf";
    sitefile::SiteMeta meta;
    std::string error;
    ASSERT_TRUE(sitefile::ReadSiteMeta(site, meta, error)) << error;
    ASSERT_TRUE(meta.pixelsPerMetre);
    EXPECT_NEAR(*meta.pixelsPerMetre, 62.5, 1e-9);
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
        void OnPoint(const sitefile::StoredPoint& point) override {
            names.push_back(std::to_string(point.x) + "," + std::to_string(point.y) + " " +
                            point.name);
        }
        void OnEntry(const sitefile::StoredPoint&, const sitefile::StoredEntry&) override {}
        void OnPointEnd(const sitefile::StoredPoint&, int) override {}
        std::vector<std::string> names;
    } points;
    reader.VisitPoints(points);
    EXPECT_EQ(points.names, std::vector<std::string>({"801,601 1"}));

    // The glass wall and the access point's mark are drawn over the plan.
    const QImage shot(QString::fromStdString(folder.Path() + "/shot.png"));
    ASSERT_EQ(shot.size(), QSize(1000, 750));
    EXPECT_EQ(shot.pixel(100, 50) & 0xFFFFFF, 0x00B8C8u);
    EXPECT_EQ(shot.pixel(250 - 6, 200) & 0xFFFFFF, 0x105020u);
}

TEST(SitePreparationEndToEnd, OpeningAPlanMakesASiteBesideItAndNeverOverAnother) {
    ScratchFolder folder;
    const std::string scenario = folder.Write("lab.json", kLabScenario);
    folder.Write("plan.png", ReadBytes(KESTROW_SOURCE_DIR "/examples/office-plan.png"));
    const KestrowResult run = RunKestrowWorkspace(folder, "--simulate='" + scenario + "'",
                                                  "open plan.png\nopen plan.png\nstatus\n");
    ASSERT_EQ(run.status, 0) << run.errors;
    for (const char* name : {"/plan.ksf", "/plan-2.ksf"}) {
        sitefile::SiteFileReader reader;
        sitefile::OpenError error;
        sitefile::SiteMap map;
        ASSERT_TRUE(reader.Open(folder.Path() + name, error) && reader.ReadMap(map, error))
            << name << ": " << error.Text();
        EXPECT_EQ(map.width, 640);
    }
}

}  // namespace
