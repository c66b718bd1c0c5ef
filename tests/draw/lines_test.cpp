#include "draw/lines.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "draw_texts.h"
#include "screen/image_fixture.h"
#include "screen/pixels.h"

namespace {

struct Lines : image_test {
    // The image as rows of characters: '.' for 0, the colour's digit (or '#') otherwise.
    static std::string picture(const image_record& r) {
        std::string s;
        for (int32_t y = 0; y < r.height; ++y) {
            for (int32_t x = 0; x < r.width; ++x) {
                uint8_t v = r.pixels[size_t(y) * r.width + size_t(x)];
                s += v == 0 ? '.' : v < 10 ? char('0' + v) : '#';
            }
            s += '\n';
        }
        return s;
    }
    static void clip(image_record& r, int32_t x1, int32_t y1, int32_t x2, int32_t y2) {
        r.clip_x1 = x1;
        r.clip_y1 = y1;
        r.clip_x2 = x2;
        r.clip_y2 = y2;
    }
};

TEST_F(Lines, PixelTables) {
    struct line_case {
        int64_t x1, y1, x2, y2;
        std::string expected;
    };
    const line_case cases[] = {
        {3, 2, 3, 2, picture_rows({"........", "........", "...1....", "........"})},
        {9, 2, 9, 2, picture_rows({"........", "........", "........", "........"})},  // a point outside
        {1, 1, 6, 1, picture_rows({"........", ".111111.", "........", "........"})},
        {6, 0, 6, 3, picture_rows({"......1.", "......1.", "......1.", "......1."})},
        {0, 0, 3, 3, picture_rows({"1.......", ".1......", "..1.....", "...1...."})},
        {7, 0, 0, 3, picture_rows({"......11", "....11..", "..11....", "11......"})},
        {0, 0, 7, 2, picture_rows({"11......", "..1111..", "......11", "........"})},
        {0, 3, 1, 0, picture_rows({".1......", ".1......", "1.......", "1......."})},
        // Clipped at each edge and corner: the edge pixels are drawn.
        {-5, 2, 20, 2, picture_rows({"........", "........", "11111111", "........"})},
        {4, -9, 4, 9, picture_rows({"....1...", "....1...", "....1...", "....1..."})},
        {-3, -3, 5, 5, picture_rows({"1.......", ".1......", "..1.....", "...1...."})},
        {10, 5, 5, 0, picture_rows({".....1..", "......1.", ".......1", "........"})},
        {-4, 6, -1, 0, picture_rows({"........", "........", "........", "........"})},
        {2, -1, 12, -1, picture_rows({"........", "........", "........", "........"})},
    };
    for (const line_case& c : cases) {
        image_record& r = dest_new(8, 4, 13, true);
        line_pixels_draw(c.x1, c.y1, c.x2, c.y2, 1);
        EXPECT_EQ(picture(r), c.expected) << c.x1 << "," << c.y1 << " - " << c.x2 << "," << c.y2;
    }
}

TEST_F(Lines, ClipResults) {
    struct clip_case {
        int64_t x1, y1, x2, y2;
        bool visible;
        int64_t cx1, cy1, cx2, cy2, cut_off;
    };
    const clip_case cases[] = {
        {5, 5, 5, 5, true, 5, 5, 5, 5, 0},
        {-5, 5, -5, 5, false, -5, 5, -5, 5, 0},
        {-3, 4, 20, 4, true, 0, 4, 9, 4, 3},
        {4, -7, 4, 30, true, 4, 0, 4, 9, 7},
        {-10, -10, 20, 20, true, 0, 0, 9, 9, 10},
        {14, 2, 2, 14, true, 9, 7, 7, 9, 5},
        {-5, 0, -1, 9, false, -5, 0, -1, 9, 0},
        {-5, 20, 20, 25, false, -5, 20, 20, 25, 0},  // both below
        {-6, 3, 3, -6, false, -6, 3, 3, -6, 0},      // passes the corner outside
        {3, 3, 30, 6, true, 3, 3, 9, 4, 0},          // only the second point moves
    };
    for (const clip_case& c : cases) {
        line_clip_result r = line_clip(c.x1, c.y1, c.x2, c.y2, 0, 0, 9, 9);
        SCOPED_TRACE(std::to_string(c.x1) + "," + std::to_string(c.y1) + " - " + std::to_string(c.x2) + "," +
                     std::to_string(c.y2));
        EXPECT_EQ(r.visible, c.visible);
        if (!c.visible) continue;
        EXPECT_EQ(r.x1, c.cx1);
        EXPECT_EQ(r.y1, c.cy1);
        EXPECT_EQ(r.x2, c.cx2);
        EXPECT_EQ(r.y2, c.cy2);
        EXPECT_EQ(r.cut_off, c.cut_off);
    }
}

TEST_F(Lines, StylesStartWithTheTopBitAndKeepTheirPhaseWhenClipped) {
    struct style_case {
        float x1, x2;
        uint32_t style;
        std::string expected;
    };
    const style_case cases[] = {
        {0, 15, 0x8888, "1...1...1...1..."},
        {0, 15, 0x18888, "1...1...1...1..."},  // only the low 16 bits count
        {0, 15, 0xFFFF8888, "1...1...1...1..."},
        {0, 15, 0xFFFF, "1111111111111111"},
        {0, 15, 0, "................"},
        {0, 15, 0xF0F0, "1111....1111...."},
        {-3, 15, 0x1000, "1..............."},  // three pixels cut off: the first drawn takes bit 12
        {-3, 15, 0x8888, ".1...1...1...1.."},
        {15, 0, 0x8000, "...............1"},   // drawn from the right
    };
    for (const style_case& c : cases) {
        image_record& r = dest_new(16, 1, 13, true);
        line_styled_draw(c.x1, 0, c.x2, 0, 1, c.style);
        std::string got = picture(r);
        got.pop_back();
        EXPECT_EQ(got, c.expected) << std::hex << c.style;
    }
}

TEST_F(Lines, TheProgramsDottedLines) {
    image_record& r = dest_new(640, 480, 13, true);
    line_draw(445, 275, 445, 450, 11, 0, 0xFFFF8888, 0x19);
    line_draw(445, 355, 570, 355, 11, 0, 0xFFFF8888, 0x19);
    for (int32_t y = 0; y < 480; ++y) {
        for (int32_t x = 0; x < 640; ++x) {
            bool vertical = x == 445 && y >= 275 && y <= 450 && (y - 275) % 4 == 0;
            bool horizontal = y == 355 && x >= 445 && x <= 570 && (x - 445) % 4 == 0;
            ASSERT_EQ(r.pixels[size_t(y) * 640 + size_t(x)], vertical || horizontal ? 11 : 0) << x << "," << y;
        }
    }
    EXPECT_EQ(r.cursor_x, 570);
    EXPECT_EQ(r.cursor_y, 355);
    EXPECT_EQ(r.draw_color, 11u);
}

TEST_F(Lines, LineStatementPointsCursorAndColour) {
    struct flag_case {
        uint32_t flags;
        int32_t kind;
        std::vector<std::pair<int, int>> pixels;  // first and last pixel drawn
        float cursor_x, cursor_y;
        uint32_t draw_color;
    };
    // The cursor starts at (1, 1); points (2, 0) and (4, 2); fore colour 7, given colour 3.
    const flag_case cases[] = {
        {0x1, 0, {{2, 0}, {4, 2}}, 4, 2, 7},
        {0x0, 0, {{1, 1}, {4, 2}}, 4, 2, 7},
        {0x1 | 0x2, 0, {{2, 0}, {6, 2}}, 6, 2, 7},
        {0x1 | 0x4, 0, {{3, 1}, {4, 2}}, 4, 2, 7},
        {0x1 | 0x4 | 0x2, 0, {{3, 1}, {7, 3}}, 7, 3, 7},
        {0x1 | 0x8, 0, {{2, 0}, {4, 2}}, 4, 2, 3},
        {0x1 | 0x8, 5, {}, 4, 2, 99},  // an unknown kind only moves the cursor
    };
    for (const flag_case& c : cases) {
        image_record& r = dest_new(10, 6, 13, true);
        r.fore_color = 7;
        r.cursor_x = r.cursor_y = 1;
        r.draw_color = 99;
        line_draw(2, 0, 4, 2, 3, c.kind, 0, c.flags);
        SCOPED_TRACE(c.flags);
        EXPECT_EQ(r.cursor_x, c.cursor_x);
        EXPECT_EQ(r.cursor_y, c.cursor_y);
        EXPECT_EQ(r.draw_color, c.draw_color);
        int32_t ink = 0;
        for (size_t i = 0; i < image_pixel_bytes(&r); ++i) ink += r.pixels[i] != 0;
        EXPECT_EQ(ink == 0, c.pixels.empty());
        for (const auto& [x, y] : c.pixels) EXPECT_NE(r.pixels[size_t(y) * 10 + size_t(x)], 0) << x << "," << y;
    }
}

TEST_F(Lines, BoxesAndFilledBoxes) {
    image_record& r = dest_new(8, 5, 13, true);
    line_draw(1, 1, 5, 3, 2, 1, 0, 0x9);
    EXPECT_EQ(picture(r), picture_rows({"........", ".22222..", ".2...2..", ".22222..", "........"}));
    line_draw(2, 2, 4, 2, 3, 2, 0, 0x9);
    EXPECT_EQ(picture(r), picture_rows({"........", ".22222..", ".23332..", ".22222..", "........"}));
    // Each side starts its own style: 0x8000 draws the four corners.
    image_record& s = dest_new(8, 5, 13, true);
    line_draw(1, 1, 5, 3, 4, 1, 0x8000, 0x19);
    EXPECT_EQ(picture(s), picture_rows({"........", ".4...4..", "........", ".4...4..", "........"}));
}

TEST_F(Lines, BoxCornersOfASemiTransparentColourBlendTwice) {
    image_record& r = dest_new(4, 3, 32, true);
    line_draw(0, 0, 3, 2, 0x80FFFFFF, 1, 0, 0x9);
    auto* p = reinterpret_cast<uint32_t*>(r.pixels);
    image_record& once = dest_new(1, 1, 32, true);
    dest_pixel_write(0, 0, 0x80FFFFFF);
    uint32_t single = *reinterpret_cast<uint32_t*>(once.pixels);
    dest_pixel_write(0, 0, 0x80FFFFFF);
    uint32_t twice = *reinterpret_cast<uint32_t*>(once.pixels);
    ASSERT_NE(single, twice);
    EXPECT_EQ(p[0], twice);
    EXPECT_EQ(p[3], twice);
    EXPECT_EQ(p[1], single);
    EXPECT_EQ(p[4], single);
    EXPECT_EQ(p[5], 0u);
}

TEST_F(Lines, TextImagesRefuseLines) {
    image_record& r = dest_new(80, 25, 0, true);
    float x = r.cursor_x;
    line_draw(0, 0, 5, 5, 1, 0, 0, 0x1);
    EXPECT_EQ(raised(), 5);
    EXPECT_EQ(r.cursor_x, x);
    image_record& g = dest_new(8, 8, 13, true);
    float gx = g.cursor_x;
    error_number = 9;  // nothing while an error is pending
    line_draw(0, 0, 5, 5, 1, 0, 0, 0x1);
    EXPECT_EQ(raised(), 9);
    EXPECT_EQ(g.cursor_x, gx);
    EXPECT_EQ(g.pixels[0], 0);
}

TEST_F(Lines, LinesNeverLeaveTheClipBox) {
    std::mt19937 random(7);
    std::uniform_int_distribution<int64_t> far(-2000000000, 2000000000), near(-40, 100), edge(-5, 70);
    for (int i = 0; i < 20000; ++i) {
        image_record& r = dest_new(64, 48, 13, true);
        int32_t x1 = int32_t(edge(random)), y1 = int32_t(edge(random)), x2 = int32_t(edge(random)), y2 = int32_t(edge(random));
        clip(r, x1, y1, x2, y2);  // possibly inverted or larger than the image
        bool huge = i % 2;
        int64_t a = huge ? far(random) : near(random), b = huge ? far(random) : near(random);
        int64_t c = huge ? far(random) : near(random), d = huge ? far(random) : near(random);
        line_pixels_draw(a, b, c, d, 1);
        for (int32_t y = 0; y < 48; ++y)
            for (int32_t x = 0; x < 64; ++x)
                if (r.pixels[size_t(y) * 64 + size_t(x)]) {
                    ASSERT_TRUE(x >= x1 && x <= x2 && y >= y1 && y <= y2)
                        << a << "," << b << " - " << c << "," << d << " box " << x1 << "," << y1 << "," << x2 << "," << y2;
                }
        image_free(dest_image_index);
    }
}

// Single-precision steps far from the origin round up every time: the minor coordinate would end
// a pixel beyond the line's last row, here the last row of the image.
TEST_F(Lines, LongShallowLinesStayOnTheirRows) {
    image_record& r = dest_new(7001, 4002, 13, true);
    line_pixels_draw(0, 4000, 7000, 4001, 1);
    for (int32_t x = 0; x <= 7000; ++x) {
        int32_t column = r.pixels[size_t(4000) * 7001 + size_t(x)] + r.pixels[size_t(4001) * 7001 + size_t(x)];
        ASSERT_EQ(column, 1) << x;
    }
    EXPECT_EQ(r.pixels[size_t(4001) * 7001 + 7000], 1);
}

TEST_F(Lines, PixelSetResetAndQuery) {
    image_record& r = dest_new(10, 4, 13, true);
    r.fore_color = 5;
    r.back_color = 2;
    pixel_set(10, 0, 0, 0);  // one past the last column: nothing
    EXPECT_EQ(picture(r), picture_rows({"..........", "..........", "..........", ".........."}));
    pixel_set(9, 0, 0, 0);
    pixel_set(-1, 1, 0, 1);  // relative: (8, 1)
    pixel_set(2, 2, 7, 2);
    pixel_reset(3, 3, 0, 0);
    EXPECT_EQ(picture(r), picture_rows({".........5", "........5.", "..7.......", "...2......"}));
    EXPECT_EQ(r.draw_color, 2u);
    EXPECT_EQ(r.cursor_x, 3);
    clip(r, 0, 0, 8, 3);
    EXPECT_EQ(pixel_query(8, 1, 1), 5);
    EXPECT_EQ(pixel_query(9, 0, 1), -1);  // just outside the clip box
    EXPECT_EQ(pixel_query(2, 0, 0), 3);
    EXPECT_EQ(pixel_query(0, 0, 0), 3);
    EXPECT_EQ(pixel_query(4, 0, 0), 0);
    EXPECT_EQ(raised(), 5);
    image_record& w = dest_new(2, 1, 32, true);
    reinterpret_cast<uint32_t*>(w.pixels)[1] = 0xFFFFFFFF;
    EXPECT_EQ(pixel_query(1, 0, 1), 4294967295.0);
    // A far point in window coordinates does not wrap onto the image.
    w.coord_mode = 2;
    w.scale_x = 4294967296.0f;
    w.scale_y = 1;
    pixel_set(1, 0, 0xFF00FF00, 2);
    EXPECT_EQ(reinterpret_cast<uint32_t*>(w.pixels)[0], 0u);
}

TEST_F(Lines, PixelStatementsRefuseTextImages) {
    dest_new(80, 25, 0, true);
    pixel_set(1, 1, 1, 2);
    EXPECT_EQ(raised(), 5);
    EXPECT_EQ(pixel_query(1, 1, 1), 0);
    EXPECT_EQ(raised(), 5);
    EXPECT_EQ(pixel_query(0, 0, 0), 0);
    EXPECT_EQ(raised(), 5);
}

}  // namespace
