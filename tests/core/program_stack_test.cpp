#include "core/program_stack.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <ucontext.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <csignal>
#include <functional>
#include <semaphore>
#include <string>
#include <thread>
#include <utility>

#include "core/error_codes.h"
#include "core/fatal_signals.h"
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
    constexpr uintptr_t in_the_stack = 0x80000;
    constexpr uintptr_t signal_frame_top = 0x20000 + signal_frame_room;
    struct row { const char* name; stack_guard guard; segv_signal segv; bool hit; };
    const row rows[] = {
        {"the guard's first byte", guard, {0x10000, in_the_stack, SEGV_ACCERR}, true},
        {"inside the guard", guard, {0x18000, in_the_stack, SEGV_ACCERR}, true},
        {"the guard's last byte", guard, {0x1ffff, in_the_stack, SEGV_ACCERR}, true},
        {"an unmapped address in the guard", guard, {0x18000, in_the_stack, SEGV_MAPERR}, true},
        {"just below the guard", guard, {0xffff, in_the_stack, SEGV_ACCERR}, false},
        {"the stack itself", guard, {0x20000, in_the_stack, SEGV_ACCERR}, false},
        {"a null pointer", guard, {0, in_the_stack, SEGV_MAPERR}, false},
        {"a thread without a guard", stack_guard{}, {0, in_the_stack, SEGV_MAPERR}, false},
        {"sent by a process", guard, {0x18000, in_the_stack, SI_USER}, false},
        {"sent to the thread", guard, {0x18000, in_the_stack, SI_TKILL}, false},
        {"sent by a process, the stack pointer in the guard", guard, {0, 0x18000, SI_USER}, false},
        {"the kernel's, the stack pointer in the guard", guard, {0, 0x18000, SI_KERNEL}, true},
        {"the kernel's, the stack pointer just above the guard", guard, {0, 0x20000, SI_KERNEL}, true},
        {"the kernel's, less than a signal frame left", guard, {0, signal_frame_top - 1, SI_KERNEL}, true},
        {"the kernel's, a signal frame left", guard, {0, signal_frame_top, SI_KERNEL}, false},
        {"the kernel's, the stack pointer below the guard", guard, {0, 0xffff, SI_KERNEL}, false},
        {"the kernel's on a thread without a guard", stack_guard{}, {0, 0x100, SI_KERNEL}, false},
    };
    for (const auto& r : rows) EXPECT_EQ(stack_guard_hit(r.guard, r.segv), r.hit) << r.name;
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

// The same with a large local array, written only at its lowest byte, so the frame's other pages
// are never touched: each call moves the stack pointer by the whole frame at once.
constexpr size_t frame_of_64_kib = size_t{64} << 10;
constexpr size_t frame_of_3_mib = size_t{3} << 20;
constexpr size_t frame_beyond_the_guard = program_stack_guard_size + frame_of_3_mib;
template <size_t frame_size>
[[gnu::noinline]] uint32_t endless_function_with_frame(uint32_t n) {
    volatile char frame[frame_size];
    frame[0] = static_cast<char>(n);
    if (frame[0] == 0) return 0;
    return endless_function_with_frame<frame_size>(n + 1) + frame[0];
}
// As compiled for a program built without stack-clash protection: the frame's pages are not probed.
[[gnu::noinline, gnu::optimize("no-stack-clash-protection")]] uint32_t endless_function_unprobed(uint32_t n) {
    volatile char frame[frame_of_3_mib];
    frame[0] = static_cast<char>(n);
    if (frame[0] == 0) return 0;
    return endless_function_unprobed(n + 1) + frame[0];
}
void endless_recursion_64_kib() { endless_function_with_frame<frame_of_64_kib>(1); }
void endless_recursion_3_mib() { endless_function_with_frame<frame_of_3_mib>(1); }
void endless_recursion_beyond_the_guard() { endless_function_with_frame<frame_beyond_the_guard>(1); }
void endless_recursion_3_mib_unprobed() { endless_function_unprobed(1); }

