#include "screen/view.h"

#include <algorithm>

#include "core/errors.h"
#include "core/maths.h"
#include "screen/boxes.h"
#include "screen/image_pool.h"
#include "screen/pixels.h"

namespace {

// The window fitted to the clip box: its left edge maps to the view origin, its right edge to the
// origin plus the clip box's width, and likewise vertically (y upwards when y1 > y2).
void window_fit(image_record* r, float x1, float y1, float x2, float y2) {
    float span_x = static_cast<float>(int64_t{r->clip_x2} - r->clip_x1);
    float span_y = static_cast<float>(int64_t{r->clip_y2} - r->clip_y1);
    r->scale_x = span_x / (x2 - x1);
    r->scale_y = span_y / (y2 - y1);
    r->offset_x = -x1 * r->scale_x;
    r->offset_y = y2 < y1 ? span_y - y2 * r->scale_y : -y1 * r->scale_y;
}

bool clip_box_is_image(const image_record* r) {
    return r->clip_x1 == 0 && r->clip_y1 == 0 && r->clip_x2 == r->width - 1 && r->clip_y2 == r->height - 1;
}

void window_reset(image_record* r) {
    r->coord_mode = 1;
    r->scale_x = r->scale_y = 1.0f;
    r->offset_x = r->offset_y = 0.0f;
    r->window_x1 = r->window_y1 = 0.0f;
    r->window_x2 = static_cast<float>(r->width - 1);
    r->window_y2 = static_cast<float>(r->height - 1);
    if (clip_box_is_image(r) && r->view_origin_x == 0 && r->view_origin_y == 0) r->coord_mode = 0;
}

bool window_is_identity(const image_record* r) {
    return r->window_x1 == 0.0f && r->window_y1 == 0.0f && r->window_x2 == static_cast<float>(r->width - 1) &&
           r->window_y2 == static_cast<float>(r->height - 1) && r->scale_x == 1.0f && r->scale_y == 1.0f &&
           r->offset_x == 0.0f && r->offset_y == 0.0f;
}

bool inside(const image_record* r, int32_t x, int32_t y) { return x >= 0 && x < r->width && y >= 0 && y < r->height; }

void border_pixel(int64_t x, int64_t y, uint32_t colour) {
    if (x >= 0 && x < dest_image->width && y >= 0 && y < dest_image->height)
        dest_pixel_write(static_cast<int32_t>(x), static_cast<int32_t>(y), colour);
}

// A frame one pixel outside the clip box, only where it lies on the image.
void view_border_draw(const image_record* r, uint32_t colour) {
    int64_t left = int64_t{r->clip_x1} - 1, right = int64_t{r->clip_x2} + 1;
    int64_t top = int64_t{r->clip_y1} - 1, bottom = int64_t{r->clip_y2} + 1;
    for (int64_t x = left; x < right; ++x) {
        border_pixel(x, top, colour);
        border_pixel(x, bottom, colour);
    }
    for (int64_t y = top; y < bottom; ++y) border_pixel(left, y, colour);
    for (int64_t y = top; y <= bottom; ++y) border_pixel(right, y, colour);
}

}  // namespace

int64_t image_map_x(const image_record* r, float x) {
    switch (r->coord_mode) {
        case 0: return float_to_int32(x);
        case 1: return int64_t{float_to_int32(x)} + r->view_origin_x;
        default: return int64_t{float_to_int32(x * r->scale_x + r->offset_x)} + r->view_origin_x;
    }
}

int64_t image_map_y(const image_record* r, float y) {
    switch (r->coord_mode) {
        case 0: return float_to_int32(y);
        case 1: return int64_t{float_to_int32(y)} + r->view_origin_y;
        default: return int64_t{float_to_int32(y * r->scale_y + r->offset_y)} + r->view_origin_y;
    }
}

pixel_box image_clip_box(const image_record* r) {
    return {std::max<int64_t>(r->clip_x1, 0), std::max<int64_t>(r->clip_y1, 0),
            std::min<int64_t>(r->clip_x2, int64_t{r->width} - 1), std::min<int64_t>(r->clip_y2, int64_t{r->height} - 1)};
}

