#include "display/keyboard.h"

#include <GL/freeglut.h>
#include <sched.h>

#include <array>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <vector>

#include "core/errors.h"
#include "core/shutdown.h"
#include "core/statements.h"
#include "core/strings.h"
#include "core/traps.h"
#include "display/display_control.h"
#include "display/frames.h"
#include "display/key_table.h"
#include "display/window.h"
#include "machine/memory.h"
#include "screen/charmap.h"

namespace {

// The BIOS data area of the keyboard (linear addresses of dos_memory).
constexpr uint32_t bios_area = 0x400;
constexpr uint32_t bios_flags_1 = 0x417;
constexpr uint32_t bios_flags_2 = 0x418;
constexpr uint32_t bios_ring_head = 0x41A;
constexpr uint32_t bios_ring_tail = 0x41C;
constexpr uint32_t bios_flags_3 = 0x496;
constexpr uint8_t bios_ring_first = 30;
constexpr uint8_t bios_ring_end = 62;

constexpr uint32_t hit_ring_size = 8192;
constexpr uint32_t hit_ring_mask = hit_ring_size - 1;
constexpr int32_t swallowed_capacity = 256;
constexpr int32_t scancode_capacity = 256;

struct keyboard_state {
    std::mutex lock;
    std::condition_variable key_stored;  // a key went into the BIOS buffer

    std::vector<int32_t> held_codes, held_tags;
    int32_t held_tag = 0;

    std::array<int32_t, swallowed_capacity> swallowed{};
    int32_t swallowed_top = -1;

    std::array<int32_t, hit_ring_size> hit_ring{};
    uint32_t hit_write = 0, hit_read = 0;

    std::array<uint8_t, scancode_capacity> scancodes{};
    int32_t scancode_first = 0, scancode_count = 0;
    uint8_t scancode_last_taken = 0x81;

    bool soft_key_typing = false;

    // From the raw keys of the window layer.
    int32_t last_raw_make = 0;
    bool scroll_lock_key_down = false;
    std::atomic<bool> scroll_lock_toggle{false};

    lock_key_source source = platform_key_states_read;

