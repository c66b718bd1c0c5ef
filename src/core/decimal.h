// Decimal digits to binary floating values, correctly rounded (to nearest, ties to even) as the C
// library's "C"-locale conversions give them: d0.d1d2... x 10^exponent. Short inputs take an exact
// path of one multiplication or division; the rest goes through strtold or strtod. And back: the
// significant digits of a double.
// Not here: lexing numbers out of text (number_parse.h, digit_buffer.h).
#pragma once

#include <cstdint>
#include <string_view>

// digits: at least one decimal digit character, the first not 0.
long double decimal_to_extended(std::string_view digits, int64_t exponent, bool negative);
double decimal_to_double(std::string_view digits, int64_t exponent, bool negative);

constexpr int decimal_digits_max = 256;
// x (finite) correctly rounded to count significant digits (1 to decimal_digits_max), ties to even,
// as the "C"-locale "%.*E" writes them: the count digits into `digits` and the sign into
// `negative`; answers the power of ten of the first digit.
int decimal_digits_of(double x, int count, char* digits, bool& negative);
