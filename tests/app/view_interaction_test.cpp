// The view's handlers: how presses become taps and holds, the scroll codes,
// the joystick keys, and the KORV_DRAW handling that commits a point.
#include <gtest/gtest.h>

#include <unistd.h>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QImage>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "app/main_frame.h"
#include "app/site_commands.h"
#include "coverage/coverage_map.h"
#include "coverage/requirements.h"
#include "coverage/survey_input.h"
#include "dialogs/point_info_dlg.h"
#include "picture/coverage_image.h"
#include "platform/message_box.h"
#include "platform/qt/qt_window_handle.h"
#include "platform/sound/sound.h"
#include "qt_test_app.h"
#include "sitefile/site_writer.h"
#include "survey/record_list.h"
#include "survey/site_header.h"
#include "view/command_ids.h"
#include "view/fake_scan_source.h"
#include "view/kestrow_view.h"

namespace {

class RecordingBoxes : public platform::MessageBoxHandler {
  public:
    int Show(const std::string& text, const std::string& caption, unsigned) override {
        shown.push_back(caption + " | " + text);
        if (QApplication::overrideCursor() != nullptr) {
            ++shownWithWaitCursor;
        }
        return platform::kIdOk;
    }
    std::vector<std::string> shown;
    int shownWithWaitCursor = 0;
};

// Counts the paints a widget receives.
class PaintCounter : public QObject {
  public:
    explicit PaintCounter(QWidget* widget) { widget->installEventFilter(this); }
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Paint) {
            ++paints;
        }
        return false;
    }
    int paints = 0;
};

class ViewInteractionTest : public ::testing::Test, private QtApplicationFirst {
  protected:
    void SetUp() override {
        platform::SetSoundEnabled(false);
        platform::SetMessageBoxHandler(&m_boxes);
        m_services.runModal = [this](QDialog& dialog) {
            ++m_dialogsShown;
            if (dynamic_cast<CPointInfoDlg*>(&dialog)) {
                ++m_pointInfoShown;
            }
            return m_dialogResult;
        };
        m_view->SetUiServices(m_services);
        m_frame.SetView(m_view, nullptr);
        m_frame.show();
        m_view->viewport()->setFixedSize(240, 268);
        QCoreApplication::processEvents();
    }
    void TearDown() override {
        platform::SetMessageBoxHandler(nullptr);
        g_siteHeader.reset();
        g_surveyList.Clear();
    }

    // A white 240 x 320 map, opened as the open command leaves it.
    // A map of one colour (white by default), opened as the open command leaves it.
    void LoadMap(int width = 240, int height = 320, uint32_t color = 0x00FFFFFF) {
        std::vector<uint32_t> colors(256, color);
        std::vector<uint8_t> pixels(static_cast<size_t>(width) * height, 0);
        ASSERT_TRUE(m_view->LoadMapImage(width, height, colors.data(), pixels.data(), width));
        m_view->GetViewport()->SetMapBounds(0, 0, width, height);
        m_view->GetViewport()->SetVisibleRect(0, 0, width, height);
        m_view->horizontalScrollBar()->setRange(0, width);
        m_view->verticalScrollBar()->setRange(0, height);
        g_siteHeader = std::make_unique<CSiteHeader>();
        g_siteHeader->ClearPoints();
        m_view->m_viewMode = CKestrowView::VIEW_MAP;
    }

    // The view's first update, with the fake scanner and no pause.
    void Attach() {
        m_view->OnInitialUpdate(m_scanner, 0);
        QCoreApplication::processEvents();
    }

    void AddSurveyRecord(int x, int y) {
        ApRecord* record = nullptr;
        ASSERT_EQ(g_surveyList.AllocRecord(record), 0);
        record->x = x;
        record->y = y;
        record->channel = 36;
        record->rssi = -50;
        std::strcpy(record->macText, "000A1B2C3D4E");
        g_surveyList.Append(record);
    }

    void Mouse(QEvent::Type type, QPoint point, Qt::MouseButton button, Qt::MouseButtons held) {
        QMouseEvent event(type, QPointF(point), QPointF(m_view->viewport()->mapToGlobal(point)),
                          button, held, Qt::NoModifier);
        QCoreApplication::sendEvent(m_view->viewport(), &event);
    }

