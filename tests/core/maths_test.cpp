#include <gtest/gtest.h>

#include <cfenv>
#include <cmath>
#include <cstring>
#include <functional>
#include <limits>

#include "core/maths.h"
#include "runtime_fixture.h"

namespace {

constexpr double nan_d = std::numeric_limits<double>::quiet_NaN();
constexpr double inf_d = std::numeric_limits<double>::infinity();

bool same_double(double a, double b) {
    if (std::isnan(a) || std::isnan(b)) return std::isnan(a) && std::isnan(b);
    return std::memcmp(&a, &b, sizeof a) == 0;  // tells -0.0 from 0.0
}

TEST(MathChecks, ErrorsAndPassThrough) {
    using unary = std::function<double(double)>;
    const unary log_f = math_log, sqrt_f = math_sqrt, exp_s = math_exp_single;
    const unary exp_d = [](double x) { return math_exp_double(x); };
    struct row { const char* name; unary f; double x; int32_t error; double result; };
    const row rows[] = {
        {"log", log_f, 0.0, 5, 0},
        {"log", log_f, -0.0, 5, 0},
        {"log", log_f, -1.0, 5, 0},
        {"log", log_f, -inf_d, 5, 0},
        {"log", log_f, 1e-300, 0, std::log(1e-300)},
        {"log", log_f, 1.0, 0, 0.0},
        {"log", log_f, nan_d, 0, nan_d},  // a NaN passes the check
        {"sqrt", sqrt_f, -1.0, 5, 0},
        {"sqrt", sqrt_f, -1e-300, 5, 0},
        {"sqrt", sqrt_f, -0.0, 0, -0.0},  // not below 0
        {"sqrt", sqrt_f, 2.25, 0, 1.5},
        {"sqrt", sqrt_f, nan_d, 5, 0},    // a NaN fails it
        {"exp1", exp_s, 88.02969, 0, std::exp(88.02969)},
        {"exp1", exp_s, 88.0297, 6, 0},
        {"exp1", exp_s, -inf_d, 0, 0.0},
        {"exp1", exp_s, nan_d, 6, 0},
        {"exp2", exp_d, 709.782712893, 0, std::exp(709.782712893)},
        {"exp2", exp_d, 709.7827129, 6, 0},
        {"exp2", exp_d, 1.0, 0, std::exp(1.0)},
    };
    for (const auto& r : rows) {
        recorded_boxes boxes;
        double got = r.f(r.x);
        EXPECT_EQ(error_number.load(), r.error) << r.name << " " << r.x;
        EXPECT_TRUE(same_double(got, r.result)) << r.name << " " << r.x << " gave " << got;
    }
    recorded_boxes boxes;
    EXPECT_TRUE(std::isfinite(math_exp_double(709.782712893)));
}

TEST(MathChecks, PowerErrorsAndPassThrough) {
    struct row { long double base, exponent; int32_t error; double result; };
    const row rows[] = {
        {-8, 1.0L / 3, 5, 0},
        {-8, 3, 0, -512},
        {-2, 0.5, 5, 0},
        {-8, 3 + 0x1p-60L, 5, 0},  // not an integer, though its double is 3
        {-2, -2, 0, 0.25},
        {2, 10, 0, 1024},
        {2, 0.5, 0, std::sqrt(2.0)},
        {0, 0, 0, 1},
        {-0.0L, 3, 0, -0.0},
        // A zero or positive base is not checked further: overflow and 0 to a negative power give
        // the library's infinities.
        {10, 400, 0, inf_d},
        {0, -1, 0, inf_d},
        {-0.0L, -3, 0, -inf_d},
        {-10, 401, 0, -inf_d},
        {10, -400, 0, 0},  // underflow is plain 0
        {inf_d, 2, 0, inf_d},  // an infinite operand stays as it was
    };
    for (const auto& r : rows) {
        recorded_boxes boxes;
        double got = math_power(r.base, r.exponent);
        EXPECT_EQ(error_number.load(), r.error) << double(r.base) << " ^ " << double(r.exponent);
        EXPECT_TRUE(same_double(got, r.result)) << double(r.base) << " ^ " << double(r.exponent) << " gave " << got;
    }
}

TEST(MathChecks, NoneLooksAtAPendingError) {
    recorded_boxes boxes;
    error_raise(53);
    EXPECT_EQ(math_sqrt(4), 2);
    EXPECT_EQ(math_log(1), 0);
    EXPECT_EQ(math_power(3, 2), 9);
    EXPECT_EQ(error_number.load(), 53);
}

TEST(MathTruncate, TowardZero) {
    struct row { long double x; double result; };
    const row rows[] = {
        {-0.5, -0.0}, {-1.5, -1}, {-2.5, -2}, {2.5, 2}, {0.999, 0}, {-0.0L, -0.0}, {1e300L, 1e300}, {-7, -7},
        {3 - 0x1p-62L, 3},   // rounds to double 3 before truncating
        {-3 + 0x1p-62L, -3},
    };
    for (const auto& r : rows) {
        EXPECT_TRUE(same_double(math_truncate_float80(r.x), r.result)) << double(r.x);
        double d = static_cast<double>(r.x);
        EXPECT_TRUE(same_double(math_truncate_double(d), r.result)) << d;
    }
    EXPECT_TRUE(same_double(math_truncate_double(2.9999999999999996), 2));
}

constexpr int32_t int32_indefinite = std::numeric_limits<int32_t>::min();
constexpr int64_t int64_indefinite = std::numeric_limits<int64_t>::min();

TEST(RoundingConversions, NearestTiesToEven) {
    struct row { double x; int32_t to_int32; int64_t to_int64; };
    const row rows[] = {
        {0.5, 0, 0}, {1.5, 2, 2}, {2.5, 2, 2}, {3.5, 4, 4}, {-0.5, 0, 0}, {-1.5, -2, -2}, {-2.5, -2, -2},
        {-3.5, -4, -4}, {0.49999997, 0, 0}, {2.7, 3, 3}, {-2.7, -3, -3},
        {4194304.5, 4194304, 4194304}, {4194305.5, 4194306, 4194306},
        {-2147483648.0, -2147483647 - 1, -2147483648LL},
        {2147483648.0, int32_indefinite, 2147483648LL},
        {3e9, int32_indefinite, 3000000000LL},
        {std::numeric_limits<double>::quiet_NaN(), int32_indefinite, int64_indefinite},
        {inf_d, int32_indefinite, int64_indefinite},
    };
    for (const auto& r : rows) {
        EXPECT_EQ(float_to_int32(static_cast<float>(r.x)), r.to_int32) << r.x;
        EXPECT_EQ(double_to_int32(r.x), r.to_int32) << r.x;
        EXPECT_EQ(long_double_to_int64(r.x), r.to_int64) << r.x;
    }
    struct double_row { double x; int32_t result; };
    const double_row doubles[] = {
        {2147483646.5, 2147483646}, {2147483647.4, 2147483647}, {2147483647.5, int32_indefinite},
        {-2147483648.5, -2147483647 - 1}, {-2147483649.5, int32_indefinite},
    };
    for (const auto& r : doubles) EXPECT_EQ(double_to_int32(r.x), r.result) << r.x;
}

TEST(RoundingConversions, ExtendedTiesToEvenAndIndefinite) {
    struct row { long double x; int64_t result; };
    const row rows[] = {
        {0x1p62L + 0.5L, int64_t{1} << 62},  // ties a double could not even hold
        {0x1p62L + 1.5L, (int64_t{1} << 62) + 2},
        {-0x1p62L - 2.5L, -(int64_t{1} << 62) - 2},
        {0x1p63L - 1, std::numeric_limits<int64_t>::max()},
        {0x1p63L - 0.5L, int64_indefinite},  // the even neighbour is 2^63, out of range
        {0x1p63L, int64_indefinite},
        {-0x1p63L, int64_indefinite},         // the most negative value itself
        {-0x1p63L - 1, int64_indefinite},
        {std::numeric_limits<long double>::quiet_NaN(), int64_indefinite},
    };
    for (const auto& r : rows) EXPECT_EQ(long_double_to_int64(r.x), r.result) << double(r.x);
    EXPECT_EQ(long_double_to_uint64(0x1p63L - 1), uint64_t{0x7FFFFFFFFFFFFFFF});
    EXPECT_EQ(long_double_to_uint64(1e18L + 0.5L), uint64_t{1000000000000000000});
}

TEST(RoundingConversions, FollowTheCurrentRoundingMode) {
    volatile double x = 2.5;  // kept from constant folding
    ASSERT_EQ(std::fesetround(FE_UPWARD), 0);
    int32_t f = float_to_int32(static_cast<float>(x));
    int32_t d = double_to_int32(x);
    int64_t e = long_double_to_int64(x);
    std::fesetround(FE_TONEAREST);
    EXPECT_EQ(f, 3);
    EXPECT_EQ(d, 3);
    EXPECT_EQ(e, 3);
}

}  // namespace
