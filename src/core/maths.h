// The language's numeric functions that can fail, with their argument checks (error 5 or 6 and a
// result of 0 instead of an infinity or NaN), the truncating integer part, and the conversions of
// floating values to integers by the processor's rounding (round to nearest, ties to even).
// None of them looks at a pending error.
#pragma once

#include <cstdint>
#include <emmintrin.h>

double math_log(double x);
double math_exp_single(double x);
double math_exp_double(long double x);
double math_sqrt(double x);
double math_power(long double base, long double exponent);

double math_truncate_double(double x);
double math_truncate_float80(long double x);

// By the current rounding mode. Out of range (and NaN) give the most negative integer of the width.
inline int32_t float_to_int32(float x) { return _mm_cvtss_si32(_mm_set_ss(x)); }
inline int32_t double_to_int32(double x) { return _mm_cvtsd_si32(_mm_set_sd(x)); }
inline int64_t long_double_to_int64(long double x) {
    int64_t r;
    asm("fistpll %0" : "=m"(r) : "t"(x) : "st");
    return r;
}
// The same signed conversion; its callers give it only values below 2^63.
inline uint64_t long_double_to_uint64(long double x) { return static_cast<uint64_t>(long_double_to_int64(x)); }
