#include "platform/files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace platform {

namespace {
constexpr int kMaxAsideCopies = 10000;
}

bool MoveAsideNumbered(const std::string& path, const std::string& suffix, std::string& aside,
                       std::string& error) {
    for (int n = 1; n <= kMaxAsideCopies; ++n) {
        const std::string candidate = path + suffix + (n == 1 ? "" : "." + std::to_string(n));
        // Linking never replaces a name that exists; the old name then goes.
        if (::link(path.c_str(), candidate.c_str()) == 0) {
            if (::unlink(path.c_str()) != 0) {
                error = path + ": cannot be moved aside (" + std::strerror(errno) + ")";
                ::unlink(candidate.c_str());
                return false;
            }
            aside = candidate;
            return true;
        }
        if (errno == EEXIST) {
            continue;
        }
        if (errno == EPERM || errno == EXDEV || errno == ENOTSUP || errno == EOPNOTSUPP) {
            // A file system without hard links: rename, after checking the name is free.
            struct stat st {};
            if (::lstat(candidate.c_str(), &st) == 0) {
                continue;
            }
            if (std::rename(path.c_str(), candidate.c_str()) == 0) {
                aside = candidate;
                return true;
            }
        }
        error = path + ": cannot be moved aside (" + std::strerror(errno) + ")";
        return false;
    }
    error = path + ": cannot be moved aside (" + std::to_string(kMaxAsideCopies) +
            " copies are there already)";
    return false;
}

std::optional<unsigned> ReadWriteBitsOf(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        return std::nullopt;
    }
    return static_cast<unsigned>(st.st_mode & 0666);
}

}  // namespace platform
