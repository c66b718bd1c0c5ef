#include "screen/boxes.h"

#include <algorithm>
#include <cstring>

#include "screen/blend.h"
#include "screen/image_pool.h"
#include "screen/view.h"

namespace {

uint8_t* row_at(const image_record* r, int32_t x, int32_t y) {
    return r->pixels + (size_t(y) * r->width + size_t(x)) * r->bytes_per_pixel;
}

void fill_8bit(const image_record* r, int32_t x1, int32_t y1, int32_t n, int32_t rows, uint32_t colour) {
    auto value = static_cast<uint8_t>(colour & r->color_mask);
    for (int32_t y = y1; y < y1 + rows; ++y) std::memset(row_at(r, x1, y), value, size_t(n));
}

void fill_32bit(const image_record* r, int32_t x1, int32_t y1, int32_t n, int32_t rows, uint32_t colour) {
    uint32_t alpha = colour >> 24;
    if (r->blend_off || alpha == 255) {
        auto* first = reinterpret_cast<uint32_t*>(row_at(r, x1, y1));
        std::fill_n(first, n, colour);
        for (int32_t y = y1 + 1; y < y1 + rows; ++y) std::memcpy(row_at(r, x1, y), first, size_t(n) * 4);
        return;
    }
    if (alpha == 0) return;
    for (int32_t y = y1; y < y1 + rows; ++y) blend_span_color(reinterpret_cast<uint32_t*>(row_at(r, x1, y)), n, colour);
}

}  // namespace

void image_rect_fill(image_record* r, int32_t x1, int32_t y1, int32_t x2, int32_t y2, uint32_t colour) {
    int32_t n = x2 + 1 - x1, rows = y2 + 1 - y1;
    if (n <= 0 || rows <= 0) return;
    if (r->bytes_per_pixel == 1) fill_8bit(r, x1, y1, n, rows, colour);
    if (r->bytes_per_pixel == 4) fill_32bit(r, x1, y1, n, rows, colour);
}

void dest_rect_fill(int32_t x1, int32_t y1, int32_t x2, int32_t y2, uint32_t colour) {
    image_record* r = dest_image;
    image_rect_fill(r, std::max(x1, 0), std::max(y1, 0), std::min(x2, r->width - 1), std::min(y2, r->height - 1), colour);
}

void box_fill(float x1, float y1, float x2, float y2, uint32_t colour) {
    image_record* r = dest_image;
    int64_t px1 = image_map_x(r, x1), py1 = image_map_y(r, y1);
    int64_t px2 = image_map_x(r, x2), py2 = image_map_y(r, y2);
    if (px1 > px2) std::swap(px1, px2);
    if (py1 > py2) std::swap(py1, py2);
    pixel_box clip = image_clip_box(r);
    if (clip.empty() || px2 < clip.x1 || px1 > clip.x2 || py2 < clip.y1 || py1 > clip.y2) return;
    image_rect_fill(r, static_cast<int32_t>(std::max(px1, clip.x1)), static_cast<int32_t>(std::max(py1, clip.y1)),
                    static_cast<int32_t>(std::min(px2, clip.x2)), static_cast<int32_t>(std::min(py2, clip.y2)), colour);
}
