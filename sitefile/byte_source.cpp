#include "sitefile/byte_source.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace {
constexpr size_t kBufferSize = 64 * 1024;
}

size_t MemoryByteSource::Read(void* out, size_t n) {
    if (m_position >= m_size) {
        return 0;
    }
    const size_t count = std::min<uint64_t>(n, m_size - m_position);
    std::memcpy(out, m_data + m_position, count);
    m_position += count;
    return count;
}

bool MemoryByteSource::Seek(uint64_t position) {
    m_position = position;
    return true;
}

FileByteSource::~FileByteSource() {
    ::close(m_fd);
}

std::unique_ptr<FileByteSource> FileByteSource::Open(const std::string& path, std::string& error) {
    // Non-blocking, so a named pipe chosen by mistake fails below instead of
    // waiting for a writer; reads of a plain file never block either way.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) {
        error = std::strerror(errno);
        return nullptr;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        error = std::strerror(errno);
        ::close(fd);
        return nullptr;
    }
    if (!S_ISREG(st.st_mode)) {
        // Only a plain file has a size to check offsets against.
        error = S_ISDIR(st.st_mode)                          ? std::strerror(EISDIR)
                : S_ISFIFO(st.st_mode)                       ? "a named pipe, not a regular file"
                : S_ISCHR(st.st_mode) || S_ISBLK(st.st_mode) ? "a device, not a regular file"
                                                             : "not a regular file";
        ::close(fd);
        return nullptr;
    }
    return std::unique_ptr<FileByteSource>(new FileByteSource(fd, static_cast<uint64_t>(st.st_size),
                                                              static_cast<uint64_t>(st.st_dev),
                                                              static_cast<uint64_t>(st.st_ino)));
}

bool FileByteSource::FileId(uint64_t& device, uint64_t& inode) const {
    device = m_device;
    inode = m_inode;
    return true;
}

size_t FileByteSource::ReadAt(uint64_t position, uint8_t* out, size_t n) {
    size_t done = 0;
    while (done < n) {
        const ssize_t got =
            ::pread(m_fd, out + done, n - done, static_cast<off_t>(position + done));
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            break;
        }
        done += static_cast<size_t>(got);
    }
    return done;
}

size_t FileByteSource::Read(void* out, size_t n) {
    if (m_position >= m_size) {
        return 0;
    }
    uint8_t* dest = static_cast<uint8_t*>(out);
    size_t done = 0;
    while (done < n) {
        // Serve from the buffer when it holds the current position.
        if (m_position >= m_bufferStart && m_position < m_bufferStart + m_buffer.size()) {
            const size_t offset = static_cast<size_t>(m_position - m_bufferStart);
            const size_t count = std::min(n - done, m_buffer.size() - offset);
            std::memcpy(dest + done, m_buffer.data() + offset, count);
            done += count;
            m_position += count;
            continue;
        }
        const size_t rest = n - done;
        if (rest >= kBufferSize) {
            const size_t got = ReadAt(m_position, dest + done, rest);
            done += got;
            m_position += got;
            break;
        }
        m_buffer.resize(kBufferSize);
        const size_t got = ReadAt(m_position, m_buffer.data(), kBufferSize);
        m_buffer.resize(got);
        m_bufferStart = m_position;
        if (got == 0) {
            break;
        }
    }
    return done;
}

bool FileByteSource::Seek(uint64_t position) {
    m_position = position;
    return true;
}
