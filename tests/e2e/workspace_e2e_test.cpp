// The desktop workspace driven by a script: taps in canvas pixels store
// points at the map pixel under them, named by number, and the view stays.
#include <gtest/gtest.h>

#include <QImage>

#include "kestrow_run.h"
#include "sitefile/site_reader.h"

namespace {

class PointCollector : public sitefile::PointsVisitor {
  public:
    void OnPoint(const sitefile::StoredPoint& point) override {
        points.push_back(std::to_string(point.x) + "," + std::to_string(point.y) + " " +
                         point.name);
    }
    void OnEntry(const sitefile::StoredPoint&, const sitefile::StoredEntry&) override {}
    void OnPointEnd(const sitefile::StoredPoint&, int) override {}
    std::vector<std::string> points;
};

TEST(WorkspaceEndToEnd, TapsStoreMapPixelsUnderTheCursorThroughZoomAndSave) {
    ScratchFolder folder;
    const std::string scenario = folder.Write("lab.json", kLabScenario);
    const std::string site = folder.Write("site.ksf", MakeSite());
    // A 240 x 320 plan on a 480 x 400 canvas: scale 1.25, 90 pixels each side.
    const KestrowResult run = RunKestrowWorkspace(folder, "--simulate='" + scenario + "'",
                                                  "open site.ksf\n"
                                                  "tap 10 10\n"
                                                  "tap 215 62\n"
                                                  "wheel 215 62 2\n"
                                                  "tap 300 200\n"
                                                  "status\n"
                                                  "fit\n"
                                                  "screenshot shot.png\n"
                                                  "sign 10,10 60,10\n"
                                                  "save\n",
                                                  "--client-size 480x400");
    ASSERT_EQ(run.status, 0) << run.errors;
    EXPECT_EQ(run.lines,
              std::vector<std::string>({kKeepQuestion, "STATUS L: 2 | P: 6 | X: 143 | Y: 120"}));

    sitefile::SiteFileReader reader;
    sitefile::OpenError error;
    ASSERT_TRUE(reader.Open(site, error)) << error.Text();
    PointCollector collector;
    reader.VisitPoints(collector);
    EXPECT_EQ(collector.points, std::vector<std::string>({"100,50 1", "143,120 2"}));

    const QImage shot(QString::fromStdString(folder.Path() + "/shot.png"));
    ASSERT_EQ(shot.size(), QSize(480, 400));
    EXPECT_NE(shot.pixel(45, 200), shot.pixel(200, 200));  // beside the plan, and on it
}

}  // namespace
