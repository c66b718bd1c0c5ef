#include "screen/text_view.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "core/errors.h"
#include "screen/boxes.h"
#include "screen/fonts.h"
#include "screen/image_pool.h"
#include "screen/key_line.h"
#include "screen/pixels.h"

namespace {

// A cleared page shows the function-key line again when it is on.
void key_line_redraw() {
    key_line_force = 1;
    key_line_draw();
}



// Rows first to last (1-based, inclusive, cut to the page) of a text page set to one cell.
void text_rows_fill(image_record* page, int32_t first, int32_t last, text_cell blank) {
    first = std::max(first, 1);
    last = std::min<int32_t>(last, page->height);
    if (first > last) return;
    text_cell* cells = cells_of(page);
    std::fill(cells + static_cast<size_t>(first - 1) * page->width, cells + static_cast<size_t>(last) * page->width,
              blank);
}

// Fills with the colour stored as it is, even on a 32-bit image that blends.
template <typename Fill>
void unblended(image_record* image, Fill fill) {
    const uint8_t kept = image->blend_off;
    image->blend_off = 1;
    fill();
    image->blend_off = kept;
}

void graphics_whole_fill(image_record* image, uint32_t colour) {
    if (image->bytes_per_pixel == 1) {
        std::memset(image->pixels, static_cast<int>(colour & 255), image_pixel_bytes(image));
        return;
    }
    unblended(image, [&] { dest_rect_fill(0, 0, image->width - 1, image->height - 1, colour); });
}

void graphics_view_fill(image_record* image, uint32_t colour) {
    if (image->coord_mode == 0) {
        graphics_whole_fill(image, colour);
        return;
    }
    unblended(image, [&] { box_fill(image->window_x1, image->window_y1, image->window_x2, image->window_y2, colour); });
}

// The graphics cursor to the middle of the clip box, in logical units of the image's mapping.
void graphics_cursor_centre(image_record* image) {
    const float half_x = static_cast<float>(image->clip_x2 - image->clip_x1 + 1) / 2;
    const float half_y = static_cast<float>(image->clip_y2 - image->clip_y1 + 1) / 2;
    if (image->coord_mode == 2) {
        image->cursor_x = (half_x - image->offset_x) / image->scale_x;
        image->cursor_y = (half_y - image->offset_y) / image->scale_y;
    } else {
        image->cursor_x = half_x;
        image->cursor_y = half_y;
    }
}

bool is_text_screen_page(const image_record* image) {
    return image->is_text && (image->image_flags & image_is_screen_page);
}

// Every made screen page (and the destination) gets the change.
template <typename Change>
void screen_pages_change(image_record* dest, Change change) {
    change(dest);
    if (!(dest->image_flags & image_is_screen_page)) return;
    for (int32_t slot : screen_page_table) {
        if (slot != 0) change(&image_pool[slot]);
    }
}

// The one-time switch of a text screen to 80 x 50 text; the text of page 0 stays at the top.
void row50_switch() {
    const int32_t fore = dest_image->fore_color;
    const uint32_t back = dest_image->back_color;
    image_record* page0 = &image_pool[screen_page_table[0]];
    const int32_t columns = std::min<int32_t>(page0->width, 80), rows = std::min<int32_t>(page0->height, 50);
    if (page0->width == 80 && page0->height == 50 && page0->font == 8) return;
    std::vector<text_cell> kept(static_cast<size_t>(columns) * rows);
    for (int32_t r = 0; r < rows; ++r) {
        std::memcpy(&kept[static_cast<size_t>(r) * columns], cells_of(page0) + static_cast<size_t>(r) * page0->width,
                    columns * sizeof(text_cell));
    }
    pending_text_columns = 80;
    pending_text_rows = 50;
    pending_text_font = 8;
    screen_mode_set(0, 0, 0, 0, 0, 1);
    if (error_pending()) return;
    image_record* page = &image_pool[screen_page_table[0]];
    for (int32_t r = 0; r < rows; ++r) {
        std::memcpy(cells_of(page) + static_cast<size_t>(r) * page->width, &kept[static_cast<size_t>(r) * columns],
                    columns * sizeof(text_cell));
    }
    dest_image->fore_color = fore;
    dest_image->back_color = back;
}

// Checks of a given row; false (with error 5) when it is refused. May switch to 80 x 50.
bool cursor_row_accept(int32_t row, int32_t column, int32_t flags) {
    const text_grid grid = image_text_grid(dest_image);
    if (row < dest_image->view_top) {
        error_raise(error_illegal_function_call);
        return false;
    }
    if (row <= dest_image->view_bottom || row == grid.rows) return true;
    if (!row50_switch_armed) {
        error_raise(error_illegal_function_call);
        return false;
    }
    // The one chance is used up also when the switch is then refused; only a text screen can
    // become an 80 x 50 text screen.
    row50_switch_armed = 0;
    if (!is_text_screen_page(dest_image) || row > 50 || ((flags & 2) && (column < 1 || column > grid.columns))) {
        error_raise(error_illegal_function_call);
        return false;
    }
    row50_switch();
    return !error_pending();
}

// Ink of a cell pixel: palette images ink everything but index 0; 32-bit images everything but
// their background colour and transparent pixels.
bool is_ink(const image_record* image, uint32_t value) {
    if (image->bytes_per_pixel == 1) return value != 0;
    return value != image->back_color && (value >> 24) != 0;
}

int32_t graphics_char_read(const image_record* image, int32_t row, int32_t column, bool colour_form) {
    const int32_t font = image->font;
    if (font != 8 && font != 14 && font != 16) {
        error_raise(error_illegal_function_call);
        return 0;
    }
    const text_grid grid = image_text_grid(image);
    if (row < 1 || row > grid.rows || column < 1 || column > grid.columns) {
        error_raise(error_illegal_function_call);
        return 0;
    }
    const int32_t h = font, x0 = (column - 1) * 8, y0 = (row - 1) * h;
    uint8_t pattern[16][8];
    bool any_ink = false;
    uint32_t first_ink = 0;
    for (int32_t y = 0; y < h; ++y) {
        for (int32_t x = 0; x < 8; ++x) {
            const uint32_t v = image_pixel_read(image, x0 + x, y0 + y);
            const bool ink = is_ink(image, v);
            if (ink && !any_ink) first_ink = v;
            any_ink |= ink;
            pattern[y][x] = ink ? 255 : 0;
        }
    }
    if (!any_ink) return colour_form ? 1 : 32;
    for (int32_t c = 0; c < 256; ++c) {
        const uint8_t* glyph = font_glyph(font, static_cast<uint8_t>(c));
        bool equal = true;
        for (int32_t i = 0; i < h * 8 && equal; ++i) equal = (glyph[i] != 0) == (pattern[i / 8][i % 8] != 0);
        if (equal) return colour_form ? static_cast<int32_t>(first_ink) : c;
    }
    return colour_form ? 0 : 32;
}

}  // namespace

