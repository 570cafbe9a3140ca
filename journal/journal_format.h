// The survey journal's layout: a header that names the site, then one entry
// for every committed point and every deletion, and for what a point's
// sweep learnt beyond the scan list (the channels of the BSSIDs it heard,
// the noise of each channel, levels that were only estimated), each closed
// by a CRC-32.
// All numbers are little-endian.
//
//   header   "KSFJRNL1"  8 bytes
//            u16 version (1), u16 header length (all of it, CRC included)
//            u64 device, u64 inode, u64 size, i64 modification time (ns):
//                the site file when the journal's survey began
//            i64 the journal's start (wall clock, ns)
//            u32 map width, u32 map height, u32 CRC-32 of the map
//            u16 path length, the site's path
//            u32 CRC-32 of everything before it
//   entry    u32 body length, body (u8 kind, payload), u32 CRC-32 of the
//            length and the body
//   point    i32 x, i32 y, u8 name length, name, u16 record count, and per
//            record: u8 MAC-text length, MAC text, 6 MAC bytes, u8 SSID
//            length, SSID bytes, i16 RSSI, i16 channel, i32 sample count
//   deletion i32 x, i32 y, u32 records taken from the site's own points,
//            u32 records taken from points this journal added
//   channels u16 count, and per BSSID: 6 MAC bytes, u32 frequency (MHz),
//            u16 channel width (MHz, 0 unknown)
//   noise    i32 x, i32 y, u16 count, and per channel: u32 frequency (MHz),
//            i32 noise floor (hundredths of a dBm)
//   estimated i32 x, i32 y: the point's levels came from a signal quality
//   removed  u8 part (0 the site's own points, 1 this journal's), u32 first
//            record (0-based within the part), u32 record count, i32 x,
//            i32 y: where those records lay
//   moved    as removed, then i32 new x, i32 new y
//   renamed  as removed, then u8 name length, the new name
//
// Removed, moved and renamed name their records by position, as the list
// was just before the change: the survey's edits (undo and redo among them)
// can tell apart two points at one place, which a deletion cannot.
//   walk     u32 walk number, f64 speed (0 unknown), u16 corner count and
//            per corner f64 x, f64 y, f64 walk time (s), u16 point count
//            and per point i32 x, i32 y, u8 name length, name: what a
//            walking survey added since its last entry (f64: IEEE 754 bits)
//
// A reader takes every entry that is whole and passes its check. Past a
// damaged stretch it finds the next sound entry by trying each later offset
// as the start of one: a length that fits the file, a CRC-32 that matches
// its length and body, and a body that reads as exactly one entry. A journal
// whose writing was interrupted gives back every entry written whole; one
// damaged in the middle gives back what comes before and after the damage.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace journal {

constexpr uint16_t kJournalVersion = 1;
// Longest path a header names, longest entry body a reader accepts.
constexpr size_t kMaxPathLength = 4096;
constexpr uint32_t kMaxEntryLength = 16u << 20;
// The header's fixed part: magic, version, length, the site's identity, the
// start, the map, up to the path's length field.
constexpr size_t kMinHeaderSize = 8 + 2 + 2 + 8 * 4 + 8 + 4 * 3 + 2;
// The most bytes a reader checks while looking for the next sound entry past
// damage; what lies beyond counts as damaged.
constexpr size_t kMaxResyncWork = size_t{256} << 20;

uint32_t Crc32(const uint8_t* data, size_t size, uint32_t crc = 0);

// The site a journal belongs to, as it was when the journal's survey began.
struct SiteIdentity {
    std::string path;
    uint64_t device = 0;
    uint64_t inode = 0;
    uint64_t size = 0;
    int64_t modifiedNs = 0;
    uint32_t mapWidth = 0;
    uint32_t mapHeight = 0;
    uint32_t mapCrc = 0;  // CRC-32 of the map's colour table and pixel rows

    bool SameMap(const SiteIdentity& other) const {
        return mapWidth == other.mapWidth && mapHeight == other.mapHeight && mapCrc == other.mapCrc;
    }
    bool SameFile(const SiteIdentity& other) const {
        return device == other.device && inode == other.inode;
    }
    bool SameState(const SiteIdentity& other) const {
        return SameFile(other) && size == other.size && modifiedNs == other.modifiedNs;
    }
};

struct JournalHeader {
    SiteIdentity site;
    int64_t startedNs = 0;
};

// One access-point record of a committed point, every field the survey list
// keeps for it.
struct JournalRecord {
    std::string macText;  // at most 15 bytes
    uint8_t mac[6] = {};
    std::string ssid;  // at most 127 bytes
    int16_t rssi = 0;
    int16_t channel = 0;
    int32_t sampleCount = 0;
};

