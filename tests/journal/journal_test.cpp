// The survey journal: its entries read back as written, a cut or damaged
// journal gives back its whole entries only, a replay lands on the list the
// survey had, and the file is made, kept, set aside and refused as it should.
#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "journal/journal_format.h"
#include "journal/survey_journal.h"
#include "survey/record_list.h"
#include "survey/site_header.h"

namespace {

using journal::Entry;
using journal::Finding;
using journal::SurveyJournal;

std::vector<uint8_t> ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

// A point as CommitPoint leaves it: `count` records at (x, y), or the
// marker of a point where nothing was heard when count is 0.
void AddPoint(CRecordList& list, int32_t x, int32_t y, int count, int seed = 0) {
    for (int i = 0; i < std::max(count, 1); ++i) {
        ApRecord* r = nullptr;
        ASSERT_EQ(list.AllocRecord(r), 0);
        r->x = x;
        r->y = y;
        if (count == 0) {
            std::snprintf(r->pointName, sizeof r->pointName, "FILL");
            std::snprintf(r->macText, sizeof r->macText, "000000000000");
            std::snprintf(r->ssid, sizeof r->ssid, "FILL");
        } else {
            std::snprintf(r->pointName, sizeof r->pointName, "TEST");
            r->mac[5] = static_cast<uint8_t>(seed * 16 + i);
            std::snprintf(r->macText, sizeof r->macText, "00000000%04x", (seed * 16 + i) & 0xFFFF);
            std::snprintf(r->ssid, sizeof r->ssid, "net-%d-%d", seed, i);
            r->channel = static_cast<int16_t>(36 + 4 * i);
            r->rssi = static_cast<int16_t>(-40 - seed - i);
            if (seed == 9) {
                // The longest SSID a record holds, not UTF-8, and a count.
                std::memset(r->ssid, 0xE9, sizeof r->ssid - 1);
                r->sampleCount = 3;
            }
        }
        list.Append(r);
    }
}

// Every record, one line each, to compare whole lists.
std::vector<std::string> Describe(const CRecordList& list) {
    std::vector<std::string> lines;
    for (const ApRecord* r = list.Sentinel()->next; r != list.Sentinel(); r = r->next) {
        char line[400];
        std::snprintf(line, sizeof line, "%d,%d %s %s %s %d %d %d", r->x, r->y, r->pointName,
                      r->macText, r->ssid, r->rssi, r->channel, r->sampleCount);
        lines.emplace_back(line);
    }
    return lines;
}

class JournalTest : public ::testing::Test {
  protected:
    void SetUp() override {
        char pattern[] = "/tmp/kestrow-journal-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        m_folder = pattern;
        m_site.path = m_folder + "/site.ksf";
        std::ofstream(m_site.path) << "a site";
        m_site.mapWidth = 240;
        m_site.mapHeight = 320;
        m_site.mapCrc = 0x12345678;
        std::string error;
        ASSERT_TRUE(journal::StatSite(m_site, error)) << error;
        g_surveyList.Clear();
    }
    void TearDown() override {
        g_surveyList.Clear();
        std::filesystem::remove_all(m_folder);
    }

    std::string JournalPath() const { return journal::JournalPath(m_site.path); }

    // A point taken and committed, as the view tells the journal.
    void Commit(SurveyJournal& j, int32_t x, int32_t y, int count, int seed = 0) {
        AddPoint(g_surveyList, x, y, count, seed);
        std::string failure;
        EXPECT_TRUE(j.PointCommitted(g_surveyList, failure)) << failure;
    }
    // The point nearest (x, y) deleted through the site header, as the
    // point information dialog does.
    void Delete(SurveyJournal& j, int32_t x, int32_t y) {
        CSiteHeader header;
        ASSERT_EQ(header.SelectPointNear(x, y), 1);
        header.DeleteSelectedPoint();
        std::string failure;
        EXPECT_TRUE(j.PointDeleted(static_cast<int32_t>(header.m_selX),
                                   static_cast<int32_t>(header.m_selY), header.m_selFirstIndex,
                                   g_surveyList, failure))
            << failure;
    }

