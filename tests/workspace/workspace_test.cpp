// The desktop workspace: the canvas's geometry, what the canvas draws, and
// the sweep that runs on the event loop.
#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QKeyEvent>
#include <QTextBrowser>
#include <QTimer>
#include <QTreeWidget>
#include <chrono>
#include <cstring>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "app/qt_test_app.h"
#include "platform/message_box.h"
#include "platform/sound/sound.h"
#include "survey/record_list.h"
#include "survey/site_header.h"
#include "view/fake_scan_source.h"
#include "view/kestrow_view.h"
#include "workspace/canvas_geometry.h"
#include "workspace/map_canvas.h"
#include "workspace/survey_panels.h"
#include "workspace/sweep_runner.h"
#include "workspace/workspace_window.h"

namespace {

using workspace::CanvasGeometry;

TEST(CanvasGeometry, FitLetterboxesThePlanAndBesideItIsNoMapPixel) {
    CanvasGeometry g;
    g.SetCanvasSize(300, 300);
    g.SetMapSize(400, 200);
    EXPECT_DOUBLE_EQ(g.Scale(), 0.75);
    EXPECT_DOUBLE_EQ(g.OriginX(), 0);
    EXPECT_DOUBLE_EQ(g.OriginY(), 75);
    int32_t x = -1;
    int32_t y = -1;
    EXPECT_FALSE(g.CanvasToMap(150, 74, x, y));   // the band above
    EXPECT_FALSE(g.CanvasToMap(150, 225, x, y));  // the band below
    ASSERT_TRUE(g.CanvasToMap(0, 75, x, y));
    EXPECT_EQ(x, 0);
    EXPECT_EQ(y, 0);
    ASSERT_TRUE(g.CanvasToMap(299, 224, x, y));
    EXPECT_EQ(x, 399);
    EXPECT_EQ(y, 199);
    // A fitted plan is fitted again when the canvas changes size.
    g.SetCanvasSize(800, 200);
    EXPECT_DOUBLE_EQ(g.Scale(), 1);
    EXPECT_DOUBLE_EQ(g.OriginX(), 200);
}

TEST(CanvasGeometry, WheelZoomsAboutTheCursorPanMovesAndFitRestores) {
    CanvasGeometry g;
    g.SetCanvasSize(400, 400);
    g.SetMapSize(400, 400);
    int32_t x = 0;
    int32_t y = 0;
    g.ZoomAt(100.5, 300.5, 2);
    EXPECT_DOUBLE_EQ(g.Scale(), 1.5625);
    EXPECT_FALSE(g.IsFitted());
    ASSERT_TRUE(g.CanvasToMap(100, 300, x, y));
    EXPECT_EQ(x, 100);
    EXPECT_EQ(y, 300);
    g.ZoomAt(100.5, 300.5, -2);
    EXPECT_NEAR(g.Scale(), 1, 1e-12);
    EXPECT_NEAR(g.OriginX(), 0, 1e-9);

    g.Pan(30, -20);
    ASSERT_TRUE(g.CanvasToMap(130, 280, x, y));
    EXPECT_EQ(x, 100);
    EXPECT_EQ(y, 300);
    // However far the drag, a quarter of the canvas keeps showing the plan.
    g.Pan(-10000, 10000);
    EXPECT_DOUBLE_EQ(g.OriginX() + 400 * g.Scale(), 100);
    EXPECT_DOUBLE_EQ(g.OriginY(), 300);

    g.ZoomAt(200, 200, 100);
    EXPECT_DOUBLE_EQ(g.Scale(), CanvasGeometry::kMaxScale);
    g.ZoomAt(200, 200, -100);
    EXPECT_DOUBLE_EQ(g.Scale(), 0.25);
    g.Fit();
    EXPECT_TRUE(g.IsFitted());
    EXPECT_DOUBLE_EQ(g.Scale(), 1);
    EXPECT_DOUBLE_EQ(g.OriginY(), 0);
}

class RecordingBoxes : public platform::MessageBoxHandler {
  public:
    int Show(const std::string& text, const std::string&, unsigned) override {
        shown.push_back(text);
        return platform::kIdOk;
    }
    std::vector<std::string> shown;
};

// A unit whose sweep takes passesNeeded passes of 20 ms each.
class SlowScanSource : public FakeScanSource {
  public:
    SweepState ContinueSweep() override {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        if (onPass) {
            onPass();
        }
        if (++passes < passesNeeded) {
            return SweepState::kRunning;
        }
        finished = true;
        return SweepState::kDone;
    }
    int passes = 0;
    int passesNeeded = 1 << 30;
    std::function<void()> onPass;  // what the unit hears, each pass
};

class WorkspaceTest : public ::testing::Test, private QtApplicationFirst {
  protected:
    void SetUp() override {
        platform::SetSoundEnabled(false);
        platform::SetMessageBoxHandler(&m_boxes);
        m_view->SetUiServices(m_services);
        m_window.show();
        m_window.RestoreLayout(QSize(400, 400), false);
        ASSERT_EQ(m_window.Canvas().size(), QSize(400, 400));
        std::vector<uint32_t> colors(256, 0x00FFFFFF);
        colors[1] = 0x00C0E0F0;
        std::vector<uint8_t> pixels(200 * 100, 1);
        ASSERT_TRUE(m_view->LoadMapImage(200, 100, colors.data(), pixels.data(), 200));
        g_siteHeader = std::make_unique<CSiteHeader>();
        g_siteHeader->ClearPoints();
        m_view->OnInitialUpdate(m_scanner, 0);
        m_window.Refresh();
        QCoreApplication::processEvents();
    }
    void TearDown() override {
        platform::SetMessageBoxHandler(nullptr);
        g_siteHeader.reset();
        g_surveyList.Clear();
    }
    template <typename Done>
    void RunUntil(Done done, int limitMs = 5000) {
        QElapsedTimer waited;
        waited.start();
        while (!done() && waited.elapsed() < limitMs) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        }
    }
    // The name the last point was taken under (a point where nothing was
    // heard is stored as a marker record of its own name).
    std::string NameOfLast() const { return g_siteHeader->m_curName; }

