#include "display/frame_builder.h"

#include <algorithm>
#include <bit>
#include <cstring>

#include "platform/vector_level.h"
#include "screen/fonts.h"

#if defined(__x86_64__)
#include <immintrin.h>
#endif

cursor_line_range cursor_lines(int32_t s, int32_t e, int32_t h) {
    constexpr cursor_line_range none{1, 0};
    if (h <= 0) return none;
    const int32_t bottom = h == 16 ? 14 : h - 1;
    auto from_line = [&](int32_t first, int32_t last) {
        return first >= h ? none : cursor_line_range{first, std::min(last, h - 1)};
    };
    auto from_bottom = [&](int32_t n) { return cursor_line_range{std::max(bottom - n + 1, 0), bottom}; };
    if (e == 0) return s == 0 ? from_line(0, 0) : none;
    if (e < s) return from_line(e, h - 1);
    if (s == e) return s <= 3 ? from_line(s, s) : from_bottom(1);
    if (s <= 1) return e <= 3 ? from_line(s, e) : from_line(s, h - 1);
    if (s == 2) {
        if (e == 3) return from_line(2, 3);
        if (e == 4) return from_bottom(3);
        return from_line(2, h - 1);
    }
    if (e == s + 1) return from_bottom(2);
    if (e == s + 2) return from_bottom(3);
    return {h - h / 2, h - 1};
}

void palette_expansion_table(const uint32_t* palette, int32_t bits_per_pixel, uint32_t table[256]) {
    const uint32_t mask = bits_per_pixel >= 8 ? 255u : (1u << bits_per_pixel) - 1;
    for (uint32_t i = 0; i < 256; ++i) table[i] = palette[i & mask] | 0xFF000000u;
}

namespace {

void palette_expand_scalar(const uint8_t* src, uint8_t* copy, uint32_t* out, size_t n, const uint32_t table[256]) {
    // A local table: the stores to out and copy cannot alias it, so its entries stay in registers' reach.
    uint32_t colours[256];
    std::memcpy(colours, table, sizeof colours);
    size_t i = 0;
    for (; i + 8 <= n; i += 8) {
        uint64_t eight;
        std::memcpy(&eight, src + i, 8);
        if (copy) std::memcpy(copy + i, &eight, 8);
        for (int k = 0; k < 8; ++k) out[i + k] = colours[(eight >> (8 * k)) & 255];
    }
    for (; i < n; ++i) {
        const uint8_t v = src[i];
        if (copy) copy[i] = v;
        out[i] = colours[v];
    }
}

#if defined(__x86_64__)
// Sixteen pixels per step: the four bytes of each of 16 colours are looked up with byte shuffles
// and woven back into pixels.
__attribute__((target("ssse3"))) void palette_expand_16_ssse3(const uint8_t* src, uint8_t* copy, uint32_t* out,
                                                              size_t n, const uint32_t table[256]) {
    alignas(16) uint8_t planes[4][16];
    for (int i = 0; i < 16; ++i) {
        for (int c = 0; c < 4; ++c) planes[c][i] = static_cast<uint8_t>(table[i] >> (8 * c));
    }
    const __m128i blue = _mm_load_si128(reinterpret_cast<const __m128i*>(planes[0]));
    const __m128i green = _mm_load_si128(reinterpret_cast<const __m128i*>(planes[1]));
    const __m128i red = _mm_load_si128(reinterpret_cast<const __m128i*>(planes[2]));
    const __m128i alpha = _mm_load_si128(reinterpret_cast<const __m128i*>(planes[3]));
    const __m128i low_nibble = _mm_set1_epi8(15);
    size_t i = 0;
    for (; i + 16 <= n; i += 16) {
        __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + i));
        if (copy) _mm_storeu_si128(reinterpret_cast<__m128i*>(copy + i), v);
        __m128i index = _mm_and_si128(v, low_nibble);
        __m128i b = _mm_shuffle_epi8(blue, index);
        __m128i g = _mm_shuffle_epi8(green, index);
        __m128i r = _mm_shuffle_epi8(red, index);
        __m128i a = _mm_shuffle_epi8(alpha, index);
        __m128i bg_low = _mm_unpacklo_epi8(b, g);
        __m128i bg_high = _mm_unpackhi_epi8(b, g);
        __m128i ra_low = _mm_unpacklo_epi8(r, a);
        __m128i ra_high = _mm_unpackhi_epi8(r, a);
        __m128i* o = reinterpret_cast<__m128i*>(out + i);
        _mm_storeu_si128(o, _mm_unpacklo_epi16(bg_low, ra_low));
        _mm_storeu_si128(o + 1, _mm_unpackhi_epi16(bg_low, ra_low));
        _mm_storeu_si128(o + 2, _mm_unpacklo_epi16(bg_high, ra_high));
        _mm_storeu_si128(o + 3, _mm_unpackhi_epi16(bg_high, ra_high));
    }
    palette_expand_scalar(src + i, copy ? copy + i : nullptr, out + i, n - i, table);
}

