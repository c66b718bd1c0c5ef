// BASIC errors: raising (any thread), the pending error of the current statement, reporting through
// the translated program's error handler or the unhandled-error box, and the message table.
// Fatal numbers end the process at once with their critical box and exit code 70.
#pragma once

#include <atomic>
#include <cstdint>

#include "core/error_codes.h"

// The pending error (0 = none). Written by error_raise on any thread, cleared by the program thread.
extern std::atomic<int32_t> error_number;
// Set by every writer that needs statement_hook at the next statement boundary; cleared only there.
// Raised through event_pending_raise, which also wakes a program waiting idle.
extern std::atomic<int32_t> event_pending;
void event_pending_raise();
// Line of the failing statement, stored by statement_hook.
extern std::atomic<int32_t> error_line;

// Written by the translated program (program thread only).
extern double current_line_label;
extern int32_t error_handler_set;
extern int32_t error_handler_active;
extern int32_t error_handler_jump;
extern int32_t error_resume_retry;
extern int32_t error_handler_code;
extern double error_handler_label_line;

void error_raise(int32_t n);
void error_report();

int32_t error_line_get();
int32_t error_code_get();
double error_label_line_get();

// The message of error n, or "Unprintable error".
const char* error_message(int32_t n);
// Critical numbers (300-313) end the process in error_report; fatal ones already in error_raise.
bool error_is_critical(int32_t n);

// True while an error is pending: runtime statements and functions return at once.
inline bool error_pending() { return error_number.load(std::memory_order_relaxed) != 0; }
