// The keyboard line editor: the field rules as pure tables, and the editor itself with keys typed
// through the keyboard into the BIOS buffer, its echo and redraw checked on the page.
#include <gtest/gtest.h>
#include <unistd.h>

#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "core/random.h"
#include "core/shutdown.h"
#include "core/strings.h"
#include "display/bios_keyboard.h"
#include "display/frames.h"
#include "display/keyboard.h"
#include "display/line_editor.h"
#include "display/line_fields.h"
#include "display/program_sleep.h"
#include "screen/screen_fixture.h"

namespace {

constexpr variable_type_code int8 = 8, int16 = 16, int32 = 32, int64 = 64;
constexpr variable_type_code uint8 = 8 | type_code_unsigned, uint16 = 16 | type_code_unsigned,
                             uint64 = 64 | type_code_unsigned;
constexpr variable_type_code single = 32 | type_code_float, double_ = 64 | type_code_float,
                             extended = 256 | type_code_float;
constexpr variable_type_code text = type_code_string;

TEST(RadixLiteral, KindAndValue) {
    struct row {
        const char* text;
        int32_t kind;
        uint64_t value;
    };
    const row rows[] = {
        {"", 1, 0}, {"&", 1, 0}, {"&H", 1, 0}, {"&h", 1, 0}, {"&O", 2, 0}, {"&o", 2, 0},
        {"&HFF", 1, 255}, {"&hfF", 1, 255}, {"&O17", 2, 15}, {"&O8", 0, 0}, {"&HG", 0, 0},
        {"12", 0, 0}, {"&X1", 0, 0}, {"H1", 0, 0},
        {"&HFFFFFFFFFFFFFFFF", 1, UINT64_MAX}, {"&H00000000000000001", 0, 0},
        {"&O1777777777777777777777", 2, UINT64_MAX}, {"&O2000000000000000000000", 0, 0},
        {"&O0777777777777777777777", 2, 0x7FFFFFFFFFFFFFFF}, {"&O00000000000000000000001", 0, 0},
    };
    for (const row& r : rows) {
        uint64_t value = 99;
        EXPECT_EQ(radix_literal_parse(r.text, value), r.kind) << r.text;
        EXPECT_EQ(value, r.value) << r.text;
    }
}

TEST(LineSplit, CommasQuotesAndWholeLines) {
    struct row {
        const char* line;
        int32_t n;
        bool whole;
        bool valid;
        std::vector<std::string> fields;
    };
    const row rows[] = {
        {"", 1, false, true, {""}},
        {"1,2", 2, false, true, {"1", "2"}},
        {"1,2,", 2, false, false, {}},
        {"1,", 1, false, false, {}},
        {"\"a,b\"", 1, false, true, {"a,b"}},
        {"\"a,b\",c", 2, false, true, {"a,b", "c"}},
        {"\"a\"x", 1, false, false, {}},
        {"a\"b", 1, false, true, {"a\"b"}},
        {"\"open,", 1, false, true, {"open,"}},
        {"a,b,\"c", 1, true, true, {"a,b,\"c"}},
    };
    for (const row& r : rows) {
        line_split_result s = line_split(r.line, r.n, r.whole);
        EXPECT_EQ(s.valid, r.valid) << r.line;
        if (r.valid) {
            EXPECT_EQ(s.fields, r.fields) << r.line;
        }
    }
}

TEST(FieldCheck, IntegersAndFloats) {
    struct row {
        variable_type_code type;
        const char* field;
        bool valid;
    };
    const row rows[] = {
        {int16, "32767", true}, {int16, "32768", false}, {int16, "-32768", true}, {int16, "-32769", false},
        {int16, "-", true}, {int16, "0", true}, {int16, "05", false}, {int16, "-0", true}, {int16, "1a", false},
        {int16, "&HFFFF", true}, {int16, "&H0000", true}, {int16, "&H00000", false}, {int16, "&H10000", false},
        {int16, "&O177777", true}, {int16, "&O0177777", false},
        {uint16, "65535", true}, {uint16, "65536", false}, {uint16, "-1", false}, {uint8, "255", true},
        {int8, "-128", true}, {int8, "128", false}, {int32, "2147483647", true}, {int32, "2147483648", false},
        {int32, "-2147483648", true}, {int32, "99999999999999999999999", false},
        {int64, "9223372036854775807", true}, {int64, "9223372036854775808", false},
        {int64, "-9223372036854775808", true}, {int64, "-9223372036854775809", false},
        {int64, "99999999999999999999", false}, {int64, "999999999999999999", true},
        {uint64, "18446744073709551615", true}, {uint64, "18446744073709551616", false},
        {uint64, "9999999999999999999", true}, {uint64, "-1", false}, {int64, "&HFFFFFFFFFFFFFFFF", true},
        {single, "3.402823E38", true}, {single, "3.402824E38", false}, {single, "1D", false},
        {single, "12345678.0", true}, {single, "12345678.01", false}, {single, ".5", true},
        {single, "-", true}, {single, ".", true}, {single, "1.", true}, {single, "1E", true}, {single, "1E-", true},
        {single, "E", false}, {single, "1.E5", false}, {single, "0E1", false}, {single, "0.0E1", false},
        {single, "1E05", false}, {single, "1E0", true}, {single, "00", false}, {single, "0.5", true},
        {single, "1.401298E-45", true}, {single, "1.401297E-45", false}, {single, "1E-46", false},
        {single, "1.5E39", false}, {single, "0.00000000000000000000000000000000000000000001", true},
        {single, "0.000000000000000000000000000000000000000000001", false},
        {double_, "1D308", true}, {double_, "1.7976931E308", true}, {double_, "1.7976932E308", false},
        {double_, "4.940656E-324", true}, {double_, "4.940655E-324", false}, {double_, "1d5", true},
        {extended, "1E4000", false},
        // Digit prefixes within the limits that still round to infinity are refused.
        {single, "3.4028236E38", false}, {double_, "1.79769319E308", false},
    };
    for (const row& r : rows) {
        field_value v;
        EXPECT_EQ(field_check(r.field, r.type, -1, v), r.valid) << r.field << " type " << std::hex << r.type;
    }
}

TEST(FieldCheck, FixedLengthStringsRefuseLongerFields) {
    field_value v;
    EXPECT_TRUE(field_check("abc", text, 3, v));
    EXPECT_EQ(v.text, "abc");
    EXPECT_FALSE(field_check("abcd", text, 3, v));
    EXPECT_TRUE(field_check("abcd", text, -1, v));
}

// The editor on a page, with its keys waiting in the BIOS buffer before it starts.
struct line_editor_test : screen_test {
    void SetUp() override {
        screen_test::SetUp();
        string_store_reset();
        string_segment_init();
        keyboard_reset();
        lock_key_source_set([] { return platform_key_states{}; });
        autodisplay_mode.store(1);
    }
    void TearDown() override {
        keyboard_reset();
        string_store_reset();
        screen_test::TearDown();
    }
    static void type(const std::vector<int32_t>& keys) {
        for (int32_t k : keys) {
            key_down(k);
            key_up(k);
        }
    }
    static std::vector<int32_t> keys_of(const std::string& s) {
        std::vector<int32_t> keys;
        for (char c : s) keys.push_back(static_cast<uint8_t>(c));
        return keys;
    }
    // The BIOS ring holds 15 keys: every case types at most that many, Enter last.
    static void edit(int32_t n, const std::vector<int32_t>& keys) {
        ASSERT_LE(keys.size(), 14u);
        type(keys);
        type({13});
        input_line_edit(n, 1);
    }
    std::string row(int32_t r) {
        std::string s = text_rows(*dest_image, r, r)[0];
        return s.substr(0, s.find_last_not_of(' ') + 1);
    }
};

TEST_F(line_editor_test, NumbersAreTakenBackKeyByKey) {
    struct typed {
        variable_type_code type;
        const char* keys;
        const char* line;
        long double value;
    };
    const typed rows[] = {
        {int16, "32767", "32767", 32767}, {int16, "32768", "3276", 3276},
        {int16, "-32768", "-32768", -32768}, {int16, "-32769", "-3276", -3276},
        {int16, "&HFFFF", "&HFFFF", -1}, {int16, "&HFFFFF", "&HFFFF", -1}, {int16, "&H00001", "&H0000", 0},
        {int16, "05", "0", 0}, {uint8, "256", "25", 25}, {int16, "1x2", "12", 12},
        {single, "3.402823E38", "3.402823E38", 3.402823E38f}, {single, "3.402824E38", "3.402824E3", 3.402824E3f},
        {single, "1D", "1", 1}, {single, "12345678.0", "12345678.0", 12345678.0f},
        {single, "12345678.01", "12345678.0", 12345678.0f}, {single, "3.4028236E38", "3.4028236E3", 3.4028236E3f},
        {double_, "1.79769319E308", "1.79769319E30", 1.79769319E30}, {double_, "2.5d3", "2.5d3", 2500},
    };
    for (const typed& r : rows) {
        SetUp();
        union {
            int16_t i16;
            uint8_t u8;
            float f;
            double d;
            uint8_t bytes[8];
        } target;
        std::memset(&target, 0x55, sizeof target);
        input_target_list[1] = &target;
        input_type_list[1] = r.type;
        edit(1, keys_of(r.keys));
        EXPECT_EQ(row(1), r.line) << r.keys;
        long double got = r.type == int16    ? target.i16
                          : r.type == uint8  ? target.u8
                          : r.type == single ? target.f
                                             : target.d;
        EXPECT_EQ(got, r.value) << r.keys;
        if (r.type == uint8) {
            EXPECT_EQ(target.bytes[1], 0x55) << "only the variable's own bytes are written";
        }
        EXPECT_EQ(dest_image->cursor_row, 2) << r.keys;
        TearDown();
    }
}

TEST_F(line_editor_test, TwoFieldsAndASecondCommaTakenBack) {
    int16_t a = 7, b = 7;
    input_target_list[1] = &a;
    input_target_list[2] = &b;
    input_type_list[1] = input_type_list[2] = int16;
    edit(2, keys_of("1,2,"));
    EXPECT_EQ(row(1), "1,2");
    EXPECT_EQ(a, 1);
    EXPECT_EQ(b, 2);
}

// One string target: a comma would open a second field, so it is taken back like any refused key;
// the editor shows no message of its own.
TEST_F(line_editor_test, OneStringTargetTakesBackAComma) {
    string_descriptor* s = string_new(0, 0);
    input_target_list[1] = s;
    input_type_list[1] = text;
    edit(1, keys_of("Smith, J"));
    EXPECT_EQ(std::string(reinterpret_cast<char*>(s->text), size_t(s->length)), "Smith J");
    EXPECT_EQ(row(1), "Smith J");
    EXPECT_EQ(row(2), "");
}

TEST_F(line_editor_test, QuotedFieldKeepsItsCommaWithoutTheQuotes) {
    string_descriptor* s = string_new(0, 0);
    input_target_list[1] = s;
    input_type_list[1] = text;
    edit(1, keys_of("\"a,b\""));
    EXPECT_EQ(std::string(reinterpret_cast<char*>(s->text), size_t(s->length)), "a,b");
    EXPECT_EQ(row(1), "\"a,b\"");
}

TEST_F(line_editor_test, WholeLineModeKeepsCommasAndQuotes) {
    string_descriptor* s = string_new(0, 0);
    input_target_list[1] = s;
    input_type_list[1] = text | type_code_whole_line;
    edit(1, keys_of("a,\"b\",c"));
    EXPECT_EQ(std::string(reinterpret_cast<char*>(s->text), size_t(s->length)), "a,\"b\",c");
    EXPECT_EQ(input_type_list[1], text | type_code_whole_line) << "the caller's list is left alone";
}

TEST_F(line_editor_test, TabPadsStringsAndIsRefusedByNumbers) {
    string_descriptor* s = string_new(0, 0);
    input_target_list[1] = s;
    input_type_list[1] = text;
    edit(1, {'a', 'b', 'c', 9, 'd'});
    EXPECT_EQ(std::string(reinterpret_cast<char*>(s->text), size_t(s->length)), "abc     d");

    int16_t n = 0;
    input_target_list[1] = &n;
    input_type_list[1] = int16;
    edit(1, {'1', '2', '3', 9, '4'});
    EXPECT_EQ(n, 1234);
}

TEST_F(line_editor_test, ArrowKeysAndIgnoredCodesDoNothing) {
    int16_t n = 0;
    input_target_list[1] = &n;
    input_type_list[1] = int16;
    edit(1, {'1', 0x4B00, 10, 31, '2'});
    EXPECT_EQ(n, 12);
    EXPECT_EQ(row(1), "12");
}

TEST_F(line_editor_test, FieldEmptiedAgainStoresZeroAndTargetsStartCleared) {
    int16_t n = 0;
    double d = 5;
    input_target_list[1] = &n;
    input_target_list[2] = &d;
    input_type_list[1] = int16;
    input_type_list[2] = double_;
    edit(2, {'4', 8});
    EXPECT_EQ(n, 0);
    EXPECT_EQ(d, 0.0);
}

TEST_F(line_editor_test, NotStoredTargetsAreLeftAlone) {
    int32_t n = 77;
    input_target_list[1] = &n;
    input_type_list[1] = int32 | type_code_not_stored;
    edit(1, keys_of("12"));
    EXPECT_EQ(n, 77);
}

TEST_F(line_editor_test, BackspaceOnAWrappedLineRedrawsSnapshotPlusLine) {
    // A narrow page with text above: the line wraps and scrolls, and Backspace brings back exactly
    // the start screen plus the shorter line.
    image_record& narrow = dest_new(6, 3, 0, true);
    narrow.view_top = 1;
    narrow.view_bottom = 3;
    print_string(string_from_cstring("top"), 1);
    print_string(string_from_cstring("mid"), 1);
    print_string(string_from_cstring(">"), 0);
    std::vector<text_cell> before(reinterpret_cast<text_cell*>(narrow.pixels),
                                  reinterpret_cast<text_cell*>(narrow.pixels) + 18);
    string_descriptor* s = string_new(0, 0);
    input_target_list[1] = s;
    input_type_list[1] = text;
    type(keys_of("abcdefgh"));
    type({8, 8, 8, 8, 8, 8, 13});
    input_line_edit(1, 0);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(s->text), size_t(s->length)), "ab");
    std::vector<text_cell> after(reinterpret_cast<text_cell*>(narrow.pixels),
                                 reinterpret_cast<text_cell*>(narrow.pixels) + 18);
    // The same as printing "ab" onto the start screen.
    image_record& expected = dest_new(6, 3, 0);
    expected.view_top = 1;
    expected.view_bottom = 3;
    std::memcpy(expected.pixels, before.data(), before.size() * sizeof(text_cell));
    expected.cursor_row = 3;
    expected.cursor_column = 2;
    print_string(string_from_cstring("ab"), 0);
    for (size_t i = 0; i < after.size(); ++i) {
        EXPECT_EQ(after[i].code, reinterpret_cast<text_cell*>(expected.pixels)[i].code) << i;
        EXPECT_EQ(after[i].attribute, reinterpret_cast<text_cell*>(expected.pixels)[i].attribute) << i;
    }
    EXPECT_EQ(narrow.cursor_column, expected.cursor_column);
    EXPECT_EQ(narrow.cursor_row, expected.cursor_row);
}

