#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <utility>

#include "core/program_interface.h"
#include "runtime_fixture.h"

namespace {

using platform::id_no;
using platform::id_yes;

TEST(ErrorMessages, TableAndUnprintable) {
    struct row { int32_t n; const char* text; };
    const row rows[] = {
        {1, "NEXT without FOR"}, {5, "Illegal function call"}, {14, "Out of string space"},
        {53, "File not found"}, {69, "Communication-buffer overflow"}, {76, "Path not found"},
        {258, "Invalid handle"}, {300, "Memory region out of range"},
        {313, "Source and destination memory have been freed"},
        {11, "Unprintable error"}, {15, "Unprintable error"}, {200, "Unprintable error"},
        {0, "Unprintable error"}, {-3, "Unprintable error"}, {314, "Unprintable error"},
    };
    for (const auto& r : rows) EXPECT_STREQ(error_message(r.n), r.text) << r.n;
}

TEST(ErrorRaise, FirstErrorOfAStatementWins) {
    recorded_boxes boxes;
    error_raise(53);
    error_raise(52);
    EXPECT_EQ(error_number.load(), 53);
    EXPECT_EQ(event_pending.load(), 1);
}

TEST(ErrorRaise, ZeroAndNegativeBecomeIllegalFunctionCall) {
    for (int32_t n : {0, -1, -2147483647 - 1}) {
        recorded_boxes boxes;
        error_raise(n);
        EXPECT_EQ(error_number.load(), 5) << n;
    }
}

TEST(ErrorReport, UnhandledBoxTextCaptionAndStyle) {
    struct row { int32_t n; int32_t line; const char* text; const char* caption; };
    const row rows[] = {
        {53, 12, "Line:12\nFile not found\nContinue?", "Unhandled Error #53"},
        {200, 7, "Line:7\nUnprintable error\nContinue?", "Unhandled Error #200"},
        {5, 0, "Line:0\nIllegal function call\nContinue?", "Unhandled Error #5"},
    };
    for (const auto& r : rows) {
        recorded_boxes boxes({id_yes});
        error_raise(r.n);
        statement_hook(r.line);
        ASSERT_EQ(boxes.calls.size(), 1u);
        EXPECT_EQ(boxes.calls[0].text, r.text);
        EXPECT_EQ(boxes.calls[0].caption, r.caption);
        EXPECT_EQ(boxes.calls[0].style, 0x1004u);
        EXPECT_EQ(error_number.load(), 0);
        EXPECT_EQ(error_line_get(), r.line);
    }
}

TEST(ErrorReport, NoStopsTheProgram) {
    recorded_boxes boxes({id_no});
    error_raise(53);
    EXPECT_THROW(statement_hook(10), parked);
    EXPECT_EQ(stop_request.load(), 1);
}

// A translated routine of three statements; the second fails. Returns how often each ran.
struct three_statements {
    int runs[3] = {0, 0, 0};
    void run() {
        for (int s = 0; s < 3; ++s) {
            for (;;) {
                runs[s]++;
                if (s == 1 && runs[1] == 1) error_raise(6);
                if (!event_pending.load()) break;
                statement_hook(100 + s);
                if (!statement_retry.load()) break;
            }
        }
    }
};

TEST(StatementProtocol, YesGoesOnWithTheNextStatement) {
    recorded_boxes boxes({id_yes});
    three_statements program;
    program.run();
    EXPECT_EQ(program.runs[0], 1);
    EXPECT_EQ(program.runs[1], 1);
    EXPECT_EQ(program.runs[2], 1);
    ASSERT_EQ(boxes.calls.size(), 1u);
    EXPECT_EQ(boxes.calls[0].text, "Line:101\nOverflow\nContinue?");
}

TEST(StatementProtocol, ResumeRetryRunsTheFailingStatementAgain) {
    recorded_boxes boxes({id_yes});
    error_resume_retry = 1;
    three_statements program;
    program.run();
    EXPECT_EQ(program.runs[1], 2);
    EXPECT_EQ(program.runs[2], 1);
    EXPECT_EQ(error_resume_retry, 0);
}

int handler_entries = 0;
void handler_main_routine() {
    handler_entries++;
    EXPECT_EQ(error_handler_jump, 1);
    error_handler_jump = 0;
}

TEST(ErrorReport, HandlerEntryCallsTheMainRoutineAfresh) {
    recorded_boxes boxes({id_yes});
    handler_entries = 0;  // a repeated run starts from none
    program_register({nullptr, nullptr, handler_main_routine, nullptr});
    error_handler_set = 1;
    current_line_label = 40;
    error_raise(53);
    statement_hook(41);
    EXPECT_EQ(handler_entries, 1);
    EXPECT_EQ(error_code_get(), 53);
    EXPECT_EQ(error_label_line_get(), 40);
    EXPECT_EQ(error_number.load(), 0);
    EXPECT_TRUE(boxes.calls.empty());

    // A second error while the handler runs shows the box instead.
    error_handler_active = 1;
    error_raise(52);
    statement_hook(42);
    EXPECT_EQ(handler_entries, 1);
    EXPECT_EQ(boxes.calls.size(), 1u);
    program_register({nullptr, nullptr, nullptr, nullptr});
}

// RESUME to a line: the handler's entry returns with the line to go to, and the failing
// statement's hook returns to the interrupted entry, which goes there. Nothing is left to retry or
// report, and every later error enters the handler again at the same stack depth.
int resume_line = 0;
const void* handler_frame = nullptr;
void resuming_main_routine() {
    error_handler_jump = 0;
    error_handler_active = 1;
    handler_frame = __builtin_frame_address(0);
    error_handler_active = 0;
    resume_line = 180;
}

TEST(StatementProtocol, ResumeToALineReturnsFromTheHandlerEntry) {
    recorded_boxes boxes;
    program_register({nullptr, nullptr, resuming_main_routine, nullptr});
    error_handler_set = 1;
    const void* first_frame = nullptr;
    for (int n = 0; n < 100; ++n) {
        error_raise(error_subscript_out_of_range);
        statement_hook(170);
        ASSERT_EQ(std::exchange(resume_line, 0), 180) << n;
        if (!first_frame) first_frame = handler_frame;
        ASSERT_EQ(handler_frame, first_frame) << n;
        ASSERT_EQ(statement_retry.load(), 0) << n;
        ASSERT_EQ(error_number.load(), 0) << n;
        ASSERT_EQ(event_pending.load(), 0) << n;
        ASSERT_EQ(error_handler_jump, 0) << n;
        ASSERT_EQ(error_code_get(), error_subscript_out_of_range) << n;
        ASSERT_EQ(error_line_get(), 170) << n;
    }
    EXPECT_TRUE(boxes.calls.empty());
    program_register({nullptr, nullptr, nullptr, nullptr});
}

TEST(StatementProtocol, PauseWaitsAndShutdownParks) {
    recorded_boxes boxes;
    pause_flag = 1;
    // The releaser looks, just before it lifts the pause, whether the hook has already returned.
    std::atomic<bool> hook_returned{false}, returned_while_paused{false};
    std::thread releaser([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        returned_while_paused = hook_returned.load();
        pause_flag = 0;
    });
    statement_hook(0);
    hook_returned = true;
    releaser.join();
    EXPECT_FALSE(returned_while_paused.load());

    pause_flag = 1;
    shutdown_flag = 1;
    EXPECT_THROW(statement_hook(0), parked);
}

// Fatal and critical errors end the process with exit code 70 after their box.
class FatalErrorDeathTest : public ::testing::Test {
protected:
    void SetUp() override { GTEST_FLAG_SET(death_test_style, "threadsafe"); }
};

TEST_F(FatalErrorDeathTest, FatalNumbersEndTheProcessEvenWhileAnErrorIsPending) {
    struct row { int32_t n; const char* box; };
    const row rows[] = {
        {11, "caption=\"Critical Error\" text=\"Division by zero\""},
        {256, "caption=\"Critical Error\" text=\"Out of stack space\""},
        {257, "caption=\"Critical Error #1\" text=\"Out of memory\""},
        {259, "caption=\"Critical Error\" text=\"Cannot find dynamic library file\""},
        {261, "caption=\"Critical Error\" text=\"Sub/Function does not exist in dynamic library\""},
        {502, "caption=\"Critical Error #2\" text=\"Out of memory\""},
        {518, "caption=\"Critical Error #18\" text=\"Out of memory\""},
    };
    for (const auto& r : rows) {
        EXPECT_EXIT(
            {
                setenv("LUMO_MSGBOX", "auto", 1);
                error_raise(5);
                error_raise(r.n);
            },
            ::testing::ExitedWithCode(70), ::testing::HasSubstr(r.box))
            << r.n;
    }
}

TEST_F(FatalErrorDeathTest, CriticalNumbersShowAnOkBoxWithoutContinue) {
    struct row { int32_t n; const char* box; };
    const row rows[] = {
        {305, "style=0x0 caption=\"Critical Error #305\" text=\"Line:9\\nSource memory has been freed\""},
        // The upper end of the critical range.
        {313, "style=0x0 caption=\"Critical Error #313\" text=\"Line:9\\nSource and destination memory have been freed\""},
    };
    for (const auto& r : rows) {
        EXPECT_EXIT(
            {
                setenv("LUMO_MSGBOX", "auto", 1);
                error_raise(r.n);
                statement_hook(9);
            },
            ::testing::ExitedWithCode(70), ::testing::HasSubstr(r.box))
            << r.n;
    }
}

TEST(ErrorRaiseThreaded, TwoThreadsRaisingKeepOneOfTheTwoNumbers) {
    for (int round = 0; round < 200; ++round) {
        recorded_boxes boxes;
        std::thread a([] { error_raise(52); });
        std::thread b([] { error_raise(53); });
        a.join();
        b.join();
        int32_t n = error_number.load();
        EXPECT_TRUE(n == 52 || n == 53) << n;
    }
}

}  // namespace
