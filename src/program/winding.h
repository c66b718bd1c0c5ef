// The winding explanation program: the explanation screen of a tool for stator windings (a table of
// coil pitches, the grid and a box, and the data the user must enter), a key wait and the end of
// the program. One routine of straight runtime calls in the statement protocol, on the program
// thread.
#pragma once

#include "core/program_interface.h"

// The program thread's procedure: the main routine.
void program_thread_entry();
// The main routine; never returns (the end of the program parks the thread).
[[noreturn]] void program_main();
// The program's state back to its start before it runs again: x is 0, every file and network
// handle closed, every image that is not a screen page freed, the error handler words cleared.
void program_state_reset();
// Installed for the floating-point exception signal: error 11, "Division by zero", ends the process.
void fpe_signal_handler(int signal);
// What the program hands the runtime before runtime_main.
translated_program winding_program();
