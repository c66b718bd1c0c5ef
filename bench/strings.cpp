// The string store against std::string doing the same work: growing a string by `s = s + x` one
// statement at a time (ten bytes or one byte a statement), and statements that make temporaries
// and release them at their end.
#include <benchmark/benchmark.h>

#include <array>
#include <cstring>
#include <string>

#include "core/memory.h"
#include "core/string_functions.h"
#include "core/strings.h"

namespace {

constexpr char piece[] = "0123456789";
constexpr int32_t piece_length = 10;

void store_fresh() {
    dos_memory_clear();
    string_store_reset();
    string_segment_init();
}

// S$ = S$ + piece as a translated program writes it, n statements from an empty S$: each joins a
// copy of S$ and the piece, the variable takes the joined text over, and the statement's release
// ends it.
void store_append(benchmark::State& state, const char* text, int32_t length) {
    store_fresh();
    const auto n = state.range(0);
    for (auto _ : state) {
        string_descriptor* s = string_new(0, 0);
        for (int64_t i = 0; i < n; ++i) {
            uint32_t mark = string_temp_top();
            string_assign(s, string_concat(s, string_from_literal(text, length)));
            string_temps_release(mark, 0);
        }
        benchmark::DoNotOptimize(s->text);
        string_free(s);
    }
    state.SetItemsProcessed(state.iterations() * n);
}

// s = s + piece: the same copy of s each time.
void std_append(benchmark::State& state, const char* text) {
    const auto n = state.range(0);
    for (auto _ : state) {
        std::string s;
        for (int64_t i = 0; i < n; ++i) s = s + text;
        benchmark::DoNotOptimize(s.data());
    }
    state.SetItemsProcessed(state.iterations() * n);
}

void BM_store_append_by_concat(benchmark::State& state) { store_append(state, piece, piece_length); }
void BM_std_append_by_concat(benchmark::State& state) { std_append(state, piece); }
void BM_store_append_char(benchmark::State& state) { store_append(state, "x", 1); }
void BM_std_append_char(benchmark::State& state) { std_append(state, "x"); }

// t = LEFT$(a, 5) + MID$(b, 2, 3) + "xyz": three temporaries, joined, taken over by t.
void BM_store_expression_statement(benchmark::State& state) {
    store_fresh();
    string_descriptor* a = string_new(0, 0);
    string_descriptor* b = string_new(0, 0);
    string_descriptor* t = string_new(0, 0);
    string_assign(a, string_from_cstring("the winding has four poles"));
    string_assign(b, string_from_cstring("slots per pole and phase"));
    for (auto _ : state) {
        uint32_t mark = string_temp_top();
        string_descriptor* left = string_left(a, 5);
        string_descriptor* mid = string_mid(b, 2, 3, 1);
        string_assign(t, string_concat(string_concat(left, mid), string_from_literal("xyz", 3)));
        string_temps_release(mark, 0);
        benchmark::DoNotOptimize(t->text);
    }
}

void BM_std_expression_statement(benchmark::State& state) {
    std::string a = "the winding has four poles";
    std::string b = "slots per pole and phase";
    std::string t;
    for (auto _ : state) {
        t = a.substr(0, 5) + b.substr(1, 3) + "xyz";
        benchmark::DoNotOptimize(t.data());
    }
}

// Sixteen 24-byte temporaries made in one statement and released at its end.
constexpr int temporaries = 16;
constexpr char text24[] = "twenty-four bytes of txt";

void BM_store_temporaries_released(benchmark::State& state) {
    store_fresh();
    for (auto _ : state) {
        uint32_t mark = string_temp_top();
        for (int i = 0; i < temporaries; ++i) {
            string_descriptor* s = string_new(24, 1);
            std::memcpy(s->text, text24, 24);
            benchmark::DoNotOptimize(s->text);
        }
        string_temps_release(mark, 0);
    }
    state.SetItemsProcessed(state.iterations() * temporaries);
}

void BM_std_temporaries_released(benchmark::State& state) {
    for (auto _ : state) {
        std::array<std::string, temporaries> made;
        for (std::string& s : made) {
            s.assign(text24, 24);
            benchmark::DoNotOptimize(s.data());
        }
    }
    state.SetItemsProcessed(state.iterations() * temporaries);
}

BENCHMARK(BM_store_append_by_concat)->Arg(100)->Arg(1000)->Arg(10000);
BENCHMARK(BM_std_append_by_concat)->Arg(100)->Arg(1000)->Arg(10000);
BENCHMARK(BM_store_append_char)->Arg(1000)->Arg(10000)->Arg(100000);
BENCHMARK(BM_std_append_char)->Arg(1000)->Arg(10000)->Arg(100000);
BENCHMARK(BM_store_expression_statement);
BENCHMARK(BM_std_expression_statement);
BENCHMARK(BM_store_temporaries_released);
BENCHMARK(BM_std_temporaries_released);

}  // namespace
