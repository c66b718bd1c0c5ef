#include "screen/fonts.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "core/strings.h"
#include "files/file_open.h"
#include "screen/font_data.h"
#include "screen/image_fixture.h"
#include "screen/modes.h"

namespace {

// A descriptor over test text; the font functions only read it.
struct text_arg {
    std::string bytes;
    string_descriptor d{};
    explicit text_arg(std::string s) : bytes(std::move(s)) {
        d.text = reinterpret_cast<uint8_t*>(bytes.data());
        d.length = int32_t(bytes.size());
    }
    string_descriptor* operator&() { return &d; }
};

// Ink of glyph row and column as the extracted font data holds it.
bool packed_ink(int32_t font, int code, int row, int column) {
    if (font == 8) return glyph_packed_8x8[code * 8 + row] >> (7 - column) & 1;
    int first = font == 14 ? 1 : 0;
    return glyph_packed_8x16[code * 16 + row + first] >> (7 - column) & 1;
}

std::vector<uint8_t> glyph_of(int32_t font, int code) {
    const uint8_t* g = font_glyph(font, uint8_t(code));
    return {g, g + 8 * font_glyph_height(font)};
}

using Fonts = image_test;

TEST_F(Fonts, BuiltInMetrics) {
    struct row {
        int32_t font, height, width;
    };
    for (row r : {row{8, 8, 8}, row{14, 14, 8}, row{16, 16, 8}, row{9, 8, 16}, row{15, 14, 16}, row{17, 16, 16}}) {
        EXPECT_EQ(font_table.height[size_t(r.font)], r.height) << r.font;
        EXPECT_EQ(font_table.width[size_t(r.font)], r.width) << r.font;
        EXPECT_EQ(font_table.options[size_t(r.font)], font_option_monospace) << r.font;
        EXPECT_EQ(font_table.engine_handle[size_t(r.font)], 0) << r.font;
    }
    EXPECT_EQ(highest_font_number, 48);
    EXPECT_EQ(font_table.height.size(), 49u);
    for (int32_t font : {0, 7, 10, 13, 18, 32, 48}) EXPECT_EQ(font_table.height[size_t(font)], 0) << font;
}

TEST_F(Fonts, GlyphTablesHoldTheExtractedGlyphsAsInkBytes) {
    for (int32_t font : {8, 14, 16}) {
        for (int code = 0; code < 256; ++code) {
            const uint8_t* g = font_glyph(font, uint8_t(code));
            for (int row = 0; row < font; ++row)
                for (int column = 0; column < 8; ++column)
                    ASSERT_EQ(g[row * 8 + column], packed_ink(font, code, row, column) ? 255 : 0)
                        << "font " << font << " code " << code;
        }
        EXPECT_EQ(glyph_of(font + 1, 65), glyph_of(font, 65));  // the double-width forms share them
    }
}

// Guards against a wrong extraction offset: blanks are exactly 0, 32 and 255, all others differ.
TEST_F(Fonts, GlyphDataLooksLikeThePcCharacterSet) {
    for (int32_t font : {8, 14, 16}) {
        std::set<std::vector<uint8_t>> seen;
        std::set<int> blanks;
        for (int code = 0; code < 256; ++code) {
            std::vector<uint8_t> g = glyph_of(font, code);
            if (std::all_of(g.begin(), g.end(), [](uint8_t b) { return b == 0; }))
                blanks.insert(code);
            else
                EXPECT_TRUE(seen.insert(g).second) << "font " << font << " code " << code;
        }
        EXPECT_EQ(blanks, (std::set<int>{0, 32, 255})) << font;
        std::vector<uint8_t> full = glyph_of(font, 219);
        EXPECT_TRUE(std::all_of(full.begin(), full.end(), [](uint8_t b) { return b == 255; })) << font;
    }
    const char* a16[] = {"........", "........", "...#....", "..###...", ".##.##..", "##...##.", "##...##.", "#######.",
                         "##...##.", "##...##.", "##...##.", "##...##.", "........", "........", "........", "........"};
    const uint8_t* g = font_glyph(16, 'A');
    for (int row = 0; row < 16; ++row)
        for (int column = 0; column < 8; ++column)
            EXPECT_EQ(g[row * 8 + column] != 0, a16[row][column] == '#') << row << "," << column;
}

TEST_F(Fonts, EveryGlyphOfEveryBuiltInFontDraws) {
    for (int32_t font : {8, 9, 14, 15, 16, 17}) {
        SCOPED_TRACE(font);
        int32_t scale = font_table.width[size_t(font)] / 8;
        int32_t rows = font_table.height[size_t(font)];
        int32_t single = scale == 2 ? font - 1 : font;
        int32_t slot = image_new(256 * 8 * scale, rows, 13);
        image_record& r = image_pool[slot];
        image_font_set(font, &r);
        r.fore_color = 15;
        r.back_color = 1;
        dest_image_select(-slot);
        std::string all(256, ' ');
        for (int code = 0; code < 256; ++code) all[size_t(code)] = char(code);
        text_arg text(all);
        text_draw_at(0, 0, &text, 0, 0);
        EXPECT_EQ(error_number, 0);
        for (int code = 0; code < 256; ++code)
            for (int row = 0; row < rows; ++row)
                for (int x = 0; x < 8 * scale; ++x) {
                    uint8_t want = packed_ink(single, code, row, x / scale) ? 15 : 1;
                    ASSERT_EQ(r.pixels[size_t(row) * r.width + size_t(code * 8 * scale + x)], want)
                        << "code " << code << " row " << row << " column " << x;
                }
    }
}

TEST_F(Fonts, TextDrawAtPlacesClipsAndKeepsTheCursor) {
    int32_t slot = image_new(320, 200, 13);
    image_record& r = image_pool[slot];
    dest_image_select(-slot);
    r.fore_color = 14;
    r.back_color = 2;
    text_arg ab("AB");
    auto cell_matches = [&](int code, int x0, int y0) {
        for (int row = 0; row < 8; ++row)
            for (int column = 0; column < 8; ++column)
                if (r.pixels[size_t(y0 + row) * 320 + size_t(x0 + column)] != (packed_ink(8, code, row, column) ? 14 : 2))
                    return false;
        return true;
    };
    text_draw_at(10, 20, &ab, 0, 0);
    EXPECT_TRUE(cell_matches('A', 10, 20));
    EXPECT_TRUE(cell_matches('B', 18, 20));
    EXPECT_EQ(r.pixels[20 * 320 + 9], 0);
    EXPECT_EQ(r.pixels[20 * 320 + 26], 0);
    EXPECT_EQ(r.cursor_x, 10.0f);
    EXPECT_EQ(r.cursor_y, 20.0f);

    std::memset(r.pixels, 0, 64000);
    r.cursor_x = 100;
    r.cursor_y = 100;
    text_draw_at(10, 20, &ab, -slot, 1 | 2);
    EXPECT_TRUE(cell_matches('A', 110, 120));
    EXPECT_EQ(r.cursor_x, 110.0f);
    EXPECT_EQ(r.cursor_y, 120.0f);

    // Ink only, background only; and the clip box cuts the glyph.
    std::memset(r.pixels, 0, 64000);
    image_glyph_mode_set(2, 0, 0);
    text_arg a("A");
    text_draw_at(0, 0, &a, 0, 0);
    image_glyph_mode_set(3, 0, 0);
    text_draw_at(8, 0, &a, 0, 0);
    r.clip_x1 = 17;
    r.clip_y2 = 3;
    image_glyph_mode_set(1, 0, 0);
    text_draw_at(16, 0, &a, 0, 0);
    for (int row = 0; row < 8; ++row)
        for (int column = 0; column < 8; ++column) {
            bool ink = packed_ink(8, 'A', row, column);
            EXPECT_EQ(r.pixels[size_t(row) * 320 + size_t(column)], ink ? 14 : 0);
            EXPECT_EQ(r.pixels[size_t(row) * 320 + 8 + size_t(column)], ink ? 0 : 2);
            bool clipped = column < 1 || row > 3;
            EXPECT_EQ(r.pixels[size_t(row) * 320 + 16 + size_t(column)], clipped ? 0 : ink ? 14 : 2);
        }

    // Glyphs past the image's edges are cut off, never written outside its pixels.
    int32_t tiny = image_new(3, 3, 32);
    text_arg w("WW");
    text_draw_at(-2, -4, &w, -tiny, 2);
    text_draw_at(2, 1, &w, -tiny, 2);
    EXPECT_EQ(error_number, 0);
    text_arg empty("");
    text_draw_at(0, 0, &empty, 0, 0);
    text_draw_at(0, 0, &a, -(tiny + 1), 2);
    EXPECT_EQ(raised(), 258);
}

TEST_F(Fonts, TextDrawAtOnATextImagePrintsAtACellAndPutsTheCursorBack) {
    int32_t page = image_new(80, 25, 0);
    int32_t other = image_new(40, 10, 0);
    dest_image_select(-page);
    image_record& r = image_pool[other];
    r.cursor_row = 5;
    r.cursor_column = 6;
    r.pending_newline = 1;
    text_arg ab("AB");
    text_draw_at(3.4f, 2.5f, &ab, -other, 2);  // column round(3.4) = 3, row round(2.5) = 2 (ties to even)
    EXPECT_EQ(raised(), 0);
    const auto* cells = reinterpret_cast<const text_cell*>(r.pixels);
    EXPECT_EQ(cells[40 + 2].code, 'A');
    EXPECT_EQ(cells[40 + 3].code, 'B');
    EXPECT_EQ(cells[40 + 3].attribute, 0x07);
    EXPECT_EQ(cells[40 + 4].code, ' ');
    EXPECT_EQ(r.cursor_row, 5);
    EXPECT_EQ(r.cursor_column, 6);
    EXPECT_EQ(r.pending_newline, 1);
    EXPECT_EQ(dest_image_handle(), -page);
    const auto* page_cells = reinterpret_cast<const text_cell*>(image_pool[page].pixels);
    EXPECT_EQ(page_cells[80 + 2].code, ' ');
}

TEST_F(Fonts, WidthAndHeightQueries) {
    struct row {
        int32_t font, width, height, error;
    };
    const row rows[] = {{8, 8, 8, 0},   {14, 8, 14, 0},   {16, 8, 16, 0},  {9, 0, 0, 258},
                        {15, 0, 0, 258}, {17, 0, 0, 258}, {10, 0, 0, 258}, {32, 0, 0, 258},
                        {-1, 0, 0, 258}, {1000, 0, 0, 258}};
    for (const row& r : rows) {
        SCOPED_TRACE(r.font);
        EXPECT_EQ(font_width_get(r.font, 1), r.width);
        EXPECT_EQ(raised(), r.error);
        EXPECT_EQ(font_height_get(r.font, 1), r.height);
        EXPECT_EQ(raised(), r.error);
    }
    int32_t slot = image_new(64, 64, 13);
    dest_image_select(-slot);
    image_font_select(9, 0, 0);
    EXPECT_EQ(font_width_get(0, 0), 16);
    EXPECT_EQ(font_height_get(0, 0), 8);
    EXPECT_EQ(image_font_get(0, 0), 9);
    EXPECT_EQ(image_font_get(-slot, 1), 9);
    EXPECT_EQ(raised(), 0);
}

TEST_F(Fonts, SelectOnImages) {
    int32_t slot = image_new(640, 480, 12);
    image_record& r = image_pool[slot];
    r.cursor_column = 5;
    r.cursor_row = 7;
    image_font_select(14, -slot, 1);
    EXPECT_EQ(raised(), 0);
    EXPECT_EQ(r.font, 14);
    EXPECT_EQ(r.cursor_column, 1);
    EXPECT_EQ(r.cursor_row, 1);
    EXPECT_EQ(r.view_bottom, 33);
    for (int32_t font : {0, 7, 10, 13, 18, 31, 32, 48, 49, -1}) {
        image_font_select(font, -slot, 1);
        EXPECT_EQ(raised(), 258) << font;
        EXPECT_EQ(r.font, 14);
    }
    image_font_select(8, -(slot + 1), 1);
    EXPECT_EQ(raised(), 258);
}

TEST_F(Fonts, SelectOnTheTextScreenChangesEveryPage) {
    std::vector<int32_t> pages;
    for (int i = 0; i < 8; ++i) {
        int32_t slot = image_new(80, 25, 0);
        image_pool[slot].image_flags |= image_is_screen_page;
        image_pool[slot].cursor_row = int16_t(3 + i);
        pages.push_back(slot);
    }
    std::vector<int32_t> saved = screen_page_table;
    screen_page_table = pages;
    dest_image_select(-pages[2]);
    image_font_select(14, 0, 0);
    EXPECT_EQ(raised(), 0);
    for (int i = 0; i < 8; ++i) {
        EXPECT_EQ(image_pool[pages[size_t(i)]].font, 14);
        EXPECT_EQ(image_pool[pages[size_t(i)]].cursor_row, 3 + i);
        EXPECT_EQ(image_pool[pages[size_t(i)]].view_bottom, 24);
    }
    screen_page_table = saved;

    int32_t text = image_new(40, 10, 0);  // a text image that is no page takes the font alone
    image_pool[text].cursor_row = 4;
    image_font_select(8, -text, 1);
    EXPECT_EQ(image_pool[text].font, 8);
    EXPECT_EQ(image_pool[text].cursor_row, 1);
    EXPECT_EQ(image_pool[pages[0]].font, 14);
}

TEST_F(Fonts, GlyphModes) {
    int32_t graphics = image_new(8, 8, 13);
    int32_t text = image_new(8, 8, 0);
    struct row {
        int32_t kind, text_error;
        uint8_t graphics_mode;
    };
    for (row r : {row{2, 5, 1}, row{3, 5, 2}, row{1, 0, 3}, row{0, 5, 3}, row{4, 5, 3}}) {
        SCOPED_TRACE(r.kind);
        image_glyph_mode_set(r.kind, -graphics, 1);
        EXPECT_EQ(raised(), 0);
        EXPECT_EQ(image_glyph_mode_get(-graphics, 1), r.graphics_mode);
        image_glyph_mode_set(r.kind, -text, 1);
        EXPECT_EQ(raised(), r.text_error);
        EXPECT_EQ(image_glyph_mode_get(-text, 1), 3);
    }
}

TEST_F(Fonts, LoadingFailsWithoutAFontEngine) {
    file_layer_init();  // font files are read through the file layer, as after start-up
    text_arg existing(LUMO_TEST_DATA "/vga_palettes.bin");
    text_arg missing("/no/such/dir/font.ttf");
    text_arg backslashed("\\no\\such\\font.ttf");
    text_arg nothing("");
    struct row {
        const char* what;
        string_descriptor* name;
        int32_t height;
        const char* options;  // null: not given
        int32_t result, error;
    };
    const row rows[] = {
        {"existing file", &existing, 16, nullptr, -1, 0},
        {"height 0", &existing, 0, nullptr, 0, 5},
        {"negative height", &existing, -3, nullptr, 0, 5},
        {"height 2049", &existing, 2049, nullptr, -1, 0},
        {"height 2048", &existing, 2048, nullptr, -1, 0},
        {"bold twice", &existing, 16, "bold, BOLD", 0, 5},
        {"unknown word", &existing, 16, "HEAVY", 0, 5},
        {"empty word", &existing, 16, "BOLD,,ITALIC", 0, 5},
        {"trailing comma", &existing, 16, "BOLD,", 0, 5},
        {"good words, missing file", &missing, 16, " italic , MONOSPACE ", -1, 0},
        {"all six words", &existing, 16, "bold,italic,underline,dontblend,monospace,unicode", -1, 0},
        {"empty options", &existing, 16, "", -1, 0},
        {"backslashes", &backslashed, 16, nullptr, -1, 0},
        {"no name", &nothing, 16, nullptr, -1, 0},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.what);
        text_arg options(r.options ? r.options : "");
        EXPECT_EQ(font_load_file(r.name, r.height, &options, r.options != nullptr), r.result);
        EXPECT_EQ(raised(), r.error);
    }
    EXPECT_EQ(font_load_file_flags(&existing, 0, 99), -1);
    EXPECT_EQ(raised(), 0);
    EXPECT_EQ(highest_font_number, 48);
    for (int32_t font : {8, 16, 32, 48, 100}) {
        font_free(font);
        EXPECT_EQ(raised(), 258) << font;
    }
}

TEST_F(Fonts, PixelWidthOfText) {
    text_arg five("Hello");
    text_arg empty("");
    int32_t graphics = image_new(64, 64, 12);
    int32_t text = image_new(80, 25, 0);
    EXPECT_EQ(text_pixel_width(&five, -graphics, 1), 40);
    EXPECT_EQ(text_pixel_width(&five, -text, 1), 5);
    EXPECT_EQ(text_pixel_width(&empty, -graphics, 1), 0);
    // A double-width font on a graphics image advances 16 pixels and raises nothing.
    image_font_select(17, -graphics, 1);
    EXPECT_EQ(text_pixel_width(&five, -graphics, 1), 80);
    EXPECT_EQ(raised(), 0);
    dest_image_select(-graphics);
    EXPECT_EQ(text_pixel_width(&five, 0, 0), 80);
}

TEST_F(Fonts, UnicodeTextForAFont) {
    const uint16_t* units = nullptr;
    const uint8_t text[2] = {1, 'A'};
    EXPECT_EQ(font_text_to_utf16(8, text, 2, &units), 4);
    EXPECT_EQ(units[0], 0x263A);
    EXPECT_EQ(units[1], 'A');
    EXPECT_EQ(units[2], 0);
}

}  // namespace
