// Number conversions against the C library and the standard library doing the same job: the short
// form of singles and doubles, a formatted field, text to number and DATA items. Inputs are made
// beforehand with a fixed seed: a third integers, a third hundredths, a third random finite values.
// The runtime's rows take the whole call a translated statement makes: the text, its temporary
// string and the statement's release of it.
#include <benchmark/benchmark.h>

#include <bit>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "core/data_items.h"
#include "core/memory.h"
#include "core/number_parse.h"
#include "core/number_text.h"
#include "core/print_using.h"
#include "core/strings.h"

namespace {

constexpr size_t value_count = 4096;

void store_fresh() {
    dos_memory_clear();
    string_store_reset();
    string_segment_init();
}

std::vector<double> doubles() {
    std::mt19937_64 random(1);
    std::vector<double> v;
    while (v.size() < value_count) {
        switch (v.size() % 3) {
        case 0: v.push_back(double(int64_t(random() % 2000000) - 1000000)); break;
        case 1: v.push_back(double(int64_t(random() % 2000000) - 1000000) / 100); break;
        default: {
            double x = std::bit_cast<double>(random());
            if (std::isfinite(x)) v.push_back(x);
        }
        }
    }
    return v;
}

std::vector<float> singles() {
    std::mt19937_64 random(3);
    std::vector<float> v;
    while (v.size() < value_count) {
        switch (v.size() % 3) {
        case 0: v.push_back(float(int64_t(random() % 2000000) - 1000000)); break;
        case 1: v.push_back(float(int64_t(random() % 2000000) - 1000000) / 100); break;
        default: {
            float x = std::bit_cast<float>(uint32_t(random()));
            if (std::isfinite(x)) v.push_back(x);
        }
        }
    }
    return v;
}

// Values that fit "###.##".
std::vector<double> field_values() {
    std::mt19937_64 random(2);
    std::vector<double> v;
    for (size_t i = 0; i < value_count; ++i) v.push_back(double(random() % 100000000) / 100000 - 500);
    return v;
}

// Texts of the values with 1 to 17 significant digits; kind 0 integers, 1 hundredths, 2 random
// doubles, 3 all of them.
std::vector<std::string> number_texts(int64_t kind = 3) {
    std::vector<std::string> t;
    char text[40];
    auto v = doubles();
    for (size_t i = 0; t.size() < value_count; ++i) {
        if (kind != 3 && int64_t(i % value_count % 3) != kind) continue;
        std::snprintf(text, sizeof text, "%.*g", int(i % 17) + 1, v[i % value_count]);
        t.emplace_back(text);
    }
    return t;
}

// Texts of 16 significant digits: 53-bit values between 2^-40 and 2^40, both signs, as "%.16g"
// writes them (mostly fixed, some with an exponent).
std::vector<std::string> sixteen_digit_texts() {
    std::mt19937_64 random(4);
    std::vector<std::string> t;
    char text[40];
    while (t.size() < value_count) {
        double x = std::ldexp(double(random() >> 11), int(random() % 81) - 40 - 53);
        std::snprintf(text, sizeof text, "%.16g", random() & 1 ? -x : x);
        t.emplace_back(text);
    }
    return t;
}

void BM_string_from_single(benchmark::State& state) {
    store_fresh();
    auto v = singles();
    size_t i = 0;
    for (auto _ : state) {
        uint32_t mark = string_temp_top();
        benchmark::DoNotOptimize(string_from_single(v[i++ % value_count])->text);
        string_temps_release(mark, 0);
    }
}

// The statement a$ = STR$(x): the text assigned to a variable.
void BM_string_from_single_assigned(benchmark::State& state) {
    store_fresh();
    auto v = singles();
    string_descriptor* variable = string_new(0, 0);
    size_t i = 0;
    for (auto _ : state) {
        uint32_t mark = string_temp_top();
        string_assign(variable, string_from_single(v[i++ % value_count]));
        string_temps_release(mark, 0);
        benchmark::DoNotOptimize(variable->text);
    }
}

// The standard library's digits alone: the shortest text of a single, and the seven correctly
// rounded digits of its double that the short form starts from.
// The standard library writing the values in turn, in the form asked (none: the shortest text).
template <typename T, typename... Form>
void to_chars_each(benchmark::State& state, const std::vector<T>& v, Form... form) {
    char text[40];
    size_t i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(std::to_chars(text, std::end(text), v[i++ % value_count], form...).ptr);
        benchmark::ClobberMemory();
    }
}

void BM_to_chars_single_shortest(benchmark::State& state) { to_chars_each(state, singles()); }
void BM_to_chars_single_scientific_6(benchmark::State& state) {
    const auto v = singles();
    to_chars_each(state, std::vector<double>(v.begin(), v.end()), std::chars_format::scientific, 6);
}

void BM_string_from_double(benchmark::State& state) {
    store_fresh();
    auto v = doubles();
    size_t i = 0;
    for (auto _ : state) {
        uint32_t mark = string_temp_top();
        benchmark::DoNotOptimize(string_from_double(v[i++ % value_count])->text);
        string_temps_release(mark, 0);
    }
}

