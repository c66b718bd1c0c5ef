// The winding program itself in a real window: started as its own process, found, looked at and
// typed to with the X tools a person would use (xdotool, xwd, xprop), and ended.
#include <gtest/gtest.h>

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "program/expected_screen.h"
#include "window_harness.h"

extern char** environ;

namespace {

using namespace std::chrono_literals;

std::string command_output(const std::string& command) {
    std::string out;
    if (FILE* pipe = popen(command.c_str(), "r")) {
        char buffer[4096];
        size_t n;
        while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, n);
        pclose(pipe);
    }
    return out;
}

uint32_t big_endian(const std::string& s, size_t at) {
    auto b = [&](size_t i) { return uint32_t(uint8_t(s[at + i])); };
    return b(0) << 24 | b(1) << 16 | b(2) << 8 | b(3);
}

// A window's picture through xwd (32-bit ZPixmap), as 0x00RRGGBB; empty when it cannot be read.
window_test::picture xwd_picture(Window w) {
    std::string d = command_output("xwd -silent -id " + std::to_string(w) + " 2>/dev/null");
    window_test::picture p;
    if (d.size() < 100) return p;
    uint32_t header = big_endian(d, 0), width = big_endian(d, 16), height = big_endian(d, 20);
    uint32_t byte_order = big_endian(d, 28), bits = big_endian(d, 44), line = big_endian(d, 48);
    uint32_t colours = big_endian(d, 76);
    size_t data = header + size_t(colours) * 12;
    if (bits != 32 || d.size() < data + size_t(line) * height) return p;
    p.width = int32_t(width);
    p.height = int32_t(height);
    for (uint32_t y = 0; y < height; ++y)
        for (uint32_t x = 0; x < width; ++x) {
            size_t at = data + size_t(y) * line + size_t(x) * 4;
            uint32_t v = byte_order == 0 ? uint32_t(uint8_t(d[at])) | uint32_t(uint8_t(d[at + 1])) << 8 |
                                               uint32_t(uint8_t(d[at + 2])) << 16
                                         : big_endian(d, at) & 0xFFFFFF;
            p.pixels.push_back(v & 0xFFFFFF);
        }
    return p;
}

std::vector<uint32_t> without_alpha(const expected_screen& s) {
    std::vector<uint32_t> p = s.pixels();
    for (uint32_t& v : p) v &= 0xFFFFFF;
    return p;
}

class winding_process {
public:
    winding_process() {
        std::string path = std::string(LUMO_BUILD_DIR) + "/winding";
        setenv("LUMO_MSGBOX", "auto", 1);
        char* argv[] = {path.data(), nullptr};
        if (posix_spawn(&pid_, path.c_str(), nullptr, nullptr, argv, environ) != 0) pid_ = -1;
    }
    ~winding_process() {
        if (pid_ > 0 && !ended_) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
    }
    // The program's window: titled EXPLANATION and owned by no other test (its id is new).
    Window window_find() {
        constexpr int looks = 600;  // 50 ms apart: only a hang runs out, however loaded the machine
        for (int i = 0; i < looks; ++i) {
            std::string ids = command_output("xdotool search --name '^EXPLANATION$' 2>/dev/null");
            if (!ids.empty()) return static_cast<Window>(std::stoull(ids));
            std::this_thread::sleep_for(50ms);
        }
        return 0;
    }
    // The exit code, or -1 when the process is still running after the time.
    int exit_code(std::chrono::milliseconds limit = std::chrono::milliseconds(window_test::reply_bound_ms)) {
        auto end = std::chrono::steady_clock::now() + limit;
        while (std::chrono::steady_clock::now() < end) {
            int status;
            if (waitpid(pid_, &status, WNOHANG) == pid_) {
                ended_ = true;
                return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            }
            std::this_thread::sleep_for(10ms);
        }
        return -1;
    }
    bool running() { return exit_code(0ms) == -1; }

private:
    pid_t pid_ = -1;
    bool ended_ = false;
};

void key(Window w, const char* name) {
    std::string command = "xdotool key --window " + std::to_string(w) + " " + name + " 2>/dev/null";
    ASSERT_EQ(std::system(command.c_str()), 0);
}

// Waits until the window, sized like the picture, shows the screen pixel for pixel.
::testing::AssertionResult screen_shown(Window w, const expected_screen& screen) {
    std::vector<uint32_t> wanted = without_alpha(screen);
    window_test::picture got;
    constexpr int looks = 600;  // 50 ms apart: only a hang runs out, however loaded the machine
    for (int i = 0; i < looks; ++i) {
        got = xwd_picture(w);
        if (got.width == 640 && got.height == 480 && got.pixels == wanted) return ::testing::AssertionSuccess();
        std::this_thread::sleep_for(50ms);
    }
    size_t differ = 0;
    for (size_t i = 0; i < got.pixels.size() && i < wanted.size(); ++i) differ += got.pixels[i] != wanted[i];
    return ::testing::AssertionFailure() << "window " << got.width << " x " << got.height << ", " << differ
                                         << " pixels differ";
}

void size_like_the_picture(Window w) {
    std::string command = "xdotool windowsize " + std::to_string(w) + " 640 480 2>/dev/null";
    EXPECT_EQ(std::system(command.c_str()), 0);
}

class winding_window : public ::testing::Test {
protected:
    void SetUp() override {
        if (!std::getenv("DISPLAY")) GTEST_SKIP() << "needs an X display";
        glyph_bitmaps_load();
    }
    // The window found and sized like the picture (stretch mode 2 then draws it 1:1).
    Window window_ready(winding_process& p) {
        Window w = p.window_find();
        if (w) size_like_the_picture(w);
        return w;
    }
};

// One scenario at a time in one test: each makes a window with the same title.
TEST_F(winding_window, ShowsTheScreenTakesKeysClosesAndEnds) {
    {
        SCOPED_TRACE("two keys");
        winding_process p;
        Window w = window_ready(p);
        ASSERT_NE(w, 0u);
        EXPECT_EQ(window_test::xprop_title(w), "EXPLANATION");
        EXPECT_TRUE(screen_shown(w, expected_screen::at_key_wait()));
        key(w, "a");
        EXPECT_TRUE(screen_shown(w, expected_screen::at_end_prompt()));
        std::this_thread::sleep_for(300ms);
        EXPECT_TRUE(p.running());
        key(w, "space");
        EXPECT_EQ(p.exit_code(), 0);
    }
    {
        SCOPED_TRACE("a key as soon as the window is there");
        winding_process p;
        Window w = p.window_find();
        ASSERT_NE(w, 0u);
        key(w, "Return");
        size_like_the_picture(w);
        EXPECT_TRUE(screen_shown(w, expected_screen::at_end_prompt()));
        std::this_thread::sleep_for(300ms);
        key(w, "x");
        EXPECT_EQ(p.exit_code(), 0);
    }
    {
        // Not resized by the test: the window fits itself to the 640 x 480 picture, also after
        // the 640 x 350 page shown first.
        SCOPED_TRACE("fits itself to the picture and is closed during the wait");
        winding_process p;
        Window w = p.window_find();
        ASSERT_NE(w, 0u);
        EXPECT_TRUE(screen_shown(w, expected_screen::at_key_wait()));
        window_test::x_connection x;
        x.close_send(w);
        EXPECT_EQ(p.exit_code(), 0);
    }
}

}  // namespace
