// The printer page: printer output is drawn on a 640 x 960 page image (mode 13, font 16, black on
// white, 60 rows of 80 columns) that is handed to printer_page_send when it is full, on a form feed,
// 10 s after the last printer output (the control thread) and at shutdown; no printer is attached,
// so the hand-over does nothing and the page is cleared. A page whose image is freed (a program
// reset) is forgotten and made afresh. Also the printer column and line width.
// The program thread prints; the control thread flushes. One mutex keeps the two apart, so the
// flush never runs while output is printed and never touches the program's destination image.
// Not here: the text drawing itself (text_output.h).
#pragma once

#include <cstdint>

struct string_descriptor;

constexpr int32_t printer_page_width = 640;
constexpr int32_t printer_page_height = 960;
constexpr int32_t printer_page_mode = 13;
constexpr int32_t printer_page_font = 16;
constexpr int32_t printer_page_rows = 60;
constexpr int32_t printer_width_max = 255;
constexpr int64_t printer_idle_flush_ms = 10000;

// Prints the text (not freed) on the printer page, which is made on first use; the destination image
// is the same afterwards.
void printer_print_string(string_descriptor* text, int32_t newline);
// n from 0 to 3: the printer column (1-based); any other n is error 5 and 0.
int32_t printer_column_get(int32_t n);
// Hands the page to a printer: there is none.
void printer_page_send(int32_t handle);
// The printer page's handle, made on first use (0 when it cannot be made).
int32_t printer_page_handle_get();
// The width statement's printer line width, 1-255 (the caller checks).
void printer_width_set(int32_t width);

// What text output does while printer output runs (program thread, inside printer_print_string).
bool printer_output_running();
void printer_page_mark_dirty();
// One character printed: the column moves on; true when it passed the line width and went back to 1.
bool printer_column_advance();
void printer_column_home();
void printer_column_right();
void printer_column_left();
// The page is handed on before text output clears it (full page or form feed).
void printer_page_hand_on();

// Control thread: hands on and clears the page 10 s after the last printer output, unless output runs.
void printer_page_idle_flush();
// The same at a given clock_ms time.
void printer_page_flush_if_idle(int64_t now_ms);
// Shutdown: hands on a page that still holds output.
void printer_page_final_send();
// Start-up: the control thread's entries, the print-positioning seam and the image pool's word that
// the page's image is being freed (the page is then made afresh at the next output).
void printer_init();
// Tests: every word at its start value (the page image is left to the pool).
void printer_reset();