// The C library formatting the values in turn: the baseline beside the runtime's conversions.
void snprintf_each(benchmark::State& state, const std::vector<double>& v, const char* format) {
    char text[40];
    size_t i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(std::snprintf(text, sizeof text, format, v[i++ % value_count]));
        benchmark::ClobberMemory();
    }
}

void BM_snprintf_16g(benchmark::State& state) { snprintf_each(state, doubles(), "%.16g"); }

void BM_to_chars_shortest(benchmark::State& state) { to_chars_each(state, doubles()); }
void BM_to_chars_scientific_15(benchmark::State& state) {
    to_chars_each(state, doubles(), std::chars_format::scientific, 15);
}

void BM_print_using_double(benchmark::State& state) {
    store_fresh();
    auto v = field_values();
    string_descriptor* tmpl = string_from_cstring("###.##");
    string_descriptor* out = string_new(0, 0);
    size_t i = 0;
    for (auto _ : state) {
        string_assign(out, string_empty);
        benchmark::DoNotOptimize(print_using_double(tmpl, v[i++ % value_count], 0, out));
    }
}

void BM_snprintf_6_2f(benchmark::State& state) { snprintf_each(state, field_values(), "%6.2f"); }

void BM_string_to_number(benchmark::State& state) {
    store_fresh();
    auto t = number_texts(state.range(0));
    std::vector<string_descriptor*> s;
    for (auto& x : t) s.push_back(string_from_literal(x.data(), int32_t(x.size())));
    size_t i = 0;
    for (auto _ : state) benchmark::DoNotOptimize(string_to_number(s[i++ % value_count]));
}

void BM_strtold(benchmark::State& state) {
    auto t = number_texts(state.range(0));
    size_t i = 0;
    for (auto _ : state) benchmark::DoNotOptimize(std::strtold(t[i++ % value_count].c_str(), nullptr));
}

void BM_from_chars_double(benchmark::State& state) {
    auto t = number_texts(state.range(0));
    size_t i = 0;
    double x;
    for (auto _ : state) {
        const std::string& s = t[i++ % value_count];
        benchmark::DoNotOptimize(std::from_chars(s.data(), s.data() + s.size(), x).ptr);
        benchmark::DoNotOptimize(x);
    }
}

void BM_string_to_number_16_digits(benchmark::State& state) {
    store_fresh();
    auto t = sixteen_digit_texts();
    std::vector<string_descriptor*> s;
    for (auto& x : t) s.push_back(string_from_literal(x.data(), int32_t(x.size())));
    size_t i = 0;
    for (auto _ : state) benchmark::DoNotOptimize(string_to_number(s[i++ % value_count]));
}

void BM_strtold_16_digits(benchmark::State& state) {
    auto t = sixteen_digit_texts();
    size_t i = 0;
    for (auto _ : state) benchmark::DoNotOptimize(std::strtold(t[i++ % value_count].c_str(), nullptr));
}

void BM_from_chars_16_digits(benchmark::State& state) {
    auto t = sixteen_digit_texts();
    size_t i = 0;
    double x;
    for (auto _ : state) {
        const std::string& s = t[i++ % value_count];
        benchmark::DoNotOptimize(std::from_chars(s.data(), s.data() + s.size(), x).ptr);
        benchmark::DoNotOptimize(x);
    }
}

std::string data_block() {
    std::string d;
    for (auto& x : number_texts()) d += x + ",";
    return d;
}

void BM_data_read_number(benchmark::State& state) {
    std::string d = data_block();
    auto data = reinterpret_cast<const uint8_t*>(d.data());
    auto n = int32_t(d.size());
    int32_t at = 0;
    for (auto _ : state) {
        if (at >= n) at = 0;
        benchmark::DoNotOptimize(data_read_number(data, at, n, 0x20000040));
    }
}

void BM_strtod_loop(benchmark::State& state) {
    std::string d = data_block();
    const char* p = d.c_str();
    const char* end = p + d.size();
    for (auto _ : state) {
        if (p >= end) p = d.c_str();
        char* next;
        benchmark::DoNotOptimize(std::strtod(p, &next));
        p = next + 1;
    }
}

}  // namespace

BENCHMARK(BM_string_from_single);
BENCHMARK(BM_string_from_single_assigned);
BENCHMARK(BM_to_chars_single_shortest);
BENCHMARK(BM_to_chars_single_scientific_6);
BENCHMARK(BM_string_from_double);
BENCHMARK(BM_snprintf_16g);
BENCHMARK(BM_to_chars_shortest);
BENCHMARK(BM_to_chars_scientific_15);
BENCHMARK(BM_print_using_double);
BENCHMARK(BM_snprintf_6_2f);
BENCHMARK(BM_string_to_number)->DenseRange(0, 3);
BENCHMARK(BM_strtold)->DenseRange(0, 3);
BENCHMARK(BM_from_chars_double)->DenseRange(0, 3);
BENCHMARK(BM_string_to_number_16_digits);
BENCHMARK(BM_strtold_16_digits);
BENCHMARK(BM_from_chars_16_digits);
BENCHMARK(BM_data_read_number);
BENCHMARK(BM_strtod_loop);
