// The map between the PC's 8-bit character codes (code page 437) and Unicode, changeable at run time,
// and the conversion of texts to 16- or 32-bit units through it. It holds no glyphs (fonts.h): text
// pages and the built-in fonts use the 8-bit codes as they are.
#pragma once

#include <array>
#include <cstdint>

extern std::array<uint16_t, 256> cp437_unicode_map;

// Code point 0-65535 and code 0-255, else error 5.
void cp437_map_set(int32_t code_point, int32_t code);
int32_t cp437_map_get(int32_t code);
// The first code mapped to the code point; 0 when none is.
int32_t cp437_from_unicode(int32_t code_point);
// Input kind 1 (8-bit codes through the map), 16 or 32 (units as they are); output kind 16 or 32.
// A zero unit ends the output, which is terminated by a zero unit. Returns the bytes written without
// the terminator; 0 for other kinds. The output must hold (input units + 1) units.
int32_t text_to_unicode(int32_t input_kind, const void* input, int32_t input_bytes, int32_t output_kind, void* output);
// n + 1; part of the runtime's interface, no caller in the runtime.
int32_t int_plus_one(int32_t n);

// Tests: back to the initial map.
void cp437_map_reset();
