// Hardware images without a GL context (deferred images only) and the render queue's walk and
// pruning, played into a recording.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "display/hardware_textures.h"
#include "screen/frame_handover.h"
#include "screen/hardware_images.h"

namespace {

struct played {
    int32_t kind, source, destination;
    int64_t frame;
};
std::vector<played> recording;

void record_play(const render_command& c) {
    recording.push_back({c.kind, c.source, c.destination, c.frame});
    if (c.kind == render_free) free_hardware_img(c.source);
}

class hardware_queue : public testing::Test {
protected:
    void SetUp() override {
        hardware_lists_reset();
        recording.clear();
        frame_number_next.store(1);
    }
    void TearDown() override { hardware_lists_reset(); }

    static int32_t image(int32_t flags = hardware_img_deferred | hardware_img_copy) {
        uint32_t pixel = 0xFF123456;
        return hardware_img_new(1, 1, &pixel, flags);
    }
    static int32_t copy(int32_t source, int32_t destination) {
        render_command c;
        c.kind = render_rect_copy;
        c.source = source;
        c.destination = destination;
        return render_command_queue(c);
    }
    // One renderer call showing frame r with the given screen layers visible.
    static void show(int64_t r, std::vector<int32_t> layers) {
        render_queue_walk walk;
        walk.frame = r;
        if (layers.empty()) layers.push_back(render_no_layer);
        for (int32_t layer : layers) render_queue_play(walk, layer, record_play);
    }
};

TEST_F(hardware_queue, handles_name_valid_program_images_only) {
    int32_t id = image();
    int32_t own = image(hardware_img_deferred | hardware_img_copy | hardware_img_internal);
    int32_t handle = hardware_img_handle_base + id;
    EXPECT_NE(hardware_img_from_handle(handle), nullptr);
    EXPECT_EQ(hardware_img_id_from_handle(handle), id);
    const int32_t refused[] = {hardware_img_handle_base + own,  // the renderer's own image
                               hardware_img_handle_base,        // id 0
                               hardware_img_handle_base - 1,    hardware_img_handle_end,
                               hardware_img_handle_base + 999,  // no such image
                               -1, 0};
    for (int32_t h : refused) EXPECT_EQ(hardware_img_from_handle(h), nullptr) << h;

    // The handle dies as soon as the free is asked; a second free names nothing.
    EXPECT_TRUE(hardware_img_free_request(handle));
    EXPECT_EQ(hardware_img_from_handle(handle), nullptr);
    EXPECT_FALSE(hardware_img_free_request(handle));
}

TEST_F(hardware_queue, deferred_images_copy_or_take_the_pixels) {
    uint32_t pixels[2] = {1, 2};
    int32_t copied = hardware_img_new(2, 1, pixels, hardware_img_deferred | hardware_img_copy);
    auto* img = hardware_img_from_handle(hardware_img_handle_base + copied);
    ASSERT_NE(img, nullptr);
    EXPECT_NE(img->kept_pixels, pixels);
    EXPECT_EQ(img->kept_pixels[1], 2u);
    EXPECT_EQ(img->texture, 0u);
    EXPECT_EQ(img->depth_mode, 1);
    EXPECT_EQ(img->min_filter, -1);
    auto* owned = static_cast<uint32_t*>(std::malloc(8));
    int32_t taken = hardware_img_new(2, 1, owned, hardware_img_deferred);
    EXPECT_EQ(hardware_img_from_handle(hardware_img_handle_base + taken)->kept_pixels, owned);
}

TEST_F(hardware_queue, commands_play_with_their_frame_and_layer) {
    int32_t a = image();
    int32_t b = image();
    copy(a, render_layer_0);  // frame 1
    copy(a, b);               // frame 1, into an image
    copy(a, render_layer_1);  // frame 1
    frame_number_next.store(2);
    copy(b, render_layer_0);  // frame 2

    show(1, {render_layer_0, render_layer_1});
    ASSERT_EQ(recording.size(), 3u);
    EXPECT_EQ(recording[0].destination, render_layer_0);
    EXPECT_EQ(recording[1].destination, b);  // images are drawn in the first pass
    EXPECT_EQ(recording[2].destination, render_layer_1);

    // Shown again without a new frame: nothing is played twice.
    recording.clear();
    show(1, {render_layer_0, render_layer_1});
    EXPECT_TRUE(recording.empty());

    // A frame skipped: its screen commands are too late, its image commands still drawn.
    frame_number_next.store(3);
    copy(a, b);
    recording.clear();
    show(4, {render_layer_0});
    ASSERT_EQ(recording.size(), 1u);
    EXPECT_EQ(recording[0].destination, b);
    EXPECT_EQ(recording[0].frame, 3);
}

TEST_F(hardware_queue, a_freed_image_lives_until_the_commands_before_its_free_are_played) {
    int32_t a = image();
    int32_t handle = hardware_img_handle_base + a;
    copy(a, render_layer_0);
    ASSERT_TRUE(hardware_img_free_request(handle));
    for (int64_t frame = 1; frame <= 4; ++frame) {
        frame_number_next.store(frame + 1);
        copy(image(), render_layer_0);  // every writer prunes first
        show(frame, {render_layer_0});
        render_queue_prune();
    }
    int draws_from_a = 0;
    int frees_of_a = 0;
    for (const played& p : recording) {
        if (p.kind == render_rect_copy && p.source == a) {
            EXPECT_EQ(frees_of_a, 0) << "drawn after its free";
            ++draws_from_a;
        }
        frees_of_a += p.kind == render_free && p.source == a;
    }
    EXPECT_EQ(draws_from_a, 1);
    EXPECT_EQ(frees_of_a, 1);
    EXPECT_EQ(list_get(hardware_img_list, a), nullptr);
}

TEST_F(hardware_queue, commands_never_reach_a_later_image_with_the_same_id) {
    int32_t a = image();
    int32_t b = image();
    render_command from_a, into_b, free_a;
    ASSERT_TRUE(render_command_get(copy(a, render_layer_0), from_a));
    ASSERT_TRUE(render_command_get(copy(a, b), into_b));
    ASSERT_TRUE(hardware_img_free_request(hardware_img_handle_base + a));
    ASSERT_TRUE(render_command_get(render_queue_ids_get().last, free_a));
    for (const render_command* c : {&from_a, &into_b, &free_a}) EXPECT_TRUE(render_command_images_current(*c));

    free_hardware_img(a);
    free_hardware_img(b);
    EXPECT_EQ(image(), b);  // the ids are made again, last freed first
    EXPECT_EQ(image(), a);
    for (const render_command* c : {&from_a, &into_b, &free_a}) EXPECT_FALSE(render_command_images_current(*c));
}

TEST_F(hardware_queue, stays_bounded_while_both_screen_layers_are_hidden) {
    int32_t a = image();
    int32_t b = image();
    for (int64_t frame = 1; frame <= 2000; ++frame) {
        frame_number_next.store(frame);
        copy(a, render_layer_0);
        copy(a, b);
        copy(a, render_layer_1);
        show(frame, {});
    }
    EXPECT_LT(render_queue->highest_id.load(), 16);
    // The image commands were still drawn, the screen ones not.
    int into_image = 0;
    for (const played& p : recording) {
        EXPECT_EQ(p.destination, b);
        into_image += p.destination == b;
    }
    EXPECT_EQ(into_image, 2000);
}

TEST_F(hardware_queue, prune_keeps_the_command_before_the_last_rendered_frame) {
    int32_t a = image();
    int32_t first = copy(a, render_layer_0);  // frame 1
    frame_number_next.store(2);
    int32_t second = copy(a, render_layer_0);
    frame_number_next.store(3);
    int32_t third = copy(a, render_layer_0);
    show(3, {render_layer_0});
    render_queue_prune();
    render_queue_ids ids = render_queue_ids_get();
    EXPECT_EQ(ids.last_rendered, third);
    EXPECT_EQ(ids.oldest_kept, second);
    render_command c;
    EXPECT_FALSE(render_command_get(first, c));
    EXPECT_TRUE(render_command_get(second, c));
    EXPECT_EQ(c.done, 1);
}

}  // namespace

