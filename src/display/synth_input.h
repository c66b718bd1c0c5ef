// Synthesised input: a left click at a desktop position and the keystrokes that type a text, sent
// into the window system's input stream as if the user had made them; the window with the focus,
// normally the program's own, then sees them as real input. Which keystrokes a text gives is
// decided here, in a plain function; the window system's side is a small backend (the X11 one
// unless a test puts in its own). Neither statement looks at a pending error or reports a failure.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/x11_synth.h"

struct string_descriptor;

// One keystroke: a named key, or the key that types a character; pressed or released.
struct synth_stroke {
    bool is_char;
    platform::synth_key key;
    uint8_t character;
    bool press;
    bool operator==(const synth_stroke&) const = default;
};

// The keystrokes of a text. lookup tells how a character is typed; a character no key types
// sends nothing.
std::vector<synth_stroke> synth_strokes_of(const uint8_t* text, int32_t length,
                                           platform::synth_char_key (*lookup)(uint8_t c));

void input_synth_click(int32_t x, int32_t y);
void input_synth_type(string_descriptor* text);

struct synth_backend {
    void (*pointer_move)(int32_t x, int32_t y);
    void (*left_button)(bool press);
    void (*key)(platform::synth_key key, bool press);
    platform::synth_char_key (*char_key)(uint8_t c);
    void (*character)(uint8_t c, bool press);
};
// Tests: their own backend; null puts the X11 one back.
void synth_backend_set(const synth_backend* backend);
