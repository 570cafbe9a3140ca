#include "sitefile/site_writer.h"

#include <fcntl.h>
#include <libgen.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>

#include "platform/clock.h"
#include "platform/files.h"
#include "platform/text.h"

namespace sitefile {

namespace {

// A group holds at most this many entries: its count is 16-bit. A longer run
// at one position continues in a new group at the same position.
constexpr uint16_t kMaxGroupEntries = 0xFFFF;

void Append(std::vector<uint8_t>& out, const uint8_t* bytes, size_t n) {
    out.insert(out.end(), bytes, bytes + n);
}

// Copies a text into a field of `size` bytes, zero-filling the rest. A text
// too long for the field is cut without splitting a character.
void PutText(uint8_t* field, size_t size, const char* text, size_t textCapacity) {
    const size_t length = strnlen(text, textCapacity);
    const size_t n = platform::FittingPrefixLength(text, length, size);
    std::memcpy(field, text, n);
    std::memset(field + n, 0, size - n);
}

// Copies the first `size` bytes of `from` to the start of `to`, inside the
// kernel where it can, through a buffer otherwise.
bool CopyPrefix(int from, int to, uint64_t size) {
    loff_t in = 0;
    loff_t out = 0;
    while (static_cast<uint64_t>(in) < size) {
        const ssize_t n = ::copy_file_range(from, &in, to, &out, size - in, 0);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n > 0) {
            continue;
        }
        if (n == 0) {
            return false;  // the file got shorter
        }
        break;  // not supported here: copy the rest by hand
    }
    std::vector<uint8_t> buffer(1 << 20);
    while (static_cast<uint64_t>(in) < size) {
        const size_t want = static_cast<size_t>(std::min<uint64_t>(buffer.size(), size - in));
        const ssize_t n = ::pread(from, buffer.data(), want, in);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0 || !platform::WriteAllAt(to, buffer.data(), static_cast<size_t>(n), in)) {
            return false;
        }
        in += n;
    }
    return true;
}

// A file nobody may write to (no write permission bit at all, which binds
// even the superuser here), or that this process may not write to.
bool IsReadOnly(const std::string& path, int fd) {
    struct stat st {};
    if (::fstat(fd, &st) == 0 && (st.st_mode & 0222) == 0) {
        return true;
    }
    return ::access(path.c_str(), W_OK) != 0 && (errno == EACCES || errno == EROFS);
}

}  // namespace

void WriteRaster(uint8_t* out, const PixelQuery& pad) {
    for (int row = kRasterHeight - 1; row >= 0; --row) {
        for (int column = 0; column < kRasterWidth; ++column) {
            WriteU32(out, pad ? pad(column, row) : kRasterWhite);
            out += 4;
        }
    }
}

