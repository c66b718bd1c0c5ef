// Stopping the runtime: the stop request, the shutdown flag and parking the program thread.
// The control thread turns a stop request into the shutdown sequence.
#pragma once

#include <atomic>
#include <cstdint>

extern std::atomic<int32_t> stop_request;
extern std::atomic<uint8_t> shutdown_flag;
extern std::atomic<int32_t> program_thread_parked;

// Parks the program thread for good; the control thread then ends the process.
[[noreturn]] void program_thread_park();

// Tests running program code on their own thread replace parking (the hook may throw).
using program_park_hook = void (*)();
void program_park_hook_set(program_park_hook hook);
