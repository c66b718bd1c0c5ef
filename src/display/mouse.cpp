#include "display/mouse.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cctype>
#include <cmath>
#include <cstring>
#include <mutex>

#include "core/error_codes.h"
#include "core/errors.h"
#include "core/maths.h"
#include "core/strings.h"
#include "display/input_devices.h"
#include "display/viewport.h"
#include "display/window.h"
#include "screen/fonts.h"
#include "screen/image_pool.h"

namespace {

constexpr uint32_t ring_mask = mouse_ring_size - 1;
constexpr int32_t wheel_device_index = 2;  // wheel 3 of the mouse device
constexpr float text_tie_nudge = 0.001f;

struct mouse_state {
    // Guards the ring and both indices: the writer moves the reader's index when the ring is full.
    std::mutex lock;
    std::array<mouse_event, mouse_ring_size> ring{};
    uint32_t newest = 0;
    uint32_t current = 0;
    std::atomic<int32_t> cursor_style{mouse_cursor_default};
};
mouse_state mouse;

mouse_event newest_locked() { return mouse.ring[mouse.newest]; }

// Writes one record after the newest; a full ring loses its oldest unread record.
void record_write_locked(const mouse_event& e) {
    uint32_t next = (mouse.newest + 1) & ring_mask;
    if (next == mouse.current) mouse.current = (mouse.current + 1) & ring_mask;
    mouse.ring[next] = e;
    mouse.newest = next;
}

mouse_event at(int32_t x, int32_t y, int32_t buttons) {
    return {static_cast<int16_t>(x), static_cast<int16_t>(y), buttons, 0, 0};
}

// The newest buttons changed by one bit, at (x, y).
void button_record(int32_t bit, bool down, int32_t x, int32_t y) {
    std::lock_guard<std::mutex> guard(mouse.lock);
    int32_t buttons = newest_locked().buttons;
    record_write_locked(at(x, y, down ? buttons | bit : buttons & ~bit));
}

// The display's size along one axis and its cell size (0 on a graphics display).
void display_axis_fill(mouse_axis& a, bool horizontal) {
    const image_record* d = display_image.load();
    if (!d) return;
    if (d->is_text) {
        a.cell_size = std::max(horizontal ? font_advance_width(d->font) : font_glyph_height(d->font), 1);
        a.display_size = (horizontal ? d->width : d->height) * a.cell_size;
    } else {
        a.cell_size = 0;
        a.display_size = horizontal ? d->width : d->height;
    }
}

float position_of(const mouse_event& e, bool horizontal) {
    if (error_pending()) return 0;
    viewport_record v = viewport_get();
    mouse_axis a = horizontal ? mouse_axis_x(v) : mouse_axis_y(v);
    display_axis_fill(a, horizontal);
    return mouse_display_value(a, horizontal ? e.x : e.y);
}

// A display position the pointer may be moved to: a graphics pixel, or a text cell position.
bool position_valid(const mouse_axis& a, float value) {
    if (a.cell_size == 0) {
        int32_t p = float_to_int32(value);
        return !std::isnan(value) && p >= 0 && p < a.display_size;
    }
    float cells = static_cast<float>(a.display_size / a.cell_size);
    return value >= 0.5f && value <= cells + 0.5f;
}

}  // namespace

void mouse_ring_init() {
    std::lock_guard<std::mutex> guard(mouse.lock);
    mouse.ring[0].buttons = 0;
    mouse.ring[0].movement_x = mouse.ring[0].movement_y = 0;
    mouse.newest = mouse.current = 0;
}

mouse_button_map mouse_button_of(int32_t button) {
    switch (button) {
        case mouse_button_middle: return {mouse_bit_middle, 2};
        case mouse_button_right: return {mouse_bit_right, 3};
        case mouse_button_wheel_up: return {mouse_bit_wheel_up, 0};
        case mouse_button_wheel_down: return {mouse_bit_wheel_down, 0};
        default: return {mouse_bit_left, 1};
    }
}

void glut_mouse_callback(int button, int state, int x, int y) {
    if (button < mouse_button_left || button > mouse_button_right) return;
    if (state == 0) mouse_button_down_event(button, x, y);
    if (state == 1) mouse_button_up_event(button, x, y);
}