    void Key(int key) {
        QKeyEvent event(QEvent::KeyPress, key, Qt::NoModifier);
        QCoreApplication::sendEvent(m_view, &event);
    }

    // Lets the event loop run until `done` holds (the hold timer fires after
    // half a second); gives up after a generous while.
    template <typename Done>
    void RunUntil(Done done, int limitMs = 10000) {
        QElapsedTimer waited;
        waited.start();
        while (!done() && waited.elapsed() < limitMs) {
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
        }
    }

    RecordingBoxes m_boxes;
    UiServices m_services;
    CMainFrame m_frame;
    CKestrowView* m_view = new CKestrowView;
    SiteCommands m_site{*m_view, m_services};
    FakeScanSource m_scanner;
    int m_dialogsShown = 0;
    int m_pointInfoShown = 0;
    int m_dialogResult = 0;
    const std::string m_openFirst = "Kestrow | Open a site file first.";
};

TEST_F(ViewInteractionTest, QuickPressIsATapAndWithoutASiteOnlyWarns) {
    Mouse(QEvent::MouseButtonPress, QPoint(120, 134), Qt::LeftButton, Qt::LeftButton);
    EXPECT_TRUE(m_boxes.shown.empty());  // undecided until released
    Mouse(QEvent::MouseButtonRelease, QPoint(120, 134), Qt::LeftButton, Qt::NoButton);
    EXPECT_EQ(m_boxes.shown, std::vector<std::string>({m_openFirst}));

    // A press that wanders off is no hold: its release is a tap.
    Mouse(QEvent::MouseButtonPress, QPoint(20, 20), Qt::LeftButton, Qt::LeftButton);
    Mouse(QEvent::MouseMove, QPoint(60, 20), Qt::NoButton, Qt::LeftButton);
    QCoreApplication::processEvents();
    Mouse(QEvent::MouseButtonRelease, QPoint(60, 20), Qt::LeftButton, Qt::NoButton);
    EXPECT_EQ(m_boxes.shown.size(), 2u);

    Key(Qt::Key_Return);
    EXPECT_EQ(m_boxes.shown.size(), 3u);
    EXPECT_EQ(m_dialogsShown, 0);
}

TEST_F(ViewInteractionTest, HeldPressAndRightClickAreHoldsThatSelectAPoint) {
    LoadMap();
    AddSurveyRecord(120, 160);
    // Held down past the hold time: the point under the stylus is shown.
    Mouse(QEvent::MouseButtonPress, QPoint(120, 134), Qt::LeftButton, Qt::LeftButton);
    RunUntil([this] { return m_pointInfoShown == 1; });
    EXPECT_EQ(m_pointInfoShown, 1);
    Mouse(QEvent::MouseButtonRelease, QPoint(120, 134), Qt::LeftButton, Qt::NoButton);
    EXPECT_EQ(m_pointInfoShown, 1);  // the release does not tap as well
    EXPECT_TRUE(m_boxes.shown.empty());

    Mouse(QEvent::MouseButtonPress, QPoint(125, 130), Qt::RightButton, Qt::RightButton);
    EXPECT_EQ(m_pointInfoShown, 2);
    // Nothing within reach: no dialog.
    Mouse(QEvent::MouseButtonPress, QPoint(5, 5), Qt::RightButton, Qt::RightButton);
    EXPECT_EQ(m_pointInfoShown, 2);
    EXPECT_EQ(g_siteHeader->m_selX, 120);
    EXPECT_EQ(g_siteHeader->m_selY, 160);
}

TEST_F(ViewInteractionTest, HoldWithoutASiteFindsNothing) {
    Mouse(QEvent::MouseButtonPress, QPoint(120, 134), Qt::RightButton, Qt::RightButton);
    EXPECT_EQ(m_dialogsShown, 0);
    EXPECT_TRUE(m_boxes.shown.empty());
}

