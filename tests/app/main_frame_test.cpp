#include "app/main_frame.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QContextMenuEvent>
#include <QCoreApplication>
#include <QKeySequence>
#include <QLabel>
#include <QStatusBar>
#include <QTest>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>

#include "platform/qt/qt_window_handle.h"
#include "qt_test_app.h"
#include "survey/site_header.h"
#include "view/command_ids.h"

namespace {

class MainFrameTest : public ::testing::Test {
  protected:
    void SetUp() override {
        EnsureQtApplication();
        g_siteHeader = std::make_unique<CSiteHeader>();
        g_siteHeader->m_pointCount = 3;
        g_siteHeader->m_apCount = 5;
    }
    void TearDown() override { g_siteHeader.reset(); }

    static QStringList Panes(const CMainFrame& frame) {
        QStringList texts;
        for (int i = 0; i < CMainFrame::kPaneCount; ++i) {
            texts << frame.PaneText(i);
        }
        return texts;
    }

    const platform::MessageId m_statusUpdate =
        platform::RegisterWindowMessage("KORV_STATUS_UPDATE");
};

TEST_F(MainFrameTest, PanesStartAtZeroAndChangeOnlyWhenTheStatusMessageIsHandled) {
    CMainFrame frame;
    platform::QtWindowHandle handle(&frame);
    EXPECT_EQ(Panes(frame), QStringList({"L: 0", "P: 0", "X: 0", "Y: 0"}));

    // Other messages and the posting itself change nothing.
    handle.PostMessage(platform::RegisterWindowMessage("KORV_DRAW"), 4, 0x0100001C);
    handle.PostMessage(m_statusUpdate, 120, 160);
    EXPECT_EQ(Panes(frame), QStringList({"L: 0", "P: 0", "X: 0", "Y: 0"}));

    QCoreApplication::sendPostedEvents(&frame);
    EXPECT_EQ(Panes(frame), QStringList({"L: 3", "P: 5", "X: 120", "Y: 160"}));

    // Counters are read when the message is handled, not when it was posted.
    g_siteHeader->m_pointCount = 4;
    EXPECT_EQ(frame.PaneText(0), "L: 3");
    handle.PostMessage(m_statusUpdate, 121, 161);
    QCoreApplication::sendPostedEvents(&frame);
    EXPECT_EQ(Panes(frame), QStringList({"L: 4", "P: 5", "X: 121", "Y: 161"}));
}

TEST_F(MainFrameTest, CoordinatesAreTheLow16BitsReadAsSigned) {
    CMainFrame frame;
    frame.OnStatusUpdate(65535, 0x12345);
    EXPECT_EQ(frame.PaneText(2), "X: -1");
    EXPECT_EQ(frame.PaneText(3), "Y: 9029");
    frame.OnStatusUpdate(0x8000, -2);
    EXPECT_EQ(frame.PaneText(2), "X: -32768");
    EXPECT_EQ(frame.PaneText(3), "Y: -2");
}

TEST_F(MainFrameTest, StatusPanesAreFiftyPixelsWide) {
    CMainFrame frame;
    const auto panes = frame.StatusBar()->findChildren<QLabel*>();
    ASSERT_EQ(panes.size(), 4);
    for (QLabel* pane : panes) {
        EXPECT_EQ(pane->width(), 50);
    }
}

TEST_F(MainFrameTest, CommandBarAtTheBottomWithSevenButtonsAndSixToolTips) {
    CMainFrame frame;
    QToolBar* bar = frame.CommandBar();
    EXPECT_EQ(frame.toolBarArea(bar), Qt::BottomToolBarArea);
    const QList<QAction*> actions = bar->actions();
    const int commands[] = {ID_OPEN_SITE, ID_SAVE_SITE, ID_COLOR_RANGES, ID_ZOOM_IN,
                            ID_ZOOM_OUT,  ID_HELP,      ID_ABOUT};
    const char* tips[] = {"File", "Help", "Cut", "Copy", "Paste", "About", ""};
    ASSERT_EQ(actions.size(), 7);
    for (int i = 0; i < 7; ++i) {
        EXPECT_EQ(actions[i]->data().toInt(), commands[i]) << i;
        QWidget* button = bar->widgetForAction(actions[i]);
        ASSERT_NE(button, nullptr);
        EXPECT_EQ(button->toolTip(), QString::fromLatin1(tips[i])) << i;
    }
}

// A right-click on the command bar, its buttons or the frame offers nothing:
// Qt's own menu there has one entry, which hides the bar (and the save button)
// for good.
TEST_F(MainFrameTest, RightClickOnTheCommandBarOffersNoMenu) {
    CMainFrame frame;
    frame.show();
    QCoreApplication::processEvents();
    QToolBar* bar = frame.CommandBar();
    int menus = 0;
    for (QWidget* target : {static_cast<QWidget*>(bar), bar->widgetForAction(bar->actions()[1]),
                            static_cast<QWidget*>(&frame)}) {
        // A menu, if one opened, would wait for a choice: close it and count it.
        QTimer::singleShot(200, [&menus] {
            if (QWidget* popup = QApplication::activePopupWidget()) {
                ++menus;
                popup->close();
            }
        });
        QContextMenuEvent event(QContextMenuEvent::Mouse, QPoint(4, 4),
                                target->mapToGlobal(QPoint(4, 4)));
        QCoreApplication::sendEvent(target, &event);
        QTest::qWait(300);
    }
    EXPECT_EQ(menus, 0);
    EXPECT_TRUE(bar->isVisible());
}

TEST_F(MainFrameTest, StatusPanesLieBetweenTheViewAndTheCommandBar) {
    CMainFrame frame;
    auto* view = new QWidget;
    frame.SetView(view, nullptr);
    frame.resize(256, 340);
    frame.show();
    QCoreApplication::processEvents();
    const QRect viewRect(view->mapTo(&frame, QPoint(0, 0)), view->size());
    const QRect statusRect(frame.StatusBar()->mapTo(&frame, QPoint(0, 0)),
                           frame.StatusBar()->size());
    const QRect barRect = frame.CommandBar()->geometry();
    EXPECT_LE(viewRect.bottom(), statusRect.top());
    EXPECT_LE(statusRect.bottom(), barRect.top());
    EXPECT_EQ(barRect.bottom(), frame.height() - 1);
}

TEST_F(MainFrameTest, ButtonsSendTheirCommandsToTheView) {
    CMainFrame frame;
    std::vector<int> received;
    frame.SetView(new QWidget, [&received](int command) { received.push_back(command); });
    for (QAction* action : frame.CommandBar()->actions()) {
        action->trigger();
    }
    EXPECT_EQ(received, std::vector<int>({32771, 32772, 32773, 32774, 32775, 57670, 32777}));
}

TEST_F(MainFrameTest, CtrlQClosesAndNoShortcutOpensOrSaves) {
    CMainFrame frame;
    std::vector<int> received;
    frame.SetView(new QWidget, [&received](int command) { received.push_back(command); });
    frame.show();
    QAction* exit = nullptr;
    for (QAction* action : frame.findChildren<QAction*>()) {
        const QKeySequence shortcut = action->shortcut();
        EXPECT_NE(shortcut, QKeySequence(Qt::CTRL | Qt::Key_N));
        EXPECT_NE(shortcut, QKeySequence(Qt::CTRL | Qt::Key_O));
        EXPECT_NE(shortcut, QKeySequence(Qt::CTRL | Qt::Key_S));
        if (shortcut == QKeySequence(Qt::CTRL | Qt::Key_Q)) {
            exit = action;
        }
    }
    ASSERT_NE(exit, nullptr);
    exit->trigger();
    EXPECT_FALSE(frame.isVisible());
    EXPECT_TRUE(received.empty());
}

TEST_F(MainFrameTest, MinimisingOnlyMinimisesAndClosingAsksFirst) {
    CMainFrame frame;
    bool mayClose = false;
    int asked = 0;
    frame.SetCloseQuery([&] {
        ++asked;
        return mayClose;
    });
    frame.show();
    frame.setWindowState(Qt::WindowMinimized);
    QCoreApplication::processEvents();
    EXPECT_TRUE(frame.isVisible());
    EXPECT_TRUE(frame.isMinimized());
    EXPECT_EQ(asked, 0);

    // A close the query refuses leaves the window; Ctrl+Q asks the same.
    EXPECT_FALSE(frame.close());
    EXPECT_TRUE(frame.isVisible());
    mayClose = true;
    for (QAction* action : frame.findChildren<QAction*>()) {
        if (action->shortcut() == QKeySequence(Qt::CTRL | Qt::Key_Q)) {
            action->trigger();
        }
    }
    EXPECT_FALSE(frame.isVisible());
    EXPECT_EQ(asked, 2);
}

}  // namespace