    RecordingBoxes m_boxes;
    UiServices m_services;
    CKestrowView* m_view = new CKestrowView;
    workspace::WorkspaceWindow m_window{m_view, nullptr};
    SlowScanSource m_scanner;
};

TEST_F(WorkspaceTest, CanvasLetterboxesThePlanAndDrawsNumbersAndTheLegend) {
    // 200 x 100 in 400 x 400: scale 2, bands of 100 pixels above and below.
    const QImage shot = m_window.Canvas().Render();
    EXPECT_NE(shot.pixel(200, 50), 0xFFC0E0F0u);
    EXPECT_EQ(shot.pixel(200, 101), 0xFFC0E0F0u);
    EXPECT_EQ(shot.pixel(200, 298), 0xFFC0E0F0u);
    EXPECT_EQ(shot.pixel(200, 301), shot.pixel(200, 50));

    ApRecord* record = nullptr;
    ASSERT_EQ(g_surveyList.AllocRecord(record), 0);
    record->x = 50;
    record->y = 50;
    record->channel = 6;
    record->rssi = -45;  // orange
    std::strcpy(record->pointName, "7");
    g_surveyList.Append(record);
    m_window.Canvas().SurveyChanged();
    m_window.Canvas().SetLegend("Strongest signal (dBm)", {{0xFF0000u, "above -40"}});
    const QImage marked = m_window.Canvas().Render();
    // The circle at map (50, 50): canvas (101, 201).
    EXPECT_EQ(marked.pixel(101, 201), 0xFFFF8000u);
    // Its number beside it, right of the circle, where the plan is light.
    int dark = 0;
    for (int y = 193; y < 210; ++y) {
        for (int x = 110; x < 125; ++x) {
            dark += qGray(marked.pixel(x, y)) < 100;
        }
    }
    EXPECT_GT(dark, 5);
    // The legend's swatch in the bottom-left corner.
    bool swatch = false;
    for (int y = 300; y < 400 && !swatch; ++y) {
        for (int x = 0; x < 100 && !swatch; ++x) {
            swatch = marked.pixel(x, y) == 0xFFFF0000u;
        }
    }
    EXPECT_TRUE(swatch);
}

