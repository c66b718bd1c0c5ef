// The loops of blend.h's span calls, written once for every vector level: Level gives a level's
// own instructions (its image step, the test of a step's alphas, the store of a step that is only
// kept or stored, the tail). Each level's loops are built in a file of their own with that
// level's instructions switched on (blend.cpp for the baseline, blend_spans_avx2.cpp,
// blend_spans_v4.cpp), so the level's intrinsics may be called anywhere in them; the first call
// of blend.h picks one by the processor. What those files build is always inlined or takes a
// Level of their own (private to the file), so no function built for one level's instructions
// can stand in for another's at link time. Not here: the steps (blend_lanes.h, blend_byte_pairs_internal.h).
#pragma once

#include <cstdint>

#include "screen/blend.h"
#include "screen/blend_lanes.h"

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wpsabi"

namespace blend_lanes_detail {

// The span builds of the levels above the baseline.
blend_span_build blend_spans_avx2();
blend_span_build blend_spans_v4();

constexpr int all_lanes = (1 << lanes) - 1;

// The last pixels of a span (fewer than a step) go through the same step in a padded copy, so
// short spans pay no branch per pixel either: the tail of the levels without lane masks.
struct padded_tail {
    template <class Step>
    [[gnu::always_inline]] static void tail(uint32_t* dest, const uint32_t* src, int32_t n, const Step& step) {
        uint32_t d[lanes] = {}, s[lanes] = {};
        for (int32_t k = 0; k < lanes; ++k)
            if (k < n) d[k] = dest[k], s[k] = src ? src[k] : 0;
        u32x8 out;
        step(load(d), load(s), out);
        store(d, out);
        for (int32_t k = 0; k < lanes; ++k)
            if (k < n) dest[k] = d[k];
    }
};

// A step whose alphas are all 0 or 255, given the lanes of its opaque pixels: no store where none
// is opaque, the source alone where all are.
[[gnu::always_inline]] inline void write_kept_or_stored(uint32_t* dest, const u32x8& c, int opaque_lanes) {
    if (opaque_lanes == 0) return;
    store(dest, opaque_lanes == all_lanes ? c : kept_or_stored(load(dest), c));
}

template <class Level>
void span_color_loop(uint32_t* dest, int32_t n, uint32_t colour) {
    const color_step step(colour);
    int32_t i = 0;
    for (u32x8 out; i + lanes <= n; i += lanes) {
        step(load(dest + i), step.c, out);
        store(dest + i, out);
    }
    if (i < n) Level::tail(dest + i, nullptr, n - i, step);
}

// Each step of eight is decided on its own, so only the steps that an edge's ramp crosses blend:
// most groups of a few steps of an anti-aliased sprite hold a ramp pixel, and a test of a group
// before its steps' own tests, cheap as they are, gains nothing.
template <class Level>
void span_loop(uint32_t* dest, const uint32_t* src, int32_t n) {
    const typename Level::image_step step;
    int32_t i = 0;
    for (u32x8 out; i + lanes <= n; i += lanes) {
        const u32x8 c = load(src + i);
        if (Level::only_kept_or_stored(c)) {
            Level::kept_or_stored_step(dest + i, c);
            continue;
        }
        step(load(dest + i), c, out);
        store(dest + i, out);
    }
    if (i < n) Level::tail(dest + i, src + i, n - i, step);
}

template <class Level>
blend_span_build span_build() {
    return {span_color_loop<Level>, span_loop<Level>};
}

}  // namespace blend_lanes_detail

#pragma GCC diagnostic pop
