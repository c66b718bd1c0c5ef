#include "core/maths.h"

#include <cmath>

#include "core/errors.h"

namespace {

// The largest arguments whose exponential the single and double results hold.
constexpr double exp_single_limit = 88.02969;
constexpr double exp_double_limit = 709.782712893;

double failed(int32_t error) {
    error_raise(error);
    return 0;
}

double truncated(double x) { return x >= 0 ? std::floor(x) : std::ceil(x); }

}  // namespace

// The comparisons are written so that a NaN argument goes where the language sends it: log lets it
// through, sqrt and the exponentials refuse it.
double math_log(double x) { return x <= 0 ? failed(error_illegal_function_call) : std::log(x); }

double math_sqrt(double x) { return x >= 0 ? std::sqrt(x) : failed(error_illegal_function_call); }

double math_exp_single(double x) { return x <= exp_single_limit ? std::exp(x) : failed(error_overflow); }

double math_exp_double(long double x) {
    return x <= exp_double_limit ? std::exp(static_cast<double>(x)) : failed(error_overflow);
}

double math_power(long double base, long double exponent) {
    double e = static_cast<double>(exponent);
    if (!(base >= 0 || exponent == std::floor(e))) return failed(error_illegal_function_call);
    return std::pow(static_cast<double>(base), e);
}

double math_truncate_double(double x) { return truncated(x); }

double math_truncate_float80(long double x) { return truncated(static_cast<double>(x)); }
