#include "window_harness.h"

#include <X11/Xatom.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/prctl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <thread>

#include "core/errors.h"
#include "core/program_interface.h"
#include "core/statements.h"
#include "core/timing.h"
#include "display/frames.h"
#include "display/renderer.h"
#include "display/window.h"
#include "runtime/startup.h"

namespace window_test {

namespace {

void nothing() {}

int64_t now_ms() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// Asks done every interval_ms until it holds or timeout_ms have passed (asked at least once).
bool wait_until(int timeout_ms, const std::function<bool()>& done, int interval_ms = 20) {
    int64_t deadline = now_ms() + timeout_ms;
    do {
        if (done()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(interval_ms));
    } while (now_ms() < deadline);
    return false;
}

std::atomic<int> dump_counter{0};

}  // namespace

// ---- the child's side ------------------------------------------------------------------------

void child_run(void (*body)(), void (*options)()) {
    program_register({options, body, nothing, nullptr});
    static char name[] = "test_window";
    char* argv[] = {name, nullptr};
    runtime_main(1, argv);
}

void report(const std::string& text) {
    std::string line = "@" + text + "\n";
    ssize_t written = write(1, line.data(), line.size());
    (void)written;
}

void window_wait() {
    while (!window_exists.load()) sleep_ms(5);
}

uint64_t shown_frame_dump() {
    window_wait();
    int64_t next = frame_number_next.load();
    while (frame_number_shown.load() < next + 1) sleep_ms(5);
    const char* path = std::getenv("LUMO_TEST_DUMP");
    for (auto& slot : software_frames) {
        if (slot.state.load() != frame_slot_shown || !path) continue;
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(&slot.width), 4);
        out.write(reinterpret_cast<const char*>(&slot.height), 4);
        out.write(reinterpret_cast<const char*>(slot.pixels), static_cast<std::streamsize>(slot.width) * slot.height * 4);
    }
    return window_handle_get();
}

void idle_forever() {
    // As a program between statements: it parks when the runtime shuts down.
    for (;;) {
        if (event_pending.load()) statement_hook(0);
        sleep_ms(10);
    }
}

// ---- the test's side -------------------------------------------------------------------------

child_process::child_process(const std::string& scenario, bool display, const char* entry) {
    dump_path_ = "/tmp/lumo_window_" + std::to_string(getpid()) + "_" + std::to_string(dump_counter++) + ".frame";
    const std::string filter = std::string("--gtest_filter=") + entry;  // made before the fork
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) return;
    pid_ = fork();
    if (pid_ == 0) {
        prctl(PR_SET_PDEATHSIG, SIGKILL);  // a test that dies takes its child along
        dup2(fds[1], 1);
        setenv("LUMO_TEST_DUMP", dump_path_.c_str(), 1);
        setenv("LUMO_MSGBOX", "auto", 1);
        setenv("LUMO_WINDOW_SCENARIO", scenario.c_str(), 1);
        if (!display) unsetenv("DISPLAY");
        execl("/proc/self/exe", "test_window", filter.c_str(), "--gtest_also_run_disabled_tests", nullptr);
        _exit(127);
    }
    close(fds[1]);
    out_ = fds[0];
}

child_process::~child_process() {
    if (pid_ > 0 && !reaped_) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
    if (out_ >= 0) close(out_);
    unlink(dump_path_.c_str());
}

std::optional<std::string> child_process::await(const std::string& prefix, int timeout_ms) {
    int64_t deadline = now_ms() + timeout_ms;
    std::string wanted = "@" + prefix;
    for (;;) {
        size_t end;
        while ((end = buffer_.find('\n')) != std::string::npos) {
            std::string line = buffer_.substr(0, end);
            buffer_.erase(0, end + 1);
            if (line.compare(0, wanted.size(), wanted) == 0) return line.substr(wanted.size());
        }
        int64_t left = deadline - now_ms();
        if (left <= 0 || out_ < 0) return std::nullopt;
        pollfd fd{out_, POLLIN, 0};
        if (poll(&fd, 1, static_cast<int>(left)) <= 0) continue;
        char chunk[4096];
        ssize_t n = read(out_, chunk, sizeof chunk);
        if (n <= 0) return std::nullopt;
        buffer_.append(chunk, static_cast<size_t>(n));
    }
}

