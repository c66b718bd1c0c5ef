#include "screen/image_handles.h"

#include <gtest/gtest.h>

#include <cstring>

#include "screen/fonts.h"
#include "screen/hardware_images.h"
#include "screen/screen_fixture.h"

namespace {

struct ImageHandles : screen_test {
    void SetUp() override {
        screen_test::SetUp();
        hardware_lists_reset();
    }
    void TearDown() override {
        hardware_lists_reset();
        screen_test::TearDown();
    }
    static image_record& of(int32_t handle) { return image_pool[-handle]; }
    static uint32_t* argb(int32_t handle) { return reinterpret_cast<uint32_t*>(of(handle).pixels); }
};

TEST_F(ImageHandles, ANewImageWithoutAModeIsMadeLikeTheDestination) {
    screen_mode_set(9, 0, 0, 0, 0, 1);
    image_record& page = *dest_image;
    page.palette[3] = 0xFF123456;
    page.fore_color = 12;
    page.back_color = 1;
    page.clear_color = 4;
    page.print_mode = 1;
    int32_t h = image_handle_new(640, 480, 0, 0);
    ASSERT_LT(h, 0);
    image_record& r = of(h);
    EXPECT_EQ(r.width, 640);
    EXPECT_EQ(r.height, 480);
    EXPECT_EQ(r.mode, 9);
    EXPECT_EQ(std::memcmp(r.palette, page.palette, 1024), 0);
    EXPECT_NE(r.palette, page.palette);
    EXPECT_EQ(r.font, 14);
    EXPECT_EQ(image_text_grid(&r).rows, 34);
    EXPECT_EQ(r.fore_color, 12);
    EXPECT_EQ(r.back_color, 1u);
    EXPECT_EQ(r.clear_color, 4);
    EXPECT_EQ(r.print_mode, 1);
    EXPECT_EQ(r.cursor_row, 1);
    EXPECT_EQ(r.cursor_column, 1);
    EXPECT_EQ(r.image_flags & image_is_screen_page, 0u);
}

TEST_F(ImageHandles, SizesAndModesAreChecked) {
    const int32_t good[] = {0, 1, 2, 7, 8, 9, 10, 11, 12, 13, 32, 256};
    for (int32_t mode : good) {
        int32_t h = image_handle_new(4, 3, mode, 1);
        ASSERT_LT(h, 0) << mode;
        EXPECT_EQ(of(h).mode, mode);
        image_handle_free(h, 1);
    }
    const int32_t bad[] = {-1, 3, 4, 5, 6, 14, 31, 33, 255, 257};
    for (int32_t mode : bad) {
        EXPECT_EQ(image_handle_new(4, 3, mode, 1), 0) << mode;
        EXPECT_EQ(raised(), 5);
    }
    const std::pair<int32_t, int32_t> sizes[] = {{0, 3}, {4, 0}, {-1, 3}, {4, -7}};
    for (const auto& [w, h] : sizes) {
        EXPECT_EQ(image_handle_new(w, h, 13, 1), 0);
        EXPECT_EQ(raised(), 5);
    }
    error_number = 7;
    EXPECT_EQ(image_handle_new(4, 3, 13, 1), 0);
    EXPECT_EQ(raised(), 7);
}

TEST_F(ImageHandles, ACopyOwnsItsPixelsAndPalette) {
    int32_t h = image_handle_new(5, 2, 13, 1);
    of(h).pixels[7] = 9;
    of(h).palette[9] = 0xFF00FF00;
    int32_t c = image_handle_copy(h, 0, 0);
    ASSERT_LT(c, 0);
    ASSERT_NE(c, h);
    EXPECT_NE(of(c).pixels, of(h).pixels);
    EXPECT_NE(of(c).palette, of(h).palette);
    EXPECT_EQ(of(c).pixels[7], 9);
    EXPECT_EQ(of(c).palette[9], 0xFF00FF00u);
    of(h).pixels[7] = 1;
    EXPECT_EQ(of(c).pixels[7], 9);
    image_handle_free(h, 1);
    EXPECT_EQ(of(c).pixels[7], 9);  // still its own after the original is gone

    // A screen page copies into an image that is no page.
    int32_t p = image_handle_copy(0, 0, 1);
    ASSERT_LT(p, 0);
    EXPECT_EQ(of(p).image_flags & image_is_screen_page, 0u);
    EXPECT_TRUE(of(p).is_text);
    EXPECT_EQ(of(p).lock, nullptr);
    image_handle_free(p, 1);
    EXPECT_EQ(error_number.load(), 0);
}

TEST_F(ImageHandles, CopyingToMode33MakesAHardwareImage) {
    int32_t h = image_handle_new(6, 4, 32, 1);
    int32_t hw = image_handle_copy(h, 33, 1);
    EXPECT_LT(hw, -8388608);
    EXPECT_EQ(image_width_get(hw, 1), 6);
    EXPECT_EQ(image_height_get(hw, 1), 4);
    EXPECT_EQ(image_pixel_size_get(hw, 1), 0);
    EXPECT_EQ(raised(), 258);
    image_blend_disable(hw, 1);
    EXPECT_EQ(hardware_img_from_handle(hw)->no_blend, 1);
    image_blend_enable(hw, 1);
    EXPECT_EQ(hardware_img_from_handle(hw)->no_blend, 0);
    image_handle_free(hw, 1);
    EXPECT_EQ(hardware_img_from_handle(hw), nullptr);  // dead at once
    EXPECT_EQ(image_width_get(hw, 1), 0);
    EXPECT_EQ(raised(), 258);
    // Any other change of mode is refused.
    EXPECT_EQ(image_handle_copy(h, 13, 1), -1);
    EXPECT_EQ(raised(), 5);
    int32_t palette_image = image_handle_new(6, 4, 13, 1);
    EXPECT_EQ(image_handle_copy(palette_image, 33, 1), -1);
    EXPECT_EQ(raised(), 5);
}

TEST_F(ImageHandles, FreeingHandsTheSelectionsToTheDisplayedImage) {
    int32_t h = image_handle_new(8, 8, 13, 1);
    dest_image_select(h);
    source_image_select(h);
    image_handle_free(0, 0);
    EXPECT_EQ(dest_image_handle(), display_image_handle());
    EXPECT_EQ(source_image_handle(), display_image_handle());
    EXPECT_FALSE(image_pool[-h].in_use);
    image_handle_free(h, 1);
    EXPECT_EQ(raised(), 258);
    image_handle_free(0, 1);  // screen page 0 by number
    EXPECT_EQ(raised(), 5);
    image_handle_free(display_image_handle(), 1);  // the same page by its slot
    EXPECT_EQ(raised(), 5);
    image_handle_free(0, 0);  // the destination is the page now
    EXPECT_EQ(raised(), 5);
}

TEST_F(ImageHandles, TransparentColours) {
    int32_t t = image_handle_new(32, 32, 32, 1);
    uint32_t* p = argb(t);
    p[0] = 0xFFFF00FF;
    p[1] = 0x12FF00FF;
    p[2] = 0xFFFF00FE;
    image_transparent_color_set(0x00FF00FF, t, transparent_colour_given | transparent_handle_given);
    EXPECT_EQ(p[0], 0x00FF00FFu);
    EXPECT_EQ(p[1], 0x00FF00FFu);
    EXPECT_EQ(p[2], 0xFFFF00FEu);
    EXPECT_EQ(image_transparent_color_get(t, 1), 0);

    int32_t m = image_handle_new(4, 4, 13, 1);
    image_transparent_color_set(7, m, transparent_colour_given | transparent_handle_given);
    EXPECT_EQ(image_transparent_color_get(m, 1), 7);
    image_transparent_color_set(0, m, transparent_clear | transparent_handle_given);
    EXPECT_EQ(image_transparent_color_get(m, 1), -1);
    image_transparent_color_set(256, m, transparent_colour_given | transparent_handle_given);
    EXPECT_EQ(raised(), 5);

    struct flag_case {
        int32_t handle;
        int32_t flags;
        int32_t error;
    };
    const flag_case cases[] = {
        {m, transparent_handle_given, 5},                                           // neither
        {m, transparent_clear | transparent_colour_given | transparent_handle_given, 5},  // both
        {0, transparent_colour_given | transparent_handle_given, 5},               // a colour on a text page
        {0, transparent_clear | transparent_handle_given, 0},
        {-4000, transparent_clear | transparent_handle_given, 258},
    };
    for (const flag_case& c : cases) {
        image_transparent_color_set(3, c.handle, c.flags);
        EXPECT_EQ(raised(), c.error) << c.flags;
    }
    EXPECT_EQ(image_transparent_color_get(0, 1), -1);
}

TEST_F(ImageHandles, AlphaValues) {
    int32_t h = image_handle_new(2, 2, 32, 1);
    uint32_t* p = argb(h);
    const uint32_t start[4] = {0xFF102030, 0x00102030, 0xFF112233, 0x80FFFFFF};
    auto reset = [&] { std::memcpy(p, start, sizeof start); };
    struct alpha_case {
        int32_t flags;
        uint32_t c1, c2;
        uint32_t expected[4];
    };
    const alpha_case cases[] = {
        {0, 0, 0, {0x40102030, 0x40102030, 0x40112233, 0x40FFFFFF}},
        {alpha_colour_range, 0x00000000, 0xFFFFFFFF, {0x40102030, 0x40102030, 0x40112233, 0x40FFFFFF}},
        {alpha_one_colour, 0xFF102030, 0, {0x40102030, 0x00102030, 0xFF112233, 0x80FFFFFF}},
        {alpha_colour_range, 0xFF102030, 0xFF102030, {0x40102030, 0x00102030, 0xFF112233, 0x80FFFFFF}},
        // Each byte within its bounds (given either way round).
        {alpha_colour_range, 0xFF112233, 0x00102030, {0x40102030, 0x40102030, 0x40112233, 0x80FFFFFF}},
        {alpha_colour_range, 0xFF10FF30, 0x00102030, {0x40102030, 0x40102030, 0xFF112233, 0x80FFFFFF}},
    };
    for (const alpha_case& c : cases) {
        reset();
        image_alpha_set(0x40, c.c1, c.c2, h, c.flags | alpha_handle_given);
        for (int i = 0; i < 4; ++i) EXPECT_EQ(p[i], c.expected[i]) << c.flags << " pixel " << i;
    }
    image_alpha_set(256, 0, 0, h, alpha_handle_given);
    EXPECT_EQ(raised(), 5);
    image_alpha_set(-1, 0, 0, h, alpha_handle_given);
    EXPECT_EQ(raised(), 5);
    int32_t m = image_handle_new(2, 2, 13, 1);
    image_alpha_set(1, 0, 0, m, alpha_handle_given);
    EXPECT_EQ(raised(), 5);
}

TEST_F(ImageHandles, BlendingAndQueries) {
    int32_t t = image_handle_new(7, 3, 32, 1);
    int32_t m = image_handle_new(7, 3, 13, 1);
    EXPECT_EQ(image_blend_get(t, 1), -1);
    image_blend_disable(t, 1);
    EXPECT_EQ(image_blend_get(t, 1), 0);
    image_blend_enable(t, 1);
    EXPECT_EQ(image_blend_get(t, 1), -1);
    image_blend_disable(m, 1);
    EXPECT_EQ(raised(), 0);
    image_blend_enable(m, 1);
    EXPECT_EQ(raised(), 5);
    EXPECT_EQ(image_blend_get(m, 1), 0);

    struct query_case {
        int32_t handle;
        int32_t width, height, pixel_size, transparent;
    };
    const query_case cases[] = {{t, 7, 3, 4, 0}, {m, 7, 3, 1, -1}, {0, 80, 25, 0, -1}};
    for (const query_case& c : cases) {
        EXPECT_EQ(image_width_get(c.handle, 1), c.width);
        EXPECT_EQ(image_height_get(c.handle, 1), c.height);
        EXPECT_EQ(image_pixel_size_get(c.handle, 1), c.pixel_size);
        EXPECT_EQ(image_transparent_color_get(c.handle, 1), c.transparent);
    }
    of(m).fore_color = 6;
    of(m).back_color = 2;
    EXPECT_EQ(image_fore_color_get(m, 1), 6);
    EXPECT_EQ(image_back_color_get(m, 1), 2u);
    dest_image_select(m);
    EXPECT_EQ(image_width_get(0, 0), 7);
    EXPECT_EQ(image_fore_color_get(0, 0), 6);
    EXPECT_EQ(image_width_get(-3999, 1), 0);
    EXPECT_EQ(raised(), 258);
}

}  // namespace
