// Flood fills of a 1920x1080 image: the whole open image at once (8 and 32 bits), and 1,000 small
// fills of the cells of a grid, beside a plain scanline span fill (a stack of seeds, each row run
// painted at once and the rows above and below scanned for new runs), a plain breadth-first loop
// (one queue of points and a visited map) over the same pixels and memset of the image's bytes.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

#include "draw/flood_fill.h"
#include "screen/fonts.h"
#include "screen/image_pool.h"
#include "screen/palette.h"

namespace {

constexpr int32_t width = 1920, height = 1080;
constexpr size_t pixels = size_t(width) * height;
constexpr uint8_t wall = 1;
constexpr int32_t cell = 16;  // the grid: a wall every 16th row and column
constexpr int small_fills = 1000;
constexpr uint32_t wall_32 = 0xFFFFFFFF;
constexpr uint32_t opaque_32[2] = {0xFF204060, 0xFF604020};  // blending stores them

image_record& image_made(int32_t mode = 256) {
    font_metrics_init();
    palettes_load();
    image_pool_reserve();
    int32_t slot = image_new(width, height, mode);
    dest_slot_select(slot);
    return image_pool[slot];
}

void grid_draw(uint8_t* p) {
    for (int32_t y = 0; y < height; ++y)
        for (int32_t x = 0; x < width; ++x)
            p[size_t(y) * width + size_t(x)] = (x % cell == 0 || y % cell == 0) ? wall : 0;
}

// A seed inside each of 1,000 different cells.
std::vector<std::pair<int32_t, int32_t>> seeds() {
    std::vector<std::pair<int32_t, int32_t>> s;
    for (int i = 0; s.size() < small_fills; ++i) {
        int32_t cx = (i * 37) % (width / cell), cy = (i * 11) % (height / cell);
        s.push_back({cx * cell + 5, cy * cell + 7});
    }
    return s;
}

// The plain loop: a queue of points, a visited map cleared over what was visited.
struct plain_bfs {
    struct point {
        int32_t x, y;
    };
    std::vector<point> queue = std::vector<point>(pixels);
    std::vector<uint8_t> visited = std::vector<uint8_t>(pixels);

    void fill(uint8_t* p, int32_t sx, int32_t sy, uint8_t colour, uint8_t border) {
        size_t head = 0, tail = 0;
        auto reach = [&](int32_t x, int32_t y) {
            size_t i = size_t(y) * width + size_t(x);
            if (visited[i]) return;
            visited[i] = 1;
            if (p[i] == border) return;
            p[i] = colour;
            queue[tail++] = {x, y};
        };
        reach(sx, sy);
        while (head < tail) {
            auto [x, y] = queue[head++];
            if (x > 0) reach(x - 1, y);
            if (x < width - 1) reach(x + 1, y);
            if (y > 0) reach(x, y - 1);
            if (y < height - 1) reach(x, y + 1);
        }
        for (size_t k = 0; k < tail; ++k) {  // painted pixels and their neighbours
            auto [x, y] = queue[k];
            size_t i = size_t(y) * width + size_t(x);
            visited[i] = 0;
            if (x > 0) visited[i - 1] = 0;
            if (x < width - 1) visited[i + 1] = 0;
            if (y > 0) visited[i - width] = 0;
            if (y < height - 1) visited[i + width] = 0;
        }
    }
};

// The plain span fill: pixels of the paint colour count as done, which is right for these
// images (none shows the paint colour before the fill).
template <class Pixel>
struct plain_spans {
    struct point {
        int32_t x, y;
    };
    std::vector<point> stack;

