#include "core/timing.h"

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <thread>

#include "core/errors.h"
#include "core/shutdown.h"
#include "core/statements.h"
#include "core/strings.h"

std::atomic<int32_t> timer_base_clock{0};
std::atomic<int32_t> timer_base_day_ms{0};

namespace {

// Taken when the runtime's static data is initialised, which is the start of the process.
const std::chrono::steady_clock::time_point process_start = std::chrono::steady_clock::now();

struct timing_state {
    std::atomic<int64_t (*)()> now_ms{nullptr};
    std::atomic<void (*)(int64_t)> sleep{nullptr};
    std::atomic<time_t (*)()> calendar{nullptr};
    // clock_ms of the loop-rate limiter's last deadline; 0 = none yet (program thread only).
    double loop_rate_last = 0;
};
timing_state timing;

int64_t clock_ms_real() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - process_start)
        .count();
}

time_t calendar_now() {
    auto calendar = timing.calendar.load(std::memory_order_relaxed);
    return calendar ? calendar() : std::time(nullptr);
}

// Milliseconds of the calendar since the epoch, -1 without one. A test calendar has whole seconds.
int64_t calendar_now_ms() {
    if (auto calendar = timing.calendar.load(std::memory_order_relaxed)) {
        time_t t = calendar();
        return t == static_cast<time_t>(-1) ? -1 : static_cast<int64_t>(t) * 1000;
    }
    timespec now{};
    if (clock_gettime(CLOCK_REALTIME, &now) != 0) return -1;
    return static_cast<int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

// Whole milliseconds still to wait, at least 1.
int64_t remaining_ms(double wait, double elapsed) {
    double remaining = std::nearbyint(wait - elapsed);
    return remaining < 1 ? 1 : static_cast<int64_t>(remaining);
}

// x rounded to the nearest multiple of 1 / factor, ties to even.
double round_to_grid(double x, double factor) {
    if (!std::isfinite(factor)) return x;  // a step finer than any double
    if (factor == 0) return 0;
    return std::nearbyint(x * factor) / factor;
}

// The local date (month-day-year) or time of day now as a temporary string of exactly length bytes.
string_descriptor* local_time_text(int32_t length, bool date) {
    char text[64];
    int n = -1;
    time_t now = calendar_now();
    std::tm local{};
    if (now != static_cast<time_t>(-1) && localtime_r(&now, &local)) {
        n = date ? std::snprintf(text, sizeof text, "%02d-%02d-%04d", local.tm_mon + 1, local.tm_mday,
                                 local.tm_year + 1900)
                 : std::snprintf(text, sizeof text, "%02d:%02d:%02d", local.tm_hour, local.tm_min, local.tm_sec);
    }
    if (n != length) {
        error_raise(error_illegal_function_call);
        return string_new(0, 1);
    }
    string_descriptor* s = string_new(static_cast<uint32_t>(length), 1);
    std::memcpy(s->text, text, static_cast<size_t>(length));
    return s;
}

}  // namespace

int64_t clock_ms() {
    auto now = timing.now_ms.load(std::memory_order_relaxed);
    return now ? now() : clock_ms_real();
}

std::chrono::steady_clock::time_point clock_ms_moment(int64_t ms) {
    if (timing.now_ms.load(std::memory_order_relaxed))
        return std::chrono::steady_clock::now() + std::chrono::milliseconds(ms - clock_ms());
    return process_start + std::chrono::milliseconds(ms);
}

void sleep_ms(int64_t ms) {
    if (auto sleep = timing.sleep.load(std::memory_order_relaxed)) return sleep(ms);
    if (ms > 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(ms));
    else
        std::this_thread::yield();
}

void sleep_waker_signal(sleep_waker& waker) {
    {
        std::lock_guard guard(waker.lock);
        waker.signalled = true;
    }
    waker.woken.notify_one();
}

bool sleep_ms_wakeable(int64_t ms, sleep_waker& waker) {
    if (timing.sleep.load(std::memory_order_relaxed)) {
        sleep_ms(ms);
        return false;
    }
    std::unique_lock guard(waker.lock);
    bool woken = waker.woken.wait_for(guard, std::chrono::milliseconds(ms > 0 ? ms : 0), [&] { return waker.signalled; });
    waker.signalled = false;
    return woken;
}

void time_source_set(const time_source* source) {
    timing.now_ms.store(source ? source->now_ms : nullptr);
    timing.sleep.store(source ? source->sleep : nullptr);
    timing.calendar.store(source ? source->calendar : nullptr);
}

