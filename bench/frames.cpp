// Frame-build cost per frame for the page kinds the builder handles, each beside the memcpy of the
// frame's bytes and a plain 8-to-32-bit widening without a lookup, measured in the same run.
#include <benchmark/benchmark.h>
#include <emmintrin.h>

#include <cstring>
#include <random>
#include <vector>

#include "display/frames.h"
#include "screen/fonts.h"
#include "screen/image_pool.h"
#include "screen/palette.h"

namespace {

image_record& page_on_display(int32_t width, int32_t height, int32_t mode) {
    static bool ready = false;
    if (!ready) {
        font_metrics_init();
        palettes_load();
        ready = true;
    }
    image_pool_reserve();
    software_frames_reset();
    const int32_t slot = image_new(width, height, mode);
    display_image_index = slot;
    display_image = &image_pool[slot];
    image_record& page = image_pool[slot];
    std::mt19937 random(1);
    const size_t bytes = image_pixel_bytes(&page);
    for (size_t i = 0; i < bytes; ++i) page.pixels[i] = uint8_t(random() & (mode == 32 ? 255 : page.color_mask));
    return page;
}

void frames_counted(benchmark::State& state, int64_t pixels) {
    state.SetItemsProcessed(state.iterations());
    state.SetBytesProcessed(state.iterations() * pixels * 4);
}

// A graphics page with one pixel changed per frame (the last one, so the comparison reads it all).
void BM_graphics_page_changed(benchmark::State& state) {
    const int32_t w = int32_t(state.range(0)), h = int32_t(state.range(1)), mode = int32_t(state.range(2));
    image_record& page = page_on_display(w, h, mode);
    software_frame_build();
    uint8_t* last = page.pixels + image_pixel_bytes(&page) - 1;
    for (auto _ : state) {
        *last ^= 1;
        software_frame_build();
        bool newly_shown;
        software_frame_show_newest(newly_shown);  // the renderer's turn: slots come free as in the window
    }
    frames_counted(state, int64_t(w) * h);
}

void BM_graphics_page_unchanged(benchmark::State& state) {
    const int32_t w = int32_t(state.range(0)), h = int32_t(state.range(1)), mode = int32_t(state.range(2));
    page_on_display(w, h, mode);
    software_frame_build();
    for (auto _ : state) software_frame_build();
    frames_counted(state, int64_t(w) * h);
}

// An 80 x 25 text page: one cell changed per frame, or drawn in full after a mode change.
void BM_text_page(benchmark::State& state) {
    const bool full = state.range(0) != 0;
    image_record& page = page_on_display(80, 25, 0);
    auto* cells = reinterpret_cast<text_cell*>(page.pixels);
    software_frame_build();
    int32_t i = 0;
    for (auto _ : state) {
        cells[i % 2000].code++;
        ++i;
        if (full) frame_compare_valid = 0;
        software_frame_build();
        bool newly_shown;
        software_frame_show_newest(newly_shown);  // the renderer's turn: slots come free as in the window
    }
    frames_counted(state, 640 * 400);
}

void BM_memcpy_frame(benchmark::State& state) {
    const size_t bytes = size_t(state.range(0)) * size_t(state.range(1)) * 4;
    std::vector<uint8_t> from(bytes, 1), to(bytes);
    for (auto _ : state) {
        std::memcpy(to.data(), from.data(), bytes);
        benchmark::DoNotOptimize(to.data());
        benchmark::ClobberMemory();
    }
    frames_counted(state, state.range(0) * state.range(1));
}

// Each byte zero-extended to 32 bits, 16 at a time (the sizes here are multiples of 16).
void widen(const uint8_t* in, uint32_t* out, size_t n) {
    const __m128i zero = _mm_setzero_si128();
    for (size_t i = 0; i < n; i += 16) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + i));
        const __m128i low = _mm_unpacklo_epi8(v, zero), high = _mm_unpackhi_epi8(v, zero);
        __m128i* o = reinterpret_cast<__m128i*>(out + i);
        _mm_storeu_si128(o, _mm_unpacklo_epi16(low, zero));
        _mm_storeu_si128(o + 1, _mm_unpackhi_epi16(low, zero));
        _mm_storeu_si128(o + 2, _mm_unpacklo_epi16(high, zero));
        _mm_storeu_si128(o + 3, _mm_unpackhi_epi16(high, zero));
    }
}

void BM_widen_without_lookup(benchmark::State& state) {
    const size_t n = size_t(state.range(0)) * size_t(state.range(1));
    std::vector<uint8_t> from(n, 3);
    std::vector<uint32_t> to(n);
    for (auto _ : state) {
        widen(from.data(), to.data(), n);
        benchmark::DoNotOptimize(to.data());
        benchmark::ClobberMemory();
    }
    frames_counted(state, int64_t(n));
}

BENCHMARK(BM_graphics_page_changed)->Args({640, 480, 12})->Args({640, 480, 13})->Args({640, 480, 32})
    ->Args({1920, 1080, 32})->ArgNames({"w", "h", "mode"});
BENCHMARK(BM_graphics_page_unchanged)->Args({640, 480, 12})->Args({640, 480, 32})->Args({1920, 1080, 32})
    ->ArgNames({"w", "h", "mode"});
BENCHMARK(BM_text_page)->Arg(0)->Arg(1)->ArgName("full");
BENCHMARK(BM_memcpy_frame)->Args({640, 480})->Args({640, 400})->Args({1920, 1080})->ArgNames({"w", "h"});
BENCHMARK(BM_widen_without_lookup)->Args({640, 480})->Args({640, 400})->Args({1920, 1080})->ArgNames({"w", "h"});

}  // namespace
