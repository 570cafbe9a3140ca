// The workspace's site tools driven by the mouse and keys as a surveyor
// would: each change in the sidecar at once, detected walls kept only when
// the review is over.
#include <gtest/gtest.h>

#include <QDropEvent>
#include <QFile>
#include <QMimeData>
#include <QPainter>
#include <QTemporaryDir>
#include <QTest>

#include "app/qt_test_app.h"
#include "plan/plan_import.h"
#include "platform/message_box.h"
#include "sitefile/site_meta.h"
#include "sitetools/site_prep_tools.h"
#include "view/kestrow_view.h"
#include "workspace/map_canvas.h"
#include "workspace/workspace_window.h"

namespace {

using sitefile::Material;
using sitetools::SitePrepTools;

class Refusals : public platform::MessageBoxHandler {
  public:
    int Show(const std::string& text, const std::string&, unsigned) override {
        shown.push_back(text);
        return platform::kIdOk;
    }
    std::vector<std::string> shown;
};

// A 200 x 100 plan with one thick wall along y = 50 on a 400 x 400 canvas:
// map (x, y) lies under canvas (2x, 100 + 2y).
class SiteToolsTest : public ::testing::Test, private QtApplicationFirst {
  protected:
    void SetUp() override {
        platform::SetMessageBoxHandler(&m_boxes);
        m_window.show();
        m_window.RestoreLayout(QSize(400, 400), false);
        QImage plan(200, 100, QImage::Format_RGB32);
        plan.fill(Qt::white);
        QPainter(&plan).fillRect(QRect(20, 47, 160, 6), Qt::black);
        m_site = m_dir.filePath("site.ksf").toStdString();
        sitefile::SiteMap map;
        std::string error;
        ASSERT_TRUE(plan::WriteNewSite(plan, m_site, error, &map)) << error;
        ASSERT_TRUE(m_view->ShowSiteMap(map));
        m_window.Refresh();
        Tools().SiteShown(m_site, 200, 100, m_view->MapLoadCount());
        Tools().askMetres = [](QWidget*, double) { return 5.0; };
        Tools().askBssid = [this](QWidget*, QPointF, const std::vector<sitetools::HeardBssid>&) {
            return std::optional<sitefile::MacBytes>(m_bssid);
        };
    }
    void TearDown() override { platform::SetMessageBoxHandler(nullptr); }

    SitePrepTools& Tools() { return m_window.Prep(); }
    QWidget* Canvas() { return &m_window.Canvas(); }
    void Click(int x, int y) { QTest::mouseClick(Canvas(), Qt::LeftButton, {}, QPoint(x, y)); }
    void Drag(QPoint from, QPoint to) {
        QTest::mousePress(Canvas(), Qt::LeftButton, {}, from);
        QTest::mouseMove(Canvas(), to);
        QTest::mouseRelease(Canvas(), Qt::LeftButton, {}, to);
    }
    sitefile::SiteMeta Stored() const {
        sitefile::SiteMeta meta;
        std::string error;
        EXPECT_TRUE(sitefile::ReadSiteMeta(m_site, meta, error)) << error;
        return meta;
    }

