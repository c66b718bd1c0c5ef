#include "screen/palette.h"

#include <cstring>

#include "core/errors.h"
#include "screen/fonts.h"
#include "screen/image_pool.h"

uint32_t default_palette_256[256];
uint32_t ega_palette_64[64];
uint32_t mode10_level_table[18];

namespace {

// A 6-bit DAC level widened to 8 bits: round(v * 255 / 63) (no level lies on a tie).
constexpr uint32_t level_8bit(uint32_t v) { return (v * 255 + 31) / 63; }

constexpr uint32_t rgb6(uint32_t r, uint32_t g, uint32_t b) {
    return 0xFF000000u | level_8bit(r) << 16 | level_8bit(g) << 8 | level_8bit(b);
}

constexpr uint32_t cga_color(uint32_t i) {
    uint32_t bright = (i & 8) ? 21 : 0;
    uint32_t r = ((i & 4) ? 42 : 0) + bright;
    uint32_t g = (i == 6 ? 21 : (i & 2) ? 42 : 0) + bright;
    uint32_t b = ((i & 1) ? 42 : 0) + bright;
    return rgb6(r, g, b);
}

constexpr uint8_t grey_levels[16] = {0, 5, 8, 11, 14, 17, 20, 24, 28, 32, 36, 40, 45, 50, 56, 63};

struct ring_levels {
    uint8_t lo, m1, m2, m3, hi;
};
constexpr ring_levels rings[9] = {
    {0, 16, 31, 47, 63}, {31, 39, 47, 55, 63}, {45, 49, 54, 58, 63},
    {0, 7, 14, 21, 28},  {14, 17, 21, 24, 28}, {20, 22, 24, 26, 28},
    {0, 4, 8, 12, 16},   {8, 10, 12, 14, 16},  {11, 12, 13, 15, 16},
};

// One hue ring: level indices 0 = lo, 1-3 = m1-m3, 4 = hi for red, green and blue.
constexpr uint8_t ring_steps[24][3] = {
    {0, 0, 4}, {1, 0, 4}, {2, 0, 4}, {3, 0, 4}, {4, 0, 4}, {4, 0, 3}, {4, 0, 2}, {4, 0, 1},
    {4, 0, 0}, {4, 1, 0}, {4, 2, 0}, {4, 3, 0}, {4, 4, 0}, {3, 4, 0}, {2, 4, 0}, {1, 4, 0},
    {0, 4, 0}, {0, 4, 1}, {0, 4, 2}, {0, 4, 3}, {0, 4, 4}, {0, 3, 4}, {0, 2, 4}, {0, 1, 4},
};

uint32_t ring_color(const ring_levels& ring, const uint8_t* step) {
    const uint8_t levels[5] = {ring.lo, ring.m1, ring.m2, ring.m3, ring.hi};
    return rgb6(levels[step[0]], levels[step[1]], levels[step[2]]);
}

// EGA colour number rgbRGB: bits 0-2 blue, green, red at 0xAA; bits 3-5 add 0x55.
constexpr uint32_t ega_color(uint32_t i) {
    auto channel = [i](int bit) { return ((i >> bit) & 1) * 0xAA + ((i >> (bit + 3)) & 1) * 0x55; };
    return 0xFF000000u | channel(2) << 16 | channel(1) << 8 | channel(0);
}

void default_palette_build() {
    for (uint32_t i = 0; i < 16; ++i) default_palette_256[i] = cga_color(i);
    for (int i = 0; i < 16; ++i) default_palette_256[16 + i] = rgb6(grey_levels[i], grey_levels[i], grey_levels[i]);
    for (int ring = 0; ring < 9; ++ring)
        for (int step = 0; step < 24; ++step)
            default_palette_256[32 + ring * 24 + step] = ring_color(rings[ring], ring_steps[step]);
    for (int i = 248; i < 256; ++i) default_palette_256[i] = 0xFF000000u;
}

void mode10_levels_build() {
    constexpr uint32_t levels[3] = {0x000000, 0x808080, 0xFFFFFF};
    for (int p = 0; p < 9; ++p) {
        mode10_level_table[p] = levels[p / 3];
        mode10_level_table[9 + p] = levels[p % 3];
    }
}

void entries_copy(uint32_t* to, const uint32_t* from, int32_t n) { std::memcpy(to, from, sizeof(uint32_t) * size_t(n)); }

// The palette of a resolved image (null after a bad handle), or null after error 5.
uint32_t* palette_of_record(image_record* r) {
    if (!r) return nullptr;
    if (!r->palette) error_raise(error_illegal_function_call);
    return r->palette;
}

// Entry i of the image's palette, or null after an error (5 for i outside 0-255).
uint32_t* palette_entry_at(int32_t i, int32_t handle, int32_t handle_given) {
    uint32_t* p = palette_of_record(image_target(handle, handle_given));
    if (!p) return nullptr;
    if (i < 0 || i > 255) {
        error_raise(error_illegal_function_call);
        return nullptr;
    }
    return p + i;
}

}  // namespace

void palettes_load() {
    default_palette_build();
    for (uint32_t i = 0; i < 64; ++i) ega_palette_64[i] = ega_color(i);
    mode10_levels_build();
    glyph_bitmaps_load();
}

void palette_load_default(image_record* record) {
    uint32_t* p = record->palette;
    if (!p) return;
    switch (record->mode) {
        case 1:
            p[0] = default_palette_256[0];
            p[1] = default_palette_256[3];
            p[2] = default_palette_256[5];
            p[3] = default_palette_256[7];
            break;
        case 2:
        case 11:
            p[0] = 0x00000000;
            p[1] = 0x00FFFFFF;
            break;
        case 9:
            entries_copy(p, ega_palette_64, 6);
            p[6] = ega_palette_64[20];
            p[7] = ega_palette_64[7];
            entries_copy(p + 8, ega_palette_64 + 56, 8);
            break;
        case 10:
            p[4] = 0;
            p[5] = 4;
            p[6] = 6;
            p[7] = 8;
            break;
        case 13:
        case 256:
            entries_copy(p, default_palette_256, 256);
            break;
        case 0:
        case 7:
        case 8:
        case 12:
            entries_copy(p, default_palette_256, 16);
            break;
        default:
            break;
    }
}

uint32_t palette_entry_get(int32_t i, int32_t handle, int32_t handle_given) {
    if (error_pending()) return 0;
    const uint32_t* entry = palette_entry_at(i, handle, handle_given);
    return entry ? *entry | 0xFF000000u : 0;
}

void palette_entry_set(int32_t i, uint32_t value, int32_t handle, int32_t handle_given) {
    if (error_pending()) return;
    if (uint32_t* entry = palette_entry_at(i, handle, handle_given)) *entry = value;
}

void palette_copy(int32_t from_handle, int32_t to_handle, int32_t flags) {
    if (error_pending()) return;
    const uint32_t* from = palette_of_record(flags & 1 ? image_handle_record(from_handle) : source_image);
    if (!from) return;
    uint32_t* to = palette_of_record(flags & 2 ? image_handle_record(to_handle) : dest_image);
    if (!to) return;
    std::memmove(to, from, 256 * sizeof(uint32_t));
}
