#include "platform/text.h"

#include <gtest/gtest.h>

using platform::FittingPrefixLength;
using platform::TextFromBytes;

TEST(TextFromBytes, KeepsUtf8AndReadsEverythingElseAsLatin1) {
    EXPECT_EQ(TextFromBytes("Caf\xC3\xA9", 16), "Caf\xC3\xA9");               // UTF-8 é
    EXPECT_EQ(TextFromBytes("Caf\xE9", 16), "Caf\xC3\xA9");                   // Latin-1 é
    EXPECT_EQ(TextFromBytes("\xC0\xAF", 2), "\xC3\x80\xC2\xAF");              // overlong '/'
    EXPECT_EQ(TextFromBytes("\xED\xA0\x80", 3), "\xC3\xAD\xC2\xA0\xC2\x80");  // surrogate
    EXPECT_EQ(TextFromBytes("ab\0cd", 5), "ab");                              // stops at zero
    EXPECT_EQ(TextFromBytes("abcdef", 3), "abc");                 // or at the field's end
    EXPECT_EQ(TextFromBytes("\xE2\x82", 2), "\xC3\xA2\xC2\x82");  // a cut sequence
}

TEST(FittingPrefixLength, NeverSplitsAUtf8Character) {
    const char* euros = "\xE2\x82\xAC\xE2\x82\xAC";  // two 3-byte characters
    EXPECT_EQ(FittingPrefixLength(euros, 6, 6), 6u);
    EXPECT_EQ(FittingPrefixLength(euros, 6, 5), 3u);
    EXPECT_EQ(FittingPrefixLength(euros, 6, 4), 3u);
    EXPECT_EQ(FittingPrefixLength(euros, 6, 3), 3u);
    EXPECT_EQ(FittingPrefixLength(euros, 6, 2), 0u);
    // Latin-1 bytes are one character each.
    EXPECT_EQ(FittingPrefixLength("\xE9\xE9\xE9", 3, 2), 2u);
}

TEST(PrintableText, EscapesWhatCouldDriveATerminalOrReorderALine) {
    using platform::PrintableText;
    EXPECT_EQ(PrintableText("Caf\xC3\xA9 \xE6\x97\xA5"), "Caf\xC3\xA9 \xE6\x97\xA5");  // kept
    EXPECT_EQ(PrintableText("\x1b]0;owned\x07"), "\\x1b]0;owned\\x07");
    EXPECT_EQ(PrintableText("a\tb\nc\x7f"), "a\\x09b\\x0ac\\x7f");
    EXPECT_EQ(PrintableText("\xC2\x9B"
                            "31m"),
              "\\u{009b}31m");  // C1 CSI
    EXPECT_EQ(PrintableText("abc\xE2\x80\xAE"
                            "fed"),
              "abc\\u{202e}fed");  // right-to-left override
    EXPECT_EQ(PrintableText("back\\slash"), "back\\\\slash");
    EXPECT_EQ(PrintableText("\xFF"), "\\xff");  // not UTF-8
    // JSON keeps its own escapes and gains \u ones for what a terminal obeys.
    EXPECT_EQ(platform::PrintableJson("[\"a\\u001b\xC2\x9B\xE2\x80\xAE\xC3\xA9\"]"),
              "[\"a\\u001b\\u009b\\u202e\xC3\xA9\"]");
}
