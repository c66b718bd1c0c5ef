#include "core/number_text.h"

#include <algorithm>
#include <bit>
#include <cassert>
#include <charconv>
#include <cmath>
#include <cstring>

#include "core/decimal.h"
#include "core/error_codes.h"
#include "core/errors.h"
#include "core/maths.h"

namespace {

// ---- integers ------------------------------------------------------------------------------------

string_descriptor* signed_text(int64_t value) {
    char text[24] = {' '};
    char* first = value < 0 ? text : text + 1;
    auto end = std::to_chars(first, std::end(text), value).ptr;
    return string_temp_from_bytes(text, size_t(end - text));
}

string_descriptor* unsigned_text(uint64_t value) {
    char text[24] = {' '};
    auto end = std::to_chars(text + 1, std::end(text), value).ptr;
    return string_temp_from_bytes(text, size_t(end - text));
}

// ---- the short form of floating values -----------------------------------------------------------

// A value in scientific form: `count` significant digits, d0.d1d2... x 10^exponent. The digits
// are 16 characters in one 128-bit word, the first in the lowest byte, zeros after the count: the
// texts are stored from it, never read back through memory.
using digit_word = unsigned __int128;
constexpr int digits_wide = 16;
constexpr uint64_t zero_digits = decimal_zero_digits;
struct scientific_digits {
    digit_word digits;
    int exponent;
    bool negative;
};

// Correctly rounded (ties to even), as printf's "%.*E" gives them in the "C" locale.
scientific_digits scientific_of(double x, int count) {
    scientific_digits s;
    uint64_t digits;
    s.exponent = decimal_rounded_of(x, count, digits, s.negative);
    constexpr int half = digits_wide / 2;
    if (count <= half) {
        uint64_t first = decimal_eight_digits(uint32_t(digits * decimal_integer_powers[size_t(half - count)]));
        s.digits = digit_word(zero_digits) << 64 | first;
        return s;
    }
    uint64_t wide = digits * decimal_integer_powers[size_t(digits_wide - count)];
    uint64_t first = decimal_eight_digits(uint32_t(wide / decimal_integer_powers[half]));
    uint64_t second = decimal_eight_digits(uint32_t(wide % decimal_integer_powers[half]));
    s.digits = digit_word(second) << 64 | first;
    return s;
}

char digit_at(digit_word w, int i) { return char(w >> (8 * i)); }

// Significant digits left after dropping trailing zeros (0 for a zero value): the zero bytes at
// the top of the word of digits.
int significant_count(digit_word w) {
    w -= digit_word(zero_digits) << 64 | zero_digits;
    auto high = uint64_t(w >> 64), low = uint64_t(w);
    int trailing = high ? std::countl_zero(high) / 8 : 8 + (low ? std::countl_zero(low) / 8 : 8);
    return digits_wide - trailing;
}

// n digits of w from digit `from` at out: 8 or 16 bytes are stored, so no store reaches more than
// 16 bytes past out, nor 8 past the last digit when there are at most 8.
char* digits_put(char* out, digit_word w, int from, int n) {
    digit_word shifted = w >> (8 * from);
    if (n <= 8) {
        auto part = uint64_t(shifted);
        std::memcpy(out, &part, 8);
    } else {
        std::memcpy(out, &shifted, digits_wide);
    }
    return out + n;
}

struct short_form_rules {
    int precision;      // digits of the scientific form
    char letter;        // exponent letter
};
constexpr short_form_rules single_rules{7, 'E'};
constexpr short_form_rules double_rules{16, 'D'};

// Fixed notation for magnitudes below 10^precision whose last significant digit lies at most
// precision + 1 places after the point.
bool fixed_notation(int e, int d, const short_form_rules& rules) {
    return e <= rules.precision - 1 && e - d >= -(rules.precision + 1);
}

// The fixed text of the digits: integer digits, then d - e - 1 decimals; no "0" before the point.
char* fixed_text(char* out, digit_word digits, int d, int e) {
    if (e >= 0) {
        out = digits_put(out, digits, 0, e + 1);  // the digits past d are zeros
        if (d - e - 1 > 0) {
            *out++ = '.';
            out = digits_put(out, digits, e + 1, d - e - 1);
        }
        return out;
    }
    *out++ = '.';
    out = digits_put(out, digit_word(zero_digits) << 64 | zero_digits, 0, -e - 1);
    return digits_put(out, digits, 0, d);
}

char* exponent_text(char* out, digit_word digits, int d, int e, char letter) {
    *out++ = digit_at(digits, 0);
    if (d > 1) {
        *out++ = '.';
        out = digits_put(out, digits, 1, d - 1);
    }
    *out++ = letter;
    *out++ = e < 0 ? '-' : '+';
    int magnitude = e < 0 ? -e : e;
    if (magnitude >= 100) {
        *out++ = char('0' + magnitude / 100);
        magnitude %= 100;
    }
    out[0] = char('0' + magnitude / 10);
    out[1] = char('0' + magnitude % 10);
    return out + 2;
}

// Infinities and NaN: the sign place and the name, as printf's upper-case forms write them.
string_descriptor* non_finite_text(double x) {
    const char* text = std::isnan(x) ? (std::signbit(x) ? "-NAN" : " NAN") : (x < 0 ? "-INF" : " INF");
    return string_temp_from_bytes(text, 4);
}

// The text goes straight into a new temporary's room, which is then cut to it as a disposable
// temporary may be: the longest text, "-1.234567890123456D-308", has 23 bytes, and no store
// reaches past the 25th.
// `fixed_digits` are the digits to show in fixed notation when they differ from the form's own.
string_descriptor* short_text(const scientific_digits& s, digit_word fixed_digits, const short_form_rules& rules) {
    int d = significant_count(s.digits);
    if (d == 0) return string_temp_from_bytes(" 0", 2);  // zero of either sign
    string_descriptor* t = string_temp_new(string_room_size);
    assert(t->in_room);
    char* text = reinterpret_cast<char*>(t->text);
    text[0] = s.negative ? '-' : ' ';
    char* end = fixed_notation(s.exponent, d, rules) ? fixed_text(text + 1, fixed_digits, d, s.exponent)
                                                     : exponent_text(text + 1, s.digits, d, s.exponent, rules.letter);
    t->length = int32_t(end - text);
    return t;
}

// ---- octal and hexadecimal -----------------------------------------------------------------------

constexpr int32_t octal_width_max = 64;
constexpr int32_t hex_width_max = 16;
constexpr int32_t float_octal_width = 32;
constexpr int32_t float_hex_width = 8;
constexpr long double two_to_63 = 9223372036854775808.0L;

// 1-based position of the highest 1 bit, 0 for none.
int highest_bit(uint64_t v) { return 64 - std::countl_zero(v); }

string_descriptor* octal_text(uint64_t v, int bits) {
    char text[22];
    if (bits < 64) v &= (uint64_t(1) << bits) - 1;
    int n = (bits + 2) / 3;
    for (int i = n - 1; i >= 0; --i, v >>= 3) text[i] = char('0' + (v & 7));
    return string_temp_from_bytes(text, size_t(n));
}

string_descriptor* hex_text(uint64_t v, int n) {
    static constexpr char hex_digits[] = "0123456789ABCDEF";
    char text[16];
    for (int i = n - 1; i >= 0; --i, v >>= 4) text[i] = hex_digits[v & 15];
    return string_temp_from_bytes(text, size_t(n));
}

// Digits a negative value needs to show its sign: past the highest digit that is not F, and one
// more when that digit's high bit is clear.
int hex_sign_digits(uint64_t v) {
    int m = 0;
    for (int i = 1; i <= 16; ++i) {
        unsigned digit = unsigned(v >> (4 * (i - 1))) & 15;
        if (digit != 15) m = (digit & 8) || i == 16 ? i : i + 1;
    }
    return m;
}

// The value of a float rounded to a 64-bit integer, or nothing after raising error 6.
bool float_to_integer(long double x, uint64_t& out) {
    if (std::isnan(x) || x >= two_to_63 || x <= -two_to_63) {
        error_raise(error_overflow);
        return false;
    }
    out = x >= 0 ? long_double_to_uint64(x) : uint64_t(long_double_to_int64(x));
    return true;
}

}  // namespace

