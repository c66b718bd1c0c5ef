// The font table, the built-in fonts 8, 14 and 16 with their double-width forms 9, 15 and 17,
// font selection and queries, font loading (there is no font engine: loading fails with -1), the
// glyph drawing mode, graphics text and the pixel width of a text. Printing at the text cursor is
// text_output.h.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

struct image_record;
struct string_descriptor;

enum : int32_t {
    font_option_bold = 1,
    font_option_italic = 2,
    font_option_underline = 4,
    font_option_dontblend = 8,
    font_option_monospace = 16,
    font_option_unicode = 32,
};

// Parallel arrays indexed by font number (0 to highest_font_number). Program thread writes;
// the frame builder reads heights and widths of the built-in fonts.
struct font_table_arrays {
    std::vector<int64_t> engine_handle;  // 0 = none (64 bits: an engine may hand out pointers)
    std::vector<int32_t> height;         // glyph height in pixels
    std::vector<int32_t> width;          // advance width in pixels, 0 = proportional
    std::vector<int32_t> options;        // font_option_* bits
};
extern font_table_arrays font_table;
extern int32_t highest_font_number;

// One byte per pixel, 255 = ink, rows top down, in code page 437 order. Set at start-up.
constexpr int32_t glyph_bytes_8x8 = 64;
constexpr int32_t glyph_bytes_8x16 = 128;
extern uint8_t glyph_bitmap_8x8[256 * glyph_bytes_8x8];
extern uint8_t glyph_bitmap_8x16[256 * glyph_bytes_8x16];

// True for 8, 9, 14, 15, 16, 17.
bool font_is_builtin(int32_t font);
// First row (8 bytes) of the glyph of a built-in font; font 14 (15) is rows 1-14 of the 8x16 glyph.
const uint8_t* font_glyph(int32_t font, uint8_t code);
// Glyph height of any font number in the table, 0 outside it.
int32_t font_glyph_height(int32_t font);
// Advance width of any font number in the table, 0 (proportional) outside it.
int32_t font_advance_width(int32_t font);
// A font of the table that takes its text as 32-bit code points.
bool font_is_unicode(int32_t font);

void image_font_select(int32_t font, int32_t handle, int32_t handle_given);
int32_t font_width_get(int32_t font, int32_t font_given);
int32_t font_height_get(int32_t font, int32_t font_given);
int32_t image_font_get(int32_t handle, int32_t handle_given);
void image_glyph_mode_set(int32_t kind, int32_t handle, int32_t handle_given);
int32_t image_glyph_mode_get(int32_t handle, int32_t handle_given);
int32_t font_load_file(string_descriptor* file_name, int32_t height, string_descriptor* options, int32_t options_given);
int32_t font_load_file_flags(string_descriptor* file_name, int32_t height, int32_t option_bits);
// How font loading reads a file whole (false when it cannot): the file layer sets it at its
// start-up; until then no font file can be read.
using font_file_reader = bool (*)(std::string_view name, std::string& bytes);
void font_file_reader_set(font_file_reader read);
void font_free(int32_t font);
// flags: 1 = relative position (STEP), 2 = handle given.
void text_draw_at(float x, float y, string_descriptor* text, int32_t handle, int32_t flags);
int32_t text_pixel_width(string_descriptor* text, int32_t handle, int32_t handle_given);

// The font engine is absent: every entry reports failure.
int64_t font_engine_load(const void* bytes, int64_t size, int32_t height, int32_t index, int32_t options);
int32_t font_engine_render_text8(int64_t engine, const uint8_t* text, int32_t length, int32_t options,
                                 uint8_t** coverage, int32_t* width, int32_t* height, int32_t* out1, int32_t* out2);
int32_t font_engine_render_text32(int64_t engine, const uint32_t* text, int32_t length, int32_t options,
                                  uint8_t** coverage, int32_t* width, int32_t* height, int32_t* out1, int32_t* out2);
int32_t font_engine_fixed_width(int64_t engine);
void font_engine_free(int64_t engine);

// Text for a font as UTF-16 units in a reused buffer; returns the bytes written.
int32_t font_text_to_utf16(int32_t font, const uint8_t* text, int32_t length, const uint16_t** out);

// Start-up: heights and advance widths of the built-in fonts.
void font_metrics_init();
// Start-up: the glyph bitmaps from the packed built-in glyph data.
void glyph_bitmaps_load();
