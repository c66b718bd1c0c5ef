#include "platform/message_box.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/keysym.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

namespace platform {
namespace {

// Nothing on the path of a box without a handler allocates: the fatal out-of-memory error shows its
// box with the heap exhausted.
struct box_state {
    std::mutex lock;  // guards the handler and the script cursor, never held while a box is open
    message_box_handler handler;
    bool script_read = false;
    const char* script = nullptr;  // LUMO_MSGBOX when given: the words not yet used
};

box_state& state() {
    static box_state s;
    return s;
}

bool yes_no(uint32_t style) { return (style & mb_button_mask) == mb_yes_no; }

bool word_is(const char* word, size_t length, const char* name) {
    return std::strlen(name) == length && std::strncmp(word, name, length) == 0;
}

int answer_from_word(const char* word, size_t length, uint32_t style) {
    int answer = 0;
    if (word_is(word, length, "yes")) answer = id_yes;
    else if (word_is(word, length, "no")) answer = id_no;
    else if (word_is(word, length, "ok")) answer = id_ok;
    else if (word_is(word, length, "cancel")) answer = id_cancel;
    else {
        char number[16] = {};
        std::memcpy(number, word, std::min(length, sizeof number - 1));
        answer = std::atoi(number);
    }
    bool fits = yes_no(style) ? (answer == id_yes || answer == id_no) : answer == id_ok;
    return fits ? answer : message_box_safe_answer(style);
}

// The next scripted answer; false when no script was given. A script that ran out answers safely.
bool script_answer(box_state& s, uint32_t style, int& answer) {
    if (!s.script_read) {
        s.script_read = true;
        s.script = std::getenv("LUMO_MSGBOX");
    }
    if (!s.script) return false;
    answer = message_box_safe_answer(style);
    for (;;) {
        const char* word = s.script;
        size_t length = std::strcspn(word, ",");
        if (length == 0 && *word == 0) return true;
        s.script = word[length] ? word + length + 1 : word + length;
        if (length == 0 || word_is(word, length, "auto")) continue;
        answer = answer_from_word(word, length, style);
        return true;
    }
}

// Standard error, through a fixed buffer: one write per filled buffer.
class error_line_writer {
public:
    void text(const char* t) {
        while (*t) put(*t++);
    }
    void escaped(const char* t) {
        for (; *t; ++t) {
            if (*t == '\n') text("\\n");
            else if (*t == '"') text("\\\"");
            else put(*t);
        }
    }
    void number(long n, bool hex) {
        char digits[24];
        std::snprintf(digits, sizeof digits, hex ? "%lx" : "%ld", n);
        text(digits);
    }
    void flush() {
        size_t done = 0;
        while (done < used_) {
            ssize_t n = ::write(STDERR_FILENO, buffer_ + done, used_ - done);
            if (n <= 0) break;
            done += static_cast<size_t>(n);
        }
        used_ = 0;
    }

private:
    void put(char c) {
        if (used_ == sizeof buffer_) flush();
        buffer_[used_++] = c;
    }
    char buffer_[512];
    size_t used_ = 0;
};

void log_box(const char* text, const char* caption, uint32_t style, int answer) {
    std::fflush(stderr);  // what the process wrote before comes first
    error_line_writer out;
    out.text("msgbox style=0x");
    out.number(static_cast<long>(style), true);
    out.text(" caption=\"");
    out.escaped(caption);
    out.text("\" text=\"");
    out.escaped(text);
    out.text("\" answer=");
    out.number(answer, false);
    out.text("\n");
    out.flush();
}

// The interactive box: text lines above one or two buttons, answered by mouse, Enter, Y, N or Esc.
// Its lines point into the caller's text and its buttons are a fixed pair: it allocates nothing of
// its own (Xlib may, and gives up cleanly when it cannot).
class x11_dialog {
public:
    x11_dialog(const char* text, const char* caption, uint32_t style, bool (*cancelled)())
        : caption_(caption), style_(style), cancelled_(cancelled) {
        lines_split(text);
    }

    int run(Display* dpy) {
        dpy_ = dpy;
        font_ = XLoadQueryFont(dpy_, "fixed");
        if (!font_) return 0;
        layout();
        create_window();
        int answer = event_loop();
        XFreeFont(dpy_, font_);
        XDestroyWindow(dpy_, win_);
        return answer;
    }

private:
    struct line { const char* text; int length; };
    struct button { const char* label; int answer; int x; };

