// The string store: descriptors, heap, segment and temporaries.
#pragma once

#include <string>

// Start-up: the string segment at emulated address 0x500 with string_empty and string_space.
void string_segment_init();
// Start-up: x86_error_message and command_line_string.
void startup_strings_make(const std::string& command_line);
