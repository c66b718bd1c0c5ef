#include "screen/text_output.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "core/shutdown.h"
#include "core/sleeping_clock.h"
#include "core/strings.h"
#include "core/timing.h"
#include "screen/fonts.h"
#include "screen/screen_fixture.h"
#include "screen/text_view.h"

namespace {

string_descriptor descriptor_of(const std::string& text) {
    string_descriptor s{};
    s.text = reinterpret_cast<uint8_t*>(const_cast<char*>(text.data()));
    s.length = int32_t(text.size());
    return s;
}

void print(const std::string& text, int32_t newline = 0) {
    string_descriptor s = descriptor_of(text);
    print_string(&s, newline);
}

void prewrap(const std::string& text) {
    string_descriptor s = descriptor_of(text);
    print_prewrap(&s);
}

std::string rtrim(std::string s) {
    while (!s.empty() && s.back() == ' ') s.pop_back();
    return s;
}

// dest_new makes a fresh image the destination; the screen stays as it is.
struct TextOutput : screen_test {
    static std::vector<std::string> trimmed_rows(const image_record& r, int32_t first, int32_t last) {
        std::vector<std::string> rows = text_rows(r, first, last);
        for (std::string& s : rows) s = rtrim(s);
        return rows;
    }
    static void cursor_at(image_record& r, int32_t row, int32_t column) {
        r.cursor_row = int16_t(row);
        r.cursor_column = int16_t(column);
    }
    // A text page with nothing on it and every setting at its start value.
    static void mode_clear() {
        screen_mode_set(9, 0, 0, 0, 0, 1);
        screen_mode_set(0, 0, 0, 0, 0, 1);
    }
    // Rows of the destination page as the screen-reading function finds them through the glyphs.
    static std::vector<std::string> glyph_rows(int32_t first, int32_t last) {
        std::vector<std::string> rows;
        for (int32_t row = first; row <= last; ++row) {
            std::string text;
            for (int32_t column = 1; column <= 80; ++column) text += char(screen_char_read(row, column, 0, 0));
            rows.push_back(rtrim(text));
        }
        return rows;
    }
    static uint8_t pixel(const image_record& r, int32_t x, int32_t y) { return r.pixels[size_t(y) * r.width + size_t(x)]; }
};

struct print_call {
    std::string text;
    int32_t newline;
};

// Scripts on the 80 x 25 text page; rows are compared without trailing blanks.
TEST_F(TextOutput, TextPageScripts) {
    const std::string a80(80, 'A');
    struct row {
        const char* name;
        int32_t start_row, start_column;
        std::vector<print_call> calls;
        std::vector<std::string> rows;  // rows 1, 2, 3
        int32_t cursor_row, cursor_column, pending;
    };
    const std::vector<row> rows = {
        {"wrap", 1, 1, {{a80 + "BBBBB", 0}}, {a80, "BBBBB", ""}, 2, 6, 0},
        {"last column defers the newline", 1, 1, {{a80, 0}}, {a80, "", ""}, 1, 80, 1},
        {"deferred newline, then text", 1, 1, {{a80, 0}, {"X", 0}}, {a80, "X", ""}, 2, 2, 0},
        {"with the newline flag the line ends once", 1, 1, {{a80, 1}}, {a80, "", ""}, 2, 1, 0},
        {"deferred, then a bare newline", 1, 1, {{a80, 0}, {"", 1}}, {a80, "", ""}, 2, 1, 0},
        {"an empty text keeps the deferral", 1, 1, {{a80, 0}, {"", 0}}, {a80, "", ""}, 1, 80, 1},
        {"print statement pattern", 1, 1, {{"Hello", 0}, {"", 1}, {"World", 0}, {"", 1}}, {"Hello", "World", ""}, 3, 1, 0},
        {"tab from column 1", 1, 1, {{"\tX", 0}}, {"        X", "", ""}, 1, 10, 0},
        {"tab from column 8", 1, 1, {{"1234567\tX", 0}}, {"1234567 X", "", ""}, 1, 10, 0},
        {"tab from column 9", 1, 1, {{"12345678\tX", 0}}, {"12345678        X", "", ""}, 1, 18, 0},
        {"tab at the last column defers", 1, 73, {{"\t", 0}}, {"", "", ""}, 1, 80, 1},
        {"CR then the line end: two newlines", 1, 1, {{"A\r", 0}, {"", 1}}, {"A", "", ""}, 3, 1, 0},
        {"LF moves down", 1, 1, {{"A\nB", 0}}, {"A", "B", ""}, 2, 2, 0},
        {"backspace draws glyph 8 and moves right", 1, 1, {{"A\bB", 0}}, {"A\bB", "", ""}, 1, 4, 0},
        {"11 goes home", 3, 10, {{"\vZ", 0}}, {"Z", "", ""}, 1, 2, 0},
        {"28 at the end of a row goes on below", 1, 80, {{"\x1c", 0}}, {"", "", ""}, 2, 1, 0},
        {"29 at column 1 goes to the row above", 3, 1, {{"\x1d", 0}}, {"", "", ""}, 2, 80, 0},
        {"29 at column 1 of the top row stays", 1, 1, {{"\x1d", 0}}, {"", "", ""}, 1, 1, 0},
        {"30 and 31 move within the view", 2, 5, {{"\x1e\x1e\x1f", 0}}, {"", "", ""}, 2, 5, 0},
        {"form feed clears and goes home", 2, 5, {{"AB\fC", 0}}, {"C", "", ""}, 1, 2, 0},
    };
    // The same scripts on the 80 x 25 text page and on the 80-column 640 x 480 graphics page of
    // mode 12, whose rows are read back through the glyphs' ink.
    for (int32_t mode : {0, 12}) {
        for (const row& c : rows) {
            SCOPED_TRACE(std::string(c.name) + (mode ? " (graphics page)" : " (text page)"));
            mode_clear();
            if (mode) screen_mode_set(mode, 0, 0, 0, 0, 1);
            image_record& p = *dest_image;
            ASSERT_EQ(p.is_text != 0, mode == 0);
            cursor_at(p, c.start_row, c.start_column);
            for (const print_call& call : c.calls) print(call.text, call.newline);
            EXPECT_EQ(mode ? glyph_rows(1, 3) : trimmed_rows(p, 1, 3), c.rows);
            EXPECT_EQ(p.cursor_row, c.cursor_row);
            EXPECT_EQ(p.cursor_column, c.cursor_column);
            EXPECT_EQ(p.pending_newline, c.pending);
            EXPECT_EQ(raised(), 0);
        }
    }
}

TEST_F(TextOutput, CursorKeysAtTheViewsBottomRow) {
    image_record& p = *dest_image;
    cursor_at(p, 24, 80);
    print("\x1c\x1f");  // last column of the bottom row: nothing
    EXPECT_EQ(p.cursor_row, 24);
    EXPECT_EQ(p.cursor_column, 80);
    cursor_at(p, 25, 1);  // below the view
    print("\x1d\x1e");
    EXPECT_EQ(p.cursor_row, 25);
    EXPECT_EQ(p.cursor_column, 1);
}

TEST_F(TextOutput, ControlCodesOffAreGlyphs) {
    const std::string codes = "\a\t\n\v\f\r\x1c\x1d\x1e\x1f";
    control_chars_off = 1;
    print(codes);
    EXPECT_EQ(text_rows(*dest_image, 1, 1)[0].substr(0, codes.size()), codes);
    control_chars_off = 0;
    key_line_drawing = 1;
    print(codes);
    key_line_drawing = 0;
    EXPECT_EQ(text_rows(*dest_image, 1, 1)[0].substr(codes.size(), codes.size()), codes);
    control_chars_set(2);
    EXPECT_EQ(control_chars_off, 1);
    control_chars_set(1);
    EXPECT_EQ(control_chars_off, 0);
}

TEST_F(TextOutput, Attributes) {
    image_record& p = *dest_image;
    struct row {
        int32_t fore, back;
        uint8_t attribute;
    };
    for (row c : {row{7, 0, 0x07}, row{14, 1, 0x1E}, row{31, 1, 0x9F}, row{23, 7, 0xF7}}) {
        p.fore_color = c.fore;
        p.back_color = uint32_t(c.back);
        cursor_at(p, 1, 1);
        print("x");
        EXPECT_EQ(attribute_at(p, 1, 1), c.attribute) << c.fore << " on " << c.back;
    }
}

// The same script on the text page and on a mode-12 graphics page read back through the glyphs.
TEST_F(TextOutput, ScrollingStaysInsideThePrintArea) {
    for (int32_t mode : {0, 12}) {
        SCOPED_TRACE(mode ? "graphics page" : "text page");
        mode_clear();
        if (mode) screen_mode_set(mode, 0, 0, 0, 0, 1);
        image_record& p = *dest_image;
        ASSERT_EQ(p.is_text != 0, mode == 0);
        cursor_at(p, 4, 1);
        print("above");
        cursor_at(p, 11, 1);
        print("below");
        p.view_top = 5;
        p.view_bottom = 10;
        cursor_at(p, 5, 1);
        for (int i = 1; i <= 6; ++i) print("L" + std::to_string(i), 1);
        if (mode == 0) {  // graphics pages are read back against paper of colour 0
            p.fore_color = 23;  // blinking white
            p.back_color = 1;
        }
        print("L7", 1);
        const std::vector<std::string> want = {"above", "L3", "L4", "L5", "L6", "L7", "", "below"};
        EXPECT_EQ(mode ? glyph_rows(4, 11) : trimmed_rows(p, 4, 11), want);
        EXPECT_EQ(p.cursor_row, 10);
        if (mode == 0) {
            for (int32_t column = 1; column <= 80; ++column) ASSERT_EQ(attribute_at(p, 10, column), 0x97);
        }
    }
}

TEST_F(TextOutput, TabsEndAtTheLineEnd) {
    // Lines whose width is not a multiple of 8, and lines narrower than a tab.
    struct row {
        const char* name;
        int32_t width, height, mode;
        int32_t start_column, newline;
        int32_t cursor_row, cursor_column, pending;
    };
    const row rows[] = {
        {"100 columns, trailing tab", 100, 30, 0, 97, 0, 1, 100, 1},
        {"5 columns, tab and line end", 5, 3, 0, 1, 1, 2, 1, 0},
        {"12 glyph columns, trailing tab", 100, 16, 13, 9, 0, 1, 12, 1},
        {"narrower than a glyph", 7, 7, 13, 1, 0, 1, 1, 1},
        {"narrower than a glyph, line end", 7, 7, 13, 1, 1, 1, 1, 0},
    };
    for (const row& c : rows) {
        SCOPED_TRACE(c.name);
        image_record& r = dest_new(c.width, c.height, c.mode);
        cursor_at(r, 1, c.start_column);
        print("\t", c.newline);
        EXPECT_EQ(r.cursor_row, c.cursor_row);
        EXPECT_EQ(r.cursor_column, c.cursor_column);
        EXPECT_EQ(r.pending_newline, c.pending);
    }
}

TEST_F(TextOutput, PrewrapBreaksItemsThatDoNotFit) {
    struct row {
        int32_t mode, column;
        int32_t length;
        int32_t pending;
        bool breaks;
    };
    const row rows[] = {
        {0, 75, 6, 0, false}, {0, 75, 7, 0, true}, {0, 1, 200, 0, false}, {0, 75, 7, 1, false},
        {13, 35, 6, 0, false}, {13, 35, 7, 0, true},
    };
    for (const row& c : rows) {
        SCOPED_TRACE(testing::Message() << c.mode << " " << c.column << " " << c.length);
        image_record& r = c.mode == 0 ? *dest_image : dest_new(320, 200, 13);
        cursor_at(r, 3, c.column);
        r.pending_newline = uint8_t(c.pending);
        prewrap(std::string(size_t(c.length), 'x'));
        EXPECT_EQ(r.cursor_row, c.breaks ? 4 : 3);
        EXPECT_EQ(r.cursor_column, c.breaks ? 1 : c.column);
        EXPECT_EQ(raised(), 0);
    }
}

// Glyphs on graphics images, checked against the glyph table.
TEST_F(TextOutput, GlyphsInEachPrintMode) {
    for (int32_t print_mode : {1, 2, 3}) {
        SCOPED_TRACE(print_mode);
        image_record& r = dest_new(320, 200, 13);
        std::memset(r.pixels, 5, 320 * 200);
        r.print_mode = uint8_t(print_mode);
        r.fore_color = 14;
        r.back_color = 1;
        print("Hi");
        for (int32_t y = 0; y < 9; ++y)
            for (int32_t x = 0; x < 17; ++x) {
                uint8_t want = 5;
                if (x < 16 && y < 8) {
                    bool ink = glyph_bitmap_8x8[("Hi"[x / 8]) * 64 + y * 8 + x % 8] != 0;
                    if (ink && print_mode != 2) want = 14;
                    if (!ink && print_mode != 1) want = 1;
                }
                ASSERT_EQ(pixel(r, x, y), want) << x << "," << y;
            }
        EXPECT_EQ(r.cursor_column, 3);
    }
}

TEST_F(TextOutput, GlyphsOfEachFont) {
    struct row {
        int32_t font;
        int32_t width;       // pixels of one cell
        const uint8_t* bitmap;
        int32_t first_row, rows, bytes_per_glyph;
    };
    const row rows[] = {
        {8, 8, glyph_bitmap_8x8, 0, 8, 64},   {14, 8, glyph_bitmap_8x16, 1, 14, 128},
        {16, 8, glyph_bitmap_8x16, 0, 16, 128}, {9, 16, glyph_bitmap_8x8, 0, 8, 64},
        {17, 16, glyph_bitmap_8x16, 0, 16, 128},
    };
    for (const row& c : rows) {
        SCOPED_TRACE(c.font);
        image_record& r = dest_new(640, 350, 9);
        image_font_set(c.font, &r);
        cursor_at(r, 2, 3);
        print("A");
        int32_t x0 = 2 * c.width, y0 = c.rows;
        int32_t ink = 0;
        for (int32_t y = 0; y < c.rows; ++y)
            for (int32_t x = 0; x < c.width; ++x) {
                int32_t gx = c.width == 16 ? x / 2 : x;
                bool on = c.bitmap['A' * c.bytes_per_glyph + (c.first_row + y) * 8 + gx] != 0;
                ink += on;
                ASSERT_EQ(pixel(r, x0 + x, y0 + y), on ? 15 : 0) << x << "," << y;
            }
        EXPECT_GT(ink, 10);
        EXPECT_EQ(pixel(r, x0 + c.width, y0), 0);
    }
}

TEST_F(TextOutput, GlyphsBlendOn32BitImages) {
    image_record& r = dest_new(16, 16, 32);
    auto* px = reinterpret_cast<uint32_t*>(r.pixels);
    std::fill_n(px, 256, 0xFF000000u);
    r.fore_color = int32_t(0x80FFFFFF);
    r.back_color = 0x00FF0000;  // alpha 0: the paper leaves the pixel
    r.print_mode = 3;
    print("A");
    for (int32_t y = 0; y < 16; ++y)
        for (int32_t x = 0; x < 8; ++x) {
            bool ink = glyph_bitmap_8x16['A' * 128 + y * 8 + x] != 0;
            ASSERT_EQ(px[y * 16 + x], ink ? 0xFF7F7F7Fu : 0xFF000000u) << x << "," << y;
        }
    r.blend_off = 1;
    print("A");
    EXPECT_EQ(px[8 + 15 * 16], 0x00FF0000u);  // bottom row of a glyph is paper, stored as it is
}

TEST_F(TextOutput, GraphicsLineEndAndScroll) {
    image_record& r = dest_new(320, 200, 13);
    print(std::string(40, 'x'));
    EXPECT_EQ(r.cursor_column, 40);
    EXPECT_EQ(r.pending_newline, 1);

    std::memset(r.pixels + 8 * 320, 7, 8 * 320);      // text row 2
    std::memset(r.pixels + 192 * 320, 9, 8 * 320);    // text row 25, below the view
    r.back_color = 3;
    cursor_at(r, 24, 1);
    r.pending_newline = 0;
    print("", 1);
    EXPECT_EQ(r.cursor_row, 24);
    for (int32_t y = 0; y < 200; ++y) {
        uint8_t want = y < 8 ? 7 : y >= 184 && y < 192 ? 3 : y >= 192 ? 9 : 0;
        ASSERT_EQ(pixel(r, 100, y), want) << y;
    }

    image_record& full = dest_new(8, 24, 32);
    full.back_color = 0x80123456;  // stored, not blended
    print("", 1);  // one text row: the newline scrolls it
    EXPECT_EQ(reinterpret_cast<uint32_t*>(full.pixels)[8 * 8 + 3], 0x80123456u);
}

// Tiny images: printing, wrapping, scrolling and control codes stay inside the pixels.
TEST_F(TextOutput, TinyImages) {
    struct row {
        int32_t width, height, mode;
    };
    const std::string text = "Hello\tW\x1c\x1d\x1e\x1f\v\b\r\nlong line of text that wraps";
    for (row c : {row{1, 1, 13}, row{7, 7, 13}, row{1, 1, 32}, row{7, 7, 32}, row{1, 1, 0}, row{7, 7, 0},
                  row{9, 17, 13}}) {
        SCOPED_TRACE(testing::Message() << c.width << "x" << c.height << " mode " << c.mode);
        image_record& r = dest_new(c.width, c.height, c.mode);
        r.fore_color = c.mode == 32 ? int32_t(0xFFFFFFFF) : 15;
        for (int i = 0; i < 3; ++i) print(text, i & 1);
        print("", 1);
        EXPECT_GE(r.cursor_column, 1);
        EXPECT_GE(r.cursor_row, 1);
        EXPECT_EQ(raised(), 0);
    }
    image_record& one = dest_new(1, 1, 13);
    one.fore_color = 15;
    print("\xdb");  // full block: ink everywhere
    EXPECT_EQ(one.pixels[0], 15);
}

TEST_F(TextOutput, ProportionalFontTabsToPixelStops) {
    const int32_t font = 41;  // a loaded font would look like this: no fixed advance
    font_table.height[font] = 8;
    font_table.width[font] = 0;
    image_record& r = dest_new(320, 24, 13);
    r.font = font;
    r.back_color = 6;
    cursor_at(r, 2, 10);
    print("\t");
    EXPECT_EQ(r.cursor_column, 64);
    EXPECT_EQ(pixel(r, 9, 8), 6);
    EXPECT_EQ(pixel(r, 63, 15), 6);
    EXPECT_EQ(pixel(r, 8, 8), 0);
    EXPECT_EQ(pixel(r, 64, 8), 0);
    cursor_at(r, 1, 300);
    print("\t");
    EXPECT_EQ(pixel(r, 319, 7), 6);
    EXPECT_EQ(r.cursor_row, 2);
    EXPECT_EQ(r.cursor_column, 1);
    font_table.height[font] = 0;
}

TEST_F(TextOutput, UnicodeFontsReadFourBytesACharacter) {
    const int32_t font = 40;
    font_table.height[font] = 16;
    font_table.width[font] = 8;
    font_table.options[font] = font_option_monospace | font_option_unicode;
    image_record& p = *dest_image;
    p.font = font;
    print(std::string("A\0\0\0BB", 6));  // the last two bytes are no whole character
    EXPECT_EQ(text_rows(p, 1, 1)[0].substr(0, 2), "A ");
    EXPECT_EQ(p.cursor_column, 2);
    font_table.height[font] = font_table.width[font] = font_table.options[font] = 0;
}

TEST_F(TextOutput, ConsoleGetsTheTextUpToANul) {
    image_record& console = dest_new(80, 25, 0);
    console.is_console = 1;
    testing::internal::CaptureStdout();
    print(std::string("ab\0cd", 5), 1);
    print("ef");
    std::fflush(stdout);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "ab\nef");
    EXPECT_EQ(console.cursor_column, 1);
    EXPECT_EQ(text_rows(console, 1, 1)[0].substr(0, 2), "  ");
}

// The bell's pause counted on a clock that moves only when the runtime sleeps.
TEST_F(TextOutput, TheBellPausesAQuarterSecondUnlessTheRuntimeShutsDown) {
    struct row { int32_t shutting_down; int64_t paused_ms; };
    const row rows[] = {{0, 250}, {1, 0}};
    time_source_set(&sleeping_clock);
    for (const auto& r : rows) {
        sleeping_clock_ms = 0;
        shutdown_flag = r.shutting_down;
        print("\a");
        shutdown_flag = 0;
        EXPECT_EQ(sleeping_clock_ms, r.paused_ms) << "shutting down " << r.shutting_down;
    }
    time_source_set(nullptr);
}

TEST_F(TextOutput, NothingWhileAnErrorIsPending) {
    error_number = 5;
    print("abc", 1);
    prewrap("abc");
    EXPECT_EQ(dest_image->cursor_row, 1);
    EXPECT_EQ(dest_image->cursor_column, 1);
}

}  // namespace
