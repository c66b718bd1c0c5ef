#include "platform/x11_window.h"

#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <string>

#include "platform/x11_raw_motion.h"

// Xlib's event-conversion hooks; that header defines min and max as macros.
#include <X11/Xlibint.h>
#undef min
#undef max

namespace platform {
namespace {

using wire_converter = Bool (*)(Display*, XEvent*, xEvent*);

enum class event_kind : uint8_t { key_press, key_release, close, expose, motion };

struct recorded_event {
    event_kind kind;
    uint32_t keycode;
    uint32_t state;
};

struct x11_window_state {
    Display* display = nullptr;
    Window window = 0;
    Atom wm_protocols = 0;
    Atom wm_delete_window = 0;
    x11_window_handlers handlers{};
    wire_converter old_key_press = nullptr;
    wire_converter old_key_release = nullptr;
    wire_converter old_client_message = nullptr;
    wire_converter old_expose = nullptr;
    wire_converter old_motion = nullptr;
    bool motion_seen = false;
    bool focus_taken = false;
    // Recorded inside Xlib (the display is locked there, so nothing else may run), drained after.
    static constexpr int ring_size = 1024;
    recorded_event ring[ring_size];
    int ring_read = 0;
    int ring_write = 0;
    int ring_keys = 0;  // key events among the recorded ones
};
x11_window_state xs;

bool is_key(event_kind kind) { return kind == event_kind::key_press || kind == event_kind::key_release; }

void record(event_kind kind, uint32_t keycode = 0, uint32_t state = 0) {
    int next = (xs.ring_write + 1) % x11_window_state::ring_size;
    if (next == xs.ring_read) return;  // full: the newest is lost, the order of the rest kept
    xs.ring[xs.ring_write] = {kind, keycode, state};
    xs.ring_write = next;
    if (is_key(kind)) ++xs.ring_keys;
}

Bool key_wire(Display* d, XEvent* event, xEvent* wire) {
    bool press = (wire->u.u.type & 0x7f) == KeyPress;
    Bool keep = (press ? xs.old_key_press : xs.old_key_release)(d, event, wire);
    if (keep && event->xkey.window == xs.window)
        record(press ? event_kind::key_press : event_kind::key_release, event->xkey.keycode, event->xkey.state);
    return keep;
}

Bool client_message_wire(Display* d, XEvent* event, xEvent* wire) {
    Bool keep = xs.old_client_message(d, event, wire);
    const XClientMessageEvent& m = event->xclient;
    if (keep && m.window == xs.window && m.message_type == xs.wm_protocols && m.format == 32 &&
        static_cast<Atom>(m.data.l[0]) == xs.wm_delete_window) {
        record(event_kind::close);
        return False;  // dropped: freeglut never sees it, so the window is not destroyed
    }
    return keep;
}

Bool expose_wire(Display* d, XEvent* event, xEvent* wire) {
    Bool keep = xs.old_expose(d, event, wire);
    if (keep && event->xexpose.window == xs.window && event->xexpose.count == 0) record(event_kind::expose);
    return keep;
}

Bool motion_wire(Display* d, XEvent* event, xEvent* wire) {
    Bool keep = xs.old_motion(d, event, wire);
    if (keep && !xs.motion_seen && event->xmotion.window == xs.window) {
        xs.motion_seen = true;
        record(event_kind::motion);
    }
    return keep;
}

// Linux input codes 96-127 that a PC keyboard sends as extended keys, by code - 96; 0 for none.
constexpr uint16_t extended_scan[32] = {
    0x11C, 0x11D, 0x135, 0x137, 0x138, 0,     0x147, 0x148,  // KP Enter, R Ctrl, KP /, SysRq, R Alt, -, Home, Up
    0x149, 0x14B, 0x14D, 0x14F, 0x150, 0x151, 0x152, 0x153,  // PgUp, Left, Right, End, Down, PgDn, Ins, Del
    0,     0,     0,     0,     0,     0,     0,     0,      // 112-119 (Pause is handled on its own)
    0,     0,     0,     0,     0,     0x15B, 0x15C, 0x15D,  // 120-124, L Win, R Win, Menu
};

constexpr uint32_t linux_pause = 119;
constexpr uint32_t linux_num_lock = 69;
constexpr uint32_t linux_left_alt = 56;
constexpr uint32_t linux_right_alt = 100;
constexpr uint32_t linux_f10 = 68;

}  // namespace

uint32_t x11_scan_word(uint32_t keycode, bool control) {
    if (keycode < 8) return 0;
    uint32_t code = keycode - 8;
    if (code == linux_pause) return control ? 0x146 : 0x45;
    if (code == linux_num_lock) return 0x145;  // as the PC keyboard reports it: extended
    if (code >= 1 && code <= 88) return code;
    if (code >= 96 && code < 128) return extended_scan[code - 96];
    return 0;
}

key_message x11_key_message(bool press, uint32_t keycode, uint32_t modifier_state) {
    bool control = (modifier_state & ControlMask) != 0;
    bool alt = (modifier_state & Mod1Mask) != 0;
    key_message m{};
    m.scan = x11_scan_word(keycode, control);
    uint32_t code = keycode >= 8 ? keycode - 8 : 0;
    if (code == linux_pause) m.virtual_key = control ? vk_cancel : vk_pause;
    bool system = alt || code == linux_left_alt || code == linux_right_alt || code == linux_f10;
    m.message = press ? (system ? wm_syskeydown : wm_keydown) : wm_keyup;
    m.lparam = 1 | (static_cast<int64_t>(m.scan & 0xFF) << 16) | (static_cast<int64_t>((m.scan >> 8) & 1) << 24);
    if (!press) m.lparam |= (int64_t{1} << 30) | (int64_t{1} << 31);
    return m;
}

void x11_window_hooks_install(void* display, unsigned long window, const x11_window_handlers& handlers) {
    auto* d = static_cast<Display*>(display);
    xs.display = d;
    xs.window = window;
    xs.handlers = handlers;
    xs.wm_protocols = XInternAtom(d, "WM_PROTOCOLS", False);
    xs.wm_delete_window = XInternAtom(d, "WM_DELETE_WINDOW", False);
    Bool supported = False;
    XkbSetDetectableAutoRepeat(d, True, &supported);
    // XESetWireToEvent takes the display's lock itself; no extra lock around it.
    xs.old_key_press = XESetWireToEvent(d, KeyPress, key_wire);
    xs.old_key_release = XESetWireToEvent(d, KeyRelease, key_wire);
    xs.old_client_message = XESetWireToEvent(d, ClientMessage, client_message_wire);
    xs.old_expose = XESetWireToEvent(d, Expose, expose_wire);
    xs.old_motion = XESetWireToEvent(d, MotionNotify, motion_wire);
}

namespace {

// Key events of the window that Xlib still holds in its queue: recorded, not yet dispatched.
int queued_key_events() {
    int count = 0;
    LockDisplay(xs.display);
    for (_XQEvent* q = xs.display->head; q; q = q->next) {
        const XEvent& e = q->event;
        if ((e.type == KeyPress || e.type == KeyRelease) && e.xkey.window == xs.window) ++count;
    }
    UnlockDisplay(xs.display);
    return count;
}

void dispatch(const recorded_event& e) {
    switch (e.kind) {
        case event_kind::key_press:
        case event_kind::key_release:
            if (xs.handlers.key) xs.handlers.key(e.kind == event_kind::key_press, e.keycode, e.state);
            break;
        case event_kind::close:
            if (xs.handlers.close) xs.handlers.close();
            break;
        case event_kind::expose:
            if (xs.handlers.expose) xs.handlers.expose();
            break;
        case event_kind::motion:
            if (xs.handlers.first_motion) xs.handlers.first_motion();
            break;
    }
}

}  // namespace

// One read of the connection converts (and records) a whole burst before freeglut dispatches the
// first of it: a key's raw event is handed on only once freeglut has taken the key from the queue,
// so each callback comes right after the raw key that caused it.
void x11_window_events_drain() {
    if (!xs.display) return;
    int still_queued = queued_key_events();
    while (xs.ring_read != xs.ring_write) {
        recorded_event e = xs.ring[xs.ring_read];
        if (is_key(e.kind)) {
            if (xs.ring_keys <= still_queued) return;
            --xs.ring_keys;
        }
        xs.ring_read = (xs.ring_read + 1) % x11_window_state::ring_size;
        dispatch(e);
    }
}

namespace {

// The window manager's size hints: fixed at width x height when fixed, else none.
void size_hints_set(bool fixed, int32_t width, int32_t height) {
    if (!xs.display) return;
    XSizeHints* hints = XAllocSizeHints();
    if (!hints) return;
    hints->flags = fixed ? PMinSize | PMaxSize : 0;
    if (fixed) {
        hints->min_width = hints->max_width = width;
        hints->min_height = hints->max_height = height;
    }
    XSetWMNormalHints(xs.display, xs.window, hints);
    XFree(hints);
}

}  // namespace

void x11_window_size_fix(int32_t width, int32_t height) { size_hints_set(true, width, height); }

void x11_window_size_free() { size_hints_set(false, 0, 0); }

void x11_window_focus_take_once() {
    if (xs.focus_taken || !xs.display) return;
    xs.focus_taken = true;
    Display* d = xs.display;
    std::string selection = "WM_S" + std::to_string(DefaultScreen(d));
    if (XGetSelectionOwner(d, XInternAtom(d, selection.c_str(), False)) != None) return;
    XWindowAttributes attributes;
    if (!XGetWindowAttributes(d, xs.window, &attributes) || attributes.map_state != IsViewable) {
        xs.focus_taken = false;  // not shown yet: the next time it is
        return;
    }
    XSetInputFocus(d, xs.window, RevertToParent, CurrentTime);
    XFlush(d);
}

int x11_window_connection_fd() { return xs.display ? ConnectionNumber(xs.display) : -1; }

bool x11_window_events_queued() {
    bool queued = xs.display && XEventsQueued(xs.display, QueuedAfterFlush) > 0;
    return queued || x11_raw_motion_queued();
}

}  // namespace platform
