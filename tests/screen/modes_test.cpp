#include "screen/modes.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <climits>
#include <cstring>
#include <thread>

#include "core/shutdown.h"
#include "display/frames.h"
#include "screen/screen_fixture.h"
#include "screen/view.h"

namespace {

using ScreenModes = screen_test;

void mode_set(int32_t mode) { screen_mode_set(mode, 0, 0, 0, 0, 1); }
void active_set(int32_t page) { screen_mode_set(0, 0, page, 0, 0, 4); }
void visual_set(int32_t page) { screen_mode_set(0, 0, 0, page, 0, 8); }

int32_t page0() { return screen_page_table[0]; }

void expect_selected(int32_t dest, int32_t source, int32_t shown) {
    EXPECT_EQ(dest_image_index, dest);
    EXPECT_EQ(source_image_index, source);
    EXPECT_EQ(display_image_index.load(), shown);
    EXPECT_EQ(display_image.load(), &image_pool[shown]);
}

TEST_F(ScreenModes, EveryMode) {
    struct row {
        int32_t mode, width, height, bits, font, pages;
        uint32_t address;  // where page 0 lives in emulated memory, 0 = its own memory
    };
    const row rows[] = {
        {0, 80, 25, 16, 16, 8, text_pages_address}, {1, 320, 200, 2, 8, 1, 0},  {2, 640, 200, 1, 8, 1, 0},
        {7, 320, 200, 4, 8, 1, 0},  {8, 640, 200, 4, 8, 1, 0},  {9, 640, 350, 4, 14, 1, 0},
        {10, 640, 350, 2, 14, 1, 0}, {11, 640, 480, 1, 16, 1, 0}, {12, 640, 480, 4, 16, 1, 0},
        {13, 320, 200, 8, 8, 1, mode13_page_address},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.mode);
        mode_set(r.mode == 0 ? 9 : 0);  // always a rebuild
        mode_set(r.mode);
        ASSERT_EQ(raised(), 0);
        const image_record& p = page(0);
        EXPECT_EQ(p.mode, r.mode);
        EXPECT_EQ(p.width, r.width);
        EXPECT_EQ(p.height, r.height);
        EXPECT_EQ(p.bits_per_pixel, r.bits);
        EXPECT_EQ(p.font, r.font);
        EXPECT_EQ(screen_page_count(), r.pages);
        EXPECT_TRUE(p.image_flags & image_is_screen_page);
        EXPECT_EQ(bool(p.image_flags & image_owns_pixels), r.address == 0);
        if (r.address) {
            EXPECT_EQ(p.pixels, dos_memory + r.address);
        }
        expect_selected(page0(), page0(), page0());
        EXPECT_EQ(last_active_page, 0);
    }
}

TEST_F(ScreenModes, BadModesChangeNothing) {
    int32_t before = page0();
    for (int32_t mode : {3, 4, 5, 6, 14, 32, 256, INT_MAX}) {
        SCOPED_TRACE(mode);
        mode_set(mode);
        EXPECT_EQ(raised(), 5);
        EXPECT_EQ(page0(), before);
    }
    for (int32_t flags : {4, 8}) {
        screen_mode_set(9, 0, -1, -1, 0, 1 | flags);
        EXPECT_EQ(raised(), 5);
        EXPECT_EQ(page0(), before);
        EXPECT_EQ(page(0).mode, 0);
    }
}

