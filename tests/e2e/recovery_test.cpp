// No survey lost: a survey killed half-way comes back from its journal, a
// journal is kept aside rather than thrown away, closing asks before unsaved
// points go, and a signal or a full disk does not cost what was taken.
#include <gtest/gtest.h>

#include <signal.h>

#include <filesystem>
#include <regex>
#include <string>
#include <vector>

#include "kestrow_run.h"
#include "sitefile/site_reader.h"
#include "sitefile/site_writer.h"

namespace {

const std::string kCloseQuestion = "MSGBOX Kestrow | Save the survey before closing?";

std::string Recover(int points) {
    return "MSGBOX Kestrow | Recover " + std::to_string(points) +
           (points == 1 ? " survey point that was not saved?"
                        : " survey points that were not saved?");
}

// The saved points as "x,y:entries".
class PointLister : public sitefile::PointsVisitor {
  public:
    void OnPoint(const sitefile::StoredPoint& point) override {
        points.push_back(std::to_string(point.x) + "," + std::to_string(point.y) + ":" +
                         std::to_string(point.entryCount));
    }
    void OnEntry(const sitefile::StoredPoint&, const sitefile::StoredEntry&) override {}
    void OnPointEnd(const sitefile::StoredPoint&, int) override {}
    std::vector<std::string> points;
};

std::vector<std::string> SavedPoints(const std::string& path) {
    sitefile::SiteFileReader reader;
    sitefile::OpenError error;
    EXPECT_TRUE(reader.Open(path, error)) << error.Text();
    PointLister lister;
    reader.VisitPoints(lister);
    return lister.points;
}

// "STATUS L: 2 | P: 6 | X: 40 | Y: 52" -> "40,52"
std::string Where(const std::string& status) {
    std::smatch m;
    EXPECT_TRUE(std::regex_search(status, m, std::regex("X: (-?\\d+) \\| Y: (-?\\d+)"))) << status;
    return m.size() == 3 ? m[1].str() + "," + m[2].str() : "";
}

std::string Status(int points, int records, const std::string& where) {
    const size_t comma = where.find(',');
    return "STATUS L: " + std::to_string(points) + " | P: " + std::to_string(records) +
           " | X: " + where.substr(0, comma) + " | Y: " + where.substr(comma + 1);
}

class RecoveryTest : public ::testing::Test {
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

TEST_F(RecoveryTest, SurveyKilledHalfWayIsRecoveredWhole) {
    // A point saved earlier, in the middle of the map.
    KestrowResult run =
        RunKestrow(m_folder, m_scenario, "open site.ksf\ntap 120 134\nsign 1,1 9,9\nsave\n");
    ASSERT_EQ(run.status, 0) << run.errors;
    ASSERT_EQ(SavedPoints(m_site), std::vector<std::string>({"120,160:3"}));

    // The next survey deletes it, takes three points and deletes the second,
    // and the program is killed.
    KestrowProcess killed(m_folder, m_scenario);
    killed.Send(
        "open site.ksf\n"
        "hold 120 134 delete\n"
        "tap 40 40\nstatus\n"
        "tap 200 200\nstatus\n"
        "hold 120 134 delete\n"
        "tap 60 200\nstatus\n");
    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(killed.WaitFor("STATUS"));
    }
    killed.Signal(SIGKILL);
    EXPECT_EQ(killed.Wait(), 128 + SIGKILL);
    std::vector<std::string> statuses;
    for (const std::string& line : killed.Lines()) {
        if (line.rfind("STATUS", 0) == 0) {
            statuses.push_back(Where(line));
        }
    }
    ASSERT_EQ(statuses.size(), 3u);
    ASSERT_TRUE(Exists("site.ksf.journal"));