    std::string m_folder;
    journal::SiteIdentity m_site;
};

TEST(JournalFormatTest, CutOrDamagedJournalGivesBackItsWholeEntriesOnly) {
    journal::JournalHeader header;
    header.site.path = "/s.ksf";
    std::vector<uint8_t> bytes = journal::EncodeHeader(header);
    std::vector<size_t> ends = {bytes.size()};
    for (int i = 0; i < 3; ++i) {
        Entry entry;
        entry.point.x = i;
        entry.point.records.resize(static_cast<size_t>(i) + 1);
        journal::EncodeEntry(entry, bytes);
        ends.push_back(bytes.size());
    }

    // Cut at every length: nothing before the header is whole, then the
    // entries that end inside the cut, and a word on what was lost.
    for (size_t length = 0; length <= bytes.size(); ++length) {
        const journal::JournalContents read = journal::ParseJournal(bytes.data(), length);
        if (length < ends[0]) {
            EXPECT_EQ(read.status, journal::ReadStatus::kCut) << length;
            continue;
        }
        ASSERT_EQ(read.status, journal::ReadStatus::kOk) << length;
        size_t whole = 0;
        while (whole + 1 < ends.size() && ends[whole + 1] <= length) {
            ++whole;
        }
        ASSERT_EQ(read.entries.size(), whole) << length;
        for (size_t i = 0; i < whole; ++i) {
            EXPECT_EQ(read.entries[i].point.x, static_cast<int32_t>(i));
        }
        EXPECT_EQ(read.wholeBytes, ends[whole]);
        EXPECT_EQ(read.damage.empty(), length == ends[whole]) << length;
    }

    // A changed byte anywhere in the second entry ends the reading before it.
    for (size_t at = ends[1]; at < ends[2]; ++at) {
        std::vector<uint8_t> damaged = bytes;
        damaged[at] ^= 0x40;
        const journal::JournalContents read = journal::ParseJournal(damaged.data(), damaged.size());
        EXPECT_EQ(read.entries.size(), 1u) << at;
        EXPECT_NE(read.damage, "") << at;
    }
    // A changed header byte: not a journal, or a header that fails its check.
    for (size_t at = 0; at < ends[0]; ++at) {
        std::vector<uint8_t> damaged = bytes;
        damaged[at] ^= 0x01;
        const journal::JournalContents read = journal::ParseJournal(damaged.data(), damaged.size());
        EXPECT_NE(read.status, journal::ReadStatus::kOk) << at;
        EXPECT_TRUE(read.entries.empty());
    }
}

// A survey over a site with its own points: points taken, a site point and
// journal points deleted, one deletion taking the site's last point and the
// journal's first together (same place, side by side in the list).
TEST_F(JournalTest, ReplayGivesTheSurveyBackOnTopOfWhatWasLoaded) {
    auto loadSite = [] {
        g_surveyList.Clear();
        AddPoint(g_surveyList, 10, 10, 2, 1);
        AddPoint(g_surveyList, 20, 20, 1, 2);
        AddPoint(g_surveyList, 50, 50, 3, 3);
    };
    loadSite();
    {
        SurveyJournal j;
        j.Follow(m_site, g_surveyList);
        EXPECT_FALSE(std::filesystem::exists(JournalPath()));  // nothing taken yet
        Commit(j, 50, 50, 2, 4);  // right behind the site's point at (50, 50)
        Commit(j, 30, 30, 0);     // nothing heard
        Commit(j, 20, 20, 4, 5);
        Commit(j, 40, 40, 1, 6);
        Delete(j, 20, 20);  // the site's point: first at (20, 20)
        Delete(j, 20, 20);  // now the journal's
        Delete(j, 50, 50);  // the site's and the journal's run together
        Delete(j, 40, 40);
        Commit(j, -5, 70000, 1, 9);
        Commit(j, 60, 60, 2, 7);
        // What the Wi-Fi adapter's sweep reported beyond the scan list.
        SweepDetails details;
        details.channels = {{{0x02, 0, 0, 0, 0, 0x71}, 5955, 160}, {{}, 2412, 0}};
        details.noise = {{5955, -95.5}, {2412, -88}};
        std::string failure;
        EXPECT_TRUE(j.SweepLearnt(journal::SweepEntries(60, 60, details), failure)) << failure;
    }
    const std::vector<std::string> surveyed = Describe(g_surveyList);
    ASSERT_EQ(surveyed.size(), 2u + 1 + 1 + 2);

    const Finding found = journal::InspectJournal(m_site);
    ASSERT_EQ(found.kind, Finding::kRecoverable);
    EXPECT_EQ(found.pointsAdded, 6);
    EXPECT_EQ(found.deletions, 4);
    EXPECT_FALSE(found.siteChanged);

    // The site's own points kept: exactly the list the survey had.
    loadSite();
    journal::ReplayOutcome outcome = journal::Replay(found.contents.entries, g_surveyList);
    EXPECT_EQ(Describe(g_surveyList), surveyed);
    EXPECT_EQ(outcome.points, 3);
    EXPECT_EQ(outcome.apRecords, 3);  // the empty point's marker does not count
    EXPECT_EQ(outcome.lastX, 60);
    EXPECT_EQ(outcome.siteRecords, 2u);
    // The sweep's findings come back for the save, and the save keeps noise
    // only where a survey point still is.
    journal::SweepFindings findings;
    for (const Entry& entry : outcome.compacted) {
        findings.Add(entry);
    }
    const sitefile::MacBytes mac = {0x02, 0, 0, 0, 0, 0x71};
    ASSERT_EQ(findings.bssids.count(mac), 1u);
    EXPECT_EQ(findings.bssids.at(mac).frequencyMhz, 5955);
    EXPECT_EQ(findings.bssids.at(mac).widthMhz, 160);
    sitefile::SiteMeta meta;
    meta.noise = {{1, 1, 2412, -90}};
    findings.MergeInto(meta, {{60, 60}, {10, 10}});
    ASSERT_EQ(meta.noise.size(), 2u);
    EXPECT_EQ(meta.noise[0].x, 60);
    EXPECT_EQ(meta.noise[0].noiseDbm, -95.5);
    EXPECT_EQ(meta.noise[1].frequencyMhz, 2412);

    // The journal rewritten over that base replays to the same list, and
    // the survey goes on from it.
    {
        SurveyJournal j;
        std::string failure;
        ASSERT_TRUE(j.FollowRecovered(m_site, g_surveyList, outcome, failure)) << failure;
        Delete(j, 10, 10);
        Commit(j, 70, 70, 1, 8);
    }
    const std::vector<std::string> continued = Describe(g_surveyList);
    loadSite();
    const journal::ReplayOutcome again =
        journal::Replay(journal::InspectJournal(m_site).contents.entries, g_surveyList);
    EXPECT_EQ(Describe(g_surveyList), continued);
    journal::SweepFindings kept;
    for (const Entry& entry : again.compacted) {
        kept.Add(entry);
    }
    ASSERT_EQ(kept.bssids.size(), 2u) << "the rewritten journal keeps the findings";
    EXPECT_EQ(kept.bssids.at(mac).widthMhz, 160);
    EXPECT_EQ(kept.noise.size(), 2u);

    // The site's own points discarded: only the journal's survivors.
    g_surveyList.Clear();
    outcome = journal::Replay(found.contents.entries, g_surveyList);
    EXPECT_EQ(Describe(g_surveyList),
              std::vector<std::string>(surveyed.begin() + 2, surveyed.end()));
    EXPECT_EQ(outcome.siteRecords, 0u);

    // A point taken and deleted again changes nothing; deleting one of the
    // site's points does.
    std::vector<Entry> undone(2);
    undone[0].point.x = 5;
    undone[0].point.records.resize(2);
    undone[1].kind = Entry::Kind::kDeletion;
    undone[1].deletion = {5, 0, 0, 2};
    EXPECT_TRUE(journal::ChangesAnything(found.contents.entries));
    EXPECT_FALSE(journal::ChangesAnything(undone));
    undone[1].deletion.siteRecords = 1;
    EXPECT_TRUE(journal::ChangesAnything(undone));
}

TEST_F(JournalTest, SaveRemovesTheJournalAndSettingAsideReplacesTheOlderOne) {
    SurveyJournal j;
    j.Follow(m_site, g_surveyList);
    Commit(j, 10, 10, 3);
    std::string failure;
    ASSERT_TRUE(j.SiteSaved(g_surveyList, failure)) << failure;
    EXPECT_FALSE(std::filesystem::exists(JournalPath()));

    // After the save the saved points are the site's own: deleting one is a
    // deletion of the site's records, in a new journal.
    Delete(j, 10, 10);
    std::vector<uint8_t> bytes = ReadFile(JournalPath());
    journal::JournalContents read = journal::ParseJournal(bytes.data(), bytes.size());
    ASSERT_EQ(read.entries.size(), 1u);
    EXPECT_EQ(read.entries[0].deletion.siteRecords, 3u);
    EXPECT_EQ(read.entries[0].deletion.journalRecords, 0u);

    // While it is followed, a second copy of Kestrow finds it in use and
    // cannot start a journal of its own over it.
    EXPECT_EQ(journal::InspectJournal(m_site).kind, Finding::kInUse);
    SurveyJournal other;
    other.Follow(m_site, g_surveyList);
    AddPoint(g_surveyList, 30, 30, 1);
    EXPECT_FALSE(other.PointCommitted(g_surveyList, failure));
    EXPECT_NE(failure.find("File exists"), std::string::npos) << failure;
    // Its save or discard leaves the journal it never wrote alone.
    EXPECT_TRUE(other.SiteSaved(g_surveyList, failure));
    EXPECT_TRUE(other.SetAside(failure));
    EXPECT_EQ(journal::InspectJournal(m_site).kind, Finding::kInUse);

    // Set aside: the journal replaces an older declined one, and the site
    // has no journal to offer any more.
    bytes = ReadFile(JournalPath());
    std::ofstream(journal::DeclinedPath(m_site.path)) << "older";
    ASSERT_TRUE(j.SetAside(failure)) << failure;
    EXPECT_FALSE(std::filesystem::exists(JournalPath()));
    EXPECT_EQ(ReadFile(journal::DeclinedPath(m_site.path)), bytes);
    EXPECT_EQ(journal::InspectJournal(m_site).kind, Finding::kNone);
}

// Runs `write` with files limited to `limit` bytes, the way a full disk
// refuses them: the write fails with a reason, nothing ends the process.
template <typename Write>
bool UnderFileSizeLimit(uint64_t limit, Write write) {
    rlimit saved{};
    EXPECT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    rlimit limited = saved;
    limited.rlim_cur = limit;
    void (*previous)(int) = std::signal(SIGXFSZ, SIG_IGN);
    EXPECT_EQ(setrlimit(RLIMIT_FSIZE, &limited), 0);
    const bool written = write();
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, previous);
    return written;
}

