#include "platform/raw_movement.h"

#include <cmath>

namespace platform {

namespace {

int32_t axis_movement(axis_mode mode, const raw_valuator& raw) {
    if (mode != axis_mode::relative || !raw.present) return 0;
    return static_cast<int32_t>(std::lround(raw.value));
}

}  // namespace

pointer_movement raw_movement(const axis_modes& modes, const raw_valuators& raw) {
    return {axis_movement(modes[0], raw[0]), axis_movement(modes[1], raw[1])};
}

axis_modes xtest_axis_modes(const raw_valuators& raw, const raw_valuators& after) {
    axis_modes modes{};
    for (size_t axis = 0; axis < modes.size(); ++axis) {
        bool at_raw_value = raw[axis].present && after[axis].present && raw[axis].value == after[axis].value;
        modes[axis] = at_raw_value ? axis_mode::absolute : axis_mode::relative;
    }
    return modes;
}

}  // namespace platform
