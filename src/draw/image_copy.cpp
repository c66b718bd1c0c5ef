#include "draw/image_copy.h"

#include <algorithm>
#include <cmath>

#include "core/error_codes.h"
#include "core/errors.h"
#include "core/maths.h"
#include "draw/copy_rows.h"
#include "draw/hardware_drawing.h"
#include "screen/hardware_images.h"
#include "screen/image_pool.h"

namespace {

// A hardware image has no record: these stand in for it, holding only the graphics cursor (shared
// by all hardware sources, and by all hardware destinations) and plain pixel coordinates.
struct copy_proxies {
    image_record source{};
    image_record destination{};
};
copy_proxies proxies;

// The resampled source span is widened by this at each end, so that its first and last pixels get
// their share of the destination.
constexpr double span_widening = 0.499999;
// Limits of the source clipping of a resampled span.
constexpr double source_low_limit = -0.4999999;
constexpr double source_high_margin = 0.5000001;
constexpr double source_high_keep = 0.500001;

// One side of a copy: the record that keeps its cursor and mapping, and its size in pixels.
struct copy_side {
    image_record* record;
    int64_t width, height;
};

struct copy_arguments {
    double dx1, dy1, dx2, dy2, sx1, sy1, sx2, sy2;
    int32_t flags;
};

bool has(int32_t flags, int32_t bit) { return (flags & bit) != 0; }

// A logical coordinate to a pixel. The copy's coordinates arrive as doubles, so a window's scale
// and offset apply in double precision before the value is narrowed to single precision and
// rounded to nearest (ties to even); out of range gives the most negative integer, as the
// processor's conversion does.
int64_t pixel_of(const image_record* r, double v, bool vertical) {
    int64_t origin = vertical ? r->view_origin_y : r->view_origin_x;
    switch (r->coord_mode) {
        case 0: return float_to_int32(static_cast<float>(v));
        case 1: return int64_t{float_to_int32(static_cast<float>(v))} + origin;
        default: {
            double scale = vertical ? r->scale_y : r->scale_x;
            double offset = vertical ? r->offset_y : r->offset_x;
            return int64_t{float_to_int32(static_cast<float>(v * scale + offset))} + origin;
        }
    }
}

void relative_forms_apply(copy_arguments& a, const copy_side& dest, const copy_side& source) {
    if (has(a.flags, copy_dest_first_relative)) {
        a.dx1 += dest.record->cursor_x;
        a.dy1 += dest.record->cursor_y;
    }
    if (has(a.flags, copy_dest_second_relative)) {
        a.dx2 += a.dx1;
        a.dy2 += a.dy1;
    }
    if (has(a.flags, copy_source_first_relative)) {
        a.sx1 += source.record->cursor_x;
        a.sy1 += source.record->cursor_y;
    }
    if (has(a.flags, copy_source_second_relative)) {
        a.sx2 += a.sx1;
        a.sy2 += a.sy1;
    }
}

// |trunc(v)| without a conversion that could overflow.
double whole_distance(double v) { return std::fabs(std::trunc(v)); }

// Both graphics cursors move before any corner is tested.
void cursors_set(const copy_arguments& a, const copy_side& dest, const copy_side& source) {
    image_record* d = dest.record;
    if (has(a.flags, copy_dest_second)) {
        d->cursor_x = static_cast<float>(a.dx2);
        d->cursor_y = static_cast<float>(a.dy2);
    } else if (has(a.flags, copy_dest_first) && has(a.flags, copy_source_second)) {
        d->cursor_x = static_cast<float>(a.dx1 + whole_distance(a.sx2 - a.sx1));
        d->cursor_y = static_cast<float>(a.dy1 + whole_distance(a.sy2 - a.sy1));
    } else if (has(a.flags, copy_dest_first)) {
        d->cursor_x = static_cast<float>(a.dx1 + whole_distance(static_cast<double>(source.width) - a.sx1));
        d->cursor_y = static_cast<float>(a.dy1 + whole_distance(static_cast<double>(source.height) - a.sy1));
    } else {
        d->cursor_x = static_cast<float>(dest.width);
        d->cursor_y = static_cast<float>(dest.height);
    }
    image_record* s = source.record;
    if (has(a.flags, copy_source_second)) {
        s->cursor_x = static_cast<float>(a.sx2);
        s->cursor_y = static_cast<float>(a.sy2);
    } else {
        s->cursor_x = static_cast<float>(source.width);
        s->cursor_y = static_cast<float>(source.height);
    }
}

copy_corners corners_map(const copy_arguments& a, const copy_side& dest, const copy_side& source) {
    copy_corners c{};
    if (has(a.flags, copy_dest_first)) {
        c.dx1 = pixel_of(dest.record, a.dx1, false);
        c.dy1 = pixel_of(dest.record, a.dy1, true);
        if (has(a.flags, copy_dest_second)) {
            c.dx2 = pixel_of(dest.record, a.dx2, false);
            c.dy2 = pixel_of(dest.record, a.dy2, true);
        }
    }
    if (has(a.flags, copy_source_first)) {
        c.sx1 = pixel_of(source.record, a.sx1, false);
        c.sy1 = pixel_of(source.record, a.sy1, true);
        if (has(a.flags, copy_source_second)) {
            c.sx2 = pixel_of(source.record, a.sx2, false);
            c.sy2 = pixel_of(source.record, a.sy2, true);
        }
    }
    return c;
}

// Cursors, corners and defaults, shared by both paths; refused (error 5 raised) after the cursors
// have moved.
copy_transfer corners_of(copy_arguments a, const copy_side& dest, const copy_side& source, copy_corners& c) {
    relative_forms_apply(a, dest, source);
    cursors_set(a, dest, source);
    c = corners_map(a, dest, source);
    copy_transfer t = copy_defaults_apply(c, a.flags, dest.width, dest.height, source.width, source.height);
    if (t == copy_transfer::refused) error_raise(error_illegal_function_call);
    return t;
}

copy_side proxy_side(image_record& proxy, const hardware_img* img) {
    proxy.width = static_cast<uint16_t>(img->width);
    proxy.height = static_cast<uint16_t>(img->height);
    proxy.coord_mode = 0;
    proxy.blend_off = img->no_blend ? 1 : 0;
    return {&proxy, img->width, img->height};
}

copy_side record_side(image_record* r) { return {r, r->width, r->height}; }

void copy_hardware(const copy_arguments& a, const hardware_source& source, int32_t destination) {
    render_queue_prune();
    hardware_destination target;
    if (!hardware_destination_resolve(destination, target)) return;
    copy_side from = proxy_side(proxies.source, source.image);
    copy_side to = target.image ? proxy_side(proxies.destination, target.image) : record_side(display_image.load());
    copy_corners c;
    if (corners_of(a, to, from, c) == copy_transfer::refused) return;
    render_command command;
    command.kind = render_rect_copy;
    command.source = source.id;
    command.destination = target.number;
    command.source_x1 = static_cast<float>(c.sx1), command.source_y1 = static_cast<float>(c.sy1);
    command.source_x2 = static_cast<float>(c.sx2), command.source_y2 = static_cast<float>(c.sy2);
    command.dest_x1 = static_cast<float>(c.dx1), command.dest_y1 = static_cast<float>(c.dy1);
    command.dest_x2 = static_cast<float>(c.dx2), command.dest_y2 = static_cast<float>(c.dy2);
    command.smooth = has(a.flags, copy_smooth) ? 1 : 0;
    command.blend = hardware_blend_of(source.image, target);
    render_command_queue(command);
}

// A side of a software copy: the handle's record when given, else the default; null after an error.
image_record* software_side(int32_t handle, bool given, image_record* fallback) {
    image_record* r = given ? image_handle_record(handle) : fallback;
    if (r && r->is_text) {
        error_raise(error_illegal_function_call);
        return nullptr;
    }
    return r;
}

void copy_software(const copy_arguments& a, int32_t source_handle, int32_t dest_handle) {
    image_record* source = software_side(source_handle, has(a.flags, copy_source_given), source_image);
    if (!source) return;
    image_record* dest = software_side(dest_handle, has(a.flags, copy_dest_given), dest_image);
    if (!dest) return;
    if ((source->bytes_per_pixel == 4 && dest->bytes_per_pixel == 1) || source == dest) {
        error_raise(error_illegal_function_call);
        return;
    }
    copy_corners c;
    copy_transfer t = corners_of(a, record_side(dest), record_side(source), c);
    if (t == copy_transfer::refused) return;
    copy_axis x = t == copy_transfer::one_to_one ? copy_axis_one_to_one(c.dx1, c.dx2, c.sx1, c.sx2, dest->width, source->width)
                                                 : copy_axis_resampled(c.dx1, c.dx2, c.sx1, c.sx2, dest->width, source->width);
    copy_axis y = t == copy_transfer::one_to_one
                      ? copy_axis_one_to_one(c.dy1, c.dy2, c.sy1, c.sy2, dest->height, source->height)
                      : copy_axis_resampled(c.dy1, c.dy2, c.sy1, c.sy2, dest->height, source->height);
    if (x.empty() || y.empty()) return;
    copy_rows_transfer(dest, source, x, y);
}

int64_t distance(int64_t a, int64_t b) { return a > b ? a - b : b - a; }

// Mirrored when one rectangle runs down the axis while the other runs up.
bool mirrored(int64_t d1, int64_t d2, int64_t s1, int64_t s2) { return (d2 < d1 && s2 > s1) || (s2 < s1 && d2 > d1); }

// The corners of one rectangle of a copy_corners.
struct rect_corners {
    int64_t &x1, &y1, &x2, &y2;
};

void whole_image_set(rect_corners r, int64_t width, int64_t height) {
    r.x1 = r.y1 = 0;
    r.x2 = width - 1;
    r.y2 = height - 1;
}

// The other rectangle when one has both corners: from its own first corner at the same size, else
// its whole image (resampled unless the sizes match).
copy_transfer other_from_complete(rect_corners complete, rect_corners other, bool other_first, int64_t width,
                                  int64_t height) {
    int64_t across = distance(complete.x2, complete.x1), down = distance(complete.y2, complete.y1);
    if (other_first) {
        other.x2 = other.x1 + across;
        other.y2 = other.y1 + down;
        return copy_transfer::one_to_one;
    }
    whole_image_set(other, width, height);
    return across + 1 == width && down + 1 == height ? copy_transfer::one_to_one : copy_transfer::resampled;
}

}  // namespace