TEST_F(line_editor_test, GraphicsCursorIsGoneAfterTheLine) {
    screen_mode_set(13, 0, 0, 0, 0, 1);
    std::vector<uint8_t> before(dest_image->pixels, dest_image->pixels + 320 * 200);
    int16_t n = 0;
    input_target_list[1] = &n;
    input_type_list[1] = int16;
    edit(1, {'7', 8});
    EXPECT_TRUE(std::equal(before.begin(), before.end(), dest_image->pixels)) << "no cursor or echo left";
}

// On the console page the keys come from standard input, so a line longer than the BIOS ring can be
// typed at once: the line holds at most 255 characters, and what is typed beyond is dropped.
TEST_F(line_editor_test, ALineHoldsAtMost255Characters) {
    dest_new(80, 25, 0).is_console = 1;
    const int saved_stdin = ::dup(STDIN_FILENO);
    for (auto [typed, kept] : {std::pair{254, 254}, {255, 255}, {256, 255}}) {
        int keys[2];
        ASSERT_EQ(::pipe(keys), 0);
        ::dup2(keys[0], STDIN_FILENO);
        ::close(keys[0]);
        const std::string line = std::string(size_t(typed), 'a') + "\n";
        ASSERT_EQ(::write(keys[1], line.data(), line.size()), ssize_t(line.size()));
        ::close(keys[1]);
        string_descriptor* s = string_new(0, 0);
        input_target_list[1] = s;
        input_type_list[1] = text;
        input_line_edit(1, 1);
        EXPECT_EQ(std::string(reinterpret_cast<char*>(s->text), size_t(s->length)), std::string(size_t(kept), 'a'))
            << typed;
    }
    ::dup2(saved_stdin, STDIN_FILENO);
    ::close(saved_stdin);
}

