#include "display/synth_input.h"

#include "core/strings.h"

namespace {

using platform::synth_key;

const synth_backend x11_backend{platform::x11_synth_pointer_move, platform::x11_synth_left_button,
                                platform::x11_synth_key, platform::x11_synth_char_key, platform::x11_synth_char};
const synth_backend* backend = &x11_backend;

constexpr uint8_t control_letter_offset = 64;

// The named key of the scan code after a character 0 (the two-byte key codes); false for others.
bool extended_key_of(uint8_t scan, synth_key& key) {
    switch (scan) {
        case 0x4B: key = synth_key::left; return true;
        case 0x4D: key = synth_key::right; return true;
        case 0x48: key = synth_key::up; return true;
        case 0x50: key = synth_key::down; return true;
        case 0x52: key = synth_key::insert; return true;
        case 0x47: key = synth_key::home; return true;
        case 0x53: key = synth_key::del; return true;
        case 0x4F: key = synth_key::end; return true;
        case 0x51: key = synth_key::page_down; return true;
        case 0x49: key = synth_key::page_up; return true;
        default: return false;
    }
}

class strokes {
public:
    void key(synth_key k, bool press) { out.push_back({false, k, 0, press}); }
    void type(synth_key k) {
        key(k, true);
        key(k, false);
    }
    void type_char(uint8_t c) {
        out.push_back({true, synth_key::tab, c, true});
        out.push_back({true, synth_key::tab, c, false});
    }
    // A key typed with a modifier held around it.
    template <class Typed>
    void with(synth_key modifier, Typed typed) {
        key(modifier, true);
        typed();
        key(modifier, false);
    }
    std::vector<synth_stroke> out;
};

}  // namespace

std::vector<synth_stroke> synth_strokes_of(const uint8_t* text, int32_t length,
                                           platform::synth_char_key (*lookup)(uint8_t c)) {
    strokes s;
    for (int32_t i = 0; i < length; ++i) {
        const uint8_t c = text[i];
        if (c == 9) {
            s.type(synth_key::tab);
        } else if (c == 8) {
            s.type(synth_key::backspace);
        } else if (c == 13) {
            s.type(synth_key::enter);
        } else if (c >= 1 && c <= 26) {
            const uint8_t letter = static_cast<uint8_t>(c + control_letter_offset);
            if (lookup(letter).found) s.with(synth_key::control, [&] { s.type_char(letter); });
        } else if (c == 0) {
            if (++i >= length) break;
            synth_key k;
            if (text[i] == 0x0F) s.with(synth_key::shift, [&] { s.type(synth_key::tab); });
            else if (extended_key_of(text[i], k)) s.type(k);
        } else if (c >= 32 && c <= 126) {
            platform::synth_char_key k = lookup(c);
            if (!k.found) continue;
            if (k.shift) s.with(synth_key::shift, [&] { s.type_char(c); });
            else s.type_char(c);
        }
    }
    return s.out;
}

void input_synth_click(int32_t x, int32_t y) {
    backend->pointer_move(x, y);
    backend->left_button(true);
    backend->left_button(false);
}

void input_synth_type(string_descriptor* text) {
    if (!text || text->length <= 0) return;
    for (const synth_stroke& s : synth_strokes_of(text->text, text->length, backend->char_key)) {
        if (s.is_char) backend->character(s.character, s.press);
        else backend->key(s.key, s.press);
    }
}

void synth_backend_set(const synth_backend* b) { backend = b ? b : &x11_backend; }
