#include "screen/width.h"

#include <algorithm>
#include <cstdlib>

#include "core/error_codes.h"
#include "core/errors.h"
#include "screen/fonts.h"
#include "screen/image_pool.h"
#include "screen/modes.h"
#include "screen/printer.h"
#include "screen/view.h"

namespace {

constexpr int32_t record_size_max = 65535;

bool is_screen_page(const image_record* r) { return (r->image_flags & image_is_screen_page) != 0; }

void fail() { error_raise(error_illegal_function_call); }

// Pages 1 and up are freed (made afresh when asked for); a selection on one of them moves to the
// displayed image, which stays page 0 when it was one of them.
void further_pages_drop() {
    int32_t page0 = screen_page_table.empty() ? 0 : screen_page_table[0];
    for (int32_t page = 1; page < screen_page_count(); ++page) {
        int32_t slot = screen_page_table[page];
        if (!slot) continue;
        if (display_image_index.load() == slot) display_slot_select(page0);
        int32_t shown = display_image_index.load();
        if (source_image_index == slot) source_slot_select(shown);
        if (dest_image_index == slot) dest_slot_select(shown);
        image_storage_free(&image_pool[slot]);
        image_slot_release(slot);
        screen_page_table[page] = 0;
    }
}

// A 32-bit or free-size 8-bit image takes the grid's size in pixels and is cleared.
void free_image_resize(bool columns_given, int32_t columns, bool rows_given, int32_t rows) {
    image_record* r = dest_image;
    int64_t advance = std::max(font_advance_width(r->font), 1), height = font_glyph_height(r->font);
    int64_t w = columns_given ? columns * advance : r->width, h = rows_given ? rows * height : r->height;
    if (w < 1 || h < 1 || w > record_size_max || h > record_size_max) return fail();
    if (w == r->width && h == r->height) return;
    auto* pixels = static_cast<uint8_t*>(std::calloc(size_t(w) * size_t(h), r->bytes_per_pixel));
    if (!pixels) return error_raise(error_out_of_memory);
    bool page = is_screen_page(r);
    if (page) frame_suspend_begin();
    if (page) further_pages_drop();
    r = dest_image;
    int32_t fore = r->fore_color, font = r->font;
    uint32_t back = r->back_color;
    // Blocks made over the old pixels must die with them.
    image_lock_retire(r);
    if (r->image_flags & image_owns_pixels) std::free(r->pixels);
    r->pixels = pixels;
    r->image_flags |= image_owns_pixels;
    r->width = static_cast<uint16_t>(w);
    r->height = static_cast<uint16_t>(h);
    image_reset_for_mode(dest_image_index);
    r->fore_color = fore;
    r->back_color = back;
    image_font_set(font, r);
    if (page) frame_suspend_end();
}

void text_screen_resize(bool columns_given, int32_t columns, bool rows_given, int32_t rows) {
    const image_record* r = dest_image;
    int32_t c = columns_given ? columns : r->width, n = rows_given ? rows : r->height;
    if (c > record_size_max || n > record_size_max || int64_t{c} * n > width_text_cells_max) return fail();
    int32_t font = width_text_font(c, n);
    if (font == r->font && c == r->width && n == r->height) return;
    pending_text_columns = c;
    pending_text_rows = n;
    pending_text_font = font;
    screen_mode_set(0, 0, 0, 0, 0, 1);
}

bool has_window_corners(int32_t mode) { return mode >= 9 && mode <= 12; }

void graphics_font_switch(int32_t font) {
    image_record* r = dest_image;
    bool page = is_screen_page(r);
    if (page) frame_suspend_begin();
    if (page) further_pages_drop();
    r = dest_image;
    int32_t fore = r->fore_color;
    uint32_t back = r->back_color;
    float x1 = r->window_x1, y1 = r->window_y1, x2 = r->window_x2, y2 = r->window_y2;
    image_reset_for_mode(dest_image_index);
    if (has_window_corners(r->mode)) {
        graphics_window_set(x1, y1, x2, y2, 3);
        r->coord_mode = 0;
    }
    r->fore_color = fore;
    r->back_color = back;
    image_font_set(font, r);
    if (page) frame_suspend_end();
}

bool in(int32_t v, std::initializer_list<int32_t> set) { return std::find(set.begin(), set.end(), v) != set.end(); }

// No font fits: the classic text sizes turn the screen into a text screen.
void graphics_to_text(bool columns_given, int32_t columns, bool rows_given, int32_t rows) {
    bool rows_ok = in(rows, {25, 43, 50}), columns_ok = in(columns, {40, 80});
    if (rows_given && !columns_given && rows_ok) {
        pending_text_rows = rows;
    } else if (columns_given && !rows_given && columns_ok) {
        pending_text_columns = columns;
    } else if (columns_given && rows_given && rows_ok && columns_ok) {
        pending_text_columns = columns;
        pending_text_rows = rows;
        pending_text_font = width_text_font(columns, rows);
    } else {
        return fail();
    }
    screen_mode_set(0, 0, 0, 0, 0, 1);
}

void graphics_grid_set(bool columns_given, int32_t columns, bool rows_given, int32_t rows) {
    const image_record* r = dest_image;
    int32_t font = width_font_search(r->mode, r->width, r->height, font_glyph_height(r->font),
                                     columns_given ? columns : 0, rows_given ? rows : 0);
    if (!font) return graphics_to_text(columns_given, columns, rows_given, rows);
    if (font != r->font) graphics_font_switch(font);
}

// Rows rule of the EGA and VGA modes: the small font, or the mode's own, fills the height.
int32_t rows_font(int32_t rows, int32_t height, int32_t own_font, bool ega) {
    if (int64_t{rows} * 8 == height) return 8;
    if (int64_t{rows} * own_font == height) return own_font;
    if (ega && rows == 43 && height == 350) return 8;
    return 0;
}

}  // namespace

int32_t width_text_font(int32_t columns, int32_t rows) {
    int32_t font = rows < 43 ? 16 : rows < 50 ? 14 : 8;
    return columns <= 40 ? font + 1 : font;
}

int32_t width_font_search(int32_t mode, int32_t width, int32_t height, int32_t current_height, int32_t columns,
                          int32_t rows) {
    const bool columns_match = columns == 0 || int64_t{columns} * 8 == width;
    switch (mode) {
        case 1: case 2: case 7: case 8: case 13:
            return columns_match && (rows == 0 || int64_t{rows} * 8 == height) ? 8 : 0;
        case 9: case 10: case 11: case 12: {
            bool ega = mode <= 10;
            int32_t own = ega ? 14 : 16;
            if (!columns_match) return 0;
            if (rows != 0) return rows_font(rows, height, own, ega);
            return current_height > 8 ? own : 8;
        }
        default: return 0;
    }
}

void screen_width_set(int32_t target, int32_t columns, int32_t rows, int32_t flags) {
    if (error_pending()) return;
    if (target == width_target_printer) {
        if (flags != width_columns_given || columns < 1 || columns > printer_width_max) return fail();
        return printer_width_set(columns);
    }
    if (target != width_target_screen) return fail();
    row50_switch_armed = 0;
    bool columns_given = flags & width_columns_given, rows_given = flags & width_rows_given;
    if (!columns_given && !rows_given) return fail();
    if ((columns_given && columns < 1) || (rows_given && rows < 1)) return fail();
    const image_record* r = dest_image;
    if (r->mode == 32 || r->mode == 256) return free_image_resize(columns_given, columns, rows_given, rows);
    if (r->is_text) return text_screen_resize(columns_given, columns, rows_given, rows);
    graphics_grid_set(columns_given, columns, rows_given, rows);
}
