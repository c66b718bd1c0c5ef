#include <gtest/gtest.h>

#include "platform/raw_movement.h"

namespace {

using platform::axis_mode;
using platform::pointer_movement;
using platform::raw_valuator;
using platform::raw_valuators;

constexpr axis_mode rel = axis_mode::relative;
constexpr axis_mode abs_ = axis_mode::absolute;
constexpr raw_valuator absent{};

raw_valuator at(double value) { return {true, value}; }

TEST(RawMovement, OnlyPresentValuatorsOfRelativeAxesMove) {
    struct movement_case {
        const char* name;
        platform::axis_modes modes;
        raw_valuators raw;
        pointer_movement want;
    };
    const movement_case cases[] = {
        {"relative mouse", {rel, rel}, {at(3), at(-2)}, {3, -2}},
        {"tablet position", {abs_, abs_}, {at(200), at(100)}, {0, 0}},
        {"absolute x, relative y", {abs_, rel}, {at(200), at(7)}, {0, 7}},
        {"relative x, absolute y", {rel, abs_}, {at(5), at(100)}, {5, 0}},
        {"only x moved", {rel, rel}, {at(4), absent}, {4, 0}},
        {"only y moved", {rel, rel}, {absent, at(-9)}, {0, -9}},
        {"nothing moved", {rel, rel}, {absent, absent}, {0, 0}},
        {"fractions round to the nearest pixel", {rel, rel}, {at(1.5), at(-0.4)}, {2, 0}},
    };
    for (const movement_case& c : cases) EXPECT_EQ(platform::raw_movement(c.modes, c.raw), c.want) << c.name;
}

TEST(RawMovement, AnXTestAxisLeftAtItsRawValueWasMovedThere) {
    struct xtest_case {
        const char* name;
        raw_valuators raw, after;
        platform::axis_modes want;
    };
    const xtest_case cases[] = {
        {"absolute move", {at(200), at(100)}, {at(200), at(100)}, {abs_, abs_}},
        {"relative move", {at(5), at(7)}, {at(205), at(107)}, {rel, rel}},
        {"relative move held at the left edge", {at(-5), at(7)}, {at(0), at(107)}, {rel, rel}},
        {"relative move from position 0 on x", {at(5), at(7)}, {at(5), at(107)}, {abs_, rel}},
        {"no valuator after it", {at(200), at(100)}, {absent, absent}, {rel, rel}},
        {"no raw valuator", {absent, absent}, {at(200), at(100)}, {rel, rel}},
    };
    for (const xtest_case& c : cases) EXPECT_EQ(platform::xtest_axis_modes(c.raw, c.after), c.want) << c.name;
}

}  // namespace
