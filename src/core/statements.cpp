#include "core/statements.h"

#include "core/errors.h"
#include "core/program_wake.h"
#include "core/shutdown.h"
#include "core/traps.h"

std::atomic<int32_t> statement_retry{0};
std::atomic<uint8_t> pause_flag{0};
std::atomic<int32_t> sleep_interrupted{0};

namespace {
std::atomic<statement_hook_observer> hook_observer{nullptr};
}  // namespace

void statement_hook_observer_set(statement_hook_observer observer) { hook_observer.store(observer); }

void pause_request() {
    pause_flag.fetch_or(1);
    event_pending_raise();  // after the flag: the woken hook must see the pause
}

bool pause_active() { return (pause_flag.load() & 1) != 0; }

bool pause_end() {
    bool ended = (pause_flag.fetch_and(static_cast<uint8_t>(~1u)) & 1) != 0;
    if (ended) program_wake();
    return ended;
}

void sleep_interrupt() { sleep_interrupted.store(1); }

void statement_hook(int32_t line) {
    event_pending.store(0);
    statement_retry.store(0);
    if (statement_hook_observer observer = hook_observer.load()) observer(line);
    program_wait_woken([] { return !pause_active() && !runtime_shutting_down(); });
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
