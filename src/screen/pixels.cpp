#include "screen/pixels.h"

#include <cstring>

#include "screen/blend.h"
#include "screen/image_pool.h"

void image_pixel_write(image_record* record, int32_t x, int32_t y, uint32_t colour) {
    size_t i = size_t(y) * record->width + size_t(x);
    switch (record->bytes_per_pixel) {
        case 1:
            record->pixels[i] = static_cast<uint8_t>(colour & record->color_mask);
            return;
        case 4: {
            uint8_t* p = record->pixels + i * 4;
            uint32_t d;
            std::memcpy(&d, p, 4);
            uint32_t v = record->blend_off ? colour : blend_pixel(d, colour);
            std::memcpy(p, &v, 4);
            return;
        }
        default:
            return;  // text cells are not pixels: a 4-byte write would run past the cells
    }
}

void dest_pixel_write(int32_t x, int32_t y, uint32_t colour) { image_pixel_write(dest_image, x, y, colour); }
