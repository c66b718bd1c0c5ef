#include "screen/fonts.h"

#include <algorithm>
#include <cctype>
#include <string>

#include "core/errors.h"
#include "core/maths.h"
#include "core/strings.h"
#include "screen/charmap.h"
#include "screen/font_data.h"
#include "screen/frame_handover.h"
#include "screen/glyph_raster.h"
#include "screen/image_pool.h"
#include "screen/modes.h"
#include "screen/text_output.h"
#include "screen/text_view.h"
#include "screen/view.h"

font_table_arrays font_table{std::vector<int64_t>(49), std::vector<int32_t>(49), std::vector<int32_t>(49),
                             std::vector<int32_t>(49)};
int32_t highest_font_number = 48;

uint8_t glyph_bitmap_8x8[256 * glyph_bytes_8x8];
uint8_t glyph_bitmap_8x16[256 * glyph_bytes_8x16];

namespace {

void glyphs_expand(const uint8_t* packed, int32_t rows, uint8_t* bitmap) {
    for (int32_t row = 0; row < 256 * rows; ++row)
        for (int32_t column = 0; column < 8; ++column)
            bitmap[row * 8 + column] = (packed[row] >> (7 - column)) & 1 ? 255 : 0;
}

bool font_is_loaded(int32_t font) {
    return font >= 32 && font <= highest_font_number && font_table.engine_handle[size_t(font)] != 0;
}

bool font_is_selectable(int32_t font) { return font_is_builtin(font) || font_is_loaded(font); }

// Fonts a width or height query may name: the single-width built-ins and loaded fonts.
bool font_is_measurable(int32_t font) { return font == 8 || font == 14 || font == 16 || font_is_loaded(font); }

int32_t font_entry(const std::vector<int32_t>& column, int32_t font) {
    return font >= 0 && font <= highest_font_number ? column[size_t(font)] : 0;
}

// A width or height query: the destination's font without a font, else a font it may name
// (error 258 for another).
int32_t font_metric_get(const std::vector<int32_t>& column, int32_t font, int32_t font_given) {
    if (error_pending()) return 0;
    if (!font_given) return font_entry(column, dest_image->font);
    if (!font_is_measurable(font)) {
        error_raise(error_invalid_handle);
        return 0;
    }
    return column[size_t(font)];
}

int32_t option_bit(const std::string& word) {
    static const char* const words[] = {"BOLD", "ITALIC", "UNDERLINE", "DONTBLEND", "MONOSPACE", "UNICODE"};
    for (int32_t i = 0; i < 6; ++i)
        if (word == words[i]) return 1 << i;
    return 0;
}

// The option words of a font load: -1 after error 5 for an unknown or repeated word.
int32_t options_parse(const string_descriptor* text) {
    std::string all(reinterpret_cast<const char*>(text->text), size_t(text->length));
    std::transform(all.begin(), all.end(), all.begin(), [](unsigned char c) { return char(std::toupper(c)); });
    int32_t bits = 0;
    size_t start = 0;
    while (start <= all.size()) {
        size_t comma = std::min(all.find(',', start), all.size());
        std::string word = all.substr(start, comma - start);
        size_t first = word.find_first_not_of(" \t"), last = word.find_last_not_of(" \t");
        word = first == std::string::npos ? std::string() : word.substr(first, last - first + 1);
        int32_t bit = option_bit(word);
        if (bit == 0 || (bits & bit)) {
            error_raise(error_illegal_function_call);
            return -1;
        }
        bits |= bit;
        start = comma + 1;
    }
    return bits;
}

font_file_reader file_reader = nullptr;

// The whole file through the file layer, or false when it cannot be read.
bool font_file_read(const string_descriptor* name, std::string& bytes) {
    return file_reader && file_reader({reinterpret_cast<const char*>(name->text), size_t(name->length)}, bytes);
}

int32_t font_number_free() {
    for (int32_t font = 32; font <= highest_font_number; ++font)
        if (font_table.engine_handle[size_t(font)] == 0) return font;
    ++highest_font_number;
    for (auto* column : {&font_table.height, &font_table.width, &font_table.options}) column->push_back(0);
    font_table.engine_handle.push_back(0);
    return highest_font_number;
}

void text_draw_graphics(image_record* r, float x, float y, const string_descriptor* text, bool relative) {
    logical_point at = image_point(r, x, y, relative);
    r->cursor_x = at.x;
    r->cursor_y = at.y;
    // Only the built-in fonts have glyphs; graphics text is cut to the view.
    if (!font_is_builtin(r->font)) return;
    int64_t px = image_map_x(r, at.x), py = image_map_y(r, at.y);
    int64_t advance = font_advance_width(r->font);
    pixel_box clip = image_clip_box(r);
    for (int32_t k = 0; k < text->length; ++k) glyph_raster(r, text->text[k], px + advance * k, py, clip);
}

// A slot by what it shows: a screen page by its page number, as the 80 x 50 switch rebuilds the
// screen's pages into other slots (and may hand a freed one to another page).
struct slot_identity {
    int32_t slot;
    int32_t page;  // -1: not a screen page
};

slot_identity identity_of(int32_t slot) {
    for (int32_t page = 0; page < screen_page_count(); ++page)
        if (screen_page_table[size_t(page)] == slot) return {slot, page};
    return {slot, -1};
}

// The slot now holding the image; 0 for a screen page that is gone.
int32_t slot_now(const slot_identity& id) {
    if (id.page < 0) return id.slot;
    return id.page < screen_page_count() ? screen_page_table[size_t(id.page)] : 0;
}

// True when a page made before has another slot now (new pages made on demand do not count).
bool pages_rebuilt(const std::vector<int32_t>& before) {
    for (int32_t page = 0; page < static_cast<int32_t>(before.size()); ++page)
        if (before[size_t(page)] != 0 && slot_now({before[size_t(page)], page}) != before[size_t(page)]) return true;
    return false;
}

// Prints at a cell of a text image and puts its text cursor back as it was, deferred newline
// included. The image is the destination for the time of the print. When placing the cursor set
// off the 80 x 50 switch, the text goes to the new screen's active page, which stays the
// destination unless that was an image of the program's own.
void text_draw_cell(int32_t slot, float x, float y, string_descriptor* text) {
    const slot_identity saved_dest = identity_of(dest_image_index);
    dest_slot_select(slot);
    const int16_t row = dest_image->cursor_row, column = dest_image->cursor_column;
    const uint8_t pending = dest_image->pending_newline;
    const std::vector<int32_t> pages = screen_page_table;
    cursor_place(float_to_int32(y), float_to_int32(x), 0, 0, 0, 3);
    if (!error_pending()) print_string(text, 0);
    // The image printed on: after a switch, the new screen's active page.
    dest_image->cursor_row = row;
    dest_image->cursor_column = column;
    dest_image->pending_newline = pending;
    if (!pages_rebuilt(pages) || saved_dest.page < 0) dest_slot_select(saved_dest.slot);
}

}  // namespace

