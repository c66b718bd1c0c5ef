// libFuzzer harness for the image copy and triangle statements: tiny images (1-7 pixels a side) of
// both pixel sizes, fuzzed flags and coordinates from sub-pixel values to about 1e9, infinities
// and NaN. Any crash or sanitizer report (a pixel read or written outside an image, an undefined
// conversion) is a finding.
//
// Input: byte 0 picks the statement and the pixel sizes, bytes 1-4 the image sizes, bytes 5-6
// the flags, then 4 bytes per coordinate.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "core/errors.h"
#include "draw/image_copy.h"
#include "draw/triangle_map.h"
#include "screen/fonts.h"
#include "screen/image_pool.h"
#include "screen/palette.h"

namespace {

struct input {
    const uint8_t* data;
    size_t size;
    size_t at = 0;
    uint8_t byte() { return at < size ? data[at++] : 0; }
    int32_t word() {
        uint32_t v = 0;
        for (int i = 0; i < 4; ++i) v |= uint32_t(byte()) << (8 * i);
        return int32_t(v);
    }
    // A coordinate: by the low two bits, a small one in sixteenths, a large one, or any float.
    double coordinate() {
        int32_t v = word();
        switch (v & 3) {
            case 0: return (v >> 2) % 256 / 16.0;
            case 1: return double(v >> 2) / 4.0;
            case 2: {
                float f;
                std::memcpy(&f, &v, 4);
                return f;
            }
            default: return double(v >> 2) * 2.0;
        }
    }
};

bool runtime_ready() {
    font_metrics_init();
    palettes_load();
    return true;
}

int32_t image_of(uint8_t size_byte, bool wide, const uint8_t* fill, size_t fill_size) {
    int32_t slot = image_new(size_byte % 7 + 1, size_byte / 7 % 7 + 1, wide ? 32 : 13);
    image_record& r = image_pool[slot];
    for (size_t i = 0; i < image_pixel_bytes(&r); ++i) r.pixels[i] = fill_size ? fill[i % fill_size] : 0;
    return slot;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static bool ready = runtime_ready();
    (void)ready;
    if (size < 7) return 0;
    error_number = 0;
    image_pool_reserve();
    input in{data, size};
    uint8_t pick = in.byte();
    bool source_wide = pick & 2, dest_wide = source_wide || (pick & 4);
    int32_t from = image_of(in.byte(), source_wide, data, size);
    int32_t to = image_of(in.byte(), dest_wide, data + size / 2, size - size / 2);
    image_pool[from].clear_color = (pick & 8) ? data[size - 1] : -1;
    image_pool[from].blend_off = (pick & 16) ? 1 : 0;
    uint8_t cursor = in.byte(), view = in.byte();
    image_pool[to].cursor_x = float(cursor % 16) - 8;
    image_pool[to].coord_mode = view % 3 == 2 ? 0 : view % 3;
    image_pool[to].view_origin_x = view / 3 % 5 - 2;
    int32_t flags = in.byte() | in.byte() << 8;
    if (pick & 1) {
        double c[8];
        for (double& v : c) v = in.coordinate();
        image_rect_copy(c[0], c[1], c[2], c[3], -from, -to, c[4], c[5], c[6], c[7], flags | copy_source_given | copy_dest_given);
    } else {
        float c[12];
        for (float& v : c) v = float(in.coordinate());
        triangle_map(0, c[0], c[1], c[2], c[3], c[4], c[5], -from, c[6], c[7], 0, c[8], c[9], 0, c[10], c[11], 0, -to, 0,
                     (flags & triangle_seamless) | triangle_source_given | triangle_dest_given);
    }
    error_number = 0;
    return 0;
}
