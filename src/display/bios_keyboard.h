// The emulated BIOS keyboard area in dos_memory: the three shift-flag bytes, the 16-key ring at
// 0x41E with its head and tail words, and which column of a key's row the BIOS stores under the
// held modifiers. Writers hold the keyboard's lock. Not here: the key-hit ring and the scan-code
// queue (key_queues.h), the read of a key by the program (bios_key_buffer_read, keyboard.h).
#pragma once

#include <cstdint>

#include "display/held_keys.h"

// Flag bytes 0x417, 0x418 and 0x496 from the held keys.
void bios_flags_write(const held_keys& held);
// Column offset from the normal column: 0 none, 1 Shift, 2 Ctrl, 3 Alt, 4 a keypad digit, 7 a
// keypad digit with Shift; Ctrl before Shift, Alt before both.
int32_t bios_state_of(key_modifiers mods, bool keypad_digit);
// Stores a table value: 0 nothing, a value with bits 8-15 as (0, scan byte), else (value, make).
// A full ring drops the new key. Wakes a program waiting idle.
void bios_value_store_locked(int32_t value, int32_t make);
void bios_key_store_locked(uint8_t character, uint8_t scan);
bool bios_ring_empty();
// Takes the oldest key; false when the ring is empty.
bool bios_ring_take(uint8_t& character, uint8_t& scan);
// Head and tail at 30.
void bios_ring_clear();
// Flag bytes and ring cleared (tests).
void bios_area_clear();