void mouse_button_down_event(int32_t button, int32_t x, int32_t y) {
    mouse_button_map m = mouse_button_of(button);
    button_record(m.bit, true, x, y);
    if (m.device_button) {
        device_button_append(mouse_device, m.device_button - 1, true);
    } else {
        device_wheel_append(mouse_device, wheel_device_index, button == mouse_button_wheel_up ? -1.0f : 1.0f);
        device_wheel_append(mouse_device, wheel_device_index, 0.0f);
    }
}

void mouse_button_up_event(int32_t button, int32_t x, int32_t y) {
    mouse_button_map m = mouse_button_of(button);
    button_record(m.bit, false, x, y);
    if (m.device_button) device_button_append(mouse_device, m.device_button - 1, false);
}

void mouse_motion_event(int x, int y) {
    {
        std::lock_guard<std::mutex> guard(mouse.lock);
        int32_t buttons = newest_locked().buttons;
        record_write_locked(at(x, y, buttons));
        record_write_locked(at(x, y, buttons));
    }
    viewport_record v = viewport_get();
    device_axes_append(mouse_device, mouse_device_axis(mouse_axis_x(v), x), mouse_device_axis(mouse_axis_y(v), y));
}

void glut_passive_motion_callback(int x, int y) { mouse_motion_event(x, y); }

void glut_mouse_wheel_callback(int, int direction, int x, int y) {
    if (direction == 0) return;
    int32_t button = direction > 0 ? mouse_button_wheel_up : mouse_button_wheel_down;
    mouse_button_down_event(button, x, y);
    mouse_button_up_event(button, x, y);
}

void mouse_raw_motion(int32_t dx, int32_t dy) {
    std::lock_guard<std::mutex> guard(mouse.lock);
    mouse_event e = newest_locked();
    e.movement_x = static_cast<int16_t>(dx);
    e.movement_y = static_cast<int16_t>(dy);
    record_write_locked(e);
    e.movement_x = e.movement_y = 0;
    record_write_locked(e);
}

mouse_event mouse_event_current() {
    std::lock_guard<std::mutex> guard(mouse.lock);
    return mouse.ring[mouse.current];
}

int32_t mouse_input_next() {
    if (error_pending()) return 0;
    std::lock_guard<std::mutex> guard(mouse.lock);
    if (mouse.current == mouse.newest) return 0;
    mouse.current = (mouse.current + 1) & ring_mask;
    return -1;
}

mouse_event mouse_event_newest() {
    std::lock_guard<std::mutex> guard(mouse.lock);
    return newest_locked();
}

float mouse_x_of(const mouse_event& e) { return position_of(e, true); }

float mouse_y_of(const mouse_event& e) { return position_of(e, false); }

float mouse_x_get() { return position_of(mouse_event_current(), true); }

float mouse_y_get() { return position_of(mouse_event_current(), false); }

int32_t mouse_button_get(int32_t n) {
    if (error_pending()) return 0;
    if (n < 1) {
        error_raise(error_illegal_function_call);
        return 0;
    }
    static constexpr int32_t bits[] = {mouse_bit_left, mouse_bit_right, mouse_bit_middle};
    if (n > 3) return 0;
    return (mouse_event_current().buttons & bits[n - 1]) ? -1 : 0;
}

int32_t mouse_wheel_get() {
    if (error_pending()) return 0;
    int32_t wheel = mouse_event_current().buttons & (mouse_bit_wheel_up | mouse_bit_wheel_down);
    return wheel == mouse_bit_wheel_up ? -1 : wheel == mouse_bit_wheel_down ? 1 : 0;
}

float mouse_movement_x_get() { return error_pending() ? 0 : mouse_event_current().movement_x; }

float mouse_movement_y_get() { return error_pending() ? 0 : mouse_event_current().movement_y; }