TEST_F(WorkspaceTest, EventLoopRunsDuringASlowSweepAndEscCancelsIt) {
    ASSERT_TRUE(m_window.Canvas().Tap(QPoint(101, 201)));
    EXPECT_EQ(m_scanner.sweepX, 50);
    EXPECT_EQ(m_scanner.sweepY, 50);
    bool fired = false;
    QTimer::singleShot(150, [&fired] { fired = true; });
    RunUntil([&] { return fired; });
    EXPECT_TRUE(fired);
    EXPECT_TRUE(m_window.Sweep().IsRunning());
    EXPECT_GT(m_scanner.passes, 2);
    // One point at a time.
    EXPECT_FALSE(m_window.TakePointAt(60, 50));
    EXPECT_EQ(m_scanner.sweeps, 1);

    QKeyEvent esc(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
    QCoreApplication::sendEvent(&m_window.Canvas(), &esc);
    EXPECT_FALSE(m_window.Sweep().IsRunning());
    EXPECT_EQ(m_scanner.cancels, 1);
    const int passes = m_scanner.passes;
    RunUntil([] { return false; }, 100);
    EXPECT_EQ(m_scanner.passes, passes);
    EXPECT_TRUE(g_surveyList.IsEmpty());
    EXPECT_TRUE(m_boxes.shown.empty());
}

TEST_F(WorkspaceTest, FinishedSweepsCommitPointsNamedByNumberAndBesideThePlanNothing) {
    m_scanner.passesNeeded = 3;
    EXPECT_FALSE(m_window.Canvas().Tap(QPoint(200, 50)));
    EXPECT_EQ(m_scanner.sweeps, 0);
    ASSERT_TRUE(m_window.Canvas().Tap(QPoint(101, 201)));
    RunUntil([&] { return !m_window.Sweep().IsRunning(); });
    ASSERT_FALSE(g_surveyList.IsEmpty());
    EXPECT_EQ(NameOfLast(), "1");
    EXPECT_EQ(g_surveyList.Sentinel()->prev->x, 50);

    m_scanner.passes = 0;
    std::strcpy(g_surveyList.Sentinel()->prev->pointName, "41");
    ASSERT_TRUE(m_window.TakePointAt(120, 70));
    RunUntil([&] { return !m_window.Sweep().IsRunning(); });
    EXPECT_EQ(NameOfLast(), "42");
    EXPECT_EQ(g_siteHeader->m_pointCount, 2);
}

// Channel 5 is 2.4 GHz by its number alone; the adapter's frequency says 6.
TEST_F(WorkspaceTest, TheSweepsFrequenciesGiveTheBandBeforeTheSiteIsSaved) {
    m_scanner.passesNeeded = 2;
    m_scanner.onPass = [] {
        std::lock_guard<std::mutex> lock(g_scanListMutex);
        ApRecord* r = nullptr;
        if (g_scanList.IsEmpty() && g_scanList.AllocRecord(r) == 0) {
            std::memcpy(r->mac, "\x02\0\0\0\0\x66", 6);
            std::strcpy(r->macText, "020000000066");
            r->channel = 5;
            r->rssi = -50;
            r->sampleCount = 1;
            g_scanList.Append(r);
        }
    };
    m_scanner.details.channels = {{{2, 0, 0, 0, 0, 0x66}, 5975, 20}};
    ASSERT_TRUE(m_window.TakePointAt(50, 50));
    RunUntil([&] { return !m_window.Sweep().IsRunning(); });
    const std::vector<workspace::SiteAccessPoint> aps =
        workspace::SiteAccessPoints(m_view->SurveyExtras());
    ASSERT_EQ(aps.size(), 1u);
    EXPECT_EQ(aps[0].entry.band, "6");
}

TEST_F(WorkspaceTest, HelpOpensTheGuideItself) {
    ASSERT_FALSE(workspace::WorkspaceWindow::GuidePath().isEmpty());
    ASSERT_TRUE(m_window.ShowGuide());
    auto* browser = m_window.findChild<QTextBrowser*>();
    ASSERT_NE(browser, nullptr);
    EXPECT_TRUE(browser->toPlainText().contains("The desktop workspace"));
}

}  // namespace

namespace {

TEST_F(WorkspaceTest, AccessPointsGroupBySsidAndTheUncheckedLeaveTheOverlay) {
    workspace::SiteAccessPoint corp;
    corp.bssid = {2, 0, 0, 0, 0, 0xa1};
    corp.entry = {"02:00:00:00:00:a1", "Corp", "5", 36, -50};
    corp.radio = 1;
    workspace::SiteAccessPoint guest = corp;
    guest.bssid[5] = 0xa2;
    guest.entry.bssid = "02:00:00:00:00:a2";
    guest.entry.ssid = "Guest";
    workspace::SiteAccessPoint corp2 = corp;
    corp2.bssid[5] = 0xb1;
    corp2.entry.bssid = "02:00:00:00:00:b1";
    corp2.radio = 2;
    workspace::AccessPointsPanel& panel = m_window.AccessPoints();
    panel.Rebuild({corp, guest, corp2});
    ASSERT_EQ(panel.Tree()->topLevelItemCount(), 2);
    bool all = false;
    EXPECT_EQ(panel.Checked(all).size(), 3u);
    EXPECT_TRUE(all);
    // Unchecking the Guest network leaves its BSSID out, and stays so when
    // the survey changes.
    QTreeWidgetItem* guestGroup = panel.Tree()->findItems("Guest", Qt::MatchExactly).front();
    guestGroup->setCheckState(0, Qt::Unchecked);
    panel.Rebuild({corp, guest, corp2});
    const std::vector<coverage::Bssid> checked = panel.Checked(all);
    EXPECT_FALSE(all);
    EXPECT_EQ(checked, std::vector<coverage::Bssid>({corp.bssid, corp2.bssid}));
}

}  // namespace
