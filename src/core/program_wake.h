// Waking the program thread from an idle wait. Whatever a waiting program may be waiting for calls
// program_wake: a key stored, an event raised (event_pending_raise), the runtime shutting down. A
// wait takes a ticket before it looks at its condition and sleeps only while no wake came since,
// so no wake is lost between the look and the sleep. Not here: what is waited for.
#pragma once

#include <cstdint>

#include "core/shutdown.h"

uint32_t program_wake_ticket();
void program_wake();
// Sleeps until a wake after the ticket was taken, or until timeout_ms passed (below 0: no limit).
void program_wake_wait(uint32_t ticket, int64_t timeout_ms);
// Odd while the program thread sleeps in program_wake_wait; it grows by one as the thread goes to
// sleep (after everything it wrote) and as it wakes (before it writes anything again). A reader
// that sees the same odd value twice knows the program wrote nothing in between.
uint64_t program_idle_token();

// A writer that stores a watched word without waking costs a wait at most this long.
constexpr int64_t program_wake_guard_ms = 250;

// Program thread: sleeps until done() after a wake; parks when the runtime shuts down.
template <class Done>
void program_wait_woken(Done done) {
    for (;;) {
        uint32_t ticket = program_wake_ticket();
        if (done()) return;
        if (runtime_shutting_down()) program_thread_park();
        program_wake_wait(ticket, program_wake_guard_ms);
    }
}
