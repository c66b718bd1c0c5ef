#include "draw/graphics_arrays.h"

#include <gtest/gtest.h>
#include <sys/mman.h>

#include "core/byte_span.h"
#include "draw/draw_images.h"

namespace {

struct GraphicsArrays : draw_image_test {
    std::vector<uint8_t> memory = std::vector<uint8_t>(4096, 0xEE);
    byte_span span{};

    const byte_span* span_of(uint8_t* p, int64_t length) {
        byte_span_set(byte_span_low(p), byte_span_high(p), int32_t(length), &span);
        return &span;
    }
    const byte_span* whole() { return span_of(memory.data(), int64_t(memory.size())); }
    // An image of the mode made both the source and the destination.
    image_record& selected(int32_t width, int32_t height, int32_t mode) {
        int32_t slot = image_new(width, height, mode);
        source_image_select(-slot);
        dest_image_select(-slot);
        return image_pool[slot];
    }
    std::vector<uint8_t> got(size_t n) const { return {memory.begin(), memory.begin() + std::ptrdiff_t(n)}; }
};

TEST_F(GraphicsArrays, LayoutsByteForByte) {
    // 1 bit: 10 x 2, two bytes a row, the last 6 bits 0.
    image_record& one = selected(12, 2, 2);
    for (int32_t x = 0; x < 12; ++x) put(one, x, 0, x % 3 == 0), put(one, x, 1, 1);
    graphics_array_get(0, 0, 9, 1, whole(), 0, 0);
    EXPECT_EQ(got(8), std::vector<uint8_t>({10, 0, 2, 0, 0b10010010, 0b01000000, 0b11111111, 0b11000000}));

    // 2 bits: 5 x 1 has the width field 10, the fifth pixel in bits 7-6 of the second byte.
    image_record& two = selected(6, 1, 1);
    const uint8_t twos[] = {1, 2, 3, 0, 2, 3};
    for (int32_t x = 0; x < 6; ++x) put(two, x, 0, twos[x]);
    graphics_array_get(0, 0, 4, 0, whole(), 0, 0);
    EXPECT_EQ(got(6), std::vector<uint8_t>({10, 0, 1, 0, 0b01101100, 0b10000000}));
    image_record& back = selected(6, 1, 1);
    graphics_array_put(1, 0, whole(), array_action_copy, 0, 0);
    for (int32_t x = 0; x < 5; ++x) EXPECT_EQ(at(back, x + 1, 0), twos[x]);

    // 4 bits: colours 1, 2, 15 give four planes.
    image_record& four = selected(3, 1, 12);
    put(four, 0, 0, 1), put(four, 1, 0, 2), put(four, 2, 0, 15);
    graphics_array_get(0, 0, 2, 0, whole(), 0, 0);
    EXPECT_EQ(got(8), std::vector<uint8_t>({3, 0, 1, 0, 0b10100000, 0b01100000, 0b00100000, 0b00100000}));

    // 8 bits: the width field is eight times the width; a field not a multiple of 8 is refused.
    image_record& eight = selected(3, 1, 13);
    put(eight, 0, 0, 7), put(eight, 1, 0, 200), put(eight, 2, 0, 255);
    graphics_array_get(0, 0, 2, 0, whole(), 0, 0);
    EXPECT_EQ(got(7), std::vector<uint8_t>({24, 0, 1, 0, 7, 200, 255}));
    memory[0] = 20;
    graphics_array_put(0, 0, whole(), array_action_copy, 0, 0);
    EXPECT_EQ(raised(), 5);

    // 32 bits: words.
    image_record& words = selected(2, 1, 32);
    put(words, 0, 0, 0x11223344), put(words, 1, 0, 0xAABBCCDD);
    graphics_array_get(0, 0, 1, 0, whole(), 0, 0);
    EXPECT_EQ(got(12), std::vector<uint8_t>({2, 0, 1, 0, 0x44, 0x33, 0x22, 0x11, 0xDD, 0xCC, 0xBB, 0xAA}));
}

TEST_F(GraphicsArrays, GetThenPutRestoresEveryDepth) {
    for (int32_t mode : {2, 1, 12, 13, 32}) {
        SCOPED_TRACE(mode);
        image_record& r = selected(23, 9, mode);
        randomise(r);
        for (size_t i = 0; i < image_pixel_bytes(&r) && r.bytes_per_pixel == 1; ++i) r.pixels[i] &= r.color_mask;
        graphics_array_get(3, 1, 19, 7, whole(), 0, 0);
        std::vector<uint8_t> want = bytes(r);
        image_record& copy = selected(23, 9, mode);
        std::memcpy(copy.pixels, want.data(), want.size());
        for (int32_t y = 1; y <= 7; ++y)
            for (int32_t x = 3; x <= 19; ++x) put(copy, x, y, 0);
        graphics_array_put(3, 1, whole(), array_action_copy, 0, 0);
        EXPECT_EQ(bytes(copy), want);
        // Exclusive or twice leaves the image as it was.
        graphics_array_put(5, 0, whole(), array_action_xor, 0, 0);
        EXPECT_NE(bytes(copy), want);
        graphics_array_put(5, 0, whole(), array_action_xor_again, 0, 0);
        EXPECT_EQ(bytes(copy), want);
    }
}

TEST_F(GraphicsArrays, Actions) {
    const struct row {
        uint32_t action, want;
    } rows[] = {{0, 0b0110}, {1, 0b0101}, {2, 0b1010}, {3, 0b0001}, {4, 0b0111}, {5, 0b0110}, {7, 0b0011}};
    for (const row& c : rows) {
        SCOPED_TRACE(c.action);
        image_record& r = selected(1, 1, 12);
        put(r, 0, 0, 0b0101);
        graphics_array_get(0, 0, 0, 0, whole(), 0, 0);
        put(r, 0, 0, 0b0011);
        graphics_array_put(0, 0, whole(), c.action, 0, 0);
        EXPECT_EQ(raised(), 0);
        EXPECT_EQ(at(r, 0, 0), c.want);
    }
}

TEST_F(GraphicsArrays, SpanLengths) {
    image_record& r = selected(10, 4, 13);
    randomise(r);
    const int64_t need = 4 + 3 * 10;
    graphics_array_get(0, 0, 9, 2, span_of(memory.data(), need - 1), 0, 0);
    EXPECT_EQ(raised(), 5);
    EXPECT_EQ(memory[0], 0xEE);  // nothing written
    graphics_array_get(0, 0, 9, 2, span_of(memory.data(), need), 0, 0);
    EXPECT_EQ(raised(), 0);
    EXPECT_EQ(memory[need], 0xEE);
    std::vector<uint8_t> before = bytes(r);
    graphics_array_put(0, 1, span_of(memory.data(), need - 1), array_action_xor, 0, 0);
    EXPECT_EQ(raised(), 5);
    graphics_array_put(0, 1, span_of(memory.data(), 3), array_action_xor, 0, 0);
    EXPECT_EQ(raised(), 5);
    EXPECT_EQ(bytes(r), before);
    graphics_array_put(0, 1, span_of(memory.data(), need), array_action_xor, 0, 0);
    EXPECT_EQ(raised(), 0);
    EXPECT_NE(bytes(r), before);
}

TEST_F(GraphicsArrays, SpanAboveFourGigabytes) {
    // The low word of the address is an unmapped page: a span read by its low word alone crashes.
    // (The first place is where the address sanitizer leaves room for the program.)
    void* p = MAP_FAILED;
    for (uintptr_t place : {uintptr_t{0x500000001000}, uintptr_t{0x300000001000}, uintptr_t{0x100001000}}) {
        p = mmap(reinterpret_cast<void*>(place), 4096, PROT_READ | PROT_WRITE,
                 MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED_NOREPLACE, -1, 0);
        if (p == reinterpret_cast<void*>(place)) break;
        if (p != MAP_FAILED) munmap(p, 4096);
        p = MAP_FAILED;
    }
    ASSERT_NE(p, MAP_FAILED);
    image_record& r = selected(4, 4, 32);
    randomise(r);
    std::vector<uint8_t> want = bytes(r);
    graphics_array_get(0, 0, 3, 3, span_of(static_cast<uint8_t*>(p), 4096), 0, 0);
    std::memset(r.pixels, 0, want.size());
    graphics_array_put(0, 0, span_of(static_cast<uint8_t*>(p), 4096), array_action_copy, 0, 0);
    EXPECT_EQ(bytes(r), want);
    munmap(p, 4096);
}

TEST_F(GraphicsArrays, OutsideTheImage) {
    image_record& r = selected(4, 2, 13);
    for (int32_t x = 0; x < 4; ++x) put(r, x, 0, 10 + x), put(r, x, 1, 20 + x);
    // Without the flag a rectangle half outside is refused; with it the outside takes the colour.
    graphics_array_get(2, 0, 5, 0, whole(), 0x1FF, 0);
    EXPECT_EQ(raised(), 5);
    graphics_array_get(2, 0, 5, 0, whole(), 0x1FF, array_get_outside);
    EXPECT_EQ(got(8), std::vector<uint8_t>({32, 0, 1, 0, 12, 13, 0xFF, 0xFF}));
    // Put at (-3, 0) with clipping: the three leftmost array columns are left out.
    graphics_array_get(0, 0, 3, 1, whole(), 0, 0);
    image_record& to = selected(4, 2, 13);
    graphics_array_put(-3, 0, whole(), array_action_copy, 0, 0);
    EXPECT_EQ(raised(), 5);
    graphics_array_put(-3, 0, whole(), array_action_copy, 0, array_put_clip);
    EXPECT_EQ(bytes(to), std::vector<uint8_t>({13, 0, 0, 0, 23, 0, 0, 0}));
}

TEST_F(GraphicsArrays, SkipColourAndCursor) {
    image_record& r = selected(4, 1, 13);
    put(r, 0, 0, 0), put(r, 1, 0, 5), put(r, 2, 0, 0), put(r, 3, 0, 6);
    graphics_array_get(0, 0, 3, 0, whole(), 0, 0);
    image_record& to = selected(4, 1, 13);
    for (int32_t x = 0; x < 4; ++x) put(to, x, 0, 9);
    graphics_array_put(0, 0, whole(), array_action_copy, 0x100, array_put_skip);  // 0x100 masks to 0
    EXPECT_EQ(bytes(to), std::vector<uint8_t>({9, 5, 9, 6}));

    // Relative corners: the second is relative to the first also without the first's flag, and the
    // cursor moves before the checks.
    image_record& c = selected(8, 8, 13);
    c.cursor_x = 1, c.cursor_y = 1;
    graphics_array_get(2, 2, 1, 1, whole(), 0, array_get_second_relative);
    EXPECT_EQ(got(4), std::vector<uint8_t>({16, 0, 2, 0}));
    EXPECT_EQ(c.cursor_x, 3.0f);
    graphics_array_get(1, 1, 10, 10, whole(), 0, array_get_first_relative);
    EXPECT_EQ(raised(), 5);
    EXPECT_EQ(c.cursor_x, 10.0f);
    graphics_array_put(1, 1, span_of(memory.data(), 2), 1, 0, array_put_relative);
    EXPECT_EQ(raised(), 5);
    EXPECT_EQ(c.cursor_x, 11.0f);
}

TEST_F(GraphicsArrays, SizesTheHeaderCannotHold) {
    selected(8192, 1, 256);  // 8 x 8192 does not fit 16 bits
    graphics_array_get(0, 0, 8191, 0, whole(), 0, 0);
    EXPECT_EQ(raised(), 5);
    selected(8191, 1, 256);
    std::vector<uint8_t> big(4 + 8191);
    graphics_array_get(0, 0, 8190, 0, span_of(big.data(), int64_t(big.size())), 0, 0);
    EXPECT_EQ(raised(), 0);
    EXPECT_EQ(big[0] | big[1] << 8, 8 * 8191);
    // A text image has no array form.
    selected(8, 2, 0);
    graphics_array_get(0, 0, 1, 1, whole(), 0, 0);
    EXPECT_EQ(raised(), 5);
    graphics_array_put(0, 0, whole(), 1, 0, 0);
    EXPECT_EQ(raised(), 5);
}

}  // namespace
