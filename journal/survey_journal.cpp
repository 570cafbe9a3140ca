#include "journal/survey_journal.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstring>
#include <optional>

#include "platform/files.h"
#include "platform/text.h"
#include "sitefile/site_writer.h"
#include "survey/plausible.h"

namespace journal {

namespace {

// Journals past this size are not read: no survey comes near it (about
// 800,000 access-point records), and what they hold must fit in memory.
constexpr off_t kMaxJournalSize = off_t{32} << 20;

std::string SystemReason(const std::string& path) {
    return path + ": " + std::strerror(errno);
}

int64_t NowNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

// Makes a new, removed or renamed name in the journal's folder durable.
void SyncFolderOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    const std::string folder =
        slash == std::string::npos ? "." : (slash == 0 ? "/" : path.substr(0, slash));
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

size_t CountRecords(const CRecordList& list) {
    size_t count = 0;
    for (const ApRecord* r = list.Sentinel()->next; r != list.Sentinel(); r = r->next) {
        ++count;
    }
    return count;
}

template <size_t N>
std::string Field(const char (&field)[N]) {
    return std::string(field, strnlen(field, N));
}

template <size_t N>
void SetField(char (&field)[N], const std::string& text) {
    const size_t n = std::min(text.size(), N - 1);
    std::memcpy(field, text.data(), n);
    std::memset(field + n, 0, N - n);
}

// The point whose records are the last `count` of the list.
PointEntry LastPoint(const CRecordList& list, size_t count) {
    const ApRecord* r = list.Sentinel();
    for (size_t i = 0; i < count; ++i) {
        r = r->prev;
    }
    PointEntry point;
    point.x = r->x;
    point.y = r->y;
    point.name = Field(r->pointName);
    point.records.reserve(count);
    for (; r != list.Sentinel(); r = r->next) {
        JournalRecord record;
        record.macText = Field(r->macText);
        std::memcpy(record.mac, r->mac, sizeof record.mac);
        record.ssid = Field(r->ssid);
        record.rssi = r->rssi;
        record.channel = r->channel;
        record.sampleCount = r->sampleCount;
        point.records.push_back(std::move(record));
    }
    return point;
}

// Removes at most `limit` records of the first run at (x, y), as the view's
// deletion does: from the first record there, while records stay there.
uint32_t RemoveRun(CRecordList& list, int32_t x, int32_t y, uint32_t limit) {
    ApRecord* r = list.Sentinel()->next;
    while (r != list.Sentinel() && (r->x != x || r->y != y)) {
        r = r->next;
    }
    uint32_t removed = 0;
    while (r != list.Sentinel() && r->x == x && r->y == y && removed < limit) {
        ApRecord* next = r->next;
        list.Remove(r);
        r = next;
        ++removed;
    }
    return removed;
}

// A journal holds what the site holds (names, places, BSSIDs): it is no more
// readable than the site, and its owner can always write it.
unsigned JournalMode(const std::string& sitePath) {
    return platform::ReadWriteBitsOf(sitePath).value_or(0600) | 0600;
}

Entry PointEntryOf(const PointEntry& point) {
    Entry entry;
    entry.kind = Entry::Kind::kPoint;
    entry.point = point;
    return entry;
}

}  // namespace

std::string JournalPath(const std::string& sitePath) {
    return sitePath + ".journal";
}

namespace {

const char* AsideSuffix(Aside kind) {
    return kind == Aside::kDamaged ? ".damaged" : ".declined";
}

}  // namespace

std::string AsidePath(const std::string& sitePath, Aside kind) {
    return JournalPath(sitePath) + AsideSuffix(kind);
}

bool StatSite(SiteIdentity& site, std::string& error) {
    struct stat st {};
    if (::stat(site.path.c_str(), &st) != 0) {
        error = SystemReason(site.path);
        return false;
    }
    site.device = static_cast<uint64_t>(st.st_dev);
    site.inode = static_cast<uint64_t>(st.st_ino);
    site.size = static_cast<uint64_t>(st.st_size);
    site.modifiedNs = int64_t{st.st_mtim.tv_sec} * 1000000000 + st.st_mtim.tv_nsec;
    return true;
}

void SetMap(SiteIdentity& site, const sitefile::SiteMap& map) {
    site.mapWidth = static_cast<uint32_t>(map.width);
    site.mapHeight = static_cast<uint32_t>(map.height);
    uint8_t colors[sitefile::kColorTableSize];
    for (size_t i = 0; i < sitefile::kColorTableEntries; ++i) {
        for (int b = 0; b < 4; ++b) {
            colors[4 * i + b] = static_cast<uint8_t>(map.colors[i] >> (8 * b));
        }
    }
    uint32_t crc = Crc32(colors, sizeof colors);
    for (int32_t y = 0; y < map.height; ++y) {
        crc = Crc32(map.Row(y), static_cast<size_t>(map.width), crc);
    }
    site.mapCrc = crc;
}

Finding InspectJournal(const SiteIdentity& site) {
    Finding finding;
    const std::string path = JournalPath(site.path);
    // Non-blocking, so that a named pipe put in its place cannot hold the open up.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) {
        if (errno != ENOENT) {
            finding.kind = Finding::kUnreadable;
            finding.problem = std::strerror(errno);
        }
        return finding;
    }
    struct stat st {};
    std::vector<uint8_t> bytes;
    if (::fstat(fd, &st) != 0) {
        finding.kind = Finding::kUnreadable;
        finding.problem = std::strerror(errno);
    } else if (!S_ISREG(st.st_mode)) {
        finding.kind = Finding::kUnreadable;
        finding.problem = "not a regular file";
    } else if (st.st_size > kMaxJournalSize) {
        finding.kind = Finding::kUnreadable;
        finding.problem =
            "larger than the " + std::to_string(kMaxJournalSize >> 20) + " MiB Kestrow reads";
    } else if (::flock(fd, LOCK_SH | LOCK_NB) != 0) {
        finding.kind = errno == EWOULDBLOCK ? Finding::kInUse : Finding::kUnreadable;
        finding.problem = std::strerror(errno);
    } else {
        bytes.resize(static_cast<size_t>(st.st_size));
        size_t got = 0;
        while (got < bytes.size()) {
            const ssize_t n = ::read(fd, bytes.data() + got, bytes.size() - got);
            if (n < 0 && errno == EINTR) {
                continue;
            }
            if (n <= 0) {
                break;
            }
            got += static_cast<size_t>(n);
        }
        bytes.resize(got);
    }
    ::close(fd);
    if (finding.kind != Finding::kNone) {
        return finding;
    }

