#include "display/frames.h"

#include <cstring>
#include <mutex>
#include <new>
#include <thread>
#include <vector>

#include "core/alerts.h"
#include "core/errors.h"
#include "core/program_wake.h"
#include "core/shutdown.h"
#include "core/timing.h"
#include "display/display_control.h"
#include "display/frame_builder.h"
#include "display/window.h"
#include "screen/hardware_images.h"
#include "screen/image_pool.h"
#include "screen/palette.h"

software_frame software_frames[software_frame_count];
std::atomic<int64_t> frame_number_ready{0};
std::atomic<int32_t> frame_rebuild_forced{0};
std::atomic<int32_t> frame_tick_count{0};
std::atomic<int32_t> frame_width{0};
std::atomic<int32_t> frame_height{0};
std::atomic<int32_t> frame_done{0};

namespace {

enum class page_kind { none, text, palette, truecolour };

// Where the text cursor shows and how: two equal values give equal cursor pixels.
struct cursor_look {
    int32_t cell;  // index into the page's cells, -1 outside the grid
    bool drawn;    // visible and in its on phase
    int32_t start_line;
    int32_t stop_line;
    bool operator==(const cursor_look&) const = default;
};
constexpr cursor_look no_cursor{-1, false, 0, 0};

// The builder's own state: what the last built frame was made from. Only the building thread
// touches it (the mutex keeps the control and program threads from building at once).
struct frame_builder_state {
    std::mutex building;
    page_kind last_kind = page_kind::none;

    // Palette pages: the pixels and palette entries of the last built frame.
    std::vector<uint8_t> pixel_copy;
    int32_t pixel_copy_width = 0;
    int32_t pixel_copy_height = 0;
    uint32_t palette_copy[256] = {};

    // Text pages: the cells drawn, the grid they were drawn in, and the builder's own copy of the
    // picture, on which only changed cells are redrawn (the slots may be older or in the renderer).
    std::vector<text_cell> cell_copy;
    int32_t text_columns = 0;
    int32_t text_rows = 0;
    int32_t text_font = 0;
    std::vector<uint32_t> text_picture;
    int32_t last_phase = 0;
    cursor_look last_cursor = no_cursor;

    // 32-bit pages: the slot holding the last built picture, compared against directly.
    int32_t last_slot = -1;
    int64_t last_number = 0;

