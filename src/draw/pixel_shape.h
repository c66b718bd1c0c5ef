// The shape of one pixel by screen mode, as the ratio of its width to its height on the monitor
// of the time (5/6 on 320x200, 5/12 on 640x200, 35/48 on 640x350, square otherwise). Circles
// take it as their default aspect, the turtle to keep its steps square.
#pragma once

#include <cstdint>

constexpr double mode_pixel_aspect(int32_t mode) {
    switch (mode) {
        case 1: case 7: case 13: return 5.0 / 6.0;
        case 2: case 8: return 5.0 / 12.0;
        case 9: case 10: return 35.0 / 48.0;
        default: return 1.0;
    }
}