    finding.contents = ParseJournal(bytes.data(), bytes.size());
    const JournalContents& contents = finding.contents;
    switch (contents.status) {
        case ReadStatus::kOk:
            break;
        case ReadStatus::kCut:
            // Only a journal whose creation was cut short inside the header's
            // fixed part holds nothing at all.
            finding.kind = Finding::kNothing;
            finding.damaged = bytes.size() >= kMinHeaderSize;
            return finding;
        case ReadStatus::kNotJournal:
            finding.kind = Finding::kUnreadable;
            finding.problem = "not a survey journal";
            finding.damaged = true;
            return finding;
        case ReadStatus::kBadVersion:
            finding.kind = Finding::kUnreadable;
            finding.problem = "written by another version of Kestrow";
            return finding;
        case ReadStatus::kBadHeader:
            finding.kind = Finding::kUnreadable;
            finding.problem = "its header is damaged";
            finding.damaged = true;
            return finding;
    }
    finding.damaged = contents.Damaged();
    // The journal is this site's when it was written over the same map, and
    // for the same file: found at the same path, or the very file moved.
    const SiteIdentity& recorded = contents.header.site;
    if (recorded.path != site.path && !recorded.SameFile(site)) {
        finding.kind = Finding::kOtherSite;
        return finding;
    }
    if (!recorded.SameMap(site)) {
        finding.kind = Finding::kOtherMap;
        return finding;
    }
    if (contents.entries.empty()) {
        finding.kind = Finding::kNothing;
        return finding;
    }
    finding.kind = Finding::kRecoverable;
    for (const Entry& entry : contents.entries) {
        finding.pointsAdded += entry.kind == Entry::Kind::kPoint;
        finding.deletions +=
            entry.kind == Entry::Kind::kDeletion || entry.kind == Entry::Kind::kRemoved;
    }
    finding.siteChanged = !recorded.SameState(site);
    CRecordList scratch;
    finding.refused = Replay(contents.entries, scratch, site.mapWidth, site.mapHeight).refused;
    return finding;
}

