#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <chrono>
#include <functional>
#include <set>
#include <thread>
#include <utility>
#include <vector>

#include "core/errors.h"
#include "core/program_interface.h"
#include "core/runtime_fixture.h"
#include "core/shutdown.h"
#include "core/statements.h"
#include "core/timing.h"
#include "core/traps.h"

namespace {

// A translated program whose trap handlers record their calls; a test may give a handler a body.
struct handler_log {
    static inline std::vector<std::pair<int32_t, int64_t>> calls;
    static inline std::function<void(int32_t, int64_t)> body;
    static inline int depth = 0, depth_max = 0;
    static void call(int32_t handler, int64_t argument) {
        calls.emplace_back(handler, argument);
        depth_max = std::max(depth_max, ++depth);
        if (body) body(handler, argument);
        --depth;
    }
    static void reset() {
        calls.clear();
        body = nullptr;
        depth = depth_max = 0;
    }
};

// One statement boundary of translated code.
void boundary(int32_t line = 10) {
    if (event_pending.load()) statement_hook(line);
}

class Traps : public ::testing::Test {
protected:
    void SetUp() override {
        traps_tables_make();
        key_trap_defaults_set();
        timer_trap_zero_init();
        handler_log::reset();
        program_register({nullptr, [] {}, [] {}, handler_log::call});
        sleep_interrupted = 0;
        thread_exit_bits = 0;
    }
    void TearDown() override {
        program_register({nullptr, [] {}, [] {}, nullptr});
        handler_log::reset();
        thread_exit_bits = 0;
    }
    recorded_boxes boxes{{platform::id_yes}};
};

// --- Button traps ---------------------------------------------------------------------------------

TEST_F(Traps, ButtonTrapSetChoosesTheRecord) {
    struct row {
        int32_t n, controller, given;
        int32_t record;  // -1: nothing changes
        int32_t error;
    };
    const row rows[] = {
        {0, 0, 0, 0, 0},         // button 1 of controller 1
        {2, 0, 0, 256, 0},       // bit 1: controller 2
        {6, 0, 0, 257, 0},       // button 2 of controller 2
        {4, 3, 1, 513, 0},       // button 2 of controller 3
        {1020, 256, 1, 65535, 0},
        {1, 0, 0, -1, 5},        // odd
        {3, 0, 0, -1, 5},
        {65536, 0, 0, -1, 5},
        {-2, 0, 0, -1, 5},
        {0, 0, 1, -1, 5},        // controller 0
        {0, 65536, 1, -1, 5},
        {0, 300, 1, -1, 0},      // beyond 256 controllers: nothing, no error
        {1024, 0, 0, -1, 0},     // button 257
    };
    for (const auto& r : rows) {
        traps_tables_make();
        error_number = 0;
        button_trap_table[r.record < 0 ? 0 : r.record].pending = 3;
        button_trap_set(r.n, r.controller, r.given, 77, 1234);
        EXPECT_EQ(error_number.load(), r.error) << r.n << "/" << r.controller;
        int32_t changed = -1, changes = 0;
        for (int32_t i = 0; i < button_trap_count; ++i)
            if (button_trap_table[i].handler.load() != 0) changed = i, ++changes;
        EXPECT_EQ(changed, r.record) << r.n << "/" << r.controller;
        EXPECT_LE(changes, 1);
        if (r.record >= 0) {
            EXPECT_EQ(button_trap_table[r.record].argument.load(), 1234);
            EXPECT_EQ(button_trap_table[r.record].pending.load(), 0);
        }
    }
}

TEST_F(Traps, ButtonTrapStateWithoutNumberChangesEveryRecord) {
    button_trap_state(0, 0, trap_action_on, 0);
    for (const auto& t : button_trap_table) ASSERT_EQ(t.state.load(), trap_on);
    button_trap_state(2, 0, trap_action_stop, 1);  // controller 2, button 1
    EXPECT_EQ(button_trap_table[256].state.load(), trap_stopped);
    EXPECT_EQ(button_trap_table[0].state.load(), trap_on);
}

// The button dispatch covers the records of the controllers the device table reports, at most 256.
TEST_F(Traps, ButtonDispatchCoversTheReportedControllersOnly) {
    struct row {
        int32_t (*count)();
        int32_t n, controller;  // button (n >> 2) + 1 of the controller
        bool dispatched;
    };
    const row rows[] = {
        {nullptr, 0, 1, false},               // no device table yet
        {[] { return 0; }, 0, 1, false},
        {[] { return 1; }, 1020, 1, true},    // button 256 of controller 1
        {[] { return 1; }, 0, 2, false},      // controller 2 is not there
        {[] { return 1000; }, 1020, 256, true},
    };
    for (const auto& r : rows) {
        traps_tables_make();
        handler_log::reset();
        trap_controller_count_set(r.count);
        button_trap_set(r.n, r.controller, 1, 12, 34);
        button_trap_state(r.n, r.controller, trap_action_on, 2);
        for (auto& t : button_trap_table) t.pending = 1;
        event_pending = 1;
        boundary();
        EXPECT_EQ(handler_log::calls.size(), r.dispatched ? 1u : 0u) << r.n << "/" << r.controller;
    }
    trap_controller_count_set(nullptr);
}

// --- Key traps ------------------------------------------------------------------------------------

TEST_F(Traps, KeyTrapDefaults) {
    struct row {
        int32_t n, code, alternative;
    };
    const row rows[] = {{1, 0x3B00, 0},       {10, 0x4400, 0},      {11, 0x4800, 100264}, {12, 0x4B00, 100260},
                        {13, 0x4D00, 100262}, {14, 0x5000, 100258}, {15, 0, 0},           {30, 0x8500, 0},
                        {31, 0x8600, 0},      {0, 0, 0}};
    for (const auto& r : rows) {
        EXPECT_EQ(key_trap_table[r.n].key_code.load(), r.code) << r.n;
        EXPECT_EQ(key_trap_table[r.n].alternative_code.load(), r.alternative) << r.n;
    }
    for (int32_t k = 1; k <= 10; ++k) EXPECT_EQ(key_trap_table[k].key_code.load(), (0x3A + k) << 8);
}

TEST_F(Traps, KeyTrapActions) {
    struct row {
        int32_t action;
        uint8_t pending_before;
        uint8_t state, pending_after;
        int32_t event;
    };
    const row rows[] = {
        {trap_action_on, 0, trap_on, 0, 0},      {trap_action_on, 1, trap_on, 1, 1},
        {trap_action_on, 3, trap_on, 3, 1},      {trap_action_off, 3, trap_off, 0, 0},
        {trap_action_stop, 0, trap_stopped, 0, 0}, {trap_action_stop, 1, trap_stopped, 1, 0},
        {trap_action_stop, 3, trap_stopped, 1, 0},
    };
    for (const auto& r : rows) {
        for (int32_t n : {5, 0}) {  // one key, and every key at once
            for (auto& t : key_trap_table) t.pending = r.pending_before;
            event_pending = 0;
            key_trap_state(n, r.action);
            for (int32_t k = 0; k < key_trap_count; ++k) {
                if (n != 0 && k != n) continue;
                EXPECT_EQ(key_trap_table[k].state.load(), r.state) << r.action << " key " << k;
                EXPECT_EQ(key_trap_table[k].pending.load(), r.pending_after) << r.action << " key " << k;
            }
            EXPECT_EQ(event_pending.load(), r.event) << r.action;
        }
    }
    EXPECT_EQ(error_number.load(), 0);
}

TEST_F(Traps, KeyTrapNumbersOutOfRange) {
    struct row {
        int32_t n;
        bool set_ok, state_ok;
    };
    for (const row r : {row{0, false, true}, row{1, true, true}, row{31, true, true}, row{32, false, false},
                        row{-1, false, false}}) {
        error_number = 0;
        key_trap_set(r.n, 1, 0);
        EXPECT_EQ(error_number.load(), r.set_ok ? 0 : 5) << r.n;
        error_number = 0;
        key_trap_state(r.n, trap_action_on);
        EXPECT_EQ(error_number.load(), r.state_ok ? 0 : 5) << r.n;
    }
}

TEST_F(Traps, KeyTrapFireCountsWhileOnAndKeepsOneWhileStopped) {
    key_trap_set(3, 9, 0);
    key_trap_state(3, trap_action_on);
    for (int i = 0; i < 300; ++i) key_trap_fire(3);
    EXPECT_EQ(key_trap_table[3].pending.load(), 255);  // saturates, never wraps to 0
    EXPECT_EQ(event_pending.load(), 1);
    key_trap_state(3, trap_action_stop);
    key_trap_fire(3);
    key_trap_fire(3);
    EXPECT_EQ(key_trap_table[3].pending.load(), 1);
}

TEST_F(Traps, AnOffKeyTrapKeepsNoEvent) {
    key_trap_set(3, 9, 0);
    key_trap_fire(3);
    EXPECT_EQ(key_trap_table[3].pending.load(), 0);
    EXPECT_EQ(event_pending.load(), 0);
}

// --- Dispatch -------------------------------------------------------------------------------------

void key_trap_ready(int32_t n, int32_t handler, int64_t argument, int events) {
    key_trap_set(n, handler, argument);
    key_trap_state(n, trap_action_on);
    for (int i = 0; i < events; ++i) key_trap_fire(n);
}

// A new timer with its handler, switched on (or stopped).
int32_t timer_made(double interval, int32_t handler, int64_t argument, int32_t action = trap_action_on) {
    int32_t n = timer_trap_new();
    timer_trap_set(n, interval, handler, argument);
    timer_trap_state(n, action, 1);
    return n;
}

TEST_F(Traps, AKeyWithTwoEventsRunsTwiceInOneHook) {
    key_trap_ready(4, 40, 400, 2);
    key_trap_ready(2, 20, 200, 1);
    boundary();
    using call = std::pair<int32_t, int64_t>;
    EXPECT_EQ(handler_log::calls, (std::vector<call>{{20, 200}, {40, 400}, {40, 400}}));
    EXPECT_EQ(key_trap_table[4].pending.load(), 0);
}

TEST_F(Traps, KeysGoBeforeTimersAndTimersSetSleepInterrupted) {
    int32_t n = timer_made(1.0, 50, 500);
    timer_traps_scan(10.0);  // armed
    timer_traps_scan(11.5);  // due
    key_trap_ready(7, 70, 700, 1);
    ASSERT_EQ(timer_trap_record(n).pending.load(), timer_due);
    boundary();
    using call = std::pair<int32_t, int64_t>;
    EXPECT_EQ(handler_log::calls, (std::vector<call>{{70, 700}, {50, 500}}));
    EXPECT_EQ(timer_trap_record(n).pending.load(), timer_idle);
    EXPECT_EQ(sleep_interrupted.load(), 1);
}

TEST_F(Traps, AHandlerOfAKindDoesNotNestButRunsAgainAfter) {
    key_trap_ready(5, 50, 0, 1);
    handler_log::body = [](int32_t, int64_t) {
        if (handler_log::calls.size() > 1) return;
        key_trap_fire(5);  // the key again while its handler runs
        boundary(99);      // a statement of the handler
    };
    boundary();
    EXPECT_EQ(handler_log::calls.size(), 2u);
    EXPECT_EQ(handler_log::depth_max, 1);
}

TEST_F(Traps, ATimerDueDuringItsOwnHandlerIsLost) {
    int32_t n = timer_made(1.0, 60, 0);
    timer_traps_scan(1.0);
    timer_traps_scan(2.5);
    handler_log::body = [n](int32_t, int64_t) {
        timer_traps_scan(4.0);  // would be due, but its handler runs
        EXPECT_EQ(timer_trap_record(n).pending.load(), timer_running);
        boundary(99);
    };
    boundary();
    EXPECT_EQ(handler_log::calls.size(), 1u);
    EXPECT_EQ(timer_trap_record(n).pending.load(), timer_idle);
}

TEST_F(Traps, EventsWaitWhileTheErrorHandlerRunsAndFireAfter) {
    key_trap_ready(6, 60, 0, 1);
    error_handler_active = 1;
    boundary();
    EXPECT_TRUE(handler_log::calls.empty());
    EXPECT_EQ(event_pending.load(), 1);  // kept for the statements after the error handler
    error_handler_active = 0;
    boundary();
    EXPECT_EQ(handler_log::calls.size(), 1u);
}

TEST_F(Traps, EventsOfAFailingStatementRunAtTheNextBoundary) {
    key_trap_ready(6, 60, 0, 1);
    error_raise(53);
    boundary();  // reports the error (answered Yes); dispatches nothing
    EXPECT_EQ(boxes.calls.size(), 1u);
    EXPECT_TRUE(handler_log::calls.empty());
    EXPECT_EQ(event_pending.load(), 1);
    boundary();
    EXPECT_EQ(handler_log::calls.size(), 1u);
}

// --- Timers ---------------------------------------------------------------------------------------

// The timer thread sleeps until this millisecond: the first one at which the scan's own test
// finds the timer due, never now or before, never for an interval the clock cannot reach.
TEST_F(Traps, TimerDueMillisecondIsTheScansFirst) {
    struct due_case {
        double last, interval;
        int64_t now_ms, want;
    };
    const due_case cases[] = {
        {10.0, 1.0, 10000, 11001},   {10.0, 0.001, 10000, 10002},
        {10.0, 0.3, 10000, 10300},  // 10.3 - 10 is a little above 0.3 in binary
        {0.1, 0.2, 100, 301},        {10.0, 1.0, 20000, 20001},   {10.0, -1.0, 10000, 10001},
        {10.0, 1e300, 10000, timer_never_due}, {10.0, std::nan(""), 10000, timer_never_due},
    };
    for (const due_case& c : cases) {
        int64_t due = timer_due_ms(c.last, c.interval, c.now_ms);
        EXPECT_EQ(due, c.want) << c.last << " + " << c.interval << " at " << c.now_ms;
        if (due == timer_never_due) continue;
        EXPECT_TRUE(static_cast<double>(due) * 0.001 - c.last > c.interval);
        EXPECT_FALSE(due - 1 > c.now_ms && static_cast<double>(due - 1) * 0.001 - c.last > c.interval);
    }
}

TEST_F(Traps, TheNextDueTimerIsTheEarliestThatCanFallDue) {
    EXPECT_EQ(timer_traps_next_due_ms(5000), timer_never_due);  // timer 0 has no handler
    int32_t slow = timer_made(2.0, 1, 0);
    int32_t fast = timer_made(0.5, 2, 0);
    timer_traps_scan(5.0);  // both armed
    EXPECT_EQ(timer_traps_next_due_ms(5000), 5501);
    timer_trap_record(fast).pending.store(timer_due);  // waits for the program thread
    EXPECT_EQ(timer_traps_next_due_ms(5000), 7001);
    timer_trap_state(slow, trap_action_off, 1);
    EXPECT_EQ(timer_traps_next_due_ms(5000), timer_never_due);
}

TEST_F(Traps, TimerScanArmsFiresAndKeepsItsGrid) {
    int32_t n = timer_made(1.0, 8, 0);
    struct step {
        double now;
        double last;  // after the scan
        uint8_t pending;
    };
    // Armed at the first scan, even before the process has run one interval.
    const step steps[] = {
        {0.5, 0.5, timer_idle}, {1.4, 0.5, timer_idle}, {1.6, 1.5, timer_due},
        {2.7, 1.5, timer_due},  // due already: nothing more
    };
    for (const auto& s : steps) {
        event_pending = 0;
        timer_traps_scan(s.now);
        EXPECT_DOUBLE_EQ(timer_trap_record(n).last.load(), s.last) << s.now;
        EXPECT_EQ(timer_trap_record(n).pending.load(), s.pending) << s.now;
        EXPECT_EQ(event_pending.load(), s.pending == timer_due && s.now == 1.6) << s.now;
    }
    statement_hook(10);
    timer_traps_scan(2.7);  // on the grid of the arming
    EXPECT_DOUBLE_EQ(timer_trap_record(n).last.load(), 2.5);
    statement_hook(10);
    timer_traps_scan(6.0);  // far behind: a new grid from now
    EXPECT_DOUBLE_EQ(timer_trap_record(n).last.load(), 6.0);
    EXPECT_EQ(handler_log::calls.size(), 2u);
}

TEST_F(Traps, StoppedTimerKeepsOneEventAndRunsWhenTurnedOn) {
    int32_t n = timer_made(1.0, 8, 0, trap_action_stop);
    timer_traps_scan(1.0);
    timer_traps_scan(2.5);
    timer_traps_scan(9.0);
    boundary();
    EXPECT_TRUE(handler_log::calls.empty());
    EXPECT_EQ(timer_trap_record(n).pending.load(), timer_due);
    event_pending = 0;
    timer_trap_state(n, trap_action_on, 1);
    EXPECT_EQ(event_pending.load(), 1);  // no need to wait for some other event
    boundary();
    EXPECT_EQ(handler_log::calls.size(), 1u);
}

TEST_F(Traps, TimerOffDropsItsEventAndDisarms) {
    int32_t n = timer_made(1.0, 8, 0);
    timer_traps_scan(1.0);
    timer_traps_scan(2.5);
    timer_trap_state(n, trap_action_off, 1);
    EXPECT_EQ(timer_trap_record(n).pending.load(), timer_idle);
    EXPECT_EQ(timer_trap_record(n).last.load(), 0.0);
    timer_trap_state(n, trap_action_on, 1);
    timer_traps_scan(3.0);  // armed afresh
    timer_traps_scan(3.9);
    EXPECT_EQ(timer_trap_record(n).pending.load(), timer_idle);
    timer_traps_scan(4.1);
    EXPECT_EQ(timer_trap_record(n).pending.load(), timer_due);
}

TEST_F(Traps, TimerNumbersAreReusedLastFreedFirstAndNeverTwice) {
    std::vector<int32_t> numbers;
    for (int i = 0; i < 12; ++i) numbers.push_back(timer_trap_new());
    EXPECT_EQ(numbers.front(), 1);
    EXPECT_EQ(numbers.back(), 12);
    for (int32_t n : numbers) timer_trap_release(n);  // more than the stack's first eight
    EXPECT_EQ(error_number.load(), 0);
    timer_trap_release(12);  // twice
    EXPECT_EQ(error_number.load(), 5);
    error_number = 0;
    std::vector<int32_t> again;
    for (int i = 0; i < 13; ++i) again.push_back(timer_trap_new());
    std::vector<int32_t> expected(numbers.rbegin(), numbers.rend());
    expected.push_back(13);
    EXPECT_EQ(again, expected);
}

TEST_F(Traps, TimerErrors) {
    struct row {
        const char* what;
        std::function<void()> call;
    };
    const row rows[] = {
        {"release timer 0", [] { timer_trap_release(0); }},
        {"release past the count", [] { timer_trap_release(50); }},
        {"free timer 0", [] { timer_trap_state(0, trap_action_free, 1); }},
        {"set a free timer", [] { timer_trap_set(5, 1.0, 1, 0); }},
        {"switch a free timer", [] { timer_trap_state(5, trap_action_on, 1); }},
        {"set timer -1", [] { timer_trap_set(-1, 1.0, 1, 0); }},
    };
    for (const auto& r : rows) {
        error_number = 0;
        r.call();
        EXPECT_EQ(error_number.load(), 5) << r.what;
    }
    error_number = 0;
    timer_trap_state(0, trap_action_on, 0);  // without a number: timer 0
    EXPECT_EQ(timer_trap_record(0).state.load(), trap_on);
    EXPECT_EQ(error_number.load(), 0);
}

TEST_F(Traps, AReusedTimerStartsClean) {
    int32_t n = timer_made(2.0, 8, 99, trap_action_stop);
    timer_traps_scan(1.0);
    timer_traps_scan(3.5);
    ASSERT_EQ(timer_trap_record(n).pending.load(), timer_due);
    timer_trap_release(n);
    ASSERT_EQ(timer_trap_new(), n);
    const timer_trap& t = timer_trap_record(n);
    EXPECT_EQ(t.pending.load(), timer_idle);
    EXPECT_EQ(t.state.load(), trap_off);
    EXPECT_EQ(t.handler.load(), 0);
    EXPECT_EQ(t.argument.load(), 0);
    EXPECT_EQ(t.last.load(), 0.0);
    EXPECT_EQ(t.interval.load(), 0.0);
}

TEST_F(Traps, NothingHappensWhileAnErrorIsPending) {
    error_number = 7;
    EXPECT_EQ(timer_trap_new(), 0);
    key_trap_set(3, 1, 0);
    button_trap_set(0, 0, 0, 1, 0);
    EXPECT_EQ(key_trap_table[3].handler.load(), 0);
    EXPECT_EQ(button_trap_table[0].handler.load(), 0);
    EXPECT_EQ(timer_trap_count(), 1);
}

// --- With the real timer thread -------------------------------------------------------------------

class TrapsThreaded : public Traps {
protected:
    void TearDown() override {
        timer_thread_stop();
        Traps::TearDown();
    }
    void timer_thread_start() { timer_thread = std::thread(timer_thread_entry); }
    void timer_thread_stop() {
        if (!timer_thread.joinable()) return;
        shutdown_flag = 1;
        timer_thread_wake();
        timer_thread.join();
        EXPECT_EQ(thread_exit_bits.load() & thread_exit_timer_ended, thread_exit_timer_ended);
        shutdown_flag = 0;
    }
    // Runs statements of the program until done() or a time limit (by default one that only a
    // hang reaches, however loaded the machine).
    template <class Done>
    bool run_statements_until(Done done, int limit_ms = 60000) {
        auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(limit_ms);
        while (!done()) {
            if (std::chrono::steady_clock::now() > end) return false;
            in_statement = true;
            ++statements;
            in_statement = false;
            boundary();
        }
        return true;
    }
    static inline bool in_statement = false;
    static inline int64_t statements = 0;
    std::thread timer_thread;
};

TEST_F(TrapsThreaded, ATimerFiresAndRunsAtAStatementBoundary) {
    static std::thread::id program_thread;
    static std::atomic<int> mid_statement_calls;
    program_thread = std::this_thread::get_id();
    mid_statement_calls = 0;
    handler_log::body = [](int32_t, int64_t) {
        if (in_statement || std::this_thread::get_id() != program_thread) ++mid_statement_calls;
    };
    timer_made(0.005, 3, 30);
    timer_thread_start();
    EXPECT_TRUE(run_statements_until([] { return handler_log::calls.size() >= 3; }));
    EXPECT_EQ(mid_statement_calls.load(), 0);
    EXPECT_EQ(handler_log::calls.front(), std::make_pair(3, int64_t{30}));
}

TEST_F(TrapsThreaded, KeyEventsWaitWhileTheirHandlerRunsAndFireAfter) {
    // Another thread stands in for the window's key callbacks.
    static std::atomic<int> fired;
    fired = 0;
    key_trap_ready(9, 90, 0, 1);
    handler_log::body = [this](int32_t, int64_t) {
        if (handler_log::calls.size() > 1) return;
        std::thread keys([] {
            key_trap_fire(9);
            key_trap_fire(9);
            fired = 2;
        });
        EXPECT_TRUE(run_statements_until([] { return fired.load() == 2; }));
        keys.join();
        run_statements_until([] { return false; }, 20);  // the handler goes on a while
        EXPECT_EQ(handler_log::calls.size(), 1u);
    };
    boundary();
    EXPECT_EQ(handler_log::calls.size(), 3u);
    EXPECT_EQ(handler_log::depth_max, 1);
}

TEST_F(TrapsThreaded, AStoppedTimerRunsAsSoonAsItIsTurnedOn) {
    int32_t n = timer_made(0.002, 4, 0, trap_action_stop);
    timer_thread_start();
    EXPECT_TRUE(run_statements_until([n] { return timer_trap_record(n).pending.load() == timer_due; }));
    EXPECT_TRUE(handler_log::calls.empty());
    timer_thread_stop();  // nothing else can set event_pending now
    event_pending = 0;
    timer_trap_state(n, trap_action_on, 1);
    boundary();
    EXPECT_EQ(handler_log::calls.size(), 1u);
}

TEST_F(TrapsThreaded, TheTableGrowsWhileTheTimerThreadScans) {
    std::set<int32_t> allocated;
    static std::vector<int64_t> wrong;
    wrong.clear();
    handler_log::body = [](int32_t, int64_t argument) {
        if (!timer_trap_record(static_cast<int32_t>(argument)).allocated.load()) wrong.push_back(argument);
    };
    timer_thread_start();
    for (int i = 0; i < 200; ++i) {
        int32_t n = timer_trap_new();
        allocated.insert(n);
        if (i < 50) {
            timer_trap_set(n, 0.001, 1, n);
            timer_trap_state(n, trap_action_on, 1);
        }
        boundary();
    }
    run_statements_until([] { return handler_log::calls.size() >= 200; });
    EXPECT_EQ(allocated.size(), 200u);
    EXPECT_EQ(*allocated.rbegin(), 200);
    EXPECT_GE(handler_log::calls.size(), 200u);
    EXPECT_TRUE(wrong.empty());
}

// The timer thread sleeps while no timer can fall due: a timer turned on wakes it, and the first
// event comes one interval later, not after the thread's longest sleep (a quarter second). Each try
// starts a fresh thread, so that without the wake every try waits out that sleep; a loaded machine
// may stretch one try past the bound, not all of them.
TEST_F(TrapsThreaded, ATimerTurnedOnWakesTheSleepingTimerThread) {
    constexpr int tries = 5;
    constexpr auto within_the_longest_sleep = std::chrono::milliseconds(200);
    bool woken = false;
    for (int i = 0; i < tries && !woken; ++i) {
        timer_thread_start();
        std::this_thread::sleep_for(std::chrono::milliseconds(20));  // asleep with nothing to do
        auto start = std::chrono::steady_clock::now();
        int32_t n = timer_made(0.01, 5, 0);
        EXPECT_TRUE(run_statements_until([] { return !handler_log::calls.empty(); }));
        woken = std::chrono::steady_clock::now() - start < within_the_longest_sleep;
        timer_thread_stop();
        timer_trap_state(n, trap_action_free, 1);
        handler_log::calls.clear();
    }
    EXPECT_TRUE(woken);
}

}  // namespace
