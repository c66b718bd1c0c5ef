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

// A value in scientific form: `count` significant digits, d0.d1d2... x 10^exponent, and zeros
// after them, enough for the texts' fixed-size copies.
constexpr int digits_wide = 16;
struct scientific_digits {
    char digits[2 * digits_wide + 8];
    int count;
    int exponent;
    bool negative;
};

// Correctly rounded (ties to even), as printf's "%.*E" gives them in the "C" locale.
scientific_digits scientific_of(double x, int count) {
    scientific_digits s;
    uint64_t digits;
    s.exponent = decimal_rounded_of(x, count, digits, s.negative);
    uint64_t wide = digits * decimal_integer_powers[size_t(digits_wide - count)];
    decimal_write_8(uint32_t(wide / decimal_integer_powers[8]), s.digits);
    decimal_write_8(uint32_t(wide % decimal_integer_powers[8]), s.digits + 8);
    std::memset(s.digits + digits_wide, '0', sizeof s.digits - digits_wide);
    s.count = count;
    return s;
}

// Significant digits left after dropping trailing zeros (0 for a zero value): the zero bytes at
// the top of the two words of digits, the last digit in the highest byte.
int significant_count(const scientific_digits& s) {
    constexpr uint64_t zeros = 0x3030303030303030ull;
    uint64_t first, second;
    std::memcpy(&first, s.digits, 8);
    std::memcpy(&second, s.digits + 8, 8);
    first -= zeros;
    second -= zeros;
    int trailing = second ? std::countl_zero(second) / 8 : 8 + (first ? std::countl_zero(first) / 8 : 8);
    return digits_wide - trailing;
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
// Copies are 16 bytes wide and the end is moved by what counts.
char* fixed_text(char* out, const char* digits, int d, int e) {
    if (e >= 0) {
        std::memcpy(out, digits, digits_wide);  // the digits past d are zeros
        out += e + 1;
        if (d - e - 1 > 0) {
            *out++ = '.';
            std::memcpy(out, digits + e + 1, digits_wide);
            out += d - e - 1;
        }
        return out;
    }
    *out++ = '.';
    std::memset(out, '0', digits_wide);
    out += -e - 1;
    std::memcpy(out, digits, digits_wide);
    return out + d;
}

char* exponent_text(char* out, const char* digits, int d, int e, char letter) {
    *out++ = digits[0];
    if (d > 1) {
        *out++ = '.';
        std::memcpy(out, digits + 1, digits_wide);
        out += d - 1;
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

// A number's text is shorter than a temporary's room: it goes there, copied whole.
static_assert(sizeof(" -1.234567890123456D-308") <= string_room_size);
string_descriptor* room_text(const char* text, size_t n) {
    string_descriptor* s = string_temp_new(uint32_t(n));
    assert(s->in_room);
    std::memcpy(s->text, text, string_room_size);
    return s;
}

// Infinities and NaN: the sign place and the name, as printf's upper-case forms write them.
string_descriptor* non_finite_text(double x) {
    const char* text = std::isnan(x) ? (std::signbit(x) ? "-NAN" : " NAN") : (x < 0 ? "-INF" : " INF");
    return string_temp_from_bytes(text, 4);
}

// `fixed_digits` are the digits to show in fixed notation when they differ from the form's own.
string_descriptor* short_text(const scientific_digits& s, const char* fixed_digits, const short_form_rules& rules) {
    int d = significant_count(s);
    if (d == 0) return string_temp_from_bytes(" 0", 2);  // zero of either sign
    char text[64];
    text[0] = s.negative ? '-' : ' ';
    char* end = fixed_notation(s.exponent, d, rules) ? fixed_text(text + 1, fixed_digits, d, s.exponent)
                                                     : exponent_text(text + 1, s.digits, d, s.exponent, rules.letter);
    return room_text(text, size_t(end - text));
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
    if (sixteen.digits[15] != '9') return short_text(sixteen, sixteen.digits, double_rules);
    // A 16th digit 9 is taken for noise: the 15-digit form, with a 0 as its 16th digit, is shown.
    scientific_digits fifteen = scientific_of(value, 15);
    fifteen.digits[15] = '0';
    fifteen.count = 16;
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