namespace {

// Renames or removes the site's journal (nothing to do when there is none),
// then makes the change to its folder durable.
bool ChangeJournalFile(const std::string& path, int result, std::string& error) {
    if (result != 0) {
        if (errno == ENOENT) {
            return true;
        }
        error = SystemReason(path);
        return false;
    }
    SyncFolderOf(path);
    return true;
}

}  // namespace

bool SetAsideJournal(const std::string& sitePath, Aside kind, std::string& aside,
                     std::string& error) {
    aside.clear();
    const std::string path = JournalPath(sitePath);
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0 && errno == ENOENT) {
        return true;
    }
    if (!platform::MoveAsideNumbered(path, AsideSuffix(kind), aside, error)) {
        return false;
    }
    SyncFolderOf(path);
    return true;
}

bool KeepDamagedCopy(const std::string& sitePath, std::string& aside, std::string& error) {
    const std::string path = JournalPath(sitePath);
    if (!platform::CopyAsideNumbered(path, AsideSuffix(Aside::kDamaged), aside, error)) {
        return false;
    }
    SyncFolderOf(path);
    return true;
}

bool RemoveJournal(const std::string& sitePath, std::string& error) {
    const std::string path = JournalPath(sitePath);
    return ChangeJournalFile(path, ::unlink(path.c_str()), error);
}

namespace {

// The point as far as it can be true: empty (and why in `refused`) when it
// lies off the map, else without the records no radio could have given.
PointEntry PlausiblePart(const PointEntry& point, uint32_t mapWidth, uint32_t mapHeight,
                         std::vector<std::string>& refused) {
    const std::string name = platform::PrintableText(point.name);
    const std::string where = "point " + (name.empty() ? std::string() : name + " ") + "at (" +
                              std::to_string(point.x) + ", " + std::to_string(point.y) + ")";
    PointEntry kept = point;
    if (mapWidth > 0 && !survey::IsOnMap(point.x, point.y, mapWidth, mapHeight)) {
        refused.push_back(where + " lies off the " + std::to_string(mapWidth) + " x " +
                          std::to_string(mapHeight) + " map");
        kept.records.clear();
        return kept;
    }
    kept.records.clear();
    for (const JournalRecord& r : point.records) {
        // A point where nothing was heard is one record of channel 0.
        const bool marker = r.channel == 0 && point.records.size() == 1;
        const std::string problem =
            marker ? std::string() : survey::ImplausibleReading(r.rssi, r.channel);
        if (problem.empty()) {
            kept.records.push_back(r);
        } else {
            refused.push_back("access point " + platform::PrintableText(r.macText) + " at " +
                              where + ": " + problem);
        }
    }
    return kept;
}

}  // namespace

