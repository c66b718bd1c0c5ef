#include "draw/circle_outline.h"

#include <emmintrin.h>

#include <algorithm>
#include <cmath>
#include <cstring>

#include "draw/circle_thinning.h"
#include "draw/pixel_space.h"
#include "screen/blend.h"
#include "screen/image_pool.h"

namespace {

constexpr double two_pi = 6.283185307179586;
constexpr double pi = 3.141592653589793;

// The pixels of one image by index: bytes is 1 for palette images (the colour already masked),
// 4 for 32-bit images, which blend unless blending is off.
template <int bytes>
struct pixel_sink {
    uint8_t* pixels;
    int64_t width;
    uint32_t colour;
    bool blend;

    void put(uint64_t i) const {
        uint8_t* p = pixels + i * bytes;
        if constexpr (bytes == 1) {
            *p = static_cast<uint8_t>(colour);
        } else {
            uint32_t d;
            std::memcpy(&d, p, 4);
            uint32_t v = blend ? blend_pixel(d, colour) : colour;
            std::memcpy(p, &v, 4);
        }
    }
};

// The coordinates of one stored offset: a pair word or a plain offset.
inline int64_t x_of(uint64_t w) { return static_cast<int64_t>(w >> 32) - pair_bias; }
inline int64_t y_of(uint64_t w) { return static_cast<int64_t>(static_cast<uint32_t>(w)) - pair_bias; }
inline int64_t x_of(const offset64& o) { return o.x; }
inline int64_t y_of(const offset64& o) { return o.y; }

// The offsets the walk plots, gathered a block at a time with the angles current when each was
// plotted (arcs only): the thinning then needs no branch, and a block whose mirrors all lie inside
// the clip box is written without tests. Every write of one outline has the same colour, so
// writing a block after the walk has gone on leaves the same image.
template <class Entry, bool whole_circle>
struct plot_block {
    static constexpr int64_t size = 64;
    Entry p[size];
    double angles[whole_circle ? 1 : size][4];
    int64_t count = 0;

    // Written always; kept only when counted.
    void put(int64_t at, Entry q, const double (&a)[4]) {
        p[at] = q;
        if constexpr (!whole_circle) std::copy(a, a + 4, angles[at]);
    }
    bool full() const { return count == size; }
};

// The least and greatest x and y of a block's offsets.
template <class Entry, bool whole_circle>
void block_bounds(const plot_block<Entry, whole_circle>& b, offset64& low, offset64& high) {
    low = high = {y_of(b.p[0]), x_of(b.p[0])};
    for (int64_t k = 1; k < b.count; ++k) {
        low = {std::min(low.y, y_of(b.p[k])), std::min(low.x, x_of(b.p[k]))};
        high = {std::max(high.y, y_of(b.p[k])), std::max(high.x, x_of(b.p[k]))};
    }
}
// Pair words, two a step: the lane-wise least and greatest of their 32-bit halves.
template <bool whole_circle>
void block_bounds(const plot_block<uint64_t, whole_circle>& b, offset64& low, offset64& high) {
    auto pick = [](__m128i mask, __m128i a, __m128i b) { return _mm_or_si128(_mm_and_si128(mask, a), _mm_andnot_si128(mask, b)); };
    auto least = [&](__m128i a, __m128i b) { return pick(_mm_cmpgt_epi32(a, b), b, a); };
    auto greatest = [&](__m128i a, __m128i b) { return pick(_mm_cmpgt_epi32(a, b), a, b); };
    auto one = [&](int64_t k) {
        __m128i w = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(&b.p[k]));
        return _mm_unpacklo_epi64(w, w);
    };
    __m128i lo = one(0), hi = lo;
    int64_t k = 1;
    for (; k + 2 <= b.count; k += 2) {
        __m128i two = _mm_loadu_si128(reinterpret_cast<const __m128i*>(&b.p[k]));
        lo = least(lo, two), hi = greatest(hi, two);
    }
    if (k < b.count) lo = least(lo, one(k)), hi = greatest(hi, one(k));
    // Both halves hold a pair; fold them.
    lo = least(lo, _mm_shuffle_epi32(lo, _MM_SHUFFLE(1, 0, 3, 2)));
    hi = greatest(hi, _mm_shuffle_epi32(hi, _MM_SHUFFLE(1, 0, 3, 2)));
    auto word = [](__m128i v) { return static_cast<uint64_t>(_mm_cvtsi128_si64(v)); };
    low = {y_of(word(lo)), x_of(word(lo))};
    high = {y_of(word(hi)), x_of(word(hi))};
}

// Where one axis of a mirror lies against the clip box: wholly inside, partly or not at all.
struct axis_reach {
    bool all, some;
    static axis_reach of(int64_t low, int64_t high, int64_t box_low, int64_t box_high) {
        return {low >= box_low && high <= box_high, high >= box_low && low <= box_high};
    }
};

// What one walk plots into: the centre, the arc, the clip box and the pixels; inside when the
// whole outline lies well inside the clip box.
template <bool whole_circle, class Sink>
struct outline_target {
    static constexpr bool whole = whole_circle;
    int64_t cx, cy;
    arc_range arc;
    pixel_box box;
    Sink sink;
    bool inside;

