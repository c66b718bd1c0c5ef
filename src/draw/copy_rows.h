// The pixel transfer of an image copy, row by row, once the two axes are clipped: 32-bit onto
// 32-bit stored or blended, 8-bit onto 8-bit with or without the transparent colour, 8-bit onto
// 32-bit through the source's palette with or without it. Each row's source pixels are taken as
// they lie, reversed or through a column table, and then handed to one row loop per transfer, so
// no loop tests anything per pixel beyond the pixel's own value. Not here: corners, defaults and
// clipping (image_copy.h).
#pragma once

struct copy_axis;
struct image_record;

// The images are distinct, of 1 or 4 bytes per pixel (never 4 onto 1), the axes not empty.
void copy_rows_transfer(image_record* dest, const image_record* source, const copy_axis& x, const copy_axis& y);