void AppendPointsSection(CSiteHeader& header, CRecordList& list, std::vector<uint8_t>& out) {
    header.m_pointHeaderSize = kPointHeaderSize;
    header.m_apEntrySize = kApEntrySize;
    uint8_t sizes[8];
    WriteU32(sizes, header.m_pointHeaderSize);
    WriteU32(sizes + 4, header.m_apEntrySize);
    Append(out, sizes, sizeof sizes);

    bool open = false;
    size_t groupPosition = 0;
    uint16_t groupCount = 0;
    int32_t groupX = 0;
    int32_t groupY = 0;
    auto closeGroup = [&] {
        WriteU16(header.m_pointBuf + kPointEntryCountOffset, groupCount);
        std::memcpy(out.data() + groupPosition, header.m_pointBuf, kPointHeaderSize);
    };

    ApRecord* r = nullptr;
    for (int rc = list.GetAt(1, r); rc != -2; rc = list.GetNext(r)) {
        const bool belongs = open && r->x == groupX && r->y == groupY && r->channel != 0 &&
                             groupCount < kMaxGroupEntries;
        if (!belongs) {
            if (open) {
                closeGroup();
            }
            uint8_t* p = header.m_pointBuf;
            WriteU32(p, static_cast<uint32_t>(r->x));
            WriteU32(p + 4, static_cast<uint32_t>(r->y));
            PutText(p + 8, kPointNameSize, r->pointName, sizeof r->pointName);
            WriteU16(p + kPointEntryCountOffset, 0);
            groupPosition = out.size();
            Append(out, p, kPointHeaderSize);
            open = true;
            groupCount = 0;
            groupX = r->x;
            groupY = r->y;
        }
        if (r->channel == 0) {
            continue;  // a marker record: its point header says it all
        }
        uint8_t* e = header.m_apBuf;
        e[0] = static_cast<uint8_t>(r->channel);
        // rssi x 256 as a signed 16-bit value: low byte 0, high byte the dBm.
        const int dbm = std::clamp<int>(r->rssi, INT8_MIN, INT8_MAX);
        e[kEntryRssiOffset] = 0;
        e[kEntryRssiOffset + 1] = static_cast<uint8_t>(static_cast<int8_t>(dbm));
        std::memcpy(e + kEntryMacOffset, r->mac, sizeof r->mac);
        PutText(e + kEntrySsidOffset, kEntrySsidSize, r->ssid, sizeof r->ssid);
        Append(out, e, kApEntrySize);
        ++groupCount;
    }
    if (open) {
        closeGroup();
    }
}

bool PlanSave(CSiteHeader& header, ByteSource& old, CRecordList& list, const PixelQuery& pad,
              uint32_t saveTime, SavePlan& plan, std::string& detail) {
    if (!CheckSiteLayout(old, header.m_fileHeader, detail)) {
        return false;
    }
    const uint64_t oldSize = old.Size();
    const uint64_t rasterOffset = ReadU32(header.m_fileHeader + kRasterOffsetOffset);
    const uint64_t pointsOffset = ReadU32(header.m_fileHeader + kPointsOffsetOffset);
    WriteU32(header.m_fileHeader + kSaveTimeOffset, saveTime);
    plan = SavePlan{};
    // The bytes an update in place would leave: the old file up to the points
    // offset (a file that ends inside its raster is extended by the raster
    // itself), the header image over its start, the raster at its offset,
    // then the new points section.
    plan.keep = std::min(oldSize, pointsOffset);
    plan.length = pointsOffset;
    plan.writes.push_back(
        {0, std::vector<uint8_t>(header.m_fileHeader, header.m_fileHeader + kFileHeaderSize)});
    std::vector<uint8_t> raster(kRasterSize);
    WriteRaster(raster.data(), pad);
    plan.writes.push_back({rasterOffset, std::move(raster)});
    std::vector<uint8_t> points;
    AppendPointsSection(header, list, points);
    plan.length = pointsOffset + points.size();
    plan.writes.push_back({pointsOffset, std::move(points)});
    return true;
}

void ApplySavePlan(const SavePlan& plan, const uint8_t* old, std::vector<uint8_t>& out) {
    out.assign(old, old + plan.keep);
    out.resize(plan.length, 0);
    for (const SavePlan::Write& write : plan.writes) {
        std::memcpy(out.data() + write.offset, write.bytes.data(), write.bytes.size());
    }
}

bool BuildSavedFile(const uint8_t* old, size_t oldSize, CSiteHeader& header, CRecordList& list,
                    const PixelQuery& pad, uint32_t saveTime, std::vector<uint8_t>& out,
                    std::string& detail) {
    MemoryByteSource source(old, oldSize);
    SavePlan plan;
    if (!PlanSave(header, source, list, pad, saveTime, plan, detail)) {
        return false;
    }
    ApplySavePlan(plan, old, out);
    return true;
}