TEST_F(ScreenModes, TextSizesFollowRequestsAndThePreviousGrid) {
    struct step {
        int32_t columns, rows, font;  // pending text size, -1 = none
        int32_t mode;
        int32_t want_width, want_height, want_font;
        int32_t stride, in_memory;  // text pages: bytes between pages, pages in emulated memory
    };
    const step steps[] = {
        {-1, -1, -1, 9, 640, 350, 14, 0, 0},
        {40, -1, -1, 0, 40, 25, 17, 2048, 8},  // from a 640 x 350 page with font 14: grid 80 x 25
        {-1, 43, -1, 0, 40, 43, 15, 3440, 8},  // 40 columns kept, one font wider
        {80, 43, 14, 0, 80, 43, 14, 6880, 8},
        {-1, -1, -1, 9, 640, 350, 8, 0, 0},    // grid 80 x 43 picks the 8-pixel font
        {-1, -1, -1, 0, 80, 43, 8, 6880, 8},   // and keeps it on the way back to text
        {-1, 50, -1, 0, 80, 50, 8, 8000, 8},
        {80, 60, 8, 0, 80, 60, 8, 9600, 6},
        {-1, -1, -1, 12, 640, 480, 8, 0, 0},   // grid 80 x 60
        {-1, -1, -1, 0, 80, 25, 16, 4096, 8},  // 80 x 60 is no text size of its own
        {200, 100, 16, 0, 200, 100, 16, 40000, 1},
        {40, 25, 16, 0, 40, 25, 17, 2048, 8},  // 40 x 25 always has font 17
    };
    for (const step& s : steps) {
        SCOPED_TRACE(testing::Message() << s.mode << " " << s.want_width << "x" << s.want_height);
        pending_text_columns = s.columns;
        pending_text_rows = s.rows;
        pending_text_font = s.font;
        mode_set(s.mode);
        ASSERT_EQ(raised(), 0);
        EXPECT_EQ(pending_text_columns, -1);
        EXPECT_EQ(pending_text_rows, -1);
        EXPECT_EQ(pending_text_font, -1);
        EXPECT_EQ(page(0).width, s.want_width);
        EXPECT_EQ(page(0).height, s.want_height);
        EXPECT_EQ(page(0).font, s.want_font);
        if (s.mode != 0) continue;
        ASSERT_EQ(screen_page_count(), 8);
        for (int32_t i = 0; i < 8; ++i) {
            const image_record& p = page(i);
            EXPECT_EQ(p.font, s.want_font);
            EXPECT_TRUE(p.image_flags & image_is_screen_page);
            if (i < s.in_memory) {
                EXPECT_EQ(p.pixels, dos_memory + text_pages_address + i * s.stride) << i;
                EXPECT_FALSE(p.image_flags & image_owns_pixels);
            } else {
                EXPECT_TRUE(p.image_flags & image_owns_pixels) << i;
            }
        }
        for (uint32_t a = text_pages_address; a < text_pages_address + text_pages_bytes; a += 2)
            ASSERT_EQ(dos_memory[a] | dos_memory[a + 1] << 8, 0x0720) << a;
    }
}

TEST_F(ScreenModes, ATextSizeTheRecordCannotHoldKeepsTheScreen) {
    int32_t before = page0();
    pending_text_columns = 70000;
    pending_text_rows = 25;
    pending_text_font = 16;
    mode_set(0);
    EXPECT_EQ(raised(), 5);
    EXPECT_EQ(page0(), before);
    EXPECT_TRUE(page(0).in_use);
    EXPECT_EQ(dest_image_index, before);
}

TEST_F(ScreenModes, PagesAliasEmulatedMemory) {
    dos_memory[text_pages_address + 3 * 4096 + 2 * (2 * 80 + 5)] = 'Q';
    EXPECT_EQ(text_rows(page(3), 3, 3)[0][5], 'Q');
    mode_set(13);
    for (int32_t i = 0; i < 64000; ++i) ASSERT_EQ(page(0).pixels[i], 0);
    dos_memory[mode13_page_address + 320 * 199 + 7] = 77;
    EXPECT_EQ(page(0).pixels[199 * 320 + 7], 77);
}

TEST_F(ScreenModes, ActiveAndVisualPages) {
    std::vector<int32_t> table = screen_page_table;
    active_set(2);
    expect_selected(table[2], table[2], table[2]);  // the active page becomes visual too
    visual_set(3);
    expect_selected(table[2], table[2], table[3]);  // the active page stays
    EXPECT_EQ(screen_page_table, table);            // switching makes and frees nothing
    EXPECT_EQ(last_active_page, 2);

    image_record& p1 = page(1);
    p1.fore_color = 12;
    p1.view_top = 5;
    p1.view_bottom = 9;
    p1.cursor_row = 24;
    active_set(1);
    EXPECT_EQ(p1.fore_color, 7);
    EXPECT_EQ(p1.view_top, 1);
    EXPECT_EQ(p1.view_bottom, 24);
    EXPECT_EQ(p1.cursor_row, 24);
    EXPECT_EQ(raised(), 0);
}

