#include "core/traps.h"

#include "core/statements.h"

// The trap tables, their defaults, the timer thread and the dispatch phases come with the traps.
void traps_tables_make() {}
void key_trap_defaults_set() {}
void timer_trap_zero_init() {}
void timer_thread_entry() {}
void event_dispatch() {}
