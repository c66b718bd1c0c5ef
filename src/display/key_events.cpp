#include "display/key_events.h"

#include <GL/freeglut.h>

#include "display/key_table.h"
#include "display/keyboard_internal.h"
#include "screen/charmap.h"

namespace {

const auto& table = key_translation_table;

// The key code of a Unicode code point: its code page 437 character, a full-width form's ASCII
// character, or the flagged code point.
int32_t unicode_key_code(int32_t cp) {
    if (cp >= 0 && cp < 128) return cp;
    if (int32_t c = cp437_from_unicode(cp)) return c;
    if (cp >= 0xFF01 && cp <= 0xFF5E) return cp - 0xFEE0;
    if (cp == 0x3000) return 32;
    return cp | key_unicode_flag;
}

// With Ctrl the window system hands over control characters; they become the key's own character,
// so that the Ctrl column of the key's row decides. The raw key says which key it was (Ctrl+2 and
// Ctrl+Space both arrive as 0); without one, 1-26 are the letters and 10 is Enter.
int32_t keypad_character_of_make(int32_t make) {
    for (int32_t row = 512; row < key_table_rows; ++row)
        if (table[row][key_column_make] == make) return table[row][key_column_digit];
    return 0;
}

int32_t ctrl_character(int32_t key, bool shift) {
    if (key >= 32 && key != 127) return key;
    if (int32_t own = key_character_of_make(kb.data.last_raw_make, shift)) return own;
    if (int32_t own = keypad_character_of_make(kb.data.last_raw_make)) return own;
    if (key == 10) return 13;
    if (key >= 1 && key <= 26) return key + (shift ? 0x40 : 0x60);
    return key;
}

int32_t special_key_code(int32_t key) {
    if (key >= GLUT_KEY_F1 && key <= GLUT_KEY_F10) return key_f1 + (key - GLUT_KEY_F1) * 256;
    switch (key) {
        case GLUT_KEY_F11: return key_f11;
        case GLUT_KEY_F12: return key_f12;
        case GLUT_KEY_LEFT: return key_left_arrow;
        case GLUT_KEY_UP: return key_up_arrow;
        case GLUT_KEY_RIGHT: return key_right_arrow;
        case GLUT_KEY_DOWN: return key_down_arrow;
        case GLUT_KEY_PAGE_UP: return key_page_up;
        case GLUT_KEY_PAGE_DOWN: return key_page_down;
        case GLUT_KEY_HOME: return key_home;
        case GLUT_KEY_END: return key_end;
        case GLUT_KEY_INSERT: return key_insert;
        // Keypad Delete with Num Lock off comes as a special key here (the grey one as character 127).
        case GLUT_KEY_DELETE: return key_delete;
        case GLUT_KEY_SHIFT_L: return key_left_shift;
        case GLUT_KEY_SHIFT_R: return key_right_shift;
        case GLUT_KEY_CTRL_L: return key_left_ctrl;
        case GLUT_KEY_CTRL_R: return key_right_ctrl;
        case GLUT_KEY_ALT_L: return key_left_alt;
        case GLUT_KEY_ALT_R: return key_right_alt;
        default: return 0;
    }
}

}  // namespace

void key_down_unicode(int32_t code_point) {
    int32_t code = unicode_key_code(code_point);
    std::lock_guard guard(kb.lock);
    key_press_locked(code, true);
}

void key_up_unicode(int32_t code_point) { key_up(unicode_key_code(code_point)); }

void key_char_event(int32_t key, int32_t down) {
    {
        std::lock_guard guard(kb.lock);
        key_modifiers mods = held_keys_modifiers(kb.data.held_key_list);
        if (mods.ctrl) key = ctrl_character(key, mods.shift);
    }
    if (key == 127) {
        if (down) key_down_code(key_delete);
        else key_up_code(key_delete);
    } else if (down) {
        key_down_char(key);
    } else {
        key_up_char(key);
    }
}

void key_special_event(int32_t key, int32_t down) {
    int32_t code = special_key_code(key);
    if (code == 0) return;
    if (down) key_down_code(code);
    else key_up_code(code);
}

void glut_keyboard_down_callback(unsigned char key, int, int) { key_char_event(key, 1); }
void glut_keyboard_up_callback(unsigned char key, int, int) { key_char_event(key, 0); }
void glut_special_down_callback(int key, int, int) { key_special_event(key, 1); }
void glut_special_up_callback(int key, int, int) { key_special_event(key, 0); }

void keyboard_raw_key(int32_t scan, int32_t down) {
    constexpr int32_t tab_scan = 15, scroll_lock_scan = 70;
    std::lock_guard guard(kb.lock);
    keyboard_data& data = kb.data;
    data.last_raw_make = scan < 256 ? scan : 0;  // extended keys are no character keys
    // X turns Shift+Tab into a key without a character, for which no callback comes: the raw key
    // stands in for it.
    if (scan == tab_scan && held_keys_modifiers(data.held_key_list).shift) {
        if (down) key_press_locked(9, false);
        else key_release_locked(9);
    }
    if (scan != scroll_lock_scan) return;
    // A held key repeats its press: the toggle changes once per press.
    if (down && !data.scroll_lock_key_down) data.scroll_lock_toggle = !data.scroll_lock_toggle;
    data.scroll_lock_key_down = down != 0;
}

bool keyboard_scroll_lock_toggle() {
    std::lock_guard guard(kb.lock);
    return kb.data.scroll_lock_toggle;
}
