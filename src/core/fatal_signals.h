// Errors that arrive as signals (a division by zero raises the floating-point exception signal).
// A signal handler may not show a message box or take a lock, and returning from it would run the
// faulting instruction again. So the handler only hands the error number to a waiting thread, which
// raises the error there (the fatal box, then the end of the process), and the faulting thread
// waits for the end. Each such handler runs on the alternate signal stack of the thread that takes
// the signal: with the thread's own stack full the kernel could not deliver it there.
#pragma once

#include <cstdint>
#include <memory>

// Starts the thread that takes handed-over errors; idempotent. Call before installing a handler
// (fatal_signal_handler_install calls it itself).
void fatal_signal_handover_start();
// From a signal handler (async-signal-safe): hands error n over and never returns.
[[noreturn]] void fatal_signal_error(int32_t n);

// Starts the hand-over thread and installs handler for signal, run on the alternate signal stack
// of the thread that takes it.
void fatal_signal_handler_install(int signal, void (*handler)(int));

// The calling thread's alternate signal stack while the object lives. A thread that has one
// already (a sanitizer gives every thread its own) keeps it.
class alternate_signal_stack {
public:
    alternate_signal_stack();
    ~alternate_signal_stack();
    alternate_signal_stack(const alternate_signal_stack&) = delete;
    alternate_signal_stack& operator=(const alternate_signal_stack&) = delete;

private:
    std::unique_ptr<char[]> memory_;
};

// Starts entry on a new detached thread named name, with an alternate signal stack of its own.
void fatal_signal_thread_start(void (*entry)(), const char* name);
