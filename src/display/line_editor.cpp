#include "display/line_editor.h"

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>

#include "core/error_codes.h"
#include "core/errors.h"
#include "core/program_wake.h"
#include "core/random.h"
#include "core/shutdown.h"
#include "core/strings.h"
#include "core/timing.h"
#include "display/bios_keyboard.h"
#include "display/frames.h"
#include "display/keyboard.h"
#include "display/line_fields.h"
#include "draw/lines.h"
#include "screen/fonts.h"
#include "screen/image_handles.h"
#include "screen/image_pool.h"
#include "screen/modes.h"
#include "screen/pixels.h"
#include "screen/text_output.h"

void* input_target_list[input_targets_capacity + 1];
variable_type_code input_type_list[input_targets_capacity + 1];
uint64_t input_radix_value = 0;

namespace {

constexpr size_t line_length_max = 255;
constexpr int32_t tab_width = 8;
// Bit 9 of the millisecond clock: the blinking bar's phase.
constexpr int64_t blink_bit = 1 << 9;
// Longest stretch a key wait sleeps: a key or shutdown wakes it earlier.
constexpr int64_t key_wait_slice_ms = 250;
constexpr int64_t console_end_retry_ms = 10;

enum : int32_t { key_shutdown = -1, key_bell = 7, key_backspace = 8, key_tab = 9, key_enter = 13 };

bool key_ignored(int32_t c) { return c == 10 || c == 11 || c == 12 || (c >= 28 && c <= 31); }

struct editor {
    int32_t n = 0;
    bool newline = false;
    bool console = false;
    variable_type_code types[input_targets_capacity + 1] = {};
    std::string line, accepted;
    int32_t pending_spaces = 0;
    int32_t edited = 0, snapshot = 0, scratch = 0;  // slots
    int16_t start_column = 1, start_row = 1;
    uint8_t start_pending = 0;
    uint8_t saved_cursor_visible = 0;
    int32_t saved_autodisplay = 1;
    int32_t saved_source = 0;
    bool cursor_shown = false;  // the graphics cursor's pixels are XORed now
};

// ---- targets ----

int32_t fixed_length_of(const void* target, variable_type_code type) {
    if (!type_code_is_string(type)) return -1;
    auto* s = static_cast<const string_descriptor*>(target);
    return s->fixed ? s->length : -1;
}

void target_clear(void* target, variable_type_code type) {
    if (type_code_is_string(type)) {
        auto* s = static_cast<string_descriptor*>(target);
        string_assign_always(s, string_empty);
        return;
    }
    if (!(type & type_code_not_stored)) std::memset(target, 0, type_code_size(type) / 8);
}

void target_store(void* target, variable_type_code type, const field_value& v) {
    switch (v.kind) {
        case field_kind::text:
            string_assign_always(static_cast<string_descriptor*>(target), string_temp_from_bytes(v.text.data(), v.text.size()));
            return;
        case field_kind::integer:
            if (!(type & type_code_not_stored)) std::memcpy(target, &v.bits, type_code_size(type) / 8);
            return;
        case field_kind::floating: {
            if (type & type_code_not_stored) return;
            uint32_t size = type_code_size(type);
            if (size == 32) {
                float f = static_cast<float>(v.number);
                std::memcpy(target, &f, sizeof f);
            } else if (size == 64) {
                double d = static_cast<double>(v.number);
                std::memcpy(target, &d, sizeof d);
            } else {
                std::memcpy(target, &v.number, sizeof v.number);
            }
            return;
        }
        case field_kind::none: return;
    }
}

// ---- the line ----

bool line_check(editor& e) {
    line_split_result split = line_split(e.line, e.n, e.types[1] == line_whole_type);
    if (!split.valid) return false;
    int32_t k = static_cast<int32_t>(split.fields.size());
    void* target = input_target_list[k];
    field_value value;
    if (!field_check(split.fields.back(), e.types[k], fixed_length_of(target, e.types[k]), value)) return false;
    uint32_t mark = string_temp_top();
    target_store(target, e.types[k], value);
    string_temps_release(mark, 0);
    return true;
}

void print_bytes(std::string_view text) {
    uint32_t mark = string_temp_top();
    print_string(string_temp_from_bytes(text.data(), text.size()), 0);
    string_temps_release(mark, 0);
}

// The screen as it was at the start plus the line, wrapping and scrolling included.
void redraw(editor& e) {
    if (e.console) return;
    page_copy(-e.snapshot, -e.scratch);
    dest_slot_select(e.scratch);
    image_record* s = dest_image;
    s->cursor_column = e.start_column;
    s->cursor_row = e.start_row;
    s->pending_newline = e.start_pending;
    for (char c : e.line) print_bytes(std::string(1, c));
    dest_slot_select(e.edited);
    page_copy(-e.scratch, -e.edited);
    dest_image->cursor_column = s->cursor_column;
    dest_image->cursor_row = s->cursor_row;
    dest_image->pending_newline = s->pending_newline;
}

// Checks the line, taking back its last character until it is valid (the empty line always is).
void line_settle(editor& e) {
    bool taken_back = false;
    while (!line_check(e) && !e.line.empty()) {
        e.line.pop_back();
        taken_back = true;
    }
    if (taken_back) redraw(e);
    e.accepted = e.line;
}

// ---- the graphics cursor ----

bool cursor_blinks(const image_record* r) { return !font_is_builtin(r->font) || r->bytes_per_pixel == 4 || r->mode == 256; }

void cursor_xor(editor& e) {
    image_record* r = dest_image;
    int32_t height = font_glyph_height(r->font), advance = std::max(font_advance_width(r->font), 1);
    int64_t x0 = int64_t{advance} * (r->cursor_column - 1), y0 = int64_t{height} * (r->cursor_row - 1);
    int64_t width = cursor_blinks(r) ? 1 : advance;
    uint8_t blend_off = r->blend_off;
    r->blend_off = 1;
    for (int64_t y = std::max<int64_t>(y0, 0); y < std::min<int64_t>(y0 + height, r->height); ++y)
        for (int64_t x = std::max<int64_t>(x0, 0); x < std::min<int64_t>(x0 + width, r->width); ++x) {
            auto px = static_cast<int32_t>(x), py = static_cast<int32_t>(y);
            dest_pixel_write(px, py, source_pixel_read(px, py) ^ static_cast<uint32_t>(r->fore_color));
        }
    r->blend_off = blend_off;
    e.cursor_shown = !e.cursor_shown;
}

void cursor_show(editor& e, bool shown) {
    if (e.cursor_shown != shown) cursor_xor(e);
}

// ---- keys ----

// One character of standard input (10 read as 13); at the end of the input it tries again later.
int32_t console_key() {
    // The console page flushes only at a line end: what was printed before the line, the prompt
    // above all, is shown before the wait.
    std::fflush(stdout);
    for (;;) {
        if (runtime_shutting_down()) return key_shutdown;
        pollfd input{STDIN_FILENO, POLLIN, 0};
        if (poll(&input, 1, key_wait_slice_ms) <= 0) continue;
        unsigned char c;
        if (read(STDIN_FILENO, &c, 1) == 1) return c == 10 ? int32_t{key_enter} : int32_t{c};
        sleep_ms(console_end_retry_ms);
    }
}

// Sleeps until a key is stored, the runtime shuts down or the time passes.
void key_wait(int64_t ms) {
    uint32_t ticket = program_wake_ticket();
    if (!bios_ring_empty() || runtime_shutting_down()) return;
    program_wake_wait(ticket, ms);
}

// The next key of one character; extended keys are passed over. The graphics cursor shows meanwhile.
int32_t bios_key(editor& e) {
    bool graphics = !dest_image->is_text, blinking = graphics && cursor_blinks(dest_image);
    for (;;) {
        int64_t now = clock_ms(), wait = key_wait_slice_ms;
        if (graphics) cursor_show(e, !blinking || (now & blink_bit) == 0);
        if (blinking) wait = std::min(wait, blink_bit - (now & (blink_bit - 1)));
        key_wait(wait);
        uint32_t mark = string_temp_top();
        string_descriptor* key = bios_key_buffer_read();
        int32_t c = key->length == 1 ? key->text[0] : -2;
        string_temps_release(mark, 0);
        if (runtime_shutting_down()) return key_shutdown;
        if (c >= 0) {
            cursor_show(e, false);
            return c;
        }
    }
}

int32_t key_next(editor& e) {
    if (e.pending_spaces > 0) {
        --e.pending_spaces;
        return ' ';
    }
    return e.console ? console_key() : bios_key(e);
}

void character_type(editor& e, char c) {
    if (e.line.size() >= line_length_max) return;
    e.line += c;
    if (!e.console) print_bytes(std::string(1, c));
    line_settle(e);
}

// ---- start and end ----

bool editor_start(editor& e, int32_t n, uint8_t newline) {
    e.n = n;
    e.newline = newline != 0;
    e.console = dest_image->is_console != 0;
    e.saved_autodisplay = autodisplay_mode.exchange(1);
    e.saved_source = source_image_index;
    e.edited = dest_image_index;
    source_slot_select(e.edited);
    // The console page is never drawn on, so it needs no copies to redraw from.
    if (!e.console) {
        int32_t snapshot = image_handle_copy(-e.edited, 0, 0);
        if (snapshot >= -1) return error_raise(error_line_edit_snapshot), false;
        int32_t scratch = image_handle_copy(-e.edited, 0, 0);
        if (scratch >= -1) return error_raise(error_line_edit_scratch), false;
        e.snapshot = -snapshot;
        e.scratch = -scratch;
    }
    image_record* r = dest_image;
    e.start_column = r->cursor_column;
    e.start_row = r->cursor_row;
    e.start_pending = r->pending_newline;
    e.saved_cursor_visible = r->cursor_visible;
    r->cursor_visible = 1;
    for (int32_t k = 1; k <= n; ++k) e.types[k] = input_type_list[k];
    if (line_whole_mode(e.types[1])) e.types[1] = line_whole_type;
    for (int32_t k = 1; k <= n; ++k) {
        uint32_t mark = string_temp_top();
        target_clear(input_target_list[k], e.types[k]);
        string_temps_release(mark, 0);
    }
    line_settle(e);
    return true;
}

void editor_end(editor& e) {
    if (e.newline && !e.console) print_string(string_empty, 1);
    dest_image->cursor_visible = e.saved_cursor_visible;
    if (!e.console) {
        image_handle_free(-e.snapshot, 1);
        image_handle_free(-e.scratch, 1);
    }
    // A program that shows frames only on request still sees its finished line.
    if (e.saved_autodisplay == 0) {
        display_now();
        autodisplay_mode.store(0);
    }
    source_slot_select(e.saved_source);
}

}  // namespace