namespace {

int64_t threaded_played = 0;
void count_play(const render_command&) { ++threaded_played; }

// The program thread queues while the main thread plays and prunes: every command is played once.
TEST(render_queue_Threaded, a_writer_and_the_renderer_at_once) {
    hardware_lists_reset();
    frame_number_next.store(1);
    threaded_played = 0;
    uint32_t pixel = 0;
    int32_t a = hardware_img_new(1, 1, &pixel, hardware_img_deferred | hardware_img_copy);
    int32_t b = hardware_img_new(1, 1, &pixel, hardware_img_deferred | hardware_img_copy);
    constexpr int commands = 20000;
    std::atomic<bool> done{false};
    std::atomic<int64_t> shown{0};
    std::thread writer([&] {
        for (int i = 0; i < commands; ++i) {
            if (i % 7 == 0) {
                int64_t frame = frame_number_next.fetch_add(1) + 1;
                // A renderer keeps up within a frame or two; wait for it as a real one would be.
                while (shown.load() < frame - 2) std::this_thread::yield();
            }
            render_command c;
            c.kind = render_rect_copy;
            c.source = a;
            c.destination = b;
            render_command_queue(c);
        }
        done.store(true);
    });
    auto show = [&](int64_t frame) {
        render_queue_walk walk;
        walk.frame = frame;
        render_queue_play(walk, render_layer_0, count_play);
        render_queue_prune();
        shown.store(frame);
    };
    while (!done.load()) show(frame_number_next.load() - 1);
    writer.join();
    show(frame_number_next.load());
    EXPECT_EQ(threaded_played, commands);
    EXPECT_LT(render_queue->highest_id.load(), commands / 2);
    hardware_lists_reset();
}

}  // namespace
