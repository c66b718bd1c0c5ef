// Whole-process window tests: the test starts this same executable as a child that runs one
// scenario (window_child.DISABLED_run with LUMO_WINDOW_SCENARIO naming it) with the real runtime,
// freeglut and the X server of DISPLAY. The child reports with lines that start with '@' on its
// standard output; the test drives and reads the window through X (screenshots, the title, close
// messages, XTest keys).
#pragma once

#include <X11/Xlib.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace window_test {

// ---- the child's side ----------------------------------------------------------------------------

// Registers body as the program thread and runs the runtime; never returns.
[[noreturn]] void child_run(void (*body)(), void (*options)() = nullptr);
// A named child program: its program thread and the options set before the runtime starts.
struct scenario {
    const char* name;
    void (*body)();
    void (*options)();
};
// Runs the scenario that LUMO_WINDOW_SCENARIO names; returns only when none has that name.
template <size_t n>
void scenario_run(const scenario (&scenarios)[n]) {
    const char* wanted = std::getenv("LUMO_WINDOW_SCENARIO");
    for (const scenario& s : scenarios)
        if (wanted && std::string(wanted) == s.name) child_run(s.body, s.options);
}
// One report line "@text" on standard output.
void report(const std::string& text);
// Waits until the window exists.
void window_wait();
// Waits until a frame built after this call is on the screen, then writes the shown frame to the
// file named by LUMO_TEST_DUMP (width, height, pixels as 32-bit words). Returns the window id.
uint64_t shown_frame_dump();
[[noreturn]] void idle_forever();

// ---- the test's side -----------------------------------------------------------------------------

// The wait for what the child or the X server is sure to do: only a hang reaches it, however
// loaded the machine.
constexpr int reply_bound_ms = 30000;

class child_process {
public:
    // Starts the child running the named scenario (without DISPLAY when display is false) through
    // the disabled test named by entry, which looks the scenario up.
    explicit child_process(const std::string& scenario, bool display = true,
                           const char* entry = "window_child.DISABLED_run");
    ~child_process();
    // The rest of the next report line starting with prefix; nothing after timeout_ms.
    std::optional<std::string> await(const std::string& prefix, int timeout_ms = reply_bound_ms);
    // The exit code, or -1 when the child has not ended within timeout_ms (it is then killed).
    int exit_code(int timeout_ms = reply_bound_ms);
    const std::string& dump_path() const { return dump_path_; }

private:
    int pid_ = -1;
    int out_ = -1;
    std::string buffer_;
    std::string dump_path_;
    bool reaped_ = false;
};

struct picture {
    int32_t width = 0;
    int32_t height = 0;
    std::vector<uint32_t> pixels;  // 0x00RRGGBB
    uint32_t at(int32_t x, int32_t y) const { return pixels[static_cast<size_t>(y) * width + x]; }
};

// The frame a child dumped, with alpha dropped.
picture frame_read(const std::string& path);

class x_connection {
public:
    x_connection();
    ~x_connection();
    Display* display() const { return display_; }
    bool window_alive(Window w);
    bool window_size(Window w, int32_t& width, int32_t& height);
    // Waits until the window has that size.
    bool window_size_wait(Window w, int32_t width, int32_t height, int timeout_ms = reply_bound_ms);
    picture screenshot(Window w);
    // Waits until the window's map state is IsUnmapped or IsViewable.
    bool map_state_wait(Window w, int state, int timeout_ms = reply_bound_ms);
    // The window manager's close message.
    void close_send(Window w);
    void resize(Window w, int32_t width, int32_t height);
    // Without a window manager a new window sits at (-1, -1), partly off the screen.
    void move(Window w, int32_t x, int32_t y);
    void focus(Window w);
    // A real key event through XTest.
    void key(uint32_t keycode, bool press);

private:
    Display* display_ = nullptr;
};

// The title as xprop reads it (WM_NAME), or "" when xprop gives none.
std::string xprop_title(Window w);

// Waits until the window shows what expected says at each pixel (any_pixel: whatever it shows); on
// timeout returns the first difference found in the last screenshot ("" when equal).
constexpr uint32_t any_pixel = 0xFFFFFFFF;
std::string screen_match(x_connection& x, Window w, int32_t width, int32_t height,
                         const std::function<uint32_t(int32_t x, int32_t y)>& expected,
                         int timeout_ms = reply_bound_ms);

}  // namespace window_test
