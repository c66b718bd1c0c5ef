#include "draw/turtle.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "core/memory.h"
#include "core/strings.h"
#include "draw/flood_fill.h"
#include "draw/lines.h"
#include "draw_texts.h"
#include "screen/image_fixture.h"

namespace {

struct Turtle : image_test {
    void SetUp() override {
        image_test::SetUp();
        dos_memory_clear();
    }

    kept_strings text;
    void run(const std::string& commands) { turtle_draw(text(commands)); }

    static void segment_put(uint16_t offset, const void* bytes, size_t n) {
        std::memcpy(dos_memory + string_segment_address + offset, bytes, n);
    }
    static std::string reference(uint8_t type, uint16_t offset) {
        return std::string{char(type), char(offset & 0xFF), char(offset >> 8)};
    }
    // A string of the segment: its text at text_offset, its 4-byte entry at entry; the X command
    // that runs it.
    static std::string substring(uint16_t entry, uint16_t text_offset, const std::string& s) {
        segment_put(text_offset, s.data(), s.size());
        const uint8_t e[] = {uint8_t(s.size()), uint8_t(s.size() >> 8), uint8_t(text_offset), uint8_t(text_offset >> 8)};
        segment_put(entry, e, 4);
        return "X" + reference(turtle_variable_string, entry);
    }
    static std::vector<uint8_t> bytes(const image_record& r) { return {r.pixels, r.pixels + image_pixel_bytes(&r)}; }

