#include <gtest/gtest.h>

#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>

#include <chrono>
#include <fstream>
#include <sstream>

#include "files/file_fixture.h"

namespace {

using FileHandles = file_test;

enum class file_state { missing, non_empty, read_only, directory, missing_parent, parent_is_file };

struct open_case {
    const char* name;
    int32_t kind;
    int32_t access;
    file_state state;
    int32_t want;        // a negative result, or 0 for an open slot
    const char* bytes;   // the file's bytes afterwards; null when it must not exist as a file
    uint8_t can_read, can_write;
};

TEST_F(FileHandles, OpenMatrixAnswersTheCodeAndLeavesTheBytes) {
    constexpr int32_t r = file_access_read, w = file_access_write, rw = r | w;
    const open_case cases[] = {
        {"input, missing", 0, r, file_state::missing, file_not_found, nullptr, 0, 0},
        {"input, non-empty", 0, r, file_state::non_empty, 0, "abc", 1, 0},
        {"input, read-only", 0, r, file_state::read_only, 0, "abc", 1, 0},
        {"input, directory", 0, r, file_state::directory, file_denied, nullptr, 0, 0},
        {"input, missing parent", 0, r, file_state::missing_parent, file_path_not_found, nullptr, 0, 0},
        {"input, parent is a file", 0, r, file_state::parent_is_file, file_path_not_found, nullptr, 0, 0},
        {"append, missing", 1, w, file_state::missing, 0, "", 0, 1},
        {"append, non-empty", 1, w, file_state::non_empty, 0, "abc", 0, 1},
        {"append, read-only", 1, w, file_state::read_only, file_denied, "abc", 0, 0},
        {"append, directory", 1, w, file_state::directory, file_denied, nullptr, 0, 0},
        {"append, missing parent", 1, w, file_state::missing_parent, file_path_not_found, nullptr, 0, 0},
        {"output, missing", 2, w, file_state::missing, 0, "", 0, 1},
        {"output, non-empty", 2, w, file_state::non_empty, 0, "", 0, 1},
        {"output, read-only", 2, w, file_state::read_only, file_denied, "abc", 0, 0},
        {"random, missing", 3, rw, file_state::missing, 0, "", 1, 1},
        {"random, non-empty", 3, rw, file_state::non_empty, 0, "abc", 1, 1},
        {"random, read-only falls back to reading", 3, rw, file_state::read_only, 0, "abc", 1, 0},
        {"random, directory", 3, rw, file_state::directory, file_denied, nullptr, 0, 0},
        {"random, missing parent", 3, rw, file_state::missing_parent, file_path_not_found, nullptr, 0, 0},
    };
    for (const open_case& c : cases) {
        std::string name = std::string("case") + std::to_string(&c - cases);
        std::string target = path(name);
        switch (c.state) {
        case file_state::missing: break;
        case file_state::non_empty: write_file(name, "abc"); break;
        case file_state::read_only: write_file(name, "abc"); ::chmod(target.c_str(), 0444); break;
        case file_state::directory: ::mkdir(target.c_str(), 0777); break;
        case file_state::missing_parent: target = path(name + "-none/f"); break;
        case file_state::parent_is_file: write_file(name, "x"); target = path(name + "/f"); break;
        }
        int32_t slot = file_handle_open(target, c.access, 0, c.kind);
        if (c.want == 0) {
            ASSERT_GE(slot, 0) << c.name;
            EXPECT_EQ(file_handle_record_of(slot).can_read, c.can_read) << c.name;
            EXPECT_EQ(file_handle_record_of(slot).can_write, c.can_write) << c.name;
            EXPECT_EQ(file_handle_close(slot), 0) << c.name;
        } else {
            EXPECT_EQ(slot, c.want) << c.name;
        }
        struct stat st;
        bool is_file = ::stat(target.c_str(), &st) == 0 && S_ISREG(st.st_mode);
        EXPECT_EQ(is_file, c.bytes != nullptr) << c.name;
        if (c.bytes && is_file) {
            EXPECT_EQ(read_file(name), c.bytes) << c.name;
        }
    }
    EXPECT_EQ(file_handle_slot_count(), 1);  // every failed open gave its slot back
}

TEST_F(FileHandles, ShortReadZeroFillsSetsTheFlagAndAFullReadClearsIt) {
    write_file("f", "abcd");
    int32_t slot = file_handle_open(path("f"), file_access_read, 0, 0);
    ASSERT_GE(slot, 0);
    char buffer[10];
    std::memset(buffer, 'x', sizeof buffer);
    EXPECT_EQ(file_handle_read(slot, 0, buffer, 10), file_at_end);
    EXPECT_EQ(std::string(buffer, 10), std::string("abcd\0\0\0\0\0\0", 10));
    EXPECT_EQ(file_handle_position(slot), 4);
    EXPECT_EQ(file_handle_eof_flag(slot), 1);
    EXPECT_EQ(file_handle_last_read_count(), 4);
    EXPECT_EQ(file_handle_at_end(slot), 1);

    EXPECT_EQ(file_handle_read(slot, 1, buffer, 3), 0);
    EXPECT_EQ(std::string(buffer, 3), "bcd");
    EXPECT_EQ(file_handle_eof_flag(slot), 0);
    file_handle_record_of(slot).eof_flag = 1;
    EXPECT_EQ(file_handle_read(slot, -1, buffer, 0), 0);
    EXPECT_EQ(file_handle_eof_flag(slot), 0);
    EXPECT_EQ(file_handle_read(slot, -1, buffer, -1), file_bad_argument);
    EXPECT_EQ(file_handle_write(slot, -1, buffer, 1), file_no_access);
}

TEST_F(FileHandles, WritesAtTheKeptPositionAndSeeksCheckTheirArgument) {
    int32_t slot = file_handle_open(path("f"), file_access_read | file_access_write, 0, 2);
    ASSERT_GE(slot, 0);
    EXPECT_EQ(file_handle_write(slot, -1, "hello", 5), 0);
    EXPECT_EQ(file_handle_write(slot, -1, "!", 1), 0);
    EXPECT_EQ(file_handle_position(slot), 6);
    EXPECT_EQ(file_handle_seek(slot, -5), file_bad_argument);
    EXPECT_EQ(file_handle_position(slot), 6);
    EXPECT_EQ(file_handle_write(slot, 10, "z", 1), 0);  // past the end: the gap reads as zeros
    EXPECT_EQ(read_file("f"), std::string("hello!\0\0\0\0z", 11));
    EXPECT_EQ(file_handle_size(slot), 11);
    EXPECT_EQ(file_handle_write(slot, -1, "x", INT64_MAX), file_bad_argument);
    EXPECT_EQ(file_handle_read(99, 0, nullptr, 0), file_bad_slot);
}

TEST_F(FileHandles, TheLastClosedSlotIsReusedWithANewSerial) {
    int32_t slots[4];
    for (int i = 0; i < 4; ++i) slots[i] = file_handle_open(path("f" + std::to_string(i)), file_access_write, 0, 1);
    EXPECT_EQ(slots[3], 3);
    uint64_t old_serial = file_handle_record_of(3).serial;
    EXPECT_EQ(file_handle_close(3), 0);
    EXPECT_EQ(file_handle_release(3), file_bad_slot);  // not in use: nothing changes
    EXPECT_EQ(file_handle_open(path("g"), file_access_write, 0, 1), 3);
    EXPECT_GT(file_handle_record_of(3).serial, old_serial);
    EXPECT_EQ(file_handle_slot_count(), 4);
}

TEST_F(FileHandles, FileNumbersGrowTheMapButAllocateNothingForHugeNumbers) {
    EXPECT_EQ(file_number_state(0), file_bad_slot);
    EXPECT_EQ(file_number_state(10), 0);
    EXPECT_EQ(file_number_map_size(), 10);
    EXPECT_EQ(file_number_first_free(), 1);
    int32_t slot = file_handle_open(path("f"), file_access_write, 0, 1);
    file_number_bind(1, slot);
    EXPECT_EQ(file_number_state(1), 1);
    EXPECT_EQ(file_number_first_free(), 2);
    EXPECT_EQ(file_number_state(INT32_MAX), 0);
    EXPECT_EQ(file_number_map_size(), INT32_MAX);
    file_handle_close(slot);  // unbinds
    EXPECT_EQ(file_number_state(1), 0);
    EXPECT_EQ(file_number_first_free(), 1);
}

TEST_F(FileHandles, RangeLocksClashBetweenTwoHandlesOfOneProcess) {
    write_file("f", std::string(400, 'a'));
    int32_t a = file_handle_open(path("f"), file_access_read | file_access_write, 0, 3);
    int32_t b = file_handle_open(path("f"), file_access_read, 0, 0);
    char byte;
    EXPECT_EQ(file_handle_lock_range(a, 100, 199), 0);
    EXPECT_EQ(file_handle_lock_range(b, 150, 160), file_denied);
    EXPECT_EQ(file_handle_read(b, 150, &byte, 1), file_denied);
    EXPECT_EQ(file_handle_read(b, 99, &byte, 1), 0);
    EXPECT_EQ(file_handle_read(a, 150, &byte, 1), 0);  // the holder reads its own range
    EXPECT_EQ(file_handle_lock_range(b, 0, 99), 0);
    EXPECT_EQ(file_handle_lock_range(a, 120, 130), file_denied);    // overlaps its own lock
    EXPECT_EQ(file_handle_unlock_range(a, 100, 150), file_denied);  // not the range it locked
    EXPECT_EQ(file_handle_unlock_range(a, 100, 199), 0);
    EXPECT_EQ(file_handle_lock_range(b, 150, 160), 0);
    EXPECT_EQ(file_handle_lock_range(a, 10, 5), file_bad_argument);
    EXPECT_EQ(file_handle_lock_range(a, -2, 5), file_bad_argument);
    EXPECT_EQ(file_handle_lock_range(a, 0, -2), file_bad_argument);
    EXPECT_EQ(file_handle_lock_range(a, -1, -1), file_denied);  // from 0 to the end: b holds bytes
    file_handle_close(b);
    EXPECT_EQ(file_handle_lock_range(a, -1, -1), 0);
    int32_t c = file_handle_open(path("f"), file_access_read, 0, 0);
    EXPECT_EQ(file_handle_read(c, 1000000, &byte, 1), file_denied);  // beyond the end too
}

// Range ends are inclusive: a one-byte lock holds exactly its byte, and two ranges that share only
// an end byte clash, whether the other range is another handle's or the asker's own.
TEST_F(FileHandles, RangeEndsHoldTheirOwnBytesAndNoMore) {
    write_file("f", std::string(400, 'a'));
    int32_t a = file_handle_open(path("f"), file_access_read | file_access_write, 0, 3);
    int32_t b = file_handle_open(path("f"), file_access_read | file_access_write, 0, 3);
    ASSERT_EQ(file_handle_lock_range(a, 100, 100), 0);
    ASSERT_EQ(file_handle_lock_range(a, 200, 299), 0);
    const struct {
        const char* name;
        bool lock;  // else a one-byte write at first
        bool by_holder;  // asked through a, which holds 100 and 200-299; else through b
        int64_t first, last;
        int32_t want;
    } steps[] = {
        {"write the byte before the one-byte lock", false, false, 99, 99, 0},
        {"write the byte after the one-byte lock", false, false, 101, 101, 0},
        {"write the locked byte", false, false, 100, 100, file_denied},
        {"lock a range ending on the locked byte", true, false, 90, 100, file_denied},
        {"lock a range starting on the locked byte", true, false, 100, 110, file_denied},
        {"lock a range ending on the first byte of a range", true, false, 150, 200, file_denied},
        {"lock a range starting on the last byte of a range", true, false, 299, 310, file_denied},
        {"the holder locks a range starting on the last byte of its own", true, true, 299, 310, file_denied},
        {"the holder locks a range ending on the first byte of its own", true, true, 150, 200, file_denied},
        {"lock the bytes between, touching neither", true, false, 101, 199, 0},
    };
    for (const auto& s : steps) {
        const char byte = 'b';
        int32_t asker = s.by_holder ? a : b;
        int32_t got =
            s.lock ? file_handle_lock_range(asker, s.first, s.last) : file_handle_write(asker, s.first, &byte, 1);
        EXPECT_EQ(got, s.want) << s.name;
    }
}

// Sharing: what a second handle may do while the first holds the file.
TEST_F(FileHandles, DenyBitsRefuseWhatTheyDenyInBothDirections) {
    write_file("f", "keep");
    constexpr int32_t r = file_access_read, w = file_access_write;
    struct share_case {
        int32_t holder_access, holder_deny, access, deny;
        bool opens;
    } cases[] = {
        {r | w, 0, r, 0, true},
        {r | w, file_deny_read, r, 0, false},
        {r | w, file_deny_read, w, 0, true},
        {r | w, file_deny_write, w, 0, false},
        {r | w, file_deny_write, r, 0, true},
        {r, 0, r, file_deny_read, false},  // the opener denies what the holder does
        {r, 0, w, file_deny_write, true},
        {w, 0, r, file_deny_write, false},
    };
    for (const share_case& c : cases) {
        int32_t holder = file_handle_open(path("f"), c.holder_access, c.holder_deny, 1);
        ASSERT_GE(holder, 0);
        int32_t other = file_handle_open(path("f"), c.access, c.deny, 1);
        EXPECT_EQ(other >= 0, c.opens) << c.holder_access << c.holder_deny << c.access << c.deny;
        if (other >= 0) file_handle_close(other);
        file_handle_close(holder);
    }
    // Output under a holder that denies writing: refused, and nothing truncated.
    int32_t holder = file_handle_open(path("f"), r, file_deny_write, 0);
    EXPECT_EQ(file_handle_open(path("f"), w, 0, 2), file_denied);
    EXPECT_EQ(read_file("f"), "keep");
    file_handle_close(holder);
}

std::string proc_locks() {
    std::ifstream in("/proc/locks");
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

TEST_F(FileHandles, LocksAndSharesHoldAgainstAnotherProcessUntilItIsKilled) {
    write_file("f", std::string(400, 'a'));
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    pid_t child = ::fork();
    if (child == 0) {
        int32_t slot = file_handle_open(path("f"), file_access_read, file_deny_write, 0);
        bool ok = slot >= 0 && file_handle_lock_range(slot, 100, 199) == 0;
        char c = ok ? 'y' : 'n';
        (void)!::write(ready[1], &c, 1);
        ::pause();
        ::_exit(0);
    }
    char c = 0;
    ASSERT_EQ(::read(ready[0], &c, 1), 1);
    ASSERT_EQ(c, 'y');

    int32_t slot = file_handle_open(path("f"), file_access_read, 0, 0);
    ASSERT_GE(slot, 0);
    char byte;
    EXPECT_EQ(file_handle_lock_range(slot, 150, 160), file_denied);
    EXPECT_EQ(file_handle_read(slot, 150, &byte, 1), file_denied);
    EXPECT_EQ(file_handle_lock_range(slot, 0, 99), 0);
    EXPECT_EQ(file_handle_open(path("f"), file_access_write, 0, 2), file_denied);
    EXPECT_EQ(read_file("f"), std::string(400, 'a'));
    // The kernel's own list shows the exclusive range on the file's own bytes.
    EXPECT_NE(proc_locks().find("OFDLCK ADVISORY  WRITE -1"), std::string::npos);
    EXPECT_NE(proc_locks().find(" 100 199"), std::string::npos);

    ::kill(child, SIGKILL);
    ::waitpid(child, nullptr, 0);
    EXPECT_EQ(file_handle_lock_range(slot, 150, 160), 0);
    EXPECT_EQ(file_handle_read(slot, 150, &byte, 1), 0);
    int32_t writer = file_handle_open(path("f"), file_access_write, 0, 2);
    EXPECT_GE(writer, 0);
    ::close(ready[0]);
    ::close(ready[1]);
}

TEST_F(FileHandles, AFullDeviceAnswersDiskFullAndKeepsThePosition) {
    int32_t slot = file_handle_open("/dev/full", file_access_write, 0, 1);
    ASSERT_GE(slot, 0);
    EXPECT_EQ(file_handle_write(slot, -1, "0123456789", 10), file_disk_full);
    EXPECT_EQ(file_handle_position(slot), 0);
    EXPECT_EQ(file_error_of_result(file_disk_full), 61);
}

TEST_F(FileHandles, AFileSizeLimitStopsTheWriteWithThePositionAtTheBytesWritten) {
    std::string target = path("limited");
    int status = in_child([&] {
        ::signal(SIGXFSZ, SIG_IGN);
        rlimit limit{4096, 4096};
        ::setrlimit(RLIMIT_FSIZE, &limit);
        int32_t slot = file_handle_open(target, file_access_write, 0, 2);
        std::string data(8192, 'x');
        int32_t code = file_handle_write(slot, -1, data.data(), 8192);
        bool ok = code == file_disk_full && file_handle_position(slot) == 4096 &&
                  file_handle_write(slot, -1, "y", 1) == file_disk_full && file_handle_close(slot) == 0;
        return ok ? 0 : 1;
    });
    EXPECT_EQ(status, 0);
    EXPECT_EQ(read_file("limited"), std::string(4096, 'x'));
}

TEST_F(FileHandles, RunningOutOfDescriptorsIsAClearErrorAndTheTableStaysUsable) {
    std::string base = path("n");
    int status = in_child([&] {
        rlimit limit{16, 16};
        ::setrlimit(RLIMIT_NOFILE, &limit);
        int32_t code = 0, opened = 0;
        while ((code = file_handle_open(base + std::to_string(opened), file_access_write, 0, 1)) >= 0) ++opened;
        if (code != file_fault || file_open_error_of_result(code) != 67 || opened < 2) return 1;
        if (file_handle_close(opened - 1) != 0) return 2;
        int32_t again = file_handle_open(base + "again", file_access_write, 0, 1);
        bool ok = again == opened - 1 && file_handle_write(again, -1, "ok", 2) == 0;
        file_handles_reset();  // closed as the runtime closes them at its end
        return ok ? 0 : 3;
    });
    EXPECT_EQ(status, 0);
    EXPECT_EQ(read_file("nagain"), "ok");
}

TEST_F(FileHandles, AFifoNeverHangsTheOpen) {
    ASSERT_EQ(::mkfifo(path("fifo").c_str(), 0666), 0);
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(file_handle_open(path("fifo"), file_access_write, 0, 1), file_device_unavailable);  // no reader
    int32_t reader = file_handle_open(path("fifo"), file_access_read, 0, 0);
    EXPECT_GE(reader, 0);
    EXPECT_LT(std::chrono::steady_clock::now() - start, hang_bound);
    EXPECT_EQ(file_handle_seek(reader, 0), file_no_access);
}

TEST_F(FileHandles, DescriptorsAreClosedOnExec) {
    int32_t slot = file_handle_open(path("f"), file_access_write, 0, 1);
    ASSERT_GE(slot, 0);
    std::string command = "ls -l /proc/self/fd | grep -c '" + path("f") + "'";
    FILE* p = ::popen(command.c_str(), "r");
    char count[16] = {};
    ASSERT_NE(std::fgets(count, sizeof count, p), nullptr);
    ::pclose(p);
    EXPECT_EQ(std::string(count), "0\n");
}

TEST_F(FileHandles, ANameWithANulByteIsABadName) {
    write_file("a", "x");
    EXPECT_EQ(file_handle_open(std::string(path("a")) + std::string("\0b", 2), file_access_read, 0, 0), file_bad_name);
    EXPECT_EQ(file_open_error_of_result(file_bad_name), 64);
}

}  // namespace

namespace {

TEST_F(FileHandles, AWholeFileIsReadThroughTheLayerAndItsSlotGivenBack) {
    write_file("font.bin", std::string("\0\1\2glyphs", 9));
    std::string bytes;
    EXPECT_EQ(file_read_whole(path("font.bin"), bytes), 0);
    EXPECT_EQ(bytes, std::string("\0\1\2glyphs", 9));
    EXPECT_EQ(file_read_whole(path("none"), bytes), file_not_found);
    EXPECT_EQ(file_handle_valid(0), 0);
}

}  // namespace
