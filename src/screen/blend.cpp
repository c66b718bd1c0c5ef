#include "screen/blend.h"

#include <immintrin.h>

#include "platform/vector_level.h"
#include "screen/blend_lanes.h"
#include "screen/blend_span_loops_internal.h"

// Eight pixels at a time (blend_lanes.h). The span loops (blend_span_loops_internal.h) are built for
// AVX-512, AVX2 and, here, the baseline, and the first call picks one by the processor.
#pragma GCC diagnostic ignored "-Wpsabi"

namespace {

using namespace blend_lanes_detail;

// The baseline's registers hold four pixels: a step is two of them.
struct baseline_level : padded_tail {
    using image_step = blend_lanes_detail::image_step;
    static bool only_kept_or_stored(const u32x8& c) { return !any_lane_set((c + alpha_one) & alpha_past_one); }
    static void kept_or_stored_step(uint32_t* dest, const u32x8& c) {
        const auto x = reinterpret_cast<u64x4>(c);
        const int opaque_lanes = _mm_movemask_ps(reinterpret_cast<__m128>(u64x2{x[0], x[1]})) |
                                 _mm_movemask_ps(reinterpret_cast<__m128>(u64x2{x[2], x[3]})) << (lanes / 2);
        write_kept_or_stored(dest, c, opaque_lanes);
    }
};

const blend_span_build& spans() {
    static const blend_span_build build = blend_span_build_of(vector_level_of_cpu());
    return build;
}

}  // namespace

blend_span_build blend_span_build_of(vector_level level) {
    switch (level) {
        case vector_level::x86_64_v4: return blend_spans_v4();
        case vector_level::avx2: return blend_spans_avx2();
        default: return span_build<baseline_level>();
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
