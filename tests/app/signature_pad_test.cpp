#include "dialogs/signature_pad.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QMouseEvent>
#include <QPushButton>

#include "dialogs/sign_off_dlg.h"
#include "qt_test_app.h"

namespace {

class SignaturePadTest : public ::testing::Test, private QtApplicationFirst {
  protected:
    void SetUp() override { m_pad.TakeOver(QRect(0, 0, 180, 70)); }

    int CountBlack() const {
        int black = 0;
        for (int y = 0; y < 70; ++y) {
            for (int x = 0; x < 180; ++x) {
                black += m_pad.PixelQuery(x, y) == 0;
            }
        }
        return black;
    }

    static void Send(QWidget& widget, QEvent::Type type, QPoint point, Qt::MouseButton button,
                     Qt::MouseButtons buttons) {
        QMouseEvent event(type, QPointF(point), QPointF(widget.mapToGlobal(point)), button, buttons,
                          Qt::NoModifier);
        QCoreApplication::sendEvent(&widget, &event);
    }

    CSignaturePad m_pad;
};

TEST_F(SignaturePadTest, UntouchedPadIsWhiteAndOutsideReadsWhite) {
    EXPECT_EQ(CountBlack(), 0);
    EXPECT_EQ(m_pad.PixelQuery(0, 0), 0x00FFFFFFu);
    EXPECT_EQ(m_pad.PixelQuery(-1, 5), 0x00FFFFFFu);
    EXPECT_EQ(m_pad.PixelQuery(180, 5), 0x00FFFFFFu);
    EXPECT_EQ(m_pad.PixelQuery(199, 99), 0x00FFFFFFu);
}

TEST_F(SignaturePadTest, StrokeIsBlackAlongItsPathOnly) {
    m_pad.StylusDown(QPoint(10, 20));
    m_pad.StylusMove(QPoint(60, 20));
    m_pad.StylusMove(QPoint(60, 50));
    for (int x = 10; x <= 60; ++x) {
        EXPECT_EQ(m_pad.PixelQuery(x, 20), 0u) << x;
    }
    for (int y = 20; y <= 50; ++y) {
        EXPECT_EQ(m_pad.PixelQuery(60, y), 0u) << y;
    }
    EXPECT_EQ(m_pad.PixelQuery(10, 30), 0x00FFFFFFu);
    EXPECT_EQ(m_pad.PixelQuery(100, 20), 0x00FFFFFFu);
    // A 2-pixel pen: the lines are about two pixels thick, not more.
    const int black = CountBlack();
    EXPECT_GE(black, 2 * (51 + 30));
    EXPECT_LE(black, 3 * (51 + 31));
}

TEST_F(SignaturePadTest, PressAloneMarksTheSpot) {
    m_pad.StylusDown(QPoint(5, 5));
    EXPECT_EQ(m_pad.PixelQuery(5, 5), 0u);
    EXPECT_LE(CountBlack(), 4);
}

TEST_F(SignaturePadTest, MouseEventsDrawAndClearMakesItWhiteAgain) {
    Send(m_pad, QEvent::MouseButtonPress, QPoint(20, 10), Qt::LeftButton, Qt::LeftButton);
    Send(m_pad, QEvent::MouseMove, QPoint(20, 40), Qt::NoButton, Qt::LeftButton);
    Send(m_pad, QEvent::MouseButtonRelease, QPoint(20, 40), Qt::LeftButton, Qt::NoButton);
    EXPECT_EQ(m_pad.PixelQuery(20, 25), 0u);
    m_pad.Clear();
    EXPECT_EQ(CountBlack(), 0);
}

TEST(SignOffDlgTest, LayoutButtonsAndSurfaceOutlivingTheWindow) {
    EnsureQtApplication();
    CSignOffDlg dialog;
    EXPECT_EQ(dialog.windowTitle(), "Sign Off On Survey");
    auto* clear = dialog.findChild<QPushButton*>("1002");
    auto* save = dialog.findChild<QPushButton*>("1");
    ASSERT_NE(clear, nullptr);
    ASSERT_NE(save, nullptr);
    EXPECT_EQ(clear->text(), "CLEAR SIGNATURE");
    EXPECT_EQ(save->text(), "SAVE SITE SURVEY");
    CSignaturePad& pad = dialog.Pad();
    EXPECT_EQ(pad.objectName(), "1004");
    EXPECT_EQ(pad.Surface().size(), pad.size());
    // The pad sits above the clear button, which sits above the save button.
    EXPECT_LT(pad.geometry().bottom(), clear->geometry().top());
    EXPECT_LT(clear->geometry().bottom(), save->geometry().top());

    dialog.show();
    pad.StylusDown(QPoint(3, 3));
    pad.StylusMove(QPoint(30, 3));
    clear->click();
    EXPECT_EQ(dialog.PixelQuery(10, 3), 0x00FFFFFFu);
    pad.StylusDown(QPoint(3, 8));
    pad.StylusMove(QPoint(30, 8));
    save->click();
    EXPECT_EQ(dialog.result(), 1);
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_EQ(dialog.PixelQuery(10, 8), 0u);
}

}  // namespace