    Refusals m_boxes;
    QTemporaryDir m_dir;
    std::string m_site;
    CKestrowView* m_view = new CKestrowView;
    workspace::WorkspaceWindow m_window{m_view, nullptr};
    sitefile::MacBytes m_bssid{0x02, 0, 0, 0, 0, 0xa1};
};

TEST_F(SiteToolsTest, ScaleAndWallsAreDrawnMovedAndDeletedWithTheMouse) {
    Tools().ChooseTool(SitePrepTools::Tool::kScale);
    Click(20, 200);   // map (10, 50)
    Click(220, 200);  // map (110, 50): 100 px are 5 m
    ASSERT_TRUE(Stored().pixelsPerMetre);
    EXPECT_DOUBLE_EQ(*Stored().pixelsPerMetre, 20);
    EXPECT_DOUBLE_EQ(*m_view->MapScale(), 20);

    Tools().ChooseTool(SitePrepTools::Tool::kWalls);
    Tools().SetMaterial(Material::kBrick);
    Click(40, 140);
    Click(340, 140);
    ASSERT_EQ(Stored().walls.size(), 1u);
    EXPECT_EQ(Stored().walls[0].x1, 20);
    EXPECT_EQ(Stored().walls[0].x2, 170);
    EXPECT_EQ(Stored().walls[0].material, Material::kBrick);

    // An end dragged down; then the wall clicked and deleted.
    Drag(QPoint(340, 140), QPoint(340, 300));
    ASSERT_EQ(Stored().walls.size(), 1u);
    EXPECT_EQ(Stored().walls[0].y2, 100);
    Click(190, 220);
    QTest::keyClick(Canvas(), Qt::Key_Delete);
    EXPECT_TRUE(Stored().walls.empty());
    EXPECT_TRUE(m_boxes.shown.empty()) << m_boxes.shown.front();
}

TEST_F(SiteToolsTest, DetectedWallsAreEditedInReviewAndKeptOnlyThen) {
    std::string error;
    ASSERT_TRUE(Tools().DetectWalls(error)) << error;
    ASSERT_TRUE(Tools().Reviewing());
    ASSERT_EQ(Tools().EditedWalls().size(), 1u);
    EXPECT_NEAR(Tools().EditedWalls()[0].y1, 50, 1);
    // A wall drawn during the review joins the proposals, not the sidecar.
    Click(40, 140);
    Click(40, 280);
    EXPECT_EQ(Tools().EditedWalls().size(), 2u);
    EXPECT_TRUE(Stored().walls.empty());
    ASSERT_TRUE(Tools().KeepDetectedWalls(error)) << error;
    EXPECT_FALSE(Tools().Reviewing());
    EXPECT_EQ(Stored().walls.size(), 2u);

    // Discarding a second review leaves the walls kept as they were.
    ASSERT_TRUE(Tools().DetectWalls(error)) << error;
    Tools().DiscardDetectedWalls();
    EXPECT_EQ(Tools().EditedWalls().size(), 2u);
}

TEST_F(SiteToolsTest, AccessPointsArePlacedDraggedUnplacedDroppedAndPlacedWhereEstimated) {
    Tools().ChooseTool(SitePrepTools::Tool::kAccessPoints);
    Click(100, 200);
    ASSERT_EQ(Stored().accessPoints.size(), 1u);
    EXPECT_EQ(Stored().accessPoints[0].x, 50);
    EXPECT_EQ(Stored().accessPoints[0].y, 50);
    Drag(QPoint(100, 200), QPoint(150, 250));
    EXPECT_EQ(Stored().accessPoints[0].x, 75);
    EXPECT_EQ(Stored().accessPoints[0].y, 75);
    QTest::keyClick(Canvas(), Qt::Key_Delete);
    EXPECT_TRUE(Stored().accessPoints.empty());

    // A row of the Access points dock dropped on the plan (as text here).
    QMimeData mime;
    mime.setText("Corp  02:00:00:00:00:b2  ch 36");
    QDragEnterEvent enter(QPoint(200, 300), Qt::CopyAction, &mime, Qt::LeftButton, {});
    QCoreApplication::sendEvent(Canvas(), &enter);
    EXPECT_TRUE(enter.isAccepted());
    QDropEvent drop(QPointF(200, 300), Qt::CopyAction, &mime, Qt::LeftButton, {});
    QCoreApplication::sendEvent(Canvas(), &drop);
    ASSERT_EQ(Stored().accessPoints.size(), 1u);
    EXPECT_EQ(coverage::BssidText(Stored().accessPoints[0].bssid), "02:00:00:00:00:b2");
    EXPECT_EQ(Stored().accessPoints[0].x, 100);

    // "Place here" on the model's estimate of another one.
    Tools().askPlaceHere = [](QWidget*, QPointF, const sitetools::EstimatedAp&) { return true; };
    Tools().SetEstimates({{m_bssid, "Corp", 150, 30, 12}});
    Click(300, 160);
    ASSERT_EQ(Stored().accessPoints.size(), 2u);
    EXPECT_EQ(Stored().accessPoints[1].x, 150);
    EXPECT_EQ(Stored().accessPoints[1].label, "Corp");
    EXPECT_EQ(Tools().EstimateAt(QPointF(300, 160)), nullptr);  // placed, no longer estimated
}

TEST_F(SiteToolsTest, NewEndsSnapToWallEndsAndShiftKeepsAWallLevel) {
    Tools().ChooseTool(SitePrepTools::Tool::kWalls);
    Click(40, 140);   // map (20, 20)
    Click(340, 140);  // map (170, 20)
    // A click 4 canvas pixels off the first wall's end starts exactly on it;
    // with Shift the other end keeps its height.
    Click(344, 143);
    QTest::mouseClick(Canvas(), Qt::LeftButton, Qt::ShiftModifier, QPoint(350, 300));
    ASSERT_EQ(Stored().walls.size(), 2u);
    const sitefile::Wall second = Stored().walls[1];
    EXPECT_EQ(second.x1, 170);
    EXPECT_EQ(second.y1, 20);
    EXPECT_EQ(second.x2, 170);
    EXPECT_EQ(second.y2, 100);
    // Esc drops a wall begun; a second click on its first end is no wall.
    Click(100, 250);
    QTest::keyClick(Canvas(), Qt::Key_Escape);
    Click(100, 250);
    Click(100, 250);
    EXPECT_EQ(Stored().walls.size(), 2u);
}

TEST_F(SiteToolsTest, AnotherSiteShownDropsTheReviewAndReadsItsOwnSidecar) {
    std::string error;
    ASSERT_TRUE(Tools().DetectWalls(error)) << error;
    // The same site saved under another name (its sidecar went with it).
    const std::string other = m_dir.filePath("copy.ksf").toStdString();
    ASSERT_TRUE(QFile::copy(QString::fromStdString(m_site), QString::fromStdString(other)));
    ASSERT_TRUE(sitefile::WriteSiteScale(other, 40, error)) << error;
    Tools().SiteShown(other, 200, 100, m_view->MapLoadCount());
    EXPECT_FALSE(Tools().Reviewing());
    EXPECT_EQ(Tools().CurrentTool(), SitePrepTools::Tool::kSurvey);
    ASSERT_TRUE(Tools().Meta().pixelsPerMetre);
    EXPECT_EQ(*Tools().Meta().pixelsPerMetre, 40);

    // A damaged sidecar is told of; the site still opens, nothing prepared.
    const std::string damaged = m_dir.filePath("damaged.ksf").toStdString();
    ASSERT_TRUE(QFile::copy(QString::fromStdString(m_site), QString::fromStdString(damaged)));
    QFile meta(QString::fromStdString(sitefile::MetaPath(damaged)));
    ASSERT_TRUE(meta.open(QIODevice::WriteOnly));
    meta.write("[1, 2");
    meta.close();
    Tools().SiteShown(damaged, 200, 100, m_view->MapLoadCount());
    ASSERT_EQ(m_boxes.shown.size(), 1u);
    EXPECT_NE(m_boxes.shown[0].find(sitefile::MetaPath(damaged)), std::string::npos);
    EXPECT_FALSE(Tools().Meta().pixelsPerMetre);
}

}  // namespace
