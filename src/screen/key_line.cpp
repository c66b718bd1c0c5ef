#include "screen/key_line.h"

#include <string>

#include "core/error_codes.h"
#include "core/errors.h"
#include "core/strings.h"
#include "core/traps.h"
#include "screen/boxes.h"
#include "screen/fonts.h"
#include "screen/image_pool.h"
#include "screen/modes.h"
#include "screen/text_output.h"
#include "screen/text_view.h"

int32_t key_line_enabled = 0;
int32_t key_line_shown = 0;
int32_t key_line_force = 0;

namespace {

constexpr int32_t function_keys = 12;
constexpr int32_t key_text_max = 15;
constexpr int32_t user_key_first = 15;
constexpr int32_t user_key_last = 29;
constexpr int32_t f11_record = 30;  // F11 and F12 are records 30 and 31
constexpr int32_t narrow_label = 7;   // labels this narrow are widened to 8
constexpr int32_t wide_label = 8;
constexpr uint32_t opaque = 0xFF000000u;

// A key's text is published to the keyboard (main thread) by swapping the record's pointer
// between two buffers of its own, so the keyboard never reads a text being written, nor one the
// string store may move or free.
struct key_text_store {
    uint8_t bytes[2][key_text_max];
    string_descriptor views[2];
    int32_t next = 0;
};
key_text_store key_texts[key_trap_count];

int32_t function_key_record(int32_t k) { return k <= 10 ? k : k - 11 + f11_record; }

bool is_function_key(int32_t key) { return (key >= 1 && key <= 10) || key == f11_record || key == f11_record + 1; }

// The text of label k (1-12), null when the key has none.
const string_descriptor* label_text(int32_t k) {
    const string_descriptor* t = key_trap_table[function_key_record(k)].key_text.load();
    return t && t->length > 0 ? t : nullptr;
}

void key_text_publish(int32_t record, const string_descriptor* text) {
    key_text_store& store = key_texts[record];
    int32_t i = store.next;
    store.next ^= 1;
    string_descriptor& view = store.views[i];
    view = string_descriptor{};
    view.text = store.bytes[i];
    view.length = text->length;
    view.fixed = view.read_only = view.permanent = 1;
    for (int32_t b = 0; b < text->length; ++b) store.bytes[i][b] = text->text[b];
    key_trap_table[record].key_text.store(&view);
}

void user_key_define(int32_t key, const string_descriptor* text) {
    key_trap& trap = key_trap_table[key];
    if (text->length <= 0) {
        trap.trap_scan_code.store(0);
        return;
    }
    uint8_t mask = 0;
    for (int32_t i = 0; i + 1 < text->length; ++i) mask |= text->text[i];
    trap.shift_mask.store(mask);
    trap.trap_scan_code.store(text->text[text->length - 1]);
}

void text_print(const std::string& text, int32_t newline) {
    string_descriptor s{};
    s.text = reinterpret_cast<uint8_t*>(const_cast<char*>(text.data()));
    s.length = static_cast<int32_t>(text.size());
    print_string(&s, newline);
}

// The bottom row of the page made blank in the current colours.
void bottom_row_blank(image_record* r, const text_grid& grid) {
    if (r->is_text) {
        text_print(std::string(size_t(grid.columns), ' '), 0);
    } else {
        int32_t h = font_glyph_height(r->font);
        dest_rect_fill(0, (grid.rows - 1) * h, r->width - 1, grid.rows * h - 1, r->back_color | opaque);
    }
    r->cursor_column = 1;
    r->pending_newline = 0;
}

// Prints the characters of one label from its start column; false once the line is used up.
class label_writer {
public:
    label_writer(image_record* r, const key_label_layout& layout, int32_t end)
        : r_(r), line_end_(layout.end), end_(end) {}
    // One character; false when the label ends (before or with it).
    bool put(uint8_t c) {
        int32_t column = r_->cursor_column;
        if (column >= line_end_) last_label_ = true;
        if (column > end_) return false;
        key_line_drawing = 1;
        text_print(std::string(1, char(c)), 0);
        key_line_drawing = 0;
        r_->pending_newline = 0;  // a label that reaches the last column does not wrap the row
        // A font without glyph widths does not advance: the label ends rather than loop.
        return column < end_ && r_->cursor_column > column;
    }
    bool last_label() const { return last_label_; }
    int32_t column() const { return r_->cursor_column; }

private:
    image_record* r_;
    int32_t line_end_;
    int32_t end_;
    bool last_label_ = false;
};

void label_colours_invert(image_record* r) {
    if (!r->is_text) return;
    if (r->back_color != 0) {
        r->fore_color = 7;
        r->back_color = 0;
    } else {
        r->fore_color = 0;
        r->back_color = 7;
    }
}

void labels_draw(image_record* r, const text_grid& grid) {
    const bool prop = image_proportional(r);
    const key_label_layout layout = key_label_layout_of(grid.columns, prop, font_glyph_height(r->font));
    const int32_t fore = r->fore_color;
    const uint32_t back = r->back_color;
    for (int32_t k = 1; k <= function_keys; ++k) {
        int32_t start = (k - 1) * layout.width + 1, end = k * layout.width - layout.gap;
        if (start >= layout.end) break;
        r->cursor_column = static_cast<int16_t>(start);
        label_writer label(r, layout, end);
        bool open = true;
        for (char digit : std::to_string(k) + (prop ? ")" : "")) open = open && label.put(uint8_t(digit));
        const string_descriptor* text = label_text(k);
        if (open && text) {
            label_colours_invert(r);
            for (int32_t i = 0; open && label.column() < end; ++i)
                open = label.put(key_label_glyph(i < text->length ? text->text[i] : ' '));
            r->fore_color = fore;
            r->back_color = back;
        }
        if (label.last_label()) break;
    }
}

struct page_state {
    int16_t column, row;
    uint8_t pending_newline;
    int32_t fore;
    uint32_t back;
};

}  // namespace