logical_point image_point(const image_record* r, float x, float y, bool relative) {
    if (relative) return {r->cursor_x + x, r->cursor_y + y};
    return {x, y};
}

void graphics_window_set(float x1, float y1, float x2, float y2, int32_t flags) {
    if (error_pending()) return;
    image_record* r = dest_image;
    bool given = flags & 1;
    if (r->is_text || (!given && (flags & 2)) || (given && (x1 == x2 || y1 == y2))) {
        error_raise(error_illegal_function_call);
        return;
    }
    // The cursor keeps its place in view pixels.
    float at_x = r->cursor_x, at_y = r->cursor_y;
    if (r->coord_mode == 2) {
        at_x = r->cursor_x * r->scale_x + r->offset_x;
        at_y = r->cursor_y * r->scale_y + r->offset_y;
    }
    if (given) {
        if (x1 > x2) std::swap(x1, x2);
        if (y1 > y2) std::swap(y1, y2);
        if (!(flags & 2)) std::swap(y1, y2);
        r->coord_mode = 2;
        window_fit(r, x1, y1, x2, y2);
        r->window_x1 = x1;
        r->window_y1 = y1;
        r->window_x2 = x2;
        r->window_y2 = y2;
        if (!window_is_identity(r)) {
            r->cursor_x = (at_x - r->offset_x) / r->scale_x;
            r->cursor_y = (at_y - r->offset_y) / r->scale_y;
            return;
        }
    }
    window_reset(r);
    r->cursor_x = at_x;
    r->cursor_y = at_y;
}

void graphics_view_set(int32_t x1, int32_t y1, int32_t x2, int32_t y2, uint32_t fill_color, uint32_t border_color,
                       int32_t flags) {
    if (error_pending()) return;
    image_record* r = dest_image;
    bool given = flags & 1;
    bool bad = given ? !(inside(r, x1, y1) && inside(r, x2, y2)) : (flags & (2 | 4 | 8)) != 0;
    if (bad) {
        error_raise(error_illegal_function_call);
        return;
    }
    r->turtle_angle = 0.0;
    r->turtle_scale = 1.0;
    if (given) {
        if (x1 > x2) std::swap(x1, x2);
        if (y1 > y2) std::swap(y1, y2);
        r->clip_x1 = x1;
        r->clip_y1 = y1;
        r->clip_x2 = x2;
        r->clip_y2 = y2;
        bool screen_relative = flags & 2;
        r->view_origin_x = screen_relative ? 0 : x1;
        r->view_origin_y = screen_relative ? 0 : y1;
        if (r->coord_mode == 0) r->coord_mode = 1;
    } else {
        r->clip_x1 = r->clip_y1 = 0;
        r->clip_x2 = r->width - 1;
        r->clip_y2 = r->height - 1;
        r->view_origin_x = r->view_origin_y = 0;
        if (r->coord_mode == 1) r->coord_mode = 0;
    }
    if (r->coord_mode == 2) window_fit(r, r->window_x1, r->window_y1, r->window_x2, r->window_y2);
    if (flags & 4) box_fill(r->window_x1, r->window_y1, r->window_x2, r->window_y2, fill_color);
    if (flags & 8) view_border_draw(r, border_color);
}

float coord_map(float value, int32_t kind) {
    if (error_pending()) return 0.0f;
    const image_record* r = dest_image;
    if (r->is_text || kind < 0 || kind > 3) {
        error_raise(error_illegal_function_call);
        return 0.0f;
    }
    switch (kind) {
        case 0: return static_cast<float>(float_to_int32(value * r->scale_x + r->offset_x));
        case 1: return static_cast<float>(float_to_int32(value * r->scale_y + r->offset_y));
        case 2: return (static_cast<float>(float_to_int32(value)) - r->offset_x) / r->scale_x;
        default: return (static_cast<float>(float_to_int32(value)) - r->offset_y) / r->scale_y;
    }
}
