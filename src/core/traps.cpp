#include "core/traps.h"

#include <algorithm>
#include <cmath>
#include <condition_variable>
#include <mutex>
#include <new>
#include <vector>

#include "core/errors.h"
#include "core/program_interface.h"
#include "core/shutdown.h"
#include "core/statements.h"
#include "core/timing.h"

button_trap button_trap_table[button_trap_count];
key_trap key_trap_table[key_trap_count];
int32_t button_dispatch_busy = 0;
int32_t key_dispatch_busy = 0;

namespace {

// The timer table. The program thread moves the records only while the timer thread keeps away:
// it asks with resize_handshake 1 and waits for the answer 2 (or for the thread not to run).
struct timer_table {
    std::atomic<timer_trap*> records{nullptr};
    std::atomic<int32_t> count{0};
    int32_t capacity = 0;
    std::vector<int32_t> free_numbers;  // reused last-freed first
    std::atomic<int32_t> resize_handshake{0};
    std::atomic<int32_t> thread_running{0};
    // The timer thread sleeps until the next timer falls due or the table changes.
    std::mutex wake_lock;
    std::condition_variable woken;
    bool changed = false;
};
timer_table timers;

constexpr int32_t controllers_max = 256;
constexpr int32_t buttons_per_controller = 256;

// The registered game controllers, as the device table answers; none until it has said how.
int32_t (*controllers_registered)() = nullptr;

void handler_call(int32_t handler, int64_t argument) {
    if (auto call = program_registered().trap_handler_call) call(handler, argument);
}

// Lowers a pending count by one; false when it was already 0.
bool pending_take(std::atomic<uint8_t>& pending) {
    uint8_t n = pending.load();
    while (n > 0)
        if (pending.compare_exchange_weak(n, static_cast<uint8_t>(n - 1))) return true;
    return false;
}

// Drops a due event; a running handler stays marked running.
void timer_due_drop(timer_trap& t) {
    uint8_t due = timer_due;
    t.pending.compare_exchange_strong(due, timer_idle);
}

bool trap_ready(const trap_record& t) { return t.handler.load() != 0 && t.state.load() == trap_on && t.pending.load() > 0; }

bool timer_ready(const timer_trap& t) {
    return t.allocated.load() && t.handler.load() != 0 && t.state.load() == trap_on && t.pending.load() == timer_due;
}

// The first record of table[first, end) that is ready, or -1.
template <class Trap>
int32_t trap_first_ready(Trap* table, int32_t first, int32_t end) {
    for (int32_t i = first; i < end; ++i)
        if (trap_ready(table[i])) return i;
    return -1;
}

struct busy_flag {
    int32_t& flag;
    explicit busy_flag(int32_t& f) : flag(f) { flag = 1; }
    ~busy_flag() { flag = 0; }
};

// Runs the ready handlers of table[first, end) one at a time, looking again from the start after
// each. While the program's error handler runs, a ready trap is kept for later.
template <class Trap>
void trap_phase_dispatch(Trap* table, int32_t first, int32_t end, int32_t& busy) {
    while (!busy) {
        int32_t i = trap_first_ready(table, first, end);
        if (i < 0) return;
        if (error_handler_active) {
            event_pending_raise();
            return;
        }
        Trap& t = table[i];
        if (!pending_take(t.pending)) continue;
        busy_flag running(busy);
        handler_call(t.handler.load(), t.argument.load());
    }
}

// The controllers' button records lie at the start of the table, 256 per controller, in the order
// of the controllers among the registered devices.
int32_t button_records_in_use() {
    int32_t controllers = controllers_registered ? controllers_registered() : 0;
    return std::min(controllers, controllers_max) * buttons_per_controller;
}

struct timer_running_mark {
    int32_t n;
    ~timer_running_mark() {
        // The handler may have grown the table: look the record up again.
        timers.records.load()[n].pending.store(timer_idle);
        sleep_interrupted.store(1);
        timer_thread_wake();  // the timer may fall due again
    }
};

void timer_phase_dispatch() {
    for (int32_t i = 0; i < timers.count.load(); ++i) {
        timer_trap& t = timers.records.load()[i];
        if (!timer_ready(t)) continue;
        if (error_handler_active) {
            event_pending_raise();
            return;
        }
        uint8_t due = timer_due;
        if (!t.pending.compare_exchange_strong(due, timer_running)) continue;
        timer_running_mark mark{i};
        handler_call(t.handler.load(), t.argument.load());
    }
}

bool timer_any_ready() {
    for (int32_t i = 0; i < timers.count.load(); ++i)
        if (timer_ready(timers.records.load()[i])) return true;
    return false;
}

// Button and key traps share the actions on, off and stop.
void trap_action_apply(trap_record& t, int32_t action) {
    switch (action) {
    case trap_action_on:
        t.state.store(trap_on);
        if (t.pending.load() != 0) event_pending_raise();
        break;
    case trap_action_off:
        t.state.store(trap_off);
        t.pending.store(0);
        break;
    case trap_action_stop: {
        t.state.store(trap_stopped);
        uint8_t n = t.pending.load();
        while (n > 1 && !t.pending.compare_exchange_weak(n, 1)) {
        }
        break;
    }
    default: break;
    }
}

// The record of button trap n, or -1: error 5 for a bad n or controller, nothing beyond 256.
int32_t button_trap_index(int32_t n, int32_t controller, bool controller_given) {
    if (n < 0 || n > 65535) {
        error_raise(error_illegal_function_call);
        return -1;
    }
    if (!controller_given) {
        controller = (n & 2) ? 2 : 1;
        n &= ~2;
    } else if (controller < 1 || controller > 65535) {
        error_raise(error_illegal_function_call);
        return -1;
    }
    if (n & 1) {
        error_raise(error_illegal_function_call);
        return -1;
    }
    int32_t button = (n >> 2) + 1;
    if (controller > controllers_max || button > buttons_per_controller) return -1;
    return (button - 1) + buttons_per_controller * (controller - 1);
}

// Timer n when it exists and is allocated; else error 5 and null.
timer_trap* timer_allocated(int32_t n) {
    if (n < 0 || n >= timers.count.load() || !timers.records.load()[n].allocated.load()) {
        error_raise(error_illegal_function_call);
        return nullptr;
    }
    return &timers.records.load()[n];
}

// Program thread: waits until the timer thread keeps away from the table (or does not run).
void timer_thread_keep_away() {
    timers.resize_handshake.store(1);
    timer_thread_wake();
    program_wait_until([] { return timers.resize_handshake.load() != 1 || !timers.thread_running.load(); }, 0);
}

void timer_record_copy(timer_trap& to, const timer_trap& from) {
    to.allocated.store(from.allocated.load());
    to.handler.store(from.handler.load());
    to.argument.store(from.argument.load());
    to.state.store(from.state.load());
    to.pending.store(from.pending.load());
    to.interval.store(from.interval.load());
    to.last.store(from.last.load());
}

// Doubles the table; false (after the fatal error) when there is no memory for it.
bool timer_table_grow() {
    auto* fresh = timers.capacity <= (1 << 28)
                      ? new (std::nothrow) timer_trap[static_cast<size_t>(timers.capacity) * 2]
                      : nullptr;
    if (!fresh) {
        error_raise(error_critical_out_of_memory);
        return false;
    }
    timer_thread_keep_away();
    timer_trap* old = timers.records.load();
    for (int32_t i = 0; i < timers.capacity; ++i) timer_record_copy(fresh[i], old[i]);
    timers.records.store(fresh);
    timers.capacity *= 2;
    timers.resize_handshake.store(0);
    timer_thread_wake();
    delete[] old;
    return true;
}

// What every kind of trap has: no handler, off, nothing pending (timer_idle for a timer).
template <class Trap>
void trap_record_clear(Trap& t) {
    t.handler.store(0);
    t.argument.store(0);
    t.state.store(trap_off);
    t.pending.store(0);
}

void timer_record_clear(timer_trap& t) {
    trap_record_clear(t);
    t.interval.store(0);
    t.last.store(0);
}

}  // namespace

