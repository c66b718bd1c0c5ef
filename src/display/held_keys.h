// The held-key list: the codes of the keys that are down, each with the tag it was added under, and
// the questions asked of it (is a key down, under one of its aliases too; which modifiers are held;
// which code a character key was pressed under). A plain value: the keyboard keeps one under its
// lock, tests build their own. Not here: what a press or release does (keyboard.cpp).
#pragma once

#include <cstdint>
#include <vector>

struct held_keys {
    std::vector<int32_t> codes;
    std::vector<int32_t> tags;  // parallel to codes
    // held_key_tag: the tag of the next code added, then 0 again.
    int32_t held_key_tag = 0;
};

struct key_modifiers {
    bool shift = false;
    bool ctrl = false;
    bool alt = false;
};

// The code exactly, or -1.
int32_t held_keys_index(const held_keys& keys, int32_t code);
// The code itself, or its keypad alias (digits and operators with Num Lock on, grey keys with it off).
bool held_keys_has(const held_keys& keys, int32_t code);
// The alias under which a code may be held; 0 for none (the alias codes themselves have none).
int32_t key_alias(int32_t code);
key_modifiers held_keys_modifiers(const held_keys& keys);

// Adds the code with the pending tag unless it is held; the tag is used up only by an add.
void held_keys_add(held_keys& keys, int32_t code);
void held_keys_remove(held_keys& keys, int32_t code);
void held_keys_toggle(held_keys& keys, int32_t code);

// A character released under another character of its key (Shift or Caps Lock changed while it was
// down) is released under the code it was pressed with.
int32_t held_keys_release_code(const held_keys& keys, int32_t c);
// The character and every other character of the same key leave the list.
void held_keys_remove_character_key(held_keys& keys, int32_t c);
