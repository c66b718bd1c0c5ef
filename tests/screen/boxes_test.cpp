#include "screen/boxes.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include "screen/image_fixture.h"
#include "screen/pixels.h"
#include "screen/view.h"

namespace {

struct Boxes : image_test {
    static std::vector<uint8_t> bytes(const image_record& r) {
        return {r.pixels, r.pixels + image_pixel_bytes(&r)};
    }
    // The smallest rectangle holding every pixel that differs from 0, or x1 = -1 when none does.
    struct rect {
        int32_t x1, y1, x2, y2;
        bool operator==(const rect&) const = default;
    };
    static rect changed(const image_record& r) {
        rect b{-1, -1, -1, -1};
        int32_t count = 0;
        for (int32_t y = 0; y < r.height; ++y)
            for (int32_t x = 0; x < r.width; ++x)
                if (r.pixels[size_t(y) * r.width + size_t(x)]) {
                    if (!count++) b = {x, y, x, y};
                    b = {std::min(b.x1, x), std::min(b.y1, y), std::max(b.x2, x), std::max(b.y2, y)};
                }
        int32_t area = b.x1 < 0 ? 0 : (b.x2 - b.x1 + 1) * (b.y2 - b.y1 + 1);
        EXPECT_EQ(count, area) << "the filled pixels are not one rectangle";
        return b;
    }
};

// Every fill gives each pixel exactly what writing it alone would.
TEST_F(Boxes, SameAsWritingEachPixel) {
    struct kind {
        int32_t mode;
        uint8_t blend_off;
    };
    std::mt19937 random(7);
    for (kind k : {kind{13, 0}, kind{9, 0}, kind{32, 0}, kind{32, 1}}) {
        for (uint32_t alpha : {0u, 1u, 77u, 127u, 128u, 254u, 255u}) {
            SCOPED_TRACE(testing::Message() << "mode " << k.mode << " blend_off " << int(k.blend_off) << " alpha " << alpha);
            uint32_t colour = alpha << 24 | 0x3FA05C;
            for (int fill = 0; fill < 2; ++fill) {
                image_record& r = dest_new(13, 9, k.mode);
                r.blend_off = k.blend_off;
                for (size_t i = 0; i < image_pixel_bytes(&r); ++i) r.pixels[i] = uint8_t(random());
                image_record& ref = image_pool[image_new(13, 9, k.mode)];
                ref.blend_off = k.blend_off;
                std::memcpy(ref.pixels, r.pixels, image_pixel_bytes(&r));
                for (int32_t y = 1; y <= 7; ++y)
                    for (int32_t x = 2; x <= 10; ++x) image_pixel_write(&ref, x, y, colour);
                if (fill == 0) box_fill(10, 7, 2, 1, colour);  // corners in reverse order
                else dest_rect_fill(2, 1, 10, 7, colour);
                EXPECT_EQ(bytes(r), bytes(ref));
            }
        }
    }
}

TEST_F(Boxes, ClippedAtEveryEdge) {
    struct row {
        const char* name;
        bool view;  // clip box (5, 2)-(14, 7) instead of the whole 20 x 10 image
        float x1, y1, x2, y2;
        rect want;
    };
    const row rows[] = {
        {"inside", false, 3, 4, 6, 5, {3, 4, 6, 5}},
        {"one pixel", false, 19, 9, 19, 9, {19, 9, 19, 9}},
        {"past the left edge", false, -5, 2, 3, 4, {0, 2, 3, 4}},
        {"past the right edge", false, 15, 2, 40, 4, {15, 2, 19, 4}},
        {"past the top edge", false, 1, -3, 2, 0, {1, 0, 2, 0}},
        {"past the bottom edge", false, 1, 8, 2, 12, {1, 8, 2, 9}},
        {"over the whole image", false, -100, -100, 100, 100, {0, 0, 19, 9}},
        {"left of the image", false, -9, 0, -1, 9, {-1, -1, -1, -1}},
        {"right of the image", false, 20, 0, 30, 9, {-1, -1, -1, -1}},
        {"above the image", false, 0, -5, 19, -1, {-1, -1, -1, -1}},
        {"below the image", false, 0, 10, 19, 12, {-1, -1, -1, -1}},
        {"view: over it all", true, -100, -100, 100, 100, {5, 2, 14, 7}},
        {"view: past its left edge", true, -10, 1, 0, 2, {5, 3, 5, 4}},  // view origin (5, 2)
        {"view: past its right edge", true, 8, 0, 20, 0, {13, 2, 14, 2}},
        {"view: wholly left", true, -20, 0, -1, 5, {-1, -1, -1, -1}},
        {"view: wholly below", true, 0, 6, 9, 9, {-1, -1, -1, -1}},
        {"too large for 32 bits", false, 1e30f, 0, 3, 3, {0, 0, 3, 3}},
        {"NaN maps far left and up", true, NAN, NAN, 3, 3, {5, 2, 8, 5}},
    };
    for (const row& c : rows) {
        SCOPED_TRACE(c.name);
        dest_new(20, 10, 13);
        if (c.view) graphics_view_set(5, 2, 14, 7, 0, 0, 1);
        box_fill(c.x1, c.y1, c.x2, c.y2, 9);
        EXPECT_EQ(changed(*dest_image), c.want);
    }
}

TEST_F(Boxes, ClipBoxIsCutToTheImage) {
    image_record& r = dest_new(20, 10, 13);
    r.clip_x1 = 15;  // inverted: a width change can leave it so
    r.clip_x2 = 5;
    box_fill(0, 0, 19, 9, 9);
    EXPECT_EQ(changed(r), (rect{-1, -1, -1, -1}));
    r.clip_x1 = -40;
    r.clip_y1 = -3;
    r.clip_x2 = 1000;
    r.clip_y2 = 5;
    box_fill(-100, -100, 100, 100, 9);
    EXPECT_EQ(changed(r), (rect{0, 0, 19, 5}));
}

TEST_F(Boxes, RectFillLeavesOutWhatLiesOutside) {
    image_record& r = dest_new(10, 10, 13);
    dest_rect_fill(-5, -5, 3, 2, 9);
    EXPECT_EQ(changed(r), (rect{0, 0, 3, 2}));
    dest_rect_fill(8, 8, 30, 30, 0);
    dest_rect_fill(4, 4, 3, 3, 9);  // empty
    EXPECT_EQ(changed(r), (rect{0, 0, 3, 2}));
}

TEST_F(Boxes, ColourMaskAndTextImages) {
    image_record& r = dest_new(4, 4, 12);
    box_fill(0, 0, 3, 3, 0x1F);
    EXPECT_EQ(r.pixels[5], 15);
    image_record& text = dest_new(8, 4, 0);
    box_fill(0, 0, 7, 3, 0xFFFFFFFF);
    dest_rect_fill(0, 0, 7, 3, 0xFFFFFFFF);
    auto* cells = reinterpret_cast<const text_cell*>(text.pixels);
    for (int32_t i = 0; i < 32; ++i) ASSERT_EQ(cells[i].code | cells[i].attribute << 8, 0x0720);
}

}  // namespace
