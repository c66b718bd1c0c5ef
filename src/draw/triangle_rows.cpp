#include "draw/triangle_rows.h"

#include <algorithm>
#include <cstring>

#include "platform/vector_level.h"
#include "screen/blend.h"
#include "screen/blend_lanes.h"
#include "screen/blend_samples_v4.h"
#include "screen/image_pool.h"

// The vector helpers of blend_lanes.h are always inlined, so the baseline ABI of their 32-byte
// vectors never applies.
#pragma GCC diagnostic ignored "-Wpsabi"

namespace {

constexpr int64_t one = 65536;      // 1.0 in 16.16
constexpr int64_t centre = 32768;   // the centre of a pixel
constexpr int32_t fraction_bits = 16;

// The pixel operations; each takes the destination pixel and the source sample.
// The blend gathers its samples and blends them as a row (blend_span: the same result as
// blend_pixel on each, without a branch per pixel).
struct store_32 {
    using pixel = uint32_t;
    static constexpr bool gathers = false;
    static void apply(uint32_t& d, uint32_t s, const triangle_painter&) { d = s; }
};
struct blend_32 {
    using pixel = uint32_t;
    static constexpr bool gathers = true;
};
struct copy_8 {
    using pixel = uint8_t;
    static constexpr bool gathers = false;
    static void apply(uint8_t& d, uint8_t s, const triangle_painter&) { d = s; }
};
struct copy_8_clear {
    using pixel = uint8_t;
    static constexpr bool gathers = false;
    static void apply(uint8_t& d, uint8_t s, const triangle_painter& p) {
        if (s != p.clear) d = s;
    }
};

int64_t wrapped(int64_t i, int64_t size) {
    // Values and steps mostly lie within one size of the source already: no division for them.
    if (i >= 0 && i < size) return i;
    if (i < 0 && i >= -size) return i + size;
    int64_t r = i % size;
    return r < 0 ? r + size : r;
}

constexpr int64_t gather_chunk = 256;

// The samples along a span: (u, v) in 16.16 stepped by (du, dv). Wrapping keeps u and v within
// the source (modulo its size in 16.16, steps too), so each step wraps with one subtraction:
// (u >> 16) mod width is then plain u >> 16.
template <class Pixel, bool Wrap>
struct sample_walk {
    const Pixel* in;
    int64_t sw, sw16, sh16;
    int64_t u, v, du, dv;

