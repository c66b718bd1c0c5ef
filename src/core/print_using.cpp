#include "core/print_using.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>
#include <vector>

#include "core/decimal.h"
#include "core/error_codes.h"
#include "core/errors.h"
#include "core/print_using_field.h"

namespace {

// The digits of a binary value as the language prints them: 256 significant digits.
constexpr int full_digits = decimal_digits_max;
// Usually enough: a field that reads fewer digits than this, with a guard that shows no carry could
// have reached them, writes exactly what the full digits would write.
constexpr int short_digits = 15;  // held in place by std::string
constexpr int extended_decimals = 255;

enum class value_kind { number, text };

struct using_value {
    value_kind kind;
    print_using_digits* number;  // kind number
    const string_descriptor* text;  // kind text; null is the empty string
    // A number that may be formatted again from all 256 digits (single and double values).
    double refine_from = 0;
    bool refinable = false;
};

std::string_view view_of(const string_descriptor* s) {
    if (!s || s->length <= 0) return {};
    return {reinterpret_cast<const char*>(s->text), size_t(s->length)};
}

// A string field at `i`: its width (0 for "&": the whole string), and its end.
bool string_field_scan(std::string_view t, size_t i, size_t& width, size_t& end, bool& whole) {
    whole = false;
    if (t[i] == '&' || t[i] == '!') {
        whole = t[i] == '&';
        width = 1;
        end = i + 1;
        return true;
    }
    if (t[i] != '\\') return false;
    size_t j = i + 1;
    while (j < t.size() && t[j] == ' ') ++j;
    if (j >= t.size() || t[j] != '\\') return false;
    width = j - i + 1;
    end = j + 1;
    return true;
}

void string_into_field(std::string_view value, size_t width, bool whole, std::string& out) {
    if (whole) {
        out.append(value);
        return;
    }
    std::string_view shown = value.substr(0, width);
    out.append(shown);
    out.append(width - shown.size(), ' ');
}

// Scientific digits of x, correctly rounded to `count` significant digits.
void scientific_digits(double x, int count, print_using_digits& n) {
    n.digits.resize(size_t(count));
    n.exponent = decimal_digits_of(x, count, n.digits.data(), n.negative) - (count - 1);
}

// Whether x's exact decimal expansion has at most `count` significant digits, so that the short
// form is exact and its trailing zeros are real.
bool exact_within(double x, int count) {
    if (x == 0) return true;
    int e;
    double m = std::frexp(std::fabs(x), &e);
    auto bits = static_cast<uint64_t>(std::ldexp(m, 53));
    int low_zeros = __builtin_ctzll(bits);
    int odd_bits = 53 - low_zeros;  // x = odd x 2^q
    int q = e - 53 + low_zeros;
    // An odd integer times 2^q: as a decimal, at most bits x log10(2) + 1 digits times 5^-q.
    double digits = odd_bits * 0.30103 + 1 + (q < 0 ? -q * 0.69898 : q * 0.30103);
    return digits < count;
}

// The guard digits after the last one the field looked at neither all 0 nor all 9: no carry from
// further digits could reach what was read, so the full digits would read the same.
bool short_digits_decide(const print_using_digits& n, int64_t reach) {
    if (reach + 2 >= int64_t(n.digits.size())) return false;
    std::string_view guard = std::string_view(n.digits).substr(size_t(reach + 1));
    return guard.find_first_not_of('0') != std::string_view::npos &&
           guard.find_first_not_of('9') != std::string_view::npos;
}

// One numeric field; a short form that cannot decide is written again from all digits.
void number_into_field(const numeric_field& f, using_value& v, std::string& out) {
    size_t start = out.size();
    print_using_digits number = *v.number;
    int64_t reach = numeric_field_write(f, number, out);
    if (!v.refinable || short_digits_decide(*v.number, reach)) return;
    out.resize(start);
    scientific_digits(v.refine_from, full_digits, *v.number);
    v.refinable = false;
    number = *v.number;
    numeric_field_write(f, number, out);
}

// Appends what was built to the output string.
void output_append(string_descriptor* output, const std::string& text) {
    if (text.empty()) return;
    string_assign_always(output, string_concat(output, string_temp_from_bytes(text.data(), text.size())));
}

int32_t failed(int32_t error, string_descriptor* output, const std::string& text) {
    output_append(output, text);
    error_raise(error);
    return 0;
}

int32_t template_run(string_descriptor* template_string, int32_t position, string_descriptor* output, using_value v) {
    std::string_view t = view_of(template_string);
    std::string out;
    if (t.empty() || position < 0 || size_t(position) >= t.size())
        return failed(error_illegal_function_call, output, out);
    size_t i = size_t(position);
    bool used = false;
    bool wrapped = false;
    for (;;) {
        if (i >= t.size()) {
            if (used) break;
            // The template is used again from its start, once: a second pass would find no field either.
            if (position == 0 || wrapped) return failed(error_illegal_function_call, output, out);
            wrapped = true;
            i = 0;
            continue;
        }
        numeric_field f;
        size_t width = 0, end = 0;
        bool whole = false;
        bool numeric = numeric_field_scan(t, i, f);
        if (numeric || string_field_scan(t, i, width, end, whole)) {
            if (used) {
                output_append(output, out);
                return int32_t(i);
            }
            if ((v.kind == value_kind::number) != numeric) return failed(error_type_mismatch, output, out);
            if (numeric) {
                number_into_field(f, v, out);
            } else {
                string_into_field(view_of(v.text), width, whole, out);
            }
            used = true;
            i = numeric ? f.end : end;
            if (i >= t.size()) break;
            continue;
        }
        // Literal text; "_" makes the next character literal.
        if (t[i] == '_' && i + 1 < t.size()) ++i;
        out += t[i++];
    }
    output_append(output, out);
    return 0;
}

int32_t number_run(string_descriptor* template_string, int32_t position, string_descriptor* output,
                   print_using_digits& number, double refine_from = 0, bool refinable = false) {
    return template_run(template_string, position, output,
                        {value_kind::number, &number, nullptr, refine_from, refinable});
}

print_using_digits integer_digits_of(uint64_t magnitude, bool negative) {
    char text[24];
    char* end = std::to_chars(text, std::end(text), magnitude).ptr;
    return {std::string(text, end), 0, negative, 'E'};
}

int32_t binary_run(string_descriptor* template_string, double x, char letter, int32_t position,
                   string_descriptor* output) {
    if (!std::isfinite(x)) {
        error_raise(error_illegal_function_call);
        return 0;
    }
    print_using_digits number;
    number.letter = letter;
    bool exact = exact_within(x, short_digits);
    scientific_digits(x, short_digits, number);
    return number_run(template_string, position, output, number, x, !exact);
}

}  // namespace

