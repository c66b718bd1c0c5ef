#include "platform/key_states.h"

#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <X11/keysym.h>

#include <mutex>

namespace {

struct key_state_connection {
    std::once_flag opened;
    Display* display = nullptr;
};
key_state_connection connection;

Display* key_state_display() {
    std::call_once(connection.opened, [] { connection.display = XOpenDisplay(nullptr); });
    return connection.display;
}

bool key_physically_down(Display* d, const char (&keys)[32], KeySym sym) {
    KeyCode k = XKeysymToKeycode(d, sym);
    return k != 0 && (keys[k / 8] & (1 << (k % 8))) != 0;
}

}  // namespace

platform_key_states platform_key_states_read() {
    platform_key_states s{};
    Display* d = key_state_display();
    if (!d) return s;
    XkbStateRec state;
    if (XkbGetState(d, XkbUseCoreKbd, &state) == Success) {
        s.caps_lock = (state.locked_mods & LockMask) != 0;
        unsigned num_mask = XkbKeysymToModifiers(d, XK_Num_Lock);
        s.num_lock = num_mask != 0 && (state.locked_mods & num_mask) != 0;
    }
    char keys[32];
    XQueryKeymap(d, keys);
    s.left_shift = key_physically_down(d, keys, XK_Shift_L);
    s.right_shift = key_physically_down(d, keys, XK_Shift_R);
    s.left_ctrl = key_physically_down(d, keys, XK_Control_L);
    s.right_ctrl = key_physically_down(d, keys, XK_Control_R);
    s.left_alt = key_physically_down(d, keys, XK_Alt_L);
    s.right_alt = key_physically_down(d, keys, XK_Alt_R);
    s.scroll_lock_key = key_physically_down(d, keys, XK_Scroll_Lock);
    return s;
}