copy_transfer copy_defaults_apply(copy_corners& c, int32_t flags, int64_t dw, int64_t dh, int64_t sw, int64_t sh) {
    bool dest_second = has(flags, copy_dest_second), source_second = has(flags, copy_source_second);
    rect_corners dest{c.dx1, c.dy1, c.dx2, c.dy2}, source{c.sx1, c.sy1, c.sx2, c.sy2};
    if (dest_second && source_second) {
        bool same = distance(c.dx2, c.dx1) == distance(c.sx2, c.sx1) && distance(c.dy2, c.dy1) == distance(c.sy2, c.sy1);
        return same ? copy_transfer::one_to_one : copy_transfer::resampled;
    }
    if (dest_second) return other_from_complete(dest, source, has(flags, copy_source_first), sw, sh);
    if (source_second) return other_from_complete(source, dest, has(flags, copy_dest_first), dw, dh);
    if (has(flags, copy_source_first)) return copy_transfer::refused;
    whole_image_set(source, sw, sh);
    if (has(flags, copy_dest_first)) {
        c.dx2 = c.dx1 + sw - 1;
        c.dy2 = c.dy1 + sh - 1;
        return copy_transfer::one_to_one;
    }
    whole_image_set(dest, dw, dh);
    return dw == sw && dh == sh ? copy_transfer::one_to_one : copy_transfer::resampled;
}

