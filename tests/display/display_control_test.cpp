#include "display/display_control.h"

#include <gtest/gtest.h>

#include <cmath>

#include "core/errors.h"
#include "display/frames.h"

namespace {

struct DisplayControl : ::testing::Test {
    void SetUp() override {
        display_control_reset();
        frame_rebuild_forced = 0;
        error_number = 0;
    }
    void TearDown() override {
        display_control_reset();
        error_number = 0;
    }
    static int32_t raised() { return error_number.exchange(0); }
    static std::vector<int32_t> positions() {
        return {display_layer_position(1), display_layer_position(2), display_layer_position(3),
                display_layer_position(4)};
    }
};

TEST_F(DisplayControl, FrameRate) {
    struct row {
        double value;
        int32_t form;
        double rate;
        int32_t automatic;
        int32_t error;
    };
    const row rows[] = {
        {30, 2, 30, 0, 0},    {500, 2, 200, 0, 0},       {1, 2, 1, 0, 0},  {0.5, 2, 60, 0, 5},
        {NAN, 2, 60, 0, 5},   {30, 1, 60, 1, 0},         {30, 3, 60, 0, 5}, {30, 0, 60, 0, 5},
        {-INFINITY, 2, 60, 0, 5}, {INFINITY, 2, 200, 0, 0},
    };
    for (const row& r : rows) {
        display_control_reset();
        display_fps_set(r.value, r.form);
        EXPECT_EQ(raised(), r.error) << r.value << " form " << r.form;
        EXPECT_EQ(display_fps.load(), r.rate) << r.value << " form " << r.form;
        EXPECT_EQ(display_fps_auto.load(), r.automatic);
    }
    display_control_reset();
    error_number = 5;
    display_fps_set(30, 2);
    EXPECT_EQ(display_fps.load(), 60);
}

TEST_F(DisplayControl, FullScreenRequests) {
    struct row {
        int32_t current, kind, options, request, smooth;
    };
    const row rows[] = {
        {0, 0, 1, 1, 1}, {0, 1, 0, -1, 0}, {0, 2, 0, 1, 0}, {0, 3, 3, 2, 1}, {0, 4, 0, -1, 0}, {0, -1, 0, -1, 0},
        {1, 0, 0, -1, 0}, {1, 1, 0, 0, 0}, {2, 3, 0, -1, 0}, {2, 2, 0, 1, 0},
    };
    for (const row& r : rows) {
        display_control_reset();
        fullscreen_mode = r.current;
        frame_rebuild_forced = 0;
        fullscreen_set(r.kind, r.options);
        EXPECT_EQ(fullscreen_request.load(), r.request) << "from " << r.current << " kind " << r.kind;
        EXPECT_EQ(fullscreen_smooth.load(), r.smooth);
        EXPECT_EQ(frame_rebuild_forced.load(), 1);
        EXPECT_EQ(fullscreen_get(), r.request != -1 ? r.request : r.current);
    }
}

TEST_F(DisplayControl, LayerOrder) {
    EXPECT_EQ(positions(), (std::vector<int32_t>{1, 2, 4, 3}));
    struct row {
        int32_t a, b, c, d;
        std::vector<int32_t> positions;
        int32_t error;
    };
    const row rows[] = {
        {2, 0, 0, 0, {0, 1, 0, 0}, 0},  {4, 1, 2, 3, {2, 3, 4, 1}, 0}, {0, 0, 0, 0, {0, 0, 0, 0}, 0},
        {0, 3, 0, 1, {4, 0, 2, 0}, 0},  {1, 1, 0, 0, {1, 2, 4, 3}, 5}, {0, 0, 2, 2, {1, 2, 4, 3}, 5},
        {5, 0, 0, 0, {1, 2, 4, 3}, 5},  {-1, 0, 0, 0, {1, 2, 4, 3}, 5},
    };
    for (const row& r : rows) {
        display_control_reset();
        display_order_set(r.a, r.b, r.c, r.d);
        EXPECT_EQ(raised(), r.error);
        EXPECT_EQ(positions(), r.positions) << r.a << r.b << r.c << r.d;
    }
    const std::vector<int32_t> presets[] = {{2, 3, 4, 1}, {1, 2, 4, 3}, {0, 0, 0, 1}};
    for (int32_t kind = 1; kind <= 3; ++kind) {
        display_order_set(0, 0, 0, 0);
        display_order_preset(kind);
        EXPECT_EQ(positions(), presets[kind - 1]) << kind;
    }
    display_order_preset(7);
    EXPECT_EQ(positions(), presets[2]);
}

TEST_F(DisplayControl, ResizeModeAndEvents) {
    window_resize_mode_set(0, 2);  // what the winding program asks: leave the lock, stretch smoothly
    EXPECT_EQ(window_resize_locked.load(), 1);
    EXPECT_EQ(window_stretch_mode.load(), 2);
    window_resize_mode_set(5, 9);  // stored without a check
    EXPECT_EQ(window_stretch_mode.load(), 9);

    glut_reshape_callback(800, 600);
    EXPECT_EQ(window_resize_event_get(), 0);  // locked: no events
    window_resize_mode_set(1, 0);
    EXPECT_EQ(window_resize_locked.load(), 0);
    EXPECT_EQ(window_resize_event_get(), -1);
    EXPECT_EQ(window_resize_event_get(), 0);
    glut_reshape_callback(1024, 768);
    EXPECT_EQ(window_resize_event_get(), -1);
    EXPECT_EQ(window_resize_width_get(), 1024);
    EXPECT_EQ(window_resize_height_get(), 768);
    EXPECT_EQ(window_width.load(), 1024);
    EXPECT_EQ(window_previous_width.load(), 800);
    EXPECT_EQ(window_previous_height.load(), 600);
    EXPECT_EQ(window_reshape_pending.load(), 0);
    EXPECT_EQ(window_reshaped.load(), 1);
    window_resize_mode_set(2, 0);
    EXPECT_EQ(window_resize_locked.load(), 1);
}

}  // namespace