int32_t input_radix_literal_parse(const string_descriptor* text) {
    std::string_view view(reinterpret_cast<const char*>(text->text), static_cast<size_t>(std::max(text->length, 0)));
    return radix_literal_parse(view, input_radix_value);
}

void input_line_edit(int32_t n, uint8_t newline) {
    if (error_pending()) return;
    if (n < 1 || n > input_targets_capacity) return error_raise(error_illegal_function_call);
    static editor e;  // one line at a time, on the program thread; too large for its stack
    e = editor{};
    if (!editor_start(e, n, newline)) return;
    for (;;) {
        int32_t c = key_next(e);
        switch (c) {
            case key_shutdown: return;
            case key_enter: return editor_end(e);
            case key_backspace:
                if (e.line.empty()) break;
                e.line.pop_back();
                redraw(e);
                line_settle(e);
                break;
            case key_tab: e.pending_spaces = tab_width - static_cast<int32_t>(e.accepted.size() & (tab_width - 1)); break;
            case key_bell:
                print_bytes(std::string(1, char(key_bell)));
                line_settle(e);
                break;
            default:
                if (!key_ignored(c)) character_type(e, static_cast<char>(c));
                break;
        }
    }
}

namespace {

int16_t seed_prompt(const char* prompt) {
    print_bytes(prompt);
    int16_t answer = 0;
    input_target_list[1] = &answer;
    input_type_list[1] = 16;
    input_line_edit(1, 1);
    return answer;
}

}  // namespace

void line_editor_init() { random_seed_prompt_set(seed_prompt); }