int64_t copy_axis::source_of(int64_t offset) const {
    if (!resampled) return start + direction * offset;
    int64_t k = mirrored ? d2 - d1 - offset : offset;
    double position = std::clamp(a + static_cast<double>(k) * step, 0.0, static_cast<double>(source_size - 1));
    return double_to_int32(position);
}

copy_axis copy_axis_one_to_one(int64_t d1, int64_t d2, int64_t s1, int64_t s2, int64_t dest_size,
                               int64_t source_size) {
    bool mirror = mirrored(d1, d2, s1, s2);
    if (d1 > d2) std::swap(d1, d2);
    if (s1 > s2) std::swap(s1, s2);
    // Each edge cut moves the matching source or destination edge (the opposite one when mirrored).
    if (d1 < 0) {
        (mirror ? s2 : s1) += mirror ? d1 : -d1;
        d1 = 0;
    }
    if (d2 >= dest_size) {
        int64_t k = d2 - dest_size + 1;
        (mirror ? s1 : s2) += mirror ? k : -k;
        d2 = dest_size - 1;
    }
    if (s1 < 0) {
        (mirror ? d2 : d1) += mirror ? s1 : -s1;
        s1 = 0;
    }
    if (s2 >= source_size) {
        int64_t k = s2 - source_size + 1;
        (mirror ? d1 : d2) += mirror ? k : -k;
        s2 = source_size - 1;
    }
    copy_axis axis;
    axis.d1 = d1;
    axis.d2 = d2;
    axis.start = mirror ? s2 : s1;
    axis.direction = mirror ? -1 : 1;
    axis.source_size = source_size;
    return axis;
}

