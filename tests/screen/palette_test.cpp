#include "screen/palette.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <fstream>
#include <iterator>
#include <vector>

#include "screen/image_fixture.h"

namespace {

// The VGA BIOS's own tables: 256 default colours, then 64 EGA colours, as 6-bit RGB triplets.
std::vector<uint8_t> bios_palettes() {
    std::ifstream in(LUMO_TEST_DATA "/vga_palettes.bin", std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

uint32_t widened(const uint8_t* rgb) {
    auto level = [](uint8_t v) { return uint32_t(std::lround(v * 255.0 / 63.0)); };
    return 0xFF000000u | level(rgb[0]) << 16 | level(rgb[1]) << 8 | level(rgb[2]);
}

using Palettes = image_test;

TEST_F(Palettes, DefaultTablesEqualTheBiosTables) {
    std::vector<uint8_t> bios = bios_palettes();
    ASSERT_EQ(bios.size(), 960u);
    for (int i = 0; i < 256; ++i) EXPECT_EQ(default_palette_256[i], widened(&bios[size_t(i) * 3])) << "entry " << i;
    for (int i = 0; i < 64; ++i) EXPECT_EQ(ega_palette_64[i], widened(&bios[768 + size_t(i) * 3])) << "EGA " << i;
    EXPECT_EQ(default_palette_256[6], 0xFFAA5500u);
    EXPECT_EQ(default_palette_256[15], 0xFFFFFFFFu);
}

TEST_F(Palettes, ModeTenLevels) {
    const uint32_t want[18] = {0, 0, 0, 0x808080, 0x808080, 0x808080, 0xFFFFFF, 0xFFFFFF, 0xFFFFFF,
                               0, 0x808080, 0xFFFFFF, 0, 0x808080, 0xFFFFFF, 0, 0x808080, 0xFFFFFF};
    for (int i = 0; i < 18; ++i) EXPECT_EQ(mode10_level_table[i], want[i]) << i;
}

TEST_F(Palettes, FreshImagesHoldTheirModesDefaults) {
    const std::vector<uint32_t> cga16(default_palette_256, default_palette_256 + 16);
    const std::vector<uint32_t> ega_screen = {
        0xFF000000, 0xFF0000AA, 0xFF00AA00, 0xFF00AAAA, 0xFFAA0000, 0xFFAA00AA, 0xFFAA5500, 0xFFAAAAAA,
        0xFF555555, 0xFF5555FF, 0xFF55FF55, 0xFF55FFFF, 0xFFFF5555, 0xFFFF55FF, 0xFFFFFF55, 0xFFFFFFFF};
    struct row {
        int32_t mode;
        std::vector<uint32_t> first;  // the entries the mode sets; every later one stays 0
    };
    const row rows[] = {
        {0, cga16},
        {1, {0xFF000000, 0xFF00AAAA, 0xFFAA00AA, 0xFFAAAAAA}},
        {2, {0x00000000, 0x00FFFFFF}},
        {7, cga16},
        {8, cga16},
        {9, ega_screen},
        {10, {0, 0, 0, 0, 0, 4, 6, 8}},
        {11, {0x00000000, 0x00FFFFFF}},
        {12, cga16},
        {13, std::vector<uint32_t>(default_palette_256, default_palette_256 + 256)},
        {256, std::vector<uint32_t>(default_palette_256, default_palette_256 + 256)},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.mode);
        image_record& image = image_pool[image_new(8, 8, r.mode)];
        ASSERT_NE(image.palette, nullptr);
        EXPECT_TRUE(image.image_flags & image_owns_palette);
        for (size_t i = 0; i < 256; ++i) EXPECT_EQ(image.palette[i], i < r.first.size() ? r.first[i] : 0) << i;
    }
    EXPECT_EQ(image_pool[image_new(8, 8, 32)].palette, nullptr);
}

TEST_F(Palettes, EntryAccess) {
    int32_t slot = image_new(8, 8, 2);
    dest_image_select(-slot);
    EXPECT_EQ(palette_entry_get(1, 0, 0), 0xFFFFFFFFu);
    EXPECT_EQ(dest_image->palette[1], 0x00FFFFFFu);
    palette_entry_set(255, 0x12345678, -slot, 1);
    EXPECT_EQ(dest_image->palette[255], 0x12345678u);
    EXPECT_EQ(palette_entry_get(255, -slot, 1), 0xFF345678u);
    EXPECT_EQ(raised(), 0);

    int32_t truecolour = image_new(2, 2, 32);
    struct row {
        const char* what;
        int32_t i, handle, given, error;
    };
    const row rows[] = {
        {"index 256", 256, 0, 0, 5},
        {"index -1", -1, 0, 0, 5},
        {"no palette", 0, -truecolour, 1, 5},
        {"bad handle", 0, -(truecolour + 1), 1, 258},
        {"hardware handle", 0, -16777216, 1, 258},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.what);
        EXPECT_EQ(palette_entry_get(r.i, r.handle, r.given), 0u);
        EXPECT_EQ(raised(), r.error);
        palette_entry_set(r.i, 7, r.handle, r.given);
        EXPECT_EQ(raised(), r.error);
    }
    error_number = 9;
    EXPECT_EQ(palette_entry_get(1, 0, 0), 0u);
    palette_entry_set(1, 7, 0, 0);
    error_number = 0;
    EXPECT_EQ(dest_image->palette[1], 0x00FFFFFFu);
}

TEST_F(Palettes, CopyTakesSourceAndDestinationUnlessHandlesAreGiven) {
    int32_t a = image_new(4, 4, 13);
    int32_t b = image_new(4, 4, 12);
    int32_t c = image_new(4, 4, 2);
    int32_t t = image_new(4, 4, 32);
    source_image_select(-a);
    dest_image_select(-b);
    palette_copy(0, 0, 0);
    EXPECT_EQ(std::memcmp(image_pool[b].palette, default_palette_256, 1024), 0);

    palette_copy(-c, 0, 1);
    EXPECT_EQ(image_pool[b].palette[1], 0x00FFFFFFu);
    EXPECT_EQ(image_pool[b].palette[2], 0u);
    palette_copy(0, -c, 2);
    EXPECT_EQ(image_pool[c].palette[200], default_palette_256[200]);

    image_pool[a].palette[0] = 0x123456;
    palette_copy(-a, -t, 3);  // the first image is tested first, then the second
    EXPECT_EQ(raised(), 5);
    palette_copy(-t, -(t + 1), 3);
    EXPECT_EQ(raised(), 5);
    palette_copy(-(t + 1), -t, 3);
    EXPECT_EQ(raised(), 258);
    palette_copy(-a, -(t + 1), 3);
    EXPECT_EQ(raised(), 258);
    EXPECT_EQ(image_pool[c].palette[0], 0xFF000000u);
}

}  // namespace
