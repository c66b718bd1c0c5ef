#include "screen/charmap.h"

#include <gtest/gtest.h>
#include <iconv.h>

#include <cstring>

#include "core/errors.h"

namespace {

// The PC's graphic symbols for codes 1-31.
constexpr uint16_t pc_symbols[32] = {0,      0x263A, 0x263B, 0x2665, 0x2666, 0x2663, 0x2660, 0x2022,
                                     0x25D8, 0x25CB, 0x25D9, 0x2642, 0x2640, 0x266A, 0x266B, 0x263C,
                                     0x25BA, 0x25C4, 0x2195, 0x203C, 0x00B6, 0x00A7, 0x25AC, 0x21A8,
                                     0x2191, 0x2193, 0x2192, 0x2190, 0x221F, 0x2194, 0x25B2, 0x25BC};

uint32_t iconv_code_point(uint8_t code) {
    iconv_t cd = iconv_open("UTF-32LE", "IBM437");
    EXPECT_NE(cd, reinterpret_cast<iconv_t>(-1));
    char in[1] = {static_cast<char>(code)};
    char out[4] = {};
    char* in_p = in;
    char* out_p = out;
    size_t in_left = 1, out_left = 4;
    size_t done = iconv(cd, &in_p, &in_left, &out_p, &out_left);
    iconv_close(cd);
    EXPECT_NE(done, size_t(-1)) << int(code);
    uint32_t u;
    std::memcpy(&u, out, 4);
    return u;
}

// The code point each code must map to.
uint32_t expected_code_point(int code) {
    if (code == 0 || code == 255) return 0x20;
    if (code < 32) return pc_symbols[code];
    if (code == 127) return 0x2302;
    return iconv_code_point(uint8_t(code));
}

struct CharacterMap : ::testing::Test {
    void SetUp() override {
        error_number = 0;
        cp437_map_reset();
    }
    void TearDown() override {
        error_number = 0;
        cp437_map_reset();
    }
};

TEST_F(CharacterMap, EveryCodeBothWays) {
    for (int code = 0; code < 256; ++code) {
        uint32_t want = expected_code_point(code);
        EXPECT_EQ(uint32_t(cp437_map_get(code)), want) << "code " << code;
        // Spaces come back as the first code mapped to a space.
        EXPECT_EQ(cp437_from_unicode(int32_t(want)), want == 0x20 ? 0 : code) << "code " << code;
    }
    EXPECT_EQ(cp437_map_get(0x10), 0x25BA);
    EXPECT_EQ(cp437_map_get(0x11), 0x25C4);
    EXPECT_EQ(cp437_map_get(0xE1), 0x00DF);
    EXPECT_EQ(error_number, 0);
}

TEST_F(CharacterMap, LookupsAndChanges) {
    EXPECT_EQ(cp437_from_unicode(0xE9), 130);
    EXPECT_EQ(cp437_from_unicode(0x4E00), 0);
    cp437_map_set(0x20AC, 128);
    EXPECT_EQ(cp437_from_unicode(0x20AC), 128);
    EXPECT_EQ(cp437_map_get(128), 0x20AC);
    EXPECT_EQ(error_number, 0);

    struct row {
        int32_t code_point, code;
    };
    for (row r : {row{-1, 1}, row{65536, 1}, row{0x41, 256}, row{0x41, -1}}) {
        cp437_map_set(r.code_point, r.code);
        EXPECT_EQ(error_number, 5) << r.code_point << " " << r.code;
        error_number = 0;
    }
    EXPECT_EQ(cp437_map_get(1), 0x263A);
    for (int32_t code : {256, -1}) {
        EXPECT_EQ(cp437_map_get(code), 0);
        EXPECT_EQ(error_number, 5);
        error_number = 0;
    }
    error_number = 9;
    cp437_map_set(0x41, 1);
    EXPECT_EQ(cp437_map_get(65), 0);
    error_number = 0;
    EXPECT_EQ(cp437_map_get(1), 0x263A);
}

TEST_F(CharacterMap, TextToUnicode) {
    const uint8_t text[3] = {72, 1, 255};
    uint16_t out16[8];
    std::memset(out16, 0xFF, sizeof(out16));
    EXPECT_EQ(text_to_unicode(1, text, 3, 16, out16), 6);
    const uint16_t want16[4] = {0x48, 0x263A, 0x20, 0};
    EXPECT_EQ(std::memcmp(out16, want16, sizeof(want16)), 0);

    const uint32_t units[2] = {0x1F600, 0x41};
    uint32_t out32[4];
    EXPECT_EQ(text_to_unicode(32, units, 7, 32, out32), 4);  // 7 bytes are one whole unit
    EXPECT_EQ(out32[0], 0x1F600u);
    EXPECT_EQ(out32[1], 0u);
    EXPECT_EQ(text_to_unicode(32, units, 8, 16, out16), 4);  // no surrogates: the low 16 bits
    EXPECT_EQ(out16[0], 0xF600);
    EXPECT_EQ(out16[1], 0x41);
    EXPECT_EQ(out16[2], 0);

    const uint16_t stop[3] = {0x41, 0, 0x42};
    EXPECT_EQ(text_to_unicode(16, stop, 6, 32, out32), 4);  // a zero unit ends the output
    EXPECT_EQ(out32[1], 0u);

    out32[0] = 0xDEAD;
    EXPECT_EQ(text_to_unicode(8, text, 3, 32, out32), 0);
    EXPECT_EQ(text_to_unicode(1, text, 3, 8, out32), 0);
    EXPECT_EQ(out32[0], 0xDEADu);
    EXPECT_EQ(int_plus_one(41), 42);
}

}  // namespace
