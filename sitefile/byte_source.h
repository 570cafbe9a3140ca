// Where the site-file reader takes its bytes from: a file on disk or a block
// of memory (tests and the fuzzer).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class ByteSource {
  public:
    virtual ~ByteSource() = default;
    // Copies up to n bytes from the current position and moves past them;
    // answers how many were delivered (fewer only at the end or on an error).
    virtual size_t Read(void* out, size_t n) = 0;
    // Moves to an absolute position; a position past the end is allowed and
    // makes the next read deliver nothing. False only on an error.
    virtual bool Seek(uint64_t position) = 0;
    virtual uint64_t Position() const = 0;
    virtual uint64_t Size() const = 0;
    // The device and inode of the file read; false for a source that is no file.
    virtual bool FileId(uint64_t& /*device*/, uint64_t& /*inode*/) const { return false; }
};

class MemoryByteSource : public ByteSource {
  public:
    MemoryByteSource(const uint8_t* data, size_t size) : m_data(data), m_size(size) {}
    size_t Read(void* out, size_t n) override;
    bool Seek(uint64_t position) override;
    uint64_t Position() const override { return m_position; }
    uint64_t Size() const override { return m_size; }

  private:
    const uint8_t* m_data;
    size_t m_size;
    uint64_t m_position = 0;
};

// A read-only file with its own buffer, so the many small reads of the points
// section cost no system call each; large reads go straight to the caller.
class FileByteSource : public ByteSource {
  public:
    ~FileByteSource() override;
    // Null and the system's text for the error when the file cannot be opened.
    static std::unique_ptr<FileByteSource> Open(const std::string& path, std::string& error);

    size_t Read(void* out, size_t n) override;
    bool Seek(uint64_t position) override;
    uint64_t Position() const override { return m_position; }
    uint64_t Size() const override { return m_size; }
    bool FileId(uint64_t& device, uint64_t& inode) const override;
    // The open file, for copies made inside the kernel.
    int Descriptor() const { return m_fd; }

  private:
    FileByteSource(int fd, uint64_t size, uint64_t device, uint64_t inode)
        : m_fd(fd), m_size(size), m_device(device), m_inode(inode) {}
    size_t ReadAt(uint64_t position, uint8_t* out, size_t n);

    int m_fd;
    uint64_t m_size;
    uint64_t m_device;
    uint64_t m_inode;
    uint64_t m_position = 0;
    std::vector<uint8_t> m_buffer;
    uint64_t m_bufferStart = 0;  // file position of m_buffer[0]
};
