// The rows of a mapped triangle, each the span between a left and a right edge point (x, u and v in
// 16.16), with the sub-pixel handling of its end pixels, clipping to the destination and the
// pixel loop. The eight span loops (stored, blended, 8-bit and 8-bit with a transparent index,
// each with and without the wrap of the source) come from one template, the blended ones taking
// and blending eight samples a step at x86-64-v4; a loop without the wrap is taken only when the
// span's first and last samples lie inside the source, so no sample is ever read outside it. Not
// here: the edges and segments (triangle_map.cpp).
#pragma once

#include <cstdint>

struct image_record;

// Where an edge crosses the current row (x, u and v in 16.16) and its steps from row to row.
struct edge_walk {
    int64_t x = 0, u = 0, v = 0;
    int64_t dx = 0, du = 0, dv = 0;  // per row

    void advance() {
        x += dx;
        u += du;
        v += dv;
    }
};

// Blends n 32-bit samples of a source sw x sh pixels over out, sample k at (u + k du, v + k dv)
// in 16.16, each wrapped into the source or, without the wrap, every one inside it: the x86-64-v4
// build, null where the processor lacks it (the rows then blend through blend_span).
using triangle_samples_blend = void (*)(uint32_t* out, const uint32_t* in, int64_t sw, int64_t sh, int64_t n, int64_t u,
                                        int64_t v, int64_t du, int64_t dv, bool wrap);
triangle_samples_blend triangle_samples_blend_of_cpu();

struct triangle_painter {
    image_record* dest = nullptr;
    const image_record* source = nullptr;
    // The row drawing of the pixel operation, with the operation inline, over rows first..last.
    void (*rows)(const triangle_painter&, int64_t first, int64_t last, edge_walk& left, edge_walk& right) = nullptr;
    bool wrap = false;      // sample columns and rows modulo the source's size
    bool seamless = false;  // leave out the pixel holding the right edge
    uint8_t clear = 0;      // the source's transparent index, for the operation that skips it
    triangle_samples_blend blend = nullptr;  // the blended spans, when not null
};
// Both images 8-bit or both 32-bit.
triangle_painter triangle_painter_make(image_record* dest, const image_record* source, bool wrap, bool seamless);

// a / b truncated toward zero, as the integer division gives it, for 0 < b < 2^31 and |a| < 2^48,
// from the double 1 / b: two per row instead of two integer divisions.
int64_t quotient_toward_zero(int64_t a, int64_t b, double inverse);

// Rows first..last (inside the destination), each from the left edge's point to the right edge's;
// both edges are advanced between rows, and left on the last row.
void triangle_rows_draw(const triangle_painter& p, int64_t first, int64_t last, edge_walk& left, edge_walk& right);