TEST_F(ViewInteractionTest, ScrollCodesMoveTheCursorAndSetTheBars) {
    LoadMap(300, 320);
    CViewport& viewport = *m_view->GetViewport();
    viewport.SetCenterX(100);
    m_view->OnHScroll(3, 0);  // page right by the 240-pixel client width
    EXPECT_EQ(viewport.GetCenterX(), 300);
    EXPECT_EQ(m_view->horizontalScrollBar()->value(), 300);
    m_view->OnHScroll(0, 0);
    EXPECT_EQ(viewport.GetCenterX(), 290);
    m_view->OnHScroll(2, 0);
    EXPECT_EQ(viewport.GetCenterX(), 50);
    m_view->OnHScroll(1, 0);
    EXPECT_EQ(viewport.GetCenterX(), 60);
    m_view->OnHScroll(5, 500);
    EXPECT_EQ(viewport.GetCenterX(), 300);
    // Thumb position and end scroll change nothing but still set the bar.
    m_view->horizontalScrollBar()->setValue(7);
    m_view->OnHScroll(4, 20);
    EXPECT_EQ(viewport.GetCenterX(), 300);
    EXPECT_EQ(m_view->horizontalScrollBar()->value(), 300);
    m_view->OnHScroll(8, 0);
    EXPECT_EQ(viewport.GetCenterX(), 300);

    m_view->OnVScroll(3, 0);  // page down by the 268-pixel client height
    EXPECT_EQ(viewport.GetCenterY(), 320);
    m_view->OnVScroll(0, 0);
    EXPECT_EQ(viewport.GetCenterY(), 310);
    m_view->OnVScroll(5, -4);
    EXPECT_EQ(viewport.GetCenterY(), 0);
    EXPECT_EQ(m_view->verticalScrollBar()->value(), 0);
}

TEST_F(ViewInteractionTest, ArrowKeysAreTheJoystick) {
    LoadMap();
    CViewport& viewport = *m_view->GetViewport();
    Key(Qt::Key_Up);
    EXPECT_EQ(viewport.GetCenterY(), 150);
    EXPECT_EQ(m_view->verticalScrollBar()->value(), 150);
    Key(Qt::Key_Left);
    EXPECT_EQ(viewport.GetCenterX(), 110);
    EXPECT_EQ(m_view->horizontalScrollBar()->value(), 110);
    Key(Qt::Key_Right);
    Key(Qt::Key_Right);
    EXPECT_EQ(viewport.GetCenterX(), 130);
    Key(Qt::Key_Down);
    EXPECT_EQ(viewport.GetCenterY(), 160);
    Key(Qt::Key_A);  // any other key: nothing
    EXPECT_EQ(viewport.GetCenterX(), 130);
    EXPECT_EQ(viewport.GetCenterY(), 160);
}

// With the cursor scrolled to rest one past the map's last column and row,
// the joystick's point is still recorded on the map.
TEST_F(ViewInteractionTest, JoystickPointAtTheMapsEdgeIsRecordedOnItsLastPixel) {
    LoadMap();
    Attach();
    m_view->GetViewport()->ScrollRight(1000);
    m_view->GetViewport()->ScrollDown(1000);
    ASSERT_EQ(m_view->GetViewport()->GetCenterX(), 240);
    m_view->OnKeyDown(0x86);
    EXPECT_EQ(m_scanner.sweepX, 239);
    EXPECT_EQ(g_siteHeader->m_curX, 239);
    EXPECT_EQ(g_siteHeader->m_curY, 319);
}

