#include "draw/image_copy.h"

#include <gtest/gtest.h>
#include <pixman.h>

#include <cmath>

#include "draw/copy_rows.h"
#include "draw/draw_images.h"
#include "screen/pixels.h"

namespace {

struct ImageCopy : draw_image_test {
    // The whole source onto the whole destination (no corners), by handles.
    static void copy_whole(const image_record& from, const image_record& to) {
        image_rect_copy(0, 0, 0, 0, handle_of(from), handle_of(to), 0, 0, 0, 0, copy_source_given | copy_dest_given);
    }
    // Both rectangles given in pixels.
    static void copy_rect(const image_record& from, const image_record& to, double dx1, double dy1, double dx2,
                          double dy2, double sx1, double sy1, double sx2, double sy2, int32_t extra = 0) {
        image_rect_copy(dx1, dy1, dx2, dy2, handle_of(from), handle_of(to), sx1, sy1, sx2, sy2,
                        copy_source_given | copy_dest_given | copy_dest_first | copy_dest_second | copy_source_first |
                            copy_source_second | extra);
    }
    // The source coordinates a coordinates_image pixel carries, or (-1, -1) for 0.
    static std::pair<int32_t, int32_t> source_at(const image_record& r, int32_t x, int32_t y) {
        uint32_t v = at(r, x, y);
        if (v == 0) return {-1, -1};
        return {int32_t(v >> 8 & 0xFF), int32_t(v & 0xFF)};
    }
    // pixman's SRC composite of a 32-bit source scaled to w x h with nearest filtering.
    static std::vector<uint32_t> pixman_nearest(const image_record& s, int32_t w, int32_t h) {
        std::vector<uint32_t> out(size_t(w) * h);
        pixman_image_t* src = pixman_image_create_bits(PIXMAN_a8r8g8b8, s.width, s.height,
                                                       reinterpret_cast<uint32_t*>(s.pixels), s.width * 4);
        pixman_image_t* dst = pixman_image_create_bits(PIXMAN_a8r8g8b8, w, h, out.data(), w * 4);
        pixman_transform_t t;
        pixman_transform_init_scale(&t, pixman_double_to_fixed(double(s.width) / w),
                                    pixman_double_to_fixed(double(s.height) / h));
        pixman_image_set_transform(src, &t);
        pixman_image_set_filter(src, PIXMAN_FILTER_NEAREST, nullptr, 0);
        pixman_image_composite32(PIXMAN_OP_SRC, src, nullptr, dst, 0, 0, 0, 0, 0, 0, w, h);
        pixman_image_unref(src);
        pixman_image_unref(dst);
        return out;
    }
    static std::vector<uint32_t> words(const image_record& r) {
        std::vector<uint32_t> out(size_t(r.width) * r.height);
        std::memcpy(out.data(), r.pixels, out.size() * 4);
        return out;
    }
};

TEST_F(ImageCopy, OneToOneRowsAreTheSourceRows) {
    for (int32_t bytes_per_pixel : {1, 4}) {
        SCOPED_TRACE(bytes_per_pixel);
        image_record& from = image(7, 5, bytes_per_pixel);
        image_record& to = image(20, 10, bytes_per_pixel);
        from.blend_off = 1;
        randomise(from);
        randomise(to);
        std::vector<uint8_t> want = bytes(to);
        size_t bpp = size_t(bytes_per_pixel);
        for (int32_t y = 0; y < 4; ++y)  // source rows 1-4, columns 2-6 at (11, 3)
            std::memcpy(want.data() + (size_t(3 + y) * 20 + 11) * bpp, from.pixels + (size_t(1 + y) * 7 + 2) * bpp,
                        5 * bpp);
        copy_rect(from, to, 11, 3, 15, 6, 2, 1, 6, 4);
        EXPECT_EQ(bytes(to), want);
    }
}

TEST_F(ImageCopy, IntegerUpScalesMatchPixmanNearest) {
    const struct {
        int32_t w, h, kx, ky;
    } cases[] = {{4, 4, 2, 2}, {5, 3, 3, 3}, {3, 4, 4, 2}, {6, 5, 1, 3}};
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.w << "x" << c.h << " by " << c.kx << "," << c.ky);
        image_record& from = image(c.w, c.h, 4);
        from.blend_off = 1;
        randomise(from);
        image_record& to = image(c.w * c.kx, c.h * c.ky, 4);
        copy_whole(from, to);
        EXPECT_EQ(words(to), pixman_nearest(from, to.width, to.height));
    }
}

