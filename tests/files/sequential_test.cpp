#include <gtest/gtest.h>

#include "core/error_codes.h"
#include "files/file_fixture.h"
#include "files/file_open.h"
#include "files/random_access.h"
#include "files/sequential.h"

namespace {

class Sequential : public file_test {
protected:
    void SetUp() override {
        file_test::SetUp();
        file_print_blanks_init();
    }
    int32_t open_as(std::string_view name, int32_t mode, int32_t n) {
        file_open(text(path(name)), mode, 0, 0, n, 0, 0);
        return error_take();
    }
    int32_t slot(int32_t n) { return file_number_slot(n); }
    // LINE INPUT #n until it raises: the lines and the error.
    std::vector<std::string> lines(int32_t n, int32_t& error) {
        std::vector<std::string> out;
        string_descriptor* target = string_new(0, 0);
        for (int i = 0; i < 100; ++i) {
            file_line_input(n, target);
            if ((error = error_take()) != 0) break;
            out.push_back(text_of(target));
        }
        return out;
    }
};

TEST_F(Sequential, CtrlZEndsTheFileAndStaysUnread) {
    write_file("z", "AB\x1a" "CD");
    ASSERT_EQ(open_as("z", open_mode_input, 1), 0);
    EXPECT_EQ(file_read_byte(slot(1)), 'A');
    EXPECT_EQ(file_read_byte(slot(1)), 'B');
    EXPECT_EQ(file_eof(1), 0);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(file_read_byte(slot(1)), file_byte_end);
    EXPECT_EQ(file_eof(1), -1);
    EXPECT_EQ(file_handle_position(slot(1)), 2);
}

TEST_F(Sequential, LineEndsInEveryPairing) {
    struct line_case {
        const char* bytes;
        std::vector<std::string> want;
    } cases[] = {
        {"a\r\nb", {"a", "b"}}, {"a\n\rb", {"a", "b"}}, {"a\r\rb", {"a", "", "b"}},
        {"a\nb\n", {"a", "b"}}, {"first\r\nsecond", {"first", "second"}}, {"", {}},
        {"x\x1ay\n", {"x"}},
    };
    for (const line_case& c : cases) {
        write_file("l", c.bytes);
        ASSERT_EQ(open_as("l", open_mode_input, 1), 0);
        int32_t error = 0;
        EXPECT_EQ(lines(1, error), c.want) << c.bytes;
        EXPECT_EQ(error, 62) << c.bytes;
        file_close(1, 1);
    }
    write_file("l", "last\r\n");
    ASSERT_EQ(open_as("l", open_mode_input, 1), 0);
    string_descriptor* target = string_new(0, 0);
    file_line_input(1, target);
    EXPECT_EQ(file_eof(1), -1);  // the look-ahead already saw the end
}

TEST_F(Sequential, LineInputFillsEveryKindOfTarget) {
    write_file("k", "abcdefg\r\nab\r\n");
    uint8_t room[5];
    struct target_case {
        string_descriptor* target;
        const char* first;
        const char* second;
    } cases[] = {
        {string_new(3, 0), "abcdefg", "ab"},
        {string_segment_new(0, 0), "abcdefg", "ab"},
        {string_fixed_view(room, 5, 0), "abcde", "ab   "},
    };
    for (const target_case& c : cases) {
        ASSERT_EQ(open_as("k", open_mode_input, 1), 0);
        file_line_input(1, c.target);
        EXPECT_EQ(text_of(c.target), c.first);
        file_line_input(1, c.target);
        EXPECT_EQ(text_of(c.target), c.second);
        EXPECT_EQ(string_store_verify(), "");
        file_close(1, 1);
    }
}

TEST_F(Sequential, ItemSeparatorsSkipBlanksOneCommaAndTheRestOfAMalformedItem) {
    write_file("i", "1   ,2xyz, 3\r\n4");
    ASSERT_EQ(open_as("i", open_mode_input, 1), 0);
    int32_t s = slot(1);
    EXPECT_EQ(file_read_byte(s), '1');
    file_skip_item_separator(s, file_read_byte(s));  // a blank ended the item
    EXPECT_EQ(file_read_byte(s), '2');
    file_skip_item_separator(s, file_read_byte(s));  // 'x': dropped up to the comma
    EXPECT_EQ(file_read_byte(s), ' ');
    EXPECT_EQ(file_read_byte(s), '3');
    file_skip_item_separator(s, file_read_byte(s));
    EXPECT_EQ(file_read_byte(s), '4');
}

TEST_F(Sequential, PrintKeepsTheColumnAndPadsToZones) {
    ASSERT_EQ(open_as("p", open_mode_output, 1), 0);
    const file_handle_record& r = file_handle_record_of(slot(1));
    file_print_text(1, text("ab"), 0, 1, 0);
    EXPECT_EQ(r.print_column, 15);
    file_print_text(1, text("0123456789ab"), 0, 0, 0);
    EXPECT_EQ(r.print_column, 27);
    file_print_text(1, text("cd"), 1, 1, 1);
    file_print_text(1, text("a\rb"), 0, 0, 0);
    EXPECT_EQ(r.print_column, 2);
    EXPECT_EQ(read_file("p"), "ab" + std::string(12, ' ') + "0123456789ab" + "cd" + std::string(14, ' ') +
                                  "\r\na\rb");
    for (int64_t column = 1; column < 60; ++column) {
        int64_t pad = print_padding(column, false, true);
        EXPECT_GE(pad, 1);
        EXPECT_LE(pad, 14);
        EXPECT_EQ((column + pad - 1) % 14, 0) << column;
    }
    EXPECT_EQ(print_padding(13, true, true), 2);
    EXPECT_EQ(print_padding(15, false, true), 14);  // 12 bytes and a 2-byte text: on to column 29
    ASSERT_EQ(open_as("p", open_mode_input, 2), 0);
    file_print_text(2, text("x"), 0, 0, 0);
    EXPECT_EQ(error_take(), 54);
    file_print_text(3, text("x"), 0, 0, 0);
    EXPECT_EQ(error_take(), 52);
}

TEST_F(Sequential, PrintOnAFullDiskRaisesAndTheColumnFollowsTheBytes) {
    file_open(text("/dev/full"), open_mode_append, 0, 0, 1, 0, 0);
    ASSERT_EQ(error_take(), 0);
    file_print_text(1, text("abc"), 0, 0, 1);
    EXPECT_EQ(error_take(), 61);
    EXPECT_EQ(file_handle_record_of(slot(1)).print_column, 1);
}

TEST_F(Sequential, InputCharsAnswersOnlyWhatWasRead) {
    write_file("two", "ab");
    ASSERT_EQ(open_as("two", open_mode_input, 1), 0);
    EXPECT_EQ(text_of(input_chars(3, 1, 1)), "ab");
    EXPECT_EQ(error_take(), 62);

    write_file("bin", "0123456789");
    ASSERT_EQ(open_as("bin", open_mode_binary, 2), 0);
    file_seek(2, 8);
    EXPECT_EQ(text_of(input_chars(5, 2, 1)), "789");
    EXPECT_EQ(error_take(), 0);
    EXPECT_EQ(file_eof(2), -1);
    file_seek(2, 1);
    EXPECT_EQ(text_of(input_chars(9, 2, 1)), "012345678");
    EXPECT_EQ(file_eof(2), 0);  // one byte remains
    EXPECT_EQ(text_of(input_chars(1, 2, 1)), "9");
    EXPECT_EQ(file_eof(2), 0);  // a read that was not short
    file_seek(2, 1);
    EXPECT_EQ(text_of(input_chars(INT32_MAX, 2, 1)), "0123456789");  // no store-sized allocation
    EXPECT_EQ(text_of(input_chars(0, 2, 1)), "");
    EXPECT_EQ(text_of(input_chars(-1, 2, 1)), "");
    EXPECT_EQ(error_take(), 52);
    ASSERT_EQ(open_as("out", open_mode_output, 3), 0);
    input_chars(1, 3, 1);
    EXPECT_EQ(error_take(), 62);
    input_chars(1, 9, 1);
    EXPECT_EQ(error_take(), 52);
    input_chars(-1, 0, 0);
    EXPECT_EQ(error_take(), 52);
}

// The byte statements remember the number asked last: two files read in turn each give their own
// bytes and ends, and a number that is free, or freed by a close, stays free however often it is asked.
TEST_F(Sequential, OneCharacterReadsFollowTheNumberAsked) {
    write_file("a", "ab");
    write_file("b", "xyz");
    ASSERT_EQ(open_as("a", open_mode_input, 1), 0);
    ASSERT_EQ(open_as("b", open_mode_input, 2), 0);
    std::string got[3];
    for (int i = 0; i < 3; ++i) {
        for (int32_t n : {1, 2}) {
            if (file_eof(n) == 0) got[n] += text_of(input_chars(1, n, 1));
        }
    }
    EXPECT_EQ(got[1], "ab");
    EXPECT_EQ(got[2], "xyz");
    EXPECT_EQ(error_take(), 0);
    EXPECT_EQ(file_eof(1), -1);
    for (int32_t free_number : {0, 3, 3}) {
        EXPECT_EQ(file_eof(free_number), 0);
        EXPECT_EQ(error_take(), 52) << free_number;
        EXPECT_EQ(text_of(input_chars(1, free_number, 1)), "");
        EXPECT_EQ(error_take(), 52) << free_number;
    }
    file_seek(2, 1);
    EXPECT_EQ(text_of(input_chars(1, 2, 1)), "x");
    file_close(2, 1);
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(text_of(input_chars(1, 2, 1)), "");
        EXPECT_EQ(error_take(), 52);
        EXPECT_EQ(file_eof(2), 0);
        EXPECT_EQ(error_take(), 52);
    }
}

