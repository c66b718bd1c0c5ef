// Drawing one glyph of a built-in font into a graphics image: the glyph's cell at a pixel position,
// cut to a box of the image's pixels, ink and paper by the image's print mode, each pixel by the
// image's write rule (pixels.h). Double-width fonts draw each glyph column twice. Used by printing
// at the text cursor and by graphics text alike. Not here: where glyphs go (text_output.h,
// fonts.h), text images (their cells hold codes, not pixels).
#pragma once

#include <cstdint>

#include "screen/view.h"

struct image_record;

// Draws glyph `code` of the image's font with its cell's top-left pixel at (x, y); only the pixels
// inside `clip` (inclusive, within the image) are written. Fonts without glyphs draw nothing.
void glyph_raster(image_record* r, uint8_t code, int64_t x, int64_t y, const pixel_box& clip);
// The whole image as a clip box.
pixel_box image_pixel_box(const image_record* r);
