// The fan-out of one key press or release: held keys, system keys, traps and soft keys, then the
// key-hit ring, the BIOS keyboard buffer and the scan-code queue. Also the entry points, the
// queries, start-up and reset. Not here: the pieces it fans out to (held_keys, bios_keyboard,
// key_queues, key_trap_match), the window system's keys (key_events) and the lock keys (lock_keys).
#include "display/keyboard.h"

#include "core/errors.h"
#include "core/shutdown.h"
#include "core/statements.h"
#include "core/strings.h"
#include "core/traps.h"
#include "display/bios_keyboard.h"
#include "display/display_control.h"
#include "display/key_table.h"
#include "display/keyboard_internal.h"

keyboard_state kb;

namespace {

const auto& table = key_translation_table;
keyboard_data& data = kb.data;

key_modifiers held_modifiers() { return held_keys_modifiers(data.held_key_list); }
bool held(int32_t code) { return held_keys_has(data.held_key_list, code); }
void flags_update_locked() { bios_flags_write(data.held_key_list); }

void scan_byte_push(int32_t byte) { scan_bytes_push(data.scancode_queue, static_cast<uint8_t>(byte)); }

// Acts on a system key; true when the key was one (it then goes no further).
bool system_key_act(int32_t code) {
    switch (system_key_of(code, held_modifiers(), pause_active())) {
        case system_key_action::none: return false;
        case system_key_action::stop_or_close: break_request(); return true;
        case system_key_action::pause: pause_request(); return true;
        case system_key_action::pause_end: pause_end(); return true;
        case system_key_action::fullscreen_step: fullscreen_step(); return true;
    }
    return false;
}

// Key traps and soft keys; true when one took the key (its release is then dropped too).
bool key_taken_by_trap(int32_t code, int32_t hit) {
    if (data.soft_key_typing) return false;
    if (int32_t t = key_trap_of(data.held_key_list, code, hit); t >= 0) {
        key_trap_fire(t);
        swallowed_keys_add(data.swallowed_key_list, code);
        return true;
    }
    if (const string_descriptor* text = soft_key_text_of(code, hit)) {
        swallowed_keys_add(data.swallowed_key_list, code);
        data.soft_key_typing = true;
        for (int32_t i = 0; i < text->length; ++i) {
            key_press_locked(text->text[i], false);
            key_release_locked(text->text[i]);
        }
        data.soft_key_typing = false;
        return true;
    }
    return false;
}

// Modifier and lock keys: their make code, the BIOS flags, the Scroll Lock toggle.
void modifier_press(int32_t code, bool scroll_was_held) {
    int32_t make = key_modifier_make(code);
    if (make == 0) return;
    scan_byte_push(make);
    if (code == key_scroll_lock && !scroll_was_held && !held_modifiers().ctrl)
        held_keys_toggle(data.held_key_list, key_scroll_lock_on);
    flags_update_locked();
}

// The BIOS key and scan code of a character (0-255).
void character_post(int32_t c, bool from_unicode) {
    const auto& row = table[c];
    int32_t make = row[key_column_make];
    if (make == 0) {
        bios_key_store_locked(static_cast<uint8_t>(c), 0);
        return;
    }
    scan_byte_push(make);
    int32_t state = bios_state_of(held_modifiers(), false);
    // AltGr (Left Ctrl with Right Alt) makes a character of its own, not a Ctrl or Alt key.
    if (from_unicode && held(key_left_ctrl) && held(key_right_alt) && !held(key_left_alt) && !held(key_right_ctrl))
        state = 0;
    bios_value_store_locked(row[key_column_normal + state], make);
}

// The BIOS key and scan code of a two-byte or keypad code; the grey Insert key toggles Insert mode.
void two_byte_post(int32_t code, bool insert_was_held) {
    int32_t row_index = key_table_row(code);
    if (row_index < 0) return;
    const auto& row = table[row_index];
    if (row[key_column_normal] == 0) {
        bios_key_store_locked(0, static_cast<uint8_t>(code >> 8));
        return;
    }
    scan_byte_push(row[key_column_make]);
    key_modifiers mods = held_modifiers();
    if (code == key_insert && !insert_was_held && !mods.alt && !mods.shift && !mods.ctrl) {
        held_keys_toggle(data.held_key_list, key_insert_mode_on);
        flags_update_locked();
    }
    bios_value_store_locked(row[key_column_normal + bios_state_of(mods, key_is_keypad_digit(code))],
                            row[key_column_make]);
}

}  // namespace

system_key_action system_key_of(int32_t code, key_modifiers mods, bool paused) {
    if (code == key_break || ((code == key_scroll_lock || code == key_ctrl_stop) && mods.ctrl))
        return system_key_action::stop_or_close;
    if (code == key_pause || (code == key_num_lock && mods.ctrl)) return system_key_action::pause;
    if (paused) return system_key_action::pause_end;
    if (code == 13 && mods.alt) return system_key_action::fullscreen_step;
    return system_key_action::none;
}

