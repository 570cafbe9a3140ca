// What a sweep learnt beyond the scan list (the BSSIDs' channels, the noise)
// is not lost: journaled with its point, recovered after a crash, and in the
// sidecar after the save.
#include "app/survey_guard.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "journal/survey_journal.h"
#include "platform/message_box.h"
#include "sitefile/site_meta.h"
#include "sitefile/site_reader.h"
#include "survey/record_list.h"

namespace {

class AnswerYes : public platform::MessageBoxHandler {
  public:
    int Show(const std::string& text, const std::string&, unsigned) override {
        shown.push_back(text);
        return platform::kIdYes;
    }
    std::vector<std::string> shown;
};

void AddRecord(int32_t x, int32_t y) {
    ApRecord* r = nullptr;
    ASSERT_EQ(g_surveyList.AllocRecord(r), 0);
    r->x = x;
    r->y = y;
    r->channel = 1;
    r->rssi = -50;
    g_surveyList.Append(r);
}

TEST(SurveyGuardTest, SweepFindingsSurviveACrashAndReachTheSidecarWithTheSave) {
    char pattern[] = "/tmp/kestrow-guard-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    const std::string site = std::string(pattern) + "/site.ksf";
    std::ofstream(site) << "a site";
    AnswerYes boxes;
    platform::SetMessageBoxHandler(&boxes);
    const sitefile::SiteMap map;
    std::vector<sitefile::PointCircle> circles;
    g_surveyList.Clear();
    {
        SurveyGuard guard(nullptr);
        guard.SiteOpened(site, map, circles);
        AddRecord(120, 160);
        guard.OnPointCommitted(120, 160);
        SweepDetails details;
        details.channels = {{{0x00, 0x1d, 0x7e, 0x4a, 0x20, 0x30}, 5955, 160}};
        details.noise = {{5955, -93}};
        details.levelsEstimated = true;
        guard.OnSweepDetails(120, 160, details);
    }  // the program dies: the journal stays

    g_surveyList.Clear();
    SurveyGuard guard(nullptr);
    guard.SiteOpened(site, map, circles);
    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_EQ(boxes.shown[0].rfind("Recover 1 survey point", 0), 0u) << boxes.shown[0];
    guard.SiteSaved(site);

    sitefile::SiteMeta meta;
    std::string error;
    ASSERT_TRUE(sitefile::ReadSiteMeta(site, meta, error)) << error;
    ASSERT_EQ(meta.bssids.size(), 1u);
    EXPECT_EQ(meta.bssids.begin()->second.frequencyMhz, 5955);
    EXPECT_EQ(meta.bssids.begin()->second.widthMhz, 160);
    ASSERT_EQ(meta.noise.size(), 1u);
    EXPECT_EQ(meta.noise[0].x, 120);
    EXPECT_EQ(meta.noise[0].noiseDbm, -93);
    EXPECT_EQ(meta.estimatedLevels, (std::vector<std::pair<double, double>>{{120, 160}}));
    EXPECT_FALSE(std::filesystem::exists(journal::JournalPath(site)));
    EXPECT_EQ(boxes.shown.size(), 1u) << boxes.shown.back();

    platform::SetMessageBoxHandler(nullptr);
    g_surveyList.Clear();
    std::filesystem::remove_all(pattern);
}

}  // namespace