    void lines_split(const char* text) {
        line_count_ = 0;
        for (const char* at = text;;) {
            const char* end = std::strchr(at, '\n');
            int length = end ? static_cast<int>(end - at) : static_cast<int>(std::strlen(at));
            if (line_count_ == max_lines) break;
            if (length > 0 || end || line_count_ == 0) lines_[line_count_++] = {at, length};
            if (!end) break;
            at = end + 1;
        }
    }

    void layout() {
        line_height_ = font_->ascent + font_->descent + 2;
        int text_width = 0;
        for (int i = 0; i < line_count_; ++i)
            text_width = std::max(text_width, XTextWidth(font_, lines_[i].text, lines_[i].length));
        if (yes_no(style_)) {
            buttons_[0] = {"Yes", id_yes, 0};
            buttons_[1] = {"No", id_no, 0};
            button_count_ = 2;
        } else {
            buttons_[0] = {"OK", id_ok, 0};
            button_count_ = 1;
        }
        int buttons_width = button_count_ * (button_w + 12) - 12;
        width_ = std::max(text_width, buttons_width) + 40;
        height_ = line_count_ * line_height_ + 30 + button_h + 16;
        int x = (width_ - buttons_width) / 2;
        for (int i = 0; i < button_count_; ++i) {
            buttons_[i].x = x;
            x += button_w + 12;
        }
    }

    void create_window() {
        int screen = DefaultScreen(dpy_);
        int sx = (DisplayWidth(dpy_, screen) - width_) / 2, sy = (DisplayHeight(dpy_, screen) - height_) / 2;
        win_ = XCreateSimpleWindow(dpy_, RootWindow(dpy_, screen), sx, sy, width_, height_, 1,
                                   BlackPixel(dpy_, screen), WhitePixel(dpy_, screen));
        XStoreName(dpy_, win_, caption_);
        XSizeHints hints{};
        hints.flags = PMinSize | PMaxSize | PPosition;
        hints.min_width = hints.max_width = width_;
        hints.min_height = hints.max_height = height_;
        XSetWMNormalHints(dpy_, win_, &hints);
        delete_atom_ = XInternAtom(dpy_, "WM_DELETE_WINDOW", False);
        XSetWMProtocols(dpy_, win_, &delete_atom_, 1);
        if (style_ & mb_system_modal) {
            Atom wm_state = XInternAtom(dpy_, "_NET_WM_STATE", False);
            Atom above = XInternAtom(dpy_, "_NET_WM_STATE_ABOVE", False);
            XChangeProperty(dpy_, win_, wm_state, 4 /* XA_ATOM */, 32, PropModeReplace,
                            reinterpret_cast<unsigned char*>(&above), 1);
        }
        XSelectInput(dpy_, win_, ExposureMask | KeyPressMask | ButtonPressMask);
        XMapRaised(dpy_, win_);
    }

    void draw() {
        int screen = DefaultScreen(dpy_);
        GC gc = XCreateGC(dpy_, win_, 0, nullptr);
        XSetFont(dpy_, gc, font_->fid);
        XSetForeground(dpy_, gc, BlackPixel(dpy_, screen));
        XClearWindow(dpy_, win_);
        int y = 20 + font_->ascent;
        for (int i = 0; i < line_count_; ++i) {
            XDrawString(dpy_, win_, gc, 20, y, lines_[i].text, lines_[i].length);
            y += line_height_;
        }
        for (int i = 0; i < button_count_; ++i) {
            const button& b = buttons_[i];
            XDrawRectangle(dpy_, win_, gc, b.x, button_y(), button_w, button_h);
            int w = XTextWidth(font_, b.label, static_cast<int>(std::strlen(b.label)));
            XDrawString(dpy_, win_, gc, b.x + (button_w - w) / 2, button_y() + button_h / 2 + font_->ascent / 2,
                        b.label, static_cast<int>(std::strlen(b.label)));
        }
        XFreeGC(dpy_, gc);
    }

    int button_y() const { return height_ - button_h - 16; }

