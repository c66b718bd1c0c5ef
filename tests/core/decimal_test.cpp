#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "core/decimal.h"
#include "core/number_fixture.h"

namespace {

bool same_bits(long double a, long double b) { return std::memcmp(&a, &b, 10) == 0; }

std::string text_of_digits(const std::string& digits, int64_t exponent, bool negative) {
    std::string text = negative ? "-" : "";
    text.append(digits, 0, 1).append(".").append(digits, 1).append("E").append(std::to_string(exponent));
    return text;
}

// Up to 19 digits at powers of ten across the whole range of both paths: the C library's result,
// bit for bit, for extended and double values.
TEST(Decimal, ShortDigitsAgreeWithTheCLibrary) {
    std::mt19937_64 random(11);
    for (int64_t i = 0; i < differential_cases(1000000); ++i) {
        int n = int(random() % 19) + 1;
        std::string digits(1, char('1' + random() % 9));
        for (int j = 1; j < n; ++j) digits += char('0' + random() % 10);
        if (random() % 4 == 0) std::fill(digits.begin() + std::min(digits.size(), size_t(1 + random() % 18)), digits.end(), '0');
        int64_t exponent = int64_t(random() % 760) - 380;
        bool negative = random() & 1;
        std::string text = text_of_digits(digits, exponent, negative);
        ASSERT_TRUE(same_bits(decimal_to_extended(digits, exponent, negative), std::strtold(text.c_str(), nullptr)))
            << text;
        ASSERT_EQ(decimal_to_double(digits, exponent, negative), std::strtod(text.c_str(), nullptr)) << text;
    }
}

// Exact ties and values one unit beside them.
TEST(Decimal, Ties) {
    struct row { const char* digits; int64_t exponent; };
    const row rows[] = {{"1", 23},  {"9007199254740993", 15}, {"9007199254740995", 15}, {"18446744073709551617", 19},
                        {"36893488147419103233", 19}, {"5", -1}, {"125", -3}, {"11920928955078125", 16},
                        {"9007199254740993", 45}, {"1", 55}, {"1", 56}, {"17976931348623157", 308}};
    for (const row& r : rows) {
        std::string text = text_of_digits(r.digits, r.exponent, false);
        EXPECT_TRUE(same_bits(decimal_to_extended(r.digits, r.exponent, false), std::strtold(text.c_str(), nullptr)))
            << text;
        EXPECT_EQ(decimal_to_double(r.digits, r.exponent, false), std::strtod(text.c_str(), nullptr)) << text;
    }
}

// ---- significant digits: the product against the standard library's scientific text ------------

// The digits of decimal_digits_of and of decimal_rounded_of, and the scientific text's, agree.
::testing::AssertionResult digits_agree(double x, int count) {
    char want[decimal_digits_max], got[decimal_digits_max];
    bool want_negative, got_negative, rounded_negative;
    int want_exponent = decimal_digits_through_text(x, count, want, want_negative);
    int got_exponent = decimal_digits_of(x, count, got, got_negative);
    uint64_t rounded;
    int rounded_exponent = decimal_rounded_of(x, count, rounded, rounded_negative);
    uint64_t want_integer = 0;
    std::from_chars(want, want + count, want_integer);
    if (got_exponent == want_exponent && got_negative == want_negative && std::memcmp(got, want, size_t(count)) == 0 &&
        rounded == want_integer && rounded_exponent == want_exponent && rounded_negative == want_negative)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << std::hexfloat << x << " to " << count << " digits: "
                                         << std::string(got, size_t(count)) << "E" << got_exponent << ", "
                                         << rounded << "E" << rounded_exponent << " against "
                                         << std::string(want, size_t(count)) << "E" << want_exponent;
}

// Random doubles of every kind at every count the product serves: bit patterns, values across the
// exponent range, exact ties n.5 x 10^k at the rounded digit, values beside them, powers of ten
// and their neighbours, and carries (9...9.5 x 10^k).
TEST(DecimalDigits, ProductAgreesWithTheScientificText) {
    std::mt19937_64 random(12);
    auto pick = [&](int count) {
        switch (random() % 6) {
        case 0: return std::bit_cast<double>(random());
        case 1: return std::ldexp(double(random() >> 11), int(random() % 2150) - 1126);
        case 2: {  // the digit after the count-th is a 5 followed by nothing: an exact tie
            auto n = uint64_t(std::pow(10.0, count - 1)) + random() % (9 * uint64_t(std::pow(10.0, count - 1)));
            double tie = (double(n) + 0.5) * std::pow(10.0, double(random() % 8));
            return random() % 2 ? tie : std::nextafter(tie, random() % 2 ? 0.0 : HUGE_VAL);
        }
        case 3: {
            double p = std::pow(10.0, double(int(random() % 630) - 320));
            return random() % 3 == 0 ? p : std::nextafter(p, random() % 2 ? 0.0 : HUGE_VAL);
        }
        case 4: return (std::pow(10.0, count) - 0.5) * std::pow(10.0, double(int(random() % 40) - 20));
        default: return double(std::bit_cast<float>(uint32_t(random())));
        }
    };
    for (int64_t i = 0; i < differential_cases(2000000); ++i) {
        int count = int(random() % decimal_rounded_digits_max) + 1;
        double x = pick(count);
        if (!std::isfinite(x)) continue;
        if (random() % 2) x = -x;
        ASSERT_TRUE(digits_agree(x, count));
    }
    for (double x : {0.0, -0.0, std::numeric_limits<double>::denorm_min(), std::numeric_limits<double>::min(),
                     std::numeric_limits<double>::max(), 1234567890123456.5, 0.5, 2.5, 1e22, 1e23, 5e-324})
        for (int count = 1; count <= decimal_rounded_digits_max; ++count) ASSERT_TRUE(digits_agree(x, count));
}

// Every value below 10^8 against its digits taken one division at a time.
TEST(DecimalDigits, EightDigitsOfEveryValue) {
    const uint32_t step = sanitized_build ? 997 : 1;
    for (uint32_t v = 0; v < 100000000; v += step) {
        uint64_t want = 0;
        for (uint32_t rest = v, i = 0; i < 8; ++i, rest /= 10) want |= uint64_t('0' + rest % 10) << (8 * (7 - i));
        ASSERT_EQ(decimal_eight_digits(v), want) << v;
    }
}

// Every single, both signs, at the short form's 7 digits; the sanitizer builds take a sample. The
// library's digits grow with the value, so where the product gives the same digits to a run of
// neighbouring singles, the library's digits at the run's two ends hold for the singles between:
// it is asked at those ends only. A negative single has its magnitude's digits.
TEST(DecimalDigits, EverySingleAgreesWithTheScientificText) {
    constexpr int count = 7;
    constexpr uint32_t magnitudes_end = 0x7F800000;  // infinity: the finite magnitudes lie below
    constexpr uint32_t chunk = 1 << 16;
    const uint32_t step = sanitized_build ? 1021 : 1;
    struct rounded {
        uint64_t digits;
        int exponent;
        bool operator==(const rounded&) const = default;
    };
    auto product = [](float f, bool& negative) {
        rounded r;
        r.exponent = decimal_rounded_of(f, count, r.digits, negative);
        return r;
    };
    auto library = [](float f) {
        char text[count];
        bool negative;
        rounded r{0, decimal_digits_through_text(f, count, text, negative)};
        std::from_chars(text, text + count, r.digits);
        return r;
    };
    unsigned threads = std::max(1u, std::min(8u, std::thread::hardware_concurrency()));
    std::vector<uint64_t> failures(threads);
    std::vector<uint32_t> first_failure(threads);
    std::vector<std::thread> workers;
    for (unsigned t = 0; t < threads; ++t) {
        workers.emplace_back([&, t] {
            auto fail = [&](uint32_t bits) {
                if (failures[t]++ == 0) first_failure[t] = bits;
            };
            for (uint32_t start = t * chunk; start < magnitudes_end; start += threads * chunk) {
                uint32_t end = std::min(start + chunk, magnitudes_end);
                rounded previous{};
                bool previous_checked = true;
                for (uint32_t bits = start; bits < end; bits += step) {
                    auto f = std::bit_cast<float>(bits);
                    bool negative, negated_negative;
                    rounded r = product(f, negative);
                    if (product(-f, negated_negative) != r || negative || !negated_negative) fail(bits | 0x80000000u);
                    bool run_ends = bits == start || r != previous || bits + step >= end || step > 1;
                    if (run_ends && !previous_checked && library(std::bit_cast<float>(bits - step)) != previous)
                        fail(bits - step);
                    if (run_ends && library(f) != r) fail(bits);
                    previous_checked = run_ends;
                    previous = r;
                }
            }
        });
    }
    for (auto& w : workers) w.join();
    for (unsigned t = 0; t < threads; ++t) EXPECT_EQ(failures[t], 0u) << "first at bits " << std::hex << first_failure[t];
}

}  // namespace
