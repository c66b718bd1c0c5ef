#include "screen/modes.h"

int32_t row50_switch_armed = 0;
int32_t frame_suspend_enabled = 0;

// The modes and pages come with the screen.
void screen_mode_set(int32_t, int32_t, int32_t, int32_t, int32_t, int32_t) {}
