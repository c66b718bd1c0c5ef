#include "draw/circle_outline.h"

#include <emmintrin.h>

#include <cmath>

#include "draw/circle_thinning.h"
#include "draw/pixel_space.h"
#include "screen/image_pool.h"
#include "screen/pixels.h"

namespace {

constexpr double two_pi = 6.283185307179586;
constexpr double pi = 3.141592653589793;

// The pixels of one image by index, of one kind (pixels.h): bytes 1 for palette images (the
// colour already masked), 4 for 32-bit images.
template <int bytes>
struct pixel_sink {
    uint8_t* pixels;
    int64_t width;
    uint32_t colour;
    bool blend;

    void put(uint64_t i) const { pixel_store<bytes>(pixels, i, colour, blend); }
};

// The coordinates of one stored offset: a pair word or a plain offset.
inline int64_t x_of(uint64_t w) { return static_cast<int64_t>(w >> 32) - pair_bias; }
inline int64_t y_of(uint64_t w) { return static_cast<int64_t>(static_cast<uint32_t>(w)) - pair_bias; }
inline int64_t x_of(const offset64& o) { return o.x; }
inline int64_t y_of(const offset64& o) { return o.y; }

// What one walk plots into: the centre, the arc, the clip box and the pixels. An outline well
// inside the clip box is written without testing its pixels.
template <bool whole_circle, bool clipped, class Sink>
struct outline_target {
    int64_t cx, cy;
    arc_range arc;
    pixel_box box;
    Sink sink;

    // The four mirrors of one offset of the first quadrant, each with its own angle: (x, y) with
    // a0, (-x, y) with a1, (-x, -y) with a2, (x, -y) with a3.
    template <class Entry>
    void plot(Entry e, const double (&a)[4]) const {
        const int64_t x = x_of(e), y = y_of(e);
        write(cx + x, cy + y, a[0]);
        write(cx - x, cy + y, a[1]);
        write(cx - x, cy - y, a[2]);
        write(cx + x, cy - y, a[3]);
    }

  private:
    void write(int64_t x, int64_t y, double angle) const {
        if (!whole_circle && !arc.contains(angle)) return;
        if (clipped && !box.contains(x, y)) return;
        sink.put(static_cast<uint64_t>(y * sink.width + x));
    }
};

// The angles of the four mirrors, starting at 0, pi, pi and 2 pi, accumulated step by step.
struct mirror_angles {
    double a[4] = {0.0, pi, pi, two_pi};
    void advance(double step) { a[0] += step, a[1] -= step, a[2] += step, a[3] -= step; }
};

// The first quadrant walked in n steps from angle 0 (up and to the right on the screen), the
// offset of each step P = (trunc(vx * rx + 0.5), trunc(vy * ry - 0.5)). An offset is plotted
// only when the next one lies more than a pixel from the last plotted one. The walker turns the
// vector and answers the offsets; the rest is the same for both kinds. Target by value: its
// fields stay in registers, where a store through the pixels could otherwise alias them.
template <bool whole_circle, class Walker, class Target>
void quadrant_walk(Walker w, const Target t, int64_t n) {
    double step = n ? pi / 2 / static_cast<double>(n) : 0.0;
    w.start(n ? std::cos(step) : 1.0, n ? std::sin(step) : 0.0);
    mirror_angles angles;
    auto last = w.offset_now(), pending = last;
    t.plot(pending, angles.a);
    for (int64_t i = 1; i <= n; ++i) {
        w.turn();
        if constexpr (!whole_circle) angles.advance(step);
        auto p = w.offset_now();
        if (Walker::beyond_a_pixel(p, last)) {
            t.plot(pending, angles.a);
            last = pending;
        }
        pending = p;
    }
    t.plot(pending, angles.a);
}

// The vector (vx, vy) turned in two lanes as (vy, vx) beside its swap (vx, vy): the new pair is
// pair * cos + swap * (-sin, sin), the same products and sums as the plain form, since adding a
// negated product is subtracting it; both offsets come from one multiply, add and truncation,
// raised into a pair word.
struct paired_walker {
    __m128d pair = _mm_set_pd(1.0, 0.0), swap = _mm_set_pd(0.0, 1.0);
    __m128d cos = _mm_set1_pd(1.0), sin = _mm_setzero_pd();
    __m128d radii, halves = _mm_set_pd(0.5, -0.5);
    __m128i bias = _mm_set1_epi32(static_cast<int32_t>(pair_bias));

    paired_walker(double rx, double ry) : radii(_mm_set_pd(rx, ry)) {}
    void start(double c, double s) {
        cos = _mm_set1_pd(c);
        sin = _mm_set_pd(s, -s);
    }
    void turn() {
        pair = _mm_add_pd(_mm_mul_pd(pair, cos), _mm_mul_pd(swap, sin));
        swap = _mm_shuffle_pd(pair, pair, 1);
    }
    uint64_t offset_now() const {
        __m128i p = _mm_cvttpd_epi32(_mm_add_pd(_mm_mul_pd(pair, radii), halves));
        return static_cast<uint64_t>(_mm_cvtsi128_si64(_mm_add_epi32(p, bias)));
    }
    static bool beyond_a_pixel(uint64_t next, uint64_t last) { return pair_beyond_a_pixel(next, last); }
};

// The plain form, for radii too large for pair words: offsets held in range.
struct wide_walker {
    double rx, ry;
    double vx = 1.0, vy = 0.0, c = 1.0, s = 0.0;

    void start(double cos, double sin) { c = cos, s = sin; }
    void turn() {
        double turned_x = vx * c + vy * s;
        vy = vy * c - vx * s;
        vx = turned_x;
    }
    offset64 offset_now() const { return {pixel_truncate(vy * ry - 0.5), pixel_truncate(vx * rx + 0.5)}; }
    static bool beyond_a_pixel(offset64 next, offset64 last) { return offset_beyond_a_pixel(next, last); }
};

template <bool whole_circle, bool clipped, class Sink>
void outline_walk(const circle_outline& o, const Sink& sink) {
    outline_target<whole_circle, clipped, Sink> t{o.cx, o.cy, o.arc, o.box, sink};
    if (o.rx < pair_radius_max && o.ry < pair_radius_max) quadrant_walk<whole_circle>(paired_walker(o.rx, o.ry), t, o.n);
    else quadrant_walk<whole_circle>(wide_walker{o.rx, o.ry}, t, o.n);
}

template <bool whole_circle, class Sink>
void outline_walk(const circle_outline& o, const Sink& sink) {
    // Offsets stay within a pixel of the radii (the turning vector keeps its length to ~1e-8).
    constexpr double margin = 2;
    bool inside = o.cx - o.rx - margin >= o.box.x1 && o.cx + o.rx + margin <= o.box.x2 &&
                  o.cy - o.ry - margin >= o.box.y1 && o.cy + o.ry + margin <= o.box.y2;
    if (inside) outline_walk<whole_circle, false>(o, sink);
    else outline_walk<whole_circle, true>(o, sink);
}

template <class Sink>
void outline_walk(const circle_outline& o, const Sink& sink) {
    if (o.whole) outline_walk<true>(o, sink);
    else outline_walk<false>(o, sink);
}

}  // namespace

void circle_outline_draw(image_record* image, const circle_outline& o) {
    if (o.box.empty()) return;
    if (image->bytes_per_pixel == 1)
        outline_walk(o, pixel_sink<1>{image->pixels, image->width, o.colour & image->color_mask, false});
    else if (image->bytes_per_pixel == 4)
        outline_walk(o, pixel_sink<4>{image->pixels, image->width, o.colour, !image->blend_off});
}
