#include <gtest/gtest.h>

#include "core/byte_span.h"
#include "files/file_fixture.h"
#include "files/file_open.h"
#include "files/random_access.h"

namespace {

class RandomAccess : public file_test {
protected:
    void open_random(std::string_view name, int32_t n, int64_t length) {
        file_open(text(path(name)), open_mode_random, 0, 0, n, length, 1);
        ASSERT_EQ(error_take(), 0);
    }
    void open_mode(std::string_view name, int32_t mode, int32_t n) {
        file_open(text(path(name)), mode, 0, 0, n, 0, 0);
        ASSERT_EQ(error_take(), 0);
    }
    static byte_span span_over(const void* p, int32_t length) {
        byte_span s{};
        byte_span_set(byte_span_low(p), byte_span_high(p), length, &s);
        return s;
    }
    int32_t put_string(int32_t n, int64_t position, std::string_view bytes, int32_t given = 1) {
        byte_span s = span_over(bytes.data(), static_cast<int32_t>(bytes.size()));
        byte_span before = s;
        file_put_string(n, position, &s, given);
        EXPECT_EQ(std::memcmp(&s, &before, sizeof s), 0);  // the caller's span is left alone
        return error_take();
    }
    std::string get_string(int32_t n, int64_t position, int32_t given = 1) {
        string_descriptor* target = string_new(0, 0);
        file_get_string(n, position, target, given);
        return text_of(target);
    }
    int64_t position(int32_t n) { return file_handle_position(file_number_slot(n)); }
};

// The stored form written out by hand: little-endian length, or 0x8000 + n mod 32768 and n / 32768
// in six bytes.
std::string stored(std::string_view text) {
    size_t n = text.size();
    std::string out;
    if (n <= 32767) {
        out = {static_cast<char>(n & 0xFF), static_cast<char>(n >> 8)};
    } else {
        size_t low = 0x8000 + n % 32768, high = n / 32768;
        out = {static_cast<char>(low & 0xFF), static_cast<char>(low >> 8)};
        for (int i = 0; i < 6; ++i) out += static_cast<char>((high >> (8 * i)) & 0xFF);
    }
    return out + std::string(text);
}

TEST_F(RandomAccess, AStringPutAsRecordThreeLandsAtItsBytesAndComesBack) {
    open_random("r", 1, 20);
    EXPECT_EQ(put_string(1, 3, "hello"), 0);
    EXPECT_EQ(position(1), 60);
    std::string bytes = read_file("r");
    ASSERT_EQ(bytes.size(), 47u);
    EXPECT_EQ(bytes.substr(40), stored("hello"));
    EXPECT_EQ(bytes.substr(0, 40), std::string(40, '\0'));
    EXPECT_EQ(get_string(1, 3), "hello");
    EXPECT_EQ(error_take(), 0);
    EXPECT_EQ(put_string(1, 1, std::string(19, 's')), 59);  // 2 + 19 > 20
}

TEST_F(RandomAccess, LongStringsTakeTheEightBytePrefix) {
    for (size_t n : {size_t{32767}, size_t{32768}, size_t{100000}}) {
        std::vector<uint8_t> prefix = record_string_prefix(static_cast<uint32_t>(n));
        std::string text(n, 'q');
        EXPECT_EQ(std::string(prefix.begin(), prefix.end()), stored(text).substr(0, prefix.size())) << n;
        open_random("long" + std::to_string(n), 1, static_cast<int64_t>(n + prefix.size()));
        EXPECT_EQ(put_string(1, 1, text), 0);
        EXPECT_EQ(read_file("long" + std::to_string(n)), stored(text));
        EXPECT_EQ(get_string(1, 1), text);
        file_close(1, 1);
    }
    EXPECT_EQ(stored(std::string(32768, 'q')).substr(0, 8), std::string("\x00\x80\x01\x00\x00\x00\x00\x00", 8));
}

TEST_F(RandomAccess, ABadPrefixRaises59AndLeavesThePositionAtTheRecordStart) {
    write_file("bad", std::string("\xff\xff" "abcd" "\x09\x00" "abcd" "\x01\x00" "abcd", 18));
    open_random("bad", 1, 6);
    file_seek(1, 2);
    EXPECT_EQ(get_string(1, 1), "");
    EXPECT_EQ(error_take(), 59);
    EXPECT_EQ(position(1), 0);
    EXPECT_EQ(get_string(1, 2), "");
    EXPECT_EQ(error_take(), 59);  // a length beyond the record
    EXPECT_EQ(position(1), 6);
    EXPECT_EQ(get_string(1, 3), "a");
    EXPECT_EQ(error_take(), 0);
    // The record read again in another shape.
    char raw[6];
    byte_span s = span_over(raw, 6);
    file_get_bytes(1, 1, &s, 1);
    EXPECT_EQ(error_take(), 0);
    EXPECT_EQ(std::string(raw, 2), "\xff\xff");
    open_random("one", 2, 1);
    EXPECT_EQ(get_string(2, 1), "");
    EXPECT_EQ(error_take(), 59);
}

TEST_F(RandomAccess, ReadsPastTheEndZeroFillAndSetTheEndOfFile) {
    write_file("three", std::string(30, 'x'));
    open_random("three", 1, 10);
    file_handle_record_of(file_number_slot(1)).record_buffer[0] = 'z';
    file_get_record(1, 10, 1);
    EXPECT_EQ(error_take(), 0);
    const file_handle_record& r = file_handle_record_of(file_number_slot(1));
    EXPECT_EQ(std::string(reinterpret_cast<char*>(r.record_buffer), 10), std::string(10, '\0'));
    EXPECT_EQ(file_eof(1), -1);
    file_get_record(1, 3, 1);
    EXPECT_EQ(file_eof(1), 0);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(r.record_buffer), 10), std::string(10, 'x'));

    write_file("two", "ab");
    open_mode("two", open_mode_binary, 2);
    char four[4] = {'1', '2', '3', '4'};
    byte_span s = span_over(four, 4);
    file_get_bytes(2, 1, &s, 1);
    EXPECT_EQ(error_take(), 0);
    EXPECT_EQ(std::string(four, 4), std::string("ab\0\0", 4));
    EXPECT_EQ(file_eof(2), -1);
}

