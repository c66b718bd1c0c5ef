#include "core/shutdown.h"

std::atomic<int32_t> stop_request{0};
std::atomic<int32_t> close_request_bits{0};
std::atomic<int32_t> close_handled_by_program{0};
std::atomic<uint8_t> shutdown_flag{0};
std::atomic<int32_t> thread_exit_bits{0};

shutdown_seams runtime_shutdown_seams{};

namespace {
std::atomic<program_park_hook> park_hook{nullptr};
}

void break_request() {
    if (close_handled_by_program.load()) close_request_bits.fetch_or(2);
    else stop_request.store(1);
}

void program_park_hook_set(program_park_hook hook) { park_hook.store(hook); }

void program_thread_park() {
    if (auto hook = park_hook.load()) hook();
    thread_exit_bits.fetch_or(thread_exit_program_parked);
    // The control thread ends the process once it has seen the bit (and the timer thread's).
    for (;;) sleep_ms(16);
}