TEST_F(JournalTest, WriteFailureStopsTheJournalOnceAndLeavesItsWholeEntries) {
    // No room from the first write: the reason, no journal, then silence.
    std::string failure;
    {
        SurveyJournal j;
        j.Follow(m_site, g_surveyList);
        AddPoint(g_surveyList, 10, 10, 2);
        EXPECT_FALSE(
            UnderFileSizeLimit(20, [&] { return j.PointCommitted(g_surveyList, failure); }));
        EXPECT_NE(failure.find("File too large"), std::string::npos) << failure;
        EXPECT_FALSE(std::filesystem::exists(JournalPath()));
        EXPECT_FALSE(j.Protecting());
        Commit(j, 20, 20, 1);  // accepted quietly: the surveyor was told once
        EXPECT_FALSE(std::filesystem::exists(JournalPath()));
    }

    // Room running out in the middle: the entry that did not fit is taken
    // back, the ones before it stay whole.
    SurveyJournal j;
    j.Follow(m_site, g_surveyList);
    Commit(j, 30, 30, 1);
    Commit(j, 40, 40, 1);
    const auto before = std::filesystem::file_size(JournalPath());
    AddPoint(g_surveyList, 50, 50, 20);
    EXPECT_FALSE(
        UnderFileSizeLimit(before + 100, [&] { return j.PointCommitted(g_surveyList, failure); }));
    EXPECT_EQ(std::filesystem::file_size(JournalPath()), before);
    j.Stop();
    const Finding found = journal::InspectJournal(m_site);
    EXPECT_EQ(found.contents.entries.size(), 2u);
    EXPECT_EQ(found.contents.damage, "");

    // A folder that is not there.
    journal::SiteIdentity gone = m_site;
    gone.path = m_folder + "/missing/site.ksf";
    SurveyJournal nowhere;
    nowhere.Follow(gone, g_surveyList);
    AddPoint(g_surveyList, 60, 60, 1);
    EXPECT_FALSE(nowhere.PointCommitted(g_surveyList, failure));
    EXPECT_NE(failure.find("No such file or directory"), std::string::npos) << failure;
}

