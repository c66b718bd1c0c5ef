#include "display/window.h"

#include <GL/glew.h>
#include <GL/freeglut.h>
#include <GL/glx.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "core/alerts.h"
#include "core/errors.h"
#include "core/program_wake.h"
#include "core/shutdown.h"
#include "core/strings.h"
#include "core/timing.h"
#include "display/display_control.h"
#include "display/renderer.h"
#include "display/window_hooks.h"
#include "platform/process.h"
#include "platform/x11_raw_motion.h"
#include "platform/x11_window.h"

std::atomic<int32_t> window_hidden{0};
std::atomic<int32_t> window_create_allowed{0};
std::atomic<int32_t> window_exists{0};
std::atomic<int32_t> fbo_supported{0};
int32_t window_resizable = 0;
int32_t console_option = 0;
int32_t console_image_handle = 0;

namespace {

struct window_state {
    // Guards the title (read at creation on the main thread) and the request list.
    std::mutex lock;
    std::string title;
    bool title_set = false;
    std::vector<std::function<void()>> requests;
    std::atomic<uint64_t> handle{0};
    std::thread::id main_thread;
    // What the program asked of its console window; nothing here shows one.
    std::string console_title;
    std::atomic<int32_t> console_shown{1};
    // Written by other threads to wake the main loop for their requests.
    int wake_fd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
};
window_state ws;

bool on_main_thread() { return window_exists.load() && std::this_thread::get_id() == ws.main_thread; }

// Runs a freeglut call on the main thread: at once when already there, else at the next turn.
void main_thread_run(std::function<void()> call) {
    if (on_main_thread()) {
        call();
        return;
    }
    {
        std::lock_guard<std::mutex> guard(ws.lock);
        ws.requests.push_back(std::move(call));
    }
    main_loop_wake();
}

// A freeglut query from the program thread; the wait ends when the runtime shuts down.
int32_t main_thread_query(int32_t (*query)()) {
    if (on_main_thread()) return query();
    auto answer = std::make_shared<std::atomic<int64_t>>(INT64_MIN);
    main_thread_run([answer, query] {
        answer->store(query());
        program_wake();
    });
    program_wait_woken([&answer] { return answer->load() != INT64_MIN; });
    return static_cast<int32_t>(answer->load());
}

void requests_run() {
    std::vector<std::function<void()>> due;
    {
        std::lock_guard<std::mutex> guard(ws.lock);
        due.swap(ws.requests);
    }
    for (auto& call : due) call();
}

void window_wait() {
    program_wait_woken([] { return window_exists.load() != 0; });
}

std::string text_of(string_descriptor* text) {
    if (!text || !text->text || text->length <= 0) return {};
    return std::string(reinterpret_cast<const char*>(text->text), static_cast<size_t>(text->length));
}

void glut_warning(const char* format, va_list args) {
    std::fputs("freeglut: ", stderr);
    std::vfprintf(stderr, format, args);
    std::fputc('\n', stderr);
}

[[noreturn]] void glut_error(const char* format, va_list args) {
    glut_warning(format, args);
    process_exit(platform::exit_display_failed);
}

void raw_motion(int32_t dx, int32_t dy) { window_proc_event_hook(window_event_motion, dx, dy); }

void window_closed() { window_proc_event_hook(window_event_close, 0, 0); }

// An uncovered window is drawn again even though no new frame came.
void window_exposed() { window_reshaped.store(1); }

void first_motion() { platform::x11_raw_motion_open(); }

void window_status(int state) {
    if (state != GLUT_HIDDEN && state != GLUT_FULLY_COVERED) platform::x11_window_focus_take_once();
}

void hooks_install() {
    Display* display = glXGetCurrentDisplay();
    GLXDrawable window = glXGetCurrentDrawable();
    window_handle_store(window);
    platform::x11_window_hooks_install(display, window, {window_raw_key, window_closed, window_exposed, first_motion});
}

void window_create() {
    std::lock_guard<std::mutex> guard(ws.lock);
    glutCreateWindow(ws.title_set ? ws.title.c_str() : "Untitled");
    ws.main_thread = std::this_thread::get_id();
    window_exists.store(1);
    program_wake();
}

// Sleeps until the window's or the raw-motion connection brings events, a request comes or the
// frame timer is due.
void events_wait() {
    if (platform::x11_window_events_queued()) return;
    constexpr int64_t longest_wait_ms = 1000;
    int64_t wait = renderer_has_work() ? frame_timer_due_ms() - clock_ms() : longest_wait_ms;
    if (wait <= 0) return;
    pollfd fds[3] = {{platform::x11_window_connection_fd(), POLLIN, 0},
                     {platform::x11_raw_motion_fd(), POLLIN, 0},
                     {ws.wake_fd, POLLIN, 0}};
    if (poll(fds, 3, static_cast<int>(std::min(wait, longest_wait_ms))) > 0 && (fds[2].revents & POLLIN)) {
        uint64_t count;
        [[maybe_unused]] ssize_t n = read(ws.wake_fd, &count, sizeof count);
    }
}

void frame_timer_run_due() {
    if (clock_ms() >= frame_timer_due_ms()) glut_frame_timer_callback(0);
}

[[noreturn]] void main_loop() {
    for (;;) {
        frame_timer_run_due();
        glutMainLoopEvent();
        platform::x11_window_events_drain();
        requests_run();
        platform::x11_raw_motion_poll(raw_motion);
        events_wait();
    }
}

int32_t query_x() { return glutGet(GLUT_WINDOW_X) - glutGet(GLUT_WINDOW_BORDER_WIDTH); }

int32_t query_y() {
    return glutGet(GLUT_WINDOW_Y) - glutGet(GLUT_WINDOW_BORDER_WIDTH) - glutGet(GLUT_WINDOW_HEADER_HEIGHT);
}

void window_centre() {
    glutPositionWindow((glutGet(GLUT_SCREEN_WIDTH) - glutGet(GLUT_WINDOW_WIDTH)) / 2,
                       (glutGet(GLUT_SCREEN_HEIGHT) - glutGet(GLUT_WINDOW_HEIGHT)) / 2);
}

}  // namespace

