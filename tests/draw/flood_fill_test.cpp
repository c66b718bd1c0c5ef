#include "draw/flood_fill.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "core/strings.h"
#include "screen/blend.h"
#include "draw_texts.h"
#include "screen/image_fixture.h"

namespace {

struct FloodFill : image_test {
    void SetUp() override {
        image_test::SetUp();
        flood_fill_reset(65536);
    }

    kept_strings text;

    struct box {
        int32_t x1, y1, x2, y2;
    };
    static void clip(image_record& r, box b) {
        r.clip_x1 = b.x1;
        r.clip_y1 = b.y1;
        r.clip_x2 = b.x2;
        r.clip_y2 = b.y2;
        r.coord_mode = 1;  // a view: the clip box bounds drawing, the origin stays (0, 0)
    }
    static uint32_t pixel(const image_record& r, int32_t x, int32_t y) {
        size_t i = size_t(y) * r.width + size_t(x);
        if (r.bytes_per_pixel == 4) return reinterpret_cast<const uint32_t*>(r.pixels)[i];
        return r.pixels[i];
    }
    static void pixel_put(image_record& r, int32_t x, int32_t y, uint32_t v) {
        size_t i = size_t(y) * r.width + size_t(x);
        if (r.bytes_per_pixel == 4) reinterpret_cast<uint32_t*>(r.pixels)[i] = v;
        else r.pixels[i] = static_cast<uint8_t>(v);
    }
    // The model: the pixels reached from the seed through orthogonal neighbours inside the box
    // without stepping on the border colour.
    static std::vector<bool> component(const image_record& r, box b, int32_t sx, int32_t sy, uint32_t border) {
        std::vector<bool> in(size_t(r.width) * r.height);
        std::function<void(int32_t, int32_t)> visit = [&](int32_t x, int32_t y) {
            if (x < b.x1 || x > b.x2 || y < b.y1 || y > b.y2) return;
            if (in[size_t(y) * r.width + size_t(x)] || pixel(r, x, y) == border) return;
            in[size_t(y) * r.width + size_t(x)] = true;
            visit(x - 1, y), visit(x + 1, y), visit(x, y - 1), visit(x, y + 1);
        };
        visit(sx, sy);
        return in;
    }
    // Rows of characters as pixels: '.' 0, '#' 1, digits themselves.
    static image_record& picture_new(std::initializer_list<const char*> rows) {
        int32_t h = int32_t(rows.size()), w = int32_t(std::strlen(*rows.begin()));
        image_record& r = dest_new(w, h, 13);
        int32_t y = 0;
        for (const char* row : rows) {
            for (int32_t x = 0; x < w; ++x) r.pixels[y * w + x] = row[x] == '.' ? 0 : row[x] == '#' ? 1 : row[x] - '0';
            ++y;
        }
        return r;
    }
    static std::string picture(const image_record& r) {
        std::string s;
        for (int32_t y = 0; y < r.height; ++y) {
            for (int32_t x = 0; x < r.width; ++x) {
                uint8_t v = r.pixels[size_t(y) * r.width + size_t(x)];
                s += v == 0 ? '.' : v == 1 ? '#' : char('0' + v);
            }
            s += '\n';
        }
        return s;
    }

