#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "core/number_fixture.h"
#include "core/number_text.h"

namespace {

// ---- the short form, step by step as the language defines it, through printf ---------------------

struct printed_scientific {
    std::string digits;
    int exponent;
    bool negative;
};

printed_scientific printf_scientific(double x, int count) {
    char text[64];
    std::snprintf(text, sizeof text, "% .*E", count - 1, x);
    printed_scientific p;
    p.negative = text[0] == '-';
    p.digits = std::string(1, text[1]) + std::string(text + 3, size_t(count - 1));
    p.exponent = int(std::strtol(std::strchr(text, 'E') + 1, nullptr, 10));
    return p;
}

std::string reference_short_form(double x, printed_scientific p, int precision, char letter) {
    int d = precision;
    while (d > 0 && p.digits[size_t(d - 1)] == '0') --d;
    if (d == 0) return " 0";
    int e = p.exponent;
    char text[64];
    if (e <= precision - 1 && e - d >= -(precision + 1)) {
        std::snprintf(text, sizeof text, "% .*f", std::max(0, d - e - 1), x);
        std::string t = text;
        if (t[1] == '0') t.erase(1, 1);
        return t;
    }
    std::string t(1, p.negative ? '-' : ' ');
    t += p.digits[0];
    if (d > 1) t += "." + p.digits.substr(1, size_t(d - 1));
    std::snprintf(text, sizeof text, "%c%c%02d", letter, e < 0 ? '-' : '+', std::abs(e));
    return t + text;
}

std::string reference_single(float v) { return reference_short_form(v, printf_scientific(v, 7), 7, 'E'); }

std::string reference_double(double v) {
    printed_scientific p = printf_scientific(v, 16);
    if (p.digits[15] == '9') {
        p = printf_scientific(v, 15);
        p.digits += '0';
    }
    return reference_short_form(v, p, 16, 'D');
}

class NumberText : public number_test {};

TEST_F(NumberText, Integers) {
    struct row { string_descriptor* (*f)(int64_t); int64_t v; const char* want; };
    auto i64 = [](int64_t v) { return string_from_int64(v); };
    auto i32 = [](int64_t v) { return string_from_int32(int32_t(v)); };
    auto i16 = [](int64_t v) { return string_from_int16(int32_t(v)); };
    auto i8 = [](int64_t v) { return string_from_int8(int32_t(v)); };
    auto u64 = [](int64_t v) { return string_from_uint64(uint64_t(v)); };
    auto u32 = [](int64_t v) { return string_from_uint32(uint32_t(v)); };
    auto u16 = [](int64_t v) { return string_from_uint16(uint32_t(v)); };
    auto u8 = [](int64_t v) { return string_from_uint8(uint32_t(v)); };
    const row rows[] = {
        {i64, 0, " 0"}, {i64, -5, "-5"}, {i64, INT64_MIN, "-9223372036854775808"},
        {i64, INT64_MAX, " 9223372036854775807"}, {i32, INT32_MIN, "-2147483648"}, {i32, 42, " 42"},
        {i16, 0x18000, "-32768"}, {i16, 0x7FFF, " 32767"}, {i8, 0x1FF, "-1"}, {i8, 127, " 127"},
        {u64, -1, " 18446744073709551615"}, {u32, -1, " 4294967295"}, {u16, 0x1FFFF, " 65535"},
        {u8, 255, " 255"}, {u8, 0x100, " 0"},
    };
    for (const row& r : rows) EXPECT_EQ(taken(r.f(r.v)), r.want) << r.v;
}

TEST_F(NumberText, ShortFormExamples) {
    struct row { double v; bool single; const char* want; };
    const row rows[] = {
        {0.1f, true, " .1"}, {-0.1f, true, "-.1"}, {1e-7f, true, " .0000001"}, {1e-8f, true, " 1E-08"},
        {1234567, true, " 1234567"}, {9999999, true, " 9999999"}, {16777216, true, " 1.677722E+07"},
        {0.5, true, " .5"}, {-0.25, true, "-.25"}, {100, true, " 100"}, {12345678, true, " 1.234568E+07"},
        {1.5e10f, true, " 1.5E+10"}, {12345685, true, " 1.234568E+07"}, {-0.0, true, " 0"}, {0, true, " 0"},
        {1e38f, true, " 1E+38"}, {1e-37f, true, " 1E-37"}, {1e-38f, true, " 9.999999E-39"},
        {0.1, false, " .1"}, {1.0 / 3, false, " .3333333333333333"}, {1e16, false, " 1D+16"},
        {123456789012345, false, " 123456789012345"}, {1e20, false, " 1D+20"}, {-1.25e-30, false, "-1.25D-30"},
        {0.7 + 0.1, false, " .8"}, {0.9999999999999999, false, " 1"}, {9.999999999999999e22, false, " 1D+23"},
        {-0.0, false, " 0"}, {1234567890123456.5, false, " 1234567890123456"}, {1e300, false, " 1D+300"},
        {1234567890123459, false, " 1234567890123459"},  // 16th digit 9 at exponent 15: the whole integer
        {999999999999999.9, false, " 1000000000000000"},
    };
    for (const row& r : rows) {
        std::string got = r.single ? taken(string_from_single(float(r.v))) : taken(string_from_double(r.v));
        EXPECT_EQ(got, r.want) << r.v;
    }
    EXPECT_EQ(taken(string_from_float80(0.1L)), " .1");
    EXPECT_EQ(taken(string_from_float80(1e4000L)), " INF");  // beyond double: rounds to infinity
}

TEST_F(NumberText, ShortFormOfRandomValuesAgreesWithPrintf) {
    auto bits_double = [&] {
        for (;;) {
            double x = std::bit_cast<double>(random());
            if (std::isfinite(x)) return x;
        }
    };
    std::uniform_int_distribution<int> kind(0, 3);
    for (int64_t i = 0; i < differential_cases(1000000); ++i) {
        double x;
        switch (kind(random)) {
        case 0: x = bits_double(); break;
        case 1: x = double(int64_t(random() % 2000000001) - 1000000000) / 100; break;  // k/100
        case 2: x = double(int64_t(random() >> (random() % 64))) * (random() & 1 ? 1 : -1); break;
        default: x = std::ldexp(double(random() >> 11), int(random() % 140) - 110); break;  // near 10^-17..10^25
        }
        ASSERT_EQ(taken(string_from_double(x)), reference_double(x)) << std::hexfloat << x;
        for (float f : {std::bit_cast<float>(uint32_t(random())), float(x)}) {
            if (!std::isfinite(f)) continue;
            ASSERT_EQ(taken(string_from_single(f)), reference_single(f)) << std::hexfloat << f;
        }
    }
}

// Every single between 2^-30 and 2^30 of 1 in 127 bit patterns: the whole range where fixed and
// exponent notation meet.
TEST_F(NumberText, ShortFormOfSinglesAcrossTheNotationBoundaries) {
    const uint32_t step = sanitized_build ? 4099 : 127;
    for (uint32_t bits = std::bit_cast<uint32_t>(0x1p-30f); bits < std::bit_cast<uint32_t>(0x1p30f); bits += step) {
        float f = std::bit_cast<float>(bits);
        ASSERT_EQ(taken(string_from_single(f)), reference_single(f)) << std::hexfloat << f;
    }
}

TEST_F(NumberText, OctalAndHexExamples) {
    struct row { bool hex; int64_t v; int32_t width; const char* want; };
    const row rows[] = {
        {false, -1, 16, "177777"}, {false, -1, 32, "37777777777"}, {false, 8, 16, "10"}, {false, 0, 16, "0"},
        {false, -1, 8, "377"}, {false, INT64_MAX, 16, "777777777777777777777"},
        {false, -1, 64, "1777777777777777777777"}, {false, -1, 1000, "1777777777777777777777"},  // clamped
        {false, -2, 0, "177776"},  // width clamped to 1: the sign needs 16 bits
        {true, -1, 4, "FFFF"}, {true, -1, 8, "FFFFFFFF"}, {true, 255, 4, "FF"}, {true, -32768, 4, "8000"},
        {true, 0, 4, "0"}, {true, -32769, 4, "FFFF7FFF"}, {true, INT64_MIN, 4, "8000000000000000"},
        {true, -1, -5, "F"}, {true, -1, 99, "FFFFFFFFFFFFFFFF"},
    };
    for (const row& r : rows) {
        std::string got = r.hex ? taken(string_hex_from_int64(r.v, r.width)) : taken(string_octal_from_int64(r.v, r.width));
        EXPECT_EQ(got, r.want) << r.v << " width " << r.width;
    }
}

// Non-negative values and negative values at the widths whose sign bits they fit: printf of the
// value masked to the width the text takes.
TEST_F(NumberText, OctalAndHexAgreeWithPrintfOfTheMaskedValue) {
    char want[40];
    for (int64_t i = 0; i < differential_cases(200000); ++i) {
        auto v = int64_t(random() >> (random() % 64));
        if (random() & 1) v = -v;
        if (v == -1) continue;  // all ones: the width alone decides
        if (v >= 0) {
            std::snprintf(want, sizeof want, "%" PRIo64, uint64_t(v));
            ASSERT_EQ(taken(string_octal_from_int64(v, 16)), want);
            std::snprintf(want, sizeof want, "%" PRIX64, uint64_t(v));
            ASSERT_EQ(taken(string_hex_from_int64(v, 4)), want);
            continue;
        }
        int bits = v >= INT16_MIN ? 16 : v >= INT32_MIN ? 32 : 64;
        uint64_t masked = bits == 64 ? uint64_t(v) : uint64_t(v) & ((uint64_t(1) << bits) - 1);
        std::snprintf(want, sizeof want, "%" PRIo64, masked);
        ASSERT_EQ(taken(string_octal_from_int64(v, 1)), want) << v;
        // Hexadecimal: the low digits of the value, the first of them showing the sign.
        std::snprintf(want, sizeof want, "%016" PRIX64, uint64_t(v));
        std::string hex = taken(string_hex_from_int64(v, 1));
        ASSERT_EQ(hex, std::string(want).substr(16 - hex.size())) << v;
        ASSERT_GE(hex[0], '8') << v;
    }
}

TEST_F(NumberText, OctalAndHexOfFloats) {
    EXPECT_EQ(taken(string_hex_from_float(255.5L)), "100");  // ties to even
    EXPECT_EQ(taken(string_hex_from_float(254.5L)), "FE");
    EXPECT_EQ(taken(string_hex_from_float(-1.0L)), "FFFFFFFF");
    EXPECT_EQ(taken(string_octal_from_float(-1.0L)), "37777777777");
    EXPECT_EQ(taken(string_octal_from_float(8.4L)), "10");
    EXPECT_EQ(taken(string_hex_from_float(9223372036854775807.0L)), "7FFFFFFFFFFFFFFF");
    EXPECT_EQ(error_number, 0);
    for (long double v : {9223372036854775808.0L, -9223372036854775808.0L, 1e30L, std::nanl("")}) {
        error_number = 0;
        EXPECT_EQ(taken(string_hex_from_float(v)), "");
        EXPECT_EQ(error_number, error_overflow);
        error_number = 0;
        EXPECT_EQ(taken(string_octal_from_float(v)), "");
        EXPECT_EQ(error_number, error_overflow);
    }
    error_number = 0;
}

}  // namespace
