#include "screen/image_pool.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <thread>
#include <vector>

#include "screen/image_fixture.h"
#include "screen/memory_blocks.h"

namespace {

using ImagePool = image_test;

TEST_F(ImagePool, ModeDefaults) {
    struct row {
        int32_t mode, width, height;
        uint8_t bits, bytes;
        int32_t font, fore;
        uint32_t back, mask;
        int32_t clear;
        bool palette;
        int16_t view_bottom;
    };
    const row rows[] = {
        {0, 80, 25, 16, 2, 16, 7, 0, 0xFFFF, -1, true, 24},
        {1, 320, 200, 2, 1, 8, 3, 0, 3, -1, true, 24},
        {2, 640, 200, 1, 1, 8, 1, 0, 1, -1, true, 24},
        {7, 320, 200, 4, 1, 8, 15, 0, 15, -1, true, 24},
        {8, 640, 200, 4, 1, 8, 15, 0, 15, -1, true, 24},
        {9, 640, 350, 4, 1, 14, 15, 0, 15, -1, true, 24},
        {10, 640, 350, 2, 1, 14, 3, 0, 3, -1, true, 24},
        {11, 640, 480, 1, 1, 16, 1, 0, 1, -1, true, 29},
        {12, 640, 480, 4, 1, 16, 15, 0, 15, -1, true, 29},
        {13, 320, 8, 8, 1, 8, 15, 0, 255, -1, true, 1},
        {32, 16, 16, 32, 4, 16, -1, 0xFF000000, 0xFFFFFFFF, 0, false, 1},
        {256, 100, 3, 8, 1, 16, 15, 0, 255, -1, true, 1},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.mode);
        int32_t slot = image_new(r.width, r.height, r.mode);
        ASSERT_GT(slot, 1);
        const image_record& i = image_pool[slot];
        EXPECT_EQ(i.in_use, 1);
        EXPECT_EQ(i.mode, r.mode);
        EXPECT_EQ(i.width, r.width);
        EXPECT_EQ(i.height, r.height);
        EXPECT_EQ(i.bits_per_pixel, r.bits);
        EXPECT_EQ(i.bytes_per_pixel, r.bytes);
        EXPECT_EQ(i.font, r.font);
        EXPECT_EQ(i.fore_color, r.fore);
        EXPECT_EQ(i.draw_color, uint32_t(r.fore));
        EXPECT_EQ(i.back_color, r.back);
        EXPECT_EQ(i.color_mask, r.mask);
        EXPECT_EQ(i.clear_color, r.clear);
        EXPECT_EQ(i.palette != nullptr, r.palette);
        EXPECT_EQ(i.image_flags, (r.palette ? uint32_t{image_owns_palette} : 0u) | image_owns_pixels);
        EXPECT_EQ(i.view_top, 1);
        EXPECT_EQ(i.view_bottom, r.view_bottom);
        EXPECT_EQ(i.cursor_column, 1);
        EXPECT_EQ(i.cursor_row, 1);
        EXPECT_EQ(i.print_mode, 3);
        EXPECT_EQ(i.turtle_angle, 0.0);
        EXPECT_EQ(i.turtle_scale, 1.0);
        EXPECT_EQ(i.is_text, r.mode == 0);
        EXPECT_EQ(i.lock, nullptr);
        if (r.mode == 0) {
            EXPECT_EQ(i.cursor_visible, 0);
            EXPECT_EQ(i.cursor_start_line, 4);
            EXPECT_EQ(i.cursor_stop_line, 4);
            EXPECT_EQ(i.clip_x2, 0);
            EXPECT_EQ(i.scale_x, 0.0f);
        } else {
            EXPECT_EQ(i.cursor_x, float(r.width / 2));
            EXPECT_EQ(i.cursor_y, float(r.height / 2));
            EXPECT_EQ(i.clip_x1, 0);
            EXPECT_EQ(i.clip_x2, r.width - 1);
            EXPECT_EQ(i.clip_y2, r.height - 1);
            EXPECT_EQ(i.scale_x, 1.0f);
            EXPECT_EQ(i.scale_y, 1.0f);
            EXPECT_EQ(i.window_x2, float(r.width - 1));
            EXPECT_EQ(i.window_y2, float(r.height - 1));
        }
    }
}

