#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <thread>
#include <vector>

#include "core/errors.h"
#include "core/memory.h"
#include "core/runtime_fixture.h"
#include "core/shutdown.h"
#include "core/statements.h"
#include "core/timing.h"
#include "core/traps.h"
#include "display/frames.h"
#include "display/keyboard.h"
#include "files/shell.h"
#include "machine/ports.h"
#include "platform/process.h"
#include "runtime/control.h"
#include "runtime/lifecycle.h"
#include "screen/modes.h"

namespace {

using ::testing::AllOf;
using ::testing::ExitedWithCode;
using ::testing::HasSubstr;
using ::testing::Not;

TEST(BiosTicks, TicksSinceMidnight) {
    struct row {
        int64_t day_ms;
        uint32_t ticks;
    };
    const row rows[] = {
        {0, 0}, {54, 0}, {55, 1}, {1000, 18}, {43200000, 786240}, {86399999, 1572479},
    };
    for (const auto& r : rows) EXPECT_EQ(bios_tick_count_at(r.day_ms), r.ticks) << r.day_ms;
}

// Turns of the control thread on the test thread, with a clock that moves only when it sleeps.
struct turn_clock {
    static inline int64_t now = 0;
    static inline std::vector<int64_t> sleeps;
    static int64_t now_ms() { return now; }
    static void sleep(int64_t ms) {
        sleeps.push_back(ms);
        now += ms;
    }
};

class ControlTurn : public ::testing::Test {
protected:
    void SetUp() override {
        static const time_source source{turn_clock::now_ms, turn_clock::sleep, nullptr};
        turn_clock::now = 5000;
        turn_clock::sleeps.clear();
        time_source_set(&source);
        dos_memory_clear();
        keyboard_reset();
        timer_base_clock = 5000;
        timer_base_day_ms = 0;
        shell_child_running = 0;
        autodisplay_mode = 0;
        frame_done = 0;
    }
    void TearDown() override {
        time_source_set(nullptr);
        shell_child_running = 0;
        autodisplay_mode = 1;
        close_request_bits = 0;
        close_handled_by_program = 0;
        lock_key_source_set(nullptr);
    }
    recorded_boxes boxes;
};

TEST_F(ControlTurn, WritesTheBiosTickCount) {
    timer_base_day_ms = 43200000;  // noon: 786240 = 0x0BFF40 ticks
    dos_memory[bios_tick_address + 3] = 0xAB;
    control_turn();
    EXPECT_EQ(dos_memory[bios_tick_address], 0x40);
    EXPECT_EQ(dos_memory[bios_tick_address + 1], 0xFF);
    EXPECT_EQ(dos_memory[bios_tick_address + 2], 0x0B);
    EXPECT_EQ(dos_memory[bios_tick_address + 3], 0xAB);
}

TEST_F(ControlTurn, FramesEverySecondTurnOnlyWithAutomaticDisplay) {
    int32_t ticks = frame_tick_count.load();
    for (int i = 0; i < 4; ++i) control_turn();
    EXPECT_EQ(frame_tick_count.load() - ticks, 2);
    EXPECT_EQ(frame_done.load(), 0);  // the builder was not called
    autodisplay_mode = 1;
    control_turn();
    int32_t built_on_first = frame_done.exchange(0);
    control_turn();
    int32_t built_on_second = frame_done.exchange(0);
    EXPECT_EQ(built_on_first + built_on_second, 1);
    EXPECT_EQ(frame_tick_count.load() - ticks, 3);
    EXPECT_EQ(turn_clock::now - 5000, 6 * 16);
}

// The retrace flags rise for the last millisecond of a 16 ms turn while a program reads the status
// port (it takes the latch); while nobody does, a turn sleeps once.
TEST_F(ControlTurn, RetraceTakesItsOwnMillisecondOnlyWhileTheStatusPortIsRead) {
    retrace_latch = 0;
    control_turn();
    EXPECT_EQ(turn_clock::sleeps, (std::vector<int64_t>{15, 1}));
    EXPECT_EQ(retrace_latch.load(), 1);
    EXPECT_EQ(retrace_active.load(), 0);
    turn_clock::sleeps.clear();
    control_turn();  // the latch was not taken
    EXPECT_EQ(turn_clock::sleeps, (std::vector<int64_t>{16}));
    turn_clock::sleeps.clear();
    retrace_latch = 0;  // a port read took it
    control_turn();
    EXPECT_EQ(turn_clock::sleeps, (std::vector<int64_t>{15, 1}));
}

TEST_F(ControlTurn, IdlesWhileAShellChildRuns) {
    int32_t ticks = frame_tick_count.load();
    shell_child_running = 1;
    control_turn();  // one more frame, then idle
    EXPECT_EQ(shell_child_running.load(), -1);
    EXPECT_EQ(frame_tick_count.load() - ticks, 1);
    EXPECT_TRUE(turn_clock::sleeps.empty());
    stop_request = 1;  // not looked at while idle
    control_turn();
    EXPECT_EQ(turn_clock::sleeps, std::vector<int64_t>{64});
    EXPECT_EQ(frame_tick_count.load() - ticks, 1);
    stop_request = 0;
}

TEST_F(ControlTurn, LockKeysFollowTheKeyboardWithinTwoTurns) {
    lock_key_source_set([] {
        platform_key_states s{};
        s.caps_lock = true;
        return s;
    });
    control_turn();
    control_turn();
    EXPECT_TRUE(key_is_down(100301));
    lock_key_source_set([] { return platform_key_states{}; });
    control_turn();
    control_turn();
    EXPECT_FALSE(key_is_down(100301));
}

TEST_F(ControlTurn, ACloseTheProgramHandlesDoesNotStop) {
    EXPECT_EQ(close_request_take(), 0);
    close_request_bits = 1;  // the close button
    control_turn();
    EXPECT_EQ(shutdown_flag.load(), 0);
    EXPECT_EQ(close_request_take(), 1);
    EXPECT_EQ(close_request_bits.load(), 0);
}

// --- Shutdown with the real threads (each test ends the process) ----------------------------------

// The runtime's threads as start-up makes them; the calling thread is the program thread.
void runtime_threads_start() {
    traps_tables_make();
    key_trap_defaults_set();
    timer_trap_zero_init();
    key_rings_reset();
    std::thread(timer_thread_entry).detach();
    std::thread(control_thread_entry).detach();
}

// Another thread asks to stop after a while, as Ctrl+Break does.
void stop_requested_after(int ms) {
    std::thread([ms] {
        std::this_thread::sleep_for(std::chrono::milliseconds(ms));
        stop_request = 1;
    }).detach();
}

void statement_boundary() {
    if (event_pending.load()) statement_hook(10);
}

const auto orderly = Not(HasSubstr("did not stop"));

TEST(ShutdownThreaded, StopDuringADelay) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            runtime_threads_start();
            stop_requested_after(50);
            std::fprintf(stderr, "in delay\n");
            delay_seconds(1000);
            std::fprintf(stderr, "delay returned\n");
            process_exit(3);
        },
        ExitedWithCode(0), AllOf(HasSubstr("in delay"), Not(HasSubstr("delay returned")), orderly));
}

