// Synthesised input through the X server's XTest extension, on a connection of the calling
// (program) thread's own, opened on first use: pointer moves in desktop pixels, the left button,
// named keys and the key that types a character. The events go to whatever window has the focus.
// Without a display nothing is sent. What to send for a text is decided elsewhere
// (display/synth_input.h).
#pragma once

#include <cstdint>

namespace platform {

enum class synth_key : uint8_t {
    tab, backspace, enter, control, shift, left, right, up, down, insert, home, del, end, page_down, page_up,
};

// How a character is typed: whether a key types it, and whether with Shift.
struct synth_char_key {
    bool found = false;
    bool shift = false;
};

void x11_synth_pointer_move(int32_t x, int32_t y);
void x11_synth_left_button(bool press);
void x11_synth_key(synth_key key, bool press);
synth_char_key x11_synth_char_key(uint8_t c);
// The key that types c, pressed or released (Shift is the caller's).
void x11_synth_char(uint8_t c, bool press);

}  // namespace platform
