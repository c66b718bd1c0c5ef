#include "screen/printer.h"

#include <atomic>
#include <cstring>
#include <mutex>

#include "core/error_codes.h"
#include "core/errors.h"
#include "core/shutdown.h"
#include "core/strings.h"
#include "core/timing.h"
#include "screen/colors.h"
#include "screen/fonts.h"
#include "screen/image_handles.h"
#include "screen/image_pool.h"
#include "screen/print_positioning.h"
#include "screen/text_output.h"
#include "screen/text_view.h"

namespace {

constexpr uint8_t printer_ink = 0;
constexpr uint8_t printer_paper = 15;

struct printer_state {
    // Held by the program thread while it prints and by the control thread while it flushes.
    std::mutex page_lock;
    std::atomic<int32_t> page_handle{0};
    std::atomic<int32_t> active{0};
    std::atomic<int32_t> dirty{0};
    std::atomic<int64_t> last_use_ms{0};  // clock_ms of the last printer output
    int32_t column = 1;                   // program thread only
    int32_t width = 80;
};
printer_state printer;

// Makes the page and selects it as destination. Called with the page lock held.
bool page_make_and_select() {
    int32_t handle = image_handle_new(printer_page_width, printer_page_height, printer_page_mode, 1);
    if (handle == -1) error_raise(error_out_of_memory);
    if (handle >= -1) return false;
    dest_image_select(handle);
    dest_clear(0, printer_paper, 2);
    image_font_select(printer_page_font, 0, 0);
    dest_colors_set(printer_ink, printer_paper, 0, 3);
    text_view_set(1, printer_page_rows, 1);
    printer.page_handle.store(handle);
    return true;
}

// The flush's clear, on the page's own record: white, cursor home. The program's selection of
// destination and source stays as it is.
void page_clear_direct() {
    int32_t slot = image_handle_slot(printer.page_handle.load());
    if (!slot) return;
    image_record& r = image_pool[slot];
    std::memset(r.pixels, printer_paper, image_pixel_bytes(&r));
    r.cursor_column = 1;
    r.cursor_row = r.view_top;
    r.pending_newline = 0;
}

int32_t page_handle_for_positioning() { return printer_page_handle_get(); }

// The page's image is being freed (a program reset, or a free by its handle): the next output makes
// a new page rather than drawing on whatever image takes the slot. A flush running on the page ends
// first. Never called for the page while printer output runs, which frees no image.
void page_forget(int32_t slot) {
    if (-slot != printer.page_handle.load()) return;
    std::lock_guard guard(printer.page_lock);
    printer.page_handle.store(0);
    printer.dirty.store(0);
}

}  // namespace

void printer_print_string(string_descriptor* text, int32_t newline) {
    if (error_pending()) return;
    std::lock_guard guard(printer.page_lock);
    printer.active.store(1);
    int32_t remembered = dest_image_index;
    bool selected = printer.page_handle.load() ? (dest_image_select(printer.page_handle.load()), !error_pending())
                                               : page_make_and_select();
    if (selected) {
        printer.dirty.store(1);
        printer.last_use_ms.store(clock_ms());
        print_string(text, newline);
    }
    dest_slot_select(remembered);
    printer.active.store(0);
}

int32_t printer_column_get(int32_t n) {
    if (error_pending()) return 0;
    if (n < 0 || n > 3) {
        error_raise(error_illegal_function_call);
        return 0;
    }
    return printer.column;
}

void printer_page_send(int32_t) {}

int32_t printer_page_handle_get() {
    if (!printer.page_handle.load()) printer_print_string(string_empty, 0);
    return printer.page_handle.load();
}

void printer_width_set(int32_t width) { printer.width = width; }

bool printer_output_running() { return printer.active.load(std::memory_order_relaxed) != 0; }
void printer_page_mark_dirty() { printer.dirty.store(1); }

bool printer_column_advance() {
    if (++printer.column <= printer.width) return false;
    printer.column = 1;
    return true;
}
void printer_column_home() { printer.column = 1; }
void printer_column_right() {
    if (printer.column < printer.width) ++printer.column;
}
void printer_column_left() {
    if (printer.column > 1) --printer.column;
}

void printer_page_hand_on() {
    printer_page_send(printer.page_handle.load());
    printer.dirty.store(0);
}

void printer_page_idle_flush() { printer_page_flush_if_idle(clock_ms()); }

void printer_page_flush_if_idle(int64_t now_ms) {
    std::unique_lock guard(printer.page_lock, std::try_to_lock);
    if (!guard.owns_lock() || !printer.dirty.load()) return;
    if (now_ms - printer.last_use_ms.load() < printer_idle_flush_ms) return;
    printer_page_hand_on();
    page_clear_direct();
}

void printer_page_final_send() {
    if (printer.dirty.load()) printer_page_send(printer.page_handle.load());
}

void printer_init() {
    runtime_shutdown_seams.printer_page_idle_flush = printer_page_idle_flush;
    runtime_shutdown_seams.printer_page_final_send = printer_page_final_send;
    print_position_printer_seam_set(page_handle_for_positioning);
    image_free_seam_set(page_forget);
}

void printer_reset() {
    printer.page_handle.store(0);
    printer.active.store(0);
    printer.dirty.store(0);
    printer.last_use_ms.store(0);
    printer.column = 1;
    printer.width = 80;
}
