#include "display/window_hooks.h"

#include <GL/freeglut.h>

#include <atomic>

#include "core/shutdown.h"
#include "display/display_control.h"
#include "display/key_events.h"
#include "display/keyboard.h"
#include "display/mouse.h"
#include "display/renderer.h"
#include "platform/x11_raw_motion.h"
#include "platform/x11_window.h"

namespace {

constexpr int32_t code_pause = 100019;
constexpr int32_t code_break = 100318;

std::atomic<keyboard_device_handler> device_handler{nullptr};

// Each key callback comes after the raw key that caused it (and the raw keys before it), also when
// one read from the display brought a burst of keys.
template <typename Key, void (*forward)(Key, int, int)>
void after_raw_keys(Key key, int x, int y) {
    platform::x11_window_events_drain();
    forward(key, x, y);
}

// Pointer motion registers for raw input, as the first mouse-move message does on a PC window
// system (freeglut may take its pointer events through XInput2, which the core motion hook misses).
template <void (*forward)(int, int)>
void after_raw_motion_opened(int x, int y) {
    platform::x11_raw_motion_open();
    forward(x, y);
}

}  // namespace

int32_t window_proc_key_hook(void*, uint32_t message, uint64_t, int64_t lparam, int32_t& status) {
    if (status != window_hook_status_before) return 0;
    if (message != platform::wm_keydown && message != platform::wm_keyup) return 0;
    auto button = static_cast<int32_t>((lparam >> 16) & 0x1FF);
    if (auto handler = device_handler.load()) handler(button, message == platform::wm_keydown ? 1 : 0);
    return 0;
}

int32_t window_proc_event_hook(int32_t kind, int32_t a, int32_t b) {
    switch (kind) {
        case window_event_close: close_request_bits.fetch_or(1); return 0;
        case window_event_key:
            if (a != code_pause && a != code_break) return -1;
            if (b >= 1)
                key_down_code(a);
            else
                key_up_code(a);
            return 0;
        case window_event_motion: mouse_raw_motion(a, b); return 0;
        default: return -1;
    }
}

void window_keyboard_device_handler_set(keyboard_device_handler handler) { device_handler.store(handler); }

void window_raw_key(bool press, uint32_t keycode, uint32_t modifier_state) {
    platform::key_message m = platform::x11_key_message(press, keycode, modifier_state);
    if (m.scan == 0) return;  // a key the PC keyboard does not have
    int32_t status = window_hook_status_before;
    window_proc_key_hook(nullptr, m.message, m.virtual_key, m.lparam, status);
    keyboard_raw_key(static_cast<int32_t>(m.scan), press ? 1 : 0);
    if (m.virtual_key == platform::vk_pause || m.virtual_key == platform::vk_cancel)
        window_proc_event_hook(window_event_key, m.virtual_key == platform::vk_pause ? code_pause : code_break,
                               press ? 1 : -1);
    status = window_hook_status_after;
    window_proc_key_hook(nullptr, m.message, m.virtual_key, m.lparam, status);
}

void glut_callbacks_register() {
    glutDisplayFunc(glut_display_callback);
    frame_timer_arm(8);
    glutKeyboardFunc(after_raw_keys<unsigned char, glut_keyboard_down_callback>);
    glutKeyboardUpFunc(after_raw_keys<unsigned char, glut_keyboard_up_callback>);
    glutSpecialFunc(after_raw_keys<int, glut_special_down_callback>);
    glutSpecialUpFunc(after_raw_keys<int, glut_special_up_callback>);
    glutMouseFunc(glut_mouse_callback);
    glutMotionFunc(after_raw_motion_opened<mouse_motion_event>);
    glutPassiveMotionFunc(after_raw_motion_opened<glut_passive_motion_callback>);
    glutReshapeFunc(glut_reshape_callback);
    glutMouseWheelFunc(glut_mouse_wheel_callback);
}