int child_process::exit_code(int timeout_ms) {
    if (pid_ <= 0) return -1;
    int64_t deadline = now_ms() + timeout_ms;
    int status = 0;
    while (now_ms() < deadline) {
        if (waitpid(pid_, &status, WNOHANG) == pid_) {
            reaped_ = true;
            return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return -1;
}

picture frame_read(const std::string& path) {
    picture p;
    std::ifstream in(path, std::ios::binary);
    in.read(reinterpret_cast<char*>(&p.width), 4);
    in.read(reinterpret_cast<char*>(&p.height), 4);
    if (!in || p.width <= 0 || p.height <= 0) return {};
    p.pixels.resize(static_cast<size_t>(p.width) * p.height);
    in.read(reinterpret_cast<char*>(p.pixels.data()), static_cast<std::streamsize>(p.pixels.size() * 4));
    for (uint32_t& v : p.pixels) v &= 0xFFFFFF;
    return p;
}

namespace {
int bad_window_count = 0;
int error_ignored(Display*, XErrorEvent*) {
    ++bad_window_count;
    return 0;
}
}  // namespace

x_connection::x_connection() {
    // A failed request must fail the test, not end the test process.
    XSetErrorHandler(error_ignored);
    // Right after a child's end the server may be slow to take a new connection.
    for (int attempt = 0; attempt < 50 && !display_; ++attempt) {
        display_ = XOpenDisplay(nullptr);
        if (!display_) std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
}

x_connection::~x_connection() {
    if (display_) XCloseDisplay(display_);
}

bool x_connection::window_alive(Window w) {
    XSync(display_, False);
    int before = bad_window_count;
    XWindowAttributes attributes;
    Status ok = XGetWindowAttributes(display_, w, &attributes);
    XSync(display_, False);
    return ok != 0 && bad_window_count == before;
}

bool x_connection::window_size(Window w, int32_t& width, int32_t& height) {
    XWindowAttributes attributes;
    if (!XGetWindowAttributes(display_, w, &attributes)) return false;
    width = attributes.width;
    height = attributes.height;
    return true;
}

bool x_connection::window_size_wait(Window w, int32_t width, int32_t height, int timeout_ms) {
    return wait_until(timeout_ms, [&] {
        int32_t a = 0, b = 0;
        return window_size(w, a, b) && a == width && b == height;
    });
}

bool x_connection::map_state_wait(Window w, int state, int timeout_ms) {
    return wait_until(timeout_ms, [&] {
        XWindowAttributes attributes;
        return XGetWindowAttributes(display_, w, &attributes) && attributes.map_state == state;
    });
}

picture x_connection::screenshot(Window w) {
    picture p;
    if (!window_size(w, p.width, p.height)) return {};
    XImage* image = XGetImage(display_, w, 0, 0, static_cast<unsigned>(p.width), static_cast<unsigned>(p.height),
                              AllPlanes, ZPixmap);
    if (!image) return {};
    p.pixels.resize(static_cast<size_t>(p.width) * p.height);
    for (int32_t y = 0; y < p.height; ++y)
        for (int32_t x = 0; x < p.width; ++x) {
            unsigned long v = XGetPixel(image, x, y);
            uint32_t r = (v & image->red_mask) * 255 / image->red_mask;
            uint32_t g = (v & image->green_mask) * 255 / image->green_mask;
            uint32_t b = (v & image->blue_mask) * 255 / image->blue_mask;
            p.pixels[static_cast<size_t>(y) * p.width + x] = r << 16 | g << 8 | b;
        }
    XDestroyImage(image);
    return p;
}

void x_connection::close_send(Window w) {
    XEvent event{};
    event.xclient.type = ClientMessage;
    event.xclient.window = w;
    event.xclient.message_type = XInternAtom(display_, "WM_PROTOCOLS", False);
    event.xclient.format = 32;
    event.xclient.data.l[0] = static_cast<long>(XInternAtom(display_, "WM_DELETE_WINDOW", False));
    event.xclient.data.l[1] = CurrentTime;
    XSendEvent(display_, w, False, NoEventMask, &event);
    XFlush(display_);
}

void x_connection::move(Window w, int32_t x, int32_t y) {
    XMoveWindow(display_, w, x, y);
    XSync(display_, False);
}

void x_connection::resize(Window w, int32_t width, int32_t height) {
    XResizeWindow(display_, w, static_cast<unsigned>(width), static_cast<unsigned>(height));
    XFlush(display_);
}

void x_connection::focus(Window w) {
    XSetInputFocus(display_, w, RevertToParent, CurrentTime);
    XSync(display_, False);
}

void x_connection::key(uint32_t keycode, bool press) {
    XTestFakeKeyEvent(display_, keycode, press ? True : False, 0);
    XSync(display_, False);
}

std::string xprop_title(Window w) {
    std::string command = "xprop -id " + std::to_string(w) + " WM_NAME 2>/dev/null";
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) return "";
    char line[1024] = {};
    std::string text = fgets(line, sizeof line, pipe) ? line : "";
    pclose(pipe);
    size_t first = text.find('"');
    size_t last = text.rfind('"');
    return first != std::string::npos && last > first ? text.substr(first + 1, last - first - 1) : "";
}

namespace {

// The first pixel where the shot differs from what expected says ("" when equal).
std::string first_difference(const picture& shot, int32_t width, int32_t height,
                             const std::function<uint32_t(int32_t, int32_t)>& expected) {
    if (shot.width != width || shot.height != height)
        return "window " + std::to_string(shot.width) + "x" + std::to_string(shot.height);
    for (int32_t y = 0; y < height; ++y)
        for (int32_t px = 0; px < width; ++px) {
            uint32_t want = expected(px, y);
            if (want != any_pixel && shot.at(px, y) != want) {
                char text[128];
                std::snprintf(text, sizeof text, "at %d,%d: %06x, expected %06x", px, y, shot.at(px, y), want);
                return text;
            }
        }
    return "";
}

}  // namespace

std::string screen_match(x_connection& x, Window w, int32_t width, int32_t height,
                         const std::function<uint32_t(int32_t, int32_t)>& expected, int timeout_ms) {
    std::string difference;
    bool equal = wait_until(
        timeout_ms,
        [&] {
            difference = first_difference(x.screenshot(w), width, height, expected);
            return difference.empty();
        },
        50);
    return equal ? "" : difference;
}

}  // namespace window_test
