#include "display/window.h"

#include "core/timing.h"

std::atomic<int32_t> window_hidden{0};
std::atomic<int32_t> window_create_allowed{0};
std::atomic<int32_t> window_exists{0};
std::atomic<int32_t> fbo_supported{0};

// The freeglut window comes with the display; until then the main thread only waits.
void window_run(int, char**) {
    for (;;) sleep_ms(1000);
}
