#include "draw/circle_outline.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include "draw/circle_thinning.h"
#include "draw/pixel_space.h"
#include "screen/image_fixture.h"
#include "screen/pixels.h"

namespace {

constexpr double pi = 3.141592653589793;
constexpr double two_pi = 6.283185307179586;

// The walk in its first, plain form: one offset a step, plotted at once into the four mirrors
// through the clip box, pixel by pixel. The outline must leave exactly this image.
void reference_outline(image_record* image, const circle_outline& o) {
    const pixel_writer pixels(image);
    auto write = [&](int64_t x, int64_t y, double angle) {
        if (!o.whole && !o.arc.contains(angle)) return;
        if (!o.box.contains(x, y)) return;
        pixels.write(static_cast<int32_t>(x), static_cast<int32_t>(y), o.colour);
    };
    auto plot = [&](offset64 p, const double (&a)[4]) {
        write(o.cx + p.x, o.cy + p.y, a[0]);
        write(o.cx - p.x, o.cy + p.y, a[1]);
        write(o.cx - p.x, o.cy - p.y, a[2]);
        write(o.cx + p.x, o.cy - p.y, a[3]);
    };
    if (o.box.empty()) return;
    const int64_t n = o.n;
    double step = n ? pi / 2 / static_cast<double>(n) : 0.0;
    double c = n ? std::cos(step) : 1.0, s = n ? std::sin(step) : 0.0;
    double vx = 1.0, vy = 0.0;
    double a[4] = {0.0, pi, pi, two_pi};
    offset64 last{}, pending{};
    for (int64_t i = 0;; ++i) {
        offset64 p{pixel_truncate(vy * o.ry - 0.5), pixel_truncate(vx * o.rx + 0.5)};
        if (i == 0) {
            plot(p, a);
            last = p;
        } else if (std::abs(p.x - last.x) > 1 || std::abs(p.y - last.y) > 1) {
            plot(pending, a);
            last = pending;
        }
        pending = p;
        if (i + 1 > n) {
            plot(pending, a);
            return;
        }
        double turned_x = vx * c + vy * s;
        vy = vy * c - vx * s;
        vx = turned_x;
        a[0] += step, a[1] -= step, a[2] += step, a[3] -= step;
    }
}

// Two images of one kind, drawn by the outline and by the reference, cleared before each use.
struct image_pair {
    image_record *fast, *plain;
    void compare(const circle_outline& o) const {
        size_t bytes = image_pixel_bytes(fast);
        std::memset(fast->pixels, 0, bytes);
        std::memset(plain->pixels, 0, bytes);
        circle_outline_draw(fast, o);
        reference_outline(plain, o);
        ASSERT_EQ(std::memcmp(fast->pixels, plain->pixels, bytes), 0)
            << "centre " << o.cx << "," << o.cy << " radii " << o.rx << "," << o.ry << " n " << o.n << " arc "
            << o.arc.start << ".." << o.arc.end << (o.arc.inverted ? " inverted" : "") << (o.whole ? " whole" : "")
            << " box " << o.box.x1 << "," << o.box.y1 << "-" << o.box.x2 << "," << o.box.y2 << " mode "
            << fast->mode << " blend off " << int(fast->blend_off);
    }
};

struct CircleOutline : image_test {
    static image_pair pair_new(int32_t width, int32_t height, int32_t mode, bool blend_off = false) {
        image_pair p{&dest_new(width, height, mode), &dest_new(width, height, mode)};
        p.fast->blend_off = p.plain->blend_off = blend_off;
        return p;
    }
};

// Random outlines over every kind of image, radius, aspect, arc, centre and clip box, against the
// plain walk: the images must agree byte for byte. Blended colours show every write counted.
TEST_F(CircleOutline, MatchesThePlainWalk) {
    std::mt19937_64 random(24);
    auto uniform = [&](double low, double high) { return std::uniform_real_distribution<double>(low, high)(random); };
    auto integer = [&](int64_t low, int64_t high) { return std::uniform_int_distribution<int64_t>(low, high)(random); };
    constexpr int32_t width = 96, height = 72;
    const image_pair kinds[] = {pair_new(width, height, 12), pair_new(width, height, 13),
                                pair_new(width, height, 32), pair_new(width, height, 32, true)};
    for (int round = 0; round < 4000; ++round) {
        const image_pair& images = kinds[round % 4];
        // Radii: below a pixel, of the image's size, large, and beyond 32-bit offsets.
        double R;
        switch (integer(0, 9)) {
            case 0: R = uniform(0, 3); break;
            case 1: R = uniform(1e4, 1e6); break;
            case 2: R = uniform(pair_radius_max * 0.999, pair_radius_max * 1.5); break;
            case 3: R = std::floor(uniform(0, 60)); break;
            default: R = uniform(0, 80);
        }
        double rx = R, ry = R;
        double aspect = integer(0, 2) ? 1.0 : uniform(0.05, 6);
        if (aspect < 1) ry = R * aspect;
        if (aspect > 1) rx = R / aspect;
        double quarter = two_pi * R / 4 + 0.5;
        int64_t n = quarter < 3000 ? static_cast<int64_t>(quarter) : integer(0, 3000);
        if (integer(0, 9) == 0) n = integer(0, 300);  // steps not matched to the radius
        // Centres near the image, and for large radii so far off that only an edge reaches in.
        int64_t cx = integer(-40, width + 40), cy = integer(-40, height + 40);
        if (R > 1e4 && integer(0, 1)) {
            cx = integer(0, 1) ? static_cast<int64_t>(-rx) + integer(-3, width) : static_cast<int64_t>(rx) + integer(0, width + 3);
            cy = integer(0, height);
        }
        pixel_box box{0, 0, width - 1, height - 1};
        if (integer(0, 1)) {
            box.x1 = integer(0, width - 1), box.x2 = integer(box.x1, width - 1);
            box.y1 = integer(0, height - 1), box.y2 = integer(box.y1, height - 1);
        }
        double start = integer(0, 3) ? uniform(0, two_pi) : 0.0, end = integer(0, 3) ? uniform(0, two_pi) : two_pi;
        arc_range arc = start <= end ? arc_range{start, end, false} : arc_range{end, start, true};
        bool whole = !arc.inverted && arc.start <= 0 && arc.end >= two_pi;
        uint32_t colour = static_cast<uint32_t>(random());
        if (integer(0, 1)) colour = (colour & 0x00FFFFFF) | 0x80000000;  // blended: every write counts
        SCOPED_TRACE(round);
        images.compare({cx, cy, rx, ry, n, arc, whole, colour, box});
        if (HasFatalFailure()) return;
    }
}

// Odd radii with steps a multiple of 6 reach the angles pi / 6 and pi / 3, where an offset of
// half the radius plus a half lies on a rounding boundary: the last bit of every turn shows.
TEST_F(CircleOutline, RoundingBoundariesMatchThePlainWalk) {
    image_pair images = pair_new(260, 260, 13);
    const pixel_box box{0, 0, 259, 259};
    const arc_range all{0, two_pi, false};
    for (int64_t r = 1; r < 128; r += 2)
        for (int64_t n = 6; n <= 240; n += 6) {
            images.compare({130, 130, double(r), double(r), n, all, true, 1, box});
            if (HasFatalFailure()) return;
        }
}

// Radius 0 with a blended colour: the centre written eight times, in every mirror, in both forms.
TEST_F(CircleOutline, RadiusZeroAndInvertedClipBoxes) {
    const arc_range all{0, two_pi, false};
    image_pair small = pair_new(9, 9, 32);
    small.compare({4, 4, 0, 0, 0, all, true, 0x80FF0000, {0, 0, 8, 8}});
    small.compare({4, 4, 3, 3, 5, all, true, 0x80FF0000, {5, 0, 1, 8}});  // an empty box
    small.compare({4, 4, 3, 3, 5, {pi / 2, pi / 2, false}, false, 0x80FF0000, {0, 0, 8, 8}});
}

// The pair-word rule agrees with the plain rule for every difference near a pixel, at positions
// across zero and near the limits of the pair words.
TEST(CircleThinning, PairWordsAgreeWithPlainOffsets) {
    const int64_t bases[] = {0, -1, 1, -2, 5, -37, 1000, -(int64_t{1} << 29) - 8, (int64_t{1} << 29) + 8};
    for (int64_t bx : bases)
        for (int64_t by : bases)
            for (int64_t dx = -4; dx <= 4; ++dx)
                for (int64_t dy = -4; dy <= 4; ++dy) {
                    offset64 last{by, bx}, next{by + dy, bx + dx};
                    EXPECT_EQ(pair_beyond_a_pixel(pair_word(next.x, next.y), pair_word(last.x, last.y)),
                              offset_beyond_a_pixel(next, last))
                        << bx << "," << by << " by " << dx << "," << dy;
                }
    std::mt19937_64 random(7);
    std::uniform_int_distribution<int64_t> any(-(int64_t{1} << 29) - 8, (int64_t{1} << 29) + 8);
    for (int round = 0; round < 100000; ++round) {
        offset64 last{any(random), any(random)}, next{any(random), any(random)};
        if (round % 2) next = {last.y + (any(random) & 3) - 1, last.x + (any(random) & 7) - 3};
        ASSERT_EQ(pair_beyond_a_pixel(pair_word(next.x, next.y), pair_word(last.x, last.y)),
                  offset_beyond_a_pixel(next, last));
    }
}

}  // namespace