TEST_F(ViewInteractionTest, KorvDrawCommitsOnlyWhenTheSweepHasFinished) {
    LoadMap();
    Attach();
    g_siteHeader->BeginPoint(120, 160, "TEST");
    {
        std::lock_guard<std::mutex> lock(g_scanListMutex);
        g_scanList.Clear();
    }
    m_scanner.requested = true;
    m_scanner.finished = false;
    m_view->OnKorvDraw(4, 0x0100001C);
    EXPECT_EQ(g_siteHeader->m_pointCount, 0);

    m_scanner.finished = true;
    m_view->m_viewMode = CKestrowView::VIEW_SCAN;
    m_view->OnKorvDraw(4, 0x1000001C);
    EXPECT_EQ(g_siteHeader->m_pointCount, 1);
    EXPECT_FALSE(m_scanner.requested);
    EXPECT_FALSE(m_scanner.finished);
    EXPECT_EQ(m_view->m_viewMode, CKestrowView::VIEW_MAP);
    EXPECT_EQ(m_boxes.shown,
              std::vector<std::string>({"COVERAGE WARNING | No Access Points Detected!"}));
    // The point's black circle is in the map image at the cursor.
    EXPECT_EQ(m_view->m_mapDC.pixel(120, 160) & 0xFFFFFF, 0u);
    // The status panes change once the frame handles the posted message.
    EXPECT_EQ(m_frame.PaneText(0), "L: 0");
    QCoreApplication::sendPostedEvents(&m_frame);
    EXPECT_EQ(m_frame.PaneText(0), "L: 1");
    EXPECT_EQ(m_frame.PaneText(1), "P: 0");
    EXPECT_EQ(m_frame.PaneText(2), "X: 120");
    EXPECT_EQ(m_frame.PaneText(3), "Y: 160");

    // A second KORV_DRAW right after only repaints.
    m_view->OnKorvDraw(4, 0x1000001C);
    EXPECT_EQ(g_siteHeader->m_pointCount, 1);
    EXPECT_EQ(m_boxes.shown.size(), 1u);
}

// The survey journal must have a change on disk before the surveyor sees it:
// the view tells its listener after the change and before any painting,
// question or status.
TEST_F(ViewInteractionTest, ListenerHearsOfEachCommitAndDeletionBeforeItIsShown) {
    LoadMap();
    Attach();
    struct Listener : SurveyListener {
        void OnPointCommitted(int32_t x, int32_t y) override { Heard("commit", x, y); }
        void OnPointDeleted(int32_t x, int32_t y) override { Heard("delete", x, y); }
        void OnSweepDetails(int32_t x, int32_t y, const SweepDetails& d) override {
            Heard("noise " + std::to_string(d.noise.size()) + " at", x, y);
        }
        void Heard(const std::string& what, int32_t x, int32_t y) {
            int records = 0;
            for (const ApRecord* r = g_surveyList.Sentinel()->next; r != g_surveyList.Sentinel();
                 r = r->next) {
                ++records;
            }
            const bool painted = (view->m_mapDC.pixel(x, y) & 0xFFFFFF) == 0;
            heard.push_back(what + " " + std::to_string(x) + "," + std::to_string(y) + " records " +
                            std::to_string(records) + (painted ? " painted" : " not painted") +
                            " boxes " + std::to_string(boxes->shown.size()));
        }
        CKestrowView* view = nullptr;
        RecordingBoxes* boxes = nullptr;
        std::vector<std::string> heard;
    } listener;
    listener.view = m_view;
    listener.boxes = &m_boxes;
    m_view->SetSurveyListener(&listener);
    UiServices deleting;
    deleting.runModal = [](QDialog&) {
        g_siteHeader->DeleteSelectedPoint();
        return CPointInfoDlg::kDeletedResult;
    };
    m_view->SetUiServices(deleting);

    g_siteHeader->BeginPoint(120, 160, "TEST");
    m_scanner.requested = true;
    m_scanner.finished = true;
    m_scanner.details.noise = {{5180, -95}};  // and what else the sweep learnt, right after
    m_view->OnKorvDraw(4, 0x1000001C);        // nothing heard: a marker, a warning
    m_view->OnLButtonDown(QPoint(120, 134), true);
    EXPECT_EQ(listener.heard,
              std::vector<std::string>({"commit 120,160 records 1 not painted boxes 0",
                                        "noise 1 at 120,160 records 1 not painted boxes 0",
                                        "delete 120,160 records 0 painted boxes 1"}));
    m_view->SetSurveyListener(nullptr);
}

