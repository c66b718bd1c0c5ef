#include "display/mouse.h"

// The ring, the callbacks and the raw movement records come with the mouse; until then the
// window's mouse events are dropped.
void mouse_ring_init() {}
void glut_mouse_callback(int, int, int, int) {}
void mouse_motion_event(int, int) {}
void glut_passive_motion_callback(int, int) {}
void glut_mouse_wheel_callback(int, int, int, int) {}
void mouse_raw_motion(int32_t, int32_t) {}
