#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <ctime>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "core/errors.h"
#include "core/program_interface.h"
#include "core/runtime_fixture.h"
#include "core/shutdown.h"
#include "core/statements.h"
#include "core/strings.h"
#include "core/timing.h"
#include "core/traps.h"

namespace {

// A clock that moves only when the code under test sleeps.
struct test_clock {
    static inline int64_t now = 0;
    static inline time_t calendar = 0;
    static inline std::vector<int64_t> sleeps;
    static inline std::function<void()> on_sleep;

    static int64_t now_ms() { return now; }
    static void sleep(int64_t ms) {
        sleeps.push_back(ms);
        if (ms > 0) now += ms;
        if (on_sleep) on_sleep();
    }
    static time_t calendar_now() { return calendar; }
    static int64_t slept() {
        int64_t sum = 0;
        for (int64_t s : sleeps) sum += s;
        return sum;
    }
};

class Timing : public ::testing::Test {
protected:
    void SetUp() override {
        test_clock::now = 1000;
        test_clock::calendar = 0;
        test_clock::sleeps.clear();
        test_clock::on_sleep = nullptr;
        static const time_source source{test_clock::now_ms, test_clock::sleep, test_clock::calendar_now};
        time_source_set(&source);
        traps_tables_make();
        sleep_interrupted = 0;
    }
    void TearDown() override {
        time_source_set(nullptr);
        test_clock::on_sleep = nullptr;
        timer_base_clock = 0;
        timer_base_day_ms = 0;
    }
    recorded_boxes boxes;
};

TEST_F(Timing, TimerSecondsFromTheTimeBase) {
    struct row {
        int32_t base_day_ms;
        int64_t elapsed_ms;
        double accuracy;
        int32_t given;
        double expected;
        int32_t error;
    };
    const row rows[] = {
        {43200000, 0, 0, 0, 43200.0, 0},                        // noon on the 1/18.2 s grid
        {43200000, 0, 0.001, 1, 43200.0, 0},
        {43200000, 0, 0, 1, 0, 5},                              // accuracy 0
        {43200000, 0, -1, 1, 0, 5},
        {0, 1, 0, 0, 0, 0},                                     // 0.001 s lies below half a tick
        {0, 28, 0, 0, static_cast<float>(1 / 18.2), 0},         // 0.028 s is one tick
        {86399000, 2000, 0.001, 1, 1.0, 0},                     // past midnight it starts again
        {86399999, 0, 0, 0, 86400.0, 0},                        // the last tick of the day
        {43200300, 0, 0.5, 1, 43200.5, 0},
        {43200250, 0, 0.5, 1, 43200.0, 0},                      // a tie goes to the even step
        {43200750, 0, 0.5, 1, 43201.0, 0},
        {43200000, 5000000000, 0.001, 1, 32000.0, 0},           // 58 days on: no 32-bit wrap
    };
    for (const auto& r : rows) {
        error_number = 0;
        timer_base_clock = 1000;
        timer_base_day_ms = r.base_day_ms;
        test_clock::now = 1000 + r.elapsed_ms;
        EXPECT_EQ(timer_seconds(r.accuracy, r.given), r.expected) << r.base_day_ms << " +" << r.elapsed_ms;
        EXPECT_EQ(error_number.load(), r.error) << r.base_day_ms << " +" << r.elapsed_ms;
    }
}

TEST_F(Timing, DelaySleepsInSlicesAndEndsOnTime) {
    struct row {
        double seconds;
        std::vector<int64_t> sleeps;  // empty: none
        int32_t error;
    };
    std::vector<int64_t> tenth(11, 9);
    tenth.push_back(1);
    const row rows[] = {
        {0, {}, 0},
        {0.005, {5}, 0},
        {0.0095, {9, 1}, 0},
        {0.1, tenth, 0},
        {-1, {}, 5},
        {2147484, {}, 5},
        {NAN, {}, 5},
    };
    for (const auto& r : rows) {
        error_number = 0;
        test_clock::sleeps.clear();
        delay_seconds(r.seconds);
        EXPECT_EQ(test_clock::sleeps, r.sleeps) << r.seconds;
        EXPECT_EQ(error_number.load(), r.error) << r.seconds;
    }
}

TEST_F(Timing, DelayKeepsTheTimeWaitedWhenTheClockGoesBack) {
    test_clock::on_sleep = [] {
        if (test_clock::sleeps.size() == 5) test_clock::now -= 1000;
    };
    delay_seconds(0.1);
    // The slice in which the clock went back does not count.
    EXPECT_EQ(test_clock::slept(), 109);
}

TEST_F(Timing, WaitsRunTrapHandlers) {
    static int handled;
    handled = 0;
    program_register({nullptr, [] {}, [] {}, [](int32_t, int64_t) { ++handled; }});
    key_trap_set(1, 5, 0);
    key_trap_state(1, trap_action_on);
    key_trap_fire(1);
    delay_seconds(0.05);
    EXPECT_EQ(handled, 1);
    program_register({nullptr, [] {}, [] {}, nullptr});
}

TEST_F(Timing, LoopRateLimitKeepsAGrid) {
    loop_rate_limit(60);  // the first pass starts the grid
    const double start = static_cast<double>(test_clock::now);
    double grid = start;
    for (int pass = 1; pass <= 12; ++pass) {
        test_clock::now += 5;  // the loop's own work
        if (pass == 8) test_clock::now += 60;  // more than 32 ms late: a new grid
        loop_rate_limit(60);
        double now = static_cast<double>(test_clock::now);
        if (pass == 8) {
            grid = now;
            continue;
        }
        grid += 1000.0 / 60;
        EXPECT_GE(now, grid - 1e-6) << pass;
        EXPECT_LE(now, grid + 1) << pass;
    }
}

TEST_F(Timing, LoopRateLimitRejectsBadRates) {
    for (double n : {0.01, 0.0, -5.0, static_cast<double>(NAN)}) {
        error_number = 0;
        test_clock::sleeps.clear();
        loop_rate_limit(n);
        EXPECT_EQ(error_number.load(), 5) << n;
        EXPECT_TRUE(test_clock::sleeps.empty()) << n;
    }
}

TEST_F(Timing, SleepSecondsEndsAfterItsTime) {
    sleep_seconds(2, 1);
    EXPECT_EQ(test_clock::slept(), 2000);
}

TEST_F(Timing, SleepWithoutTimeLastsUntilInterrupted) {
    struct row {
        int32_t seconds, given;
    };
    // 4294968 s wrap to 704 ms in 32 bits: it must still be sleeping long after that.
    for (const row r : {row{0, 0}, row{0, 1}, row{-3, 1}, row{4294968, 1}}) {
        test_clock::now = 1000;
        test_clock::on_sleep = [] {
            if (test_clock::now >= 100000) sleep_interrupted = 1;
        };
        sleep_seconds(r.seconds, r.given);
        EXPECT_GE(test_clock::now, 100000) << r.seconds;
    }
}

TEST_F(Timing, SleepParksAtShutdown) {
    test_clock::on_sleep = [] {
        if (test_clock::sleeps.size() == 3) shutdown_flag = 1;
    };
    EXPECT_THROW(sleep_seconds(0, 0), parked);
}

std::string text_of(string_descriptor* s) { return std::string(reinterpret_cast<const char*>(s->text), s->length); }

std::string c_library_text(time_t t, const char* format) {
    std::tm local{};
    localtime_r(&t, &local);
    char text[32];
    std::strftime(text, sizeof text, format, &local);
    return text;
}

time_t local_time_of(int year, int month, int day, int hour, int minute, int second) {
    std::tm t{};
    t.tm_year = year - 1900;
    t.tm_mon = month - 1;
    t.tm_mday = day;
    t.tm_hour = hour;
    t.tm_min = minute;
    t.tm_sec = second;
    t.tm_isdst = -1;
    return std::mktime(&t);
}

TEST_F(Timing, DateAndTimeTextsFollowTheCLibrary) {
    uint32_t mark = string_temp_top();
    test_clock::calendar = local_time_of(2026, 3, 5, 9, 5, 0);
    EXPECT_EQ(text_of(date_string()), "03-05-2026");
    EXPECT_EQ(text_of(time_string()), "09:05:00");
    for (time_t t : {time_t{0}, local_time_of(1999, 12, 31, 23, 59, 59), local_time_of(2000, 2, 29, 0, 0, 0),
                     local_time_of(2038, 1, 19, 3, 14, 8), time_t{1700000000}}) {
        test_clock::calendar = t;
        EXPECT_EQ(text_of(date_string()), c_library_text(t, "%m-%d-%Y")) << t;
        EXPECT_EQ(text_of(time_string()), c_library_text(t, "%H:%M:%S")) << t;
    }
    string_temps_release(mark, 0);
    EXPECT_EQ(string_temp_top(), mark);
    EXPECT_EQ(error_number.load(), 0);
}

TEST_F(Timing, DateWithoutCalendarIsError5AndEmpty) {
    test_clock::calendar = static_cast<time_t>(-1);
    EXPECT_EQ(date_string()->length, 0);
    EXPECT_EQ(error_number.load(), 5);
    error_number = 0;
    EXPECT_EQ(time_string()->length, 0);
    EXPECT_EQ(error_number.load(), 5);
}

TEST_F(Timing, TimeBaseIsTheLocalTimeNowWithoutWaiting) {
    test_clock::calendar = local_time_of(2026, 3, 5, 9, 5, 7);
    test_clock::now = 4242;
    timer_base_init();
    EXPECT_TRUE(test_clock::sleeps.empty());
    EXPECT_EQ(timer_base_clock.load(), 4242);
    EXPECT_EQ(timer_base_day_ms.load(), (9 * 3600 + 5 * 60 + 7) * 1000);
}

TEST(TimeBase, TheRealClockGivesTheMillisecondsOfTheSecond) {
    std::vector<int32_t> seen;
    for (int i = 0; i < 20; ++i) {
        timer_base_init();
        seen.push_back(timer_base_day_ms.load() % 1000);
        std::this_thread::sleep_for(std::chrono::milliseconds(7));
    }
    timer_base_clock = 0;
    timer_base_day_ms = 0;
    EXPECT_TRUE(std::any_of(seen.begin(), seen.end(), [](int32_t ms) { return ms != 0; }));
}

// Without a calendar the base is the epoch's second 0 in the local zone: its offset, not midnight.
TEST_F(Timing, WithoutACalendarTheTimeBaseIsTheZonesOffset) {
    std::string old_tz = std::getenv("TZ") ? std::getenv("TZ") : "";
    bool had_tz = std::getenv("TZ") != nullptr;
    setenv("TZ", "EAST-3", 1);  // three hours east of Greenwich all year
    tzset();
    test_clock::calendar = static_cast<time_t>(-1);
    timer_base_init();
    EXPECT_EQ(timer_base_day_ms.load(), 3 * 3600 * 1000);
    if (had_tz) setenv("TZ", old_tz.c_str(), 1);
    else unsetenv("TZ");
    tzset();
}

// The control thread's sleep between turns, which a page rebuild ends to get its answer at once.
TEST(SleepWakeableThreaded, ASignalEndsTheSleepAndIsUsedUp) {
    sleep_waker waker;
    std::thread signaller([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        sleep_waker_signal(waker);
    });
    // A sleep far longer than any delay a loaded machine puts on the signaller: one that ends
    // early was ended by the signal.
    constexpr int64_t long_sleep_ms = 120000;
    auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(sleep_ms_wakeable(long_sleep_ms, waker));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(long_sleep_ms / 2));
    signaller.join();
    EXPECT_FALSE(sleep_ms_wakeable(1, waker));  // the signal was taken
}

TEST(Clock, ClockMsIsElapsedTime) {
    // Elapsed, not processor time: an idle wait still moves it, in milliseconds, never more than
    // the steady clock read around it (however long a loaded machine makes the wait).
    auto outer_start = std::chrono::steady_clock::now();
    int64_t before = clock_ms();
    std::this_thread::sleep_for(std::chrono::milliseconds(60));
    int64_t elapsed = clock_ms() - before;
    auto outer = std::chrono::steady_clock::now() - outer_start;
    EXPECT_GE(elapsed, 59);
    EXPECT_LE(elapsed, std::chrono::duration_cast<std::chrono::milliseconds>(outer).count() + 1);
}

}  // namespace