TEST_F(ImagePool, FreshPixels) {
    const image_record& text = image_pool[image_new(3, 2, 0)];
    for (int i = 0; i < 6; ++i) {
        EXPECT_EQ(text.pixels[i * 2], 0x20);
        EXPECT_EQ(text.pixels[i * 2 + 1], 0x07);
    }
    for (int32_t mode : {13, 32}) {
        const image_record& r = image_pool[image_new(5, 3, mode)];
        for (size_t i = 0; i < image_pixel_bytes(&r); ++i) ASSERT_EQ(r.pixels[i], 0);
    }
}

TEST_F(ImagePool, FirstImageIsSlotTwoAndSlotsAreReusedLastInFirstOut) {
    EXPECT_EQ(image_pool_used, 2);
    EXPECT_EQ(image_pool[0].in_use, 0);
    EXPECT_EQ(image_pool[1].in_use, 0);
    int32_t a = image_new(2, 2, 13);
    int32_t b = image_new(2, 2, 13);
    int32_t c = image_new(2, 2, 13);
    EXPECT_EQ(a, 2);
    EXPECT_EQ(b, 3);
    EXPECT_EQ(c, 4);
    image_free(b);
    image_free(a);
    EXPECT_EQ(image_new(2, 2, 13), a);
    EXPECT_EQ(image_new(2, 2, 13), b);
    EXPECT_EQ(image_new(2, 2, 13), 5);
    EXPECT_EQ(image_slot_release(0), 0);
    EXPECT_EQ(image_slot_release(1), 0);
    EXPECT_EQ(image_slot_release(-3), 0);
    EXPECT_EQ(image_slot_release(image_pool_capacity), 0);
}

TEST_F(ImagePool, BadHandlesRaise258AndLeaveTheSelection) {
    int32_t a = image_new(2, 2, 13);
    int32_t gone = image_new(2, 2, 13);
    image_free(gone);
    dest_image_select(-a);
    source_image_select(-a);
    for (int32_t handle : {-1, -image_pool_used, -gone, INT32_MIN, -8388609, -16777216 + 3, -1000000}) {
        SCOPED_TRACE(handle);
        EXPECT_EQ(image_handle_resolve(handle), 0);
        EXPECT_EQ(raised(), 258);
        dest_image_select(handle);
        EXPECT_EQ(raised(), 258);
        source_image_select(handle);
        EXPECT_EQ(raised(), 258);
        EXPECT_EQ(dest_image_handle(), -a);
        EXPECT_EQ(source_image_handle(), -a);
    }
    EXPECT_EQ(image_target(0, 0), dest_image);
    EXPECT_EQ(image_target(-a, 1), &image_pool[a]);
}

TEST_F(ImagePool, SelectionsFollowHandlesAndNotWhileAnErrorIsPending) {
    int32_t a = image_new(2, 2, 13);
    int32_t b = image_new(2, 2, 13);
    dest_image_select(-a);
    source_image_select(-b);
    EXPECT_EQ(dest_image, &image_pool[a]);
    EXPECT_EQ(source_image, &image_pool[b]);
    EXPECT_EQ(dest_image_handle(), -a);
    EXPECT_EQ(source_image_handle(), -b);
    EXPECT_EQ(display_image_handle(), 0);
    error_number = 9;
    dest_image_select(-b);
    source_image_select(-a);
    error_number = 0;
    EXPECT_EQ(dest_image_handle(), -a);
    EXPECT_EQ(source_image_handle(), -b);

    image_free(a);  // a freed destination hands over to the displayed image
    EXPECT_EQ(dest_image_handle(), 0);
    EXPECT_EQ(dest_image, &image_pool[0]);
}