void text_view_set(int32_t top, int32_t bottom, int32_t given) {
    if (error_pending()) return;
    image_record* d = dest_image;
    const int32_t rows = image_text_grid(d).rows;
    if (given) {
        if (top < 1 || top > rows || bottom < top || bottom > rows) {
            error_raise(error_illegal_function_call);
            return;
        }
    } else {
        top = 1;
        bottom = std::max(rows, 1);
    }
    d->view_top = static_cast<int16_t>(top);
    d->view_bottom = static_cast<int16_t>(bottom);
    d->cursor_row = static_cast<int16_t>(top);
    d->cursor_column = 1;
    d->pending_newline = 0;
}

void dest_clear(int32_t kind, uint32_t colour, int32_t flags) {
    if (error_pending()) return;
    image_record* d = dest_image;
    const bool kind_given = flags & 1;
    if (!(flags & 2)) {
        colour = d->back_color;
    } else if (d->bytes_per_pixel != 4 && colour > d->color_mask) {
        error_raise(error_illegal_function_call);
        return;
    }
    if (kind_given && (kind < 0 || kind > 2)) {
        error_raise(error_illegal_function_call);
        return;
    }
    d->cursor_row = d->view_top;
    d->cursor_column = 1;
    d->turtle_angle = 0.0;
    d->turtle_scale = 1.0;

    if (d->is_text) {
        const uint32_t fore = static_cast<uint32_t>(d->fore_color);
        const text_cell blank{32, static_cast<uint8_t>((fore & 15) + ((fore & 16) << 3) + ((colour & 7) << 4))};
        if (!kind_given) {
            text_rows_fill(d, d->view_top, d->view_bottom, blank);
            text_rows_fill(d, d->height, d->height, blank);
        } else if (kind == 0) {
            text_rows_fill(d, 1, d->height, blank);
        } else if (kind == 2) {
            text_rows_fill(d, d->view_top, d->view_bottom, blank);
        }
        if (!kind_given || kind == 0) key_line_redraw();
        return;
    }
    if (kind_given && kind == 2) {
        const int32_t h = font_glyph_height(d->font);
        unblended(d, [&] { dest_rect_fill(0, (d->view_top - 1) * h, d->width - 1, d->view_bottom * h - 1, colour); });
        return;
    }
    if (kind_given && kind == 0) {
        graphics_whole_fill(d, colour);
    } else {
        graphics_view_fill(d, colour);
    }
    graphics_cursor_centre(d);
    key_line_redraw();
}

