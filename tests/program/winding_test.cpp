// The whole winding program without a window: the runtime's threads run it as in the real process,
// the test takes the frames as the renderer would and types the keys. Each run ends the process, so
// each is a death test whose exit code and messages are checked.
#include <gtest/gtest.h>

#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <thread>

#include "core/fatal_signals.h"
#include "core/shutdown.h"
#include "core/startup.h"
#include "display/frames.h"
#include "display/keyboard.h"
#include "display/window.h"
#include "files/file_handles.h"
#include "program/expected_screen.h"
#include "core/errors.h"
#include "program/winding.h"

namespace {

using namespace std::chrono_literals;

[[noreturn]] void fail(const char* what) {
    std::fprintf(stderr, "FAILED: %s\n", what);
    std::fflush(stderr);
    _exit(3);
}

void note(const char* what) {
    std::fprintf(stderr, "%s\n", what);
    std::fflush(stderr);
}

// Start-up steps 1-31 with the program registered; no window is made, so the statements that would
// wait for one find it there and leave their requests for a main thread that never takes them.
void program_start() {
    unsetenv("DISPLAY");
    setenv("LUMO_MSGBOX", "auto", 1);
    program_register(winding_program());
    window_exists.store(1);
    static char name[] = "winding";
    static char* argv[] = {name, nullptr};
    runtime_start(1, argv);
}

// Takes the newest ready frame as the renderer does (ready -> shown), copies it and frees the slot.
bool frame_take(std::vector<uint32_t>& pixels) {
    software_frame* newest = nullptr;
    for (software_frame& f : software_frames)
        if (f.state.load() == frame_slot_ready && (!newest || f.number.load() > newest->number.load())) newest = &f;
    if (!newest || !software_frame_claim(*newest, frame_slot_ready, frame_slot_shown)) return false;
    bool right_size = newest->width == expected_screen::width && newest->height == expected_screen::height;
    if (right_size) pixels.assign(newest->pixels, newest->pixels + size_t(newest->width) * newest->height);
    newest->state.store(frame_slot_free);
    return right_size;
}

// Waits until a frame shows the screen; on a timeout tells how the last frame differed.
void screen_wait(const expected_screen& screen, const char* name) {
    std::vector<uint32_t> wanted = screen.pixels(), got;
    auto end = std::chrono::steady_clock::now() + 20s;
    while (std::chrono::steady_clock::now() < end) {
        if (frame_take(got) && got == wanted) return;
        std::this_thread::sleep_for(2ms);
    }
    size_t differ = 0, first = 0;
    for (size_t i = 0; i < got.size() && i < wanted.size(); ++i)
        if (got[i] != wanted[i] && differ++ == 0) first = i;
    std::fprintf(stderr, "%s: %zu pixels differ, first at (%zu, %zu): %08X instead of %08X\n", name, differ,
                 first % 640, first / 640, got.empty() ? 0 : got[first], wanted[first]);
    fail("the screen did not appear");
}

void key_type(int32_t c) {
    key_down_char(c);
    key_up_char(c);
}

// The prompt is printed just before the keys typed earlier are discarded: a key for the prompt
// comes a little later, as a person's would.
void end_prompt_answer() {
    std::this_thread::sleep_for(300ms);
    key_type('b');
    std::this_thread::sleep_for(20s);
    fail("the program did not end");
}

class WindingThreaded : public ::testing::Test {
protected:
    void SetUp() override { GTEST_FLAG_SET(death_test_style, "threadsafe"); }
};

TEST_F(WindingThreaded, ShowsTheScreenWaitsForAKeyPromptsAndEnds) {
    EXPECT_EXIT(
        {
            program_start();
            screen_wait(expected_screen::at_key_wait(), "key wait");
            note("key-wait screen shown");
            key_type('a');
            screen_wait(expected_screen::at_end_prompt(), "end prompt");
            note("end prompt shown");
            end_prompt_answer();
        },
        ::testing::ExitedWithCode(0), "key-wait screen shown\nend prompt shown");
}

TEST_F(WindingThreaded, AKeyTypedWhileDrawingEndsTheWaitAndLaterOnesAreDiscarded) {
    EXPECT_EXIT(
        {
            program_start();
            for (int32_t c : {'k', 'l', 'm'}) key_type(c);
            // The title is set at line 10: before it the screen is still being made.
            if (window_title_get() == "EXPLANATION") note("the keys came late");
            screen_wait(expected_screen::at_end_prompt(), "end prompt");
            std::this_thread::sleep_for(400ms);
            note("still at the prompt");
            end_prompt_answer();
        },
        ::testing::ExitedWithCode(0), "^still at the prompt\n$");
}

TEST_F(WindingThreaded, ClosingTheWindowDuringTheWaitEnds) {
    EXPECT_EXIT(
        {
            program_start();
            screen_wait(expected_screen::at_key_wait(), "key wait");
            note("closing");
            close_request_bits.fetch_or(1);
            std::this_thread::sleep_for(20s);
            fail("the program did not end");
        },
        ::testing::ExitedWithCode(0), "closing");
}

TEST_F(WindingThreaded, CtrlBreakAtTheEndPromptEnds) {
    EXPECT_EXIT(
        {
            program_start();
            key_type('k');
            screen_wait(expected_screen::at_end_prompt(), "end prompt");
            note("breaking");
            key_down_code(100318);
            std::this_thread::sleep_for(20s);
            fail("the program did not end");
        },
        ::testing::ExitedWithCode(0), "breaking");
}

// The signal handler hands the error over; the box comes from another thread, then exit code 70.
TEST_F(WindingThreaded, AFloatingPointSignalIsTheDivisionByZeroError) {
    EXPECT_EXIT(
        {
            setenv("LUMO_MSGBOX", "auto", 1);
            fatal_signal_handover_start();
            std::signal(SIGFPE, fpe_signal_handler);
            std::raise(SIGFPE);
            fail("the handler returned");
        },
        ::testing::ExitedWithCode(70), "caption=\"Critical Error\" text=\"Division by zero\"");
}

TEST(WindingReset, ClosesEveryFileAndClearsTheHandlerWords) {
    char dir[] = "/tmp/lumo-reset-XXXXXX";
    ASSERT_NE(::mkdtemp(dir), nullptr);
    std::string name = std::string(dir) + "/f";
    int32_t slot = file_handle_open(name, file_access_write, 0, file_create_open);
    ASSERT_GE(slot, 0);
    file_number_bind(4, slot);
    error_handler_set = 1;
    error_handler_active = 1;
    program_state_reset();
    EXPECT_EQ(file_number_state(4), 0);
    EXPECT_EQ(file_handle_valid(slot), 0);
    EXPECT_EQ(error_handler_set, 0);
    EXPECT_EQ(error_handler_active, 0);
    ::unlink(name.c_str());
    ::rmdir(dir);
}

}  // namespace
