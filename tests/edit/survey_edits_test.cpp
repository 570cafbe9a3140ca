// The survey's edits: every state a take, deletion, move, renaming, undo or
// redo leaves is the one its journal recovers after a crash, on screen too;
// Save As takes the sidecar along and the journal follows; new points are
// numbered after the highest number.
#include "edit/survey_edits.h"

#include <gtest/gtest.h>

#include <QDialog>
#include <QLineEdit>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/qt_test_app.h"
#include "app/site_commands.h"
#include "app/survey_guard.h"
#include "dialogs/report_sign_off_dlg.h"
#include "edit/point_names.h"
#include "journal/survey_journal.h"
#include "platform/message_box.h"
#include "sitefile/site_meta.h"
#include "sitefile/site_reader.h"
#include "sitefile/site_writer.h"
#include "survey/record_list.h"
#include "survey/site_header.h"
#include "view/kestrow_view.h"
#include "view/ui_services.h"

namespace {

class AnswerYes : public platform::MessageBoxHandler {
  public:
    int Show(const std::string& text, const std::string&, unsigned) override {
        shown.push_back(text);
        return platform::kIdYes;
    }
    std::vector<std::string> shown;
};

void AddRecord(CRecordList& list, int32_t x, int32_t y, const char* name, uint8_t mac,
               int16_t rssi) {
    ApRecord* r = nullptr;
    ASSERT_EQ(list.AllocRecord(r), 0);
    r->x = x;
    r->y = y;
    std::strncpy(r->pointName, name, sizeof r->pointName - 1);
    std::snprintf(r->macText, sizeof r->macText, "0000000000%02X", mac);
    r->mac[5] = mac;
    r->rssi = rssi;
    r->channel = 6;
    list.Append(r);
}

// The site's own points, as every open of the test site loads them.
void LoadSitePoints(CRecordList& list) {
    AddRecord(list, 100, 100, "S", 1, -50);
    AddRecord(list, 100, 100, "S", 2, -60);
}

std::string Dump(const CRecordList& list) {
    std::string out;
    for (const ApRecord* r = list.Sentinel()->next; r != list.Sentinel(); r = r->next) {
        out += std::to_string(r->x) + "," + std::to_string(r->y) + " " + r->pointName + " " +
               r->macText + " " + std::to_string(r->rssi) + "; ";
    }
    return out;
}

class SurveyEditsTest : public ::testing::Test, QtApplicationFirst {
  protected:
    void SetUp() override {
        platform::SetMessageBoxHandler(&m_boxes);
        m_map.width = 200;
        m_map.height = 150;
        m_map.stride = 200;
        m_map.pixels.assign(200 * 150, 0);
        std::fill(std::begin(m_map.colors), std::end(m_map.colors), 0xFFFFFFFFu);
        m_site = m_dir + "/site.ksf";
        const std::vector<uint8_t> bytes = sitefile::BuildNewSiteFile(m_map);
        std::ofstream(m_site, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()),
                   static_cast<std::streamsize>(bytes.size()));
        Open(m_view);
    }
    void TearDown() override {
        m_edits.Clear();
        g_surveyList.Clear();
        g_siteHeader.reset();
        platform::SetMessageBoxHandler(nullptr);
        std::filesystem::remove_all(m_dir);
    }
    // The open of the site with its own points kept and its journal, if
    // any, recovered.
    void Open(CKestrowView& view, SurveyGuard* guard = nullptr) {
        g_surveyList.Clear();
        g_siteHeader = std::make_unique<CSiteHeader>();
        LoadSitePoints(g_surveyList);
        ASSERT_TRUE(view.ShowSiteMap(m_map));
        std::vector<sitefile::PointCircle> circles;
        (guard ? *guard : *m_guard).SiteOpened(m_site, m_map, circles);
        view.RepaintCircles();
        m_edits.Clear();  // as every accepted open does
    }
    // A point taken as the view commits a sweep's.
    void Take(int32_t x, int32_t y, const char* name, int records) {
        for (int i = 0; i < records; ++i) {
            AddRecord(g_surveyList, x, y, name, static_cast<uint8_t>(0x10 + m_taken++),
                      static_cast<int16_t>(-40 - 5 * i));
        }
        m_edits.OnPointCommitted(x, y);
        m_view.RepaintCircles();
    }
    // What a crash now leaves: the journal replayed over the site's own points.
    std::string Recovered() const {
        std::ifstream in(journal::JournalPath(m_site), std::ios::binary);
        const std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                                         std::istreambuf_iterator<char>());
        const journal::JournalContents contents = journal::ParseJournal(bytes.data(), bytes.size());
        EXPECT_FALSE(contents.Damaged());
        CRecordList list;
        LoadSitePoints(list);
        journal::Replay(contents.entries, list, 200, 150);
        return Dump(list);
    }
    int Index(int32_t x, int32_t y) const { return m_edits.PointNear(x, y).value_or(-1); }

    std::string m_dir = [] {
        char pattern[] = "/tmp/kestrow-edits-XXXXXX";
        return std::string(mkdtemp(pattern));
    }();
    AnswerYes m_boxes;
    sitefile::SiteMap m_map;
    std::string m_site;
    CKestrowView m_view;
    std::unique_ptr<SurveyGuard> m_guard = std::make_unique<SurveyGuard>(nullptr);
    edit::SurveyEdits m_edits{m_view, m_guard.get()};
    int m_taken = 0;
};

