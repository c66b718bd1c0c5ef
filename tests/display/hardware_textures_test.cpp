// Padding of textures to powers of two (no GL context needed).
#include "display/hardware_textures.h"

#include <gtest/gtest.h>

#include <vector>


TEST(pixels_pad_pow2, pads_with_the_last_column_and_row) {
    const struct {
        int32_t w, h, pw, ph;
    } cases[] = {{640, 480, 1024, 512}, {64, 63, 64, 64}, {3, 1, 4, 1}, {1, 5, 1, 8}, {64, 64, 64, 64}, {1, 1, 1, 1}};
    for (auto& c : cases) {
        std::vector<uint32_t> pixels(static_cast<size_t>(c.w) * c.h);
        for (size_t i = 0; i < pixels.size(); ++i) pixels[i] = static_cast<uint32_t>(i * 2654435761u);
        int32_t w = c.w, h = c.h;
        uint32_t* out = pixels_pad_pow2(w, h, pixels.data());
        ASSERT_EQ(w, c.pw);
        ASSERT_EQ(h, c.ph);
        if (c.w == c.pw && c.h == c.ph) {
            EXPECT_EQ(out, pixels.data());
            continue;
        }
        auto at = [&](int32_t x, int32_t y) { return out[static_cast<size_t>(y) * w + x]; };
        auto src = [&](int32_t x, int32_t y) { return pixels[static_cast<size_t>(y) * c.w + x]; };
        int32_t cols = c.pw > c.w ? c.w + 1 : c.w;
        int32_t rows = c.ph > c.h ? c.h + 1 : c.h;
        for (int32_t y = 0; y < rows; ++y)
            for (int32_t x = 0; x < cols; ++x)
                ASSERT_EQ(at(x, y), src(x < c.w ? x : c.w - 1, y < c.h ? y : c.h - 1))
                    << c.w << "x" << c.h << " at " << x << "," << y;
    }
}
