#include "sitefile/site_reader.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "platform/message_box.h"
#include "platform/text.h"
#include "survey/plausible.h"
#include "survey/record_list.h"

namespace sitefile {

namespace {

bool Fail(OpenError& error, SiteErrorKind kind, std::string detail) {
    error.kind = kind;
    error.detail = std::move(detail);
    return false;
}

bool MapFail(OpenError& error, std::string detail) {
    return Fail(error, SiteErrorKind::kBadMap, std::move(detail));
}

// Copies a text field up to its terminator or its end, cut to fit `out` with
// its terminator; the rest of `out` is zeroed.
void CopyField(char* out, size_t outSize, const uint8_t* field, size_t fieldSize) {
    const size_t limit = std::min(fieldSize, outSize - 1);
    size_t n = 0;
    while (n < limit && field[n] != 0) {
        out[n] = static_cast<char>(field[n]);
        ++n;
    }
    std::memset(out + n, 0, outSize - n);
}

// Builds the survey records of the stored points, as the open keeps them.
// A point off the map, or an entry that cannot be true, is left out with a
// line in `refused`; so is a point none of whose entries could be kept.
class RecordBuilder : public PointsVisitor {
  public:
    RecordBuilder(CRecordList& list, std::vector<PointCircle>& circles, int32_t mapWidth,
                  int32_t mapHeight, std::vector<std::string>& refused)
        : m_list(list),
          m_circles(circles),
          m_mapWidth(mapWidth),
          m_mapHeight(mapHeight),
          m_refused(refused) {}

    void OnPoint(const StoredPoint& point) override {
        m_best = -120;
        m_kept = 0;
        m_skip = m_mapWidth > 0 ? ImplausiblePoint(point, m_mapWidth, m_mapHeight) : "";
        if (!m_skip.empty()) {
            m_refused.push_back(m_skip);
        }
    }

    void OnEntry(const StoredPoint& point, const StoredEntry& entry) override {
        if (!m_skip.empty()) {
            return;
        }
        const std::string problem = ImplausibleEntry(point, entry);
        if (!problem.empty()) {
            m_refused.push_back(problem);
            return;
        }
        ++m_kept;
        // The circle shows what the file holds, even if memory ran out.
        m_best = std::max<int16_t>(m_best, entry.RssiDbm());
        ApRecord* r = NewRecord(point);
        if (r == nullptr) {
            return;
        }
        r->channel = entry.channel;
        std::memcpy(r->mac, entry.mac, sizeof r->mac);
        MacToText(entry.mac, r->macText);
        std::memcpy(r->ssid, entry.ssid, sizeof entry.ssid);
        r->rssi = entry.RssiDbm();
        m_list.Append(r);
    }

    void OnPointEnd(const StoredPoint& point, int entriesRead) override {
        if (!m_skip.empty() || (entriesRead > 0 && m_kept == 0)) {
            return;
        }
        if (point.entryCount == 0) {
            // A point where nothing was heard: one marker record.
            ApRecord* r = NewRecord(point);
            if (r != nullptr) {
                r->channel = 0;
                r->rssi = -100;
                std::snprintf(r->macText, sizeof r->macText, "000000000000");
                m_list.Append(r);
            }
        }
        m_circles.push_back({point.x, point.y, m_best});
    }

  private:
    ApRecord* NewRecord(const StoredPoint& point) {
        ApRecord* r = nullptr;
        if (m_list.AllocRecord(r) != 0) {
            return nullptr;  // out of memory: the point is painted, not kept
        }
        r->x = point.x;
        r->y = point.y;
        // A name filling all 32 bytes keeps them all, without a terminator.
        const size_t n = strnlen(point.name, sizeof r->pointName);
        std::memcpy(r->pointName, point.name, n);
        return r;
    }

