// The statement protocol: after each statement translated code tests event_pending and, when it is
// set, calls statement_hook with the statement's line. The hook pauses, parks at shutdown, reports
// the pending error or dispatches event traps. Runtime waits call it with line 0.
#pragma once

#include <atomic>
#include <cstdint>

extern std::atomic<int32_t> statement_retry;
extern std::atomic<uint8_t> pause_flag;
extern std::atomic<int32_t> sleep_interrupted;

// The Pause key: statement_hook waits until the next key ends the pause.
void pause_request();
bool pause_active();
// Ends a pause; false when there was none.
bool pause_end();
// A key press or a timer handler ends the sleep statement's wait.
void sleep_interrupt();

void statement_hook(int32_t line);
// Tests: called on the program thread with the line of every statement_hook call, after
// event_pending was cleared (so it may set it again). Null removes it.
using statement_hook_observer = void (*)(int32_t line);
void statement_hook_observer_set(statement_hook_observer observer);
// Runs the pending trap handlers (buttons, keys, timers); called only by statement_hook.
void event_dispatch();
