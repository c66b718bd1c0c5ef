// The thinning rule of the circle walk: the pending offset is plotted when the next offset lies
// more than a pixel from the last plotted one on either axis. Two forms: plain offsets, and pair
// words that hold both coordinates of an offset in one 64-bit word so the rule is a few word
// operations. Not here: the walk itself (circle_outline.cpp).
#pragma once

#include <cstdint>

struct offset64 {
    int64_t y, x;
};

// The plain rule. Offsets are held within +-2^53, so the differences never overflow.
inline bool offset_beyond_a_pixel(offset64 next, offset64 last) {
    return (static_cast<uint64_t>(next.x - last.x + 1) > 2) | (static_cast<uint64_t>(next.y - last.y + 1) > 2);
}

// A pair word: x + pair_bias in the high half, y + pair_bias in the low half. For offsets within
// +-2^30 both halves are positive and below 2^31, so the word equals x' * 2^32 + y' and the
// difference of two words is the halves' differences joined.
constexpr int64_t pair_bias = int64_t{1} << 30;
// Radii below this keep every offset of the walk within +-2^30 (the turning vector keeps its
// length to ~1e-8 over the most steps a quadrant takes).
constexpr double pair_radius_max = 536870912.0;  // 2^29

inline uint64_t pair_word(int64_t x, int64_t y) {
    return static_cast<uint64_t>(x + pair_bias) << 32 | static_cast<uint64_t>(y + pair_bias);
}

// A difference d lies in -1..1 exactly when d + 1 and d + 2 both lie in 0..3, the bits a mask of
// ~3 leaves. Both halves at once: a low half out of its range shows in its own bits, and one in
// range borrows nothing from the high half, which is then exact.
inline bool pair_beyond_a_pixel(uint64_t next, uint64_t last) {
    constexpr uint64_t ones = uint64_t{1} << 32 | 1;
    constexpr uint64_t beyond_three = ~(uint64_t{3} << 32 | 3);
    uint64_t once = next + ones - last, twice = once + ones;
    return ((once | twice) & beyond_three) != 0;
}
