// Stopping the runtime: the stop and close requests, the shutdown flag, the exit bits of the program
// and timer threads, and parking the program thread. The control thread turns a request into the
// shutdown sequence (runtime/control.h); it is the only writer of shutdown_flag.
#pragma once

#include <atomic>
#include <cstdint>

#include "core/timing.h"

// The program asks to stop (its end, running another program, the error box answered No) or the
// keyboard does (Ctrl+Break while the program does not handle closing).
extern std::atomic<int32_t> stop_request;
// Main thread: bit 0 the window's close button, bit 1 Ctrl+Break while the program handles closing.
extern std::atomic<int32_t> close_request_bits;
// The program reads the close requests itself (close_request_take); program_end clears it.
extern std::atomic<int32_t> close_handled_by_program;
// Ctrl+Break: a close request (bit 1) while the program handles closing, else a stop request.
void break_request();
// Set once by the control thread when the runtime shuts down.
extern std::atomic<uint8_t> shutdown_flag;
inline bool runtime_shutting_down() { return shutdown_flag.load() != 0; }

enum : int32_t {
    thread_exit_program_parked = 1,  // set by program_thread_park
    thread_exit_timer_ended = 2,     // set by the timer thread as it ends
    thread_exit_all = 3,
};
extern std::atomic<int32_t> thread_exit_bits;

// Parks the program thread for good: it tells the control thread and sleeps until the process ends.
[[noreturn]] void program_thread_park();

// Tests running program code on their own thread replace parking (the hook may throw).
using program_park_hook = void (*)();
void program_park_hook_set(program_park_hook hook);

// A wait on the program thread: polls done() with pause_ms between looks (0 yields) and parks when
// the runtime shuts down, so that no wait outlives the runtime.
template <class Done>
void program_wait_until(Done done, int64_t pause_ms);

// Work that modules outside the core do at the program's end and at shutdown. A module sets its
// entry at its start-up step, before the threads run; an empty entry does nothing.
struct shutdown_seams {
    // Closes every file and network handle (file_close with no number).
    void (*files_close_all)();
    // Control turn: hands the printer page over and clears it 10 s after the last printer output,
    // unless printer output runs; it must not switch the program's destination image.
    void (*printer_page_idle_flush)();
    // Shutdown: hands over a printer page that still holds output.
    void (*printer_page_final_send)();
};
extern shutdown_seams runtime_shutdown_seams;

template <class Done>
void program_wait_until(Done done, int64_t pause_ms) {
    while (!done()) {
        if (shutdown_flag.load()) program_thread_park();
        sleep_ms(pause_ms);
    }
}
