// The width statement: the text grid of the screen or the printer's line width. A text screen is
// rebuilt at the new size through the screen-mode statement; a classic graphics mode switches to the
// font that fits the grid, or becomes a text screen of a classic text size; a 32-bit or free-size
// 8-bit image is resized to the grid and cleared. Program thread only.
// Not here: the rebuild of pages itself (modes.h), the printer page (printer.h).
#pragma once

#include <cstdint>

enum : int32_t { width_target_screen = 0, width_target_printer = 2 };
enum : int32_t { width_columns_given = 1, width_rows_given = 2 };

void screen_width_set(int32_t target, int32_t columns, int32_t rows, int32_t flags);

// The font that gives a classic graphics mode of this size the grid, 0 when none does. A value not
// given is 0. current_height is the glyph height of the page's font now.
int32_t width_font_search(int32_t mode, int32_t width, int32_t height, int32_t current_height, int32_t columns,
                          int32_t rows);
// The font of a text screen of that grid: 8 from 50 rows, 14 from 43, else 16; one more up to 40 columns.
int32_t width_text_font(int32_t columns, int32_t rows);

// A text grid larger than this many cells is refused: eight pages of it must fit in memory.
constexpr int64_t width_text_cells_max = int64_t{1} << 22;
