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
    // A fresh image made the destination (and the source as well when asked).
    static image_record& dest_new(int32_t width, int32_t height, int32_t mode, bool as_source = false) {
        int32_t slot = image_new(width, height, mode);
        EXPECT_NE(slot, 0);
        dest_image_select(-slot);
        if (as_source) source_image_select(-slot);
        return image_pool[slot];
    }
    // The error raised so far, cleared.
    static int32_t raised() {
        int32_t n = error_number;
        error_number = 0;
        return n;
    }
};