TEST_F(ImageCopy, EightOntoFourTakesColumnsZeroTwoFiveSeven) {
    image_record& from = coordinates_image(8, 8);
    image_record& to = image(4, 4, 4);
    copy_whole(from, to);
    const int32_t taken[] = {0, 2, 5, 7};
    for (int32_t y = 0; y < 4; ++y)
        for (int32_t x = 0; x < 4; ++x) EXPECT_EQ(source_at(to, x, y), std::make_pair(taken[x], taken[y]));
}

TEST_F(ImageCopy, PaletteExpansionMatchesPixmanIndexed) {
    image_record& from = image(16, 9, 1);
    randomise(from);
    // Entries written as VGA levels carry alpha 0; the copy stores them opaque.
    for (int i = 0; i < 256; ++i) from.palette[i] = uint32_t(random()) & (i % 2 ? 0x00FFFFFF : 0xFFFFFFFF);
    pixman_indexed_t indexed{};
    for (int i = 0; i < 256; ++i) indexed.rgba[i] = from.palette[i] | 0xFF000000;
    image_record& to = image(16, 9, 4);
    std::vector<uint32_t> want(16 * 9);
    pixman_image_t* src = pixman_image_create_bits(PIXMAN_c8, 16, 9, reinterpret_cast<uint32_t*>(from.pixels), 16);
    pixman_image_set_indexed(src, &indexed);
    pixman_image_t* dst = pixman_image_create_bits(PIXMAN_a8r8g8b8, 16, 9, want.data(), 16 * 4);
    pixman_image_composite32(PIXMAN_OP_SRC, src, nullptr, dst, 0, 0, 0, 0, 0, 0, 16, 9);
    pixman_image_unref(src);
    pixman_image_unref(dst);

    from.clear_color = -1;
    copy_whole(from, to);
    EXPECT_EQ(words(to), want);

    // With a transparent index its pixels keep what the destination held.
    from.clear_color = from.pixels[0];
    randomise(to);
    std::vector<uint32_t> before = words(to);
    copy_whole(from, to);
    for (size_t i = 0; i < want.size(); ++i)
        ASSERT_EQ(words(to)[i], from.pixels[i] == from.clear_color ? before[i] : want[i]) << i;
}

TEST_F(ImageCopy, EightBitTransparentIndexIsSkipped) {
    image_record& from = image(6, 4, 1);
    image_record& to = image(6, 4, 1);
    randomise(to);
    for (size_t i = 0; i < 24; ++i) from.pixels[i] = uint8_t(i % 3);  // no colour mask: index 200 stays 200
    from.pixels[23] = 200;
    from.clear_color = 0;
    std::vector<uint8_t> before = bytes(to);
    copy_whole(from, to);
    for (size_t i = 0; i < 24; ++i) ASSERT_EQ(to.pixels[i], from.pixels[i] == 0 ? before[i] : from.pixels[i]) << i;
}

TEST_F(ImageCopy, BlendedCopyEqualsPixelWrites) {
    // One to one, mirrored and resampled, all blending each pixel as a pixel write would.
    image_record& from = image(9, 7, 4);
    randomise(from);
    const uint8_t alphas[] = {0, 1, 77, 127, 128, 254, 255};
    for (size_t i = 0; i < 63; ++i) from.pixels[i * 4 + 3] = alphas[i % 7];
    struct shape {
        const char* name;
        double dx1, dy1, dx2, dy2;
    } shapes[] = {{"one to one", 2, 1, 10, 7}, {"mirrored", 10, 7, 2, 1}, {"resampled", 0, 0, 19, 12}};
    for (const shape& s : shapes) {
        SCOPED_TRACE(s.name);
        image_record& to = image(20, 13, 4);
        randomise(to);
        image_record& ref = image(20, 13, 4);
        std::memcpy(ref.pixels, to.pixels, image_pixel_bytes(&to));
        image_record& probe = image(20, 13, 4);  // where each source pixel lands, unblended
        copy_rect(coordinates_image(9, 7), probe, s.dx1, s.dy1, s.dx2, s.dy2, 0, 0, 8, 6);
        copy_rect(from, to, s.dx1, s.dy1, s.dx2, s.dy2, 0, 0, 8, 6);
        for (int32_t y = 0; y < 13; ++y)
            for (int32_t x = 0; x < 20; ++x)
                if (auto [sx, sy] = source_at(probe, x, y); sx >= 0) image_pixel_write(&ref, x, y, at(from, sx, sy));
        EXPECT_EQ(bytes(to), bytes(ref));
    }
}

