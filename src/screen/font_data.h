// The packed built-in glyphs (generated into font_data.cpp by tools/extract_fonts.py): one byte per
// glyph row, leftmost pixel in the high bit, code page 437 order.
#pragma once

#include <cstdint>

extern const uint8_t glyph_packed_8x8[256 * 8];
extern const uint8_t glyph_packed_8x16[256 * 16];
