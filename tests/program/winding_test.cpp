// The whole winding program without a window: the runtime's threads run it as in the real process,
// the test takes the frames as the renderer would and types the keys. Each run ends the process, so
// each is a death test whose exit code and messages are checked.
#include <gtest/gtest.h>

#include <semaphore.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include "core/errors.h"
#include "core/fatal_signals.h"
#include "core/shutdown.h"
#include "core/statements.h"
#include "display/frames.h"
#include "display/keyboard.h"
#include "display/window.h"
#include "files/file_handles.h"
#include "program/expected_screen.h"
#include "program/winding.h"
#include "runtime/startup.h"

namespace {

using namespace std::chrono_literals;

// Longer than any run takes on a loaded machine: only a hang reaches it.
constexpr auto hang_bound = 60s;

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
void program_start(void (*thread_entry)() = nullptr) {
    unsetenv("DISPLAY");
    setenv("LUMO_MSGBOX", "auto", 1);
    translated_program program = winding_program();
    if (thread_entry) program.thread_entry = thread_entry;
    program_register(program);
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
    auto end = std::chrono::steady_clock::now() + hang_bound;
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
// comes a little later, as a person's would, and again every while until the program ends, so a
// loaded machine that discards late still sees a key that answers the prompt.
void end_prompt_answer() {
    constexpr auto key_every = 300ms;
    for (auto waited = 0ms; waited < hang_bound; waited += key_every) {
        std::this_thread::sleep_for(key_every);
        key_type('b');
    }
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

// The program held inside the hook of line 16, while the table is being printed.
struct held_program {
    sem_t held;
    sem_t go_on;
};
held_program hold;

void hold_at_line_16(int32_t line) {
    if (line != 16) {
        event_pending.store(1);  // every statement up to it reaches the hook
        return;
    }
    statement_hook_observer_set(nullptr);
    sem_post(&hold.held);
    while (sem_wait(&hold.go_on) != 0) {
    }
}

void entry_held_at_line_16() {
    statement_hook_observer_set(hold_at_line_16);
    event_pending.store(1);
    program_thread_entry();
}

TEST_F(WindingThreaded, AKeyTypedWhileDrawingEndsTheWaitAndLaterOnesAreDiscarded) {
    EXPECT_EXIT(
        {
            sem_init(&hold.held, 0, 0);
            sem_init(&hold.go_on, 0, 0);
            program_start(entry_held_at_line_16);
            while (sem_wait(&hold.held) != 0) {
            }
            for (int32_t c : {'k', 'l', 'm'}) key_type(c);
            sem_post(&hold.go_on);
            screen_wait(expected_screen::at_end_prompt(), "end prompt");
            std::this_thread::sleep_for(400ms);
            note("still at the prompt");
            end_prompt_answer();
        },
        ::testing::ExitedWithCode(0), "^still at the prompt\n$");
}

// The lines that reached statement_hook, up to the first 96, kept without allocating.
struct line_record {
    int32_t lines[256];
    int32_t count = 0;
};
line_record seen;

void every_line_observed(int32_t line) {
    if (line == 0) {  // a runtime wait inside a statement
        event_pending.store(1);
        return;
    }
    if (seen.count < 256) seen.lines[seen.count++] = line;
    if (line != 96) {
        event_pending.store(1);  // so that the next statement reaches the hook too
        return;
    }
    statement_hook_observer_set(nullptr);
    std::fprintf(stderr, "lines");
    for (int32_t i = 0; i < seen.count; ++i) std::fprintf(stderr, " %d", seen.lines[i]);
    std::fprintf(stderr, "\n");
}

void entry_observing_every_line() {
    statement_hook_observer_set(every_line_observed);
    event_pending.store(1);
    program_thread_entry();
}

std::string statement_table_lines() {
    std::string lines = "lines 1 3 6 7 10";
    for (int32_t line = 16; line <= 45; ++line) lines += " " + std::to_string(line);
    for (int32_t line : {48, 50, 51, 52, 53, 54, 56, 57, 58, 60, 61, 62, 63, 64, 66, 67, 68, 69})
        lines += " " + std::to_string(line);
    for (int32_t line = 71; line <= 92; ++line) lines += " " + std::to_string(line);
    return lines + " 94 95 96\n";
}

TEST_F(WindingThreaded, EveryStatementReachesTheHookWithItsLineInOrder) {
    EXPECT_EXIT(
        {
            program_start(entry_observing_every_line);
            screen_wait(expected_screen::at_key_wait(), "key wait");
            key_type('a');
            screen_wait(expected_screen::at_end_prompt(), "end prompt");
            end_prompt_answer();
        },
        ::testing::ExitedWithCode(0), statement_table_lines());
}

// An error at line 1 with a handler said to be set: the main routine is entered afresh, and its
// prologue finds no handler to jump to.
void error_with_handler_at_line_1(int32_t line) {
    if (line != 1) return;
    error_handler_set = 1;
    error_raise(error_illegal_function_call);
}

void entry_error_at_line_1() {
    statement_hook_observer_set(error_with_handler_at_line_1);
    event_pending.store(1);
    program_thread_entry();
}

TEST_F(WindingThreaded, TheHandlerJumpWithoutAHandlerEndsWithExitCode99) {
    EXPECT_EXIT(
        {
            program_start(entry_error_at_line_1);
            std::this_thread::sleep_for(hang_bound);
            fail("the program did not end");
        },
        ::testing::ExitedWithCode(99), "");
}

// The signal raised on the program thread once the prologue has installed its handler.
void fpe_at_line_1(int32_t line) {
    if (line == 1) std::raise(SIGFPE);
}

void entry_fpe_at_line_1() {
    statement_hook_observer_set(fpe_at_line_1);
    event_pending.store(1);
    program_thread_entry();
}

TEST_F(WindingThreaded, AFloatingPointSignalOnTheProgramThreadEndsThroughThePrologueHandler) {
    EXPECT_EXIT(
        {
            program_start(entry_fpe_at_line_1);
            std::this_thread::sleep_for(hang_bound);
            fail("the program did not end");
        },
        ::testing::ExitedWithCode(70), "caption=\"Critical Error\" text=\"Division by zero\"");
}

TEST_F(WindingThreaded, ClosingTheWindowDuringTheWaitEnds) {
    EXPECT_EXIT(
        {
            program_start();
            screen_wait(expected_screen::at_key_wait(), "key wait");
            note("closing");
            close_request_bits.fetch_or(1);
            std::this_thread::sleep_for(hang_bound);
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
            std::this_thread::sleep_for(hang_bound);
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
