// Items of files opened for sequential input, read through the file layer's byte source
// (file_item_source.h). A numeric item ends at the first byte that does not belong to a number,
// and the rest of it up to its separator is dropped; nothing read is given back on an error.
// Not here: DATA items (data_items.h), line input and input of n characters (the file layer).
#pragma once

#include <cstdint>

#include "core/digit_buffer.h"
#include "core/strings.h"
#include "core/type_codes.h"

enum file_lex_result : int32_t { file_lex_ok = 0, file_lex_too_many_digits = 1, file_lex_end_of_file = 2,
                                 file_lex_error_raised = 3 };

// Lexes the next numeric item of the file into the buffer. A negative file number is error 52.
int32_t file_number_lex(int32_t file_number, digit_buffer& buffer);

// Every reader returns 0, or leaves the target alone, at once while an error is pending.
// Errors: 62 at the end of the file before an item, 6 too many digits or a value the type cannot
// hold, and the file checks (52, 54, 75).
long double file_input_number(int32_t file_number, variable_type_code type);
int64_t file_input_int64(int32_t file_number);   // halves round away from zero
uint64_t file_input_uint64(int32_t file_number);
// A quoted item holds commas and line ends; an unquoted one ends at a comma or line end and loses
// its trailing blanks and tabs. A failed read leaves the target unchanged.
void file_input_string(int32_t file_number, string_descriptor* target);
