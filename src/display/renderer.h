// The renderer (main thread only): which frame to show (the newest ready slot), fitting the window
// to it, which layers to draw in which order (the software screen as a texture, the two screen
// hardware layers by playing the render queue), when to swap; the toolkit's display and timer
// callbacks. It does not build frames (frames.h), compute geometry (viewport.h, window_fit.h), set
// the graphics library's state (gl_state.h) nor draw (gl_draw.h).
#pragma once

#include <atomic>
#include <cstdint>

// The number of the frame the renderer last showed (read by tests and waits).
extern std::atomic<int64_t> frame_number_shown;

// Start-up: the renderer, its cached graphics state and the viewport back to their start.
void renderer_state_reset();

// freeglut callbacks.
void glut_display_callback();
// The frame timer: asks for a redisplay and sets when it is due again, 1000 / display_fps ms on.
// The main loop runs it when due and sleeps until then.
void glut_frame_timer_callback(int value);
void frame_timer_arm(int64_t after_ms);
// clock_ms at which the frame timer is due.
int64_t frame_timer_due_ms();
// Main thread: whether a redisplay could draw something (a frame built since the last drawing, a
// reshape, a full-screen request, a changed setting); the main loop sleeps past the frame timer
// while it has nothing to draw.
bool renderer_has_work();
// A redisplay every interval ms, re-armed each time; nothing in the runtime registers it.
void redisplay_timer(int interval);
