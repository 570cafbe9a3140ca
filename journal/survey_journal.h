// The survey journal of the open site, `<site path>.journal`: every point
// committed and every point deleted is appended and flushed to disk before
// the surveyor sees it, so a crash loses at most the point being taken. A
// successful save removes the journal; opening the site again finds it and
// can replay it.
//
// The survey list is always the site's own points as loaded (the base, in
// file order) followed by the points taken since; a deletion says how many
// records it took from each part, so a replay can apply it whether or not
// the surveyor keeps the site's own points the next time.
#pragma once

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "journal/journal_format.h"
#include "scanner/scan_source.h"
#include "sitefile/site_meta.h"
#include "sitefile/site_reader.h"
#include "survey/record_list.h"

namespace journal {

std::string JournalPath(const std::string& sitePath);

// Journals kept aside: declined (not wanted, or not this site's) and damaged
// ones, as <site>.journal.declined or <site>.journal.damaged, and when that
// name is taken .2, .3, ... after it: an earlier copy is never replaced.
enum class Aside { kDeclined, kDamaged };
// The first name of that kind.
std::string AsidePath(const std::string& sitePath, Aside kind);

// Fills the file part of `site` (device, inode, size, modification time)
// from the file at site.path; false with the system's reason if it cannot.
bool StatSite(SiteIdentity& site, std::string& error);
// The map part of an identity: size and a CRC-32 of colours and pixels.
void SetMap(SiteIdentity& site, const sitefile::SiteMap& map);

// What lies at a site's journal path.
struct Finding {
    enum Kind {
        kNone,         // no journal
        kNothing,      // a journal that holds no whole entry
        kUnreadable,   // not a journal this program can read (problem says why)
        kInUse,        // another copy of Kestrow is writing it
        kOtherSite,    // a journal of another site
        kOtherMap,     // a journal of this site over another map
        kRecoverable,  // entries to offer
    };
    Kind kind = kNone;
    JournalContents contents;
    std::string problem;
    // It holds bytes that could not be read: a damaged header, or entries
    // that are not whole or fail their check. Such a journal is set aside as
    // damaged, never removed.
    bool damaged = false;
    // Records a replay over this site's map would leave out (see Replay);
    // the journal is then kept aside too before it is rewritten.
    std::vector<std::string> refused;
    int pointsAdded = 0;
    int deletions = 0;
    // The site file is not as it was when the journal began (saved since,
    // perhaps by another copy of Kestrow).
    bool siteChanged = false;
};

// Looks at the journal of `site` (identity of the site just opened).
Finding InspectJournal(const SiteIdentity& site);

// Moves the journal aside under the first free name of its kind (`aside`),
// or removes it; a missing journal is no failure (`aside` is then empty).
bool SetAsideJournal(const std::string& sitePath, Aside kind, std::string& aside,
                     std::string& error);
bool RemoveJournal(const std::string& sitePath, std::string& error);
// Keeps a copy of the journal, byte for byte, under the first free damaged
// name; the journal itself stays.
bool KeepDamagedCopy(const std::string& sitePath, std::string& aside, std::string& error);

struct ReplayOutcome {
    int points = 0;     // points the journal added that are still there
    int apRecords = 0;  // their access-point records (an empty point's marker not counted)
    int32_t lastX = 0;  // where the last of them was taken
    int32_t lastY = 0;
    size_t siteRecords = 0;        // records of the site's own points now in the list
    std::vector<Entry> compacted;  // the same changes, as a journal over this list's base
    // Records left out because they cannot be true, one line each.
    std::vector<std::string> refused;
};

// Replays the entries on top of `list`, which holds the site's own points as
// just loaded, or nothing when they were discarded: deletions of the site's
// points apply to what was loaded, the journal's own points are appended.
// Points off a map of that size (none is checked when it is 0) and records
// of levels or channels no radio gives are left out (survey/plausible.h);
// a point none of whose records is left is left out too.
ReplayOutcome Replay(const std::vector<Entry>& entries, CRecordList& list, uint32_t mapWidth,
                     uint32_t mapHeight);

// Whether a replay would change anything at all: a point the journal added
// is still there, or a point of the site's own was deleted.
bool ChangesAnything(const std::vector<Entry>& entries, uint32_t mapWidth, uint32_t mapHeight);

// The entries that keep what a sweep at (x, y) learnt beyond the scan list:
// one for the BSSIDs' channels, one for the noise, each where there is any.
std::vector<Entry> SweepEntries(int32_t x, int32_t y, const SweepDetails& details);

// What sweeps learnt that the site file has no room for, gathered from their
// journal entries until a save writes it to the sidecar.
struct SweepFindings {
    std::map<sitefile::MacBytes, sitefile::BssidChannel> bssids;
    std::vector<sitefile::NoiseReading> noise;
    std::set<std::pair<double, double>> estimated;  // points with estimated levels
    // Walking surveys by their journal number, and where each of their
    // points was taken (beside walk.points).
    struct WalkFinding {
        sitefile::Walk walk;
        std::vector<std::pair<int32_t, int32_t>> places;
    };
    std::map<uint32_t, WalkFinding> walks;

