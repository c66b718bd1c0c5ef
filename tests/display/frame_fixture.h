// Test fixture for the frame builder: images made in the pool and put on display directly, the
// renderer's turn at the slots taken by the test, and pictures of pages computed here from the
// glyph tables and palettes, independently of the builder.
#pragma once

#include <gtest/gtest.h>

#include <set>
#include <vector>

#include "display/display_control.h"
#include "display/frames.h"
#include "display/window.h"
#include "screen/image_fixture.h"

struct frame_test : image_test {
    void SetUp() override {
        image_test::SetUp();
        software_frames_reset();
        display_control_reset();
        window_hidden = 0;
    }
    void TearDown() override {
        display_image = nullptr;
        software_frames_reset();
        image_test::TearDown();
    }

    static image_record& shown_image(int32_t width, int32_t height, int32_t mode) {
        int32_t slot = image_new(width, height, mode);
        EXPECT_NE(slot, 0);
        display_image_index = slot;
        display_image = &image_pool[slot];
        return image_pool[slot];
    }

    static std::vector<uint32_t> pixels_of(const software_frame& f) {
        return {f.pixels, f.pixels + size_t(f.width) * size_t(f.height)};
    }
};

// The renderer's turn: the newest ready frame becomes shown, every older ready or shown one free.
inline void renderer_take() {
    bool newly_shown = false;
    software_frame_show_newest(newly_shown);
}

// A text page drawn from scratch: glyphs of the page's font, colours from its palette with alpha
// 255, blinking cells hidden in the on phase, the cursor in the rows given.
struct text_picture {
    int32_t width;
    int32_t height;
    std::vector<uint32_t> pixels;
};

inline text_picture text_page_picture(const image_record& page, int32_t tick, const std::set<int32_t>& cursor_rows) {
    const int32_t font = page.font;
    const int32_t h = font == 8 || font == 9 ? 8 : font == 14 || font == 15 ? 14 : 16;
    const bool wide = font == 9 || font == 15 || font == 17;
    const int32_t advance = wide ? 16 : 8;
    const bool phase = (tick >> 3) & 1;
    text_picture out{page.width * advance, page.height * h, {}};
    out.pixels.assign(size_t(out.width) * size_t(out.height), 0);
    auto colour = [&](uint32_t i) { return page.palette[i] | 0xFF000000u; };
    int32_t cursor_column = page.cursor_column - 1, cursor_row = page.cursor_row - 1;
    if (page.pending_newline == 2 && cursor_row != page.height - 1) {
        cursor_column = 0;
        ++cursor_row;
    }
    const auto* cells = reinterpret_cast<const text_cell*>(page.pixels);
    for (int32_t row = 0; row < page.height; ++row) {
        for (int32_t column = 0; column < page.width; ++column) {
            const text_cell cell = cells[row * page.width + column];
            const uint32_t back = (cell.attribute >> 4) & 7;
            const uint32_t fore = (cell.attribute & 0x80) && phase ? back : cell.attribute & 15;
            const bool cursor_here = page.cursor_visible && phase && row == cursor_row && column == cursor_column;
            for (int32_t y = 0; y < h; ++y) {
                const int32_t glyph_row = font == 14 || font == 15 ? y + 1 : y;
                const uint8_t* bits = h == 8 ? &glyph_bitmap_8x8[cell.code * 64 + glyph_row * 8]
                                             : &glyph_bitmap_8x16[cell.code * 128 + glyph_row * 8];
                for (int32_t x = 0; x < advance; ++x) {
                    uint32_t c = bits[wide ? x / 2 : x] ? colour(fore) : colour(back);
                    if (cursor_here && cursor_rows.count(y)) c = colour(cell.attribute & 15);
                    out.pixels[size_t(row * h + y) * size_t(out.width) + size_t(column * advance + x)] = c;
                }
            }
        }
    }
    return out;
}

// A palette page expanded through its palette, alpha 255.
inline std::vector<uint32_t> palette_page_picture(const image_record& page) {
    std::vector<uint32_t> out(size_t(page.width) * page.height);
    for (size_t i = 0; i < out.size(); ++i) out[i] = page.palette[page.pixels[i]] | 0xFF000000u;
    return out;
}
