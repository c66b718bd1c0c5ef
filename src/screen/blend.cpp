#include "screen/blend.h"

#include <cstring>

#include <immintrin.h>

#include "platform/vector_level.h"

// Eight pixels at a time, exact to the pixel rule: the even bytes (blue, red) and the odd bytes
// (green, alpha) of each pixel are blended in 16-bit lanes in place, so nothing is unpacked. Each span
// loop is built for AVX-512, AVX2 and the baseline, and the first call picks one by the processor.
// The vector helpers are always inlined into each build (a call would cross between their calling
// conventions), so the baseline ABI of 32-byte vectors never applies.
#pragma GCC diagnostic ignored "-Wpsabi"

namespace {

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

// floor(y / 255) = (y + 1 + (y >> 8)) >> 8, exact for y <= 65534 (y is a sum biased by 127 to round).
[[gnu::always_inline]] inline u16x16 divide_255(const u16x16& y) { return (y + 1 + (y >> 8)) >> 8; }

// Two channels of each pixel at once: a, s and d hold one channel in each 16-bit half.
[[gnu::always_inline]] inline u16x16 blend_pair(const u16x16& a, const u16x16& s, const u16x16& d) {
    return divide_255(a * s + (255 - a) * d + 127);
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
// the blended alpha kept.
[[gnu::always_inline]] inline u32x8 halves_apply(const u32x8& blended, const u32x8& d, const u32x8& c,
                                                 const i32x8& mask) {
    u32x8 average = ((d & 0x00FEFEFE) >> 1) + ((c & 0x00FEFEFE) >> 1);
    auto halved = reinterpret_cast<i32x8>((blended & 0xFF000000) | average);
    return reinterpret_cast<u32x8>((halved & mask) | (reinterpret_cast<i32x8>(blended) & ~mask));
}


// One step of eight pixels: one colour over them, or eight source pixels over them.
struct color_step {
    u32x8 c;
    u16x16 a16;
    i32x8 half;
    explicit color_step(uint32_t colour)
        : c(u32x8{} + colour),
          a16(u16x16{} + uint16_t(colour >> 24)),
          half(i32x8{} - int32_t((colour >> 24) == 127 || (colour >> 24) == 128)) {}
    [[gnu::always_inline]] u32x8 operator()(const u32x8& d, const u32x8&) const {
        return halves_apply(blend_lanes(a16, c, d), d, c, half);
    }
};

struct image_step {
    [[gnu::always_inline]] u32x8 operator()(const u32x8& d, const u32x8& c) const {
        u32x8 alpha = c >> 24;
        u16x16 a16 = as_u16(alpha | alpha << 16);
        return halves_apply(blend_lanes(a16, c, d), d, c, (alpha == 127) | (alpha == 128));
    }
};

// The last pixels of a span (fewer than a step) go through the same step in a padded copy, so
// short spans pay no branch per pixel either.
template <class Step>
[[gnu::always_inline]] inline void tail_step(uint32_t* dest, const uint32_t* src, int32_t n, const Step& step) {
    uint32_t d[lanes] = {}, s[lanes] = {};
    for (int32_t k = 0; k < lanes; ++k)
        if (k < n) d[k] = dest[k], s[k] = src ? src[k] : 0;
    store(d, step(load(d), load(s)));
    for (int32_t k = 0; k < lanes; ++k)
        if (k < n) dest[k] = d[k];
}

// At x86-64-v4 the last pixels are read and written under a lane mask instead: no padded copy to
// wait for, which short spans (a triangle's rows) would pay on every row. A call, not inlined:
// the loops that call it are built for the lower levels too.
template <class Step>
[[gnu::target("arch=x86-64-v4")]] void masked_tail_step(uint32_t* dest, const uint32_t* src, int32_t n,
                                                         const Step& step) {
    const __mmask8 live = static_cast<__mmask8>((1u << n) - 1);
    const auto d = reinterpret_cast<u32x8>(_mm256_maskz_loadu_epi32(live, dest));
    const auto s = src ? reinterpret_cast<u32x8>(_mm256_maskz_loadu_epi32(live, src)) : u32x8{};
    _mm256_mask_storeu_epi32(dest, live, reinterpret_cast<__m256i>(step(d, s)));
}

template <bool Masked, class Step>
[[gnu::always_inline]] inline void span_tail(uint32_t* dest, const uint32_t* src, int32_t n, const Step& step) {
    if constexpr (Masked) masked_tail_step(dest, src, n, step);
    else tail_step(dest, src, n, step);
}

template <bool Masked>
[[gnu::always_inline]] inline void span_color_loop(uint32_t* dest, int32_t n, uint32_t colour) {
    const color_step step(colour);
    int32_t i = 0;
    for (; i + lanes <= n; i += lanes) store(dest + i, step(load(dest + i), step.c));
    if (i < n) span_tail<Masked>(dest + i, nullptr, n - i, step);
}

template <bool Masked>
[[gnu::always_inline]] inline void span_loop(uint32_t* dest, const uint32_t* src, int32_t n) {
    const image_step step;
    int32_t i = 0;
    for (; i + lanes <= n; i += lanes) store(dest + i, step(load(dest + i), load(src + i)));
    if (i < n) span_tail<Masked>(dest + i, src + i, n - i, step);
}

[[gnu::target("arch=x86-64-v4")]] void span_color_v4(uint32_t* d, int32_t n, uint32_t c) {
    span_color_loop<true>(d, n, c);
}
[[gnu::target("arch=x86-64-v4")]] void span_v4(uint32_t* d, const uint32_t* s, int32_t n) { span_loop<true>(d, s, n); }
[[gnu::target("avx2")]] void span_color_avx2(uint32_t* d, int32_t n, uint32_t c) { span_color_loop<false>(d, n, c); }
[[gnu::target("avx2")]] void span_avx2(uint32_t* d, const uint32_t* s, int32_t n) { span_loop<false>(d, s, n); }
void span_color_baseline(uint32_t* d, int32_t n, uint32_t c) { span_color_loop<false>(d, n, c); }
void span_baseline(uint32_t* d, const uint32_t* s, int32_t n) { span_loop<false>(d, s, n); }

struct span_builds {
    void (*color)(uint32_t*, int32_t, uint32_t);
    void (*image)(uint32_t*, const uint32_t*, int32_t);
};

span_builds span_builds_pick() {
    switch (vector_level_of_cpu()) {
        case vector_level::x86_64_v4: return {span_color_v4, span_v4};
        case vector_level::avx2: return {span_color_avx2, span_avx2};
        default: return {span_color_baseline, span_baseline};
    }
}

const span_builds& spans() {
    static const span_builds builds = span_builds_pick();
    return builds;
}

}  // namespace

void blend_span_color(uint32_t* dest, int32_t n, uint32_t colour) {
    uint32_t a = colour >> 24;
    if (a == 0 || n <= 0) return;
    if (a == 255) {
        for (int32_t i = 0; i < n; ++i) dest[i] = colour;
        return;
    }
    spans().color(dest, n, colour);
}

void blend_span(uint32_t* dest, const uint32_t* src, int32_t n) {
    if (n > 0) spans().image(dest, src, n);
}