    int key_answer(XKeyEvent& ev) {
        KeySym sym = XLookupKeysym(&ev, 0);
        if (sym == XK_Return || sym == XK_KP_Enter) return buttons_[0].answer;
        if (sym == XK_Escape) return message_box_safe_answer(style_);
        if (yes_no(style_) && sym == XK_y) return id_yes;
        if (yes_no(style_) && sym == XK_n) return id_no;
        return 0;
    }

    int click_answer(const XButtonEvent& ev) const {
        for (int i = 0; i < button_count_; ++i) {
            const button& b = buttons_[i];
            if (ev.x >= b.x && ev.x <= b.x + button_w && ev.y >= button_y() && ev.y <= button_y() + button_h)
                return b.answer;
        }
        return 0;
    }

    // Waits up to 50 ms for the next event; false when none came.
    bool event_wait() {
        if (XPending(dpy_) > 0) return true;
        pollfd fd{ConnectionNumber(dpy_), POLLIN, 0};
        return poll(&fd, 1, 50) > 0 && XPending(dpy_) > 0;
    }

    int event_loop() {
        for (;;) {
            if (!event_wait()) {
                if (cancelled_ && cancelled_()) return message_box_safe_answer(style_);
                continue;
            }
            XEvent ev;
            XNextEvent(dpy_, &ev);
            int answer = 0;
            if (ev.type == Expose && ev.xexpose.count == 0) draw();
            else if (ev.type == KeyPress) answer = key_answer(ev.xkey);
            else if (ev.type == ButtonPress) answer = click_answer(ev.xbutton);
            else if (ev.type == ClientMessage && static_cast<Atom>(ev.xclient.data.l[0]) == delete_atom_)
                answer = message_box_safe_answer(style_);
            if (answer) return answer;
        }
    }

    static constexpr int button_w = 80, button_h = 26;
    static constexpr int max_lines = 64;
    const char* caption_;
    uint32_t style_;
    bool (*cancelled_)();
    Display* dpy_ = nullptr;
    XFontStruct* font_ = nullptr;
    Window win_ = 0;
    Atom delete_atom_ = 0;
    line lines_[max_lines];
    int line_count_ = 0;
    button buttons_[2];
    int button_count_ = 0;
    int width_ = 0, height_ = 0, line_height_ = 0;
};

int interactive_answer(const char* text, const char* caption, uint32_t style, bool (*cancelled)()) {
    const char* display = std::getenv("DISPLAY");
    if (!display || !*display) return 0;
    Display* dpy = XOpenDisplay(nullptr);
    if (!dpy) return 0;
    int answer = x11_dialog(text, caption, style, cancelled).run(dpy);
    XCloseDisplay(dpy);
    return answer;
}

int default_answer(const char* text, const char* caption, uint32_t style, bool (*cancelled)()) {
    auto& s = state();
    {
        std::lock_guard<std::mutex> guard(s.lock);
        int answer = 0;
        if (script_answer(s, style, answer)) return answer;
    }
    int answer = interactive_answer(text, caption, style, cancelled);
    return answer ? answer : message_box_safe_answer(style);
}

}  // namespace

int message_box_safe_answer(uint32_t style) { return yes_no(style) ? id_no : id_ok; }

void platform_message_box_handler_set(message_box_handler handler) {
    auto& s = state();
    std::lock_guard<std::mutex> guard(s.lock);
    s.handler = std::move(handler);
}

int platform_message_box(const char* text, const char* caption, uint32_t style, bool (*cancelled)()) {
    if (!text) text = "";
    if (!caption) caption = "";
    message_box_handler handler;
    {
        auto& s = state();
        std::lock_guard<std::mutex> guard(s.lock);
        if (s.handler) handler = s.handler;
    }
    if (handler) {
        int answer = handler(message_box_call{text, caption, style});
        if (answer == 0) answer = message_box_safe_answer(style);
        log_box(text, caption, style, answer);
        return answer;
    }
    // An OK box has only one answer: its line is written before the dialog is tried, so a process
    // that cannot show the dialog (or ends right after it) still reports it.
    if (!yes_no(style)) {
        log_box(text, caption, style, id_ok);
        default_answer(text, caption, style, cancelled);
        return id_ok;
    }
    int answer = default_answer(text, caption, style, cancelled);
    log_box(text, caption, style, answer);
    return answer;
}

}  // namespace platform