    // program_idle_token when the last build looked at the page.
    uint64_t last_idle_token = 0;
};
frame_builder_state builder;

void yield_once() { std::this_thread::yield(); }

void suspend_answer() {
    int32_t asked = 1;
    if (frame_build_suspend.compare_exchange_strong(asked, 2)) yield_once();
}

void build_end() {
    suspend_answer();
    int32_t one_frame = -1;
    autodisplay_mode.compare_exchange_strong(one_frame, 0);
    frame_done.store(1);
}

bool software_layer_hidden() { return display_layer_position(1) == 0; }

// The page against the builder's copy, as the program may be writing it.
bool bytes_differ(const void* page, const void* copy, size_t bytes) {
    return first_difference(static_cast<const uint8_t*>(page), static_cast<const uint8_t*>(copy), bytes) != bytes;
}

// A free slot first (the last in slot order), else the oldest ready one, but never the newest
// ready one: that is the picture the renderer should show next.
int32_t slot_take() {
    for (int attempt = 0; attempt < 4; ++attempt) {
        for (int32_t i = software_frame_count - 1; i >= 0; --i) {
            if (software_frame_claim(software_frames[i], frame_slot_free, frame_slot_building)) return i;
        }
        const int64_t next = frame_number_next.load();
        int32_t oldest = -1, ready_count = 0;
        for (int32_t i = 0; i < software_frame_count; ++i) {
            const software_frame& f = software_frames[i];
            if (f.state.load() != frame_slot_ready || f.number.load() >= next) continue;
            ++ready_count;
            if (oldest < 0 || f.number.load() < software_frames[oldest].number.load()) oldest = i;
        }
        if (ready_count >= 2 && software_frame_claim(software_frames[oldest], frame_slot_ready, frame_slot_building)) {
            return oldest;
        }
    }
    return -1;
}

// Room for a picture of width x height; false when it cannot be had.
bool slot_size(software_frame& f, int32_t width, int32_t height) {
    const int64_t bytes = int64_t{width} * height * 4;
    if (bytes > f.capacity) {
        delete[] f.pixels;
        f.pixels = new (std::nothrow) uint32_t[static_cast<size_t>(bytes / 4)];
        f.capacity = f.pixels ? bytes : 0;
        if (!f.pixels) return false;
    }
    f.width = width;
    f.height = height;
    return true;
}

// Pixel size of the picture of a page; (0, 0) when it cannot be drawn.
void page_measure(const image_record* page, int32_t* width, int32_t* height) {
    *width = page->width;
    *height = page->height;
    if (!page->is_text) return;
    text_glyph_layout layout;
    if (!text_glyph_layout_of(page->font, &layout)) {
        *width = *height = 0;
        return;
    }
    *width = page->width * layout.advance;
    *height = page->height * layout.glyph_height;
}

// Mode 10 shows its four attributes as grey levels that alternate with bit 9 of the clock;
// entries 4-7 hold the pseudo-colour (0-8) of each.
void mode10_palette_refresh(uint32_t* palette) {
    const uint32_t phase = (clock_ms() & 512) ? 1 : 0;
    for (int i = 0; i < 4; ++i) {
        const uint32_t pseudo = palette[i + 4];
        if (pseudo <= 8) palette[i] = mode10_level_table[phase * 9 + pseudo];
    }
}

bool truecolour_page_build(const image_record* page, software_frame& f, bool forced, bool program_slept) {
    const int32_t w = page->width, h = page->height;
    const size_t bytes = static_cast<size_t>(w) * h * 4;
    const software_frame* previous = nullptr;
    if (builder.last_kind == page_kind::truecolour && builder.last_slot >= 0) {
        const software_frame& p = software_frames[builder.last_slot];
        const int32_t state = p.state.load();
        if ((state == frame_slot_ready || state == frame_slot_shown) && p.number.load() == builder.last_number &&
            p.width == w && p.height == h) {
            previous = &p;
        }
    }
    if (!forced && previous && frame_compare_valid.load()) {
        if (software_layer_hidden() || program_slept) return false;
        if (!bytes_differ(page->pixels, previous->pixels, bytes)) return false;
    }
    if (!slot_size(f, w, h)) return false;
    std::memcpy(f.pixels, page->pixels, bytes);
    return true;
}

bool palette_page_build(image_record* page, software_frame& f, bool forced, bool program_slept) {
    if (page->mode == 10) mode10_palette_refresh(page->palette);
    const int32_t w = page->width, h = page->height;
    const size_t n = static_cast<size_t>(w) * h;
    const int32_t bits = page->bits_per_pixel >= 8 ? 8 : page->bits_per_pixel;
    const size_t colors = size_t{1} << bits;
    const bool same_shape = builder.pixel_copy.size() == n && builder.pixel_copy_width == w &&
                            builder.pixel_copy_height == h;
    size_t same_pixels = 0;  // leading pixels known to equal the copy
    if (!same_shape) {
        builder.pixel_copy.assign(n, 0);
        builder.pixel_copy_width = w;
        builder.pixel_copy_height = h;
    } else if (!forced && frame_compare_valid.load() && builder.last_kind == page_kind::palette) {
        if (software_layer_hidden()) return false;
        if (!program_slept) same_pixels = first_difference(page->pixels, builder.pixel_copy.data(), n);
        const bool unchanged = (program_slept || same_pixels == n) &&
                               !bytes_differ(page->palette, builder.palette_copy, colors * 4);
        if (unchanged) return false;
    }
    if (!slot_size(f, w, h)) return false;
    std::memcpy(builder.palette_copy, page->palette, colors * 4);
    uint32_t table[256];
    palette_expansion_table(builder.palette_copy, bits, table);
    palette_expand(page->pixels, builder.pixel_copy.data(), f.pixels, n, table, static_cast<int32_t>(colors),
                   same_pixels);
    return true;
}

cursor_look text_cursor_of(const image_record* page, int32_t phase) {
    int32_t column = page->cursor_column - 1, row = page->cursor_row - 1;
    if (page->pending_newline == 2 && row != page->height - 1) {
        column = 0;
        ++row;
    }
    if (column < 0 || column >= page->width || row < 0 || row >= page->height) return no_cursor;
    return {row * page->width + column, page->cursor_visible != 0 && phase != 0, page->cursor_start_line,
            page->cursor_stop_line};
}

uint32_t shown_colour(uint32_t entry) { return entry | 0xFF000000u; }

void text_cell_paint(int32_t index, text_cell cell, int32_t phase, const cursor_look& cursor,
                     const text_glyph_layout& layout, int32_t columns, int32_t stride) {
    const int32_t x = (index % columns) * layout.advance, y = (index / columns) * layout.glyph_height;
    uint32_t fore_index = cell.attribute & 15;
    const uint32_t back_index = (cell.attribute >> 4) & 7;
    if ((cell.attribute & 0x80) && phase) fore_index = back_index;
    uint32_t* picture = builder.text_picture.data();
    text_cell_draw(picture, stride, x, y, layout, cell.code, shown_colour(builder.palette_copy[fore_index]),
                   shown_colour(builder.palette_copy[back_index]));
    if (index == cursor.cell && cursor.drawn) {
        text_cursor_draw(picture, stride, x, y, layout,
                         cursor_lines(cursor.start_line, cursor.stop_line, layout.glyph_height),
                         shown_colour(builder.palette_copy[cell.attribute & 15]));
    }
}

bool text_page_build(const image_record* page, software_frame& f, int32_t w, int32_t h, bool forced,
                     bool program_slept) {
    text_glyph_layout layout;
    if (!text_glyph_layout_of(page->font, &layout)) return false;
    const int32_t columns = page->width, rows = page->height;
    const size_t cells = static_cast<size_t>(columns) * rows;
    const text_cell* page_cells = cells_of(page);

    bool valid = frame_compare_valid.load() && builder.last_kind == page_kind::text &&
                 builder.cell_copy.size() == cells && builder.text_columns == columns && builder.text_rows == rows &&
                 builder.text_font == page->font;
    if (builder.cell_copy.size() != cells) builder.cell_copy.assign(cells, text_cell{});
    if (software_layer_hidden() && valid && !forced) return false;
    if (!valid) {
        std::memcpy(builder.palette_copy, page->palette, sizeof builder.palette_copy);
    } else if (bytes_differ(page->palette, builder.palette_copy, sizeof builder.palette_copy)) {
        std::memcpy(builder.palette_copy, page->palette, sizeof builder.palette_copy);
        valid = false;
    }
    const int32_t phase = (frame_tick_count.load() >> 3) & 1;
    const cursor_look cursor = text_cursor_of(page, phase);
    const bool blink_changed = phase != builder.last_phase;
    const bool cursor_changed = !(cursor == builder.last_cursor);
    const bool changed = !valid || forced || blink_changed || cursor_changed ||
                         (!program_slept && bytes_differ(page_cells, builder.cell_copy.data(), cells * sizeof(text_cell)));
    if (!changed) return false;
    if (!slot_size(f, w, h)) return false;
    builder.text_picture.resize(static_cast<size_t>(w) * h);

    text_cell* copy = builder.cell_copy.data();
    for (size_t i = 0; i < cells; ++i) {
        const text_cell cell = page_cells[i];
        const int32_t index = static_cast<int32_t>(i);
        const bool redraw = !valid || cell.code != copy[i].code || cell.attribute != copy[i].attribute ||
                            ((cell.attribute & 0x80) && blink_changed) ||
                            (cursor_changed && (index == cursor.cell || index == builder.last_cursor.cell));
        if (!redraw) continue;
        copy[i] = cell;
        text_cell_paint(index, cell, phase, cursor, layout, columns, w);
    }
    std::memcpy(f.pixels, builder.text_picture.data(), static_cast<size_t>(w) * h * 4);
    builder.text_columns = columns;
    builder.text_rows = rows;
    builder.text_font = page->font;
    builder.last_phase = phase;
    builder.last_cursor = cursor;
    return true;
}

page_kind kind_of(const image_record* page) {
    if (page->is_text) return page_kind::text;
    return page->bytes_per_pixel == 4 ? page_kind::truecolour : page_kind::palette;
}

// Only the program thread writes pages. While it has slept in an idle wait since the last build
// looked at the page, the page's pixels or cells cannot have changed and need no compare.
bool program_slept_since_last_look() {
    const uint64_t token = program_idle_token();
    const bool slept = (token & 1) != 0 && token == builder.last_idle_token;
    builder.last_idle_token = token;
    return slept;
}

// Builds the page into the slot; false when nothing changed or nothing can be shown.
bool page_build(image_record* page, software_frame& f) {
    int32_t w, h;
    page_measure(page, &w, &h);
    frame_width.store(w);
    frame_height.store(h);
    frame_hook_empty();
    if (w <= 0 || h <= 0 || !page->pixels) return false;
    const page_kind kind = kind_of(page);
    if (kind != page_kind::truecolour && !page->palette) return false;
    const bool forced = frame_rebuild_forced.exchange(0) != 0;
    const bool program_slept = program_slept_since_last_look();
    bool built = false;
    try {
        switch (kind) {
            case page_kind::text: built = text_page_build(page, f, w, h, forced, program_slept); break;
            case page_kind::truecolour: built = truecolour_page_build(page, f, forced, program_slept); break;
            default: built = palette_page_build(page, f, forced, program_slept); break;
        }
    } catch (const std::bad_alloc&) {
        // A page too large for the builder's copies is not shown; the copies start afresh.
        builder.last_kind = page_kind::none;
        built = false;
    }
    if (built) {
        builder.last_kind = kind;
    } else if (forced) {
        frame_rebuild_forced.store(1);
    }
    return built;
}

}  // namespace

