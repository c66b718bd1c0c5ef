#include "draw/circles.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "draw/pixel_shape.h"
#include "screen/blend.h"
#include "screen/image_fixture.h"

namespace {

constexpr double pi = 3.141592653589793;
constexpr double two_pi = 6.283185307179586;
constexpr uint32_t all = circle_colour_given | circle_start_given | circle_end_given | circle_aspect_given;
constexpr uint32_t whole = circle_colour_given | circle_aspect_given;  // a full circle

using pixel_set = std::set<std::pair<int32_t, int32_t>>;

struct Circles : image_test {
    // The pixels that are not 0, relative to (cx, cy).
    static pixel_set drawn(const image_record& r, int32_t cx, int32_t cy) {
        pixel_set s;
        for (int32_t y = 0; y < r.height; ++y)
            for (int32_t x = 0; x < r.width; ++x)
                if (r.pixels[size_t(y) * r.width + size_t(x)]) s.insert({x - cx, y - cy});
        return s;
    }
    // Rows of '#' and '.' whose first character lies at (x0, y0) relative to the centre.
    static pixel_set rows(int32_t x0, int32_t y0, std::initializer_list<const char*> lines) {
        pixel_set s;
        int32_t y = y0;
        for (const char* l : lines) {
            for (int32_t x = 0; l[x]; ++x)
                if (l[x] == '#') s.insert({x0 + x, y});
            ++y;
        }
        return s;
    }
    // A full circle on a fresh image of mode 12 centred at (c, c).
    static pixel_set full(int32_t size, double r, double aspect = 1.0) {
        image_record& img = dest_new(size, size, 12);
        double c = size / 2;
        circle_draw(c, c, r, 1, 0, 0, aspect, circle_colour_given | circle_aspect_given);
        return drawn(img, size / 2, size / 2);
    }
};

// Pictures worked out by following the drawing rules step by step in double precision.
TEST_F(Circles, Goldens) {
    struct golden {
        const char* name;
        double r, aspect, start, end;
        pixel_set want;
    };
    const golden cases[] = {
        {"radius 0", 0, 1, 0, two_pi, rows(0, 0, {"#"})},
        {"radius 1", 1, 1, 0, two_pi, rows(-1, -1, {".#.", "#.#", ".#."})},
        {"radius 5", 5, 1, 0, two_pi,
         rows(-5, -5, {"...#####...", "..#.....#..", ".#.......#.", "#.........#", "#.........#", "#.........#",
                       "#.........#", "#.........#", ".#.......#.", "..#.....#..", "...#####..."})},
        {"aspect 2", 5, 2, 0, two_pi,
         rows(-3, -5, {"...#...", "..#.#..", ".#...#.", ".#...#.", ".#...#.", "#.....#", ".#...#.", ".#...#.",
                       ".#...#.", "..#.#..", "...#..."})},
        {"aspect 0.5", 5, 0.5, 0, two_pi,
         rows(-5, -2, {"..#######..", ".#.......#.", "#.........#", ".#.......#.", "..#######.."})},
        {"aspect -0.5", 5, -0.5, 0, two_pi,
         rows(-5, -2, {"..#######..", ".#.......#.", "#.........#", ".#.......#.", "..#######.."})},
        {"aspect -3", 5, -3, 0, two_pi,
         rows(-5, -5, {"...#####...", "..#.....#..", ".#.......#.", "#.........#", "#.........#", "#.........#",
                       "#.........#", "#.........#", ".#.......#.", "..#.....#..", "...#####..."})},
        // start > end: the arc through angle 0, from 3 pi / 2 round to pi / 2.
        {"inverted arc", 5, 1, 3 * pi / 2, pi / 2,
         rows(-1, -5, {"####...", "....#..", ".....#.", "......#", "......#", "......#", "......#", "......#",
                       ".....#.", "....#..", "##.#..."})},
    };
    for (const golden& g : cases) {
        image_record& r = dest_new(40, 40, 12);
        circle_draw(20, 20, g.r, 3, g.start, g.end, g.aspect, all);
        EXPECT_EQ(drawn(r, 20, 20), g.want) << g.name;
        EXPECT_EQ(r.draw_color, 3u) << g.name;
    }
    // Radius 37: the first quadrant, mirrored into the others.
    const std::pair<int32_t, int32_t> quadrant[] = {
        {0, -37},  {1, -37},  {2, -37},  {3, -37},  {4, -37},  {5, -37},  {6, -37},  {7, -36},  {8, -36},
        {9, -36},  {10, -36}, {11, -35}, {12, -35}, {13, -35}, {14, -34}, {15, -34}, {16, -34}, {17, -33},
        {18, -32}, {19, -32}, {20, -31}, {21, -31}, {22, -30}, {23, -29}, {24, -28}, {25, -27}, {26, -26},
        {27, -25}, {28, -24}, {29, -23}, {30, -22}, {31, -21}, {31, -20}, {32, -19}, {32, -18}, {33, -17},
        {33, -16}, {34, -15}, {34, -14}, {35, -13}, {35, -12}, {35, -11}, {36, -10}, {36, -9},  {36, -8},
        {36, -7},  {37, -6},  {37, -5},  {37, -4},  {37, -3},  {37, -2},  {37, -1},  {37, 0}};
    pixel_set want;
    for (auto [x, y] : quadrant)
        for (int32_t sx : {-1, 1})
            for (int32_t sy : {-1, 1}) want.insert({sx * x, sy * y});
    image_record& r = dest_new(100, 100, 12);
    circle_draw(50, 50, 37, 3, 0, 0, 0, circle_colour_given);
    EXPECT_EQ(drawn(r, 50, 50), want);
}

TEST_F(Circles, DefaultAspectByMode) {
    for (int32_t mode : {1, 2, 7, 8, 9, 10, 11, 12, 13, 32, 256})
        EXPECT_EQ(mode_pixel_aspect(mode),
                  mode == 1 || mode == 7 || mode == 13 ? 0.8333333333333334
                  : mode == 2 || mode == 8           ? 0.4166666666666667
                  : mode == 9 || mode == 10          ? 0.7291666666666666
                                                     : 1.0)
            << mode;
    // 640 x 200: the vertical radius is 5/12 of the horizontal one.
    image_record& r = dest_new(640, 200, 2);
    circle_draw(100, 100, 5, 1, 0, 0, 0, circle_colour_given);
    EXPECT_EQ(drawn(r, 100, 100),
              rows(-5, -2, {"..#######..", ".#.......#.", "#.........#", ".#.......#.", "..#######.."}));
}

TEST_F(Circles, RadiusZeroWritesItsPixelEightTimes) {
    image_record& r = dest_new(3, 3, 32);
    const uint32_t colour = 0x80402010;
    circle_draw(1, 1, 0, colour, 0, 0, 0, circle_colour_given);
    uint32_t want = 0, once = blend_pixel(0, colour);
    for (int i = 0; i < 8; ++i) want = blend_pixel(want, colour);
    EXPECT_NE(want, once);
    EXPECT_EQ(reinterpret_cast<uint32_t*>(r.pixels)[4], want);
    EXPECT_EQ(reinterpret_cast<uint32_t*>(r.pixels)[0], 0u);
}

TEST_F(Circles, NegativeRadiusAndRelativeCentre) {
    pixel_set positive = full(40, 7);
    image_record& r = dest_new(40, 40, 12);
    r.cursor_x = 15;
    r.cursor_y = 16;
    circle_draw(5, 4, -7, 1, 0, 0, 1, circle_colour_given | circle_aspect_given | circle_relative);
    EXPECT_EQ(drawn(r, 20, 20), positive);
    EXPECT_EQ(r.cursor_x, 20.0f);
    EXPECT_EQ(r.cursor_y, 20.0f);
}

TEST_F(Circles, FullCirclesOverRandomRadii) {
    std::mt19937 random(3);
    for (int round = 0; round < 40; ++round) {
        double radius = 1 + std::uniform_real_distribution<double>(0, 299)(random);
        if (round < 5) radius = std::floor(radius);
        SCOPED_TRACE(radius);
        pixel_set s = full(640, radius);
        auto rounded = int32_t(radius + 0.5);
        int32_t low_x = 0, high_x = 0, low_y = 0, high_y = 0;
        for (auto [x, y] : s) {
            ASSERT_TRUE(s.count({-x, y}) && s.count({x, -y}));  // four-fold symmetry
            low_x = std::min(low_x, x), high_x = std::max(high_x, x);
            low_y = std::min(low_y, y), high_y = std::max(high_y, y);
            ASSERT_LE(std::fabs(std::hypot(x, y) - radius), 1.0) << x << "," << y;
            // 8-connected: every pixel has two neighbours on the outline.
            int neighbours = 0;
            for (int dy = -1; dy <= 1; ++dy)
                for (int dx = -1; dx <= 1; ++dx) neighbours += (dx || dy) && s.count({x + dx, y + dy});
            ASSERT_GE(neighbours, 2) << x << "," << y;
        }
        EXPECT_EQ(high_x, rounded);
        EXPECT_EQ(low_x, -rounded);
        EXPECT_EQ(high_y, rounded);
        EXPECT_EQ(low_y, -rounded);
        // One connected outline.
        pixel_set seen{*s.begin()};
        std::vector<std::pair<int32_t, int32_t>> todo{*s.begin()};
        while (!todo.empty()) {
            auto [x, y] = todo.back();
            todo.pop_back();
            for (int dy = -1; dy <= 1; ++dy)
                for (int dx = -1; dx <= 1; ++dx)
                    if (s.count({x + dx, y + dy}) && seen.insert({x + dx, y + dy}).second) todo.push_back({x + dx, y + dy});
        }
        EXPECT_EQ(seen.size(), s.size());
    }
}

TEST_F(Circles, EllipsesStayWithinAPixelOfTheirCurve) {
    std::mt19937 random(5);
    for (int round = 0; round < 12; ++round) {
        double radius = std::uniform_real_distribution<double>(2, 150)(random);
        double aspect = std::uniform_real_distribution<double>(0.2, 4)(random);
        SCOPED_TRACE(testing::Message() << radius << " aspect " << aspect);
        double rx = aspect > 1 ? radius / aspect : radius, ry = aspect < 1 ? radius * aspect : radius;
        pixel_set s = full(400, radius, aspect);
        for (auto [x, y] : s) {
            // The nearest point of the curve, searched around the pixel's own parameter angle.
            double t0 = std::atan2(-y / ry, x / rx), best = 1e9;
            for (int k = -400; k <= 400; ++k) {
                double t = t0 + k * 0.0005;
                best = std::min(best, std::hypot(x - rx * std::cos(t), y + ry * std::sin(t)));
            }
            ASSERT_LE(best, 1.0) << x << "," << y;
        }
    }
}

TEST_F(Circles, RadiusLinesEndOnTheOutlineInEveryQuadrant) {
    std::mt19937 random(9);
    int checked[4] = {};
    for (int round = 0; round < 80; ++round) {
        double radius = std::uniform_real_distribution<double>(3, 120)(random);
        double angle = std::uniform_real_distribution<double>(0.01, two_pi - 0.01)(random);
        SCOPED_TRACE(testing::Message() << radius << " at " << angle);
        pixel_set outline = full(300, radius);
        dest_new(300, 300, 12);
        circle_draw(150, 150, radius, 1, angle, angle, 1, all);  // the arc alone: at most a pixel
        pixel_set arc = drawn(*dest_image, 150, 150);
        dest_new(300, 300, 12);
        circle_draw(150, 150, radius, 1, -angle, -angle, 1, all);  // with its two radius lines
        pixel_set line;
        for (auto p : drawn(*dest_image, 150, 150))
            if (!arc.count(p)) line.insert(p);
        std::pair<int32_t, int32_t> end{0, 0};  // the line's far end
        for (auto p : line)
            if (std::hypot(p.first, p.second) > std::hypot(end.first, end.second)) end = p;
        EXPECT_LE(std::fabs(end.first - radius * std::cos(angle)), 0.5 + 1e-9);
        EXPECT_LE(std::fabs(end.second + radius * std::sin(angle)), 0.5 + 1e-9);
        bool touches = false;
        for (int dy = -1; dy <= 1; ++dy)
            for (int dx = -1; dx <= 1; ++dx) touches |= outline.count({end.first + dx, end.second + dy}) > 0;
        EXPECT_TRUE(touches);
        ++checked[int(angle / (pi / 2))];
    }
    for (int q = 0; q < 4; ++q) EXPECT_GT(checked[q], 5) << q;
}

TEST_F(Circles, MinusZeroAsksForNoRadiusLine) {
    image_record& r = dest_new(30, 30, 12);
    circle_draw(15, 15, 10, 1, 0.0, pi, 1, all);
    pixel_set plain = drawn(r, 15, 15);
    dest_new(30, 30, 12);
    circle_draw(15, 15, 10, 1, -0.0, pi, 1, all);
    EXPECT_EQ(drawn(*dest_image, 15, 15), plain);
    dest_new(30, 30, 12);
    circle_draw(15, 15, 10, 1, -1e-300, pi, 1, all);
    pixel_set with_line = drawn(*dest_image, 15, 15);
    for (int32_t x = 0; x <= 10; ++x) EXPECT_TRUE(with_line.count({x, 0})) << x;
}

TEST_F(Circles, AngleLimitsAndErrors) {
    image_record& r = dest_new(30, 30, 12);
    circle_draw(15, 15, 5, 1, two_pi, two_pi, 1, all);
    EXPECT_EQ(raised(), 0);
    r.cursor_x = 3;
    for (double bad : {std::nextafter(two_pi, 7.0), -7.0}) {
        circle_draw(15, 15, 5, 2, bad, 1, 1, all);
        EXPECT_EQ(raised(), 5) << bad;
        circle_draw(15, 15, 5, 2, 1, bad, 1, all);
        EXPECT_EQ(raised(), 5) << bad;
    }
    EXPECT_EQ(r.cursor_x, 3.0f);  // an erroring call changes nothing
    EXPECT_EQ(r.draw_color, 1u);
    dest_new(30, 30, 0);
    circle_draw(15, 15, 5, 1, 0, 0, 1, 0);
    EXPECT_EQ(raised(), 5);
}

TEST_F(Circles, OutsideTheClipBoxOrNotFiniteDrawsNothing) {
    image_record& r = dest_new(30, 30, 12);
    r.draw_color = 9;
    circle_draw(100, 15, 5, 1, 0, 0, 1, all);
    EXPECT_EQ(r.cursor_x, 100.0f);
    EXPECT_EQ(r.draw_color, 9u);
    circle_draw(34.6, 15, 5, 1, 0, 0, 1, whole);  // more than half a pixel beyond the clip box
    EXPECT_EQ(r.draw_color, 9u);
    circle_draw(34.4, 15, 5, 1, 0, 0, 1, whole);  // within half a pixel
    EXPECT_EQ(r.draw_color, 1u);
    EXPECT_EQ(drawn(r, 0, 0), (pixel_set{{29, 13}, {29, 14}, {29, 15}, {29, 16}, {29, 17}}));
    dest_new(30, 30, 12);
    const double inf = INFINITY, nan = NAN;
    const double bad[][4] = {{nan, 15, 5, 1}, {15, inf, 5, 1}, {15, 15, inf, 1}, {15, 15, nan, 1},
                             {15, 15, 5, nan}, {1e308, 15, 1e308, 1}};
    for (const auto& b : bad) {
        circle_draw(b[0], b[1], b[2], 1, 0, 0, b[3], whole);
        EXPECT_EQ(raised(), 0);
    }
    circle_draw(15, 15, 5, 1, nan, 1, 1, all);
    EXPECT_EQ(raised(), 0);
    EXPECT_TRUE(drawn(*dest_image, 0, 0).empty());
    dest_image->clip_x1 = 20;  // an inverted clip box holds nothing
    dest_image->clip_x2 = 10;
    circle_draw(15, 15, 5, 1, -1, -2, 1, all);
    EXPECT_EQ(raised(), 0);
    EXPECT_TRUE(drawn(*dest_image, 0, 0).empty());
}

TEST_F(Circles, AHugeCircleJustOffTheImageEnds) {
    image_record& r = dest_new(64, 48, 12);
    circle_draw(-1e9 + 10, 24, 1e9, 1, 0, 0, 1, whole);
    pixel_set s = drawn(r, 0, 0);
    EXPECT_FALSE(s.empty());
    for (auto [x, y] : s) EXPECT_LE(x, 10);
    // Radii beyond what converts plainly to 64 bits are held in range, not converted blindly.
    circle_draw(-1e20, 24, 1e20 + 10, 1, 0, 0, 1, whole);
    circle_draw(30, 24, 1e300, 1, 0, 0, 1, whole);
    EXPECT_EQ(raised(), 0);
}

TEST_F(Circles, ViewAndWindowMapTheCentreAndRadius) {
    image_record& r = dest_new(40, 40, 12);
    r.coord_mode = 2;
    r.scale_x = 2;
    r.scale_y = -2;
    r.offset_x = 1;
    r.offset_y = 39;
    r.view_origin_x = 3;
    circle_draw(5, 10, 2.5, 1, 0, 0, 1, whole);
    // Centre (5*2+1+3, 10*-2+39) = (14, 19), radius 5 pixels.
    pixel_set want = full(40, 5);
    EXPECT_EQ(drawn(r, 14, 19), want);
}

}  // namespace