copy_axis copy_axis_resampled(int64_t d1, int64_t d2, int64_t s1, int64_t s2, int64_t dest_size,
                              int64_t source_size) {
    bool mirror = mirrored(d1, d2, s1, s2);
    if (d1 > d2) std::swap(d1, d2);
    if (s1 > s2) std::swap(s1, s2);
    double a = static_cast<double>(s1) - span_widening;
    double b = static_cast<double>(s2) + span_widening;
    int64_t e = d2 - d1;
    double step = e == 0 ? 0.0 : (b - a) / static_cast<double>(e);
    // Destination cuts move the span end that feeds the cut pixels (b first when mirrored).
    if (d1 < 0) {
        double moved = static_cast<double>(-d1) * step;
        if (mirror) b -= moved;
        else a += moved;
        d1 = 0;
    }
    if (d2 >= dest_size) {
        double moved = static_cast<double>(d2 - dest_size + 1) * step;
        if (mirror) a += moved;
        else b -= moved;
        d2 = dest_size - 1;
    }
    copy_axis axis;
    axis.resampled = true;
    axis.mirrored = mirror;
    axis.source_size = source_size;
    if (e != 0) {
        // Whole destination pixels whose samples would fall outside the source; never more than
        // the span holds, so the count always converts.
        const double most = static_cast<double>(e) + 1;
        if (a < source_low_limit) {
            double k = std::trunc(std::min((-a - span_widening) / step + 1, most));
            (mirror ? d2 : d1) += (mirror ? -1 : 1) * static_cast<int64_t>(k);
            a += k * step;
        }
        if (b > static_cast<double>(source_size) - source_high_margin) {
            double k = std::trunc(
                std::min((b - (static_cast<double>(source_size) - source_high_keep)) / step + 1, most));
            (mirror ? d1 : d2) += (mirror ? 1 : -1) * static_cast<int64_t>(k);
            b -= k * step;
        }
    } else {
        // A single destination pixel takes the first source position, only when it lies inside.
        int64_t only = double_to_int32(std::clamp(a, -1.0, static_cast<double>(source_size)));
        if (only < 0 || only >= source_size) d2 = d1 - 1;
    }
    axis.d1 = d1;
    axis.d2 = d2;
    axis.a = a;
    axis.step = step;
    return axis;
}

void image_rect_copy(double dx1, double dy1, double dx2, double dy2, int32_t source, int32_t destination, double sx1,
                     double sy1, double sx2, double sy2, int32_t flags) {
    if (error_pending()) return;
    copy_arguments a{dx1, dy1, dx2, dy2, sx1, sy1, sx2, sy2, flags};
    hardware_source hardware = hardware_source_of(source);
    if (hardware.refused) return;
    // The destination flag plays no part on the hardware path: an absent destination is 0.
    if (hardware.hardware) copy_hardware(a, hardware, destination);
    else copy_software(a, source, destination);
}

void image_copy_reset() { proxies = copy_proxies{}; }