string_descriptor* string_from_int64(int64_t value) { return signed_text(value); }
string_descriptor* string_from_int32(int32_t value) { return signed_text(value); }
string_descriptor* string_from_int16(int32_t value) { return signed_text(int16_t(value)); }
string_descriptor* string_from_int8(int32_t value) { return signed_text(int8_t(value)); }
string_descriptor* string_from_uint64(uint64_t value) { return unsigned_text(value); }
string_descriptor* string_from_uint32(uint32_t value) { return unsigned_text(value); }
string_descriptor* string_from_uint16(uint32_t value) { return unsigned_text(uint16_t(value)); }
string_descriptor* string_from_uint8(uint32_t value) { return unsigned_text(uint8_t(value)); }

string_descriptor* string_from_single(float value) {
    double x = value;
    if (!std::isfinite(x)) return non_finite_text(x);
    scientific_digits s = scientific_of(x, single_rules.precision);
    return short_text(s, s.digits, single_rules);
}

string_descriptor* string_from_double(double value) {
    if (!std::isfinite(value)) return non_finite_text(value);
    scientific_digits sixteen = scientific_of(value, double_rules.precision);
    if (digit_at(sixteen.digits, 15) != '9') return short_text(sixteen, sixteen.digits, double_rules);
    // A 16th digit 9 is taken for noise: the 15-digit form, with a 0 as its 16th digit, is shown.
    scientific_digits fifteen = scientific_of(value, 15);
    // At exponent 15 the fixed text is the value rounded to an integer: 16 digits, which only the
    // 16-digit form holds when it has that exponent too.
    bool integer_of_sixteen = fifteen.exponent == 15 && sixteen.exponent == 15;
    return short_text(fifteen, integer_of_sixteen ? sixteen.digits : fifteen.digits, double_rules);
}

