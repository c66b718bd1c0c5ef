// Printing speed: characters per second onto the 80 x 25 text page and onto a 640 x 480 page of 16
// colours, and one scroll of each page beside a memmove (and fill) of the same bytes.
#include <benchmark/benchmark.h>

#include <cstring>
#include <string>
#include <vector>

#include "core/memory.h"
#include "core/strings.h"
#include "screen/fonts.h"
#include "screen/image_pool.h"
#include "screen/modes.h"
#include "screen/palette.h"
#include "screen/text_output.h"

namespace {

void screen_make(int32_t mode) {
    font_metrics_init();
    palettes_load();
    image_pool_reserve();
    dos_memory_clear();
    screen_pages_reset();
    screen_mode_set(mode, 0, 0, 0, 0, 1);
}

// One full line of printable characters, printed again and again on row 1.
void print_line(benchmark::State& state, int32_t mode) {
    screen_make(mode);
    std::string text;
    for (int i = 0; i < 80; ++i) text += char('!' + i % 90);
    string_descriptor line{};
    line.text = reinterpret_cast<uint8_t*>(text.data());
    line.length = int32_t(text.size());
    image_record* page = dest_image;
    for (auto _ : state) {
        page->cursor_row = 1;
        page->cursor_column = 1;
        page->pending_newline = 0;
        print_string(&line, 0);
        benchmark::DoNotOptimize(page->pixels[0]);
    }
    state.SetItemsProcessed(state.iterations() * int64_t(text.size()));
}

void BM_print_text_page(benchmark::State& state) { print_line(state, 0); }
void BM_print_16_colour_page(benchmark::State& state) { print_line(state, 12); }

// A newline on the bottom row of the text view: the view moves up one text row.
void scroll(benchmark::State& state, int32_t mode) {
    screen_make(mode);
    image_record* page = dest_image;
    for (auto _ : state) {
        page->cursor_row = page->view_bottom;
        text_newline();
        benchmark::DoNotOptimize(page->pixels[0]);
    }
}

void BM_scroll_text_page(benchmark::State& state) { scroll(state, 0); }
void BM_scroll_16_colour_page(benchmark::State& state) { scroll(state, 12); }

// The same bytes moved and filled by hand: rows 2-24 of 160 bytes (text) or text rows 2-29 of
// 16 pixel rows of 640 bytes (graphics), then one text row blanked.
void memmove_baseline(benchmark::State& state, size_t row_bytes, size_t rows) {
    std::vector<uint8_t> buffer(row_bytes * (rows + 1));
    for (auto _ : state) {
        std::memmove(buffer.data(), buffer.data() + row_bytes, row_bytes * rows);
        std::memset(buffer.data() + row_bytes * rows, 0, row_bytes);
        benchmark::DoNotOptimize(buffer.data());
    }
}

void BM_memmove_text_page(benchmark::State& state) { memmove_baseline(state, 160, 23); }
void BM_memmove_16_colour_page(benchmark::State& state) { memmove_baseline(state, 640 * 16, 28); }

}  // namespace

BENCHMARK(BM_print_text_page);
BENCHMARK(BM_print_16_colour_page);
BENCHMARK(BM_scroll_text_page);
BENCHMARK(BM_memmove_text_page);
BENCHMARK(BM_scroll_16_colour_page);
BENCHMARK(BM_memmove_16_colour_page);
