#include "core/program_stack.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <semaphore>

#include "core/program_interface.h"
#include "platform/process.h"
#include "runtime_fixture.h"

namespace {

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool sanitized = true;  // their frames are about ten times larger
#else
constexpr bool sanitized = false;
#endif
#if defined(__SANITIZE_ADDRESS__)
constexpr bool address_sanitizer = true;  // reports a fault itself and exits with code 1
#else
constexpr bool address_sanitizer = false;
#endif

// Small enough to run out at once.
constexpr size_t small_stack = size_t{1} << 20;
// More than the address space holds.
constexpr size_t impossible_stack = size_t{1} << 50;

TEST(ProgramStack, OnlyAFaultInTheGuardIsTheStackRunningOut) {
    const stack_guard guard{0x10000, 0x20000};
    struct row { const char* name; stack_guard guard; uintptr_t address; int code; bool hit; };
    const row rows[] = {
        {"the guard's first byte", guard, 0x10000, SEGV_ACCERR, true},
        {"inside the guard", guard, 0x18000, SEGV_ACCERR, true},
        {"the guard's last byte", guard, 0x1ffff, SEGV_ACCERR, true},
        {"an unmapped address in the guard", guard, 0x18000, SEGV_MAPERR, true},
        {"just below the guard", guard, 0xffff, SEGV_ACCERR, false},
        {"the stack itself", guard, 0x20000, SEGV_ACCERR, false},
        {"a null pointer", guard, 0, SEGV_MAPERR, false},
        {"a thread without a guard", stack_guard{}, 0, SEGV_MAPERR, false},
        {"sent by a process", guard, 0x18000, SI_USER, false},
        {"sent to the thread", guard, 0x18000, SI_TKILL, false},
    };
    for (const auto& r : rows) EXPECT_EQ(stack_guard_hit(r.guard, r.address, r.code), r.hit) << r.name;
}

std::binary_semaphore thread_ran{0};
void thread_ran_release() { thread_ran.release(); }

TEST(ProgramStack, AStackThatCannotBeReservedFallsBackToTheDefaultSize) {
    program_thread_start(thread_ran_release, impossible_stack);
    thread_ran.acquire();
}

// A translated program whose handler resumes at the failing line until a million errors are
// handled; each RESUME to a line goes on inside the handler's entry of the main routine.
//   10 ON ERROR GOTO 100
//   20 ERROR 6
//   30 END
//   100 handled = handled + 1
//   110 IF handled < 1000000 THEN RESUME 20 ELSE RESUME 30
constexpr int32_t errors_resumed = 1'000'000;
struct resume_program {
    int32_t handled = 0;
    int32_t ends = 0;  // line 30, once in every entry as the entries return
};
resume_program resumed;
std::binary_semaphore resume_program_done{0};

void statement(int32_t line, void (*calls)()) {
    do {
        calls();
        if (!event_pending.load()) return;
        statement_hook(line);
    } while (statement_retry.load());
}

void resume_main_routine() {
    bool resume_at_20 = true;
    if (error_handler_jump) {
        error_handler_jump = 0;
        error_handler_active = 1;
        statement(100, [] { ++resumed.handled; });
        error_handler_active = 0;
        resume_at_20 = resumed.handled < errors_resumed;
    } else {
        statement(10, [] { error_handler_set = 1; });
    }
    if (resume_at_20) statement(20, [] { error_raise(error_overflow); });
    ++resumed.ends;
}

void resume_program_thread() {
    resume_main_routine();
    resume_program_done.release();
}

TEST(ProgramStack, AMillionErrorsResumedToALineFit) {
    if (sanitized) GTEST_SKIP() << "a sanitizer's frames are about ten times larger: a million entries would touch a gigabyte";
    recorded_boxes boxes;
    resumed = {};
    program_register({nullptr, resume_program_thread, resume_main_routine, nullptr});
    program_thread_start(resume_program_thread);
    resume_program_done.acquire();
    program_register({nullptr, nullptr, nullptr, nullptr});
    EXPECT_EQ(resumed.handled, errors_resumed);
    EXPECT_EQ(resumed.ends, errors_resumed + 1);
    EXPECT_TRUE(boxes.calls.empty());
}

// A translated FUNCTION that calls itself without end: f(n) = f(n + 1) + n.
uint32_t endless_function(uint32_t n) {
    volatile uint32_t own = n;
    if (own == 0) return 0;
    return endless_function(own + 1) + own;
}
void endless_recursion() { endless_function(1); }

void flush_marker() { std::fputs("files flushed\n", stderr); }

[[noreturn]] void program_thread_run_to_the_end(void (*entry)()) {
    setenv("LUMO_MSGBOX", "auto", 1);
    process_flush_hook_add(flush_marker);
    program_thread_start(entry, small_stack);
    for (;;) pause();
}

TEST(ProgramStackDeathTest, RunningOutIsTheFatalOutOfStackSpaceError) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(program_thread_run_to_the_end(endless_recursion), ::testing::ExitedWithCode(platform::exit_fatal),
                "caption=\"Critical Error\" text=\"Out of stack space\".*files flushed");
}

// A real fault: a write to a page the program may not write.
void protected_page_write() {
    void* page = mmap(nullptr, 4096, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    *static_cast<volatile char*>(page) = 1;
}

TEST(ProgramStackDeathTest, AnyOtherFaultStaysACrash) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    const std::function<bool(int)> crashed = [](int status) {
        return address_sanitizer ? WIFEXITED(status) && WEXITSTATUS(status) == 1
                                 : WIFSIGNALED(status) && WTERMSIG(status) == SIGSEGV;
    };
    EXPECT_EXIT(program_thread_run_to_the_end(protected_page_write), crashed, address_sanitizer ? "SEGV" : "");
}

}  // namespace
