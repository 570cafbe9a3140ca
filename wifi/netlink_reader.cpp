#include "wifi/netlink_reader.h"

#include <linux/netlink.h>

#include <cstring>

namespace wifi {

namespace {

constexpr uint16_t kNestedFlag = 1 << 15;
constexpr uint16_t kByteOrderFlag = 1 << 14;

template <typename T>
T Load(const uint8_t* p) {
    T value;
    std::memcpy(&value, p, sizeof value);
    return value;
}

template <typename T>
bool ReadValue(const NetlinkAttr& attr, T& value) {
    if (attr.length < sizeof value) {
        return false;
    }
    value = Load<T>(attr.data);
    return true;
}

}  // namespace

MessageReader::Result MessageReader::Next(NetlinkMessage& message) {
    const size_t left = m_size - m_offset;
    if (left == 0) {
        return Result::kEnd;
    }
    if (left < kNetlinkHeaderSize) {
        return Result::kCut;
    }
    const uint8_t* p = m_data + m_offset;
    const uint32_t length = Load<uint32_t>(p);
    if (length < kNetlinkHeaderSize) {
        return Result::kBadHeader;
    }
    if (length > left) {
        return Result::kCut;
    }
    message.offset = m_offset;
    message.length = length;
    message.type = Load<uint16_t>(p + 4);
    message.flags = Load<uint16_t>(p + 6);
    message.seq = Load<uint32_t>(p + 8);
    message.pid = Load<uint32_t>(p + 12);
    message.payload = p + kNetlinkHeaderSize;
    message.payloadLength = length - kNetlinkHeaderSize;
    // The padding after the last message may be missing.
    const size_t step = Align4(length);
    m_offset += step < left ? step : left;
    return Result::kMessage;
}

bool AttrReader::Next(NetlinkAttr& attr) {
    if (m_failed) {
        return false;
    }
    const size_t left = m_size - m_offset;
    if (left == 0) {
        return false;
    }
    if (left < kAttrHeaderSize) {
        m_failed = true;
        return false;
    }
    const uint8_t* p = m_data + m_offset;
    const uint16_t length = Load<uint16_t>(p);
    const uint16_t type = Load<uint16_t>(p + 2);
    if (length < kAttrHeaderSize || length > left) {
        m_failed = true;
        return false;
    }
    attr.type = static_cast<uint16_t>(type & ~(kNestedFlag | kByteOrderFlag));
    attr.nestedFlag = (type & kNestedFlag) != 0;
    attr.data = p + kAttrHeaderSize;
    attr.length = length - kAttrHeaderSize;
    const size_t step = Align4(length);
    m_offset += step < left ? step : left;
    return true;
}

bool ReadU8(const NetlinkAttr& attr, uint8_t& value) {
    return ReadValue(attr, value);
}

bool ReadU32(const NetlinkAttr& attr, uint32_t& value) {
    return ReadValue(attr, value);
}

bool ReadS32(const NetlinkAttr& attr, int32_t& value) {
    return ReadValue(attr, value);
}

bool ReadU64(const NetlinkAttr& attr, uint64_t& value) {
    return ReadValue(attr, value);
}

bool ReadErrorCode(const NetlinkMessage& message, int32_t& error) {
    if (message.payloadLength < sizeof error) {
        return false;
    }
    error = Load<int32_t>(message.payload);
    return true;
}

}  // namespace wifi

namespace wifi {

std::string ReadKernelReason(const NetlinkMessage& message) {
    if ((message.flags & NLM_F_ACK_TLVS) == 0) {
        return std::string();
    }
    size_t at = sizeof(int32_t);
    if (message.type == NLMSG_ERROR) {
        // The request follows the code: its header alone when capped, else
        // the whole of it.
        if (message.payloadLength < at + kNetlinkHeaderSize) {
            return std::string();
        }
        const uint32_t echoed = Load<uint32_t>(message.payload + at);
        at += (message.flags & NLM_F_CAPPED) != 0 ? kNetlinkHeaderSize : Align4(echoed);
    }
    if (at > message.payloadLength) {
        return std::string();
    }
    AttrReader reader(message.payload + at, message.payloadLength - at);
    NetlinkAttr a;
    while (reader.Next(a)) {
        if (a.type == NLMSGERR_ATTR_MSG) {
            const char* text = reinterpret_cast<const char*>(a.data);
            return std::string(text, strnlen(text, a.length));
        }
    }
    return std::string();
}

}  // namespace wifi