    CRecordList& m_list;
    std::vector<PointCircle>& m_circles;
    int32_t m_mapWidth;
    int32_t m_mapHeight;
    std::vector<std::string>& m_refused;
    int16_t m_best = -120;
    int m_kept = 0;
    std::string m_skip;  // why the current point is left out
};

// "point TEST at (10, 20)", the name escaped for any terminal it is printed on.
std::string PointText(const StoredPoint& point) {
    const std::string name =
        platform::PrintableText(platform::TextFromBytes(point.name, sizeof point.name));
    return "point " + (name.empty() ? std::string() : name + " ") + "at (" +
           std::to_string(point.x) + ", " + std::to_string(point.y) + ")";
}

}  // namespace

std::string ImplausiblePoint(const StoredPoint& point, int32_t mapWidth, int32_t mapHeight) {
    if (survey::IsOnMap(point.x, point.y, mapWidth, mapHeight)) {
        return std::string();
    }
    return PointText(point) + " lies off the " + std::to_string(mapWidth) + " x " +
           std::to_string(mapHeight) + " map";
}

std::string ImplausibleEntry(const StoredPoint& point, const StoredEntry& entry) {
    if (entry.channel == 0) {
        return std::string();  // not an access point: nothing is claimed
    }
    const std::string problem = survey::ImplausibleReading(entry.RssiDbm(), entry.channel);
    if (problem.empty()) {
        return problem;
    }
    return "access point " + MacToText(entry.mac) + " at " + PointText(point) + ": " + problem;
}

void MacToText(const uint8_t mac[6], char* out) {
    static const char kDigits[] = "0123456789ABCDEF";
    for (int i = 0; i < 6; ++i) {
        out[2 * i] = kDigits[mac[i] >> 4];
        out[2 * i + 1] = kDigits[mac[i] & 0x0F];
    }
    out[12] = '\0';
}

std::string MacToText(const uint8_t mac[6]) {
    char text[13];
    MacToText(mac, text);
    return text;
}

SiteFileReader::SiteFileReader() : m_header(new CSiteHeader()) {}
SiteFileReader::~SiteFileReader() = default;

bool SiteFileReader::Open(const std::string& path, OpenError& error) {
    std::string systemText;
    std::unique_ptr<FileByteSource> file = FileByteSource::Open(path, systemText);
    if (!file) {
        return Fail(error, SiteErrorKind::kCannotOpen, systemText);
    }
    return Open(std::move(file), error);
}

bool SiteFileReader::Open(std::unique_ptr<ByteSource> source, OpenError& error) {
    m_source = std::move(source);
    if (!m_header) {
        m_header.reset(new CSiteHeader());
    }
    uint8_t* image = m_image;

    uint8_t length[4];
    m_source->Seek(0);
    if (m_source->Read(length, sizeof length) != sizeof length) {
        return Fail(error, SiteErrorKind::kNotSiteFile, "the file is shorter than a header length");
    }
    m_headerLength = ReadU32(length);
    if (m_headerLength < kFileHeaderSize) {
        return Fail(error, SiteErrorKind::kNotSiteFile,
                    "header length " + std::to_string(m_headerLength) + " is below 150");
    }
    // A longer header keeps only the bytes this program knows.
    m_source->Seek(0);
    if (m_source->Read(image, kFileHeaderSize) != kFileHeaderSize) {
        return Fail(error, SiteErrorKind::kNotSiteFile, "the file ends inside the header block");
    }
    if (ReadU32(image + kMagicOffset) != kMagic) {
        return Fail(error, SiteErrorKind::kNotSiteFile, "wrong magic number");
    }
    if (ReadU16(image + kVersionOffset) < kCurrentVersion) {
        return Fail(error, SiteErrorKind::kObsolete,
                    "format version " + std::to_string(ReadU16(image + kVersionOffset)));
    }
    std::memcpy(m_header->m_fileHeader, image, kFileHeaderSize);
    return true;
}

bool SiteFileReader::ReadMap(SiteMap& map, OpenError& error) {
    const uint64_t fileSize = m_source->Size();
    const uint64_t start = BitmapOffset();
    if (start + kBitmapPixelsOffset > fileSize) {
        return MapFail(error, "the bitmap headers lie past the end of the file");
    }
    uint8_t headers[kBitmapPixelsOffset];
    m_source->Seek(start);
    if (m_source->Read(headers, sizeof headers) != sizeof headers) {
        return MapFail(error, "the file ends inside the bitmap headers");
    }
    const uint8_t* info = headers + kBitmapFileHeaderSize;
    const int32_t width = ReadI32(info + 4);
    const int32_t height = ReadI32(info + 8);
    const uint16_t bitsPerPixel = ReadU16(info + 14);
    const uint32_t compression = ReadU32(info + 16);
    const uint32_t imageSize = ReadU32(info + 20);
    const uint32_t colorsUsed = ReadU32(info + 32);

    if (bitsPerPixel != 8) {
        return MapFail(error,
                       "the bitmap has " + std::to_string(bitsPerPixel) + " bits per pixel, not 8");
    }
    if (compression != 0) {
        return MapFail(error, "the bitmap is compressed");
    }
    if (colorsUsed != 0 && colorsUsed != kColorTableEntries) {
        return MapFail(error, "the bitmap has " + std::to_string(colorsUsed) + " colours, not 256");
    }
    if (width <= 0 || height == 0) {
        return MapFail(error, "the bitmap is " + std::to_string(width) + " x " +
                                  std::to_string(height) + " pixels");
    }
    const uint64_t rows = height < 0 ? -static_cast<int64_t>(height) : height;
    if (static_cast<uint64_t>(width) * rows > kMaxMapPixels) {
        return MapFail(error, "the bitmap is larger than 64 megapixels");
    }
    const uint64_t stride = (static_cast<uint64_t>(width) + 3) / 4 * 4;
    const uint64_t needed = stride * rows;
    if (imageSize == 0 || imageSize < needed) {
        return MapFail(error, "the bitmap's image size " + std::to_string(imageSize) +
                                  " does not cover its " + std::to_string(needed) +
                                  " bytes of pixels");
    }
    if (start + kBitmapPixelsOffset + imageSize > fileSize) {
        return MapFail(error, "the bitmap's pixels run past the end of the file");
    }

    map.width = width;
    map.height = static_cast<int32_t>(rows);
    m_mapWidth = map.width;
    m_mapHeight = map.height;
    map.bottomUp = height > 0;
    map.stride = static_cast<size_t>(stride);
    const uint8_t* table = headers + kBitmapFileHeaderSize + kBitmapInfoHeaderSize;
    for (size_t i = 0; i < kColorTableEntries; ++i) {
        const uint8_t* e = table + 4 * i;  // blue, green, red, reserved
        map.colors[i] = 0xFF000000u | (uint32_t{e[2]} << 16) | (uint32_t{e[1]} << 8) | e[0];
    }
    map.pixels.resize(static_cast<size_t>(needed));
    if (m_source->Read(map.pixels.data(), map.pixels.size()) != map.pixels.size()) {
        map.pixels.clear();
        return MapFail(error, "the file ends inside the bitmap's pixels");
    }
    return true;
}

bool SiteFileReader::CheckLayout(OpenError& error) {
    std::string detail;
    if (!CheckSiteLayout(*m_source, m_image, detail)) {
        return MapFail(error, std::move(detail));
    }
    return true;
}

bool SiteFileReader::Identify(FileIdentity& identity, OpenError& error, const SiteMap* map) {
    KnownBytes pixels;
    if (map != nullptr && !map->pixels.empty()) {
        // ReadMap keeps the pixel rows in the file's order, right after the
        // colour table.
        pixels.offset = uint64_t{BitmapOffset()} + kBitmapPixelsOffset;
        pixels.data = map->pixels.data();
        pixels.size = map->pixels.size();
    }
    if (!IdentifySiteFile(*m_source, m_image, identity, pixels)) {
        return Fail(error, SiteErrorKind::kCannotOpen, std::strerror(EIO));
    }
    return true;
}

bool SiteFileReader::ReadRecord(uint8_t* buffer, size_t keep, uint32_t recordSize) {
    // The whole record must be there; bytes beyond what is kept are skipped.
    // A short record takes the rest of the file with it, as a short read does:
    // what follows it is never mistaken for the next record.
    if (m_source->Position() + recordSize > m_source->Size()) {
        m_source->Seek(std::max(m_source->Position(), m_source->Size()));
        return false;
    }
    if (m_source->Read(buffer, keep) != keep) {
        return false;
    }
    return m_source->Seek(m_source->Position() + (recordSize - keep));
}

const PointsReport& SiteFileReader::VisitPoints(PointsVisitor& visitor) {
    if (m_header) {
        VisitPoints(visitor, *m_header);
    } else {
        CSiteHeader scratch;
        VisitPoints(visitor, scratch);
    }
    return m_points;
}

void SiteFileReader::VisitPoints(PointsVisitor& visitor, CSiteHeader& h) {
    PointsReport& report = m_points;
    report = PointsReport{};
    const uint64_t size = m_source->Size();
    const uint64_t start = PointsOffset();
    const uint64_t section = size > start ? size - start : 0;
    if (section > kMaxPointsSectionBytes) {
        report.unreadable = "the points section is " + std::to_string(section >> 20) +
                            " MiB, more than the " + std::to_string(kMaxPointsSectionBytes >> 20) +
                            " MiB Kestrow reads";
        return;
    }
    uint8_t sizes[8];
    m_source->Seek(start);
    if (m_source->Read(sizes, sizeof sizes) != sizeof sizes) {
        return;  // no record sizes: no points
    }
    h.m_pointHeaderSize = ReadU32(sizes);
    h.m_apEntrySize = ReadU32(sizes + 4);
    if (h.m_pointHeaderSize < kPointHeaderSize || h.m_apEntrySize < kApEntrySize) {
        // Records smaller than this program's cannot be read.
        if (section > sizeof sizes) {
            report.unreadable = "its record sizes " + std::to_string(h.m_pointHeaderSize) + " / " +
                                std::to_string(h.m_apEntrySize) + " are smaller than the " +
                                std::to_string(kPointHeaderSize) + " / " +
                                std::to_string(kApEntrySize) + " bytes of a point and an entry";
        }
        return;
    }
    uint64_t at = m_source->Position();
    while (ReadRecord(h.m_pointBuf, kPointHeaderSize, h.m_pointHeaderSize)) {
        StoredPoint point;
        point.x = ReadI32(h.m_pointBuf);
        point.y = ReadI32(h.m_pointBuf + 4);
        CopyField(point.name, sizeof point.name, h.m_pointBuf + 8, kPointNameSize);
        point.entryCount = ReadU16(h.m_pointBuf + kPointEntryCountOffset);
        ++report.points;
        visitor.OnPoint(point);
        int read = 0;
        for (; read < point.entryCount; ++read) {
            if (!ReadRecord(h.m_apBuf, kApEntrySize, h.m_apEntrySize)) {
                break;
            }
            StoredEntry entry;
            entry.channel = h.m_apBuf[0];
            entry.rssiRaw = static_cast<int16_t>(ReadU16(h.m_apBuf + kEntryRssiOffset));
            std::memcpy(entry.mac, h.m_apBuf + kEntryMacOffset, sizeof entry.mac);
            CopyField(entry.ssid, sizeof entry.ssid, h.m_apBuf + kEntrySsidOffset, kEntrySsidSize);
            ++report.entries;
            visitor.OnEntry(point, entry);
        }
        visitor.OnPointEnd(point, read);
        if (read < point.entryCount) {
            report.unreadable =
                "point " + std::to_string(report.points) + " at (" + std::to_string(point.x) +
                ", " + std::to_string(point.y) + ") announces " + std::to_string(point.entryCount) +
                " access-point entries, but the file ends after " + std::to_string(read);
            return;
        }
        at = m_source->Position();
    }
    if (at < size) {
        report.unreadable = "its last " + std::to_string(size - at) +
                            " bytes are not a whole point (a point header is " +
                            std::to_string(h.m_pointHeaderSize) + " bytes)";
    }
}

void SiteFileReader::LoadPoints(CSiteHeader& header, CRecordList& list,
                                std::vector<PointCircle>& circles) {
    m_refused.clear();
    if (m_source) {
        RecordBuilder builder(list, circles, m_mapWidth, m_mapHeight, m_refused);
        VisitPoints(builder, header);
    }
}

std::unique_ptr<CSiteHeader> SiteFileReader::TakeHeader() {
    return std::move(m_header);
}

std::unique_ptr<CSiteHeader> TakeSite(SiteFileReader& reader, bool keepPoints, CRecordList& list,
                                      std::vector<PointCircle>& circles) {
    std::unique_ptr<CSiteHeader> header = reader.TakeHeader();
    if (!header) {
        return nullptr;
    }
    list.Clear();
    if (keepPoints) {
        reader.LoadPoints(*header, list, circles);
    }
    return header;
}

}  // namespace sitefile
