#include "screen/blend.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "screen/image_fixture.h"
#include "screen/pixels.h"

namespace {

// The channel blend as the runtime defines it: x = a/255 as a float, v = x*s + (1-x)*d in extended
// precision stored as a float, rounded to nearest with ties to even.
uint32_t blend_by_formula(uint32_t a, uint32_t s, uint32_t d) {
    auto x = static_cast<float>(static_cast<long double>(a) / 255);
    auto v = static_cast<float>(static_cast<long double>(x) * s + (1.0L - x) * d);
    return static_cast<uint32_t>(std::nearbyint(v));
}

uint32_t alpha_merge_by_formula(uint32_t a, uint32_t b) {
    auto fa = static_cast<float>(1.0L - static_cast<long double>(a) / 255);
    auto fb = static_cast<float>(1.0L - static_cast<long double>(b) / 255);
    auto p = static_cast<float>(fa * fb);
    auto v = static_cast<float>((1.0L - p) * 255.0L);
    return static_cast<uint32_t>(std::nearbyint(v));
}

TEST(Blend, EveryBlendEntryEqualsItsFormula) {
    for (uint32_t a = 0; a < 256; ++a)
        for (uint32_t s = 0; s < 256; ++s)
            for (uint32_t d = 0; d < 256; ++d)
                if (blend_table_entry(a, s, d) != blend_by_formula(a, s, d))
                    FAIL() << "a " << a << " s " << s << " d " << d;
}

TEST(Blend, EveryAlphaMergeEntryEqualsItsFormula) {
    for (uint32_t a = 0; a < 256; ++a)
        for (uint32_t b = 0; b < 256; ++b) {
            ASSERT_EQ(alpha_merge_entry(a, b), alpha_merge_by_formula(a, b)) << a << " " << b;
            ASSERT_EQ(alpha_merge_entry(a, b), alpha_merge_entry(b, a));
        }
}

// The pixel rule written channel by channel from the two tables.
uint32_t pixel_by_tables(uint32_t d, uint32_t c) {
    uint32_t a = c >> 24;
    if (a == 0) return d;
    if (a == 255) return c;
    if (a == 127 || a == 128) return alpha_merge_entry(a, d >> 24) << 24 | (((d & 0x00FEFEFE) + (c & 0x00FEFEFE)) >> 1);
    uint32_t v = alpha_merge_entry(d >> 24, a) << 24;
    for (int shift = 0; shift < 24; shift += 8) v |= blend_table_entry(a, c >> shift & 255, d >> shift & 255) << shift;
    return v;
}

// The span calls as the runtime makes them, then the loops of every vector level this processor
// runs, each checked on its own.
struct span_build_case {
    std::string name;
    blend_span_build build;
};
std::vector<span_build_case> span_builds_run_here() {
    std::vector<span_build_case> builds{{"the processor's own", {blend_span_color, blend_span}}};
    const vector_level own = vector_level_of_cpu();
    for (auto [level, name] : {std::pair{vector_level::baseline, "baseline"}, std::pair{vector_level::avx2, "avx2"},
                               std::pair{vector_level::x86_64_v4, "x86-64-v4"}})
        if (level <= own) builds.push_back({name, blend_span_build_of(level)});
    return builds;
}

// Every alpha over every (source, destination) channel pair, in all four channels at once, with
// the destination alpha varied too.
TEST(Blend, PixelAndSpanOfVaryingAlphaEqualTheTablesEverywhere) {
    std::vector<uint32_t> src(65536), dest(65536), want(65536);
    for (const span_build_case& c : span_builds_run_here()) {
        SCOPED_TRACE(c.name);
        for (uint32_t a = 0; a < 256; ++a) {
            for (uint32_t i = 0; i < 65536; ++i) {
                uint32_t s = i >> 8, d = i & 255;
                src[i] = a << 24 | s << 16 | (255 - s) << 8 | (s ^ 0x5A);
                dest[i] = (d ^ a) << 24 | d << 16 | (255 - d) << 8 | (d ^ 0xA5);
                want[i] = pixel_by_tables(dest[i], src[i]);
                ASSERT_EQ(blend_pixel(dest[i], src[i]), want[i]) << std::hex << src[i] << " over " << dest[i];
            }
            // An odd length and offset cover the wide path and the tail.
            c.build.image(dest.data() + 1, src.data() + 1, 65535);
            c.build.image(dest.data(), src.data(), 1);
            for (uint32_t i = 0; i < 65536; ++i)
                if (dest[i] != want[i]) FAIL() << "alpha " << a << " pixel " << i;
        }
    }
}

TEST(Blend, SpanOfOneColourEqualsTheTablesEverywhere) {
    std::vector<uint32_t> dest(65536), want(65536);
    for (const span_build_case& c : span_builds_run_here()) {
        SCOPED_TRACE(c.name);
        for (uint32_t a = 0; a < 256; ++a) {
            for (uint32_t s = 0; s < 256; s += 1) {
                uint32_t colour = a << 24 | s << 16 | (255 - s) << 8 | (s ^ 0x3C);
                for (uint32_t d = 0; d < 256; ++d) {
                    dest[d] = (d * 7 & 255) << 24 | d << 16 | (d ^ 0x77) << 8 | (255 - d);
                    want[d] = pixel_by_tables(dest[d], colour);
                }
                c.build.color(dest.data(), 255, colour);
                c.build.color(dest.data() + 255, 1, colour);
                for (uint32_t d = 0; d < 256; ++d)
                    if (dest[d] != want[d]) FAIL() << "colour " << std::hex << colour << " over " << d;
            }
        }
    }
}

// Every short length and the tails of longer ones: each pixel as blend_pixel gives it, and the
// pixels past the span untouched.
TEST(Blend, SpansOfEachShortLengthBlendTheirPixelsOnly) {
    std::mt19937 random(3);
    constexpr int32_t most = 40, guard = 8;
    for (const span_build_case& c : span_builds_run_here()) {
        SCOPED_TRACE(c.name);
        for (int32_t n = 1; n <= most; ++n) {
            std::vector<uint32_t> src(most + guard), dest(most + guard);
            for (uint32_t& p : src) p = uint32_t(random());
            for (uint32_t& p : dest) p = uint32_t(random());
            const uint32_t colour = uint32_t(random()) & 0x7FFFFFFF;  // never opaque: the blended path
            std::vector<uint32_t> by_image = dest, by_colour = dest;
            c.build.image(by_image.data(), src.data(), n);
            c.build.color(by_colour.data(), n, colour);
            for (int32_t i = 0; i < most + guard; ++i) {
                ASSERT_EQ(by_image[i], i < n ? blend_pixel(dest[i], src[i]) : dest[i]) << "n " << n << " pixel " << i;
                ASSERT_EQ(by_colour[i], i < n ? blend_pixel(dest[i], colour) : dest[i]) << "n " << n << " pixel " << i;
            }
        }
    }
}

// Only alpha 0 leaves every pixel as it was and only 255 stores every colour as it is, over every
// source and destination channel and every destination alpha: the span loops skip the blend for
// runs of those two alone.
TEST(Blend, OnlyAlphaZeroKeepsAndOnlyOpaqueStoresEveryPixel) {
    std::vector<uint32_t> keeping, storing;
    for (uint32_t a = 0; a < 256; ++a) {
        bool keeps = true, stores = true;
        for (uint32_t i = 0; i < 65536 && (keeps || stores); ++i) {
            const uint32_t s = i >> 8, d = i & 255;
            const uint32_t colour = a << 24 | s * 0x010101u, pixel = d * 0x01010101u;
            const uint32_t blended = pixel_by_tables(pixel, colour);
            keeps = keeps && blended == pixel;
            stores = stores && blended == colour;
        }
        if (keeps) keeping.push_back(a);
        if (stores) storing.push_back(a);
    }
    EXPECT_EQ(keeping, std::vector<uint32_t>{0});
    EXPECT_EQ(storing, std::vector<uint32_t>{255});
}

// Sources of sprite-like alpha (runs of 0 and 255, some with an edge alpha between, so that steps
// come transparent, opaque and both), of anti-aliased alpha (the runs entered through ramps of one
// to four alphas between, as soft edges are) and of random alpha, of every length up to thirteen
// steps and a pixel and at every alignment within a step: each pixel as blend_pixel gives it, and
// the pixels past the span untouched.
TEST(Blend, SpansOfSpriteSoftEdgedAndRandomAlphaEqualThePixelRule) {
    std::mt19937 random(5);
    constexpr int32_t lanes = 8, most = 13 * lanes + 1, guard = 8, longest_ramp = 4;
    auto colour = [&] { return uint32_t(random()) & 0xFFFFFF; };
    auto runs = [&](std::vector<uint32_t>& src, auto&& edge) {
        bool opaque = random() & 1;
        for (size_t i = 0; i < src.size();) {
            for (uint32_t run = 1 + random() % 70; run > 0 && i < src.size(); --run, ++i)
                src[i] = (opaque ? 0xFF000000u : 0) | colour();
            edge(src, i, opaque);
            opaque = !opaque;
        }
    };
    auto sprite_edge = [&](std::vector<uint32_t>& src, size_t& i, bool) {
        if (random() % 2 && i < src.size()) src[i++] = uint32_t(random());
    };
    auto ramp_edge = [&](std::vector<uint32_t>& src, size_t& i, bool opaque) {
        const uint32_t steps = 1 + random() % longest_ramp;
        for (uint32_t k = 1; k <= steps && i < src.size(); ++k, ++i) {
            const uint32_t rise = 255 * k / (steps + 1);
            src[i] = (opaque ? 255 - rise : rise) << 24 | colour();
        }
    };
    enum class alpha_kind { sprite, soft_edged, random };
    const std::pair<alpha_kind, const char*> kinds[] = {
        {alpha_kind::sprite, "sprite"}, {alpha_kind::soft_edged, "soft-edged"}, {alpha_kind::random, "random"}};
    for (const span_build_case& c : span_builds_run_here()) {
        SCOPED_TRACE(c.name);
        for (auto [kind, kind_name] : kinds) {
            for (int32_t offset = 0; offset < lanes; ++offset) {
                for (int32_t n = 1; n <= most; ++n) {
                    std::vector<uint32_t> src(size_t(offset + most + guard)), dest(src.size());
                    for (uint32_t& p : dest) p = uint32_t(random());
                    if (kind == alpha_kind::sprite) runs(src, sprite_edge);
                    else if (kind == alpha_kind::soft_edged) runs(src, ramp_edge);
                    else for (uint32_t& p : src) p = uint32_t(random());
                    std::vector<uint32_t> blended = dest;
                    c.build.image(blended.data() + offset, src.data() + offset, n);
                    for (size_t i = 0; i < dest.size(); ++i) {
                        const bool inside = int32_t(i) >= offset && int32_t(i) < offset + n;
                        ASSERT_EQ(blended[i], inside ? blend_pixel(dest[i], src[i]) : dest[i])
                            << kind_name << " offset " << offset << " n " << n << " pixel " << i;
                    }
                }
            }
        }
    }
}

TEST(Blend, SpanOfNothingTouchesNothing) {
    uint32_t p = 0x12345678;
    blend_span_color(&p, 0, 0x80FFFFFF);
    blend_span_color(&p, -3, 0xFFFFFFFF);
    blend_span(&p, &p, 0);
    EXPECT_EQ(p, 0x12345678u);
}

struct PixelWrite : image_test {};

TEST_F(PixelWrite, ThirtyTwoBitWritesBlendByAlpha) {
    struct row {
        uint32_t before, colour, after;
    };
    const row rows[] = {
        {0x11223344, 0x00FF0000, 0x11223344},  // alpha 0: nothing
        {0x11223344, 0xFFFF0000, 0xFFFF0000},  // opaque: stored
        {0xFF000000, 0x80FFFFFF, 0xFF7F7F7F},  // the halves drop each channel's lowest bit
        {0xFF000000, 0x7F0000FF, 0xFF00007F},
        {0xFF0000FF, 0x40FF0000, 0xFF4000BF},  // red 64, blue 191, alpha 255
        {0x00000000, 0x40FF0000, 0x40400000},
        {0x80102030, 0xC0405060, 0xE0344454},
    };
    int32_t slot = image_new(2, 2, 32);
    dest_image_select(-slot);
    auto* pixels = reinterpret_cast<uint32_t*>(dest_image->pixels);
    for (const row& r : rows) {
        pixels[3] = r.before;
        dest_pixel_write(1, 1, r.colour);
        EXPECT_EQ(pixels[3], r.after) << std::hex << r.colour << " over " << r.before;
    }
    dest_image->blend_off = 1;
    dest_pixel_write(0, 1, 0x00ABCDEF);
    EXPECT_EQ(pixels[2], 0x00ABCDEFu);
}

TEST_F(PixelWrite, PaletteWritesKeepTheMaskedBits) {
    struct row {
        int32_t mode;
        uint32_t colour;
        uint8_t stored;
    };
    const row rows[] = {{1, 6, 2}, {2, 3, 1}, {12, 0x1F, 15}, {13, 0x1FF, 0xFF}, {10, 7, 3}};
    for (const row& r : rows) {
        int32_t slot = image_new(4, 4, r.mode);
        dest_image_select(-slot);
        dest_pixel_write(3, 2, r.colour);
        EXPECT_EQ(dest_image->pixels[2 * 4 + 3], r.stored) << "mode " << r.mode;
    }
}

TEST_F(PixelWrite, TextImagesAreNotPixels) {
    int32_t slot = image_new(2, 1, 0);
    dest_image_select(-slot);
    dest_pixel_write(1, 0, 0xFFFFFFFF);  // a 4-byte write would run past the two cells
    const uint8_t blank[4] = {0x20, 0x07, 0x20, 0x07};
    EXPECT_EQ(std::memcmp(dest_image->pixels, blank, 4), 0);
}

}  // namespace
