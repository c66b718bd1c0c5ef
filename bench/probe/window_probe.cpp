// Starts a program in a window and reports what a user waits for and what the machine pays:
// the milliseconds from exec to the first picture in the window that equals the settled picture,
// and the processor time of all the program's threads over a span of seconds while it waits for a
// key, before and after one key. Reads the window through XGetImage as fast as it can; keys go in
// as xdotool sends them. Run by bench/window_figures.sh under a private X server.
//
//   window_probe PROGRAM [--start-only] [--idle SECONDS]
//   prints: "first_frame_ms N", then unless --start-only "cpu_ms_key_wait N", "cpu_ms_end_prompt N"
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <dirent.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace {

using clock_type = std::chrono::steady_clock;

double ms_since(clock_type::time_point t0) {
    return std::chrono::duration<double, std::milli>(clock_type::now() - t0).count();
}

int ignore_errors(Display*, XErrorEvent*) { return 0; }

// The new top-level window once it is mapped.
Window mapped_window_wait(Display* d, double timeout_ms, clock_type::time_point t0) {
    while (ms_since(t0) < timeout_ms) {
        while (XPending(d)) {
            XEvent e;
            XNextEvent(d, &e);
            if (e.type == MapNotify) return e.xmap.window;
        }
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    return 0;
}

std::vector<uint32_t> picture_of(Display* d, Window w) {
    XWindowAttributes a;
    if (!XGetWindowAttributes(d, w, &a) || a.map_state != IsViewable) return {};
    XImage* image = XGetImage(d, w, 0, 0, a.width, a.height, AllPlanes, ZPixmap);
    if (!image) return {};
    std::vector<uint32_t> pixels;
    pixels.reserve(size_t(a.width) * a.height + 2);
    pixels.push_back(uint32_t(a.width));
    pixels.push_back(uint32_t(a.height));
    for (int y = 0; y < a.height; ++y)
        for (int x = 0; x < a.width; ++x) pixels.push_back(uint32_t(XGetPixel(image, x, y)));
    XDestroyImage(image);
    return pixels;
}

struct snapshot {
    double at_ms;
    std::vector<uint32_t> pixels;
};

// Pictures until the window has not changed for settle_ms; the time of the first picture equal to
// the settled one.
double first_settled_picture_ms(Display* d, Window w, clock_type::time_point t0, double settle_ms) {
    std::vector<snapshot> changes;
    double last_change = ms_since(t0);
    while (ms_since(t0) - last_change < settle_ms) {
        std::vector<uint32_t> p = picture_of(d, w);
        double at = ms_since(t0);
        if (p.empty()) continue;
        if (changes.empty() || changes.back().pixels != p) {
            changes.push_back({at, std::move(p)});
            last_change = at;
        }
    }
    return changes.empty() ? -1 : changes.back().at_ms;
}

// Nanoseconds on a processor of each thread of the process, by thread id.
std::map<int, long long> cpu_ns(pid_t pid) {
    std::map<int, long long> threads;
    std::string dir = "/proc/" + std::to_string(pid) + "/task";
    DIR* tasks = opendir(dir.c_str());
    if (!tasks) return threads;
    while (dirent* t = readdir(tasks)) {
        if (t->d_name[0] == '.') continue;
        std::ifstream in(dir + "/" + t->d_name + "/schedstat");
        long long on_cpu = 0;
        if (in >> on_cpu) threads[std::atoi(t->d_name)] = on_cpu;
    }
    closedir(tasks);
    return threads;
}

// The total, and each thread's share in the order the threads were made.
std::string cpu_ms_over(pid_t pid, double seconds) {
    std::map<int, long long> before = cpu_ns(pid);
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
    std::map<int, long long> after = cpu_ns(pid);
    double total = 0;
    std::string each;
    for (const auto& [tid, ns] : after) {
        double ms = double(ns - (before.count(tid) ? before[tid] : 0)) / 1e6;
        total += ms;
        if (ms < 0.05) continue;  // the graphics library's idle workers
        char part[32];
        std::snprintf(part, sizeof part, " %.1f", ms);
        each += part;
    }
    char line[64];
    std::snprintf(line, sizeof line, "%.1f (threads:", total);
    return line + each + ")";
}

void key_send(Window w) {
    std::string command = "xdotool key --window " + std::to_string(w) + " space 2>/dev/null";
    if (std::system(command.c_str()) != 0) std::fprintf(stderr, "xdotool failed\n");
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: window_probe PROGRAM [--start-only] [--idle SECONDS]\n");
        return 2;
    }
    bool start_only = false;
    double idle_seconds = 10;
    for (int i = 2; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--start-only")) start_only = true;
        if (!std::strcmp(argv[i], "--idle") && i + 1 < argc) idle_seconds = std::atof(argv[++i]);
    }
    Display* d = XOpenDisplay(nullptr);
    if (!d) {
        std::fprintf(stderr, "no display\n");
        return 2;
    }
    XSetErrorHandler(ignore_errors);
    XSelectInput(d, DefaultRootWindow(d), SubstructureNotifyMask);
    XSync(d, False);

    pid_t pid;
    char* child_argv[] = {argv[1], nullptr};
    auto t0 = clock_type::now();
    if (posix_spawn(&pid, argv[1], nullptr, nullptr, child_argv, environ) != 0) {
        std::perror("posix_spawn");
        return 2;
    }
    int status = 0;
    Window w = mapped_window_wait(d, 10000, t0);
    if (!w) {
        std::fprintf(stderr, "no window\n");
        kill(pid, SIGKILL);
        waitpid(pid, &status, 0);
        return 1;
    }
    std::printf("first_frame_ms %.1f\n", first_settled_picture_ms(d, w, t0, 1500));
    if (!start_only) {
        std::printf("cpu_ms_key_wait %s\n", cpu_ms_over(pid, idle_seconds).c_str());
        key_send(w);
        first_settled_picture_ms(d, w, clock_type::now(), 500);
        std::printf("cpu_ms_end_prompt %s\n", cpu_ms_over(pid, idle_seconds).c_str());
        key_send(w);
    } else {
        kill(pid, SIGKILL);
    }
    waitpid(pid, &status, 0);
    std::fflush(stdout);
    XCloseDisplay(d);
    return 0;
}