TEST_F(ImagePool, FailedCreationsTakeNoSlot) {
    struct row {
        int32_t width, height, mode, error;
    };
    const row rows[] = {
        {0, 5, 13, 0},   {5, 0, 13, 0},    {-1, 5, 13, 0},      {5, 5, 3, 0},     {5, 5, 33, 0},
        {65536, 1, 13, 5}, {1, 65536, 32, 5}, {INT32_MAX, INT32_MAX, 32, 5},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(::testing::Message() << r.width << "x" << r.height << " mode " << r.mode);
        EXPECT_EQ(image_new(r.width, r.height, r.mode), 0);
        EXPECT_EQ(raised(), r.error);
        EXPECT_EQ(image_pool_used, 2);
    }
    // The largest size is taken whole (its byte count needs 64 bits).
    int32_t big = image_new(65535, 1, 32);
    ASSERT_GT(big, 1);
    EXPECT_EQ(image_pixel_bytes(&image_pool[big]), size_t{65535} * 4);
}

TEST_F(ImagePool, OverMemoryRecordsDoNotOwnTheirPixels) {
    uint8_t pixels[16] = {};
    int32_t slot = image_new_over_memory(pixels, 4, 4, 13);
    ASSERT_GT(slot, 1);
    EXPECT_EQ(image_pool[slot].pixels, pixels);
    EXPECT_EQ(image_pool[slot].image_flags, image_owns_palette);
    image_free(slot);  // ASan: the caller's memory is not freed
    int32_t shared = image_new_over_memory(nullptr, 4, 4, 32);
    EXPECT_EQ(image_pool[shared].image_flags, 0u);
}

TEST_F(ImagePool, ResetForModeKeepsWhatTheDefaultsDoNotName) {
    int32_t slot = image_new(8, 4, 32);
    image_record& r = image_pool[slot];
    std::memset(r.pixels, 0x77, image_pixel_bytes(&r));
    r.fore_color = 5;
    r.cursor_column = 3;
    r.blend_off = 1;
    r.clip_x1 = 2;
    r.view_origin_x = 9;
    r.coord_mode = 2;
    r.offset_x = 1.5f;
    r.window_x1 = -4.0f;
    r.turtle_scale = 3.0;
    r.clear_color = 77;
    uint8_t* pixels = r.pixels;
    image_reset_for_mode(slot);
    EXPECT_EQ(r.fore_color, -1);
    EXPECT_EQ(r.cursor_column, 1);
    EXPECT_EQ(r.turtle_scale, 1.0);
    EXPECT_EQ(r.clip_x2, 7);
    EXPECT_EQ(r.blend_off, 1);
    EXPECT_EQ(r.clip_x1, 2);
    EXPECT_EQ(r.view_origin_x, 9);
    EXPECT_EQ(r.coord_mode, 2);
    EXPECT_EQ(r.offset_x, 1.5f);
    EXPECT_EQ(r.window_x1, -4.0f);
    EXPECT_EQ(r.clear_color, 77);
    EXPECT_EQ(r.pixels, pixels);
    for (size_t i = 0; i < image_pixel_bytes(&r); ++i) ASSERT_EQ(r.pixels[i], 0);

    int32_t paletted = image_new(8, 4, 13);
    image_pool[paletted].palette[3] = 1;
    image_reset_for_mode(paletted);
    EXPECT_EQ(image_pool[paletted].palette[3], default_palette_256[3]);
}

TEST_F(ImagePool, FontSetMovesTheCursorHomeAndResizesTheView) {
    image_record& r = image_pool[image_new(640, 480, 12)];
    r.cursor_column = 9;
    r.cursor_row = 9;
    r.view_top = 5;
    EXPECT_EQ(image_font_set(14, &r), 1);
    EXPECT_EQ(r.font, 14);
    EXPECT_EQ(r.cursor_column, 1);
    EXPECT_EQ(r.cursor_row, 1);
    EXPECT_EQ(r.view_top, 1);
    EXPECT_EQ(r.view_bottom, 33);
    image_font_set(8, &r);
    EXPECT_EQ(r.view_bottom, 59);
}