    turtle_number read(const std::string& s, uint32_t* position = nullptr) {
        const string_descriptor* kept = text(s);
        turtle_text t{kept->text, uint32_t(kept->length), 0};
        turtle_number n = turtle_number_read(t);
        if (position) *position = t.position;
        return n;
    }
};

struct segment {
    int64_t x1, y1, x2, y2;
};

// Each string against the same lines drawn directly, with end points worked out by hand.
TEST_F(Turtle, StringsDrawTheLinesWorkedOutByHand) {
    struct turtle_case {
        const char* commands;
        int32_t mode;
        double angle;
        std::vector<segment> lines;
        float cursor_x, cursor_y;
    };
    const turtle_case cases[] = {
        {"U10R5", 12, 0, {{100, 100, 100, 90}, {100, 90, 105, 90}}, 105, 90},
        {"u10r5", 12, 0, {{100, 100, 100, 90}, {100, 90, 105, 90}}, 105, 90},
        {"BM100,120", 12, 0, {}, 100, 120},
        {"NU10", 12, 0, {{100, 100, 100, 90}}, 100, 100},
        {"M+10,-5", 12, 0, {{100, 100, 110, 95}}, 110, 95},
        {"M 30 , 40", 12, 0, {{100, 100, 30, 40}}, 30, 40},
        {"A1R10", 12, 0, {{100, 100, 100, 90}}, 100, 90},
        {"S8U10", 12, 0, {{100, 100, 100, 80}}, 100, 80},
        {"U", 12, 0, {{100, 100, 100, 99}}, 100, 99},
        {"U0", 12, 0, {{100, 100, 100, 100}}, 100, 100},
        {"D5L5E5F5G5H5", 12, 0,
         {{100, 100, 100, 105}, {100, 105, 95, 105}, {95, 105, 100, 100}, {100, 100, 105, 105}, {105, 105, 100, 110},
          {100, 110, 95, 105}},
         95, 105},
        {"TA45U10", 12, 0, {{100, 100, 93, 93}}, 92.928932f, 92.928932f},
        {"T A 180 R4", 12, 0, {{100, 100, 96, 100}}, 96, 100},
        {"U5; \tR5", 12, 0, {{100, 100, 100, 95}, {100, 95, 105, 95}}, 105, 95},
        {"BA0U5R1", 12, 0, {{100, 95, 101, 95}}, 101, 95},  // B waits for the next movement
        {"NS4U5R1", 12, 0, {{100, 100, 100, 95}, {100, 100, 101, 100}}, 101, 100},
        {"R3", 12, 90, {{100, 100, 100, 97}}, 100, 97},  // the image's angle carries over
        // 640 x 200: a step up at angle 90 goes left, 12/5 as far (24 * 12 / 5 = 57.6).
        {"U24", 2, 90, {{100, 100, 42, 100}}, 42.4f, 100},
        // Mode 13's pixels are 5/6 as wide as high: a step turned sideways is 6/5 as long.
        {"A1U10", 13, 0, {{100, 100, 88, 100}}, 88, 100},
    };
    for (const turtle_case& c : cases) {
        SCOPED_TRACE(c.commands);
        image_record& want = dest_new(200, 200, c.mode);
        for (const segment& s : c.lines) line_pixels_draw(s.x1, s.y1, s.x2, s.y2, 1);
        image_record& r = dest_new(200, 200, c.mode);
        r.cursor_x = r.cursor_y = 100;
        r.draw_color = 1;
        r.turtle_angle = c.angle;
        run(c.commands);
        EXPECT_EQ(raised(), 0);
        EXPECT_EQ(bytes(r), bytes(want));
        EXPECT_NEAR(r.cursor_x, c.cursor_x, 1e-4);
        EXPECT_NEAR(r.cursor_y, c.cursor_y, 1e-4);
    }
}

TEST_F(Turtle, AngleScaleAndColourStayWithTheImage) {
    image_record& r = dest_new(100, 100, 12);
    run("A1S8C3");
    EXPECT_EQ(r.turtle_angle, 90.0);
    EXPECT_EQ(r.turtle_scale, 2.0);
    EXPECT_EQ(r.draw_color, 3u);
    run("TA-30");
    EXPECT_EQ(r.turtle_angle, -30.0);
    run("C-1");  // a whole number keeps its low 32 bits
    EXPECT_EQ(r.draw_color, 0xFFFFFFFFu);
    EXPECT_EQ(raised(), 0);
}

TEST_F(Turtle, AbsoluteMovesIgnoreViewAndWindow) {
    image_record& r = dest_new(100, 100, 12);
    r.coord_mode = 2;
    r.view_origin_x = 20;
    r.view_origin_y = 10;
    r.scale_x = 2;
    r.scale_y = -2;
    r.offset_x = 4;
    r.offset_y = 60;
    r.cursor_x = 3;   // pixel 3 * 2 + 4 + 20 = 30
    r.cursor_y = 10;  // pixel 10 * -2 + 60 + 10 = 50
    run("M10,5");
    image_record& want = dest_new(100, 100, 12);
    line_pixels_draw(30, 50, 10, 5, 15);
    EXPECT_EQ(bytes(r), bytes(want));
    EXPECT_FLOAT_EQ(r.cursor_x, (10 - 20 - 4) / 2.0f);
    EXPECT_FLOAT_EQ(r.cursor_y, (5 - 10 - 60) / -2.0f);
}

TEST_F(Turtle, SubStringsRunInPlaceAndKeepTheFlags) {
    image_record& r = dest_new(200, 200, 12);
    r.cursor_x = r.cursor_y = 100;
    r.draw_color = 1;
    std::string right = substring(0x8000, 0x9000, "R5");
    std::string up = substring(0x8004, 0x9010, "U10");
    run("U5" + right + "D5B" + up + "R5");
    image_record& want = dest_new(200, 200, 12);
    for (segment s : {segment{100, 100, 100, 95}, {100, 95, 105, 95}, {105, 95, 105, 100}, {105, 90, 110, 90}})
        line_pixels_draw(s.x1, s.y1, s.x2, s.y2, 1);
    EXPECT_EQ(bytes(r), bytes(want));
    EXPECT_EQ(r.cursor_x, 110.0f);
    EXPECT_EQ(r.cursor_y, 90.0f);
    // Nested: a sub-string that runs another one, then goes on after it.
    std::string outer = substring(0x8008, 0x9020, "R1" + right + "R1");
    dest_new(200, 200, 12).cursor_x = 0;
    run(outer);
    EXPECT_EQ(dest_image->cursor_x, 7.0f);
}

TEST_F(Turtle, LongStringsResumeAfterTheirSubStrings) {
    image_record& r = dest_new(20, 20, 12);
    r.cursor_x = r.cursor_y = 0;
    std::string right = substring(0x8000, 0x9000, "R1");
    // Positions beyond 65,535 survive the sub-string.
    run(std::string(70000, ' ') + right + "R1" + std::string(70000, ';') + right);
    EXPECT_EQ(raised(), 0);
    EXPECT_EQ(r.cursor_x, 3.0f);
}

TEST_F(Turtle, ASelfReferenceStopsAfterTheDeepestLevel) {
    image_record& r = dest_new(200, 200, 12);
    r.cursor_x = r.cursor_y = 100;
    r.draw_color = 1;
    std::string self = "X" + reference(turtle_variable_string, 0x8000);
    substring(0x8000, 0x9000, self);  // a string that is its own reference
    run("R5" + self);
    EXPECT_EQ(raised(), 6);
    EXPECT_EQ(r.cursor_x, 100.0f);            // not moved by the failing call
    EXPECT_EQ(r.pixels[100 * 200 + 105], 1);  // the line drawn before stays
    // Count the levels: each one draws a pixel upwards before it goes one deeper.
    image_record& tall = dest_new(1, 8300, 12);
    tall.cursor_x = 0;
    tall.cursor_y = 8250;
    std::string counting = "X" + reference(turtle_variable_string, 0x8010);
    substring(0x8010, 0x9010, "U1" + counting);
    run(counting);
    EXPECT_EQ(raised(), 6);
    EXPECT_EQ(tall.pixels[8250 - turtle_nesting_max], 15);
    EXPECT_EQ(tall.pixels[8250 - turtle_nesting_max - 1], 0);
}

TEST_F(Turtle, NumbersRead) {
    struct number_case {
        const char* text;
        double value;
        bool incomplete, missing;
        uint32_t position;
    };
    const number_case cases[] = {
        {"--5", 5, false, false, 3},   {"1 2", 12, false, false, 3},  {".5", 0.5, false, false, 2},
        {"5.", 5, true, false, 2},     {"-", 0, true, true, 1},       {".", 0, false, true, 1},
        {"", 0, false, true, 0},       {"12x", 12, false, false, 2},  {"1-2", 1, false, false, 1},
        {"-.25", -0.25, false, false, 4}, {"5.5.", 5.5, false, false, 3}, {"+7", 7, false, false, 2},
        {" \t7 ,", 7, false, false, 4}, {"1+", 1, false, false, 1},   {"-5.", -5, true, false, 3},
        {"5=", 0, true, false, 1},     {"-=", 0, true, true, 1},      {".=", 0, true, true, 1},
        {"=", 0, true, true, 0},       {"=\x02\x01", 0, true, true, 0},
    };
    for (const number_case& c : cases) {
        uint32_t position;
        turtle_number n = read(c.text, &position);
        EXPECT_EQ(n.value, c.value) << c.text;
        EXPECT_EQ(n.incomplete, c.incomplete) << c.text;
        EXPECT_EQ(n.missing, c.missing) << c.text;
        if (!n.incomplete) {
            EXPECT_EQ(position, c.position) << c.text;
        }
    }
}

TEST_F(Turtle, VariableReferencesOfEveryType) {
    struct variable_case {
        uint8_t type;
        std::vector<uint8_t> bytes;
        double want;
    };
    long double extended = -1234.5L;
    std::vector<uint8_t> f80(10);
    std::memcpy(f80.data(), &extended, 10);
    float single = 2.75f;
    double dbl = -1e300;
    std::vector<uint8_t> f32(4), f64(8);
    std::memcpy(f32.data(), &single, 4);
    std::memcpy(f64.data(), &dbl, 8);
    const variable_case cases[] = {
        {turtle_variable_i8, {0xFE}, -2},
        {turtle_variable_u8, {0xFE}, 254},
        {turtle_variable_i16, {0x00, 0x80}, -32768},
        {turtle_variable_u16, {0x00, 0x80}, 32768},
        {turtle_variable_i32, {0xFF, 0xFF, 0xFF, 0xFF}, -1},
        {turtle_variable_u32, {0xFF, 0xFF, 0xFF, 0xFF}, 4294967295.0},
        {turtle_variable_i64, {1, 0, 0, 0, 0, 0, 0, 0x80}, -9223372036854775807.0},
        {turtle_variable_u64, {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}, 18446744073709551616.0},
        {turtle_variable_f32, f32, 2.75},
        {turtle_variable_f64, f64, -1e300},
        {turtle_variable_f80, f80, -1234.5},
    };
    for (const variable_case& c : cases) {
        segment_put(0xFFF6, c.bytes.data(), c.bytes.size());  // at the segment's end: still in memory
        uint32_t position;
        turtle_number n = read(" =" + reference(c.type, 0xFFF6) + "U", &position);
        EXPECT_EQ(n.value, c.want) << int(c.type);
        EXPECT_FALSE(n.incomplete || n.missing) << int(c.type);
        EXPECT_EQ(position, 5u) << int(c.type);
    }
    EXPECT_TRUE(read("=" + reference(7, 0)).incomplete);  // no such type
    EXPECT_TRUE(read("-=" + reference(1, 0)).incomplete);  // not first: the sign came before
}

TEST_F(Turtle, ColourFromAVariableAndFills) {
    image_record& r = dest_new(20, 20, 12);
    r.cursor_x = r.cursor_y = 10;
    const uint8_t twelve[] = {12, 0};
    segment_put(0x100, twelve, 2);
    run("C=" + reference(turtle_variable_i16, 0x100) + "U2");
    EXPECT_EQ(r.draw_color, 12u);
    EXPECT_EQ(r.pixels[9 * 20 + 10], 12);
    // A box of colour 2 around the pen, filled with 1; lines after it are drawn in 1.
    dest_new(20, 20, 12);
    line_draw(5, 5, 15, 15, 2, line_kind_box, 0, line_first_point | line_colour_given);
    image_record& box = *dest_image;
    box.cursor_x = box.cursor_y = 10;
    box.draw_color = 7;
    run("P1,2BM10,4U0");
    EXPECT_EQ(raised(), 0);
    EXPECT_EQ(box.pixels[10 * 20 + 10], 1);
    EXPECT_EQ(box.pixels[6 * 20 + 6], 1);
    EXPECT_EQ(box.pixels[5 * 20 + 5], 2);
    EXPECT_EQ(box.pixels[0], 0);
    EXPECT_EQ(box.pixels[4 * 20 + 10], 1);
    EXPECT_EQ(box.draw_color, 1u);
}

TEST_F(Turtle, SyntaxErrorsEndTheCallWhereTheyStand) {
    const char* errors[] = {"C15.5", "S-1", "T", "TB5", "TAx", "Q", "A4", "A", "A1.5", "M", "M10", "M10,", "M,5",
                            "P1", "P1.5,2", "P1,", "U-", "U5.", "C", "X", "X\x03", "C+=", "S=\x07"};
    std::vector<std::string> all(std::begin(errors), std::end(errors));
    all.push_back("X" + reference(2, 0x8000));          // an X reference names a string
    all.push_back("S=" + reference(7, 0x8000));         // no such variable type
    for (const std::string& e : all) {
        image_record& r = dest_new(50, 50, 12);
        r.cursor_x = r.cursor_y = 20;
        r.draw_color = 1;
        run(std::string("R5") + e);
        EXPECT_EQ(raised(), 5) << e;
        EXPECT_EQ(r.cursor_x, 20.0f) << e;
        EXPECT_EQ(r.pixels[20 * 50 + 25], 1) << e;  // the line before the error stays
    }
    image_record& r = dest_new(50, 50, 12);
    const double huge = 1e19, nan = NAN;
    segment_put(0x10, &huge, 8);
    segment_put(0x20, &nan, 8);
    for (uint16_t at : {0x10, 0x20}) {
        run("C=" + reference(turtle_variable_f64, at));
        EXPECT_EQ(raised(), 5) << at;
        run("P=" + reference(turtle_variable_f64, at) + ",1");
        EXPECT_EQ(raised(), 5) << at;
    }
    EXPECT_EQ(r.draw_color, 15u);
    dest_new(10, 10, 0);
    run("U1");
    EXPECT_EQ(raised(), 5);
    error_number = 9;
    run("Q");
    EXPECT_EQ(raised(), 9);
}

TEST_F(Turtle, FarMovesStayDefined) {
    image_record& r = dest_new(50, 50, 12);
    r.cursor_x = r.cursor_y = 25;
    const double far = 1e300;
    segment_put(0x10, &far, 8);
    run("R=" + reference(turtle_variable_f64, 0x10) + "BM25,25L=" + reference(turtle_variable_f64, 0x10));
    EXPECT_EQ(raised(), 0);
    for (int32_t x = 0; x < 50; ++x) EXPECT_EQ(r.pixels[25 * 50 + x], 15) << x;  // both lines run off the image
}

// A non-finite target draws nothing and leaves the pen; a non-finite angle or scale changes nothing.
// Each string must leave the image as its finite equivalent does.
TEST_F(Turtle, NonFiniteValuesChangeNothing) {
    const double nan = NAN, inf = INFINITY;
    segment_put(0x10, &nan, 8);
    segment_put(0x20, &inf, 8);
    const std::string is_nan = "=" + reference(turtle_variable_f64, 0x10), is_inf = "=" + reference(turtle_variable_f64, 0x20);
    const std::string huge(400, '9');  // read as infinity
    const struct {
        std::string commands, equivalent;
    } cases[] = {
        {"TA" + is_nan + "U10", "U10"},  {"TA" + is_inf + "U10", "U10"},  {"S" + is_nan + "U1", "U1"},
        {"S" + is_inf + "U1", "U1"},     {"U" + is_inf + "R5", "R5"},     {"M" + is_nan + ",5R5", "R5"},
        {"M5," + is_inf + "R5", "R5"},   {"U" + huge + "R5", "R5"},       {"M+" + huge + ",0R5", "R5"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(&c - cases);
        image_record& want = dest_new(50, 50, 12);
        want.cursor_x = want.cursor_y = 25;
        want.turtle_angle = 30;
        want.turtle_scale = 2;
        run(c.equivalent);
        image_record& r = dest_new(50, 50, 12);
        r.cursor_x = r.cursor_y = 25;
        r.turtle_angle = 30;
        r.turtle_scale = 2;
        run(c.commands);
        EXPECT_EQ(raised(), 0);
        EXPECT_EQ(bytes(r), bytes(want));
        EXPECT_EQ(r.cursor_x, want.cursor_x);
        EXPECT_EQ(r.cursor_y, want.cursor_y);
        EXPECT_EQ(r.turtle_angle, 30.0);
        EXPECT_EQ(r.turtle_scale, 2.0);
    }
}

}  // namespace