namespace {

// The journal's own points during a replay, in the order they were taken;
// those deleted since stay, no longer present, so that a deletion can find
// the first one still there.
struct Added {
    PointEntry point;
    bool present = true;
};

// The index in `added` of the present point whose records begin at record
// `at` of the journal's part (added.size() at the part's end), a point being
// split in two where `at` falls inside it; none past the end.
std::optional<size_t> BoundaryAt(std::vector<Added>& added, uint64_t at) {
    uint64_t seen = 0;
    for (size_t i = 0; i < added.size(); ++i) {
        if (!added[i].present) {
            continue;
        }
        const uint64_t n = added[i].point.records.size();
        if (at == seen) {
            return i;
        }
        if (at < seen + n) {
            Added tail = added[i];
            const auto cut = static_cast<std::ptrdiff_t>(at - seen);
            tail.point.records.erase(tail.point.records.begin(), tail.point.records.begin() + cut);
            added[i].point.records.resize(static_cast<size_t>(cut));
            added.insert(added.begin() + static_cast<std::ptrdiff_t>(i) + 1, std::move(tail));
            return i + 1;
        }
        seen += n;
    }
    return at == seen ? std::optional<size_t>(added.size()) : std::nullopt;
}

// The present points that hold the edit's records of the journal's part;
// empty when they are not all there at the edit's place.
std::vector<size_t> JournalRun(std::vector<Added>& added, const EditEntry& e) {
    const std::optional<size_t> begin = BoundaryAt(added, e.first);
    const std::optional<size_t> end = BoundaryAt(added, uint64_t{e.first} + e.count);
    std::vector<size_t> run;
    if (e.count == 0 || !begin || !end) {
        return run;
    }
    for (size_t i = *begin; i < *end; ++i) {
        if (!added[i].present) {
            continue;
        }
        if (added[i].point.x != e.x || added[i].point.y != e.y) {
            return {};
        }
        run.push_back(i);
    }
    return run;
}

// The edit's records of the site's part, which is all `list` holds while the
// entries are replayed; empty when they are not all there at its place (the
// site's own points were not kept, say).
std::vector<ApRecord*> SiteRun(CRecordList& list, const EditEntry& e) {
    std::vector<ApRecord*> run;
    ApRecord* r = list.Sentinel()->next;
    for (uint32_t i = 0; i < e.first && r != list.Sentinel(); ++i) {
        r = r->next;
    }
    for (; run.size() < e.count && r != list.Sentinel(); r = r->next) {
        if (r->x != e.x || r->y != e.y) {
            return {};
        }
        run.push_back(r);
    }
    return run.size() == e.count ? run : std::vector<ApRecord*>();
}

// Applies an edit to the site's part or the journal's; false when its
// records are not there.
bool ApplyEdit(const Entry& entry, CRecordList& list, std::vector<Added>& added) {
    const EditEntry& e = entry.edit;
    if (e.part == EditEntry::kSitePart) {
        const std::vector<ApRecord*> run = SiteRun(list, e);
        for (ApRecord* r : run) {
            if (entry.kind == Entry::Kind::kRemoved) {
                list.Remove(r);
            } else if (entry.kind == Entry::Kind::kMoved) {
                r->x = e.toX;
                r->y = e.toY;
            } else {
                SetField(r->pointName, e.name);
            }
        }
        return !run.empty();
    }
    const std::vector<size_t> run = JournalRun(added, e);
    for (size_t i : run) {
        if (entry.kind == Entry::Kind::kRemoved) {
            added[i].present = false;
        } else if (entry.kind == Entry::Kind::kMoved) {
            added[i].point.x = e.toX;
            added[i].point.y = e.toY;
        } else {
            added[i].point.name = e.name;
        }
    }
    return !run.empty();
}

}  // namespace

