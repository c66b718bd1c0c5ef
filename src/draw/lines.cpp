#include "draw/lines.h"

#include <algorithm>
#include <bit>
#include <cstdlib>

#include "core/errors.h"
#include "core/maths.h"
#include "screen/boxes.h"
#include "screen/image_pool.h"
#include "screen/pixels.h"
#include "screen/view.h"

namespace {

// The narrowing and rounding of a clip intersection: to single precision, then to the nearest
// integer, ties to even.
int64_t clip_round(double v) { return float_to_int32(static_cast<float>(v)); }

// Distance per step along the other axis, an infinity with the numerator's sign for a zero distance.
double slope(int64_t numerator, int64_t distance) {
    return static_cast<double>(numerator) / static_cast<double>(distance < 0 ? -distance : distance);
}

bool inside(int64_t x, int64_t y, int64_t left, int64_t top, int64_t right, int64_t bottom) {
    return x >= left && x <= right && y >= top && y <= bottom;
}

// Moves (x, y), which lies outside, onto the first edge the segment towards (ox, oy) crosses
// within the rectangle; false when there is none.
bool move_to_edge(int64_t& x, int64_t& y, int64_t ox, int64_t oy, int64_t left, int64_t top, int64_t right,
                  int64_t bottom) {
    double h = slope(ox - x, oy - y);  // x per unit of y
    double i = slope(oy - y, ox - x);  // y per unit of x
    auto within = [](double v, int64_t low, int64_t high) {
        return v >= static_cast<double>(low) && v <= static_cast<double>(high);
    };
    if (x > right && h < 0) {
        double ny = static_cast<double>(y) + static_cast<double>(x - right) * i;
        if (within(ny, top, bottom)) {
            x = right;
            y = clip_round(ny);
            return true;
        }
    }
    if (x < left && h > 0) {
        double ny = static_cast<double>(y) + static_cast<double>(left - x) * i;
        if (within(ny, top, bottom)) {
            x = left;
            y = clip_round(ny);
            return true;
        }
    }
    if (y < top && i > 0) {
        double nx = static_cast<double>(x) + static_cast<double>(top - y) * h;
        if (within(nx, left, right)) {
            x = clip_round(nx);
            y = top;
            return true;
        }
    }
    if (y > bottom && i < 0) {
        double nx = static_cast<double>(x) + static_cast<double>(y - bottom) * h;
        if (within(nx, left, right)) {
            x = clip_round(nx);
            y = bottom;
            return true;
        }
    }
    return false;
}

// Round half away from zero.
int64_t round_away(float v) {
    double d = v;
    return static_cast<int64_t>(d < 0 ? d - 0.5 : d + 0.5);
}

// The pixels of a clipped segment, major axis by major axis; the minor coordinate is accumulated in
// single precision and held within the segment's range (long lines drift otherwise). pixel(x, y)
// is called for every position.
template <class Pixel>
void line_step(int64_t x1, int64_t y1, int64_t x2, int64_t y2, Pixel pixel) {
    int64_t dx = x1 > x2 ? x1 - x2 : x2 - x1;
    int64_t dy = y1 > y2 ? y1 - y2 : y2 - y1;
    bool x_major = dx > dy;
    int64_t major = x_major ? x1 : y1, major_end = x_major ? x2 : y2;
    int64_t minor = x_major ? y1 : x1, minor_end = x_major ? y2 : x2;
    int64_t count = x_major ? dx : dy;
    if (count == 0) {
        pixel(x1, y1);
        return;
    }
    int64_t step = major_end < major ? -1 : 1;
    auto slope_value = static_cast<float>(static_cast<long double>(minor_end - minor) / count);
    int64_t minor_low = std::min(minor, minor_end), minor_high = std::max(minor, minor_end);
    float accumulator = static_cast<float>(minor);
    for (int64_t n = 0; n <= count; ++n) {
        int64_t m = std::clamp(round_away(accumulator), minor_low, minor_high);
        if (x_major) pixel(major, m);
        else pixel(m, major);
        major += step;
        accumulator = accumulator + slope_value;
    }
}

void line_clipped_draw(int64_t x1, int64_t y1, int64_t x2, int64_t y2, uint32_t colour, uint32_t style) {
    pixel_box box = image_clip_box(dest_image);
    if (box.empty()) return;
    line_clip_result c = line_clip(x1, y1, x2, y2, box.x1, box.y1, box.x2, box.y2);
    uint32_t pattern = std::rotl((style & 0xFFFF) * 0x10001u, static_cast<int>(c.cut_off & 15));
    if (!c.visible) return;
    line_step(c.x1, c.y1, c.x2, c.y2, [&](int64_t x, int64_t y) {
        pattern = std::rotl(pattern, 1);
        if (pattern & 1) dest_pixel_write(static_cast<int32_t>(x), static_cast<int32_t>(y), colour);
    });
}

// The pixel of the graphics cursor for the single-pixel statements: extended precision, ties to
// even, kept in 64 bits so that a far point never wraps onto the image.
int64_t cursor_pixel(float value, float scale, float offset, int32_t origin, uint8_t mode) {
    if (mode == 2) {
        return long_double_to_int64(static_cast<long double>(value) * scale + offset) + origin;
    }
    int64_t p = long_double_to_int64(value);
    return mode == 1 ? p + origin : p;
}

// The cursor in view units (the window applied), narrowed to single precision.
float cursor_in_view(float value, float scale, float offset, uint8_t mode) {
    return mode == 2 ? static_cast<float>(static_cast<long double>(value) * scale + offset) : value;
}

}  // namespace

