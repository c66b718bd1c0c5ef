// Test helper for checks that must come while the program thread sleeps in program_wake_wait
// (program_idle_token is odd meanwhile and grows by two a sleep).
#pragma once

#include <atomic>
#include <cstdint>
#include <thread>

#include "core/program_wake.h"

// Waits for sleep number skipped + 1 of those the program thread begins after `token` was read and
// answers that sleep's token; answers 0 once `keep_waiting` (when given) turns false first.
inline uint64_t program_sleep_awaited(uint64_t token, uint64_t skipped,
                                      const std::atomic<bool>* keep_waiting = nullptr) {
    for (;;) {
        const uint64_t now = program_idle_token();
        if (now % 2 == 1 && now > token + 2 * skipped) return now;
        if (keep_waiting && !keep_waiting->load()) return 0;
        std::this_thread::yield();
    }
}
