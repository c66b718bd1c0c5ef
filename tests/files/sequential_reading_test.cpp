// LINE INPUT, INPUT$ and the byte reader beside a plain reader that takes one byte at a time out
// of its own copy of the read-ahead block: exhaustively over short files, and over random files
// with random block boundaries and writes through a second handle in between.
#include <gtest/gtest.h>

#include <array>
#include <optional>
#include <random>
#include <utility>

#include "files/file_fixture.h"
#include "files/file_open.h"
#include "files/random_access.h"
#include "files/sequential.h"

namespace {

constexpr uint8_t ctrl_z = 26;
constexpr uint8_t cr = 13;
constexpr uint8_t lf = 10;

// The byte reader and line input as plainly as they can be put. The block copy is taken where a
// read first falls outside the one before, as the file layer takes its own.
class plain_reader {
public:
    explicit plain_reader(const std::string& path) : fd_(::open(path.c_str(), O_RDONLY | O_CLOEXEC)) {
        uint8_t first = 0;
        eof_flag = ::pread(fd_, &first, 1, 0) == 1 && first == ctrl_z;  // the open's first-byte test
    }
    ~plain_reader() { ::close(fd_); }
    plain_reader(const plain_reader&) = delete;
    plain_reader& operator=(const plain_reader&) = delete;

    int64_t position = 0;
    bool eof_flag = false;
    int64_t block_start = 0;

    // 0-255, or file_byte_end at the end or at a byte 26 (which stays unread).
    int32_t byte() {
        if (!holds()) refill();
        if (!holds()) {
            eof_flag = true;
            return file_byte_end;
        }
        auto b = static_cast<uint8_t>(block_[static_cast<size_t>(position - block_start)]);
        if (b == ctrl_z) {
            eof_flag = true;
            return file_byte_end;
        }
        ++position;
        eof_flag = false;
        return b;
    }
    // The bytes INPUT$(n) answers, up to the end, and whether it raises 62.
    std::pair<std::string, bool> chars(int64_t n) {
        std::string out;
        for (int32_t c; static_cast<int64_t>(out.size()) < n;) {
            if ((c = byte()) == file_byte_end) return {out, true};
            out += static_cast<char>(c);
        }
        return {out, false};
    }
    // The line, or nothing where LINE INPUT raises 62.
    std::optional<std::string> line() {
        std::string out;
        for (int32_t c; (c = byte()) != file_byte_end;) {
            if (c == cr || c == lf) {
                skip_line_end(c);
                return out;
            }
            out += static_cast<char>(c);
        }
        if (out.empty()) return std::nullopt;
        return out;
    }
    bool eof() const {
        struct stat st;
        return eof_flag || (!holds() && ::fstat(fd_, &st) == 0 && position >= st.st_size);
    }
    void seek(int64_t to) { position = to; }
    // The file was emptied through another handle of this process: the block is gone with it.
    void emptied() { block_.clear(); }

private:
    bool holds() const {
        return position >= block_start && position - block_start < static_cast<int64_t>(block_.size());
    }
    void refill() {
        block_.resize(static_cast<size_t>(file_read_ahead_size));
        ssize_t got = ::pread(fd_, block_.data(), block_.size(), position);
        block_.resize(got > 0 ? static_cast<size_t>(got) : 0);
        block_start = position;
    }
    void skip_line_end(int32_t c) {
        int32_t next = byte();
        if (next == file_byte_end) return;
        if (next != (c == cr ? lf : cr)) {
            --position;
            return;
        }
        if (byte() != file_byte_end) --position;
    }

