// 10,000 circles of radius 1-200 on a 640x480 palette image: circle_draw beside a plain integer
// midpoint-circle loop that writes the same eight-way symmetric points with a bounds test.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <random>
#include <vector>

#include "draw/circles.h"
#include "screen/fonts.h"
#include "screen/image_pool.h"
#include "screen/palette.h"

namespace {

constexpr int32_t width = 640, height = 480;
constexpr int circles = 10000;

struct circle {
    int32_t x, y, r;
};

std::vector<circle> circles_made() {
    std::mt19937 random(1);
    std::vector<circle> c;
    for (int i = 0; i < circles; ++i)
        c.push_back({int32_t(random() % width), int32_t(random() % height), 1 + int32_t(random() % 200)});
    return c;
}

void BM_circle_draw(benchmark::State& state) {
    font_metrics_init();
    palettes_load();
    image_pool_reserve();
    int32_t slot = image_new(width, height, 12);
    dest_slot_select(slot);
    auto c = circles_made();
    uint32_t colour = 1;
    for (auto _ : state) {
        for (const circle& k : c) circle_draw(k.x, k.y, k.r, colour, 0, 0, 0, circle_colour_given);
        colour = colour % 15 + 1;
        benchmark::DoNotOptimize(image_pool[slot].pixels);
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * circles);
}

void BM_plain_midpoint(benchmark::State& state) {
    std::vector<uint8_t> p(size_t(width) * height);
    auto c = circles_made();
    uint8_t colour = 1;
    auto plot = [&](int32_t x, int32_t y) {
        if (x >= 0 && x < width && y >= 0 && y < height) p[size_t(y) * width + size_t(x)] = colour;
    };
    for (auto _ : state) {
        for (const circle& k : c) {
            int32_t x = k.r, y = 0, d = 1 - k.r;
            while (x >= y) {
                plot(k.x + x, k.y + y), plot(k.x - x, k.y + y), plot(k.x + x, k.y - y), plot(k.x - x, k.y - y);
                plot(k.x + y, k.y + x), plot(k.x - y, k.y + x), plot(k.x + y, k.y - x), plot(k.x - y, k.y - x);
                ++y;
                if (d < 0) {
                    d += 2 * y + 1;
                } else {
                    --x;
                    d += 2 * (y - x) + 1;
                }
            }
        }
        colour = uint8_t(colour % 15 + 1);
        benchmark::DoNotOptimize(p.data());
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * circles);
}

}  // namespace

BENCHMARK(BM_circle_draw)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_plain_midpoint)->Unit(benchmark::kMillisecond);
