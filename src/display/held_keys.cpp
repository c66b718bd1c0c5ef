#include "display/held_keys.h"

#include <cstddef>

#include "display/key_table.h"

namespace {

bool held_exactly(const held_keys& keys, int32_t code) { return held_keys_index(keys, code) >= 0; }

int32_t make_code_of_character(int32_t c) { return key_translation_table[c][key_column_make]; }

bool is_character(int32_t code) { return code >= 0 && code < 256; }

}  // namespace

int32_t held_keys_index(const held_keys& keys, int32_t code) {
    for (size_t i = 0; i < keys.codes.size(); ++i)
        if (keys.codes[i] == code) return static_cast<int32_t>(i);
    return -1;
}

int32_t key_alias(int32_t code) {
    if (code >= '0' && code <= '9') return key_keypad_digit_0 + (code - '0');
    switch (code) {
        case '.': return key_keypad_point;
        case '/': return key_keypad_slash;
        case '*': return key_keypad_star;
        case '-': return key_keypad_minus;
        case '+': return key_keypad_plus;
        case 13: return key_keypad_enter;
        default: break;
    }
    if (code < 0 || code > 0xFFFF || (code & 0xFF00) == 0) return 0;
    switch ((code >> 8) & 0xFF) {
        case 82: return key_keypad_ins;
        case 79: return key_keypad_ins + 1;
        case 80: return key_keypad_ins + 2;
        case 81: return key_keypad_ins + 3;
        case 75: return key_keypad_ins + 4;
        case 76: return key_keypad_ins + 5;
        case 77: return key_keypad_ins + 6;
        case 71: return key_keypad_ins + 7;
        case 72: return key_keypad_ins + 8;
        case 73: return key_keypad_ins + 9;
        case 83: return key_keypad_del;
        default: return 0;
    }
}

bool held_keys_has(const held_keys& keys, int32_t code) {
    if (held_exactly(keys, code)) return true;
    int32_t alias = key_alias(code);
    return alias != 0 && held_exactly(keys, alias);
}

key_modifiers held_keys_modifiers(const held_keys& keys) {
    return {held_keys_has(keys, key_right_shift) || held_keys_has(keys, key_left_shift),
            held_keys_has(keys, key_right_ctrl) || held_keys_has(keys, key_left_ctrl),
            held_keys_has(keys, key_right_alt) || held_keys_has(keys, key_left_alt)};
}

void held_keys_add(held_keys& keys, int32_t code) {
    if (held_exactly(keys, code)) return;
    keys.codes.push_back(code);
    keys.tags.push_back(keys.held_key_tag);
    keys.held_key_tag = 0;
}

void held_keys_remove(held_keys& keys, int32_t code) {
    int32_t i = held_keys_index(keys, code);
    if (i < 0) return;
    keys.codes.erase(keys.codes.begin() + i);
    keys.tags.erase(keys.tags.begin() + i);
}

void held_keys_toggle(held_keys& keys, int32_t code) {
    if (held_exactly(keys, code)) held_keys_remove(keys, code);
    else held_keys_add(keys, code);
}

int32_t held_keys_release_code(const held_keys& keys, int32_t c) {
    int32_t make = make_code_of_character(c);
    if (make == 0 || held_exactly(keys, c)) return c;
    for (int32_t held : keys.codes)
        if (is_character(held) && make_code_of_character(held) == make) return held;
    return c;
}

void held_keys_remove_character_key(held_keys& keys, int32_t c) {
    int32_t make = make_code_of_character(c);
    held_keys_remove(keys, c);
    if (make == 0) return;
    for (size_t i = keys.codes.size(); i-- > 0;) {
        int32_t held = keys.codes[i];
        if (is_character(held) && make_code_of_character(held) == make) held_keys_remove(keys, held);
    }
}
