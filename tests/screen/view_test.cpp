#include "screen/view.h"

#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "screen/image_fixture.h"

namespace {

struct ViewWindow : image_test {
    // The image's pixels as rows of characters: '.' for 0, else the value's digit.
    static std::vector<std::string> picture(const image_record& r) {
        std::vector<std::string> rows;
        for (int32_t y = 0; y < r.height; ++y) {
            std::string s;
            for (int32_t x = 0; x < r.width; ++x) {
                uint8_t v = r.pixels[size_t(y) * r.width + size_t(x)];
                s += v ? char('0' + v) : '.';
            }
            rows.push_back(s);
        }
        return rows;
    }
};

struct window_call {
    float x1, y1, x2, y2;
    int32_t flags;  // 0: no window statement
};
struct view_call {
    int32_t x1, y1, x2, y2, flags;  // flags 0: no view statement
};

TEST_F(ViewWindow, MappingTable) {
    struct row {
        const char* name;
        int32_t width, height;
        view_call view;
        window_call window;
        bool window_first;
        float x, y;
        int64_t px, py;
    };
    const row rows[] = {
        {"plain, ties to even", 640, 480, {}, {}, false, 2.5f, 3.5f, 2, 4},
        {"plain, halves round to zero", 640, 480, {}, {}, false, -0.5f, 0.5f, 0, 0},
        {"view adds its corner", 640, 480, {100, 50, 200, 150, 1}, {}, false, 2.5f, 0, 102, 50},
        {"screen-relative view", 640, 480, {100, 50, 200, 150, 3}, {}, false, 5, 5, 5, 5},
        {"window y upwards, origin", 640, 480, {}, {0, 0, 100, 100, 1}, false, 0, 0, 0, 479},
        {"window y upwards, far corner", 640, 480, {}, {0, 0, 100, 100, 1}, false, 100, 100, 639, 0},
        {"window corners given reversed", 640, 480, {}, {100, 100, 0, 0, 1}, false, 100, 100, 639, 0},
        {"view then window", 640, 480, {100, 50, 200, 150, 1}, {0, 0, 10, 10, 1}, false, 0, 0, 100, 150},
        {"view then window, far", 640, 480, {100, 50, 200, 150, 1}, {0, 0, 10, 10, 1}, false, 10, 10, 200, 50},
        {"window then view", 640, 480, {100, 50, 200, 150, 1}, {0, 0, 10, 10, 1}, true, 0, 0, 100, 150},
        {"window then view, far", 640, 480, {100, 50, 200, 150, 1}, {0, 0, 10, 10, 1}, true, 10, 10, 200, 50},
        {"window in screen order", 640, 480, {}, {0, 0, 100, 100, 3}, false, 100, 100, 639, 479},
        {"window halves: 0.5 to 0", 11, 11, {}, {0, 0, 20, 20, 3}, false, 1, 1, 0, 0},
        {"window halves: 1.5 to 2", 11, 11, {}, {0, 0, 20, 20, 3}, false, 3, 3, 2, 2},
        {"window halves: 2.5 to 2", 11, 11, {}, {0, 0, 20, 20, 3}, false, 5, 5, 2, 2},
        {"too large for 32 bits", 640, 480, {}, {}, false, 1e30f, -1e30f, INT32_MIN, INT32_MIN},
        {"NaN, view origin added", 640, 480, {100, 50, 200, 150, 1}, {}, false, NAN, NAN, int64_t{INT32_MIN} + 100,
         int64_t{INT32_MIN} + 50},
    };
    for (const row& c : rows) {
        SCOPED_TRACE(c.name);
        image_record& r = dest_new(c.width, c.height, 12);
        auto window = [&] {
            if (c.window.flags) graphics_window_set(c.window.x1, c.window.y1, c.window.x2, c.window.y2, c.window.flags);
        };
        auto view = [&] {
            if (c.view.flags)
                graphics_view_set(c.view.x1, c.view.y1, c.view.x2, c.view.y2, 0, 0, c.view.flags);
        };
        if (c.window_first) window();
        view();
        if (!c.window_first) window();
        ASSERT_EQ(raised(), 0);
        EXPECT_EQ(image_map_x(&r, c.x), c.px);
        EXPECT_EQ(image_map_y(&r, c.y), c.py);
    }
}

TEST_F(ViewWindow, WindowFieldsAndReset) {
    image_record& r = dest_new(640, 480, 12);
    graphics_window_set(0, 0, 100, 100, 1);
    EXPECT_EQ(r.coord_mode, 2);
    EXPECT_FLOAT_EQ(r.scale_x, 6.39f);
    EXPECT_FLOAT_EQ(r.scale_y, -4.79f);
    EXPECT_EQ(r.window_y1, 100.0f);  // y upwards: the top corner comes first
    EXPECT_EQ(r.window_y2, 0.0f);
    EXPECT_EQ(coord_map(100, 0), 639.0f);
    EXPECT_EQ(coord_map(0, 1), 479.0f);
    EXPECT_NEAR(coord_map(639, 2), 100.0f, 1e-4);
    EXPECT_NEAR(coord_map(0, 3), 100.0f, 1e-4);

    graphics_window_set(0, 0, 639, 479, 3);  // the identity: back to plain pixels
    EXPECT_EQ(r.coord_mode, 0);
    EXPECT_EQ(r.scale_x, 1.0f);
    EXPECT_EQ(r.offset_y, 0.0f);
    graphics_view_set(10, 10, 20, 20, 0, 0, 1);
    graphics_window_set(0, 0, 0, 0, 0);  // no coordinates: the view stays
    EXPECT_EQ(r.coord_mode, 1);
    graphics_view_set(0, 0, 0, 0, 0, 0, 0);
    EXPECT_EQ(r.coord_mode, 0);
    EXPECT_EQ(r.clip_x2, 639);
    EXPECT_EQ(raised(), 0);
}

TEST_F(ViewWindow, CursorKeepsItsPixelWhenTheWindowChanges) {
    image_record& r = dest_new(640, 480, 12);
    graphics_window_set(0, 0, 100, 100, 1);
    EXPECT_EQ(image_map_x(&r, r.cursor_x), 320);
    EXPECT_EQ(image_map_y(&r, r.cursor_y), 240);
    graphics_window_set(-50, -50, 50, 50, 3);
    EXPECT_EQ(image_map_x(&r, r.cursor_x), 320);
    EXPECT_EQ(image_map_y(&r, r.cursor_y), 240);
    graphics_window_set(0, 0, 0, 0, 0);
    EXPECT_NEAR(r.cursor_x, 320.0f, 1e-3);
    EXPECT_NEAR(r.cursor_y, 240.0f, 1e-3);
}

TEST_F(ViewWindow, StepAddsToTheCursor) {
    image_record& r = dest_new(640, 480, 12);
    r.cursor_x = 10;
    r.cursor_y = 20;
    logical_point p = image_point(&r, 5, -3, true);
    EXPECT_EQ(p.x, 15.0f);
    EXPECT_EQ(p.y, 17.0f);
    p = image_point(&r, 5, -3, false);
    EXPECT_EQ(p.x, 5.0f);
}

TEST_F(ViewWindow, ErrorsChangeNothing) {
    struct row {
        const char* name;
        bool text;
        int kind;  // 0 window, 1 view, 2 coord_map
        float a, b, c, d;
        int32_t flags;
    };
    const row rows[] = {
        {"window x1 = x2", false, 0, 5, 0, 5, 10, 1},
        {"window y1 = y2", false, 0, 0, 5, 10, 5, 1},
        {"screen order without coordinates", false, 0, 0, 0, 10, 10, 2},
        {"window on a text image", true, 0, 0, 0, 10, 10, 1},
        {"view corner past the right edge", false, 1, 0, 0, 64, 10, 1},
        {"view corner above the top", false, 1, 0, -1, 10, 10, 1},
        {"view fill without coordinates", false, 1, 0, 0, 0, 0, 4},
        {"view border without coordinates", false, 1, 0, 0, 0, 0, 8},
        {"screen-relative view without coordinates", false, 1, 0, 0, 0, 0, 2},
        {"coord_map kind 4", false, 2, 0, 0, 0, 0, 4},
        {"coord_map kind -1", false, 2, 0, 0, 0, 0, -1},
        {"coord_map on a text image", true, 2, 0, 0, 0, 0, 0},
    };
    for (const row& c : rows) {
        SCOPED_TRACE(c.name);
        image_record& r = c.text ? dest_new(80, 25, 0) : dest_new(64, 48, 12);
        if (!c.text) graphics_window_set(0, 0, 10, 10, 1);
        image_record before;
        std::memcpy(&before, &r, sizeof r);
        if (c.kind == 0) graphics_window_set(c.a, c.b, c.c, c.d, c.flags);
        if (c.kind == 1) graphics_view_set(int32_t(c.a), int32_t(c.b), int32_t(c.c), int32_t(c.d), 1, 2, c.flags);
        if (c.kind == 2) {
            EXPECT_EQ(coord_map(3, c.flags), 0.0f);
        }
        EXPECT_EQ(raised(), 5);
        EXPECT_EQ(std::memcmp(&before, &r, sizeof r), 0);
    }
}

TEST_F(ViewWindow, BorderDrawsOnlyWhatLiesOnTheImage) {
    const image_record& r = dest_new(14, 13, 13);
    graphics_view_set(0, 0, 10, 10, 0, 5, 1 | 8);
    graphics_view_set(3, 3, 5, 4, 0, 7, 1 | 8);
    ASSERT_EQ(raised(), 0);
    const std::vector<std::string> want = {
        "...........5..",
        "...........5..",
        "..77777....5..",
        "..7...7....5..",
        "..7...7....5..",
        "..77777....5..",
        "...........5..",
        "...........5..",
        "...........5..",
        "...........5..",
        "...........5..",
        "555555555555..",
        "..............",
    };
    EXPECT_EQ(picture(r), want);
}

TEST_F(ViewWindow, FillCoversTheView) {
    const image_record& r = dest_new(8, 6, 13);
    graphics_window_set(-1, -1, 1, 1, 1);
    graphics_view_set(1, 1, 3, 2, 4, 0, 1 | 4);
    graphics_window_set(0, 0, 0, 0, 0);
    graphics_view_set(5, 3, 6, 4, 3, 0, 1 | 2 | 4);  // without a window the fill covers the view, screen-relative too
    ASSERT_EQ(raised(), 0);
    const std::vector<std::string> want = {
        "........",
        ".444....",
        ".444....",
        ".....33.",
        ".....33.",
        "........",
    };
    EXPECT_EQ(picture(r), want);
}

TEST_F(ViewWindow, ViewOnATextImageLeavesItsCells) {
    image_record& r = dest_new(80, 25, 0);
    graphics_view_set(0, 0, 10, 10, 1, 2, 1 | 4 | 8);
    EXPECT_EQ(raised(), 0);
    EXPECT_EQ(r.clip_x2, 10);
    auto* cells = reinterpret_cast<const text_cell*>(r.pixels);
    for (int32_t i = 0; i < 80 * 25; ++i) ASSERT_EQ(cells[i].code | cells[i].attribute << 8, 0x0720);
}

}  // namespace
