// Image copies and triangle mapping beside pixman and memcpy. Copies: one to one, 2x up, 0.37x down
// and mirrored, for each of the six transfers, onto 640x480 and 1920x1080 destinations; pixman does
// the same shape with SRC (32-bit, 8-bit a8, and an indexed c8 source onto 32 bits) or OVER (the
// blended transfer; pixman blends premultiplied colours, so that row compares speed only), with
// nearest filtering and a scale or mirror transform. Triangles: 10,000 triangles of 16-256 pixels
// each from a 256x256 source, inside it and wrapping around it, beside pixman's affine nearest
// composite of each triangle's bounding box (twice the triangle's area).
#include <benchmark/benchmark.h>
#include <pixman.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "core/errors.h"
#include "draw/image_copy.h"
#include "draw/triangle_map.h"
#include "screen/fonts.h"
#include "screen/image_pool.h"
#include "screen/palette.h"

namespace {

enum class shape { one_to_one, up_2x, down_037, mirrored };
enum class transfer { store_32, blend_32, copy_8, copy_8_clear, palette_32, palette_32_clear };

const char* shape_name(shape s) {
    static const char* names[] = {"1:1", "2x_up", "0.37x_down", "mirrored"};
    return names[int(s)];
}
const char* transfer_name(transfer t) {
    static const char* names[] = {"32_store", "32_blend", "8_to_8", "8_to_8_clear", "8_to_32", "8_to_32_clear"};
    return names[int(t)];
}

void runtime_ready() {
    static bool ready = [] {
        font_metrics_init();
        palettes_load();
        return true;
    }();
    (void)ready;
    error_number = 0;
    image_pool_reserve();
}

void source_size(shape s, int32_t w, int32_t h, int32_t& sw, int32_t& sh) {
    switch (s) {
        case shape::up_2x: sw = w / 2, sh = h / 2; return;
        case shape::down_037: sw = int32_t(std::ceil(w / 0.37)), sh = int32_t(std::ceil(h / 0.37)); return;
        default: sw = w, sh = h; return;
    }
}

void fill(image_record& r, uint32_t seed) {
    std::mt19937 random(seed);
    for (size_t i = 0; i < image_pixel_bytes(&r); ++i) r.pixels[i] = uint8_t(random());
}

void report(benchmark::State& state, int64_t pixels, int64_t bytes_per_pixel) {
    state.SetItemsProcessed(int64_t(state.iterations()) * pixels);
    state.SetBytesProcessed(int64_t(state.iterations()) * pixels * bytes_per_pixel);
}

void runtime_copy(benchmark::State& state, shape s, transfer t, int32_t w, int32_t h) {
    runtime_ready();
    int32_t sw, sh;
    source_size(s, w, h, sw, sh);
    bool source_32 = t == transfer::store_32 || t == transfer::blend_32;
    bool dest_32 = source_32 || t == transfer::palette_32 || t == transfer::palette_32_clear;
    int32_t source_slot = image_new(sw, sh, source_32 ? 32 : 13), dest_slot = image_new(w, h, dest_32 ? 32 : 13);
    image_record& from = image_pool[source_slot];
    image_record& to = image_pool[dest_slot];
    fill(from, 1);
    fill(to, 2);
    from.blend_off = t == transfer::store_32;
    from.clear_color = t == transfer::copy_8_clear || t == transfer::palette_32_clear ? 0 : -1;
    int32_t source = -source_slot, dest = -dest_slot;
    const int32_t handles = copy_source_given | copy_dest_given;
    for (auto _ : state) {
        if (s == shape::mirrored)
            image_rect_copy(w - 1, 0, 0, h - 1, source, dest, 0, 0, 0, 0, handles | copy_dest_first | copy_dest_second);
        else
            image_rect_copy(0, 0, 0, 0, source, dest, 0, 0, 0, 0, handles);
        benchmark::DoNotOptimize(to.pixels);
    }
    report(state, int64_t(w) * h, dest_32 ? 4 : 1);
}

// pixman's image of the same size and format, its transform mapping destination to source.
void pixman_copy(benchmark::State& state, shape s, transfer t, int32_t w, int32_t h) {
    int32_t sw, sh;
    source_size(s, w, h, sw, sh);
    bool source_32 = t == transfer::store_32 || t == transfer::blend_32;
    bool dest_32 = t != transfer::copy_8;
    pixman_format_code_t source_format = source_32 ? PIXMAN_a8r8g8b8 : t == transfer::copy_8 ? PIXMAN_a8 : PIXMAN_c8;
    int32_t source_stride = source_32 ? sw * 4 : (sw + 3) / 4 * 4;
    int32_t dest_stride = dest_32 ? w * 4 : (w + 3) / 4 * 4;
    std::vector<uint32_t> source_bits(size_t(source_stride) * sh / 4 + 1), dest_bits(size_t(dest_stride) * h / 4 + 1);
    std::mt19937 random(1);
    for (uint32_t& v : source_bits) v = uint32_t(random());
    pixman_image_t* src = pixman_image_create_bits(source_format, sw, sh, source_bits.data(), source_stride);
    pixman_image_t* dst =
        pixman_image_create_bits(dest_32 ? PIXMAN_a8r8g8b8 : PIXMAN_a8, w, h, dest_bits.data(), dest_stride);
    static pixman_indexed_t indexed{};
    if (source_format == PIXMAN_c8) pixman_image_set_indexed(src, &indexed);
    pixman_transform_t transform;
    pixman_transform_init_identity(&transform);
    if (s == shape::mirrored) {
        pixman_transform_init_scale(&transform, pixman_int_to_fixed(-1), pixman_fixed_1);
        pixman_transform_translate(&transform, nullptr, pixman_int_to_fixed(w), 0);
    } else if (s != shape::one_to_one) {
        pixman_transform_init_scale(&transform, pixman_double_to_fixed(double(sw) / w), pixman_double_to_fixed(double(sh) / h));
    }
    pixman_image_set_transform(src, &transform);
    pixman_image_set_filter(src, PIXMAN_FILTER_NEAREST, nullptr, 0);
    pixman_op_t op = t == transfer::blend_32 ? PIXMAN_OP_OVER : PIXMAN_OP_SRC;
    for (auto _ : state) {
        pixman_image_composite32(op, src, nullptr, dst, 0, 0, 0, 0, 0, 0, w, h);
        benchmark::DoNotOptimize(dest_bits.data());
    }
    pixman_image_unref(src);
    pixman_image_unref(dst);
    report(state, int64_t(w) * h, dest_32 ? 4 : 1);
}

void memcpy_copy(benchmark::State& state, int32_t w, int32_t h, int32_t bytes_per_pixel) {
    size_t n = size_t(w) * h * size_t(bytes_per_pixel);
    std::vector<uint8_t> a(n, 1), b(n, 2);
    for (auto _ : state) {
        std::memcpy(b.data(), a.data(), n);
        benchmark::DoNotOptimize(b.data());
    }
    report(state, int64_t(w) * h, bytes_per_pixel);
}

// Triangles: right triangles of legs 6-22 pixels at random places of a 640x480 destination,
// mapped from the source scaled by 1.3 and moved.
constexpr int32_t triangle_count = 10000;
constexpr int32_t source_side = 256;
struct triangle_case {
    float dx, dy, leg, sx, sy;
};
std::vector<triangle_case> triangles(bool wrapping) {
    std::mt19937 random(7);
    std::uniform_real_distribution<float> leg(6, 22), x(0, 600), y(0, 440);
    std::uniform_real_distribution<float> inside(0, source_side - 30), around(-300, 300);
    std::vector<triangle_case> out;
    for (int32_t i = 0; i < triangle_count; ++i)
        out.push_back({std::floor(x(random)), std::floor(y(random)), std::floor(leg(random)),
                       wrapping ? around(random) : inside(random), wrapping ? around(random) : inside(random)});
    return out;
}
constexpr float triangle_scale = 1.3f;

void runtime_triangles(benchmark::State& state, bool blend, bool wrapping) {
    runtime_ready();
    int32_t from = image_new(source_side, source_side, 32), to = image_new(640, 480, 32);
    fill(image_pool[from], 1);
    fill(image_pool[to], 2);
    image_pool[from].blend_off = !blend;
    std::vector<triangle_case> cases = triangles(wrapping);
    int64_t pixels = 0;
    for (const triangle_case& c : cases) pixels += int64_t(c.leg + 1) * int64_t(c.leg + 2) / 2;
    const int32_t flags = triangle_source_given | triangle_dest_given;
    for (auto _ : state) {
        for (const triangle_case& c : cases) {
            float s = c.leg * triangle_scale;
            triangle_map(0, c.sx, c.sy, c.sx + s, c.sy, c.sx, c.sy + s, -from, c.dx, c.dy, 0, c.dx + c.leg, c.dy, 0,
                         c.dx, c.dy + c.leg, 0, -to, 0, flags);
        }
        benchmark::DoNotOptimize(image_pool[to].pixels);
    }
    report(state, pixels, 4);
}

void pixman_triangles(benchmark::State& state, bool blend, bool wrapping) {
    std::vector<uint32_t> source_bits(source_side * source_side), dest_bits(640 * 480);
    std::mt19937 random(1);
    for (uint32_t& v : source_bits) v = uint32_t(random());
    pixman_image_t* src = pixman_image_create_bits(PIXMAN_a8r8g8b8, source_side, source_side, source_bits.data(),
                                                   source_side * 4);
    pixman_image_t* dst = pixman_image_create_bits(PIXMAN_a8r8g8b8, 640, 480, dest_bits.data(), 640 * 4);
    pixman_image_set_filter(src, PIXMAN_FILTER_NEAREST, nullptr, 0);
    pixman_image_set_repeat(src, wrapping ? PIXMAN_REPEAT_NORMAL : PIXMAN_REPEAT_NONE);
    std::vector<triangle_case> cases = triangles(wrapping);
    int64_t pixels = 0;
    for (const triangle_case& c : cases) pixels += int64_t(c.leg + 1) * int64_t(c.leg + 1);
    pixman_op_t op = blend ? PIXMAN_OP_OVER : PIXMAN_OP_SRC;
    for (auto _ : state) {
        for (const triangle_case& c : cases) {
            // Destination (x, y) samples the source at (sx + 1.3 (x - dx), sy + 1.3 (y - dy)).
            pixman_transform_t t;
            pixman_transform_init_scale(&t, pixman_double_to_fixed(triangle_scale), pixman_double_to_fixed(triangle_scale));
            pixman_transform_translate(&t, nullptr, pixman_double_to_fixed(c.sx - triangle_scale * c.dx),
                                       pixman_double_to_fixed(c.sy - triangle_scale * c.dy));
            pixman_image_set_transform(src, &t);
            int32_t side = int32_t(c.leg) + 1;
            pixman_image_composite32(op, src, nullptr, dst, int32_t(c.dx), int32_t(c.dy), 0, 0, int32_t(c.dx),
                                     int32_t(c.dy), side, side);
        }
        benchmark::DoNotOptimize(dest_bits.data());
    }
    pixman_image_unref(src);
    pixman_image_unref(dst);
    report(state, pixels, 4);
}

std::string name_of(const char* a, const char* b, const char* c, int32_t w = 0, int32_t h = 0) {
    char text[128];
    if (w) std::snprintf(text, sizeof text, "%s/%s/%s/%dx%d", a, b, c, w, h);
    else std::snprintf(text, sizeof text, "%s/%s/%s", a, b, c);
    return text;
}

bool register_all() {
    const struct {
        int32_t w, h;
    } sizes[] = {{640, 480}, {1920, 1080}};
    for (auto size : sizes) {
        int32_t w = size.w, h = size.h;
        benchmark::RegisterBenchmark(name_of("memcpy", "32", "rows", w, h).c_str(), memcpy_copy, w, h, 4);
        benchmark::RegisterBenchmark(name_of("memcpy", "8", "rows", w, h).c_str(), memcpy_copy, w, h, 1);
        for (shape s : {shape::one_to_one, shape::up_2x, shape::down_037, shape::mirrored})
            for (transfer t : {transfer::store_32, transfer::blend_32, transfer::copy_8, transfer::copy_8_clear,
                               transfer::palette_32, transfer::palette_32_clear}) {
                benchmark::RegisterBenchmark(name_of("copy", transfer_name(t), shape_name(s), w, h).c_str(),
                                             runtime_copy, s, t, w, h);
                if (t != transfer::copy_8_clear && t != transfer::palette_32_clear)
                    benchmark::RegisterBenchmark(name_of("pixman", transfer_name(t), shape_name(s), w, h).c_str(),
                                                 pixman_copy, s, t, w, h);
            }
    }
    for (bool wrapping : {false, true})
        for (bool blend : {false, true}) {
            const char* op = blend ? "blend" : "store";
            const char* where = wrapping ? "wrapping" : "inside";
            benchmark::RegisterBenchmark(name_of("triangles", op, where).c_str(), runtime_triangles, blend, wrapping);
            benchmark::RegisterBenchmark(name_of("pixman_triangles", op, where).c_str(), pixman_triangles, blend,
                                         wrapping);
        }
    return true;
}
const bool registered = register_all();

}  // namespace