TEST_F(ViewInteractionTest, TapBeforeTheLastPointIsCommittedRecordsThatPointFirst) {
    // A tap handled while the finished sweep's KORV_DRAW still waits in the
    // queue must not throw the finished point away, nor show it at the new
    // tap's place: its circle and its status are those of (50, 60).
    LoadMap();
    Attach();
    g_siteHeader->BeginPoint(50, 60, "TEST");
    m_scanner.requested = true;
    m_scanner.finished = true;

    m_view->OnLButtonDown(QPoint(120, 134), false);
    EXPECT_EQ(g_siteHeader->m_pointCount, 1);
    EXPECT_TRUE(m_scanner.finished);                          // the new sweep ran to its end
    EXPECT_EQ(m_view->m_mapDC.pixel(50, 60), qRgb(0, 0, 0));  // nothing heard: black
    EXPECT_EQ(m_view->m_mapDC.pixel(120, 160), qRgb(255, 255, 255));
    QCoreApplication::sendPostedEvents(&m_frame);
    EXPECT_EQ(m_frame.PaneText(2), "X: 50");
    EXPECT_EQ(m_frame.PaneText(3), "Y: 60");
    m_view->OnKorvDraw(4, 0x1000001C);
    EXPECT_EQ(g_siteHeader->m_pointCount, 2);
    std::vector<std::pair<int, int>> positions;
    const ApRecord* sentinel = g_surveyList.Sentinel();
    for (const ApRecord* r = sentinel->next; r != sentinel; r = r->next) {
        positions.emplace_back(r->x, r->y);
    }
    EXPECT_EQ(positions, (std::vector<std::pair<int, int>>{{50, 60}, {120, 160}}));
}

// A deletion repaints: the deleted point's circle goes wherever the hold was
// pressed within reach of it, and the plan under it comes back (no white
// hole at the press).
TEST_F(ViewInteractionTest, DeletedPointLeavesThePlanAsItWas) {
    const QRgb plan = qRgb(0x80, 0x80, 0x80);
    LoadMap(240, 320, 0x00808080);
    AddSurveyRecord(120, 160);  // -50 dBm: a yellow circle
    m_view->RepaintCircles();
    EXPECT_EQ(m_view->m_mapDC.pixel(120, 160), qRgb(255, 255, 0));
    m_services.runModal = [](QDialog&) {
        g_siteHeader->DeleteSelectedPoint();  // the dialog's delete button
        return CPointInfoDlg::kDeletedResult;
    };
    m_view->SetUiServices(m_services);
    m_view->OnLButtonDown(QPoint(150, 110), true);  // beside the circle, within reach
    EXPECT_TRUE(g_surveyList.IsEmpty());
    for (int y = 120; y < 200; ++y) {
        for (int x = 80; x < 190; ++x) {
            ASSERT_EQ(m_view->m_mapDC.pixel(x, y), plan) << x << "," << y;
        }
    }
}