    // Random images, borders, seeds and clip boxes: the fill changes exactly the model's pixels,
    // each to what paint_of gives for its old value and place.
    template <class Fill, class PaintOf>
    void against_model(int32_t mode, uint8_t blend_off, uint32_t seed_value, Fill run, PaintOf paint_of) {
        std::mt19937 random(seed_value);
        const uint32_t palette_8[] = {0, 1, 2, 3};
        const uint32_t palette_32[] = {0xFF000000, 0xFFFFFFFF, 0x80102030, 0x00000000};
        for (int round = 0; round < 300; ++round) {
            int32_t w = 1 + int32_t(random() % 64), h = 1 + int32_t(random() % 64);
            image_record& r = dest_new(w, h, mode);
            r.blend_off = blend_off;
            for (int32_t y = 0; y < h; ++y)
                for (int32_t x = 0; x < w; ++x) {
                    // Sparse borders: mostly open areas with walls of colour 1.
                    uint32_t k = random() % 10 < 6 ? 0 : random() % 4;
                    pixel_put(r, x, y, r.bytes_per_pixel == 4 ? palette_32[k] : palette_8[k]);
                }
            box b{int32_t(random() % w), int32_t(random() % h), 0, 0};
            b.x2 = b.x1 + int32_t(random() % (w - b.x1));
            b.y2 = b.y1 + int32_t(random() % (h - b.y1));
            if (random() % 3 == 0) b = {0, 0, w - 1, h - 1};
            clip(r, b);
            int32_t sx = int32_t(random() % w), sy = int32_t(random() % h);
            uint32_t border = r.bytes_per_pixel == 4 ? palette_32[1] : palette_8[1];
            bool seed_inside = sx >= b.x1 && sx <= b.x2 && sy >= b.y1 && sy <= b.y2;
            std::vector<bool> in = seed_inside ? component(r, b, sx, sy, border) : std::vector<bool>(size_t(w) * h);
            std::vector<uint32_t> before;
            for (int32_t y = 0; y < h; ++y)
                for (int32_t x = 0; x < w; ++x) before.push_back(pixel(r, x, y));
            run(float(sx), float(sy), border);
            ASSERT_EQ(raised(), 0);
            for (int32_t y = 0; y < h; ++y)
                for (int32_t x = 0; x < w; ++x) {
                    uint32_t old = before[size_t(y) * w + size_t(x)];
                    uint32_t want = in[size_t(y) * w + size_t(x)] ? paint_of(old, x, y) : old;
                    ASSERT_EQ(pixel(r, x, y), want) << "round " << round << " at " << x << "," << y << " size " << w
                                                    << "x" << h << " seed " << sx << "," << sy;
                }
            EXPECT_EQ(r.cursor_x, float(sx));
            EXPECT_EQ(r.cursor_y, float(sy));
        }
    }
};

TEST_F(FloodFill, PaintsTheModelsComponentOnPaletteImages) {
    for (size_t capacity : {size_t{65536}, size_t{1}}) {  // the second makes the lists grow often
        flood_fill_reset(capacity);
        against_model(
            13, 0, 11, [](float x, float y, uint32_t border) { paint_fill(x, y, 2, border, nullptr, 0x6); },
            [](uint32_t, int32_t, int32_t) { return 2u; });
    }
}

TEST_F(FloodFill, StoredAndBlendedFillsPaintEachReachedPixelOnce) {
    const uint32_t colours[] = {0x80FF4010, 0x7F00FF00, 0x4D123456, 0xFF0000FF};
    for (uint32_t colour : colours) {
        SCOPED_TRACE(colour);
        against_model(
            32, 0, colour, [=](float x, float y, uint32_t border) { paint_fill(x, y, colour, border, nullptr, 0x6); },
            [=](uint32_t old, int32_t, int32_t) { return blend_pixel(old, colour); });
        against_model(
            32, 1, colour, [=](float x, float y, uint32_t border) { paint_fill(x, y, colour, border, nullptr, 0x6); },
            [=](uint32_t, int32_t, int32_t) { return colour; });
    }
}

TEST_F(FloodFill, TiledFillPaintsEachPixelWithItsTilePixel) {
    const uint8_t tile_bytes[] = {0x12, 0xC3, 0x7E, 0x05, 0xFF, 0x00};
    string_descriptor* tile = text(std::string(tile_bytes, tile_bytes + sizeof tile_bytes));
    tile_pattern p = tile_pattern_decode(tile_bytes, sizeof tile_bytes, 8);
    against_model(
        13, 0, 5,
        [=](float x, float y, uint32_t border) { paint_tiled(x, y, tile, border, nullptr, tiled_tile_given | tiled_border_given); },
        [&](uint32_t, int32_t x, int32_t y) -> uint32_t { return p.pixel[y % p.tile_height][x % p.tile_width]; });
}

// The row-run walk against the generation walk as the reference, over random pictures of every
// depth: walls, filled and noisy areas, staircases and holes, often cut by the image's or the clip
// box's edges; seeds on walls and outside the box; each round three fills in a row on one picture
// (what one fill leaves in the walk's state must not change the next), compared pixel by pixel.
struct fill_call {
    float x, y;
    uint32_t paint, border, flags;
};
struct fill_outcome {
    std::vector<uint8_t> pixels;
    float cursor_x, cursor_y;
    uint32_t draw_color;
    int32_t error;
    bool operator==(const fill_outcome&) const = default;
};

int32_t side_of(std::mt19937& random) {
    const int32_t word_edges[] = {1, 2, 63, 64, 65, 127, 128, 129};  // the span walk keeps 64 columns a word
    return random() % 3 == 0 ? word_edges[random() % std::size(word_edges)] : 1 + int32_t(random() % 150);
}

// Shapes of the values given (the first is the background, the second the usual wall), cut to the image.
void random_picture_draw(image_record& r, std::mt19937& random, const std::vector<uint32_t>& values) {
    const int32_t w = r.width, h = r.height;
    auto put = [&](int32_t x, int32_t y, uint32_t v) {
        if (x < 0 || x >= w || y < 0 || y >= h) return;
        size_t i = size_t(y) * w + size_t(x);
        if (r.bytes_per_pixel == 4) reinterpret_cast<uint32_t*>(r.pixels)[i] = v;
        else r.pixels[i] = static_cast<uint8_t>(v);
    };
    auto pick = [&] { return random() % 2 ? values[1] : values[random() % values.size()]; };
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x) put(x, y, values[0]);
    for (int shapes = int(random() % 14); shapes > 0; --shapes) {
        int32_t x0 = int32_t(random() % (w + 10)) - 5, y0 = int32_t(random() % (h + 10)) - 5;
        int32_t x1 = x0 + int32_t(random() % (w + 1)), y1 = y0 + int32_t(random() % (h + 1));
        uint32_t v = pick();
        switch (random() % 5) {
            case 0:  // a wall round a box, with a gap now and then
                for (int32_t x = x0; x <= x1; ++x) put(x, y0, v), put(x, y1, v);
                for (int32_t y = y0; y <= y1; ++y) put(x0, y, v), put(x1, y, v);
                if (random() % 2) put(x0 + int32_t(random() % (x1 - x0 + 1)), y0, values[0]);
                break;
            case 1:  // a filled box
                for (int32_t y = y0; y <= y1; ++y)
                    for (int32_t x = x0; x <= x1; ++x) put(x, y, v);
                break;
            case 2:  // noise
                for (int32_t y = y0; y <= y1; ++y)
                    for (int32_t x = x0; x <= x1; ++x)
                        if (random() % 4 == 0) put(x, y, values[random() % values.size()]);
                break;
            case 3:  // a staircase
                for (int32_t k = 0; k <= x1 - x0; ++k) put(x0 + k, y0 + k, v);
                break;
            default:  // single-pixel holes
                for (int k = 0; k < 8; ++k) put(x0 + int32_t(random() % 9), y0 + int32_t(random() % 9), values[0]);
                break;
        }
    }
}