TEST_F(ImageCopy, DefaultsOfMissingCorners) {
    constexpr int32_t d1 = copy_dest_first, d2 = copy_dest_second, s1 = copy_source_first, s2 = copy_source_second;
    const struct row {
        const char* name;
        int32_t flags;
        copy_corners given;
        copy_corners want;
        copy_transfer transfer;
    } rows[] = {
        {"both rectangles, same size", d1 | d2 | s1 | s2, {2, 1, 9, 6, 0, 0, 7, 5}, {2, 1, 9, 6, 0, 0, 7, 5},
         copy_transfer::one_to_one},
        {"both rectangles, mirrored size", d1 | d2 | s1 | s2, {9, 6, 2, 1, 0, 0, 7, 5}, {9, 6, 2, 1, 0, 0, 7, 5},
         copy_transfer::one_to_one},
        {"both rectangles, other size", d1 | d2 | s1 | s2, {2, 1, 5, 6, 0, 0, 7, 5}, {2, 1, 5, 6, 0, 0, 7, 5},
         copy_transfer::resampled},
        {"destination and a source corner", d1 | d2 | s1, {6, 3, 2, 1, 1, 1, 0, 0}, {6, 3, 2, 1, 1, 1, 5, 3},
         copy_transfer::one_to_one},
        {"destination of the source's size", d1 | d2, {0, 0, 7, 5, 0, 0, 0, 0}, {0, 0, 7, 5, 0, 0, 7, 5},
         copy_transfer::one_to_one},
        {"destination of another size", d1 | d2, {0, 0, 15, 11, 0, 0, 0, 0}, {0, 0, 15, 11, 0, 0, 7, 5},
         copy_transfer::resampled},
        {"source and a destination corner", d1 | s1 | s2, {5, 5, 0, 0, 4, 3, 1, 1}, {5, 5, 8, 7, 4, 3, 1, 1},
         copy_transfer::one_to_one},
        {"source of the destination's size", s1 | s2, {0, 0, 0, 0, 0, 0, 19, 9}, {0, 0, 19, 9, 0, 0, 19, 9},
         copy_transfer::one_to_one},
        {"source of another size", s1 | s2, {0, 0, 0, 0, 0, 0, 3, 3}, {0, 0, 19, 9, 0, 0, 3, 3},
         copy_transfer::resampled},
        {"a first source corner alone", s1, {0, 0, 0, 0, 1, 1, 0, 0}, {0, 0, 0, 0, 1, 1, 0, 0},
         copy_transfer::refused},
        {"a first destination corner alone", d1, {3, 4, 0, 0, 0, 0, 0, 0}, {3, 4, 10, 9, 0, 0, 7, 5},
         copy_transfer::one_to_one},
        {"no corners", 0, {}, {0, 0, 19, 9, 0, 0, 7, 5}, copy_transfer::resampled},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.name);
        copy_corners c = r.given;
        EXPECT_EQ(copy_defaults_apply(c, r.flags, 20, 10, 8, 6), r.transfer);
        EXPECT_EQ(std::vector<int64_t>({c.dx1, c.dy1, c.dx2, c.dy2, c.sx1, c.sy1, c.sx2, c.sy2}),
                  std::vector<int64_t>({r.want.dx1, r.want.dy1, r.want.dx2, r.want.dy2, r.want.sx1, r.want.sy1,
                                        r.want.sx2, r.want.sy2}));
    }
    copy_corners same{};
    EXPECT_EQ(copy_defaults_apply(same, 0, 8, 6, 8, 6), copy_transfer::one_to_one);
}

