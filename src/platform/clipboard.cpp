#include "platform/clipboard.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <thread>

#include "platform/clipboard_text.h"

namespace platform {

namespace {

constexpr auto get_time_out = std::chrono::milliseconds(500);

// The selection owner and asker: a thread of its own with its own connection and an unmapped
// window. The program thread hands it requests and waits for the answers.
class x_clipboard {
public:
    static x_clipboard* open() {
        const char* name = std::getenv("DISPLAY");
        if (!name || !*name) return nullptr;
        Display* display = XOpenDisplay(name);
        if (!display) return nullptr;
        return new x_clipboard(display);
    }

    bool set(std::string_view text) {
        std::unique_lock lock(mutex_);
        text_.assign(text);
        return request(lock, request_set);
    }

    std::string get() {
        std::unique_lock lock(mutex_);
        fetched_.clear();
        request(lock, request_get);
        return fetched_;
    }

private:
    enum request_kind { request_none, request_set, request_get };

    explicit x_clipboard(Display* display) : display_(display) {
        window_ = XCreateSimpleWindow(display_, DefaultRootWindow(display_), 0, 0, 1, 1, 0, 0, 0);
        clipboard_ = XInternAtom(display_, "CLIPBOARD", False);
        utf8_ = XInternAtom(display_, "UTF8_STRING", False);
        targets_ = XInternAtom(display_, "TARGETS", False);
        text_atom_ = XInternAtom(display_, "TEXT", False);
        compound_text_ = XInternAtom(display_, "COMPOUND_TEXT", False);
        property_ = XInternAtom(display_, "LUMO_CLIPBOARD", False);
        incr_ = XInternAtom(display_, "INCR", False);
        XFlush(display_);
        wake_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
        std::thread([this] { run(); }).detach();
    }

    // Hands a request to the thread and waits for its answer; false when none came in time.
    bool request(std::unique_lock<std::mutex>& lock, request_kind kind) {
        pending_ = kind;
        answered_ = false;
        uint64_t one = 1;
        (void)!::write(wake_, &one, sizeof one);
        bool in_time = answer_.wait_for(lock, get_time_out + std::chrono::milliseconds(100), [&] { return answered_; });
        return in_time && ok_;
    }

    void answer(bool ok) {
        std::lock_guard guard(mutex_);
        ok_ = ok;
        answered_ = true;
        pending_ = request_none;
        answer_.notify_all();
    }

    void run() {
        pollfd fds[2] = {{ConnectionNumber(display_), POLLIN, 0}, {wake_, POLLIN, 0}};
        for (;;) {
            while (XPending(display_)) {
                XEvent e;
                XNextEvent(display_, &e);
                event_handle(e);
            }
            int timeout = -1;
            if (asking_) {
                auto left = std::chrono::duration_cast<std::chrono::milliseconds>(ask_deadline_ - std::chrono::steady_clock::now());
                if (left.count() <= 0) {
                    ask_finish("");
                    continue;
                }
                timeout = static_cast<int>(left.count());
            }
            ::poll(fds, 2, timeout);
            if (fds[1].revents & POLLIN) {
                uint64_t n;
                (void)!::read(wake_, &n, sizeof n);
                request_take();
            }
        }
    }

    void request_take() {
        request_kind kind;
        std::string text;
        {
            std::lock_guard guard(mutex_);
            kind = pending_;
            text = text_;
        }
        if (kind == request_set) {
            owned_ = text;
            XSetSelectionOwner(display_, clipboard_, window_, CurrentTime);
            owning_ = XGetSelectionOwner(display_, clipboard_) == window_;
            answer(owning_);
        } else if (kind == request_get) {
            // The server, not a SelectionClear still on its way, says whether another program
            // has taken the clipboard since.
            if (owning_ && XGetSelectionOwner(display_, clipboard_) == window_) return ask_finish(owned_);
            ask_target_ = utf8_;
            ask_start();
        }
    }

    void ask_start() {
        asking_ = true;
        ask_deadline_ = std::chrono::steady_clock::now() + get_time_out;
        ask_send();
    }

    // Asks the owner for the selection in the form ask_target_.
    void ask_send() {
        XConvertSelection(display_, clipboard_, ask_target_, property_, window_, CurrentTime);
        XFlush(display_);
    }

    void ask_finish(const std::string& text) {
        asking_ = false;
        {
            std::lock_guard guard(mutex_);
            fetched_ = text;
        }
        answer(true);
    }