void key_press_locked(int32_t code, bool from_unicode) {
    if (code == 0) code = key_code_zero;
    bool insert_was_held = held(key_insert);
    bool scroll_was_held = held(key_scroll_lock);
    held_keys_add(data.held_key_list, code);
    sleep_interrupt();
    if (system_key_act(code)) return;

    int32_t hit = key_hit_code(code);
    if (key_taken_by_trap(code, hit)) return;
    data.key_hit_ring.push(hit);

    if (code == key_code_zero) code = 0;
    if (code >= 0 && code < 256) character_post(code, from_unicode);
    else if (code > 0xFFFF && !key_is_keypad(code)) modifier_press(code, scroll_was_held);
    else two_byte_post(code, insert_was_held);
}

void key_release_locked(int32_t code) {
    if (code == 0) code = key_code_zero;
    if (code >= 0 && code < 256) {
        code = held_keys_release_code(data.held_key_list, code);
        held_keys_remove_character_key(data.held_key_list, code);
    } else {
        held_keys_remove(data.held_key_list, code);
    }
    if (swallowed_keys_take(data.swallowed_key_list, code)) return;
    data.key_hit_ring.push(-key_hit_code(code));

    if (code >= 0 && code < 256) {
        if (table[code][key_column_normal] != 0) scan_byte_push(table[code][key_column_make] + 128);
        return;
    }
    if (code > 0xFFFF && !key_is_keypad(code)) {
        if (int32_t make = key_modifier_make(code)) {
            scan_byte_push(make + 128);
            flags_update_locked();
        }
        return;
    }
    int32_t row_index = key_table_row(code);
    if (row_index < 0) return;
    if (table[row_index][key_column_normal] != 0) scan_byte_push(table[row_index][key_column_make] + 128);
    if (code == key_insert) flags_update_locked();
}

void key_press_tagged_locked(int32_t code) {
    data.held_key_list.held_key_tag = code - 100000;
    key_press_locked(code, false);
}

void key_release_tagged_locked(int32_t code) {
    data.held_key_list.held_key_tag = code - 100000;
    key_release_locked(code);
}

// --- Entry points ---------------------------------------------------------------------------------

void key_down(int32_t code) {
    std::lock_guard guard(kb.lock);
    key_press_locked(code, false);
}

void key_up(int32_t code) {
    std::lock_guard guard(kb.lock);
    key_release_locked(code);
}

void key_down_char(int32_t c) { key_down(c); }
void key_up_char(int32_t c) { key_up(c); }
void key_down_code(int32_t code) { key_down(code); }
void key_up_code(int32_t code) { key_up(code); }

// --- Queries --------------------------------------------------------------------------------------

int32_t key_is_down(int32_t code) {
    std::lock_guard guard(kb.lock);
    return held(code) ? 1 : 0;
}

int32_t key_down_query(int32_t code) {
    if (code < 1) {
        error_raise(error_illegal_function_call);
        return 0;
    }
    return key_is_down(code) ? -1 : 0;
}

int32_t key_hit_pop() {
    std::lock_guard guard(kb.lock);
    return data.key_hit_ring.empty() ? 0 : data.key_hit_ring.pop();
}

// --- Held keys, flags, scan codes -------------------------------------------------------------------

void held_key_add(int32_t code) {
    std::lock_guard guard(kb.lock);
    held_keys_add(data.held_key_list, code);
}

void held_key_remove(int32_t code) {
    std::lock_guard guard(kb.lock);
    held_keys_remove(data.held_key_list, code);
}

void held_key_release_by_tag(int32_t tag) {
    std::lock_guard guard(kb.lock);
    const held_keys& keys = data.held_key_list;
    for (size_t i = 0; i < keys.tags.size(); ++i) {
        if (keys.tags[i] == tag) {
            key_release_locked(keys.codes[i]);
            return;
        }
    }
}

void bios_key_flags_update() {
    std::lock_guard guard(kb.lock);
    flags_update_locked();
}

void scancode_queue_push_make(int32_t make) {
    std::lock_guard guard(kb.lock);
    scan_byte_push(make);
}

void scancode_queue_push_break(int32_t make) {
    std::lock_guard guard(kb.lock);
    scan_byte_push(make + 128);
}

int32_t scancode_queue_count() {
    std::lock_guard guard(kb.lock);
    return data.scancode_queue.bytes.count;
}

uint8_t scancode_queue_take() {
    std::lock_guard guard(kb.lock);
    return scan_bytes_take(data.scancode_queue);
}

// --- Start-up and reset -----------------------------------------------------------------------------

void scancode_queue_init() {
    std::lock_guard guard(kb.lock);
    data.scancode_queue = scan_byte_queue{};
}

void key_rings_reset() {
    std::lock_guard guard(kb.lock);
    data.key_hit_ring.clear();
    bios_ring_clear();
}

void keyboard_reset() {
    std::lock_guard guard(kb.lock);
    data = keyboard_data{};
    bios_area_clear();
}