TEST_F(SurveyEditsTest, EveryUndoAndRedoIsWhatACrashRecovers) {
    Take(10, 10, "1", 2);
    Take(10, 10, "2", 1);  // at the same place: one point of three records with the first
    Take(50, 40, "3", 3);
    Take(10, 10, "4", 1);  // the same place as the first, not next to it
    const std::vector<std::function<bool()>> steps = {
        [&] { return m_edits.MovePoint(Index(100, 100), 120, 90); },  // the site's own point
        [&] { return m_edits.RenamePoint(Index(50, 40), "Lobby"); },
        [&] { return m_edits.DeletePoint(0); },                    // 1 and 2 together
        [&] { return m_edits.MovePoint(Index(50, 40), 10, 10); },  // next to 4: one point
        [&] { return m_edits.RenamePoint(Index(10, 10), "Hall"); },
        [&] { return m_edits.Undo(); },
        [&] { return m_edits.Undo(); },
        [&] { return m_edits.Undo(); },  // 1 and 2 come back, at the end
        [&] { return m_edits.Redo(); },
        [&] { return m_edits.Undo(); },
        [&] { return m_edits.Undo(); },
        [&] { return m_edits.Undo(); },
        [&] { return m_edits.Undo(); },  // 4 no longer taken
        [&] { return m_edits.Undo(); },
        [&] { return m_edits.Redo(); },
        [&] { return m_edits.Redo(); },
        [&] { return m_edits.DeletePoint(Index(10, 10)); },  // 1 and 2, at the end again
    };
    for (size_t i = 0; i < steps.size(); ++i) {
        ASSERT_TRUE(steps[i]()) << "step " << i;
        ASSERT_EQ(Recovered(), Dump(g_surveyList)) << "after step " << i;
    }
    EXPECT_FALSE(m_edits.Redo());  // a new step ends what could be done again

    // The program dies; opened again, the map shows exactly the same circles.
    const std::string shown = Dump(g_surveyList);
    const QImage screen = m_view.m_mapDC.copy();
    m_guard.reset();
    m_boxes.shown.clear();
    CKestrowView reopened;
    SurveyGuard guard(nullptr);
    Open(reopened, &guard);
    ASSERT_EQ(m_boxes.shown.size(), 1u);
    EXPECT_EQ(m_boxes.shown[0].rfind("Recover ", 0), 0u) << m_boxes.shown[0];
    EXPECT_EQ(Dump(g_surveyList), shown);
    EXPECT_TRUE(reopened.m_mapDC == screen);
}

TEST_F(SurveyEditsTest, EditsRefuseWhatCannotBeStored) {
    Take(10, 10, "1", 1);
    std::string error;
    EXPECT_FALSE(m_edits.MovePoint(1, 200, 10, &error));
    EXPECT_EQ(error, "(200, 10) is off the 200 x 150 map");
    EXPECT_FALSE(m_edits.RenamePoint(1, std::string(32, 'n'), &error));
    EXPECT_FALSE(m_edits.RenamePoint(1, "", &error));
    EXPECT_FALSE(m_edits.DeletePoint(2, &error));
    EXPECT_EQ(error, "there is no point 3 in the survey (it has 2)");
    EXPECT_EQ(m_edits.UndoStack().count(), 1);
}

