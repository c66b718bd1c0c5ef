#include "screen/colors.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "screen/image_fixture.h"

namespace {

struct Colors : image_test {
    // A fresh image of the mode as the destination.
    static image_record& dest(int32_t mode, int32_t width = 16, int32_t height = 16) {
        return dest_new(width, height, mode);
    }
    static std::vector<uint32_t> palette_of(const image_record& r) {
        return r.palette ? std::vector<uint32_t>(r.palette, r.palette + 256) : std::vector<uint32_t>{};
    }
};

TEST_F(Colors, ForegroundAndBackgroundRangesByMode) {
    struct row {
        int32_t mode;
        int64_t fore_limit, back_limit;  // -1 = any value
    };
    const row rows[] = {{0, 31, 15},  {1, 15, -1},  {2, 1, 15},    {7, 15, 15},    {8, 15, 15},  {9, 15, 63},
                        {10, 3, 8},   {11, 1, 1},   {12, 15, 15},  {13, 255, 255}, {256, 255, 255}, {32, -1, -1}};
    for (const row& r : rows) {
        for (int32_t which : {1, 2}) {
            const int64_t limit = which == 1 ? r.fore_limit : r.back_limit;
            const std::vector<int64_t> refused = limit < 0 ? std::vector<int64_t>{} : std::vector<int64_t>{limit + 1, -1};
            for (int64_t value : refused) {
                image_record& d = dest(r.mode);
                const int32_t fore = d.fore_color;
                const uint32_t back = d.back_color;
                const std::vector<uint32_t> palette = palette_of(d);
                dest_colors_set(which == 1 ? int32_t(value) : 0, which == 2 ? int32_t(value) : 0, 0, which);
                EXPECT_EQ(raised(), 5) << "mode " << r.mode << " arg " << which << " value " << value;
                EXPECT_EQ(d.fore_color, fore);
                EXPECT_EQ(d.back_color, back);
                EXPECT_EQ(palette_of(d), palette);
            }
            dest(r.mode);
            dest_colors_set(which == 1 ? int32_t(limit) : 0, which == 2 ? int32_t(limit) : 0, 0, which);
            EXPECT_EQ(raised(), 0) << "mode " << r.mode << " arg " << which << " value " << limit;
        }
        dest(r.mode);
        dest_colors_set(1, 1, 0, 7);  // a third argument: only text mode takes one
        EXPECT_EQ(raised(), r.mode == 0 ? 0 : 5) << r.mode;
    }
}

TEST_F(Colors, WhereEachModePutsItsColours) {
    image_record& text = dest(0, 80, 25);
    dest_colors_set(31, 9, 0, 3);
    EXPECT_EQ(text.fore_color, 31);
    EXPECT_EQ(text.back_color, 1u);

    // The winding program's rule: in mode 9 the background is palette entry 0, from the EGA colours.
    image_record& ega = dest(9, 640, 350);
    dest_colors_set(14, 1, 0, 3);
    EXPECT_EQ(ega.fore_color, 14);
    EXPECT_EQ(ega.back_color, 0u);
    EXPECT_EQ(ega.palette[0], 0xFF0000AAu);
    dest_colors_set(0, 8, 0, 2);
    EXPECT_EQ(ega.palette[0], 0xFF000055u);

    image_record& cga = dest(1);
    dest_colors_set(1, 0, 0, 3);
    EXPECT_EQ(cga.palette[0], 0xFF0000AAu);  // blue
    EXPECT_EQ(std::vector<uint32_t>(cga.palette + 1, cga.palette + 4),
              (std::vector<uint32_t>{0xFF00AA00, 0xFFAA0000, 0xFFAA5500}));  // green, red, brown
    dest_colors_set(0, -3, 0, 2);
    EXPECT_EQ(std::vector<uint32_t>(cga.palette + 1, cga.palette + 4),
              (std::vector<uint32_t>{default_palette_256[3], default_palette_256[5], default_palette_256[7]}));
    EXPECT_EQ(cga.fore_color, 3);

    image_record& mono = dest(2);
    dest_colors_set(1, 4, 0, 3);
    EXPECT_EQ(mono.fore_color, 1);
    EXPECT_EQ(mono.palette[0], default_palette_256[4]);

    image_record& grey = dest(10);
    dest_colors_set(2, 5, 0, 3);
    EXPECT_EQ(grey.fore_color, 2);
    EXPECT_EQ(grey.palette[4], 5u);

    image_record& vga = dest(12);
    dest_colors_set(3, 4, 0, 3);
    EXPECT_EQ(vga.fore_color, 3);
    EXPECT_EQ(vga.back_color, 4u);

    image_record& deep = dest(32);
    dest_colors_set(int32_t(0x80FF0000), int32_t(0x12345678), 0, 3);
    EXPECT_EQ(uint32_t(deep.fore_color), 0x80FF0000u);
    EXPECT_EQ(deep.back_color, 0x12345678u);
    dest_colors_set(1, 2, 0, 0);  // nothing given: nothing changes
    EXPECT_EQ(deep.back_color, 0x12345678u);

    error_number = 5;
    dest_colors_set(1, 2, 0, 3);
    EXPECT_EQ(deep.back_color, 0x12345678u);
}

TEST_F(Colors, EverySixBitLevelWidens) {
    for (uint32_t c = 0; c < 64; ++c) {
        const uint32_t want = c == 63 ? 255 : c * 256 / 63;
        EXPECT_EQ(vga_color_to_entry(c), want << 16) << c;
        EXPECT_EQ(vga_color_to_entry(c << 8), want << 8) << c;
        EXPECT_EQ(vga_color_to_entry(c << 16), want) << c;
    }
    EXPECT_EQ(vga_color_to_entry(0x3F0000), 0x0000FFu);
    EXPECT_EQ(vga_color_to_entry(0x201001), 0x044182u);
}

TEST_F(Colors, PaletteAttributesByMode) {
    struct row {
        int32_t mode, attribute, colour;
        int32_t entry;  // -1: refused
        uint32_t value;
    };
    const row rows[] = {
        {12, 1, 0x3F0000, 1, 0x0000FF},          {12, 1, 0x400000, -1, 0},     {12, 16, 0, -1, 0},
        {12, 15, 0x3F3F3F, 15, 0xFFFFFF},       {11, 1, 0x00003F, 1, 0xFF0000}, {11, 2, 0, -1, 0},
        {13, 255, 0x000100, 255, 0x000400},     {13, -1, 0x01, 255, 0x040000}, {13, 256, 0x3F, 0, 0xFF0000},
        {256, 7, 0x10, 7, 0x410000},            {13, 0, -1, -1, 0},
        {0, 15, 63, 15, 0xFFFFFFFF},             {0, 16, 0, -1, 0},             {0, 3, 64, -1, 0},
        {9, 2, 20, 2, 0xFFAA5500},               {9, 2, -1, -1, 0},
        {1, 3, 15, 3, 0xFFFFFFFF},               {1, 3, 16, -1, 0},             {7, 15, 1, 15, 0xFF0000AA},
        {8, 16, 1, -1, 0},                       {2, 1, 14, 1, 0xFFFFFF55},     {2, 2, 14, -1, 0},
        {10, 3, 8, 7, 8},                        {10, 4, 0, -1, 0},             {10, 0, 9, -1, 0},
        {32, 0, 0, -1, 0},
    };
    for (const row& r : rows) {
        image_record& d = dest(r.mode);
        const std::vector<uint32_t> before = palette_of(d);
        palette_attribute_set(r.attribute, r.colour, 1);
        std::vector<uint32_t> want = before;
        if (r.entry >= 0) want[size_t(r.entry)] = r.value;
        EXPECT_EQ(raised(), r.entry < 0 ? 5 : 0) << "mode " << r.mode << " attribute " << r.attribute;
        EXPECT_EQ(palette_of(d), want) << "mode " << r.mode << " attribute " << r.attribute;
    }
    image_record& d = dest(12);
    palette_attribute_set(1, 0x3F0000, 1);
    palette_attribute_set(0, 0, 0);
    EXPECT_EQ(d.palette[1], default_palette_256[1]);
}

TEST_F(Colors, AttributesFromAnArray) {
    image_record& vga = dest(12);
    std::vector<int32_t> values(16);
    for (int i = 0; i < 16; ++i) values[size_t(i)] = i;  // i red
    values[3] = -1;                                      // kept
    const uint32_t kept = vga.palette[3];
    palette_attributes_load(values.data(), 64, 32);
    EXPECT_EQ(raised(), 0);
    EXPECT_EQ(vga.palette[2], vga_color_to_entry(2));
    EXPECT_EQ(vga.palette[3], kept);
    EXPECT_EQ(vga.palette[15], vga_color_to_entry(15));

    values[5] = -2;  // stops there: the entries before it stay changed
    values[4] = 0x3F;
    palette_attributes_load(values.data(), 64, 32);
    EXPECT_EQ(raised(), 5);
    EXPECT_EQ(vga.palette[4], 0xFF0000u);

    const int16_t shorts[16] = {};
    palette_attributes_load(shorts, 32, 16);  // mode 12 needs more than 16 bits
    EXPECT_EQ(raised(), 5);
    palette_attributes_load(values.data(), 63, 32);  // one byte short
    EXPECT_EQ(raised(), 5);

    // A text page has 16 attributes, not one per cell value.
    image_record& text = dest(0, 80, 25);
    const int16_t ega[16] = {1, -1, 63, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 7};
    const uint32_t second = text.palette[1];
    palette_attributes_load(ega, 32, 16);
    EXPECT_EQ(raised(), 0);
    EXPECT_EQ(text.palette[0], ega_palette_64[1]);
    EXPECT_EQ(text.palette[1], second);
    EXPECT_EQ(text.palette[2], ega_palette_64[63]);
    EXPECT_EQ(text.palette[15], ega_palette_64[7]);

    dest(32);
    palette_attributes_load(values.data(), 64, 32);
    EXPECT_EQ(raised(), 5);
}

TEST_F(Colors, DefaultColoursByMode) {
    struct row {
        int32_t mode;
        uint32_t fore, back;
    };
    const row rows[] = {{0, 7, 0},  {1, 3, 0},  {10, 3, 0},  {2, 1, 0},  {11, 1, 0}, {7, 15, 0},
                        {9, 15, 0}, {12, 15, 0}, {13, 15, 0}, {256, 15, 0}, {32, 0xFFFFFFFF, 0xFF000000}};
    for (const row& r : rows) {
        image_record& d = dest(r.mode);
        d.fore_color = 2;
        d.back_color = 3;
        d.draw_color = 4;
        error_number = 5;  // defaults are applied even with an error pending
        dest_colors_default();
        raised();
        EXPECT_EQ(uint32_t(d.fore_color), r.fore) << r.mode;
        EXPECT_EQ(d.back_color, r.back) << r.mode;
        EXPECT_EQ(d.draw_color, r.fore) << r.mode;
    }
}

TEST_F(Colors, NearestPaletteEntry) {
    image_record& d = dest(13);
    EXPECT_EQ(palette_nearest_dest(255, 255, 255), 15);  // the first exact match, not 31
    EXPECT_EQ(palette_nearest_dest(1, 1, 1), 0);
    EXPECT_EQ(color_from_rgb(0xAA, 0, 2, 0, 0), 4u);
    d.palette[200] = 0x0A141E;
    EXPECT_EQ(palette_nearest(10, 20, 30, dest_image_index), 200);
    EXPECT_EQ(palette_nearest(10, 20, 30, 99999), 0);  // no such slot

    image_record& text = dest(0, 80, 25);
    text.palette[20] = 0x0A141E;  // a text image looks at its 16 attribute colours only
    EXPECT_EQ(palette_nearest_dest(10, 20, 30), 0);
    text.palette[9] = 0x0A141F;
    EXPECT_EQ(palette_nearest_dest(10, 20, 30), 9);
}

TEST_F(Colors, ColourValuesAndComponents) {
    dest(32);
    EXPECT_EQ(color_from_rgb(300, -5, 128, 0, 0), 0xFFFF0080u);
    EXPECT_EQ(color_from_rgba(1, 2, 3, 4, 0, 0), 0x04010203u);
    EXPECT_EQ(color_from_rgba(1, 2, 3, 999, 0, 0), 0xFF010203u);
    EXPECT_EQ(color_alpha_get(0x80123456, 0, 0), 0x80u);
    EXPECT_EQ(color_red_get(0x80123456, 0, 0), 0x12u);
    EXPECT_EQ(color_green_get(0x80123456, 0, 0), 0x34u);
    EXPECT_EQ(color_blue_get(0x80123456, 0, 0), 0x56u);

    image_record& indexed = dest(13);
    const int32_t indexed_handle = dest_image_handle();
    indexed.clear_color = 5;
    EXPECT_EQ(color_from_rgba(255, 255, 255, 0, 0, 0), 5u);
    EXPECT_EQ(color_from_rgba(255, 255, 255, 1, 0, 0), 15u);
    EXPECT_EQ(color_alpha_get(5, 0, 0), 0u);
    EXPECT_EQ(color_alpha_get(6, 0, 0), 255u);
    EXPECT_EQ(color_alpha_get(300, 0, 0), 0u);
    EXPECT_EQ(raised(), 5);
    indexed.palette[6] = 0x00AB12CD;
    EXPECT_EQ(color_red_get(6, 0, 0), 0xABu);
    EXPECT_EQ(color_green_get(6, 0, 0), 0x12u);
    EXPECT_EQ(color_blue_get(6, 0, 0), 0xCDu);
    EXPECT_EQ(color_red_get(256, 0, 0), 0u);
    EXPECT_EQ(raised(), 5);
    indexed.clear_color = -1;
    EXPECT_EQ(color_from_rgba(255, 255, 255, 0, 0, 0), 15u);

    // Another image by handle; a bad handle is error 258.
    dest(32);
    EXPECT_EQ(color_red_get(6, indexed_handle, 1), 0xABu);
    EXPECT_EQ(color_red_get(6, -99999, 1), 0u);
    EXPECT_EQ(raised(), 258);

    // A text image's cell values reach far beyond its palette: the getters stay inside it.
    image_record& text = dest(0, 80, 25);
    text.palette[255] = 0x00010203;
    EXPECT_EQ(color_blue_get(255, 0, 0), 3u);
    EXPECT_EQ(color_blue_get(256, 0, 0), 0u);
    EXPECT_EQ(raised(), 5);
    EXPECT_EQ(color_alpha_get(0xFFFF, 0, 0), 0u);
    EXPECT_EQ(raised(), 5);

    error_number = 5;
    EXPECT_EQ(color_red_get(6, indexed_handle, 1), 0u);
}

}  // namespace
