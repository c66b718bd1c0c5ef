// Blended writes onto a 640x480 32-bit image: the runtime's blend (one colour, and an image of
// varying alpha), its pixel writer, the classic 16 MB table method, and pixman's OVER composite with
// a solid and with an image source as the baseline. pixman works on premultiplied colours, the
// runtime on straight colours with a separate alpha merge: the comparison is one of speed.
#include <benchmark/benchmark.h>
#include <pixman.h>

#include <cstdint>
#include <vector>

#include "core/errors.h"
#include "screen/blend.h"
#include "screen/fonts.h"
#include "screen/image_pool.h"
#include "screen/palette.h"
#include "screen/pixels.h"

namespace {

constexpr int width = 640;
constexpr int height = 480;
constexpr int pixels = width * height;
constexpr uint32_t colour = 0x40FF8020;

std::vector<uint32_t> destination() {
    std::vector<uint32_t> d(pixels);
    for (int i = 0; i < pixels; ++i) d[size_t(i)] = 0xFF000000u | uint32_t(i * 2654435761u >> 8);
    return d;
}

// Every alpha from 0 to 255 along each row, colours varying too.
std::vector<uint32_t> varying_source() {
    std::vector<uint32_t> s(pixels);
    for (int i = 0; i < pixels; ++i) s[size_t(i)] = uint32_t(i % 256) << 24 | (uint32_t(i * 40503u) & 0xFFFFFF);
    return s;
}

void report(benchmark::State& state) {
    state.SetItemsProcessed(int64_t(state.iterations()) * pixels);
    state.SetBytesProcessed(int64_t(state.iterations()) * pixels * 4);
}

void BM_runtime_one_colour(benchmark::State& state) {
    std::vector<uint32_t> d = destination();
    for (auto _ : state) {
        blend_span_color(d.data(), pixels, colour);
        benchmark::DoNotOptimize(d.data());
    }
    report(state);
}

void BM_runtime_varying_alpha(benchmark::State& state) {
    std::vector<uint32_t> d = destination();
    std::vector<uint32_t> s = varying_source();
    for (auto _ : state) {
        blend_span(d.data(), s.data(), pixels);
        benchmark::DoNotOptimize(d.data());
    }
    report(state);
}

// One call per pixel, as text and the drawing statements write.
void BM_runtime_pixel_writer(benchmark::State& state) {
    error_number = 0;
    font_metrics_init();
    palettes_load();
    image_pool_reserve();
    dest_image_select(-image_new(width, height, 32));
    for (auto _ : state) {
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x) dest_pixel_write(x, y, colour);
        benchmark::DoNotOptimize(dest_image->pixels);
    }
    report(state);
}

// The classic method: a 16 MB table [alpha][source][destination] and a 64 KB alpha table.
struct lookup_tables {
    std::vector<uint8_t> blend = std::vector<uint8_t>(size_t{1} << 24);
    std::vector<uint8_t> merge = std::vector<uint8_t>(size_t{1} << 16);
    lookup_tables() {
        for (uint32_t a = 0; a < 256; ++a)
            for (uint32_t s = 0; s < 256; ++s)
                for (uint32_t v = 0; v < 256; ++v) blend[a << 16 | s << 8 | v] = uint8_t(blend_table_entry(a, s, v));
        for (uint32_t a = 0; a < 256; ++a)
            for (uint32_t b = 0; b < 256; ++b) merge[a << 8 | b] = uint8_t(alpha_merge_entry(a, b));
    }
    uint32_t pixel(uint32_t d, uint32_t c) const {
        uint32_t a = c >> 24;
        if (a == 0) return d;
        if (a == 255) return c;
        uint32_t alpha = uint32_t(merge[(d >> 24) << 8 | a]) << 24;
        if (a == 127 || a == 128) return alpha | (((d & 0x00FEFEFE) + (c & 0x00FEFEFE)) >> 1);
        const uint8_t* t = &blend[a << 16];
        return alpha | uint32_t(t[(c >> 8 & 0xFF00) | (d >> 16 & 255)]) << 16 |
               uint32_t(t[(c & 0xFF00) | (d >> 8 & 255)]) << 8 | t[(c << 8 & 0xFF00) | (d & 255)];
    }
};

void BM_tables_one_colour(benchmark::State& state) {
    static const lookup_tables tables;
    std::vector<uint32_t> d = destination();
    for (auto _ : state) {
        for (uint32_t& p : d) p = tables.pixel(p, colour);
        benchmark::DoNotOptimize(d.data());
    }
    report(state);
}

void BM_tables_varying_alpha(benchmark::State& state) {
    static const lookup_tables tables;
    std::vector<uint32_t> d = destination();
    std::vector<uint32_t> s = varying_source();
    for (auto _ : state) {
        for (int i = 0; i < pixels; ++i) d[size_t(i)] = tables.pixel(d[size_t(i)], s[size_t(i)]);
        benchmark::DoNotOptimize(d.data());
    }
    report(state);
}

pixman_image_t* pixman_over(uint32_t* bits) {
    return pixman_image_create_bits(PIXMAN_a8r8g8b8, width, height, bits, width * 4);
}

// The source composited OVER the destination picture once per iteration; the source is released.
void pixman_over_run(benchmark::State& state, pixman_image_t* source) {
    std::vector<uint32_t> d = destination();
    pixman_image_t* dest = pixman_over(d.data());
    for (auto _ : state) {
        pixman_image_composite32(PIXMAN_OP_OVER, source, nullptr, dest, 0, 0, 0, 0, 0, 0, width, height);
        benchmark::DoNotOptimize(d.data());
    }
    pixman_image_unref(source);
    pixman_image_unref(dest);
    report(state);
}

void BM_pixman_over_solid(benchmark::State& state) {
    // Premultiplied form of the same colour.
    pixman_color_t c = {uint16_t(0xFFFF * 0x40 / 255), uint16_t(0x8080 * 0x40 / 255), uint16_t(0x2020 * 0x40 / 255),
                        0x4040};
    pixman_over_run(state, pixman_image_create_solid_fill(&c));
}

void BM_pixman_over_image(benchmark::State& state) {
    std::vector<uint32_t> s = varying_source();
    for (uint32_t& p : s) {  // premultiply
        uint32_t a = p >> 24;
        p = a << 24 | (((p >> 16 & 255) * a / 255) << 16) | (((p >> 8 & 255) * a / 255) << 8) | ((p & 255) * a / 255);
    }
    pixman_over_run(state, pixman_over(s.data()));
}

}  // namespace

BENCHMARK(BM_runtime_one_colour);
BENCHMARK(BM_pixman_over_solid);
BENCHMARK(BM_tables_one_colour);
BENCHMARK(BM_runtime_pixel_writer);
BENCHMARK(BM_runtime_varying_alpha);
BENCHMARK(BM_pixman_over_image);
BENCHMARK(BM_tables_varying_alpha);
