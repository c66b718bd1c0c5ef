// Screen modes and pages.
#pragma once

#include <cstdint>

// flags: 1 = mode given, 4 = active page given, 8 = visual page given.
void screen_mode_set(int32_t mode, int32_t color_switch, int32_t active_page, int32_t visual_page, int32_t erase,
                     int32_t flags);
// Set by start-up after its first mode set.
extern int32_t row50_switch_armed;
// Set by start-up once the threads run: page rebuilds use the frame-build hand-over from then on.
extern int32_t frame_suspend_enabled;