bool font_is_builtin(int32_t font) {
    return font == 8 || font == 9 || font == 14 || font == 15 || font == 16 || font == 17;
}

const uint8_t* font_glyph(int32_t font, uint8_t code) {
    if (font == 8 || font == 9) return glyph_bitmap_8x8 + code * glyph_bytes_8x8;
    const uint8_t* glyph = glyph_bitmap_8x16 + code * glyph_bytes_8x16;
    return font == 14 || font == 15 ? glyph + 8 : glyph;
}

int32_t font_glyph_height(int32_t font) { return font_entry(font_table.height, font); }
int32_t font_advance_width(int32_t font) { return font_entry(font_table.width, font); }
bool font_is_unicode(int32_t font) { return font_entry(font_table.options, font) & font_option_unicode; }

void font_metrics_init() {
    for (int32_t font : {8, 14, 16}) {
        for (int32_t wide = 0; wide < 2; ++wide) {
            auto i = size_t(font + wide);
            font_table.engine_handle[i] = 0;
            font_table.height[i] = font;
            font_table.width[i] = wide ? 16 : 8;
            font_table.options[i] = font_option_monospace;
        }
    }
}

void glyph_bitmaps_load() {
    glyphs_expand(glyph_packed_8x8, 8, glyph_bitmap_8x8);
    glyphs_expand(glyph_packed_8x16, 16, glyph_bitmap_8x16);
}

void image_font_select(int32_t font, int32_t handle, int32_t handle_given) {
    if (error_pending()) return;
    if (!font_is_selectable(font)) {
        error_raise(error_invalid_handle);
        return;
    }
    image_record* r = image_target(handle, handle_given);
    if (!r) return;
    if (r->is_text && !(font_table.options[size_t(font)] & font_option_monospace)) {
        error_raise(error_illegal_function_call);
        return;
    }
    if (r->is_text && (r->image_flags & image_is_screen_page)) {
        // Every page of the text screen shows one font; cursors and text views stay.
        frame_suspend_begin();
        for (int32_t slot : screen_page_table)
            if (slot) image_pool[slot].font = font;
        frame_compare_valid.store(0);
        frame_suspend_end();
        return;
    }
    image_font_set(font, r);
}

int32_t font_width_get(int32_t font, int32_t font_given) {
    return font_metric_get(font_table.width, font, font_given);
}

int32_t font_height_get(int32_t font, int32_t font_given) {
    return font_metric_get(font_table.height, font, font_given);
}

