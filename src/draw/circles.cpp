#include "draw/circles.h"

#include <algorithm>
#include <cmath>

#include "core/error_codes.h"
#include "core/errors.h"
#include "draw/lines.h"
#include "draw/pixel_shape.h"
#include "draw/pixel_space.h"
#include "screen/image_pool.h"
#include "screen/pixels.h"
#include "screen/view.h"

namespace {

constexpr double two_pi = 6.283185307179586;
constexpr double pi = 3.141592653589793;

// The radii in pixels after the aspect: below 1 it shortens the vertical radius, above 1 the
// horizontal one; a negative aspect above -1 counts as aspect + 1, one of -1 or less as 1.
void apply_aspect(double aspect, double R, double& rx, double& ry) {
    rx = ry = R;
    if (aspect >= 0) {
        if (aspect < 1) ry = R * aspect;
        if (aspect > 1) rx = R / aspect;
    } else if (aspect > -1) {
        ry = R * (aspect + 1);
    }
}

struct arc_range {
    double start, end;
    bool inverted;
    bool contains(double a) const { return inverted ? (a <= start || a >= end) : (start <= a && a <= end); }
};

struct offset {
    int64_t x, y;
};

// How much checking a walk needs: none for an outline well inside the clip box; the clip box for
// one that crosses it; beyond that, offsets held in range for radii too large to convert plainly.
enum class outline_reach { inside, clipped, far };

// What one walk plots into: the centre, the arc, the colour and the clip box (taken once). A
// whole circle passes every angle. The walk is built for each case, with the same pixels.
template <bool whole_circle, outline_reach reach>
struct outline_target {
    int64_t cx, cy;
    arc_range arc;
    uint32_t colour;
    pixel_box box;
    pixel_writer pixels;

    static int64_t truncated(double v) { return reach == outline_reach::far ? pixel_truncate(v) : static_cast<int64_t>(v); }
    void write(int64_t x, int64_t y, double angle) const {
        if (!whole_circle && !arc.contains(angle)) return;
        if (reach != outline_reach::inside && !box.contains(x, y)) return;
        pixels.write(static_cast<int32_t>(x), static_cast<int32_t>(y), colour);
    }
    // The four mirrors of one offset of the first quadrant, each with its own angle.
    void plot_mirrored(offset p, const double (&a)[4]) const {
        write(cx + p.x, cy + p.y, a[0]);
        write(cx - p.x, cy + p.y, a[1]);
        write(cx - p.x, cy - p.y, a[2]);
        write(cx + p.x, cy - p.y, a[3]);
    }
};

// The first quadrant walked in n steps from angle 0 (up and to the right on the screen). An
// offset is plotted only when the next one is not within a pixel of the last plotted offset.
template <class Target>
void quadrant_walk(const Target& t, double rx, double ry, int64_t n) {
    double step = n ? pi / 2 / static_cast<double>(n) : 0.0;
    double c = n ? std::cos(step) : 1.0, s = n ? std::sin(step) : 0.0;
    double vx = 1.0, vy = 0.0;
    double a[4] = {0.0, pi, pi, two_pi};
    offset last{}, pending{};
    for (int64_t i = 0;; ++i) {
        offset p{Target::truncated(vx * rx + 0.5), Target::truncated(vy * ry - 0.5)};
        if (i == 0) {
            t.plot_mirrored(p, a);
            last = p;
        } else if (std::abs(p.x - last.x) > 1 || std::abs(p.y - last.y) > 1) {
            t.plot_mirrored(pending, a);
            last = pending;
        }
        pending = p;
        if (i + 1 > n) {
            t.plot_mirrored(pending, a);
            return;
        }
        double turned_x = vx * c + vy * s;
        vy = vy * c - vx * s;
        vx = turned_x;
        a[0] += step, a[1] -= step, a[2] += step, a[3] -= step;
    }
}

template <bool whole_circle>
void outline_draw(int64_t cx, int64_t cy, double rx, double ry, int64_t n, const arc_range& arc, uint32_t colour,
                  const pixel_box& box) {
    // Offsets stay within a pixel of the radii (the turning vector keeps its length to ~1e-9).
    constexpr double margin = 2;
    bool inside = cx - rx - margin >= box.x1 && cx + rx + margin <= box.x2 && cy - ry - margin >= box.y1 &&
                  cy + ry + margin <= box.y2;
    bool near = rx < pixel_far / 2 && ry < pixel_far / 2;
    pixel_writer pixels(dest_image);
    if (inside) {
        quadrant_walk(outline_target<whole_circle, outline_reach::inside>{cx, cy, arc, colour, box, pixels}, rx, ry, n);
    } else if (near) {
        quadrant_walk(outline_target<whole_circle, outline_reach::clipped>{cx, cy, arc, colour, box, pixels}, rx, ry, n);
    } else {
        quadrant_walk(outline_target<whole_circle, outline_reach::far>{cx, cy, arc, colour, box, pixels}, rx, ry, n);
    }
}

// A radius line from the centre to the outline's pixel at that angle.
void radius_line(int64_t cx, int64_t cy, double angle, double rx, double ry, uint32_t colour) {
    line_pixels_draw(cx, cy, cx + pixel_round_away(std::cos(angle) * rx), cy - pixel_round_away(std::sin(angle) * ry),
                     colour);
}

}  // namespace