    void event_handle(const XEvent& e) {
        if (e.type == SelectionRequest) return serve(e.xselectionrequest);
        if (e.type == SelectionClear) owning_ = false;
        if (e.type == SelectionNotify && asking_) {
            if (e.xselection.property == None) {
                // No UTF-8 form: ask for the plain one once.
                if (ask_target_ == utf8_) {
                    ask_target_ = XA_STRING;
                    return ask_send();
                }
                return ask_finish("");
            }
            ask_finish(reply_text(property_read()));
        }
    }

    struct reply {
        Atom type = None;
        std::string bytes;
    };

    reply property_read() {
        int format;
        unsigned long items, after;
        unsigned char* data = nullptr;
        reply r;
        if (XGetWindowProperty(display_, window_, property_, 0, 0x1FFFFFFF, True, AnyPropertyType, &r.type, &format,
                               &items, &after, &data) == Success && data && format == 8 &&
            r.type != incr_)
            r.bytes.assign(reinterpret_cast<char*>(data), items);
        if (data) XFree(data);
        return r;
    }

    // The owner's bytes in the program's 8-bit form, read by the type the owner gave them, which
    // need not be the form asked for. STRING, and TEXT (no encoding of its own), are Latin-1.
    std::string reply_text(const reply& r) {
        if (r.type == XA_STRING || r.type == text_atom_) return r.bytes;
        if (r.type == utf8_) return latin1_of_utf8(r.bytes);
        if (r.type == compound_text_) return latin1_of_compound_text(r.bytes);
        return ask_target_ == utf8_ ? latin1_of_utf8(r.bytes) : r.bytes;  // an unknown type: as asked
    }

    // Xlib's conversion, to UTF-8 whatever the locale; text it cannot convert is read in its
    // initial state, Latin-1.
    std::string latin1_of_compound_text(const std::string& bytes) {
        XTextProperty property{reinterpret_cast<unsigned char*>(const_cast<char*>(bytes.data())), compound_text_, 8,
                               bytes.size()};
        char** list = nullptr;
        int count = 0;
        std::string text = bytes;
        if (Xutf8TextPropertyToTextList(display_, &property, &list, &count) >= Success && count > 0)
            text = latin1_of_utf8(list[0]);
        if (list) XFreeStringList(list);
        return text;
    }

    void serve(const XSelectionRequestEvent& r) {
        XSelectionEvent reply{};
        reply.type = SelectionNotify;
        reply.display = r.display;
        reply.requestor = r.requestor;
        reply.selection = r.selection;
        reply.target = r.target;
        reply.time = r.time;
        reply.property = r.property == None ? r.target : r.property;
        if (!owning_) {
            reply.property = None;
        } else if (r.target == targets_) {
            Atom offered[] = {targets_, utf8_, XA_STRING, text_atom_};
            XChangeProperty(display_, r.requestor, reply.property, XA_ATOM, 32, PropModeReplace,
                            reinterpret_cast<unsigned char*>(offered), 4);
        } else if (r.target == utf8_ || r.target == XA_STRING || r.target == text_atom_) {
            std::string bytes = r.target == utf8_ ? utf8_of_latin1(owned_) : owned_;
            XChangeProperty(display_, r.requestor, reply.property, r.target == utf8_ ? utf8_ : XA_STRING, 8,
                            PropModeReplace, reinterpret_cast<const unsigned char*>(bytes.data()),
                            static_cast<int>(bytes.size()));
        } else {
            reply.property = None;
        }
        XSendEvent(display_, r.requestor, False, 0, reinterpret_cast<XEvent*>(&reply));
        XFlush(display_);
    }

    Display* display_;
    Window window_;
    Atom clipboard_, utf8_, targets_, text_atom_, compound_text_, property_, incr_;
    int wake_ = -1;
    // Shared with the program thread, under mutex_.
    std::mutex mutex_;
    std::condition_variable answer_;
    request_kind pending_ = request_none;
    bool answered_ = false, ok_ = false;
    std::string text_, fetched_;
    // The thread's own.
    std::string owned_;
    bool owning_ = false, asking_ = false;
    Atom ask_target_ = None;
    std::chrono::steady_clock::time_point ask_deadline_;
};

// In-process text when there is no display.
struct clipboard_store {
    std::mutex lock;
    std::string text;
};

clipboard_store& store() {
    static clipboard_store s;
    return s;
}

x_clipboard* x() {
    static x_clipboard* clipboard = x_clipboard::open();
    return clipboard;
}

}  // namespace

bool clipboard_text_set(std::string_view text) {
    if (x_clipboard* c = x()) return c->set(text);
    std::lock_guard guard(store().lock);
    store().text.assign(text);
    return true;
}

std::string clipboard_text_get() {
    if (x_clipboard* c = x()) return c->get();
    std::lock_guard guard(store().lock);
    return store().text;
}

}  // namespace platform
