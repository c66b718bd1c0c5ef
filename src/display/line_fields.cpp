#include "display/line_fields.h"

#include <cmath>
#include <cstdlib>
#include <locale.h>

namespace {

bool is_digit(char c) { return c >= '0' && c <= '9'; }

bool all_digits(std::string_view s) {
    for (char c : s)
        if (!is_digit(c)) return false;
    return true;
}

int32_t hex_digit(char c) {
    if (is_digit(c)) return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

constexpr size_t hex_digits_max = 16;
constexpr size_t octal_digits_max = 22;

// Digits of the largest value of a size in a radix: its bits split into groups of 4 or 3.
size_t radix_digits_of(uint64_t max, int32_t kind) {
    int32_t shift = kind == radix_hexadecimal ? 4 : 3;
    size_t digits = 1;
    while (max >>= shift) ++digits;
    return digits;
}

// ---- integers ----

// Decimal digits of a magnitude: no sign, no leading zero unless the number is just 0.
bool decimal_magnitude_valid(std::string_view digits) {
    return all_digits(digits) && !(digits.size() > 1 && digits[0] == '0');
}

// The value of at most 20 decimal digits, false beyond 64 bits.
bool decimal_value(std::string_view digits, uint64_t& value) {
    value = 0;
    for (char c : digits) {
        uint64_t d = uint64_t(c - '0');
        if (value > (UINT64_MAX - d) / 10) return false;
        value = value * 10 + d;
    }
    return true;
}

// Integers of every checked size, up to 64 bits: decimal_value refuses what lies beyond 64 bits.
bool integer_check(std::string_view field, variable_type_code type, field_value& out) {
    const uint32_t s = type_code_size(type);
    const bool is_unsigned = type_code_is_unsigned(type);
    const uint64_t max_unsigned = s >= 64 ? UINT64_MAX : (uint64_t{1} << s) - 1;
    out.kind = field_kind::integer;
    out.bits = 0;
    uint64_t value = 0;
    if (int32_t kind = radix_literal_parse(field, value)) {
        size_t digits = field.size() > 2 ? field.size() - 2 : 0;
        if (value > max_unsigned || digits > radix_digits_of(max_unsigned, kind)) return false;
        out.bits = value;
        return true;
    }
    bool negative = field[0] == '-';
    if (negative && is_unsigned) return false;
    std::string_view digits = field.substr(negative ? 1 : 0);
    if (digits.empty()) return true;
    if (!decimal_magnitude_valid(digits) || !decimal_value(digits, value)) return false;
    uint64_t limit = is_unsigned ? max_unsigned : negative ? (max_unsigned >> 1) + 1 : max_unsigned >> 1;
    if (s == 0 || value > limit) return false;
    out.bits = negative ? uint64_t(0) - value : value;
    return true;
}

// ---- floating point ----

enum class float_width { single, double_, extended };

float_width float_width_of(variable_type_code type) {
    switch (type_code_size(type)) {
        case 32: return float_width::single;
        case 64: return float_width::double_;
        default: return float_width::extended;
    }
}

// The parts of a well-formed floating field.
struct float_parts {
    std::string_view integer, fraction;  // digits
    int64_t exponent = 0;                // saturated far beyond every limit
};

constexpr int64_t exponent_saturation = 1000000;

bool float_grammar(std::string_view f, bool d_allowed, float_parts& p) {
    size_t i = 0, n = f.size();
    if (i < n && f[i] == '-') ++i;
    size_t start = i;
    while (i < n && is_digit(f[i])) ++i;
    p.integer = f.substr(start, i - start);
    if (p.integer.size() > 1 && p.integer[0] == '0') return false;
    bool nonzero_before = p.integer.find_first_not_of('0') != std::string_view::npos;
    if (i < n && f[i] == '.') {
        start = ++i;
        while (i < n && is_digit(f[i])) ++i;
        p.fraction = f.substr(start, i - start);
        nonzero_before = nonzero_before || p.fraction.find_first_not_of('0') != std::string_view::npos;
    }
    if (i < n) {
        char c = f[i];
        bool letter = c == 'E' || c == 'e' || (d_allowed && (c == 'D' || c == 'd'));
        if (!letter || f[i - (i > 0)] == '.' || !nonzero_before) return false;
        ++i;
        bool negative = false;
        if (i < n && (f[i] == '+' || f[i] == '-')) negative = f[i++] == '-';
        start = i;
        while (i < n && is_digit(f[i])) ++i;
        std::string_view digits = f.substr(start, i - start);
        if (digits.size() > 1 && digits[0] == '0') return false;
        for (char d : digits) p.exponent = std::min(p.exponent * 10 + (d - '0'), exponent_saturation);
        if (negative) p.exponent = -p.exponent;
    }
    return i == n;
}

// The first digits of the significant digits, padded with zeros on the right.
std::string leading_digits(const float_parts& p, size_t count) {
    std::string digits = std::string(p.integer) + std::string(p.fraction);
    size_t first = digits.find_first_not_of('0');
    digits = first == std::string::npos ? std::string() : digits.substr(first, count);
    digits.resize(count, '0');
    return digits;
}

struct float_limits {
    int64_t zeros_max;         // Z above it is invalid
    int64_t top_exponent;      // d above it is invalid
    const char* top_digits;    // at d = top_exponent, leading digits above them are invalid
    int64_t digits_max;        // with a fraction, more digits are invalid
    int64_t bottom_exponent;   // d below it is invalid
    const char* bottom_digits;  // at d = bottom_exponent, leading digits below them are invalid
};
constexpr float_limits single_limits{43, 39, "3402823", 8, -44, "1401298"};
constexpr float_limits double_limits{322, 309, "17976931", 16, -323, "4940656"};

bool float_range_valid(const float_parts& p, const float_limits& l) {
    std::string_view fraction = p.fraction == "0" ? std::string_view() : p.fraction;
    int64_t I = p.integer == "0" ? 0 : int64_t(p.integer.size());
    int64_t F = int64_t(fraction.size());
    size_t first = fraction.find_first_not_of('0');
    int64_t Z = first == std::string_view::npos ? F : int64_t(first);
    if (Z > l.zeros_max) return false;
    if (I == 0 && F == Z) return true;
    int64_t d = (I > 0 ? I : -Z) + p.exponent;
    std::string top = leading_digits(p, std::char_traits<char>::length(l.top_digits));
    std::string bottom = leading_digits(p, std::char_traits<char>::length(l.bottom_digits));
    if (d > l.top_exponent || (d == l.top_exponent && top > l.top_digits)) return false;
    if (F > 0 && (I > 0 ? I + F : F - Z) > l.digits_max) return false;
    if (d < l.bottom_exponent || (d == l.bottom_exponent && bottom < l.bottom_digits)) return false;
    return true;
}

bool float_is_zero(const float_parts& p) {
    return p.integer.find_first_not_of('0') == std::string_view::npos &&
           p.fraction.find_first_not_of('0') == std::string_view::npos;
}

locale_t c_locale() {
    static locale_t locale = newlocale(LC_ALL_MASK, "C", locale_t(0));
    return locale;
}

bool float_check(std::string_view field, variable_type_code type, field_value& out) {
    out.kind = field_kind::floating;
    out.number = 0.0;
    uint64_t value = 0;
    if (radix_literal_parse(field, value)) {
        out.number = static_cast<long double>(value);
        if (float_width_of(type) == float_width::single) out.number = static_cast<float>(value);
        if (float_width_of(type) == float_width::double_) out.number = static_cast<double>(value);
        return true;
    }
    float_width width = float_width_of(type);
    float_parts parts;
    if (!float_grammar(field, width != float_width::single, parts)) return false;
    if (width == float_width::single && !float_range_valid(parts, single_limits)) return false;
    if (width == float_width::double_ && !float_range_valid(parts, double_limits)) return false;
    if (float_is_zero(parts)) return true;
    std::string text(field);
    for (char& c : text)
        if (c == 'D' || c == 'd') c = 'E';
    // A value that rounds to infinity passed the digit limits only by their shortness.
    if (width == float_width::single) {
        float f = strtof_l(text.c_str(), nullptr, c_locale());
        if (std::isinf(f)) return false;
        out.number = f;
    } else {
        double d = strtod_l(text.c_str(), nullptr, c_locale());
        if (std::isinf(d)) return false;
        out.number = d;
    }
    return true;
}

}  // namespace

line_split_result line_split(std::string_view line, int32_t n, bool whole_line) {
    line_split_result r;
    if (whole_line) {
        r.valid = true;
        r.fields.emplace_back(line);
        return r;
    }
    std::string field;
    bool at_start = true, quoted = false, closed = false;
    for (char c : line) {
        if (quoted) {
            if (c == '"') quoted = false, closed = true;
            else field += c;
            continue;
        }
        if (c == ',') {
            r.fields.push_back(field);
            if (int64_t(r.fields.size()) >= n) return r;
            field.clear();
            at_start = true;
            closed = false;
            continue;
        }
        if (closed) return r;
        if (c == '"' && at_start) quoted = true;
        else field += c;
        at_start = false;
    }
    r.fields.push_back(field);
    r.valid = true;
    return r;
}

int32_t radix_literal_parse(std::string_view text, uint64_t& value) {
    value = 0;
    if (text.empty() || text == "&") return radix_hexadecimal;
    if (text[0] != '&') return radix_invalid;
    char c = text[1];
    std::string_view digits = text.substr(2);
    uint64_t v = 0;
    if (c == 'H' || c == 'h') {
        if (digits.size() > hex_digits_max) return radix_invalid;
        for (char d : digits) {
            int32_t x = hex_digit(d);
            if (x < 0) return radix_invalid;
            v = (v << 4) | uint64_t(x);
        }
        value = v;
        return radix_hexadecimal;
    }
    if (c == 'O' || c == 'o') {
        if (digits.size() > octal_digits_max) return radix_invalid;
        if (digits.size() == octal_digits_max && digits[0] != '0' && digits[0] != '1') return radix_invalid;
        for (char d : digits) {
            if (d < '0' || d > '7') return radix_invalid;
            v = (v << 3) | uint64_t(d - '0');
        }
        value = v;
        return radix_octal;
    }
    return radix_invalid;
}

bool field_check(std::string_view field, variable_type_code type, int32_t fixed_length, field_value& value) {
    value = field_value{};
    if (type_code_is_string(type)) {
        if (fixed_length >= 0 && int64_t(field.size()) > fixed_length) return false;
        value.kind = field_kind::text;
        value.text = std::string(field);
        return true;
    }
    if (type_code_is_float(type)) return float_check(field, type, value);
    uint32_t size = type_code_size(type);
    // An empty field reads as the radix literal "" (0), so the decimal checks always see a character.
    if (size <= 32 || size == 64) return integer_check(field, type, value);
    return true;  // other sizes: nothing is checked or stored
}
