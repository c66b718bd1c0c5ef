// The window-procedure hooks: what the window layer reports beyond freeglut's callbacks. The key
// hook runs before (status 1) and after (status 2) every key message, with the scan word of the
// key, and feeds the keyboard device; the event hook takes close requests, the Pause and Break
// keys and relative mouse movement. The messages keep the values of a PC window system, so the
// hooks do not depend on the window layer behind them. Main thread only. Also here: registering
// the runtime's freeglut callbacks. X key codes are translated by the X11 layer, not here.
#pragma once

#include <cstdint>

// The window manager's close message (kind 1 of the event hook).
constexpr uint32_t wm_close = 0x0010;

enum : int32_t {
    window_event_close = 1,
    window_event_key = 2,     // a = 100019 (Pause) or 100318 (Break), b >= 1 press, below 1 release
    window_event_motion = 3,  // a, b relative movement
};
constexpr int32_t window_hook_status_before = 1;
constexpr int32_t window_hook_status_after = 2;

// Always 0; never sets the status to 3 (the window layer goes on with its own handling).
int32_t window_proc_key_hook(void* window, uint32_t message, uint64_t wparam, int64_t lparam, int32_t& status);
// 0 when acted on, -1 for another kind or key.
int32_t window_proc_event_hook(int32_t kind, int32_t a, int32_t b);

// Where key-down and key-up messages go: the keyboard device's button (scan word, + 256 for an
// extended key) and 1 press or 0 release. The input devices install theirs when they register the
// keyboard; until then the messages reach no device. The device adds nothing for a press of a
// key it holds already, so auto-repeat adds nothing.
using keyboard_device_handler = void (*)(int32_t button, int32_t down);
void window_keyboard_device_handler_set(keyboard_device_handler handler);

// The window layer's raw key (X key code and modifier state): the key hook before and after, the
// keyboard's raw key, and the event hook for Pause and Break.
void window_raw_key(bool press, uint32_t keycode, uint32_t modifier_state);

// Registers the display, frame timer, keyboard, special-key, mouse, motion, passive-motion,
// reshape and wheel callbacks, in that order.
void glut_callbacks_register();
