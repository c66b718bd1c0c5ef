#include "screen/text_output.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "core/errors.h"
#include "core/shutdown.h"
#include "core/strings.h"
#include "core/timing.h"
#include "screen/boxes.h"
#include "screen/fonts.h"
#include "screen/glyph_raster.h"
#include "screen/image_pool.h"
#include "screen/printer.h"
#include "screen/text_view.h"

int32_t control_chars_off = 0;
int32_t key_line_drawing = 0;

namespace {

// The column the cursor stands on at the end of a line. An image narrower than one glyph still has
// one column, so the cursor never goes left of the image.
int32_t last_column(const image_record* r) { return std::max(image_text_grid(r).columns, 1); }

void column_set(image_record* r, int64_t column) { r->cursor_column = static_cast<int16_t>(column); }

// ---- glyphs on graphics images ----

// Printing is cut to the image, not to its graphics view.
void glyph_pixels_draw(image_record* r, uint8_t code) {
    int64_t x = int64_t{r->cursor_column - 1} * font_advance_width(r->font);
    int64_t y = int64_t{r->cursor_row - 1} * font_glyph_height(r->font);
    glyph_raster(r, code, x, y, image_pixel_box(r));
}

// ---- cells on text pages ----

uint8_t attribute_of(const image_record* r, uint32_t back) {
    auto fore = static_cast<uint32_t>(r->fore_color);
    return static_cast<uint8_t>((fore & 15) + ((fore & 16) << 3) + (back << 4));
}

void cell_store(image_record* r, uint8_t code) {
    if (r->cursor_row < 1 || r->cursor_row > r->height || r->cursor_column < 1 || r->cursor_column > r->width) return;
    size_t i = size_t(r->cursor_row - 1) * r->width + size_t(r->cursor_column - 1);
    cells_of(r)[i] = text_cell{code, attribute_of(r, r->back_color)};
}

// ---- scrolling ----

// The text view's rows that lie on the page, as [first, last] text rows; empty when last < first.
struct row_span {
    int64_t first, last;
};
row_span view_rows(const image_record* r, int64_t rows) {
    return {std::max<int64_t>(r->view_top, 1), std::min<int64_t>(r->view_bottom, rows)};
}

void cells_scroll(image_record* r) {
    row_span v = view_rows(r, r->height);
    if (v.last < v.first) return;
    size_t w = r->width;
    text_cell* cells = cells_of(r);
    std::memmove(cells + (v.first - 1) * w, cells + v.first * w, size_t(v.last - v.first) * w * sizeof(text_cell));
    std::fill_n(cells + (v.last - 1) * w, w, text_cell{0x20, attribute_of(r, r->back_color & 7)});
}

// Pixel rows [y0, y1) set to the stored value of a colour: no mask, no blending.
void pixel_rows_store(image_record* r, int64_t y0, int64_t y1, uint32_t colour) {
    y0 = std::max<int64_t>(y0, 0);
    y1 = std::min<int64_t>(y1, r->height);
    if (y1 <= y0) return;
    uint8_t* first = r->pixels + size_t(y0) * r->width * r->bytes_per_pixel;
    size_t count = size_t(y1 - y0) * r->width;
    if (r->bytes_per_pixel == 1) std::memset(first, static_cast<uint8_t>(colour), count);
    if (r->bytes_per_pixel == 4) std::fill_n(reinterpret_cast<uint32_t*>(first), count, colour);
}

void pixels_scroll(image_record* r) {
    int64_t h = font_glyph_height(r->font);
    if (h <= 0) return;
    row_span v{std::max<int64_t>(r->view_top, 1), r->view_bottom};
    if (v.last < v.first) return;
    size_t row_bytes = size_t(r->width) * r->bytes_per_pixel;
    int64_t from = v.first * h, to = std::min<int64_t>(v.last * h, r->height);
    if (to > from) std::memmove(r->pixels + (from - h) * row_bytes, r->pixels + from * row_bytes, (to - from) * row_bytes);
    pixel_rows_store(r, (v.last - 1) * h, v.last * h, r->back_color);
}

// ---- the walk ----

enum class step_end { fits, wrapped, deferred };

// Draws one character, moves the cursor and wraps. last: the text's last character.
step_end character_step(uint32_t code, bool last, int32_t newline) {
    image_record* r = dest_image;
    bool prop = image_proportional(r);
    int32_t advance = prop ? glyph_advance(code) : 1;
    if (prop && r->cursor_column + advance > r->width) text_newline();
    glyph_draw(code);
    if (printer_output_running() && printer_column_advance()) {
        text_newline();
        return step_end::wrapped;
    }
    int64_t column = int64_t{r->cursor_column} + advance;
    column_set(r, column);
    bool fits;
    if (r->is_text) {
        fits = column <= r->width;
    } else {
        int64_t w = prop ? 1 : font_advance_width(r->font);
        fits = (column - 1) * w <= r->width - w;
    }
    if (fits) return step_end::fits;
    if (last && !newline) {
        column_set(r, last_column(r));
        r->pending_newline = 1;
        return step_end::deferred;
    }
    // The page's own line end starts a new printer line too.
    if (printer_output_running()) printer_column_home();
    text_newline();
    return step_end::wrapped;
}

// A tab prints spaces up to the next column after a multiple of 8, and ends early at a line end
// (so a line whose width is not a multiple of 8 cannot keep it going).
step_end tab_fixed(bool last, int32_t newline) {
    for (;;) {
        int32_t before = dest_image->cursor_column;
        step_end end = character_step(' ', last, newline);
        if (end != step_end::fits || (before & 7) == 0) return end;
    }
}

// A proportional font tabs to the next 64-pixel stop by blanking up to it.
step_end tab_proportional() {
    image_record* r = dest_image;
    int32_t h = font_glyph_height(r->font);
    int32_t x = r->cursor_column - 1, stop = (x / 64 + 1) * 64;
    int32_t y1 = (r->cursor_row - 1) * h, y2 = r->cursor_row * h - 1;
    if (stop < r->width) {
        dest_rect_fill(x, y1, stop - 1, y2, r->back_color);
        column_set(r, stop);
        return step_end::fits;
    }
    dest_rect_fill(x, y1, r->width - 1, y2, r->back_color);
    text_newline();
    return step_end::wrapped;
}

void cursor_right() {
    if (printer_output_running()) printer_column_right();
    image_record* r = dest_image;
    int32_t last = last_column(r);
    if (r->cursor_row >= r->view_bottom && r->cursor_column >= last) return;
    column_set(r, r->cursor_column + 1);
    if (r->cursor_column > last) {
        r->cursor_row = static_cast<int16_t>(r->cursor_row + 1);
        r->cursor_column = 1;
    }
}

void cursor_left() {
    if (printer_output_running()) printer_column_left();
    image_record* r = dest_image;
    if (r->cursor_column == 1 && (r->cursor_row == r->view_top || r->cursor_row > r->view_bottom)) return;
    column_set(r, r->cursor_column - 1);
    if (r->cursor_column <= 0) {
        r->cursor_row = static_cast<int16_t>(r->cursor_row - 1);
        column_set(r, last_column(r));
    }
}

// The bell: a quarter-second pause that ends early when the runtime shuts down.
void bell_pause() {
    int64_t end = clock_ms() + 250;
    for (int64_t now = clock_ms(); now < end && !shutdown_flag.load(std::memory_order_relaxed); now = clock_ms())
        sleep_ms(std::min<int64_t>(end - now, 10));
}

bool control_acts(uint32_t code) {
    switch (code) {
        case 7: case 9: case 10: case 11: case 12: case 13: case 28: case 29: case 30: case 31: return true;
        default: return false;
    }
}

step_end control_do(uint32_t code, bool last, int32_t newline) {
    image_record* r = dest_image;
    switch (code) {
        case 7: bell_pause(); break;
        case 9: return image_proportional(r) ? tab_proportional() : tab_fixed(last, newline);
        case 10:
        case 13:
            text_newline();
            if (printer_output_running()) printer_column_home();
            break;
        case 11:
            r->cursor_column = 1;
            r->cursor_row = r->view_top;
            if (printer_output_running()) printer_column_home();
            break;
        case 12:
            if (printer_output_running()) printer_page_hand_on();
            dest_clear(0, 0, 0);
            if (printer_output_running()) printer_column_home();
            break;
        case 28: cursor_right(); break;
        case 29: cursor_left(); break;
        case 30:
            if (r->view_top < r->cursor_row && r->cursor_row <= r->view_bottom) --r->cursor_row;
            break;
        case 31:
            if (r->view_top <= r->cursor_row && r->cursor_row < r->view_bottom) ++r->cursor_row;
            break;
    }
    return step_end::fits;
}

void console_write(const string_descriptor* text, int32_t newline) {
    // The console gets the text as a C string: it ends at a NUL byte.
    const void* nul = std::memchr(text->text, 0, size_t(text->length));
    size_t n = nul ? size_t(static_cast<const uint8_t*>(nul) - text->text) : size_t(text->length);
    std::fwrite(text->text, 1, n, stdout);
    if (newline) {
        std::fputc('\n', stdout);
        std::fflush(stdout);
    }
}

}  // namespace

