// Errors that arrive as signals (a division by zero raises the floating-point exception signal).
// A signal handler may not show a message box or take a lock, and returning from it would run the
// faulting instruction again. So the handler only hands the error number to a waiting thread, which
// raises the error there (the fatal box, then the end of the process), and the faulting thread
// waits for the end.
#pragma once

#include <cstdint>

// Starts the thread that takes handed-over errors; idempotent. Call before installing a handler.
void fatal_signal_handover_start();
// From a signal handler (async-signal-safe): hands error n over and never returns.
[[noreturn]] void fatal_signal_error(int32_t n);