    bool Empty() const {
        return bssids.empty() && noise.empty() && estimated.empty() && walks.empty();
    }
    // The number a new walk gets in the journal.
    uint32_t NextWalkNumber() const { return walks.empty() ? 1 : walks.rbegin()->first + 1; }
    // Takes in a channels, noise, estimated or walk entry; other kinds are
    // not findings.
    void Add(const Entry& entry);
    // Into the sidecar: a BSSID's channel as last reported, the noise and the
    // points of estimated levels added; those where no survey point is left
    // (deleted, or not kept when the site was opened) go.
    void MergeInto(sitefile::SiteMeta& meta,
                   const std::set<std::pair<double, double>>& surveyPositions) const;
    // The walks into the sidecar's: each walk's points as the survey now
    // names them, found by their place (`namesAt`: the name of the survey
    // point at each place, empty to keep the walk's); a point no longer
    // there leaves its walk, a walk without points is left out. The
    // sidecar's earlier walks keep the names still in the survey.
    void MergeWalksInto(sitefile::SiteMeta& meta,
                        const std::map<std::pair<int32_t, int32_t>, std::string>& namesAt) const;
};

class SurveyJournal {
  public:
    SurveyJournal() = default;
    ~SurveyJournal();
    SurveyJournal(const SurveyJournal&) = delete;
    SurveyJournal& operator=(const SurveyJournal&) = delete;

    // Follows a site just opened, whose own points (if kept) are in `list`.
    // The journal file is created with the first change.
    void Follow(const SiteIdentity& site, const CRecordList& list);
    // Follows a site whose journal was just replayed into `list`: the
    // journal is rewritten to hold the outcome's changes over the new base.
    bool FollowRecovered(const SiteIdentity& site, const CRecordList& list,
                         const ReplayOutcome& outcome, std::string& failure);
    // Follows no site; the journal file stays as it is.
    void Stop();

    // A point was committed: its records are the last of `list`.
    bool PointCommitted(const CRecordList& list, std::string& failure);
    // A point was deleted: the run of records at (x, y) that began at the
    // 1-based position firstIndex is gone from `list`.
    bool PointDeleted(int32_t x, int32_t y, int32_t firstIndex, const CRecordList& list,
                      std::string& failure);
    // A committed point's sweep learnt more (SweepEntries): journaled after
    // the point.
    bool SweepLearnt(const std::vector<Entry>& entries, std::string& failure);
    // The survey's edits: `count` records from the 0-based position `first`
    // of the list as it was just before the change, all at (x, y), were
    // removed from `list` (kRemoved), moved to (toX, toY) (kMoved) or renamed
    // `name` (kRenamed). A run that begins among the site's own records and
    // ends among the journal's is journaled as two entries.
    bool RecordsEdited(Entry::Kind kind, size_t first, size_t count, int32_t x, int32_t y,
                       const CRecordList& list, std::string& failure, int32_t toX = 0,
                       int32_t toY = 0, const std::string& name = std::string());
    // All four answer false with the reason when the change could not be made
    // safe on disk; the journal then writes nothing more (Protecting() is
    // false) until the site is opened or saved again. The change itself
    // stays in the list.

    // The site was saved with `list`: the journal goes and `list` is the new base.
    bool SiteSaved(const CRecordList& list, std::string& failure);
    // The survey was saved with `list` as another site (`site`, Save As):
    // this journal goes, and the one of that site is followed from now on.
    bool SiteSavedAs(const SiteIdentity& site, const CRecordList& list, std::string& failure);
    // Closes the journal and moves it aside as declined (a survey the
    // surveyor discards); `aside` is the name it now has.
    bool SetAside(std::string& aside, std::string& failure);
    // Both leave alone a journal this one did not write or replay (another
    // copy's, found in use).

    bool Following() const { return m_following; }
    bool Protecting() const { return m_following && !m_failed; }
    uint64_t Size() const { return m_size; }
    const SiteIdentity& Site() const { return m_site; }

  private:
    bool Append(const std::vector<uint8_t>& bytes, std::string& failure);
    bool Create(std::vector<uint8_t>& bytes, std::string& failure);
    void Close();

    SiteIdentity m_site;
    bool m_following = false;
    bool m_failed = false;
    bool m_owned = false;  // the journal on disk is this survey's
    int m_fd = -1;
    uint64_t m_size = 0;       // bytes on disk, all of them whole
    size_t m_records = 0;      // records in the list as last seen
    size_t m_siteRecords = 0;  // how many of them are the site's own
};

}  // namespace journal
