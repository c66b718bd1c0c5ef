#include "core/digit_buffer.h"

#include <cmath>
#include <string_view>

#include "core/decimal.h"

namespace {

constexpr int exponent_digits_max = 18;
constexpr int hex_digits_max = 16;
constexpr int octal_digits_max = 22;        // only when the first digit is 0 or 1; else 21
constexpr int64_t float_exponent_limit = 309;
constexpr int64_t float_exponent_lowest = -324;
constexpr std::string_view double_max_digits = "17976931348623157";
constexpr size_t double_digits = 17;
constexpr std::string_view int64_max_digits = "9223372036854775807";
constexpr std::string_view int64_min_digits = "9223372036854775808";
constexpr std::string_view uint64_max_digits = "18446744073709551615";
constexpr long double two_to_63 = 9223372036854775808.0L;
constexpr double single_max = 3.402823466e38;  // as the language writes it, just below FLT_MAX

bool is_digit(uint8_t c) { return c >= '0' && c <= '9'; }
bool is_exponent_letter(uint8_t c) { return c == 'D' || c == 'E' || c == 'd' || c == 'e'; }

int digit_value(uint8_t c, digit_base base) {
    if (base == digit_base::octal) return c >= '0' && c <= '7' ? c - '0' : -1;
    if (is_digit(c)) return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

std::string_view digits_of(const digit_buffer& b) { return {b.digits, b.count}; }

// The digits, compared from the left with a limit of the same power of ten: true when the first
// digit that differs is greater.
bool above(std::string_view digits, std::string_view limit) {
    size_t n = std::min(digits.size(), limit.size());
    for (size_t i = 0; i < n; ++i)
        if (digits[i] != limit[i]) return digits[i] > limit[i];
    return false;
}

// &H and &O items: their bits, or false for more digits than 64 bits hold.
bool based_bits(const digit_buffer& b, uint64_t& bits) {
    bool hex = b.base == digit_base::hex;
    int limit = hex ? hex_digits_max : (b.count > 0 && b.digits[0] <= '1' ? octal_digits_max : octal_digits_max - 1);
    if (b.count > limit) return false;
    bits = 0;
    for (int i = 0; i < b.count; ++i)
        bits = (hex ? bits << 4 : bits << 3) | uint64_t(digit_value(uint8_t(b.digits[i]), b.base));
    return true;
}

// The integer part's magnitude: the digits up to the exponent's place, missing ones 0.
uint64_t integer_part(const digit_buffer& b) {
    uint64_t v = 0;
    for (int64_t i = 0; i <= b.exponent; ++i) v = v * 10 + (i < b.count ? uint64_t(b.digits[i] - '0') : 0);
    return v;
}

}  // namespace

number_lexer::number_lexer(digit_buffer& buffer) : b_(buffer) {
    // The digits past count are never read: clearing the rest is enough.
    b_.count = 0;
    b_.exponent = 0;
    b_.negative = false;
    b_.base = digit_base::decimal;
}

lex_step number_lexer::digit_stored(char c) {
    if (b_.count == digit_buffer_capacity) return lex_step::too_many;
    b_.digits[b_.count++] = c;
    return lex_step::taken;
}

lex_step number_lexer::decimal(uint8_t c) {
    if (is_digit(c)) return decimal_digit(char(c));
    if (c == '-' || c == '+') {
        if (state_ == state::start) {
            b_.negative = c == '-';
            state_ = state::integer;
            return lex_step::taken;
        }
        if (state_ != state::exponent_letter) return lex_step::ends;
        exponent_negative_ = c == '-';
        state_ = state::exponent;
        return lex_step::taken;
    }
    if (c == '.') {
        if (state_ != state::start && state_ != state::integer) return lex_step::ends;
        state_ = state::fraction;
        if (b_.count == 0) b_.exponent = -1;
        return lex_step::taken;
    }
    if (is_exponent_letter(c) && state_ <= state::fraction) {
        state_ = state::exponent_letter;
        return lex_step::taken;
    }
    return lex_step::ends;
}

lex_step number_lexer::decimal_digit(char c) {
    switch (state_) {
    case state::start:
    case state::integer:
        state_ = state::integer;
        if (b_.count == 0 && c == '0') return lex_step::taken;
        if (b_.count > 0) ++b_.exponent;
        return digit_stored(c);
    case state::fraction:
        if (b_.count == 0 && c == '0') {
            --b_.exponent;
            return lex_step::taken;
        }
        return digit_stored(c);
    default:
        state_ = state::exponent;
        if (exponent_digits_ == 0 && c == '0') return lex_step::taken;
        if (++exponent_digits_ > exponent_digits_max) return lex_step::too_many;
        exponent_value_ = exponent_value_ * 10 + (c - '0');
        return lex_step::taken;
    }
}

bool number_lexer::base_letter(int32_t c) {
    if (c < 0) return false;
    switch (c | 0x20) {
    case 'h': b_.base = digit_base::hex; return true;
    case 'o': b_.base = digit_base::octal; return true;
    default: return false;
    }
}

lex_step number_lexer::based(uint8_t c) {
    if (digit_value(c, b_.base) < 0) return lex_step::ends;
    if (b_.count == 0 && c == '0') return lex_step::taken;  // leading zeros are no digits
    return digit_stored(char(c));
}

void number_lexer::finish() {
    if (b_.base != digit_base::decimal) return;
    if (b_.count == 0) {
        b_.exponent = 0;
        b_.negative = false;
        return;
    }
    b_.exponent += exponent_negative_ ? -exponent_value_ : exponent_value_;
}

bool digit_buffer_to_float(const digit_buffer& b, long double& value) {
    value = 0;
    if (b.count == 0) return true;
    if (b.base != digit_base::decimal) {
        uint64_t bits;
        if (!based_bits(b, bits)) return false;
        value = static_cast<long double>(int64_t(bits));
        return true;
    }
    std::string_view digits = digits_of(b);
    if (b.exponent >= float_exponent_limit) return false;
    if (b.exponent == float_exponent_limit - 1 && above(digits, double_max_digits)) return false;
    if (b.exponent < float_exponent_lowest) return true;
    value = decimal_to_double(digits.substr(0, double_digits), b.exponent, b.negative);
    return true;
}

bool digit_buffer_round_up(const digit_buffer& b) {
    if (b.count == 0 || b.exponent <= -2) return false;
    int64_t i = b.exponent + 1;
    return i < b.count && b.digits[i] >= '5';
}

bool digit_buffer_to_int64(const digit_buffer& b, int64_t& value) {
    value = 0;
    if (b.count == 0) return true;
    if (b.base != digit_base::decimal) {
        uint64_t bits;
        if (!based_bits(b, bits)) return false;
        value = int64_t(bits);
        return true;
    }
    if (b.exponent >= 19) return false;
    if (b.exponent == 18 && above(digits_of(b), b.negative ? int64_min_digits : int64_max_digits)) return false;
    uint64_t magnitude = b.exponent < 0 ? 0 : integer_part(b);
    if (digit_buffer_round_up(b)) {
        if (magnitude >= uint64_t(INT64_MAX) + (b.negative ? 1 : 0)) return false;
        ++magnitude;
    }
    value = b.negative ? int64_t(0 - magnitude) : int64_t(magnitude);
    return true;
}

bool digit_buffer_to_uint64(const digit_buffer& b, uint64_t& value) {
    value = 0;
    if (b.count == 0) return true;
    if (b.base != digit_base::decimal) return based_bits(b, value);
    if (b.negative) return b.exponent < 0 && !digit_buffer_round_up(b);  // -0.5 to above -1 rounds to -1
    if (b.exponent >= 20) return false;
    if (b.exponent == 19 && above(digits_of(b), uint64_max_digits)) return false;
    uint64_t magnitude = b.exponent < 0 ? 0 : integer_part(b);
    if (digit_buffer_round_up(b)) {
        if (magnitude == UINT64_MAX) return false;
        ++magnitude;
    }
    value = magnitude;
    return true;
}

bool digit_buffer_to_type(const digit_buffer& b, variable_type_code type, long double& value) {
    value = 0;
    uint32_t size = type_code_size(type);
    if (type_code_is_float(type)) {
        if (!digit_buffer_to_float(b, value)) return false;
        if (size < 64 && std::fabs(value) > single_max) return false;
        return true;
    }
    // Integers: &H and &O items are bits, which a signed type takes as negative from its top bit.
    uint32_t bits_wide = std::min<uint32_t>(size, 64);
    if (b.base != digit_base::decimal) {
        uint64_t bits;
        if (!based_bits(b, bits)) return false;
        if (bits_wide < 64 && bits >> bits_wide) return false;
        bool negative = !type_code_is_unsigned(type) && bits_wide > 0 && (bits >> (bits_wide - 1)) & 1;
        value = negative ? static_cast<long double>(int64_t(bits | (bits_wide < 64 ? ~uint64_t(0) << bits_wide : 0)))
                         : static_cast<long double>(bits);
        return true;
    }
    long double v;
    if (!digit_buffer_to_float(b, v)) return false;
    if (v < -two_to_63 || v > two_to_63) return false;
    // Rounded by the current rounding mode (to nearest, ties to even), then held to the range;
    // a value that rounds to 2^63 is out of range for every type.
    long double r = std::nearbyint(v);
    long double lowest = type_code_is_unsigned(type) ? 0 : -std::ldexp(1.0L, int(bits_wide) - 1);
    long double highest = type_code_is_unsigned(type) ? std::ldexp(1.0L, int(bits_wide)) - 1
                                                      : std::ldexp(1.0L, int(bits_wide) - 1) - 1;
    if (r < lowest || r > highest || r >= two_to_63) return false;
    value = r;
    return true;
}

int64_t int64_from_halves(uint32_t high, uint32_t low) { return int64_t(uint64_from_halves(high, low)); }
uint64_t uint64_from_halves(uint32_t high, uint32_t low) { return uint64_t(high) << 32 | low; }
void number_input_empty() {}
