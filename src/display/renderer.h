// The OpenGL renderer (main thread only): takes the newest ready frame slot, fits the window to it,
// computes the viewport (1:1, stretched, letterboxed or full screen), draws the display layers in
// their order (the software screen as a texture, the two screen hardware layers by playing the
// render queue) and swaps. All GL state goes through cached setters and one vertex batch. The
// viewport arithmetic and the window-fitting decision are plain functions, usable without a window.
// It does not build frames (the frame builder does) nor keep images or the render queue (the
// hardware images do).
#pragma once

#include <atomic>
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

// The viewport last computed by the renderer; any thread (a copy taken under a lock).
viewport_record viewport_get();
// Main thread: recomputes the viewport from the shown frame, the window and the display settings.
void viewport_compute();

// Window fitting: what the renderer remembers between calls, and its decision for one frame.
struct window_fit_state {
    int32_t last_frame_width = 640;
    int32_t last_frame_height = 400;
    float window_aspect_requested = 1.6f;
};
struct window_fit_input {
    int32_t frame_width, frame_height;
    int32_t window_width, window_height;      // current client size
    int32_t previous_width, previous_height;  // client size before the last resize
    int32_t stretch_mode;
    int32_t resize_locked;
};
struct window_size_request {
    bool resize = false;
    int32_t width = 0;
    int32_t height = 0;
};
window_size_request window_fit(window_fit_state& state, const window_fit_input& in);

// The number of the frame the renderer last showed (read by tests and waits).
extern std::atomic<int64_t> frame_number_shown;

// Start-up: every cached GL state back to "not yet set".
void renderer_state_reset();

// freeglut callbacks.
void glut_display_callback();
void glut_frame_timer_callback(int value);
// A redisplay every interval ms, re-armed each time; nothing in the runtime registers it.
void redisplay_timer(int interval);

// Cached GL state setters (main thread); each flushes the batch before it changes anything.
void gl_filter_set(int32_t min_filter, int32_t mag_filter);
void gl_wrap_set(int32_t mode);
void gl_blend_set(int32_t on);
void gl_depth_mode_set(int32_t mode);
void gl_cull_set(int32_t mode);
void gl_projection_set(int32_t kind);
void gl_texture_bind(int32_t id);
void gl_render_target_set(int32_t target);
// A hardware image is being deleted: caches naming it forget it.
void gl_caches_forget_image(int32_t id);
void vertex_batch_flush();

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