TEST(ShutdownThreaded, StopDuringTheEndPromptsKeyWait) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            static int closes = 0;
            runtime_shutdown_seams.files_close_all = [] { std::fprintf(stderr, "files closed %d\n", ++closes); };
            runtime_threads_start();
            stop_requested_after(150);
            program_end();
        },
        ExitedWithCode(0),
        AllOf(HasSubstr("files closed 1"), HasSubstr("files closed 2"), orderly));
}

TEST(ShutdownThreaded, StopDuringAFrameBuildSuspension) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            frame_suspend_enabled = 1;
            autodisplay_mode = 1;
            runtime_threads_start();
            stop_request = 1;
            // Once the shutdown has begun the control thread builds no more frames ...
            while (!shutdown_flag.load()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
            // ... so a suspension asked for now gets no answer from the builder.
            frame_suspend_begin();
            std::fprintf(stderr, "suspension ended\n");
            frame_suspend_end();
            statement_boundary();
            process_exit(3);
        },
        ExitedWithCode(0), AllOf(HasSubstr("suspension ended"), orderly));
}

TEST(ShutdownThreaded, TheBiosTickCountAdvances) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            auto ticks = [] {
                return dos_byte_read(bios_tick_address) | dos_byte_read(bios_tick_address + 1) << 8 |
                       dos_byte_read(bios_tick_address + 2) << 16;
            };
            runtime_threads_start();
            std::this_thread::sleep_for(std::chrono::milliseconds(40));
            int first = ticks();
            auto end = std::chrono::steady_clock::now() + std::chrono::seconds(60);  // only a hang
            while (ticks() == first && std::chrono::steady_clock::now() < end)
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            std::fprintf(stderr, "ticks %s\n", ticks() > first ? "advanced" : "stuck");
            stop_request = 1;
            program_thread_park();
        },
        ExitedWithCode(0), AllOf(HasSubstr("ticks advanced"), orderly));
}

TEST(ShutdownThreaded, TheCloseButtonStopsTheProgramAtABoundary) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            runtime_threads_start();
            close_request_bits = 1;
            for (;;) {
                statement_boundary();
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
        },
        ExitedWithCode(0), orderly);
}

TEST(ShutdownThreaded, AProgramThatTookOverClosingSeesTheCloseButton) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            runtime_threads_start();
            close_request_take();
            close_request_bits = 1;
            auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(200);
            while (std::chrono::steady_clock::now() < end) statement_boundary();
            std::fprintf(stderr, "close seen %d\n", close_request_take());
            stop_request = 1;
            program_thread_park();
        },
        ExitedWithCode(0), AllOf(HasSubstr("close seen 1"), orderly));
}

TEST(ShutdownThreaded, AProgramThatNeverParksDoesNotHangTheShutdown) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            runtime_threads_start();
            stop_request = 1;
            for (;;) std::this_thread::sleep_for(std::chrono::milliseconds(10));  // never at a boundary
        },
        ExitedWithCode(0), HasSubstr("did not stop"));
}

}  // namespace
