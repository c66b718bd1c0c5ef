// The input-device table: keyboard, mouse and game controllers.
#pragma once

// Program start-up: the 1001-record table.
void input_device_table_make();
// Start-up: the keyboard as device 1 and the mouse as device 2.
void input_devices_init();