TEST_F(FloodFill, RowRunsPaintWhatTheGenerationsPaint) {
    struct depth {
        int32_t mode;
        uint8_t blend_off;
        std::vector<uint32_t> values;
    };
    // Palette values above the colour mask too: the page may hold any byte.
    const std::vector<uint32_t> palette = {0, 1, 2, 3, 0x13, 0xFF};
    const depth depths[] = {
        {2, 0, palette},  {1, 0, palette},  {12, 0, palette}, {13, 0, palette}, {256, 0, palette},
        {32, 0, {0xFF000000, 0xFFFFFFFF, 0x80102030, 0x00000000, 0x7F405060, 0x4D123456}},
        {32, 1, {0xFF000000, 0xFFFFFFFF, 0x80102030, 0x00000000, 0x7F405060, 0x4D123456}},
    };
    const uint32_t flag_sets[] = {0x6, 0x2, 0x0, 0x7, 0x4, 0x6};
    std::mt19937 random(4103);
    for (int round = 0; round < 2100; ++round) {
        const depth& d = depths[round % std::size(depths)];
        image_record& r = dest_new(side_of(random), side_of(random), d.mode);
        const int32_t w = r.width, h = r.height;
        r.blend_off = d.blend_off;
        random_picture_draw(r, random, d.values);
        box b{int32_t(random() % w), int32_t(random() % h), 0, 0};
        b.x2 = b.x1 + int32_t(random() % (w + 3)) - 2;  // past the image's edge, or inverted now and then
        b.y2 = b.y1 + int32_t(random() % (h + 3)) - 2;
        if (random() % 3 == 0) b = {0, 0, w - 1, h - 1};
        clip(r, b);
        // Mostly inside the clip box, else anywhere on the image or one pixel off it.
        auto place = [&](int32_t low, int32_t high, int32_t size) {
            high = std::min(high, size - 1);
            if (low <= high && random() % 4) return float(low + int32_t(random() % uint32_t(high - low + 1)));
            return float(random() % (size + 2)) - 1;
        };
        std::vector<fill_call> calls;
        for (int k = 0; k < 3; ++k) {
            fill_call c{place(b.x1, b.x2, w), place(b.y1, b.y2, h), d.values[random() % d.values.size()],
                        random() % 2 ? d.values[1] : d.values[random() % d.values.size()], flag_sets[random() % 6]};
            if (d.mode == 32 && random() % 2) c.paint = (c.paint & 0xFFFFFF) | uint32_t(random() % 256) << 24;
            if (random() % 4 == 0)  // a seed on a wall pixel, when one is found
                for (int tries = 0; tries < 20; ++tries) {
                    int32_t x = int32_t(random() % w), y = int32_t(random() % h);
                    if (pixel(r, x, y) == d.values[1]) {
                        c.x = float(x), c.y = float(y), c.flags &= ~fill_relative;
                        break;
                    }
                }
            if (c.flags & fill_relative) c.x /= 2, c.y /= 2;
            calls.push_back(c);
        }
        const std::vector<uint8_t> start(r.pixels, r.pixels + image_pixel_bytes(&r));
        auto run = [&](fill_walk walk) {
            std::memcpy(r.pixels, start.data(), start.size());
            r.cursor_x = r.cursor_y = 1;
            r.draw_color = 0;
            flood_fill_reset(round % 5 ? 65536 : 1, walk);
            for (const fill_call& c : calls) paint_fill(c.x, c.y, c.paint, c.border, nullptr, c.flags);
            return fill_outcome{std::vector<uint8_t>(r.pixels, r.pixels + start.size()), r.cursor_x, r.cursor_y,
                                r.draw_color, raised()};
        };
        fill_outcome want = run(fill_walk::generations);
        fill_outcome got = run(fill_walk::spans);
        ASSERT_TRUE(got == want) << "round " << round << " mode " << d.mode << " size " << w << "x" << h;
        image_free(dest_image_index);
    }
}