TEST_F(ScreenModes, GraphicsPagesShareThePaletteAndTakeOverTheView) {
    mode_set(9);
    graphics_view_set(10, 20, 100, 200, 0, 0, 1);
    active_set(1);
    ASSERT_EQ(raised(), 0);
    ASSERT_EQ(screen_page_count(), 2);
    const image_record& p1 = page(1);
    EXPECT_EQ(dest_image, &p1);
    EXPECT_EQ(p1.mode, 9);
    EXPECT_EQ(p1.palette, page(0).palette);
    EXPECT_FALSE(p1.image_flags & image_owns_palette);
    EXPECT_EQ(p1.clip_x1, 10);
    EXPECT_EQ(p1.clip_y2, 200);
    EXPECT_EQ(p1.coord_mode, 1);
}

TEST_F(ScreenModes, PageNumbersAreBounded) {
    EXPECT_EQ(screen_page_get(screen_page_max + 1), 0);
    EXPECT_EQ(raised(), 5);
    EXPECT_EQ(screen_page_count(), 8);
    active_set(INT_MAX);
    EXPECT_EQ(raised(), 5);
    EXPECT_EQ(screen_page_count(), 8);
    EXPECT_GT(screen_page_get(20), 1);
    EXPECT_EQ(screen_page_count(), 21);
}

TEST_F(ScreenModes, AnImageBecomesTheScreen) {
    // The winding program's screen: a 640 x 480 image like the mode-9 page.
    mode_set(9);
    int32_t old_page0 = page0();
    int32_t image = image_new(640, 480, 9);
    std::memcpy(image_pool[image].palette, page(0).palette, 256 * sizeof(uint32_t));
    mode_set(-image);
    ASSERT_EQ(raised(), 0);
    EXPECT_EQ(page0(), image);
    EXPECT_EQ(screen_page_count(), 1);
    EXPECT_EQ(page0_is_user_image, 1);
    EXPECT_FALSE(slot(old_page0).in_use);
    expect_selected(image, image, image);
    const image_record& r = slot(image);
    EXPECT_TRUE(r.image_flags & image_is_screen_page);
    EXPECT_EQ(r.font, 14);
    EXPECT_EQ(r.view_bottom, 33);  // 80 x 34 grid, the last row for the key line

    r.pixels[1000] = 9;
    mode_set(0);
    EXPECT_TRUE(r.in_use);
    EXPECT_FALSE(r.image_flags & image_is_screen_page);
    EXPECT_EQ(r.pixels[1000], 9);
    EXPECT_NE(page0(), image);
}

TEST_F(ScreenModes, HandlesOfTheScreenOrOfNothing) {
    std::vector<int32_t> table = screen_page_table;
    mode_set(-table[0]);  // page 0 itself: nothing to do
    EXPECT_EQ(raised(), 0);
    mode_set(-table[1]);  // another page would be freed by the rebuild
    EXPECT_EQ(raised(), 5);
    EXPECT_EQ(screen_page_table, table);
    EXPECT_TRUE(slot(table[1]).in_use);
    for (int32_t h : {-1, -image_pool_used, -16777216, INT_MIN}) {
        mode_set(h);
        EXPECT_EQ(raised(), 258) << h;
    }
    EXPECT_EQ(screen_page_table, table);
}