void trap_controller_count_set(int32_t (*count)()) { controllers_registered = count; }

void traps_tables_make() {
    for (auto& t : button_trap_table) trap_record_clear(t);
    for (auto& t : key_trap_table) {
        trap_record_clear(t);
        t.key_code.store(0);
        t.alternative_code.store(0);
        t.trap_scan_code.store(0);
        t.shift_mask.store(0);
        t.key_text.store(nullptr);
    }
    button_dispatch_busy = key_dispatch_busy = 0;
    delete[] timers.records.exchange(new timer_trap[1]);
    timers.capacity = 1;
    timers.count.store(1);
    timers.free_numbers.clear();
    timers.free_numbers.reserve(8);
    timers.resize_handshake.store(0);
}

void key_trap_defaults_set() {
    struct key_default {
        int32_t n, code, alternative;
    };
    static constexpr key_default cursor_keys[] = {
        {11, 0x4800, 100264}, {12, 0x4B00, 100260}, {13, 0x4D00, 100262}, {14, 0x5000, 100258},
        {30, 0x8500, 0},      {31, 0x8600, 0},
    };
    for (int32_t k = 1; k <= 10; ++k) key_trap_table[k].key_code.store(0x3B00 + (k - 1) * 0x100);
    for (const auto& d : cursor_keys) {
        key_trap_table[d.n].key_code.store(d.code);
        key_trap_table[d.n].alternative_code.store(d.alternative);
    }
}