line_clip_result line_clip(int64_t x1, int64_t y1, int64_t x2, int64_t y2, int64_t left, int64_t top, int64_t right,
                           int64_t bottom) {
    line_clip_result r{false, x1, y1, x2, y2, 0};
    bool same = x1 == x2 && y1 == y2;
    if (inside(x1, y1, left, top, right, bottom)) {
        if (same) {
            r.visible = true;
            return r;
        }
    } else {
        if (same) return r;
        if ((x1 < left && x2 < left) || (x1 > right && x2 > right) || (y1 < top && y2 < top) ||
            (y1 > bottom && y2 > bottom))
            return r;
        if (!move_to_edge(r.x1, r.y1, x2, y2, left, top, right, bottom)) return r;
        r.cut_off = std::max(std::abs(x1 - r.x1), std::abs(y1 - r.y1));
    }
    if (!inside(r.x2, r.y2, left, top, right, bottom) &&
        !move_to_edge(r.x2, r.y2, r.x1, r.y1, left, top, right, bottom))
        return r;
    r.visible = true;
    return r;
}

void dest_pixel_write_clipped(int64_t x, int64_t y, uint32_t colour) {
    if (image_clip_box(dest_image).contains(x, y))
        dest_pixel_write(static_cast<int32_t>(x), static_cast<int32_t>(y), colour);
}

void line_pixels_draw(int64_t x1, int64_t y1, int64_t x2, int64_t y2, uint32_t colour) {
    line_clipped_draw(x1, y1, x2, y2, colour, 0xFFFF);
}

void line_styled_draw(float x1, float y1, float x2, float y2, uint32_t colour, uint32_t style) {
    line_clipped_draw(image_map_x(dest_image, x1), image_map_y(dest_image, y1), image_map_x(dest_image, x2),
                      image_map_y(dest_image, y2), colour, style);
}