int32_t image_font_get(int32_t handle, int32_t handle_given) {
    if (error_pending()) return 0;
    image_record* r = image_target(handle, handle_given);
    return r ? r->font : 0;
}

void image_glyph_mode_set(int32_t kind, int32_t handle, int32_t handle_given) {
    if (error_pending()) return;
    image_record* r = image_target(handle, handle_given);
    if (!r) return;
    if (r->is_text && kind != 1) {
        error_raise(error_illegal_function_call);
        return;
    }
    static constexpr uint8_t print_modes[4] = {0, 3, 1, 2};
    if (kind >= 1 && kind <= 3) r->print_mode = print_modes[kind];
}

int32_t image_glyph_mode_get(int32_t handle, int32_t handle_given) {
    if (error_pending()) return 0;
    image_record* r = image_target(handle, handle_given);
    return r ? r->print_mode : 0;
}

int32_t font_load_file(string_descriptor* file_name, int32_t height, string_descriptor* options, int32_t options_given) {
    if (error_pending()) return 0;
    if (height <= 0) {
        error_raise(error_illegal_function_call);
        return 0;
    }
    if (height > 2048) return -1;
    int32_t bits = 0;
    if (options_given && options && options->length > 0) {
        bits = options_parse(options);
        if (bits < 0) return 0;
    }
    return font_load_file_flags(file_name, height, bits);
}

void font_file_reader_set(font_file_reader read) { file_reader = read; }

int32_t font_load_file_flags(string_descriptor* file_name, int32_t height, int32_t option_bits) {
    if (error_pending()) return 0;
    if (!file_name || file_name->length == 0) return -1;
    std::string bytes;
    if (!font_file_read(file_name, bytes)) return -1;
    int32_t font = font_number_free();
    int64_t engine = font_engine_load(bytes.data(), int64_t(bytes.size()), height, -1, option_bits);
    if (engine == 0) return -1;
    auto i = size_t(font);
    font_table.engine_handle[i] = engine;
    font_table.height[i] = height;
    font_table.width[i] = font_engine_fixed_width(engine);
    font_table.options[i] = option_bits;
    return font;
}

void font_free(int32_t font) {
    if (error_pending()) return;
    if (!font_is_loaded(font)) {
        error_raise(error_invalid_handle);
        return;
    }
    for (int32_t slot = 2; slot < image_pool_used; ++slot) {
        if (image_pool[slot].in_use && image_pool[slot].font == font) {
            error_raise(error_illegal_function_call);
            return;
        }
    }
    font_engine_free(font_table.engine_handle[size_t(font)]);
    font_table.engine_handle[size_t(font)] = 0;
}

void text_draw_at(float x, float y, string_descriptor* text, int32_t handle, int32_t flags) {
    if (error_pending()) return;
    int32_t slot = flags & 2 ? image_handle_resolve(handle) : dest_image_index;
    if (!slot || !text || text->length == 0) return;
    image_record* r = &image_pool[slot];
    if (r->is_text)
        text_draw_cell(slot, x, y, text);
    else
        text_draw_graphics(r, x, y, text, flags & 1);
}

int32_t text_pixel_width(string_descriptor* text, int32_t handle, int32_t handle_given) {
    if (error_pending()) return 0;
    image_record* r = image_target(handle, handle_given);
    if (!r || !text || text->length == 0) return 0;
    if (r->is_text) return text->length;
    // Every font that can be selected has a fixed advance: the built-ins (the double-width ones
    // advance 16) and loaded fonts, of which there are none without a font engine.
    return text->length * font_advance_width(r->font);
}

int64_t font_engine_load(const void*, int64_t, int32_t, int32_t, int32_t) { return 0; }
int32_t font_engine_render_text8(int64_t, const uint8_t*, int32_t, int32_t, uint8_t**, int32_t*, int32_t*, int32_t*,
                                 int32_t*) {
    return 0;
}
int32_t font_engine_render_text32(int64_t, const uint32_t*, int32_t, int32_t, uint8_t**, int32_t*, int32_t*,
                                  int32_t*, int32_t*) {
    return 0;
}
int32_t font_engine_fixed_width(int64_t) { return 0; }
void font_engine_free(int64_t) {}

int32_t font_text_to_utf16(int32_t font, const uint8_t* text, int32_t length, const uint16_t** out) {
    static std::vector<uint16_t> buffer;
    bool wide = font_is_unicode(font);
    size_t units = size_t(length < 0 ? 0 : length) + 1;
    if (buffer.size() < units * 2) buffer.resize(units * 2);
    *out = buffer.data();
    return wide ? text_to_unicode(32, text, length * 4, 16, buffer.data()) : text_to_unicode(1, text, length, 16, buffer.data());
}