void cursor_place(int32_t row, int32_t column, int32_t visible, int32_t start_line, int32_t stop_line,
                  int32_t flags) {
    if (error_pending()) return;
    if ((flags & 1) && !cursor_row_accept(row, column, flags)) return;
    image_record* d = dest_image;
    const text_grid grid = image_text_grid(d);
    const bool bad = ((flags & 2) && (column < 1 || column > grid.columns)) ||
                     ((flags & 4) && (visible < 0 || visible > 1)) ||
                     ((flags & 8) && (start_line < 0 || start_line > 31)) ||
                     ((flags & 16) && (stop_line < 0 || stop_line > 31));
    if (bad) {
        error_raise(error_illegal_function_call);
        return;
    }
    if (flags & 1) d->cursor_row = static_cast<int16_t>(row);
    if (flags & 2) d->cursor_column = static_cast<int16_t>(column);
    if (flags & 3) {
        d->pending_newline = 0;
    } else if (d->pending_newline != 0) {
        d->pending_newline = 2;
    }
    if (flags & 4) {
        const uint8_t shown = visible != 0;
        screen_pages_change(d, [&](image_record* page) { page->cursor_visible = shown; });
    }
    if (flags & 24) {
        const uint8_t start = (flags & 8) ? static_cast<uint8_t>(start_line) : d->cursor_start_line;
        const uint8_t stop = (flags & 16) ? static_cast<uint8_t>(stop_line) : d->cursor_stop_line;
        screen_pages_change(d, [&](image_record* page) {
            page->cursor_start_line = start;
            page->cursor_stop_line = stop;
        });
    }
}

int32_t screen_char_read(int32_t row, int32_t column, int32_t colour_form, int32_t colour_form_given) {
    if (error_pending()) return 0;
    const bool colour = colour_form_given && colour_form != 0;
    const image_record* s = source_image;
    if (!s->is_text) return graphics_char_read(s, row, column, colour);
    if (row < 1 || row > s->height || column < 1 || column > s->width) {
        error_raise(error_illegal_function_call);
        return 0;
    }
    const text_cell cell = cells_of(s)[(row - 1) * s->width + (column - 1)];
    return colour ? cell.attribute : cell.code;
}
