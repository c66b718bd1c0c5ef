// The statement protocol: after each statement translated code tests event_pending and, when it is
// set, calls statement_hook with the statement's line. The hook pauses, parks at shutdown, reports
// the pending error or dispatches event traps. Runtime waits call it with line 0.
#pragma once

#include <atomic>
#include <cstdint>

extern std::atomic<int32_t> statement_retry;
extern std::atomic<uint8_t> pause_flag;
extern std::atomic<int32_t> sleep_interrupted;

void statement_hook(int32_t line);
// Runs the pending trap handlers (buttons, keys, timers); called only by statement_hook.
void event_dispatch();
