// Drawing through the graphics library (main thread only): textured rectangles and triangles in 2-D
// and 3-D into the window or a hardware image, depth clears, clearing the window, and playing the
// render queue's commands of one layer. Coordinates aimed at the window are picture coordinates,
// mapped through the screen viewport. Not here: the cached state (gl_state.h), which frame and
// which layers (renderer.h).
#pragma once

#include <cstdint>

#include "display/viewport.h"

struct render_queue_walk;

void draw_textured_rect(int32_t dx1, int32_t dy1, int32_t dx2, int32_t dy2, int32_t source, int32_t destination,
                        int32_t sx1, int32_t sy1, int32_t sx2, int32_t sy2, int32_t blend, int32_t smooth);
void draw_textured_triangle_2d(float dx1, float dy1, float dx2, float dy2, float dx3, float dy3, int32_t source,
                               int32_t destination, float sx1, float sy1, float sx2, float sy2, float sx3, float sy3,
                               int32_t blend, int32_t filter);
void draw_textured_triangle_3d(float dx1, float dy1, float dz1, float dx2, float dy2, float dz2, float dx3, float dy3,
                               float dz3, int32_t source, int32_t destination, float sx1, float sy1, float sx2,
                               float sy2, float sx3, float sy3, int32_t blend, int32_t filter, int32_t cull,
                               int32_t depth_mode);
void depth_buffer_clear(int32_t target);

// A rectangle of window pixels filled from pixel (0, 0) of source, unblended.
void draw_window_rect(const window_rect& rect, int32_t source);
// The window black, its depth buffer cleared.
void window_clear();
// Plays the queue's commands for one layer (render_no_layer: only those aimed at images, and
// frees); true when any of them drew into the window.
bool render_layer_play(render_queue_walk& walk, int32_t layer);