// Sixty-four pixels per step: each of the four bytes of the 64 colours is picked from its 256-byte
// plane with two-register byte permutes (bit 7 of the index chooses the upper half of the plane),
// and the four byte rows are woven into pixels. The weave works within 16-byte lanes, so the
// indices are first put in the order that makes its four results whole runs of 16 pixels.
__attribute__((target("arch=x86-64-v4,avx512vbmi"))) void palette_expand_64_permutes(
    const uint8_t* src, uint8_t* copy, uint32_t* out, size_t n, const uint32_t table[256]) {
    alignas(64) uint8_t planes[4][256];
    for (int i = 0; i < 256; ++i) {
        for (int c = 0; c < 4; ++c) planes[c][i] = static_cast<uint8_t>(table[i] >> (8 * c));
    }
    __m512i quarters[4][4];
    for (int c = 0; c < 4; ++c) {
        for (int q = 0; q < 4; ++q) quarters[c][q] = _mm512_load_si512(planes[c] + 64 * q);
    }
    // Position 16 L + 4 m + j takes the index of pixel 16 m + 4 L + j (L lane, m result, j pixel).
    alignas(64) uint8_t order[64];
    for (int lane = 0; lane < 4; ++lane) {
        for (int m = 0; m < 4; ++m) {
            for (int j = 0; j < 4; ++j) order[16 * lane + 4 * m + j] = static_cast<uint8_t>(16 * m + 4 * lane + j);
        }
    }
    const __m512i weave_order = _mm512_load_si512(order);
    // A table of at most 64 colours repeats every 64 entries: one single-register permute picks
    // each byte by the index's low six bits.
    const bool repeats = std::memcmp(table, table + 64, 192 * sizeof(uint32_t)) == 0;
    size_t i = 0;
    for (; i + 64 <= n; i += 64) {
        const __m512i v = _mm512_loadu_si512(src + i);
        if (copy) _mm512_storeu_si512(copy + i, v);
        // The zero-masked form with every lane kept: the plain one trips a false uninitialized warning.
        const __m512i index = _mm512_maskz_permutexvar_epi8(~__mmask64{0}, weave_order, v);
        __m512i bytes[4];
        if (repeats) {
            for (int c = 0; c < 4; ++c) bytes[c] = _mm512_maskz_permutexvar_epi8(~__mmask64{0}, index, quarters[c][0]);
        } else {
            const __mmask64 upper = _mm512_movepi8_mask(index);
            for (int c = 0; c < 4; ++c) {
                const __m512i low = _mm512_permutex2var_epi8(quarters[c][0], index, quarters[c][1]);
                const __m512i high = _mm512_permutex2var_epi8(quarters[c][2], index, quarters[c][3]);
                bytes[c] = _mm512_mask_blend_epi8(upper, low, high);
            }
        }
        const __m512i bg_low = _mm512_unpacklo_epi8(bytes[0], bytes[1]);
        const __m512i bg_high = _mm512_unpackhi_epi8(bytes[0], bytes[1]);
        const __m512i ra_low = _mm512_unpacklo_epi8(bytes[2], bytes[3]);
        const __m512i ra_high = _mm512_unpackhi_epi8(bytes[2], bytes[3]);
        uint32_t* o = out + i;
        _mm512_storeu_si512(o, _mm512_unpacklo_epi16(bg_low, ra_low));
        _mm512_storeu_si512(o + 16, _mm512_unpackhi_epi16(bg_low, ra_low));
        _mm512_storeu_si512(o + 32, _mm512_unpacklo_epi16(bg_high, ra_high));
        _mm512_storeu_si512(o + 48, _mm512_unpackhi_epi16(bg_high, ra_high));
    }
    // The compiler leaves the wide registers dirty at this tail call; code built without AVX that
    // runs after dirty upper halves (the program's own) would pay for it on every instruction.
    _mm256_zeroupper();
    palette_expand_scalar(src + i, copy ? copy + i : nullptr, out + i, n - i, table);
}
#endif

size_t first_difference_plain(const uint8_t* a, const uint8_t* b, size_t n) {
    for (size_t i = 0; i < n; ++i)
        if (a[i] != b[i]) return i;
    return n;
}

