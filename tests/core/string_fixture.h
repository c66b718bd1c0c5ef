// Test helpers for the string store: a fresh store per test, strings of each kind made from text,
// and the text of a string read back.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <deque>
#include <string>
#include <string_view>

#include "core/memory.h"
#include "core/runtime_fixture.h"
#include "core/strings.h"

// How an argument string was made: the kinds the contract for temporaries tells apart.
enum class string_kind { variable, disposable, literal, segment_temp, fixed_temp };
constexpr string_kind all_string_kinds[] = {string_kind::variable, string_kind::disposable, string_kind::literal,
                                            string_kind::segment_temp, string_kind::fixed_temp};

inline std::string text_of(const string_descriptor* s) {
    return std::string(reinterpret_cast<const char*>(s->text), static_cast<size_t>(s->length));
}

class string_store_test : public ::testing::Test {
protected:
    void SetUp() override { store_make({}); }
    void TearDown() override { string_store_reset(); }

    void store_make(const string_store_sizes& sizes) {
        dos_memory_clear();
        string_store_reset(sizes);
        string_segment_init();
    }

    // Bytes that stay put for the life of the test (literals and fixed views point at them).
    uint8_t* kept(std::string_view text) {
        std::string& k = kept_.emplace_back(text);
        return reinterpret_cast<uint8_t*>(k.data());
    }

    string_descriptor* filled(string_descriptor* s, std::string_view text) {
        if (!text.empty()) std::memcpy(s->text, text.data(), text.size());
        return s;
    }

    string_descriptor* make(string_kind kind, std::string_view text) {
        auto n = static_cast<uint32_t>(text.size());
        switch (kind) {
        case string_kind::variable: return filled(string_new(n, 0), text);
        case string_kind::disposable: return filled(string_new(n, 1), text);
        case string_kind::literal: return string_from_literal(kept(text), static_cast<int32_t>(n));
        case string_kind::segment_temp: return filled(string_segment_new(n, 1), text);
        case string_kind::fixed_temp: return string_fixed_view(kept(text), static_cast<int32_t>(n), 1);
        }
        return nullptr;
    }

    string_descriptor* variable(std::string_view text) { return make(string_kind::variable, text); }
    string_descriptor* literal(std::string_view text) { return make(string_kind::literal, text); }

    recorded_boxes boxes;

private:
    std::deque<std::string> kept_;
};
