// One row of a mapped triangle: the span between a left and a right edge point (x, u and v in
// 16.16), with the sub-pixel handling of its end pixels, clipping to the destination and the
// pixel loop. The eight span loops (stored, blended, 8-bit and 8-bit with a transparent index,
// each with and without the wrap of the source) come from one template; a loop without the wrap
// is taken only when the span's first and last samples lie inside the source, so no sample is
// ever read outside it. Not here: the edges and segments (triangle_map.cpp).
#pragma once

#include <cstdint>

struct image_record;

struct triangle_painter {
    image_record* dest = nullptr;
    const image_record* source = nullptr;
    // The row drawing of the pixel operation, with the operation inline.
    void (*row)(const triangle_painter&, int64_t y, int64_t xl16, int64_t xr16, int64_t ul, int64_t vl, int64_t ur,
                int64_t vr) = nullptr;
    bool wrap = false;      // sample columns and rows modulo the source's size
    bool seamless = false;  // leave out the pixel holding the right edge
    uint8_t clear = 0;      // the source's transparent index, for the operation that skips it
};
// Both images 8-bit or both 32-bit.
triangle_painter triangle_painter_make(image_record* dest, const image_record* source, bool wrap, bool seamless);

// a / b truncated toward zero, as the integer division gives it, for 0 < b < 2^31 and |a| < 2^48,
// from the double 1 / b: two per row instead of two integer divisions.
int64_t quotient_toward_zero(int64_t a, int64_t b, double inverse);

// Row y (inside the destination) from the left point (xl16, ul, vl) to the right point (xr16, ur, vr).
void triangle_row_draw(const triangle_painter& p, int64_t y, int64_t xl16, int64_t xr16, int64_t ul, int64_t vl,
                       int64_t ur, int64_t vr);