// The lowest address of the calling thread's stack.
uintptr_t stack_low_of_this_thread() {
    pthread_attr_t attributes;
    pthread_getattr_np(pthread_self(), &attributes);
    void* low = nullptr;
    size_t size = 0;
    pthread_attr_getstack(&attributes, &low, &size);
    pthread_attr_destroy(&attributes);
    return reinterpret_cast<uintptr_t>(low);
}

// Less than the kernel's signal frame (a few KiB with the widest registers).
constexpr uintptr_t stack_nearly_full_room = 1024;
// The stack a division by zero leaves; a test sets another room before its program starts.
uintptr_t stack_room_left = stack_nearly_full_room;

// Calls itself until less than stack_room_left is left, then divides by zero there; the quotient is
// kept, so the division stays, and no sanitizer checks the divisor first.
volatile int32_t quotient = 0;
[[gnu::noinline, gnu::no_sanitize("integer-divide-by-zero")]] void divide_by_zero_with_stack_nearly_full(
    uintptr_t stack_low) {
    volatile int32_t dividend = 1, divisor = 0;
    if (reinterpret_cast<uintptr_t>(__builtin_frame_address(0)) - stack_low < stack_room_left)
        quotient = dividend / divisor;
    else
        divide_by_zero_with_stack_nearly_full(stack_low);
    quotient = quotient + divisor;  // after the call: no tail call
}

void division_by_zero_handler(int) { fatal_signal_error(error_division_by_zero); }

void division_by_zero_nearly_full() {
    fatal_signal_handler_install(SIGFPE, division_by_zero_handler);
    divide_by_zero_with_stack_nearly_full(stack_low_of_this_thread());
}
// A handler installed the plain way runs on the full stack: the kernel cannot deliver the signal.
void division_by_zero_nearly_full_plain_handler() {
    std::signal(SIGFPE, division_by_zero_handler);
    divide_by_zero_with_stack_nearly_full(stack_low_of_this_thread());
}

void flush_marker() { std::fputs("files flushed\n", stderr); }

// The runtime's other threads start right after the program thread, their stacks mapped below its
// own; the program goes on once they run.
void (*program_entry)() = nullptr;
std::counting_semaphore<> neighbours_started{0};
constexpr int neighbour_threads = 2;  // the timer and control threads
void program_after_neighbours() {
    for (int i = 0; i < neighbour_threads; ++i) neighbours_started.acquire();
    program_entry();
}
void neighbour_thread() {
    neighbours_started.release();
    for (;;) pause();
}

[[noreturn]] void program_thread_run_to_the_end(void (*entry)()) {
    setenv("LUMO_MSGBOX", "auto", 1);
    process_flush_hook_add(flush_marker);
    program_entry = entry;
    program_thread_start(program_after_neighbours, small_stack);
    for (int i = 0; i < neighbour_threads; ++i) std::thread(neighbour_thread).detach();
    for (;;) pause();
}

[[noreturn]] void runtime_thread_run_to_the_end(void (*entry)()) {
    setenv("LUMO_MSGBOX", "auto", 1);
    process_flush_hook_add(flush_marker);
    fatal_signal_thread_start(entry, "timer");
    for (;;) pause();
}

TEST(ProgramStackDeathTest, RunningOutIsTheFatalOutOfStackSpaceError) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    struct row { const char* name; void (*entry)(); };
    const row rows[] = {
        {"small frames", endless_recursion},
        {"frames of 64 KiB", endless_recursion_64_kib},
        {"frames of 3 MiB", endless_recursion_3_mib},
        {"frames larger than the guard, probed page by page", endless_recursion_beyond_the_guard},
        {"frames of 3 MiB built without probes, other threads started after", endless_recursion_3_mib_unprobed},
    };
    for (const auto& r : rows) {
        EXPECT_EXIT(program_thread_run_to_the_end(r.entry), ::testing::ExitedWithCode(platform::exit_fatal),
                    "caption=\"Critical Error\" text=\"Out of stack space\".*files flushed")
            << r.name;
    }
}

