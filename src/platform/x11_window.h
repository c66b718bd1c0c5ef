// The X11 side of the program window. freeglut on X11 reports no scan codes, no Pause or Break and
// destroys the window on a close; this layer hooks Xlib's event conversion on freeglut's own
// connection to see every raw key press and release, to take the window manager's close message
// (the window then stays), to notice exposures and the first pointer motion. The hooks only record:
// the events are handed on by x11_window_events_drain, outside Xlib, in the order they came.
// Also here: detectable auto-repeat (a held key repeats presses only), a fixed-size frame for a
// window that may not be resized, and the translation of X key codes into the scan words of a PC
// keyboard. It neither makes nor draws the window (freeglut does), nor reads raw pointer motion
// (x11_raw_motion.h). Main thread only.
#pragma once

#include <cstdint>

namespace platform {

struct x11_window_handlers {
    void (*key)(bool press, uint32_t keycode, uint32_t modifier_state);
    void (*close)();
    void (*expose)();
    void (*first_motion)();
};

// After the window exists: hooks the connection (an Xlib Display*) for the window.
void x11_window_hooks_install(void* display, unsigned long window, const x11_window_handlers& handlers);
// Hands the recorded events to the handlers, in order, up to the last key event that Xlib's queue
// no longer holds (freeglut has taken it): called before a key callback, the last key handed on is
// the one that caused it.
void x11_window_events_drain();

// Keeps the window at this size (no sizing frame) or lets the user size it again.
void x11_window_size_fix(int32_t width, int32_t height);
void x11_window_size_free();

// Without a window manager nobody gives the window the keyboard focus, and keys would go wherever
// the pointer is: the first time the window is shown it takes the focus itself.
void x11_window_focus_take_once();

// The socket of the window's connection (-1 when not open), for waiting on events.
int x11_window_connection_fd();
// Sends what is buffered and tells whether events already wait in either connection's queue, which
// a wait on the sockets would not see.
bool x11_window_events_queued();

// A key as a PC keyboard's window message would carry it.
struct key_message {
    uint32_t message;  // WM_KEYDOWN, WM_KEYUP or WM_SYSKEYDOWN
    uint32_t virtual_key;  // VK_PAUSE or VK_CANCEL for the Pause key, else 0
    uint32_t scan;         // set-1 make code, + 0x100 for an extended key; 0 for a key without one
    int64_t lparam;        // repeat count 1, scan code in bits 16-23, extended bit 24, release bits
};

constexpr uint32_t wm_keydown = 0x0100;
constexpr uint32_t wm_keyup = 0x0101;
constexpr uint32_t wm_syskeydown = 0x0104;
constexpr uint32_t wm_syskeyup = 0x0105;
constexpr uint32_t vk_cancel = 0x03;
constexpr uint32_t vk_pause = 0x13;

// X key code (evdev: Linux input code + 8) to the scan word; Pause gives 0x45, or Break 0x146 with
// Ctrl. 0 for keys a PC keyboard does not have.
uint32_t x11_scan_word(uint32_t keycode, bool control);
// The message for a raw key. A press with Alt held (and Alt and F10 themselves) is a system key,
// which the keyboard device does not see; every release is a plain key-up, so a key pressed alone
// and released with Alt held does not stay down.
key_message x11_key_message(bool press, uint32_t keycode, uint32_t modifier_state);

}  // namespace platform
