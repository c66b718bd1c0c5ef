#include "core/timing.h"

#include <chrono>
#include <ctime>
#include <thread>

std::atomic<int32_t> timer_base_clock{0};
std::atomic<int32_t> timer_base_day_ms{0};

namespace {
// Taken when the runtime's static data is initialised, which is the start of the process.
const std::chrono::steady_clock::time_point process_start = std::chrono::steady_clock::now();
}  // namespace

int64_t clock_ms() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - process_start)
        .count();
}

void sleep_ms(int64_t ms) {
    if (ms > 0) std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

void timer_base_init() {
    time_t first = std::time(nullptr);
    time_t now = first;
    if (first != static_cast<time_t>(-1)) {
        // Align the base to the start of a second; poll gently rather than spin.
        while ((now = std::time(nullptr)) == first) sleep_ms(1);
    } else {
        now = 0;
    }
    timer_base_clock.store(static_cast<int32_t>(clock_ms()));
    std::tm local{};
    int32_t day_ms = 0;
    if (localtime_r(&now, &local)) day_ms = (local.tm_hour * 3600 + local.tm_min * 60 + local.tm_sec) * 1000;
    timer_base_day_ms.store(day_ms);
}
