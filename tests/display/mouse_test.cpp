// The mouse without a window: records of clicks, wheel steps, motion and raw movement, the ring's
// overflow, button and wheel queries, positions through the viewport on graphics and text
// displays, and pointer styles and positions.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>
#include <string>
#include <thread>

#include "core/error_codes.h"
#include "core/runtime_fixture.h"
#include "core/strings.h"
#include "display/input_devices.h"
#include "display/mouse.h"
#include "display/viewport.h"
#include "display/window.h"
#include "screen/image_fixture.h"

namespace {

class Mouse : public image_test {
protected:
    void SetUp() override {
        image_test::SetUp();
        string_store_reset();
        string_segment_init();
        mouse_reset();
        mouse_ring_init();
        input_device_table_make();
        input_devices_init();
    }
    void TearDown() override {
        window_hidden = 0;
        display_image = nullptr;
        input_device_table_make();
        mouse_reset();
        string_store_reset();
        image_test::TearDown();
    }
    static void shown(int32_t width, int32_t height, int32_t mode) {
        int32_t slot = image_new(width, height, mode);
        ASSERT_NE(slot, 0);
        display_image = &image_pool[slot];
    }
    // The current record after each step until the ring is caught up.
    static std::vector<mouse_event> steps() {
        std::vector<mouse_event> out;
        while (mouse_input_next()) out.push_back(mouse_event_current());
        return out;
    }
    recorded_boxes boxes;
};

TEST_F(Mouse, AClickIsTwoRecords) {
    glut_mouse_callback(mouse_button_left, 0, 10, 20);
    glut_mouse_callback(mouse_button_left, 1, 10, 20);
    EXPECT_EQ(mouse_input_next(), -1);
    EXPECT_EQ(mouse_button_get(1), -1);
    EXPECT_EQ(mouse_event_current().x, 10);
    EXPECT_EQ(mouse_event_current().y, 20);
    EXPECT_EQ(mouse_input_next(), -1);
    EXPECT_EQ(mouse_button_get(1), 0);
    EXPECT_EQ(mouse_input_next(), 0);
}

TEST_F(Mouse, ButtonNumbersOfTheQueryAreLeftRightMiddle) {
    const struct {
        int button;
        int32_t left, right, middle;
    } cases[] = {{mouse_button_left, -1, 0, 0}, {mouse_button_right, 0, -1, 0}, {mouse_button_middle, 0, 0, -1}};
    for (const auto& c : cases) {
        glut_mouse_callback(c.button, 0, 0, 0);
        mouse_input_next();
        EXPECT_EQ(mouse_button_get(1), c.left);
        EXPECT_EQ(mouse_button_get(2), c.right);
        EXPECT_EQ(mouse_button_get(3), c.middle);
        EXPECT_EQ(mouse_button_get(4), 0);
        glut_mouse_callback(c.button, 1, 0, 0);
        mouse_input_next();
    }
    EXPECT_EQ(mouse_button_get(0), 0);
    EXPECT_EQ(raised(), error_illegal_function_call);
}

TEST_F(Mouse, OnlyButtonsZeroToTwoReachTheMouseCallback) {
    for (int button = 3; button <= 8; ++button) {
        glut_mouse_callback(button, 0, 1, 1);
        glut_mouse_callback(button, 1, 1, 1);
    }
    EXPECT_EQ(mouse_input_next(), 0);
    EXPECT_EQ(device_input_next(0, 0), 0);
    // Called directly, the event maps any other number to the left button.
    mouse_button_down_event(7, 1, 1);
    EXPECT_EQ(mouse_input_next(), -1);
    EXPECT_EQ(mouse_button_get(1), -1);
}

TEST_F(Mouse, AWheelStepSetsThenClearsItsBit) {
    const struct {
        int direction;
        int32_t wheel;
        float device;
    } cases[] = {{1, -1, -1.0f}, {-1, 1, 1.0f}};
    for (const auto& c : cases) {
        glut_mouse_wheel_callback(0, c.direction, 3, 4);
        glut_mouse_wheel_callback(0, 0, 3, 4);  // no step: nothing
        EXPECT_EQ(mouse_input_next(), -1);
        EXPECT_EQ(mouse_wheel_get(), c.wheel);
        EXPECT_EQ(mouse_input_next(), -1);
        EXPECT_EQ(mouse_wheel_get(), 0);
        EXPECT_EQ(mouse_input_next(), 0);
        ASSERT_EQ(device_input_next(0, 0), mouse_device);
        EXPECT_EQ(device_wheel_get(3, 1), c.device);
        ASSERT_EQ(device_input_next(0, 0), mouse_device);
        EXPECT_EQ(device_wheel_get(3, 1), 0.0f);
        EXPECT_EQ(device_input_next(0, 0), 0);
    }
    // Both bits at once count as neither.
    mouse_button_down_event(mouse_button_wheel_up, 0, 0);
    mouse_button_down_event(mouse_button_wheel_down, 0, 0);
    steps();
    EXPECT_EQ(mouse_wheel_get(), 0);
}

TEST_F(Mouse, MotionIsTwoRecordsAndDragKeepsTheButtons) {
    glut_mouse_callback(mouse_button_right, 0, 1, 1);
    mouse_motion_event(30, 40);
    glut_passive_motion_callback(50, 60);
    std::vector<mouse_event> seen = steps();
    ASSERT_EQ(seen.size(), 5u);
    for (size_t i = 1; i < 5; ++i) EXPECT_EQ(seen[i].buttons, mouse_bit_right) << i;
    EXPECT_EQ(seen[2].x, 30);
    EXPECT_EQ(seen[4].y, 60);
}

TEST_F(Mouse, RawMovementIsTwoRecordsAtTheNewestPosition) {
    mouse_motion_event(7, 8);
    mouse_raw_motion(3, -2);
    std::vector<mouse_event> seen = steps();
    ASSERT_EQ(seen.size(), 4u);
    EXPECT_EQ(seen[2].x, 7);
    EXPECT_EQ(seen[2].y, 8);
    EXPECT_EQ(seen[2].movement_x, 3);
    EXPECT_EQ(seen[2].movement_y, -2);
    EXPECT_EQ(seen[3].movement_x, 0);
    EXPECT_EQ(seen[3].movement_y, 0);
    mouse_raw_motion(-5, 9);
    mouse_input_next();
    EXPECT_EQ(mouse_movement_x_get(), -5.0f);
    EXPECT_EQ(mouse_movement_y_get(), 9.0f);
}

TEST_F(Mouse, AFullRingLosesItsOldestUnreadRecords) {
    const int32_t written = mouse_ring_size + 10;
    for (int32_t i = 0; i < written; ++i) mouse_button_down_event(mouse_button_left, i % 30000, 0);
    int32_t unread = 0;
    while (mouse_input_next()) ++unread;
    EXPECT_EQ(unread, mouse_ring_size - 1);
    EXPECT_EQ(mouse_event_current().x, (written - 1) % 30000);
}

// Graphics display: window pixels to display pixels through the viewport, held to the picture.
TEST_F(Mouse, GraphicsPositionsGoThroughTheViewport) {
    viewport_record one, twice, boxed;
    ASSERT_TRUE(viewport_of(640, 400, 640, 400, 0, 0, 0, one));
    ASSERT_TRUE(viewport_of(640, 400, 1280, 800, 0, 0, 1, twice));
    ASSERT_TRUE(viewport_of(640, 400, 1000, 500, 2, 0, 0, boxed));  // full screen, bars left and right
    ASSERT_EQ(boxed.x1, 100);
    const struct {
        const viewport_record* v;
        int32_t window_x, window_y;
        int32_t x, y;
    } cases[] = {
        {&one, 700, 20, 639, 20},   {&one, -5, 500, 0, 399},   {&one, 0, 0, 0, 0},
        {&twice, 1, 3, 0, 1},       {&twice, 2, 799, 1, 399},  {&twice, 1279, 4, 639, 2},
        {&boxed, 100, 0, 0, 0},     {&boxed, 50, 0, 0, 0},     {&boxed, 899, 499, 639, 399},
        {&boxed, 950, 0, 639, 0},   {&boxed, 101, 1, 1, 1},
    };
    for (const auto& c : cases) {
        mouse_axis ax = mouse_axis_x(*c.v), ay = mouse_axis_y(*c.v);
        EXPECT_EQ(mouse_display_value(ax, c.window_x), float(c.x)) << c.window_x;
        EXPECT_EQ(mouse_display_value(ay, c.window_y), float(c.y)) << c.window_y;
    }
    // A display narrower than the frame holds the position within the display.
    mouse_axis narrow = mouse_axis_x(one);
    narrow.display_size = 320;
    EXPECT_EQ(mouse_display_pixel(narrow, 500), 319);
}

TEST_F(Mouse, TheQueriesReadTheShownFrameAtOneToOne) {
    shown(640, 400, 256);
    mouse_motion_event(700, 123);
    mouse_input_next();
    EXPECT_EQ(mouse_x_get(), 639.0f);
    EXPECT_EQ(mouse_y_get(), 123.0f);
}

// Every pixel of an 80-column text display, shown 1:1, stretched and letterboxed: the value rounds
// to the pixel's 1-based column, and the mouse interrupt's trunc((v - 0.5) * 8) gives the pixel back.
TEST_F(Mouse, TextPositionsRoundToTheCellAndGiveThePixelBack) {
    viewport_record one, twice, boxed;
    ASSERT_TRUE(viewport_of(640, 400, 640, 400, 0, 0, 0, one));
    ASSERT_TRUE(viewport_of(640, 400, 1280, 800, 0, 0, 1, twice));
    ASSERT_TRUE(viewport_of(640, 400, 1000, 500, 2, 0, 0, boxed));
    for (const viewport_record* v : {&one, &twice, &boxed}) {
        mouse_axis a = mouse_axis_x(*v);
        a.cell_size = 8;
        a.display_size = 640;
        int32_t previous = -1;
        for (int32_t w = v->x1; w <= v->x2; ++w) {
            int32_t p = mouse_display_pixel(a, w);
            float value = mouse_display_value(a, w);
            ASSERT_EQ(std::nearbyint(value), float(p / 8 + 1)) << w;
            ASSERT_EQ(static_cast<int32_t>(std::trunc((value - 0.5f) * 8)), p) << w;
            ASSERT_TRUE(p == previous || p == previous + 1) << w;  // no pixel skipped when enlarged
            previous = p;
        }
        EXPECT_EQ(previous, 639);
    }
    mouse_axis a = mouse_axis_x(one);
    a.cell_size = 8;
    EXPECT_EQ(mouse_display_value(a, 16), 2.501f);
    EXPECT_EQ(mouse_display_value(a, 0), 0.501f);
}

TEST_F(Mouse, DeviceAxesSpanThePictureFromMinusOneToOne) {
    viewport_record twice, thin;
    ASSERT_TRUE(viewport_of(640, 400, 1280, 800, 0, 0, 1, twice));
    mouse_axis a = mouse_axis_x(twice);
    EXPECT_EQ(mouse_device_axis(a, 0), -1.0f);
    EXPECT_EQ(mouse_device_axis(a, 1279), 1.0f);
    EXPECT_EQ(mouse_device_axis(a, 5000), 1.0f);
    ASSERT_TRUE(viewport_of(1, 1, 1, 1, 0, 0, 0, thin));
    float one_wide = mouse_device_axis(mouse_axis_x(thin), 0);
    EXPECT_TRUE(std::isfinite(one_wide));
    EXPECT_EQ(one_wide, -1.0f);
}

TEST_F(Mouse, MotionGivesTheDeviceItsNormalisedAxes) {
    // The start-up viewport: 640 x 400 shown 1:1.
    mouse_motion_event(639, 0);
    ASSERT_EQ(device_input_next(0, 0), mouse_device);
    EXPECT_EQ(device_axis_get(1, 1), 1.0f);
    EXPECT_EQ(device_axis_get(2, 1), -1.0f);
}

TEST_F(Mouse, CursorStylesByName) {
    const struct {
        const char* name;
        int32_t cursor;
    } cases[] = {{"default", 1}, {"LINK", 2}, {"Text", 8}, {"crosshair", 9}, {"VERTICAL", 10}, {"horizontal", 11},
                 {"TOPLEFT_BOTTOMRIGHT", 16}, {"topright_bottomleft", 17}, {"ARROW", 0}, {"CROSSHAIRS", 0}, {"", 0}};
    for (const auto& c : cases)
        EXPECT_EQ(mouse_cursor_style_of(reinterpret_cast<const uint8_t*>(c.name), int32_t(std::strlen(c.name))),
                  c.cursor)
            << c.name;
    // A hidden window only remembers the style.
    window_hidden = 1;
    mouse_cursor_show(string_from_cstring("crosshair"), 1);
    EXPECT_EQ(mouse_cursor_style_get(), 9);
    mouse_cursor_show(string_from_cstring("ARROW"), 1);
    EXPECT_EQ(raised(), error_illegal_function_call);
    EXPECT_EQ(mouse_cursor_style_get(), 9);
    mouse_cursor_hide();
    EXPECT_EQ(mouse_cursor_style_get(), 9);
}

TEST_F(Mouse, PositionsOutsideTheDisplayAreRefused) {
    shown(80, 25, 0);
    const struct {
        float x, y;
        int32_t error;
    } text[] = {{0.4f, 1, 5}, {0.5f, 0.5f, 0}, {80.5f, 25.5f, 0}, {80.6f, 1, 5}, {1, 25.6f, 5}};
    for (const auto& c : text) {
        mouse_position_set(c.x, c.y);
        EXPECT_EQ(raised(), c.error) << c.x << "," << c.y;
    }
    shown(320, 200, 13);
    const struct {
        float x, y;
        int32_t error;
    } graphics[] = {{-0.5f, 0, 0}, {-0.6f, 0, 5}, {319.4f, 199, 0}, {319.5f, 0, 5}, {0, 200, 5}, {NAN, 0, 5}};
    for (const auto& c : graphics) {
        mouse_position_set(c.x, c.y);
        EXPECT_EQ(raised(), c.error) << c.x << "," << c.y;
    }
}

TEST_F(Mouse, AMovedPointerReadsBackItsPosition) {
    viewport_record twice;
    ASSERT_TRUE(viewport_of(640, 400, 1280, 800, 0, 0, 1, twice));
    mouse_axis g = mouse_axis_x(twice);
    for (int32_t p : {0, 1, 317, 639}) EXPECT_EQ(mouse_display_value(g, mouse_window_of(g, float(p))), float(p)) << p;
    mouse_axis t = g;
    t.cell_size = 8;
    for (float column : {0.75f, 1.0f, 40.6f, 80.0f})
        EXPECT_EQ(std::nearbyint(mouse_display_value(t, mouse_window_of(t, column))), std::nearbyint(column)) << column;
}

}  // namespace

namespace {

// The window's callbacks write while the program steps through the ring: every record it reads
// is whole and newer than the one before, and the newest always arrives.
TEST(MouseThreaded, RecordsWrittenWhileTheProgramReadsArriveWholeAndInOrder) {
    mouse_reset();
    constexpr int32_t total = 200000;
    std::thread window([] {
        for (int32_t i = 1; i <= total; ++i) mouse_motion_event(i & 0x7FFF, i >> 15);
    });
    int32_t last = 0;
    bool ordered = true;
    while (last < total) {
        if (!mouse_input_next()) continue;
        mouse_event e = mouse_event_current();
        int32_t i = e.x | e.y << 15;
        ordered = ordered && i >= last && e.buttons == 0 && e.movement_x == 0;  // two records per motion
        last = i;
    }
    window.join();
    while (mouse_input_next()) ordered = ordered && mouse_event_current().x == (total & 0x7FFF);
    EXPECT_TRUE(ordered);
    mouse_reset();
}

}  // namespace