TEST_F(ImageCopy, CursorsMoveBeforeAnyCornerIsTested) {
    image_record& from = coordinates_image(8, 6);
    image_record& to = image(20, 10, 4);
    int32_t s = handle_of(from), d = handle_of(to);
    constexpr int32_t handles = copy_source_given | copy_dest_given;
    const struct row {
        const char* name;
        double dx1, dy1, dx2, dy2, sx1, sy1, sx2, sy2;
        int32_t flags;
        float dest_x, dest_y, source_x, source_y;
        int32_t error;
    } rows[] = {
        {"no corners", 0, 0, 0, 0, 0, 0, 0, 0, 0, 20, 10, 8, 6, 0},
        {"first destination corner", 3, 2, 0, 0, 0, 0, 0, 0, copy_dest_first, 11, 8, 8, 6, 0},
        {"second destination corner", 3, 2, 9.5, 7.25, 0, 0, 0, 0, copy_dest_first | copy_dest_second, 9.5, 7.25,
         8, 6, 0},
        {"both source corners", 3, 2, 0, 0, 1, 1, 5.7, -2.5, copy_dest_first | copy_source_first | copy_source_second,
         7, 5, 5.7f, -2.5f, 0},
        {"relative forms", 1, 1, 2, 2, 1, 1, 2, 2,
         copy_dest_first | copy_dest_first_relative | copy_dest_second | copy_dest_second_relative |
             copy_source_first | copy_source_first_relative | copy_source_second | copy_source_second_relative,
         5, 5, 4, 4, 0},
        {"a first source corner alone", 0, 0, 0, 0, 1, 1, 0, 0, copy_source_first, 20, 10, 8, 6, 5},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.name);
        to.cursor_x = to.cursor_y = 2;
        from.cursor_x = from.cursor_y = 1;
        image_rect_copy(r.dx1, r.dy1, r.dx2, r.dy2, s, d, r.sx1, r.sy1, r.sx2, r.sy2, r.flags | handles);
        EXPECT_EQ(raised(), r.error);
        EXPECT_EQ(to.cursor_x, r.dest_x);
        EXPECT_EQ(to.cursor_y, r.dest_y);
        EXPECT_EQ(from.cursor_x, r.source_x);
        EXPECT_EQ(from.cursor_y, r.source_y);
    }
    // The first corner alone places the whole source there, one to one.
    image_record& fresh = image(20, 10, 4);
    image_rect_copy(3, 2, 0, 0, s, handle_of(fresh), 0, 0, 0, 0, copy_dest_first | handles);
    for (int32_t y = 0; y < 10; ++y)
        for (int32_t x = 0; x < 20; ++x) {
            bool inside = x >= 3 && x < 11 && y >= 2 && y < 8;
            ASSERT_EQ(source_at(fresh, x, y), inside ? std::make_pair(x - 3, y - 2) : std::make_pair(-1, -1));
        }
}

TEST_F(ImageCopy, ReversedCornersMirror) {
    image_record& from = coordinates_image(11, 10);
    image_record& to = image(11, 10, 4);
    image_rect_copy(10, 0, 0, 9, handle_of(from), handle_of(to), 0, 0, 0, 0,
                    copy_source_given | copy_dest_given | copy_dest_first | copy_dest_second);
    for (int32_t x = 0; x < 11; ++x) EXPECT_EQ(source_at(to, x, 4), std::make_pair(10 - x, 4));
    // Both rectangles reversed on the same axis: no mirroring.
    image_record& again = image(11, 10, 4);
    copy_rect(from, again, 10, 0, 0, 9, 10, 0, 0, 9);
    EXPECT_EQ(bytes(again), bytes(from));
    // A one-pixel-wide rectangle never mirrors.
    image_record& column = image(11, 10, 4);
    copy_rect(from, column, 4, 9, 4, 0, 6, 0, 6, 9);
    for (int32_t y = 0; y < 10; ++y) EXPECT_EQ(source_at(column, 4, y), std::make_pair(6, 9 - y));
}

