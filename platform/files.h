// Small file operations that several subsystems need alike.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace platform {

// Moves the file at `path` aside to `path + suffix`, or, when that name is
// taken, to `path + suffix + ".2"`, ".3", ... : an earlier copy is never
// replaced. `aside` is the name it now has. False with the system's reason
// when it cannot be moved (a missing file included).
bool MoveAsideNumbered(const std::string& path, const std::string& suffix, std::string& aside,
                       std::string& error);
// The same, but the file stays where it is and `aside` names a copy of it,
// byte for byte: a second link to it where the file system allows, else a
// copy of its bytes with the same permission bits.
bool CopyAsideNumbered(const std::string& path, const std::string& suffix, std::string& aside,
                       std::string& error);

// The largest recording replayed or decoded whole (saved Wi-Fi scans, wire
// traces, captures): more would not fit in memory beside everything else.
constexpr uint64_t kMaxReplayFileBytes = uint64_t{256} << 20;

// `what` and the system's text for errno.
std::string WithSystemError(const std::string& what);

// Writes all of `data` at the file's position, or at `offset`; false (errno
// set) when it cannot.
bool WriteAll(int fd, const void* data, size_t size);
bool WriteAllAt(int fd, const void* data, size_t size, uint64_t offset);

// What ReplaceFile is to check and what it tells about the file it wrote.
struct Replacement {
    // When set, the file to be replaced must still be this device and inode
    // right before the rename; else nothing is replaced and `changed` is set.
    bool expectFile = false;
    uint64_t device = 0;
    uint64_t inode = 0;
    bool changed = false;
    // Permission bits for the new file; else an existing file's carry over.
    std::optional<unsigned> mode;
    // The new file's device and inode, after a successful replacement.
    uint64_t newDevice = 0;
    uint64_t newInode = 0;
};

// Writes a new file beside `path` with `fill`, flushes it and renames it over
// `path` (the file a symbolic link names, for a link). An existing file's
// permissions carry over unless replacement.mode gives them. Only a regular
// file is ever replaced. On failure nothing but the temporary file was
// touched, and it is removed; `detail` says why.
bool ReplaceFile(const std::string& path, const std::function<bool(int fd, std::string&)>& fill,
                 std::string& detail, Replacement& replacement);

// Replaces (or creates) `path` with `bytes` that way.
bool ReplaceFileContents(const std::string& path, const std::vector<uint8_t>& bytes,
                         std::string& detail, std::optional<unsigned> mode = std::nullopt);

// The one way a tool or a script writes an output it was given a name for:
// "-" is standard output; a regular file, or a name that is free, is
// replaced atomically (ReplaceFileContents); a character device or a named
// pipe is written to as it is (a pipe nobody reads is refused, not waited
// on); a folder, a block device, a socket or a link to nothing is refused.
// Nothing but a regular file is ever replaced, nothing is ever removed.
// False with "PATH: why" in `error`.
bool WriteOutputFile(const std::string& path, const void* data, size_t size, std::string& error);

// Whether the two names are one existing file (the same device and inode).
bool SameFile(const std::string& a, const std::string& b);

// The permission bits (rw only) of the file at `path`, for files that hold
// what it holds; none when it cannot be examined.
std::optional<unsigned> ReadWriteBitsOf(const std::string& path);

}  // namespace platform
