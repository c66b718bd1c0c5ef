#include "screen/modes.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "core/errors.h"
#include "core/memory.h"
#include "core/shutdown.h"
#include "core/timing.h"
#include "screen/colors.h"
#include "screen/frame_handover.h"
#include "screen/image_pool.h"
#include "screen/key_line.h"
#include "screen/text_view.h"

std::vector<int32_t> screen_page_table(1, 0);
int32_t page0_is_user_image = 0;
int32_t pending_text_columns = -1;
int32_t pending_text_rows = -1;
int32_t pending_text_font = -1;
int32_t row50_switch_armed = 0;
int32_t frame_suspend_enabled = 0;
int32_t last_active_page = 0;
text_grid previous_text_grid = {0, 0};

namespace {

struct suspend_state {
    int32_t depth = 0;   // open brackets
    bool taken = false;  // the outermost bracket asked the builder
};
suspend_state suspend;

image_record* slot_record(int32_t slot) { return &image_pool[slot]; }

int32_t page0_slot() { return screen_page_table.empty() ? 0 : screen_page_table[0]; }

void dest_and_source_select(int32_t slot) {
    dest_slot_select(slot);
    source_slot_select(slot);
}

bool text_mode(int32_t mode) { return mode == 0 || mode == 1 || mode == 2 || (mode >= 7 && mode <= 13); }

// Frees what a page owns and gives its slot back.
void page_free(int32_t slot) {
    image_storage_free(slot_record(slot));
    image_slot_release(slot);
}

void pages_free() {
    for (int32_t page = 1; page < screen_page_count(); ++page)
        if (int32_t slot = screen_page_table[page]) page_free(slot);
    if (int32_t slot = page0_slot()) {
        if (page0_is_user_image)
            slot_record(slot)->image_flags &= ~uint32_t{image_is_screen_page};
        else
            page_free(slot);
    }
    page0_is_user_image = 0;
    screen_page_table.assign(1, 0);
}

struct text_size {
    int32_t columns, rows, font;
};

// Columns, rows and font of a text-mode rebuild: the width statement's request first, else the
// grid page 0 had.
text_size text_size_decide(const text_grid& was) {
    text_size s;
    if (pending_text_columns != -1 && pending_text_rows != -1 && pending_text_font != -1) {
        s = {pending_text_columns, pending_text_rows, pending_text_font};
        pending_text_columns = pending_text_rows = pending_text_font = -1;
    } else if (pending_text_columns != -1) {
        s = {pending_text_columns, 25, 16};
        pending_text_columns = -1;
        if (was.rows == 43) s.rows = 43, s.font = 14;
        if (was.rows == 50) s.rows = 50, s.font = 8;
        if (s.columns == 40) s.font += 1;
    } else if (pending_text_rows != -1) {
        s = {80, pending_text_rows, 16};
        pending_text_rows = -1;
        if (s.rows == 43) s.font = 14;
        if (s.rows == 50) s.font = 8;
        if (was.columns == 40) s.columns = 40, s.font += 1;
    } else if (was.rows == 50 || was.rows == 43) {
        if (was.columns == 80) s = {80, was.rows, 8};
        else if (was.columns == 40) s = {40, was.rows, 9};
        else s = {80, 25, 16};
    } else if (was.columns == 40 && was.rows == 25) {
        s = {40, 25, 17};
    } else {
        s = {80, 25, 16};
    }
    if (s.columns == 40 && s.rows == 25) s.font = 17;
    if (s.columns == 80 && s.rows == 25) s.font = 16;
    return s;
}

// The page cannot be had: without a page 0 there is no screen to go on with.
void page0_missing() { error_raise(error_critical_out_of_memory); }

// A grid the image record can hold.
bool text_size_valid(const text_size& s) { return s.columns >= 1 && s.columns <= 65535 && s.rows >= 1 && s.rows <= 65535; }

void text_pages_make(const text_size& s) {
    int64_t size = s.columns == 40 && s.rows == 25   ? 2048
                   : s.columns == 80 && s.rows == 25 ? 4096
                                                     : int64_t{s.columns} * s.rows * 2;
    int64_t in_memory = size > 0 ? std::min<int64_t>(8, text_pages_bytes / size) : 0;
    if (screen_page_count() < 8) screen_page_table.resize(8, 0);
    for (int32_t page = 0; page < 8; ++page) {
        int32_t slot = page < in_memory
                           ? image_new_over_memory(dos_memory + text_pages_address + page * size, s.columns, s.rows, 0)
                           : image_new(s.columns, s.rows, 0);
        if (!slot) {
            if (page == 0) return page0_missing();
            continue;  // made on demand later
        }
        image_record* r = slot_record(slot);
        image_font_set(s.font, r);
        r->image_flags |= image_is_screen_page;
        screen_page_table[page] = slot;
    }
    auto* cells = reinterpret_cast<text_cell*>(dos_memory + text_pages_address);
    std::fill_n(cells, text_pages_bytes / sizeof(text_cell), text_cell{0x20, 0x07});
}

struct graphics_mode {
    int32_t mode, width, height;
    text_grid small_font_grid;  // previous grid that selects font 8 instead of the mode's own
};
constexpr graphics_mode graphics_modes[] = {
    {1, 320, 200, {0, 0}},    {2, 640, 200, {0, 0}},    {7, 320, 200, {0, 0}},  {8, 640, 200, {0, 0}},
    {9, 640, 350, {80, 43}},  {10, 640, 350, {80, 43}}, {11, 640, 480, {80, 60}}, {12, 640, 480, {80, 60}},
};

void graphics_page_make(int32_t mode) {
    int32_t slot;
    if (mode == 13) {
        slot = image_new_over_memory(dos_memory + mode13_page_address, 320, 200, 13);
        std::memset(dos_memory + mode13_page_address, 0, mode13_page_bytes);
    } else {
        const graphics_mode& m = *std::find_if(std::begin(graphics_modes), std::end(graphics_modes),
                                               [&](const graphics_mode& g) { return g.mode == mode; });
        slot = image_new(m.width, m.height, mode);
        bool small = previous_text_grid.columns == m.small_font_grid.columns &&
                     previous_text_grid.rows == m.small_font_grid.rows;
        if (slot && small) image_font_set(8, slot_record(slot));
    }
    if (!slot) return page0_missing();
    slot_record(slot)->image_flags |= image_is_screen_page;
    screen_page_table[0] = slot;
}

// Replaces every page by a new page 0 of the mode, or by the image in user_slot.
void screen_rebuild(int32_t mode, int32_t user_slot) {
    int32_t old = page0_slot();
    text_grid was = old ? image_text_grid(slot_record(old)) : text_grid{0, 0};
    text_size text{};
    if (!user_slot && mode == 0) {
        text = text_size_decide(was);
        if (!text_size_valid(text)) return error_raise(error_illegal_function_call);  // the old screen stays
    }
    previous_text_grid = was;
    pages_free();
    if (user_slot) {
        slot_record(user_slot)->image_flags |= image_is_screen_page;
        screen_page_table[0] = user_slot;
        page0_is_user_image = 1;
    } else if (mode == 0) {
        text_pages_make(text);
    } else {
        graphics_page_make(mode);
    }
    int32_t page0 = page0_slot();
    if (!page0) return;
    dest_and_source_select(page0);
    display_slot_select(page0);
    dest_image->turtle_angle = 0.0;
    dest_image->turtle_scale = 1.0;
    last_active_page = 0;
    key_line_force = 1;
    key_line_draw();
}

// The active page's text view and colours start afresh; a graphics page takes over the view,
// window and cursors of the page that was active before.
void active_page_switch(int32_t page) {
    int32_t slot = screen_page_get(page);
    if (!slot) return;
    if (slot != dest_image_index || slot != source_image_index) {
        dest_and_source_select(slot);
        dest_colors_default();
        image_record* r = dest_image;
        int32_t rows = image_text_grid(r).rows;
        r->view_top = 1;
        if (r->cursor_row > rows) r->cursor_row = 1;
        r->view_bottom = static_cast<int16_t>(std::max(rows - 1, 1));
    }
    if (page != last_active_page) {
        // A page the width statement dropped since has nothing to hand on.
        int32_t from = last_active_page < screen_page_count() ? screen_page_table[last_active_page] : 0;
        if (!dest_image->is_text && from && from != slot) image_graphics_state_copy(dest_image, slot_record(from));
        last_active_page = page;
    }
}

bool suspend_wanted() { return frame_suspend_enabled != 0 && autodisplay_mode.load(std::memory_order_relaxed) != 0; }

// A page number or an image handle for page_copy: 0 with error 5 when it names nothing.
int32_t copy_operand_slot(int32_t h) {
    if (h >= 0) return screen_page_get(h);
    int32_t slot = image_handle_slot(h);
    if (!slot) error_raise(error_illegal_function_call);
    return slot;
}

}  // namespace

