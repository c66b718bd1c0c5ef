#include <gtest/gtest.h>

#include <set>

#include "files/file_fixture.h"
#include "files/file_open.h"
#include "files/network_seam.h"
#include "files/random_access.h"

namespace {

class FileOpen : public file_test {
protected:
    // OPEN name FOR mode [ACCESS] [LOCK] AS #n [LEN = length]; the error it raised.
    int32_t open(std::string_view name, int32_t mode, int32_t n, int32_t access = 0, int32_t lock = 0,
                 int64_t length = 0, int32_t length_given = 0) {
        file_open(text(path(name)), mode, access, lock, n, length, length_given);
        return error_take();
    }
    int32_t put(int32_t n, std::string_view bytes) {
        file_put_block(n, -1, bytes.data(), static_cast<int64_t>(bytes.size()));
        return error_take();
    }
    const file_handle_record& record(int32_t n) { return file_handle_record_of(file_number_slot(n)); }
};

TEST(OpenRequest, ModesAndClausesGiveAccessDenyAndKind) {
    constexpr int32_t r = file_access_read, w = file_access_write;
    struct request_case {
        int32_t mode, access, lock;
        open_request want;
    } cases[] = {
        {0, 0, 0, {r | w, 0, 3, file_mode_random}},
        {1, 0, 0, {r | w, 0, 3, file_mode_random}},
        {2, 0, 0, {r | w, 0, 3, file_mode_binary}},
        {3, 0, 0, {r, 0, 0, file_mode_input}},
        {4, 0, 0, {w, 0, 2, file_mode_output}},
        {5, 0, 0, {w, 0, 1, file_mode_output}},
        {1, 1, 0, {r | w, 0, 1, file_mode_random}},
        {2, 2, 0, {r, 0, 1, file_mode_binary}},
        {1, 3, 0, {w, 0, 1, file_mode_random}},
        {3, 0, 1, {r, 0, 0, file_mode_input}},
        {3, 0, 2, {r, file_deny_read | file_deny_write, 0, file_mode_input}},
        {4, 0, 3, {w, file_deny_read, 2, file_mode_output}},
        {5, 0, 4, {w, file_deny_write, 1, file_mode_output}},
    };
    for (const request_case& c : cases) {
        open_request q{};
        ASSERT_TRUE(open_request_of(c.mode, c.access, c.lock, q));
        EXPECT_EQ(q.access, c.want.access) << c.mode << c.access << c.lock;
        EXPECT_EQ(q.deny, c.want.deny) << c.mode << c.access << c.lock;
        EXPECT_EQ(q.kind, c.want.kind) << c.mode << c.access << c.lock;
        EXPECT_EQ(q.mode, c.want.mode) << c.mode << c.access << c.lock;
    }
    open_request q{};
    for (auto [mode, access, lock] : {std::tuple{6, 0, 0}, {-1, 0, 0}, {1, 4, 0}, {1, -1, 0}, {1, 0, 5}, {1, 0, -1}})
        EXPECT_FALSE(open_request_of(mode, access, lock, q)) << mode << access << lock;
}

TEST_F(FileOpen, EachModeCreatesTruncatesOrKeepsAsItShould) {
    EXPECT_EQ(open("missing", open_mode_input, 1), 53);
    EXPECT_FALSE(exists("missing"));
    EXPECT_EQ(file_number_state(1), 0);
    EXPECT_EQ(open("sub/none", open_mode_input, 1), 76);
    for (int32_t mode : {1, 2, 4, 5}) {
        std::string name = "new" + std::to_string(mode);
        EXPECT_EQ(open(name, mode, 1), 0);
        EXPECT_TRUE(exists(name));
        file_close(1, 1);
    }
    write_file("out", "old bytes");
    EXPECT_EQ(open("out", open_mode_output, 2), 0);
    EXPECT_EQ(read_file("out"), "");
    write_file("app", "old");
    EXPECT_EQ(open("app", open_mode_append, 3), 0);
    EXPECT_EQ(put(3, "+new"), 0);
    EXPECT_EQ(read_file("app"), "old+new");
    EXPECT_EQ(record(3).mode, file_mode_output);
    EXPECT_EQ(record(3).print_column, 1);
}

TEST_F(FileOpen, AReadOnlyFileOpensForReadingOnlyUnlessAnAccessClauseAsksForMore) {
    write_file("ro", std::string(128, 'r'));
    ::chmod(path("ro").c_str(), 0444);
    EXPECT_EQ(open("ro", open_mode_random, 1), 0);
    EXPECT_EQ(record(1).can_write, 0);
    EXPECT_EQ(put(1, "x"), 75);
    EXPECT_EQ(open("ro", open_mode_random, 2, open_access_read_write), 70);
    EXPECT_EQ(open("ro", open_mode_output, 2), 70);
    EXPECT_EQ(read_file("ro"), std::string(128, 'r'));
}

TEST_F(FileOpen, RecordLengthsAndNumbersAreCheckedFirst) {
    struct length_case {
        int64_t length;
        int32_t given, error;
        int64_t kept;
    } cases[] = {{-1, 1, 0, 128}, {0, 0, 0, 128}, {64, 1, 0, 64}, {0, 1, 5, 0}, {-2, 1, 5, 0},
                 {int64_t{1} << 40, 1, 5, 0}, {int64_t{INT32_MAX} + 1, 1, 5, 0}};
    for (const length_case& c : cases) {
        EXPECT_EQ(open("r", open_mode_random, 1, 0, 0, c.length, c.given), c.error) << c.length;
        if (c.error == 0) {
            EXPECT_EQ(record(1).record_length, c.kept);
            file_close(1, 1);
        }
    }
    EXPECT_EQ(open("r", open_mode_random, 0, 0, 0, 0, 1), 5);  // the length before the number
    EXPECT_EQ(open("r", open_mode_random, 0), 52);
    EXPECT_EQ(open("r", open_mode_random, -3), 52);
    EXPECT_EQ(open("r", 6, 1), 5);
    EXPECT_EQ(open("r", 1, 1, 4), 5);
    EXPECT_EQ(open("r", 1, 1, 0, 5), 5);
    EXPECT_EQ(open("r", open_mode_binary, 3), 0);
    EXPECT_EQ(open("r", open_mode_binary, 3), 55);
    file_close(3, 1);
    file_close(3, 1);  // not open: nothing
    file_close(0, 1);
    EXPECT_EQ(error_take(), 0);
    EXPECT_EQ(file_free_number(), 1);
}

TEST_F(FileOpen, AnInputFileStartingWithCtrlZIsAtItsEndAtOnce) {
    write_file("z", "\x1a" "abc");
    EXPECT_EQ(open("z", open_mode_input, 1), 0);
    EXPECT_EQ(file_eof(1), -1);
    EXPECT_EQ(file_handle_position(file_number_slot(1)), 0);
    write_file("t", "abc");
    EXPECT_EQ(open("t", open_mode_input, 2), 0);
    EXPECT_EQ(file_eof(2), 0);
}

TEST_F(FileOpen, AFailedFirstByteReadLeavesTheNumberFree) {
    write_file("f", "data");
    int32_t holder = file_handle_open(path("f"), file_access_read, 0, 0);
    ASSERT_EQ(file_handle_lock_range(holder, 0, 0), 0);
    EXPECT_EQ(open("f", open_mode_input, 1), 70);
    EXPECT_EQ(file_number_state(1), 0);
    file_handle_close(holder);
    EXPECT_EQ(open("f", open_mode_input, 1), 0);
}

// Another program's lock at one offset, on a description of its own, held while the value lives.
struct foreign_lock {
    int fd;
    foreign_lock(const std::string& file, short type, int64_t at) : fd(::open(file.c_str(), O_RDWR | O_CLOEXEC)) {
        struct flock fl = lock_request(type, at, 1);
        if (::fcntl(fd, F_OFD_SETLK, &fl) != 0) ADD_FAILURE() << "no lock at " << at;
    }
    ~foreign_lock() { ::close(fd); }
};

constexpr int64_t marks_start = int64_t{1} << 62;
constexpr int64_t marks_window = 16;  // past the last mark

// Only an exclusive lock of the first byte refuses the input open; a shared one (a read under way)
// or one of another byte lets it in, with the end marker read.
TEST_F(FileOpen, OnlyAnExclusiveLockOfTheFirstByteRefusesAnInputOpen) {
    write_file("f", "\x1a" "abc");
    struct lock_case {
        const char* name;
        short type;
        int64_t byte;
        int32_t error;
    } cases[] = {
        {"no lock", F_UNLCK, 0, 0},
        {"an exclusive lock of the first byte", F_WRLCK, 0, 70},
        {"a shared lock of the first byte", F_RDLCK, 0, 0},
        {"an exclusive lock of the second byte", F_WRLCK, 1, 0},
    };
    for (const lock_case& c : cases) {
        foreign_lock held(path("f"), c.type, c.byte);
        int32_t error = open("f", open_mode_input, 1);
        EXPECT_EQ(error, c.error) << c.name;
        if (error == 0) {
            EXPECT_EQ(file_eof(1), -1) << c.name;
            file_close(1, 1);
        }
    }
}

// The offsets from the marks' start that a handle opened so holds, as another description sees them.
std::set<int64_t> mark_offsets_held(const std::string& file, int32_t access, int32_t deny) {
    int32_t holder = file_handle_open(file, access, deny, file_create_open);
    int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
    std::set<int64_t> held;
    for (int64_t k = 0; k < marks_window; ++k) {
        struct flock fl = lock_request(F_WRLCK, marks_start + k, 1);
        if (::fcntl(fd, F_OFD_GETLK, &fl) == 0 && fl.l_type != F_UNLCK) held.insert(k);
    }
    ::close(fd);
    file_handle_close(holder);
    return held;
}

// A shared lock at one offset among the marks, as a reader's marks are held, refuses an input open
// exactly where a handle that denies reading holds a mark and a plain reader does not.
TEST_F(FileOpen, AForeignLockAmongTheMarksRefusesAnInputOpenWhereADenyReadMarkLies) {
    write_file("f", "data");
    const std::set<int64_t> reader = mark_offsets_held(path("f"), file_access_read, 0);
    const std::set<int64_t> denier = mark_offsets_held(path("f"), file_access_read, file_deny_read);
    ASSERT_GT(denier.size(), reader.size());
    for (int64_t k = 0; k < marks_window; ++k) {
        foreign_lock held(path("f"), F_RDLCK, marks_start + k);
        bool refuses = denier.contains(k) && !reader.contains(k);
        int32_t error = open("f", open_mode_input, 1);
        EXPECT_EQ(error, refuses ? 70 : 0) << "offset " << k;
        if (error == 0) file_close(1, 1);
    }
}

// What the open found of the first byte serves the open only: a LOCK taken after it meets the
// next look.
TEST_F(FileOpen, ALockTakenAfterAnInputOpenMeetsTheNextLookAtTheFirstByte) {
    write_file("f", "data");
    ASSERT_EQ(open("f", open_mode_input, 1), 0);
    int32_t other = file_handle_open(path("f"), file_access_read | file_access_write, 0, file_create_open);
    ASSERT_EQ(file_handle_lock_range(other, 0, 0), file_ok);
    EXPECT_EQ(file_handle_first_byte(file_number_slot(1)), file_denied);
}

TEST_F(FileOpen, LockClausesHoldBetweenTwoNumbers) {
    write_file("f", "keep");
    EXPECT_EQ(open("f", open_mode_binary, 1, 0, open_lock_read_write), 0);
    EXPECT_EQ(open("f", open_mode_input, 2), 70);
    EXPECT_EQ(open("f", open_mode_output, 2), 70);
    EXPECT_EQ(read_file("f"), "keep");
    file_close(1, 1);
    EXPECT_EQ(open("f", open_mode_input, 1, 0, open_lock_write), 0);
    EXPECT_EQ(open("f", open_mode_input, 2), 0);
    EXPECT_EQ(open("f", open_mode_append, 3), 70);
}

TEST_F(FileOpen, ShortFormLooksAtTheFirstLetterOnly) {
    for (auto [mode_text, want_mode] :
         {std::pair{"binary?", file_mode_binary}, {"b", file_mode_binary}, {"Random", file_mode_random},
          {"o", file_mode_output}, {"A", file_mode_output}}) {
        file_open_short_form(text(mode_text), 1, text(path("s")), 0, 0);
        EXPECT_EQ(error_take(), 0) << mode_text;
        EXPECT_EQ(record(1).mode, want_mode) << mode_text;
        file_close(1, 1);
    }
    file_open_short_form(text("i"), 1, text(path("s")), 0, 0);
    EXPECT_EQ(error_take(), 0);
    file_close(1, 1);
    for (const char* bad : {"x", ""}) {
        file_open_short_form(text(bad), 1, text(path("s")), 0, 0);
        EXPECT_EQ(error_take(), 54) << bad;
    }
}

int network_closes = 0;
int network_close_alls = 0;

TEST_F(FileOpen, CloseOfEverythingClosesNetworkHandlesFirstThenEveryFile) {
    file_network.close = [](int32_t) { ++network_closes; };
    file_network.close_all = [] { ++network_close_alls; };
    for (int32_t n : {1, 5, 9}) EXPECT_EQ(open("f" + std::to_string(n), open_mode_output, n), 0);
    file_close(-2, 1);
    EXPECT_EQ(network_closes, 1);
    file_close(0, 0);
    EXPECT_EQ(network_close_alls, 1);
    for (int32_t n : {1, 5, 9}) EXPECT_EQ(file_number_state(n), 0);
    file_network = {};
    file_close(-2, 1);  // no network layer: nothing
    EXPECT_EQ(error_take(), 0);
}

}  // namespace
