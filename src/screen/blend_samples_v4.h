// The x86-64-v4 loop that blends a row of scattered samples: eight a step, each taken on its own
// straight into a register and blended there with the destination under a lane mask, so no row of
// samples lies in memory to wait for, and the last step reads and writes only the row's own
// pixels. Always inlined into the x86-64-v4 build of its caller. Not here: where the samples come
// from (the triangle rows' walk, an image copy's column table).
#pragma once

#if defined(__x86_64__)

#include <immintrin.h>

#include <cstdint>

#include "screen/blend_lanes.h"

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wpsabi"

namespace blend_lanes_detail {

// Blends n samples over out; take(i, left, s) puts the samples of pixels i.. into s[0..lanes),
// left of them in the row (the lanes past it are blended but never stored).
template <class Take>
[[gnu::target("arch=x86-64-v4"), gnu::always_inline]] inline void samples_blend_masked(uint32_t* out, int64_t n,
                                                                                      Take&& take) {
    const image_step step;
    for (int64_t i = 0; i < n; i += lanes) {
        const int64_t left = n - i;
        const __mmask8 live = left >= lanes ? __mmask8(0xFF) : __mmask8((1u << left) - 1);
        uint32_t s[lanes];
        take(i, left, s);
        const auto samples = reinterpret_cast<u32x8>(_mm256_setr_epi32(
            int32_t(s[0]), int32_t(s[1]), int32_t(s[2]), int32_t(s[3]), int32_t(s[4]), int32_t(s[5]), int32_t(s[6]),
            int32_t(s[7])));
        const auto d = reinterpret_cast<u32x8>(_mm256_maskz_loadu_epi32(live, out + i));
        u32x8 blended;
        step(d, samples, blended);
        _mm256_mask_storeu_epi32(out + i, live, reinterpret_cast<__m256i>(blended));
    }
}

}  // namespace blend_lanes_detail

#pragma GCC diagnostic pop

#endif