#if defined(__x86_64__)
// Each search compares a group of eight vectors at a time and, when any byte differs, takes the
// index from that same read: a second read could find the byte written back to the copy's value
// and answer "equal" for a group that differs elsewhere.
constexpr int group = 8;

template <class Mask>
size_t first_in_masks(const Mask (&differ)[group], size_t vector_bytes) {
    int k = 0;
    while (differ[k] == 0) ++k;
    return k * vector_bytes + static_cast<size_t>(std::countr_zero(differ[k]));
}

// The searches XOR a group of vectors of each side and test the ORed XORs; a group that differs
// takes its masks from those same XORs.
__m128i xor_16(const uint8_t* a, const uint8_t* b) {
    return _mm_xor_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(a)),
                         _mm_loadu_si128(reinterpret_cast<const __m128i*>(b)));
}

uint32_t nonzero_bytes_16(__m128i x) {
    return ~static_cast<uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(x, _mm_setzero_si128()))) & 0xFFFF;
}

size_t first_difference_baseline(const uint8_t* a, const uint8_t* b, size_t n) {
    constexpr size_t width = 16;
    size_t i = 0;
    for (; i + group * width <= n; i += group * width) {
        __m128i x[group];
        for (int k = 0; k < group; ++k) x[k] = xor_16(a + i + k * width, b + i + k * width);
        __m128i any = x[0];
        for (int k = 1; k < group; ++k) any = _mm_or_si128(any, x[k]);
        if (nonzero_bytes_16(any) == 0) continue;
        uint32_t differ[group];
        for (int k = 0; k < group; ++k) differ[k] = nonzero_bytes_16(x[k]);
        return i + first_in_masks(differ, width);
    }
    for (; i + width <= n; i += width) {
        const uint32_t differ = nonzero_bytes_16(xor_16(a + i, b + i));
        if (differ != 0) return i + static_cast<size_t>(std::countr_zero(differ));
    }
    return i + first_difference_plain(a + i, b + i, n - i);
}

[[gnu::target("avx2")]] __m256i xor_32(const uint8_t* a, const uint8_t* b) {
    return _mm256_xor_si256(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(a)),
                            _mm256_loadu_si256(reinterpret_cast<const __m256i*>(b)));
}

[[gnu::target("avx2")]] uint32_t nonzero_bytes_32(__m256i x) {
    return ~static_cast<uint32_t>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(x, _mm256_setzero_si256())));
}

[[gnu::target("avx2")]] size_t first_difference_avx2(const uint8_t* a, const uint8_t* b, size_t n) {
    constexpr size_t width = 32;
    size_t i = 0;
    for (; i + group * width <= n; i += group * width) {
        __m256i x[group];
        for (int k = 0; k < group; ++k) x[k] = xor_32(a + i + k * width, b + i + k * width);
        __m256i any = x[0];
        for (int k = 1; k < group; ++k) any = _mm256_or_si256(any, x[k]);
        if (_mm256_testz_si256(any, any)) continue;
        uint32_t differ[group];
        for (int k = 0; k < group; ++k) differ[k] = nonzero_bytes_32(x[k]);
        return i + first_in_masks(differ, width);
    }
    for (; i + width <= n; i += width) {
        const uint32_t differ = nonzero_bytes_32(xor_32(a + i, b + i));
        if (differ != 0) return i + static_cast<size_t>(std::countr_zero(differ));
    }
    return i + first_difference_plain(a + i, b + i, n - i);
}

// The last bytes (fewer than a vector) are read under a mask.
[[gnu::target("arch=x86-64-v4")]] __m512i xor_64(const uint8_t* a, const uint8_t* b, size_t bytes) {
    const __mmask64 live = bytes >= 64 ? ~__mmask64{0} : _bzhi_u64(~uint64_t{0}, static_cast<uint32_t>(bytes));
    return _mm512_xor_si512(_mm512_maskz_loadu_epi8(live, a), _mm512_maskz_loadu_epi8(live, b));
}

[[gnu::target("arch=x86-64-v4")]] size_t first_difference_v4(const uint8_t* a, const uint8_t* b, size_t n) {
    constexpr size_t width = 64;
    size_t i = 0;
    for (; i + group * width <= n; i += group * width) {
        __m512i x[group];
        for (int k = 0; k < group; ++k) x[k] = xor_64(a + i + k * width, b + i + k * width, width);
        __m512i any = x[0];
        for (int k = 1; k < group; ++k) any = _mm512_or_si512(any, x[k]);
        if (_mm512_test_epi64_mask(any, any) == 0) continue;
        uint64_t differ[group];
        for (int k = 0; k < group; ++k) differ[k] = _mm512_test_epi8_mask(x[k], x[k]);
        return i + first_in_masks(differ, width);
    }
    for (; i < n; i += width) {
        const __m512i x = xor_64(a + i, b + i, n - i);
        const uint64_t differ = _mm512_test_epi8_mask(x, x);
        if (differ != 0) return i + static_cast<size_t>(std::countr_zero(differ));
    }
    return n;
}
#endif

}  // namespace

