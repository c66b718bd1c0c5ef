// Which key trap or soft key takes a key, and the swallowed keys whose release is dropped. Firing a
// trap and typing a soft key's text stay with the press (keyboard.cpp); the trap table is the
// core's (core/traps.h), read here only.
#include "core/strings.h"
#include "core/traps.h"
#include "display/key_table.h"
#include "display/keyboard_internal.h"

namespace {

struct key_kind {
    bool shift, ctrl, alt, num_lock, caps_lock, extended;
};

bool is_extended(int32_t code) {
    switch (code) {
        case key_left_arrow: case key_up_arrow: case key_right_arrow: case key_down_arrow: case key_insert: case key_home:
        case key_page_up: case key_delete: case key_end: case key_page_down: case key_keypad_slash:
        case key_keypad_enter: case key_right_ctrl: case key_right_alt:
            return true;
        default:
            return false;
    }
}

key_kind kind_of(int32_t code) {
    return {code == key_right_shift || code == key_left_shift, code == key_right_ctrl || code == key_left_ctrl,
            code == key_right_alt || code == key_left_alt,       code == key_num_lock,
            code == key_caps_lock,                              is_extended(code)};
}

// Shift-mask bits of a user-defined key trap.
enum : int32_t {
    trap_mask_shift = 0x03,
    trap_mask_ctrl = 0x04,
    trap_mask_alt = 0x08,
    trap_mask_num_lock = 0x20,
    trap_mask_caps_lock = 0x40,
    trap_mask_extended = 0x80,
};

// A user-defined key trap: the key's scan code with the shift states of the trap's mask.
bool trap_matches_scan(const key_trap& trap, const held_keys& held, int32_t scan, const key_kind& kind) {
    if (trap.trap_scan_code.load() != scan) return false;
    int32_t s = trap.shift_mask.load();
    key_modifiers mods = held_keys_modifiers(held);
    if (!kind.shift && ((s & trap_mask_shift) != 0) != mods.shift) return false;
    if (!kind.ctrl && ((s & trap_mask_ctrl) != 0) != mods.ctrl) return false;
    if (!kind.alt && ((s & trap_mask_alt) != 0) != mods.alt) return false;
    if (!kind.num_lock && (s & trap_mask_num_lock) && !held_keys_has(held, key_num_lock)) return false;
    if (!kind.caps_lock && (s & trap_mask_caps_lock) && !held_keys_has(held, key_caps_lock)) return false;
    return ((s & trap_mask_extended) != 0) == kind.extended;
}

bool trap_armed(const key_trap& trap) { return trap.state.load() != trap_off && trap.handler.load() != 0; }

bool trap_names_key(const key_trap& trap, int32_t code, int32_t hit) {
    return trap.key_code.load() == hit || trap.alternative_code.load() == code;
}

}  // namespace

// A key held down repeats its press: one entry stands for all, since one release ends them.
void swallowed_keys_add(swallowed_keys& keys, int32_t code) {
    for (int32_t i = 0; i <= keys.top; ++i)
        if (keys.codes[i] == code) return;
    for (int32_t i = 0; i <= keys.top; ++i) {
        if (keys.codes[i] == 0) {
            keys.codes[i] = code;
            return;
        }
    }
    if (keys.top < swallowed_key_capacity - 1) keys.codes[++keys.top] = code;
}

bool swallowed_keys_take(swallowed_keys& keys, int32_t code) {
    for (int32_t i = 0; i <= keys.top; ++i) {
        if (keys.codes[i] == code) {
            keys.codes[i] = 0;
            return true;
        }
    }
    return false;
}

int32_t key_trap_scan_of(int32_t code) {
    const auto& table = key_translation_table;
    if (code >= 0 && code < 256) return table[code][key_column_make];
    if (int32_t fixed = key_modifier_make(code)) return fixed;
    int32_t row = key_table_row(code);
    if (row >= 256 && table[row][key_column_normal] != 0) return table[row][key_column_make];
    return 0;
}

int32_t key_trap_of(const held_keys& held, int32_t code, int32_t hit) {
    if (int32_t scan = key_trap_scan_of(code)) {
        key_kind kind = kind_of(code);
        for (int32_t t = 0; t < key_trap_count; ++t)
            if (trap_armed(key_trap_table[t]) && trap_matches_scan(key_trap_table[t], held, scan, kind)) return t;
    }
    for (int32_t t = 0; t < key_trap_count; ++t)
        if (trap_armed(key_trap_table[t]) && trap_names_key(key_trap_table[t], code, hit)) return t;
    return -1;
}

const string_descriptor* soft_key_text_of(int32_t code, int32_t hit) {
    for (const key_trap& trap : key_trap_table) {
        const string_descriptor* text = trap.key_text.load();
        if (text && text->length > 0 && trap_names_key(trap, code, hit)) return text;
    }
    return nullptr;
}
