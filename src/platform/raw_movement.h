// Which raw valuators of a pointer event are movement. A relative axis reports how far it moved;
// an absolute axis (a tablet, the pointer of a virtual machine or a remote desktop) reports where
// it is, which is no movement. An XTest device says its axes are relative but passes a faked
// absolute motion's position as its raw values: such a motion is told by the position it leaves.
// Pure. Not here: the XInput2 traffic (x11_raw_motion.cpp).
#pragma once

#include <array>
#include <cstdint>

namespace platform {

enum class axis_mode : uint8_t { relative, absolute };

struct raw_valuator {
    bool present = false;
    double value = 0;
};

// The x and y valuators of one event, and of one device's axes.
using raw_valuators = std::array<raw_valuator, 2>;
using axis_modes = std::array<axis_mode, 2>;

struct pointer_movement {
    int32_t x = 0, y = 0;
    bool operator==(const pointer_movement&) const = default;
};

// The valuators of relative axes, rounded to whole pixels; 0 from an absolute axis or an absent one.
pointer_movement raw_movement(const axis_modes& modes, const raw_valuators& raw);

// The modes of an XTest motion's axes, from its raw values and the device's valuators after it: an
// axis whose raw value is where the motion left it was moved to that position. (A relative move
// from position 0 reads as absolute too, and gives no movement.)
axis_modes xtest_axis_modes(const raw_valuators& raw, const raw_valuators& after);

}  // namespace platform
