#include "journal/journal_format.h"

#include <zlib.h>

#include <algorithm>
#include <cmath>
#include <cstring>

namespace journal {

namespace {

constexpr char kMagic[8] = {'K', 'S', 'F', 'J', 'R', 'N', 'L', '1'};
constexpr size_t kMaxMacText = 15;
constexpr size_t kMaxSsid = 127;
constexpr size_t kMaxName = 31;
// Body sizes: a deletion's is fixed; a point's is at least its kind, place,
// an empty name and a record count.
constexpr uint32_t kDeletionBodySize = 1 + 4 * 4;
constexpr uint32_t kMinPointBodySize = 1 + 4 + 4 + 1 + 2;
// An edit's: kind, part, first, count, place; a move adds the new place, a
// renaming the name.
constexpr uint32_t kRemovedBodySize = 1 + 1 + 4 * 4;
constexpr uint32_t kMovedBodySize = kRemovedBodySize + 4 * 2;
// Entry kinds are small numbers; a byte above this is no entry's kind.
constexpr uint8_t kMaxKind = 31;
// A walk's numbers beyond these cannot be true: places far off any map
// (the sidecar's own bound), a year of walking, a speed no one walks.
constexpr double kMaxWalkCoordinate = 1e7;
constexpr double kMaxWalkSeconds = 365.0 * 24 * 3600;
constexpr double kMaxWalkSpeed = 1e6;

class Writer {
  public:
    explicit Writer(std::vector<uint8_t>& out) : m_out(out) {}
    void U8(uint8_t v) { m_out.push_back(v); }
    void U16(uint16_t v) { Unsigned(v, 2); }
    void U32(uint32_t v) { Unsigned(v, 4); }
    void U64(uint64_t v) { Unsigned(v, 8); }
    void F64(double v) {
        uint64_t bits = 0;
        std::memcpy(&bits, &v, sizeof bits);
        U64(bits);
    }
    void Bytes(const void* data, size_t size) {
        const auto* p = static_cast<const uint8_t*>(data);
        m_out.insert(m_out.end(), p, p + size);
    }
    // A text with a one-byte length, cut to `limit` bytes.
    void ShortText(const std::string& text, size_t limit) {
        const size_t n = std::min(text.size(), limit);
        U8(static_cast<uint8_t>(n));
        Bytes(text.data(), n);
    }

  private:
    void Unsigned(uint64_t v, int bytes) {
        for (int i = 0; i < bytes; ++i) {
            m_out.push_back(static_cast<uint8_t>(v >> (8 * i)));
        }
    }
    std::vector<uint8_t>& m_out;
};

// Reads from a span; every read past its end fails and leaves the reader failed.
class Reader {
  public:
    Reader(const uint8_t* data, size_t size) : m_p(data), m_left(size) {}
    bool U8(uint8_t& v) { return Unsigned(v, 1); }
    bool U16(uint16_t& v) { return Unsigned(v, 2); }
    bool U32(uint32_t& v) { return Unsigned(v, 4); }
    bool U64(uint64_t& v) { return Unsigned(v, 8); }
    bool I16(int16_t& v) { return Signed(v); }
    bool I32(int32_t& v) { return Signed(v); }
    bool I64(int64_t& v) { return Signed(v); }
    // A finite number within +-limit.
    bool F64(double& v, double limit) {
        uint64_t bits = 0;
        if (!U64(bits)) {
            return false;
        }
        std::memcpy(&v, &bits, sizeof v);
        return std::isfinite(v) && std::fabs(v) <= limit;
    }
    bool Bytes(void* out, size_t size) {
        if (!Take(size)) {
            return false;
        }
        std::memcpy(out, m_p - size, size);
        return true;
    }
    bool Text(std::string& text, size_t size) {
        if (!Take(size)) {
            return false;
        }
        text.assign(reinterpret_cast<const char*>(m_p - size), size);
        return true;
    }
    bool ShortText(std::string& text, size_t limit) {
        uint8_t n = 0;
        return U8(n) && n <= limit && Text(text, n);
    }
    size_t Left() const { return m_left; }

