// The mouse and synthesised input through the real window under X: pointer moves and clicks from
// xdotool reach the mouse ring and the mouse device, positions follow a stretched window, and the
// program's own synthesised keys and clicks come back through the window. Each test runs a child
// process (input_child scenarios below).
#include <gtest/gtest.h>

#include <X11/Xlib.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "core/strings.h"
#include "core/timing.h"
#include "display/display_control.h"
#include "display/input_devices.h"
#include "display/keyboard.h"
#include "display/mouse.h"
#include "display/synth_input.h"
#include "display/window.h"
#include "runtime/startup.h"
#include "window_harness.h"

using namespace window_test;

namespace {

// ---- the children --------------------------------------------------------------------------------

std::string mouse_line(const mouse_event& e) {
    return "mouse " + std::to_string(e.x) + " " + std::to_string(e.y) + " " + std::to_string(e.buttons);
}

// Reports the current mouse record with the position queries.
void mouse_record_report() {
    char position[64];
    std::snprintf(position, sizeof position, " at %.3f %.3f", mouse_x_get(), mouse_y_get());
    mouse_event e = mouse_event_current();
    std::string moved;
    if (e.movement_x || e.movement_y)
        moved = " moved " + std::to_string(e.movement_x) + " " + std::to_string(e.movement_y);
    report(mouse_line(e) + position + moved);
}

// Reports every mouse record, and every snapshot of the mouse device.
void mouse_reports() {
    while (mouse_input_next()) mouse_record_report();
    while (int32_t n = device_input_next(0, 0)) {
        if (n != mouse_device) continue;
        report("device " + std::to_string(device_button_get(1, 1)) + " " + std::to_string(int(device_wheel_get(3, 1))));
    }
}

void mouse_body() {
    window_wait();
    report("ready " + std::to_string(shown_frame_dump()));
    for (;;) {
        mouse_reports();
        sleep_ms(1);
    }
}

void stretched_mouse_body() {
    window_wait();
    window_resize_mode_set(1, 1);
    mouse_body();
}

// Waits until the window has the keyboard focus (it takes it itself when no window manager runs).
bool focus_wait(Window w) {
    Display* d = XOpenDisplay(nullptr);
    if (!d) return false;
    bool focused = false;
    for (int i = 0; i < 300 && !focused; ++i) {
        Window focus = 0;
        int revert = 0;
        XGetInputFocus(d, &focus, &revert);
        focused = focus == w;
        if (!focused) sleep_ms(10);
    }
    XCloseDisplay(d);
    return focused;
}

void synth_body() {
    window_wait();
    auto w = static_cast<Window>(shown_frame_dump());
    report(focus_wait(w) ? "focused" : "not focused");
    input_synth_type(string_from_cstring("aB"));
    for (int64_t end = clock_ms() + reply_bound_ms; clock_ms() < end;) {
        int32_t code = key_hit_pop();
        if (code > -256 && code < 256 && code != 0) report("key " + std::to_string(code));
        if (code == -66) break;
        if (!code) sleep_ms(1);
    }
    input_synth_click(window_x_get() + 10, window_y_get() + 20);
    // Once the click is over: column 41, row 13 of the text page, whose pixel (324, 200) the
    // pointer goes to.
    bool pressed = false, moved = false;
    for (;;) {
        while (mouse_input_next()) {
            mouse_record_report();
            bool left = mouse_event_current().buttons & mouse_bit_left;
            if (pressed && !left && !moved) {
                mouse_position_set(41, 13);
                moved = true;
            }
            pressed = pressed || left;
        }
        sleep_ms(1);
    }
}

// Clicks at (200, 100) through the program's own synthesised input once raw movement arrives.
void raw_click_body() {
    window_wait();
    report("ready " + std::to_string(shown_frame_dump()));
    bool clicked = false;
    for (;;) {
        while (mouse_input_next()) {
            mouse_record_report();
            mouse_event e = mouse_event_current();
            if (!clicked && (e.movement_x || e.movement_y)) {
                input_synth_click(200, 100);
                report("clicked");
                clicked = true;
            }
        }
        sleep_ms(1);
    }
}

const scenario scenarios[] = {
    {"mouse", mouse_body, nullptr},
    {"raw_click", raw_click_body, nullptr},
    {"stretched_mouse", stretched_mouse_body, window_resizable_set},
    {"synth", synth_body, nullptr},
};

}  // namespace