    // The four mirrors of each offset of the block, each with its own angle: (x, y) with a0,
    // (-x, y) with a1, (-x, -y) with a2, (x, -y) with a3.
    template <class Entry>
    [[gnu::noinline]] void plot(const plot_block<Entry, whole_circle>& b) const {
        if (inside) {
            plot_run<true, false>(b, {});
            return;
        }
        offset64 low, high;
        block_bounds(b, low, high);
        axis_reach right = axis_reach::of(cx + low.x, cx + high.x, box.x1, box.x2);
        axis_reach left = axis_reach::of(cx - high.x, cx - low.x, box.x1, box.x2);
        axis_reach down = axis_reach::of(cy + low.y, cy + high.y, box.y1, box.y2);
        axis_reach up = axis_reach::of(cy - high.y, cy - low.y, box.y1, box.y2);
        const mirror_reach m{both(right, down), both(left, down), both(left, up), both(right, up)};
        bool crossing = false, any = false;
        for (axis_reach r : m.mirror) crossing |= r.some && !r.all, any |= r.some;
        if (crossing) plot_run<false, true>(b, m);
        else if (any) plot_run<false, false>(b, m);
    }

  private:
    struct mirror_reach {
        axis_reach mirror[4];
    };
    static axis_reach both(axis_reach h, axis_reach v) { return {h.all && v.all, h.some && v.some}; }
    bool in_arc(const double* a, int mirror) const { return whole_circle || arc.contains(a[mirror]); }

    // Every mirror written when everywhere, else as the block's reach says: wholly inside, not at
    // all, or (tested) pixel by pixel. Indices in unsigned arithmetic: a mirror far off the image
    // may wrap, and is never written. Fields and the count in locals: a store through the pixels
    // could alias them.
    template <bool everywhere, bool tested, class Entry>
    void plot_run(const plot_block<Entry, whole_circle>& b, const mirror_reach& m) const {
        const outline_target t = *this;
        const int64_t count = b.count;
        const uint64_t w = t.sink.width, centre = static_cast<uint64_t>(t.cy) * w + static_cast<uint64_t>(t.cx);
        bool all[4], some[4];
        for (int k = 0; k < 4; ++k) all[k] = everywhere || m.mirror[k].all, some[k] = m.mirror[k].some;
        auto within = [](int64_t v, int64_t low, int64_t high) {
            return static_cast<uint64_t>(v - low) <= static_cast<uint64_t>(high - low);
        };
        for (int64_t k = 0; k < count; ++k) {
            const int64_t x = x_of(b.p[k]), y = y_of(b.p[k]);
            const uint64_t row = static_cast<uint64_t>(y) * w, column = static_cast<uint64_t>(x);
            bool pass[4] = {all[0], all[1], all[2], all[3]};
            if constexpr (tested) {
                bool r = within(t.cx + x, t.box.x1, t.box.x2), l = within(t.cx - x, t.box.x1, t.box.x2);
                bool d = within(t.cy + y, t.box.y1, t.box.y2), u = within(t.cy - y, t.box.y1, t.box.y2);
                pass[0] |= some[0] & r & d, pass[1] |= some[1] & l & d, pass[2] |= some[2] & l & u, pass[3] |= some[3] & r & u;
            }
            const double* a = b.angles[whole_circle ? 0 : k];
            if (pass[0] && t.in_arc(a, 0)) t.sink.put(centre + row + column);
            if (pass[1] && t.in_arc(a, 1)) t.sink.put(centre + row - column);
            if (pass[2] && t.in_arc(a, 2)) t.sink.put(centre - row - column);
            if (pass[3] && t.in_arc(a, 3)) t.sink.put(centre - row + column);
        }
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
// vector and answers the offsets; the rest is the same for both kinds.
template <class Walker, class Target>
void quadrant_walk(Walker w, const Target& t, int64_t n) {
    double step = n ? pi / 2 / static_cast<double>(n) : 0.0;
    w.start(n ? std::cos(step) : 1.0, n ? std::sin(step) : 0.0);
    mirror_angles angles;
    plot_block<typename Walker::entry, Target::whole> block;
    auto last = w.offset_now(), pending = last;
    block.put(block.count++, pending, angles.a);
    for (int64_t i = 1; i <= n;) {
        // The count grows by at most one a step, so this many steps cannot overfill the block.
        const int64_t stop = std::min(n, i + (block.size - block.count) - 1);
        int64_t count = block.count;
        for (; i <= stop; ++i) {
            w.turn();
            if constexpr (!Target::whole) angles.advance(step);
            auto p = w.offset_now();
            bool far = Walker::beyond_a_pixel(p, last);
            block.put(count, pending, angles.a);
            count += far;
            last = far ? pending : last;
            pending = p;
        }
        block.count = count;
        if (block.full()) {
            t.plot(block);
            block.count = 0;
        }
    }
    block.put(block.count++, pending, angles.a);
    t.plot(block);
}

// The vector (vx, vy) turned in two lanes as (vy, vx) beside its swap (vx, vy): the new pair is
// pair * cos + swap * (-sin, sin), the same products and sums as the plain form, since adding a
// negated product is subtracting it; both offsets come from one multiply, add and truncation,
// raised into a pair word.
struct paired_walker {
    using entry = uint64_t;
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
    using entry = offset64;
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

template <bool whole_circle, class Sink>
void outline_walk(const circle_outline& o, const Sink& sink) {
    // Offsets stay within a pixel of the radii (the turning vector keeps its length to ~1e-8).
    constexpr double margin = 2;
    bool inside = o.cx - o.rx - margin >= o.box.x1 && o.cx + o.rx + margin <= o.box.x2 &&
                  o.cy - o.ry - margin >= o.box.y1 && o.cy + o.ry + margin <= o.box.y2;
    outline_target<whole_circle, Sink> t{o.cx, o.cy, o.arc, o.box, sink, inside};
    if (o.rx < pair_radius_max && o.ry < pair_radius_max) quadrant_walk(paired_walker(o.rx, o.ry), t, o.n);
    else quadrant_walk(wide_walker{o.rx, o.ry}, t, o.n);
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
