#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QFontMetrics>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QScrollBar>
#include <QStyle>
#include <QTest>
#include <map>

#include "dialogs/about_dlg.h"
#include "dialogs/dialog_script.h"
#include "dialogs/help_dlg.h"
#include "dialogs/qt_app.h"

namespace {

class HelpTest : public ::testing::Test {
  protected:
    void SetUp() override {
        TestApp();
        dialog = std::make_unique<CHelpDlg>();
        list = dialog->List();
        ASSERT_NE(list, nullptr);
        for (int i = 0; i < list->count(); ++i) {
            lines.push_back(list->item(i)->text());
        }
    }
    // Line numbers count from 1.
    const QString& Line(int n) const { return lines.at(n - 1); }

    std::unique_ptr<CHelpDlg> dialog;
    QListWidget* list = nullptr;
    std::vector<QString> lines;
};

const std::map<int, QString> kHeadings = {
    {1, "Help Contents"},
    {3, "Overview"},
    {29, "Quick Start"},
    {80, "Status Bar (Bottom)"},
    {83, "Menu"},
    {96, "Zoom Mode"},
    {104, "Scroll Bars"},
    {109, "Joystick"},
    {120, "Color Codes"},
    {131, "Survey Information Screen"},
    {148, "Surveying Tips"},
};

TEST_F(HelpTest, ListHoldsTheLinesInOrderWithTheirEmptyLines) {
    ASSERT_EQ(lines.size(), 162u);
    EXPECT_EQ(list->objectName(), "1000");
    EXPECT_FALSE(list->isSortingEnabled());
    EXPECT_EQ(
        std::count_if(lines.begin(), lines.end(), [](const QString& l) { return l.isEmpty(); }),
        29);
    for (int i = 0; i < kHelpLineCount; ++i) {
        EXPECT_EQ(lines[i], QString::fromUtf8(kHelpLines[i]));
    }
    EXPECT_FALSE(Line(162).trimmed().isEmpty());
    EXPECT_EQ(list->currentRow(), -1);
    EXPECT_TRUE(list->selectedItems().isEmpty());
}

TEST_F(HelpTest, HeadingsSitAtTheirLinesFramedByEmptyLines) {
    for (const auto& [n, heading] : kHeadings) {
        SCOPED_TRACE(n);
        EXPECT_EQ(Line(n), heading);
        if (n > 1) {
            EXPECT_TRUE(Line(n - 1).isEmpty());
        }
        const bool textFollows = heading == "Status Bar (Bottom)" || heading == "Menu";
        EXPECT_EQ(Line(n + 1).isEmpty(), !textFollows);
    }
    // Text lines per topic: everything up to the next heading that is not empty.
    const std::map<QString, int> textLines = {
        {"Help Contents", 0},
        {"Overview", 22},
        {"Quick Start", 43},
        {"Status Bar (Bottom)", 1},
        {"Menu", 9},
        {"Zoom Mode", 5},
        {"Scroll Bars", 2},
        {"Joystick", 8},
        {"Color Codes", 8},
        {"Survey Information Screen", 12},
        {"Surveying Tips", 12},
    };
    for (auto it = kHeadings.begin(); it != kHeadings.end(); ++it) {
        const auto next = std::next(it);
        const int end = next == kHeadings.end() ? 163 : next->first;
        int count = 0;
        for (int n = it->first + 1; n < end; ++n) {
            count += Line(n).isEmpty() ? 0 : 1;
        }
        EXPECT_EQ(count, textLines.at(it->second)) << it->second.toStdString();
    }
}

TEST_F(HelpTest, QuickStartSubHeadingsLeadStraightIntoNumberedSteps) {
    int found = 0;
    for (int n = 30; n < 80; ++n) {
        const QString& line = Line(n);
        if (line != "OPEN A SITE FILE" && line != "START SURVEY" && line != "COMPLETE SURVEY") {
            continue;
        }
        ++found;
        EXPECT_TRUE(Line(n - 1).isEmpty()) << n;
        EXPECT_TRUE(Line(n + 1).startsWith("1. ")) << n;
        // Steps until the next empty line: numbered in turn, continuations indented by three.
        int step = 0;
        for (int k = n + 1; !Line(k).isEmpty(); ++k) {
            if (Line(k).startsWith("   ")) {
                EXPECT_NE(Line(k).at(3), ' ') << k;
                EXPECT_GT(step, 0);
            } else {
                EXPECT_TRUE(Line(k).startsWith(QString::number(++step) + ". ")) << k;
            }
        }
        EXPECT_GE(step, 2);
    }
    EXPECT_EQ(found, 3);
}

TEST_F(HelpTest, BodyLinesAreBrokenByHandAtThirtyOneCharactersAndFitTheList) {
    EXPECT_EQ(Line(81).size(), 279);
    EXPECT_EQ(Line(84).size(), 76);
    int padded = 0;
    bool hyphenated = false;
    dialog->show();
    QApplication::processEvents();
    const QFontMetrics metrics(list->font());
    const int visible = list->viewport()->width();
    const int textMargin =
        list->style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, list) + 1;
    for (int n = 1; n <= 162; ++n) {
        if (n == 81 || n == 84) {
            continue;
        }
        const QString& line = Line(n);
        EXPECT_LE(line.size(), 31) << n;
        // The item view keeps a margin of focus-frame width + 1 on each side of the text.
        EXPECT_LE(metrics.horizontalAdvance(line.trimmed()), visible - 2 * textMargin) << n;
        if (line.size() == 31 && line.endsWith(' ')) {
            ++padded;
        }
        if (line.trimmed().endsWith("informa-") && Line(n + 1).startsWith("tion")) {
            hyphenated = true;
        }
    }
    EXPECT_GE(padded, 40);
    EXPECT_TRUE(hyphenated);
}