TEST_F(ImageCopy, ClippedPixelsShowWhatTheyShowUnclipped) {
    // The same copy onto a small image and, shifted, onto a large one that holds it whole.
    image_record& from = coordinates_image(8, 6);
    const struct row {
        const char* name;
        double dx1, dy1, dx2, dy2;
        int32_t flags;
    } rows[] = {
        {"one to one, left and top", -3, -2, 4, 3, copy_dest_first | copy_dest_second},
        {"one to one, mirrored in x", 4, -2, -3, 3, copy_dest_first | copy_dest_second},
        {"one to one, mirrored in y", 12, 8, 19, 3, copy_dest_first | copy_dest_second},
        {"resampled over all edges", -7, -3, 22, 12, copy_dest_first | copy_dest_second},
        {"resampled, mirrored", 22, 12, -7, -3, copy_dest_first | copy_dest_second},
        {"resampled down, right and bottom", 14, 7, 17, 9, copy_dest_first | copy_dest_second},
        {"first corner only, past the left", -5, 6, 0, 0, copy_dest_first},
    };
    constexpr int32_t shift_x = 20, shift_y = 15;
    for (const row& r : rows) {
        SCOPED_TRACE(r.name);
        image_record& small = image(16, 10, 4);
        image_record& large = image(60, 40, 4);
        int32_t h = copy_source_given | copy_dest_given;
        image_rect_copy(r.dx1, r.dy1, r.dx2, r.dy2, handle_of(from), handle_of(small), 0, 0, 0, 0, r.flags | h);
        image_rect_copy(r.dx1 + shift_x, r.dy1 + shift_y, r.dx2 + shift_x, r.dy2 + shift_y, handle_of(from),
                        handle_of(large), 0, 0, 0, 0, r.flags | h);
        ASSERT_NE(bytes(small), std::vector<uint8_t>(image_pixel_bytes(&small), 0));
        for (int32_t y = 0; y < 10; ++y)
            for (int32_t x = 0; x < 16; ++x)
                ASSERT_EQ(at(small, x, y), at(large, x + shift_x, y + shift_y)) << x << "," << y;
    }
}

TEST_F(ImageCopy, SingleDestinationPixelTakesTheFirstSourcePosition) {
    image_record& from = coordinates_image(8, 6);
    image_record& to = image(10, 10, 4);
    copy_rect(from, to, 5, 5, 5, 5, 2, 3, 6, 5);
    EXPECT_EQ(source_at(to, 5, 5), std::make_pair(2, 3));
    image_record& none = image(10, 10, 4);
    copy_rect(from, none, 5, 5, 5, 5, 8, 3, 9, 5);  // first position right of the source
    EXPECT_EQ(bytes(none), std::vector<uint8_t>(400, 0));
}

TEST_F(ImageCopy, Errors) {
    image_record& a = image(4, 4, 4);
    image_record& b = image(4, 4, 1);
    image_record& text = image_pool[image_new(4, 4, 0)];
    constexpr int32_t h = copy_source_given | copy_dest_given;
    const struct row {
        const char* name;
        int32_t source, destination, error;
    } rows[] = {
        {"the same image", handle_of(a), handle_of(a), 5},
        {"32-bit onto 8-bit", handle_of(a), handle_of(b), 5},
        {"a text source", handle_of(text), handle_of(a), 5},
        {"a text destination", handle_of(b), handle_of(text), 5},
        {"a free slot", -4000, handle_of(a), 258},
        {"the most negative handle", INT32_MIN, handle_of(a), 258},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.name);
        std::vector<uint8_t> before = bytes(a);
        image_rect_copy(0, 0, 0, 0, r.source, r.destination, 0, 0, 0, 0, h);
        EXPECT_EQ(raised(), r.error);
        EXPECT_EQ(bytes(a), before);
    }
    // A pending error: nothing happens, not even the cursors.
    error_number = 5;
    a.cursor_x = 1;
    image_rect_copy(0, 0, 0, 0, handle_of(b), handle_of(a), 0, 0, 0, 0, h);
    EXPECT_EQ(a.cursor_x, 1.0f);
    EXPECT_EQ(raised(), 5);
}