// What delivering a signal takes of the stack it interrupts, measured by the handler: the red zone,
// the register state the process uses and the frame itself (3.4 KiB with AVX-512). The kernel's
// own figure, AT_MINSIGSTKSZ, also counts state no thread here has asked for (11.7 KiB with AMX
// tiles), so room below it may still hold a frame.
volatile uintptr_t signal_frame_taken = 0;
void signal_frame_measure(int, siginfo_t*, void* context) {
    const auto interrupted = static_cast<const ucontext_t*>(context)->uc_mcontext.gregs[REG_RSP];
    signal_frame_taken =
        static_cast<uintptr_t>(interrupted) - reinterpret_cast<uintptr_t>(__builtin_frame_address(0));
}
uintptr_t signal_frame_size() {
    struct sigaction measure{}, before{};
    measure.sa_sigaction = signal_frame_measure;
    measure.sa_flags = SA_SIGINFO;
    sigemptyset(&measure.sa_mask);
    sigaction(SIGUSR1, &measure, &before);
    raise(SIGUSR1);
    sigaction(SIGUSR1, &before, nullptr);
    return signal_frame_taken;
}
// Aligning the frame and its register state moves what the kernel needs by less than this.
constexpr uintptr_t signal_frame_alignment_slack = 128;
// Room below a delivered frame for the handler to start its hand-over, too little for the dynamic
// linker's first look-up in it (which saves the whole register state): the stack runs out there.
constexpr uintptr_t plain_handler_room = 1024;

// A handler installed the plain way runs on the stack the signal interrupts. With less than a
// signal frame left there the kernel cannot deliver the signal and sends SIGSEGV instead, which is
// the stack running out. With a frame's room left the handler runs there and runs out of stack in
// its hand-over: before handing its error over or after (the build decides), the process ends.
TEST(ProgramStackDeathTest, ASignalUnderAPlainHandlerWithLittleStackLeftIsFatal) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    const uintptr_t frame = signal_frame_size();
    struct row { const char* name; uintptr_t room; const char* text; };
    const row rows[] = {
        {"1 KiB left", stack_nearly_full_room, "Out of stack space"},
        {"a little less than a signal frame left", frame - signal_frame_alignment_slack, "Out of stack space"},
        {"a signal frame and 1 KiB left", frame + plain_handler_room, "(Division by zero|Out of stack space)"},
    };
    for (const auto& r : rows) {
        stack_room_left = r.room;
        EXPECT_EXIT(program_thread_run_to_the_end(division_by_zero_nearly_full_plain_handler),
                    ::testing::ExitedWithCode(platform::exit_fatal),
                    std::string("caption=\"Critical Error\" text=\"") + r.text + "\".*files flushed")
            << r.name << ": " << r.room << " bytes";
    }
}

// A fatal-signal handler runs on the thread's alternate stack: the error is the signal's own.
TEST(ProgramStackDeathTest, ASignalWithTheStackNearlyFullIsItsOwnError) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    const std::pair<const char*, void (*)(void (*)())> threads[] = {
        {"the program thread", program_thread_run_to_the_end},
        {"a runtime thread", runtime_thread_run_to_the_end},
    };
    for (const auto& [name, run_to_the_end] : threads) {
        EXPECT_EXIT(run_to_the_end(division_by_zero_nearly_full), ::testing::ExitedWithCode(platform::exit_fatal),
                    "caption=\"Critical Error\" text=\"Division by zero\".*files flushed")
            << name;
    }
}

// A real fault: a write to a page the program may not write.
void protected_page_write() {
    void* page = mmap(nullptr, 4096, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    *static_cast<volatile char*>(page) = 1;
}
void segv_sent_to_the_process() { kill(getpid(), SIGSEGV); }

TEST(ProgramStackDeathTest, AnyOtherFaultStaysACrash) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    const std::function<bool(int)> crashed = [](int status) {
        return address_sanitizer ? WIFEXITED(status) && WEXITSTATUS(status) == 1
                                 : WIFSIGNALED(status) && WTERMSIG(status) == SIGSEGV;
    };
    const std::pair<const char*, void (*)()> faults[] = {
        {"a write to a protected page", protected_page_write},
        {"SIGSEGV sent by kill()", segv_sent_to_the_process},
    };
    for (const auto& [name, fault] : faults) {
        EXPECT_EXIT(program_thread_run_to_the_end(fault), crashed, address_sanitizer ? "SEGV" : "") << name;
    }
}

}  // namespace