// The overlay key turns the strongest signal's heatmap on: computed off the
// user-interface thread, drawn translucently over the plan with the same
// overlay `ksf heatmap` draws (pixel for pixel), the circles on top, and
// computed again when the survey changes; the key turns it off again.
TEST_F(ViewInteractionTest, OverlayShowsTheHeatmapUnderTheCircles) {
    const QRgb planColour = qRgb(0x80, 0x80, 0x80);
    LoadMap(240, 320, 0x00808080);
    AddSurveyRecord(120, 160);  // -50 dBm
    m_view->RepaintCircles();
    Key(Qt::Key_O);
    EXPECT_EQ(m_view->CurrentOverlay(), CKestrowView::Overlay::kStrongest);
    RunUntil([this] { return !m_view->IsOverlayPending(); });
    ASSERT_FALSE(m_view->IsOverlayPending());

    // What ksf heatmap overlays, laid over the plan as the view lays it.
    coverage::GridSpec spec{240, 320, coverage::kDefaultCell, coverage::kDefaultRadiusPixels};
    std::string error;
    const auto model =
        coverage::CoverageModel::Build(coverage::SurveyFromRecords(g_surveyList), spec, {}, error);
    ASSERT_TRUE(model) << error;
    QImage expected(240, 320, QImage::Format_RGB32);
    expected.fill(planColour);
    {
        QPainter painter(&expected);
        painter.drawImage(
            0, 0,
            picture::CoverageOverlay(model->Map(coverage::MapRequest(coverage::Metric::kStrongest)),
                                     QSize(240, 320)));
    }
    const QImage& shown = m_view->m_mapDC;
    EXPECT_EQ(shown.pixel(120, 160), qRgb(255, 255, 0));  // the circle on top
    int compared = 0;
    for (int y = 80; y < 240; ++y) {
        for (int x = 40; x < 200; ++x) {
            if (std::abs(x - 120) > 12 || std::abs(y - 160) > 12) {  // beside the circle
                ASSERT_EQ(shown.pixel(x, y), expected.pixel(x, y)) << x << "," << y;
                ++compared;
            }
        }
    }
    EXPECT_NE(shown.pixel(150, 160), planColour);  // within the radius: coloured
    EXPECT_EQ(shown.pixel(120, 250), planColour);  // beyond it: the plan
    EXPECT_GT(compared, 20000);

    // A second point: the heatmap reaches it once computed again.
    AddSurveyRecord(120, 260);
    m_view->SurveyChanged();
    RunUntil([this] { return !m_view->IsOverlayPending(); });
    EXPECT_NE(m_view->m_mapDC.pixel(120, 240), planColour);

    // The key's next step: the pass/fail map of the profile (voice by
    // default), the verdicts of ksf check on the same model and grid.
    Key(Qt::Key_O);
    EXPECT_EQ(m_view->CurrentOverlay(), CKestrowView::Overlay::kPassFail);
    RunUntil([this] { return !m_view->IsOverlayPending(); });
    coverage::Profile voice;
    ASSERT_TRUE(coverage::BuiltInProfile("voice", voice));
    const auto both = coverage::CoverageModel::Build(
        coverage::SurveyFromRecords(g_surveyList),
        coverage::DefaultGridSpec(240, 320, std::nullopt), {}, error);
    ASSERT_TRUE(both) << error;
    expected.fill(planColour);
    {
        QPainter painter(&expected);
        painter.drawImage(
            0, 0, picture::PassFailOverlay(coverage::JudgeArea(*both, voice), QSize(240, 320)));
    }
    EXPECT_EQ(m_view->m_mapDC.pixel(150, 160), expected.pixel(150, 160));
    EXPECT_EQ(qGreen(m_view->m_mapDC.pixel(150, 160)) < qRed(m_view->m_mapDC.pixel(150, 160)),
              true);  // one access point: no second for voice, red

    Key(Qt::Key_O);
    EXPECT_EQ(m_view->CurrentOverlay(), CKestrowView::Overlay::kOff);
    EXPECT_EQ(m_view->m_mapDC.pixel(150, 160), planColour);
}

// A survey past the analysis's bounds leaves the plan as it is and says why
// along the bottom of the map; a long computation can be cancelled with Esc.
TEST_F(ViewInteractionTest, OverlayPastTheBoundsSaysWhyAndEscCancelsALongOne) {
    const QRgb planColour = qRgb(0x80, 0x80, 0x80);
    LoadMap(240, 320, 0x00808080);
    for (size_t i = 0; i <= coverage::kMaxPositions; ++i) {
        AddSurveyRecord(static_cast<int>(i % 200), static_cast<int>(i / 200));
    }
    Key(Qt::Key_O);
    RunUntil([this] { return !m_view->IsOverlayPending(); });
    EXPECT_EQ(m_view->CoverageStatus(),
              "No coverage overlay: the survey has " + std::to_string(coverage::kMaxPositions + 1) +
                  " positions, more than the " + std::to_string(coverage::kMaxPositions) +
                  " a coverage map is computed from");
    EXPECT_EQ(m_view->m_mapDC.pixel(230, 300), planColour);
    const QImage shown = m_view->Render();
    EXPECT_NE(shown.pixel(2, shown.height() - 3), shown.pixel(2, shown.height() / 2));

    Key(Qt::Key_O);  // pass/fail, then off: nothing left to say
    Key(Qt::Key_O);
    EXPECT_EQ(m_view->CurrentOverlay(), CKestrowView::Overlay::kOff);
    EXPECT_TRUE(m_view->CoverageStatus().empty());
    g_surveyList.Clear();
    for (int i = 0; i < 900; ++i) {
        AddSurveyRecord(i % 30 * 8, i / 30 * 10);
    }
    Key(Qt::Key_O);
    ASSERT_TRUE(m_view->IsOverlayPending());
    Key(Qt::Key_Escape);
    EXPECT_FALSE(m_view->IsOverlayPending());
    EXPECT_EQ(m_view->CurrentOverlay(), CKestrowView::Overlay::kOff);
    RunUntil([] { return false; }, 300);                     // whatever the worker had is dropped
    EXPECT_EQ(m_view->m_mapDC.pixel(120, 315), planColour);  // below the circles
}