void software_frames_reset() {
    std::lock_guard<std::mutex> hold(builder.building);
    for (software_frame& f : software_frames) {
        f.state.store(frame_slot_free);
        f.number.store(0);
    }
    frame_number_next.store(1);
    frame_number_ready.store(0);
    autodisplay_mode.store(1);
    frame_build_suspend.store(0);
    frame_rebuild_forced.store(0);
    frame_compare_valid.store(0);
    frame_tick_count.store(0);
    frame_width.store(0);
    frame_height.store(0);
    frame_done.store(0);
    builder.last_kind = page_kind::none;
    builder.pixel_copy.clear();
    builder.pixel_copy_width = builder.pixel_copy_height = 0;
    builder.cell_copy.clear();
    builder.text_columns = builder.text_rows = builder.text_font = 0;
    builder.last_phase = 0;
    builder.last_cursor = no_cursor;
    builder.last_slot = -1;
    builder.last_number = 0;
}

void frame_build_suspend_answer() {
    std::lock_guard<std::mutex> hold(builder.building);
    suspend_answer();
}

void software_frame_build() {
    std::lock_guard<std::mutex> hold(builder.building);
    suspend_answer();
    if (window_hidden.load()) {
        frame_done.store(1);
        return;
    }
    if (frame_build_suspend.load() != 0) {
        build_end();
        return;
    }
    const int32_t slot = slot_take();
    if (slot < 0) {
        // Still ends the call properly, so a requested frame and frame waiters are released.
        alert_text("Software frame buffer: Failed to find available frame");
        build_end();
        return;
    }
    software_frame& f = software_frames[slot];
    const int64_t number = frame_number_next.fetch_add(1);
    f.number.store(number);
    image_record* page = display_image.load();
    const bool built = page && page_build(page, f);
    if (built) {
        frame_compare_valid.store(1);
        builder.last_slot = slot;
        builder.last_number = number;
        f.state.store(frame_slot_ready, std::memory_order_release);
    } else {
        f.state.store(frame_slot_free, std::memory_order_release);
    }
    frame_number_ready.store(number);
    // The main loop sleeps while it has nothing to show.
    if (built || !render_queue_idle(number)) main_loop_wake();
    build_end();
}