TEST_F(ScreenModes, PageCopy) {
    text_cell* from = reinterpret_cast<text_cell*>(page(0).pixels);
    for (int32_t i = 0; i < 2000; ++i) from[i] = {uint8_t(i), uint8_t(i >> 3)};
    page_copy(0, 1);
    EXPECT_EQ(std::memcmp(page(0).pixels, page(1).pixels, 4000), 0);
    page_copy(1, 1);
    EXPECT_EQ(raised(), 0);

    mode_set(9);
    int32_t four_colours = image_new(640, 350, 10);
    int32_t sixteen = image_new(640, 350, 9);
    int32_t smaller = image_new(640, 349, 9);
    page_copy(0, -four_colours);
    EXPECT_EQ(raised(), 5);
    page_copy(0, -smaller);
    EXPECT_EQ(raised(), 5);
    page_copy(-image_pool_used, 0);
    EXPECT_EQ(raised(), 5);
    page(0).pixels[5] = 11;
    page_copy(0, -sixteen);
    EXPECT_EQ(raised(), 0);
    EXPECT_EQ(slot(sixteen).pixels[5], 11);
    page_copy(-four_colours, 0);  // a smaller colour mask fits
    EXPECT_EQ(raised(), 0);
    EXPECT_EQ(page(0).pixels[5], 0);
}

TEST_F(ScreenModes, Row50SwitchStaysArmedOnlyForTextModeAlone) {
    struct call {
        int32_t mode, flags;
        bool armed;
    };
    for (const call& c : {call{0, 1, true}, call{9, 1, false}, call{0, 5, false}, call{0, 0, false}}) {
        row50_switch_armed = 1;
        screen_mode_set(c.mode, 0, 0, 0, 0, c.flags);
        EXPECT_EQ(row50_switch_armed, c.armed) << c.mode << " " << c.flags;
        mode_set(0);
    }
}

TEST_F(ScreenModes, ErrorPendingDoesNothing) {
    int32_t before = page0();
    error_number = 5;
    mode_set(9);
    EXPECT_EQ(page0(), before);
}

// The frame builder's side, played by a thread: it answers the request only after a while and
// checks that the old page is still there until it has answered.
struct ScreenHandOverThreaded : screen_test {
    void SetUp() override {
        screen_test::SetUp();
        frame_suspend_enabled = 1;
        autodisplay_mode = 1;
    }
    void TearDown() override {
        frame_suspend_enabled = 0;
        frame_build_suspend = 0;
        shutdown_flag = 0;
        screen_test::TearDown();
    }
};

TEST_F(ScreenHandOverThreaded, RebuildWaitsForTheBuilder) {
    const image_record* shown = display_image.load();
    std::atomic<bool> page_kept{true};
    std::thread builder([&] {
        while (frame_build_suspend.load() != 1) std::this_thread::yield();
        for (int i = 0; i < 20; ++i) {
            if (!shown->in_use || shown->mode != 0) page_kept = false;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        frame_build_suspend.store(2);
    });
    mode_set(9);
    builder.join();
    EXPECT_TRUE(page_kept);
    EXPECT_EQ(frame_build_suspend.load(), 0);
    EXPECT_EQ(page(0).mode, 9);
    EXPECT_EQ(frame_compare_valid.load(), 0);
}

TEST_F(ScreenHandOverThreaded, NestedBracketsAskOnce) {
    std::atomic<int> answers{0};
    std::atomic<bool> done{false};
    std::thread builder([&] {
        while (!done) {
            int32_t asked = 1;
            if (frame_build_suspend.compare_exchange_strong(asked, 2)) ++answers;
            std::this_thread::yield();
        }
    });
    frame_suspend_begin();
    frame_suspend_begin();
    frame_suspend_end();
    EXPECT_EQ(frame_build_suspend.load(), 2);  // still held by the outer bracket
    frame_suspend_end();
    EXPECT_EQ(frame_build_suspend.load(), 0);
    done = true;
    builder.join();
    EXPECT_EQ(answers.load(), 1);
}

TEST_F(ScreenHandOverThreaded, WaitEndsAtShutdown) {
    std::thread control([] {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        shutdown_flag = 1;
    });
    mode_set(9);  // no builder answers
    control.join();
    EXPECT_EQ(page(0).mode, 9);
    EXPECT_EQ(frame_build_suspend.load(), 0);
}

TEST_F(ScreenHandOverThreaded, NotTakenWithoutAutomaticDisplayOrForPageSwitches) {
    autodisplay_mode = 0;
    mode_set(9);  // nobody answers: it must not wait
    EXPECT_EQ(page(0).mode, 9);
    autodisplay_mode = 1;
    active_set(1);
    EXPECT_EQ(frame_build_suspend.load(), 0);
}

}  // namespace
