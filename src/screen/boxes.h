// Rectangle fills on the destination image: box_fill between two logical corners, mapped through
// the image's view and window and clipped to its clip box, and dest_rect_fill of a rectangle given
// in pixels. Both give every pixel exactly what dest_pixel_write would, a row at a time. Text images
// (two-byte cells) are never filled.
#pragma once

#include <cstdint>

struct image_record;

void box_fill(float x1, float y1, float x2, float y2, uint32_t colour);
// Pixel corners x1 <= x2, y1 <= y2; whatever lies outside the image is left out.
void dest_rect_fill(int32_t x1, int32_t y1, int32_t x2, int32_t y2, uint32_t colour);
// The same fill on any image, for a rectangle already inside it.
void image_rect_fill(image_record* r, int32_t x1, int32_t y1, int32_t x2, int32_t y2, uint32_t colour);
