// Real keys through the X server, freeglut and the window layer into the emulated BIOS keyboard:
// what a PC keyboard would have stored for each key combination.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <optional>
#include <string>

#include "core/strings.h"
#include "core/timing.h"
#include "display/keyboard.h"
#include "display/window.h"
#include "window_harness.h"

using namespace window_test;

namespace {

// The child: every BIOS key as "bios" and its word (scan * 256 + character); F12 ends a sequence
// with the held state of the A key under both its codes.
void keyboard_echo_body() {
    window_wait();
    report("ready " + std::to_string(shown_frame_dump()));
    for (;;) {
        uint32_t mark = string_temp_top();
        string_descriptor* key = bios_key_buffer_read();
        if (key->length == 1) report("bios " + std::to_string(key->text[0]));
        if (key->length == 2 && key->text[1] == 0x86) {
            report("held " + std::to_string(key_is_down('A')) + std::to_string(key_is_down('a')));
        } else if (key->length == 2) {
            report("bios " + std::to_string(key->text[1] * 256));
        }
        string_temps_release(mark, 0);
        sleep_ms(1);
    }
}

}  // namespace

TEST(keyboard_child, DISABLED_echo) { child_run(keyboard_echo_body); }

namespace {

// The echo child: this executable running keyboard_child.DISABLED_echo, its reports read from a pipe.
class echo_child {
public:
    echo_child() {
        int fds[2];
        if (pipe2(fds, O_CLOEXEC) != 0) return;
        pid_ = fork();
        if (pid_ == 0) {
            prctl(PR_SET_PDEATHSIG, SIGKILL);
            dup2(fds[1], 1);
            setenv("LUMO_MSGBOX", "auto", 1);
            execl("/proc/self/exe", "test_window", "--gtest_filter=keyboard_child.DISABLED_echo",
                  "--gtest_also_run_disabled_tests", nullptr);
            _exit(127);
        }
        close(fds[1]);
        out_ = fds[0];
    }
    ~echo_child() {
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
        if (out_ >= 0) close(out_);
    }
    // The rest of the next report line that starts with prefix; nothing after the time.
    std::optional<std::string> await(const std::string& prefix, int timeout_ms = reply_bound_ms) {
        auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
        for (;;) {
            for (size_t eol; (eol = buffer_.find('\n')) != std::string::npos;) {
                std::string line = buffer_.substr(0, eol);
                buffer_.erase(0, eol + 1);
                if (line.rfind("@" + prefix, 0) == 0) return line.substr(prefix.size() + 1);
            }
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
            pollfd fd{out_, POLLIN, 0};
            if (left.count() <= 0 || poll(&fd, 1, int(left.count())) <= 0) return std::nullopt;
            char chunk[4096];
            ssize_t n = read(out_, chunk, sizeof chunk);
            if (n <= 0) return std::nullopt;
            buffer_.append(chunk, size_t(n));
        }
    }

private:
    pid_t pid_ = -1;
    int out_ = -1;
    std::string buffer_;
};

void xdotool(const std::string& action, Window w, const std::string& keys) {
    std::string command = "xdotool " + action + " --window " + std::to_string(w) + " " + keys + " 2>/dev/null";
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
}

TEST(keyboard_window, RealKeysGiveThePcKeyboardsBiosKeys) {
    if (!std::getenv("DISPLAY")) GTEST_SKIP() << "needs an X display";
    echo_child child;
    std::optional<std::string> ready = child.await("ready ");
    ASSERT_TRUE(ready);
    auto w = static_cast<Window>(std::stoull(*ready));
    struct key_case {
        const char* keys;
        int32_t word;  // the character byte alone for a character key, scan * 256 otherwise
    };
    const key_case cases[] = {
        {"a", 'a'},          {"shift+a", 'A'},         {"ctrl+a", 1},           {"ctrl+shift+a", 1},
        {"ctrl+2", 0x0300},  {"ctrl+6", 30},           {"ctrl+space", ' '},     {"ctrl+bracketleft", 27},
        {"ctrl+Return", 10}, {"ctrl+BackSpace", 127},  {"BackSpace", 8},        {"Tab", 9},
        {"shift+Tab", 0x0F00}, {"Escape", 27},         {"alt+x", 0x2D00},       {"alt+1", 0x7800},
        {"F1", 0x3B00},      {"shift+F1", 0x5400},     {"ctrl+F1", 0x5E00},     {"alt+F1", 0x6800},
        {"F11", 0x8500},     {"Home", 0x4700},         {"ctrl+Left", 0x7300},   {"Delete", 0x5300},
        {"KP_Home", 0x4700}, {"KP_Delete", 0x5300},    {"KP_Divide", '/'},      {"KP_Enter", 13},
        {"exclam", '!'},     {"shift+grave", '~'},
    };
    for (const key_case& c : cases) {
        xdotool("key", w, c.keys);
        EXPECT_EQ(child.await("bios ", reply_bound_ms), std::to_string(c.word)) << c.keys;
    }
    // Ctrl+3 has no BIOS key: the next key is the first to arrive.
    xdotool("key", w, "ctrl+3 b");
    EXPECT_EQ(child.await("bios ", reply_bound_ms), std::to_string('b'));
    // Shift let go before the key, with real key events (XTest) into the focused window: the key
    // is pressed as 'A', released as 'a' and still leaves the held-key list.
    ASSERT_EQ(std::system(("xdotool windowfocus --sync " + std::to_string(w) + " 2>/dev/null").c_str()), 0);
    ASSERT_EQ(std::system("xdotool keydown shift keydown a keyup shift keyup a 2>/dev/null"), 0);
    EXPECT_EQ(child.await("bios ", reply_bound_ms), std::to_string('A'));
    xdotool("key", w, "F12");
    EXPECT_EQ(child.await("held ", reply_bound_ms), "00");
}

// A burst of keys with no delay arrives in one read of the connection: every key still gets its own
// BIOS key, Ctrl chords and Shift+Tab included, round after round.
TEST(keyboard_window, ABurstOfKeysKeepsEachKeysOwnCode) {
    if (!std::getenv("DISPLAY")) GTEST_SKIP() << "needs an X display";
    echo_child child;
    std::optional<std::string> ready = child.await("ready ");
    ASSERT_TRUE(ready);
    auto w = static_cast<Window>(std::stoull(*ready));
    ASSERT_EQ(std::system(("xdotool windowfocus --sync " + std::to_string(w) + " 2>/dev/null").c_str()), 0);
    const int32_t words[] = {1, 2, 3, 4, 'a', 0x0F00, 'b', 'c'};
    for (int round = 0; round < 20; ++round) {
        ASSERT_EQ(std::system("xdotool key --delay 0 ctrl+a ctrl+b ctrl+c ctrl+d a shift+Tab b c 2>/dev/null"), 0);
        std::string got, want;
        for (int32_t word : words) {
            want += " " + std::to_string(word);
            got += " " + child.await("bios ", reply_bound_ms).value_or("none");
        }
        ASSERT_EQ(got, want) << "round " << round;
    }
}

}  // namespace
