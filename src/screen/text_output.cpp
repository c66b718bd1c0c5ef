#include "screen/text_output.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "core/errors.h"
#include "core/shutdown.h"
#include "core/strings.h"
#include "core/timing.h"
#include "draw/boxes.h"
#include "screen/blend.h"
#include "screen/fonts.h"
#include "screen/image_pool.h"
#include "screen/text_view.h"

int32_t control_chars_off = 0;
int32_t key_line_drawing = 0;

namespace {

bool proportional(const image_record* r) { return !r->is_text && font_advance_width(r->font) == 0; }

// The column the cursor stands on at the end of a line. An image narrower than one glyph still has
// one column, so the cursor never goes left of the image.
int32_t last_column(const image_record* r) {
    if (r->is_text) return r->width;
    int32_t w = font_advance_width(r->font);
    return w == 0 ? r->width : std::max(r->width / w, 1);
}

void column_set(image_record* r, int64_t column) { r->cursor_column = static_cast<int16_t>(column); }

// ---- glyphs on graphics images ----

// How one pixel of a glyph lands: 8-bit images store the colour masked, 32-bit images store it
// (blending off) or blend it, exactly as dest_pixel_write does.
struct pixel_8bit {
    uint8_t mask;
    void put(uint8_t* p, uint32_t c) const { *p = static_cast<uint8_t>(c & mask); }
};
struct pixel_32bit_store {
    void put(uint8_t* p, uint32_t c) const { std::memcpy(p, &c, 4); }
};
struct pixel_32bit_blend {
    void put(uint8_t* p, uint32_t c) const {
        uint32_t d;
        std::memcpy(&d, p, 4);
        d = blend_pixel(d, c);
        std::memcpy(p, &d, 4);
    }
};

// The part of a glyph cell that lies on the image.
struct glyph_cell {
    const uint8_t* glyph;  // rows of 8 bytes, non-zero = ink
    int64_t x, y;          // top-left pixel of the cell
    int32_t gx0, gx1, gy0, gy1;  // visible columns and rows of the cell, half-open
    bool doubled;          // double-width fonts draw each glyph column twice
};

template <bool doubled, typename Pixel>
void glyph_cell_draw(image_record* r, const glyph_cell& g, Pixel pixel) {
    const uint32_t ink_colour = static_cast<uint32_t>(r->fore_color), paper_colour = r->back_color;
    const bool ink_on = r->print_mode & 1, paper_on = r->print_mode & 2;
    const int32_t bpp = r->bytes_per_pixel;
    for (int32_t gy = g.gy0; gy < g.gy1; ++gy) {
        const uint8_t* bits = g.glyph + gy * 8;
        uint8_t* p = r->pixels + ((size_t(g.y + gy) * r->width) + size_t(g.x + g.gx0)) * bpp;
        for (int32_t gx = g.gx0; gx < g.gx1; ++gx, p += bpp) {
            bool ink = bits[doubled ? gx / 2 : gx] != 0;
            if (ink ? ink_on : paper_on) pixel.put(p, ink ? ink_colour : paper_colour);
        }
    }
}

template <typename Pixel>
void glyph_cell_draw(image_record* r, const glyph_cell& g, Pixel pixel) {
    if (g.doubled) glyph_cell_draw<true>(r, g, pixel);
    else glyph_cell_draw<false>(r, g, pixel);
}

// The usual case, a whole 8-pixel cell on an 8-bit image in print mode 3: every pixel is stored.
void glyph_cell_store_8bit(image_record* r, const glyph_cell& g) {
    const auto ink = static_cast<uint8_t>(static_cast<uint32_t>(r->fore_color) & r->color_mask);
    const auto paper = static_cast<uint8_t>(r->back_color & r->color_mask);
    for (int32_t gy = g.gy0; gy < g.gy1; ++gy) {
        const uint8_t* bits = g.glyph + gy * 8;
        uint8_t* p = r->pixels + size_t(g.y + gy) * r->width + size_t(g.x);
        for (int32_t gx = 0; gx < 8; ++gx) p[gx] = bits[gx] ? ink : paper;
    }
}

void glyph_pixels_draw(image_record* r, uint8_t code) {
    // Loaded fonts would come from a font engine; there is none, so only the built-in fonts draw.
    if (!font_is_builtin(r->font) || r->print_mode < 1 || r->print_mode > 3) return;
    int32_t advance = font_advance_width(r->font), height = font_glyph_height(r->font);
    glyph_cell g{font_glyph(r->font, code), int64_t{r->cursor_column - 1} * advance,
                 int64_t{r->cursor_row - 1} * height, 0, 0, 0, 0, advance == 16};
    int32_t cell_width = g.doubled ? 16 : 8;
    g.gx0 = static_cast<int32_t>(std::clamp<int64_t>(-g.x, 0, cell_width));
    g.gx1 = static_cast<int32_t>(std::clamp<int64_t>(r->width - g.x, 0, cell_width));
    g.gy0 = static_cast<int32_t>(std::clamp<int64_t>(-g.y, 0, height));
    g.gy1 = static_cast<int32_t>(std::clamp<int64_t>(r->height - g.y, 0, height));
    if (g.gx0 >= g.gx1 || g.gy0 >= g.gy1) return;
    if (r->bytes_per_pixel == 1 && r->print_mode == 3 && !g.doubled && g.gx0 == 0 && g.gx1 == 8)
        return glyph_cell_store_8bit(r, g);
    if (r->bytes_per_pixel == 1) glyph_cell_draw(r, g, pixel_8bit{static_cast<uint8_t>(r->color_mask)});
    else if (r->bytes_per_pixel == 4 && r->blend_off) glyph_cell_draw(r, g, pixel_32bit_store{});
    else if (r->bytes_per_pixel == 4) glyph_cell_draw(r, g, pixel_32bit_blend{});
}

// ---- cells on text pages ----

text_cell* cells_of(const image_record* r) { return reinterpret_cast<text_cell*>(r->pixels); }

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
    bool prop = proportional(r);
    int32_t advance = prop ? glyph_advance(code) : 1;
    if (prop && r->cursor_column + advance > r->width) text_newline();
    glyph_draw(code);
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
        case 9: return proportional(r) ? tab_proportional() : tab_fixed(last, newline);
        case 10:
        case 13: text_newline(); break;
        case 11:
            r->cursor_column = 1;
            r->cursor_row = r->view_top;
            break;
        case 12: dest_clear(0, 0, 0); break;
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
        bool last = i + 2 * unit > length;
        end = codes_act && control_acts(code) ? control_do(code, last, newline) : character_step(code, last, newline);
    }
    if (newline && end != step_end::wrapped) text_newline();
}

void print_prewrap(string_descriptor* text) {
    if (error_pending()) return;
    image_record* r = dest_image;
    if (r->pending_newline || r->cursor_column == 1) return;
    int64_t end;
    if (r->is_text) {
        end = int64_t{r->cursor_column} + text->length - 1;
    } else {
        int64_t w = proportional(r) ? 1 : font_advance_width(r->font);
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
    if (r->is_text) cells_scroll(r);
    else pixels_scroll(r);
    r->cursor_row = r->view_bottom;
}

void control_chars_set(int32_t mode) { control_chars_off = mode == 2 ? 1 : 0; }

void print_hook_empty() {}
