// Text output at the text cursor of the destination image: the screen form of the print statement
// and every other runtime text written on a page. On a text page a character becomes a cell
// (character and attribute); on a graphics image it is drawn from the built-in glyphs. Control
// codes move the cursor, clear, tab and pause; a line that reaches the last column defers its
// newline; a newline below the text view scrolls the view. Every write stays inside the image.
// Program thread only. Positioning by the print statement's separators lives elsewhere.
#pragma once

#include <cstdint>

struct string_descriptor;

// Prints the text (not freed here) and, when newline is non-zero, ends the line.
void print_string(string_descriptor* text, int32_t newline);
// Before an item of the print statement: a new line when the item does not fit the rest of the line.
void print_prewrap(string_descriptor* text);
// One character at the cursor (a byte, or a code point for a UNICODE font); moves nothing.
void glyph_draw(uint32_t code);
// Advance width in pixels of one character in the destination's font.
int32_t glyph_advance(uint32_t code);
// Column 1 of the next row, scrolling the text view up when the row passes its bottom.
void text_newline();
// mode 2: control codes are drawn as glyphs; any other mode: they act.
void control_chars_set(int32_t mode);
void print_hook_empty();

// Set: codes 0-31 are drawn as glyphs. Written by control_chars_set.
extern int32_t control_chars_off;
// Set by the function-key label line around each label character; same effect.
extern int32_t key_line_drawing;
