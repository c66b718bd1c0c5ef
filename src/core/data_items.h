// Items of the program's DATA statements: one block of bytes, items separated by commas, and a read
// position that translated code keeps and passes by reference. Every reader moves the position past
// the item and its comma; on every error the position is left where the item starts.
// Not here: items of sequential files (file_items.h).
#pragma once

#include <cstdint>

#include "core/digit_buffer.h"
#include "core/strings.h"
#include "core/type_codes.h"

enum data_lex_result : int32_t { data_lex_ok = 0, data_lex_too_many_digits = 1, data_lex_out_of_data = 2,
                                 data_lex_syntax_error = 3 };

// Lexes the numeric item at the position into the buffer and moves past it and its comma.
int32_t data_number_lex(const uint8_t* data, int32_t& position, int32_t length, digit_buffer& buffer);

// Every reader returns 0, or leaves the target alone, at once while an error is pending.
// Errors: 4 no DATA left, 2 a malformed number, 6 too many digits or a value the type cannot hold.
long double data_read_number(const uint8_t* data, int32_t& position, int32_t length, variable_type_code type);
// Halves round away from zero here.
int64_t data_read_int64(const uint8_t* data, int32_t& position, int32_t length);
uint64_t data_read_uint64(const uint8_t* data, int32_t& position, int32_t length);
// Quotes enclose an item that holds commas; text after a closing quote is error 4 (the target
// becomes empty).
void data_read_string(const uint8_t* data, int32_t& position, int32_t length, string_descriptor* target);
