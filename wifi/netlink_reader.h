// Bounds-checked walking of netlink bytes: messages (16-byte header in host
// byte order, padded to 4 bytes) and their type-length-value attributes.
// Every field is copied out with memcpy, so the input may sit anywhere in
// memory and may be hostile: nothing is read outside the bytes given.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace wifi {

constexpr size_t kNetlinkHeaderSize = 16;
constexpr size_t kGenlHeaderSize = 4;
constexpr size_t kAttrHeaderSize = 4;

constexpr size_t Align4(size_t n) {
    return (n + 3) & ~static_cast<size_t>(3);
}

struct NetlinkMessage {
    size_t offset = 0;  // of its header in the bytes walked
    uint32_t length = 0;
    uint16_t type = 0;
    uint16_t flags = 0;
    uint32_t seq = 0;
    uint32_t pid = 0;
    const uint8_t* payload = nullptr;  // the bytes after the header, within `length`
    size_t payloadLength = 0;
};

class MessageReader {
  public:
    enum class Result {
        kMessage,    // `message` holds the next message
        kEnd,        // no bytes left
        kCut,        // the bytes end inside a message (or its header)
        kBadHeader,  // a header whose length is below the header's own size
    };

    MessageReader(const uint8_t* data, size_t size) : m_data(data), m_size(size) {}

    Result Next(NetlinkMessage& message);
    // Where the next message starts (after a kCut or kBadHeader: where the
    // broken one starts).
    size_t Offset() const { return m_offset; }

  private:
    const uint8_t* m_data;
    size_t m_size;
    size_t m_offset = 0;
};

struct NetlinkAttr {
    uint16_t type = 0;  // without the nested and byte-order flags
    bool nestedFlag = false;
    const uint8_t* data = nullptr;
    size_t length = 0;
};

class AttrReader {
  public:
    AttrReader(const uint8_t* data, size_t size) : m_data(data), m_size(size) {}

    // False at the end of the attributes, or when the next one is malformed
    // (its header cut, its length below the header's or running past the
    // bytes); Failed() tells the two apart.
    bool Next(NetlinkAttr& attr);
    bool Failed() const { return m_failed; }

  private:
    const uint8_t* m_data;
    size_t m_size;
    size_t m_offset = 0;
    bool m_failed = false;
};

// Fixed-size values: false when the attribute is shorter than the value.
bool ReadU8(const NetlinkAttr& attr, uint8_t& value);
bool ReadU32(const NetlinkAttr& attr, uint32_t& value);
bool ReadS32(const NetlinkAttr& attr, int32_t& value);
bool ReadU64(const NetlinkAttr& attr, uint64_t& value);

// The 32-bit error code that starts an NLMSG_ERROR or NLMSG_DONE payload
// (negative errno, 0 for none); false when the payload is too short.
bool ReadErrorCode(const NetlinkMessage& message, int32_t& error);

// The kernel's reason (its extended acknowledgement's message) in an
// NLMSG_ERROR or NLMSG_DONE, whether the request is echoed before it or not;
// empty when it gave none.
std::string ReadKernelReason(const NetlinkMessage& message);

}  // namespace wifi
