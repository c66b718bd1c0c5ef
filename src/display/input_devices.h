// The input-device table: keyboard, mouse and game controllers, numbered from 1, each a set of
// buttons, axes and wheels with a queue of stamped state snapshots. The window layer appends a
// snapshot for each change (main thread); the program steps through them in arrival order across
// devices and reads the current one (program thread). One stamp counter orders snapshots across
// devices. Each queue has its own mutex: the main thread grows and shifts it while the program
// thread reads it. It reads no window events itself (window_hooks.h and mouse.h feed it).
#pragma once

#include <cstdint>

struct string_descriptor;

enum input_device_kind_code : int32_t {
    input_device_controller = 1,
    input_device_keyboard = 2,
    input_device_mouse = 3,
};

constexpr int32_t input_device_table_size = 1001;  // record 0 is never used
constexpr int32_t keyboard_device = 1;
constexpr int32_t mouse_device = 2;
constexpr int32_t keyboard_device_buttons = 512;   // button n: scan word n - 1 (+ 256 extended)
constexpr int32_t mouse_device_buttons = 3;        // left, middle, right
constexpr int32_t mouse_device_axes = 2;
constexpr int32_t mouse_device_wheels = 3;
constexpr int32_t keyboard_queue_limit = 256;      // snapshots before the oldest is dropped
constexpr int32_t mouse_queue_limit = 1024;

// Program start-up: the table, every record empty, no device.
void input_device_table_make();
// Start-up: the keyboard as device 1 and the mouse as device 2; key messages of the window hooks
// now reach the keyboard device.
void input_devices_init();

// What a device is made of.
struct input_device_layout {
    int32_t kind;
    const char* description;
    const char* name;
    int32_t buttons, axes, wheels;
    int32_t queue_limit;
};
// Adds a device with a queue of two zero snapshots; its number, or 0 when the table is full.
// Start-up registers the keyboard and the mouse; the system registers no controller.
int32_t input_device_register(const input_device_layout& layout);

// Appending a snapshot (main thread): a copy of the newest with one change. Indices from 0.
// Nothing happens for a device number that is not registered or an index outside the device.
void device_button_append(int32_t device, int32_t button, bool down);
// Only when the button's state in the newest snapshot differs (a held key repeating adds nothing).
void device_button_change_append(int32_t device, int32_t button, bool down);
void device_axes_append(int32_t device, float axis_1, float axis_2);
void device_wheel_append(int32_t device, int32_t wheel, float value);

// Registered devices, numbered from 1 (the event dispatch walks them for controller-button traps).
int32_t device_count();
// The kind of device n (1 to device_count()), 0 for no device.
int32_t input_device_kind(int32_t n);
// How many of the registered devices are game controllers (the button traps' records follow them).
int32_t input_controller_count();

// The program's queries (program thread). "given" 0 means the argument was left out.
string_descriptor* device_description_get(int32_t n, int32_t given);
int32_t device_input_next(int32_t n, int32_t given);
int32_t device_button_get(int32_t n, int32_t given);
int32_t device_button_change_get(int32_t n, int32_t given);
float device_axis_get(int32_t n, int32_t given);
float device_wheel_get(int32_t n, int32_t given);
int32_t device_button_count(int32_t n, int32_t given);
int32_t device_axis_count(int32_t n, int32_t given);
int32_t device_wheel_count(int32_t n, int32_t given);
int32_t controller_axis_get(int32_t f, int32_t s, int32_t given);
int32_t controller_button_get(int32_t f, int32_t c, int32_t given);

// Snapshots device n lost because its queue was full at its limit (tests).
int64_t input_device_dropped(int32_t n);