TEST_F(FloodFill, ADiagonalStaircaseHolds) {
    image_record& r = picture_new({"...#....", "..#.....", ".#......", "#......."});
    paint_fill(0, 0, 2, 1, nullptr, 0x6);
    EXPECT_EQ(picture(r), picture_rows({"222#....", "22#.....", "2#......", "#......."}));
}

TEST_F(FloodFill, OnlyTheBorderColourStops) {
    // Without a border the paint colour is the border; with one, areas of the paint colour are
    // flowed through and other colours painted over.
    image_record& r = picture_new({"..3..", "..3..", "33.33", "..3.."});
    paint_fill(0, 0, 3, 0, nullptr, 0x2);
    EXPECT_EQ(picture(r), picture_rows({"333..", "333..", "33.33", "..3.."}));
    paint_fill(4, 3, 2, 5, nullptr, 0x6);
    EXPECT_EQ(picture(r), picture_rows({"22222", "22222", "22222", "22222"}));
}

TEST_F(FloodFill, ASeedOnTheBorderOrOutsideTheClipBoxPaintsNothing) {
    image_record& r = picture_new({"..#..", "..#.."});
    std::string before = picture(r);
    paint_fill(2, 1, 4, 1, nullptr, 0x6);
    EXPECT_EQ(picture(r), before);
    EXPECT_EQ(r.draw_color, 4u);  // the cursor and the drawing colour move all the same
    EXPECT_EQ(r.cursor_x, 2.0f);
    clip(r, {0, 0, 1, 1});
    paint_fill(3, 0, 5, 1, nullptr, 0x6);
    EXPECT_EQ(picture(r), before);
    EXPECT_EQ(r.draw_color, 5u);
    EXPECT_EQ(r.cursor_x, 3.0f);
    paint_fill(-1e30f, 0, 5, 1, nullptr, 0x6);  // maps to no pixel at all
    EXPECT_EQ(picture(r), before);
}

