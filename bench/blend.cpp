// Blended writes onto a 640x480 32-bit image: the runtime's blend (one colour, and an image of
// varying alpha), its pixel writer, the classic 16 MB table method, and pixman's OVER composite with
// a solid and with an image source as the baseline; and two 1920x1080 images of sprite-like alpha
// (runs of transparent and opaque pixels with one or two edge pixels between, and anti-aliased
// shapes whose edges ramp over four pixels) by the runtime and by pixman. pixman works
// on premultiplied colours, the runtime on straight colours with a separate alpha merge: the
// comparison is one of speed.
#include <benchmark/benchmark.h>
#include <pixman.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <random>
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
constexpr int sprite_width = 1920;
constexpr int sprite_height = 1080;
constexpr int sprite_pixels = sprite_width * sprite_height;

std::vector<uint32_t> destination(int n = pixels) {
    std::vector<uint32_t> d(static_cast<size_t>(n));
    for (int i = 0; i < n; ++i) d[size_t(i)] = 0xFF000000u | uint32_t(i * 2654435761u >> 8);
    return d;
}

// Every alpha from 0 to 255 along each row, colours varying too.
std::vector<uint32_t> varying_source() {
    std::vector<uint32_t> s(pixels);
    for (int i = 0; i < pixels; ++i) s[size_t(i)] = uint32_t(i % 256) << 24 | (uint32_t(i * 40503u) & 0xFFFFFF);
    return s;
}

// Runs of 8 to 200 transparent or opaque pixels in turn, each run after the first entered through
// two edge pixels of alpha 64 and 192 (or 192 and 64).
std::vector<uint32_t> sprite_source() {
    std::vector<uint32_t> s(sprite_pixels);
    std::mt19937 random(7);
    bool opaque = false;
    for (size_t i = 0; i < s.size();) {
        const uint32_t edge[2] = {opaque ? 64u : 192u, opaque ? 192u : 64u};
        for (int k = 0; k < 2 && i > 0 && i < s.size(); ++k, ++i) s[i] = edge[k] << 24 | (uint32_t(i * 40503u) & 0xFFFFFF);
        const size_t run = 8 + random() % 193;
        for (size_t k = 0; k < run && i < s.size(); ++k, ++i) s[i] = (opaque ? 0xFF000000u : 0) | (uint32_t(i * 40503u) & 0xFFFFFF);
        opaque = !opaque;
    }
    return s;
}

// 64-pixel tiles, each a transparent disc in an opaque square with a ramp of four pixels between,
// as anti-aliased sprites and glyphs look: most steps of a row hold no ramp pixel, but most groups
// of four steps hold one.
std::vector<uint32_t> soft_edged_source() {
    constexpr int tile = 64;
    constexpr double hole_radius = 24, ramp = 4;
    std::vector<uint32_t> s(sprite_pixels);
    for (int y = 0; y < sprite_height; ++y)
        for (int x = 0; x < sprite_width; ++x) {
            const double dx = x % tile - (tile - 1) / 2.0, dy = y % tile - (tile - 1) / 2.0;
            const double coverage = std::clamp((std::sqrt(dx * dx + dy * dy) - hole_radius) / ramp, 0.0, 1.0);
            const size_t i = size_t(y) * sprite_width + size_t(x);
            s[i] = uint32_t(std::lround(coverage * 255)) << 24 | (uint32_t(i * 40503u) & 0xFFFFFF);
        }
    return s;
}

std::vector<uint32_t> premultiplied(std::vector<uint32_t> s) {
    for (uint32_t& p : s) {
        uint32_t a = p >> 24;
        p = a << 24 | (((p >> 16 & 255) * a / 255) << 16) | (((p >> 8 & 255) * a / 255) << 8) | ((p & 255) * a / 255);
    }
    return s;
}

void report(benchmark::State& state, int n = pixels) {
    state.SetItemsProcessed(int64_t(state.iterations()) * n);
    state.SetBytesProcessed(int64_t(state.iterations()) * n * 4);
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

// Row by row, as an image copy blends.
void runtime_sprite_run(benchmark::State& state, const std::vector<uint32_t>& s) {
    std::vector<uint32_t> d = destination(sprite_pixels);
    for (auto _ : state) {
        for (int y = 0; y < sprite_height; ++y)
            blend_span(d.data() + size_t(y) * sprite_width, s.data() + size_t(y) * sprite_width, sprite_width);
        benchmark::DoNotOptimize(d.data());
    }
    report(state, sprite_pixels);
}

void BM_runtime_sprite_alpha(benchmark::State& state) { runtime_sprite_run(state, sprite_source()); }
void BM_runtime_soft_edged_alpha(benchmark::State& state) { runtime_sprite_run(state, soft_edged_source()); }

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

pixman_image_t* pixman_over(uint32_t* bits, int w = width, int h = height) {
    return pixman_image_create_bits(PIXMAN_a8r8g8b8, w, h, bits, w * 4);
}

// The source composited OVER the destination picture once per iteration; the source is released.
void pixman_over_run(benchmark::State& state, pixman_image_t* source, int w = width, int h = height) {
    std::vector<uint32_t> d = destination(w * h);
    pixman_image_t* dest = pixman_over(d.data(), w, h);
    for (auto _ : state) {
        pixman_image_composite32(PIXMAN_OP_OVER, source, nullptr, dest, 0, 0, 0, 0, 0, 0, w, h);
        benchmark::DoNotOptimize(d.data());
    }
    pixman_image_unref(source);
    pixman_image_unref(dest);
    report(state, w * h);
}

void BM_pixman_over_solid(benchmark::State& state) {
    // Premultiplied form of the same colour.
    pixman_color_t c = {uint16_t(0xFFFF * 0x40 / 255), uint16_t(0x8080 * 0x40 / 255), uint16_t(0x2020 * 0x40 / 255),
                        0x4040};
    pixman_over_run(state, pixman_image_create_solid_fill(&c));
}

void BM_pixman_over_image(benchmark::State& state) {
    std::vector<uint32_t> s = premultiplied(varying_source());
    pixman_over_run(state, pixman_over(s.data()));
}

void pixman_over_sprite_run(benchmark::State& state, const std::vector<uint32_t>& straight) {
    std::vector<uint32_t> s = premultiplied(straight);
    pixman_over_run(state, pixman_over(s.data(), sprite_width, sprite_height), sprite_width, sprite_height);
}

void BM_pixman_over_sprite(benchmark::State& state) { pixman_over_sprite_run(state, sprite_source()); }
void BM_pixman_over_soft_edged(benchmark::State& state) { pixman_over_sprite_run(state, soft_edged_source()); }

}  // namespace

BENCHMARK(BM_runtime_one_colour);
BENCHMARK(BM_pixman_over_solid);
BENCHMARK(BM_tables_one_colour);
BENCHMARK(BM_runtime_pixel_writer);
BENCHMARK(BM_runtime_varying_alpha);
BENCHMARK(BM_pixman_over_image);
BENCHMARK(BM_tables_varying_alpha);
BENCHMARK(BM_runtime_sprite_alpha);
BENCHMARK(BM_pixman_over_sprite);
BENCHMARK(BM_runtime_soft_edged_alpha);
BENCHMARK(BM_pixman_over_soft_edged);