void circle_draw(double x, double y, double r, uint32_t colour, double start, double end, double aspect,
                 uint32_t flags) {
    if (error_pending()) return;
    image_record* d = dest_image;
    if (d->is_text) {
        error_raise(error_illegal_function_call);
        return;
    }
    if (!(flags & circle_start_given)) start = 0.0;
    if (!(flags & circle_end_given)) end = two_pi;
    bool start_line = start < 0, end_line = end < 0;
    if (start_line) start = -start;
    if (end_line) end = -end;
    if (start > two_pi || end > two_pi) {
        error_raise(error_illegal_function_call);
        return;
    }
    arc_range arc{start, end, false};
    if (start > end) {
        arc = {end, start, true};
        std::swap(start_line, end_line);
    }
    if (flags & circle_relative) {
        x += d->cursor_x;
        y += d->cursor_y;
    }
    d->cursor_x = static_cast<float>(x);
    d->cursor_y = static_cast<float>(y);

    double mx = pixel_space_x(d, x), my = pixel_space_y(d, y);
    double R = std::fabs(pixel_space_x(d, x + r) - mx);
    if (!(flags & circle_aspect_given)) aspect = mode_pixel_aspect(d->mode);
    if (!std::isfinite(mx) || !std::isfinite(my) || !std::isfinite(R) || !std::isfinite(aspect) ||
        !std::isfinite(arc.start) || !std::isfinite(arc.end))
        return;
    double rx, ry;
    apply_aspect(aspect, R, rx, ry);
    pixel_box box = image_clip_box(d);
    if (box.empty() || box.x1 > mx + rx + 0.5 || box.y1 > my + ry + 0.5 || mx - rx - 0.5 > box.x2 ||
        my - ry - 0.5 > box.y2)
        return;
    if (!(flags & circle_colour_given)) colour = static_cast<uint32_t>(d->fore_color);
    d->draw_color = colour;

    int64_t cx = pixel_round_away(mx), cy = pixel_round_away(my);
    double quarter = two_pi * R / 4 + 0.5;  // the quarter circumference in pixels, rounded
    int64_t n = quarter < static_cast<double>(circle_quadrant_steps_max) ? static_cast<int64_t>(quarter)
                                                                          : circle_quadrant_steps_max;
    if (start_line) radius_line(cx, cy, arc.start, rx, ry, colour);
    if (!arc.inverted && arc.start <= 0 && arc.end >= two_pi) outline_draw<true>(cx, cy, rx, ry, n, arc, colour, box);
    else outline_draw<false>(cx, cy, rx, ry, n, arc, colour, box);
    if (end_line) radius_line(cx, cy, arc.end, rx, ry, colour);
}
