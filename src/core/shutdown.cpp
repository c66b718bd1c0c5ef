#include "core/shutdown.h"

#include <chrono>
#include <thread>

std::atomic<int32_t> stop_request{0};
std::atomic<uint8_t> shutdown_flag{0};
std::atomic<int32_t> program_thread_parked{0};

namespace {
std::atomic<program_park_hook> park_hook{nullptr};
}

void program_park_hook_set(program_park_hook hook) { park_hook.store(hook); }

void program_thread_park() {
    if (auto hook = park_hook.load()) hook();
    program_thread_parked.store(1);
    for (;;) std::this_thread::sleep_for(std::chrono::milliseconds(100));
}