    sample_walk(const Pixel* pixels, int64_t width, int64_t height, int64_t u0, int64_t v0, int64_t du0, int64_t dv0)
        : in(pixels), sw(width), sw16(width << fraction_bits), sh16(height << fraction_bits), u(u0), v(v0), du(du0),
          dv(dv0) {
        if constexpr (Wrap) {
            u = wrapped(u, sw16), v = wrapped(v, sh16);
            du = wrapped(du, sw16), dv = wrapped(dv, sh16);
        }
    }
    [[gnu::always_inline]] Pixel next() {
        const Pixel s = in[size_t(v >> fraction_bits) * size_t(sw) + size_t(u >> fraction_bits)];
        u += du;
        v += dv;
        if constexpr (Wrap) {
            if (u >= sw16) u -= sw16;
            if (v >= sh16) v -= sh16;
        }
        return s;
    }
};

#if defined(__x86_64__)
// Past the span a wrapped walk goes on sampling (it cannot leave the source, and no branch is
// needed); a walk without the wrap stops, since its next samples may lie outside.
template <bool Wrap>
[[gnu::target("arch=x86-64-v4"), gnu::always_inline]] inline void samples_blend_steps(
    uint32_t* out, int64_t n, sample_walk<uint32_t, Wrap> walk) {
    using namespace blend_lanes_detail;
    samples_blend_masked(out, n, [&](int64_t, int64_t left, uint32_t* s) __attribute__((always_inline)) {
        for (int32_t k = 0; k < lanes; ++k) s[k] = Wrap || k < left ? walk.next() : 0;
    });
}

[[gnu::target("arch=x86-64-v4")]] void samples_blend_v4(uint32_t* out, const uint32_t* in, int64_t sw, int64_t sh,
                                                         int64_t n, int64_t u, int64_t v, int64_t du, int64_t dv,
                                                         bool wrap) {
    if (wrap) samples_blend_steps<true>(out, n, sample_walk<uint32_t, true>(in, sw, sh, u, v, du, dv));
    else samples_blend_steps<false>(out, n, sample_walk<uint32_t, false>(in, sw, sh, u, v, du, dv));
}
#endif

// Pixels x1..x2 of row y from the sample (u, v) on, stepping by (du, dv).
template <class Op, bool Wrap>
void span_loop(const triangle_painter& p, int64_t y, int64_t x1, int64_t x2, int64_t u, int64_t v, int64_t du,
               int64_t dv) {
    using pixel = typename Op::pixel;
    const int64_t sw = p.source->width, sh = p.source->height;
    auto* out = reinterpret_cast<pixel*>(p.dest->pixels) + size_t(y) * p.dest->width;
    const auto* in = reinterpret_cast<const pixel*>(p.source->pixels);
    if constexpr (Op::gathers) {
        if (p.blend) {
            p.blend(out + x1, in, sw, sh, x2 - x1 + 1, u, v, du, dv, Wrap);
            return;
        }
    }
    sample_walk<pixel, Wrap> walk(in, sw, sh, u, v, du, dv);
    if constexpr (Op::gathers) {
        pixel samples[gather_chunk];
        for (int64_t x = x1; x <= x2;) {
            int64_t n = std::min(gather_chunk, x2 - x + 1);
            for (int64_t i = 0; i < n; ++i) samples[i] = walk.next();
            blend_span(out + x, samples, static_cast<int32_t>(n));
            x += n;
        }
    } else {
        for (int64_t x = x1; x <= x2; ++x) Op::apply(out[x], walk.next(), p);
    }
}

bool inside(int64_t value16, int64_t size) { return value16 >= 0 && (value16 >> fraction_bits) < size; }

// The span's loop: without the wrap only when every sample lies inside the source, which the
// samples at both ends prove (they move in straight lines).
template <class Op>
void span_draw(const triangle_painter& p, int64_t y, int64_t x1, int64_t x2, int64_t u, int64_t v, int64_t du,
               int64_t dv) {
    int64_t n = x2 - x1;
    bool wrap = p.wrap || !(inside(u, p.source->width) && inside(v, p.source->height) &&
                            inside(u + du * n, p.source->width) && inside(v + dv * n, p.source->height));
    if (wrap) span_loop<Op, true>(p, y, x1, x2, u, v, du, dv);
    else span_loop<Op, false>(p, y, x1, x2, u, v, du, dv);
}

// One row: the end pixels by where the edges lie within them, clipping, then the span. inverse is
// 1 / (xr16 - xl16) as a double.
template <class Op>
void row_draw(const triangle_painter& p, int64_t y, int64_t xl16, int64_t xr16, int64_t ul, int64_t vl, int64_t ur,
              int64_t vr, double inverse) {
    const int64_t dw = p.dest->width;
    int64_t xl = xl16 >> fraction_bits, xr = xr16 >> fraction_bits;
    // A left end past the right end draws nothing.
    if (xl >= dw || xr < 0 || xl > xr) return;
    int64_t u = ul, v = vl, du = 0, dv = 0;
    if (xl != xr) {
        const int64_t width16 = xr16 - xl16;
        du = quotient_toward_zero((ur - ul) * one, width16, inverse);
        dv = quotient_toward_zero((vr - vl) * one, width16, inverse);
    }
    int64_t fl = (xl16 & 0xFFFF) - centre;  // how far each end lies right of its pixel's centre
    int64_t fr = (xr16 & 0xFFFF) - centre;
    if (fr < 0 || p.seamless) {
        if (fr < 0 && !p.seamless && xr < dw) span_draw<Op>(p, y, xr, xr, ur, vr, 0, 0);
        --xr;
        if (xl > xr || xr < 0) return;
    }
    if (fl > 0) {
        if (xl >= 0) span_draw<Op>(p, y, xl, xl, ul, vl, 0, 0);
        ++xl;
        if (xl > xr) return;
        fl -= one;
    }
    // To the centre of pixel xl.
    u += du * -fl / one;
    v += dv * -fl / one;
    if (xl < 0) {
        u += (ur - ul) * one * -xl / (xr16 - xl16);
        v += (vr - vl) * one * -xl / (xr16 - xl16);
        xl = 0;
    }
    if (xr >= dw) xr = dw - 1;
    span_draw<Op>(p, y, xl, xr, u, v, du, dv);
}

template <class Op>
void rows_draw(const triangle_painter& p, int64_t first, int64_t last, edge_walk& l, edge_walk& r) {
    // Each row's division is begun a row ahead, so its wait overlaps the row before.
    auto inverse_of = [](int64_t width16) { return width16 != 0 ? 1.0 / static_cast<double>(width16) : 0.0; };
    double inverse = inverse_of(r.x - l.x);
    for (int64_t y = first; y <= last; ++y) {
        const double next = inverse_of((r.x + r.dx) - (l.x + l.dx));
        row_draw<Op>(p, y, l.x, r.x, l.u, l.v, r.u, r.v, inverse);
        if (y != last) {
            l.advance();
            r.advance();
        }
        inverse = next;
    }
}

}  // namespace

int64_t quotient_toward_zero(int64_t a, int64_t b, double inverse) {
    // Within 1/32 of the quotient: one step corrects a truncation that rounding carried across a
    // whole number.
    int64_t q = static_cast<int64_t>(static_cast<double>(a) * inverse);
    int64_t r = a - q * b;
    if (a >= 0) q += r < 0 ? -1 : r >= b ? 1 : 0;
    else q += r > 0 ? 1 : r <= -b ? -1 : 0;
    return q;
}

triangle_samples_blend triangle_samples_blend_of_cpu() {
#if defined(__x86_64__)
    if (vector_level_of_cpu() == vector_level::x86_64_v4) return samples_blend_v4;
#endif
    return nullptr;
}

triangle_painter triangle_painter_make(image_record* dest, const image_record* source, bool wrap, bool seamless) {
    triangle_painter p;
    p.dest = dest;
    p.source = source;
    p.wrap = wrap;
    p.seamless = seamless;
    p.clear = static_cast<uint8_t>(source->clear_color);
    p.blend = triangle_samples_blend_of_cpu();
    if (source->bytes_per_pixel == 4)
        p.rows = source->blend_off || dest->blend_off ? rows_draw<store_32> : rows_draw<blend_32>;
    else
        p.rows = source->clear_color >= 0 && source->clear_color <= 255 ? rows_draw<copy_8_clear> : rows_draw<copy_8>;
    return p;
}

void triangle_rows_draw(const triangle_painter& p, int64_t first, int64_t last, edge_walk& left, edge_walk& right) {
    p.rows(p, first, last, left, right);
}