TEST_F(FloodFill, TheClipBoxBoundsTheFill) {
    image_record& r = picture_new({".....", ".....", ".....", "....."});
    clip(r, {1, 1, 3, 2});
    paint_fill(2, 2, 2, 1, nullptr, 0x6);
    EXPECT_EQ(picture(r), picture_rows({".....", ".222.", ".222.", "....."}));
    // An inverted clip box or one off the image draws nothing.
    clip(r, {3, 1, 1, 2});
    paint_fill(2, 1, 4, 1, nullptr, 0x6);
    clip(r, {3, 1, 70, 200});
    paint_fill(4, 3, 5, 1, nullptr, 0x6);
    EXPECT_EQ(picture(r), picture_rows({".....", ".2255", ".2255", "...55"}));
}

TEST_F(FloodFill, RelativeSeedDefaultColourAndMask) {
    image_record& r = dest_new(6, 1, 12);  // 16 colours: foreground 15, mask 15
    r.cursor_x = 1;
    paint_fill(2, 0, 0, 0, nullptr, 0x1);
    EXPECT_EQ(r.cursor_x, 3.0f);
    EXPECT_EQ(r.pixels[0], 15);
    EXPECT_EQ(r.draw_color, 15u);
    paint_fill(0, 0, 0x23, 0x1F, nullptr, 0x6);  // both masked: paint 3, border 15
    EXPECT_EQ(r.pixels[0], 15);
    EXPECT_EQ(r.draw_color, 3u);
    r.pixels[5] = 4;
    paint_fill(5, 0, 0x23, 0x24, nullptr, 0x6);  // border 4: the seed stops it
    EXPECT_EQ(r.pixels[5], 4);
}

TEST_F(FloodFill, ErrorsChangeNothing) {
    image_record& r = dest_new(4, 4, 13);
    r.cursor_x = 1;
    r.draw_color = 9;
    paint_fill(0, 0, 2, 1, text("x"), 0xE);
    EXPECT_EQ(raised(), 5);
    EXPECT_EQ(r.cursor_x, 1.0f);
    EXPECT_EQ(r.draw_color, 9u);
    EXPECT_EQ(r.pixels[0], 0);
    error_number = 7;  // a pending error: nothing happens
    paint_fill(0, 0, 2, 1, nullptr, 0x6);
    EXPECT_EQ(raised(), 7);
    EXPECT_EQ(r.pixels[0], 0);
    dest_new(4, 4, 0);
    paint_fill(0, 0, 2, 1, nullptr, 0x6);
    EXPECT_EQ(raised(), 5);
}

TEST_F(FloodFill, BlendedFillWithAlphaZeroChangesNoPixel) {
    image_record& r = dest_new(5, 5, 32);
    std::vector<uint8_t> before(r.pixels, r.pixels + image_pixel_bytes(&r));
    paint_fill(2, 2, 0x00FFFFFF, 0x12345678, nullptr, 0x6);
    EXPECT_EQ(std::vector<uint8_t>(r.pixels, r.pixels + image_pixel_bytes(&r)), before);
    EXPECT_EQ(r.draw_color, 0x00FFFFFFu);
}

TEST_F(FloodFill, TheVisitedMapGrowsAndIsClearAfterwards) {
    image_record& big = dest_new(1024, 768, 13);
    paint_fill(500, 500, 2, 1, nullptr, 0x6);
    EXPECT_EQ(big.pixels[0], 2);
    EXPECT_EQ(big.pixels[1024 * 768 - 1], 2);
    // A second fill of the same image and one of a smaller image reach everything again.
    paint_fill(0, 0, 3, 1, nullptr, 0x6);
    EXPECT_EQ(big.pixels[1024 * 768 - 1], 3);
    image_record& small = dest_new(320, 200, 13);
    paint_fill(10, 10, 4, 1, nullptr, 0x6);
    for (size_t i = 0; i < 320 * 200; ++i) ASSERT_EQ(small.pixels[i], 4);
}