TEST_F(ViewInteractionTest, ZoomOutSetsTheScrollBarsToTheNewCentre) {
    LoadMap();
    CViewport& viewport = *m_view->GetViewport();
    m_view->OnCommand(ID_ZOOM_IN);
    m_view->OnHScroll(3, 0);
    m_view->OnVScroll(3, 0);
    m_view->OnCommand(ID_ZOOM_OUT);
    EXPECT_EQ(m_view->horizontalScrollBar()->value(), viewport.GetCenterX());
    EXPECT_EQ(m_view->verticalScrollBar()->value(), viewport.GetCenterY());
}

TEST_F(ViewInteractionTest, SweepGivenUpRecordsNothingAndSaysWhyWhenTheScannerKnows) {
    LoadMap();
    Attach();
    m_scanner.outcome = SweepState::kGaveUp;
    m_view->OnLButtonDown(QPoint(120, 134), false);
    m_scanner.gaveUpReason = "The Wi-Fi scan failed: wlan0 is down.";
    m_view->OnLButtonDown(QPoint(120, 134), false);
    QCoreApplication::processEvents();
    EXPECT_EQ(m_boxes.shown,
              std::vector<std::string>(
                  {"COVERAGE WARNING | The scanner did not respond. No survey point was recorded.",
                   "COVERAGE WARNING | The Wi-Fi scan failed: wlan0 is down. No survey point was "
                   "recorded."}));
    EXPECT_EQ(g_siteHeader->m_pointCount, 0);
    EXPECT_EQ(m_view->m_viewMode, CKestrowView::VIEW_MAP);
}

TEST_F(ViewInteractionTest, KorvDrawArrivesThroughTheDevicesWindowHandle) {
    LoadMap();
    Attach();
    g_siteHeader->BeginPoint(120, 160, "TEST");
    m_scanner.requested = true;
    m_scanner.finished = true;
    platform::QtWindowHandle handle(m_view);
    handle.PostMessage(platform::RegisterWindowMessage("KORV_DRAW"), 4, 0x1000001C);
    EXPECT_EQ(g_siteHeader->m_pointCount, 0);
    QCoreApplication::sendPostedEvents(m_view);
    EXPECT_EQ(g_siteHeader->m_pointCount, 1);
    handle.Detach();
    EXPECT_FALSE(handle.PostMessage(platform::RegisterWindowMessage("KORV_DRAW"), 4, 0));
}

TEST_F(ViewInteractionTest, StartScreenIsRedrawnWhenTheScannersTextsArrive) {
    // The unit's answers post nothing to the view; the start screen must not
    // keep showing "(SN )" once the serial number is known.
    Attach();
    PaintCounter counter(m_view->viewport());
    m_view->viewport()->repaint();
    const int before = counter.paints;
    RunUntil([&] { return false; }, 600);
    EXPECT_EQ(counter.paints, before);  // nothing new: no repaints

    m_scanner.firmware = "CV-2.10";
    RunUntil([&] { return counter.paints > before; });
    EXPECT_GT(counter.paints, before);
    const int afterFirmware = counter.paints;
    m_scanner.serial = "A1B2C3";
    RunUntil([&] { return counter.paints > afterFirmware; });
    EXPECT_GT(counter.paints, afterFirmware);
    QImage shown = m_view->viewport()->grab().toImage();
    EXPECT_EQ(shown, m_view->Render().convertToFormat(shown.format()));

    // Once the map shows, the start texts are no longer watched.
    LoadMap();
    RunUntil([&] { return false; }, 300);  // the map screen's own paints
    const int onMap = counter.paints;
    m_scanner.serial = "ZZZZZZ";
    RunUntil([&] { return false; }, 600);
    EXPECT_EQ(counter.paints, onMap);
}

