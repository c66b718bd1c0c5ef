// Decimal digits to binary floating values, correctly rounded (to nearest, ties to even) as the C
// library's "C"-locale conversions give them: d0.d1d2... x 10^exponent. Short inputs take an exact
// path of one multiplication or division, or a 128-bit product; the rest goes through strtold or
// strtod. And back: the significant digits of a double, from a 128-bit product for up to 17 digits,
// else from the standard library's scientific text.
// Not here: lexing numbers out of text (number_parse.h, digit_buffer.h).
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

// digits: at least one decimal digit character, the first not 0.
long double decimal_to_extended(std::string_view digits, int64_t exponent, bool negative);
double decimal_to_double(std::string_view digits, int64_t exponent, bool negative);
// m x 10^k, m from 1 to 10^19 - 1: the same value as its digits through decimal_to_extended.
long double decimal_integer_to_extended(uint64_t m, int64_t k, bool negative);

constexpr int decimal_digits_max = 256;
// x (finite) correctly rounded to count significant digits (1 to decimal_digits_max), ties to even,
// as the "C"-locale "%.*E" writes them: the count digits into `digits` and the sign into
// `negative`; answers the power of ten of the first digit.
int decimal_digits_of(double x, int count, char* digits, bool& negative);
// The same from std::to_chars' scientific text: what decimal_digits_of falls back to.
int decimal_digits_through_text(double x, int count, char* digits, bool& negative);

// The same as one integer of count digits (0 for a zero x), count from 1 to 17.
constexpr int decimal_rounded_digits_max = 17;
// 10^0 to 10^19.
constexpr auto decimal_integer_powers = [] {
    std::array<uint64_t, 20> p{1};
    for (size_t i = 1; i < p.size(); ++i) p[i] = p[i - 1] * 10;
    return p;
}();
int decimal_rounded_of(double x, int count, uint64_t& digits, bool& negative);

// Eight "0" characters in one word, the first in the lowest byte.
constexpr uint64_t decimal_zero_digits = 0x3030303030303030ull;
// The 8 digit characters of v below 10^8, leading zeros included, the first in the lowest byte: two
// 4-digit halves in one word, split into 2-digit and then 1-digit lanes by multiplications that
// stand for the divisions by 100 and 10.
inline uint64_t decimal_eight_digits(uint32_t v) {
    uint64_t merged = (v / 10000) | uint64_t(v % 10000) << 32;
    uint64_t hundreds = (merged * 10486 >> 20) & 0x0000007F0000007Full;
    uint64_t pairs = hundreds | (merged - 100 * hundreds) << 16;
    uint64_t tens = (pairs * 103 >> 10) & 0x000F000F000F000Full;
    return (tens | (pairs - 10 * tens) << 8) + decimal_zero_digits;
}
