// The control thread: turns of about 16 ms for the life of the process. A turn keeps the emulated
// BIOS tick count, raises the retrace flags, builds a frame every second turn while automatic display
// is on, brings the lock keys in step with the keyboard on the other turns, lets the printer page be
// flushed after its idle time and idles while a shell statement waits for a child. It is the only
// thread that shuts the runtime down and ends the process (exit code 0).
#pragma once

#include <cstdint>


// The BIOS tick count lives in three bytes of emulated memory, little-endian (0x46F is not written).
constexpr uint32_t bios_tick_address = 0x46C;
// Ticks since midnight, 18.2 per second: 0 to 1,572,479.
uint32_t bios_tick_count_at(int64_t day_ms);

// How long the shutdown waits for the program thread to park and the timer thread to end before it
// ends the process anyway (without closing files the program thread may still be using).
constexpr int64_t shutdown_wait_limit_ms = 2000;

void control_thread_entry();
// One turn; it shuts down (and does not return) on a stop request or an unhandled close request.
void control_turn();
// Sets shutdown_flag, waits for the other threads, closes what is open and ends the process.
[[noreturn]] void runtime_shutdown();