TEST_F(SurveyEditsTest, NothingHeardKeepsItsNumberInTheWorkspace) {
    m_edits.SetDesktop(true);
    g_siteHeader->BeginPoint(20, 20, m_edits.NextPointName().c_str());
    g_siteHeader->CommitPoint();  // nothing heard: one marker record
    m_edits.OnPointCommitted(20, 20);
    EXPECT_EQ(m_edits.Points().back().name, "1");
    EXPECT_EQ(Recovered(), Dump(g_surveyList));
}

TEST(PointNamesTest, NextIsOneAfterTheHighestNumber) {
    EXPECT_EQ(edit::NextPointName({}), "1");
    EXPECT_EQ(edit::NextPointName({"TEST", "FILL", "12a", " 5", "-3"}), "1");
    EXPECT_EQ(edit::NextPointName({"3", "TEST", "007", "2"}), "8");
    EXPECT_EQ(edit::NextPointName({"99999999999999999999"}), "100000000000000000000");
    // A number too long to store: the lowest one free.
    EXPECT_EQ(edit::NextPointName({std::string(31, '9'), "1", "2"}), "3");
}

TEST_F(SurveyEditsTest, SaveAsTakesTheSidecarAlongAndTheJournalFollows) {
    std::string error;
    ASSERT_TRUE(sitefile::WriteSiteScale(m_site, 20, error)) << error;
    UiServices services;
    services.runModal = [](QDialog& dialog) {
        if (auto* signOff = dynamic_cast<CReportSignOffDlg*>(&dialog)) {
            signOff->Customer().setText("Harbour Dental");
        }
        return 1;
    };
    SiteCommands site(m_view, services);
    site.SetSurveyGuard(m_guard.get());
    site.SetSurveyEdits(&m_edits);
    site.SetReportFieldsAtSignOff(true);
    m_edits.SetDocument(&site);
    site.Open(m_site, true);
    Take(30, 30, "1", 2);
    const std::vector<uint8_t> before = [&] {
        std::ifstream in(m_site, std::ios::binary);
        return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)),
                                    std::istreambuf_iterator<char>());
    }();
    const std::string copy = m_dir + "/copy.ksf";
    ASSERT_TRUE(m_edits.SaveAs(copy));

    EXPECT_EQ(site.SitePath(), copy);
    sitefile::SiteMeta meta;
    ASSERT_TRUE(sitefile::ReadSiteMeta(copy, meta, error)) << error;
    EXPECT_EQ(meta.pixelsPerMetre, 20);
    EXPECT_EQ(meta.report.customer, "Harbour Dental");
    ASSERT_TRUE(sitefile::ReadSiteMeta(m_site, meta, error)) << error;
    EXPECT_EQ(meta.report.customer, "");  // the old site keeps its own
    sitefile::SiteFileReader reader;
    sitefile::OpenError openError;
    ASSERT_TRUE(reader.Open(copy, openError)) << openError.Text();
    struct Counter : sitefile::PointsVisitor {
        void OnPoint(const sitefile::StoredPoint&) override { ++points; }
        void OnEntry(const sitefile::StoredPoint&, const sitefile::StoredEntry&) override {}
        void OnPointEnd(const sitefile::StoredPoint&, int) override {}
        int points = 0;
    } counter;
    reader.VisitPoints(counter);
    EXPECT_EQ(counter.points, 1);
    std::ifstream in(m_site, std::ios::binary);
    EXPECT_EQ(std::vector<uint8_t>((std::istreambuf_iterator<char>(in)),
                                   std::istreambuf_iterator<char>()),
              before);
    EXPECT_FALSE(std::filesystem::exists(journal::JournalPath(m_site)));

    // The report of the new site, its cover's customer on it.
    const std::string report = m_dir + "/report.html";
    ASSERT_TRUE(m_edits.ExportReport(report, {}, error)) << error;
    std::ifstream html(report);
    EXPECT_NE(std::string(std::istreambuf_iterator<char>(html), {}).find("Harbour Dental"),
              std::string::npos);

    // The next change is journaled for the new site, and the report waits
    // for its save.
    ASSERT_TRUE(m_edits.RenamePoint(0, "Entrance"));
    EXPECT_TRUE(std::filesystem::exists(journal::JournalPath(copy)));
    EXPECT_TRUE(m_edits.HasUnsavedChanges());
    EXPECT_FALSE(m_edits.ExportReport(report, {}, error));
}

}  // namespace
