// The width statement on text screens, classic graphics modes, free-size images and the printer.
#include <gtest/gtest.h>

#include <cstring>

#include "core/strings.h"
#include "screen/fonts.h"
#include "screen/image_handles.h"
#include "screen/memory_blocks.h"
#include "screen/printer.h"
#include "screen/screen_fixture.h"
#include "screen/width.h"

namespace {

struct width_test : screen_test {
    void SetUp() override {
        screen_test::SetUp();
        printer_reset();
    }
    static void width(int32_t columns, int32_t rows) {
        screen_width_set(0, columns, rows, (columns ? 1 : 0) | (rows ? 2 : 0));
    }
    static void mode(int32_t m) { screen_mode_set(m, 0, 0, 0, 0, 1); }
    static ptrdiff_t page_spacing() { return page(1).pixels - page(0).pixels; }
};

TEST_F(width_test, TextScreens) {
    width(80, 43);
    ASSERT_EQ(raised(), 0);
    EXPECT_EQ(page(0).width, 80);
    EXPECT_EQ(page(0).height, 43);
    EXPECT_EQ(page(0).font, 14);
    EXPECT_EQ(page(0).pixels, dos_memory + text_pages_address);
    EXPECT_EQ(page_spacing(), 6880);
    EXPECT_EQ(screen_page_count(), 8);

    mode(9);
    EXPECT_EQ(page(0).font, 8) << "the grid 80 x 43 carries over to the graphics page";
    mode(0);
    EXPECT_EQ(page(0).height, 43);
    EXPECT_EQ(page(0).font, 8);

    width(100, 30);
    EXPECT_EQ(page(0).width, 100);
    EXPECT_EQ(page(0).height, 30);
    EXPECT_EQ(page(0).font, 16);
}

TEST_F(width_test, FortyColumns) {
    width(40, 0);
    EXPECT_EQ(page(0).width, 40);
    EXPECT_EQ(page(0).height, 25);
    EXPECT_EQ(page(0).font, 17);
    EXPECT_EQ(page_spacing(), 2048);
}

TEST_F(width_test, GraphicsModesSwitchFontOrBecomeText) {
    mode(9);
    width(80, 43);
    EXPECT_EQ(page(0).mode, 9);
    EXPECT_EQ(page(0).font, 8);
    width(80, 44);
    EXPECT_EQ(raised(), 5);
    EXPECT_EQ(page(0).mode, 9);
    EXPECT_EQ(page(0).font, 8) << "nothing changes on an error";

    mode(12);
    width(80, 60);
    EXPECT_EQ(page(0).mode, 12);
    EXPECT_EQ(page(0).font, 8);

    mode(13);
    width(80, 0);
    EXPECT_EQ(page(0).mode, 0);
    EXPECT_EQ(page(0).width, 80);
    EXPECT_EQ(page(0).height, 25);
}

TEST_F(width_test, FontSearchTable) {
    struct row {
        int32_t mode, width, height, current, columns, rows, font;
    };
    const row rows[] = {
        {13, 320, 200, 8, 40, 25, 8},  {13, 320, 200, 8, 80, 0, 0},  {1, 320, 200, 8, 0, 25, 8},
        {2, 640, 200, 8, 80, 0, 8},    {9, 640, 350, 14, 0, 25, 14}, {9, 640, 350, 14, 0, 43, 8},
        {9, 640, 350, 14, 80, 0, 14},  {9, 640, 350, 8, 80, 0, 8},   {9, 640, 350, 14, 40, 25, 0},
        {10, 640, 350, 14, 80, 44, 0}, {11, 640, 480, 16, 0, 30, 16}, {12, 640, 480, 16, 0, 60, 8},
        {12, 640, 480, 16, 80, 0, 16}, {12, 640, 480, 16, 80, 43, 0}, {32, 640, 480, 16, 80, 30, 0},
    };
    for (const row& r : rows)
        EXPECT_EQ(width_font_search(r.mode, r.width, r.height, r.current, r.columns, r.rows), r.font)
            << r.mode << " " << r.columns << "x" << r.rows;
}

TEST_F(width_test, FreeSizeImageIsResizedAndCleared) {
    int32_t handle = image_handle_new(640, 480, 32, 1);
    screen_mode_set(handle, 0, 0, 0, 0, 1);
    image_record& r = *dest_image;
    image_font_set(16, &r);
    std::memset(r.pixels, 0x7F, image_pixel_bytes(&r));
    memory_block block = memory_block_over_image(handle, 1);
    ASSERT_TRUE(memory_block_exists(block));
    width(40, 25);
    ASSERT_EQ(raised(), 0);
    EXPECT_EQ(r.width, 320);
    EXPECT_EQ(r.height, 400);
    EXPECT_EQ(r.font, 16);
    for (size_t i = 0; i < image_pixel_bytes(&r); ++i) ASSERT_EQ(r.pixels[i], 0) << i;
    EXPECT_FALSE(memory_block_exists(block)) << "a block over the old pixels is dead";
    error_number = 0;
    width(40000, 0);
    EXPECT_EQ(raised(), 5) << "640,000 pixels do not fit the record";
    EXPECT_EQ(r.width, 320);
}

TEST_F(width_test, Errors) {
    const int32_t cases[][4] = {{0, 0, 0, 0}, {0, 0, 0, 2}, {0, -1, 0, 1}, {1, 80, 0, 1}, {2, 300, 0, 1},
                                {2, 80, 25, 3}, {2, 0, 0, 1}, {0, 70000, 70000, 3}};
    for (const auto& c : cases) {
        screen_width_set(c[0], c[1], c[2], c[3]);
        EXPECT_EQ(raised(), 5) << c[0] << " " << c[1] << " " << c[2] << " " << c[3];
    }
    EXPECT_EQ(page(0).width, 80);
    EXPECT_EQ(page(0).height, 25);
}

TEST_F(width_test, CountsBelowOneFailOnEveryKindOfScreen) {
    const int32_t cases[][3] = {{-1, 0, 1}, {0, 0, 2}, {80, -3, 3}, {0, 25, 3}};
    mode(12);
    const int32_t handle = image_handle_new(640, 480, 32, 1);
    for (int32_t screen : {0, 12, handle}) {
        screen_mode_set(screen, 0, 0, 0, 0, 1);
        const image_record before = *dest_image;
        for (const auto& c : cases) {
            screen_width_set(0, c[0], c[1], c[2]);
            EXPECT_EQ(raised(), 5) << screen << ": " << c[0] << " " << c[1] << " " << c[2];
            EXPECT_EQ(dest_image->mode, before.mode) << screen;
            EXPECT_EQ(dest_image->width, before.width) << screen;
            EXPECT_EQ(dest_image->height, before.height) << screen;
            EXPECT_EQ(dest_image->font, before.font) << screen;
        }
    }
}

TEST_F(width_test, PrinterWidth) {
    screen_width_set(2, 20, 0, 1);
    EXPECT_EQ(raised(), 0);
    printer_print_string(string_from_cstring(std::string(25, 'x').c_str()), 0);
    EXPECT_EQ(printer_column_get(1), 6);
    // 1 to 255 is taken; a refused width leaves 20. The column after 25 characters tells which.
    const struct {
        int32_t width, error, column;
    } cases[] = {{0, 5, 6}, {1, 0, 1}, {255, 0, 26}, {256, 5, 6}};
    for (const auto& c : cases) {
        printer_reset();
        screen_width_set(2, 20, 0, 1);
        screen_width_set(2, c.width, 0, 1);
        EXPECT_EQ(raised(), c.error) << c.width;
        printer_print_string(string_from_cstring(std::string(25, 'x').c_str()), 0);
        EXPECT_EQ(printer_column_get(1), c.column) << c.width;
    }
}

}  // namespace