    // Program thread only: when the last BIOS read found nothing.
    std::chrono::steady_clock::time_point last_empty_read{};
    bool last_read_empty = false;
};
keyboard_state kb;

const auto& table = key_translation_table;

// --- Held keys (lock held) ----------------------------------------------------------------------

int32_t held_index(int32_t code) {
    for (size_t i = 0; i < kb.held_codes.size(); ++i)
        if (kb.held_codes[i] == code) return static_cast<int32_t>(i);
    return -1;
}

bool held_exactly(int32_t code) { return held_index(code) >= 0; }

// The alias under which a code that is not held may still be held: the keypad forms of digits and
// operators (Num Lock on) and of the grey keys (Num Lock off).
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

bool is_down(int32_t code) {
    if (held_exactly(code)) return true;
    int32_t alias = key_alias(code);
    return alias != 0 && held_exactly(alias);
}

bool shift_held() { return is_down(key_right_shift) || is_down(key_left_shift); }
bool ctrl_held() { return is_down(key_right_ctrl) || is_down(key_left_ctrl); }
bool alt_held() { return is_down(key_right_alt) || is_down(key_left_alt); }

void held_add(int32_t code) {
    if (held_exactly(code)) return;
    kb.held_codes.push_back(code);
    kb.held_tags.push_back(kb.held_tag);
    kb.held_tag = 0;
}

void held_remove(int32_t code) {
    int32_t i = held_index(code);
    if (i < 0) return;
    kb.held_codes.erase(kb.held_codes.begin() + i);
    kb.held_tags.erase(kb.held_tags.begin() + i);
}

void held_toggle(int32_t code) {
    if (held_exactly(code)) held_remove(code);
    else held_add(code);
}

void flags_update() {
    auto bit = [](bool on, int n) { return static_cast<uint8_t>(on ? 1 << n : 0); };
    dos_byte_write(bios_flags_1, bit(is_down(key_right_shift), 0) | bit(is_down(key_left_shift), 1) |
                                     bit(ctrl_held(), 2) | bit(alt_held(), 3) | bit(is_down(key_scroll_lock_on), 4) |
                                     bit(is_down(key_num_lock), 5) | bit(is_down(key_caps_lock), 6) |
                                     bit(is_down(key_insert_mode_on), 7));
    dos_byte_write(bios_flags_2, bit(is_down(key_left_ctrl), 0) | bit(is_down(key_left_alt), 1) |
                                     bit(is_down(key_sysreq), 2) | bit(is_down(key_pause), 3) |
                                     bit(is_down(key_scroll_lock), 4) | bit(is_down(key_insert), 7));
    dos_byte_write(bios_flags_3, bit(is_down(key_right_ctrl), 0) | bit(is_down(key_right_alt), 1) | bit(true, 4));
}

// --- Swallowed keys: presses taken by a trap or a soft key, whose release is dropped -------------

// A key held down repeats its press: one entry stands for all, since one release ends them.
void swallow(int32_t code) {
    for (int32_t i = 0; i <= kb.swallowed_top; ++i)
        if (kb.swallowed[i] == code) return;
    for (int32_t i = 0; i <= kb.swallowed_top; ++i) {
        if (kb.swallowed[i] == 0) {
            kb.swallowed[i] = code;
            return;
        }
    }
    if (kb.swallowed_top < swallowed_capacity - 1) kb.swallowed[++kb.swallowed_top] = code;
}

bool unswallow(int32_t code) {
    for (int32_t i = 0; i <= kb.swallowed_top; ++i) {
        if (kb.swallowed[i] == code) {
            kb.swallowed[i] = 0;
            return true;
        }
    }
    return false;
}

// --- Key-hit ring, scan-code queue, BIOS buffer ----------------------------------------------------

void hit_post(int32_t code) {
    uint32_t next = (kb.hit_write + 1) & hit_ring_mask;
    if (next == kb.hit_read) kb.hit_read = (kb.hit_read + 1) & hit_ring_mask;  // keep the newest
    kb.hit_ring[kb.hit_write] = code;
    kb.hit_write = next;
}

void scancode_push(uint8_t byte) {
    if (kb.scancode_count > 0 &&
        kb.scancodes[(kb.scancode_first + kb.scancode_count - 1) % scancode_capacity] == byte)
        return;  // auto-repeat of a held key
    if (kb.scancode_count == scancode_capacity) {
        kb.scancode_first = (kb.scancode_first + 1) % scancode_capacity;
        --kb.scancode_count;
    }
    kb.scancodes[(kb.scancode_first + kb.scancode_count) % scancode_capacity] = byte;
    ++kb.scancode_count;
}

uint8_t bios_ring_next(uint8_t offset) {
    uint8_t next = static_cast<uint8_t>(offset + 2);
    return next >= bios_ring_end ? bios_ring_first : next;
}

void bios_store(uint8_t character, uint8_t scan) {
    uint8_t tail = dos_byte_read(bios_ring_tail);
    uint8_t next = bios_ring_next(tail);
    if (next == dos_byte_read(bios_ring_head)) return;  // full: the new key is lost
    dos_byte_write(bios_area + tail, character);
    dos_byte_write(bios_area + tail + 1, scan);
    dos_byte_write(bios_ring_tail, next);
    kb.key_stored.notify_all();
}

// A BIOS value of the table: nothing, a character with the key's make code, or a scan byte alone.
void bios_store_value(int32_t value, int32_t make) {
    if (value == 0) return;
    if (value & 0xFF00) bios_store(0, static_cast<uint8_t>(value >> 8));
    else bios_store(static_cast<uint8_t>(value), static_cast<uint8_t>(make));
}

bool bios_empty() { return dos_byte_read(bios_ring_head) == dos_byte_read(bios_ring_tail); }

void bios_ring_clear() {
    dos_byte_write(bios_ring_head, bios_ring_first);
    dos_byte_write(bios_ring_tail, bios_ring_first);
}

// The scan-code queue empty, its first byte 0x81.
void scancodes_clear() {
    kb.scancodes[0] = 0x81;
    kb.scancode_first = kb.scancode_count = 0;
    kb.scancode_last_taken = 0x81;
}

// --- key_down and key_up (lock held) -------------------------------------------------------------

int32_t trap_scan_of(int32_t code) {
    if (code >= 0 && code < 256) return table[code][key_column_make];
    if (int32_t fixed = key_modifier_make(code)) return fixed;
    int32_t row = key_table_row(code);
    if (row >= 256 && table[row][key_column_normal] != 0) return table[row][key_column_make];
    return 0;
}

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

void alt_enter() {
    int32_t m = fullscreen_get();
    if (m == 2 && fullscreen_smooth.load() == 1) {
        m = 0;
    } else if (fullscreen_smooth.load() == 0 && m != 0) {
        fullscreen_smooth.store(1);
    } else {
        m = m + 1;
        fullscreen_smooth.store(0);
    }
    if (m != fullscreen_mode.load()) fullscreen_request.store(m);
    frame_rebuild_forced.store(1);
}

void press(int32_t code, bool from_unicode);
void release(int32_t code);

struct key_kind {
    bool shift, ctrl, alt, num_lock, caps_lock, extended;
};

key_kind kind_of(int32_t code) {
    return {code == key_right_shift || code == key_left_shift, code == key_right_ctrl || code == key_left_ctrl,
            code == key_right_alt || code == key_left_alt,       code == key_num_lock,
            code == key_caps_lock,                              is_extended(code)};
}

// A user-defined key trap: the key's scan code with the shift states of the trap's mask.
bool trap_matches_scan(const key_trap& trap, int32_t scan, const key_kind& kind) {
    if (trap.trap_scan_code.load() != scan) return false;
    int32_t s = trap.shift_mask.load();
    if (!kind.shift && ((s & 3) != 0) != shift_held()) return false;
    if (!kind.ctrl && ((s & 4) != 0) != ctrl_held()) return false;
    if (!kind.alt && ((s & 8) != 0) != alt_held()) return false;
    if (!kind.num_lock && (s & 0x20) && !is_down(key_num_lock)) return false;
    if (!kind.caps_lock && (s & 0x40) && !is_down(key_caps_lock)) return false;
    return ((s & 0x80) != 0) == kind.extended;
}

bool trap_armed(const key_trap& trap) { return trap.state.load() != trap_off && trap.handler.load() != 0; }

bool trap_names_key(const key_trap& trap, int32_t code, int32_t hit) {
    return trap.key_code.load() == hit || trap.alternative_code.load() == code;
}

int32_t key_trap_of(int32_t code, int32_t hit) {
    if (int32_t scan = trap_scan_of(code)) {
        key_kind kind = kind_of(code);
        for (int32_t t = 0; t < key_trap_count; ++t)
            if (trap_armed(key_trap_table[t]) && trap_matches_scan(key_trap_table[t], scan, kind)) return t;
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

// Key traps and soft keys; true when one took the key (its release is then dropped too).
bool key_taken_by_trap(int32_t code, int32_t hit) {
    if (kb.soft_key_typing) return false;  // typed text reaches neither traps nor soft keys again
    if (int32_t t = key_trap_of(code, hit); t >= 0) {
        key_trap_fire(t);
        swallow(code);
        return true;
    }
    if (const string_descriptor* text = soft_key_text_of(code, hit)) {
        swallow(code);
        kb.soft_key_typing = true;
        for (int32_t i = 0; i < text->length; ++i) {
            press(text->text[i], false);
            release(text->text[i]);
        }
        kb.soft_key_typing = false;
        return true;
    }
    return false;
}

// Modifier and lock keys: their make code, the BIOS flags, the Scroll Lock toggle.
void modifier_press(int32_t code, bool scroll_was_held) {
    int32_t make = key_modifier_make(code);
    if (make == 0) return;
    scancode_push(static_cast<uint8_t>(make));
    if (code == key_scroll_lock && !scroll_was_held && !ctrl_held()) held_toggle(key_scroll_lock_on);
    flags_update();
}

// Ctrl+Break (and Ctrl with Scroll Lock or 100296), Pause (and Ctrl+Num Lock), the key that ends a
// pause and Alt+Enter act and go no further; true for them.
bool system_key(int32_t code) {
    if (code == key_break || ((code == key_scroll_lock || code == key_ctrl_stop) && ctrl_held())) {
        if (close_handled_by_program.load()) close_request_bits.fetch_or(2);
        else stop_request.store(1);
        return true;
    }
    if (code == key_pause || (code == key_num_lock && ctrl_held())) {
        event_pending.store(1);
        pause_flag.fetch_or(1);
        return true;
    }
    if (pause_flag.load() & 1) {
        pause_flag.fetch_and(static_cast<uint8_t>(~1u));
        return true;
    }
    if (code == 13 && alt_held()) {
        alt_enter();
        return true;
    }
    return false;
}

// The BIOS key and scan code of a character (0-255).
void character_post(int32_t c, bool from_unicode) {
    const auto& row = table[c];
    int32_t make = row[key_column_make];
    if (make == 0) {
        bios_store(static_cast<uint8_t>(c), 0);
        return;
    }
    scancode_push(static_cast<uint8_t>(make));
    int32_t state = shift_held() ? 1 : 0;
    if (ctrl_held()) state = 2;
    if (alt_held()) state = 3;
    // AltGr (Left Ctrl with Right Alt) makes a character of its own, not a Ctrl or Alt key.
    if (from_unicode && is_down(key_left_ctrl) && is_down(key_right_alt) && !is_down(key_left_alt) &&
        !is_down(key_right_ctrl))
        state = 0;
    bios_store_value(row[key_column_normal + state], make);
}

// The BIOS key and scan code of a two-byte or keypad code; the grey Insert key toggles Insert mode.
void two_byte_post(int32_t code, bool insert_was_held) {
    int32_t row_index = key_table_row(code);
    if (row_index < 0) return;
    const auto& row = table[row_index];
    if (row[key_column_normal] == 0) {
        bios_store(0, static_cast<uint8_t>(code >> 8));
        return;
    }
    scancode_push(static_cast<uint8_t>(row[key_column_make]));
    bool shift = shift_held(), ctrl = ctrl_held(), alt = alt_held();
    if (code == key_insert && !insert_was_held && !alt && !shift && !ctrl) {
        held_toggle(key_insert_mode_on);
        flags_update();
    }
    int32_t state = shift ? 1 : 0;
    if (key_is_keypad_digit(code)) state = shift ? 7 : 4;
    if (ctrl) state = 2;
    if (alt) state = 3;
    bios_store_value(row[key_column_normal + state], row[key_column_make]);
}

void press(int32_t code, bool from_unicode) {
    if (code == 0) code = key_code_zero;
    bool insert_was_held = is_down(key_insert);
    bool scroll_was_held = is_down(key_scroll_lock);
    held_add(code);
    sleep_interrupted.store(1);
    if (system_key(code)) return;

    int32_t hit = key_hit_code(code);
    if (key_taken_by_trap(code, hit)) return;
    hit_post(hit);

    if (code == key_code_zero) code = 0;
    if (code >= 0 && code < 256) character_post(code, from_unicode);
    else if (code > 0xFFFF && !key_is_keypad(code)) modifier_press(code, scroll_was_held);
    else two_byte_post(code, insert_was_held);
}

// A character released under another character of the same key (Shift or Caps Lock changed while it
// was down) is released under the code it was pressed with; every code of that key leaves the list.
int32_t character_release_code(int32_t c) {
    int32_t make = table[c][key_column_make];
    if (make == 0 || held_exactly(c)) return c;
    for (int32_t held : kb.held_codes)
        if (held >= 0 && held < 256 && table[held][key_column_make] == make) return held;
    return c;
}

void release_character_key(int32_t c) {
    int32_t make = table[c][key_column_make];
    held_remove(c);
    if (make == 0) return;
    for (size_t i = kb.held_codes.size(); i-- > 0;) {
        int32_t held = kb.held_codes[i];
        if (held >= 0 && held < 256 && table[held][key_column_make] == make) held_remove(held);
    }
}

void release(int32_t code) {
    if (code == 0) code = key_code_zero;
    if (code >= 0 && code < 256) {
        code = character_release_code(code);
        release_character_key(code);
    } else {
        held_remove(code);
    }
    if (unswallow(code)) return;
    hit_post(-key_hit_code(code));

    if (code >= 0 && code < 256) {
        if (table[code][key_column_normal] != 0)
            scancode_push(static_cast<uint8_t>(table[code][key_column_make] + 128));
        return;
    }
    if (code > 0xFFFF && !key_is_keypad(code)) {
        if (int32_t make = key_modifier_make(code)) {
            scancode_push(static_cast<uint8_t>(make + 128));
            flags_update();
        }
        return;
    }
    int32_t row_index = key_table_row(code);
    if (row_index < 0) return;
    if (table[row_index][key_column_normal] != 0)
        scancode_push(static_cast<uint8_t>(table[row_index][key_column_make] + 128));
    if (code == key_insert) flags_update();
}

void press_tagged(int32_t code, int32_t tag) {
    kb.held_tag = tag;
    press(code, false);
}

void release_tagged(int32_t code, int32_t tag) {
    kb.held_tag = tag;
    release(code);
}

}  // namespace

// --- Entry points ---------------------------------------------------------------------------------

void key_down(int32_t code) {
    std::lock_guard guard(kb.lock);
    press(code, false);
}

void key_up(int32_t code) {
    std::lock_guard guard(kb.lock);
    release(code);
}

void key_down_char(int32_t c) { key_down(c); }
void key_up_char(int32_t c) { key_up(c); }
void key_down_code(int32_t code) { key_down(code); }
void key_up_code(int32_t code) { key_up(code); }

namespace {

// The key code of a Unicode code point: its code page 437 character, a full-width form's ASCII
// character, or the flagged code point.
int32_t unicode_key_code(int32_t cp) {
    if (cp >= 0 && cp < 128) return cp;
    if (int32_t c = cp437_from_unicode(cp)) return c;
    if (cp >= 0xFF01 && cp <= 0xFF5E) return cp - 0xFEE0;
    if (cp == 0x3000) return 32;
    return cp | key_unicode_flag;
}

}  // namespace

void key_down_unicode(int32_t code_point) {
    int32_t code = unicode_key_code(code_point);
    std::lock_guard guard(kb.lock);
    press(code, true);
}

void key_up_unicode(int32_t code_point) { key_up(unicode_key_code(code_point)); }

// --- The window system's keys ---------------------------------------------------------------------

namespace {

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
    if (int32_t own = key_character_of_make(kb.last_raw_make, shift)) return own;
    if (int32_t own = keypad_character_of_make(kb.last_raw_make)) return own;
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

void key_char_event(int32_t key, int32_t down) {
    {
        std::lock_guard guard(kb.lock);
        if (ctrl_held()) key = ctrl_character(key, shift_held());
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
    kb.last_raw_make = scan < 256 ? scan : 0;  // extended keys are no character keys
    // X turns Shift+Tab into a key without a character, for which no callback comes: the raw key
    // stands in for it.
    if (scan == tab_scan && shift_held()) {
        if (down) press(9, false);
        else release(9);
    }
    if (scan != scroll_lock_scan) return;
    // A held key repeats its press: the toggle changes once per press.
    if (down && !kb.scroll_lock_key_down) kb.scroll_lock_toggle.store(!kb.scroll_lock_toggle.load());
    kb.scroll_lock_key_down = down != 0;
}

bool keyboard_scroll_lock_toggle() { return kb.scroll_lock_toggle.load(); }

// --- Queries --------------------------------------------------------------------------------------

int32_t key_is_down(int32_t code) {
    std::lock_guard guard(kb.lock);
    return is_down(code) ? 1 : 0;
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
    if (kb.hit_read == kb.hit_write) return 0;
    int32_t code = kb.hit_ring[kb.hit_read];
    kb.hit_read = (kb.hit_read + 1) & hit_ring_mask;
    return code;
}

namespace {

// A program that polls the buffer in a tight loop would keep a processor busy: a poll that follows an
// empty one within a fraction of a millisecond waits up to 1 ms for a key instead of only yielding.
// A key ends the wait at once, and a program that does work between its polls never waits.
constexpr auto tight_poll_gap = std::chrono::microseconds(200);
constexpr auto tight_poll_wait = std::chrono::milliseconds(1);

void yield_before_read() {
    auto now = std::chrono::steady_clock::now();
    if (kb.last_read_empty && now - kb.last_empty_read < tight_poll_gap) {
        std::unique_lock guard(kb.lock);
        kb.key_stored.wait_for(guard, tight_poll_wait, [] { return !bios_empty(); });
    } else {
        sched_yield();
    }
}

string_descriptor* temporary_of(const uint8_t* bytes, uint32_t length) {
    string_descriptor* s = string_new(length, 1);
    for (uint32_t i = 0; i < length; ++i) s->text[i] = bytes[i];
    return s;
}

}  // namespace

string_descriptor* bios_key_buffer_read() {
    if (error_pending()) return string_new(0, 1);
    yield_before_read();
    uint8_t bytes[2];
    uint32_t length = 0;
    {
        std::lock_guard guard(kb.lock);
        uint8_t head = dos_byte_read(bios_ring_head);
        if (head != dos_byte_read(bios_ring_tail)) {
            uint8_t character = dos_byte_read(bios_area + head);
            uint8_t scan = dos_byte_read(bios_area + head + 1);
            dos_byte_write(bios_ring_head, bios_ring_next(head));
            bytes[0] = character;
            bytes[1] = scan;
            length = (character == 0 && scan != 0) ? 2 : 1;
        }
    }
    kb.last_read_empty = length == 0;
    if (kb.last_read_empty) kb.last_empty_read = std::chrono::steady_clock::now();
    return temporary_of(bytes, length);
}

// --- Held keys, flags, scan codes -------------------------------------------------------------------

void held_key_add(int32_t code) {
    std::lock_guard guard(kb.lock);
    held_add(code);
}

void held_key_remove(int32_t code) {
    std::lock_guard guard(kb.lock);
    held_remove(code);
}

void held_key_release_by_tag(int32_t tag) {
    std::lock_guard guard(kb.lock);
    for (size_t i = 0; i < kb.held_tags.size(); ++i) {
        if (kb.held_tags[i] == tag) {
            release(kb.held_codes[i]);
            return;
        }
    }
}

void bios_key_flags_update() {
    std::lock_guard guard(kb.lock);
    flags_update();
}

void scancode_queue_push_make(int32_t make) {
    std::lock_guard guard(kb.lock);
    scancode_push(static_cast<uint8_t>(make));
}

void scancode_queue_push_break(int32_t make) {
    std::lock_guard guard(kb.lock);
    scancode_push(static_cast<uint8_t>(make + 128));
}

int32_t scancode_queue_count() {
    std::lock_guard guard(kb.lock);
    return kb.scancode_count;
}

uint8_t scancode_queue_take() {
    std::lock_guard guard(kb.lock);
    if (kb.scancode_count > 0) {
        kb.scancode_last_taken = kb.scancodes[kb.scancode_first];
        kb.scancode_first = (kb.scancode_first + 1) % scancode_capacity;
        --kb.scancode_count;
    }
    return kb.scancode_last_taken;
}

// --- Lock keys ----------------------------------------------------------------------------------------

void lock_key_source_set(lock_key_source source) {
    std::lock_guard guard(kb.lock);
    kb.source = source ? source : platform_key_states_read;
}

namespace {

platform_key_states lock_key_states_read() {
    lock_key_source source;
    {
        std::lock_guard guard(kb.lock);
        source = kb.source;
    }
    return source();
}

// A lock code of the held-key list follows its toggle: pressed when it comes on, released when it
// goes off, tagged with the code's number below 100000.
void lock_follow(int32_t code, bool on) {
    if (on == is_down(code)) return;
    if (on) press_tagged(code, code - 100000);
    else release_tagged(code, code - 100000);
    flags_update();
}

}  // namespace

void keyboard_lock_keys_sync() {
    platform_key_states states = lock_key_states_read();
    bool scroll_on = kb.scroll_lock_toggle.load();
    std::lock_guard guard(kb.lock);
    if (scroll_on != is_down(key_scroll_lock_on)) {
        held_toggle(key_scroll_lock_on);
        flags_update();
    }
    lock_follow(key_caps_lock, states.caps_lock);
    lock_follow(key_num_lock, states.num_lock);
}

// --- Start-up -------------------------------------------------------------------------------------------

void scancode_queue_init() {
    std::lock_guard guard(kb.lock);
    scancodes_clear();
}

void lock_keys_read() {
    platform_key_states states = lock_key_states_read();
    std::lock_guard guard(kb.lock);
    if (kb.scroll_lock_toggle.load()) held_add(key_scroll_lock_on);
    const std::pair<bool, int32_t> held_now[] = {
        {states.scroll_lock_key, key_scroll_lock}, {states.left_shift, key_left_shift},
        {states.right_shift, key_right_shift},     {states.left_ctrl, key_left_ctrl},
        {states.right_ctrl, key_right_ctrl},       {states.left_alt, key_left_alt},
        {states.right_alt, key_right_alt},         {states.caps_lock, key_caps_lock},
        {states.num_lock, key_num_lock},
    };
    for (const auto& [down, code] : held_now)
        if (down) press_tagged(code, code - 100000);
    flags_update();
}

void key_rings_reset() {
    std::lock_guard guard(kb.lock);
    kb.hit_read = kb.hit_write;
    bios_ring_clear();
}

void keyboard_reset() {
    std::lock_guard guard(kb.lock);
    kb.held_codes.clear();
    kb.held_tags.clear();
    kb.held_tag = 0;
    kb.swallowed.fill(0);
    kb.swallowed_top = -1;
    kb.hit_read = kb.hit_write = 0;
    scancodes_clear();
    kb.soft_key_typing = false;
    kb.last_raw_make = 0;
    kb.scroll_lock_key_down = false;
    kb.scroll_lock_toggle.store(false);
    kb.source = platform_key_states_read;
    kb.last_read_empty = false;
    for (uint32_t a = bios_flags_1; a < bios_ring_tail + 2; ++a) dos_byte_write(a, 0);
    for (uint32_t a = bios_area + bios_ring_first; a < bios_area + bios_ring_end; ++a) dos_byte_write(a, 0);
    dos_byte_write(bios_flags_3, 0);
    bios_ring_clear();
}
