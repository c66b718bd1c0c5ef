// The mouse: a ring of position-and-button records written by the window's mouse callbacks (main
// thread), the program's queries of the current record (program thread) with positions mapped
// through the renderer's viewport into display pixels or text cells, and the pointer's shape and
// position. Each button, wheel and motion event also appends a snapshot to the mouse device
// (input_devices.h). One small mutex guards the ring: the writer pushes the reader's index on when
// the ring is full. The pointer itself is moved and styled by the window (window.h).
#pragma once

#include <cstdint>

struct string_descriptor;
struct viewport_record;

struct mouse_event {
    int16_t x, y;       // window client pixels
    int32_t buttons;    // mouse_bit_*
    int16_t movement_x, movement_y;  // relative movement from raw input, else 0
};

enum : int32_t {
    mouse_bit_left = 1 << 0,
    mouse_bit_middle = 1 << 1,
    mouse_bit_right = 1 << 2,
    mouse_bit_wheel_up = 1 << 3,
    mouse_bit_wheel_down = 1 << 4,
};

// Window-system button numbers.
enum : int32_t {
    mouse_button_left = 0,
    mouse_button_middle = 1,
    mouse_button_right = 2,
    mouse_button_wheel_up = 4,
    mouse_button_wheel_down = 5,
};

constexpr int32_t mouse_ring_size = 65536;
constexpr int32_t mouse_cursor_default = 1;
constexpr int32_t mouse_cursor_none = 101;

// Start-up: the first ring entry with buttons 0 and movement 0, both indices on it.
void mouse_ring_init();

// freeglut's mouse callbacks (main thread), registered by the window. Buttons 3 and up (the
// horizontal wheel, back, forward) are ignored: wheel steps come through the wheel callback.
void glut_mouse_callback(int button, int state, int x, int y);
void mouse_motion_event(int x, int y);
void glut_passive_motion_callback(int x, int y);
void glut_mouse_wheel_callback(int wheel, int direction, int x, int y);
void mouse_button_down_event(int32_t button, int32_t x, int32_t y);
void mouse_button_up_event(int32_t button, int32_t x, int32_t y);
// Relative movement of the mouse from the window layer's raw input (main thread).
void mouse_raw_motion(int32_t dx, int32_t dy);

// The record bit and the mouse-device button (from 1, 0 for none) of a window-system button.
struct mouse_button_map {
    int32_t bit;
    int32_t device_button;
};
mouse_button_map mouse_button_of(int32_t button);

// The record the queries read.
mouse_event mouse_event_current();
// The newest record, whole (the mouse-driver interrupt reads it; the current index stays).
mouse_event mouse_event_newest();
// mouse_x_get and mouse_y_get evaluated on a given record.
float mouse_x_of(const mouse_event& e);
float mouse_y_of(const mouse_event& e);

// Program thread.
int32_t mouse_input_next();
float mouse_x_get();
float mouse_y_get();
int32_t mouse_button_get(int32_t n);
int32_t mouse_wheel_get();
float mouse_movement_x_get();
float mouse_movement_y_get();
void mouse_cursor_show(string_descriptor* style, int32_t style_given);
void mouse_cursor_hide();
void mouse_position_set(float x, float y);
void mouse_stub_empty_a();
void mouse_stub_empty_b();

// The window-system cursor a style name gives (upper or lower case), 0 for no such style.
int32_t mouse_cursor_style_of(const uint8_t* text, int32_t length);
// The cursor mouse_cursor_show shows (1 at start).
int32_t mouse_cursor_style_get();

// One axis of the display: where the picture lies in the window and how the display divides it.
struct mouse_axis {
    int32_t offset;        // window pixel of the picture's first pixel
    float scale;           // window pixels per frame pixel
    int32_t frame_size;    // frame pixels
    int32_t display_size;  // display pixels (columns or rows times the cell size on a text display)
    int32_t cell_size;     // 0 on a graphics display, else the font's advance or glyph height
};
mouse_axis mouse_axis_x(const viewport_record& v);
mouse_axis mouse_axis_y(const viewport_record& v);
// The display pixel under a window coordinate, held within the frame and the display.
int32_t mouse_display_pixel(const mouse_axis& a, int32_t window);
// The value the position queries give: the pixel on a graphics display; on a text display a cell
// position that rounds to the 1-based cell and from which trunc((v - 0.5) * cell size) gives the
// pixel back.
float mouse_display_value(const mouse_axis& a, int32_t window);
// The device axis of a window coordinate: the display pixel spread over -1 (first) to +1 (last).
float mouse_device_axis(const mouse_axis& a, int32_t window);
// The window coordinate that shows a display value (the inverse of mouse_display_value).
int32_t mouse_window_of(const mouse_axis& a, float value);

// Tests: the ring and the cursor style as before start-up.
void mouse_reset();
