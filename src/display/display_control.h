// Display settings: automatic display, frame rate, full screen, stretching, window resizing.
#pragma once

#include <cstdint>

extern int32_t window_resize_locked;
extern int32_t window_stretch_mode;