TEST_F(ImageCopy, HardwareSourceQueuesARectangleCommand) {
    int32_t source = hardware_image(16, 8);
    int32_t target = hardware_image(32, 32);
    image_record& page = image(4, 4, 4);
    std::vector<uint8_t> before = bytes(page);

    // Layer 1, corners reversed and unclipped, smoothing asked.
    image_rect_copy(40, -3, 2, 7, source, 1, 15, 0, 0, 7,
                    copy_dest_first | copy_dest_second | copy_source_first | copy_source_second | copy_smooth);
    // A hardware image as destination, the whole source at its first corner.
    image_rect_copy(5, 6, 0, 0, source, target, 0, 0, 0, 0, copy_dest_first);
    // Errors queue nothing.
    image_rect_copy(0, 0, 0, 0, source, 2, 0, 0, 0, 0, 0);
    EXPECT_EQ(raised(), 5);
    image_rect_copy(0, 0, 0, 0, source, -3, 0, 0, 0, 0, 0);
    EXPECT_EQ(raised(), 258);
    image_rect_copy(0, 0, 0, 0, source, 0, 1, 1, 0, 0, copy_source_first);
    EXPECT_EQ(raised(), 5);

    std::vector<render_command> c = queued();
    ASSERT_EQ(c.size(), 2u);
    EXPECT_EQ(c[0].kind, render_rect_copy);
    EXPECT_EQ(c[0].source, source - hardware_img_handle_base);
    EXPECT_EQ(c[0].destination, render_layer_1);
    EXPECT_EQ(std::vector<float>({c[0].dest_x1, c[0].dest_y1, c[0].dest_x2, c[0].dest_y2}),
              std::vector<float>({40, -3, 2, 7}));
    EXPECT_EQ(std::vector<float>({c[0].source_x1, c[0].source_y1, c[0].source_x2, c[0].source_y2}),
              std::vector<float>({15, 0, 0, 7}));
    EXPECT_EQ(c[0].smooth, 1);
    EXPECT_EQ(c[0].blend, 1);
    EXPECT_EQ(c[0].frame, 1);
    EXPECT_EQ(c[1].destination, target - hardware_img_handle_base);
    EXPECT_EQ(std::vector<float>({c[1].dest_x1, c[1].dest_y1, c[1].dest_x2, c[1].dest_y2}),
              std::vector<float>({5, 6, 20, 13}));
    EXPECT_EQ(c[1].smooth, 0);
    EXPECT_EQ(bytes(page), before);
}

TEST_F(ImageCopy, HardwareCursorsAndBlending) {
    int32_t source = hardware_image(16, 8);
    int32_t other = hardware_image(4, 4);
    int32_t target = hardware_image(32, 32);
    // Every hardware destination shares one cursor, every hardware source another.
    image_rect_copy(1, 2, 9, 9, source, target, 0, 0, 3, 3,
                    copy_dest_first | copy_dest_second | copy_source_first | copy_source_second);
    image_rect_copy(1, 1, 0, 0, other, hardware_image(8, 8), 1, 1, 1, 1,
                    copy_dest_first | copy_dest_first_relative | copy_source_first | copy_source_first_relative |
                        copy_source_second | copy_source_second_relative);
    std::vector<render_command> c = queued();
    ASSERT_EQ(c.size(), 2u);
    EXPECT_EQ(std::vector<float>({c[1].dest_x1, c[1].dest_y1, c[1].source_x1, c[1].source_y1, c[1].source_x2,
                                  c[1].source_y2}),
              std::vector<float>({10, 10, 4, 4, 5, 5}));

    // Blending off on the source, the destination image, or the displayed image for a layer.
    hardware_img_from_handle(target)->no_blend = 1;
    image_rect_copy(0, 0, 0, 0, source, target, 0, 0, 0, 0, 0);
    display_image.load()->blend_off = 1;
    image_rect_copy(0, 0, 0, 0, source, 0, 0, 0, 0, 0, 0);
    display_image.load()->blend_off = 0;
    image_rect_copy(0, 0, 0, 0, source, 0, 0, 0, 0, 0, 0);
    c = queued();
    ASSERT_EQ(c.size(), 5u);
    EXPECT_EQ(c[2].blend, 0);
    EXPECT_EQ(c[3].blend, 0);
    EXPECT_EQ(c[4].blend, 1);
    EXPECT_EQ(c[4].destination, render_layer_0);
}

