#include "screen/glyph_raster.h"

#include <algorithm>

#include "screen/fonts.h"
#include "screen/image_pool.h"
#include "screen/pixels.h"

namespace {

// The part of a glyph cell inside the clip box.
struct glyph_cell {
    const uint8_t* glyph;        // rows of 8 bytes, non-zero = ink
    int64_t x, y;                // top-left pixel of the cell
    int32_t gx0, gx1, gy0, gy1;  // visible columns and rows of the cell, half-open
};

template <bool doubled>
void cell_draw(image_record* r, const glyph_cell& g) {
    const pixel_writer writer(r);
    const uint32_t ink_colour = static_cast<uint32_t>(r->fore_color), paper_colour = r->back_color;
    const bool ink_on = r->print_mode & 1, paper_on = r->print_mode & 2;
    for (int32_t gy = g.gy0; gy < g.gy1; ++gy) {
        const uint8_t* bits = g.glyph + gy * 8;
        const auto y = static_cast<int32_t>(g.y + gy);
        for (int32_t gx = g.gx0; gx < g.gx1; ++gx) {
            bool ink = bits[doubled ? gx / 2 : gx] != 0;
            if (ink ? ink_on : paper_on) writer.write(static_cast<int32_t>(g.x + gx), y, ink ? ink_colour : paper_colour);
        }
    }
}

// The usual case, a whole 8-pixel cell on an 8-bit image with ink and paper: every pixel is stored.
void cell_store_8bit(image_record* r, const glyph_cell& g) {
    const auto ink = static_cast<uint8_t>(static_cast<uint32_t>(r->fore_color) & r->color_mask);
    const auto paper = static_cast<uint8_t>(r->back_color & r->color_mask);
    for (int32_t gy = g.gy0; gy < g.gy1; ++gy) {
        const uint8_t* bits = g.glyph + gy * 8;
        uint8_t* p = r->pixels + size_t(g.y + gy) * r->width + size_t(g.x);
        for (int32_t gx = 0; gx < 8; ++gx) p[gx] = bits[gx] ? ink : paper;
    }
}

int32_t visible_from(int64_t cell_start, int64_t box_start, int32_t extent) {
    return static_cast<int32_t>(std::clamp<int64_t>(box_start - cell_start, 0, extent));
}
int32_t visible_to(int64_t cell_start, int64_t box_end, int32_t extent) {
    return static_cast<int32_t>(std::clamp<int64_t>(box_end + 1 - cell_start, 0, extent));
}

}  // namespace

pixel_box image_pixel_box(const image_record* r) { return {0, 0, int64_t{r->width} - 1, int64_t{r->height} - 1}; }

void glyph_raster(image_record* r, uint8_t code, int64_t x, int64_t y, const pixel_box& clip) {
    // Loaded fonts would come from a font engine; there is none, so only the built-in fonts draw.
    if (r->is_text || !font_is_builtin(r->font) || r->print_mode < 1 || r->print_mode > 3) return;
    const bool doubled = font_advance_width(r->font) == 16;
    const int32_t width = doubled ? 16 : 8, height = font_glyph_height(r->font);
    glyph_cell g{font_glyph(r->font, code), x, y, visible_from(x, clip.x1, width), visible_to(x, clip.x2, width),
                 visible_from(y, clip.y1, height), visible_to(y, clip.y2, height)};
    if (g.gx0 >= g.gx1 || g.gy0 >= g.gy1) return;
    if (r->bytes_per_pixel == 1 && r->print_mode == 3 && !doubled && g.gx0 == 0 && g.gx1 == 8)
        return cell_store_8bit(r, g);
    if (doubled) cell_draw<true>(r, g);
    else cell_draw<false>(r, g);
}