void autodisplay_on() {
    if (error_pending()) return;
    autodisplay_mode.store(1);
}

void display_now() {
    if (error_pending() || window_hidden.load()) return;
    if (autodisplay_mode.load() == 0) {
        software_frame_build();
        return;
    }
    autodisplay_mode.store(-1);
    // The control thread builds the frame; a hidden window or the end of the runtime ends the wait.
    while (autodisplay_mode.load() == -1 && !runtime_shutting_down() && !window_hidden.load()) {
        sleep_ms(1);
    }
}

void display_frame_wait() {
    if (error_pending()) return;
    if (autodisplay_mode.load() == 0) {
        software_frame_build();
        return;
    }
    frame_done.store(0);
    while (frame_done.load() == 0 && !runtime_shutting_down()) sleep_ms(1);
}

void frame_hook_empty() {}

namespace {

// The shown slot and the newest ready slot above it, each null when there is none.
struct slot_choice {
    software_frame* shown = nullptr;
    software_frame* newest_ready = nullptr;
};

slot_choice slot_choice_now() {
    slot_choice c;
    for (auto& slot : software_frames)
        if (slot.state.load() == frame_slot_shown) c.shown = &slot;
    int64_t newest = c.shown ? c.shown->number.load() : 0;
    for (auto& slot : software_frames) {
        if (slot.state.load() == frame_slot_ready && slot.number.load() > newest) {
            c.newest_ready = &slot;
            newest = slot.number.load();
        }
    }
    return c;
}

}  // namespace

software_frame* software_frame_next_shown() {
    slot_choice c = slot_choice_now();
    return c.newest_ready ? c.newest_ready : c.shown;
}

software_frame* software_frame_show_newest(bool& newly_shown) {
    slot_choice c = slot_choice_now();
    newly_shown = false;
    // The builder may take back a ready slot at the same moment; then the shown one stays.
    if (!c.newest_ready || !software_frame_claim(*c.newest_ready, frame_slot_ready, frame_slot_shown)) return c.shown;
    newly_shown = true;
    const int64_t number = c.newest_ready->number.load();
    for (auto& slot : software_frames) {
        if (&slot == c.newest_ready || slot.number.load() >= number) continue;
        int32_t state = slot.state.load();
        if (state == frame_slot_ready || state == frame_slot_shown) software_frame_claim(slot, state, frame_slot_free);
    }
    return c.newest_ready;
}
