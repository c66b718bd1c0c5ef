// The graphics library's state as the renderer last set it (main thread only): cached setters that
// change nothing when the state is already so, the render target and its projection, and the one
// vertex batch; every setter flushes the batch before it changes anything. The sole writer of the
// library's state besides texture uploads (hardware_textures.h). Not here: what is drawn (gl_draw.h).
#pragma once

#include <cstdint>

#include "display/viewport.h"

struct hardware_img;

enum : int32_t { projection_none = 0, projection_2d = 1, projection_3d = 2 };

// Start-up: every cached state back to "not yet set", the batch empty.
void gl_state_reset();

// The viewport of the screen target, used by its projections (the renderer's, once per frame).
void gl_screen_viewport_set(const viewport_record& v);
const viewport_record& gl_screen_viewport();

void gl_filter_set(int32_t min_filter, int32_t mag_filter);
void gl_wrap_set(int32_t mode);
void gl_blend_set(int32_t on);
void gl_depth_mode_set(int32_t mode);
void gl_cull_set(int32_t mode);
// projection_none forgets the projection, so the next set recomputes it (a new window size).
void gl_projection_set(int32_t kind);
// -1 forgets the binding.
void gl_texture_bind(int32_t id);
// 0 the window, an image id, -1 forgets the target.
void gl_render_target_set(int32_t target);
// The images bound as texture and as target, null for none or the window.
hardware_img* gl_texture_image();
hardware_img* gl_target_image();
// A hardware image is being deleted: caches naming it forget it.
void gl_caches_forget_image(int32_t id);
// Depth writes on (a clear needs them), the depth mode cache forgotten.
void gl_depth_writes_on();

// The vertex batch: triangles' vertices in target pixels with their texture coordinates.
void vertex_batch_add_2d(int32_t x, int32_t y, float s, float t);
void vertex_batch_add_3d(float x, float y, float z, float s, float t);
void vertex_batch_flush();