TEST_F(HelpTest, LongLinesAreCutOffNotScrolledTo) {
    dialog->show();
    QApplication::processEvents();
    QScrollBar* horizontal = list->horizontalScrollBar();
    EXPECT_TRUE(horizontal->isVisible());
    EXPECT_EQ(horizontal->maximum(), 0);
    EXPECT_FALSE(horizontal->isEnabled());
    EXPECT_TRUE(list->verticalScrollBar()->isVisible());
    EXPECT_GT(list->verticalScrollBar()->maximum(), 0);
    EXPECT_EQ(list->geometry(), QRect(11, 11, 183, 219));
    EXPECT_TRUE(list->selectedItems().isEmpty());  // focus alone selects nothing
}

TEST_F(HelpTest, TappingALineOnlyHighlightsIt) {
    dialog->show();
    QApplication::processEvents();
    const QRect third = list->visualItemRect(list->item(4));
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, third.center());
    QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, third.center());
    QApplication::processEvents();
    EXPECT_TRUE(dialog->isVisible());
    EXPECT_EQ(list->currentRow(), 4);
    EXPECT_TRUE(list->findChildren<QLineEdit*>().isEmpty());  // no editor opened
    EXPECT_EQ(list->item(4)->text(), QString::fromUtf8(kHelpLines[4]));
    EXPECT_EQ(list->count(), kHelpLineCount);
}

TEST_F(HelpTest, ScriptDescriptionPrintsTitleAndEveryLine) {
    const QStringList out = DescribeDialog(*dialog);
    ASSERT_EQ(out.size(), 163);
    EXPECT_EQ(out[0], "DIALOG Help");
    EXPECT_EQ(out[1], "ITEM Help Contents");
    EXPECT_EQ(out[2], "ITEM ");
    EXPECT_EQ(out[5], "ITEM " + Line(5));  // trailing padding kept
}

TEST(AboutTest, ShowsIconProductLineAndVersion) {
    TestApp();
    CAboutDlg dialog;
    EXPECT_EQ(dialog.windowTitle(), "About Marlo");
    const QList<QLabel*> labels = dialog.findChildren<QLabel*>();
    ASSERT_EQ(labels.size(), 3);
    EXPECT_EQ(labels[0]->geometry(), QRect(17, 28, 32, 33));  // icon static, 11,17 21 x 20 du
    EXPECT_EQ(labels[0]->pixmap().size(), QSize(32, 32));     // the application icon
    EXPECT_EQ(labels[1]->text(), "Marlo Vantrel for Corvell 802.11a.");
    EXPECT_TRUE(labels[1]->wordWrap());
    EXPECT_EQ(labels[2]->text(), "Version 1.00");
    EXPECT_TRUE(dialog.findChildren<QAbstractButton*>().isEmpty());

    QStringList out;
    ASSERT_TRUE(DescribeNamedDialog("about", out));
    EXPECT_EQ(out, QStringList({"DIALOG About Marlo", "ITEM Marlo Vantrel for Corvell 802.11a.",
                                "ITEM Version 1.00"}));
    EXPECT_FALSE(DescribeNamedDialog("nothing", out));
}

}  // namespace
