// The keyboard's shared state, for the keyboard's own files only (keyboard, bios_keyboard,
// key_trap_match, key_events, lock_keys). One mutex guards it; functions ending in _locked expect
// kb.lock held. Nothing waits on another thread while holding it.
#pragma once

#include <array>
#include <cstdint>
#include <mutex>

#include "display/held_keys.h"
#include "display/key_queues.h"
#include "display/keyboard.h"

// swallowed_key_list: presses a trap or a soft key took, whose release is dropped too. A free
// entry is 0; entries up to top are in use.
constexpr int32_t swallowed_key_capacity = 256;
struct swallowed_keys {
    std::array<int32_t, swallowed_key_capacity> codes{};
    int32_t top = -1;
};

struct keyboard_data {
    held_keys held_key_list;
    swallowed_keys swallowed_key_list;
    key_code_ring key_hit_ring;
    scan_byte_queue scancode_queue;
    // Set while a soft key types its text: typed keys reach neither traps nor soft keys again.
    bool soft_key_typing = false;
    // From the window layer's raw keys: the make code of the last raw press (0 for an extended key),
    // and the Scroll Lock key and toggle, which the window system does not keep.
    int32_t last_raw_make = 0;
    bool scroll_lock_key_down = false;
    bool scroll_lock_toggle = false;
    lock_key_source source = nullptr;  // null: the platform
};

struct keyboard_state {
    std::mutex lock;
    keyboard_data data;
};
extern keyboard_state kb;

// keyboard.cpp: one press or release with the lock held.
void key_press_locked(int32_t code, bool from_unicode);
void key_release_locked(int32_t code);
// A press or release of a modifier or lock key under its tag (code - 100000), as start-up and the
// control thread make them.
void key_press_tagged_locked(int32_t code);
void key_release_tagged_locked(int32_t code);

// What the system keys do; decided in a pure function, acted on in keyboard.cpp.
enum class system_key_action { none, stop_or_close, pause, pause_end, fullscreen_step };
system_key_action system_key_of(int32_t code, key_modifiers mods, bool paused);

// key_trap_match.cpp: the swallowed keys and which trap or soft key takes a key.
void swallowed_keys_add(swallowed_keys& keys, int32_t code);
// True (and the entry freed) when the code was swallowed.
bool swallowed_keys_take(swallowed_keys& keys, int32_t code);
// The set-1 scan code under which user-defined key traps know a key; 0 for none.
int32_t key_trap_scan_of(int32_t code);
// The first armed trap that takes the key (by scan code and shift states, else by code), or -1.
int32_t key_trap_of(const held_keys& held, int32_t code, int32_t hit);
// The first soft-key text (not empty) defined for the key, or null.
const string_descriptor* soft_key_text_of(int32_t code, int32_t hit);