void line_draw(float x1, float y1, float x2, float y2, uint32_t colour, int32_t kind, uint32_t style, uint32_t flags) {
    if (error_pending()) return;
    image_record* d = dest_image;
    if (d->is_text) {
        error_raise(error_illegal_function_call);
        return;
    }
    if (flags & line_first_point) {
        if (flags & line_first_relative) {
            x1 = x1 + d->cursor_x;
            y1 = y1 + d->cursor_y;
        }
        d->cursor_x = x1;
        d->cursor_y = y1;
    } else {
        x1 = d->cursor_x;
        y1 = d->cursor_y;
    }
    if (flags & line_second_relative) {
        x2 = x2 + d->cursor_x;
        y2 = y2 + d->cursor_y;
    }
    d->cursor_x = x2;
    d->cursor_y = y2;
    if (!(flags & line_style_given)) style = 0xFFFF;
    if (!(flags & line_colour_given)) colour = static_cast<uint32_t>(d->fore_color);
    switch (kind) {
        case line_kind_line:
            d->draw_color = colour;
            line_styled_draw(x1, y1, x2, y2, colour, style);
            break;
        case line_kind_box:
            d->draw_color = colour;
            line_styled_draw(x1, y1, x2, y1, colour, style);
            line_styled_draw(x2, y1, x2, y2, colour, style);
            line_styled_draw(x2, y2, x1, y2, colour, style);
            line_styled_draw(x1, y2, x1, y1, colour, style);
            break;
        case line_kind_filled_box:
            d->draw_color = colour;
            box_fill(x1, y1, x2, y2, colour);
            break;
        default:
            break;
    }
}

uint32_t source_pixel_read(int32_t x, int32_t y) {
    const image_record* s = source_image;
    size_t at = static_cast<size_t>(y) * s->width + static_cast<size_t>(x);
    if (s->bytes_per_pixel == 4) return reinterpret_cast<const uint32_t*>(s->pixels)[at];
    return s->pixels[at] & s->color_mask;
}

double pixel_query(float a, float b, int32_t point) {
    if (point) {
        const image_record* s = source_image;
        if (s->is_text) {
            error_raise(error_illegal_function_call);
            return 0;
        }
        int64_t x = image_map_x(s, a), y = image_map_y(s, b);
        if (!image_clip_box(s).contains(x, y)) return -1;
        return source_pixel_read(static_cast<int32_t>(x), static_cast<int32_t>(y));
    }
    const image_record* d = dest_image;
    int32_t n = float_to_int32(a);
    if (d->is_text || n < 0 || n > 3) {
        error_raise(error_illegal_function_call);
        return 0;
    }
    switch (n) {
        case 0: return float_to_int32(cursor_in_view(d->cursor_x, d->scale_x, d->offset_x, d->coord_mode));
        case 1: return float_to_int32(cursor_in_view(d->cursor_y, d->scale_y, d->offset_y, d->coord_mode));
        case 2: return d->cursor_x;
        default: return d->cursor_y;
    }
}

void pixel_set(float x, float y, uint32_t colour, uint32_t flags) {
    if (error_pending()) return;
    image_record* d = dest_image;
    if (d->mode == 0) {
        error_raise(error_illegal_function_call);
        return;
    }
    if (flags & 1) {
        d->cursor_x = d->cursor_x + x;
        d->cursor_y = d->cursor_y + y;
    } else {
        d->cursor_x = x;
        d->cursor_y = y;
    }
    if (!(flags & 2)) colour = static_cast<uint32_t>(d->fore_color);
    d->draw_color = colour;
    int64_t px = cursor_pixel(d->cursor_x, d->scale_x, d->offset_x, d->view_origin_x, d->coord_mode);
    int64_t py = cursor_pixel(d->cursor_y, d->scale_y, d->offset_y, d->view_origin_y, d->coord_mode);
    bool visible = d->coord_mode == 0 ? (px >= 0 && px < d->width && py >= 0 && py < d->height)
                                      : image_clip_box(d).contains(px, py);
    if (visible) dest_pixel_write(static_cast<int32_t>(px), static_cast<int32_t>(py), colour);
}

void pixel_reset(float x, float y, uint32_t colour, uint32_t flags) {
    if (error_pending()) return;
    if (!(flags & 2)) {
        colour = dest_image->back_color;
        flags |= 2;
    }
    pixel_set(x, y, colour, flags);
}