// While an error is pending INPUT$(1) answers "" and takes no byte; the error stays for the hook.
TEST_F(Sequential, OneCharacterReadWithAnErrorPendingTakesNothing) {
    write_file("ab", "ab");
    ASSERT_EQ(open_as("ab", open_mode_input, 1), 0);
    EXPECT_EQ(text_of(input_chars(1, 1, 1)), "a");
    error_raise(error_illegal_function_call);
    EXPECT_EQ(text_of(input_chars(1, 1, 1)), "");
    EXPECT_EQ(error_take(), error_illegal_function_call);
    EXPECT_EQ(text_of(input_chars(1, 1, 1)), "b");
    EXPECT_EQ(error_take(), 0);
}

// A count of 0 reads nothing: the end-of-file flag of the read before stays, in either mode.
TEST_F(Sequential, InputOfNoCharactersChangesNothing) {
    write_file("empty", "");
    write_file("two", "ab");
    struct {
        const char* name;
        int32_t mode;
        int64_t seek_to;  // 0: no seek
    } cases[] = {{"empty", open_mode_binary, 32355}, {"two", open_mode_binary, 2}, {"two", open_mode_input, 0}};
    for (const auto& c : cases) {
        ASSERT_EQ(open_as(c.name, c.mode, 1), 0) << c.name;
        if (c.seek_to != 0) file_seek(1, c.seek_to);
        input_chars(3, 1, 1);
        error_take();
        ASSERT_EQ(file_eof(1), -1) << c.name;
        int64_t position = file_handle_position(slot(1));
        EXPECT_EQ(text_of(input_chars(0, 1, 1)), "") << c.name;
        EXPECT_EQ(error_take(), 0) << c.name;
        EXPECT_EQ(file_eof(1), -1) << c.name << " mode " << c.mode;
        EXPECT_EQ(file_handle_record_of(slot(1)).eof_flag, 1) << c.name << " mode " << c.mode;
        EXPECT_EQ(file_handle_position(slot(1)), position) << c.name;
        file_close(1, 1);
    }
}