TEST_F(JournalTest, JournalsOfOtherFilesAndUnreadableOnesAreNotOffered) {
    {
        SurveyJournal j;
        j.Follow(m_site, g_surveyList);
        Commit(j, 10, 10, 1);
    }
    EXPECT_EQ(journal::InspectJournal(m_site).kind, Finding::kRecoverable);

    // The same map under another name: another site unless it is the same
    // file moved. (Another map, and a site saved since, end to end.)
    const std::string copy = m_folder + "/copy.ksf";
    std::filesystem::copy_file(m_site.path, copy);
    std::filesystem::copy_file(JournalPath(), journal::JournalPath(copy));
    journal::SiteIdentity copied = m_site;
    copied.path = copy;
    std::string error;
    ASSERT_TRUE(journal::StatSite(copied, error));
    EXPECT_EQ(journal::InspectJournal(copied).kind, Finding::kOtherSite);
    const std::string moved = m_folder + "/moved.ksf";
    std::filesystem::rename(m_site.path, moved);
    std::filesystem::copy_file(JournalPath(), journal::JournalPath(moved));
    journal::SiteIdentity movedSite = m_site;
    movedSite.path = moved;
    ASSERT_TRUE(journal::StatSite(movedSite, error));
    Finding found = journal::InspectJournal(movedSite);
    EXPECT_EQ(found.kind, Finding::kRecoverable);
    EXPECT_FALSE(found.siteChanged);

    // Not journals at all, or nothing in them.
    std::ofstream(JournalPath(), std::ios::trunc) << "PK\x03\x04 something else";
    EXPECT_EQ(journal::InspectJournal(m_site).kind, Finding::kUnreadable);
    std::ofstream(JournalPath(), std::ios::trunc) << "KSFJ";
    EXPECT_EQ(journal::InspectJournal(m_site).kind, Finding::kNothing);
    std::filesystem::remove(JournalPath());
    std::filesystem::create_directory(JournalPath());
    found = journal::InspectJournal(m_site);
    EXPECT_EQ(found.kind, Finding::kUnreadable);
    EXPECT_EQ(found.problem, "not a regular file");
}

}  // namespace
