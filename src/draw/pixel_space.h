// Pixel space for the drawing statements that compute in doubles (circles, the turtle): logical
// coordinates mapped by the image's coord_mode without rounding, and back, and the conversions
// of doubles to pixel coordinates. Values far off every image are held at +-2^53 (NaN at +2^53),
// so the conversions are always defined and sums or differences of two results never overflow
// 64 bits; every image lies far inside that range, so clipping gives the same pixels.
#pragma once

#include <cstdint>

#include "core/maths.h"
#include "screen/image_pool.h"

// Logical to pixel space: mode 2 applies the window (scale and offset) and the view origin,
// mode 1 the view origin, mode 0 nothing.
inline double pixel_space_x(const image_record* r, double x) {
    switch (r->coord_mode) {
        case 0: return x;
        case 1: return x + r->view_origin_x;
        default: return x * r->scale_x + r->offset_x + r->view_origin_x;
    }
}
inline double pixel_space_y(const image_record* r, double y) {
    switch (r->coord_mode) {
        case 0: return y;
        case 1: return y + r->view_origin_y;
        default: return y * r->scale_y + r->offset_y + r->view_origin_y;
    }
}
// Pixel space back to logical coordinates.
inline double logical_x(const image_record* r, double px) {
    switch (r->coord_mode) {
        case 0: return px;
        case 1: return px - r->view_origin_x;
        default: return (px - r->view_origin_x - r->offset_x) / r->scale_x;
    }
}
inline double logical_y(const image_record* r, double py) {
    switch (r->coord_mode) {
        case 0: return py;
        case 1: return py - r->view_origin_y;
        default: return (py - r->view_origin_y - r->offset_y) / r->scale_y;
    }
}

constexpr double pixel_far = 9007199254740992.0;  // 2^53

inline double pixel_held(double v) { return v < pixel_far ? (v > -pixel_far ? v : -pixel_far) : pixel_far; }

// Truncated towards zero.
inline int64_t pixel_truncate(double v) { return static_cast<int64_t>(pixel_held(v)); }
// Rounded half away from zero: 0.5 added to a positive value, taken from a negative one, truncated.
inline int64_t pixel_round_away(double v) { return pixel_truncate(v < 0 ? v - 0.5 : v + 0.5); }
// Rounded to nearest, ties to even (the processor's conversion).
inline int64_t pixel_round_even(double v) { return long_double_to_int64(pixel_held(v)); }
