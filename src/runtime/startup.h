// Start-up: the runtime's static tables, the program's tables, and runtime_main, which sets up the
// runtime in a fixed order, starts the program, timer and control threads and then gives the main
// thread to the window for good. runtime_start is steps 1-31 alone (headless runs and tests).
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

// Start-up options fixed when the program is translated (those the window reads are its own:
// display/window.h).
extern int32_t stretch_option;
extern int32_t start_hidden_option;

extern int32_t console_is_own;

void window_resizable_set();
void startup_hook_empty();
void control_tick_hook_empty();
void exit_hook_empty();

void runtime_static_init();
void program_static_init();

// The running program's executable file; empty when it cannot be read.
std::string executable_path();
// The current directory a program starts in: the executable's path cut at its last separator
// ('\', '/' or ':'; a ':' is kept, a slash removed; the root stays "/").
std::string executable_directory_of(const std::string& path);
// The program's command line: arguments 1 to argc-1 joined with single spaces.
std::string command_line_join(int argc, char** argv);

// Steps 1-31: everything before the window; returns with the three threads running.
void runtime_start(int argc, char** argv);
// The process entry: runtime_start, then the window and its main loop; never returns.
[[noreturn]] void runtime_main(int argc, char** argv);