    void fill(Pixel* p, int32_t sx, int32_t sy, Pixel colour, Pixel border) {
        auto open = [&](Pixel v) { return v != border && v != colour; };
        stack.assign(1, {sx, sy});
        while (!stack.empty()) {
            auto [x, y] = stack.back();
            stack.pop_back();
            Pixel* row = p + size_t(y) * width;
            if (!open(row[x])) continue;
            int32_t l = x, r = x;
            while (l > 0 && open(row[l - 1])) --l;
            while (r < width - 1 && open(row[r + 1])) ++r;
            std::fill(row + l, row + r + 1, colour);
            for (int32_t ny : {y - 1, y + 1}) {
                if (ny < 0 || ny >= height) continue;
                const Pixel* next = p + size_t(ny) * width;
                bool in_run = false;
                for (int32_t k = l; k <= r; ++k) {
                    bool o = open(next[k]);
                    if (o && !in_run) stack.push_back({k, ny});
                    in_run = o;
                }
            }
        }
    }
};

void BM_fill_open_image(benchmark::State& state) {
    image_record& r = image_made();
    uint8_t colour = 2;
    for (auto _ : state) {
        paint_fill(width / 2, height / 2, colour, wall, nullptr, fill_paint_given | fill_border_given);
        colour ^= 1;
        benchmark::DoNotOptimize(r.pixels);
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * int64_t(pixels));
}

void BM_plain_bfs_open_image(benchmark::State& state) {
    std::vector<uint8_t> p(pixels);
    plain_bfs bfs;
    uint8_t colour = 2;
    for (auto _ : state) {
        bfs.fill(p.data(), width / 2, height / 2, colour, wall);
        colour ^= 1;
        benchmark::DoNotOptimize(p.data());
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * int64_t(pixels));
}

void BM_plain_spans_open_image(benchmark::State& state) {
    std::vector<uint8_t> p(pixels);
    plain_spans<uint8_t> spans;
    uint8_t colour = 2;
    for (auto _ : state) {
        spans.fill(p.data(), width / 2, height / 2, colour, wall);
        colour ^= 1;
        benchmark::DoNotOptimize(p.data());
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * int64_t(pixels));
}

// The 32-bit image as the statement finds it (blending on) and with blending off, painted with
// opaque colours.
void fill_open_image_32(benchmark::State& state, uint8_t blend_off) {
    image_record& r = image_made(32);
    r.blend_off = blend_off;
    int k = 0;
    for (auto _ : state) {
        paint_fill(width / 2, height / 2, opaque_32[k], wall_32, nullptr, fill_paint_given | fill_border_given);
        k ^= 1;
        benchmark::DoNotOptimize(r.pixels);
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * int64_t(pixels));
}
void BM_fill_open_image_32_blended(benchmark::State& state) { fill_open_image_32(state, 0); }
void BM_fill_open_image_32_stored(benchmark::State& state) { fill_open_image_32(state, 1); }

void BM_plain_spans_open_image_32(benchmark::State& state) {
    std::vector<uint32_t> p(pixels);
    plain_spans<uint32_t> spans;
    int k = 0;
    for (auto _ : state) {
        spans.fill(p.data(), width / 2, height / 2, opaque_32[k], wall_32);
        k ^= 1;
        benchmark::DoNotOptimize(p.data());
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * int64_t(pixels));
}

void BM_memset_image(benchmark::State& state) {
    std::vector<uint8_t> p(pixels);
    uint8_t colour = 2;
    for (auto _ : state) {
        std::memset(p.data(), colour, pixels);
        colour ^= 1;
        benchmark::DoNotOptimize(p.data());
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * int64_t(pixels));
}

void BM_fill_1000_cells(benchmark::State& state) {
    image_record& r = image_made();
    grid_draw(r.pixels);
    auto s = seeds();
    uint8_t colour = 2;
    for (auto _ : state) {
        for (auto [x, y] : s) paint_fill(float(x), float(y), colour, wall, nullptr, fill_paint_given | fill_border_given);
        colour ^= 1;
        benchmark::DoNotOptimize(r.pixels);
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * small_fills);
}

void BM_plain_bfs_1000_cells(benchmark::State& state) {
    std::vector<uint8_t> p(pixels);
    grid_draw(p.data());
    auto s = seeds();
    plain_bfs bfs;
    uint8_t colour = 2;
    for (auto _ : state) {
        for (auto [x, y] : s) bfs.fill(p.data(), x, y, colour, wall);
        colour ^= 1;
        benchmark::DoNotOptimize(p.data());
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * small_fills);
}

}  // namespace

BENCHMARK(BM_fill_open_image)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_plain_spans_open_image)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_plain_bfs_open_image)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_fill_open_image_32_blended)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_fill_open_image_32_stored)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_plain_spans_open_image_32)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_memset_image)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_fill_1000_cells)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_plain_bfs_1000_cells)->Unit(benchmark::kMillisecond);
