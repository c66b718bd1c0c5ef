// The runtime's clock and the language's timing: clock_ms counts milliseconds of monotonic time since
// the process started; start-up ties it once to the wall clock (timer_base_clock, timer_base_day_ms),
// so the time of day never jumps when the wall clock is changed. Here too: the timer function, the
// delay, the sleep statement, the loop-rate limiter, and the date and time texts (which read the
// calendar each time). The date and time setters do nothing.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <ctime>
#include <mutex>

struct string_descriptor;

// Written by start-up before the threads run; read by any thread.
extern std::atomic<int32_t> timer_base_clock;
extern std::atomic<int32_t> timer_base_day_ms;

int64_t clock_ms();
// The moment clock_ms reaches ms, for waits with a deadline (relative to now under a test clock).
std::chrono::steady_clock::time_point clock_ms_moment(int64_t ms);
// Sleeps the calling thread; 0 yields the processor once.
void sleep_ms(int64_t ms);

// A sleep that another thread may end early.
struct sleep_waker {
    std::mutex lock;
    std::condition_variable woken;
    bool signalled = false;
};
void sleep_waker_signal(sleep_waker& waker);
// Sleeps ms, or less when signalled (true then, and the signal is used up). Under a test sleep
// the whole sleep goes through it and nothing ends it early.
bool sleep_ms_wakeable(int64_t ms, sleep_waker& waker);

// Start-up: the clock and the time of day to the millisecond, at once.
void timer_base_init();

constexpr int64_t day_ms_count = 86400000;
// Milliseconds since local midnight by the time base: 0 to 86,399,999.
int64_t day_ms_now();

// Seconds since midnight on the 1/18.2 s grid as a 32-bit float, or rounded to the accuracy given
// (seconds; not above 0: error 5 and 0). 0 while an error is pending.
double timer_seconds(double accuracy, int32_t accuracy_given);
// How often the program has read the clock: a key poll that watches the clock must not sleep long.
uint64_t timer_reads();
// Waits the seconds (0 to 2147483.647, else error 5), calling statement_hook(0) every 9 ms.
void delay_seconds(double seconds);
// Paces a loop to passes per second (the period 1000 / n ms must be above 0 and at most 60000,
// else error 5); a loop more than 32 ms late starts a new grid.
void loop_rate_limit(double passes_per_second);
// The sleep statement: n seconds, or without n (or n <= 0) until a key press or a timer handler
// (sleep_interrupted); shutdown ends it too.
void sleep_seconds(int32_t seconds, int32_t seconds_given);

// "MM-DD-YYYY" and "HH:MM:SS" of the local time now, as temporaries; without a local time, error 5
// and the empty text.
string_descriptor* date_string();
string_descriptor* time_string();
void date_set_ignored(string_descriptor* date);
void time_set_ignored(string_descriptor* time);

// Tests: a clock, a sleep and a calendar of their own (a null entry, or a null source, is the real
// one). Set only while no runtime thread runs.
struct time_source {
    int64_t (*now_ms)();
    void (*sleep)(int64_t ms);
    time_t (*calendar)();
};
void time_source_set(const time_source* source);
