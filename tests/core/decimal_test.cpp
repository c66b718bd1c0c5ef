#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>

#include "core/decimal.h"
#include "core/number_fixture.h"

namespace {

bool same_bits(long double a, long double b) { return std::memcmp(&a, &b, 10) == 0; }

std::string text_of_digits(const std::string& digits, int64_t exponent, bool negative) {
    return (negative ? "-" : "") + digits.substr(0, 1) + "." + digits.substr(1) + "E" + std::to_string(exponent);
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

}  // namespace
