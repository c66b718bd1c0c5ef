// The key statements: the text a function key types (soft keys), the scan code and shift state of
// a user-defined trappable key, the list of function-key texts, and the function-key label line on
// the bottom row of screen page 0 ("1" and F1's text, "2" and F2's text, ...). The texts live in
// the key-trap records (core/traps.h), where the keyboard reads them when a key is pressed. The line
// is drawn only when it is switched on or off or a redraw is forced (screen rebuilds and clears
// force one). Program thread only. Typing the texts is the keyboard's business.
#pragma once

#include <cstdint>

struct string_descriptor;

// The line is wanted; the value it was last drawn for; redraw at the next key_line_draw.
extern int32_t key_line_enabled;
extern int32_t key_line_shown;
extern int32_t key_line_force;

// Keys 1-10, 30, 31 (F1-F12): a text of at most 15 characters. Keys 15-29: the last byte is the
// trap scan code, the OR of the others the shift mask; an empty text undefines the key.
void key_define(int32_t key, string_descriptor* text);
void key_line_show();
void key_line_hide();
void key_line_draw();
void key_list_print();

// Where the labels go on a line of `line` columns (or pixels with a proportional font): each label
// takes `width`, labels start before `end`, and a proportional font leaves `gap` after each.
struct key_label_layout {
    int32_t width;
    int32_t end;
    int32_t gap;
};
key_label_layout key_label_layout_of(int32_t line, bool proportional, int32_t glyph_height);
// The glyph a label shows for a character of a key text (control codes become other glyphs).
uint8_t key_label_glyph(uint8_t c);

// Tests: no texts, the line off and drawn off.
void key_line_reset();