ReplayOutcome Replay(const std::vector<Entry>& entries, CRecordList& list, uint32_t mapWidth,
                     uint32_t mapHeight) {
    std::vector<Added> added;
    ReplayOutcome outcome;
    for (const Entry& entry : entries) {
        if (entry.kind == Entry::Kind::kPoint) {
            // A point without records never stood in the list.
            added.push_back({entry.point, !entry.point.records.empty()});
            continue;
        }
        if (entry.kind == Entry::Kind::kChannels || entry.kind == Entry::Kind::kNoise ||
            entry.kind == Entry::Kind::kEstimated || entry.kind == Entry::Kind::kWalk) {
            // What a sweep learnt stays for the save (SweepFindings).
            outcome.compacted.push_back(entry);
            continue;
        }
        if (entry.IsEdit()) {
            // The site's part keeps its changes as entries; the journal's own
            // points are written as they end up.
            if (ApplyEdit(entry, list, added) && entry.edit.part == EditEntry::kSitePart) {
                outcome.compacted.push_back(entry);
            }
            continue;
        }
        const DeletionEntry& d = entry.deletion;
        if (d.siteRecords > 0) {
            const uint32_t removed = RemoveRun(list, d.x, d.y, d.siteRecords);
            if (removed > 0) {
                Entry applied = entry;
                applied.deletion.siteRecords = removed;
                applied.deletion.journalRecords = 0;
                outcome.compacted.push_back(applied);
            }
        }
        // The rest of the run: the first of the journal's points still
        // there at (x, y) and those right behind it at the same place.
        uint64_t left = d.journalRecords;
        auto it = std::find_if(added.begin(), added.end(), [&d](const Added& a) {
            return a.present && a.point.x == d.x && a.point.y == d.y;
        });
        for (; left > 0 && it != added.end(); ++it) {
            if (!it->present) {
                continue;
            }
            if (it->point.x != d.x || it->point.y != d.y) {
                break;
            }
            it->present = false;
            left -= std::min<uint64_t>(left, it->point.records.size());
        }
    }

    outcome.siteRecords = CountRecords(list);
    for (const Added& a : added) {
        if (!a.present) {
            continue;
        }
        const PointEntry point = PlausiblePart(a.point, mapWidth, mapHeight, outcome.refused);
        if (point.records.empty()) {
            continue;
        }
        for (const JournalRecord& source : point.records) {
            ApRecord* r = nullptr;
            if (list.AllocRecord(r) != 0) {
                return outcome;  // out of memory: what is in the list is journaled
            }
            r->x = point.x;
            r->y = point.y;
            SetField(r->pointName, point.name);
            SetField(r->macText, source.macText);
            std::memcpy(r->mac, source.mac, sizeof r->mac);
            SetField(r->ssid, source.ssid);
            r->rssi = source.rssi;
            r->channel = source.channel;
            r->sampleCount = source.sampleCount;
            list.Append(r);
            outcome.apRecords += source.channel != 0;
        }
        ++outcome.points;
        outcome.lastX = point.x;
        outcome.lastY = point.y;
        outcome.compacted.push_back(PointEntryOf(point));
    }
    return outcome;
}

bool ChangesAnything(const std::vector<Entry>& entries, uint32_t mapWidth, uint32_t mapHeight) {
    for (const Entry& entry : entries) {
        if ((entry.kind == Entry::Kind::kDeletion && entry.deletion.siteRecords > 0) ||
            (entry.IsEdit() && entry.edit.part == EditEntry::kSitePart)) {
            return true;
        }
    }
    CRecordList scratch;
    return Replay(entries, scratch, mapWidth, mapHeight).points > 0;
}

std::vector<Entry> SweepEntries(int32_t x, int32_t y, const SweepDetails& details) {
    std::vector<Entry> out;
    if (!details.channels.empty()) {
        Entry entry;
        entry.kind = Entry::Kind::kChannels;
        for (const SweepBssChannel& c : details.channels) {
            BssidChannelRecord b;
            std::memcpy(b.mac, c.mac.data(), sizeof b.mac);
            b.frequencyMhz = static_cast<uint32_t>(std::max(c.frequencyMhz, 0));
            b.widthMhz = static_cast<uint16_t>(std::clamp(c.widthMhz, 0, 65535));
            entry.channels.bssids.push_back(b);
        }
        out.push_back(std::move(entry));
    }
    if (!details.noise.empty()) {
        Entry entry;
        entry.kind = Entry::Kind::kNoise;
        entry.noise.x = x;
        entry.noise.y = y;
        for (const SweepNoise& n : details.noise) {
            if (std::isfinite(n.noiseDbm) && std::fabs(n.noiseDbm) < 1e6) {
                entry.noise.readings.push_back(
                    {static_cast<uint32_t>(std::max(n.frequencyMhz, 0)),
                     static_cast<int32_t>(std::lround(n.noiseDbm * 100))});
            }
        }
        out.push_back(std::move(entry));
    }
    if (details.levelsEstimated) {
        Entry entry;
        entry.kind = Entry::Kind::kEstimated;
        entry.estimated = {x, y};
        out.push_back(entry);
    }
    return out;
}

