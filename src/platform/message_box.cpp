#include "platform/message_box.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/keysym.h>
#include <poll.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <sstream>
#include <vector>

namespace platform {
namespace {

struct box_state {
    std::mutex lock;  // guards the handler and the script queue, never held while a box is open
    message_box_handler handler;
    bool script_read = false;
    bool scripted = false;  // LUMO_MSGBOX was given
    std::vector<std::string> script;
    size_t script_next = 0;
};

box_state& state() {
    static box_state s;
    return s;
}

bool yes_no(uint32_t style) { return (style & mb_button_mask) == mb_yes_no; }

int answer_from_word(const std::string& word, uint32_t style) {
    int answer = 0;
    if (word == "yes") answer = id_yes;
    else if (word == "no") answer = id_no;
    else if (word == "ok") answer = id_ok;
    else if (word == "cancel") answer = id_cancel;
    else answer = std::atoi(word.c_str());
    bool fits = yes_no(style) ? (answer == id_yes || answer == id_no) : answer == id_ok;
    return fits ? answer : message_box_safe_answer(style);
}

void script_load(box_state& s) {
    if (s.script_read) return;
    s.script_read = true;
    const char* env = std::getenv("LUMO_MSGBOX");
    if (!env) return;
    s.scripted = true;
    std::stringstream words(env);
    std::string word;
    while (std::getline(words, word, ','))
        if (!word.empty() && word != "auto") s.script.push_back(word);
}

std::string escaped(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (c == '\n') out += "\\n";
        else if (c == '"') out += "\\\"";
        else out += c;
    }
    return out;
}

void log_box(const message_box_call& call, int answer) {
    std::fprintf(stderr, "msgbox style=0x%x caption=\"%s\" text=\"%s\" answer=%d\n", call.style,
                 escaped(call.caption).c_str(), escaped(call.text).c_str(), answer);
    std::fflush(stderr);
}

// The interactive box: text lines above one or two buttons, answered by mouse, Enter, Y, N or Esc.
class x11_dialog {
public:
    x11_dialog(const message_box_call& call, bool (*cancelled)()) : call_(call), cancelled_(cancelled) {}

