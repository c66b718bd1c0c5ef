// Every key of a PC keyboard through the window-system layer (raw scan code, then the character or
// special-key callback as X11 delivers it), with and without Shift, Ctrl, Alt, Caps Lock and Num
// Lock: the code in the key-hit ring, the BIOS word (scan * 256 + character) and the scan codes.
#include <GL/freeglut.h>

#include <algorithm>
#include <cstdlib>
#include <string>

#include "display/key_table.h"
#include "display/keyboard_fixture.h"

namespace {

enum modifiers : int { none = 0, shift = 1, ctrl = 2, alt = 4, caps = 8, num = 16 };

platform_key_states lock_states;
platform_key_states current_locks() { return lock_states; }

class key_codes : public keyboard_test {
protected:
    void SetUp() override {
        keyboard_test::SetUp();
        lock_states = {};
        lock_key_source_set(current_locks);
    }

    void locks(int m) {
        lock_states.caps_lock = (m & caps) != 0;
        lock_states.num_lock = (m & num) != 0;
        keyboard_lock_keys_sync();
    }

    static void modifier(int glut_key, int scan, int down) {
        keyboard_raw_key(scan, down);
        key_special_event(glut_key, down);
    }
    static void modifiers_set(int m, int down) {
        if (m & shift) modifier(GLUT_KEY_SHIFT_L, 42, down);
        if (m & ctrl) modifier(GLUT_KEY_CTRL_L, 29, down);
        if (m & alt) modifier(GLUT_KEY_ALT_L, 56, down);
    }
};

// What X11 hands over for a character under Ctrl (its control-character rules).
int x11_ctrl(int c) {
    if ((c >= '@' && c < 127) || c == ' ') return c & 0x1F;
    if (c == '2') return 0;
    if (c >= '3' && c <= '7') return c - '3' + 27;
    if (c == '8') return 127;
    if (c == '/') return 31;
    return c;
}

struct character_key {
    int make;
    int normal, shifted;
    // Expected BIOS words with no modifier, Shift, Ctrl, Alt; 0 = no BIOS key.
    int word[4];
};

// The keys that are not letters.
const character_key symbol_keys[] = {
    {1, 27, 27, {0x011B, 0x011B, 0x011B, 0}},
    {2, '1', '!', {0x0231, 0x0221, 0, 0x7800}},
    {3, '2', '@', {0x0332, 0x0340, 0x0300, 0x7900}},
    {4, '3', '#', {0x0433, 0x0423, 0, 0x7A00}},
    {5, '4', '$', {0x0534, 0x0524, 0, 0x7B00}},
    {6, '5', '%', {0x0635, 0x0625, 0, 0x7C00}},
    {7, '6', '^', {0x0736, 0x075E, 0x071E, 0x7D00}},
    {8, '7', '&', {0x0837, 0x0826, 0, 0x7E00}},
    {9, '8', '*', {0x0938, 0x092A, 0, 0x7F00}},
    {10, '9', '(', {0x0A39, 0x0A28, 0, 0x8000}},
    {11, '0', ')', {0x0B30, 0x0B29, 0, 0x8100}},
    {12, '-', '_', {0x0C2D, 0x0C5F, 0x0C1F, 0x8200}},
    {13, '=', '+', {0x0D3D, 0x0D2B, 0, 0x8300}},
    {14, 8, 8, {0x0E08, 0x0E08, 0x0E7F, 0x0E00}},
    {15, 9, 9, {0x0F09, 0x0F00, 0x9400, 0}},
    {26, '[', '{', {0x1A5B, 0x1A7B, 0x1A1B, 0x1A00}},
    {27, ']', '}', {0x1B5D, 0x1B7D, 0x1B1D, 0x1B00}},
    {28, 13, 13, {0x1C0D, 0x1C0D, 0x1C0A, -1}},  // Alt+Enter switches full screen instead
    {39, ';', ':', {0x273B, 0x273A, 0, 0x2700}},
    {40, '\'', '"', {0x2827, 0x2822, 0, 0x2800}},
    {41, '`', '~', {0x2960, 0x297E, 0, 0x2900}},
    {43, '\\', '|', {0x2B5C, 0x2B7C, 0x2B1C, 0x2B00}},
    {51, ',', '<', {0x332C, 0x333C, 0, 0x3300}},
    {52, '.', '>', {0x342E, 0x343E, 0, 0x3400}},
    {53, '/', '?', {0x352F, 0x353F, 0, 0x3500}},
    {57, ' ', ' ', {0x3920, 0x3920, 0x3920, 0}},
};

std::vector<character_key> all_character_keys() {
    std::vector<character_key> keys(std::begin(symbol_keys), std::end(symbol_keys));
    const std::pair<const char*, int> letter_rows[] = {{"qwertyuiop", 16}, {"asdfghjkl", 30}, {"zxcvbnm", 44}};
    for (const auto& [letters, first_make] : letter_rows) {
        for (int i = 0; letters[i]; ++i) {
            int c = letters[i], make = first_make + i;
            keys.push_back({make, c, c - 32, {make * 256 + c, make * 256 + c - 32, make * 256 + c - 'a' + 1, make * 256}});
        }
    }
    return keys;
}

bool is_letter(int c) { return c >= 'a' && c <= 'z'; }

TEST_F(key_codes, EveryCharacterKeyWithEveryModifier) {
    const int states[] = {none, shift, ctrl, alt, caps, caps | shift, num, num | shift, caps | ctrl};
    for (const character_key& k : all_character_keys()) {
        for (int m : states) {
            SCOPED_TRACE("make " + std::to_string(k.make) + " modifiers " + std::to_string(m));
            locks(m);
            drain();
            modifiers_set(m, 1);
            bool upper = ((m & shift) != 0) != ((m & caps) != 0 && is_letter(k.normal));
            int delivered = ((m & shift) != 0) ? k.shifted : k.normal;
            if ((m & caps) && is_letter(k.normal)) delivered = upper ? k.shifted : k.normal;
            if (m & ctrl) delivered = x11_ctrl(delivered);
            // Shift+Tab is a key without a character for X: only its raw key comes.
            bool raw_only = k.normal == 9 && (m & shift);
            keyboard_raw_key(k.make, 1);
            if (!raw_only) key_char_event(delivered, 1);
            keyboard_raw_key(k.make, 0);
            if (!raw_only) key_char_event(delivered, 0);
            modifiers_set(m, 0);

            int column = (m & alt) ? 3 : (m & ctrl) ? 2 : upper ? 1 : 0;
            if (!is_letter(k.normal) && (m & shift) && !(m & (ctrl | alt))) column = 1;
            int expected = k.word[column];
            if (expected < 0) {
                EXPECT_TRUE(bios().empty());
                continue;
            }
            std::vector<int32_t> words = bios();
            if (expected == 0) EXPECT_TRUE(words.empty());
            else EXPECT_EQ(words, std::vector<int32_t>{expected});

            // The ring holds the key's press and release between the modifiers'.
            std::vector<int32_t> codes = ring();
            std::vector<int32_t> key_codes_only;
            for (int32_t c : codes)
                if (std::abs(c) < 256) key_codes_only.push_back(c);
            ASSERT_EQ(key_codes_only.size(), 2u);
            EXPECT_EQ(key_codes_only[0], -key_codes_only[1]);
            EXPECT_EQ(key_is_down(key_codes_only[0]), 0);  // released, whatever Shift did meanwhile

            std::vector<int32_t> bytes = scans();
            std::vector<int32_t> key_bytes;
            for (int32_t b : bytes)
                if ((b & 0x7F) == k.make) key_bytes.push_back(b);
            EXPECT_EQ(key_bytes, (std::vector<int32_t>{k.make, k.make + 128}));
        }
    }
}

struct special_key {
    int glut_key;  // or 0 for Delete, which comes as character 127
    int raw_scan;
    int code;
    int word[4];  // none, Shift, Ctrl, Alt
};

const special_key special_keys[] = {
    {GLUT_KEY_F1, 59, 0x3B00, {0x3B00, 0x5400, 0x5E00, 0x6800}},
    {GLUT_KEY_F2, 60, 0x3C00, {0x3C00, 0x5500, 0x5F00, 0x6900}},
    {GLUT_KEY_F3, 61, 0x3D00, {0x3D00, 0x5600, 0x6000, 0x6A00}},
    {GLUT_KEY_F4, 62, 0x3E00, {0x3E00, 0x5700, 0x6100, 0x6B00}},
    {GLUT_KEY_F5, 63, 0x3F00, {0x3F00, 0x5800, 0x6200, 0x6C00}},
    {GLUT_KEY_F6, 64, 0x4000, {0x4000, 0x5900, 0x6300, 0x6D00}},
    {GLUT_KEY_F7, 65, 0x4100, {0x4100, 0x5A00, 0x6400, 0x6E00}},
    {GLUT_KEY_F8, 66, 0x4200, {0x4200, 0x5B00, 0x6500, 0x6F00}},
    {GLUT_KEY_F9, 67, 0x4300, {0x4300, 0x5C00, 0x6600, 0x7000}},
    {GLUT_KEY_F10, 68, 0x4400, {0x4400, 0x5D00, 0x6700, 0x7100}},
    {GLUT_KEY_F11, 87, 0x8500, {0x8500, 0x8500, 0x8900, 0x8B00}},
    {GLUT_KEY_F12, 88, 0x8600, {0x8600, 0x8600, 0x8A00, 0x8C00}},
    {GLUT_KEY_HOME, 0x147, 0x4700, {0x4700, 0x4700, 0x7700, 0x9700}},
    {GLUT_KEY_UP, 0x148, 0x4800, {0x4800, 0x4800, 0x8D00, 0x9800}},
    {GLUT_KEY_PAGE_UP, 0x149, 0x4900, {0x4900, 0x4900, 0x8400, 0x9900}},
    {GLUT_KEY_LEFT, 0x14B, 0x4B00, {0x4B00, 0x4B00, 0x7300, 0x9B00}},
    {GLUT_KEY_RIGHT, 0x14D, 0x4D00, {0x4D00, 0x4D00, 0x7400, 0x9D00}},
    {GLUT_KEY_END, 0x14F, 0x4F00, {0x4F00, 0x4F00, 0x7500, 0x9F00}},
    {GLUT_KEY_DOWN, 0x150, 0x5000, {0x5000, 0x5000, 0x9100, 0xA000}},
    {GLUT_KEY_PAGE_DOWN, 0x151, 0x5100, {0x5100, 0x5100, 0x7600, 0xA100}},
    {GLUT_KEY_INSERT, 0x152, 0x5200, {0x5200, 0x5200, 0x9200, 0xA200}},
    {0, 0x153, 0x5300, {0x5300, 0x5300, 0x9300, 0xA300}},
};

TEST_F(key_codes, EveryExtendedKeyGivesItsTwoByteCodes) {
    const int states[] = {none, shift, ctrl, alt, caps, num};
    for (const special_key& k : special_keys) {
        for (int m : states) {
            SCOPED_TRACE("code " + std::to_string(k.code) + " modifiers " + std::to_string(m));
            locks(m);
            drain();
            modifiers_set(m, 1);
            keyboard_raw_key(k.raw_scan, 1);
            if (k.glut_key) key_special_event(k.glut_key, 1);
            else key_char_event(127, 1);
            keyboard_raw_key(k.raw_scan, 0);
            if (k.glut_key) key_special_event(k.glut_key, 0);
            else key_char_event(127, 0);
            modifiers_set(m, 0);

            int column = (m & alt) ? 3 : (m & ctrl) ? 2 : (m & shift) ? 1 : 0;
            EXPECT_EQ(bios(), std::vector<int32_t>{k.word[column]});
            std::vector<int32_t> codes = ring();
            std::vector<int32_t> key_only;
            for (int32_t c : codes)
                if (std::abs(c) == k.code) key_only.push_back(c);
            EXPECT_EQ(key_only, (std::vector<int32_t>{k.code, -k.code}));
            int make = (k.code >> 8) == 0x85 ? 87 : (k.code >> 8) == 0x86 ? 88 : k.code >> 8;
            std::vector<int32_t> bytes = scans();
            std::vector<int32_t> key_bytes;
            for (int32_t b : bytes)
                if ((b & 0x7F) == make) key_bytes.push_back(b);
            EXPECT_EQ(key_bytes, (std::vector<int32_t>{make, make + 128}));
        }
    }
}

TEST_F(key_codes, InsertAloneTogglesInsertMode) {
    for (int i = 0; i < 2; ++i) {
        key_special_event(GLUT_KEY_INSERT, 1);
        EXPECT_EQ(key_is_down(200012), i == 0 ? 1 : 0);
        EXPECT_EQ((dos_memory[0x417] & 0x80) != 0, i == 0);
        EXPECT_EQ(dos_memory[0x418] & 0x80, 0x80);  // the Insert key itself is held
        key_special_event(GLUT_KEY_INSERT, 0);
        EXPECT_EQ(dos_memory[0x418] & 0x80, 0);
    }
    key_down_code(100304);
    key_down_code(0x5200);  // with Shift: no toggle
    EXPECT_EQ(key_is_down(200012), 0);
}

// Keypad keys as X11 delivers them: with Num Lock on (or off with Shift) the character, else the
// grey key's special key; keypad 5 without Num Lock gives nothing.
struct keypad_key {
    int make;
    int character;
    int glut_key;  // -1: none
    int with_num_lock, without;  // BIOS words
};

const keypad_key keypad_keys[] = {
    {82, '0', GLUT_KEY_INSERT, 0x0B30, 0x5200},    {79, '1', GLUT_KEY_END, 0x0231, 0x4F00},
    {80, '2', GLUT_KEY_DOWN, 0x0332, 0x5000},      {81, '3', GLUT_KEY_PAGE_DOWN, 0x0433, 0x5100},
    {75, '4', GLUT_KEY_LEFT, 0x0534, 0x4B00},      {76, '5', -1, 0x0635, -1},
    {77, '6', GLUT_KEY_RIGHT, 0x0736, 0x4D00},     {71, '7', GLUT_KEY_HOME, 0x0837, 0x4700},
    {72, '8', GLUT_KEY_UP, 0x0938, 0x4800},        {73, '9', GLUT_KEY_PAGE_UP, 0x0A39, 0x4900},
    {83, '.', GLUT_KEY_DELETE, 0x342E, 0x5300},
};

TEST_F(key_codes, KeypadKeysFollowNumLock) {
    for (const keypad_key& k : keypad_keys) {
        for (int m : {int{none}, int{num}, int{shift}, num | shift}) {
            SCOPED_TRACE("make " + std::to_string(k.make) + " modifiers " + std::to_string(m));
            locks(m);
            drain();
            modifiers_set(m, 1);
            bool as_character = ((m & num) != 0) != ((m & shift) != 0);
            keyboard_raw_key(k.make, 1);
            if (as_character) key_char_event(k.character, 1);
            else if (k.glut_key >= 0) key_special_event(k.glut_key, 1);
            keyboard_raw_key(k.make, 0);
            if (as_character) key_char_event(k.character, 0);
            else if (k.glut_key >= 0) key_special_event(k.glut_key, 0);
            modifiers_set(m, 0);
            int expected = as_character ? k.with_num_lock : k.without;
            std::vector<int32_t> words = bios();
            if (expected < 0) EXPECT_TRUE(words.empty());
            else EXPECT_EQ(words, std::vector<int32_t>{expected});
        }
    }
}

TEST_F(key_codes, KeypadOperatorsAreTheirCharacters) {
    const std::pair<int, int> operators[] = {{'/', 0x352F}, {'*', 0x092A}, {'-', 0x0C2D}, {'+', 0x0D2B}, {13, 0x1C0D}};
    for (const auto& [character, word] : operators) {
        key_char_event(character, 1);
        key_char_event(character, 0);
        EXPECT_EQ(bios(), std::vector<int32_t>{word});
    }
}

// The keypad codes themselves, as a translated program or another layer presses them.
struct keypad_code {
    int code;
    int hit;
    int word[4];  // none, Shift, Ctrl, Alt; 0 = no BIOS key
};

const keypad_code keypad_codes[] = {
    {100256, '0', {0x5230, 0x5200, 0x9200, 0}}, {100257, '1', {0x4F31, 0x4F00, 0x7500, 0}},
    {100258, '2', {0x5032, 0x5000, 0x9100, 0}}, {100259, '3', {0x5133, 0x5100, 0x7600, 0}},
    {100260, '4', {0x4B34, 0x4B00, 0x7300, 0}}, {100261, '5', {0x4C35, 0x4C00, 0x8F00, 0}},
    {100262, '6', {0x4D36, 0x4D00, 0x7400, 0}}, {100263, '7', {0x4737, 0x4700, 0x7700, 0}},
    {100264, '8', {0x4838, 0x4800, 0x8D00, 0}}, {100265, '9', {0x4939, 0x4900, 0x8400, 0}},
    {100266, '.', {0x532E, 0x5300, 0x9300, 0}}, {100267, '/', {0x352F, 0x352F, 0x9500, 0xA400}},
    {100268, '*', {0x372A, 0x372A, 0x9600, 0x3700}}, {100269, '-', {0x4A2D, 0x4A2D, 0x8E00, 0x4A00}},
    {100270, '+', {0x4E2B, 0x4E2B, 0x9000, 0x4E00}}, {100271, 13, {0x1C0D, 0x1C0D, 0x1C0A, 0xA600}},
    {200000, 0x5200, {0x5200, 0x5230, 0x9200, 0}}, {200001, 0x4F00, {0x4F00, 0x4F31, 0x7500, 0}},
    {200002, 0x5000, {0x5000, 0x5032, 0x9100, 0}}, {200003, 0x5100, {0x5100, 0x5133, 0x7600, 0}},
    {200004, 0x4B00, {0x4B00, 0x4B34, 0x7300, 0}}, {200005, 0x4C00, {0x4C00, 0x4C35, 0x8F00, 0}},
    {200006, 0x4D00, {0x4D00, 0x4D36, 0x7400, 0}}, {200007, 0x4700, {0x4700, 0x4737, 0x7700, 0}},
    {200008, 0x4800, {0x4800, 0x4838, 0x8D00, 0}}, {200009, 0x4900, {0x4900, 0x4939, 0x8400, 0}},
    {200010, 0x5300, {0x5300, 0x532E, 0x9300, 0}},
};

TEST_F(key_codes, KeypadCodesGiveTheirHitCodesAndBiosWords) {
    const int mods[] = {none, shift, ctrl, alt};
    for (const keypad_code& k : keypad_codes) {
        for (int i = 0; i < 4; ++i) {
            SCOPED_TRACE("code " + std::to_string(k.code) + " modifier column " + std::to_string(i));
            drain();
            modifiers_set(mods[i], 1);
            key_down_code(k.code);
            EXPECT_EQ(key_is_down(k.hit), 1);
            key_up_code(k.code);
            modifiers_set(mods[i], 0);
            std::vector<int32_t> words = bios();
            if (k.word[i] == 0) EXPECT_TRUE(words.empty());
            else EXPECT_EQ(words, std::vector<int32_t>{k.word[i]});
            std::vector<int32_t> codes = ring();
            std::vector<int32_t> key_only;
            for (int32_t c : codes)
                if (c == k.hit || c == -k.hit) key_only.push_back(c);
            EXPECT_EQ(key_only, (std::vector<int32_t>{k.hit, -k.hit}));
            int make = key_translation_table[key_table_row(k.code)][1];
            std::vector<int32_t> bytes = scans();
            EXPECT_NE(std::find(bytes.begin(), bytes.end(), make), bytes.end());
            EXPECT_NE(std::find(bytes.begin(), bytes.end(), make + 128), bytes.end());
        }
    }
}

TEST_F(key_codes, CtrlLettersWithoutARawKeyAreTheLetters) {
    key_down_code(100306);
    key_char_event(1, 1);
    key_char_event(1, 0);
    key_down_code(100304);
    key_char_event(26, 1);
    key_char_event(26, 0);
    key_char_event(10, 1);  // Ctrl+Enter as some window systems hand it over
    key_char_event(10, 0);
    EXPECT_EQ(bios(), (std::vector<int32_t>{0x1E01, 0x2C1A, 0x1C0A}));
    std::vector<int32_t> codes = ring();
    EXPECT_EQ(codes[1], 'a');
    EXPECT_EQ(codes[4], 'Z');
}

TEST_F(key_codes, CtrlOnKeypadDigitsIsNoControlCharacter) {
    // X11 turns Ctrl+keypad 8 (Num Lock on) into 127; it must not become the Delete key.
    key_down_code(100306);
    keyboard_raw_key(72, 1);
    key_char_event(127, 1);
    EXPECT_EQ(key_is_down(0x5300), 0);
    EXPECT_EQ(key_is_down('8'), 1);
}

TEST_F(key_codes, ModifierKeysGiveTheirCodesAndMakeCodes) {
    const std::pair<int, int> keys[] = {{GLUT_KEY_SHIFT_L, 100304}, {GLUT_KEY_SHIFT_R, 100303},
                                        {GLUT_KEY_CTRL_L, 100306},  {GLUT_KEY_CTRL_R, 100305},
                                        {GLUT_KEY_ALT_L, 100308},   {GLUT_KEY_ALT_R, 100307}};
    const int makes[] = {42, 54, 29, 29, 56, 56};
    int i = 0;
    for (const auto& [glut_key, code] : keys) {
        key_special_event(glut_key, 1);
        EXPECT_EQ(key_is_down(code), 1);
        key_special_event(glut_key, 0);
        EXPECT_EQ(key_is_down(code), 0);
        EXPECT_EQ(ring(), (std::vector<int32_t>{code, -code}));
        EXPECT_EQ(scans(), (std::vector<int32_t>{makes[i], makes[i] + 128}));
        EXPECT_TRUE(bios().empty());
        ++i;
    }
    // Keys the keyboard does not know are ignored.
    key_special_event(GLUT_KEY_BEGIN, 1);
    key_special_event(GLUT_KEY_NUM_LOCK, 1);
    EXPECT_TRUE(ring().empty());
}

}  // namespace
