// Text from the air and from files: SSIDs and point names are bytes with no
// declared encoding. They are read as UTF-8 when they are valid UTF-8, else
// as Latin-1, everywhere the program shows or prints them.
#pragma once

#include <cstddef>
#include <string>

namespace platform {

// The bytes up to the first zero byte or `length`, whichever comes first, as
// UTF-8 text.
std::string TextFromBytes(const char* bytes, size_t length);

// True when the bytes are well-formed UTF-8 (no overlong forms, surrogates
// or code points past U+10FFFF).
bool IsValidUtf8(const char* bytes, size_t length);

// Value of one hexadecimal digit (either case), or -1.
inline int HexDigitValue(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

// How many of the first `length` bytes fit in `limit` bytes without cutting
// a character in two: for valid UTF-8 the cut moves back to the start of the
// character it would split; other bytes are single characters.
size_t FittingPrefixLength(const char* bytes, size_t length, size_t limit);

// Text from the air or a file made safe to print on a terminal or in a
// line-oriented output: control characters (C0, DEL, C1), the
// bidirectional-text controls (U+061C, U+200E, U+200F, U+202A-U+202E,
// U+2066-U+2069) and the backslash itself are written as escapes (\x1b,
// \u{202e}, \\), so a broadcast name can neither drive the terminal nor
// reorder a line. Everything else, any other script included, is kept.
// Files keep the bytes as they are; only what is printed goes through this.
std::string PrintableText(const std::string& utf8);

// The same for JSON text as it is printed (already valid UTF-8 with its
// C0 controls escaped): the C1 controls and the bidirectional controls above
// become \u escapes, which any JSON reader decodes to the very same text.
std::string PrintableJson(const std::string& json);

}  // namespace platform
