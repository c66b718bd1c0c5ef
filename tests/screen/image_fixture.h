// Test fixture for the image modules: fonts, palettes and glyphs loaded, a fresh image pool and no
// pending error before and after each test.
#pragma once

#include <gtest/gtest.h>

#include "core/errors.h"
#include "screen/fonts.h"
#include "screen/image_pool.h"
#include "screen/palette.h"

struct image_test : ::testing::Test {
    void SetUp() override {
        error_number = 0;
        font_metrics_init();
        palettes_load();
        image_pool_reserve();
    }
    void TearDown() override {
        image_pool_reserve();
        error_number = 0;
    }
    // The error raised so far, cleared.
    static int32_t raised() {
        int32_t n = error_number;
        error_number = 0;
        return n;
    }
};
