// The eight-pixel step of blending, for the vector builds of blend loops: the even bytes (blue,
// red) and the odd bytes (green, alpha) of each pixel are blended in 16-bit lanes in place, so
// nothing is unpacked; exact to the pixel rule of blend.h. The helpers are always inlined into each
// build (a call would cross between their calling conventions), so the baseline ABI of 32-byte
// vectors never applies. Not here: the loops (blend_span_loops_internal.h, and blend_samples_v4.h for rows of
// scattered samples blended as they are taken).
#pragma once

#include <cstdint>
#include <cstring>

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wpsabi"

namespace blend_lanes_detail {

constexpr int lanes = 8;  // pixels per step

typedef uint32_t u32x8 __attribute__((vector_size(32)));
typedef uint16_t u16x16 __attribute__((vector_size(32)));
typedef int32_t i32x8 __attribute__((vector_size(32)));

[[gnu::always_inline]] inline u32x8 load(const uint32_t* p) {
    u32x8 v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

[[gnu::always_inline]] inline void store(uint32_t* p, const u32x8& v) { std::memcpy(p, &v, sizeof v); }

[[gnu::always_inline]] inline u16x16 as_u16(const u32x8& v) { return reinterpret_cast<u16x16>(v); }
[[gnu::always_inline]] inline u32x8 as_u32(const u16x16& v) { return reinterpret_cast<u32x8>(v); }

// round(x / 255) = (t + (t >> 8)) >> 8 with t = x + 128, exact for x <= 65025 (255 is odd, so no
// quotient lies halfway); it equals floor((x + 127) / 255), the rounding of blend.h.
[[gnu::always_inline]] inline u16x16 divide_255_rounded(const u16x16& x) {
    const u16x16 t = x + 128;
    return (t + (t >> 8)) >> 8;
}

// Two channels of each pixel at once: a, s and d hold one channel in each 16-bit half.
[[gnu::always_inline]] inline u16x16 blend_pair(const u16x16& a, const u16x16& s, const u16x16& d) {
    return divide_255_rounded(a * s + (255 - a) * d);
}

// Every byte blends with the weights a and 255 - a, the alpha byte with a source of 255: the alpha
// merge of a over b equals the channel blend of 255 over b.
[[gnu::always_inline]] inline u32x8 blend_lanes(const u16x16& a, const u32x8& c, const u32x8& d) {
    u32x8 s = c | 0xFF000000;
    u16x16 even = blend_pair(a, as_u16(s & 0x00FF00FF), as_u16(d & 0x00FF00FF));
    u16x16 odd = blend_pair(a, as_u16((s >> 8) & 0x00FF00FF), as_u16((d >> 8) & 0x00FF00FF));
    return as_u32(even) | as_u32(odd) << 8;
}

// The 127/128 rule where the mask is set: colour channels averaged with their lowest bits dropped,
// the blended alpha kept. The sum is halved whole: each channel's carry lands in the next one's
// dropped bit.
[[gnu::always_inline]] inline u32x8 halves_apply(const u32x8& blended, const u32x8& d, const u32x8& c,
                                                 const i32x8& mask) {
    u32x8 average = ((d & 0x00FEFEFE) + (c & 0x00FEFEFE)) >> 1;
    auto halved = reinterpret_cast<i32x8>((blended & 0xFF000000) | average);
    return reinterpret_cast<u32x8>((halved & mask) | (reinterpret_cast<i32x8>(blended) & ~mask));
}

typedef uint64_t u64x4 __attribute__((vector_size(32)));
typedef uint64_t u64x2 __attribute__((vector_size(16)));

// Halves folded in the vector registers: lane by lane through general registers costs twice.
[[gnu::always_inline]] inline bool any_lane_set(const u32x8& v) {
    const auto x = reinterpret_cast<u64x4>(v);
    const u64x2 half = __builtin_shufflevector(x, x, 0, 1) | __builtin_shufflevector(x, x, 2, 3);
    const u64x2 quarter = half | __builtin_shufflevector(half, half, 1, 0);
    return quarter[0] != 0;
}

// Alpha 0 leaves the pixel and 255 stores the colour, exactly, and no other alpha does either for
// every pixel (the tests check it over all of them): the only alphas a step may skip the blend for.
// The alpha byte plus one is 1 or (carried out) 0 for those two and 2 or more for the others.
constexpr uint32_t alpha_one = 0x01000000;
constexpr uint32_t alpha_past_one = 0xFE000000;

// Where every alpha is 0 or 255: the source where it is opaque, else the destination.
[[gnu::always_inline]] inline u32x8 kept_or_stored(const u32x8& d, const u32x8& c) {
    const auto opaque = reinterpret_cast<u32x8>(reinterpret_cast<i32x8>(c) >> 31);
    return d ^ ((d ^ c) & opaque);
}

// Alpha 127 and 128 alone give 64 when one is added and the sum halved: one compare, with the
// sum the span loops' test of alphas 0 and 255 takes too.
[[gnu::always_inline]] inline i32x8 halved_alphas(const u32x8& c) {
    return reinterpret_cast<i32x8>((c + alpha_one) >> 25) == 64;
}

// One step of eight pixels: one colour over them, or eight source pixels over them. The result
// comes back through a reference: the vector builds call a step from functions of another level,
// and a 32-byte vector returned by value across levels is refused by clang even when inlined.
struct color_step {
    u32x8 c;
    u16x16 a16;
    i32x8 half;
    explicit color_step(uint32_t colour)
        : c(u32x8{} + colour),
          a16(u16x16{} + uint16_t(colour >> 24)),
          half(i32x8{} - int32_t((colour >> 24) == 127 || (colour >> 24) == 128)) {}
    [[gnu::always_inline]] void operator()(const u32x8& d, const u32x8&, u32x8& out) const {
        out = halves_apply(blend_lanes(a16, c, d), d, c, half);
    }
};

struct image_step {
    [[gnu::always_inline]] void operator()(const u32x8& d, const u32x8& c, u32x8& out) const {
        u32x8 alpha = c >> 24;
        u16x16 a16 = as_u16(alpha | alpha << 16);
        out = halves_apply(blend_lanes(a16, c, d), d, c, halved_alphas(c));
    }
};
}  // namespace blend_lanes_detail

#pragma GCC diagnostic pop
