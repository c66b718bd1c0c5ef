// Event traps for keys, controller buttons and timers, and the timer thread that marks due timers.
#pragma once

// Program start-up: the trap tables.
void traps_tables_make();
// Start-up: key-trap default codes (F1-F10, cursor keys, F11, F12).
void key_trap_defaults_set();
// Start-up: timer 0 allocated, no handler, off, nothing pending.
void timer_trap_zero_init();
void timer_thread_entry();