TEST_F(RandomAccess, PartialRecordsMoveToTheNextRecord) {
    open_random("p", 1, 8);
    char two[2] = {'a', 'b'};
    byte_span s = span_over(two, 2);
    file_put_bytes(1, 2, &s, 1);
    EXPECT_EQ(position(1), 16);
    file_put_bytes(1, 0, &s, 0);
    EXPECT_EQ(position(1), 24);
    EXPECT_EQ(read_file("p"), std::string(8, '\0') + "ab" + std::string(6, '\0') + "ab");
    char nine[9];
    s = span_over(nine, 9);
    file_put_bytes(1, 1, &s, 1);
    EXPECT_EQ(error_take(), 59);
}

TEST_F(RandomAccess, PositionFunctions) {
    open_random("r", 1, 128);
    file_seek(1, 0);
    EXPECT_EQ(error_take(), 63);
    file_seek(1, 3);
    EXPECT_EQ(position(1), 256);
    EXPECT_EQ(file_seek_position(1), 3);
    EXPECT_EQ(file_loc(1), 3);

    write_file("in", std::string(300, 'i'));
    open_mode("in", open_mode_input, 2);
    char buffer[129];
    int32_t slot = file_number_slot(2);
    EXPECT_EQ(file_loc(2), 1);
    file_handle_read(slot, -1, buffer, 128);
    EXPECT_EQ(file_loc(2), 1);
    file_handle_read(slot, -1, buffer, 1);
    EXPECT_EQ(file_loc(2), 2);
    EXPECT_EQ(file_length(2), 300);

    open_mode("bin", open_mode_binary, 3);
    file_seek(3, 5);
    EXPECT_EQ(file_loc(3), 4);
    EXPECT_EQ(file_seek_position(3), 5);
    EXPECT_EQ(file_loc(7), 0);
    EXPECT_EQ(error_take(), 52);
    EXPECT_EQ(file_length(-7), 0);
    EXPECT_EQ(error_take(), 52);
}

