// The real window under X: what it shows, its title, stretching and letterboxing, close messages,
// raw keys and the process's end. Each test runs a child process (window_child scenarios below).
#include <gtest/gtest.h>

#include <X11/keysym.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "core/shutdown.h"
#include "core/strings.h"
#include "core/timing.h"
#include "display/display_control.h"
#include "display/frames.h"
#include "display/hardware_textures.h"
#include "display/window.h"
#include "display/window_hooks.h"
#include "draw/hardware_drawing.h"
#include "draw/image_copy.h"
#include "draw/triangle_map.h"
#include "runtime/lifecycle.h"
#include "runtime/startup.h"
#include "screen/hardware_images.h"
#include "screen/image_handles.h"
#include "screen/image_pool.h"
#include "screen/modes.h"
#include "window_harness.h"

using namespace window_test;

namespace {

// ---- the children --------------------------------------------------------------------------------

// Every character on every cell; backgrounds 1-7 so that no row of the picture is black.
void text_page_fill() {
    image_record* page = display_image.load();
    page->cursor_visible = 0;
    auto* cells = reinterpret_cast<text_cell*>(page->pixels);
    for (int32_t row = 0; row < page->height; ++row)
        for (int32_t col = 0; col < page->width; ++col) {
            int32_t i = row * page->width + col;
            cells[i] = {static_cast<uint8_t>(i & 0xFF), static_cast<uint8_t>(((col % 7) + 1) << 4 | (row % 16))};
        }
}

void report_window(const char* word, uint64_t window) { report(std::string(word) + " " + std::to_string(window)); }

void text_page_body() {
    window_wait();
    text_page_fill();
    report_window("shown", shown_frame_dump());
    idle_forever();
}

void colour_page_body() {
    window_wait();
    screen_mode_set(12, 0, 0, 0, 0, 1);
    image_record* page = display_image.load();
    for (int32_t y = 0; y < page->height; ++y)
        for (int32_t x = 0; x < page->width; ++x)
            page->pixels[static_cast<size_t>(y) * page->width + x] = static_cast<uint8_t>((x * 3 + y * 5 + x / 16) % 16);
    report_window("shown", shown_frame_dump());
    idle_forever();
}

void start_hidden() { start_hidden_option = 1; }

void title_early_body() {
    window_title_set(string_from_cstring("Early title"));
    window_show();  // the window is made now, with the title
    window_wait();
    report_window("window", window_handle_get());
    idle_forever();
}

void title_late_body() {
    window_wait();
    window_title_set(string_from_cstring("Later title"));
    sleep_ms(100);
    report_window("window", window_handle_get());
    idle_forever();
}

void resizable() { window_resizable_set(); }

void stretch_body() {
    window_wait();
    window_resize_mode_set(1, 1);
    text_page_fill();
    report_window("shown", shown_frame_dump());
    idle_forever();
}

void letterbox_body() {
    window_wait();
    text_page_fill();
    uint64_t window = shown_frame_dump();
    fullscreen_set(3, 0);
    report_window("shown", window);
    idle_forever();
}

void close_taken_body() {
    window_wait();
    close_request_take();
    report_window("ready", window_handle_get());
    while ((close_request_bits.load() & 1) == 0) sleep_ms(5);
    report("closed");
    idle_forever();
}

void ready_body() {
    window_wait();
    report_window("ready", shown_frame_dump());
    idle_forever();
}

void key_report(int32_t button, int32_t down) {
    report("key " + std::to_string(button) + " " + std::to_string(down));
}

void keys_body() {
    window_keyboard_device_handler_set(key_report);
    window_wait();
    report_window("ready", shown_frame_dump());
    idle_forever();
}

void padded() { hardware_img_npot_refuse(true); }

// A 32 x 32 hardware image copied onto screen hardware layer 0 at (100, 50), over the text page.
uint32_t hardware_pattern(int32_t x, int32_t y) {
    return 0xFF000080u | static_cast<uint32_t>(x * 8) << 16 | static_cast<uint32_t>(y * 8) << 8;
}

void hardware_layer_body() {
    window_wait();
    // Placed first: a window uncovered later is drawn again, without the commands of a frame
    // already shown.
    window_position_set(0, 0, 2);
    sleep_ms(300);
    text_page_fill();
    uint64_t window = shown_frame_dump();
    display_now();  // automatic display off: the picture stays until the next display_now
    std::vector<uint32_t> pixels(32 * 32);
    for (int32_t y = 0; y < 32; ++y)
        for (int32_t x = 0; x < 32; ++x) pixels[static_cast<size_t>(y) * 32 + x] = hardware_pattern(x, y);
    render_command copy;
    copy.kind = render_rect_copy;
    copy.source = hardware_img_new(32, 32, pixels.data(), hardware_img_deferred | hardware_img_copy);
    copy.destination = render_layer_0;
    copy.source_x2 = copy.source_y2 = 31;
    copy.dest_x1 = 100;
    copy.dest_y1 = 50;
    copy.dest_x2 = 131;
    copy.dest_y2 = 81;
    copy.blend = 1;
    render_command_queue(copy);
    display_now();
    report_window("shown", window);
    idle_forever();
}

// The same pattern as a program's hardware image, drawn by the statements: copied whole onto layer 0
// at (100, 50) and mapped as a triangle onto layer 0 at (300, 50)-(331, 50)-(300, 81).
void hardware_statements_body() {
    window_wait();
    window_position_set(0, 0, 2);
    sleep_ms(300);
    text_page_fill();
    uint64_t window = shown_frame_dump();
    display_now();
    int32_t slot = image_new(32, 32, 32);
    image_record& r = image_pool[slot];
    for (int32_t y = 0; y < 32; ++y)
        for (int32_t x = 0; x < 32; ++x) {
            uint32_t v = hardware_pattern(x, y);
            std::memcpy(r.pixels + (static_cast<size_t>(y) * 32 + x) * 4, &v, 4);
        }
    int32_t hardware = image_handle_copy(-slot, 33, 1);
    image_rect_copy(100, 50, 0, 0, hardware, 0, 0, 0, 0, 0, copy_dest_first);
    triangle_map(0, 0, 0, 31, 0, 0, 31, hardware, 300, 50, 0, 331, 50, 0, 300, 81, 0, 0, 0, 0);
    display_now();
    report_window("shown", window);
    idle_forever();
}

// Two 3-D triangles on layer 0 with the depth buffer cleared and depth on: a red one near, then a
// green one behind it, which the depth test hides.
int32_t hardware_colour_image(uint32_t colour) {
    int32_t slot = image_new(4, 4, 32);
    for (int32_t i = 0; i < 16; ++i) std::memcpy(image_pool[slot].pixels + i * 4, &colour, 4);
    return image_handle_copy(-slot, 33, 1);
}

void hardware_depth_body() {
    window_wait();
    window_position_set(0, 0, 2);
    sleep_ms(300);
    text_page_fill();
    uint64_t window = shown_frame_dump();
    display_now();
    int32_t red = hardware_colour_image(0xFFFF0000), green = hardware_colour_image(0xFF00FF00);
    depth_buffer_set(1, 0, 1);
    depth_buffer_set(4, 0, 1);
    triangle_map(0, 0, 0, 3, 0, 0, 3, red, -1, -1, -1, 1, -1, -1, 0, 1, -1, 0, 0, 0x4);
    triangle_map(0, 0, 0, 3, 0, 0, 3, green, -1, -1, -2, 1, -1, -2, 0, 1, -2, 0, 0, 0x4);
    display_now();
    report_window("shown", window);
    idle_forever();
}

void centre_body() {
    window_wait();
    window_position_set(0, 0, 1);
    sleep_ms(200);
    report("position " + std::to_string(window_x_get()) + " " + std::to_string(window_y_get()) + " " +
           std::to_string(window_handle_get()));
    idle_forever();
}

void hide_body() {
    window_wait();
    window_hide();
    report_window("hidden", window_handle_get());
    sleep_ms(500);
    window_show();
    report("visible");
    idle_forever();
}

void stop_body() {
    shown_frame_dump();
    stop_request.store(1);
    program_thread_park();
}

}  // namespace

