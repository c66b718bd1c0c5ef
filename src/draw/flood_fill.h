// Flood fills of the destination image: paint_fill on palette images, its two 32-bit forms
// (colours stored or blended) and the tiled fill. Each paints what the four orthogonal neighbours
// reach from the seed; only the border colour and the clip box stop it, so the paint colour is no
// barrier. Every reached pixel is painted exactly once, from its value before the fill. The tiled
// fill walks breadth-first, generation by generation; the one-colour fills walk by row runs, which
// paints the same picture. Program thread only; not re-entrant (one set of lists and maps serves
// every fill).
// Not here: the turtle's P command, which calls paint_fill (turtle.h).
#pragma once

#include <cstddef>
#include <cstdint>

struct string_descriptor;

// Flags of paint_fill and its 32-bit forms.
enum : uint32_t {
    fill_relative = 0x1,      // the seed is added to the graphics cursor
    fill_paint_given = 0x2,   // else the foreground colour
    fill_border_given = 0x4,  // else the border is the paint colour
    fill_tile_given = 0x8,    // refused: error 5
};

// The fill statement. The tile argument is never read.
void paint_fill(float x, float y, uint32_t paint, uint32_t border, string_descriptor* tile, uint32_t flags);
// The 32-bit forms, chosen by paint_fill by the image's blend_off; only for 32-bit images.
void paint_fill_32_blend(float x, float y, uint32_t paint, uint32_t border, uint32_t flags);
void paint_fill_32_store(float x, float y, uint32_t paint, uint32_t border, uint32_t flags);

// Flags of paint_tiled.
enum : uint32_t {
    tiled_relative = 0x1,
    tiled_tile_given = 0x2,  // required
    tiled_border_given = 0x4,
    tiled_background_given = 0x8,
};
// Paints every reached pixel with the pixel of a repeating tile at its place. Works on the
// destination image, which must have one byte per pixel (else error 5); the graphics cursor moves
// to the seed, draw_color stays.
void paint_tiled(float x, float y, string_descriptor* tile, uint32_t border, string_descriptor* background,
                 uint32_t flags);

// A decoded tile: tile_height rows of tile_width pixels.
struct tile_pattern {
    int32_t tile_width, tile_height;
    uint8_t pixel[64][8];
};
// bits per pixel 1, 2, 4 or 8; the caller has checked the length (1-256 bytes at 4 bits, 1-64 else).
tile_pattern tile_pattern_decode(const uint8_t* tile, int32_t length, int32_t bits);
// The background value of a background string (1-255 bytes), -1 when it names no single value.
int32_t tile_background_value(const uint8_t* background, int32_t length, int32_t bits);

// How the one-colour fills walk: by whole row runs, or generation by generation (the tiled fill
// always does). Both paint the same pixels the same way.
enum class fill_walk { spans, generations };
// Tests: the generation lists and the span stack start again with room for this many entries
// (they grow as needed), and the one-colour fills walk as asked.
void flood_fill_reset(size_t list_capacity, fill_walk walk = fill_walk::spans);
