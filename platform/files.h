// Small file operations that several subsystems need alike.
#pragma once

#include <optional>
#include <string>

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

// The permission bits (rw only) of the file at `path`, for files that hold
// what it holds; none when it cannot be examined.
std::optional<unsigned> ReadWriteBitsOf(const std::string& path);

}  // namespace platform
