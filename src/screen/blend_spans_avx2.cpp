// The span loops of blend.h at AVX2: this file is built with AVX2 on (CMakeLists.txt).
#include <immintrin.h>

#include "screen/blend_byte_pairs_internal.h"
#include "screen/blend_span_loops_internal.h"

namespace blend_lanes_detail {
namespace {

struct avx2_level : padded_tail {
    using image_step = byte_pair_image_step;
    static bool only_kept_or_stored(const u32x8& c) {
        return _mm256_testz_si256(reinterpret_cast<__m256i>(c + alpha_one),
                                  reinterpret_cast<__m256i>(u32x8{} + alpha_past_one));
    }
    static void kept_or_stored_step(uint32_t* dest, const u32x8& c) {
        write_kept_or_stored(dest, c, _mm256_movemask_ps(reinterpret_cast<__m256>(c)));
    }
};

}  // namespace

blend_span_build blend_spans_avx2() { return span_build<avx2_level>(); }

}  // namespace blend_lanes_detail