void timer_base_init() {
    // The real-time clock has milliseconds: no wait for the calendar second to change. Without a
    // calendar the base is second 0 of the epoch in the local zone.
    int64_t wall_ms = calendar_now_ms();
    timer_base_clock.store(static_cast<int32_t>(clock_ms()));
    if (wall_ms < 0) wall_ms = 0;
    time_t seconds = static_cast<time_t>(wall_ms / 1000);
    std::tm local{};
    int32_t day_ms = 0;
    if (localtime_r(&seconds, &local))
        day_ms = (local.tm_hour * 3600 + local.tm_min * 60 + local.tm_sec) * 1000 + static_cast<int32_t>(wall_ms % 1000);
    timer_base_day_ms.store(day_ms);
}

int64_t day_ms_now() {
    // 64-bit: the sum does not wrap after 49 days of running.
    int64_t ms = int64_t{timer_base_day_ms.load(std::memory_order_relaxed)} + clock_ms() -
                 timer_base_clock.load(std::memory_order_relaxed);
    ms %= day_ms_count;
    return ms < 0 ? ms + day_ms_count : ms;
}

namespace {
std::atomic<uint64_t> timer_read_count{0};
}  // namespace

uint64_t timer_reads() { return timer_read_count.load(std::memory_order_relaxed); }

double timer_seconds(double accuracy, int32_t accuracy_given) {
    timer_read_count.fetch_add(1, std::memory_order_relaxed);
    if (error_pending()) return 0;
    double s = static_cast<double>(day_ms_now()) / 1000;
    if (!accuracy_given) return static_cast<float>(round_to_grid(s, 18.2));
    if (!(accuracy > 0)) {
        error_raise(error_illegal_function_call);
        return 0;
    }
    return round_to_grid(s, 1 / accuracy);
}

void delay_seconds(double seconds) {
    if (error_pending()) return;
    if (!(seconds >= 0 && seconds <= 2147483.647)) {
        error_raise(error_illegal_function_call);
        return;
    }
    double wait = seconds * 1000;
    int64_t start = clock_ms();
    int64_t previous = start;
    for (;;) {
        int64_t now = clock_ms();
        // The clock went back: keep the time waited up to the previous round.
        if (now < start) start = now - (previous - start);
        previous = now;
        double elapsed = static_cast<double>(now - start);
        if (elapsed >= wait) return;
        int64_t remaining = remaining_ms(wait, elapsed);
        if (remaining < 10) return sleep_ms(remaining);
        sleep_ms(9);
        statement_hook(0);
    }
}

void loop_rate_limit(double passes_per_second) {
    if (error_pending()) return;
    double period = 1000 / passes_per_second;
    if (!(passes_per_second > 0) || !(period <= 60000)) {
        error_raise(error_illegal_function_call);
        return;
    }
    double& last = timing.loop_rate_last;
    for (;;) {
        double now = static_cast<double>(clock_ms());
        if (last == 0 || now < last) {
            last = now;
            return;
        }
        double elapsed = now - last;
        if (elapsed >= period) {
            // More than 32 ms late: the pace is lost and a new grid starts now.
            last = elapsed > period + 32 ? now : last + period;
            return;
        }
        int64_t remaining = remaining_ms(period, elapsed);
        if (remaining < 10) {
            sleep_ms(remaining);
        } else {
            sleep_ms(9);
            statement_hook(0);
        }
    }
}

void sleep_seconds(int32_t seconds, int32_t seconds_given) {
    if (error_pending()) return;
    sleep_interrupted.store(0);
    // 64-bit: a large count of seconds must not wrap into a short or endless sleep.
    int64_t wait = seconds_given ? int64_t{seconds} * 1000 : 0;
    int64_t start = clock_ms();
    for (;;) {
        statement_hook(0);
        if (sleep_interrupted.load() || shutdown_flag.load()) return;
        if (wait <= 0) {
            sleep_ms(9);
            continue;
        }
        int64_t now = clock_ms();
        if (now < start || now - start >= wait) return;
        int64_t remaining = wait - (now - start);
        if (remaining < 10) return sleep_ms(remaining);
        sleep_ms(9);
    }
}

string_descriptor* date_string() {
    if (error_pending()) return string_new(0, 1);
    return local_time_text(10, true);
}

string_descriptor* time_string() {
    if (error_pending()) return string_new(0, 1);
    return local_time_text(8, false);
}

void date_set_ignored(string_descriptor*) {}
void time_set_ignored(string_descriptor*) {}
