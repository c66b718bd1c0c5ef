// The shell statements and functions: a command runs through /bin/sh -c with the program's
// environment table, shown (the runtime's standard input, output and error) or hidden (standard
// input from /dev/null), waiting for it or not. A command that names an existing document (a
// regular file that is not executable) is opened with xdg-open when that is on the PATH. The
// waiting forms tell the control thread a child runs and leave full screen while it runs.
// Not here: starting another program in place of this one (runtime/lifecycle.h).
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <string_view>

struct string_descriptor;

// 0 normal; the shell statements set 1 while they wait for a child, and the control thread then
// builds one more frame and sets -1 (idle: only the tick count is kept).
extern std::atomic<int32_t> shell_child_running;

int32_t shell_cmd_available();
int32_t shell_is_internal_command(string_descriptor* text);
int64_t shell_run_wait_result(string_descriptor* command);
int64_t shell_run_hidden_wait_result(string_descriptor* command);
void shell_run_wait(string_descriptor* command, int32_t command_given);
void shell_run_hidden(string_descriptor* command, int32_t flags);
void shell_run_nowait(string_descriptor* command, int32_t flags);
void shell_run_hidden_nowait(string_descriptor* command, int32_t flags);

enum : int32_t { shell_flag_hidden_nowait = 1, shell_flag_command_given = 2 };

// The exit code of a wait status (pure): the child's code, or 128 + n for signal n.
int64_t shell_exit_code_of_status(int status);
// The path of a document the command names (pure apart from looking at the file), or empty.
std::string shell_document_of(std::string_view command);
