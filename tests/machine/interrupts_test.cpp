#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "core/byte_span.h"
#include "core/runtime_fixture.h"
#include "display/mouse.h"
#include "display/viewport.h"
#include "display/window.h"
#include "machine/interrupts.h"
#include "machine/x86.h"
#include "screen/fonts.h"
#include "screen/image_pool.h"
#include "screen/palette.h"

namespace {

byte_span span_over(void* p, int32_t length) {
    auto a = reinterpret_cast<uintptr_t>(p);
    return {static_cast<uint32_t>(a), static_cast<uint32_t>(a >> 32), length};
}

class Interrupts : public ::testing::Test {
protected:
    void SetUp() override {
        x86_registers_init();
    }
    recorded_boxes boxes;
};

TEST_F(Interrupts, UnknownInterruptCopiesTheSevenWordsBackAndKeepsUpperHalves) {
    for (bool segments : {false, true}) {
        SCOPED_TRACE(segments);
        for (uint32_t& g : x86_registers.gpr) g = 0xABCD0000;
        uint16_t in[10] = {1, 2, 3, 4, 5, 6, 7, 0x1111, 0x50, 0x60};
        uint16_t out[10] = {0, 0, 0, 0, 0, 0, 0, 0xF1A6, 0, 0};
        byte_span i = span_over(in, segments ? 20 : 16), o = span_over(out, segments ? 20 : 16);
        if (segments) interrupt_call_segments(0x21, &i, &o);
        else interrupt_call(0x21, &i, &o);
        for (int k = 0; k < 7; ++k) EXPECT_EQ(out[k], in[k]);
        EXPECT_EQ(out[7], 0xF1A6) << "FLAGS is left as it was";
        EXPECT_EQ(out[8], segments ? 0x50 : 0);
        EXPECT_EQ(out[9], segments ? 0x60 : 0);
        EXPECT_EQ(x86_registers.gpr[x86_eax], 0xABCD0001u);
        EXPECT_EQ(x86_registers.gpr[x86_ebp], 0xABCD0005u);
        EXPECT_EQ(x86_registers.gpr[x86_edi], 0xABCD0007u);
        EXPECT_EQ(x86_registers.gpr[x86_esp], 0xABCD0000u);
    }
}

TEST_F(Interrupts, ShortSpansRaiseFiveAndTouchNothing) {
    uint16_t in[10] = {0}, out[10] = {9, 9, 9, 9, 9, 9, 9, 9, 9, 9};
    struct row { int32_t in_length, out_length; bool segments; } rows[] = {
        {16, 15, false}, {15, 16, false}, {20, 19, true}, {19, 20, true}, {16, 16, true},
    };
    for (const auto& r : rows) {
        recorded_boxes::reset_words();
        x86_registers.gpr[x86_eax] = 0x77;
        byte_span i = span_over(in, r.in_length), o = span_over(out, r.out_length);
        if (r.segments) interrupt_call_segments(0x33, &i, &o);
        else interrupt_call(0x33, &i, &o);
        EXPECT_EQ(error_number.load(), 5);
        EXPECT_EQ(x86_registers.gpr[x86_eax], 0x77u);
        EXPECT_EQ(out[0], 9);
    }
}

TEST_F(Interrupts, OverlappingRecordsReadTheInRecordWhole) {
    uint16_t record[8] = {0, 2, 3, 4, 5, 6, 7, 8};  // AX = 0: the mouse reset answers FFFF and 2
    byte_span s = span_over(record, 16);
    interrupt_call(0x33, &s, &s);
    EXPECT_EQ(record[0], 0xFFFF);
    EXPECT_EQ(record[1], 2);
    EXPECT_EQ(record[2], 3);
}

TEST_F(Interrupts, MouseDriverReadsTheNewestRecordAndLeavesTheQueriesTheirPlace) {
    window_hidden = 1;  // the pointer calls then only remember
    mouse_reset();
    mouse_button_down_event(mouse_button_left, 100, 50);
    mouse_button_down_event(mouse_button_middle, 100, 50);
    mouse_button_down_event(mouse_button_right, 100, 50);
    auto call = [](uint16_t ax) {
        x86_registers.gpr[x86_eax] = ax;
        interrupt_emulate(0x33);
    };
    call(1);
    call(2);
    call(3);
    EXPECT_EQ(x86_registers.gpr[x86_ebx], 3u) << "left and right only, from the newest record";
    EXPECT_EQ(mouse_input_next(), -1) << "the current record is still the first";
    x86_registers_init();
    x86_registers.gpr[x86_ebx] = 0x1234;
    call(4);  // unknown function: nothing
    EXPECT_EQ(x86_registers.gpr[x86_ebx], 0x1234u);
    interrupt_emulate(0x10);
    EXPECT_EQ(x86_registers.gpr[x86_eax], 4u);
    mouse_reset();
    window_hidden = 0;
}

// Function 3's BX: 1 for the left button, 2 for the right, the middle one not counted.
TEST_F(Interrupts, MouseDriverButtonsEachHaveTheirBit) {
    window_hidden = 1;
    const struct {
        const char* name;
        std::vector<int32_t> held;
        uint32_t bx;
    } rows[] = {
        {"left only", {mouse_button_left}, 1},
        {"right only", {mouse_button_right}, 2},
        {"middle only", {mouse_button_middle}, 0},
        {"none", {}, 0},
    };
    for (const auto& r : rows) {
        mouse_reset();
        for (int32_t button : r.held) mouse_button_down_event(button, 100, 50);
        x86_registers_init();
        x86_registers.gpr[x86_eax] = 3;
        interrupt_emulate(0x33);
        EXPECT_EQ(x86_registers.gpr[x86_ebx], r.bx) << r.name;
    }
    mouse_reset();
    window_hidden = 0;
}

// Through the mouse module: a 320 x 200 mode-13 display shown 2:1 in a 640 x 400 window.
TEST_F(Interrupts, MouseDriverPositionOnAModeThirteenDisplay) {
    font_metrics_init();
    palettes_load();
    image_pool_reserve();
    display_slot_select(image_new(320, 200, 13));
    viewport_record v;
    ASSERT_TRUE(viewport_of(320, 200, 640, 400, 0, 0, 1, v));
    viewport_publish(v);
    mouse_reset();
    mouse_motion_event(200, 100);  // over screen pixel (100, 50)
    x86_registers.gpr[x86_eax] = 3;
    interrupt_emulate(0x33);
    EXPECT_EQ(x86_registers.gpr[x86_ecx], 200u);
    EXPECT_EQ(x86_registers.gpr[x86_edx], 50u);
    mouse_reset();
    viewport_reset();
    image_pool_reserve();
}

TEST(MouseDriverPosition, GraphicsAndTextDisplays) {
    struct row {
        const char* name;
        mouse_driver_reading reading;
        mouse_driver_display display;
        uint16_t cx, dx;
    } rows[] = {
        {"mode 13 doubles x", {100, 50, 0}, {false, 13, 0, 0}, 200, 50},
        {"mode 1 doubles x", {7.9f, 3, 0}, {false, 1, 0, 0}, 14, 3},
        {"mode 12 keeps x", {639, 479, 0}, {false, 12, 0, 0}, 639, 479},
        {"text: first pixel of column 3", {2.501f, 1.501f, 0}, {true, 0, 80, 25}, 16, 8},
        {"text: last cell clamps", {80.499f, 25.499f, 0}, {true, 0, 80, 25}, 639, 199},
        {"text: below the first cell clamps at 0", {0.4f, 0.4f, 0}, {true, 0, 40, 25}, 0, 0},
        {"negative x cuts to 16 bits", {-1.5f, 0, 0}, {false, 12, 0, 0}, 0xFFFF, 0},
    };
    for (const auto& r : rows) {
        mouse_driver_position p = mouse_driver_position_of(r.reading, r.display);
        EXPECT_EQ(p.cx, r.cx) << r.name;
        EXPECT_EQ(p.dx, r.dx) << r.name;
    }
}

}  // namespace
