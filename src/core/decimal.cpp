#include "core/decimal.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cassert>
#include <charconv>
#include <cstdlib>
#include <cmath>
#include <cstring>
#include <limits>
#include <string>

namespace {

// Powers of ten that the type holds exactly: 10^k = 2^k x 5^k, and 5^27 < 2^64, 5^22 < 2^53.
constexpr int extended_exact_power = 27;
constexpr int double_exact_power = 22;
constexpr size_t extended_exact_digits = 19;  // below 10^19 < 2^64

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

// Little-endian words, enough for 2^1392 (below).
struct big_integer {
    std::array<uint32_t, 44> words{};
    size_t size = 0;
};

constexpr int bit_length(const big_integer& b) {
    return b.size == 0 ? 0 : int(32 * (b.size - 1)) + 32 - std::countl_zero(b.words[b.size - 1]);
}

// The top 128 bits (floor), and whether the bits below them are all zero.
constexpr power_of_ten top_bits(const big_integer& b, int exponent_offset) {
    int bits = bit_length(b);
    auto bit = [&](int i) { return i >= 0 && (b.words[size_t(i / 32)] >> (i % 32)) & 1; };
    power_of_ten p{0, 0, bits - 128 + exponent_offset, true};
    for (int i = 0; i < 128; ++i) {
        uint64_t v = bit(bits - 1 - i) ? 1 : 0;
        if (i < 64) p.high |= v << (63 - i);
        else p.low |= v << (127 - i);
    }
    for (int i = 0; i < bits - 128 && p.exact; ++i) p.exact = !bit(i);
    return p;
}

constexpr void multiply_by_ten(big_integer& b) {
    uint64_t carry = 0;
    for (size_t i = 0; i < b.size; ++i) {
        uint64_t v = uint64_t(b.words[i]) * 10 + carry;
        b.words[i] = uint32_t(v);
        carry = v >> 32;
    }
    if (carry) b.words[b.size++] = uint32_t(carry);
}

constexpr void divide_by_ten(big_integer& b) {
    uint64_t rest = 0;
    for (size_t i = b.size; i-- > 0;) {
        uint64_t v = rest << 32 | b.words[i];
        b.words[i] = uint32_t(v / 10);
        rest = v % 10;
    }
    while (b.size > 0 && b.words[b.size - 1] == 0) --b.size;
}

// Index k + power_range. 10^-j comes from floor(2^n / 10^j), exact in its floor, n large enough
// that the quotient keeps more than 128 bits. Made by the compiler.
constexpr auto powers = [] {
    std::array<power_of_ten, 2 * power_range + 1> t{};
    big_integer b;
    b.words[0] = 1;
    b.size = 1;
    for (int k = 0; k <= power_range; ++k, multiply_by_ten(b)) t[size_t(power_range + k)] = top_bits(b, 0);
    constexpr int n = 128 + 64 + 1200;  // 10^350 < 2^1163
    big_integer q;
    q.size = n / 32 + 1;
    q.words[q.size - 1] = uint32_t(1) << (n % 32);
    for (int j = 1; j <= power_range; ++j) {
        divide_by_ten(q);
        power_of_ten p = top_bits(q, -n);
        p.exact = false;  // no negative power of ten is a binary fraction
        t[size_t(power_range - j)] = p;
    }
    return t;
}();

// The 192 bits of mm x F.
struct product_192 {
    uint64_t w2, w1, w0;
};

product_192 multiply_by_power(uint64_t mm, const power_of_ten& p) {
    using u128 = unsigned __int128;
    u128 a = u128(mm) * p.low, b = u128(mm) * p.high;
    u128 mid = (a >> 64) + uint64_t(b);
    return {uint64_t(b >> 64) + uint64_t(mid >> 64), uint64_t(mid), uint64_t(a)};
}

// m x 10^k rounded to `precision` bits (64 or 53), ties to even: the significand and its binary
// exponent, or false when the product cannot decide.
bool product_rounded(uint64_t m, int k, int precision, uint64_t& significand, int& exponent) {
    const power_of_ten& p = powers[size_t(power_range + k)];
    int s = std::countl_zero(m);
    auto [w2, w1, w0] = multiply_by_power(m << s, p);
    using u128 = unsigned __int128;
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

// ---- a double's significant digits -------------------------------------------------------------
//
// x = mm x 2^q with mm normalised to 64 bits; 10^j = (F + d) x 2^e as above. With j chosen so that
// y = x x 10^j has `count` digits before its point, the product P = mm x F is y x 2^shift, shift
// between 131 and 191 for up to 17 digits: the integer part lies in P's top word, the fraction's
// top 64 bits below it. An inexact power leaves P up to mm < 2^64 short, less than an eighth of the
// fraction's last unit: the rounding is decided unless those 64 bits are one unit below the half.

static_assert(decimal_rounded_digits_max == 17);  // y below 10^18: its integer part within one word
constexpr uint64_t double_hidden_bit = uint64_t(1) << 52;
constexpr int double_exponent_bias = 1075;  // of the significand taken as an integer
constexpr int double_lowest_unit = -1074;
constexpr int log10_of_2_scaled = 78913;  // floor(e x log10(2)) = (e x 78913) >> 18 for |e| < 1650
constexpr int log10_of_2_shift = 18;

// The smallest double at or above 10^k, k from first_threshold on: x >= it exactly when x >= 10^k.
constexpr int first_threshold = -323;
constexpr int last_threshold = 309;  // above every double

constexpr auto power_thresholds = [] {
    std::array<double, last_threshold - first_threshold + 1> t{};
    using u128 = unsigned __int128;
    for (int k = first_threshold; k <= last_threshold; ++k) {
        const power_of_ten& p = powers[size_t(power_range + k)];
        // The double grid at 10^k's binade: 53 bits, or the denormals' unit.
        int unit = std::max(p.exponent + 127 - 52, double_lowest_unit);
        int shift = unit - p.exponent;
        u128 f = u128(p.high) << 64 | p.low;
        u128 kept = shift >= 128 ? 0 : f >> shift;
        bool rest = !p.exact || (shift >= 128 ? f != 0 : (f & ((u128(1) << shift) - 1)) != 0);
        auto significand = uint64_t(kept + (rest ? 1 : 0));  // up to 2^53
        // Its bits: a denormal's significand stands alone; else the field counts from the unit.
        int top = 63 - std::countl_zero(significand);
        int field = unit + top + double_exponent_bias - 52;
        uint64_t bits = field <= 0 ? significand << (unit - double_lowest_unit)
                                   : uint64_t(field) << 52 | ((significand << (52 - top)) & (double_hidden_bit - 1));
        t[size_t(k - first_threshold)] = field >= 2047 ? HUGE_VAL : std::bit_cast<double>(bits);
    }
    return t;
}();

// y = mm x 2^q x 10^j, its integer part rounded (ties to even) for the power j that gives it count
// digits when the first digit's power is e; false when the product cannot decide.
bool round_product(uint64_t mm, int q, int count, int e, uint64_t& rounded) {
    const power_of_ten& p = powers[size_t(power_range + count - 1 - e)];
    auto [w2, w1, w0] = multiply_by_power(mm, p);
    int r = -q - p.exponent - 128;  // the shift less the two lower words
    assert(r >= 3 && r <= 63);
    uint64_t integer = w2 >> r;
    uint64_t fraction = w2 << (64 - r) | w1 >> r;
    constexpr uint64_t half = uint64_t(1) << 63;
    if (!p.exact && fraction == half - 1) return false;
    // At the half: an inexact power lies above it; an exact one rounds to even when nothing follows.
    bool beyond_half = !p.exact || w0 != 0 || (w1 & ((uint64_t(1) << r) - 1)) != 0 || (integer & 1);
    rounded = integer + uint64_t(fraction > half || (fraction == half && beyond_half));
    return true;
}

// x finite and above 0, count from 1 to decimal_rounded_digits_max.
bool digits_by_product(double x, int count, uint64_t& digits, int& exponent) {
    auto bits = std::bit_cast<uint64_t>(x);
    uint64_t field = bits >> 52;
    uint64_t m = bits & (double_hidden_bit - 1);
    int q = field == 0 ? double_lowest_unit : int(field) - double_exponent_bias;
    if (field != 0) m |= double_hidden_bit;
    int lz = std::countl_zero(m);
    q -= lz;
    // The first digit's power: e from the binary exponent, or one more.
    int e = ((q + 63) * log10_of_2_scaled) >> log10_of_2_shift;
    e += x >= power_thresholds[size_t(e + 1 - first_threshold)];
    uint64_t rounded;
    if (!round_product(m << lz, q, count, e, rounded)) return false;
    if (rounded == decimal_integer_powers[size_t(count)]) {  // 9...9.5 and above carry into a new digit
        rounded = decimal_integer_powers[size_t(count - 1)];
        ++e;
    }
    digits = rounded;
    exponent = e;
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

// m x 10^k as one correctly rounded operation when m and the power of ten are both exact in T
// (long double arithmetic runs on the x87 unit at the 64-bit precision that the runtime keeps).
template <typename T, size_t n>
bool exact_path(uint64_t m, int64_t k, const std::array<T, n>& powers, uint64_t exact_below, T& out) {
    if (m >= exact_below || k < -int64_t(n - 1) || k > int64_t(n - 1)) return false;
    out = k >= 0 ? T(m) * powers[size_t(k)] : T(m) / powers[size_t(-k)];
    return true;
}

// The digits of m below 10^19 and the power of ten of the first, for the C library.
template <typename T>
T integer_through_text(uint64_t m, int64_t k, bool negative, T (*convert)(const char*, char**)) {
    char digits[20];
    auto count = size_t(std::to_chars(digits, std::end(digits), m).ptr - digits);
    return through_text<T>(std::string_view(digits, count), k + int64_t(count) - 1, negative, convert);
}

struct conversion_limits {
    uint64_t exact_below;  // the integers the type holds exactly, as far as the exact path takes them
    int power_limit;       // |k| for the 128-bit product
};
constexpr conversion_limits extended_limits{decimal_integer_powers[19], power_range};  // 10^19 < 2^64
constexpr conversion_limits double_limits{decimal_integer_powers[15], double_power_range};  // 10^15 < 2^53

// m x 10^k for m from 1 to 10^19 - 1: the exact path, else the 128-bit product for |k| within the
// limit, else the C library's from_text.
template <typename T, size_t n>
T integer_to(uint64_t m, int64_t k, bool negative, const std::array<T, n>& powers, const conversion_limits& limits,
             T (*from_text)(const char*, char**)) {
    T r;
    if (exact_path(m, k, powers, limits.exact_below, r)) return negative ? -r : r;
    uint64_t significand;
    int binary_exponent;
    if (k >= -limits.power_limit && k <= limits.power_limit &&
        product_rounded(m, int(k), std::numeric_limits<T>::digits, significand, binary_exponent)) {
        r = std::ldexp(static_cast<T>(significand), binary_exponent);
        return negative ? -r : r;
    }
    return integer_through_text<T>(m, k, negative, from_text);
}

// Up to 19 digits as an integer; more through the C library's from_text.
template <typename T, size_t n>
T decimal_to(std::string_view digits, int64_t exponent, bool negative, const std::array<T, n>& powers,
             const conversion_limits& limits, T (*from_text)(const char*, char**)) {
    if (digits.size() > extended_exact_digits) return through_text<T>(digits, exponent, negative, from_text);
    int64_t k = exponent - int64_t(digits.size() - 1);
    return integer_to(integer_of(digits), k, negative, powers, limits, from_text);
}

}  // namespace

long double decimal_to_extended(std::string_view digits, int64_t exponent, bool negative) {
    return decimal_to(digits, exponent, negative, extended_powers, extended_limits, std::strtold);
}

double decimal_to_double(std::string_view digits, int64_t exponent, bool negative) {
    return decimal_to(digits, exponent, negative, double_powers, double_limits, std::strtod);
}

long double decimal_integer_to_extended(uint64_t m, int64_t k, bool negative) {
    assert(m > 0 && m < extended_limits.exact_below);
    return integer_to(m, k, negative, extended_powers, extended_limits, std::strtold);
}

int decimal_digits_through_text(double x, int count, char* digits, bool& negative) {
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

namespace {

// The few values the product cannot decide.
[[gnu::cold, gnu::noinline]] int rounded_through_text(double x, int count, uint64_t& digits, bool& negative) {
    char text[decimal_rounded_digits_max];
    int exponent = decimal_digits_through_text(x, count, text, negative);
    std::from_chars(text, text + count, digits);
    return exponent;
}

}  // namespace

int decimal_rounded_of(double x, int count, uint64_t& digits, bool& negative) {
    assert(count >= 1 && count <= decimal_rounded_digits_max);
    negative = std::signbit(x);
    digits = 0;
    int exponent = 0;
    if (x == 0 || digits_by_product(std::fabs(x), count, digits, exponent)) return exponent;
    return rounded_through_text(x, count, digits, negative);
}

int decimal_digits_of(double x, int count, char* digits, bool& negative) {
    assert(count >= 1 && count <= decimal_digits_max);
    if (count > decimal_rounded_digits_max) return decimal_digits_through_text(x, count, digits, negative);
    uint64_t v;
    int exponent = decimal_rounded_of(x, count, v, negative);
    constexpr uint64_t eight = decimal_integer_powers[8];
    const uint64_t words[] = {decimal_eight_digits(uint32_t(v / (eight * eight))),
                              decimal_eight_digits(uint32_t(v / eight % eight)), decimal_eight_digits(uint32_t(v % eight))};
    char text[sizeof words];
    std::memcpy(text, words, sizeof words);
    std::memcpy(digits, text + sizeof text - size_t(count), size_t(count));
    return exponent;
}
