// The program thread and its stack: a large stack with a guard area below it, an alternate signal
// stack, and a SIGSEGV handler that turns a fault in that guard area, or a signal the kernel could
// not deliver on the full stack, into the fatal error "Out of stack space" (its box, exit code 70,
// files flushed). Any other fault stays a crash.
// Not here: the hand-over from the signal handler (fatal_signals.h), the box and the end (errors.cpp).
#pragma once

#include <cstddef>
#include <cstdint>

// Address space only: pages are used as deep as the program goes. A RESUME to a line keeps the
// routine's entry on the stack, and a million of them fit.
constexpr size_t program_stack_size = size_t{1} << 30;
// Below the stack, reserved and never accessible, so no other thread's stack is mapped right below
// it. Code built with -fstack-clash-protection touches every page of a large frame and cannot step
// over the guard; a frame of code built without it steps over only when larger than this.
constexpr size_t program_stack_guard_size = size_t{64} << 20;
// The kernel's signal frame, its red zone and the widest register state included (about 11 KiB
// with every extension on): a signal that finds less stack than this left cannot be delivered
// there and turns into a SIGSEGV of the kernel's own.
constexpr size_t signal_frame_room = size_t{16} << 10;

// Starts entry on a new detached thread named "program" with a stack of stack_size bytes, or of
// the system's default size when that much cannot be reserved.
void program_thread_start(void (*entry)(), size_t stack_size = program_stack_size);

// The guard area below a thread's stack, [low, high); empty on a thread without one.
struct stack_guard {
    uintptr_t low = 0;
    uintptr_t high = 0;
};

// What a SIGSEGV tells: the faulting address, the thread's stack pointer, the signal code.
struct segv_signal {
    uintptr_t fault_address = 0;
    uintptr_t stack_pointer = 0;
    int code = 0;
};

// Whether a SIGSEGV is the stack running out: a fault in the guard, or the kernel's own (SI_KERNEL,
// no address) while the stack pointer lies in the guard or less than a signal frame above it. A
// signal sent by a process (code 0 or below) never is, whatever address it carries.
bool stack_guard_hit(const stack_guard& guard, const segv_signal& segv);
