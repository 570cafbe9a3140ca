// Reading a site file, in the order the open command needs it:
//   1. Open(): the header block and its checks;
//   2. ReadMap(): the site-map bitmap;
//   3. CheckLayout(): the sections lie where a save can write them back;
//   4. Identify(): what the save will check the file against;
//   5. TakeHeader() and, if the surveyor keeps them, LoadPoints(): the
//      stored points into the survey list given and the circles to paint.
// Every length, offset, size and count taken from the file is checked before
// it is used, so a damaged file ends in one of the messages below.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "sitefile/byte_source.h"
#include "sitefile/site_errors.h"
#include "sitefile/site_format.h"
#include "sitefile/site_layout.h"
#include "survey/record_list.h"
#include "survey/site_header.h"

namespace sitefile {

// The site map as an 8-bit indexed image. The rows stay in the file's order
// (no copy or reordering); Row(y) gives row y counted from the top.
struct SiteMap {
    int32_t width = 0;
    int32_t height = 0;    // always positive
    bool bottomUp = true;  // pixels hold the bottom row first (positive height in the file)
    uint32_t colors[kColorTableEntries] = {};  // 0xFFRRGGBB
    size_t stride = 0;                         // bytes a row: width rounded up to 4
    std::vector<uint8_t> pixels;               // height rows of stride bytes

    const uint8_t* Row(int32_t y) const {
        const size_t row = static_cast<size_t>(bottomUp ? height - 1 - y : y);
        return pixels.data() + row * stride;
    }
    uint8_t* Row(int32_t y) {
        return const_cast<uint8_t*>(static_cast<const SiteMap*>(this)->Row(y));
    }
    uint32_t ColorAt(int32_t x, int32_t y) const { return colors[Row(y)[x]]; }
};

// A stored survey point whose circle the open paints: PaintBandCircle(x, y, rssi).
struct PointCircle {
    int32_t x;
    int32_t y;
    int16_t rssi;
};

// One point header and one access-point entry as stored, for tools that list
// the points section group by group.
struct StoredPoint {
    int32_t x = 0;
    int32_t y = 0;
    char name[kPointNameSize + 1] = {};  // up to 32 bytes and a terminator
    uint16_t entryCount = 0;
};
struct StoredEntry {
    uint8_t channel = 0;
    int16_t rssiRaw = 0;  // 1/256 dBm
    uint8_t mac[6] = {};
    char ssid[kEntrySsidSize + 1] = {};
    int16_t RssiDbm() const { return static_cast<int16_t>(rssiRaw / 256); }
};

// What walking the points section found. A section that holds anything it
// cannot read as points (records smaller than this program's, a point whose
// entries run past the end, bytes after the last point that are no whole
// point, a section over the bound below) says why in `unreadable`: those
// bytes are not survey data this program can keep, so no save may write over
// them.
struct PointsReport {
    long points = 0;
    long entries = 0;
    std::string unreadable;
};

// The largest points section read (about 800,000 access-point entries):
// more could not be held, drawn and analysed in a survey's memory.
constexpr uint64_t kMaxPointsSectionBytes = uint64_t{32} << 20;

// Why a stored point or entry cannot be true survey data (survey/plausible.h),
// naming the point and the access point; empty when it can.
std::string ImplausiblePoint(const StoredPoint& point, int32_t mapWidth, int32_t mapHeight);
std::string ImplausibleEntry(const StoredPoint& point, const StoredEntry& entry);

class PointsVisitor {
  public:
    virtual ~PointsVisitor() = default;
    virtual void OnPoint(const StoredPoint& point) = 0;
    virtual void OnEntry(const StoredPoint& point, const StoredEntry& entry) = 0;
    // After the entries of a point, also when the file ended inside them.
    virtual void OnPointEnd(const StoredPoint& point, int entriesRead) = 0;
};

class SiteFileReader {
  public:
    SiteFileReader();
    ~SiteFileReader();

