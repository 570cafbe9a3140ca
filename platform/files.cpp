#include "platform/files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <functional>

namespace platform {

namespace {

constexpr int kMaxAsideCopies = 10000;

std::string Reason(const std::string& path, const char* what) {
    return path + ": cannot be " + what + " (" + std::strerror(errno) + ")";
}

// Links without hard links fail so on some file systems (FAT, some network ones).
bool NoHardLinks(int error) {
    return error == EPERM || error == EXDEV || error == ENOTSUP || error == EOPNOTSUPP;
}

// Copies the bytes of `from` into the new file `to` (which must not exist).
// False, with errno set and no new file left, when it cannot.
bool CopyToNewFile(const std::string& from, const std::string& to) {
    const int in = ::open(from.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (in < 0) {
        return false;
    }
    struct stat st {};
    if (::fstat(in, &st) != 0 || !S_ISREG(st.st_mode)) {
        const int saved = errno == 0 ? EINVAL : errno;
        ::close(in);
        errno = saved;
        return false;
    }
    const int out = ::open(to.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (out < 0) {
        const int saved = errno;
        ::close(in);
        errno = saved;
        return false;
    }
    bool ok = ::fchmod(out, st.st_mode & 07777) == 0;
    char buffer[1 << 16];
    while (ok) {
        const ssize_t n = ::read(in, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            ok = n == 0;
            break;
        }
        for (ssize_t done = 0; ok && done < n;) {
            const ssize_t w = ::write(out, buffer + done, static_cast<size_t>(n - done));
            if (w < 0 && errno == EINTR) {
                continue;
            }
            ok = w > 0;
            done += w > 0 ? w : 0;
        }
    }
    ok = ok && ::fsync(out) == 0;
    const int saved = errno;
    ::close(in);
    if (::close(out) != 0) {
        ok = false;
    }
    if (!ok) {
        ::unlink(to.c_str());
        errno = saved == 0 ? EIO : saved;
    }
    return ok;
}

// Tries `place` on each numbered name in turn until one is free; `place`
// answers 0 when done, EEXIST when the name is taken, else an errno.
bool PlaceNumbered(const std::string& path, const std::string& suffix, const char* what,
                   std::string& aside, std::string& error,
                   const std::function<int(const std::string&)>& place) {
    for (int n = 1; n <= kMaxAsideCopies; ++n) {
        const std::string candidate = path + suffix + (n == 1 ? "" : "." + std::to_string(n));
        const int result = place(candidate);
        if (result == 0) {
            aside = candidate;
            return true;
        }
        if (result != EEXIST) {
            errno = result;
            error = Reason(path, what);
            return false;
        }
    }
    error = path + ": cannot be " + what + " (" + std::to_string(kMaxAsideCopies) +
            " copies are there already)";
    return false;
}

// Whether a name is taken, for the ways of placing that cannot tell.
bool Taken(const std::string& name) {
    struct stat st {};
    return ::lstat(name.c_str(), &st) == 0;
}

}  // namespace

bool MoveAsideNumbered(const std::string& path, const std::string& suffix, std::string& aside,
                       std::string& error) {
    return PlaceNumbered(path, suffix, "moved aside", aside, error, [&](const std::string& name) {
        // Linking never replaces a name that exists; the old name then goes.
        if (::link(path.c_str(), name.c_str()) == 0) {
            if (::unlink(path.c_str()) != 0) {
                const int saved = errno;
                ::unlink(name.c_str());
                return saved;
            }
            return 0;
        }
        if (errno != EEXIST && NoHardLinks(errno)) {
            if (Taken(name)) {
                return EEXIST;
            }
            return std::rename(path.c_str(), name.c_str()) == 0 ? 0 : errno;
        }
        return errno;
    });
}

bool CopyAsideNumbered(const std::string& path, const std::string& suffix, std::string& aside,
                       std::string& error) {
    return PlaceNumbered(path, suffix, "copied aside", aside, error, [&](const std::string& name) {
        if (::link(path.c_str(), name.c_str()) == 0) {
            return 0;
        }
        if (errno != EEXIST && NoHardLinks(errno)) {
            return CopyToNewFile(path, name) ? 0 : errno;
        }
        return errno;
    });
}

std::optional<unsigned> ReadWriteBitsOf(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        return std::nullopt;
    }
    return static_cast<unsigned>(st.st_mode & 0666);
}

}  // namespace platform
