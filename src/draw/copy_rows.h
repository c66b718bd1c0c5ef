// The pixel transfer of an image copy, row by row, once the two axes are clipped: 32-bit onto
// 32-bit stored or blended, 8-bit onto 8-bit with or without the transparent colour, 8-bit onto
// 32-bit through the source's palette with or without it. Each row's source pixels are taken as
// they lie, reversed or through a column table, and then handed to one row loop per transfer, so
// no loop tests anything per pixel beyond the pixel's own value; at x86-64-v4 a blended row taken
// through the table is blended as its pixels are taken, with no row of them in memory. Not here:
// corners, defaults and clipping (image_copy.h).
#pragma once

#include <cstdint>

struct copy_axis;
struct image_record;

// Blends the n source pixels in[column[k]] over out, asking for the row ahead along the way when
// it is not null: the x86-64-v4 build, null where the processor lacks it (resampled blended rows
// then gather their source pixels into a row and blend it through blend_span). The column table
// goes on for columns_blend_padding entries past n, each inside the source, so the last step takes
// whole columns without a test per lane.
constexpr int64_t columns_blend_padding = 7;
using columns_blend = void (*)(uint32_t* out, const uint32_t* in, const uint32_t* ahead, const int32_t* column,
                               int64_t n);
columns_blend columns_blend_of_cpu();

// The images are distinct, of 1 or 4 bytes per pixel (never 4 onto 1), the axes not empty. A
// blended 32-bit transfer's resampled rows go through columns when it is not null.
void copy_rows_transfer(image_record* dest, const image_record* source, const copy_axis& x, const copy_axis& y,
                        columns_blend columns = columns_blend_of_cpu());
