// Test helper: a clock that moves only when the runtime sleeps. Waits take no real time, and the
// clock then reads how long the runtime meant to wait, however loaded the machine is.
#pragma once

#include <cstdint>

#include "core/timing.h"

inline int64_t sleeping_clock_ms = 0;
inline const time_source sleeping_clock{[] { return sleeping_clock_ms; },
                                        [](int64_t ms) { sleeping_clock_ms += ms; }, nullptr};
