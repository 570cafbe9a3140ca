// Files of saved scans (kscan --save-dump, kestrow --wifi-save-dump): read
// whole within a bound checked before anything is allocated, and appended to
// one saved scan at a time.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace wifi {

// The largest file of saved scans any tool reads.
constexpr uint64_t kMaxDumpFileBytes = 256u << 20;

// Reads a file of saved scans. False with a one-line reason for a file that
// is missing, not a regular file, larger than kMaxDumpFileBytes or unreadable.
bool ReadDumpFile(const std::string& path, std::vector<uint8_t>& bytes, std::string& error);

// Appends the bytes to the file (created if need be) and flushes them to
// disk. A write that fails leaves the file as it was, as far as the system
// lets it be truncated back.
bool AppendDumpFile(const std::string& path, const std::vector<uint8_t>& bytes, std::string& error);

}  // namespace wifi
