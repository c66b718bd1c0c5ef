#include "platform/x11_synth.h"

#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <X11/keysym.h>
#include <X11/extensions/XTest.h>

#include <mutex>

namespace platform {
namespace {

struct synth_connection {
    std::once_flag opened;
    Display* display = nullptr;
    bool xtest = false;
};
synth_connection connection;

Display* display_get() {
    std::call_once(connection.opened, [] {
        connection.display = XOpenDisplay(nullptr);
        int event = 0, error = 0, major = 0, minor = 0;
        connection.xtest =
            connection.display && XTestQueryExtension(connection.display, &event, &error, &major, &minor);
    });
    return connection.xtest ? connection.display : nullptr;
}

KeySym keysym_of(synth_key key) {
    switch (key) {
        case synth_key::tab: return XK_Tab;
        case synth_key::backspace: return XK_BackSpace;
        case synth_key::enter: return XK_Return;
        case synth_key::control: return XK_Control_L;
        case synth_key::shift: return XK_Shift_L;
        case synth_key::left: return XK_Left;
        case synth_key::right: return XK_Right;
        case synth_key::up: return XK_Up;
        case synth_key::down: return XK_Down;
        case synth_key::insert: return XK_Insert;
        case synth_key::home: return XK_Home;
        case synth_key::del: return XK_Delete;
        case synth_key::end: return XK_End;
        case synth_key::page_down: return XK_Next;
        case synth_key::page_up: return XK_Prior;
    }
    return NoSymbol;
}

// Printable ASCII characters are their own keysyms.
KeySym keysym_of_char(uint8_t c) { return c >= 0x20 && c <= 0x7E ? KeySym(c) : NoSymbol; }

void key_send(Display* d, KeySym sym, bool press) {
    KeyCode code = sym == NoSymbol ? 0 : XKeysymToKeycode(d, sym);
    if (!code) return;
    XTestFakeKeyEvent(d, code, press ? True : False, CurrentTime);
    XFlush(d);
}

}  // namespace

void x11_synth_pointer_move(int32_t x, int32_t y) {
    Display* d = display_get();
    if (!d) return;
    XTestFakeMotionEvent(d, -1, x, y, CurrentTime);
    XFlush(d);
}

void x11_synth_left_button(bool press) {
    Display* d = display_get();
    if (!d) return;
    XTestFakeButtonEvent(d, Button1, press ? True : False, CurrentTime);
    XFlush(d);
}

void x11_synth_key(synth_key key, bool press) {
    if (Display* d = display_get()) key_send(d, keysym_of(key), press);
}

synth_char_key x11_synth_char_key(uint8_t c) {
    Display* d = display_get();
    KeySym sym = keysym_of_char(c);
    if (!d || sym == NoSymbol) return {};
    KeyCode code = XKeysymToKeycode(d, sym);
    if (!code) return {};
    if (XkbKeycodeToKeysym(d, code, 0, 0) == sym) return {true, false};
    if (XkbKeycodeToKeysym(d, code, 0, 1) == sym) return {true, true};
    return {};
}

void x11_synth_char(uint8_t c, bool press) {
    if (Display* d = display_get()) key_send(d, keysym_of_char(c), press);
}

}  // namespace platform
