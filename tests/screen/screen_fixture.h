// Test fixture for the screen: the image fixture plus emulated memory cleared, no pages and no
// pending text size, then the start-up text screen (mode 0, 80 x 25). Helpers read pages back.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/memory.h"
#include "screen/image_fixture.h"
#include "screen/modes.h"
#include "screen/text_output.h"

struct screen_test : image_test {
    void SetUp() override {
        image_test::SetUp();
        dos_memory_clear();
        screen_pages_reset();
        control_chars_off = 0;
        screen_mode_set(0, 0, 0, 0, 0, 1);
    }
    void TearDown() override {
        screen_pages_reset();
        image_test::TearDown();
    }
    static image_record& page(int32_t n) { return image_pool[screen_page_table[size_t(n)]]; }
    static image_record& slot(int32_t s) { return image_pool[s]; }
    // The characters of text rows first..last (1-based) of a text image.
    static std::vector<std::string> text_rows(const image_record& r, int32_t first, int32_t last) {
        std::vector<std::string> rows;
        auto* cells = reinterpret_cast<const text_cell*>(r.pixels);
        for (int32_t row = first; row <= last; ++row) {
            std::string s;
            for (int32_t c = 0; c < r.width; ++c) s += char(cells[size_t(row - 1) * r.width + size_t(c)].code);
            rows.push_back(s);
        }
        return rows;
    }
    // The attribute of one cell (1-based row and column).
    static uint8_t attribute_at(const image_record& r, int32_t row, int32_t column) {
        return reinterpret_cast<const text_cell*>(r.pixels)[size_t(row - 1) * r.width + size_t(column - 1)].attribute;
    }
};
