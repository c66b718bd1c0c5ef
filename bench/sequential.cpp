// A 10 MB text file read by LINE INPUT, by the byte reader and by C$ = INPUT$(1, #1) as a
// translated program writes it, beside getline, fgetc and getc_unlocked over the same file in the
// same run.
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <string>

#include "core/errors.h"
#include "core/memory.h"
#include "core/strings.h"
#include "files/file_handles.h"
#include "files/file_open.h"
#include "files/random_access.h"
#include "files/sequential.h"

namespace {

constexpr int64_t file_bytes = 10 << 20;

const std::string& text_file() {
    static const std::string path = [] {
        std::string p = "/tmp/lumo-bench-text-" + std::to_string(::getpid());
        std::ofstream out(p, std::ios::binary);
        std::string line;
        for (int64_t written = 0; written < file_bytes; written += static_cast<int64_t>(line.size())) {
            line = "line " + std::to_string(written) + " of a text file, with some words after it\r\n";
            out << line;
        }
        return p;
    }();
    return path;
}

void open_input() {
    dos_memory_clear();
    string_store_reset();
    string_segment_init();
    file_handles_reset();
    error_number = 0;
    const std::string& p = text_file();
    file_open(string_from_literal(p.data(), static_cast<int32_t>(p.size())), open_mode_input, 0, 0, 1, 0, 0);
}

void BM_line_input(benchmark::State& state) {
    for (auto _ : state) {
        state.PauseTiming();
        open_input();
        string_descriptor* line = string_new(0, 0);
        state.ResumeTiming();
        while (file_eof(1) == 0) file_line_input(1, line);
        benchmark::DoNotOptimize(line->length);
        state.PauseTiming();
        file_close(0, 0);
        state.ResumeTiming();
    }
    state.SetBytesProcessed(state.iterations() * file_bytes);
}

void BM_getline(benchmark::State& state) {
    for (auto _ : state) {
        std::ifstream in(text_file(), std::ios::binary);
        std::string line;
        while (std::getline(in, line)) benchmark::DoNotOptimize(line.data());
    }
    state.SetBytesProcessed(state.iterations() * file_bytes);
}

void BM_read_byte(benchmark::State& state) {
    for (auto _ : state) {
        state.PauseTiming();
        open_input();
        int32_t slot = file_number_slot(1);
        state.ResumeTiming();
        int64_t sum = 0;
        for (int32_t b; (b = file_read_byte(slot)) >= 0;) sum += b;
        benchmark::DoNotOptimize(sum);
        state.PauseTiming();
        file_close(0, 0);
        state.ResumeTiming();
    }
    state.SetBytesProcessed(state.iterations() * file_bytes);
}

void BM_fread_bytes(benchmark::State& state) {
    for (auto _ : state) {
        FILE* f = std::fopen(text_file().c_str(), "rb");
        int64_t sum = 0;
        for (int b; (b = std::fgetc(f)) != EOF;) sum += b;
        benchmark::DoNotOptimize(sum);
        std::fclose(f);
    }
    state.SetBytesProcessed(state.iterations() * file_bytes);
}

// WHILE NOT EOF(1): C$ = INPUT$(1, #1): WEND, each statement ending with the release of its
// temporaries.
void BM_input_chars_one(benchmark::State& state) {
    for (auto _ : state) {
        state.PauseTiming();
        open_input();
        string_descriptor* c = string_new(0, 0);
        uint32_t mark = string_temp_top();
        state.ResumeTiming();
        while (file_eof(1) == 0) {
            string_assign(c, input_chars(1, 1, 1));
            string_temps_release(mark, 0);
        }
        benchmark::DoNotOptimize(c->length);
        state.PauseTiming();
        file_close(0, 0);
        state.ResumeTiming();
    }
    state.SetBytesProcessed(state.iterations() * file_bytes);
}

void BM_getc_unlocked_bytes(benchmark::State& state) {
    for (auto _ : state) {
        FILE* f = std::fopen(text_file().c_str(), "rb");
        int64_t sum = 0;
        for (int b; (b = getc_unlocked(f)) != EOF;) sum += b;
        benchmark::DoNotOptimize(sum);
        std::fclose(f);
    }
    state.SetBytesProcessed(state.iterations() * file_bytes);
}

BENCHMARK(BM_line_input)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_getline)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_read_byte)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_fread_bytes)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_input_chars_one)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_getc_unlocked_bytes)->Unit(benchmark::kMillisecond);

}  // namespace
