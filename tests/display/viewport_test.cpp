// Viewport arithmetic, letterbox bars and window fitting, without a window.
#include <gtest/gtest.h>

#include <cmath>

#include "display/viewport.h"
#include "display/window_fit.h"

namespace {

struct viewport_case {
    const char* name;
    int32_t frame_w, frame_h, window_w, window_h;
    int32_t fullscreen, smooth_option, stretch;
    int32_t x1, y1, x2, y2;
    float scale_x, scale_y;
    int32_t smooth, letterbox;
};

const viewport_case viewport_cases[] = {
    {"same size stretched", 640, 400, 640, 400, 0, 0, 2, 0, 0, 639, 399, 1.0f, 1.0f, 0, 0},
    {"bigger window 1:1", 640, 400, 1280, 800, 0, 0, 0, 0, 0, 639, 399, 1.0f, 1.0f, 0, 0},
    {"bigger window stretched", 640, 400, 1280, 800, 0, 0, 1, 0, 0, 1279, 799, 2.0f, 2.0f, 0, 0},
    {"bigger window smoothed", 640, 400, 1280, 800, 0, 0, 2, 0, 0, 1279, 799, 2.0f, 2.0f, 1, 0},
    {"windowed stretch ignores aspect", 640, 480, 1000, 700, 0, 0, 1, 0, 0, 999, 699, 1.5625f, 700.0f / 480, 0, 0},
    {"full screen stretched", 640, 400, 1920, 1080, 1, 0, 0, 0, 0, 1919, 1079, 3.0f, 2.7f, 0, 0},
    {"full screen stretched smooth", 640, 400, 1920, 1080, 1, 1, 0, 0, 0, 1919, 1079, 3.0f, 2.7f, 1, 0},
    {"letterbox left and right", 640, 400, 1920, 1080, 2, 0, 0, 96, 0, 1823, 1079, 2.7f, 2.7f, 0, 1},
    {"letterbox top and bottom", 640, 400, 1280, 1024, 2, 0, 0, 0, 112, 1279, 911, 2.0f, 2.0f, 0, 2},
    {"aspect kept, same aspect", 640, 400, 1280, 800, 2, 1, 0, 0, 0, 1279, 799, 2.0f, 2.0f, 1, 0},
    {"full screen wins over stretch 0", 320, 200, 1280, 1024, 2, 0, 0, 0, 112, 1279, 911, 4.0f, 4.0f, 0, 2},
    {"odd letterbox", 640, 480, 1366, 768, 2, 0, 0, 171, 0, 1194, 767, 1.6f, 1.6f, 0, 1},
};

class viewport_table : public testing::TestWithParam<viewport_case> {};

TEST_P(viewport_table, rectangle_scale_and_bars) {
    const viewport_case& c = GetParam();
    viewport_record v;
    ASSERT_TRUE(viewport_of(c.frame_w, c.frame_h, c.window_w, c.window_h, c.fullscreen, c.smooth_option, c.stretch, v));
    EXPECT_EQ(v.x1, c.x1);
    EXPECT_EQ(v.y1, c.y1);
    EXPECT_EQ(v.x2, c.x2);
    EXPECT_EQ(v.y2, c.y2);
    EXPECT_EQ(v.width, c.x2 - c.x1 + 1);
    EXPECT_EQ(v.height, c.y2 - c.y1 + 1);
    EXPECT_FLOAT_EQ(v.scale_x, c.scale_x);
    EXPECT_FLOAT_EQ(v.scale_y, c.scale_y);
    EXPECT_EQ(v.smooth, c.smooth);
    EXPECT_EQ(v.letterbox, c.letterbox);

    // The whole picture maps exactly onto the viewport rectangle.
    window_rect picture = viewport_map_rect(v, 0, 0, static_cast<float>(c.frame_w - 1), static_cast<float>(c.frame_h - 1));
    EXPECT_EQ(picture.left, v.x1);
    EXPECT_EQ(picture.top, v.y1);
    EXPECT_EQ(picture.right, v.x2);
    EXPECT_EQ(picture.bottom, v.y2);

    // With a letterbox every window pixel on the barred axis is either picture or bar, never both.
    window_rect bars[2];
    int n = letterbox_bars(v, bars);
    EXPECT_EQ(n, v.letterbox == 0 ? 0 : 2);
    if (v.letterbox == 0) return;
    bool across = v.letterbox == 1;
    int32_t extent = across ? v.window_width : v.window_height;
    for (int32_t p = 0; p < extent; ++p) {
        bool in_picture = across ? (p >= v.x1 && p <= v.x2) : (p >= v.y1 && p <= v.y2);
        int covered = 0;
        for (int i = 0; i < n; ++i) {
            int32_t lo = across ? bars[i].left : bars[i].top;
            int32_t hi = across ? bars[i].right : bars[i].bottom;
            covered += p >= lo && p <= hi;
        }
        ASSERT_EQ(covered, in_picture ? 0 : 1) << "at " << p;
    }
    for (int i = 0; i < n; ++i) {
        // Each bar spans the whole other axis.
        EXPECT_EQ(across ? bars[i].top : bars[i].left, 0);
        EXPECT_EQ(across ? bars[i].bottom : bars[i].right, (across ? v.window_height : v.window_width) - 1);
    }
}

INSTANTIATE_TEST_SUITE_P(cases, viewport_table, testing::ValuesIn(viewport_cases),
                         [](const testing::TestParamInfo<viewport_case>& info) {
                             std::string name = info.param.name;
                             for (char& ch : name)
                                 if (!isalnum(static_cast<unsigned char>(ch))) ch = '_';
                             return name;
                         });

TEST(viewport, a_size_of_zero_keeps_the_last_viewport) {
    const int32_t sizes[][4] = {{640, 400, 0, 400}, {640, 400, 1280, 0}, {0, 400, 640, 400}, {640, 0, 640, 400}};
    for (auto& s : sizes) {
        viewport_record v;
        v.x2 = 12345;
        EXPECT_FALSE(viewport_of(s[0], s[1], s[2], s[3], 2, 0, 1, v));
        EXPECT_EQ(v.x2, 12345);
    }
}

TEST(viewport, mapping_rounds_to_nearest_even) {
    viewport_record v;
    ASSERT_TRUE(viewport_of(640, 400, 960, 600, 0, 0, 1, v));  // scale 1.5
    const struct {
        float x;
        int32_t start, edge;
    } cases[] = {{0, 0, 0}, {1, 2, 2}, {2, 3, 4}, {3, 4, 5}, {5, 8, 8}, {639, 958, 959}};
    for (auto& c : cases) {
        EXPECT_EQ(viewport_map_x(v, c.x), c.start) << c.x;
        EXPECT_EQ(viewport_map_x_edge(v, c.x), c.edge) << c.x;
        EXPECT_EQ(viewport_map_y(v, c.x), c.start) << c.x;
        EXPECT_EQ(viewport_map_y_edge(v, c.x), c.edge) << c.x;
    }
    viewport_record lb;
    ASSERT_TRUE(viewport_of(640, 400, 1920, 1080, 2, 0, 0, lb));  // scale 2.7 from x 96
    EXPECT_EQ(viewport_map_x(lb, 1), 99);
    EXPECT_EQ(viewport_map_x_edge(lb, 0), 98);
    // trunc(11 * 2.7 + 0.99) = 30 pixels wide, 4 rows give 11; the sizes ignore the corners' order.
    window_rect a = viewport_map_rect(lb, 10, 5, 20, 8);
    window_rect b = viewport_map_rect(lb, 20, 8, 10, 5);
    EXPECT_EQ(a.left, 123);
    EXPECT_EQ(a.right - a.left + 1, 30);
    EXPECT_EQ(a.bottom - a.top + 1, 11);
    EXPECT_EQ(b.right - b.left, a.right - a.left);
    EXPECT_EQ(b.bottom - b.top, a.bottom - a.top);
}

TEST(viewport, coordinates_far_outside_any_window_map_without_overflow) {
    viewport_record v;
    ASSERT_TRUE(viewport_of(640, 400, 1920, 1080, 2, 0, 0, v));  // scale 2.7 from x 96
    EXPECT_EQ(viewport_map_x(v, std::nanf("")), v.x1);
    EXPECT_GT(viewport_map_x(v, 1e30f), 1 << 28);
    EXPECT_LT(viewport_map_x(v, -1e30f), -(1 << 28));
    window_rect huge = viewport_map_rect(v, -1e30f, -1e30f, 1e30f, 1e30f);
    EXPECT_LT(huge.left, 0);
    EXPECT_GT(huge.right, huge.left);
    EXPECT_GT(huge.bottom, huge.top);
}

// ---- window fitting ---------------------------------------------------------------------------

window_fit_input fit_input(int32_t fw, int32_t fh, int32_t ww, int32_t wh, int32_t pw, int32_t ph, int32_t stretch,
                           int32_t locked, int64_t now_ms = 0) {
    return {fw, fh, ww, wh, pw, ph, stretch, locked, now_ms};
}

TEST(window_fit, a_first_frame_of_another_size_then_the_screen_size) {
    // The 640 x 350 page shown before the 640 x 480 screen, in a resizable stretched window.
    window_fit_state state;
    window_size_request first = window_fit(state, fit_input(640, 350, 640, 400, 640, 400, 2, 0));
    ASSERT_TRUE(first.resize);
    EXPECT_EQ(first.width, 640);
    EXPECT_EQ(first.height, 350);
    window_size_request second = window_fit(state, fit_input(640, 480, 640, 350, 640, 400, 2, 0));
    ASSERT_TRUE(second.resize);
    EXPECT_EQ(second.width, 640);
    EXPECT_EQ(second.height, 480);
    // Once the window has that size nothing more happens.
    EXPECT_FALSE(window_fit(state, fit_input(640, 480, 640, 480, 640, 350, 2, 0)).resize);
}

TEST(window_fit, a_dragged_window_keeps_the_frame_shape) {
    const struct {
        int32_t ww, wh, pw, ph;
        int32_t width, height;
    } cases[] = {
        {640, 800, 640, 400, 1280, 800},   // only the height changed: it is taken
        {960, 400, 640, 400, 960, 600},    // only the width changed
        {1280, 600, 640, 400, 1280, 800},  // both: the width changed more
        {700, 700, 640, 400, 1120, 700},   // both: the height changed more
        {740, 500, 640, 400, 800, 500},    // both by the same amount: the height is taken
    };
    for (auto& c : cases) {
        window_fit_state state;
        window_size_request r = window_fit(state, fit_input(640, 400, c.ww, c.wh, c.pw, c.ph, 1, 0));
        ASSERT_TRUE(r.resize) << c.ww << "x" << c.wh;
        EXPECT_EQ(r.width, c.width) << c.ww << "x" << c.wh;
        EXPECT_EQ(r.height, c.height) << c.ww << "x" << c.wh;
        // The size asked for is not taken for another drag.
        EXPECT_FALSE(window_fit(state, fit_input(640, 400, r.width, r.height, c.ww, c.wh, 1, 0)).resize);
    }
}

TEST(window_fit, follows_the_picture_only_when_locked_or_when_it_changes_size) {
    window_fit_state state;
    // The user made an unstretched resizable window bigger: it stays.
    EXPECT_FALSE(window_fit(state, fit_input(640, 400, 800, 600, 640, 400, 0, 0)).resize);
    // A locked window goes back to the picture's size.
    window_size_request locked = window_fit(state, fit_input(640, 400, 800, 600, 640, 400, 0, 1));
    EXPECT_TRUE(locked.resize);
    EXPECT_EQ(locked.width, 640);
    EXPECT_EQ(locked.height, 400);
    // A new picture size is followed in a resizable window too, once the last answer is overdue.
    window_size_request bigger =
        window_fit(state, fit_input(640, 480, 800, 600, 640, 400, 0, 0, window_resize_answer_wait_ms));
    EXPECT_TRUE(bigger.resize);
    EXPECT_EQ(bigger.height, 480);
}

TEST(window_fit, the_old_size_is_no_drag_until_the_asked_size_is_overdue) {
    window_fit_state state;
    ASSERT_TRUE(window_fit(state, fit_input(640, 480, 640, 400, 640, 400, 1, 0, 1000)).resize);  // asks 640 x 480
    // The window system has not answered yet: the old 640 x 400 is not taken for a drag.
    EXPECT_FALSE(window_fit(state, fit_input(640, 480, 640, 400, 640, 400, 1, 0, 1499)).resize);
    // No answer in time: the size is the user's again, and its shape is kept.
    window_size_request late = window_fit(state, fit_input(640, 480, 640, 400, 640, 400, 1, 0, 1500));
    ASSERT_TRUE(late.resize);
    EXPECT_EQ(late.width, 533);
    EXPECT_EQ(late.height, 400);
}

TEST(window_fit, a_minimised_window_or_an_empty_frame_asks_nothing) {
    const int32_t sizes[][4] = {{640, 400, 0, 0}, {640, 400, 0, 400}, {0, 400, 640, 400}, {640, 0, 640, 400}};
    for (auto& s : sizes) {
        window_fit_state state;
        EXPECT_FALSE(window_fit(state, fit_input(s[0], s[1], s[2], s[3], 640, 400, 0, 1)).resize);
        EXPECT_EQ(state.last_frame_width, 640);  // nothing remembered either
    }
}

}  // namespace