const scenario scenarios[] = {
    {"text_page", text_page_body, nullptr},   {"colour_page", colour_page_body, nullptr},
    {"title_early", title_early_body, start_hidden}, {"title_late", title_late_body, nullptr},
    {"stretch", stretch_body, resizable},     {"letterbox", letterbox_body, nullptr},
    {"close_taken", close_taken_body, nullptr}, {"ready", ready_body, nullptr},
    {"keys", keys_body, nullptr},             {"stop", stop_body, nullptr},
    {"padded", text_page_body, padded},       {"hardware_layer", hardware_layer_body, nullptr},
    {"hardware_statements", hardware_statements_body, nullptr},
    {"hardware_depth", hardware_depth_body, nullptr},
    {"centre", centre_body, nullptr},         {"hide", hide_body, nullptr},
};

// The child's entry: runs the scenario LUMO_WINDOW_SCENARIO names and never returns.
TEST(window_child, DISABLED_run) {
    scenario_run(scenarios);
    const char* wanted = std::getenv("LUMO_WINDOW_SCENARIO");
    FAIL() << "no scenario " << (wanted ? wanted : "(none)");
}

// ---- the tests -----------------------------------------------------------------------------------

namespace {

class window : public testing::Test {
protected:
    void SetUp() override {
        if (!std::getenv("DISPLAY")) GTEST_SKIP() << "needs an X display";
        ASSERT_NE(x.display(), nullptr);
    }
    // The window id a child reported; 0 when it did not report.
    static Window window_of(const std::optional<std::string>& report) {
        return report ? static_cast<Window>(std::stoull(*report)) : 0;
    }
    x_connection x;
};

TEST_F(window, shows_a_text_page_pixel_for_pixel) {
    child_process child("text_page");
    Window w = window_of(child.await("shown "));
    ASSERT_NE(w, 0u);
    x.move(w, 0, 0);
    picture frame = frame_read(child.dump_path());
    ASSERT_EQ(frame.width, 640);
    ASSERT_EQ(frame.height, 400);
    EXPECT_EQ(screen_match(x, w, 640, 400, [&](int32_t px, int32_t py) { return frame.at(px, py); }), "");
}

TEST_F(window, shows_a_16_colour_page_pixel_for_pixel_in_a_window_of_its_size) {
    child_process child("colour_page");
    Window w = window_of(child.await("shown "));
    ASSERT_NE(w, 0u);
    x.move(w, 0, 0);
    picture frame = frame_read(child.dump_path());
    ASSERT_EQ(frame.width, 640);
    ASSERT_EQ(frame.height, 480);
    ASSERT_TRUE(x.window_size_wait(w, 640, 480));
    EXPECT_EQ(screen_match(x, w, 640, 480, [&](int32_t px, int32_t py) { return frame.at(px, py); }), "");
}

TEST_F(window, shows_a_text_page_pixel_for_pixel_from_a_texture_padded_to_powers_of_two) {
    child_process child("padded");
    Window w = window_of(child.await("shown "));
    ASSERT_NE(w, 0u);
    x.move(w, 0, 0);
    picture frame = frame_read(child.dump_path());
    ASSERT_EQ(frame.width, 640);
    EXPECT_EQ(screen_match(x, w, 640, 400, [&](int32_t px, int32_t py) { return frame.at(px, py); }), "");
}

TEST_F(window, a_hardware_image_copied_to_screen_layer_0_is_drawn_over_the_picture) {
    child_process child("hardware_layer");
    Window w = window_of(child.await("shown "));
    ASSERT_NE(w, 0u);
    picture frame = frame_read(child.dump_path());
    ASSERT_EQ(frame.width, 640);
    EXPECT_EQ(screen_match(x, w, 640, 400,
                           [&](int32_t px, int32_t py) {
                               bool inside = px >= 100 && px <= 131 && py >= 50 && py <= 81;
                               return inside ? hardware_pattern(px - 100, py - 50) & 0xFFFFFF : frame.at(px, py);
                           }),
              "");
}

TEST_F(window, a_hardware_copy_and_a_hardware_triangle_are_drawn_on_layer_0) {
    child_process child("hardware_statements");
    Window w = window_of(child.await("shown "));
    ASSERT_NE(w, 0u);
    picture frame = frame_read(child.dump_path());
    ASSERT_EQ(frame.width, 640);
    EXPECT_EQ(screen_match(x, w, 640, 400,
                           [&](int32_t px, int32_t py) {
                               int32_t cx = px - 100, tx = px - 300, y = py - 50;
                               if (cx >= 0 && cx < 32 && y >= 0 && y < 32) return hardware_pattern(cx, y) & 0xFFFFFF;
                               if (tx < 0 || tx >= 32 || y < 0 || y >= 32) return frame.at(px, py);
                               // Inside the triangle, away from its slanted edge: the source in place.
                               if (tx + y <= 29) return hardware_pattern(tx, y) & 0xFFFFFF;
                               return tx + y >= 33 ? frame.at(px, py) : any_pixel;
                           }),
              "");
}

TEST_F(window, a_3d_triangle_behind_another_is_hidden_by_the_depth_test) {
    child_process child("hardware_depth");
    Window w = window_of(child.await("shown "));
    ASSERT_NE(w, 0u);
    picture frame = frame_read(child.dump_path());
    ASSERT_EQ(frame.width, 640);
    EXPECT_EQ(screen_match(x, w, 640, 400,
                           [&](int32_t px, int32_t py) {
                               if (std::abs(px - 320) <= 20 && std::abs(py - 200) <= 20) return 0xFF0000u;
                               return px < 20 && py < 20 ? frame.at(px, py) : any_pixel;
                           }),
              "");
}

TEST_F(window, is_centred_on_the_screen) {
    child_process child("centre");
    std::optional<std::string> position = child.await("position ");
    ASSERT_TRUE(position);
    int reported_x = 0, reported_y = 0;
    unsigned long id = 0;
    ASSERT_EQ(std::sscanf(position->c_str(), "%d %d %lu", &reported_x, &reported_y, &id), 3);
    int root_x = 0, root_y = 0;
    Window child_window;
    XTranslateCoordinates(x.display(), id, DefaultRootWindow(x.display()), 0, 0, &root_x, &root_y, &child_window);
    // (1280 - 640) / 2 and (1024 - 400) / 2; without a window manager there is no frame.
    EXPECT_EQ(root_x, 320);
    EXPECT_EQ(root_y, 312);
    EXPECT_EQ(reported_x, 320);
    EXPECT_EQ(reported_y, 312);
}

TEST_F(window, hides_and_shows_again) {
    child_process child("hide");
    Window w = window_of(child.await("hidden "));
    ASSERT_NE(w, 0u);
    EXPECT_TRUE(x.map_state_wait(w, IsUnmapped));
    ASSERT_TRUE(child.await("visible"));
    EXPECT_TRUE(x.map_state_wait(w, IsViewable));
}

TEST_F(window, is_titled_with_the_title_set_before_and_after_it_exists) {
    child_process early("title_early");
    EXPECT_EQ(xprop_title(window_of(early.await("window "))), "Early title");
    child_process late("title_late");
    Window w = window_of(late.await("window "));
    for (int i = 0; i < 50 && xprop_title(w) != "Later title"; ++i) sleep_ms(20);
    EXPECT_EQ(xprop_title(w), "Later title");
}

TEST_F(window, a_stretched_window_dragged_to_another_shape_keeps_the_picture_shape_and_fills) {
    child_process child("stretch");
    Window w = window_of(child.await("shown "));
    ASSERT_NE(w, 0u);
    x.move(w, 0, 0);
    picture frame = frame_read(child.dump_path());
    ASSERT_EQ(frame.width, 640);
    x.resize(w, 1280, 600);  // as a user would: the width grew most, so the height follows it
    ASSERT_TRUE(x.window_size_wait(w, 1280, 800));
    EXPECT_EQ(screen_match(x, w, 1280, 800, [&](int32_t px, int32_t py) { return frame.at(px / 2, py / 2); }), "");
}

TEST_F(window, full_screen_with_the_aspect_kept_has_bars_exactly_outside_the_picture) {
    child_process child("letterbox");
    Window w = window_of(child.await("shown "));
    ASSERT_NE(w, 0u);
    x.move(w, 0, 0);
    picture frame = frame_read(child.dump_path());
    ASSERT_EQ(frame.height, 400);
    int screen_w = DisplayWidth(x.display(), DefaultScreen(x.display()));
    int screen_h = DisplayHeight(x.display(), DefaultScreen(x.display()));
    ASSERT_EQ(screen_w, 1280) << "the test expects the 1280 x 1024 test screen";
    ASSERT_EQ(screen_h, 1024);
    ASSERT_TRUE(x.window_size_wait(w, 1280, 1024));
    // 640 x 400 at scale 2: rows 112 to 911, black above and below.
    EXPECT_EQ(screen_match(x, w, 1280, 1024,
                           [&](int32_t px, int32_t py) {
                               return py < 112 || py > 911 ? 0u : frame.at(px / 2, (py - 112) / 2);
                           }),
              "");
}

TEST_F(window, a_close_message_sets_the_close_bit_and_the_window_stays) {
    child_process child("close_taken");
    Window w = window_of(child.await("ready "));
    ASSERT_NE(w, 0u);
    x.close_send(w);
    EXPECT_TRUE(child.await("closed"));
    EXPECT_TRUE(x.window_alive(w));
    EXPECT_EQ(child.exit_code(300), -1) << "the program handles closing itself and goes on";
}

TEST_F(window, a_close_message_ends_the_program_with_exit_code_0) {
    child_process child("ready");
    Window w = window_of(child.await("ready "));
    ASSERT_NE(w, 0u);
    x.close_send(w);
    EXPECT_EQ(child.exit_code(), 0);
}

TEST_F(window, real_key_presses_arrive_with_their_scan_codes) {
    child_process child("keys");
    Window w = window_of(child.await("ready "));
    ASSERT_NE(w, 0u);
    x.focus(w);
    const struct {
        KeySym key;
        int32_t scan;
    } keys[] = {{XK_a, 30}, {XK_Right, 0x14D}, {XK_KP_Enter, 0x11C}, {XK_F12, 88}};
    for (auto& k : keys) {
        uint32_t code = XKeysymToKeycode(x.display(), k.key);
        ASSERT_NE(code, 0u);
        x.key(code, true);
        x.key(code, false);
        std::string scan = std::to_string(k.scan);
        EXPECT_TRUE(child.await("key " + scan + " 1", 3000)) << "press of " << XKeysymToString(k.key);
        EXPECT_TRUE(child.await("key " + scan + " 0", 3000)) << "release of " << XKeysymToString(k.key);
    }
}

TEST_F(window, ctrl_break_stops_the_program) {
    child_process child("ready");
    Window w = window_of(child.await("ready "));
    ASSERT_NE(w, 0u);
    x.focus(w);
    uint32_t control = XKeysymToKeycode(x.display(), XK_Control_L);
    uint32_t pause = XKeysymToKeycode(x.display(), XK_Pause);
    x.key(control, true);
    x.key(pause, true);
    x.key(pause, false);
    x.key(control, false);
    EXPECT_EQ(child.exit_code(), 0);
}

TEST_F(window, without_a_display_the_process_ends_with_exit_code_1) {
    child_process child("ready", false);
    EXPECT_EQ(child.exit_code(15000), 1);
}

TEST_F(window, the_process_ends_with_exit_code_0_twenty_times_in_a_row) {
    for (int run = 0; run < 20; ++run) {
        child_process child("stop");
        ASSERT_EQ(child.exit_code(15000), 0) << "run " << run;
    }
}

}  // namespace
