#include "display/key_table.h"

namespace {

using table = key_table;

// The character keys of a US keyboard: unshifted and shifted character with the key's make code.
struct character_key {
    char normal, shifted;
    int8_t make;
};
constexpr character_key character_keys[] = {
    {'1', '!', 2},   {'2', '@', 3},   {'3', '#', 4},   {'4', '$', 5},   {'5', '%', 6},  {'6', '^', 7},
    {'7', '&', 8},   {'8', '*', 9},   {'9', '(', 10},  {'0', ')', 11},  {'-', '_', 12}, {'=', '+', 13},
    {'q', 'Q', 16},  {'w', 'W', 17},  {'e', 'E', 18},  {'r', 'R', 19},  {'t', 'T', 20}, {'y', 'Y', 21},
    {'u', 'U', 22},  {'i', 'I', 23},  {'o', 'O', 24},  {'p', 'P', 25},  {'[', '{', 26}, {']', '}', 27},
    {'a', 'A', 30},  {'s', 'S', 31},  {'d', 'D', 32},  {'f', 'F', 33},  {'g', 'G', 34}, {'h', 'H', 35},
    {'j', 'J', 36},  {'k', 'K', 37},  {'l', 'L', 38},  {';', ':', 39},  {'\'', '"', 40}, {'`', '~', 41},
    {'\\', '|', 43}, {'z', 'Z', 44},  {'x', 'X', 45},  {'c', 'C', 46},  {'v', 'V', 47}, {'b', 'B', 48},
    {'n', 'N', 49},  {'m', 'M', 50},  {',', '<', 51},  {'.', '>', 52},  {'/', '?', 53},
};

constexpr bool is_letter(char c) { return c >= 'a' && c <= 'z'; }

// Ctrl and Alt values of a printable key, given by its unshifted character.
constexpr int32_t ctrl_value(char normal) {
    if (is_letter(normal)) return normal - 'a' + 1;
    switch (normal) {
        case '[': return 27;
        case '\\': return 28;
        case ']': return 29;
        case '6': return 30;
        case '-': return 31;
        case '2': return 0x0300;
        default: return 0;
    }
}

constexpr int32_t alt_value(char normal, int32_t make) {
    if (is_letter(normal)) return make * 256;
    switch (normal) {
        case ';': case '\'': case '`': case '\\': case ',': case '.': case '/': case '[': case ']':
            return make * 256;
        case '-': return 0x8200;
        case '=': return 0x8300;
        default: break;
    }
    if (normal >= '1' && normal <= '9') return 0x7800 + (normal - '1') * 256;
    if (normal == '0') return 0x8100;
    return 0;
}

constexpr void character_row(table& t, int32_t c, int32_t make, int32_t shift, int32_t ctrl, int32_t alt) {
    t[c][key_column_make] = make;
    t[c][key_column_normal] = c;
    t[c][key_column_shift] = shift;
    t[c][key_column_ctrl] = ctrl;
    t[c][key_column_alt] = alt;
}

constexpr void two_byte_row(table& t, int32_t scan, int32_t make, int32_t normal, int32_t shift, int32_t ctrl,
                            int32_t alt) {
    auto& r = t[256 + scan];
    r[key_column_make] = make;
    r[key_column_normal] = normal;
    r[key_column_shift] = shift;
    r[key_column_ctrl] = ctrl;
    r[key_column_alt] = alt;
}

constexpr table build() {
    table t{};
    for (int32_t c = 0; c < 256; ++c) t[c][key_column_row_key] = (c >= 'A' && c <= 'Z') ? c + 32 : c;
    for (int32_t s = 0; s < 256; ++s) t[256 + s][key_column_row_key] = s;
    for (int32_t n = 0; n < 16; ++n) t[512 + n][key_column_row_key] = 0x200 + n;

    for (const character_key& k : character_keys) {
        int32_t ctrl = ctrl_value(k.normal), alt = alt_value(k.normal, k.make);
        for (char c : {k.normal, k.shifted}) {
            auto u = static_cast<unsigned char>(c);
            character_row(t, u, k.make, u, ctrl, alt);
        }
    }
    character_row(t, 27, 1, 27, 27, 0);          // Esc
    character_row(t, 8, 14, 8, 127, 0x0E00);     // Backspace
    character_row(t, 9, 15, 0x0F00, 0x9400, 0);  // Tab: Shift gives the back-tab scan code
    character_row(t, 13, 28, 13, 10, 0);         // Enter
    character_row(t, 32, 57, 32, 32, 0);         // space

    for (int32_t i = 0; i < 10; ++i) {
        int32_t scan = 59 + i;
        two_byte_row(t, scan, scan, scan * 256, (0x54 + i) * 256, (0x5E + i) * 256, (0x68 + i) * 256);
    }
    struct grey { int32_t scan, ctrl, alt; };
    constexpr grey grey_keys[] = {{71, 0x7700, 0x9700}, {72, 0x8D00, 0x9800}, {73, 0x8400, 0x9900},
                                  {75, 0x7300, 0x9B00}, {77, 0x7400, 0x9D00}, {79, 0x7500, 0x9F00},
                                  {80, 0x9100, 0xA000}, {81, 0x7600, 0xA100}, {82, 0x9200, 0xA200},
                                  {83, 0x9300, 0xA300}};
    for (const grey& g : grey_keys) two_byte_row(t, g.scan, g.scan, g.scan * 256, g.scan * 256, g.ctrl, g.alt);
    two_byte_row(t, 133, 87, 0x8500, 0x8500, 0x8900, 0x8B00);  // F11
    two_byte_row(t, 134, 88, 0x8600, 0x8600, 0x8A00, 0x8C00);  // F12

    // Keypad 0-9 and point: the grey key's value, the digit with Shift or Num Lock.
    struct pad { int32_t make, grey_value, digit, ctrl; };
    constexpr pad pad_keys[] = {{82, 0x5200, 48, 0x9200}, {79, 0x4F00, 49, 0x7500}, {80, 0x5000, 50, 0x9100},
                                {81, 0x5100, 51, 0x7600}, {75, 0x4B00, 52, 0x7300}, {76, 0x4C00, 53, 0x8F00},
                                {77, 0x4D00, 54, 0x7400}, {71, 0x4700, 55, 0x7700}, {72, 0x4800, 56, 0x8D00},
                                {73, 0x4900, 57, 0x8400}, {83, 0x5300, 46, 0x9300}};
    for (int32_t n = 0; n < 11; ++n) {
        const pad& p = pad_keys[n];
        auto& r = t[512 + n];
        r[key_column_make] = p.make;
        r[key_column_normal] = p.grey_value;
        r[key_column_shift] = p.digit;
        r[key_column_ctrl] = p.ctrl;
        r[key_column_alt] = 0;
        r[key_column_digit] = p.digit;
        r[key_column_digit_shift] = p.grey_value;
    }
    // Keypad slash, star, minus, plus, Enter: the same character in every state but Ctrl and Alt.
    struct op { int32_t make, character, ctrl, alt; };
    constexpr op op_keys[] = {{53, 47, 0x9500, 0xA400}, {55, 42, 0x9600, 0x3700}, {74, 45, 0x8E00, 0x4A00},
                              {78, 43, 0x9000, 0x4E00}, {28, 13, 10, 0xA600}};
    for (int32_t i = 0; i < 5; ++i) {
        const op& o = op_keys[i];
        auto& r = t[523 + i];
        r[key_column_make] = o.make;
        r[key_column_normal] = r[key_column_shift] = o.character;
        r[key_column_ctrl] = o.ctrl;
        r[key_column_alt] = o.alt;
        r[key_column_digit] = r[key_column_digit_shift] = o.character;
    }
    return t;
}

}  // namespace

