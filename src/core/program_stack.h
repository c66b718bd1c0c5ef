// The program thread and its stack: a large stack with a guard area below it, an alternate signal
// stack, and a SIGSEGV handler that turns a fault in that guard area into the fatal error "Out of
// stack space" (its box, exit code 70, files flushed). Any other fault stays a crash.
// Not here: the hand-over from the signal handler (fatal_signals.h), the box and the end (errors.cpp).
#pragma once

#include <cstddef>
#include <cstdint>

// Address space only: pages are used as deep as the program goes. A RESUME to a line keeps the
// routine's entry on the stack, and a million of them fit.
constexpr size_t program_stack_size = size_t{1} << 30;
// Below the stack: a frame larger than this could step over it unseen.
constexpr size_t program_stack_guard_size = size_t{1} << 20;

// Starts entry on a new detached thread named "program" with a stack of stack_size bytes, or of
// the system's default size when that much cannot be reserved.
void program_thread_start(void (*entry)(), size_t stack_size = program_stack_size);

// The guard area below a thread's stack, [low, high); empty on a thread without one.
struct stack_guard {
    uintptr_t low = 0;
    uintptr_t high = 0;
};

// Whether a SIGSEGV with this fault address and signal code is the stack running into its guard.
// A signal sent by a process (code 0 or below) never is, whatever address it carries.
bool stack_guard_hit(const stack_guard& guard, uintptr_t fault_address, int signal_code);