key_label_layout key_label_layout_of(int32_t line, bool proportional_font, int32_t glyph_height) {
    if (!proportional_font) {
        if (line < wide_label) return {line, line, 0};
        int32_t w = line / function_keys;
        if (w <= narrow_label) return {wide_label, line / wide_label * wide_label, 0};
        return {w, function_keys * w, 0};
    }
    int32_t g = glyph_height, w = line / function_keys, t = function_keys * w - g;
    int32_t u = static_cast<int32_t>(glyph_height * 0.5);
    if (wide_label * u + g > w) {
        w = wide_label * u + g;
        t = line / w * w - g;
        if (w > line) {
            w = line;
            t = line - g;
        }
    }
    return {w, t, g};
}

uint8_t key_label_glyph(uint8_t c) {
    switch (c) {
        case 7: return 14;
        case 8: return 254;
        case 9: return 26;
        case 10: return 60;
        case 11: return 127;
        case 12: return 22;
        case 13: return 27;
        case 28: return 16;
        case 29: return 17;
        case 30: return 24;
        case 31: return 25;
        default: return c;
    }
}

void key_define(int32_t key, string_descriptor* text) {
    if (error_pending()) return;
    static const string_descriptor no_text{};
    const string_descriptor* t = text ? text : &no_text;
    if (is_function_key(key)) {
        if (t->length > key_text_max) {
            error_raise(error_illegal_function_call);
            return;
        }
        key_text_publish(key, t);
        key_line_force = 1;
        key_line_draw();
    } else if (key >= user_key_first && key <= user_key_last) {
        user_key_define(key, t);
    } else {
        error_raise(error_illegal_function_call);
    }
}

void key_line_show() {
    key_line_enabled = 1;
    key_line_draw();
}

void key_line_hide() {
    key_line_enabled = 0;
    key_line_draw();
}

void key_line_draw() {
    if (key_line_force) {
        key_line_force = 0;
        if (!key_line_enabled) return;
    } else {
        if (key_line_enabled == key_line_shown) return;
        key_line_shown = key_line_enabled;
    }
    int32_t page0 = screen_page_table.empty() ? 0 : screen_page_table[0];
    if (!page0 || !image_slot_in_use(page0)) return;
    const int32_t previous = dest_image_index;
    dest_slot_select(page0);
    image_record* r = dest_image;
    const page_state saved{r->cursor_column, r->cursor_row, r->pending_newline, r->fore_color, r->back_color};
    const text_grid grid = image_text_grid(r);
    if (grid.rows >= 1 && grid.columns >= 1) {
        r->cursor_row = static_cast<int16_t>(grid.rows);
        r->cursor_column = 1;
        r->pending_newline = 0;
        bottom_row_blank(r, grid);
        if (key_line_enabled) labels_draw(r, grid);
    }
    r->cursor_column = saved.column;
    r->cursor_row = saved.row;
    r->pending_newline = saved.pending_newline;
    r->fore_color = saved.fore;
    r->back_color = saved.back;
    dest_slot_select(previous);
}

void key_list_print() {
    if (error_pending()) return;
    const image_record* r = dest_image;
    const bool prop = image_proportional(r);
    bool aligned = false;
    if (prop) {
        static const uint8_t paren = ')';
        aligned = text_pixel_width(string_space, 0, 0) ==
                  text_pixel_width(string_from_literal(&paren, 1), 0, 0);
    }
    for (int32_t k = 1; k <= function_keys; ++k) {
        std::string line = "F";
        line += std::to_string(k);
        if (prop) line += aligned && k <= 9 ? ")  " : ") ";
        else line += k <= 9 ? "  " : " ";
        if (const string_descriptor* text = label_text(k)) {
            // The codes the label line shows as other glyphs are blanks in the list.
            for (int32_t i = 0; i < text->length; ++i) {
                uint8_t c = text->text[i];
                line += key_label_glyph(c) != c ? ' ' : char(c);
            }
        }
        text_print(line, 1);
    }
}

void key_line_reset() {
    key_line_enabled = key_line_shown = key_line_force = 0;
    for (int32_t i = 0; i < key_trap_count; ++i) {
        if (key_trap_table[i].key_text.load() == &key_texts[i].views[0] ||
            key_trap_table[i].key_text.load() == &key_texts[i].views[1])
            key_trap_table[i].key_text.store(nullptr);
        key_texts[i].next = 0;
    }
}
