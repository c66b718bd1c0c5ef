// Graphics get and put through a block of program memory: a 4-byte header (width field, height)
// and the rows of a rectangle in the packed layout of the image's bits per pixel (1 and 2 bits
// packed from the high bit, 4 bits as four bit planes, 8 bits as bytes, 32 bits as words). The
// block records no format: both statements read it by the bits per pixel of their image. The
// memory arrives as a byte span, whose whole 64-bit address and length are honoured.
#pragma once

#include <cstdint>

struct byte_span;

enum : int32_t {
    array_get_first_relative = 0x1,   // the source's graphics cursor is added to (x1, y1)
    array_get_second_relative = 0x2,  // (x1, y1) is added to (x2, y2)
    array_get_outside = 0x4,          // pixels outside the image are allowed and take the colour
};
enum : int32_t {
    array_put_relative = 0x1,  // the destination's graphics cursor is added to the point
    array_put_clip = 0x2,      // pixels outside the image are left out
    array_put_skip = 0x4,      // pixels whose array value equals the colour are not drawn
};
// Actions of graphics_array_put; any other leaves every pixel as it is.
enum : uint32_t {
    array_action_xor = 0,
    array_action_copy = 1,
    array_action_inverted_copy = 2,
    array_action_and = 3,
    array_action_or = 4,
    array_action_xor_again = 5,
};

// A rectangle of source_image into the span. Returns at once while an error is pending.
void graphics_array_get(float x1, float y1, float x2, float y2, const byte_span* span, uint32_t colour,
                        int32_t flags);
// The span's rectangle onto dest_image with its top-left corner at (x, y).
void graphics_array_put(float x, float y, const byte_span* span, uint32_t action, uint32_t colour, int32_t flags);

// Bytes of one row of w pixels at b bits per pixel, and the header's width field for w.
int64_t graphics_array_row_bytes(int32_t bits_per_pixel, int64_t width);
int64_t graphics_array_width_field(int32_t bits_per_pixel, int64_t width);
