#include "platform/files.h"

#include <fcntl.h>
#include <libgen.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
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

std::string WithSystemError(const std::string& what) {
    return what + ": " + std::strerror(errno);
}

namespace {

// Writes all of `size` bytes through `writeSome` (one write or pwrite, which
// may write fewer), again after an interruption; false with errno set.
template <typename WriteSome>
bool WriteFully(const void* bytes, size_t size, WriteSome writeSome) {
    const auto* data = static_cast<const uint8_t*>(bytes);
    while (size > 0) {
        const ssize_t n = writeSome(data, size);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            if (n == 0) {
                errno = EIO;
            }
            return false;
        }
        data += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

}  // namespace

bool WriteAll(int fd, const void* data, size_t size) {
    return WriteFully(data, size, [fd](const uint8_t* p, size_t n) { return ::write(fd, p, n); });
}

bool WriteAllAt(int fd, const void* data, size_t size, uint64_t offset) {
    return WriteFully(data, size, [fd, &offset](const uint8_t* p, size_t n) {
        const ssize_t written = ::pwrite(fd, p, n, static_cast<off_t>(offset));
        offset += written > 0 ? static_cast<uint64_t>(written) : 0;
        return written;
    });
}

bool ReplaceFile(const std::string& path, const std::function<bool(int fd, std::string&)>& fill,
                 std::string& detail, Replacement& replacement) {
    std::string target = path;
    if (char* resolved = ::realpath(path.c_str(), nullptr)) {
        target = resolved;
        std::free(resolved);
    }
    std::vector<char> dirBuffer(target.begin(), target.end());
    dirBuffer.push_back('\0');
    const std::string directory = ::dirname(dirBuffer.data());
    std::vector<char> baseBuffer(target.begin(), target.end());
    baseBuffer.push_back('\0');
    const std::string base = ::basename(baseBuffer.data());

    std::string temp = directory + "/." + base + ".XXXXXX";
    std::vector<char> tempBuffer(temp.begin(), temp.end());
    tempBuffer.push_back('\0');
    const int fd = ::mkostemp(tempBuffer.data(), O_CLOEXEC);
    if (fd < 0) {
        detail = WithSystemError("cannot create a file in " + directory);
        return false;
    }
    temp = tempBuffer.data();

    mode_t mode = 0666 & ~[] {
        const mode_t mask = ::umask(0);
        ::umask(mask);
        return mask;
    }();
    struct stat st {};
    if (replacement.mode) {
        mode = static_cast<mode_t>(*replacement.mode & 07777);
    } else if (::stat(target.c_str(), &st) == 0) {
        mode = st.st_mode & 07777;
    }

    bool ok = fill(fd, detail);
    if (ok && ::fchmod(fd, mode) != 0) {
        ok = false;
        detail = WithSystemError("cannot set the permissions of " + temp);
    }
    if (ok && ::fsync(fd) != 0) {
        ok = false;
        detail = WithSystemError("cannot flush " + temp);
    }
    struct stat written {};
    if (ok && ::fstat(fd, &written) != 0) {
        ok = false;
        detail = WithSystemError("cannot examine " + temp);
    }
    if (::close(fd) != 0 && ok) {
        ok = false;
        detail = WithSystemError("cannot close " + temp);
    }
    if (ok && replacement.expectFile) {
        // The last look before the rename: the file there now must be the
        // one the caller checked.
        struct stat now {};
        if (::stat(target.c_str(), &now) != 0 ||
            static_cast<uint64_t>(now.st_dev) != replacement.device ||
            static_cast<uint64_t>(now.st_ino) != replacement.inode) {
            ok = false;
            replacement.changed = true;
            detail = target + " was replaced while the new file was written";
        }
    }
    struct stat there {};
    if (ok && ::lstat(target.c_str(), &there) == 0 && !S_ISREG(there.st_mode)) {
        // Only a regular file is replaced: never a device, a pipe or a folder.
        ok = false;
        detail = target + " is not a regular file";
    }
    if (ok && ::rename(temp.c_str(), target.c_str()) != 0) {
        ok = false;
        detail = WithSystemError("cannot replace " + target);
    }
    if (!ok) {
        ::unlink(temp.c_str());
        return false;
    }
    replacement.newDevice = static_cast<uint64_t>(written.st_dev);
    replacement.newInode = static_cast<uint64_t>(written.st_ino);
    // Make the rename itself durable.
    const int dirFd = ::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd >= 0) {
        ::fsync(dirFd);
        ::close(dirFd);
    }
    return true;
}

bool ReplaceFileContents(const std::string& path, const std::vector<uint8_t>& bytes,
                         std::string& detail, std::optional<unsigned> mode) {
    Replacement anyFile;
    anyFile.mode = mode;
    return ReplaceFile(
        path,
        [&](int fd, std::string& error) {
            if (!WriteAllAt(fd, bytes.data(), bytes.size(), 0)) {
                error = WithSystemError("cannot write the new file");
                return false;
            }
            return true;
        },
        detail, anyFile);
}

namespace {

// Writes to a device or a pipe as it is: no temporary file, no rename.
bool WriteInPlace(const std::string& path, const uint8_t* data, size_t size, std::string& error) {
    // Non-blocking, so that a pipe nobody reads fails at once instead of
    // holding the program; blocking again for the writes themselves.
    const int fd = ::open(path.c_str(), O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        error = errno == ENXIO ? path + ": nothing reads from it" : WithSystemError(path);
        return false;
    }
    const int flags = ::fcntl(fd, F_GETFL);
    bool ok =
        flags >= 0 && ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) == 0 && WriteAll(fd, data, size);
    if (!ok) {
        error = WithSystemError(path + ": cannot be written");
    }
    if (::close(fd) != 0 && ok) {
        ok = false;
        error = WithSystemError(path + ": cannot be written");
    }
    return ok;
}

}  // namespace

bool WriteOutputFile(const std::string& path, const void* data, size_t size, std::string& error) {
    const auto* bytes = static_cast<const uint8_t*>(data);
    if (path == "-") {
        if (!WriteAll(STDOUT_FILENO, bytes, size)) {
            error = WithSystemError("standard output: cannot be written");
            return false;
        }
        return true;
    }
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        struct stat link {};
        if (errno != ENOENT || (::lstat(path.c_str(), &link) == 0 && S_ISLNK(link.st_mode))) {
            error = errno == ENOENT ? path + ": a symbolic link to nothing" : WithSystemError(path);
            return false;
        }
        st.st_mode = S_IFREG;  // a new name
    }
    if (S_ISCHR(st.st_mode) || S_ISFIFO(st.st_mode)) {
        return WriteInPlace(path, bytes, size, error);
    }
    if (!S_ISREG(st.st_mode)) {
        error = path + (S_ISDIR(st.st_mode) ? ": is a folder"
                                            : ": not a file, a device or a pipe to write to");
        return false;
    }
    std::string detail;
    if (!ReplaceFileContents(path, std::vector<uint8_t>(bytes, bytes + size), detail)) {
        error = path + ": " + detail;
        return false;
    }
    return true;
}

bool SameFile(const std::string& a, const std::string& b) {
    struct stat first {};
    struct stat second {};
    return ::stat(a.c_str(), &first) == 0 && ::stat(b.c_str(), &second) == 0 &&
           first.st_dev == second.st_dev && first.st_ino == second.st_ino;
}

std::optional<unsigned> ReadWriteBitsOf(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        return std::nullopt;
    }
    return static_cast<unsigned>(st.st_mode & 0666);
}

}  // namespace platform
