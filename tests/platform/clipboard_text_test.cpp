#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "platform/clipboard_text.h"

namespace {

using platform::latin1_of_utf8;
using platform::utf8_of_latin1;

std::string utf8_encode(uint32_t code) {
    auto c = [](uint32_t v) { return static_cast<char>(v); };
    if (code < 0x80) return {c(code)};
    if (code < 0x800) return {c(0xC0 | code >> 6), c(0x80 | (code & 0x3F))};
    if (code < 0x10000) return {c(0xE0 | code >> 12), c(0x80 | (code >> 6 & 0x3F)), c(0x80 | (code & 0x3F))};
    return {c(0xF0 | code >> 18), c(0x80 | (code >> 12 & 0x3F)), c(0x80 | (code >> 6 & 0x3F)), c(0x80 | (code & 0x3F))};
}

TEST(ClipboardText, EveryByteTravelsAsLatin1AndBack) {
    for (int b = 1; b < 256; ++b) {
        std::string byte(1, static_cast<char>(b));
        std::string utf8 = utf8_of_latin1(byte);
        EXPECT_EQ(utf8, utf8_encode(static_cast<uint32_t>(b))) << b;
        EXPECT_EQ(latin1_of_utf8(utf8), byte) << b;
        // Alone, a byte above 127 is no UTF-8 character: one '?'.
        EXPECT_EQ(latin1_of_utf8(byte), b < 0x80 ? byte : "?") << b;
    }
}

TEST(ClipboardText, EveryCharacterGivesOneByteAndKeepsWhatFollows) {
    for (uint32_t code = 1; code <= 0x10FFFF; ++code) {
        if (code >= 0xD800 && code <= 0xDFFF) continue;
        std::string want = code <= 0xFF ? std::string(1, static_cast<char>(code)) : "?";
        ASSERT_EQ(latin1_of_utf8(utf8_encode(code) + "z"), want + "z") << std::hex << code;
    }
}

TEST(ClipboardText, EachByteOfAMalformedSequenceIsOneQuestionMark) {
    struct malformed_case {
        const char* name;
        std::string in, want;
    };
    const malformed_case cases[] = {
        {"Latin-1 bytes", "\xE9t\xE9", "?t?"},
        {"a lone lead keeps what follows", "ab\xE9" "cd ok", "ab?cd ok"},
        {"stray continuation", "a\x80\xBF" "b", "a??b"},
        {"two-byte form cut short", "\xC3", "?"},
        {"three-byte form cut short", "\xE2\x82" "A", "??A"},
        {"four-byte form cut short at the end", "\xF0\x9F\x98", "???"},
        {"lead then a non-continuation", "\xC3" "A", "?A"},
        {"overlong two-byte NUL", "\xC0\x80", "??"},
        {"overlong two-byte 'A'", "\xC1\x81", "??"},
        {"overlong three-byte", "\xE0\x80\xAF", "???"},
        {"overlong four-byte", "\xF0\x8F\xBF\xBF", "????"},
        {"first surrogate", "\xED\xA0\x80", "???"},
        {"last surrogate", "\xED\xBF\xBF", "???"},
        {"just below the surrogates", "\xED\x9F\xBF", "?"},
        {"beyond U+10FFFF", "\xF4\x90\x80\x80", "????"},
        {"lead bytes F5 to FF", "\xF5\xF8\xFC\xFE\xFF", "?????"},
        {"U+0100, the first without an 8-bit form", "\xC4\x80" "x", "?x"},
        {"euro sign", "\xE2\x82\xAC" "5", "?5"},
        {"U+10FFFF", "\xF4\x8F\xBF\xBF", "?"},
        {"a NUL is kept", std::string("a\0b", 3), std::string("a\0b", 3)},
    };
    for (const malformed_case& c : cases) EXPECT_EQ(latin1_of_utf8(c.in), c.want) << c.name;
}

}  // namespace
