#include "draw/graphics_arrays.h"

#include <algorithm>
#include <cstring>

#include "core/byte_span.h"
#include "core/error_codes.h"
#include "core/errors.h"
#include "screen/image_pool.h"
#include "screen/pixels.h"
#include "screen/view.h"

namespace {

constexpr int64_t header_bytes = 4;
constexpr int64_t field_limit = 0xFFFF;  // width field and height are 16-bit
constexpr int32_t planes = 4;

// The mask of a value at b bits per pixel.
uint32_t value_mask(int32_t bits) { return bits >= 32 ? 0xFFFFFFFFu : (1u << bits) - 1; }

// One row of the array: reads and writes pixel i in the layout of its bits per pixel.
struct array_row {
    uint8_t* bytes;
    int32_t bits;
    int64_t plane_bytes;  // 4 bits per pixel: bytes of one plane

    uint32_t get(int64_t i) const {
        switch (bits) {
            case 1: return bytes[i / 8] >> (7 - i % 8) & 1;
            case 2: return bytes[i / 4] >> (6 - 2 * (i % 4)) & 3;
            case 4: {
                uint32_t v = 0;
                for (int32_t p = 0; p < planes; ++p) v |= uint32_t(bytes[p * plane_bytes + i / 8] >> (7 - i % 8) & 1) << p;
                return v;
            }
            case 8: return bytes[i];
            default: {
                uint32_t v;
                std::memcpy(&v, bytes + i * 4, 4);
                return v;
            }
        }
    }
    // The row must start zeroed: packed values are ORed in.
    void set(int64_t i, uint32_t v) const {
        switch (bits) {
            case 1: bytes[i / 8] |= uint8_t((v != 0) << (7 - i % 8)); return;
            case 2: bytes[i / 4] |= uint8_t((v & 3) << (6 - 2 * (i % 4))); return;
            case 4:
                for (int32_t p = 0; p < planes; ++p) bytes[p * plane_bytes + i / 8] |= uint8_t((v >> p & 1) << (7 - i % 8));
                return;
            case 8: bytes[i] = uint8_t(v); return;
            default: std::memcpy(bytes + i * 4, &v, 4); return;
        }
    }
};

bool has_array_form(const image_record* r) {
    switch (r->bits_per_pixel) {
        case 1: case 2: case 4: case 8: case 32: return !r->is_text;
        default: return false;
    }
}

// Pixels inside the image have coordinates that fit 32 bits.
uint32_t pixel_get(const image_record* r, int64_t x, int64_t y) {
    return image_pixel_read(r, static_cast<int32_t>(x), static_cast<int32_t>(y));
}

void pixel_set(image_record* r, int64_t x, int64_t y, uint32_t v) {
    size_t i = size_t(y) * r->width + size_t(x);
    if (r->bytes_per_pixel == 1) r->pixels[i] = uint8_t(v);
    else std::memcpy(r->pixels + i * 4, &v, 4);
}

bool inside(const image_record* r, int64_t x, int64_t y) { return x >= 0 && y >= 0 && x < r->width && y < r->height; }

int64_t span_length(const byte_span* span) { return span ? span->length : 0; }

// The action on stored value d with array value v.
uint32_t action_apply(uint32_t action, uint32_t d, uint32_t v, uint32_t colour_mask) {
    switch (action) {
        case array_action_xor:
        case array_action_xor_again: return d ^ v;
        case array_action_copy: return v;
        case array_action_inverted_copy: return ~v & colour_mask;
        case array_action_and: return d & v;
        case array_action_or: return d | v;
        default: return d;
    }
}

}  // namespace

int64_t graphics_array_row_bytes(int32_t bits, int64_t w) {
    switch (bits) {
        case 1: return (w + 7) / 8;
        case 2: return (2 * w + 7) / 8;
        case 4: return planes * ((w + 7) / 8);
        case 8: return w;
        default: return 4 * w;
    }
}

int64_t graphics_array_width_field(int32_t bits, int64_t w) {
    switch (bits) {
        case 2: return 2 * w;
        case 8: return 8 * w;
        default: return w;
    }
}