first_difference_search first_difference_build_of(vector_level level) {
#if defined(__x86_64__)
    switch (level) {
        case vector_level::x86_64_v4: return first_difference_v4;
        case vector_level::avx2: return first_difference_avx2;
        default: return first_difference_baseline;
    }
#else
    (void)level;
    return first_difference_plain;
#endif
}

size_t first_difference(const uint8_t* a, const uint8_t* b, size_t n) {
    static const first_difference_search search = first_difference_build_of(vector_level_of_cpu());
    return search(a, b, n);
}

bool palette_expand_build_runs(palette_expand_build build) {
#if defined(__x86_64__)
    switch (build) {
        case palette_expand_build::byte_permutes: return cpu_has_byte_permutes();
        case palette_expand_build::byte_shuffles: {
            static const bool available = __builtin_cpu_supports("ssse3");
            return available;
        }
        default: return true;
    }
#else
    return build == palette_expand_build::plain;
#endif
}

void palette_expand_by(palette_expand_build build, const uint8_t* src, uint8_t* copy, uint32_t* out, size_t n,
                       const uint32_t table[256]) {
#if defined(__x86_64__)
    switch (build) {
        case palette_expand_build::byte_permutes: palette_expand_64_permutes(src, copy, out, n, table); return;
        case palette_expand_build::byte_shuffles: palette_expand_16_ssse3(src, copy, out, n, table); return;
        default: break;
    }
#endif
    palette_expand_scalar(src, copy, out, n, table);
}

void palette_expand(const uint8_t* src, uint8_t* copy, uint32_t* out, size_t n, const uint32_t table[256],
                    int32_t table_colors, size_t copied) {
    palette_expand_build build = palette_expand_build::plain;
    // With at most 16 colours every index's low four bits pick its entry (the table repeats).
    if (palette_expand_build_runs(palette_expand_build::byte_permutes)) build = palette_expand_build::byte_permutes;
    else if (table_colors <= 16 && palette_expand_build_runs(palette_expand_build::byte_shuffles))
        build = palette_expand_build::byte_shuffles;
    palette_expand_by(build, src, nullptr, out, copied, table);
    palette_expand_by(build, src + copied, copy + copied, out + copied, n - copied, table);
}

bool text_glyph_layout_of(int32_t font, text_glyph_layout* layout) {
    switch (font) {
        case 8:
        case 9: *layout = {8, 8, 0, glyph_bitmap_8x8, glyph_bytes_8x8}; break;
        case 14:
        case 15: *layout = {14, 8, 1, glyph_bitmap_8x16, glyph_bytes_8x16}; break;
        case 16:
        case 17: *layout = {16, 8, 0, glyph_bitmap_8x16, glyph_bytes_8x16}; break;
        default: return false;
    }
    if (font == 9 || font == 15 || font == 17) layout->advance = 16;
    return true;
}

void text_cell_draw(uint32_t* picture, int32_t stride, int32_t x, int32_t y, const text_glyph_layout& layout,
                    uint8_t code, uint32_t fore, uint32_t back) {
    const uint8_t* row = layout.glyphs + static_cast<size_t>(code) * layout.glyph_stride + layout.first_row * 8;
    const bool doubled = layout.advance == 16;
    uint32_t* line = picture + static_cast<size_t>(y) * stride + x;
    for (int32_t r = 0; r < layout.glyph_height; ++r, row += 8, line += stride) {
        for (int32_t c = 0; c < 8; ++c) {
            uint32_t colour = row[c] ? fore : back;
            if (doubled) {
                line[2 * c] = colour;
                line[2 * c + 1] = colour;
            } else {
                line[c] = colour;
            }
        }
    }
}

void text_cursor_draw(uint32_t* picture, int32_t stride, int32_t x, int32_t y, const text_glyph_layout& layout,
                      cursor_line_range lines, uint32_t colour) {
    for (int32_t r = lines.first; r <= lines.last; ++r) {
        std::fill_n(picture + static_cast<size_t>(y + r) * stride + x, layout.advance, colour);
    }
}