void SweepFindings::Add(const Entry& entry) {
    if (entry.kind == Entry::Kind::kChannels) {
        for (const BssidChannelRecord& b : entry.channels.bssids) {
            sitefile::MacBytes mac;
            std::memcpy(mac.data(), b.mac, mac.size());
            bssids[mac] = {static_cast<int>(b.frequencyMhz), b.widthMhz};
        }
    } else if (entry.kind == Entry::Kind::kNoise) {
        for (const NoiseRecord& n : entry.noise.readings) {
            noise.push_back({static_cast<double>(entry.noise.x), static_cast<double>(entry.noise.y),
                             static_cast<int>(n.frequencyMhz), n.noiseCentiDbm / 100.0});
        }
    } else if (entry.kind == Entry::Kind::kEstimated) {
        estimated.insert({entry.estimated.x, entry.estimated.y});
    } else if (entry.kind == Entry::Kind::kWalk) {
        WalkFinding& found = walks[entry.walk.walk];
        sitefile::Walk& walk = found.walk;
        if (entry.walk.speed > 0) {
            walk.speed = entry.walk.speed;
        }
        for (const WalkCornerRecord& c : entry.walk.corners) {
            if (walk.path.size() < sitefile::kMaxWalkCorners) {
                walk.path.emplace_back(c.x, c.y);
                walk.timesS.push_back(c.timeS);
            }
        }
        for (const WalkPointRecord& p : entry.walk.points) {
            if (walk.points.size() < sitefile::kMaxWalkCorners) {
                walk.points.push_back(p.name);
                found.places.emplace_back(p.x, p.y);
            }
        }
    }
}

void SweepFindings::MergeWalksInto(
    sitefile::SiteMeta& meta,
    const std::map<std::pair<int32_t, int32_t>, std::string>& namesAt) const {
    std::set<std::string> names;
    for (const auto& [place, name] : namesAt) {
        names.insert(name);
    }
    for (sitefile::Walk& walk : meta.walks) {
        walk.points.erase(std::remove_if(walk.points.begin(), walk.points.end(),
                                         [&](const std::string& n) { return names.count(n) == 0; }),
                          walk.points.end());
    }
    for (const auto& [number, found] : walks) {
        if (meta.walks.size() >= sitefile::kMaxWalks) {
            break;
        }
        sitefile::Walk walk = found.walk;
        walk.points.clear();
        for (size_t i = 0; i < found.places.size(); ++i) {
            const auto at = namesAt.find(found.places[i]);
            if (at != namesAt.end()) {
                // A point where nothing was heard keeps the name it was given.
                walk.points.push_back(at->second.empty() ? found.walk.points[i] : at->second);
            }
        }
        if (!walk.points.empty()) {  // a walk taken back whole leaves nothing
            meta.walks.push_back(std::move(walk));
        }
    }
}

void SweepFindings::MergeInto(sitefile::SiteMeta& meta,
                              const std::set<std::pair<double, double>>& surveyPositions) const {
    for (const auto& [mac, channel] : bssids) {
        meta.bssids[mac] = channel;
    }
    meta.noise.insert(meta.noise.end(), noise.begin(), noise.end());
    meta.noise.erase(std::remove_if(meta.noise.begin(), meta.noise.end(),
                                    [&](const sitefile::NoiseReading& n) {
                                        return surveyPositions.count({n.x, n.y}) == 0;
                                    }),
                     meta.noise.end());
    std::set<std::pair<double, double>> points(meta.estimatedLevels.begin(),
                                               meta.estimatedLevels.end());
    points.insert(estimated.begin(), estimated.end());
    meta.estimatedLevels.clear();
    for (const auto& point : points) {
        if (surveyPositions.count(point) != 0) {
            meta.estimatedLevels.push_back(point);
        }
    }
}

SurveyJournal::~SurveyJournal() {
    Close();
}

void SurveyJournal::Close() {
    if (m_fd >= 0) {
        ::close(m_fd);  // also lets go of the lock
        m_fd = -1;
    }
}

