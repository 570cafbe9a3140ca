#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QScrollBar>

#include "dialogs/dialog_builder.h"
#include "dialogs/dialog_ids.h"
#include "dialogs/qt_app.h"

namespace {

// The sign-off dialog's template and controls.
constexpr int kSignOff = 133;
constexpr int kSignature = 1004;
constexpr int kClearSignature = 1002;

class DialogBuilderTest : public ::testing::Test {
  protected:
    void SetUp() override { TestApp(); }
};

TEST(DialogUnits, MulDivRoundsHalvesAwayFromZero) {
    EXPECT_EQ(MulDivRound(137, 13, 8), 223);  // 222.625
    EXPECT_EQ(MulDivRound(7, 6, 4), 11);      // 10.5
    EXPECT_EQ(MulDivRound(-7, 6, 4), -11);
    EXPECT_EQ(MulDivRound(7, -6, 4), -11);
    EXPECT_EQ(MulDivRound(95, 13, 8), 154);  // 154.375
    EXPECT_EQ(MulDivRound(5, 6, 0), -1);
}

TEST_F(DialogBuilderTest, SystemFontHasTheHandheldBaseUnits) {
    const QFont font = DialogFont(QStringLiteral("System"), 8);
    EXPECT_EQ(font.pixelSize(), 11);
    const DialogBaseUnits units = BaseUnitsOf(font);
    EXPECT_EQ(units.cx, 6);
    EXPECT_EQ(units.cy, 13);
    EXPECT_EQ(DialogUnitsToPixels(QRect(7, 7, 122, 135), units), QRect(11, 11, 183, 219));
}

TEST_F(DialogBuilderTest, EveryTemplateLoadsWithItsTitleAndClientSize) {
    struct Expected {
        int id;
        const char* title;
        QSize client;
        size_t controls;
    };
    const Expected all[] = {
        {IDD_POINT_INFO, "Parms/Delete Request", QSize(219, 257), 1},
        {IDD_ABOUT, "About Marlo", QSize(183, 154), 3},
        {IDD_COLOR_RANGES, "Color of RSSI Values", QSize(240, 262), 12},
        {kSignOff, "Sign Off On Survey", QSize(209, 177), 3},
        {IDD_HELP, "Help", QSize(204, 255), 1},
    };
    for (const Expected& e : all) {
        SCOPED_TRACE(e.id);
        DialogTemplate tpl;
        ASSERT_TRUE(LoadDialogTemplate(e.id, tpl));
        EXPECT_EQ(tpl.id, e.id);
        EXPECT_EQ(tpl.controls.size(), e.controls);
        QDialog dialog;
        BuildDialog(dialog, tpl);
        EXPECT_EQ(dialog.windowTitle(), QString::fromLatin1(e.title));
        EXPECT_EQ(dialog.size(), e.client);
    }
    DialogTemplate missing;
    EXPECT_FALSE(LoadDialogTemplate(999, missing));
}

TEST_F(DialogBuilderTest, SignOffTemplateBuildsItsControlsAndTheSaveButtonAccepts) {
    CTemplateDialog dialog(kSignOff);
    ASSERT_TRUE(dialog.IsBuilt());
    QWidget* pad = dialog.Control(kSignature);
    ASSERT_NE(pad, nullptr);
    EXPECT_EQ(pad->geometry(), QRect(11, 11, 188, 75));  // 7,7 125 x 46 du
    auto* clear = qobject_cast<QPushButton*>(dialog.Control(kClearSignature));
    auto* save = qobject_cast<QPushButton*>(dialog.Control(1));
    ASSERT_NE(clear, nullptr);
    ASSERT_NE(save, nullptr);
    EXPECT_EQ(clear->text(), "CLEAR SIGNATURE");
    EXPECT_EQ(save->text(), "SAVE SITE SURVEY");
    EXPECT_EQ(save->geometry(), QRect(11, 143, 188, 23));
    EXPECT_TRUE(save->isDefault());

    dialog.show();
    clear->click();  // no built-in meaning: the dialog stays open
    EXPECT_TRUE(dialog.isVisible());
    save->click();
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
}

TEST_F(DialogBuilderTest, TakeOverPutsTheReplacementInTheControlsPlace) {
    CTemplateDialog dialog(kSignOff);
    const QRect placeholder = dialog.Control(kSignature)->geometry();
    auto* pad = new QWidget;
    EXPECT_EQ(TakeOverControl(dialog, kSignature, pad), pad);
    EXPECT_EQ(dialog.Control(kSignature), pad);
    EXPECT_EQ(pad->parentWidget(), &dialog);
    EXPECT_EQ(pad->geometry(), placeholder);
    EXPECT_EQ(pad->property("controlId").toInt(), kSignature);
    EXPECT_EQ(dialog.findChildren<QLabel*>().size(), 0);  // the placeholder static is gone

    QWidget stray;
    EXPECT_EQ(TakeOverControl(dialog, 4242, &stray), nullptr);
    EXPECT_EQ(stray.parentWidget(), nullptr);
}

TEST_F(DialogBuilderTest, StaticsBecomeLabelsIconsAndFrames) {
    DialogTemplate tpl;
    ASSERT_TRUE(ParseDialogTemplate(R"({"title": "T", "rect": [0, 0, 100, 100], "controls": [
        {"class": "static", "id": 10, "text": "wrapped", "rect": [0, 0, 40, 8],
         "styles": ["SS_LEFT", "WS_VISIBLE"]},
        {"class": "static", "id": 11, "text": "single", "rect": [0, 10, 40, 8],
         "styles": ["SS_LEFTNOWORDWRAP", "WS_VISIBLE"]},
        {"class": "static", "id": 12, "rect": [0, 20, 40, 8], "styles": ["SS_BLACKFRAME", "WS_VISIBLE"]},
        {"class": "static", "id": 13, "image": ":/no/such/picture", "rect": [0, 30, 20, 20],
         "styles": ["SS_ICON", "WS_VISIBLE"]},
        {"class": "static", "id": 14, "text": "hidden", "rect": [0, 50, 40, 8], "styles": []}]})",
                                    tpl));
    QDialog dialog;
    BuildDialog(dialog, tpl);
    auto* wrapped = qobject_cast<QLabel*>(FindControl(dialog, 10));
    auto* single = qobject_cast<QLabel*>(FindControl(dialog, 11));
    ASSERT_TRUE(wrapped && single);
    EXPECT_TRUE(wrapped->wordWrap());
    EXPECT_FALSE(single->wordWrap());
    QWidget* frame = FindControl(dialog, 12);
    ASSERT_NE(frame, nullptr);
    EXPECT_EQ(qobject_cast<QLabel*>(frame), nullptr);
    EXPECT_EQ(qobject_cast<QFrame*>(frame)->frameShape(), QFrame::Box);
    auto* icon = qobject_cast<QLabel*>(FindControl(dialog, 13));
    ASSERT_NE(icon, nullptr);  // a missing picture leaves an empty icon static
    EXPECT_TRUE(icon->pixmap().isNull());
    EXPECT_TRUE(icon->text().isEmpty());
    EXPECT_TRUE(FindControl(dialog, 14)->isHidden());
}