void print_string(string_descriptor* text, int32_t newline) {
    if (error_pending()) return;
    image_record* r = dest_image;
    if (r->is_console) return console_write(text, newline);
    int32_t length = std::max(text->length, 0);
    if (r->pending_newline) {
        if (length > 0) {
            r->pending_newline = 0;
            text_newline();
        } else if (newline) {
            r->pending_newline = 0;
        }
    }
    const int32_t unit = font_is_unicode(r->font) ? 4 : 1;
    const bool codes_act = !control_chars_off && !key_line_drawing;
    step_end end = step_end::fits;
    for (int32_t i = 0; i + unit <= length; i += unit) {
        uint32_t code = text->text[i];
        if (unit == 4) std::memcpy(&code, text->text + i, 4);  // little-endian code point
        if (printer_output_running()) printer_page_mark_dirty();
        bool last = i + 2 * unit > length;
        end = codes_act && control_acts(code) ? control_do(code, last, newline) : character_step(code, last, newline);
    }
    if (newline && end != step_end::wrapped) text_newline();
    if (newline && printer_output_running()) printer_column_home();
}

void print_prewrap(string_descriptor* text) {
    if (error_pending()) return;
    image_record* r = dest_image;
    if (r->pending_newline || r->cursor_column == 1) return;
    int64_t end;
    if (r->is_text) {
        end = int64_t{r->cursor_column} + text->length - 1;
    } else {
        int64_t w = image_proportional(r) ? 1 : font_advance_width(r->font);
        end = (r->cursor_column - 1) * w + text_pixel_width(text, 0, 0);
    }
    if (end > r->width) text_newline();
}

void glyph_draw(uint32_t code) {
    image_record* r = dest_image;
    if (r->is_text) return cell_store(r, static_cast<uint8_t>(code));
    glyph_pixels_draw(r, static_cast<uint8_t>(code));
}

int32_t glyph_advance(uint32_t) {
    // A proportional font is a loaded one, and without a font engine nothing renders: advance 0.
    return font_advance_width(dest_image->font);
}

void text_newline() {
    image_record* r = dest_image;
    r->cursor_row = static_cast<int16_t>(r->cursor_row + 1);
    r->cursor_column = 1;
    if (r->cursor_row <= r->view_bottom) return;
    if (printer_output_running()) {
        // A full printer page is handed on and starts again white.
        printer_page_hand_on();
        dest_clear(0, 15, 2);
        return;
    }
    if (r->is_text) cells_scroll(r);
    else pixels_scroll(r);
    r->cursor_row = r->view_bottom;
}

void control_chars_set(int32_t mode) { control_chars_off = mode == 2 ? 1 : 0; }

void print_hook_empty() {}
