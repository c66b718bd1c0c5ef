// Sequential text files and the character and line input functions: the byte reader with its
// Ctrl+Z end marker and its two separator skippers (the item readers of INPUT # build on them),
// PRINT # with its column and 14-column zones, INPUT$ from a file or the keyboard, and LINE INPUT
// in input and binary mode. Not here: the items themselves (the numbers' file item readers), the
// by-slot layer (file_handles.h).
#pragma once

#include <cstdint>

#include "core/file_item_source.h"

struct string_descriptor;

// Start-up: the 32 blanks used by file printing.
void file_print_blanks_init();
// Start-up: the item readers of INPUT # read through this module, and the print statement's tab
// and space functions take a file's column from it.
void sequential_items_connect();
// The print column of an open file number, 0 when the number is not open.
int32_t file_print_column(int32_t file_number);

// The slot of a file number open for sequential input, or -1 after raising 52, 54 or 75.
int32_t file_input_slot(int32_t file_number);
// 0-255, file_byte_end or file_byte_error (core/file_item_source.h).
int32_t file_read_byte(int32_t slot);
void file_skip_line_end(int32_t slot, int32_t line_end);
void file_skip_item_separator(int32_t slot, int32_t ended_by);
void file_print_text(int32_t file_number, string_descriptor* text, int32_t trailing_blank, int32_t comma,
                     int32_t newline);
string_descriptor* input_chars(int64_t count, int32_t file_number, int32_t from_file);
void file_line_input_text(int32_t slot, string_descriptor* target);
void file_line_input_binary(int32_t file_number, string_descriptor* target);
void file_line_input(int32_t file_number, string_descriptor* target);

// The column a text leaves (pure): CR goes back to 1, LF keeps it, any other byte adds one.
int64_t print_column_after(int64_t column, const uint8_t* text, int64_t length);
// Blanks that follow an item printed up to column (pure): one for a trailing blank, and for a
// comma one more and then up to the next zone start 1 + 14k.
int64_t print_padding(int64_t column, bool trailing_blank, bool comma);
