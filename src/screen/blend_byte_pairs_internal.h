// The eight-pixel image step of blend_lanes.h for the files built with AVX2 on (AVX2 and
// x86-64-v4 span loops): each byte of the result is one multiply-add of a byte pair, the source
// and the destination byte weighted by a and 255 - a, so no byte is masked out or shifted into a
// lane of its own. The multiply-add takes its second bytes as signed: with 128 taken from both
// bytes, a*s + (255-a)*d comes out 255*128 short, within the signed 16-bit range
// (-32640..32385), and adding 32768 (a flip of the top bit) gives t = a*s + (255-a)*d + 128.
// floor(257t / 65536), the high half of t * 257, is (t + (t >> 8)) >> 8: the rounding of
// blend_lanes.h, exact to blend.h. Not here: the loops (blend_span_loops_internal.h).
#pragma once

#include <immintrin.h>

#include <cstdint>

#include "screen/blend_lanes.h"

namespace blend_lanes_detail {

struct byte_pair_image_step {
    [[gnu::always_inline]] void operator()(const u32x8& d, const u32x8& c, u32x8& out) const {
        // Each byte 128 down as a signed byte: its top bit flipped. The alpha byte blends with a
        // source of 255 (blend_lanes.h).
        const __m256i down_128 = _mm256_set1_epi8(char(0x80));
        const __m256i source = _mm256_xor_si256(reinterpret_cast<__m256i>(c | 0xFF000000), down_128);
        const __m256i dest = _mm256_xor_si256(reinterpret_cast<__m256i>(d), down_128);
        const __m256i alphas = _mm256_shuffle_epi8(reinterpret_cast<__m256i>(c), alpha_of_each_byte());
        const __m256i inverse = _mm256_xor_si256(alphas, _mm256_set1_epi8(char(0xFF)));
        const __m256i low = rounded(
            _mm256_maddubs_epi16(_mm256_unpacklo_epi8(alphas, inverse), _mm256_unpacklo_epi8(source, dest)));
        const __m256i high = rounded(
            _mm256_maddubs_epi16(_mm256_unpackhi_epi8(alphas, inverse), _mm256_unpackhi_epi8(source, dest)));
        out = halves_applied(_mm256_packus_epi16(low, high), d, c);
    }

private:
    [[gnu::always_inline]] static __m256i alpha_of_each_byte() {
        return _mm256_setr_epi8(3, 3, 3, 3, 7, 7, 7, 7, 11, 11, 11, 11, 15, 15, 15, 15, 3, 3, 3, 3, 7, 7, 7, 7, 11, 11,
                                11, 11, 15, 15, 15, 15);
    }
    // The 127/128 rule of blend_lanes.h: the average of two even bytes rounded up is exact, and
    // the colour bytes alone take it.
    [[gnu::always_inline]] static u32x8 halves_applied(const __m256i& blended, const u32x8& d, const u32x8& c) {
        const __m256i colours = _mm256_set1_epi32(0x00FEFEFE);
        const __m256i average = _mm256_avg_epu8(_mm256_and_si256(reinterpret_cast<__m256i>(d), colours),
                                                _mm256_and_si256(reinterpret_cast<__m256i>(c), colours));
        const __m256i halved_colours = _mm256_srli_epi32(reinterpret_cast<__m256i>(halved_alphas(c)), 8);
        return reinterpret_cast<u32x8>(_mm256_blendv_epi8(blended, average, halved_colours));
    }
    // The signed sum of a pair, 255*128 short, to round(x / 255).
    [[gnu::always_inline]] static __m256i rounded(const __m256i& short_sum) {
        const __m256i t = _mm256_xor_si256(short_sum, _mm256_set1_epi16(short(0x8000)));
        return _mm256_mulhi_epu16(t, _mm256_set1_epi16(257));
    }
};

}  // namespace blend_lanes_detail
