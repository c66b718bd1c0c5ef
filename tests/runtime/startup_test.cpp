#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <cstdio>

#include "core/errors.h"
#include "core/program_interface.h"
#include "core/program_stack.h"
#include "core/statements.h"
#include "core/strings.h"
#include "core/traps.h"
#include "display/display_control.h"
#include "display/input_devices.h"
#include "display/window.h"
#include "platform/process.h"
#include "runtime/startup.h"
#include "screen/image_handles.h"
#include "screen/image_pool.h"

namespace {

TEST(Startup, ExecutableDirectory) {
    struct row { const char* path; const char* dir; };
    const row rows[] = {
        {"/opt/lumo/bin/winding", "/opt/lumo/bin"}, {"/winding", "/"},
        {"C:prog.exe", "C:"}, {"C:\\dos\\prog.exe", "C:\\dos"}, {"prog", "prog"},
    };
    for (const auto& r : rows) EXPECT_EQ(executable_directory_of(r.path), r.dir) << r.path;
}

TEST(Startup, CommandLineJoinsArgumentsWithSingleSpaces) {
    char prog[] = "prog", a[] = "a", bc[] = "b c", empty[] = "";
    char* none[] = {prog};
    char* two[] = {prog, a, bc};
    char* blank[] = {prog, a, empty, a};
    EXPECT_EQ(command_line_join(1, none), "");
    EXPECT_EQ(command_line_join(3, two), "a b c");
    EXPECT_EQ(command_line_join(4, blank), "a  a");
}

// A tiny translated program: two statements, the first fails and its box is answered Yes.
void tiny_program_thread() {
    int ran = 0;
    error_raise(53);
    if (event_pending.load()) statement_hook(10);
    ran++;
    if (event_pending.load()) statement_hook(20);
    std::fprintf(stderr, "tiny program ran %d, error %d, resize locked %d\n", ran, error_number.load(),
                 window_resize_locked.load());
    process_exit(0);
}

// The state start-up leaves for the program's first statement.
void startup_state_program_thread() {
    std::string message(reinterpret_cast<char*>(x86_error_message->text), 19);
    std::fprintf(stderr, "first image %d\n", image_handle_new(8, 8, 0, 0));
    std::fprintf(stderr, "F1 %X F12 %X up %X/%d\n", key_trap_table[1].key_code.load(),
                 key_trap_table[31].key_code.load(), key_trap_table[11].key_code.load(),
                 key_trap_table[11].alternative_code.load());
    std::fprintf(stderr, "command line [%.*s] opcode [%s] empty %d space [%.*s]\n", command_line_string->length,
                 reinterpret_cast<char*>(command_line_string->text), message.c_str(), string_empty->length,
                 string_space->length, reinterpret_cast<char*>(string_space->text));
    string_descriptor* mouse = device_description_get(2, 1);
    std::fprintf(stderr, "devices %d: keyboard buttons %d, mouse %d %d %d %.*s\n", device_count(),
                 device_button_count(1, 1), device_button_count(2, 1), device_axis_count(2, 1),
                 device_wheel_count(2, 1), mouse->length, reinterpret_cast<char*>(mouse->text));
    pthread_attr_t attributes;
    size_t stack_size = 0;
    if (pthread_getattr_np(pthread_self(), &attributes) == 0) {
        pthread_attr_getstacksize(&attributes, &stack_size);
        pthread_attr_destroy(&attributes);
    }
    stack_t alternate{};
    sigaltstack(nullptr, &alternate);
    std::fprintf(stderr, "program stack %s, alternate signal stack %s\n",
                 stack_size >= program_stack_size ? "whole" : "short", alternate.ss_flags & SS_DISABLE ? "off" : "on");
    process_exit(0);
}

// A death test's child: start-up without a window, boxes answered as scripted, then the program
// thread runs until it ends the process. argc 1 gives no arguments, 3 gives "a" and "b c".
[[noreturn]] void run_headless(const char* answers, const translated_program& program, int argc) {
    static char words[][8] = {"prog", "a", "b c"};
    static char* argv[] = {words[0], words[1], words[2]};
    setenv("LUMO_MSGBOX", answers, 1);
    unsetenv("DISPLAY");
    program_register(program);
    runtime_start(argc, argv);
    for (;;) pause();
}

void console_wanted() { console_option = 1; }

void console_program_thread() {
    image_record* console = image_handle_record(console_image_handle);
    std::fprintf(stderr, "console %d text %d\n", console ? console->is_console : -1, console ? console->is_text : -1);
    process_exit(0);
}

TEST(StartupDeathTest, TheConsoleImageWritesToStandardOutput) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(run_headless("auto", {console_wanted, console_program_thread, nullptr, nullptr}, 1),
                ::testing::ExitedWithCode(0), "console 1 text 1\n");
}

TEST(StartupDeathTest, StartUpLeavesItsTablesForTheFirstStatement) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        run_headless("auto", {nullptr, startup_state_program_thread, nullptr, nullptr}, 3),
        ::testing::ExitedWithCode(0),
        // Slots 0-1 are reserved, mode 0 makes eight text pages, the two 32-bit images take 10 and 11.
        ::testing::AllOf(::testing::HasSubstr("first image -12\n"),
                         ::testing::HasSubstr("F1 3B00 F12 8600 up 4800/100264\n"),
                         ::testing::HasSubstr("command line [a b c] opcode [Unknown Opcode (  )] empty 0 space [ ]"),
                         ::testing::HasSubstr("devices 2: keyboard buttons 512, mouse 3 2 3 [MOUSE][BUTTON][AXIS][WHEEL]\n"),
                         ::testing::HasSubstr("program stack whole, alternate signal stack on\n")));
}

// The box answered No stops the program; the control thread then ends the process with exit code 0.
void failing_program_thread() {
    error_raise(53);
    if (event_pending.load()) statement_hook(30);
    std::fprintf(stderr, "went on after No\n");
    process_exit(3);
}

TEST(StartupDeathTest, AnswerNoEndsTheProcessWithExitCode0) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        run_headless("no", {nullptr, failing_program_thread, nullptr, nullptr}, 1),
        ::testing::ExitedWithCode(0), ::testing::HasSubstr("caption=\"Unhandled Error #53\" text=\"Line:30"));
}

TEST(StartupDeathTest, RuntimeStartRunsTheProgramThreadHeadless) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        run_headless("yes", {window_resizable_set, tiny_program_thread, nullptr, nullptr}, 1),
        ::testing::ExitedWithCode(0),
        ::testing::AllOf(::testing::HasSubstr("caption=\"Unhandled Error #53\" text=\"Line:10\\nFile not found"),
                         ::testing::HasSubstr("tiny program ran 1, error 0, resize locked 0")));
}

}  // namespace
