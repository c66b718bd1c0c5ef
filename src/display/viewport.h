// Where the picture lies in the window: the viewport for a frame and a window (1:1, stretched,
// letterboxed or full screen), picture-to-window mapping and the letterbox bars. Plain arithmetic
// for any thread, with no graphics-library header. Not here: drawing (gl_draw.h), fitting the window
// to the picture (window_fit.h).
#pragma once

#include <cstdint>

// Where the shown picture lies in the window: the `viewport` record.
struct viewport_record {
    int32_t frame_width = 640;
    int32_t frame_height = 400;
    int32_t window_width = 640;
    int32_t window_height = 400;
    int32_t x1 = 0, y1 = 0, x2 = 639, y2 = 399;  // inclusive window rectangle of the picture
    float scale_x = 1.0f;
    float scale_y = 1.0f;
    int32_t width = 640;
    int32_t height = 400;
    int32_t smooth = 0;
    int32_t letterbox = 0;  // 0 none, 1 bars left and right, 2 bars top and bottom
};

// An inclusive rectangle of window pixels.
struct window_rect {
    int32_t left = 0, top = 0, right = -1, bottom = -1;
};

// A program's coordinate as a pixel: truncated, held within +-2^29 so that the pixel arithmetic
// after it cannot overflow, NaN taken as 0.
int32_t pixel_of(float v);
// The same rounded to nearest, ties to even.
int32_t pixel_rounded(float v);

// The viewport for a frame in a window, as full screen and stretching say. False when a size is 0
// or less (a minimised window): the caller keeps its last viewport.
bool viewport_of(int32_t frame_width, int32_t frame_height, int32_t window_width, int32_t window_height,
                 int32_t fullscreen_mode, int32_t fullscreen_smooth, int32_t stretch_mode, viewport_record& out);
// Window coordinate of a picture coordinate, and of the far edge of picture pixel x.
int32_t viewport_map_x(const viewport_record& v, float x);
int32_t viewport_map_y(const viewport_record& v, float y);
int32_t viewport_map_x_edge(const viewport_record& v, float x);
int32_t viewport_map_y_edge(const viewport_record& v, float y);
window_rect viewport_map_rect(const viewport_record& v, float x1, float y1, float x2, float y2);
// The letterbox bars: the window outside the picture on the barred sides (0, 1 or 2 of them).
int letterbox_bars(const viewport_record& v, window_rect bars[2]);

// The viewport the renderer uses now; any thread (a copy taken under a lock).
viewport_record viewport_get();
// The renderer's new viewport (main thread).
void viewport_publish(const viewport_record& v);
// Start-up: the 640 x 400 viewport.
void viewport_reset();
