// Record PUT and record GET, and one-byte binary GETs, through the file layer, beside plain
// pwrite and pread loops over the same file in the same run: the price of the slot checks and of
// holding a transfer's bytes against other handles' LOCKs. OPEN FOR INPUT + CLOSE beside fopen +
// fclose of the same file: the price of joining and leaving the file's sharing.
#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <stdio.h>
#include <unistd.h>

#include <string>

#include "core/byte_span.h"
#include "core/errors.h"
#include "core/memory.h"
#include "core/strings.h"
#include "files/file_handles.h"
#include "files/file_open.h"
#include "files/random_access.h"

namespace {

constexpr int64_t record_length = 128;
constexpr int64_t records = 1024;

const std::string& bench_path() {
    static const std::string path = "/tmp/lumo-bench-files-" + std::to_string(::getpid());
    return path;
}

void runtime_fresh() {
    dos_memory_clear();
    string_store_reset();
    string_segment_init();
    file_handles_reset();
    error_number = 0;
}

void open_as(int32_t mode, int32_t n, int64_t length) {
    const std::string& name = bench_path();
    file_open(string_from_literal(name.data(), static_cast<int32_t>(name.size())), mode, 0, 0, n, length, length != 0);
}

void layer_records(benchmark::State& state, bool put) {
    runtime_fresh();
    open_as(open_mode_random, 1, record_length);
    for (auto _ : state)
        for (int64_t r = 1; r <= records; ++r) put ? file_put_record(1, r, 1) : file_get_record(1, r, 1);
    state.SetItemsProcessed(state.iterations() * records);
    if (error_number != 0) state.SkipWithError("the layer raised an error");
    file_close(0, 0);
}
void BM_layer_record_put(benchmark::State& state) { layer_records(state, true); }
void BM_layer_record_get(benchmark::State& state) { layer_records(state, false); }

void plain_records(benchmark::State& state, bool write) {
    int fd = ::open(bench_path().c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    char buffer[record_length] = {};
    for (auto _ : state)
        for (int64_t r = 0; r < records; ++r)
            benchmark::DoNotOptimize(write ? ::pwrite(fd, buffer, record_length, r * record_length)
                                           : ::pread(fd, buffer, record_length, r * record_length));
    state.SetItemsProcessed(state.iterations() * records);
    ::close(fd);
}
void BM_plain_pwrite(benchmark::State& state) { plain_records(state, true); }
void BM_plain_pread(benchmark::State& state) { plain_records(state, false); }

void BM_layer_binary_byte_gets(benchmark::State& state) {
    runtime_fresh();
    open_as(open_mode_binary, 1, 0);
    char byte = 0;
    byte_span span{};
    byte_span_set(byte_span_low(&byte), byte_span_high(&byte), 1, &span);
    const int64_t bytes = records * record_length;
    for (auto _ : state) {
        file_seek(1, 1);
        for (int64_t i = 0; i < bytes; ++i) file_get_bytes(1, 0, &span, 0);
        benchmark::DoNotOptimize(byte);
    }
    state.SetItemsProcessed(state.iterations() * bytes);
    if (error_number != 0) state.SkipWithError("the layer raised an error");
    file_close(0, 0);
}

void BM_plain_pread_bytes(benchmark::State& state) {
    int fd = ::open(bench_path().c_str(), O_RDONLY | O_CLOEXEC);
    char byte = 0;
    const int64_t bytes = records * record_length;
    for (auto _ : state) {
        for (int64_t i = 0; i < bytes; ++i) benchmark::DoNotOptimize(::pread(fd, &byte, 1, i));
    }
    state.SetItemsProcessed(state.iterations() * bytes);
    ::close(fd);
}

void BM_layer_open_input_close(benchmark::State& state) {
    runtime_fresh();
    int fd = ::open(bench_path().c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0666);
    benchmark::DoNotOptimize(::pwrite(fd, "text\r\n", 6, 0));  // not empty: the open reads its first byte
    ::close(fd);
    for (auto _ : state) {
        open_as(open_mode_input, 1, 0);
        file_close(1, 1);
    }
    if (error_number != 0) state.SkipWithError("the layer raised an error");
}

void BM_plain_fopen_fclose(benchmark::State& state) {
    for (auto _ : state) {
        FILE* f = std::fopen(bench_path().c_str(), "rb");
        benchmark::DoNotOptimize(f);
        std::fclose(f);
    }
}

BENCHMARK(BM_layer_record_put);
BENCHMARK(BM_plain_pwrite);
BENCHMARK(BM_layer_record_get);
BENCHMARK(BM_plain_pread);
BENCHMARK(BM_layer_binary_byte_gets);
BENCHMARK(BM_plain_pread_bytes);
BENCHMARK(BM_layer_open_input_close);
BENCHMARK(BM_plain_fopen_fclose);

}  // namespace
