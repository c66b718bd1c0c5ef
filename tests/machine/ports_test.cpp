#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "core/runtime_fixture.h"
#include "core/timing.h"
#include "display/keyboard.h"
#include "machine/ports.h"
#include "screen/fonts.h"
#include "screen/image_pool.h"
#include "screen/palette.h"

namespace {

class Ports : public ::testing::Test {
protected:
    void SetUp() override {
        font_metrics_init();
        palettes_load();
        image_pool_reserve();
        ports_reset();
        keyboard_reset();
        retrace_latch = retrace_active = 0;
    }
    void TearDown() override {
        image_pool_reserve();
        keyboard_reset();
        retrace_latch = retrace_active = 0;
    }
    static image_record& destination(int32_t mode) {
        int32_t slot = image_new(16, 16, mode);
        dest_image_select(-slot);
        return image_pool[slot];
    }
    recorded_boxes boxes;
};

TEST(DacLevels, EverySixBitLevelAndItsWayBack) {
    const uint8_t expected[64] = {0,   4,   8,   12,  16,  20,  24,  28,  32,  36,  40,  44,  48,  52,  56,  60,
                                  65,  69,  73,  77,  81,  85,  89,  93,  97,  101, 105, 109, 113, 117, 121, 125,
                                  130, 134, 138, 142, 146, 150, 154, 158, 162, 166, 170, 174, 178, 182, 186, 190,
                                  195, 199, 203, 207, 211, 215, 219, 223, 227, 231, 235, 239, 243, 247, 251, 255};
    for (uint32_t v = 0; v < 64; ++v) {
        EXPECT_EQ(dac_level8(v), expected[v]) << v;
        EXPECT_EQ(dac_level6(expected[v]), v) << v;
    }
    for (uint32_t c = 0; c < 256; ++c) EXPECT_LE(dac_level6(c), 63) << c;
}

TEST_F(Ports, DacWritesComponentsKeepingTheOtherBitsAndStepsTheIndex) {
    image_record& image = destination(13);
    image.palette[5] = 0xAB123456;
    image.palette[6] = 0xCD000000;
    port_out(0x3C8, 5);
    for (int v : {63, 0, 32, 63 + 64}) port_out(0x3C9, v);  // the fourth is entry 6's red, AND 63
    EXPECT_EQ(image.palette[5], 0xABFF0082u);
    EXPECT_EQ(image.palette[6], 0xCDFF0000u);

    port_out(0x3C7, 5);
    EXPECT_EQ(port_in(0x3C9), 63);
    EXPECT_EQ(port_in(0x3C9), 0);
    EXPECT_EQ(port_in(0x3C9), 32);
    EXPECT_EQ(port_in(0x3C9), 63) << "entry 6 follows";
}

TEST_F(Ports, DacIndexWrapsAfterEntry255) {
    image_record& image = destination(13);
    port_out(0x103C8, 255);  // the port is taken AND 0xFFFF
    for (int v : {1, 2, 3, 4}) port_out(0x3C9, v);
    EXPECT_EQ(image.palette[255] & 0xFFFFFF, 0x04080Cu);
    EXPECT_EQ((image.palette[0] >> 16) & 0xFF, 16u);
    port_out(0x3C7, 255);
    for (int v : {1, 2, 3, 4}) EXPECT_EQ(port_in(0x3C9), v);
}

TEST_F(Ports, ThirtyTwoBitDestinationStoresNothingAndReadsZero) {
    destination(32);
    port_out(0x3C8, 1);
    port_out(0x3C9, 10);
    port_out(0x3C9, 20);  // now at blue of entry 1
    image_record& paletted = destination(13);
    uint32_t before = paletted.palette[1];
    port_out(0x3C9, 63);  // blue of entry 1 on the new destination
    EXPECT_EQ(paletted.palette[1], (before & 0xFFFFFF00u) | 255);

    destination(32);
    port_out(0x3C7, 1);
    EXPECT_EQ(port_in(0x3C9), 0);
    destination(13);
    paletted.palette[1] = 0x00FC0000;
    image_record& again = image_pool[-dest_image_handle()];
    again.palette[1] = 0x00FC0000;
    EXPECT_EQ(port_in(0x3C9), 63) << "the read did not advance";
}

TEST_F(Ports, RetraceStatusReportsAndClearsTheLatch) {
    EXPECT_EQ(port_in(0x3DA), 0);
    retrace_latch = 1;
    EXPECT_EQ(port_in(0x3DA), 8);
    EXPECT_EQ(retrace_latch.load(), 0);
    EXPECT_EQ(port_in(0x3DA), 0);
    retrace_active = 1;
    EXPECT_EQ(port_in(0x3DA), 8);
    EXPECT_EQ(port_in(0x3DA), 8);
}

TEST_F(Ports, KeyboardPortTakesTheQueueAndRepeatsTheLastByte) {
    EXPECT_EQ(port_in(0x60), 0x81);
    scancode_queue_push_make(0x1E);
    scancode_queue_push_break(0x1E);
    EXPECT_EQ(port_in(0x60), 0x1E);
    EXPECT_EQ(port_in(0x60), 0x9E);
    EXPECT_EQ(port_in(0x60), 0x9E);
}

TEST_F(Ports, RangesAndPortsThatAreNotEmulated) {
    EXPECT_EQ(port_in(65536), 0);
    EXPECT_EQ(error_number.exchange(0), 6);
    EXPECT_EQ(port_in(-1), 0);
    EXPECT_EQ(port_unsupported_get(), 1);
    EXPECT_EQ(port_in(0x3C9 - 0x10000), 0);  // -65536 + 0x3C9 is the DAC data port
    EXPECT_EQ(port_unsupported_get(), 0);
    port_out(0x3DA, 1);
    EXPECT_EQ(port_unsupported_get(), 1);
    port_out(0x3C8, 0);
    EXPECT_EQ(port_unsupported_get(), 0);
    EXPECT_EQ(port_in(0x3C8), 0);
    EXPECT_EQ(port_unsupported_get(), 1);

    for (auto [port, mask, x, given] : {std::tuple{65536, 8, 0, 0}, {0x3DA, 65536, 0, 0}, {0x3DA, -32769, 0, 0},
                                        {0x3DA, 8, 65536, 1}}) {
        port_wait(port, mask, x, given);
        EXPECT_EQ(error_number.exchange(0), 6);
    }
    retrace_active = 1;
    port_wait(0x3DA, 8, 1 << 20, 0);  // an xor that is not given is not checked
    EXPECT_EQ(error_number.load(), 0);
    port_wait(0x1234, 0, 0, 0);  // not emulated: ends at once
    EXPECT_EQ(error_number.load(), 0);
}

TEST_F(Ports, WaitEndsOnTheRetraceAndOnItsEndThreaded) {
    std::thread control([] {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        retrace_active = 1;
    });
    port_wait(0x3DA, 8, 0, 0);
    EXPECT_EQ(retrace_active.load(), 1);
    control.join();

    std::thread later([] {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        retrace_active = 0;
    });
    port_wait(0x3DA, 8, 8, 1);  // waits until no retrace is reported
    EXPECT_EQ(retrace_active.load(), 0);
    later.join();
}

TEST_F(Ports, WaitThatCanNeverBeTrueEndsAtShutdownOrOnAnErrorThreaded) {
    std::thread stopper([] {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        shutdown_flag = 1;
    });
    port_wait(0x3DA, 0, 0, 0);
    stopper.join();
    shutdown_flag = 0;

}

// A statement's trap handler raising during the wait, as the wait's sleep stands in for it.
TEST_F(Ports, WaitEndsWhenAnErrorBecomesPending) {
    static int sleeps;
    sleeps = 0;
    const time_source raising{nullptr, [](int64_t) {
                                  if (++sleeps == 3) error_raise(5);
                              }, nullptr};
    time_source_set(&raising);
    port_wait(0x60, 0, 0, 0);
    time_source_set(nullptr);
    EXPECT_EQ(sleeps, 3);
    EXPECT_EQ(error_number.exchange(0), 5);
    EXPECT_TRUE(boxes.calls.empty()) << "the error is left for the statement's end";
}

}  // namespace