void timer_trap_zero_init() {
    timer_trap& t = timers.records.load()[0];
    timer_record_clear(t);
    t.allocated.store(1);
}

void button_trap_set(int32_t n, int32_t controller, int32_t controller_given, int32_t handler, int64_t argument) {
    if (error_pending()) return;
    int32_t i = button_trap_index(n, controller, controller_given != 0);
    if (i < 0) return;
    button_trap& t = button_trap_table[i];
    t.pending.store(0);
    t.argument.store(argument);
    t.handler.store(handler);
}

void button_trap_state(int32_t n, int32_t controller, int32_t action, int32_t flags) {
    if (error_pending()) return;
    if (flags < 1) {
        for (auto& t : button_trap_table) trap_action_apply(t, action);
        return;
    }
    int32_t i = button_trap_index(n, controller, (flags & 2) != 0);
    if (i >= 0) trap_action_apply(button_trap_table[i], action);
}

void key_trap_set(int32_t n, int32_t handler, int64_t argument) {
    if (error_pending()) return;
    if (n < 1 || n >= key_trap_count) return error_raise(error_illegal_function_call);
    key_trap& t = key_trap_table[n];
    t.pending.store(0);
    t.argument.store(argument);
    t.handler.store(handler);
}

void key_trap_state(int32_t n, int32_t action) {
    if (error_pending()) return;
    if (n < 0 || n >= key_trap_count) return error_raise(error_illegal_function_call);
    if (n > 0) return trap_action_apply(key_trap_table[n], action);
    for (auto& t : key_trap_table) trap_action_apply(t, action);
}

void key_trap_fire(int32_t n) {
    if (n < 0 || n >= key_trap_count) return;
    key_trap& t = key_trap_table[n];
    if (t.state.load() == trap_off) return;  // an off trap keeps no event
    if (t.state.load() == trap_on) {
        uint8_t count = t.pending.load();
        while (count < 255 && !t.pending.compare_exchange_weak(count, static_cast<uint8_t>(count + 1))) {
        }
    } else {
        t.pending.store(1);
    }
    event_pending_raise();
}

int32_t timer_trap_new() {
    if (error_pending()) return 0;
    int32_t n;
    if (!timers.free_numbers.empty()) {
        n = timers.free_numbers.back();
        timers.free_numbers.pop_back();
    } else {
        n = timers.count.load();
        if (n == timers.capacity && !timer_table_grow()) return 0;
    }
    // A reused number starts clean: an old due event or interval must not carry over.
    timer_trap& t = timers.records.load()[n];
    timer_record_clear(t);
    t.allocated.store(1);
    if (n == timers.count.load()) timers.count.store(n + 1);
    return n;
}

void timer_trap_release(int32_t n) {
    if (error_pending()) return;
    // Timer 0 always exists, and a number freed twice must not be handed out twice.
    if (n == 0) return error_raise(error_illegal_function_call);
    timer_trap* t = timer_allocated(n);
    if (!t) return;
    t->allocated.store(0);
    t->handler.store(0);
    timers.free_numbers.push_back(n);
}

void timer_trap_set(int32_t n, double interval, int32_t handler, int64_t argument) {
    if (error_pending()) return;
    timer_trap* t = timer_allocated(n);
    if (!t) return;
    timer_due_drop(*t);
    t->interval.store(interval);
    t->argument.store(argument);
    t->handler.store(handler);
    t->last.store(0);
    timer_thread_wake();
}

void timer_trap_state(int32_t n, int32_t action, int32_t n_given) {
    if (error_pending()) return;
    if (!n_given) n = 0;
    timer_trap* t = timer_allocated(n);
    if (!t) return;
    switch (action) {
    case trap_action_on:
        t->state.store(trap_on);
        // An event kept while stopped runs at the next boundary, not at some unrelated later one.
        if (t->pending.load() == timer_due) event_pending_raise();
        break;
    case trap_action_off:
        t->state.store(trap_off);
        timer_due_drop(*t);
        t->last.store(0);
        break;
    case trap_action_stop: t->state.store(trap_stopped); break;
    case trap_action_free:
        if (n == 0) return error_raise(error_illegal_function_call);
        t->state.store(trap_off);
        timer_due_drop(*t);
        timer_trap_release(n);
        break;
    default: break;
    }
    timer_thread_wake();
}