TEST(input_child, DISABLED_run) {
    scenario_run(scenarios);
    const char* wanted = std::getenv("LUMO_WINDOW_SCENARIO");
    FAIL() << "no scenario " << (wanted ? wanted : "(none)");
}

// ---- the tests -----------------------------------------------------------------------------------

namespace {

constexpr const char* entry = "input_child.DISABLED_run";

class input_window : public testing::Test {
protected:
    void SetUp() override {
        if (!std::getenv("DISPLAY")) GTEST_SKIP() << "needs an X display";
        ASSERT_NE(x.display(), nullptr);
    }
    static Window window_of(const std::optional<std::string>& report) {
        return report ? static_cast<Window>(std::stoull(*report)) : 0;
    }
    static void xdotool(const std::string& arguments) {
        std::string command = "xdotool " + arguments + " 2>/dev/null";
        ASSERT_EQ(std::system(command.c_str()), 0) << command;
    }
    x_connection x;
};

// Mouse records and mouse-device snapshots reported by a child, each in its own order.
struct mouse_reports_seen {
    std::vector<std::string> records, snapshots;
};
mouse_reports_seen reports_collect(child_process& child, size_t records, size_t snapshots) {
    mouse_reports_seen seen;
    while (seen.records.size() < records || seen.snapshots.size() < snapshots) {
        std::optional<std::string> line = child.await("", reply_bound_ms);
        if (!line) break;
        if (line->rfind("mouse ", 0) == 0) seen.records.push_back(line->substr(6));
        if (line->rfind("device ", 0) == 0) seen.snapshots.push_back(line->substr(7));
    }
    return seen;
}

TEST_F(input_window, pointer_moves_and_clicks_reach_the_ring_and_the_mouse_device) {
    child_process child("mouse", true, entry);
    Window w = window_of(child.await("ready "));
    ASSERT_NE(w, 0u);
    xdotool("mousemove 1270 1010");  // away from where the window goes
    x.move(w, 0, 0);
    std::string id = std::to_string(w);
    xdotool("mousemove --window " + id + " 100 50");
    xdotool("click --window " + id + " 1");
    xdotool("click --window " + id + " 4");
    xdotool("click --window " + id + " 8");  // a forward button: nothing
    xdotool("mousemove --window " + id + " 101 50");
    mouse_reports_seen seen = reports_collect(child, 8, 6);
    // On the text page, pixel 100 lies in column 13 and pixel 50 in row 4 (16-pixel glyphs).
    const std::vector<std::string> records = {
        "100 50 0 at 13.001 3.626", "100 50 0 at 13.001 3.626", "100 50 1 at 13.001 3.626",
        "100 50 0 at 13.001 3.626", "100 50 8 at 13.001 3.626", "100 50 0 at 13.001 3.626",
        "101 50 0 at 13.126 3.626", "101 50 0 at 13.126 3.626",
    };
    EXPECT_EQ(seen.records, records);
    // Motion, left down and up, wheel up and back, motion: left button and wheel 3.
    EXPECT_EQ(seen.snapshots, (std::vector<std::string>{"0 0", "-1 0", "0 0", "0 -1", "0 0", "0 0"}));
}

TEST_F(input_window, relative_movement_is_a_record_with_the_movement_and_one_without) {
    child_process child("mouse", true, entry);
    Window w = window_of(child.await("ready "));
    ASSERT_NE(w, 0u);
    x.move(w, 0, 0);
    xdotool("mousemove --window " + std::to_string(w) + " 100 50");  // the first motion starts raw input
    ASSERT_TRUE(child.await("mouse 100 50 ", reply_bound_ms));
    std::optional<std::string> moved;
    for (int i = 0; i < 20 && !moved; ++i) {
        xdotool("mousemove_relative -- 3 -2");
        for (std::optional<std::string> r; !moved && (r = child.await("mouse ", 300));)
            if (r->find(" moved ") != std::string::npos) moved = r;
    }
    ASSERT_TRUE(moved) << "no raw movement arrived";
    EXPECT_NE(moved->find(" moved 3 -2"), std::string::npos) << *moved;
    std::optional<std::string> next = child.await("mouse ", reply_bound_ms);
    ASSERT_TRUE(next);
    EXPECT_EQ(next->find(" moved "), std::string::npos) << *next;
}

// XTest passes an absolute move's position as raw values, on a device whose axes say relative.
TEST_F(input_window, an_absolute_move_is_no_movement_and_a_relative_move_after_it_is) {
    child_process child("raw_click", true, entry);
    Window w = window_of(child.await("ready "));
    ASSERT_NE(w, 0u);
    x.move(w, 0, 0);
    xdotool("mousemove 300 200");  // the first motion starts raw input
    std::optional<std::string> clicked;
    for (int i = 0; i < 20 && !clicked; ++i) {
        xdotool("mousemove_relative -- 3 -2");
        clicked = child.await("clicked", 300);
    }
    ASSERT_TRUE(clicked) << "no raw movement arrived";
    // The click's records, then the movement of a relative move made after it; the rest of the
    // first relative move may come between.
    std::vector<std::string> moved;
    bool released = false;
    for (std::optional<std::string> r; (r = child.await("mouse ", reply_bound_ms));) {
        size_t at = r->find(" moved ");
        if (at != std::string::npos) moved.push_back(r->substr(at + 1));
        if (!released && r->rfind("200 100 0 ", 0) == 0) {
            released = true;
            xdotool("mousemove_relative -- 5 7");
        }
        if (!moved.empty() && moved.back() != "moved 3 -2") break;
    }
    EXPECT_TRUE(released);
    ASSERT_FALSE(moved.empty());
    EXPECT_EQ(moved.back(), "moved 5 7");
}

TEST_F(input_window, positions_follow_a_stretched_window) {
    child_process child("stretched_mouse", true, entry);
    Window w = window_of(child.await("ready "));
    ASSERT_NE(w, 0u);
    xdotool("mousemove 1270 1010");
    x.move(w, 0, 0);
    x.resize(w, 1280, 800);
    ASSERT_TRUE(x.window_size_wait(w, 1280, 800));
    std::string id = std::to_string(w);
    // The renderer takes the new size with its next picture: move until the position says so.
    std::optional<std::string> at;
    for (int i = 0; i < 50; ++i) {
        xdotool("mousemove --window " + id + " " + std::to_string(1000 + i % 2) + " 600");
        at = child.await("mouse " + std::to_string(1000 + i % 2) + " 600 0 at ", 2000);
        if (at && at->rfind("63.", 0) == 0) break;
        sleep_ms(20);
    }
    // Window pixel 1000 is picture pixel 500 (column 63), 600 is 300 (row 19).
    ASSERT_TRUE(at);
    EXPECT_EQ(*at, "63.001 19.251");
}

TEST_F(input_window, synthesised_keys_and_clicks_come_back_through_the_window) {
    child_process child("synth", true, entry);
    ASSERT_EQ(child.await("focused"), "");
    std::vector<std::string> keys;
    for (int i = 0; i < 4; ++i) keys.push_back(child.await("key ", reply_bound_ms).value_or("none"));
    EXPECT_EQ(keys, (std::vector<std::string>{"97", "-97", "66", "-66"}));
    std::optional<std::string> down = child.await("mouse 10 20 1", reply_bound_ms);
    EXPECT_TRUE(down);
    EXPECT_TRUE(child.await("mouse 10 20 0", reply_bound_ms));
    EXPECT_EQ(child.await("mouse 324 200 0 at ", reply_bound_ms), "41.001 13.001");
}

}  // namespace
