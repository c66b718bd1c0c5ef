// Pixels and lines: clipping a segment to a rectangle, single pixels inside the clip box, lines in
// pixel coordinates and in logical coordinates with a 16-bit line style, the line statement with
// its box and filled-box forms, and setting and reading single pixels. Everything is drawn into the
// destination image with dest_pixel_write and read from the source image; program thread only.
// The clip box is always taken cut to the image, so nothing is ever written outside it.
#pragma once

#include <cstdint>

struct line_clip_result {
    bool visible;
    int64_t x1, y1;   // first end point, moved onto the rectangle when it lay outside
    int64_t x2, y2;   // second end point, likewise
    int64_t cut_off;  // how far the first point moved along the major axis (0 when it did not)
};

// The segment against the inclusive rectangle.
line_clip_result line_clip(int64_t x1, int64_t y1, int64_t x2, int64_t y2, int64_t left, int64_t top, int64_t right,
                           int64_t bottom);

// One pixel, when it lies inside the destination's clip box.
void dest_pixel_write_clipped(int64_t x, int64_t y, uint32_t colour);
// A solid line between pixel coordinates, clipped to the destination's clip box.
void line_pixels_draw(int64_t x1, int64_t y1, int64_t x2, int64_t y2, uint32_t colour);
// A line between logical points with a line style (low 16 bits; the top bit is the first pixel).
void line_styled_draw(float x1, float y1, float x2, float y2, uint32_t colour, uint32_t style);

// Flags of line_draw.
enum : uint32_t {
    line_first_point = 0x1,      // (x1, y1) given, else the graphics cursor
    line_second_relative = 0x2,  // the cursor (then the first point) is added to (x2, y2)
    line_first_relative = 0x4,   // the cursor is added to (x1, y1)
    line_colour_given = 0x8,
    line_style_given = 0x10,
};
enum : int32_t { line_kind_line = 0, line_kind_box = 1, line_kind_filled_box = 2 };

// The line statement: kind 0 line, 1 box outline, 2 filled box; the graphics cursor ends on the
// second point. Error 5 on a text image.
void line_draw(float x1, float y1, float x2, float y2, uint32_t colour, int32_t kind, uint32_t style, uint32_t flags);

// The raw pixel of the source image (palette images: ANDed with the colour mask). The caller passes
// a pixel inside the image.
uint32_t source_pixel_read(int32_t x, int32_t y);
// point non-zero: the colour at the logical point (a, b) of the source image, -1 outside its clip
// box; point 0: form a of the graphics cursor (0, 1 pixels relative to the view; 2, 3 logical).
double pixel_query(float a, float b, int32_t point);

// Flags of pixel_set and pixel_reset: 1 relative point, 2 colour given.
void pixel_set(float x, float y, uint32_t colour, uint32_t flags);
// Without a colour: the background colour.
void pixel_reset(float x, float y, uint32_t colour, uint32_t flags);
