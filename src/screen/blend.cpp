#include "screen/blend.h"

#include <cstring>

#include <immintrin.h>

#include "platform/vector_level.h"
#include "screen/blend_lanes.h"

// Eight pixels at a time (blend_lanes.h). Each span loop is built for AVX-512, AVX2 and the
// baseline, and the first call picks one by the processor.
#pragma GCC diagnostic ignored "-Wpsabi"

namespace {

using namespace blend_lanes_detail;

// The last pixels of a span (fewer than a step) go through the same step in a padded copy, so
// short spans pay no branch per pixel either.
template <class Step>
[[gnu::always_inline]] inline void tail_step(uint32_t* dest, const uint32_t* src, int32_t n, const Step& step) {
    uint32_t d[lanes] = {}, s[lanes] = {};
    for (int32_t k = 0; k < lanes; ++k)
        if (k < n) d[k] = dest[k], s[k] = src ? src[k] : 0;
    u32x8 out;
    step(load(d), load(s), out);
    store(d, out);
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
    u32x8 out;
    step(d, s, out);
    _mm256_mask_storeu_epi32(dest, live, reinterpret_cast<__m256i>(out));
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
    for (u32x8 out; i + lanes <= n; i += lanes) {
        step(load(dest + i), step.c, out);
        store(dest + i, out);
    }
    if (i < n) span_tail<Masked>(dest + i, nullptr, n - i, step);
}

// Four steps at a time; where their 32 alphas are all 0 or 255 (a sprite's transparent and opaque
// runs) the blend is skipped, and so is the destination when none is opaque.
constexpr int group = 4;
constexpr int32_t group_pixels = group * lanes;

// The first alpha alone turns away most groups that blend, without a vector test.
[[gnu::always_inline]] inline bool group_kept_or_stored(const uint32_t* src) {
    const uint32_t first_alpha = src[0] >> 24;
    if (first_alpha != 0 && first_alpha != 255) return false;
    u32x8 c[group];
    for (int k = 0; k < group; ++k) c[k] = load(src + k * lanes);
    return only_kept_or_stored(c);
}

[[gnu::always_inline]] inline void kept_or_stored_group(uint32_t* dest, const uint32_t* src) {
    constexpr uint32_t alpha_top = 0x80000000;
    u32x8 c[group];
    for (int k = 0; k < group; ++k) c[k] = load(src + k * lanes);
    u32x8 any_opaque = c[0], all_opaque = c[0];
    for (int k = 1; k < group; ++k) any_opaque |= c[k], all_opaque &= c[k];
    if (!any_lane_set(any_opaque & alpha_top)) return;
    const bool opaque = !any_lane_set(~all_opaque & alpha_top);
    for (int k = 0; k < group; ++k) store(dest + k * lanes, opaque ? c[k] : kept_or_stored(load(dest + k * lanes), c[k]));
}

// Runs of groups that blend and runs that do not, each in a loop of its own: the blend's constants
// stay in registers through its run.
template <bool Masked>
[[gnu::always_inline]] inline void span_loop(uint32_t* dest, const uint32_t* src, int32_t n) {
    const image_step step;
    int32_t i = 0;
    while (i + group_pixels <= n) {
        for (u32x8 out; i + group_pixels <= n && !group_kept_or_stored(src + i); i += group_pixels) {
#pragma GCC unroll 1
            for (int k = 0; k < group; ++k) {
                step(load(dest + i + k * lanes), load(src + i + k * lanes), out);
                store(dest + i + k * lanes, out);
            }
        }
        for (; i + group_pixels <= n && group_kept_or_stored(src + i); i += group_pixels)
            kept_or_stored_group(dest + i, src + i);
    }
    for (u32x8 out; i + lanes <= n; i += lanes) {
        step(load(dest + i), load(src + i), out);
        store(dest + i, out);
    }
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

const blend_span_build& spans() {
    static const blend_span_build build = blend_span_build_of(vector_level_of_cpu());
    return build;
}

}  // namespace

blend_span_build blend_span_build_of(vector_level level) {
    switch (level) {
        case vector_level::x86_64_v4: return {span_color_v4, span_v4};
        case vector_level::avx2: return {span_color_avx2, span_avx2};
        default: return {span_color_baseline, span_baseline};
    }
}

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