void main_loop_wake() {
    uint64_t one = 1;
    [[maybe_unused]] ssize_t n = write(ws.wake_fd, &one, sizeof one);
}

void window_run(int argc, char** argv) {
    // 32. A program started hidden makes its window when it first shows it.
    if (!window_hidden.load()) window_create_allowed.store(1);
    while (!window_create_allowed.load()) sleep_ms(100);

    // 33. Only the program's name: freeglut would take options such as -display from the program's
    // own command line.
    char name[] = "lumo";
    char* args[] = {argc > 0 && argv && argv[0] ? argv[0] : name, nullptr};
    int count = 1;
    glutInitErrorFunc(glut_error);
    glutInitWarningFunc(glut_warning);
    glutInit(&count, args);
    glutInitDisplayMode(GLUT_RGBA | GLUT_DOUBLE | GLUT_DEPTH);
    glutInitWindowSize(640, 400);
    if (!glutGet(GLUT_DISPLAY_MODE_POSSIBLE)) process_exit(platform::exit_display_failed);
    glutSetOption(GLUT_ACTION_ON_WINDOW_CLOSE, GLUT_ACTION_CONTINUE_EXECUTION);

    // 34.
    window_create();
    hooks_install();
    if (!window_resizable) platform::x11_window_size_fix(640, 400);
    if (window_hidden.load()) glutHideWindow();

    // 35. Without GLEW the window still works, with the extensions it found.
    GLenum glew = glewInit();
    if (glew != GLEW_OK) alert_text(reinterpret_cast<const char*>(glewGetErrorString(glew)));
    if (glewIsSupported("GL_EXT_framebuffer_object")) fbo_supported.store(1);

    // 36, 37.
    glut_callbacks_register();
    glutWindowStatusFunc(window_status);
    main_loop();
}

void window_title_set(string_descriptor* text) {
    if (error_pending()) return;
    std::string title = text_of(text);
    std::lock_guard<std::mutex> guard(ws.lock);
    ws.title = title;
    ws.title_set = true;
    if (window_exists.load()) ws.requests.push_back([title] { glutSetWindowTitle(title.c_str()); });
}

std::string window_title_get() {
    std::lock_guard<std::mutex> guard(ws.lock);
    return ws.title_set ? ws.title : "Untitled";
}

string_descriptor* os_string_get() {
    static constexpr char os_string[] = "[WINDOWS][32BIT]";
    return string_from_literal(os_string, static_cast<int32_t>(sizeof os_string - 1));
}

int32_t window_x_get() {
    window_wait();
    return main_thread_query(query_x);
}

int32_t window_y_get() {
    window_wait();
    return main_thread_query(query_y);
}

void window_position_set(int32_t x, int32_t y, int32_t kind) {
    if (error_pending()) return;
    if (kind == 0 || kind == 3) {
        error_raise(error_illegal_function_call);
        return;
    }
    if (fullscreen_mode.load() != 0) return;
    window_wait();
    if (kind == 2)
        main_thread_run([x, y] { glutPositionWindow(x, y); });
    else
        main_thread_run(window_centre);
}

void window_show() {
    // Cleared first, so that a window made right now is not made hidden.
    window_hidden.store(0);
    if (window_exists.load())
        main_thread_run([] { glutShowWindow(); });
    else
        window_create_allowed.store(1);
}

void window_hide() {
    if (window_exists.load()) main_thread_run([] { glutHideWindow(); });
    window_hidden.store(1);
}

int32_t window_resizable_get() { return window_resizable; }

void window_cursor_set(int32_t cursor) {
    if (window_hidden.load()) return;
    window_wait();
    main_thread_run([cursor] { glutSetCursor(cursor); });
}

void window_pointer_move(int32_t x, int32_t y) {
    if (window_exists.load()) main_thread_run([x, y] { glutWarpPointer(x, y); });
}

void window_handle_store(uint64_t handle) { ws.handle.store(handle); }

uint64_t window_handle_get() { return ws.handle.load(); }

int32_t console_image_handle_get() { return error_pending() ? -1 : console_image_handle; }

// A program here never has a console window of its own to show or hide; only what was asked is
// remembered.
void console_window_show(int32_t show) {
    if (!console_option) return;
    ws.console_shown.store(show == 1 ? 1 : 0);
}

void console_title_set(string_descriptor* text) {
    if (error_pending()) return;
    std::string title = text_of(text);
    std::lock_guard<std::mutex> guard(ws.lock);
    ws.console_title = title;
}

void window_client_size_set(int32_t width, int32_t height) {
    if (!window_resizable) platform::x11_window_size_fix(width, height);
    glutReshapeWindow(width, height);
}

void window_fullscreen_enter() {
    if (!window_resizable) platform::x11_window_size_free();
    glutFullScreen();
}

void window_fullscreen_leave() { glutLeaveFullScreen(); }