// Opening the file for output through another number empties it: the input file is at its end
// at once, and its reads find the end too, whatever was read ahead, wherever its slot stands in
// the table.
TEST_F(Sequential, AnInputFileEmptiedThroughAnotherNumberIsAtItsEnd) {
    write_file("other", "x");
    struct {
        const char* name;
        bool other_open_first;  // #2 takes the first slot and frees it again for #3: #1's is the last
    } cases[] = {{"the input file in the first slot", false}, {"the input file in the last slot", true}};
    for (const auto& c : cases) {
        write_file("t", "abcdefghij");
        if (c.other_open_first) {
            ASSERT_EQ(open_as("other", open_mode_input, 2), 0) << c.name;
        }
        ASSERT_EQ(open_as("t", open_mode_input, 1), 0) << c.name;
        EXPECT_EQ(text_of(input_chars(3, 1, 1)), "abc") << c.name;
        if (c.other_open_first) file_close(2, 1);
        ASSERT_EQ(open_as("t", open_mode_output, 3), 0) << c.name;
        EXPECT_EQ(slot(1) == file_handle_slot_count() - 1, c.other_open_first) << c.name;
        file_close(3, 1);
        EXPECT_EQ(file_length(1), 0) << c.name;
        EXPECT_EQ(file_handle_position(slot(1)), 3) << c.name;
        EXPECT_EQ(file_eof(1), -1) << c.name;
        EXPECT_EQ(text_of(input_chars(1, 1, 1)), "") << c.name;
        EXPECT_EQ(error_take(), 62) << c.name;
        file_close(1, 1);
    }
}