TEST_F(ImageCopy, FreedHardwareSourceIsAnInvalidHandle) {
    int32_t source = hardware_image(4, 4);
    ASSERT_TRUE(hardware_img_free_request(source));
    size_t before = queued().size();
    image_rect_copy(0, 0, 0, 0, source, 0, 0, 0, 0, 0, 0);
    EXPECT_EQ(raised(), 258);
    EXPECT_EQ(queued().size(), before);
}

// Random flags, corners far out and tiny images of every pixel size: no read or write outside an
// image (the sanitizer builds check), no undefined conversion.
// Resampled blended rows through the processor's column blend equal those gathered into a row and
// blended through blend_span, the way a processor without it blends them: random scales up and
// down, mirrored, cut by the destination's edges, over alphas that take every rule of the blend.
TEST_F(ImageCopy, ColumnBlendEqualsGatheredRowsThroughBlendSpan) {
    const columns_blend columns = columns_blend_of_cpu();
    if (!columns) GTEST_SKIP() << "the processor has no x86-64-v4 build";
    const uint8_t alphas[] = {0, 1, 77, 127, 128, 200, 254, 255};
    std::uniform_int_distribution<int32_t> size(1, 90), pick(0, 255);
    for (int trial = 0; trial < 3000; ++trial) {
        const int32_t sw = size(random), sh = size(random) / 2 + 1, dw = size(random), dh = size(random) / 2 + 1;
        image_record& from = image(sw, sh, 4);
        randomise(from);
        for (size_t i = 0; i < size_t(sw) * sh; ++i) from.pixels[i * 4 + 3] = alphas[pick(random) % 8];
        image_record& vector_rows = image(dw, dh, 4);
        randomise(vector_rows);
        image_record& plain_rows = image(dw, dh, 4);
        std::memcpy(plain_rows.pixels, vector_rows.pixels, image_pixel_bytes(&vector_rows));
        // Destination corners up to a third of the image past either edge, source corners inside.
        auto corner = [&](int32_t n) { return std::uniform_int_distribution<int64_t>(-n / 3 - 1, n + n / 3)(random); };
        auto inside = [&](int32_t n) { return std::uniform_int_distribution<int64_t>(0, n - 1)(random); };
        const copy_axis x = copy_axis_resampled(corner(dw), corner(dw), inside(sw), inside(sw), dw, sw);
        const copy_axis y = copy_axis_resampled(corner(dh), corner(dh), inside(sh), inside(sh), dh, sh);
        if (!x.empty() && !y.empty()) {
            copy_rows_transfer(&vector_rows, &from, x, y, columns);
            copy_rows_transfer(&plain_rows, &from, x, y, nullptr);
            ASSERT_EQ(bytes(vector_rows), bytes(plain_rows))
                << "trial " << trial << ": " << sw << "x" << sh << " onto " << dw << "x" << dh;
        }
        for (image_record* r : {&from, &vector_rows, &plain_rows}) image_free(-handle_of(*r));
    }
}

TEST_F(ImageCopy, RandomCopiesStayInsideTheirImages) {
    std::uniform_int_distribution<int32_t> size(1, 7), flag_bits(0, 0x7FF), pick(0, 5);
    auto coordinate = [&] {
        switch (pick(random)) {
            case 0: return std::uniform_real_distribution<double>(-1e9, 1e9)(random);
            case 1: return double(INT32_MIN) - 0.5;
            case 2: return std::nan("");
            default: return std::uniform_real_distribution<double>(-10, 10)(random);
        }
    };
    for (int i = 0; i < 20000; ++i) {
        int32_t source_bytes = pick(random) < 3 ? 1 : 4;
        int32_t dest_bytes = source_bytes == 4 || pick(random) < 3 ? 4 : 1;
        image_record& from = image(size(random), size(random), source_bytes);
        image_record& to = image(size(random), size(random), dest_bytes);
        from.blend_off = uint8_t(pick(random) == 0);
        from.clear_color = pick(random) < 2 ? 3 : -1;
        to.cursor_x = float(coordinate());
        image_rect_copy(coordinate(), coordinate(), coordinate(), coordinate(), handle_of(from), handle_of(to),
                        coordinate(), coordinate(), coordinate(), coordinate(),
                        flag_bits(random) | copy_source_given | copy_dest_given);
        error_number = 0;
        image_free(-handle_of(from));
        image_free(-handle_of(to));
    }
}

}  // namespace
