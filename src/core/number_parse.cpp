#include "core/number_parse.h"

#include <cstring>
#include <string>
#include <string_view>

#include "core/decimal.h"
#include "core/error_codes.h"
#include "core/errors.h"

namespace {

enum class lex_state { start, integer, fraction, exponent_letter, exponent };

constexpr int exponent_digits_max = 18;
constexpr int hex_digits_max = 16;
constexpr int octal_digits_max = 22;  // the 22nd only when the first significant digit is 0 or 1
constexpr char int64_max_text[] = "9223372036854775807";
constexpr char int64_min_text[] = "9223372036854775808";  // its magnitude
constexpr size_t int64_digits = 19;

// Significant digits: the usual short number in place, any length beyond.
class digit_store {
public:
    void add(char c) {
        if (count_ < sizeof small_) {
            small_[count_++] = c;
            return;
        }
        if (large_.empty()) large_.assign(small_, count_);
        large_ += c;
        ++count_;
    }
    std::string_view view() const { return count_ <= sizeof small_ ? std::string_view(small_, count_) : large_; }
    size_t size() const { return count_; }

private:
    char small_[64];
    size_t count_ = 0;
    std::string large_;
};

struct decimal_number {
    digit_store digits;
    int64_t integer_digits = 0;  // digits before the point; negative for zeros right after it
    uint64_t accumulator = 0;    // the integer digits, wrapping
    int64_t exponent = 0;
    bool negative = false;
    bool exponent_negative = false;
    int exponent_significant = 0;
};

bool blank(uint8_t c) { return c == ' ' || c == '\t'; }
bool digit(uint8_t c) { return c >= '0' && c <= '9'; }
bool exponent_letter(uint8_t c) { return c == 'D' || c == 'E' || c == 'd' || c == 'e'; }

int hex_value(uint8_t c) {
    if (digit(c)) return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

// Digits of base 16 or 8 from `p`; error 6 and 0 beyond 64 bits.
long double based_integer(const uint8_t* p, const uint8_t* end, bool hex) {
    uint64_t v = 0;
    int significant = 0;
    uint8_t first = 0;
    for (; p < end; ++p) {
        int d = hex ? hex_value(*p) : (*p >= '0' && *p <= '7' ? *p - '0' : -1);
        if (d < 0) break;
        if (significant == 0 && d == 0) continue;
        if (significant == 0) first = uint8_t(d);
        ++significant;
        bool too_many = hex ? significant > hex_digits_max
                            : significant > octal_digits_max || (significant == octal_digits_max && first > 1);
        if (too_many) {
            error_raise(error_overflow);
            return 0;
        }
        v = hex ? v << 4 | uint64_t(d) : v << 3 | uint64_t(d);
    }
    return static_cast<long double>(int64_t(v));
}

bool digit_step(decimal_number& n, lex_state& state, uint8_t c) {
    switch (state) {
    case lex_state::start:
    case lex_state::integer:
        state = lex_state::integer;
        if (c == '0' && n.digits.size() == 0) return true;
        n.digits.add(char(c));
        ++n.integer_digits;
        n.accumulator = n.accumulator * 10 + (c - '0');
        return true;
    case lex_state::fraction:
        if (c == '0' && n.digits.size() == 0)
            --n.integer_digits;
        else
            n.digits.add(char(c));
        return true;
    default:
        state = lex_state::exponent;
        if (c == '0' && n.exponent_significant == 0) return true;
        if (++n.exponent_significant > exponent_digits_max) return false;
        n.exponent = n.exponent * 10 + (c - '0');
        return true;
    }
}

// One byte of a decimal number; false when it ends the number. Digits, the common case, first.
bool decimal_step(decimal_number& n, lex_state& state, uint8_t c) {
    if (digit(c)) return digit_step(n, state, c);
    if (c == '-' || c == '+') {
        if (state == lex_state::start) {
            n.negative = c == '-';
            state = lex_state::integer;
            return true;
        }
        if (state != lex_state::exponent_letter) return false;
        n.exponent_negative = c == '-';
        state = lex_state::exponent;
        return true;
    }
    if (c == '.') {
        if (state != lex_state::start && state != lex_state::integer) return false;
        state = lex_state::fraction;
        return true;
    }
    if (exponent_letter(c) && state <= lex_state::fraction) {
        state = lex_state::exponent_letter;
        return true;
    }
    return false;
}

// A whole number within the signed 64-bit range: its value exactly.
bool whole_within_int64(const decimal_number& n) {
    if (n.exponent != 0 || int64_t(n.digits.size()) != n.integer_digits) return false;
    if (n.digits.size() != int64_digits) return n.digits.size() < int64_digits;
    return n.digits.view() <= std::string_view(n.negative ? int64_min_text : int64_max_text);
}

constexpr int quick_digits_max = 19;           // below 10^19: one 64-bit integer
constexpr int quick_exponent_digits_max = 4;

// The common number in one pass: a sign, digits, a point and digits, an exponent letter with a sign
// and up to four digits, no blank or tab, at most 19 significant digits, not starting with "&".
// It reads what the stepwise lexer reads and gives the same value; false leaves the text to it.
bool quick_number(const uint8_t* p, const uint8_t* end, long double& value) {
    const uint8_t* first = p;
    bool negative = false;
    if (p < end && (*p == '-' || *p == '+')) negative = *p++ == '-';
    uint64_t m = 0;
    int count = 0;
    while (p < end && *p == '0') ++p;
    for (; p < end && digit(*p); ++p, ++count) m = m * 10 + (*p - '0');
    int64_t integer_digits = count;
    if (p < end && *p == '.') {
        ++p;
        if (count == 0)
            for (; p < end && *p == '0'; ++p) --integer_digits;
        for (; p < end && digit(*p); ++p, ++count) m = m * 10 + (*p - '0');
    }
    int64_t exponent = 0;
    if (p < end && exponent_letter(*p)) {
        ++p;
        bool exponent_negative = false;
        if (p < end && (*p == '-' || *p == '+')) exponent_negative = *p++ == '-';
        while (p < end && *p == '0') ++p;
        for (int exponent_count = 1; p < end && digit(*p); ++p, ++exponent_count) {
            if (exponent_count > quick_exponent_digits_max) return false;
            exponent = exponent * 10 + (*p - '0');
        }
        if (exponent_negative) exponent = -exponent;
    }
    if (count > quick_digits_max || (p < end && (blank(*p) || (*p == '&' && p == first)))) return false;
    value = count == 0 ? 0 : decimal_integer_to_extended(m, exponent + integer_digits - count, negative);
    return true;
}

}  // namespace

long double string_to_number(const string_descriptor* s) {
    if (s->length <= 0) return 0;
    long double quick;
    if (quick_number(s->text, s->text + s->length, quick)) return quick;
    return number_stepwise(s->text, s->text + s->length);
}

long double number_stepwise(const uint8_t* p, const uint8_t* end) {
    decimal_number n;
    lex_state state = lex_state::start;
    for (; p < end; ++p) {
        if (blank(*p)) continue;
        if (*p == '&') {
            if (state != lex_state::start) break;  // after the start it ends the decimal number
            if (end - p < 3) return 0;
            uint8_t base = p[1] | 0x20;
            if (base != 'h' && base != 'o') return 0;
            return based_integer(p + 2, end, base == 'h');
        }
        if (!decimal_step(n, state, *p)) break;
    }
    if (n.digits.size() == 0) return 0;
    if (whole_within_int64(n)) {
        uint64_t v = n.negative ? 0 - n.accumulator : n.accumulator;
        return static_cast<long double>(int64_t(v));
    }
    int64_t exponent = (n.exponent_negative ? -n.exponent : n.exponent) + n.integer_digits - 1;
    return decimal_to_extended(n.digits.view(), exponent, n.negative);
}
