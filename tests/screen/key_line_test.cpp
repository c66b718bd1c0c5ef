// The function-key label line and the key statements: the bottom row of page 0 as characters and
// attributes, its redraws after clears and rebuilds, the label layout by line width, the key list
// and key definitions.
#include "screen/key_line.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "core/error_codes.h"
#include "core/strings.h"
#include "core/traps.h"
#include "screen/screen_fixture.h"
#include "screen/text_view.h"

namespace {

struct KeyLine : screen_test {
    void SetUp() override {
        screen_test::SetUp();
        string_store_reset();
        string_segment_init();
        traps_tables_make();
        key_line_reset();
    }
    void TearDown() override {
        key_line_reset();
        traps_tables_make();
        string_store_reset();
        screen_test::TearDown();
    }
    static void define(int32_t key, const std::string& text) {
        key_define(key, string_from_literal(text.data(), int32_t(text.size())));
    }
    // The bottom row of page 0: its characters, and its attributes as 'a' (0x07), 'i' (0x70) or '?'.
    static std::string bottom_chars() {
        const image_record& r = page(0);
        return text_rows(r, r.height, r.height)[0];
    }
    static std::string bottom_attributes() {
        const image_record& r = page(0);
        std::string out;
        for (int32_t c = 1; c <= r.width; ++c) {
            uint8_t a = attribute_at(r, r.height, c);
            out += a == 0x07 ? 'a' : a == 0x70 ? 'i' : '?';
        }
        return out;
    }
    static std::string repeat(const std::string& s, int n) {
        std::string out;
        for (int i = 0; i < n; ++i) out += s;
        return out;
    }
};

TEST_F(KeyLine, EightyColumnsShowTenLabelsWithTheTextsInInverseVideo) {
    define(1, "LIST ");
    define(2, "RUN\r");
    key_line_show();
    EXPECT_EQ(bottom_chars(), "1LIST   2RUN\x1b   3       4       5       6       7       8       9       10      ");
    EXPECT_EQ(bottom_attributes(), "aiiiiiia" "aiiiiiia" + repeat("aaaaaaaa", 8));
}

TEST_F(KeyLine, FortyColumnsShowFiveLabels) {
    pending_text_columns = 40;
    screen_mode_set(0, 0, 0, 0, 0, 1);
    ASSERT_EQ(page(0).width, 40);
    define(1, "LIST ");
    define(2, "RUN\r");
    key_line_show();
    EXPECT_EQ(bottom_chars(), "1LIST   2RUN\x1b   3       4       5       ");
    EXPECT_EQ(bottom_attributes(), "aiiiiiia" "aiiiiiia" + repeat("aaaaaaaa", 3));
}

TEST_F(KeyLine, LabelWidthsByLineWidth) {
    const struct {
        int32_t line;
        bool proportional;
        int32_t height;
        key_label_layout want;
        int32_t labels;
    } cases[] = {
        {80, false, 16, {8, 80, 0}, 10},  {40, false, 16, {8, 40, 0}, 5},   {87, false, 16, {8, 80, 0}, 10},
        {88, false, 16, {8, 88, 0}, 11},  {95, false, 16, {8, 88, 0}, 11},  {96, false, 16, {8, 96, 0}, 12},
        {120, false, 16, {10, 120, 0}, 12}, {8, false, 16, {8, 8, 0}, 1},   {5, false, 16, {5, 5, 0}, 1},
        {640, true, 16, {80, 624, 16}, 8}, {60, true, 16, {60, 44, 16}, 1}, {1280, true, 8, {106, 1264, 8}, 12},
    };
    for (const auto& c : cases) {
        key_label_layout l = key_label_layout_of(c.line, c.proportional, c.height);
        EXPECT_EQ(l.width, c.want.width) << c.line;
        EXPECT_EQ(l.end, c.want.end) << c.line;
        EXPECT_EQ(l.gap, c.want.gap) << c.line;
        int32_t labels = 0;
        while (labels < 12 && labels * l.width + 1 < l.end) ++labels;
        EXPECT_EQ(labels, c.labels) << c.line;
    }
}

TEST_F(KeyLine, ControlCodesShowAsOtherGlyphs) {
    const uint8_t codes[] = {7, 8, 9, 10, 11, 12, 13, 28, 29, 30, 31, 0, 65, 27, 255};
    const uint8_t glyphs[] = {14, 254, 26, 60, 127, 22, 27, 16, 17, 24, 25, 0, 65, 27, 255};
    for (size_t i = 0; i < sizeof codes; ++i) EXPECT_EQ(key_label_glyph(codes[i]), glyphs[i]) << int(codes[i]);
}

TEST_F(KeyLine, TheLineIsRedrawnAfterClearsAndRebuildsOnlyWhileShown) {
    define(3, "GO");
    key_line_show();
    const std::string shown = bottom_chars();
    ASSERT_EQ(shown.substr(16, 3), "3GO");
    dest_clear(0, 0, 0);
    EXPECT_EQ(bottom_chars(), shown);
    dest_clear(0, 0, 1);  // the whole page
    EXPECT_EQ(bottom_chars(), shown);
    pending_text_columns = 80;  // a rebuild of the same mode
    screen_mode_set(0, 0, 0, 0, 0, 1);
    EXPECT_EQ(bottom_chars(), shown);
    dest_clear(2, 0, 1);  // the text view: the bottom row stays as it is
    EXPECT_EQ(bottom_chars(), shown);

    key_line_hide();
    EXPECT_EQ(bottom_chars(), std::string(80, ' '));
    reinterpret_cast<text_cell*>(page(0).pixels)[24 * 80].code = 'Z';
    key_line_hide();  // already hidden: nothing
    EXPECT_EQ(bottom_chars()[0], 'Z');
    dest_clear(1, 0, 1);  // the graphics view of a text page: nothing
    EXPECT_EQ(bottom_chars()[0], 'Z');
    dest_clear(0, 0, 0);
    EXPECT_EQ(bottom_chars(), std::string(80, ' '));
}

TEST_F(KeyLine, DrawingKeepsTheCursorColoursAndDestination) {
    define(1, "AB");
    image_record& p0 = page(0);
    p0.cursor_row = 7;
    p0.cursor_column = 12;
    p0.fore_color = 14;
    p0.back_color = 1;
    image_record& other = dest_new(20, 5, 0);
    key_line_show();
    EXPECT_EQ(dest_image, &other);
    EXPECT_EQ(p0.cursor_row, 7);
    EXPECT_EQ(p0.cursor_column, 12);
    EXPECT_EQ(p0.fore_color, 14);
    EXPECT_EQ(p0.back_color, 1u);
    // Under a background that is not 0 the texts show 7 on 0.
    EXPECT_EQ(attribute_at(p0, 25, 1), 0x1E);
    EXPECT_EQ(attribute_at(p0, 25, 2), 0x07);
}

TEST_F(KeyLine, AGraphicsPageShowsTheLabelsAsGlyphs) {
    screen_mode_set(12, 0, 0, 0, 0, 1);
    define(1, "LIST");
    key_line_show();
    source_image_select(0);
    EXPECT_EQ(screen_char_read(30, 1, 0, 0), '1');
    EXPECT_EQ(screen_char_read(30, 2, 0, 0), 'L');
    EXPECT_EQ(screen_char_read(30, 9, 0, 0), '2');
    EXPECT_EQ(screen_char_read(30, 10, 0, 0), ' ');
}

TEST_F(KeyLine, KeyListShowsEveryFunctionKey) {
    define(1, "LIST ");
    define(2, "RUN\r");
    define(31, "F\x1fX");
    cursor_place(1, 1, 0, 0, 0, 3);
    key_list_print();
    std::vector<std::string> rows = text_rows(page(0), 1, 12);
    const char* want[] = {"F1  LIST ", "F2  RUN ", "F3  ", "F4  ", "F5  ", "F6  ", "F7  ", "F8  ", "F9  ",
                          "F10 ",      "F11 ",     "F12 F X"};
    for (int i = 0; i < 12; ++i)
        EXPECT_EQ(rows[size_t(i)], want[i] + std::string(80 - std::strlen(want[i]), ' ')) << i;
}

TEST_F(KeyLine, KeyDefinitions) {
    define(15, std::string("\x04\x2E", 2));
    EXPECT_EQ(key_trap_table[15].trap_scan_code.load(), 0x2E);
    EXPECT_EQ(key_trap_table[15].shift_mask.load(), 0x04);
    define(16, std::string("\x01\x02\x48", 3));
    EXPECT_EQ(key_trap_table[16].trap_scan_code.load(), 0x48);
    EXPECT_EQ(key_trap_table[16].shift_mask.load(), 0x03);
    define(15, "");
    EXPECT_EQ(key_trap_table[15].trap_scan_code.load(), 0);
    const struct {
        int32_t key;
        std::string text;
        int32_t error;
    } cases[] = {{11, "x", 5}, {0, "x", 5}, {32, "x", 5}, {14, "x", 5}, {1, std::string(16, 'x'), 5},
                 {1, std::string(15, 'x'), 0}, {30, "F11", 0}, {29, "", 0}};
    for (const auto& c : cases) {
        define(c.key, c.text);
        EXPECT_EQ(raised(), c.error) << c.key << " " << c.text.size();
    }
    const string_descriptor* f11 = key_trap_table[30].key_text.load();
    ASSERT_NE(f11, nullptr);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(f11->text), size_t(f11->length)), "F11");
    // Redefining a key leaves the text the keyboard may still read untouched.
    define(30, "NEW");
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(f11->text), size_t(f11->length)), "F11");
    const string_descriptor* now = key_trap_table[30].key_text.load();
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(now->text), size_t(now->length)), "NEW");
}

}  // namespace