void frame_suspend_begin() {
    if (suspend.depth++ > 0) return;
    suspend.taken = suspend_wanted();
    if (!suspend.taken) return;
    int32_t idle = 0;
    frame_build_suspend.compare_exchange_strong(idle, 1);
    sleep_waker_signal(frame_builder_waker);  // the builder answers between its turns
    // Once the runtime shuts down the control thread builds no more frames: the pages are free to change.
    while (frame_build_suspend.load() != 2 && !shutdown_flag.load(std::memory_order_relaxed))
        std::this_thread::yield();
}

void frame_suspend_end() {
    if (suspend.depth == 0 || --suspend.depth > 0) return;
    if (suspend.taken) frame_build_suspend.store(0);
    suspend.taken = false;
}

int32_t screen_page_get(int32_t n) {
    if (n > screen_page_max) {
        error_raise(error_illegal_function_call);
        return 0;
    }
    if (n >= screen_page_count()) screen_page_table.resize(static_cast<size_t>(n) + 1, 0);
    if (screen_page_table[n]) return screen_page_table[n];
    int32_t page0 = page0_slot();
    if (!page0) {
        error_raise(error_illegal_function_call);
        return 0;
    }
    const image_record* first = slot_record(page0);
    int32_t slot = image_new(first->width, first->height, first->mode);
    if (!slot) {
        error_raise(error_out_of_memory);
        return 0;
    }
    image_record* r = slot_record(slot);
    if (r->mode != 32) {
        // One palette for all pages of a screen.
        std::free(r->palette);
        r->image_flags &= ~uint32_t{image_owns_palette};
        r->palette = first->palette;
    }
    r->image_flags |= image_is_screen_page;
    image_font_set(first->font, r);
    screen_page_table[n] = slot;
    return slot;
}

