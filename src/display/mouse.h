// The mouse: its event ring and the window's mouse callbacks. Only the entry points are here; the
// mouse module fills them, and until then the window's mouse events are dropped.
#pragma once

#include <cstdint>

// Start-up: the first ring entry with buttons 0 and movement 0.
void mouse_ring_init();

// freeglut's mouse callbacks (main thread), registered by the window.
void glut_mouse_callback(int button, int state, int x, int y);
void mouse_motion_event(int x, int y);
void glut_passive_motion_callback(int x, int y);
void glut_mouse_wheel_callback(int wheel, int direction, int x, int y);
// Relative movement of the mouse from the window layer's raw input (main thread).
void mouse_raw_motion(int32_t dx, int32_t dy);