    int fd_;
    std::string block_;
};

class SequentialReading : public file_test {
protected:
    // Opens name as file 1 for input; the slot.
    int32_t open_input(std::string_view name) {
        file_open(text(path(name)), open_mode_input, 0, 0, 1, 0, 0);
        EXPECT_EQ(error_take(), 0);
        return file_number_slot(1);
    }
    // One LINE INPUT #1 beside the plain reader's line: text or 62 alike, then position and flag.
    void expect_same_line(plain_reader& plain, int32_t slot, string_descriptor* target, const std::string& what) {
        file_line_input(1, target);
        int32_t error = error_take();
        std::optional<std::string> want = plain.line();
        ASSERT_EQ(error, want ? 0 : 62) << what;
        ASSERT_EQ(text_of(target), want.value_or("")) << what;
        expect_same_state(plain, slot, what);
    }
    // A byte read, INPUT$(1, #1) or INPUT$(n, #1) beside the plain reader: bytes and 62 alike.
    void expect_same_reads(plain_reader& plain, int32_t slot, std::mt19937_64& random, const std::string& what) {
        int64_t n = std::array<int64_t, 3>{0, 1, 2 + static_cast<int64_t>(random() % 40)}[random() % 3];
        if (n == 0) {
            ASSERT_EQ(file_read_byte(slot), plain.byte()) << what;
            return;
        }
        std::string got = text_of(input_chars(n, 1, 1));
        int32_t error = error_take();
        auto [want, past_end] = plain.chars(n);
        ASSERT_EQ(got, want) << what << ", INPUT$(" << n << ")";
        ASSERT_EQ(error, past_end ? 62 : 0) << what << ", INPUT$(" << n << ")";
    }
    void expect_same_state(const plain_reader& plain, int32_t slot, const std::string& what) {
        ASSERT_EQ(file_handle_position(slot), plain.position) << what;
        ASSERT_EQ(file_handle_record_of(slot).eof_flag, plain.eof_flag ? 1 : 0) << what;
    }
};

TEST_F(SequentialReading, AClosedFileAnswersNothingFromItsBlock) {
    write_file("c", "abc");
    int32_t slot = open_input("c");
    EXPECT_EQ(file_read_byte(slot), 'a');
    file_close(1, 1);
    EXPECT_EQ(file_handle_read_byte(slot), file_bad_slot);
    EXPECT_EQ(file_handle_ahead(slot).length, 0);
    EXPECT_EQ(file_handle_at_end(slot), file_bad_slot);
}

// Every file of up to five bytes drawn from a letter, CR, LF and 26, read line by line to the end.
TEST_F(SequentialReading, LinesOfEveryShortFileMatchThePlainReader) {
    constexpr char alphabet[] = {'a', cr, lf, ctrl_z};
    constexpr int max_length = 5;
    string_descriptor* target = string_new(0, 0);
    for (int length = 0; length <= max_length; ++length) {
        for (int code = 0; code < 1 << (2 * length); ++code) {
            std::string bytes;
            for (int i = 0; i < length; ++i) bytes += alphabet[(code >> (2 * i)) & 3];
            write_file("s", bytes);
            int32_t slot = open_input("s");
            plain_reader plain(path("s"));
            std::string what = "file of " + std::to_string(length) + " bytes, code " + std::to_string(code);
            for (int n = 0; n <= length + 1; ++n) ASSERT_NO_FATAL_FAILURE(expect_same_line(plain, slot, target, what));
            ASSERT_EQ(file_eof(1), plain.eof() ? -1 : 0) << what;
            file_close(1, 1);
        }
    }
}

// Random bytes with lines of a random typical length, where a 26 may end the text early.
std::string random_text(std::mt19937_64& random, size_t size) {
    const double line_end_share = std::array{0.3, 0.02, 0.0003}[random() % 3];
    const double ctrl_z_share = random() % 2 ? 0.0 : 1.0 / static_cast<double>(size + 1);
    std::uniform_real_distribution<double> share(0.0, 1.0);
    std::string bytes(size, ' ');
    for (char& b : bytes) {
        double x = share(random);
        if (x < ctrl_z_share) b = static_cast<char>(ctrl_z);
        else if (x < line_end_share) b = static_cast<char>(x < line_end_share / 2 ? cr : lf);
        else do b = static_cast<char>(random()); while (b == cr || b == lf || b == ctrl_z);
    }
    return bytes;
}

// Line input, byte reads, INPUT$ of one or more characters and the end test in random order;
// seeks move the block, often to just before its end; a second handle writes into the file, also
// where the block was already read, and now and then the file is emptied by an open for output
// and written anew.
TEST_F(SequentialReading, RandomReadingMatchesThePlainReader) {
    std::mt19937_64 random(24);
    string_descriptor* target = string_new(0, 0);
    for (int file = 0; file < 120; ++file) {
        size_t size = random() % 2 ? random() % 300 : random() % (3 * file_read_ahead_size);
        write_file("r", random_text(random, size));
        int32_t slot = open_input("r");
        int32_t writer = file_handle_open(path("r"), file_access_read | file_access_write, 0, file_create_never);
        ASSERT_GE(writer, 0);
        plain_reader plain(path("r"));
        for (int step = 0; step < 400; ++step) {
            std::string what = "file " + std::to_string(file) + ", step " + std::to_string(step);
            uint64_t pick = random() % 100;
            if (pick < 50) {
                ASSERT_NO_FATAL_FAILURE(expect_same_line(plain, slot, target, what));
                continue;
            }
            if (pick < 75) {
                ASSERT_NO_FATAL_FAILURE(expect_same_reads(plain, slot, random, what));
            } else if (pick < 82) {
                ASSERT_EQ(file_eof(1), plain.eof() ? -1 : 0) << what;
            } else if (pick < 92) {
                int64_t near_end = plain.block_start + file_read_ahead_size - static_cast<int64_t>(random() % 6);
                int64_t to = random() % 2 ? near_end : static_cast<int64_t>(random() % (size + 3));
                file_seek(1, to + 1);
                ASSERT_EQ(error_take(), 0) << what;
                plain.seek(to);
            } else if (pick < 97) {
                std::string bytes = random_text(random, 1 + random() % 8);
                int64_t at = std::max<int64_t>(0, plain.position - 4 + static_cast<int64_t>(random() % 16));
                ASSERT_EQ(file_handle_write(writer, at, bytes.data(), static_cast<int64_t>(bytes.size())), file_ok);
            } else {
                // Opened for output through another number, then written anew, maybe shorter.
                file_open(text(path("r")), open_mode_output, 0, 0, 3, 0, 0);
                file_close(3, 1);
                ASSERT_EQ(error_take(), 0) << what;
                plain.emptied();
                std::string bytes = random_text(random, random() % (size + 3));
                ASSERT_EQ(file_handle_write(writer, 0, bytes.data(), static_cast<int64_t>(bytes.size())), file_ok);
            }
            ASSERT_NO_FATAL_FAILURE(expect_same_state(plain, slot, what));
        }
        file_handle_close(writer);
        file_close(1, 1);
        ASSERT_EQ(string_store_verify(), "") << "file " << file;
    }
}

}  // namespace
