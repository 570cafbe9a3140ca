#include "platform/text.h"

#include <cstdint>
#include <cstdio>
#include <cstring>

namespace platform {

namespace {

// Length of the UTF-8 sequence starting at bytes[0], or 0 when it is not a
// well-formed sequence within `length` bytes.
size_t SequenceLength(const unsigned char* bytes, size_t length) {
    const unsigned char lead = bytes[0];
    if (lead < 0x80) {
        return 1;
    }
    size_t count = 0;
    unsigned char low = 0x80;
    unsigned char high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        count = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        count = 3;
        if (lead == 0xE0) {
            low = 0xA0;  // no overlong forms
        } else if (lead == 0xED) {
            high = 0x9F;  // no surrogates
        }
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        count = 4;
        if (lead == 0xF0) {
            low = 0x90;
        } else if (lead == 0xF4) {
            high = 0x8F;  // nothing past U+10FFFF
        }
    } else {
        return 0;
    }
    if (count > length || bytes[1] < low || bytes[1] > high) {
        return 0;
    }
    for (size_t i = 2; i < count; ++i) {
        if ((bytes[i] & 0xC0) != 0x80) {
            return 0;
        }
    }
    return count;
}

}  // namespace

bool IsValidUtf8(const char* bytes, size_t length) {
    const auto* p = reinterpret_cast<const unsigned char*>(bytes);
    for (size_t i = 0; i < length;) {
        const size_t n = SequenceLength(p + i, length - i);
        if (n == 0) {
            return false;
        }
        i += n;
    }
    return true;
}

std::string TextFromBytes(const char* bytes, size_t length) {
    const size_t n = bytes == nullptr ? 0 : strnlen(bytes, length);
    if (IsValidUtf8(bytes, n)) {
        return std::string(bytes, n);
    }
    std::string text;
    text.reserve(n * 2);
    for (size_t i = 0; i < n; ++i) {
        const auto c = static_cast<unsigned char>(bytes[i]);
        if (c < 0x80) {
            text.push_back(static_cast<char>(c));
        } else {
            text.push_back(static_cast<char>(0xC0 | (c >> 6)));
            text.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        }
    }
    return text;
}

size_t FittingPrefixLength(const char* bytes, size_t length, size_t limit) {
    if (length <= limit) {
        return length;
    }
    if (!IsValidUtf8(bytes, length)) {
        return limit;
    }
    size_t cut = limit;
    // Move back over continuation bytes to the start of the split character.
    while (cut > 0 && (static_cast<unsigned char>(bytes[cut]) & 0xC0) == 0x80) {
        --cut;
    }
    return cut;
}

namespace {

bool IsBidiControl(uint32_t c) {
    return c == 0x061C || c == 0x200E || c == 0x200F || (c >= 0x202A && c <= 0x202E) ||
           (c >= 0x2066 && c <= 0x2069);
}

}  // namespace

std::string PrintableText(const std::string& utf8) {
    std::string out;
    out.reserve(utf8.size());
    const auto* bytes = reinterpret_cast<const unsigned char*>(utf8.data());
    char escape[16];
    for (size_t i = 0; i < utf8.size();) {
        const size_t length = SequenceLength(bytes + i, utf8.size() - i);
        if (length <= 1) {
            const unsigned char b = bytes[i];
            if (b == '\\') {
                out += "\\\\";
            } else if (b < 0x20 || b >= 0x7F) {  // a control, or a byte that is not UTF-8
                std::snprintf(escape, sizeof escape, "\\x%02x", b);
                out += escape;
            } else {
                out += static_cast<char>(b);
            }
            ++i;
            continue;
        }
        uint32_t code = bytes[i] & (0xFF >> (length + 1));
        for (size_t k = 1; k < length; ++k) {
            code = (code << 6) | (bytes[i + k] & 0x3F);
        }
        if (code <= 0x9F || IsBidiControl(code)) {
            std::snprintf(escape, sizeof escape, "\\u{%04x}", static_cast<unsigned>(code));
            out += escape;
        } else {
            out.append(utf8, i, length);
        }
        i += length;
    }
    return out;
}

}  // namespace platform
