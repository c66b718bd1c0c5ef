// The triangle mapping statement: a triangle of a source image mapped onto a triangle of a
// destination image by a scan-line rasteriser in 16.16 fixed point, with vertices and samples on
// pixel centres, source coordinates wrapping around the source, and a seamless form that leaves
// out the right and bottom boundary pixels. A hardware source queues a command instead
// (hardware_drawing.h). The rows themselves are drawn by triangle_rows.h.
#pragma once

#include <cstdint>

enum : int32_t {
    triangle_seamless = 0x1,      // leave out the right pixel of every span and the bottom row
    triangle_source_given = 0x2,  // else source_image
    triangle_3d_bits = 0x4 | 0x8 | 0x10,  // depth values and culling: hardware only
    triangle_dest_given = 0x20,   // else dest_image
};

// Source coordinates in source pixels (centres at whole numbers), destination coordinates in
// destination pixels (no view or window); z, cull and smooth serve the hardware path only.
// Returns at once while an error is pending.
void triangle_map(int32_t cull, float sx1, float sy1, float sx2, float sy2, float sx3, float sy3, int32_t source,
                  float dx1, float dy1, float dz1, float dx2, float dy2, float dz2, float dx3, float dy3, float dz3,
                  int32_t destination, int32_t smooth, int32_t flags);
