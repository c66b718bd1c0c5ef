// The statements that shape where text goes and what the screen shows: the text view (the rows
// that scroll), clearing the page, the graphics view or the text view, placing the text cursor and
// setting its shape, and reading a character or colour back from the screen (recognising glyphs
// on graphics images). All work on the destination image except screen_char_read, which reads the
// source image. Printing itself is text_output.h.
#pragma once

#include <cstdint>

#include "screen/modes.h"

struct image_record;

// given 0: the view is every row.
void text_view_set(int32_t top, int32_t bottom, int32_t given);
// flags: 1 = kind given (0 whole page, 1 graphics view, 2 text view), 2 = colour given.
void dest_clear(int32_t kind, uint32_t colour, int32_t flags);
// flags: 1 row, 2 column, 4 visible, 8 start line, 16 stop line given.
void cursor_place(int32_t row, int32_t column, int32_t visible, int32_t start_line, int32_t stop_line,
                  int32_t flags);
// The character code at a text position, or in the colour form its attribute (text image) or ink
// colour (graphics image).
int32_t screen_char_read(int32_t row, int32_t column, int32_t colour_form, int32_t colour_form_given);

