#include <gtest/gtest.h>

#include <QDir>
#include <QImage>
#include <QPushButton>
#include <cstdio>
#include <cstring>
#include <string>

#include "dialogs/dialog_script.h"
#include "dialogs/point_info_dlg.h"
#include "dialogs/point_info_lines.h"
#include "dialogs/qt_app.h"
#include "dialogs/survey_records.h"
#include "platform/files.h"
#include "sitefile/site_reader.h"
#include "sitefile/site_writer.h"
#include "survey/record_list.h"
#include "survey/site_header.h"

namespace {

class PointInfoTest : public ::testing::Test {
  protected:
    void SetUp() override {
        TestApp();
        g_siteHeader = std::make_unique<CSiteHeader>();
        g_siteHeader->ClearPoints();
    }
    void TearDown() override {
        g_siteHeader->ClearPoints();
        g_siteHeader.reset();
    }

    static void AddRecord(int x, int y, int channel, int rssi, const char* mac, const char* ssid) {
        ASSERT_TRUE(AddSurveyRecord(x, y, channel, rssi, mac, ssid));
    }

    static std::vector<std::string> Selected(int x, int y) {
        EXPECT_EQ(g_siteHeader->SelectPointNear(x, y), 1);
        return PointInfoLines(*g_siteHeader);
    }

