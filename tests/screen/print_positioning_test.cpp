// Print positioning: the comma's zones, the texts of the tab and space functions for the screen,
// files and the printer page, and the cursor queries around a deferred newline.
#include "screen/print_positioning.h"

#include <gtest/gtest.h>

#include <string>

#include "core/error_codes.h"
#include "core/strings.h"
#include "screen/screen_fixture.h"
#include "screen/text_output.h"

namespace {

struct PrintPositioning : screen_test {
    void SetUp() override {
        screen_test::SetUp();
        string_store_reset();
        string_segment_init();
        print_line_end_length = 1;
        print_file_number = 0;
        print_to_printer = 0;
        print_position_seams_set({});
    }
    void TearDown() override {
        print_line_end_length = 1;
        print_to_printer = 0;
        print_position_seams_set({});
        string_store_reset();
        screen_test::TearDown();
    }
    static void cursor_at(int32_t row, int32_t column) {
        dest_image->cursor_row = int16_t(row);
        dest_image->cursor_column = int16_t(column);
        dest_image->pending_newline = 0;
    }
    static std::string text_of(const string_descriptor* s) {
        return std::string(reinterpret_cast<const char*>(s->text), size_t(s->length));
    }
    static std::string line(bool cr, int spaces, bool lf = false) {
        return std::string(cr ? "\r" : "") + (lf ? "\n" : "") + std::string(size_t(spaces), ' ');
    }
};

TEST_F(PrintPositioning, CommaGoesToTheNextZoneWithFourteenColumnsLeft) {
    const struct {
        int32_t width, from, to;
    } cases[] = {{80, 1, 15},  {80, 14, 15}, {80, 15, 29}, {80, 44, 57}, {80, 57, 80},
                 {80, 58, 80}, {40, 1, 15},  {40, 15, 40}, {40, 29, 40}, {70, 44, 57}, {70, 57, 70}};
    for (const auto& c : cases) {
        image_record& r = dest_new(c.width, 25, 0);
        cursor_at(3, c.from);
        print_comma();
        EXPECT_EQ(r.cursor_column, c.to) << c.width << " from " << c.from;
        EXPECT_EQ(r.cursor_row, 3) << c.width << " from " << c.from;
        EXPECT_EQ(r.pending_newline, 0) << c.width << " from " << c.from;
    }
}

TEST_F(PrintPositioning, CommaAfterAFullLineOnlyStartsTheNextLine) {
    image_record& r = page(0);
    cursor_at(10, 1);
    print_string(string_from_literal(std::string(80, 'x').data(), 80), 0);
    ASSERT_EQ(r.pending_newline, 1);
    print_comma();
    EXPECT_EQ(r.cursor_row, 11);
    EXPECT_EQ(r.cursor_column, 1);
    EXPECT_EQ(r.pending_newline, 0);
    EXPECT_EQ(text_rows(r, 11, 11)[0], std::string(80, ' '));
}

TEST_F(PrintPositioning, TabText) {
    const struct {
        int32_t column, n;
        std::string want;
        int32_t error;
    } cases[] = {
        {20, 10, line(true, 9), 0},   {5, 10, line(false, 5), 0},   {1, 0, "", 0},
        {5, 0, line(true, 0), 0},      {5, -7, line(true, 0), 0},   {1, 100, line(false, 19), 0},
        {1, 32767, line(false, 46), 0}, {1, 32768, "", error_out_of_memory}, {1, -32769, "", error_out_of_memory},
        {1, -32768, "", 0},             {70, 80, line(false, 10), 0},  // the last column, no line end
    };
    for (const auto& c : cases) {
        cursor_at(2, c.column);
        EXPECT_EQ(text_of(print_tab(c.n)), c.want) << c.column << ", " << c.n;
        EXPECT_EQ(raised(), c.error) << c.column << ", " << c.n;
    }
}

TEST_F(PrintPositioning, SpaceText) {
    const struct {
        int32_t column, n;
        std::string want;
        int32_t error;
    } cases[] = {
        {1, 85, line(false, 5), 0},  {78, 5, line(true, 2), 0},  {78, 3, line(false, 3), 0},
        {1, -3, "", 0},              {1, 160, "", 0},             {1, 32767, line(false, 47), 0},
        {1, 32768, "", error_out_of_memory},
    };
    for (const auto& c : cases) {
        cursor_at(2, c.column);
        EXPECT_EQ(text_of(print_spaces(c.n)), c.want) << c.column << ", " << c.n;
        EXPECT_EQ(raised(), c.error) << c.column << ", " << c.n;
    }
}

// The console page keeps no cursor: whatever was printed, the comma prints one blank and TAB(n)
// gives n - 1 blanks, so tabulated output does not line up there.
TEST_F(PrintPositioning, ConsolePageCommaIsOneBlankAndTabCountsFromColumnOne) {
    image_record& console = dest_new(80, 25, 0);
    console.is_console = 1;
    testing::internal::CaptureStdout();
    print_string(string_from_cstring("Name"), 0);
    print_comma();
    print_string(string_from_cstring("x"), 0);
    EXPECT_EQ(text_of(print_tab(10)), line(false, 9));
    print_string(string_from_cstring(std::string(30, 'y').c_str()), 0);
    EXPECT_EQ(text_of(print_tab(10)), line(false, 9)) << "no line end behind the print position";
    std::fflush(stdout);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Name x" + std::string(30, 'y'));
}

// An image narrower than one character still has one column: no division by zero.
TEST_F(PrintPositioning, AnImageNarrowerThanOneCharacterHasOneColumn) {
    image_record& r = dest_new(4, 16, 256);
    image_font_set(8, &r);
    print_comma();
    EXPECT_EQ(text_of(print_tab(5)), "");
    EXPECT_EQ(text_of(print_spaces(3)), "");
    EXPECT_EQ(raised(), 0);
}

TEST_F(PrintPositioning, FilesHaveCrLfAndNoLineWidth) {
    print_line_end_length = 2;
    print_file_number = 3;
    EXPECT_EQ(text_of(print_tab(10)), line(false, 9));  // without the file layer: column 1
    print_position_seams_set({[](int32_t file) { return file == 3 ? 30 : 0; }, nullptr});
    EXPECT_EQ(text_of(print_tab(10)), line(true, 9, true));
    EXPECT_EQ(text_of(print_tab(40)), line(false, 10));
    EXPECT_EQ(text_of(print_tab(100)), line(false, 70));
    EXPECT_EQ(text_of(print_spaces(100)), line(false, 100));
    print_file_number = 4;  // not open
    EXPECT_EQ(text_of(print_tab(10)), line(false, 9));
}

// Printer output positions on the printer page; the destination stays the screen.
TEST_F(PrintPositioning, PrinterOutputPositionsOnThePrinterPage) {
    static int32_t printer_handle = 0;
    int32_t screen_slot = dest_image_index;
    int32_t slot = image_new(640, 960, 13);
    ASSERT_NE(slot, 0);
    image_font_set(16, &image_pool[slot]);
    image_pool[slot].cursor_column = 20;
    printer_handle = -slot;
    print_position_seams_set({nullptr, [] { return printer_handle; }});
    print_to_printer = 1;
    cursor_at(1, 1);
    EXPECT_EQ(text_of(print_tab(10)), line(true, 9));
    EXPECT_EQ(text_of(print_spaces(65)), line(true, 4));
    EXPECT_EQ(dest_image_index, screen_slot);
}

TEST_F(PrintPositioning, CursorQueriesReportWhereADeferredNewlineGoes) {
    image_record& r = page(0);
    cursor_at(10, 1);
    print_string(string_from_literal(std::string(80, 'x').data(), 80), 0);
    EXPECT_EQ(cursor_row_get(), 11);
    EXPECT_EQ(cursor_column_get(), 1);
    EXPECT_EQ(r.cursor_row, 10);
    cursor_at(r.view_bottom, 1);
    print_string(string_from_literal(std::string(80, 'x').data(), 80), 0);
    EXPECT_EQ(cursor_row_get(), r.view_bottom);
    cursor_at(7, 33);
    EXPECT_EQ(cursor_row_get(), 7);
    EXPECT_EQ(cursor_column_get(), 33);
}

}  // namespace
