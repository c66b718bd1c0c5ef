// Key codes and the constant key translation table: which physical key a key code is, and what the
// emulated BIOS keyboard stores for it with no modifier, Shift, Ctrl, Alt or a Num Lock keypad digit.
// Pure data and look-ups; the keyboard state itself is in keyboard.h.
#pragma once

#include <array>
#include <cstdint>

// Key codes without a character (scan code * 256) and the 100000 and 200000 ranges.
enum : int32_t {
    key_f1 = 0x3B00,
    key_f10 = 0x4400,
    key_f11 = 0x8500,
    key_f12 = 0x8600,
    key_home = 0x4700,
    key_up_arrow = 0x4800,
    key_page_up = 0x4900,
    key_left_arrow = 0x4B00,
    key_right_arrow = 0x4D00,
    key_end = 0x4F00,
    key_down_arrow = 0x5000,
    key_page_down = 0x5100,
    key_insert = 0x5200,
    key_delete = 0x5300,

    key_pause = 100019,
    key_keypad_digit_0 = 100256,  // to 100265 for keypad 9, Num Lock on
    key_keypad_point = 100266,
    key_keypad_slash = 100267,
    key_keypad_star = 100268,
    key_keypad_minus = 100269,
    key_keypad_plus = 100270,
    key_keypad_enter = 100271,
    key_ctrl_stop = 100296,
    key_num_lock = 100300,
    key_caps_lock = 100301,
    key_scroll_lock = 100302,
    key_right_shift = 100303,
    key_left_shift = 100304,
    key_right_ctrl = 100305,
    key_left_ctrl = 100306,
    key_right_alt = 100307,
    key_left_alt = 100308,
    key_sysreq = 100317,
    key_break = 100318,

    key_keypad_ins = 200000,  // to 200010 for keypad Del, Num Lock off
    key_keypad_del = 200010,
    key_scroll_lock_on = 200011,
    key_insert_mode_on = 200012,
    key_code_zero = 200013,  // stands for code 0 in the lists and the ring

    key_unicode_flag = 0x40000000,
};

constexpr int32_t key_table_rows = 528;
constexpr int32_t key_table_columns = 10;

// Columns of a row.
enum : int32_t {
    key_column_row_key = 0,
    key_column_make = 1,
    key_column_normal = 2,
    key_column_shift = 3,
    key_column_ctrl = 4,
    key_column_alt = 5,
    key_column_digit = 6,
    key_column_digit_shift = 9,
};

using key_table = std::array<std::array<int32_t, key_table_columns>, key_table_rows>;
extern const key_table key_translation_table;

// The row of a key code, or -1 when the code has none: characters use their own row, two-byte
// codes (256-65535) 256 + scan, keypad codes (either Num Lock state) the keypad rows 512-527.
int32_t key_table_row(int32_t code);
// The code posted to the key-hit ring for a press: the code itself, except that keypad codes give
// their character (Num Lock on) or their grey-key code (Num Lock off).
int32_t key_hit_code(int32_t code);
// Keypad codes of either Num Lock state; a keypad digit (or point) with Num Lock on.
bool key_is_keypad(int32_t code);
bool key_is_keypad_digit(int32_t code);
// The character a character key gives by its make code, unshifted or with Shift; 0 for a make code
// of no character key.
int32_t key_character_of_make(int32_t make, bool shift);
// The set-1 make code a modifier or lock key stands for (0 for other codes).
int32_t key_modifier_make(int32_t code);
