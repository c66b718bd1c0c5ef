// Writing one colour value into one pixel of the destination image: palette images store the value
// AND the colour mask, 32-bit images blend by alpha unless blending is off (blend.h). Nothing here
// clips: the drawing statements do (draw/lines.h, draw/boxes.h).
#pragma once

#include <cstdint>

struct image_record;

// No clipping and no bounds test: the caller guarantees 0 <= x < width and 0 <= y < height.
void dest_pixel_write(int32_t x, int32_t y, uint32_t colour);
// The same rule on any record (text images are left alone).
void image_pixel_write(image_record* record, int32_t x, int32_t y, uint32_t colour);