TEST_F(RandomAccess, HugeRecordNumbersAreRefusedAndTheFileStaysUntouched) {
    write_file("r", std::string(256, 'k'));
    open_random("r", 1, 128);
    const int64_t huge[] = {int64_t{1} << 62, INT64_MAX, (INT64_MAX - 128) / 128 + 2};
    for (int64_t record : huge) {
        file_put_record(1, record, 1);
        EXPECT_EQ(error_take(), 63) << record;
        file_get_record(1, record, 1);
        EXPECT_EQ(error_take(), 63) << record;
        file_seek(1, record);
        EXPECT_EQ(error_take(), 63) << record;
        file_lock(1, record, 0, lock_first_given);
        EXPECT_EQ(error_take(), 5) << record;
        file_lock(1, 1, record, lock_first_given | lock_last_given);
        EXPECT_EQ(error_take(), 5) << record;
        EXPECT_EQ(put_string(1, record, "x"), 63) << record;
    }
    EXPECT_EQ(read_file("r"), std::string(256, 'k'));
    EXPECT_EQ(position(1), 0);
}

TEST_F(RandomAccess, LocksCoverTheirRecordsAndTextFilesLockWhole) {
    write_file("r", std::string(400, 'l'));
    open_random("r", 1, 100);
    int32_t probe = file_handle_open(path("r"), file_access_read, 0, 0);
    char byte;
    auto readable = [&](int64_t at) { return file_handle_read(probe, at, &byte, 1) == 0; };

    file_lock(1, 2, 3, lock_first_given | lock_last_given);
    EXPECT_EQ(error_take(), 0);
    EXPECT_TRUE(readable(99));
    EXPECT_FALSE(readable(100));
    EXPECT_FALSE(readable(299));
    EXPECT_TRUE(readable(300));
    file_unlock(1, 2, 3, lock_first_given | lock_last_given);
    EXPECT_EQ(error_take(), 0);

    file_lock(1, 2, 0, lock_first_given);
    EXPECT_FALSE(readable(199));
    EXPECT_TRUE(readable(200));
    file_unlock(1, 2, 0, lock_first_given);
    file_unlock(1, 2, 0, lock_first_given);
    EXPECT_EQ(error_take(), 70);  // no longer locked
    file_lock(1, 0, 0, lock_first_given);
    EXPECT_EQ(error_take(), 5);

    open_mode("out", open_mode_output, 2);
    file_lock(2, 5, 6, lock_first_given | lock_last_given);
    EXPECT_EQ(error_take(), 0);
    int32_t other = file_handle_open(path("out"), file_access_write, 0, 1);
    EXPECT_EQ(file_handle_write(other, 1000, "x", 1), file_denied);
    file_lock(9, 0, 0, 0);
    EXPECT_EQ(error_take(), 52);
}

TEST_F(RandomAccess, ModeAndAccessChecks) {
    write_file("ro", std::string(10, 'r'));
    ::chmod(path("ro").c_str(), 0444);
    open_random("ro", 1, 10);
    file_put_record(1, 1, 1);
    EXPECT_EQ(error_take(), 75);
    open_mode("out", open_mode_output, 2);
    char b[1];
    byte_span s = span_over(b, 1);
    file_get_bytes(2, 1, &s, 1);
    EXPECT_EQ(error_take(), 54);
    file_get_record(2, 1, 1);
    EXPECT_EQ(error_take(), 54);
    file_get_record(-2, 1, 1);
    EXPECT_EQ(error_take(), 54);
    file_get_bytes(-7, 1, &s, 1);
    EXPECT_EQ(error_take(), 52);
    file_get_bytes(3, 1, &s, 1);
    EXPECT_EQ(error_take(), 52);
    file_put_block(2, -2, b, 1);
    EXPECT_EQ(error_take(), 5);
}

TEST_F(RandomAccess, BlocksMoveAtAByteOffsetWhateverTheMode) {
    open_mode("chain", open_mode_output, 1);
    EXPECT_EQ(file_put_block(1, -1, "abc", 3), 0);
    EXPECT_EQ(file_put_block(1, 10, "z", 1), 0);
    EXPECT_EQ(read_file("chain"), std::string("abc\0\0\0\0\0\0\0z", 11));
    file_close(1, 1);
    open_mode("chain", open_mode_input, 1);
    char buffer[4];
    EXPECT_EQ(file_get_block(1, 9, buffer, 4), 0);
    EXPECT_EQ(error_take(), 0);
    EXPECT_EQ(std::string(buffer, 4), std::string("\0z\0\0", 4));
}

}  // namespace