TEST_F(line_editor_test, SeedPromptReadsThroughTheEditor) {
    random_seed_reset();
    float unchanged = random_next(1, 0);
    random_seed_reset();
    line_editor_init();
    type(keys_of("-2"));
    type({13});
    random_seed_set(0, 2);
    EXPECT_EQ(row(1), "Random-number seed (-32768 to 32767)? -2");
    EXPECT_NE(random_next(1, 0), unchanged);
    random_seed_prompt_set(nullptr);
}

// The editor's key wait blocks until a key comes from another thread, and ends at shutdown.
struct LineEditorThreaded : line_editor_test {};

TEST_F(LineEditorThreaded, KeysFromAnotherThreadEndTheWait) {
    int16_t n = 0;
    input_target_list[1] = &n;
    input_type_list[1] = int16;
    uint64_t token = program_idle_token();
    std::thread program([] { input_line_edit(1, 1); });
    for (int32_t k : {int32_t{'4'}, int32_t{'2'}, int32_t{13}}) {
        token = program_sleep_awaited(token, 0);  // each key comes while the editor waits for it
        key_down(k);
        key_up(k);
    }
    program.join();
    EXPECT_EQ(n, 42);
}

// A line longer than the BIOS ring, typed from another thread in batches of 15 keys, each batch
// after the editor has taken the one before: no key is lost.
TEST_F(LineEditorThreaded, KeysPacedByTheEmptyRingAreAllTaken) {
    string_descriptor* s = string_new(0, 0);
    input_target_list[1] = s;
    input_type_list[1] = text;
    std::thread program([] { input_line_edit(1, 1); });
    std::vector<int32_t> keys = keys_of("abcdefghijklmnopqrstuvwxyz0123456789ABC");
    keys.push_back(13);
    constexpr size_t batch = 15;
    for (size_t first = 0; first < keys.size(); first += batch) {
        while (!bios_ring_empty()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        for (size_t k = first; k < std::min(first + batch, keys.size()); ++k) {
            key_down(keys[k]);
            key_up(keys[k]);
        }
    }
    program.join();
    EXPECT_EQ(std::string(reinterpret_cast<char*>(s->text), size_t(s->length)), "abcdefghijklmnopqrstuvwxyz0123456789ABC");
}

// Standard input and output through pipes for one test; the old descriptors come back afterwards.
struct piped_console {
    int input[2] = {-1, -1}, output[2] = {-1, -1};
    int saved_in = -1, saved_out = -1;
    piped_console() {
        std::fflush(stdout);
        EXPECT_EQ(::pipe(input), 0);
        EXPECT_EQ(::pipe(output), 0);
        saved_in = ::dup(STDIN_FILENO);
        saved_out = ::dup(STDOUT_FILENO);
        ::dup2(input[0], STDIN_FILENO);
        ::dup2(output[1], STDOUT_FILENO);
    }
    ~piped_console() {
        std::fflush(stdout);
        ::dup2(saved_in, STDIN_FILENO);
        ::dup2(saved_out, STDOUT_FILENO);
        for (int fd : {input[0], input[1], output[0], output[1], saved_in, saved_out}) ::close(fd);
    }
    // What reached standard output within a minute: only a prompt that never comes takes that long.
    std::string written() {
        constexpr int hang_ms = 60000;
        pollfd ready{output[0], POLLIN, 0};
        if (::poll(&ready, 1, hang_ms) <= 0) return {};
        char buffer[64];
        ssize_t n = ::read(output[0], buffer, sizeof buffer);
        return n > 0 ? std::string(buffer, static_cast<size_t>(n)) : std::string();
    }
};

// On the console page the prompt reaches standard output before the editor waits for the line.
TEST_F(LineEditorThreaded, ConsolePromptIsShownBeforeTheLineIsRead) {
    dest_new(80, 25, 0).is_console = 1;
    piped_console console;
    int16_t n = 0;
    input_target_list[1] = &n;
    input_type_list[1] = int16;
    std::thread program([] {
        uint32_t mark = string_temp_top();
        print_string(string_from_cstring("Count? "), 0);
        string_temps_release(mark, 0);
        input_line_edit(1, 1);
    });
    std::string prompt = console.written();
    ASSERT_EQ(::write(console.input[1], "42\n", 3), 3);
    program.join();
    EXPECT_EQ(prompt, "Count? ");
    EXPECT_EQ(n, 42);
}

// The console page's editor takes nothing past the byte that ends the line, so what a program
// finds waiting on standard input after an INPUT is what it has not read yet.
TEST_F(line_editor_test, ConsoleInputReadsNothingPastItsLine) {
    dest_new(80, 25, 0).is_console = 1;
    for (auto [typed, left] : {std::pair{"42\nnext\n", 5}, {"42\r\nnext\n", 6}}) {
        piped_console console;
        const std::string line = typed;
        ASSERT_EQ(::write(console.input[1], line.data(), line.size()), ssize_t(line.size()));
        int16_t n = 0;
        input_target_list[1] = &n;
        input_type_list[1] = int16;
        input_line_edit(1, 1);
        int waiting = -1;
        ASSERT_EQ(::ioctl(STDIN_FILENO, FIONREAD, &waiting), 0);
        EXPECT_EQ(n, 42) << line;
        EXPECT_EQ(waiting, left) << line;
    }
}

TEST_F(LineEditorThreaded, ShutdownEndsTheWait) {
    int16_t n = 0;
    input_target_list[1] = &n;
    input_type_list[1] = int16;
    const uint64_t token = program_idle_token();
    std::thread program([] { input_line_edit(1, 1); });
    program_sleep_awaited(token, 0);
    shutdown_flag.store(1);
    program.join();
    shutdown_flag.store(0);
}

}  // namespace
