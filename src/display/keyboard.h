// Keyboard input: every key press and release passes through key_down and key_up, which keep the
// held-key list, act on the system keys (Ctrl+Break, Pause, Alt+Enter), fire key traps and soft keys
// and post the key to the key-hit ring, the emulated BIOS keyboard buffer in dos_memory and the
// scan-code queue. The program thread reads those. Not here: the key codes and the translation
// table (key_table.h), the window system's keys (key_events.h), the keyboard device snapshots of the
// window hooks (the input devices').
//
// Writers are the main thread (window callbacks and hooks), the control thread (lock keys) and
// start-up; readers the program and control threads. One mutex keeps them apart; nothing waits
// while holding it.
#pragma once

#include <cstdint>

#include "platform/key_states.h"

struct string_descriptor;

// Entry points of key events (key codes of key_table.h).
void key_down(int32_t code);
void key_up(int32_t code);
void key_down_char(int32_t c);
void key_up_char(int32_t c);
void key_down_code(int32_t code);
void key_up_code(int32_t code);

// Queries (program thread).
int32_t key_is_down(int32_t code);
// -1 held, 0 not; a code below 1 raises error 5.
int32_t key_down_query(int32_t code);
// The oldest code of the key-hit ring (a release negated), 0 when empty. Never waits.
int32_t key_hit_pop();
// The oldest key of the BIOS keyboard buffer as a temporary string: "" when empty, the character,
// or 0 and the scan byte for a key without one.
string_descriptor* bios_key_buffer_read();
// Tests: the sleeps of bios_key_buffer_read since keyboard_reset, how many of them a wake had
// followed by their end, and the longest limit one had. Program thread.
struct bios_read_sleeps {
    uint64_t count = 0;
    uint64_t woken = 0;
    int64_t longest_limit_ms = 0;
};
bios_read_sleeps bios_key_read_sleeps();
// Sleeps until the BIOS keyboard buffer holds a key (it takes none); parks when the runtime shuts
// down. Program thread.
void bios_key_wait();

// The held-key list (tags: the value of the pending tag when a code was added).
void held_key_add(int32_t code);
void held_key_remove(int32_t code);
void held_key_release_by_tag(int32_t tag);
void bios_key_flags_update();

// The scan-code queue read by the emulated keyboard port: the oldest byte, removed; when empty the
// byte taken last (0x81 at start) again.
void scancode_queue_push_make(int32_t make);
void scancode_queue_push_break(int32_t make);
uint8_t scancode_queue_take();
int32_t scancode_queue_count();

// Where the Caps and Num Lock toggles and the held modifiers come from: the platform layer by
// default; tests put in their own. The Scroll Lock toggle is keyboard_scroll_lock_toggle (key_events.h).
using lock_key_source = platform_key_states (*)();
void lock_key_source_set(lock_key_source source);

// Control thread, every other turn: Scroll, Caps and Num Lock of the held-key list follow the
// keyboard's toggles.
void keyboard_lock_keys_sync();

// Start-up: the scan-code queue with its first byte 0x81.
void scancode_queue_init();
// Start-up: held lock and modifier keys as the keyboard has them now.
void lock_keys_read();
// Start-up: key-hit ring empty, BIOS keyboard buffer head and tail at 30.
void key_rings_reset();

// Tests: everything empty as before start-up (BIOS area of dos_memory included).
void keyboard_reset();
