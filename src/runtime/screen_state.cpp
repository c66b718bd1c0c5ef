#include "runtime/screen_state.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "core/error_codes.h"
#include "core/errors.h"
#include "core/memory.h"
#include "files/random_access.h"
#include "screen/fonts.h"
#include "screen/image_handles.h"
#include "screen/image_pool.h"
#include "screen/modes.h"
#include "screen/palette.h"
#include "screen/text_view.h"
#include "screen/width.h"

namespace {

constexpr int32_t palette_entries = 256;
constexpr uint32_t palette_alpha = 0xFF000000u;
constexpr int32_t builtin_font_limit = 32;
constexpr int32_t image_side_max = 65535;

// ---- the record layout ----

// Each stored field at its offset, in the field's own type: one list serves writing and reading.
template <class Record, class Visit>
void record_fields(Record& r, Visit&& visit) {
    visit(16, r.in_use);
    visit(17, r.is_text);
    visit(18, r.is_console);
    visit(20, r.width);
    visit(22, r.height);
    visit(24, r.bytes_per_pixel);
    visit(25, r.bits_per_pixel);
    visit(28, r.color_mask);
    visit(32, r.mode);
    visit(36, r.fore_color);
    visit(40, r.back_color);
    visit(44, r.draw_color);
    visit(48, r.font);
    visit(52, r.view_top);
    visit(54, r.view_bottom);
    visit(56, r.cursor_column);
    visit(58, r.cursor_row);
    visit(60, r.cursor_visible);
    visit(61, r.cursor_start_line);
    visit(62, r.cursor_stop_line);
    visit(68, r.image_flags);
    visit(76, r.clear_color);
    visit(80, r.blend_off);
    visit(81, r.pending_newline);
    visit(82, r.print_mode);
    visit(84, r.clip_x1);
    visit(88, r.clip_y1);
    visit(92, r.clip_x2);
    visit(96, r.clip_y2);
    visit(100, r.view_origin_x);
    visit(104, r.view_origin_y);
    visit(108, r.cursor_x);
    visit(112, r.cursor_y);
    visit(116, r.coord_mode);
    visit(120, r.scale_x);
    visit(124, r.scale_y);
    visit(128, r.offset_x);
    visit(132, r.offset_y);
    visit(136, r.window_x1);
    visit(140, r.window_y1);
    visit(144, r.window_x2);
    visit(148, r.window_y2);
    visit(152, r.turtle_angle);
    visit(160, r.turtle_scale);
}

// ---- writing ----

void token(std::vector<uint8_t>& out, uint32_t value) {
    uint8_t bytes[4];
    std::memcpy(bytes, &value, 4);
    out.insert(out.end(), bytes, bytes + 4);
}

bool in_emulated_memory(const uint8_t* p) { return p >= dos_memory && p < dos_memory + dos_memory_size; }

void page_group(std::vector<uint8_t>& out, int32_t page) {
    const image_record& r = image_pool[screen_page_table[size_t(page)]];
    token(out, screen_state_page);
    token(out, uint32_t(page));
    out.insert(out.end(), r.pixels, r.pixels + image_pixel_bytes(&r));
    uint8_t record[screen_state_record_bytes];
    screen_state_record_put(r, record);
    out.insert(out.end(), record, record + screen_state_record_bytes);
}

int32_t first_page_of_slot(int32_t slot) {
    for (int32_t page = 0; page < screen_page_count(); ++page)
        if (screen_page_table[size_t(page)] == slot) return page;
    return 0;
}

// ---- reading ----

struct reader {
    const screen_state_source& source;
    // A stream that ends early is an input past its end.
    bool read(void* buffer, int64_t count) {
        std::memset(buffer, 0, size_t(count));
        if (error_pending()) return false;
        bool whole = source.read(source.context, buffer, count);
        if (!whole && !error_pending()) error_raise(error_input_past_end);
        return !error_pending();
    }
    uint32_t value() {
        uint32_t v = 0;
        read(&v, 4);
        return v;
    }
};

bool stop(int32_t error) {
    error_raise(error);
    return false;
}

// A stored record fits the live page when every field that sizes its pixels is the same.
bool same_geometry(const image_record& stored, const image_record& live) {
    return stored.width == live.width && stored.height == live.height &&
           stored.bytes_per_pixel == live.bytes_per_pixel && stored.bits_per_pixel == live.bits_per_pixel &&
           stored.is_text == live.is_text && stored.mode == live.mode;
}

// The text cursor and view of a stored record lie within the live page's grid.
bool text_state_fits(const image_record& stored, const image_record& live) {
    text_grid grid = image_text_grid(&live);
    return stored.view_top >= 1 && stored.view_top <= stored.view_bottom && stored.view_bottom <= grid.rows &&
           stored.cursor_row >= 1 && stored.cursor_row <= grid.rows && stored.cursor_column >= 1 &&
           stored.cursor_column <= std::max(grid.columns, 1);
}

bool page_group_read(reader& in) {
    auto page = static_cast<int32_t>(in.value());
    if (error_pending()) return false;
    if (page < 0 || page > screen_page_max) return stop(error_illegal_function_call);
    screen_mode_set(0, 0, page, 0, 0, 12);
    if (error_pending()) return false;
    int32_t slot = screen_page_table[size_t(page)];
    image_record& live = image_pool[slot];
    std::vector<uint8_t> pixels(image_pixel_bytes(&live));
    uint8_t bytes[screen_state_record_bytes];
    if (!in.read(pixels.data(), int64_t(pixels.size())) || !in.read(bytes, screen_state_record_bytes)) return false;
    image_record stored = live;
    screen_state_record_get(bytes, stored);
    if (!same_geometry(stored, live) || !text_state_fits(stored, live)) return stop(error_illegal_function_call);
    if (stored.font >= builtin_font_limit || stored.font < 0) stored.font = live.font;
    // What the runtime owns and frees stays the live page's: its slot, pixels, palette, lock and flags.
    stored.in_use = live.in_use;
    stored.is_console = live.is_console;
    stored.image_flags = live.image_flags;
    std::memcpy(live.pixels, pixels.data(), pixels.size());
    live = stored;
    return true;
}

bool image_screen_make(reader& in) {
    auto mode = static_cast<int32_t>(in.value());
    auto width = static_cast<int32_t>(in.value());
    auto height = static_cast<int32_t>(in.value());
    if (error_pending()) return false;
    if (!image_mode_valid(mode) || width < 1 || height < 1 || width > image_side_max || height > image_side_max)
        return stop(error_illegal_function_call);
    int32_t handle = image_handle_new(width, height, mode, 1);
    if (handle == -1) return stop(error_out_of_memory);
    if (error_pending()) return false;
    screen_mode_set(handle, 0, 0, 0, 0, 1);
    return !error_pending();
}

// The file layer takes a short read as it comes: the bytes left tell whether the block was whole.
bool file_source_read(void* context, void* buffer, int64_t count) {
    int32_t f = *static_cast<int32_t*>(context);
    int64_t left = file_length(f) - (file_seek_position(f) - 1);
    file_get_block(f, -1, buffer, std::min(count, std::max<int64_t>(left, 0)));
    return !error_pending() && left >= count;
}

}  // namespace

