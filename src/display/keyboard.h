// Keyboard input: key codes, held keys, the key-hit ring, the BIOS keyboard buffer, scan codes.
#pragma once

// Start-up: the scan-code queue with its first byte 0x81.
void scancode_queue_init();
// Start-up: held lock and modifier keys as the keyboard has them now.
void lock_keys_read();
// Start-up: key-hit ring empty, BIOS keyboard buffer head and tail at 30.
void key_rings_reset();
