// Relative pointer motion from XInput2 raw events, on an X connection of its own. Each device's
// valuator modes are read when it opens and again when devices come, go or change, so that only
// relative axes give movement; an XTest motion is judged by the position it leaves (raw_movement.h).
// Not here: the window's own connection (x11_window.h). Main thread only.
#pragma once

#include <cstdint>

namespace platform {

// False when there is no XInput2. Only the first call tries.
bool x11_raw_motion_open();
// Hands each movement (not zero) to motion.
void x11_raw_motion_poll(void (*motion)(int32_t dx, int32_t dy));
// The connection's socket (-1 when not open), for waiting on events.
int x11_raw_motion_fd();
// Sends what is buffered and tells whether events already wait in the connection's queue.
bool x11_raw_motion_queued();

}  // namespace platform
