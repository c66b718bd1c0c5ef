#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <utility>

#include "core/alerts.h"
#include "platform/message_box.h"
#include "platform/process.h"

namespace {

using namespace platform;

TEST(MessageBox, SafeAnswers) {
    EXPECT_EQ(message_box_safe_answer(mb_yes_no), id_no);
    EXPECT_EQ(message_box_safe_answer(mb_yes_no | mb_system_modal), id_no);
    EXPECT_EQ(message_box_safe_answer(mb_ok), id_ok);
}

TEST(MessageBox, HandlerSeesTheCallAndAnAnswerOfZeroBecomesTheSafeOne) {
    std::vector<message_box_call> calls;
    platform_message_box_handler_set([&](const message_box_call& c) {
        calls.push_back(c);
        return 0;
    });
    EXPECT_EQ(platform_message_box("t", "c", mb_yes_no), id_no);
    alert_number(-5);
    platform_message_box_handler_set(nullptr);
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[1].text, "-5");
    EXPECT_EQ(calls[1].caption, "Alert");
    EXPECT_EQ(calls[1].style, mb_ok);
}

// The script of a whole process: answers in order, unfitting or missing ones get the safe answer.
TEST(MessageBoxDeathTest, ScriptedAnswersForAWholeProcess) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            setenv("LUMO_MSGBOX", "yes,ok,no,yes", 1);
            unsetenv("DISPLAY");
            int a = platform_message_box("a", "A", mb_yes_no);  // yes
            int b = platform_message_box("b", "B", mb_yes_no);  // ok does not fit: no
            int c = platform_message_box("c", "C", mb_ok);      // no does not fit: ok
            int d = platform_message_box("d", "D", mb_yes_no);  // yes
            int e = platform_message_box("e", "E", mb_yes_no);  // script ran out: no
            std::fprintf(stderr, "answers %d %d %d %d %d\n", a, b, c, d, e);
            process_exit(0);
        },
        ::testing::ExitedWithCode(0),
        ::testing::AllOf(::testing::HasSubstr("answers 6 7 1 6 7"),
                         ::testing::HasSubstr("msgbox style=0x4 caption=\"A\" text=\"a\" answer=6")));
}

int flushed = 0;
void flush_marker() { std::fprintf(stderr, "flushed %d\n", ++flushed); }

TEST(ProcessExitDeathTest, RunsEachFlushHookOnceThenEndsWithTheCode) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            process_flush_hook_add(flush_marker);
            process_flush_hook_add(flush_marker);
            process_exit(70);
        },
        ::testing::ExitedWithCode(70), ::testing::ContainsRegex("flushed 1\n$"));
}

template <int N>
void numbered_hook() {
    std::fprintf(stderr, "hook %d\n", N);
}

template <int... N>
void numbered_hooks_add(std::integer_sequence<int, N...>) {
    (process_flush_hook_add(numbered_hook<N>), ...);
}

TEST(ProcessExitDeathTest, EveryHookRunsHoweverManyThereAre) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            numbered_hooks_add(std::make_integer_sequence<int, 40>{});
            process_exit(0);
        },
        ::testing::ExitedWithCode(0), ::testing::AllOf(::testing::HasSubstr("hook 0\nhook 1\n"),
                                                       ::testing::HasSubstr("hook 38\nhook 39\n")));
}

}  // namespace