    // Reopened: three points added less two deleted; the status shows the
    // recovered points; the save holds exactly the survivors and ends the journal.
    run = RunKestrow(m_folder, m_scenario,
                     "open site.ksf keep recover\nstatus\nsign 1,1 9,9\nsave\nopen site.ksf\n");
    ASSERT_EQ(run.status, 0) << run.errors;
    EXPECT_EQ(run.lines, std::vector<std::string>({kKeepQuestion, Recover(1),
                                                   Status(2, 6, statuses[2]), kKeepQuestion}));
    EXPECT_EQ(SavedPoints(m_site),
              std::vector<std::string>({statuses[0] + ":3", statuses[2] + ":3"}));
    EXPECT_FALSE(Exists("site.ksf.journal"));
}

TEST_F(RecoveryTest, SignalsEndTheProgramWithTheJournalOnDisk) {
    // SIGTERM while the script waits for its next line, SIGHUP in a sleep.
    for (const int signo : {SIGTERM, SIGHUP}) {
        KestrowProcess program(m_folder, m_scenario);
        program.Send("open site.ksf keep norecover\ntap 120 134\nstatus\n");
        ASSERT_TRUE(program.WaitFor("STATUS"));
        if (signo == SIGHUP) {
            program.Send("sleep 30000\n");
        }
        program.Signal(signo);
        EXPECT_EQ(program.Wait(), 128 + signo) << signo;
    }
    const KestrowResult run = RunKestrow(m_folder, m_scenario, "open site.ksf\nstatus\n");
    ASSERT_EQ(run.status, 0) << run.errors;
    EXPECT_EQ(run.lines, std::vector<std::string>(
                             {kKeepQuestion, Recover(1), "STATUS L: 1 | P: 3 | X: 120 | Y: 160"}));
    EXPECT_TRUE(Exists("site.ksf.journal.declined"));  // the first one's, declined by the second
}

TEST_F(RecoveryTest, DeclinedAndDiscardedJournalsAreKeptAside) {
    KestrowResult run = RunKestrow(m_folder, m_scenario, "open site.ksf\ntap 120 134\nquit\n");
    ASSERT_EQ(run.status, 0) << run.errors;
    const std::vector<uint8_t> first = ReadBytes(m_site + ".journal");
    ASSERT_FALSE(first.empty());

    // Declined: set aside, and the surveyor told where; a new point starts a
    // new journal, which closing with Discard sets aside in its turn, beside
    // the first.
    run = RunKestrow(m_folder, m_scenario,
                     "open site.ksf keep norecover\n"
                     "status\n"
                     "tap 10 10\n"
                     "tap 10 10\n"
                     "close discard\n"
                     "status\n");
    ASSERT_EQ(run.status, 0) << run.errors;
    EXPECT_EQ(run.lines,
              std::vector<std::string>({kKeepQuestion, Recover(1),
                                        "MSGBOX Kestrow | The survey journal "
                                        "site.ksf.journal is not recovered. It was "
                                        "kept as site.ksf.journal.declined.",
                                        "STATUS L: 0 | P: 0 | X: 0 | Y: 0", kCloseQuestion}));
    EXPECT_FALSE(Exists("site.ksf.journal"));
    EXPECT_EQ(ReadBytes(m_site + ".journal.declined"), first);
    const std::vector<uint8_t> discarded = ReadBytes(m_site + ".journal.declined.2");
    EXPECT_GT(discarded.size(), first.size());

    // Nothing is offered any more, and the site file was never touched.
    run = RunKestrow(m_folder, m_scenario, "open site.ksf\n");
    EXPECT_EQ(run.lines, std::vector<std::string>({kKeepQuestion}));
    EXPECT_EQ(ReadBytes(m_site), MakeSite());
}

TEST_F(RecoveryTest, DamageInAJournalCostsOnlyTheEntryItHitAndTheJournalIsKeptAsItWas) {
    KestrowResult run = RunKestrow(m_folder, m_scenario,
                                   "open site.ksf\ntap 120 134\ntap 40 40\ntap 200 200\nquit\n");
    ASSERT_EQ(run.status, 0) << run.errors;
    std::vector<uint8_t> journal = ReadBytes(m_site + ".journal");
    const size_t header = journal[10] | (journal[11] << 8);
    journal[header + 20] ^= 0x5A;  // inside the first point's entry
    m_folder.Write("site.ksf.journal", journal);

    run = RunKestrow(m_folder, m_scenario, "open site.ksf keep recover\nstatus\n");
    ASSERT_EQ(run.status, 0) << run.errors;
    ASSERT_EQ(run.lines.size(), 4u);
    EXPECT_EQ(run.lines[1], Recover(2) +
                                " 1 entry of the journal is damaged and cannot be read (an entry "
                                "fails its check); every other entry is recovered.");
    EXPECT_EQ(run.lines[2],
              "MSGBOX Kestrow | The survey journal, as it was found, was kept as "
              "site.ksf.journal.damaged.");
    EXPECT_EQ(run.lines[3].rfind("STATUS L: 2 | P: 6 |", 0), 0u) << run.lines[3];
    EXPECT_EQ(ReadBytes(m_site + ".journal.damaged"), journal);
}

TEST_F(RecoveryTest, CloseAsksOnlyWithUnsavedPointsAndClosesOnlyAfterASave) {
    // Nothing unsaved: the program ends at once.
    KestrowResult run = RunKestrow(m_folder, m_scenario, "open site.ksf\nclose cancel\nstatus\n");
    ASSERT_EQ(run.status, 0) << run.errors;
    EXPECT_EQ(run.lines, std::vector<std::string>({kKeepQuestion}));

    // Cancel goes on surveying; a save that fails keeps the window; Save
    // that succeeds saves and ends.
    m_folder.Write("sub/site.ksf", MakeSite());
    bool moved = false;
    run = RunKestrow(m_folder, m_scenario,
                     "open sub/site.ksf\n"
                     "tap 120 134\n"
                     "close cancel\n"
                     "status\n"
                     "sleep 500\n"
                     "close save\n"
                     "open moved/site.ksf keep recover\n"
                     "close save\n"
                     "status\n",
                     [&](const std::string& line) {
                         if (!moved && line.rfind("STATUS", 0) == 0) {
                             moved = true;
                             std::filesystem::rename(m_folder.Path() + "/sub",
                                                     m_folder.Path() + "/moved");
                         }
                     });
    ASSERT_EQ(run.status, 0) << run.errors;
    EXPECT_EQ(run.lines, std::vector<std::string>(
                             {kKeepQuestion, kCloseQuestion, "STATUS L: 1 | P: 3 | X: 120 | Y: 160",
                              kCloseQuestion,
                              "MSGBOX Site Update Error | Could not update site\\n" +
                                  m_folder.Path() + "/sub/site.ksf: No such file or directory.",
                              kKeepQuestion, Recover(1), kCloseQuestion}));
    EXPECT_EQ(SavedPoints(m_folder.Path() + "/moved/site.ksf"),
              std::vector<std::string>({"120,160:3"}));
    EXPECT_FALSE(Exists("moved/site.ksf.journal"));
}

TEST_F(RecoveryTest, JournalOfAnotherSiteIsRefusedAndASiteSavedSinceIsNoted) {
    KestrowResult run = RunKestrow(m_folder, m_scenario, "open site.ksf\ntap 120 134\n");
    ASSERT_EQ(run.status, 0) << run.errors;
    const std::string other = m_folder.Write("other.ksf", MakeSite(60));
    std::filesystem::copy_file(m_site + ".journal", other + ".journal");
    // Saved since by someone else: the same site, written anew.
    std::filesystem::remove(m_site);
    m_folder.Write("site.ksf", MakeSite());

    run = RunKestrow(m_folder, m_scenario, "open other.ksf\nstatus\nopen site.ksf\nstatus\n");
    ASSERT_EQ(run.status, 0) << run.errors;
    EXPECT_EQ(
        run.lines,
        std::vector<std::string>(
            {kKeepQuestion,
             "MSGBOX Kestrow | The survey journal other.ksf.journal belongs to another site "
             "(" +
                 m_site + ") and is not recovered. It was kept as other.ksf.journal.declined.",
             "STATUS L: 0 | P: 0 | X: 0 | Y: 0", kKeepQuestion,
             Recover(1) + " The site file has been saved since they were taken, perhaps by "
                          "another copy of Kestrow.",
             "STATUS L: 1 | P: 3 | X: 120 | Y: 160"}));
    EXPECT_TRUE(Exists("other.ksf.journal.declined"));
    EXPECT_FALSE(Exists("other.ksf.journal"));
}

TEST_F(RecoveryTest, FullDiskIsToldOnceAndTheSurveyGoesOn) {
    // Files of at most 1 KiB: the journal fills up after a few points.
    std::string script = "open site.ksf\n";
    for (int i = 0; i < 12; ++i) {
        script += "tap 120 134\n";
    }
    script += "status\n";
    KestrowResult run = RunKestrow(m_folder, m_scenario, script, nullptr, "", "ulimit -f 1;");
    ASSERT_EQ(run.status, 0) << run.errors;
    EXPECT_EQ(run.lines, std::vector<std::string>(
                             {kKeepQuestion,
                              "MSGBOX Kestrow | Survey points can no longer be protected against "
                              "loss: " +
                                  m_site + ".journal: File too large",
                              "STATUS L: 12 | P: 36 | X: 120 | Y: 160"}));

    // What fitted is whole and offered.
    run = RunKestrow(m_folder, m_scenario, "open site.ksf\n");
    ASSERT_EQ(run.lines.size(), 2u);
    EXPECT_TRUE(std::regex_match(run.lines[1], std::regex("MSGBOX Kestrow \\| Recover [1-9] "
                                                          "survey points? that (was|were) not "
                                                          "saved\\?")))
        << run.lines[1];
}

}  // namespace