string_descriptor* string_from_float80(long double value) { return string_from_double(static_cast<double>(value)); }

string_descriptor* string_octal_from_int64(int64_t value, int32_t width) {
    width = std::clamp(width, 1, octal_width_max);
    auto v = uint64_t(value);
    if (value == 0) return string_temp_from_bytes("0", 1);
    if (value > 0) return octal_text(v, highest_bit(v));
    int p = highest_bit(~v);  // highest 0 bit
    int bits = p < width ? width : p <= 15 ? 16 : p <= 31 ? 32 : 64;
    return octal_text(v, bits);
}

string_descriptor* string_hex_from_int64(int64_t value, int32_t width) {
    width = std::clamp(width, 1, hex_width_max);
    auto v = uint64_t(value);
    if (value == 0) return string_temp_from_bytes("0", 1);
    if (value > 0) return hex_text(v, (highest_bit(v) + 3) / 4);
    int m = hex_sign_digits(v);
    int n = m <= width ? width : m <= 4 ? 4 : m <= 8 ? 8 : 16;
    return hex_text(v, n);
}

string_descriptor* string_octal_from_float(long double value) {
    uint64_t v;
    if (!float_to_integer(value, v)) return string_new(0, 1);
    return string_octal_from_int64(int64_t(v), float_octal_width);
}

string_descriptor* string_hex_from_float(long double value) {
    uint64_t v;
    if (!float_to_integer(value, v)) return string_new(0, 1);
    return string_hex_from_int64(int64_t(v), float_hex_width);
}