TEST_F(ViewInteractionTest, OpenedMapIsShownTheRightWayUpInBothRowOrders) {
    // A 4 x 3 map whose top row is red and the rest white.
    sitefile::SiteMap map;
    map.width = 4;
    map.height = 3;
    map.stride = 4;
    map.colors[0] = 0xFFFFFFFF;
    map.colors[1] = 0xFFFF0000;
    map.pixels.assign(12, 0);
    std::memset(map.Row(0), 1, 4);
    const std::vector<uint8_t> bottomUp = sitefile::BuildNewSiteFile(map);

    // The same picture stored top row first, as a negative height says.
    std::vector<uint8_t> topDown = bottomUp;
    const size_t info = sitefile::ReadU32(topDown.data() + 138) + 14;
    const size_t pixels = info - 14 + 1078;
    sitefile::WriteU32(topDown.data() + info + 8, static_cast<uint32_t>(-3));
    for (size_t row = 0; row < 3; ++row) {
        std::memcpy(topDown.data() + pixels + row * 4, bottomUp.data() + pixels + (2 - row) * 4, 4);
    }

    for (const std::vector<uint8_t>* bytes :
         std::vector<const std::vector<uint8_t>*>{&bottomUp, &topDown}) {
        char path[] = "/tmp/kestrow-view-test-XXXXXX";
        const int fd = mkstemp(path);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(write(fd, bytes->data(), bytes->size()), static_cast<ssize_t>(bytes->size()));
        close(fd);
        m_site.Open(std::string(path), false);
        unlink(path);
        ASSERT_EQ(m_view->m_mapDC.size(), QSize(4, 3));
        EXPECT_EQ(m_view->m_mapDC.pixel(0, 0), qRgb(255, 0, 0));
        EXPECT_EQ(m_view->m_mapDC.pixel(3, 0), qRgb(255, 0, 0));
        EXPECT_EQ(m_view->m_mapDC.pixel(0, 1), qRgb(255, 255, 255));
        EXPECT_EQ(m_view->m_mapDC.pixel(3, 2), qRgb(255, 255, 255));
    }
    EXPECT_TRUE(m_boxes.shown.empty());
}

TEST_F(ViewInteractionTest, FailedOpenAndSaveTellTheSurveyorWithoutTheWaitCursor) {
    LoadMap();
    const std::string missing = "/nonexistent/kestrow-test/site.ksf";
    m_services.chooseSiteFile = [&](QWidget*) { return std::optional<std::string>(missing); };
    m_site.Open();
    m_site.SetSitePath(missing);
    m_site.Save();
    EXPECT_EQ(m_boxes.shown,
              std::vector<std::string>({"File Open Error | No such file or directory",
                                        "Site Update Error | Could not update site\n" + missing +
                                            ": No such file or directory."}));
    EXPECT_EQ(m_boxes.shownWithWaitCursor, 0);
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

TEST_F(ViewInteractionTest, ScrollBarRequestsBecomeScrollCodesAfterTheFirstUpdate) {
    Attach();
    Attach();  // a second first update changes nothing
    EXPECT_EQ(m_scanner.connects, 1);
    EXPECT_EQ(m_scanner.identityRequests, 1);
    EXPECT_NE(m_scanner.view, nullptr);
    EXPECT_EQ(m_view->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
    EXPECT_EQ(m_view->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);

    LoadMap();
    CViewport& viewport = *m_view->GetViewport();
    QScrollBar* horizontal = m_view->horizontalScrollBar();
    horizontal->triggerAction(QAbstractSlider::SliderSingleStepAdd);
    EXPECT_EQ(viewport.GetCenterX(), 130);
    EXPECT_EQ(horizontal->value(), 130);
    horizontal->triggerAction(QAbstractSlider::SliderPageStepSub);
    EXPECT_EQ(viewport.GetCenterX(), 0);
    EXPECT_EQ(horizontal->value(), 0);
    QScrollBar* vertical = m_view->verticalScrollBar();
    vertical->setSliderDown(true);
    vertical->setSliderPosition(200);  // dragging the thumb
    EXPECT_EQ(viewport.GetCenterY(), 200);
    EXPECT_EQ(vertical->value(), 200);
    vertical->setSliderDown(false);
    EXPECT_EQ(viewport.GetCenterY(), 200);

    m_view->ShutDownScanner();
    EXPECT_EQ(m_scanner.view, nullptr);
}

}  // namespace
