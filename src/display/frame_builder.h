// The picture-making pieces of the frame builder: the compare of a page with the builder's copy,
// palette expansion of 1- to 8-bit pixels, text cells drawn from the glyph tables, and the lines
// of the text cursor. Pure functions over memory; the slots and the decisions of when to build
// are in frames.cpp.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/vector_level.h"

// Lines of the text cursor inside a cell, counted from 0 at the top: first to last inclusive,
// none when first > last. s and e are the page's cursor start and stop lines, h the glyph height.
struct cursor_line_range {
    int32_t first;
    int32_t last;
};
cursor_line_range cursor_lines(int32_t s, int32_t e, int32_t h);

// The shown colours of a palette page: entry i of the 256 is the palette entry of i masked to the
// page's bits, with alpha 255 (bytes above the page's colours show what its pixels would).
void palette_expansion_table(const uint32_t* palette, int32_t bits_per_pixel, uint32_t table[256]);

// Index of the first byte where a and b differ; n when they are equal. The program may write the
// page meanwhile: the answer is always a byte this call read as differing, and a byte that differs
// for the whole call is never missed (nor one before it that differed when read).
size_t first_difference(const uint8_t* a, const uint8_t* b, size_t n);
// The search of one vector level: first_difference uses the processor's own; tests check every
// level it runs.
using first_difference_search = size_t (*)(const uint8_t* a, const uint8_t* b, size_t n);
first_difference_search first_difference_build_of(vector_level level);

// Expands n palette indices into 32-bit pixels through table, copying the indices into copy as
// they are read (so the copy holds exactly the bytes that were shown); the first `copied` indices
// already equal the copy and are not written to it again. table_colors (16 or 256) is the number
// of distinct entries the indices can reach.
void palette_expand(const uint8_t* src, uint8_t* copy, uint32_t* out, size_t n, const uint32_t table[256],
                    int32_t table_colors, size_t copied);
// The builds of the expansion: the plain loop, byte shuffles (tables of at most 16 colours only)
// and the AVX-512 byte permutes; a null copy takes no copy. palette_expand takes the fastest build
// this processor runs.
enum class palette_expand_build { plain, byte_shuffles, byte_permutes };
bool palette_expand_build_runs(palette_expand_build build);
void palette_expand_by(palette_expand_build build, const uint8_t* src, uint8_t* copy, uint32_t* out, size_t n,
                       const uint32_t table[256]);

// How one text page is drawn: glyph rows of 8 pixels (one byte per pixel, non-zero = ink),
// each drawn once or twice side by side.
struct text_glyph_layout {
    int32_t glyph_height;
    int32_t advance;      // 8 or 16 pixels
    int32_t first_row;    // 1 for the 14-row fonts cut from the 8x16 glyphs
    const uint8_t* glyphs;  // 256 glyphs of glyph_stride bytes, 8 bytes per row
    int32_t glyph_stride;
};
// Layout of a built-in font (8, 9, 14, 15, 16, 17); false for any other number.
bool text_glyph_layout_of(int32_t font, text_glyph_layout* layout);

// Draws one cell (ink in fore, paper in back) at pixel (x, y) of a picture of the given stride.
void text_cell_draw(uint32_t* picture, int32_t stride, int32_t x, int32_t y, const text_glyph_layout& layout,
                    uint8_t code, uint32_t fore, uint32_t back);
// Paints lines first to last of a cell in one colour over the full cell width.
void text_cursor_draw(uint32_t* picture, int32_t stride, int32_t x, int32_t y, const text_glyph_layout& layout,
                      cursor_line_range lines, uint32_t colour);
