// The keyboard's pieces on values of their own: the held-key list, the queues, the system-key
// decision and the BIOS column choice.
#include <gtest/gtest.h>

#include "display/bios_keyboard.h"
#include "display/held_keys.h"
#include "display/key_queues.h"
#include "display/key_table.h"
#include "display/keyboard_internal.h"

namespace {

TEST(HeldKeys, KeypadSevenAnswersForItsDigit) {
    held_keys keys;
    held_keys_add(keys, key_keypad_digit_0 + 7);
    EXPECT_TRUE(held_keys_has(keys, '7'));
    EXPECT_FALSE(held_keys_has(keys, '8'));
}

TEST(HeldKeys, TheTagIsUsedUpOnlyByAnAdd) {
    held_keys keys;
    keys.held_key_tag = 304;
    held_keys_add(keys, key_left_shift);
    held_keys_add(keys, 'a');
    EXPECT_EQ(keys.tags, (std::vector<int32_t>{304, 0}));
    keys.held_key_tag = 7;
    held_keys_add(keys, 'a');  // already held: the tag stays for the next add
    EXPECT_EQ(keys.held_key_tag, 7);
}

TEST(HeldKeys, ACharacterKeyLeavesUnderEveryCodeItWasPressedWith) {
    held_keys keys;
    held_keys_add(keys, 'A');
    EXPECT_EQ(held_keys_release_code(keys, 'a'), 'A');
    held_keys_add(keys, 'a');
    held_keys_add(keys, 'b');
    held_keys_remove_character_key(keys, 'A');
    EXPECT_EQ(keys.codes, (std::vector<int32_t>{'b'}));
}

TEST(HeldKeys, ModifiersCountEitherSide) {
    held_keys keys;
    EXPECT_FALSE(held_keys_modifiers(keys).shift);
    held_keys_add(keys, key_right_shift);
    held_keys_add(keys, key_left_alt);
    key_modifiers mods = held_keys_modifiers(keys);
    EXPECT_TRUE(mods.shift);
    EXPECT_FALSE(mods.ctrl);
    EXPECT_TRUE(mods.alt);
}

TEST(KeyQueues, AFullRingKeepsTheNewest) {
    newest_ring<int32_t, 3> ring;
    for (int32_t i = 1; i <= 5; ++i) ring.push(i);
    EXPECT_EQ(ring.pop(), 3);
    EXPECT_EQ(ring.pop(), 4);
    EXPECT_EQ(ring.pop(), 5);
    EXPECT_TRUE(ring.empty());
}

TEST(KeyQueues, TheScanCodeQueueDropsRepeatsAndAnswersTheLastByteWhenEmpty) {
    scan_byte_queue queue;
    EXPECT_EQ(scan_bytes_take(queue), 0x81);
    scan_bytes_push(queue, 30);
    scan_bytes_push(queue, 30);
    scan_bytes_push(queue, 158);
    EXPECT_EQ(queue.bytes.count, 2);
    EXPECT_EQ(scan_bytes_take(queue), 30);
    EXPECT_EQ(scan_bytes_take(queue), 158);
    EXPECT_EQ(scan_bytes_take(queue), 158);
}

TEST(SystemKeys, EachKeyAndStateHasItsAction) {
    struct system_key_case {
        const char* name;
        int32_t code;
        key_modifiers mods;
        bool paused;
        system_key_action want;
    };
    const key_modifiers ctrl{.ctrl = true}, alt{.alt = true};
    const system_key_case cases[] = {
        {"Break", key_break, {}, false, system_key_action::stop_or_close},
        {"Ctrl+Scroll Lock", key_scroll_lock, ctrl, false, system_key_action::stop_or_close},
        {"Ctrl+stop key", key_ctrl_stop, ctrl, true, system_key_action::stop_or_close},
        {"Scroll Lock alone", key_scroll_lock, {}, false, system_key_action::none},
        {"Pause", key_pause, {}, false, system_key_action::pause},
        {"Ctrl+Num Lock", key_num_lock, ctrl, false, system_key_action::pause},
        {"Num Lock alone", key_num_lock, {}, false, system_key_action::none},
        {"a key ends a pause", 'x', {}, true, system_key_action::pause_end},
        {"Alt+Enter ends a pause first", 13, alt, true, system_key_action::pause_end},
        {"Alt+Enter", 13, alt, false, system_key_action::fullscreen_step},
        {"Enter", 13, {}, false, system_key_action::none},
        {"Alt+x", 'x', alt, false, system_key_action::none},
    };
    for (const auto& c : cases) EXPECT_EQ(system_key_of(c.code, c.mods, c.paused), c.want) << c.name;
}

TEST(BiosKeyboard, TheColumnFollowsTheStrongestModifier) {
    struct column_case {
        key_modifiers mods;
        bool keypad_digit;
        int32_t want;
    };
    const column_case cases[] = {
        {{}, false, 0},          {{.shift = true}, false, 1},       {{.ctrl = true}, false, 2},
        {{.alt = true}, false, 3}, {{true, true, false}, false, 2},   {{true, true, true}, false, 3},
        {{}, true, 4},           {{.shift = true}, true, 7},        {{.ctrl = true}, true, 2},
        {{.alt = true}, true, 3},
    };
    for (const auto& c : cases)
        EXPECT_EQ(bios_state_of(c.mods, c.keypad_digit), c.want)
            << c.mods.shift << c.mods.ctrl << c.mods.alt << c.keypad_digit;
}

}  // namespace
