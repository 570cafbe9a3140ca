#include "platform/text.h"

#include <algorithm>
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

// Marks a byte that is not part of a UTF-8 sequence, for Rewrite's callers.
constexpr uint32_t kLoneByte = 0x1000000;

// Rewrites `utf8` character by character: `escape` answers the text that
// stands for a character (a single byte that is not part of a UTF-8
// sequence comes with `code` above 0x10FFFF, the byte in its low bits), or
// nothing to keep it as it is.
template <typename Escape>
std::string Rewrite(const std::string& utf8, Escape escape) {
    std::string out;
    out.reserve(utf8.size());
    const auto* bytes = reinterpret_cast<const unsigned char*>(utf8.data());
    for (size_t i = 0; i < utf8.size();) {
        const size_t length = std::max<size_t>(SequenceLength(bytes + i, utf8.size() - i), 1);
        uint32_t code = kLoneByte | bytes[i];
        if (length > 1) {
            code = bytes[i] & (0xFF >> (length + 1));
            for (size_t k = 1; k < length; ++k) {
                code = (code << 6) | (bytes[i + k] & 0x3F);
            }
        }
        const std::string replacement = escape(code);
        if (replacement.empty()) {
            out.append(utf8, i, length);
        } else {
            out += replacement;
        }
        i += length;
    }
    return out;
}

}  // namespace

std::string PrintableText(const std::string& utf8) {
    return Rewrite(utf8, [](uint32_t code) {
        char escape[16] = "";
        if (code >= kLoneByte) {
            const unsigned b = code & 0xFF;
            if (b == '\\') {
                return std::string("\\\\");
            }
            if (b < 0x20 || b >= 0x7F) {  // a control, or a byte that is not UTF-8
                std::snprintf(escape, sizeof escape, "\\x%02x", b);
            }
        } else if (code <= 0x9F || IsBidiControl(code)) {
            std::snprintf(escape, sizeof escape, "\\u{%04x}", static_cast<unsigned>(code));
        }
        return std::string(escape);
    });
}

std::string PrintableJson(const std::string& json) {
    return Rewrite(json, [](uint32_t code) {
        char escape[16] = "";
        if (code >= 0x80 && code < kLoneByte && (code <= 0x9F || IsBidiControl(code))) {
            std::snprintf(escape, sizeof escape, "\\u%04x", static_cast<unsigned>(code));
        }
        return std::string(escape);
    });
}

}  // namespace platform
