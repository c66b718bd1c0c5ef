#include "screen/text_view.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "core/strings.h"
#include "screen/boxes.h"
#include "screen/fonts.h"
#include "screen/screen_fixture.h"
#include "screen/view.h"

namespace {

using TextView = screen_test;

text_cell* cells(image_record& r) { return reinterpret_cast<text_cell*>(r.pixels); }

void text_put(image_record& r, int32_t row, const std::string& text) {
    for (size_t i = 0; i < text.size(); ++i) cells(r)[size_t(row - 1) * r.width + i] = {uint8_t(text[i]), 0x1E};
}

TEST_F(TextView, ViewRows) {
    image_record& p = page(0);
    struct row {
        int32_t top, bottom, given;
        int32_t error, view_top, view_bottom;
    };
    const row rows[] = {{5, 20, 1, 0, 5, 20}, {0, 10, 1, 5, 1, 24},  {10, 5, 1, 5, 1, 24}, {5, 26, 1, 5, 1, 24},
                        {25, 25, 1, 0, 25, 25}, {9, 9, 0, 0, 1, 25}, {26, 26, 1, 5, 1, 24}};
    for (const row& r : rows) {
        p.view_top = 1;
        p.view_bottom = 24;
        p.cursor_row = 7;
        p.cursor_column = 9;
        p.pending_newline = 1;
        text_view_set(r.top, r.bottom, r.given);
        EXPECT_EQ(raised(), r.error) << r.top << "-" << r.bottom;
        EXPECT_EQ(p.view_top, r.view_top);
        EXPECT_EQ(p.view_bottom, r.view_bottom);
        EXPECT_EQ(p.cursor_row, r.error ? 7 : r.view_top);
        EXPECT_EQ(p.cursor_column, r.error ? 9 : 1);
        EXPECT_EQ(p.pending_newline, r.error ? 1 : 0);
    }
}

TEST_F(TextView, ClearingATextPageByKind) {
    image_record& p = page(0);
    struct row {
        int32_t kind, flags;
        std::string cleared_rows;  // one letter per row 1-25: c cleared, k kept
    };
    const std::string all(25, 'c'), none(25, 'k');
    const row rows[] = {
        {0, 0, "kkcccccccccckkkkkkkkkkkkc"},  // no kind: the view (3-12) and the last row
        {0, 1, all},
        {1, 1, none},
        {2, 1, "kkcccccccccckkkkkkkkkkkkk"},
    };
    for (const row& r : rows) {
        std::fill(cells(p), cells(p) + 2000, text_cell{32, 0x07});
        for (int32_t row = 1; row <= 25; ++row) text_put(p, row, "ROW");
        p.view_top = 3;
        p.view_bottom = 12;
        p.fore_color = 23;  // bright grey, blinking
        p.back_color = 1;
        p.cursor_row = 9;
        p.cursor_column = 9;
        p.pending_newline = 1;
        dest_clear(r.kind, 0, r.flags);
        ASSERT_EQ(raised(), 0);
        for (int32_t row = 1; row <= 25; ++row) {
            const bool cleared = r.cleared_rows[size_t(row - 1)] == 'c';
            for (int32_t column = 1; column <= 80; ++column) {
                const text_cell cell = cells(p)[size_t(row - 1) * 80 + size_t(column - 1)];
                const text_cell want = cleared ? text_cell{32, 0x97}
                                       : column <= 3 ? text_cell{uint8_t("ROW"[column - 1]), 0x1E}
                                                     : text_cell{32, 0x07};
                ASSERT_EQ(cell.code, want.code) << "kind " << r.kind << " row " << row << " column " << column;
                ASSERT_EQ(cell.attribute, want.attribute) << "kind " << r.kind << " row " << row;
            }
        }
        EXPECT_EQ(p.cursor_row, 3);
        EXPECT_EQ(p.cursor_column, 1);
        EXPECT_EQ(p.pending_newline, 1);
    }
    dest_clear(0, 6, 3);  // a given colour becomes the background
    EXPECT_EQ(cells(p)[0].attribute, 0xE7);
    dest_clear(3, 0, 1);
    EXPECT_EQ(raised(), 5);
}

TEST_F(TextView, ClearingTheTextViewOfAGraphicsPage) {
    image_record& g = dest_new(64, 100, 9, true);  // font 14
    std::memset(g.pixels, 5, image_pixel_bytes(&g));
    g.view_top = 3;
    g.view_bottom = 5;
    dest_clear(2, 9, 3);
    for (int32_t y = 0; y < 100; ++y) {
        EXPECT_EQ(g.pixels[size_t(y) * 64 + 17], y >= 28 && y <= 69 ? 9 : 5) << y;
    }
    dest_clear(0, 16, 3);  // above the colour mask
    EXPECT_EQ(raised(), 5);
}

TEST_F(TextView, ClearingAGraphicsPageCentresTheGraphicsCursor) {
    image_record& g = dest_new(640, 350, 9, true);
    g.back_color = 4;
    g.cursor_x = g.cursor_y = 3;
    dest_clear(0, 0, 0);
    EXPECT_EQ(g.pixels[0], 4);
    EXPECT_EQ(g.pixels[640 * 350 - 1], 4);
    EXPECT_FLOAT_EQ(g.cursor_x, 320);
    EXPECT_FLOAT_EQ(g.cursor_y, 175);

    // With a window the cursor is in window units: the middle of (0,0)-(100,100) is (50,50).
    image_record& w = dest_new(640, 480, 12, true);
    graphics_window_set(0, 0, 100, 100, 1);
    dest_clear(1, 2, 3);
    EXPECT_NEAR(w.cursor_x, 50, 0.2);
    EXPECT_NEAR(w.cursor_y, 50, 0.2);
    EXPECT_EQ(w.pixels[0], 2);
    graphics_window_set(-10, -10, 10, 10, 1);
    dest_clear(0, 0, 1);
    EXPECT_NEAR(w.cursor_x, 0, 0.05);
    EXPECT_NEAR(w.cursor_y, 0, 0.05);
}

TEST_F(TextView, ClearingAThirtyTwoBitImageStoresTheColourUnblended) {
    image_record& g = dest_new(8, 8, 32, true);
    dest_clear(0, 0x80FF0000, 3);
    uint32_t first;
    std::memcpy(&first, g.pixels, 4);
    EXPECT_EQ(first, 0x80FF0000u);
    EXPECT_EQ(g.blend_off, 0);
}

TEST_F(TextView, CursorPlacement) {
    image_record& p = page(0);
    struct row {
        int32_t row, column, visible, start, stop, flags;
        int32_t error;
    };
    const row refused[] = {{0, 1, 0, 0, 0, 1, 5},  {1, 0, 0, 0, 0, 2, 5},  {1, 81, 0, 0, 0, 2, 5},
                           {1, 1, 2, 0, 0, 4, 5},  {1, 1, -1, 0, 0, 4, 5}, {1, 1, 0, 32, 0, 8, 5},
                           {1, 1, 0, 0, -1, 16, 5}, {3, 90, 0, 0, 0, 3, 5}};
    for (const row& r : refused) {
        p.cursor_row = 4;
        p.cursor_column = 4;
        cursor_place(r.row, r.column, r.visible, r.start, r.stop, r.flags);
        EXPECT_EQ(raised(), r.error) << r.row << "," << r.column << " flags " << r.flags;
        EXPECT_EQ(p.cursor_row, 4);
        EXPECT_EQ(p.cursor_column, 4);
    }
    cursor_place(25, 80, 0, 0, 0, 3);  // the last row, below the view
    EXPECT_EQ(raised(), 0);
    EXPECT_EQ(p.cursor_row, 25);
    EXPECT_EQ(p.cursor_column, 80);

    p.pending_newline = 1;
    cursor_place(0, 0, 1, 0, 0, 4);  // neither row nor column: the deferred newline is kept
    EXPECT_EQ(p.pending_newline, 2);
    cursor_place(0, 5, 0, 0, 0, 2);
    EXPECT_EQ(p.pending_newline, 0);

    screen_page_get(3);
    cursor_place(0, 0, 1, 6, 0, 4 | 8);
    for (int32_t n : {0, 3}) {
        EXPECT_EQ(page(n).cursor_visible, 1) << n;
        EXPECT_EQ(page(n).cursor_start_line, 6) << n;
        EXPECT_EQ(page(n).cursor_stop_line, 4) << n;  // the destination's own stop line goes along
    }
}

TEST_F(TextView, RowBelowTheViewSwitchesOnceToFiftyRows) {
    row50_switch_armed = 1;
    text_put(page(0), 1, "HELLO");
    text_put(page(0), 25, "LAST");
    page(0).fore_color = 14;
    page(0).back_color = 1;
    cursor_place(30, 10, 0, 0, 0, 3);
    ASSERT_EQ(raised(), 0);
    image_record& p = page(0);
    EXPECT_EQ(p.width, 80);
    EXPECT_EQ(p.height, 50);
    EXPECT_EQ(p.font, 8);
    EXPECT_EQ(text_rows(p, 1, 1)[0].substr(0, 5), "HELLO");
    EXPECT_EQ(text_rows(p, 25, 25)[0].substr(0, 4), "LAST");
    EXPECT_EQ(p.fore_color, 14);
    EXPECT_EQ(p.back_color, 1u);
    EXPECT_EQ(dest_image, &p);
    EXPECT_EQ(p.cursor_row, 30);
    EXPECT_EQ(p.cursor_column, 10);
    EXPECT_EQ(row50_switch_armed, 0);
    p.view_bottom = 20;
    cursor_place(30, 1, 0, 0, 0, 1);
    EXPECT_EQ(raised(), 5);
}

TEST_F(TextView, TextDrawAtThatSwitchesToFiftyRowsLeavesTheNewPageZeroAsDestination) {
    screen_mode_set(0, 0, 1, 0, 0, 1 | 4);  // page 1 active: the rebuild hands its slot to another page
    ASSERT_EQ(dest_image_index, screen_page_table[1]);
    page(1).cursor_row = 3;
    page(1).cursor_column = 4;
    row50_switch_armed = 1;
    uint8_t x = 'X';
    string_descriptor text{};
    text.text = &x;
    text.length = 1;
    text_draw_at(2, 30, &text, 0, 0);
    ASSERT_EQ(raised(), 0);
    ASSERT_EQ(page(0).height, 50);
    EXPECT_EQ(dest_image_index, screen_page_table[0]);
    EXPECT_EQ(text_rows(page(0), 30, 30)[0].substr(0, 3), " X ");
    EXPECT_EQ(page(0).cursor_row, 3);  // the cursor put back where the text went
    EXPECT_EQ(page(0).cursor_column, 4);
}

TEST_F(TextView, ARefusedFiftyRowSwitchUsesUpItsOneChance) {
    const struct {
        const char* name;
        int32_t row, column, flags;
        bool on_graphics_image;
    } refusals[] = {{"row above 50", 51, 1, 1, false},
                    {"column outside the page", 30, 81, 3, false},
                    {"graphics image as destination", 30, 1, 1, true}};
    for (const auto& r : refusals) {
        row50_switch_armed = 1;
        if (r.on_graphics_image) dest_new(320, 200, 13);  // 25 rows, the view ends at row 24
        cursor_place(r.row, r.column, 0, 0, 0, r.flags);
        EXPECT_EQ(raised(), 5) << r.name;
        EXPECT_EQ(row50_switch_armed, 0) << r.name;
        dest_slot_select(screen_page_table[0]);
        cursor_place(30, 1, 0, 0, 0, 1);  // a row the switch would have allowed
        EXPECT_EQ(raised(), 5) << r.name;
        EXPECT_EQ(page(0).height, 25) << r.name;
    }
}

TEST_F(TextView, FiftyRowSwitchKeepsTheTextOfAFortyColumnScreen) {
    pending_text_columns = 40;
    screen_mode_set(0, 0, 0, 0, 0, 1);
    ASSERT_EQ(page(0).width, 40);
    text_put(page(0), 2, "FORTY");
    row50_switch_armed = 1;
    cursor_place(40, 0, 0, 0, 0, 1);
    ASSERT_EQ(raised(), 0);
    EXPECT_EQ(page(0).width, 80);
    EXPECT_EQ(text_rows(page(0), 2, 2)[0].substr(0, 6), "FORTY ");
}

TEST_F(TextView, RowBelowTheViewOfAGraphicsPageIsRefused) {
    screen_mode_set(9, 0, 0, 0, 0, 1);
    row50_switch_armed = 1;
    cursor_place(25, 1, 0, 0, 0, 1);  // the last row of 25
    EXPECT_EQ(raised(), 0);
    cursor_place(26, 1, 0, 0, 0, 1);
    EXPECT_EQ(raised(), 5);
    EXPECT_EQ(page(0).mode, 9);
}

TEST_F(TextView, ReadingATextPage) {
    image_record& p = page(0);
    cells(p)[81] = {'Q', 0x4E};
    EXPECT_EQ(screen_char_read(2, 2, 0, 0), 'Q');
    EXPECT_EQ(screen_char_read(2, 2, 1, 1), 0x4E);
    EXPECT_EQ(screen_char_read(2, 2, 0, 1), 'Q');
    for (auto [row, column] : {std::pair{0, 1}, {26, 1}, {1, 0}, {1, 81}}) {
        EXPECT_EQ(screen_char_read(row, column, 0, 0), 0);
        EXPECT_EQ(raised(), 5) << row << "," << column;
    }
}

// The code a cell showing glyph c reads back as: the first glyph with its ink, or a space.
int32_t code_read_back(int32_t font, int32_t c) {
    const int32_t bytes = font == 8 ? 64 : font * 8;
    auto glyph = [&](int32_t code) {
        const uint8_t* base = font == 8 ? glyph_bitmap_8x8 + code * 64 : glyph_bitmap_8x16 + code * 128;
        return std::string(reinterpret_cast<const char*>(base + (font == 14 ? 8 : 0)), size_t(bytes));
    };
    const std::string mine = glyph(c);
    if (mine.find_first_not_of('\0') == std::string::npos) return 32;
    for (int32_t code = 0;; ++code) {
        if (glyph(code) == mine) return code;
    }
}

void glyph_paint(image_record& g, int32_t font, int32_t row, int32_t column, int32_t code, uint32_t ink,
                 uint32_t paper) {
    for (int32_t y = 0; y < font; ++y) {
        for (int32_t x = 0; x < 8; ++x) {
            const uint8_t* glyph = font == 8 ? glyph_bitmap_8x8 + code * 64 : glyph_bitmap_8x16 + code * 128;
            const bool on = glyph[(font == 14 ? y + 1 : y) * 8 + x] != 0;
            const size_t at = size_t((row - 1) * font + y) * g.width + size_t((column - 1) * 8 + x);
            const uint32_t v = on ? ink : paper;
            if (g.bytes_per_pixel == 1) {
                g.pixels[at] = uint8_t(v);
            } else {
                std::memcpy(g.pixels + at * 4, &v, 4);
            }
        }
    }
}

TEST_F(TextView, EveryGlyphReadsBackFromAGraphicsPage) {
    struct row {
        int32_t mode, font;
        uint32_t ink, paper;
    };
    const row rows[] = {{13, 8, 14, 0},      {13, 14, 14, 0},     {13, 16, 14, 0},
                        {32, 8, 0xFFFFFF55, 0xFF000000}, {32, 16, 0xFF00FF00, 0x00000000}};
    for (const row& r : rows) {
        image_record& g = dest_new(256 * 8, r.font, r.mode, true);
        g.font = r.font;
        for (int32_t c = 0; c < 256; ++c) glyph_paint(g, r.font, 1, c + 1, c, r.ink, r.paper);
        for (int32_t c = 0; c < 256; ++c) {
            const int32_t want = code_read_back(r.font, c);
            ASSERT_EQ(screen_char_read(1, c + 1, 0, 0), want) << "mode " << r.mode << " font " << r.font << " code " << c;
            ASSERT_EQ(uint32_t(screen_char_read(1, c + 1, 1, 1)), want == 32 ? 1 : r.ink) << "code " << c;
        }
    }
}

TEST_F(TextView, ReadingAGraphicsPageNeedsABuiltInFontAndACellInside) {
    image_record& g = dest_new(64, 32, 13, true);
    EXPECT_EQ(screen_char_read(4, 8, 0, 0), 32);  // empty cell
    EXPECT_EQ(screen_char_read(4, 8, 1, 1), 1);
    EXPECT_EQ(raised(), 0);
    EXPECT_EQ(screen_char_read(5, 1, 0, 0), 0);
    EXPECT_EQ(raised(), 5);
    EXPECT_EQ(screen_char_read(1, 9, 0, 0), 0);
    EXPECT_EQ(raised(), 5);
    g.font = 9;
    EXPECT_EQ(screen_char_read(1, 1, 0, 0), 0);
    EXPECT_EQ(raised(), 5);
}

}  // namespace
