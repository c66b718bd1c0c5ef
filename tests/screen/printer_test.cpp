// The printer page: made on first use, the printer column and line width, the page handed on and
// cleared on a form feed, when full and after its idle time, never disturbing the destination.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <string>
#include <thread>
#include <vector>

#include "core/strings.h"
#include "core/timing.h"
#include "screen/image_handles.h"
#include "screen/printer.h"
#include "screen/screen_fixture.h"

namespace {

struct printer_test : screen_test {
    void SetUp() override {
        screen_test::SetUp();
        printer_init();
        printer_reset();
    }
    static void print(const std::string& text, int32_t newline) {
        printer_print_string(string_temp_from_bytes(text.data(), text.size()), newline);
    }
    static image_record& page_record() { return image_pool[-printer_page_handle_get()]; }
    static bool page_blank() {
        image_record& r = page_record();
        return std::all_of(r.pixels, r.pixels + image_pixel_bytes(&r), [](uint8_t p) { return p == 15; });
    }
};

TEST_F(printer_test, FirstOutputMakesThePageAndKeepsTheDestination) {
    int32_t screen = dest_image_index;
    print("hello", 0);
    EXPECT_EQ(dest_image_index, screen);
    image_record& r = page_record();
    EXPECT_EQ(r.width, 640);
    EXPECT_EQ(r.height, 960);
    EXPECT_EQ(r.mode, 13);
    EXPECT_EQ(r.font, 16);
    EXPECT_EQ(r.fore_color, 0);
    EXPECT_EQ(r.back_color, 15u);
    EXPECT_EQ(r.view_bottom, 60);
    EXPECT_EQ(r.cursor_column, 6);
    EXPECT_FALSE(page_blank());
    EXPECT_EQ(text_rows(page(0), 1, 1)[0].substr(0, 5), "     ") << "nothing went to the screen";
}

TEST_F(printer_test, LineBreaksAtThePrinterWidth) {
    print(std::string(85, 'x'), 0);
    EXPECT_EQ(page_record().cursor_row, 2);
    EXPECT_EQ(page_record().cursor_column, 6);
    EXPECT_EQ(printer_column_get(0), 6);
    print("", 1);
    EXPECT_EQ(printer_column_get(3), 1);

    printer_width_set(100);
    print(std::string(85, 'y'), 0);
    EXPECT_EQ(printer_column_get(0), 6) << "the page's own wrap at 80 columns starts a printer line too";
}

TEST_F(printer_test, ControlCodesMoveThePrinterColumn) {
    print("abc\x1D\x1D", 0);
    EXPECT_EQ(printer_column_get(0), 2);
    print("\x1C", 0);
    EXPECT_EQ(printer_column_get(0), 3);
    print("\r", 0);
    EXPECT_EQ(printer_column_get(0), 1);
}

TEST_F(printer_test, FormFeedHandsOnAndClears) {
    print("text", 0);
    print("\x0C", 0);
    EXPECT_TRUE(page_blank());
    EXPECT_EQ(printer_column_get(0), 1);
    EXPECT_EQ(page_record().cursor_row, 1);
}

TEST_F(printer_test, TheSixtyFirstLineStartsAFreshPage) {
    for (int i = 0; i < 60; ++i) print("line", 1);
    EXPECT_TRUE(page_blank());
    EXPECT_EQ(page_record().cursor_row, 1);
    print("next", 1);
    EXPECT_EQ(page_record().cursor_row, 2);
}

TEST_F(printer_test, ColumnQueryRange) {
    EXPECT_EQ(printer_column_get(4), 0);
    EXPECT_EQ(raised(), 5);
    EXPECT_EQ(printer_column_get(-1), 0);
    EXPECT_EQ(raised(), 5);
}

TEST_F(printer_test, IdleFlushWaitsTenSeconds) {
    print("text", 0);
    printer_page_flush_if_idle(clock_ms() + 9000);
    EXPECT_FALSE(page_blank());
    printer_page_flush_if_idle(clock_ms() + printer_idle_flush_ms + 10);
    EXPECT_TRUE(page_blank());
    EXPECT_EQ(page_record().cursor_column, 1);
}

// However the page's image goes, the next output makes a new page and never draws on an image of the
// program's that took the page's old slot.
TEST_F(printer_test, AFreedPageIsMadeAfreshAndTheProgramsImageIsLeftAlone) {
    const struct {
        const char* name;
        void (*free_page)(int32_t handle);
    } paths[] = {
        {"program reset", [](int32_t) { images_free_all(); }},
        {"image freed by handle", [](int32_t handle) { image_handle_free(handle, 1); }},
    };
    for (const auto& path : paths) {
        SCOPED_TRACE(path.name);
        print("before", 1);
        const int32_t old_page = printer_page_handle_get();
        path.free_page(old_page);
        int32_t image = 0;
        for (int i = 0; i < 4 && image != old_page; ++i) image = image_handle_new(640, 960, 13, 1);
        ASSERT_EQ(image, old_page) << "an image of the program's took the page's slot";
        const image_record& mine = image_pool[-image];
        const std::vector<uint8_t> pixels(mine.pixels, mine.pixels + image_pixel_bytes(&mine));
        print("after", 1);
        EXPECT_EQ(raised(), 0);
        EXPECT_NE(printer_page_handle_get(), image);
        EXPECT_EQ(std::vector<uint8_t>(mine.pixels, mine.pixels + image_pixel_bytes(&mine)), pixels);
        EXPECT_EQ(mine.cursor_row, 1);
        EXPECT_FALSE(page_blank()) << "the text went to the new page";
        images_free_all();
    }
}

using PrinterThreaded = printer_test;

// The control thread's flush runs between printer outputs and never changes the destination.
TEST_F(PrinterThreaded, FlushNeverTouchesTheDestination) {
    print("", 0);
    const int32_t screen = dest_image_index;
    std::atomic<bool> done{false};
    std::thread control([&] {
        while (!done.load()) printer_page_flush_if_idle(INT64_MAX);
    });
    int32_t changed = 0;
    for (int i = 0; i < 300; ++i) {
        print("abc", 1);
        if (dest_image_index != screen) ++changed;
        if (dest_image != &image_pool[screen]) ++changed;
    }
    done.store(true);
    control.join();
    EXPECT_EQ(changed, 0);
}

}  // namespace