void SurveyJournal::Follow(const SiteIdentity& site, const CRecordList& list) {
    Close();
    m_site = site;
    m_following = true;
    m_failed = false;
    m_owned = false;
    m_size = 0;
    m_records = CountRecords(list);
    m_siteRecords = m_records;
}

bool SurveyJournal::FollowRecovered(const SiteIdentity& site, const CRecordList& list,
                                    const ReplayOutcome& outcome, std::string& failure) {
    Follow(site, list);
    m_owned = true;  // replayed: this survey's now, even if it cannot be rewritten
    m_siteRecords = std::min(outcome.siteRecords, m_records);
    const std::string path = JournalPath(site.path);
    if (outcome.compacted.empty()) {
        // Nothing left to keep: the next change starts a new journal.
        if (!RemoveJournal(site.path, failure)) {
            m_failed = true;
            return false;
        }
        return true;
    }
    JournalHeader header;
    header.site = site;
    header.startedNs = NowNs();
    std::vector<uint8_t> bytes = EncodeHeader(header);
    for (const Entry& entry : outcome.compacted) {
        EncodeEntry(entry, bytes);
    }
    // Written beside the old journal and renamed over it, so that either the
    // old or the new one is there whatever happens meanwhile.
    std::string detail;
    if (!platform::ReplaceFileContents(path, bytes, detail, JournalMode(site.path))) {
        failure = path + ": " + detail;
        m_failed = true;
        return false;
    }
    m_fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
    if (m_fd < 0 || ::flock(m_fd, LOCK_EX | LOCK_NB) != 0) {
        failure = SystemReason(path);
        Close();
        m_failed = true;
        return false;
    }
    m_size = bytes.size();
    return true;
}

void SurveyJournal::Stop() {
    Close();
    m_following = false;
}

bool SurveyJournal::Create(std::vector<uint8_t>& bytes, std::string& failure) {
    const std::string path = JournalPath(m_site.path);
    // Never over an existing file: it is another copy's journal, or one the
    // surveyor declined but that could not be set aside.
    m_fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (m_fd < 0) {
        failure = SystemReason(path);
        return false;
    }
    ::fchmod(m_fd, JournalMode(m_site.path));
    ::flock(m_fd, LOCK_EX | LOCK_NB);
    m_owned = true;
    JournalHeader header;
    header.site = m_site;
    header.startedNs = NowNs();
    std::vector<uint8_t> headed = EncodeHeader(header);
    headed.insert(headed.end(), bytes.begin(), bytes.end());
    bytes.swap(headed);
    return true;
}

bool SurveyJournal::Append(const std::vector<uint8_t>& entry, std::string& failure) {
    std::vector<uint8_t> bytes = entry;
    const bool creating = m_fd < 0;
    if (creating && !Create(bytes, failure)) {
        m_failed = true;
        return false;
    }
    if (!platform::WriteAll(m_fd, bytes.data(), bytes.size()) || ::fdatasync(m_fd) != 0) {
        const std::string path = JournalPath(m_site.path);
        failure = SystemReason(path);
        // What was written of this entry goes again: the journal ends with
        // its last whole entry (or is not there at all).
        if (creating) {
            ::unlink(path.c_str());
            m_owned = false;
        } else if (::ftruncate(m_fd, static_cast<off_t>(m_size)) == 0) {
            ::fdatasync(m_fd);
        }
        Close();
        m_failed = true;
        return false;
    }
    if (creating) {
        SyncFolderOf(JournalPath(m_site.path));
    }
    m_size += bytes.size();
    return true;
}

bool SurveyJournal::PointCommitted(const CRecordList& list, std::string& failure) {
    const size_t count = CountRecords(list);
    const size_t before = m_records;
    m_records = count;
    m_siteRecords = std::min(m_siteRecords, count);
    if (!Protecting() || count <= before) {
        return true;
    }
    Entry entry;
    entry.kind = Entry::Kind::kPoint;
    entry.point = LastPoint(list, count - before);
    std::vector<uint8_t> bytes;
    EncodeEntry(entry, bytes);
    return Append(bytes, failure);
}

