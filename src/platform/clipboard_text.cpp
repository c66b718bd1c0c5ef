#include "platform/clipboard_text.h"

#include <cstdint>

namespace platform {

namespace {

constexpr uint32_t latin1_last = 0xFF;
constexpr char no_8bit_form = '?';

bool is_continuation(unsigned char c) { return (c & 0xC0) == 0x80; }

// The length of the well-formed sequence that starts text, 0 when none does.
size_t sequence_length(std::string_view text) {
    auto byte = [&](size_t i) { return static_cast<unsigned char>(text[i]); };
    unsigned char lead = byte(0);
    if (lead < 0x80) return 1;
    size_t length = lead >= 0xC2 && lead <= 0xDF ? 2 : lead >= 0xE0 && lead <= 0xEF ? 3 : lead >= 0xF0 && lead <= 0xF4 ? 4 : 0;
    if (length == 0 || text.size() < length) return 0;
    // After E0 and F0 the second byte's low values would be overlong forms; after ED its high
    // values are surrogates, after F4 code points beyond U+10FFFF.
    unsigned char low = lead == 0xE0 ? 0xA0 : lead == 0xF0 ? 0x90 : 0x80;
    unsigned char high = lead == 0xED ? 0x9F : lead == 0xF4 ? 0x8F : 0xBF;
    if (byte(1) < low || byte(1) > high) return 0;
    for (size_t i = 2; i < length; ++i)
        if (!is_continuation(byte(i))) return 0;
    return length;
}

uint32_t code_point_of(std::string_view sequence) {
    constexpr unsigned char lead_bits[] = {0, 0x7F, 0x1F, 0x0F, 0x07};
    uint32_t code = static_cast<unsigned char>(sequence[0]) & lead_bits[sequence.size()];
    for (size_t i = 1; i < sequence.size(); ++i) code = code << 6 | (static_cast<unsigned char>(sequence[i]) & 0x3F);
    return code;
}

}  // namespace

std::string utf8_of_latin1(std::string_view text) {
    std::string out;
    for (unsigned char c : text) {
        if (c < 0x80) out += static_cast<char>(c);
        else out += {static_cast<char>(0xC0 | c >> 6), static_cast<char>(0x80 | (c & 0x3F))};
    }
    return out;
}

std::string latin1_of_utf8(std::string_view text) {
    std::string out;
    for (size_t i = 0; i < text.size();) {
        size_t length = sequence_length(text.substr(i));
        if (length == 0) {
            out += no_8bit_form;
            ++i;
            continue;
        }
        uint32_t code = code_point_of(text.substr(i, length));
        out += code <= latin1_last ? static_cast<char>(code) : no_8bit_form;
        i += length;
    }
    return out;
}

}  // namespace platform
