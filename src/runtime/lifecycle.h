// The ways out of a running program and back to a clean start: the program's end with its key-wait
// prompt, running another program's command line, taking over the window's close button, and the
// runtime's reset before a program runs again from its start. Program thread only. The stop itself
// is the control thread's (runtime/control.h).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct string_descriptor;

// Closes every file, shows "Press any key to continue" on the bottom row, drains the keys typed
// before, waits for a key and stops the program; the process then ends with exit code 0.
[[noreturn]] void program_end();
// The end that follows parking; never reached in practice.
[[noreturn]] void program_end_exit();
// Starts the command line as a new process (no shell) and stops this program; error 53 when it
// cannot be started.
void program_run_file(string_descriptor* command);
// The close requests so far (bit 0 close button, bit 1 Ctrl+Break); from now on the program
// handles closing itself, until program_end.
int32_t close_request_take();
// Key traps cleared, screen mode 0 at 80 x 25, default palette, colours 7 on 0, random seed 0x50000.
void program_restart_reset();

// The words of a command line: blanks separate them, double quotes group blanks into a word (the
// quotes go), and every '\' becomes '/'.
std::vector<std::string> command_line_words(const std::string& line);
