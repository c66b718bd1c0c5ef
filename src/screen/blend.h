// Alpha blending of straight (not premultiplied) 0xAARRGGBB colours.
//
// A channel blends as round(a/255 * s + (1 - a/255) * d) and two alphas merge as
// round((1 - (1 - a/255)(1 - b/255)) * 255); both equal closed integer forms exactly (the tests
// prove it over every entry), so no tables are built and the wide paths are exact too.
#pragma once

#include <cstdint>

#include "platform/vector_level.h"

// The blended value of one channel: alpha a, source s, destination d.
constexpr uint32_t blend_table_entry(uint32_t a, uint32_t s, uint32_t d) {
    return (a * s + (255 - a) * d + 127) / 255;
}
// The alpha of a colour of alpha a written over a pixel of alpha b (symmetric).
constexpr uint32_t alpha_merge_entry(uint32_t a, uint32_t b) { return a + b - (a * b + 127) / 255; }

namespace blend_detail {
// The four bytes of a pixel in four 16-bit lanes, and back.
constexpr uint64_t spread(uint32_t v) {
    uint64_t x = v;
    x = (x | x << 16) & 0x0000FFFF0000FFFF;
    return (x | x << 8) & 0x00FF00FF00FF00FF;
}
constexpr uint32_t gather(uint64_t x) {
    x = (x | x >> 8) & 0x0000FFFF0000FFFF;
    return static_cast<uint32_t>(x | x >> 16);
}
constexpr uint64_t lane_ones = 0x0001000100010001;
constexpr uint64_t lane_bytes = 0x00FF00FF00FF00FF;
}  // namespace blend_detail

// Colour c written over pixel d of a 32-bit image with blending on: alpha 0 leaves d, 255 stores c,
// 127 and 128 average the colour channels with their lowest bits dropped, others blend. All four
// bytes blend at once in 16-bit lanes, the alpha byte with a source of 255: the alpha merge of a
// over b equals the channel blend of 255 over b.
constexpr uint32_t blend_pixel(uint32_t d, uint32_t c) {
    using namespace blend_detail;
    uint64_t a = c >> 24;
    if (a == 0) return d;
    if (a == 255) return c;
    uint64_t y = a * spread(c | 0xFF000000) + (255 - a) * spread(d) + 127 * lane_ones;
    uint32_t blended = gather((y + lane_ones + ((y >> 8) & lane_bytes)) >> 8 & lane_bytes);
    if (a == 127 || a == 128) return (blended & 0xFF000000) | (((d & 0x00FEFEFE) + (c & 0x00FEFEFE)) >> 1);
    return blended;
}

// n pixels of one colour blended over dest.
void blend_span_color(uint32_t* dest, int32_t n, uint32_t colour);
// src[i] blended over dest[i] for n pixels.
void blend_span(uint32_t* dest, const uint32_t* src, int32_t n);

// The span loops of one vector level, for n > 0: the two calls above use the processor's own;
// tests check every level it runs.
struct blend_span_build {
    void (*color)(uint32_t* dest, int32_t n, uint32_t colour);
    void (*image)(uint32_t* dest, const uint32_t* src, int32_t n);
};
blend_span_build blend_span_build_of(vector_level level);