    static int RecordCount() {
        int count = 0;
        for (ApRecord* r = g_surveyList.Sentinel()->next; r != g_surveyList.Sentinel();
             r = r->next) {
            ++count;
        }
        return count;
    }
};

using Lines = std::vector<std::string>;

TEST_F(PointInfoTest, PointRecordedWithNothingHeardShowsItsFillMarker) {
    g_siteHeader->BeginPoint(120, 160, "TEST");
    EXPECT_EQ(g_siteHeader->CommitPoint(), 0);
    EXPECT_EQ(Selected(121, 161),
              (Lines{"LOCATION INFORMATION", "X: 120.00", "Y: 160.00", "INFORMATION", "AP's: 1",
                     "STRONGEST AP", "MAC Address: 000000000000", "SSID: FILL", "RSSI: 0"}));
}

// Opens the site file at `path` as the open command does and makes its header current.
void OpenSite(const std::string& path, bool keepPoints) {
    sitefile::SiteFileReader reader;
    sitefile::OpenError error;
    sitefile::SiteMap map;
    ASSERT_TRUE(reader.Open(path, error)) << error.detail;
    ASSERT_TRUE(reader.ReadMap(map, error)) << error.detail;
    std::vector<sitefile::PointCircle> circles;
    g_siteHeader = sitefile::TakeSite(reader, keepPoints, g_surveyList, circles);
    ASSERT_NE(g_siteHeader, nullptr);
}

TEST_F(PointInfoTest, StoredPointWithoutEntriesComesBackAsTheOpensMarker) {
    // A new site, one point recorded where nothing was heard, saved and opened again.
    sitefile::SiteMap map;
    map.width = map.height = 64;
    map.stride = 64;
    map.pixels.assign(64 * 64, 0);
    const std::string path =
        QDir(QDir::tempPath()).filePath("kestrow-dialogs-stored-point.ksf").toStdString();
    std::string detail;
    ASSERT_TRUE(platform::ReplaceFileContents(path, sitefile::BuildNewSiteFile(map), detail))
        << detail;
    OpenSite(path, false);
    g_siteHeader->BeginPoint(40, 50, "TEST");
    ASSERT_EQ(g_siteHeader->CommitPoint(), 0);
    sitefile::FileIdentity opened;
    ASSERT_TRUE(sitefile::IdentifySiteFile(path, g_siteHeader->m_fileHeader, opened, detail));
    sitefile::SaveError saveError;
    ASSERT_TRUE(sitefile::SaveSite(
        path, *g_siteHeader, g_surveyList, [](int, int) { return 0x00FFFFFFu; }, 1, opened,
        saveError))
        << saveError.detail;
    OpenSite(path, true);
    std::remove(path.c_str());

    const Lines lines = Selected(40, 50);
    EXPECT_EQ(lines[4], "AP's: 1");
    EXPECT_EQ(lines[6], "MAC Address: 000000000000");
    EXPECT_EQ(lines[7], "SSID: ");
    EXPECT_EQ(lines[8], "RSSI: -100");
}

TEST_F(PointInfoTest, EqualStrongestKeepsTheRecordStoredFirst) {
    AddRecord(10, 10, 36, -70, "00000000000A", "weak");
    AddRecord(10, 10, 40, -50, "00000000000B", "first");
    AddRecord(10, 10, 44, -50, "00000000000C", "second");
    AddRecord(90, 90, 44, -30, "00000000000D", "elsewhere");
    const Lines lines = Selected(12, 9);
    EXPECT_EQ(lines[1], "X: 10.00");
    EXPECT_EQ(lines[4], "AP's: 3");
    EXPECT_EQ(lines[6], "MAC Address: 00000000000B");
    EXPECT_EQ(lines[7], "SSID: first");
    EXPECT_EQ(lines[8], "RSSI: -50");
}

TEST_F(PointInfoTest, RecordsAtOrBelowMinus120LeaveTheStrongestEmpty) {
    AddRecord(10, 10, 36, -120, "00000000000A", "a");
    AddRecord(10, 10, 40, -125, "00000000000B", "b");
    const Lines lines = Selected(10, 10);
    EXPECT_EQ(lines[4], "AP's: 2");
    EXPECT_EQ(lines[6], "MAC Address: ");
    EXPECT_EQ(lines[7], "SSID: ");
    EXPECT_EQ(lines[8], "RSSI: -120");
}

TEST_F(PointInfoTest, LongNetworkNameIsCutToTheSixtyThreeCharacterLine) {
    const std::string ssid(100, 'S');
    AddRecord(10, 10, 36, -40, "00000000000A", ssid.c_str());
    const Lines lines = Selected(10, 10);
    EXPECT_EQ(lines[7], "SSID: " + std::string(57, 'S'));
    EXPECT_EQ(PointInfoScriptLines(*g_siteHeader).at(7),
              QString::fromStdString("INFO SSID: " + std::string(57, 'S')));

    // Fields that lost their terminator are read only up to their own size.
    std::memset(g_siteHeader->m_selBestMac, 'M', sizeof g_siteHeader->m_selBestMac);
    EXPECT_EQ(PointInfoLines(*g_siteHeader)[6], "MAC Address: " + std::string(16, 'M'));

    // The cut never splits a character: 2-byte "é"s end the line on a whole one;
    // a Latin-1 name is shown as the characters it means.
    std::string accents;
    for (int i = 0; i < 40; ++i) {
        accents += "\xC3\xA9";
    }
    std::snprintf(g_siteHeader->m_selBestSsid, sizeof g_siteHeader->m_selBestSsid, "%s",
                  accents.c_str());
    EXPECT_EQ(PointInfoLines(*g_siteHeader)[7], "SSID: " + accents.substr(0, 56));
    std::snprintf(g_siteHeader->m_selBestSsid, sizeof g_siteHeader->m_selBestSsid, "Caf\xE9");
    EXPECT_EQ(PointInfoLines(*g_siteHeader)[7], "SSID: Caf\xC3\xA9");
}

TEST_F(PointInfoTest, DialogPaintsBarsAndClippedTextAtTheHandheldLayout) {
    const std::string ssid(100, 'W');
    AddRecord(120, 160, 36, -40, "00000000000A", ssid.c_str());
    ASSERT_EQ(g_siteHeader->SelectPointNear(120, 160), 1);
    CPointInfoDlg dialog;
    EXPECT_EQ(dialog.windowTitle(), "Parms/Delete Request");
    EXPECT_EQ(dialog.size(), QSize(240, 257));
    auto* button = qobject_cast<QPushButton*>(dialog.Control(6));
    ASSERT_NE(button, nullptr);
    EXPECT_EQ(button->text(), "DELETE THIS POINT");
    EXPECT_EQ(button->geometry(), QRect(11, 223, 198, 23));  // 7,137 132 x 14 du

    dialog.show();
    const QImage image = dialog.grab().toImage().convertToFormat(QImage::Format_RGB32);
    const QRgb blue = qRgb(0, 0, 255);
    for (int barY : {20, 60, 100, 210}) {
        for (int y = barY; y < barY + 2; ++y) {
            EXPECT_EQ(image.pixel(7, y), blue) << y;
            EXPECT_EQ(image.pixel(232, y), blue) << y;
            EXPECT_NE(image.pixel(233, y), blue) << y;
        }
        EXPECT_NE(image.pixel(100, barY - 1), blue);
        EXPECT_NE(image.pixel(100, barY + 2), blue);
    }
    auto darkIn = [&](const QRect& r) {
        int dark = 0;
        for (int y = r.top(); y <= r.bottom(); ++y) {
            for (int x = r.left(); x <= r.right(); ++x) {
                dark += qGray(image.pixel(x, y)) < 96 ? 1 : 0;
            }
        }
        return dark;
    };
    EXPECT_GT(darkIn(QRect(7, 5, 148, 14)), 20);     // LOCATION INFORMATION
    EXPECT_GT(darkIn(QRect(127, 25, 70, 14)), 10);   // Y
    EXPECT_GT(darkIn(QRect(7, 125, 230, 14)), 200);  // SSID, cut at the rectangle
    EXPECT_EQ(darkIn(QRect(237, 125, 3, 14)), 0);
    EXPECT_EQ(darkIn(QRect(7, 170, 226, 38)), 0);  // nothing between RSSI and the last bar
}

TEST_F(PointInfoTest, ClosingWithoutDeleteChangesNothing) {
    AddRecord(10, 10, 36, -40, "00000000000A", "a");
    AddRecord(10, 10, 40, -60, "00000000000B", "b");
    ASSERT_EQ(g_siteHeader->SelectPointNear(10, 10), 1);
    CPointInfoDlg dialog;
    dialog.show();
    dialog.reject();
    EXPECT_EQ(dialog.result(), 0);
    EXPECT_EQ(RecordCount(), 2);
}

TEST_F(PointInfoTest, DeleteButtonRemovesTheRunAndEndsWithMinusTwo) {
    AddRecord(10, 10, 36, -40, "00000000000A", "a");
    AddRecord(50, 50, 36, -40, "00000000000B", "b");
    AddRecord(50, 50, 40, -60, "00000000000C", "c");
    AddRecord(90, 90, 36, -40, "00000000000D", "d");
    g_siteHeader->m_pointCount = 3;
    g_siteHeader->m_apCount = 4;
    ASSERT_EQ(g_siteHeader->SelectPointNear(50, 50), 1);

    CPointInfoDlg dialog;
    EXPECT_EQ(DescribeDialog(dialog).at(4), "INFO AP's: 2");
    dialog.show();
    qobject_cast<QPushButton*>(dialog.Control(6))->click();
    EXPECT_EQ(dialog.result(), CPointInfoDlg::kDeletedResult);
    EXPECT_FALSE(dialog.isVisible());

    ASSERT_EQ(RecordCount(), 2);
    EXPECT_STREQ(g_surveyList.Sentinel()->next->macText, "00000000000A");
    EXPECT_STREQ(g_surveyList.Sentinel()->prev->macText, "00000000000D");
    EXPECT_EQ(g_siteHeader->m_pointCount, 3);
    EXPECT_EQ(g_siteHeader->m_apCount, 4);
}

TEST(PointInfoWithoutSiteTest, ShowsNothingAndDeletesNothing) {
    TestApp();
    ASSERT_EQ(g_siteHeader, nullptr);
    CPointInfoDlg dialog;
    dialog.show();
    const QImage image = dialog.grab().toImage().convertToFormat(QImage::Format_RGB32);
    EXPECT_EQ(image.pixel(100, 20), qRgb(255, 255, 255));  // no bar, no text
    EXPECT_TRUE(DescribeDialog(dialog).isEmpty());
    qobject_cast<QPushButton*>(dialog.Control(6))->click();
    EXPECT_EQ(dialog.result(), 0);
    EXPECT_FALSE(dialog.isVisible());
}

}  // namespace