  private:
    bool Take(size_t size) {
        if (size > m_left) {
            m_left = 0;
            return false;
        }
        m_p += size;
        m_left -= size;
        return true;
    }
    template <typename T>
    bool Unsigned(T& v, int bytes) {
        if (!Take(static_cast<size_t>(bytes))) {
            return false;
        }
        uint64_t value = 0;
        for (int i = 0; i < bytes; ++i) {
            value |= uint64_t{m_p[i - bytes]} << (8 * i);
        }
        v = static_cast<T>(value);
        return true;
    }
    template <typename T>
    bool Signed(T& v) {
        uint64_t raw = 0;
        if (!Unsigned(raw, sizeof(T))) {
            return false;
        }
        v = static_cast<T>(raw);
        return true;
    }
    const uint8_t* m_p;
    size_t m_left;
};

uint32_t ReadLe32(const uint8_t* p) {
    return uint32_t{p[0]} | (uint32_t{p[1]} << 8) | (uint32_t{p[2]} << 16) | (uint32_t{p[3]} << 24);
}

void EncodeBody(const Entry& entry, Writer& w) {
    w.U8(static_cast<uint8_t>(entry.kind));
    if (entry.kind == Entry::Kind::kChannels) {
        const size_t count = std::min<size_t>(entry.channels.bssids.size(), UINT16_MAX);
        w.U16(static_cast<uint16_t>(count));
        for (size_t i = 0; i < count; ++i) {
            const BssidChannelRecord& b = entry.channels.bssids[i];
            w.Bytes(b.mac, sizeof b.mac);
            w.U32(b.frequencyMhz);
            w.U16(b.widthMhz);
        }
        return;
    }
    if (entry.kind == Entry::Kind::kNoise) {
        const NoiseEntry& n = entry.noise;
        w.U32(static_cast<uint32_t>(n.x));
        w.U32(static_cast<uint32_t>(n.y));
        const size_t count = std::min<size_t>(n.readings.size(), UINT16_MAX);
        w.U16(static_cast<uint16_t>(count));
        for (size_t i = 0; i < count; ++i) {
            w.U32(n.readings[i].frequencyMhz);
            w.U32(static_cast<uint32_t>(n.readings[i].noiseCentiDbm));
        }
        return;
    }
    if (entry.kind == Entry::Kind::kEstimated) {
        w.U32(static_cast<uint32_t>(entry.estimated.x));
        w.U32(static_cast<uint32_t>(entry.estimated.y));
        return;
    }
    if (entry.IsEdit()) {
        const EditEntry& e = entry.edit;
        w.U8(e.part);
        w.U32(e.first);
        w.U32(e.count);
        w.U32(static_cast<uint32_t>(e.x));
        w.U32(static_cast<uint32_t>(e.y));
        if (entry.kind == Entry::Kind::kMoved) {
            w.U32(static_cast<uint32_t>(e.toX));
            w.U32(static_cast<uint32_t>(e.toY));
        } else if (entry.kind == Entry::Kind::kRenamed) {
            w.ShortText(e.name, kMaxName);
        }
        return;
    }
    if (entry.kind == Entry::Kind::kWalk) {
        const WalkEntry& walk = entry.walk;
        w.U32(walk.walk);
        w.F64(walk.speed);
        const size_t corners = std::min<size_t>(walk.corners.size(), UINT16_MAX);
        w.U16(static_cast<uint16_t>(corners));
        for (size_t i = 0; i < corners; ++i) {
            w.F64(walk.corners[i].x);
            w.F64(walk.corners[i].y);
            w.F64(walk.corners[i].timeS);
        }
        const size_t points = std::min<size_t>(walk.points.size(), UINT16_MAX);
        w.U16(static_cast<uint16_t>(points));
        for (size_t i = 0; i < points; ++i) {
            w.U32(static_cast<uint32_t>(walk.points[i].x));
            w.U32(static_cast<uint32_t>(walk.points[i].y));
            w.ShortText(walk.points[i].name, kMaxName);
        }
        return;
    }
    if (entry.kind == Entry::Kind::kDeletion) {
        const DeletionEntry& d = entry.deletion;
        w.U32(static_cast<uint32_t>(d.x));
        w.U32(static_cast<uint32_t>(d.y));
        w.U32(d.siteRecords);
        w.U32(d.journalRecords);
        return;
    }
    const PointEntry& p = entry.point;
    w.U32(static_cast<uint32_t>(p.x));
    w.U32(static_cast<uint32_t>(p.y));
    w.ShortText(p.name, kMaxName);
    const size_t count = std::min<size_t>(p.records.size(), UINT16_MAX);
    w.U16(static_cast<uint16_t>(count));
    for (size_t i = 0; i < count; ++i) {
        const JournalRecord& r = p.records[i];
        w.ShortText(r.macText, kMaxMacText);
        w.Bytes(r.mac, sizeof r.mac);
        w.ShortText(r.ssid, kMaxSsid);
        w.U16(static_cast<uint16_t>(r.rssi));
        w.U16(static_cast<uint16_t>(r.channel));
        w.U32(static_cast<uint32_t>(r.sampleCount));
    }
}

// Reads one entry's body; false when it does not hold exactly one entry.
bool DecodeBody(const uint8_t* body, size_t size, Entry& entry) {
    Reader r(body, size);
    uint8_t kind = 0;
    if (!r.U8(kind)) {
        return false;
    }
    if (kind == static_cast<uint8_t>(Entry::Kind::kDeletion)) {
        entry.kind = Entry::Kind::kDeletion;
        DeletionEntry& d = entry.deletion;
        return r.I32(d.x) && r.I32(d.y) && r.U32(d.siteRecords) && r.U32(d.journalRecords) &&
               r.Left() == 0;
    }
    if (kind == static_cast<uint8_t>(Entry::Kind::kRemoved) ||
        kind == static_cast<uint8_t>(Entry::Kind::kMoved) ||
        kind == static_cast<uint8_t>(Entry::Kind::kRenamed)) {
        entry.kind = static_cast<Entry::Kind>(kind);
        EditEntry& e = entry.edit;
        if (!r.U8(e.part) || e.part > EditEntry::kJournalPart || !r.U32(e.first) ||
            !r.U32(e.count) || !r.I32(e.x) || !r.I32(e.y)) {
            return false;
        }
        if (entry.kind == Entry::Kind::kMoved && !(r.I32(e.toX) && r.I32(e.toY))) {
            return false;
        }
        if (entry.kind == Entry::Kind::kRenamed && !r.ShortText(e.name, kMaxName)) {
            return false;
        }
        return r.Left() == 0;
    }
    if (kind == static_cast<uint8_t>(Entry::Kind::kChannels)) {
        entry.kind = Entry::Kind::kChannels;
        uint16_t count = 0;
        if (!r.U16(count) || size_t{count} * 12 != r.Left()) {
            return false;
        }
        entry.channels.bssids.resize(count);
        for (BssidChannelRecord& b : entry.channels.bssids) {
            r.Bytes(b.mac, sizeof b.mac);
            r.U32(b.frequencyMhz);
            r.U16(b.widthMhz);
        }
        return true;
    }
    if (kind == static_cast<uint8_t>(Entry::Kind::kNoise)) {
        entry.kind = Entry::Kind::kNoise;
        NoiseEntry& n = entry.noise;
        uint16_t count = 0;
        if (!r.I32(n.x) || !r.I32(n.y) || !r.U16(count) || size_t{count} * 8 != r.Left()) {
            return false;
        }
        n.readings.resize(count);
        for (NoiseRecord& reading : n.readings) {
            r.U32(reading.frequencyMhz);
            r.I32(reading.noiseCentiDbm);
        }
        return true;
    }
    if (kind == static_cast<uint8_t>(Entry::Kind::kEstimated)) {
        entry.kind = Entry::Kind::kEstimated;
        return r.I32(entry.estimated.x) && r.I32(entry.estimated.y) && r.Left() == 0;
    }
    if (kind == static_cast<uint8_t>(Entry::Kind::kWalk)) {
        entry.kind = Entry::Kind::kWalk;
        WalkEntry& walk = entry.walk;
        uint16_t count = 0;
        if (!r.U32(walk.walk) || !r.F64(walk.speed, kMaxWalkSpeed) || walk.speed < 0 ||
            !r.U16(count) || size_t{count} * 24 > r.Left()) {
            return false;
        }
        walk.corners.resize(count);
        for (WalkCornerRecord& c : walk.corners) {
            if (!r.F64(c.x, kMaxWalkCoordinate) || !r.F64(c.y, kMaxWalkCoordinate) ||
                !r.F64(c.timeS, kMaxWalkSeconds) || c.timeS < 0) {
                return false;
            }
        }
        if (!r.U16(count) || size_t{count} * 9 > r.Left()) {
            return false;
        }
        walk.points.resize(count);
        for (WalkPointRecord& p : walk.points) {
            if (!r.I32(p.x) || !r.I32(p.y) || !r.ShortText(p.name, kMaxName)) {
                return false;
            }
        }
        return r.Left() == 0;
    }
    if (kind != static_cast<uint8_t>(Entry::Kind::kPoint)) {
        return false;
    }
    entry.kind = Entry::Kind::kPoint;
    PointEntry& p = entry.point;
    uint16_t count = 0;
    if (!r.I32(p.x) || !r.I32(p.y) || !r.ShortText(p.name, kMaxName) || !r.U16(count)) {
        return false;
    }
    // Each record takes at least 16 bytes: a count the body cannot hold is
    // refused before anything is reserved for it.
    if (size_t{count} * 16 > r.Left()) {
        return false;
    }
    p.records.resize(count);
    for (JournalRecord& rec : p.records) {
        if (!r.ShortText(rec.macText, kMaxMacText) || !r.Bytes(rec.mac, sizeof rec.mac) ||
            !r.ShortText(rec.ssid, kMaxSsid) || !r.I16(rec.rssi) || !r.I16(rec.channel) ||
            !r.I32(rec.sampleCount)) {
            return false;
        }
    }
    return r.Left() == 0;
}

// Reads the entry at `at`: null when it is sound (and `entry` holds it),
// else what is wrong with it.
const char* ReadEntryAt(const uint8_t* data, size_t size, size_t at, Entry& entry) {
    const size_t left = size - at;
    if (left < 4) {
        return "it ends inside an entry";
    }
    const uint32_t length = ReadLe32(data + at);
    if (length == 0 || length > kMaxEntryLength) {
        return "an entry has an impossible length";
    }
    if (left - 4 < size_t{length} + 4) {
        return "it ends inside an entry";
    }
    if (Crc32(data + at, 4 + size_t{length}) != ReadLe32(data + at + 4 + length)) {
        return "an entry fails its check";
    }
    if (!DecodeBody(data + at + 4, length, entry)) {
        return "an entry cannot be read";
    }
    return nullptr;
}

size_t NextEntry(const uint8_t* data, size_t at) {
    return at + 8 + size_t{ReadLe32(data + at)};
}

// Whether a sound entry starts at `at`, for the search past damage. A kind
// byte no entry has, and lengths no entry of its kind can have, are passed
// over without a checksum; each checksum taken is paid for out of `budget`.
bool IsSoundEntryAt(const uint8_t* data, size_t size, size_t at, size_t& budget) {
    if (size - at < 9) {
        return false;
    }
    const uint32_t length = ReadLe32(data + at);
    const uint8_t kind = data[at + 4];
    const bool plausible =
        kind >= 1 && kind <= kMaxKind && length <= kMaxEntryLength &&
        (kind != static_cast<uint8_t>(Entry::Kind::kDeletion) || length == kDeletionBodySize) &&
        (kind != static_cast<uint8_t>(Entry::Kind::kPoint) || length >= kMinPointBodySize) &&
        (kind != static_cast<uint8_t>(Entry::Kind::kRemoved) || length == kRemovedBodySize) &&
        (kind != static_cast<uint8_t>(Entry::Kind::kMoved) || length == kMovedBodySize) &&
        (kind != static_cast<uint8_t>(Entry::Kind::kRenamed) ||
         (length > kRemovedBodySize && length <= kRemovedBodySize + 1 + kMaxName));
    if (!plausible || size - at - 8 < length) {
        return false;
    }
    const size_t cost = std::min<size_t>(budget, 4 + size_t{length});
    budget -= cost;
    Entry entry;
    return cost == 4 + size_t{length} && ReadEntryAt(data, size, at, entry) == nullptr;
}

// How many entries the damaged bytes [from, to) held, as far as the length
// fields found in them tell: each length that stays inside is one entry, and
// what no length accounts for is one more.
size_t EntriesWithin(const uint8_t* data, size_t from, size_t to) {
    size_t count = 0;
    size_t at = from;
    while (to - at >= 8) {
        const uint32_t length = ReadLe32(data + at);
        if (length == 0 || length > to - at - 8) {
            break;
        }
        ++count;
        at += 8 + size_t{length};
    }
    return count + (at < to ? 1 : 0);
}

}  // namespace

uint32_t Crc32(const uint8_t* data, size_t size, uint32_t crc) {
    return static_cast<uint32_t>(::crc32_z(crc, data, size));
}

std::vector<uint8_t> EncodeHeader(const JournalHeader& header) {
    const SiteIdentity& site = header.site;
    const size_t pathLength = std::min(site.path.size(), kMaxPathLength);
    std::vector<uint8_t> out;
    Writer w(out);
    w.Bytes(kMagic, sizeof kMagic);
    w.U16(kJournalVersion);
    w.U16(static_cast<uint16_t>(kMinHeaderSize + pathLength + 4));
    w.U64(site.device);
    w.U64(site.inode);
    w.U64(site.size);
    w.U64(static_cast<uint64_t>(site.modifiedNs));
    w.U64(static_cast<uint64_t>(header.startedNs));
    w.U32(site.mapWidth);
    w.U32(site.mapHeight);
    w.U32(site.mapCrc);
    w.U16(static_cast<uint16_t>(pathLength));
    w.Bytes(site.path.data(), pathLength);
    w.U32(Crc32(out.data(), out.size()));
    return out;
}

void EncodeEntry(const Entry& entry, std::vector<uint8_t>& out) {
    const size_t start = out.size();
    Writer w(out);
    w.U32(0);  // the body's length, filled in below
    EncodeBody(entry, w);
    const uint32_t length = static_cast<uint32_t>(out.size() - start - 4);
    for (int i = 0; i < 4; ++i) {
        out[start + i] = static_cast<uint8_t>(length >> (8 * i));
    }
    w.U32(Crc32(out.data() + start, out.size() - start));
}

JournalContents ParseJournal(const uint8_t* data, size_t size) {
    JournalContents contents;
    contents.totalBytes = size;
    // A file cut inside its magic is a journal whose creation was interrupted.
    const size_t magicSeen = std::min(size, sizeof kMagic);
    if (magicSeen > 0 && std::memcmp(data, kMagic, magicSeen) != 0) {
        contents.status = ReadStatus::kNotJournal;
        return contents;
    }
    if (size < kMinHeaderSize) {
        contents.status = ReadStatus::kCut;
        return contents;
    }
    Reader r(data + sizeof kMagic, size - sizeof kMagic);
    uint16_t version = 0;
    uint16_t headerLength = 0;
    r.U16(version);
    r.U16(headerLength);
    if (version != kJournalVersion) {
        contents.status = ReadStatus::kBadVersion;
        return contents;
    }
    SiteIdentity& site = contents.header.site;
    uint16_t pathLength = 0;
    r.U64(site.device);
    r.U64(site.inode);
    r.U64(site.size);
    r.I64(site.modifiedNs);
    r.I64(contents.header.startedNs);
    r.U32(site.mapWidth);
    r.U32(site.mapHeight);
    r.U32(site.mapCrc);
    r.U16(pathLength);
    if (pathLength > kMaxPathLength || headerLength != kMinHeaderSize + pathLength + 4) {
        contents.status = ReadStatus::kBadHeader;
        return contents;
    }
    if (size < headerLength) {
        contents.status = ReadStatus::kCut;
        return contents;
    }
    r.Text(site.path, pathLength);
    if (Crc32(data, headerLength - 4) != ReadLe32(data + headerLength - 4)) {
        contents.status = ReadStatus::kBadHeader;
        return contents;
    }
    contents.status = ReadStatus::kOk;
    contents.headerBytes = headerLength;

    size_t budget = kMaxResyncWork;
    size_t at = headerLength;
    while (at < size) {
        Entry entry;
        const char* why = ReadEntryAt(data, size, at, entry);
        if (why == nullptr) {
            contents.entries.push_back(std::move(entry));
            at = NextEntry(data, at);
            continue;
        }
        if (contents.damage.empty()) {
            contents.damage = why;
        }
        // Damaged from here: the next offset where a sound entry starts.
        size_t resume = at + 1;
        for (; resume < size; ++resume) {
            if (budget == 0) {
                resume = size;
                break;
            }
            if (IsSoundEntryAt(data, size, resume, budget)) {
                break;
            }
        }
        contents.damaged.push_back({at, resume - at});
        contents.unreadEntries += EntriesWithin(data, at, resume);
        at = resume;
    }
    return contents;
}

}  // namespace journal
