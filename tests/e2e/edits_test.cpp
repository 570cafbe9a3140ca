// The survey's edits from a script: a survey killed after an undo comes back
// as it was on screen; renaming, moving, undo and redo reach the save, and
// save-as writes another site with its sidecar and leaves the first alone.
#include <gtest/gtest.h>

#include <signal.h>

#include <filesystem>
#include <string>
#include <vector>

#include "kestrow_run.h"
#include "sitefile/site_meta.h"
#include "sitefile/site_reader.h"

namespace {

// The saved points as "x,y name:entries".
std::vector<std::string> SavedPoints(const std::string& path) {
    struct Lister : sitefile::PointsVisitor {
        void OnPoint(const sitefile::StoredPoint& p) override {
            points.push_back(std::to_string(p.x) + "," + std::to_string(p.y) + " " + p.name + ":" +
                             std::to_string(p.entryCount));
        }
        void OnEntry(const sitefile::StoredPoint&, const sitefile::StoredEntry&) override {}
        void OnPointEnd(const sitefile::StoredPoint&, int) override {}
        std::vector<std::string> points;
    } lister;
    sitefile::SiteFileReader reader;
    sitefile::OpenError error;
    EXPECT_TRUE(reader.Open(path, error)) << error.Text();
    reader.VisitPoints(lister);
    return lister.points;
}

class EditsTest : public ::testing::Test {
  protected:
    void SetUp() override {
        m_scenario = m_folder.Write("lab.json", kLabScenario);
        m_site = m_folder.Write("site.ksf", MakeSite());
    }
    bool Exists(const std::string& name) const {
        return std::filesystem::exists(m_folder.Path() + "/" + name);
    }
    ScratchFolder m_folder;
    std::string m_scenario;
    std::string m_site;
};

TEST_F(EditsTest, KilledAfterAnUndoRecoversWhatWasOnScreen) {
    KestrowProcess killed(m_folder, m_scenario);
    // The second point renamed, then the renaming and the point undone.
    killed.Send(
        "open site.ksf\ntap 120 134\ntap 200 200\nrename 120 134 Lobby\nundo\nundo\nstatus\n");
    ASSERT_TRUE(killed.WaitFor("STATUS"));
    killed.Signal(SIGKILL);
    EXPECT_EQ(killed.Wait(), 128 + SIGKILL);

    const KestrowResult run =
        RunKestrow(m_folder, m_scenario, "open site.ksf keep recover\nsign 1,1 9,9\nsave\n");
    ASSERT_EQ(run.status, 0) << run.errors;
    EXPECT_EQ(run.lines,
              std::vector<std::string>({kKeepQuestion,
                                        "MSGBOX Kestrow | Recover 1 survey point that was "
                                        "not saved?"}));
    EXPECT_EQ(SavedPoints(m_site), std::vector<std::string>({"120,160 TEST:3"}));
}

TEST_F(EditsTest, WorkspaceRenamesMovesDeletesUndoesAndSavesAs) {
    m_folder.Write("site.ksf.meta.json", "{\"pixels_per_metre\": 12.5}");
    const std::vector<uint8_t> original = ReadBytes(m_site);
    // A 240 x 320 plan on a 480 x 400 canvas: scale 1.25, 90 pixels each side.
    const KestrowResult run = RunKestrowWorkspace(m_folder, "--simulate='" + m_scenario + "'",
                                                  "open site.ksf\n"
                                                  "tap 215 62\n"
                                                  "tap 300 200\n"
                                                  "rename 215 62 Room 12\n"
                                                  "move 300 200 340 200\n"
                                                  "undo\nredo\n"
                                                  "tap 150 300\n"
                                                  "hold 150 300 delete\n"
                                                  "undo\nredo\n"
                                                  "sign-field customer Harbour Dental\n"
                                                  "sign 1,1 9,9\n"
                                                  "save-as copy.ksf\n"
                                                  "tap 215 300\n"
                                                  "redo\n",
                                                  "--client-size 480x400");
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.errors, "script line 16: nothing to redo\n");
    EXPECT_EQ(SavedPoints(m_folder.Path() + "/copy.ksf"),
              std::vector<std::string>({"100,50 Room 12:3", "200,160 2:3"}));
    EXPECT_EQ(ReadBytes(m_site), original);
    sitefile::SiteMeta meta;
    std::string error;
    ASSERT_TRUE(sitefile::ReadSiteMeta(m_folder.Path() + "/copy.ksf", meta, error)) << error;
    EXPECT_EQ(meta.pixelsPerMetre, 12.5);
    EXPECT_EQ(meta.report.customer, "Harbour Dental");
    // The point taken after the save is journaled for the new site.
    EXPECT_FALSE(Exists("site.ksf.journal"));
    EXPECT_TRUE(Exists("copy.ksf.journal"));
}

}  // namespace
