#include "core/decimal.h"

#include <array>
#include <bit>
#include <cassert>
#include <charconv>
#include <cstdlib>
#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

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

// ---- a 128-bit product for the other short numbers ---------------------------------------------
//
// 10^k as a 128-bit significand F (top bit set) and a binary exponent e: 10^k = (F + d) x 2^e with
// 0 <= d < 1, d = 0 for the exact entries. For m below 2^64 the product m x F lies less than 2^64
// (2^65 once normalised) below m x 10^k in its last bits; when those bits do not straddle the
// rounding point, the top bits rounded are the correctly rounded value. Otherwise the C library
// decides.

// The precisions the product rounds to: the x87 extended and the IEEE double significands.
static_assert(std::numeric_limits<long double>::digits == 64 && std::numeric_limits<double>::digits == 53);

constexpr int power_range = 350;  // |k| up to here: far from the extended and double limits
constexpr int double_power_range = 290;

struct power_of_ten {
    uint64_t high, low;
    int32_t exponent;
    bool exact;
};

using big_integer = std::vector<uint32_t>;  // little-endian words

int bit_length(const big_integer& b) {
    return b.empty() ? 0 : int(32 * (b.size() - 1)) + 32 - std::countl_zero(b.back());
}

// The top 128 bits (floor), and whether the bits below them are all zero.
power_of_ten top_bits(const big_integer& b, int exponent_offset) {
    int bits = bit_length(b);
    auto bit = [&](int i) { return i >= 0 && (b[size_t(i / 32)] >> (i % 32)) & 1; };
    power_of_ten p{0, 0, bits - 128 + exponent_offset, true};
    for (int i = 0; i < 128; ++i) {
        uint64_t v = bit(bits - 1 - i) ? 1 : 0;
        if (i < 64) p.high |= v << (63 - i);
        else p.low |= v << (127 - i);
    }
    for (int i = 0; i < bits - 128 && p.exact; ++i) p.exact = !bit(i);
    return p;
}

void multiply_by_ten(big_integer& b) {
    uint64_t carry = 0;
    for (uint32_t& w : b) {
        uint64_t v = uint64_t(w) * 10 + carry;
        w = uint32_t(v);
        carry = v >> 32;
    }
    if (carry) b.push_back(uint32_t(carry));
}

void divide_by_ten(big_integer& b) {
    uint64_t rest = 0;
    for (size_t i = b.size(); i-- > 0;) {
        uint64_t v = rest << 32 | b[i];
        b[i] = uint32_t(v / 10);
        rest = v % 10;
    }
    while (!b.empty() && b.back() == 0) b.pop_back();
}

// Index k + power_range. 10^-j comes from floor(2^n / 10^j), exact in its floor, n large enough
// that the quotient keeps more than 128 bits.
const std::array<power_of_ten, 2 * power_range + 1>& powers_table() {
    static const auto table = [] {
        std::array<power_of_ten, 2 * power_range + 1> t{};
        big_integer b{1};
        for (int k = 0; k <= power_range; ++k, multiply_by_ten(b)) t[size_t(power_range + k)] = top_bits(b, 0);
        constexpr int n = 128 + 64 + 1200;  // 10^350 < 2^1163
        big_integer q(n / 32 + 1, 0);
        q.back() = uint32_t(1) << (n % 32);
        for (int j = 1; j <= power_range; ++j) {
            divide_by_ten(q);
            power_of_ten p = top_bits(q, -n);
            p.exact = false;  // no negative power of ten is a binary fraction
            t[size_t(power_range - j)] = p;
        }
        return t;
    }();
    return table;
}

