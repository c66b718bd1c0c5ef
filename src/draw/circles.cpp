#include "draw/circles.h"

#include <algorithm>
#include <cmath>

#include "core/error_codes.h"
#include "core/errors.h"
#include "draw/circle_outline.h"
#include "draw/lines.h"
#include "draw/pixel_shape.h"
#include "draw/pixel_space.h"
#include "screen/image_pool.h"
#include "screen/view.h"

namespace {

constexpr double two_pi = 6.283185307179586;

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
    bool whole = !arc.inverted && arc.start <= 0 && arc.end >= two_pi;
    circle_outline_draw(d, {cx, cy, rx, ry, n, arc, whole, colour, box});
    if (end_line) radius_line(cx, cy, arc.end, rx, ry, colour);
}