namespace {

// The save of the open site at `path` (as `opened` names it) written to
// `newPath`: over the site itself when they are the same name.
bool SaveTo(const std::string& path, const std::string& newPath, CSiteHeader& header,
            CRecordList& list, const PixelQuery& pad, uint32_t saveTime, FileIdentity& opened,
            SaveError& error) {
    error = SaveError{SiteErrorKind::kCannotSave, std::string()};
    if (path.empty()) {
        error.detail = "no site file is open";
        return false;
    }
    // From here on every failure says why, on the message's second line.
    error.kind = SiteErrorKind::kCannotWrite;
    // The file a symbolic link names is the one replaced. Resolved once, so
    // the checks below and the replacement look at the same file.
    char* resolved = ::realpath(path.c_str(), nullptr);
    if (resolved == nullptr) {
        error.detail = platform::WithSystemError(path);
        return false;
    }
    const std::string target = resolved;
    std::free(resolved);
    std::string systemText;
    std::unique_ptr<FileByteSource> old = FileByteSource::Open(target, systemText);
    if (!old) {
        error.detail = target + ": " + systemText;
        return false;
    }

    // Only the file that was opened, as it was, may be replaced: another
    // file put in its place (or a link pointed elsewhere) would be lost, and
    // the header kept from the open may not even describe it.
    FileIdentity now;
    if (!IdentifySiteFile(*old, header.m_fileHeader, now)) {
        error.detail = target + " cannot be read as far as its size says";
        return false;
    }
    if (now != opened) {
        error.kind = SiteErrorKind::kSiteChanged;
        error.detail = target + " is not the file that was opened, as it was";
        return false;
    }
    const bool elsewhere = newPath != path && !platform::SameFile(path, newPath);
    std::string destination = target;
    if (elsewhere) {
        // Another file: replaced when it is a regular file that may be
        // written, created when there is none.
        char* other = ::realpath(newPath.c_str(), nullptr);
        destination = other != nullptr ? other : newPath;
        std::free(other);
        struct stat st {};
        if (::stat(destination.c_str(), &st) == 0 &&
            (!S_ISREG(st.st_mode) || (st.st_mode & 0222) == 0)) {
            error.kind = S_ISREG(st.st_mode) ? SiteErrorKind::kReadOnlySite : error.kind;
            error.detail = destination + (S_ISREG(st.st_mode) ? " is read-only" : " is not a file");
            return false;
        }
    } else if (IsReadOnly(target, old->Descriptor())) {
        error.kind = SiteErrorKind::kReadOnlySite;
        error.detail = target + " is read-only";
        return false;
    }

    SavePlan plan;
    if (!PlanSave(header, *old, list, pad, saveTime, plan, error.detail)) {
        return false;
    }
    platform::Replacement replacement;
    replacement.expectFile = !elsewhere;
    replacement.device = now.device;
    replacement.inode = now.inode;
    if (elsewhere) {
        // The survey keeps the permissions of the site it came from.
        replacement.mode = platform::ReadWriteBitsOf(target);
    }
    const int from = old->Descriptor();
    const bool ok = platform::ReplaceFile(
        destination,
        [&](int fd, std::string& detail) {
            bool written = CopyPrefix(from, fd, plan.keep);
            for (const SavePlan::Write& write : plan.writes) {
                written = written && platform::WriteAllAt(fd, write.bytes.data(),
                                                          write.bytes.size(), write.offset);
            }
            if (!written) {
                detail = platform::WithSystemError("cannot write the new site file");
            }
            return written;
        },
        error.detail, replacement);
    if (!ok) {
        if (replacement.changed) {
            error.kind = SiteErrorKind::kSiteChanged;
        }
        return false;
    }
    // The saved file is the one the next save must find; what it keeps of
    // the old file was copied unchanged.
    opened.device = replacement.newDevice;
    opened.inode = replacement.newInode;
    opened.size = plan.length;
    return true;
}

}  // namespace

