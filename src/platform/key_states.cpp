#include "platform/key_states.h"

#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <X11/keysym.h>

#include <mutex>

namespace {

struct key_state_connection {
    std::once_flag opened;
    Display* display = nullptr;
    int xkb_event = 0;
    unsigned num_lock_mask = 0;
    unsigned locked_mods = 0;  // as the last state event told
};
key_state_connection connection;

// The connection, told of every change of the locked modifiers, with the state it starts from.
Display* key_state_display() {
    std::call_once(connection.opened, [] {
        Display* d = XOpenDisplay(nullptr);
        if (!d) return;
        int opcode = 0, error = 0, major = XkbMajorVersion, minor = XkbMinorVersion;
        if (XkbQueryExtension(d, &opcode, &connection.xkb_event, &error, &major, &minor))
            XkbSelectEventDetails(d, XkbUseCoreKbd, XkbStateNotify, XkbModifierLockMask, XkbModifierLockMask);
        connection.num_lock_mask = XkbKeysymToModifiers(d, XK_Num_Lock);
        XkbStateRec state;
        if (XkbGetState(d, XkbUseCoreKbd, &state) == Success) connection.locked_mods = state.locked_mods;
        connection.display = d;
    });
    return connection.display;
}

bool key_physically_down(Display* d, const char (&keys)[32], KeySym sym) {
    KeyCode k = XKeysymToKeycode(d, sym);
    return k != 0 && (keys[k / 8] & (1 << (k % 8))) != 0;
}

}  // namespace

platform_key_states platform_lock_states_read() {
    platform_key_states s{};
    Display* d = key_state_display();
    if (!d) return s;
    // Only the events that came: no round trip to the server while nothing changes.
    while (XPending(d)) {
        XEvent event;
        XNextEvent(d, &event);
        auto* xkb = reinterpret_cast<XkbEvent*>(&event);
        if (event.type == connection.xkb_event && xkb->any.xkb_type == XkbStateNotify)
            connection.locked_mods = static_cast<unsigned>(xkb->state.locked_mods);
    }
    s.caps_lock = (connection.locked_mods & LockMask) != 0;
    s.num_lock = connection.num_lock_mask != 0 && (connection.locked_mods & connection.num_lock_mask) != 0;
    return s;
}

platform_key_states platform_key_states_read() {
    platform_key_states s = platform_lock_states_read();
    Display* d = connection.display;
    if (!d) return s;
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