    // Opens the file and checks its header block. Failures: the system's text
    // for the error captioned "File Open Error"; "Not a Site File." or
    // "Obsolete Site File, recreate using Zorvane" captioned "File Error".
    bool Open(const std::string& path, OpenError& error);
    bool Open(std::unique_ptr<ByteSource> source, OpenError& error);

    // Reads the site-map bitmap. Anything that is not an 8-bit, 256-colour
    // image lying wholly inside the file, or is larger than 64 megapixels,
    // gives "Error Loading Site" captioned with the application title.
    bool ReadMap(SiteMap& map, OpenError& error);

    // The layout rule of site_layout.h, which every save applies too: a site
    // that could never be saved gives "Error Loading Site" as a bad map does.
    bool CheckLayout(OpenError& error);

    // The identity a save of this site checks the file against. `map`, when
    // given, is the map ReadMap read from this file: its pixels are not read
    // again. Fails, with the system's text, only when the file cannot be read
    // as far as its size says.
    bool Identify(FileIdentity& identity, OpenError& error, const SiteMap* map = nullptr);

    // The header of the site read, for the caller to make current once the
    // file is accepted; null if called twice.
    std::unique_ptr<CSiteHeader> TakeHeader();
    // Appends the stored points' records to `list` and hands back every
    // circle to paint, in file order. The record sizes and the last records
    // read are kept in `header`, as the open leaves them. Points off the map
    // read by ReadMap and entries that cannot be true are left out, each
    // with a line in Refused().
    void LoadPoints(CSiteHeader& header, CRecordList& list, std::vector<PointCircle>& circles);
    const std::vector<std::string>& Refused() const { return m_refused; }
    // What the last walk of the points section found.
    const PointsReport& Points() const { return m_points; }

    // Walks the points section group by group without touching the lists.
    const PointsReport& VisitPoints(PointsVisitor& visitor);

    // The map's size as ReadMap read it (0 before).
    int32_t MapWidth() const { return m_mapWidth; }
    int32_t MapHeight() const { return m_mapHeight; }

    // The header being built; valid until TakeHeader hands it over.
    const CSiteHeader& Header() const { return *m_header; }
    uint32_t HeaderLength() const { return m_headerLength; }
    uint16_t Version() const { return ReadU16(m_image + kVersionOffset); }
    uint32_t SaveTime() const { return ReadU32(m_image + kSaveTimeOffset); }
    uint32_t BitmapOffset() const { return ReadU32(m_image + kBitmapOffsetOffset); }
    uint32_t RasterOffset() const { return ReadU32(m_image + kRasterOffsetOffset); }
    uint32_t PointsOffset() const { return ReadU32(m_image + kPointsOffsetOffset); }
    ByteSource& Source() { return *m_source; }

  private:
    void VisitPoints(PointsVisitor& visitor, CSiteHeader& header);
    bool ReadRecord(uint8_t* buffer, size_t keep, uint32_t recordSize);

    PointsReport m_points;
    std::vector<std::string> m_refused;
    int32_t m_mapWidth = 0;
    int32_t m_mapHeight = 0;

    std::unique_ptr<ByteSource> m_source;
    std::unique_ptr<CSiteHeader> m_header;
    uint32_t m_headerLength = 0;
    uint8_t m_image[kFileHeaderSize] = {};  // the header block as read
};

// The end of an open once the file is accepted: takes the reader's header,
// empties `list` and, with keepPoints, loads the stored points into it. The
// header's counters start at 0. Null if the header was taken before.
std::unique_ptr<CSiteHeader> TakeSite(SiteFileReader& reader, bool keepPoints, CRecordList& list,
                                      std::vector<PointCircle>& circles);

// MAC bytes as 12 upper-case hexadecimal digits.
std::string MacToText(const uint8_t mac[6]);
// The same into a buffer of at least 13 bytes, terminated.
void MacToText(const uint8_t mac[6], char* out);

}  // namespace sitefile