bool SurveyJournal::PointDeleted(int32_t x, int32_t y, int32_t firstIndex, const CRecordList& list,
                                 std::string& failure) {
    const size_t count = CountRecords(list);
    const size_t removed = m_records > count ? m_records - count : 0;
    m_records = count;
    // The list is the site's records, then the journal's: the part of the
    // run that lay among the first m_siteRecords came from the site.
    size_t fromSite = 0;
    if (firstIndex >= 1 && static_cast<size_t>(firstIndex) <= m_siteRecords) {
        fromSite = std::min(removed, m_siteRecords - static_cast<size_t>(firstIndex) + 1);
    }
    m_siteRecords = std::min(m_siteRecords - fromSite, count);
    if (!Protecting() || removed == 0) {
        return true;
    }
    Entry entry;
    entry.kind = Entry::Kind::kDeletion;
    entry.deletion.x = x;
    entry.deletion.y = y;
    entry.deletion.siteRecords = static_cast<uint32_t>(fromSite);
    entry.deletion.journalRecords = static_cast<uint32_t>(removed - fromSite);
    std::vector<uint8_t> bytes;
    EncodeEntry(entry, bytes);
    return Append(bytes, failure);
}

bool SurveyJournal::SweepLearnt(const std::vector<Entry>& entries, std::string& failure) {
    if (!Protecting() || entries.empty()) {
        return true;
    }
    std::vector<uint8_t> bytes;
    for (const Entry& entry : entries) {
        EncodeEntry(entry, bytes);
    }
    return Append(bytes, failure);
}

bool SurveyJournal::RecordsEdited(Entry::Kind kind, size_t first, size_t count, int32_t x,
                                  int32_t y, const CRecordList& list, std::string& failure,
                                  int32_t toX, int32_t toY, const std::string& name) {
    // The list is the site's records, then the journal's.
    const size_t siteEnd = std::min(m_siteRecords, first + count);
    const size_t fromSite = first < siteEnd ? siteEnd - first : 0;
    std::vector<uint8_t> bytes;
    const auto add = [&](uint8_t part, size_t at, size_t n) {
        if (n == 0) {
            return;
        }
        Entry entry;
        entry.kind = kind;
        entry.edit.part = part;
        entry.edit.first = static_cast<uint32_t>(at);
        entry.edit.count = static_cast<uint32_t>(n);
        entry.edit.x = x;
        entry.edit.y = y;
        entry.edit.toX = toX;
        entry.edit.toY = toY;
        entry.edit.name = name;
        EncodeEntry(entry, bytes);
    };
    add(EditEntry::kSitePart, first, fromSite);
    const size_t journalFirst = std::max(first, m_siteRecords) - m_siteRecords;
    add(EditEntry::kJournalPart, journalFirst, count - fromSite);
    if (kind == Entry::Kind::kRemoved) {
        m_siteRecords -= fromSite;
        m_records = CountRecords(list);
    }
    if (!Protecting()) {
        return true;
    }
    return Append(bytes, failure);
}

bool SurveyJournal::SiteSavedAs(const SiteIdentity& site, const CRecordList& list,
                                std::string& failure) {
    const bool removed = SiteSaved(list, failure);
    m_site = site;
    m_following = true;
    return removed;
}

bool SurveyJournal::SiteSaved(const CRecordList& list, std::string& failure) {
    Close();
    const bool removed = !m_owned || RemoveJournal(m_site.path, failure);
    m_owned = false;
    std::string ignored;
    StatSite(m_site, ignored);
    m_failed = false;
    m_size = 0;
    m_records = CountRecords(list);
    m_siteRecords = m_records;
    return removed;
}

bool SurveyJournal::SetAside(std::string& aside, std::string& failure) {
    Close();
    m_size = 0;
    const bool owned = m_owned;
    m_owned = false;
    aside.clear();
    return !owned || SetAsideJournal(m_site.path, Aside::kDeclined, aside, failure);
}

}  // namespace journal
