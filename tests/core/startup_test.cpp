#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <unistd.h>

#include "core/errors.h"
#include "core/program_interface.h"
#include "core/startup.h"
#include "core/statements.h"
#include "display/display_control.h"
#include "platform/process.h"

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
                 window_resize_locked);
    process_exit(0);
}

TEST(StartupDeathTest, RuntimeStartRunsTheProgramThreadHeadless) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            setenv("LUMO_MSGBOX", "yes", 1);
            program_register({window_resizable_set, tiny_program_thread, nullptr, nullptr});
            char prog[] = "prog";
            char* argv[] = {prog};
            runtime_start(1, argv);
            for (;;) pause();
        },
        ::testing::ExitedWithCode(0),
        ::testing::AllOf(::testing::HasSubstr("caption=\"Unhandled Error #53\" text=\"Line:10\\nFile not found"),
                         ::testing::HasSubstr("tiny program ran 1, error 0, resize locked 0")));
}

}  // namespace