TEST_F(Sequential, BinaryLineInputSkipsNothing) {
    struct binary_case {
        std::string bytes;
        std::vector<std::string> want;
    } cases[] = {
        {std::string(513, 'q'), {std::string(513, 'q')}},
        {"\nx", {"", "x"}},
        {"x\r\n", {"x"}},
        {"l1\nab", {"l1", "ab"}},
        {"l1\na", {"l1", "a"}},
        {"tail\r", {"tail\r"}},  // no LF: the CR stays
        {"a\n\nb\n", {"a", "", "b"}},
    };
    for (const binary_case& c : cases) {
        write_file("b", c.bytes);
        ASSERT_EQ(open_as("b", open_mode_binary, 1), 0);
        int32_t error = 0;
        EXPECT_EQ(lines(1, error), c.want) << c.bytes;
        EXPECT_EQ(error, 62) << c.bytes;
        EXPECT_EQ(file_eof(1), -1) << c.bytes;
        file_close(1, 1);
    }
}

TEST_F(Sequential, ALongBinaryLineIsReadOnce) {
    std::string line(200000, 'w');
    write_file("long", line + "\nnext\n");
    ASSERT_EQ(open_as("long", open_mode_binary, 1), 0);
    int64_t before = file_handle_bytes_read_total();
    string_descriptor* target = string_new(0, 0);
    file_line_input(1, target);
    EXPECT_EQ(text_of(target), line);
    EXPECT_LE(file_handle_bytes_read_total() - before, 2 * 200000);
    EXPECT_EQ(file_eof(1), 0);
    file_line_input(1, target);
    EXPECT_EQ(text_of(target), "next");
}

TEST_F(Sequential, LineInputModes) {
    ASSERT_EQ(open_as("r", open_mode_random, 1), 0);
    string_descriptor* target = string_new(0, 0);
    file_line_input(1, target);
    EXPECT_EQ(error_take(), 54);
    file_line_input(2, target);
    EXPECT_EQ(error_take(), 52);
    ASSERT_EQ(open_as("o", open_mode_output, 2), 0);
    file_line_input(2, target);
    EXPECT_EQ(error_take(), 75);
}

}  // namespace

#include "core/shutdown.h"
#include "display/keyboard.h"

namespace {

TEST_F(Sequential, InputCharsFromTheKeyboardTakesKeysAndStopsAtShutdown) {
    keyboard_reset();
    for (char c : std::string("hi!")) {
        key_down_char(c);
        key_up_char(c);
    }
    EXPECT_EQ(text_of(input_chars(2, 0, 0)), "hi");
    EXPECT_EQ(text_of(input_chars(1, 0, 0)), "!");
    shutdown_flag = 1;
    EXPECT_EQ(text_of(input_chars(5, 0, 0)), "");
    shutdown_flag = 0;
    keyboard_reset();
}

}  // namespace

#include "core/file_items.h"

namespace {

TEST_F(Sequential, InputItemsReadThroughTheByteReader) {
    sequential_items_connect();
    write_file("items", "12 , \"a,b\" ,3.5x\r\nword\x1a" "9");
    ASSERT_EQ(open_as("items", open_mode_input, 1), 0);
    EXPECT_EQ(file_input_int64(1), 12);
    string_descriptor* s = string_new(0, 0);
    file_input_string(1, s);
    EXPECT_EQ(text_of(s), "a,b");
    EXPECT_EQ(file_input_number(1, type_code_float | 64), 3.5L);
    file_input_string(1, s);
    EXPECT_EQ(text_of(s), "word");
    EXPECT_EQ(error_take(), 0);
    file_input_int64(1);
    EXPECT_EQ(error_take(), 62);
    ASSERT_EQ(open_as("o", open_mode_output, 2), 0);
    file_input_int64(2);
    EXPECT_EQ(error_take(), 54);
}

}  // namespace

#include "screen/print_positioning.h"

namespace {

TEST_F(Sequential, TabOnAFileCountsFromTheFilesColumn) {
    sequential_items_connect();
    ASSERT_EQ(open_as("t", open_mode_output, 1), 0);
    file_print_text(1, text("abc"), 0, 0, 0);
    EXPECT_EQ(file_print_column(1), 4);
    EXPECT_EQ(file_print_column(2), 0);
    print_file_number = 1;
    print_line_end_length = 2;
    EXPECT_EQ(text_of(print_tab(10)), std::string(6, ' '));
    print_file_number = 0;
    print_line_end_length = 1;
}

}  // namespace