int32_t print_using_format(string_descriptor* template_string, int32_t position, string_descriptor* output,
                           string_descriptor* value) {
    if (error_pending()) return 0;
    return template_run(template_string, position, output, {value_kind::text, nullptr, value});
}

int32_t print_using_int64(string_descriptor* template_string, int64_t value, int32_t position,
                          string_descriptor* output) {
    if (error_pending()) return 0;
    uint64_t magnitude = value < 0 ? 0 - uint64_t(value) : uint64_t(value);
    print_using_digits number = integer_digits_of(magnitude, value < 0);
    return number_run(template_string, position, output, number);
}

int32_t print_using_uint64(string_descriptor* template_string, uint64_t value, int32_t position,
                           string_descriptor* output) {
    if (error_pending()) return 0;
    print_using_digits number = integer_digits_of(value, false);
    return number_run(template_string, position, output, number);
}

int32_t print_using_single(string_descriptor* template_string, float value, int32_t position,
                           string_descriptor* output) {
    if (error_pending()) return 0;
    return binary_run(template_string, value, 'E', position, output);
}

int32_t print_using_double(string_descriptor* template_string, double value, int32_t position,
                           string_descriptor* output) {
    if (error_pending()) return 0;
    return binary_run(template_string, value, 'D', position, output);
}

int32_t print_using_float80(string_descriptor* template_string, long double value, int32_t position,
                            string_descriptor* output) {
    if (error_pending()) return 0;
    if (!std::isfinite(value)) {
        error_raise(error_illegal_function_call);
        return 0;
    }
    // Every digit of the fixed form with 255 decimals, in a buffer sized from the value's exponent.
    int e2;
    std::frexp(value, &e2);
    // Room for the fixed form, and for the scientific form of a value below every fixed digit.
    size_t size = size_t(std::max(e2, 1)) * 30103 / 100000 + extended_decimals + 16;
    std::vector<char> text(size);
    int length = std::snprintf(text.data(), size, "% .*Lf", extended_decimals, value);
    print_using_digits number;
    number.negative = text[0] == '-';
    number.letter = 'F';
    for (int i = 1; i < length; ++i)
        if (text[size_t(i)] >= '0' && text[size_t(i)] <= '9') number.digits += text[size_t(i)];
    number.exponent = -extended_decimals;
    // Leading zeros of the fixed form are not significant: an exponent field shows the digits that are.
    size_t first = number.digits.find_first_not_of('0');
    if (first != std::string::npos) {
        number.digits.erase(0, first);
    } else if (value != 0) {
        // Below 10^-255 the fixed form holds no digit: the scientific form's 256 digits do.
        std::snprintf(text.data(), size, "% .*Le", full_digits - 1, value);
        number.digits.assign(1, text[1]);
        number.digits.append(&text[3], size_t(full_digits - 1));
        number.exponent = std::strtol(std::strchr(text.data(), 'e') + 1, nullptr, 10) - (full_digits - 1);
    } else {
        number.digits.assign(1, '0');
    }
    return number_run(template_string, position, output, number);
}
