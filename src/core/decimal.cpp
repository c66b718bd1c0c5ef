#include "core/decimal.h"

#include <array>
#include <charconv>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

// Powers of ten that the type holds exactly: 10^k = 2^k x 5^k, and 5^27 < 2^64, 5^22 < 2^53.
constexpr int extended_exact_power = 27;
constexpr int double_exact_power = 22;
constexpr size_t extended_exact_digits = 19;  // below 10^19 < 2^64
constexpr size_t double_exact_digits = 15;    // below 10^15 < 2^53

template <typename T, int n>
constexpr std::array<T, n + 1> powers_of_ten() {
    std::array<T, n + 1> p{};
    p[0] = 1;
    for (int i = 1; i <= n; ++i) p[i] = p[i - 1] * 10;
    return p;
}
constexpr auto extended_powers = powers_of_ten<long double, extended_exact_power>();
constexpr auto double_powers = powers_of_ten<double, double_exact_power>();

uint64_t integer_of(std::string_view digits) {
    uint64_t m = 0;
    for (char c : digits) m = m * 10 + uint64_t(c - '0');
    return m;
}

// "-d.ddddE<exponent>", the form the C library reads, converted by `convert`; short texts are
// built on the stack.
template <typename T>
T through_text(std::string_view digits, int64_t exponent, bool negative, T (*convert)(const char*, char**)) {
    constexpr size_t stack_text = 96;
    constexpr size_t room = 28;  // sign, point, letter, exponent, terminator
    char small[stack_text];
    std::string large;
    char* t = small;
    if (digits.size() + room > stack_text) {
        large.resize(digits.size() + room);
        t = large.data();
    }
    char* p = t;
    if (negative) *p++ = '-';
    *p++ = digits[0];
    *p++ = '.';
    std::memcpy(p, digits.data() + 1, digits.size() - 1);
    p += digits.size() - 1;
    *p++ = 'E';
    p = std::to_chars(p, p + 24, exponent).ptr;
    *p = 0;
    return convert(t, nullptr);
}

// One correctly rounded operation when the digits and the power of ten are both exact in T (long
// double arithmetic runs on the x87 unit at the 64-bit precision that the runtime keeps).
template <typename T, size_t n>
bool exact_path(std::string_view digits, int64_t exponent, const std::array<T, n>& powers, size_t max_digits,
                T& out) {
    if (digits.size() > max_digits) return false;
    int64_t k = exponent - int64_t(digits.size() - 1);
    if (k < -int64_t(n - 1) || k > int64_t(n - 1)) return false;
    T m = T(integer_of(digits));
    out = k >= 0 ? m * powers[size_t(k)] : m / powers[size_t(-k)];
    return true;
}

}  // namespace

long double decimal_to_extended(std::string_view digits, int64_t exponent, bool negative) {
    long double r;
    if (exact_path(digits, exponent, extended_powers, extended_exact_digits, r)) return negative ? -r : r;
    return through_text<long double>(digits, exponent, negative, std::strtold);
}

double decimal_to_double(std::string_view digits, int64_t exponent, bool negative) {
    double r;
    if (exact_path(digits, exponent, double_powers, double_exact_digits, r)) return negative ? -r : r;
    return through_text<double>(digits, exponent, negative, std::strtod);
}