TEST_F(FloodFill, TilePatternsOfEveryDepth) {
    const uint8_t bytes[] = {0xA5, 0x3C, 0xF0, 0x0F, 0x81};
    tile_pattern one = tile_pattern_decode(bytes, 2, 1);
    EXPECT_EQ(one.tile_width, 8);
    EXPECT_EQ(one.tile_height, 2);
    const uint8_t row0[] = {1, 0, 1, 0, 0, 1, 0, 1};
    for (int c = 0; c < 8; ++c) EXPECT_EQ(one.pixel[0][c], row0[c]) << c;
    tile_pattern two = tile_pattern_decode(bytes, 1, 2);  // 0xA5 = 10 10 01 01
    EXPECT_EQ(two.tile_width, 4);
    const uint8_t groups[] = {2, 2, 1, 1};
    for (int c = 0; c < 4; ++c) EXPECT_EQ(two.pixel[0][c], groups[c]) << c;
    // Four planes per row; a short last row reads its missing planes as 0.
    tile_pattern four = tile_pattern_decode(bytes, 5, 4);
    EXPECT_EQ(four.tile_height, 2);
    // column 0: bit 7 of A5, 3C, F0, 0F = 1, 0, 1, 0 -> 5; column 2: 1, 1, 1, 0 -> 7
    EXPECT_EQ(four.pixel[0][0], 5);
    EXPECT_EQ(four.pixel[0][2], 7);
    EXPECT_EQ(four.pixel[1][0], 1);  // 0x81 alone in plane 0
    EXPECT_EQ(four.pixel[1][1], 0);
    tile_pattern eight = tile_pattern_decode(bytes, 3, 8);
    EXPECT_EQ(eight.tile_width, 1);
    EXPECT_EQ(eight.tile_height, 3);
    EXPECT_EQ(eight.pixel[2][0], 0xF0);
}

TEST_F(FloodFill, BackgroundValues) {
    struct background_case {
        std::vector<uint8_t> bytes;
        int32_t bits, want;
    };
    const background_case cases[] = {
        {{0}, 1, 0},          {{255}, 1, 1},       {{7}, 1, -1},          {{0x55}, 2, 1},
        {{0xFF, 9}, 2, 3},    {{0x54}, 2, -1},     {{255, 0, 255}, 4, 5}, {{255, 255, 255, 255}, 4, 15},
        {{255, 1}, 4, -1},    {{0x42}, 8, 0x42},
    };
    for (const background_case& c : cases)
        EXPECT_EQ(tile_background_value(c.bytes.data(), int32_t(c.bytes.size()), c.bits), c.want)
            << c.bits << " bits, first byte " << int(c.bytes[0]);
}

TEST_F(FloodFill, TiledSeedAndErrors) {
    image_record& r = dest_new(8, 2, 13);
    r.pixels[0] = '4';
    string_descriptor* four = text("4");
    // The seed already shows its tile pixel: nothing happens, unless that pixel is the background.
    paint_tiled(0, 0, four, 9, nullptr, tiled_tile_given | tiled_border_given);
    EXPECT_EQ(r.pixels[1], 0);
    EXPECT_EQ(r.cursor_x, 0.0f);
    r.pixels[15] = 9;
    paint_tiled(0, 0, four, 9, text("4"), 0xF);
    EXPECT_EQ(raised(), 0);
    EXPECT_EQ(r.pixels[1], '4');
    EXPECT_EQ(r.pixels[14], '4');
    EXPECT_EQ(r.pixels[15], 9);
    // Without a border the foreground colour (15) is the border.
    r.pixels[3] = 15;
    r.pixels[4] = 0;
    paint_tiled(5, 0, text("7"), 0, nullptr, tiled_tile_given | tiled_relative);
    EXPECT_EQ(r.cursor_x, 5.0f);
    EXPECT_EQ(r.pixels[3], 15);
    for (int i : {0, 4, 5, 15}) EXPECT_EQ(r.pixels[i], '7') << i;

    struct error_case {
        string_descriptor* tile;
        string_descriptor* background;
        uint32_t flags;
    };
    const error_case errors[] = {
        {four, nullptr, 0x0},                     // no tile flag
        {nullptr, nullptr, 0x2},                  // no tile
        {text(""), nullptr, 0x2},                 // empty tile
        {text(std::string(65, 'x')), nullptr, 0x2},  // too long for 8 bits
        {four, text(""), 0xA},                    // empty background
        {four, text(std::string(256, 'b')), 0xA},
    };
    for (const error_case& e : errors) {
        paint_tiled(0, 0, e.tile, 0, e.background, e.flags);
        EXPECT_EQ(raised(), 5) << e.flags;
    }
    EXPECT_EQ(r.pixels[1], '7');
    dest_new(4, 4, 12);  // 4 bits: up to 256 bytes
    paint_tiled(0, 0, text(std::string(256, 'x')), 0, nullptr, 0x2);
    EXPECT_EQ(raised(), 0);
    dest_new(4, 4, 32);
    paint_tiled(0, 0, four, 0, nullptr, 0x2);
    EXPECT_EQ(raised(), 5);
}

}  // namespace
