// Numbers to the text that the language's string conversion and its print statements show: decimal
// integers of every width, the short form of single, double and extended values, and octal and
// hexadecimal texts. Every result is a new temporary (the short form of a value keeps its text in
// the descriptor's room); none looks at a pending error.
// Digits come from correctly rounded conversions, independent of the locale.
// Not here: formatted output through templates (print_using.h), text to number (number_parse.h).
#pragma once

#include <cstdint>

#include "core/strings.h"

// Signed: a blank before a value of 0 or more, "-" before a negative one. The 16- and 8-bit forms
// take the low bits of their argument.
string_descriptor* string_from_int64(int64_t value);
string_descriptor* string_from_int32(int32_t value);
string_descriptor* string_from_int16(int32_t value);
string_descriptor* string_from_int8(int32_t value);
// Unsigned: always one blank first.
string_descriptor* string_from_uint64(uint64_t value);
string_descriptor* string_from_uint32(uint32_t value);
string_descriptor* string_from_uint16(uint32_t value);
string_descriptor* string_from_uint8(uint32_t value);

// The short form: at most 7 (single) or 16 (double) significant digits without trailing zeros, no
// "0" before the point, exponent notation with E (single) or D (double) only for very large or
// very small magnitudes. An extended value is rounded to double first.
string_descriptor* string_from_single(float value);
string_descriptor* string_from_double(double value);
string_descriptor* string_from_float80(long double value);

// Octal digits of the low width bits (1..64, clamped) of the value; a negative value takes at least
// the bits that show its sign.
string_descriptor* string_octal_from_int64(int64_t value, int32_t width);
// Hexadecimal digits (0-9, A-F), width in digits (1..16, clamped), read the same way.
string_descriptor* string_hex_from_int64(int64_t value, int32_t width);
// The value rounded to an integer (ties to even), 32 bits wide in octal, 8 digits in hexadecimal.
// A magnitude of 2^63 or more, or a NaN, is error 6 and gives the empty string.
string_descriptor* string_octal_from_float(long double value);
string_descriptor* string_hex_from_float(long double value);

