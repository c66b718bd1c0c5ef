// The runtime's clock: clock_ms counts milliseconds of monotonic time since the process started;
// start-up ties it once to the wall clock (timer_base_clock, timer_base_day_ms).
#pragma once

#include <atomic>
#include <cstdint>

extern std::atomic<int32_t> timer_base_clock;
extern std::atomic<int32_t> timer_base_day_ms;

int64_t clock_ms();
void sleep_ms(int64_t ms);

// Start-up: waits for the calendar second to change, then takes the clock and the time of day.
void timer_base_init();
