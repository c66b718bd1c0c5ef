// The print statement's positioning: the comma separator (the next print zone of 14 columns, or
// 112 pixels with a proportional font), the tab and space functions, which return the text that
// moves the print position (spaces, and a line end when the position lies behind or past the line),
// and the cursor queries, which report where the next character goes. Tab and space serve the
// screen, the printer page and files; the generated code says which through three words. The
// printer page and the files' columns belong to their own modules and are reached through seams.
// Program thread only. Printing itself is text_output.h.
#pragma once

#include <cstdint>

struct string_descriptor;

// Set by generated code before a tab or space function: 1 (CR) for the screen and the printer,
// 2 (CR LF) for a file; the file's number; the statement prints to the printer page.
extern int32_t print_line_end_length;
extern int32_t print_file_number;
extern int32_t print_to_printer;

void print_comma();
// Temporary strings; error 7 and "" for n outside -32768..32767.
string_descriptor* print_tab(int32_t n);
string_descriptor* print_spaces(int32_t n);
int32_t cursor_row_get();
int32_t cursor_column_get();

// What the file and printer modules provide. Without a file seam a file's column is 1; without a
// printer seam printer output positions on the destination.
struct print_position_seams {
    // The print column (from 1) of an open file number, 0 when the number is not open.
    int32_t (*file_print_column)(int32_t file_number) = nullptr;
    // The printer page's image handle, made on first use.
    int32_t (*printer_page_handle)() = nullptr;
};
void print_position_seams_set(const print_position_seams& seams);
// Sets the file seam alone, leaving the printer's as it is (the file layer's start-up).
void print_position_file_seam_set(int32_t (*file_print_column)(int32_t file_number));
// The printer module's entry alone, leaving the file entry as it is.
void print_position_printer_seam_set(int32_t (*printer_page_handle)());