// Built at compile time from the rules above.
constinit const key_table key_translation_table = build();

bool key_is_keypad(int32_t code) {
    return (code >= key_keypad_digit_0 && code <= key_keypad_enter) || (code >= key_keypad_ins && code <= key_keypad_del);
}

bool key_is_keypad_digit(int32_t code) { return code >= key_keypad_digit_0 && code <= key_keypad_point; }

int32_t key_table_row(int32_t code) {
    if (code >= 0 && code < 256) return code;
    if (code >= 256 && code <= 0xFFFF) return 256 + (code >> 8);
    if (code >= key_keypad_digit_0 && code <= key_keypad_enter) return 512 + (code - key_keypad_digit_0);
    if (code >= key_keypad_ins && code <= key_keypad_del) return 512 + (code - key_keypad_ins);
    return -1;
}

int32_t key_hit_code(int32_t code) {
    static constexpr int32_t keypad_on[16] = {48, 49, 50, 51, 52, 53, 54, 55, 56, 57, 46, 47, 42, 45, 43, 13};
    static constexpr int32_t keypad_off[11] = {0x5200, 0x4F00, 0x5000, 0x5100, 0x4B00, 0x4C00,
                                               0x4D00, 0x4700, 0x4800, 0x4900, 0x5300};
    if (code >= key_keypad_digit_0 && code <= key_keypad_enter) return keypad_on[code - key_keypad_digit_0];
    if (code >= key_keypad_ins && code <= key_keypad_del) return keypad_off[code - key_keypad_ins];
    return code;
}

int32_t key_modifier_make(int32_t code) {
    switch (code) {
        case key_left_shift: return 42;
        case key_right_shift: return 54;
        case key_left_alt: case key_right_alt: return 56;
        case key_left_ctrl: case key_right_ctrl: return 29;
        case key_num_lock: return 69;
        case key_caps_lock: return 58;
        case key_scroll_lock: return 70;
        default: return 0;
    }
}

int32_t key_character_of_make(int32_t make, bool shift) {
    for (const character_key& k : character_keys)
        if (k.make == make) return static_cast<unsigned char>(shift ? k.shifted : k.normal);
    switch (make) {
        case 1: return 27;
        case 14: return 8;
        case 15: return 9;
        case 28: return 13;
        case 57: return 32;
        default: return 0;
    }
}