bool SaveSite(const std::string& path, CSiteHeader& header, CRecordList& list,
              const PixelQuery& pad, uint32_t saveTime, FileIdentity& opened, SaveError& error) {
    return SaveTo(path, path, header, list, pad, saveTime, opened, error);
}

bool SaveSiteAs(const std::string& path, const std::string& newPath, CSiteHeader& header,
                CRecordList& list, const PixelQuery& pad, FileIdentity& opened, SaveError& error) {
    if (newPath.empty()) {
        error = SaveError{SiteErrorKind::kCannotWrite, "no file name to save to"};
        return false;
    }
    return SaveTo(path, newPath, header, list, pad, platform::CurrentTimeSeconds(), opened, error);
}

bool SaveSite(const std::string& path, CSiteHeader& header, CRecordList& list,
              const PixelQuery& pad, FileIdentity& opened, SaveError& error) {
    return SaveSite(path, header, list, pad, platform::CurrentTimeSeconds(), opened, error);
}

std::vector<uint8_t> BuildNewSiteFile(const SiteMap& map) {
    const size_t stride = (static_cast<size_t>(map.width) + 3) / 4 * 4;
    const size_t imageSize = stride * static_cast<size_t>(map.height);
    const size_t bitmapOffset = kFileHeaderSize;
    const size_t rasterOffset = bitmapOffset + kBitmapPixelsOffset + imageSize;
    const size_t pointsOffset = rasterOffset + kRasterSize;

    std::vector<uint8_t> out(pointsOffset, 0);
    uint8_t* h = out.data();
    WriteU32(h + kHeaderLengthOffset, kFileHeaderSize);
    WriteU32(h + kMagicOffset, kMagic);
    WriteU16(h + kVersionOffset, kCurrentVersion);
    WriteU32(h + kBitmapOffsetOffset, static_cast<uint32_t>(bitmapOffset));
    WriteU32(h + kRasterOffsetOffset, static_cast<uint32_t>(rasterOffset));
    WriteU32(h + kPointsOffsetOffset, static_cast<uint32_t>(pointsOffset));

    uint8_t* b = out.data() + bitmapOffset;  // bitmap file header
    b[0] = 'B';
    b[1] = 'M';
    WriteU32(b + 2, static_cast<uint32_t>(kBitmapPixelsOffset + imageSize));
    WriteU32(b + 10, static_cast<uint32_t>(kBitmapPixelsOffset));
    uint8_t* info = b + kBitmapFileHeaderSize;
    WriteU32(info, kBitmapInfoHeaderSize);
    WriteU32(info + 4, static_cast<uint32_t>(map.width));
    WriteU32(info + 8, static_cast<uint32_t>(map.height));  // positive: bottom row first
    WriteU16(info + 12, 1);                                 // planes
    WriteU16(info + 14, 8);                                 // bits per pixel
    WriteU32(info + 20, static_cast<uint32_t>(imageSize));
    WriteU32(info + 24, 2835);  // 72 dots per inch
    WriteU32(info + 28, 2835);
    WriteU32(info + 32, kColorTableEntries);
    uint8_t* table = info + kBitmapInfoHeaderSize;
    for (size_t i = 0; i < kColorTableEntries; ++i) {
        const uint32_t c = map.colors[i];
        table[4 * i] = static_cast<uint8_t>(c);
        table[4 * i + 1] = static_cast<uint8_t>(c >> 8);
        table[4 * i + 2] = static_cast<uint8_t>(c >> 16);
    }
    uint8_t* pixels = b + kBitmapPixelsOffset;
    for (int32_t y = 0; y < map.height; ++y) {
        const size_t fileRow = static_cast<size_t>(map.height - 1 - y);
        std::memcpy(pixels + fileRow * stride, map.Row(y), std::min(stride, map.stride));
    }
    WriteRaster(out.data() + rasterOffset, nullptr);

    CSiteHeader header;
    CRecordList none;
    AppendPointsSection(header, none, out);
    return out;
}

}  // namespace sitefile
