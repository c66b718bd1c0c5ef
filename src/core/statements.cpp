#include "core/statements.h"

#include <chrono>
#include <thread>

#include "core/errors.h"
#include "core/shutdown.h"
#include "core/traps.h"

std::atomic<int32_t> statement_retry{0};
std::atomic<uint8_t> pause_flag{0};
std::atomic<int32_t> sleep_interrupted{0};

void pause_request() {
    event_pending.store(1);
    pause_flag.fetch_or(1);
}

bool pause_active() { return (pause_flag.load() & 1) != 0; }

bool pause_end() { return (pause_flag.fetch_and(static_cast<uint8_t>(~1u)) & 1) != 0; }

void sleep_interrupt() { sleep_interrupted.store(1); }

void statement_hook(int32_t line) {
    event_pending.store(0);
    statement_retry.store(0);
    while ((pause_flag.load() & 1) || shutdown_flag.load()) {
        if (shutdown_flag.load()) program_thread_park();
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    if (error_number.load() != 0) {
        error_line.store(line);
        error_report();
        if (error_resume_retry) {
            error_resume_retry = 0;
            statement_retry.store(1);
        }
        // Trap events that came during the failing statement run at the next boundary.
        event_pending_rearm();
        return;
    }
    event_dispatch();
}