void graphics_array_get(float x1, float y1, float x2, float y2, const byte_span* span, uint32_t colour,
                        int32_t flags) {
    if (error_pending()) return;
    image_record* r = source_image;
    if (!has_array_form(r)) {
        error_raise(error_illegal_function_call);
        return;
    }
    if (flags & array_get_first_relative) {
        x1 += r->cursor_x;
        y1 += r->cursor_y;
    }
    // The second corner is relative to the first, whether or not that was relative itself.
    if (flags & array_get_second_relative) {
        x2 += x1;
        y2 += y1;
    }
    r->cursor_x = x2;
    r->cursor_y = y2;
    int64_t px1 = image_map_x(r, x1), px2 = image_map_x(r, x2);
    int64_t py1 = image_map_y(r, y1), py2 = image_map_y(r, y2);
    if (px1 > px2) std::swap(px1, px2);
    if (py1 > py2) std::swap(py1, py2);
    if (!(flags & array_get_outside) && !(inside(r, px1, py1) && inside(r, px2, py2))) {
        error_raise(error_illegal_function_call);
        return;
    }
    const int32_t bits = r->bits_per_pixel;
    const int64_t w = px2 - px1 + 1, h = py2 - py1 + 1;
    const int64_t row_bytes = graphics_array_row_bytes(bits, w);
    const int64_t width_field = graphics_array_width_field(bits, w);
    // A size the 16-bit header cannot hold would leave an array that misdescribes itself.
    if (width_field > field_limit || h > field_limit || span_length(span) < header_bytes + h * row_bytes) {
        error_raise(error_illegal_function_call);
        return;
    }
    colour &= value_mask(bits);
    uint8_t* out = byte_span_data(*span);
    const uint16_t header[2] = {uint16_t(width_field), uint16_t(h)};
    std::memcpy(out, header, header_bytes);
    for (int64_t y = 0; y < h; ++y) {
        array_row row{out + header_bytes + y * row_bytes, bits, (w + 7) / 8};
        std::memset(row.bytes, 0, size_t(row_bytes));
        for (int64_t x = 0; x < w; ++x) {
            int64_t ix = px1 + x, iy = py1 + y;
            row.set(x, inside(r, ix, iy) ? pixel_get(r, ix, iy) : colour);
        }
    }
}

void graphics_array_put(float x, float y, const byte_span* span, uint32_t action, uint32_t colour, int32_t flags) {
    if (error_pending()) return;
    image_record* r = dest_image;
    if (!has_array_form(r)) {
        error_raise(error_illegal_function_call);
        return;
    }
    if (flags & array_put_relative) {
        x += r->cursor_x;
        y += r->cursor_y;
        r->cursor_x = x;
        r->cursor_y = y;
    }
    const int64_t px = image_map_x(r, x), py = image_map_y(r, y);
    if (span_length(span) < header_bytes) {
        error_raise(error_illegal_function_call);
        return;
    }
    uint8_t* in = byte_span_data(*span);  // only read
    uint16_t header[2];
    std::memcpy(header, in, header_bytes);
    const int32_t bits = r->bits_per_pixel;
    const int64_t field = header[0], h = header[1];
    if ((bits == 2 && field % 2 != 0) || (bits == 8 && field % 8 != 0)) {
        error_raise(error_illegal_function_call);
        return;
    }
    const int64_t w = bits == 2 ? field / 2 : bits == 8 ? field / 8 : field;
    const int64_t row_bytes = graphics_array_row_bytes(bits, w);
    bool whole = w == 0 || h == 0 || (inside(r, px, py) && inside(r, px + w - 1, py + h - 1));
    if ((!(flags & array_put_clip) && !whole) || span_length(span) < header_bytes + h * row_bytes) {
        error_raise(error_illegal_function_call);
        return;
    }
    const uint32_t skip = colour & value_mask(bits);
    for (int64_t j = 0; j < h; ++j) {
        array_row row{in + header_bytes + j * row_bytes, bits, (w + 7) / 8};
        for (int64_t i = 0; i < w; ++i) {
            uint32_t v = row.get(i);
            if (!inside(r, px + i, py + j) || ((flags & array_put_skip) && v == skip)) continue;
            pixel_set(r, px + i, py + j, action_apply(action, pixel_get(r, px + i, py + j), v, r->color_mask));
        }
    }
}