int32_t timer_trap_count() { return timers.count.load(); }

timer_trap& timer_trap_record(int32_t n) { return timers.records.load()[n]; }

void timer_traps_scan(double now) {
    // The count first: a record counted is always inside the table seen afterwards.
    int32_t count = timers.count.load();
    timer_trap* records = timers.records.load();
    for (int32_t i = 0; i < count; ++i) {
        timer_trap& t = records[i];
        if (t.allocated.load() && t.handler.load() != 0 && t.state.load() != trap_off &&
            t.pending.load() == timer_idle) {
            double last = t.last.load();
            double interval = t.interval.load();
            if (last == 0) {
                // Armed at once: the first interval counts from now, however long the process ran.
                t.last.compare_exchange_strong(last, now);
            } else if (now - last > interval) {
                double next = last + interval;
                if (std::fabs(now - next) >= interval) next = now;  // fell behind: a new grid
                uint8_t idle = timer_idle;
                if (t.last.compare_exchange_strong(last, next) && t.pending.compare_exchange_strong(idle, timer_due))
                    event_pending_raise();
            }
        }
        if (timers.resize_handshake.load() == 1) return;
    }
}

void timer_thread_wake() {
    {
        std::lock_guard guard(timers.wake_lock);
        timers.changed = true;
    }
    timers.woken.notify_one();
}

int64_t timer_due_ms(double last, double interval, int64_t now_ms) {
    // Beyond this the clock never gets there (and the milliseconds would not fit).
    constexpr double seconds_never = 1e12;
    double due = last + interval;
    if (!(due < seconds_never)) return timer_never_due;
    auto m = std::max(now_ms + 1, static_cast<int64_t>(std::floor(due * 1000)));
    while (!(static_cast<double>(m) * 0.001 - last > interval)) ++m;  // the scan's own test
    return m;
}

int64_t timer_traps_next_due_ms(int64_t now_ms) {
    int64_t next = timer_never_due;
    int32_t count = timers.count.load();
    timer_trap* records = timers.records.load();
    for (int32_t i = 0; i < count; ++i) {
        const timer_trap& t = records[i];
        if (!t.allocated.load() || t.handler.load() == 0 || t.state.load() == trap_off ||
            t.pending.load() != timer_idle)
            continue;  // only the program thread changes that, and it wakes the thread
        double last = t.last.load();
        next = std::min(next, last == 0 ? now_ms + 1 : timer_due_ms(last, t.interval.load(), now_ms));
    }
    return next;
}

namespace {

// Until the clock reaches due_ms, the table changes or shutdown; a writer that forgets to wake costs
// at most the guard.
void timer_thread_sleep(int64_t due_ms) {
    constexpr int64_t guard_ms = 250;
    std::unique_lock guard(timers.wake_lock);
    auto until = clock_ms_moment(std::min(due_ms, clock_ms() + guard_ms));
    timers.woken.wait_until(guard, until, [] { return timers.changed || shutdown_flag.load() != 0; });
    timers.changed = false;
}

}  // namespace

void timer_thread_entry() {
    timers.thread_running.store(1);
    for (;;) {
        int32_t asked = 1;
        timers.resize_handshake.compare_exchange_strong(asked, 2);
        int64_t due = timer_never_due;
        if (timers.resize_handshake.load() == 0) {
            int64_t now = clock_ms();
            timer_traps_scan(static_cast<double>(now) * 0.001);
            if (timers.resize_handshake.load() == 1) continue;  // answer at once
            due = timer_traps_next_due_ms(now);
        }
        if (shutdown_flag.load()) break;
        timer_thread_sleep(due);
        if (shutdown_flag.load()) break;
    }
    timers.thread_running.store(0);
    thread_exit_bits.fetch_or(thread_exit_timer_ended);
}

void event_dispatch() {
    trap_phase_dispatch(button_trap_table, 0, button_records_in_use(), button_dispatch_busy);
    trap_phase_dispatch(key_trap_table, 1, key_trap_count, key_dispatch_busy);
    timer_phase_dispatch();
}

void event_pending_rearm() {
    bool ready = (!button_dispatch_busy && trap_first_ready(button_trap_table, 0, button_records_in_use()) >= 0) ||
                 (!key_dispatch_busy && trap_first_ready(key_trap_table, 1, key_trap_count) >= 0) ||
                 timer_any_ready();
    if (ready) event_pending_raise();
}