TEST_F(ImagePool, GraphicsStateCopiesAsOneBlock) {
    image_record& a = image_pool[image_new(10, 10, 13)];
    image_record& b = image_pool[image_new(20, 20, 13)];
    a.clip_x1 = 3;
    a.turtle_angle = 90.0;
    a.turtle_scale = 2.0;
    a.coord_mode = 1;
    b.fore_color = 4;
    image_graphics_state_copy(&b, &a);
    EXPECT_EQ(b.clip_x1, 3);
    EXPECT_EQ(b.clip_x2, 9);
    EXPECT_EQ(b.turtle_angle, 90.0);
    EXPECT_EQ(b.turtle_scale, 2.0);
    EXPECT_EQ(b.coord_mode, 1);
    EXPECT_EQ(b.cursor_x, 5.0f);
    EXPECT_EQ(b.fore_color, 4);
    EXPECT_EQ(b.width, 20);
    EXPECT_EQ(b.print_mode, 3);
}

TEST_F(ImagePool, GrowingKeepsEveryRecordInPlace) {
    int32_t first = image_new(1, 1, 13);
    dest_image_select(-first);
    image_record* before = dest_image;
    std::vector<int32_t> slots;
    for (int i = 0; i < 4200; ++i) slots.push_back(image_new(1, 1, 13));
    EXPECT_GE(image_pool_capacity, 8192);
    EXPECT_EQ(slots.back(), 4202);
    EXPECT_EQ(dest_image, before);
    EXPECT_EQ(&image_pool[first], before);
    EXPECT_EQ(dest_image_handle(), -first);
    EXPECT_EQ(image_pool[4097].in_use, 1);
}

TEST_F(ImagePool, TheHandleJustPastAFullChunkIsInvalid) {
    const int32_t capacity = image_pool_capacity;  // whole chunks; an earlier test may have grown it
    while (image_pool_used < capacity) ASSERT_NE(image_new(1, 1, 13), 0);
    ASSERT_EQ(image_pool_capacity, capacity);  // full, not grown
    EXPECT_EQ(image_handle_resolve(-(capacity - 1)), capacity - 1);
    EXPECT_EQ(raised(), 0);
    EXPECT_EQ(image_handle_resolve(-capacity), 0);  // the chunk after it does not exist
    EXPECT_EQ(raised(), 258);
}

TEST_F(ImagePool, ReleaseRetiresOnlyTheImagesOwnLock) {
    int32_t slot = image_new(2, 2, 32);
    memory_block b = memory_block_over_image(-slot, 1);
    ASSERT_EQ(memory_block_exists(b), -1);
    // The lock retired elsewhere and its record reused: releasing the image must not touch it.
    memory_lock_free(image_pool[slot].lock);
    memory_block other = memory_block_new(4);
    ASSERT_EQ(other.lock, b.lock);
    image_free(slot);
    EXPECT_EQ(memory_block_exists(other), -1);
    memory_block_free(other);
    EXPECT_EQ(error_number, 0);
}

TEST_F(ImagePool, FreeAllKeepsScreenPages) {
    int32_t page = image_new(4, 4, 13);
    image_pool[page].image_flags |= image_is_screen_page;
    int32_t a = image_new(4, 4, 13);
    int32_t b = image_new(4, 4, 32);
    images_free_all();
    EXPECT_EQ(image_pool[page].in_use, 1);
    EXPECT_EQ(image_pool[a].in_use, 0);
    EXPECT_EQ(image_pool[b].in_use, 0);
}

using ImagePoolThreaded = image_test;

// The frame builder reads the displayed record on another thread while the program makes images.
TEST_F(ImagePoolThreaded, DisplayedRecordStaysPutWhileThePoolGrows) {
    int32_t shown = image_new(123, 45, 13);
    image_record* record = &image_pool[shown];
    display_image_index.store(shown);
    display_image.store(record);
    std::atomic<bool> done{false};
    std::atomic<int64_t> bad{0};
    std::thread reader([&] {
        while (!done.load()) {
            const image_record* r = display_image.load(std::memory_order_acquire);
            if (r->width != 123 || r->height != 45 || r->pixels[0] != 0) bad.fetch_add(1);
        }
    });
    for (int i = 0; i < 12000; ++i) ASSERT_GT(image_new(2, 2, 13), 0);
    done.store(true);
    reader.join();
    EXPECT_EQ(bad.load(), 0);
    EXPECT_EQ(display_image.load(), record);
    EXPECT_EQ(&image_pool[shown], record);
}

}  // namespace
