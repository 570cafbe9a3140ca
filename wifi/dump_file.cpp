#include "wifi/dump_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace wifi {

namespace {

std::string Megabytes(uint64_t bytes) {
    return std::to_string((bytes + (1u << 20) - 1) >> 20) + " MB";
}

}  // namespace

bool ReadDumpFile(const std::string& path, std::vector<uint8_t>& bytes, std::string& error) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        error = "cannot open " + path + ": " + std::strerror(errno);
        return false;
    }
    struct stat info {};
    bool ok = ::fstat(fd, &info) == 0;
    if (ok && !S_ISREG(info.st_mode)) {
        error = path + " is not a regular file";
        ok = false;
    } else if (ok && static_cast<uint64_t>(info.st_size) > kMaxDumpFileBytes) {
        error = path + " is " + Megabytes(static_cast<uint64_t>(info.st_size)) +
                ", more than the " + Megabytes(kMaxDumpFileBytes) +
                " a file of saved scans may hold: split it, or save fewer scans to one file";
        ok = false;
    }
    size_t done = 0;
    if (ok) {
        bytes.assign(static_cast<size_t>(info.st_size), 0);
    }
    while (ok && done < bytes.size()) {
        const ssize_t n = ::read(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            error = "cannot read " + path + ": " + std::strerror(errno);
            ok = false;
        } else if (n == 0) {
            bytes.resize(done);  // it shrank while being read
            break;
        } else {
            done += static_cast<size_t>(n);
        }
    }
    ::close(fd);
    return ok;
}

bool AppendDumpFile(const std::string& path, const std::vector<uint8_t>& bytes,
                    std::string& error) {
    // Without a reader a FIFO would block the open: O_NONBLOCK makes it fail.
    const int fd =
        ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC | O_NONBLOCK, 0644);
    if (fd < 0) {
        error = "cannot write " + path + ": " + std::strerror(errno);
        return false;
    }
    struct stat info {};
    const bool regular = ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode);
    size_t done = 0;
    int writeErrno = 0;
    while (regular && done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            writeErrno = n < 0 ? errno : ENOSPC;
            break;
        }
        done += static_cast<size_t>(n);
    }
    bool ok = regular && done == bytes.size();
    if (ok && ::fsync(fd) != 0) {
        writeErrno = errno;
        ok = false;
    }
    if (!ok && regular && ::ftruncate(fd, info.st_size) != 0) {
        // The partial scan stays; a reader reports it as cut.
    }
    ::close(fd);
    if (!ok) {
        error = regular ? "cannot write " + path + ": " + std::strerror(writeErrno)
                        : path + " is not a regular file";
    }
    return ok;
}

}  // namespace wifi
