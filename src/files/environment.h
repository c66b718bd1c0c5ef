// The command line, the environment and the clipboard as the program sees them. The environment is
// a private table copied from the process environment at the first use: the program reads and
// changes it, and every child the runtime starts gets it, while the C library's own environment
// (read by the window system's libraries on other threads) is never written. Program thread only.
// Not here: the clipboard's platform side (platform/clipboard.h).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

struct string_descriptor;

string_descriptor* command_line_get();
// The value of a variable; empty when it is not set or the name holds '='. The name ends at its
// first NUL byte (a name without one is the whole text).
string_descriptor* env_get(string_descriptor* name);
string_descriptor* env_get_nth(int32_t n);
// NAME=value adds or changes the variable, NAME= removes it; anything else raises 5. Answers
// environment_count (entries plus one).
int32_t env_set(string_descriptor* entry);
// Entries plus one; start-up sets it from the process environment, env_set keeps it.
extern int32_t environment_count;
int32_t clipboard_set(string_descriptor* text);
string_descriptor* clipboard_get();

// The table as NAME=value entries, in order.
const std::vector<std::string>& environment_entries_table();
// The table as a child's environment vector (null-terminated); valid until the next env_set.
std::vector<char*> environment_envp();
// Tests: the table copied again from the process environment.
void environment_reset();
