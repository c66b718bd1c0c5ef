// Views and windows: how the logical coordinates (32-bit floats) of the graphics statements become
// pixels of an image. Each image keeps its own clip box and origin (the view) and its own scale and
// offset (the window); this module sets them and maps points through them for every drawing
// statement. It draws nothing itself except the view's fill and border.
#pragma once

#include <cstdint>

struct image_record;

// flags: 1 = coordinates given, 2 = screen order (y grows downwards).
void graphics_window_set(float x1, float y1, float x2, float y2, int32_t flags);
// flags: 1 = coordinates given, 2 = screen-relative (origin stays at (0, 0)), 4 = fill colour given,
// 8 = border colour given.
void graphics_view_set(int32_t x1, int32_t y1, int32_t x2, int32_t y2, uint32_t fill_color, uint32_t border_color,
                       int32_t flags);
// kind 0: logical x -> pixel x, 1: logical y -> pixel y, 2: pixel x -> logical, 3: pixel y -> logical.
float coord_map(float value, int32_t kind);

// The pixel of a logical coordinate by the image's coord_mode, rounded to nearest, ties to even.
// A coordinate too large for 32 bits (or NaN) rounds to INT32_MIN like the processor does; the
// result is 64-bit so that adding the view origin never overflows.
int64_t image_map_x(const image_record* r, float x);
int64_t image_map_y(const image_record* r, float y);

// An inclusive pixel rectangle.
struct pixel_box {
    int64_t x1, y1, x2, y2;
    bool empty() const { return x1 > x2 || y1 > y2; }
    bool contains(int64_t x, int64_t y) const { return x >= x1 && x <= x2 && y >= y1 && y <= y2; }
};
// The image's clip box cut to its pixels: empty when nothing of it lies inside the image.
pixel_box image_clip_box(const image_record* r);

struct logical_point {
    float x, y;
};
// A point of a drawing statement: relative (STEP) points are added to the graphics cursor.
logical_point image_point(const image_record* r, float x, float y, bool relative);
