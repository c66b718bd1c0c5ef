// Doubles to pixel coordinates for the drawing statements that compute in doubles (circles, the
// turtle). Values far off every image are held at +-2^53 (NaN at +2^53), so the conversions are
// always defined and sums or differences of two results never overflow 64 bits; every image lies
// far inside that range, so clipping gives the same pixels as with the exact values.
#pragma once

#include <cstdint>

#include "core/maths.h"

constexpr double pixel_far = 9007199254740992.0;  // 2^53

inline double pixel_held(double v) { return v < pixel_far ? (v > -pixel_far ? v : -pixel_far) : pixel_far; }

// Truncated towards zero.
inline int64_t pixel_truncate(double v) { return static_cast<int64_t>(pixel_held(v)); }
// Rounded half away from zero: 0.5 added to a positive value, taken from a negative one, truncated.
inline int64_t pixel_round_away(double v) { return pixel_truncate(v < 0 ? v - 0.5 : v + 0.5); }
// Rounded to nearest, ties to even (the processor's conversion).
inline int64_t pixel_round_even(double v) { return long_double_to_int64(pixel_held(v)); }
