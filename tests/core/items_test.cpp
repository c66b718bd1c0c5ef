#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>

#include "core/data_items.h"
#include "core/file_item_source.h"
#include "core/file_items.h"
#include "core/number_fixture.h"

namespace {

constexpr variable_type_code int16_type = 16, uint16_type = type_code_unsigned | 16, int8_type = 8,
                             int32_type = 32, int64_type = 64, uint8_type = type_code_unsigned | 8,
                             single_type = type_code_float | 32, double_type = type_code_float | 64,
                             extended_type = type_code_float | 256, uint32_type = type_code_unsigned | 32;

// ---- DATA ----------------------------------------------------------------------------------------

class DataItems : public number_test {
protected:
    struct read {
        long double value;
        int32_t error;
        int32_t position;
    };
    read number(const std::string& data, variable_type_code type, int32_t at = 0) {
        long double v = data_read_number(bytes(data), at, int32_t(data.size()), type);
        return {v, error_number.exchange(0), at};
    }
    const uint8_t* bytes(const std::string& s) { return reinterpret_cast<const uint8_t*>(kept_text(s)); }
    const char* kept_text(const std::string& s) { return reinterpret_cast<const char*>(kept(s)); }
};

TEST_F(DataItems, Examples) {
    static const std::string too_many_digits(257, '1');
    struct row { const char* data; variable_type_code type; long double value; int32_t error; int32_t position; };
    const row rows[] = {
        {"12,", int16_type, 12, 0, 3},
        {"40000", int16_type, 0, error_overflow, 0},
        {",", int16_type, 0, 0, 1},  // an empty item
        {"2.5", int16_type, 2, 0, 3},
        {"-2.5", int16_type, -2, 0, 4},
        {"&HFFFF", int16_type, -1, 0, 6},
        {"&HFFFF", uint16_type, 65535, 0, 6},
        {"&H10000", int16_type, 0, error_overflow, 0},
        {"1E39", single_type, 0, error_overflow, 0},
        {"-1E39", single_type, 0, error_overflow, 0},
        {"1E39", double_type, (long double)1e39, 0, 4},  // through double precision
        {"1 2", int16_type, 0, error_syntax, 0},
        {"", int16_type, 0, error_out_of_data, 0},
        {"&O177777", int16_type, -1, 0, 8},
        {"&hff", uint16_type, 255, 0, 4},  // base letters in either case
        {"&o17", uint16_type, 15, 0, 4},
        {"&", int16_type, 0, 0, 1},
        {"&,5", int16_type, 0, 0, 2},
        {"&X1", int16_type, 0, error_syntax, 0},
        {"&\xC8", int16_type, 0, error_syntax, 0},  // 'H' with bit 7 set is no base letter
        {"&H1G", int16_type, 0, error_syntax, 0},
        {"-.5e1,", int32_type, -5, 0, 6},
        {"1.5.", double_type, 0, error_syntax, 0},
        {"1e+", double_type, 1, 0, 3},
        {"--1", double_type, 0, error_syntax, 0},
        {"127", int8_type, 127, 0, 3},
        {"128", int8_type, 0, error_overflow, 0},
        {"-128", int8_type, -128, 0, 4},
        {"-1", uint8_type, 0, error_overflow, 0},
        {"255", uint8_type, 255, 0, 3},
        {"&H80", int8_type, -128, 0, 4},
        {"9223372036854775807", int64_type, 0, error_overflow, 0},  // rounds to 2^63 as an extended value
        {"9223372036854774784", int64_type, 9223372036854774784.0L, 0, 19},
        {"-9223372036854775808", int64_type, -9223372036854775808.0L, 0, 20},
        {"4294967295", uint32_type, 4294967295.0L, 0, 10},
        {"1D308", double_type, (long double)1e308, 0, 5},
        {"1.8D308", double_type, 0, error_overflow, 0},
        {"1D-400", double_type, 0, 0, 6},
        {"0.1", extended_type, (long double)0.1, 0, 3},  // through double precision
        {"3.402823466E38", single_type, (long double)3.402823466e38, 0, 14},
        {"3.4028235E38", single_type, 0, error_overflow, 0},
        {too_many_digits.c_str(), double_type, 0, error_overflow, 0},
        {"1E0000000000000000001", double_type, 10, 0, 21},
        {"1E1234567890123456789", double_type, 0, error_overflow, 0},
        {"&H0000000000000000000000001", int16_type, 1, 0, 27},  // leading zeros are not digits
    };
    for (const row& r : rows) {
        read got = number(r.data, r.type);
        EXPECT_EQ(got.value, r.value) << '\'' << r.data << '\'';
        EXPECT_EQ(got.error, r.error) << '\'' << r.data << '\'';
        EXPECT_EQ(got.position, r.position) << '\'' << r.data << '\'';
    }
}

TEST_F(DataItems, SixtyFourBitReaders) {
    struct row { const char* data; int64_t i; int32_t ie; uint64_t u; int32_t ue; };
    const row rows[] = {
        {"2.5", 3, 0, 3, 0},
        {"-2.5", -3, 0, 0, error_overflow},
        {"18446744073709551615", 0, error_overflow, UINT64_MAX, 0},
        {"18446744073709551616", 0, error_overflow, 0, error_overflow},
        {"18446744073709551615.5", 0, error_overflow, 0, error_overflow},
        {"-0.4", 0, 0, 0, 0},
        {"-0.6", -1, 0, 0, error_overflow},
        {"9223372036854775807", INT64_MAX, 0, 9223372036854775807u, 0},
        {"9223372036854775807.5", 0, error_overflow, 9223372036854775808u, 0},
        {"-9223372036854775808", INT64_MIN, 0, 0, error_overflow},
        {"-9223372036854775808.5", 0, error_overflow, 0, error_overflow},
        {"-9223372036854775809", 0, error_overflow, 0, error_overflow},
        {"1E18", 1000000000000000000, 0, 1000000000000000000u, 0},
        {"1E19", 0, error_overflow, 10000000000000000000u, 0},
        {"0.05", 0, 0, 0, 0},
        {"0.5", 1, 0, 1, 0},
        {"&HFFFFFFFFFFFFFFFF", -1, 0, UINT64_MAX, 0},
        {"&O1777777777777777777777", -1, 0, UINT64_MAX, 0},
        {"&O2000000000000000000000", 0, error_overflow, 0, error_overflow},
        {"&H10000000000000000", 0, error_overflow, 0, error_overflow},
        {"1 2", 0, error_syntax, 0, error_syntax},
    };
    for (const row& r : rows) {
        std::string data = r.data;
        int32_t at = 0;
        EXPECT_EQ(data_read_int64(bytes(data), at, int32_t(data.size())), r.i) << r.data;
        EXPECT_EQ(error_number.exchange(0), r.ie) << r.data;
        EXPECT_EQ(at, r.ie ? 0 : int32_t(data.size())) << r.data;
        at = 0;
        EXPECT_EQ(data_read_uint64(bytes(data), at, int32_t(data.size())), r.u) << r.data;
        EXPECT_EQ(error_number.exchange(0), r.ue) << r.data;
        EXPECT_EQ(at, r.ue ? 0 : int32_t(data.size())) << r.data;
    }
    int32_t at = 3;
    EXPECT_EQ(data_read_int64(bytes("1,2"), at, 3), 0);
    EXPECT_EQ(error_number.exchange(0), error_out_of_data);
}

// Integer readers at the 64-bit limits against the exact decimal value.
TEST_F(DataItems, IntegerReadersAgreeWithStrtoll) {
    for (int64_t i = 0; i < differential_cases(100000); ++i) {
        auto v = int64_t(random());
        if (random() & 1) v >>= random() % 64;
        std::string text = std::to_string(v);
        int32_t at = 0;
        ASSERT_EQ(data_read_int64(bytes(text), at, int32_t(text.size())), v) << text;
        std::string u = std::to_string(uint64_t(v));
        at = 0;
        ASSERT_EQ(data_read_uint64(bytes(u), at, int32_t(u.size())), uint64_t(v)) << u;
    }
    EXPECT_EQ(error_number, 0);
}

TEST_F(DataItems, Strings) {
    struct row { const char* data; const char* want; int32_t error; int32_t position; };
    const row rows[] = {
        {"\"a,b\",", "a,b", 0, 6},
        {"ab\"c", "ab\"c", 0, 4},
        {"\"ab\"c", "", error_out_of_data, 0},
        {" x y ,z", " x y ", 0, 6},
        {",", "", 0, 1},
        {"\"open", "open", 0, 5},
        {"\"\"", "", 0, 2},
        {"", "", error_out_of_data, 0},
    };
    for (const row& r : rows) {
        std::string data = r.data;
        string_descriptor* target = variable("old");
        int32_t at = 0;
        data_read_string(bytes(data), at, int32_t(data.size()), target);
        EXPECT_EQ(text_of(target), r.want) << r.data;
        EXPECT_EQ(error_number.exchange(0), r.error) << r.data;
        EXPECT_EQ(at, r.position) << r.data;
    }
}

// Several items one after another, with the position after each.
TEST_F(DataItems, ItemsInARow) {
    std::string data = "1,-2.5,&H7F,\"x,y\",,3E2";
    const uint8_t* d = bytes(data);
    auto n = int32_t(data.size());
    int32_t at = 0;
    EXPECT_EQ(data_read_number(d, at, n, int16_type), 1);
    EXPECT_EQ(at, 2);
    EXPECT_EQ(data_read_int64(d, at, n), -3);
    EXPECT_EQ(at, 7);
    EXPECT_EQ(data_read_number(d, at, n, int8_type), 127);
    EXPECT_EQ(at, 12);
    string_descriptor* s = variable("");
    data_read_string(d, at, n, s);
    EXPECT_EQ(text_of(s), "x,y");
    EXPECT_EQ(at, 18);
    EXPECT_EQ(data_read_number(d, at, n, double_type), 0);
    EXPECT_EQ(at, 19);
    EXPECT_EQ(data_read_number(d, at, n, single_type), 300);
    EXPECT_EQ(at, 22);
    EXPECT_EQ(data_read_number(d, at, n, single_type), 0);
    EXPECT_EQ(error_number.exchange(0), error_out_of_data);
    EXPECT_EQ(at, 22);
    // A pending error: nothing is read.
    error_number = error_overflow;
    at = 0;
    EXPECT_EQ(data_read_number(d, at, n, int16_type), 0);
    EXPECT_EQ(at, 0);
    error_number = 0;
}

// ---- files ---------------------------------------------------------------------------------------

// A file in memory behind the byte source, with the separator rules of sequential input.
struct memory_file {
    std::string bytes;
    size_t position = 0;
    size_t fail_at = std::string::npos;  // a read here raises 57
};
memory_file file;

int32_t memory_slot(int32_t number) {
    switch (number) {
    case 1: return 0;
    case 2: error_raise(error_bad_file_mode); return -1;
    case 3: error_raise(error_path_file_access); return -1;
    default: error_raise(error_bad_file_name_or_number); return -1;
    }
}
int32_t memory_read(int32_t) {
    if (file.position == file.fail_at) {
        error_raise(error_device_io);
        return file_byte_error;
    }
    if (file.position >= file.bytes.size() || file.bytes[file.position] == 26) return file_byte_end;
    return uint8_t(file.bytes[file.position++]);
}
void memory_step_back() { --file.position; }
void memory_line_end(int32_t, int32_t first) {
    int32_t c = memory_read(0);
    if (c < 0) return;
    if ((first == 13 && c == 10) || (first == 10 && c == 13)) return;
    memory_step_back();
}
void memory_separator(int32_t slot, int32_t b) {
    for (;;) {
        if (b < 0) return;
        if (b == ' ') {
            int32_t c = memory_read(slot);
            if (c < 0) return;
            if (c == ' ' || c == ',' || c == 13 || c == 10) {
                b = c;
                continue;
            }
            memory_step_back();
            return;
        }
        if (b == ',') return;
        if (b == 13 || b == 10) return memory_line_end(slot, b);
        b = memory_read(slot);
    }
}

class FileItems : public number_test {
protected:
    void SetUp() override {
        number_test::SetUp();
        file_item_source_set({memory_slot, memory_read, memory_separator, memory_line_end});
    }
    void TearDown() override {
        file_item_source_set({});
        number_test::TearDown();
    }
    void open(const std::string& bytes) { file = {bytes, 0, std::string::npos}; }
    std::string string_item(int32_t number = 1) {
        string_descriptor* s = variable("old");
        file_input_string(number, s);
        return text_of(s);
    }
};

TEST_F(FileItems, Numbers) {
    open("1x2,3\r\n  \t-4.5E1x,&HFF &O7,&Q,7 \r\n");
    EXPECT_EQ(file_input_number(1, int16_type), 1);       // the separator step drops "x2,"
    EXPECT_EQ(file_input_number(1, int16_type), 3);       // CR LF with it
    EXPECT_EQ(file_input_number(1, int16_type), -45);     // a tab skipped like a blank
    EXPECT_EQ(file_input_number(1, uint8_type), 255);     // ended by a blank: the next item follows it
    EXPECT_EQ(file_input_int64(1), 7);
    EXPECT_EQ(file_input_uint64(1), 0u);                  // "&Q": the value 0
    EXPECT_EQ(file_input_number(1, int16_type), 7);
    EXPECT_EQ(error_number, 0);
    EXPECT_EQ(file_input_number(1, int16_type), 0);
    EXPECT_EQ(error_number.exchange(0), error_input_past_end);
}

TEST_F(FileItems, ErrorsAndRanges) {
    open("40000,2.5,-2.5,1E39,   ");
    EXPECT_EQ(file_input_number(1, int16_type), 0);
    EXPECT_EQ(error_number.exchange(0), error_overflow);  // consumed all the same
    EXPECT_EQ(file_input_number(1, int16_type), 2);
    EXPECT_EQ(file_input_int64(1), -3);
    EXPECT_EQ(file_input_number(1, single_type), 0);
    EXPECT_EQ(error_number.exchange(0), error_overflow);
    EXPECT_EQ(file_input_number(1, int16_type), 0);       // only blanks are left
    EXPECT_EQ(error_number.exchange(0), error_input_past_end);
    open("   ");
    EXPECT_EQ(string_item(), "");
    EXPECT_EQ(error_number.exchange(0), error_input_past_end);
    open(std::string(300, '9') + ",5");
    EXPECT_EQ(file_input_number(1, double_type), 0);
    EXPECT_EQ(error_number.exchange(0), error_overflow);
    EXPECT_EQ(file_input_number(1, double_type), 5);       // the separator step dropped the rest
    // The file checks, and mended: a negative number is never used as a slot.
    for (int32_t number : {2, 3, 9, -1}) {
        int32_t want = number == 2 ? error_bad_file_mode : number == 3 ? error_path_file_access
                                                                       : error_bad_file_name_or_number;
        EXPECT_EQ(file_input_number(number, int16_type), 0);
        EXPECT_EQ(error_number.exchange(0), want) << number;
        EXPECT_EQ(string_item(number), "old");
        EXPECT_EQ(error_number.exchange(0), want) << number;
    }
    // Without a file layer every number is unknown.
    file_item_source_set({});
    EXPECT_EQ(file_input_int64(1), 0);
    EXPECT_EQ(error_number.exchange(0), error_bad_file_name_or_number);
}

TEST_F(FileItems, ReadErrors) {
    open("123,\"abc\"");
    file.fail_at = 2;
    EXPECT_EQ(file_input_number(1, int16_type), 0);
    EXPECT_EQ(error_number.exchange(0), error_device_io);
    file.fail_at = 7;
    file.position = 4;
    EXPECT_EQ(string_item(), "old");  // a failed read leaves the target unchanged
    EXPECT_EQ(error_number.exchange(0), error_device_io);
}

TEST_F(FileItems, Strings) {
    open("  plain text  ,\"quoted, with\r\nline\" junk,last\r\n\"open");
    EXPECT_EQ(string_item(), "plain text");
    EXPECT_EQ(string_item(), "quoted, with\r\nline");
    EXPECT_EQ(string_item(), "last");
    EXPECT_EQ(file.position, 47u);  // CR LF consumed together
    EXPECT_EQ(string_item(), "open");
    EXPECT_EQ(error_number, 0);
    EXPECT_EQ(string_item(), "");
    EXPECT_EQ(error_number.exchange(0), error_input_past_end);
    open("a\x1A" "b");
    EXPECT_EQ(string_item(), "a");  // a byte 26 ends the file
    EXPECT_EQ(string_item(), "");
    EXPECT_EQ(error_number.exchange(0), error_input_past_end);
}

TEST(DigitBuffer, HalvesAndRoundUp) {
    EXPECT_EQ(int64_from_halves(0xFFFFFFFF, 0xFFFFFFFE), -2);
    EXPECT_EQ(uint64_from_halves(1, 2), 0x100000002u);
    number_input_empty();
    struct row { const char* item; bool up; };
    const row rows[] = {{"0.5", true}, {"0.45", false}, {"0.05", false}, {"1.5", true}, {"12.49", false},
                        {"-0.5", true}, {"5", false}, {"", false}};
    for (const row& r : rows) {
        digit_buffer b;
        std::string s = r.item;
        int32_t at = 0;
        data_number_lex(reinterpret_cast<const uint8_t*>(s.data()), at, int32_t(s.size()), b);
        EXPECT_EQ(digit_buffer_round_up(b), r.up) << r.item;
    }
}

}  // namespace
