// The input-device table: keyboard, mouse and game controllers, numbered from 1. Only the interface
// and its start-up steps are here; the input-device layer fills them, and until then no device is
// registered, so no controller-button trap fires. It reads no keys or mouse events itself
// (keyboard.h, mouse.h).
#pragma once

#include <cstdint>

// Program start-up: the 1001-record table.
void input_device_table_make();
// Start-up: the keyboard as device 1 and the mouse as device 2.
void input_devices_init();

enum input_device_kind_code : int32_t {
    input_device_controller = 1,
    input_device_keyboard = 2,
    input_device_mouse = 3,
};
// Registered devices, numbered from 1 (the event dispatch walks them for controller-button traps).
int32_t device_count();
// The kind of device n (1 to device_count()), 0 for no device.
int32_t input_device_kind(int32_t n);