TEST(DialogTemplateParse, RejectsMalformedTemplates) {
    DialogTemplate tpl;
    QString error;
    EXPECT_FALSE(ParseDialogTemplate("[]", tpl, &error));
    EXPECT_FALSE(ParseDialogTemplate(R"({"rect": [0, 0, 10]})", tpl, &error));
    EXPECT_FALSE(ParseDialogTemplate(
        R"({"rect": [0, 0, 10, 10], "controls": [{"class": "combobox", "rect": [0, 0, 1, 1]}]})",
        tpl, &error));
    EXPECT_TRUE(error.contains("combobox"));
    EXPECT_FALSE(ParseDialogTemplate(
        R"({"rect": [0, 0, 10, 10], "controls": [{"class": "static", "rect": [0, 0, -1, 1]}]})",
        tpl, &error));
    ASSERT_TRUE(ParseDialogTemplate(
        R"({"title": "T", "rect": [0, 0, 10, 10], "controls": [{"class": "static", "id": 5,
            "text": "a", "rect": [1, 2, 3, 4], "styles": ["SS_LEFT"]}]})",
        tpl, &error));
    EXPECT_EQ(tpl.fontFace, "System");
    EXPECT_EQ(tpl.fontPoints, 8);
    ASSERT_EQ(tpl.controls.size(), 1u);
    EXPECT_EQ(tpl.controls[0].rect, QRect(1, 2, 3, 4));
    EXPECT_TRUE(tpl.controls[0].HasStyle("SS_LEFT"));
}

}  // namespace
