// Event traps: the controller-button, key and timer trap tables, the statements that set a trap's
// handler and turn it on, off or stopped, the timer thread that marks due timers as they fall due,
// and the dispatch of pending handlers at statement boundaries (event_dispatch, core/statements.h).
// An event only raises a trap's pending count and event_pending; the handler runs later on the
// program thread. Keys are matched by the keyboard, which fires the trap with key_trap_fire.
#pragma once

#include <atomic>
#include <cstdint>

struct string_descriptor;

enum trap_state : uint8_t {
    trap_off = 0,      // events are not recorded
    trap_on = 1,       // events are recorded and dispatched
    trap_stopped = 2,  // at most one event is kept until the trap is on again
};

enum trap_action : int32_t {
    trap_action_on = 1,
    trap_action_off = 2,
    trap_action_stop = 3,
    trap_action_free = 4,  // timers only
};

// What every trap has. The program thread writes handler, argument and state; pending is raised by
// the thread that sees the event and lowered by the dispatch.
struct trap_record {
    std::atomic<int32_t> handler{0};  // the program's handler number; 0 = none
    std::atomic<int64_t> argument{0};
    std::atomic<uint8_t> state{trap_off};
    std::atomic<uint8_t> pending{0};  // events waiting
};

// Record (button - 1) + 256 * (controller - 1), buttons and controllers 1 to 256.
using button_trap = trap_record;
constexpr int32_t button_trap_count = 65536;
extern button_trap button_trap_table[button_trap_count];

// Records 1-31 are the trappable keys; record 0 takes part only in key matching and in the state
// change of all keys. The codes, scan code, shift mask and key text are written by the key
// statements on the program thread and read by the keyboard on the main thread.
struct key_trap : trap_record {
    std::atomic<int32_t> key_code{0};          // key code that fires the trap
    std::atomic<int32_t> alternative_code{0};  // a second code (the keypad form of a cursor key)
    std::atomic<uint8_t> trap_scan_code{0};    // user-defined keys: the scan code to match
    std::atomic<uint8_t> shift_mask{0};        // user-defined keys: the shift states to match
    std::atomic<string_descriptor*> key_text{nullptr};  // text a function key types (soft key)
};
constexpr int32_t key_trap_count = 32;
extern key_trap key_trap_table[key_trap_count];

enum timer_pending : uint8_t {
    timer_idle = 0,
    timer_due = 1,
    timer_running = 2,  // its handler runs
};

struct timer_trap {
    std::atomic<uint8_t> allocated{0};
    std::atomic<int32_t> handler{0};
    std::atomic<int64_t> argument{0};
    std::atomic<uint8_t> state{trap_off};
    std::atomic<uint8_t> pending{timer_idle};
    std::atomic<double> interval{0};  // seconds between events
    std::atomic<double> last{0};      // clock seconds of the last event; 0 = not armed
};

// Program thread only. A handler is being dispatched; no other of its kind starts meanwhile.
extern int32_t button_dispatch_busy;
extern int32_t key_dispatch_busy;

// Program start-up: every table empty; the timer table holds timer 0.
void traps_tables_make();
// Where the button dispatch learns how many game controllers are registered: the device table
// sets it when it is made. Until then there are none.
void trap_controller_count_set(int32_t (*count)());
// Start-up: key-trap default codes (F1-F10, cursor keys with their keypad forms, F11, F12).
void key_trap_defaults_set();
// Start-up: timer 0 allocated, no handler, off, nothing pending.
void timer_trap_zero_init();

// n is 0-65535 (bit 1 chooses controller 2 when no controller is given; button (n >> 2) + 1);
// bad n or controller: error 5; beyond 256 buttons or controllers nothing happens.
void button_trap_set(int32_t n, int32_t controller, int32_t controller_given, int32_t handler, int64_t argument);
// flags below 1: every record; else n and the controller as above (bit 1 of flags: controller given).
void button_trap_state(int32_t n, int32_t controller, int32_t action, int32_t flags);
// n 1-31, else error 5.
void key_trap_set(int32_t n, int32_t handler, int64_t argument);
// n 0-31 (0: every key), else error 5.
void key_trap_state(int32_t n, int32_t action);
// The keyboard saw trap n's key: one more event while it is on, one kept while stopped, none while off.
void key_trap_fire(int32_t n);

// A free timer number, reused last-freed first; the table grows under the hand-over with the timer
// thread. 0 while an error is pending.
int32_t timer_trap_new();
// Timer n (1 to count - 1, allocated; else error 5) becomes free.
void timer_trap_release(int32_t n);
// Interval in seconds; the timer is armed afresh. n must be allocated, else error 5.
void timer_trap_set(int32_t n, double interval, int32_t handler, int64_t argument);
// Without n: timer 0. Freeing timer 0: error 5.
void timer_trap_state(int32_t n, int32_t action, int32_t n_given);
// Program thread: the number of timer records and record n (the table moves when it grows).
int32_t timer_trap_count();
timer_trap& timer_trap_record(int32_t n);

// The timer thread: a scan whenever a timer falls due or the table changes, until shutdown; it then
// sets its exit bit and returns.
void timer_thread_entry();
// The table changed (or the runtime shuts down): the timer thread scans again at once.
void timer_thread_wake();
// The first clock millisecond after now_ms at which the scan finds a timer due that was last armed
// or fired at last (seconds), timer_never_due when never; and the earliest of all timers that can fall
// due without the program thread changing them.
constexpr int64_t timer_never_due = INT64_MAX;
int64_t timer_due_ms(double last, double interval, int64_t now_ms);
int64_t timer_traps_next_due_ms(int64_t now_ms);
// One scan of the timer thread at the clock time now (seconds): arms new timers, marks due ones.
void timer_traps_scan(double now);

// Sets event_pending when a trap is ready to dispatch: for statement_hook's paths that do not
// dispatch, so no event waits for an unrelated one.
void event_pending_rearm();
