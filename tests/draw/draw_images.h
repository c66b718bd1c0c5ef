// Helpers of the image copy, triangle and graphics array tests: images of known or random pixels,
// pixel access by coordinates, and a hardware queue reset to nothing around each test.
#pragma once

#include <cstring>
#include <random>
#include <vector>

#include "display/frames.h"
#include "draw/hardware_drawing.h"
#include "draw/image_copy.h"
#include "screen/hardware_images.h"
#include "screen/image_fixture.h"

struct draw_image_test : image_test {
    std::mt19937 random{20261210};

    void SetUp() override {
        image_test::SetUp();
        hardware_lists_reset();
        hardware_drawing_reset();
        image_copy_reset();
        frame_number_next.store(1);
    }
    void TearDown() override {
        hardware_lists_reset();
        image_test::TearDown();
    }
    // A new image (not selected); 8-bit images are mode 13, 32-bit ones mode 32.
    image_record& image(int32_t width, int32_t height, int32_t bytes_per_pixel) {
        int32_t slot = image_new(width, height, bytes_per_pixel == 4 ? 32 : 13);
        EXPECT_NE(slot, 0);
        return image_pool[slot];
    }
    static int32_t handle_of(const image_record& r) {
        for (int32_t slot = 2; slot < image_pool_used; ++slot)
            if (&image_pool[slot] == &r) return -slot;
        return 0;
    }
    void randomise(image_record& r) {
        for (size_t i = 0; i < image_pixel_bytes(&r); ++i) r.pixels[i] = static_cast<uint8_t>(random());
    }
    static uint32_t at(const image_record& r, int64_t x, int64_t y) {
        size_t i = size_t(y) * r.width + size_t(x);
        if (r.bytes_per_pixel == 1) return r.pixels[i];
        uint32_t v;
        std::memcpy(&v, r.pixels + i * 4, 4);
        return v;
    }
    static void put(image_record& r, int64_t x, int64_t y, uint32_t v) {
        size_t i = size_t(y) * r.width + size_t(x);
        if (r.bytes_per_pixel == 1) r.pixels[i] = static_cast<uint8_t>(v);
        else std::memcpy(r.pixels + i * 4, &v, 4);
    }
    static std::vector<uint8_t> bytes(const image_record& r) { return {r.pixels, r.pixels + image_pixel_bytes(&r)}; }
    // A 32-bit image with every pixel set to value.
    image_record& filled_image(int32_t width, int32_t height, uint32_t value) {
        image_record& r = image(width, height, 4);
        for (int32_t y = 0; y < height; ++y)
            for (int32_t x = 0; x < width; ++x) put(r, x, y, value);
        return r;
    }
    // A 32-bit image whose pixel (x, y) holds 0xFF000000 | x << 8 | y, blending off.
    image_record& coordinates_image(int32_t width, int32_t height) {
        image_record& r = image(width, height, 4);
        r.blend_off = 1;
        for (int32_t y = 0; y < height; ++y)
            for (int32_t x = 0; x < width; ++x) put(r, x, y, 0xFF000000u | uint32_t(x) << 8 | uint32_t(y));
        return r;
    }
    // A hardware image of the given size and its handle.
    static int32_t hardware_image(int32_t width, int32_t height) {
        std::vector<uint32_t> pixels(size_t(width) * height, 0xFF102030);
        return hardware_img_new(width, height, pixels.data(), hardware_img_deferred | hardware_img_copy) +
               hardware_img_handle_base;
    }
    // The commands queued so far, in queue order.
    static std::vector<render_command> queued() {
        std::vector<render_command> out;
        for (int32_t id = render_queue_ids_get().first; id != 0;) {
            render_command c;
            if (!render_command_get(id, c)) break;
            out.push_back(c);
            id = c.next;
        }
        return out;
    }
};