int32_t mouse_cursor_style_of(const uint8_t* text, int32_t length) {
    static constexpr struct {
        const char* name;
        int32_t cursor;
    } styles[] = {{"DEFAULT", 1},    {"LINK", 2},        {"TEXT", 8},
                  {"CROSSHAIR", 9},  {"VERTICAL", 10},   {"HORIZONTAL", 11},
                  {"TOPLEFT_BOTTOMRIGHT", 16}, {"TOPRIGHT_BOTTOMLEFT", 17}};
    for (const auto& s : styles) {
        if (static_cast<size_t>(length) != std::strlen(s.name)) continue;
        bool same = true;
        for (int32_t i = 0; i < length && same; ++i) same = std::toupper(text[i]) == s.name[i];
        if (same) return s.cursor;
    }
    return 0;
}

int32_t mouse_cursor_style_get() { return mouse.cursor_style.load(); }

void mouse_cursor_show(string_descriptor* style, int32_t style_given) {
    if (error_pending()) return;
    if (style_given) {
        int32_t cursor = style ? mouse_cursor_style_of(style->text, style->length) : 0;
        if (!cursor) {
            error_raise(error_illegal_function_call);
            return;
        }
        mouse.cursor_style.store(cursor);
    }
    window_cursor_set(mouse.cursor_style.load());
}

void mouse_cursor_hide() { window_cursor_set(mouse_cursor_none); }

void mouse_position_set(float x, float y) {
    if (error_pending()) return;
    viewport_record v = viewport_get();
    mouse_axis ax = mouse_axis_x(v), ay = mouse_axis_y(v);
    display_axis_fill(ax, true);
    display_axis_fill(ay, false);
    if (!position_valid(ax, x) || !position_valid(ay, y)) {
        error_raise(error_illegal_function_call);
        return;
    }
    window_pointer_move(mouse_window_of(ax, x), mouse_window_of(ay, y));
}

void mouse_stub_empty_a() {}
void mouse_stub_empty_b() {}

mouse_axis mouse_axis_x(const viewport_record& v) { return {v.x1, v.scale_x, v.frame_width, v.frame_width, 0}; }

mouse_axis mouse_axis_y(const viewport_record& v) { return {v.y1, v.scale_y, v.frame_height, v.frame_height, 0}; }

int32_t mouse_display_pixel(const mouse_axis& a, int32_t window) {
    float scale = a.scale > 0 ? a.scale : 1.0f;
    float p = static_cast<float>(window - a.offset);
    // Window coordinates are 16-bit, so the quotient stays far inside the integer range.
    int32_t pixel = float_to_int32((p + 0.5f) / scale - 0.5f);
    return std::clamp(pixel, 0, std::max(std::min(a.frame_size, a.display_size) - 1, 0));
}

float mouse_display_value(const mouse_axis& a, int32_t window) {
    int32_t p = mouse_display_pixel(a, window);
    if (a.cell_size == 0) return static_cast<float>(p);
    float v = static_cast<float>(p) / static_cast<float>(a.cell_size) + 0.5f;
    float r = std::nearbyint(v);
    // A cell's first pixel lands exactly on k + 0.5, which rounds to the even neighbour: nudged up
    // so that it rounds to its own cell.
    if (static_cast<float>(p) < r)
        v -= text_tie_nudge;
    else if (r < static_cast<float>(p) || v - std::floor(v) == 0.5f)
        v += text_tie_nudge;
    return v;
}

float mouse_device_axis(const mouse_axis& a, int32_t window) {
    int32_t p = mouse_display_pixel(a, window);
    float span = static_cast<float>(std::max(a.frame_size - 1, 1));
    return static_cast<float>(p) / span * 2.0f - 1.0f;
}

int32_t mouse_window_of(const mouse_axis& a, float value) {
    float pixel = a.cell_size == 0 ? static_cast<float>(float_to_int32(value))
                                   : std::trunc((value - 0.5f) * static_cast<float>(a.cell_size));
    pixel = std::clamp(pixel, 0.0f, static_cast<float>(std::max(a.display_size - 1, 0)));
    return a.offset + static_cast<int32_t>((pixel + 0.5f) * a.scale);
}

void mouse_reset() {
    std::lock_guard<std::mutex> guard(mouse.lock);
    mouse.ring.fill(mouse_event{});
    mouse.newest = mouse.current = 0;
    mouse.cursor_style.store(mouse_cursor_default);
}