    int run(Display* dpy) {
        dpy_ = dpy;
        std::stringstream text(call_.text);
        for (std::string line; std::getline(text, line);) lines_.push_back(line);
        if (lines_.empty()) lines_.push_back("");
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
    struct button { const char* label; int answer; int x; };

    void layout() {
        line_height_ = font_->ascent + font_->descent + 2;
        int text_width = 0;
        for (auto& l : lines_)
            text_width = std::max(text_width, XTextWidth(font_, l.data(), static_cast<int>(l.size())));
        if (yes_no(call_.style)) buttons_ = {{"Yes", id_yes, 0}, {"No", id_no, 0}};
        else buttons_ = {{"OK", id_ok, 0}};
        int buttons_width = static_cast<int>(buttons_.size()) * (button_w + 12) - 12;
        width_ = std::max(text_width, buttons_width) + 40;
        height_ = static_cast<int>(lines_.size()) * line_height_ + 30 + button_h + 16;
        int x = (width_ - buttons_width) / 2;
        for (auto& b : buttons_) { b.x = x; x += button_w + 12; }
    }

    void create_window() {
        int screen = DefaultScreen(dpy_);
        int sx = (DisplayWidth(dpy_, screen) - width_) / 2, sy = (DisplayHeight(dpy_, screen) - height_) / 2;
        win_ = XCreateSimpleWindow(dpy_, RootWindow(dpy_, screen), sx, sy, width_, height_, 1,
                                   BlackPixel(dpy_, screen), WhitePixel(dpy_, screen));
        XStoreName(dpy_, win_, call_.caption.c_str());
        XSizeHints hints{};
        hints.flags = PMinSize | PMaxSize | PPosition;
        hints.min_width = hints.max_width = width_;
        hints.min_height = hints.max_height = height_;
        XSetWMNormalHints(dpy_, win_, &hints);
        delete_atom_ = XInternAtom(dpy_, "WM_DELETE_WINDOW", False);
        XSetWMProtocols(dpy_, win_, &delete_atom_, 1);
        if (call_.style & mb_system_modal) {
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
        for (auto& l : lines_) {
            XDrawString(dpy_, win_, gc, 20, y, l.data(), static_cast<int>(l.size()));
            y += line_height_;
        }
        for (auto& b : buttons_) {
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
        if (sym == XK_Return || sym == XK_KP_Enter) return buttons_.front().answer;
        if (sym == XK_Escape) return message_box_safe_answer(call_.style);
        if (yes_no(call_.style) && sym == XK_y) return id_yes;
        if (yes_no(call_.style) && sym == XK_n) return id_no;
        return 0;
    }

    int click_answer(const XButtonEvent& ev) const {
        for (auto& b : buttons_)
            if (ev.x >= b.x && ev.x <= b.x + button_w && ev.y >= button_y() && ev.y <= button_y() + button_h)
                return b.answer;
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
                if (cancelled_ && cancelled_()) return message_box_safe_answer(call_.style);
                continue;
            }
            XEvent ev;
            XNextEvent(dpy_, &ev);
            int answer = 0;
            if (ev.type == Expose && ev.xexpose.count == 0) draw();
            else if (ev.type == KeyPress) answer = key_answer(ev.xkey);
            else if (ev.type == ButtonPress) answer = click_answer(ev.xbutton);
            else if (ev.type == ClientMessage && static_cast<Atom>(ev.xclient.data.l[0]) == delete_atom_)
                answer = message_box_safe_answer(call_.style);
            if (answer) return answer;
        }
    }

    static constexpr int button_w = 80, button_h = 26;
    const message_box_call& call_;
    bool (*cancelled_)();
    Display* dpy_ = nullptr;
    XFontStruct* font_ = nullptr;
    Window win_ = 0;
    Atom delete_atom_ = 0;
    std::vector<std::string> lines_;
    std::vector<button> buttons_;
    int width_ = 0, height_ = 0, line_height_ = 0;
};

int interactive_answer(const message_box_call& call, bool (*cancelled)()) {
    const char* display = std::getenv("DISPLAY");
    if (!display || !*display) return 0;
    Display* dpy = XOpenDisplay(nullptr);
    if (!dpy) return 0;
    int answer = x11_dialog(call, cancelled).run(dpy);
    XCloseDisplay(dpy);
    return answer;
}

int default_answer(const message_box_call& call, bool (*cancelled)()) {
    auto& s = state();
    {
        std::lock_guard<std::mutex> guard(s.lock);
        script_load(s);
        if (s.scripted) {
            if (s.script_next < s.script.size()) return answer_from_word(s.script[s.script_next++], call.style);
            return message_box_safe_answer(call.style);
        }
    }
    int answer = interactive_answer(call, cancelled);
    return answer ? answer : message_box_safe_answer(call.style);
}

}  // namespace

int message_box_safe_answer(uint32_t style) { return yes_no(style) ? id_no : id_ok; }

void platform_message_box_handler_set(message_box_handler handler) {
    auto& s = state();
    std::lock_guard<std::mutex> guard(s.lock);
    s.handler = std::move(handler);
}

int platform_message_box(const char* text, const char* caption, uint32_t style, bool (*cancelled)()) {
    message_box_call call{text ? text : "", caption ? caption : "", style};
    message_box_handler handler;
    {
        auto& s = state();
        std::lock_guard<std::mutex> guard(s.lock);
        handler = s.handler;
    }
    int answer = handler ? handler(call) : default_answer(call, cancelled);
    if (answer == 0) answer = message_box_safe_answer(style);
    log_box(call, answer);
    return answer;
}

}  // namespace platform