// m x 10^k rounded to `precision` bits (64 or 53), ties to even: the significand and its binary
// exponent, or false when the product cannot decide.
bool product_rounded(uint64_t m, int k, int precision, uint64_t& significand, int& exponent) {
    const power_of_ten& p = powers_table()[size_t(power_range + k)];
    int s = std::countl_zero(m);
    uint64_t mm = m << s;
    using u128 = unsigned __int128;
    u128 a = u128(mm) * p.low, b = u128(mm) * p.high;
    uint64_t w0 = uint64_t(a);
    u128 mid = (a >> 64) + uint64_t(b);
    uint64_t w1 = uint64_t(mid);
    uint64_t w2 = uint64_t(b >> 64) + uint64_t(mid >> 64);
    int t = 0;
    if (!(w2 >> 63)) {  // normalise the product to 192 bits
        w2 = w2 << 1 | w1 >> 63;
        w1 = w1 << 1 | w0 >> 63;
        w0 <<= 1;
        t = 1;
    }
    // Bits below the significand: r_high above the lowest word, r_low the lowest word.
    int dropped = 192 - precision;
    uint64_t sig = w2 >> (64 - precision);
    u128 r_high = precision == 64 ? u128(w1) : (u128(w2 & ((uint64_t(1) << (64 - precision)) - 1)) << 64 | w1);
    uint64_t r_low = w0;
    u128 half_high = u128(1) << (dropped - 1 - 64);
    bool up;
    if (p.exact) {
        up = r_high > half_high || (r_high == half_high && (r_low != 0 || (sig & 1)));
    } else if (r_high >= half_high) {
        up = true;   // the true bits lie at or above these, so past the half
    } else if (r_high + 2 < half_high) {
        up = false;  // up to 2^65 more (2^64, doubled by the normalising shift) stays below the half
    } else {
        return false;
    }
    exponent = p.exponent - s - t + dropped;
    if (up && ++sig == (precision == 64 ? 0 : uint64_t(1) << precision)) {
        sig = uint64_t(1) << (precision - 1);
        ++exponent;
    }
    significand = sig;
    return true;
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

// The exact path, else the 128-bit product for up to 19 digits and |k| within power_limit, else
// the C library's from_text.
template <typename T, size_t n>
T decimal_to(std::string_view digits, int64_t exponent, bool negative, const std::array<T, n>& powers,
             size_t exact_digits, int power_limit, T (*from_text)(const char*, char**)) {
    T r;
    if (exact_path(digits, exponent, powers, exact_digits, r)) return negative ? -r : r;
    int64_t k = exponent - int64_t(digits.size() - 1);
    uint64_t significand;
    int binary_exponent;
    if (digits.size() <= extended_exact_digits && k >= -power_limit && k <= power_limit &&
        product_rounded(integer_of(digits), int(k), std::numeric_limits<T>::digits, significand, binary_exponent)) {
        r = std::ldexp(static_cast<T>(significand), binary_exponent);
        return negative ? -r : r;
    }
    return through_text<T>(digits, exponent, negative, from_text);
}

}  // namespace

long double decimal_to_extended(std::string_view digits, int64_t exponent, bool negative) {
    return decimal_to(digits, exponent, negative, extended_powers, extended_exact_digits, power_range, std::strtold);
}

double decimal_to_double(std::string_view digits, int64_t exponent, bool negative) {
    return decimal_to(digits, exponent, negative, double_powers, double_exact_digits, double_power_range, std::strtod);
}

int decimal_digits_of(double x, int count, char* digits, bool& negative) {
    assert(count >= 1 && count <= decimal_digits_max);
    char text[decimal_digits_max + 16];  // sign, point, exponent
    char* end = std::to_chars(text, std::end(text), x, std::chars_format::scientific, count - 1).ptr;
    negative = text[0] == '-';
    const char* p = text + (negative ? 1 : 0);
    digits[0] = *p;
    if (count > 1) std::memcpy(digits + 1, p + 2, size_t(count - 1));  // after the point
    const char* e = static_cast<const char*>(std::memchr(p, 'e', size_t(end - p))) + 1;
    int exponent = 0;
    std::from_chars(e + (*e == '+'), end, exponent);  // from_chars takes "-" but not "+"
    return exponent;
}
