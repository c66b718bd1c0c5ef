// The span loops of blend.h at x86-64-v4: this file is built with the level's instructions on
// (CMakeLists.txt), AVX-512 on eight-pixel registers.
#include <immintrin.h>

#include "screen/blend_byte_pairs_internal.h"
#include "screen/blend_span_loops_internal.h"

namespace blend_lanes_detail {
namespace {

struct v4_level {
    using image_step = byte_pair_image_step;
    static bool only_kept_or_stored(const u32x8& c) {
        return _mm256_test_epi32_mask(reinterpret_cast<__m256i>(c + alpha_one),
                                      reinterpret_cast<__m256i>(u32x8{} + alpha_past_one)) == 0;
    }
    // One store under the lane mask of the opaque pixels: neither a read of the destination nor a
    // branch to mispredict where a sprite's edges come at random.
    static void kept_or_stored_step(uint32_t* dest, const u32x8& c) {
        const auto pixels = reinterpret_cast<__m256i>(c);
        _mm256_mask_storeu_epi32(dest, _mm256_movepi32_mask(pixels), pixels);
    }
    // The last pixels are read and written under a lane mask: no padded copy to wait for, which
    // short spans (a triangle's rows) would pay on every row.
    template <class Step>
    static void tail(uint32_t* dest, const uint32_t* src, int32_t n, const Step& step) {
        const __mmask8 live = static_cast<__mmask8>((1u << n) - 1);
        const auto d = reinterpret_cast<u32x8>(_mm256_maskz_loadu_epi32(live, dest));
        const auto s = src ? reinterpret_cast<u32x8>(_mm256_maskz_loadu_epi32(live, src)) : u32x8{};
        u32x8 out;
        step(d, s, out);
        _mm256_mask_storeu_epi32(dest, live, reinterpret_cast<__m256i>(out));
    }
};

}  // namespace

blend_span_build blend_spans_v4() { return span_build<v4_level>(); }

}  // namespace blend_lanes_detail
