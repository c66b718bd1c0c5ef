// Text helpers of the drawing tests: strings over bytes the test keeps, and the expected rows of a
// picture in the form the tests print images.
#pragma once

#include <cstdint>
#include <deque>
#include <initializer_list>
#include <string>
#include <utility>

#include "core/strings.h"

// Strings that stay valid as long as their keeper (the drawing statements read only text and length).
struct kept_strings {
    std::deque<std::string> texts;
    std::deque<string_descriptor> strings;
    string_descriptor* operator()(std::string bytes) {
        texts.push_back(std::move(bytes));
        string_descriptor& s = strings.emplace_back();
        s.text = reinterpret_cast<uint8_t*>(texts.back().data());
        s.length = int32_t(texts.back().size());
        return &s;
    }
};

// Rows of characters, each ended by a newline.
inline std::string picture_rows(std::initializer_list<const char*> lines) {
    std::string s;
    for (const char* l : lines) s += std::string(l) + '\n';
    return s;
}