struct PointEntry {
    int32_t x = 0;
    int32_t y = 0;
    std::string name;  // at most 31 bytes
    std::vector<JournalRecord> records;
};

// The run of records a deletion removed: first those of the site's own
// points (loaded with the site, always ahead of the journal's), then those of
// points the journal added.
struct DeletionEntry {
    int32_t x = 0;
    int32_t y = 0;
    uint32_t siteRecords = 0;
    uint32_t journalRecords = 0;
};

// The frequency and channel width the Wi-Fi adapter reported for BSSIDs.
struct BssidChannelRecord {
    uint8_t mac[6] = {};
    uint32_t frequencyMhz = 0;
    uint16_t widthMhz = 0;  // 0 unknown
};

struct ChannelsEntry {
    std::vector<BssidChannelRecord> bssids;
};

// The noise floor of each channel, measured where a point was taken.
struct NoiseRecord {
    uint32_t frequencyMhz = 0;
    int32_t noiseCentiDbm = 0;  // hundredths of a dBm
};

struct NoiseEntry {
    int32_t x = 0;
    int32_t y = 0;
    std::vector<NoiseRecord> readings;
};

// A point whose levels the adapter gave only as a signal quality.
struct EstimatedEntry {
    int32_t x = 0;
    int32_t y = 0;
};

// A run of records the survey's edits removed, moved or renamed.
struct EditEntry {
    enum Part : uint8_t { kSitePart = 0, kJournalPart = 1 };
    uint8_t part = kJournalPart;
    uint32_t first = 0;
    uint32_t count = 0;
    int32_t x = 0;
    int32_t y = 0;
    int32_t toX = 0;   // kMoved
    int32_t toY = 0;   // kMoved
    std::string name;  // kRenamed, at most 31 bytes
};

// A walking survey's corners reached and points taken since its last entry;
// the entries of one walk number add up to the walk.
struct WalkCornerRecord {
    double x = 0;
    double y = 0;
    double timeS = 0;
};
struct WalkPointRecord {
    int32_t x = 0;
    int32_t y = 0;
    std::string name;  // at most 31 bytes
};
struct WalkEntry {
    uint32_t walk = 0;
    double speed = 0;  // metres a second (pixels without a scale); 0 unknown
    std::vector<WalkCornerRecord> corners;
    std::vector<WalkPointRecord> points;
};

struct Entry {
    enum class Kind : uint8_t {
        kPoint = 1,
        kDeletion = 2,
        kMoved = 3,
        kRenamed = 4,
        kChannels = 5,
        kNoise = 6,
        kWalk = 7,
        kEstimated = 8,
        kRemoved = 9,
    };
    Kind kind = Kind::kPoint;
    PointEntry point;          // kPoint
    DeletionEntry deletion;    // kDeletion
    ChannelsEntry channels;    // kChannels
    NoiseEntry noise;          // kNoise
    EstimatedEntry estimated;  // kEstimated
    WalkEntry walk;            // kWalk
    EditEntry edit;            // kRemoved, kMoved, kRenamed

    bool IsEdit() const {
        return kind == Kind::kRemoved || kind == Kind::kMoved || kind == Kind::kRenamed;
    }
};

std::vector<uint8_t> EncodeHeader(const JournalHeader& header);
void EncodeEntry(const Entry& entry, std::vector<uint8_t>& out);

enum class ReadStatus {
    kOk,          // header read; entries as far as they are whole
    kCut,         // nothing, or less than a whole header: nothing was journaled
    kNotJournal,  // does not start like a journal
    kBadVersion,  // a journal of another version
    kBadHeader,   // the header fails its check
};

// Bytes of a journal that could not be read as entries.
struct DamagedSpan {
    size_t offset = 0;
    size_t length = 0;
};

struct JournalContents {
    ReadStatus status = ReadStatus::kCut;
    JournalHeader header;
    std::vector<Entry> entries;
    size_t headerBytes = 0;
    size_t totalBytes = 0;
    // The stretches between sound entries (or after the last) that could not
    // be read, in file order, and how many entries they held as far as their
    // own lengths tell (each stretch at least one).
    std::vector<DamagedSpan> damaged;
    size_t unreadEntries = 0;
    std::string damage;  // what was wrong with the first stretch; empty when none
    bool Damaged() const { return !damaged.empty(); }
};

JournalContents ParseJournal(const uint8_t* data, size_t size);

}  // namespace journal