void screen_mode_set(int32_t mode, int32_t, int32_t active_page, int32_t visual_page, int32_t, int32_t flags) {
    if (error_pending()) return;
    if (row50_switch_armed && !(flags == 1 && mode == 0)) row50_switch_armed = 0;
    bool active_given = flags & 4;
    bool visual_given = flags & 8;
    bool rebuild = false;
    int32_t user_slot = 0;
    if (flags & 1) {
        int32_t page0 = page0_slot();
        if (mode < 0) {
            int32_t slot = image_handle_slot(mode);
            if (!slot) {
                error_raise(error_invalid_handle);
                return;
            }
            if (slot != page0) {
                // Another page of this screen would be freed by the rebuild it asks for.
                if (slot_record(slot)->image_flags & image_is_screen_page) {
                    error_raise(error_illegal_function_call);
                    return;
                }
                rebuild = true;
                user_slot = slot;
            }
        } else if (!text_mode(mode)) {
            error_raise(error_illegal_function_call);
            return;
        } else {
            rebuild = !page0 || slot_record(page0)->mode != mode || pending_text_columns != -1 ||
                      pending_text_rows != -1 || pending_text_font != -1;
        }
    }
    bool due = rebuild;
    if (active_given) {
        if (active_page < 0) {
            error_raise(error_illegal_function_call);
            return;
        }
        if (!visual_given) {
            visual_given = true;
            visual_page = active_page;
        }
        if (!rebuild) {
            int32_t slot = screen_page_get(active_page);
            if (!slot) return;
            due |= slot != dest_image_index || slot != source_image_index;
        }
    }
    if (visual_given) {
        if (visual_page < 0) {
            error_raise(error_illegal_function_call);
            return;
        }
        if (!rebuild) {
            int32_t slot = screen_page_get(visual_page);
            if (!slot) return;
            due |= slot != display_image_index.load(std::memory_order_relaxed);
        }
    }
    if (!due) return;
    if (rebuild) frame_suspend_begin();
    frame_compare_valid.store(0);
    if (rebuild) screen_rebuild(mode, user_slot);
    if (active_given && !error_pending()) active_page_switch(active_page);
    if (visual_given && !error_pending()) {
        if (int32_t slot = screen_page_get(visual_page);
            slot && slot != display_image_index.load(std::memory_order_relaxed))
            display_slot_select(slot);
    }
    if (rebuild) frame_suspend_end();
}

void page_copy(int32_t from, int32_t to) {
    if (error_pending()) return;
    int32_t a = copy_operand_slot(from);
    if (!a) return;
    int32_t b = copy_operand_slot(to);
    if (!b || a == b) return;
    const image_record* src = slot_record(a);
    image_record* dst = slot_record(b);
    bool fits = src->bytes_per_pixel == dst->bytes_per_pixel && src->width == dst->width &&
                src->height == dst->height && (src->bytes_per_pixel != 1 || dst->color_mask >= src->color_mask);
    if (!fits) {
        error_raise(error_illegal_function_call);
        return;
    }
    std::memmove(dst->pixels, src->pixels, image_pixel_bytes(src));
}

void screen_pages_reset() {
    screen_page_table.assign(1, 0);
    page0_is_user_image = 0;
    pending_text_columns = pending_text_rows = pending_text_font = -1;
    row50_switch_armed = 0;
    last_active_page = 0;
    previous_text_grid = {0, 0};
    suspend = {};
}
