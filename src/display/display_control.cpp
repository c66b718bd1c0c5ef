#include "display/display_control.h"

int32_t window_resize_locked = 1;
int32_t window_stretch_mode = 0;
