// The keyboard line editor of the input statements: reads keys from the BIOS keyboard buffer (or
// standard input on the console page), echoes them at the destination's text cursor, and after every
// key re-splits the line into the targets' fields and checks the field being typed against its
// variable's type. A key that makes the line impossible is taken back by redrawing the screen as it
// was plus the shorter line, so the line only ever holds valid input; each field is stored as it is
// typed. Program thread only. Not here: the field rules themselves (line_fields.h).
#pragma once

#include <cstdint>

#include "core/type_codes.h"

struct string_descriptor;

// Filled by the caller before input_line_edit, 1-based: the variables' addresses (a string target is
// its string_descriptor) and their type codes.
constexpr int32_t input_targets_capacity = 256;
extern void* input_target_list[input_targets_capacity + 1];
extern variable_type_code input_type_list[input_targets_capacity + 1];

// Edits one line for targets 1..n (error 5 outside 1..input_targets_capacity) until Enter, then
// ends the line when newline is set. Returns at once when the runtime shuts down.
void input_line_edit(int32_t n, uint8_t newline);

// 0 invalid, 1 hexadecimal, 2 octal; the literal's value goes to input_radix_value.
int32_t input_radix_literal_parse(const string_descriptor* text);
extern uint64_t input_radix_value;

// Start-up: the random-number seed prompt reads its answer through the editor.
void line_editor_init();