void screen_state_record_put(const image_record& r, uint8_t* out) {
    std::memset(out, 0, screen_state_record_bytes);
    record_fields(r, [out](int32_t offset, const auto& field) { std::memcpy(out + offset, &field, sizeof field); });
}

void screen_state_record_get(const uint8_t* in, image_record& r) {
    record_fields(r, [in](int32_t offset, auto& field) { std::memcpy(&field, in + offset, sizeof field); });
}

std::vector<uint8_t> screen_state_bytes() {
    std::vector<uint8_t> out;
    if (screen_page_table.empty() || !screen_page_table[0]) return out;
    const image_record& page0 = image_pool[screen_page_table[0]];
    if (in_emulated_memory(page0.pixels)) {
        token(out, screen_state_mode);
        token(out, page0.mode);
        if (page0.is_text) {
            token(out, screen_state_text_size);
            token(out, page0.width);
            token(out, page0.height);
        }
    } else {
        token(out, screen_state_image);
        token(out, page0.mode);
        token(out, page0.width);
        token(out, page0.height);
    }
    if (uint32_t(page0.font) < builtin_font_limit) {
        token(out, screen_state_font);
        token(out, uint32_t(page0.font));
    }
    int32_t destination_page = -1;
    for (int32_t page = 0; page < screen_page_count(); ++page) {
        int32_t slot = screen_page_table[size_t(page)];
        if (!slot) continue;
        if (slot == dest_image_index && destination_page < 0) {
            destination_page = page;
            continue;
        }
        page_group(out, page);
    }
    if (destination_page >= 0) page_group(out, destination_page);
    token(out, screen_state_pages);
    token(out, uint32_t(first_page_of_slot(dest_image_index)));
    token(out, uint32_t(first_page_of_slot(display_image_index.load())));
    if (page0.bytes_per_pixel != 4 && page0.palette) {
        token(out, screen_state_palette);
        for (int32_t i = 0; i < palette_entries; ++i) token(out, page0.palette[i] | palette_alpha);
    }
    token(out, screen_state_end);
    return out;
}

void screen_state_write(int32_t file_number) {
    if (error_pending()) return;
    std::vector<uint8_t> bytes = screen_state_bytes();
    file_put_block(file_number, -1, bytes.data(), int64_t(bytes.size()));
}

void screen_state_read_from(const screen_state_source& source) {
    if (error_pending()) return;
    reader in{source};
    uint32_t t = in.value();
    if (t == screen_state_mode) {
        auto mode = static_cast<int32_t>(in.value());
        if (mode != 0 && !error_pending()) screen_mode_set(mode, 0, 0, 0, 0, 1);
        t = in.value();
        if (t == screen_state_text_size) {
            auto columns = static_cast<int32_t>(in.value());
            auto rows = static_cast<int32_t>(in.value());
            screen_width_set(width_target_screen, columns, rows, width_columns_given | width_rows_given);
            t = in.value();
        }
    }
    if (t == screen_state_image) {
        if (!image_screen_make(in)) return;
        t = in.value();
    }
    if (t == screen_state_font) {
        auto font = static_cast<int32_t>(in.value());
        if (!error_pending()) image_font_select(font, 0, 0);
        t = in.value();
    }
    while (t == screen_state_page && !error_pending()) {
        if (!page_group_read(in)) return;
        t = in.value();
    }
    if (t == screen_state_pages) {
        auto active = static_cast<int32_t>(in.value());
        auto visual = static_cast<int32_t>(in.value());
        if (!error_pending()) screen_mode_set(0, 0, active, visual, 0, 12);
        t = in.value();
    }
    if (t == screen_state_palette && screen_page_table[0]) {
        for (int32_t i = 0; i < palette_entries && !error_pending(); ++i) palette_entry_set(i, in.value(), 0, 1);
        in.value();
    }
}

void screen_state_read(int32_t file_number) {
    screen_state_read_from({&file_number, file_source_read});
}
