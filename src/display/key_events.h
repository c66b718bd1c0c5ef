// The window system's keys: freeglut's character and special keys, Unicode code points, and the
// raw keys of the window layer (scan codes, which also keep the Scroll Lock toggle that the window
// system does not have). They become key codes for key_down and key_up (keyboard.h). Main thread.
#pragma once

#include <cstdint>

// A Unicode code point: through code page 437 where it has an 8-bit code, else code | 0x40000000.
void key_down_unicode(int32_t code_point);
void key_up_unicode(int32_t code_point);

// The window system's character keys (0-255) and special keys; down 1 press, 0 release.
void key_char_event(int32_t key, int32_t down);
void key_special_event(int32_t key, int32_t down);
void glut_keyboard_down_callback(unsigned char key, int x, int y);
void glut_keyboard_up_callback(unsigned char key, int x, int y);
void glut_special_down_callback(int key, int x, int y);
void glut_special_up_callback(int key, int x, int y);

// Raw key messages of the window layer, each before the character or special callback that the
// same key causes: the scan code (set-1 make code, + 256 for an extended key) and 1 press /
// 0 release. The keyboard remembers the last pressed key for Ctrl combinations that the window
// system turns into control characters, and keeps the Scroll Lock toggle.
void keyboard_raw_key(int32_t scan, int32_t down);
// The Scroll Lock toggle kept from raw presses.
bool keyboard_scroll_lock_toggle();
