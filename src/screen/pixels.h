// Writing one colour value into one pixel of an image: palette images store the value AND the
// colour mask, 32-bit images blend by alpha unless blending is off (blend.h); text cells are left
// alone. Reading one pixel's stored value back. Nothing here clips: the drawing statements do (draw/lines.h, screen/boxes.h). Inline: the
// drawing loops call it for every pixel.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "screen/blend.h"
#include "screen/image_pool.h"

// One pixel of a kind the caller has chosen ahead: bytes 1 stores the value (already masked),
// bytes 4 blends it over the pixel unless blend is false. Loops that write many pixels of one
// image pick the kind once.
template <int bytes>
inline void pixel_store(uint8_t* pixels, size_t i, uint32_t value, bool blend) {
    if constexpr (bytes == 1) {
        pixels[i] = static_cast<uint8_t>(value);
    } else {
        uint8_t* p = pixels + i * 4;
        uint32_t d;
        std::memcpy(&d, p, 4);
        uint32_t v = blend ? blend_pixel(d, value) : value;
        std::memcpy(p, &v, 4);
    }
}

// The rule for one image with the record's fields read once. A loop that writes many pixels keeps
// one: a store through the pixels may alias the record, which would otherwise be read again for
// every pixel.
struct pixel_writer {
    uint8_t* pixels;
    size_t width;
    uint32_t color_mask;
    uint8_t bytes_per_pixel;
    uint8_t blend_off;

    explicit pixel_writer(const image_record* r)
        : pixels(r->pixels), width(r->width), color_mask(r->color_mask), bytes_per_pixel(r->bytes_per_pixel),
          blend_off(r->blend_off) {}

    // No clipping and no bounds test: the caller guarantees 0 <= x < width and 0 <= y < height.
    void write(int32_t x, int32_t y, uint32_t colour) const {
        size_t i = size_t(y) * width + size_t(x);
        switch (bytes_per_pixel) {
            case 1:
                pixel_store<1>(pixels, i, colour & color_mask, false);
                return;
            case 4:
                pixel_store<4>(pixels, i, colour, !blend_off);
                return;
            default:
                return;  // text cells are not pixels: a 4-byte write would run past the cells
        }
    }
};

inline void image_pixel_write(image_record* record, int32_t x, int32_t y, uint32_t colour) {
    pixel_writer(record).write(x, y, colour);
}
inline void dest_pixel_write(int32_t x, int32_t y, uint32_t colour) { image_pixel_write(dest_image, x, y, colour); }

// The stored value of a pixel of a graphics image, unmasked; no bounds test, as for the write.
inline uint32_t image_pixel_read(const image_record* record, int32_t x, int32_t y) {
    size_t i = size_t(y) * record->width + size_t(x);
    if (record->bytes_per_pixel == 1) return record->pixels[i];
    uint32_t v;
    std::memcpy(&v, record->pixels + i * 4, 4);
    return v;
}
