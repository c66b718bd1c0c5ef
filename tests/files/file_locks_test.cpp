// Sharing and LOCK as the kernel holds them on the file: the rule for every pair of opens, in one
// process and across processes racing, against other users and other programs, and what a killed
// program leaves (nothing).
#include <gtest/gtest.h>

#include <dirent.h>
#include <poll.h>
#include <pthread.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/wait.h>

#include <array>
#include <atomic>
#include <chrono>
#include <random>
#include <set>
#include <thread>

#include "core/errors.h"
#include "files/file_fixture.h"
#include "files/file_locks_internal.h"
#include "files/file_system.h"

namespace {

constexpr int32_t r = file_access_read, w = file_access_write;
constexpr uid_t nobody = 65534;

struct open_form {
    int32_t access, deny;
};
// Every access a file may be opened with, under every deny clause.
std::vector<open_form> every_form() {
    std::vector<open_form> forms;
    for (int32_t access : {r, w, r | w})
        for (int32_t deny = 0; deny <= (file_deny_read | file_deny_write); ++deny) forms.push_back({access, deny});
    return forms;
}
// The rule: a second open is refused when either handle denies what the other does.
bool opens_beside(open_form holder, open_form opener) {
    return !(holder.access & opener.deny) && !(holder.deny & opener.access);
}

TEST(ShareMarks, MarksClashExactlyWhereTheRuleRefusesAndBothWays) {
    for (int32_t a = 0; a < 4; ++a)
        for (int32_t ad = 0; ad < 4; ++ad)
            for (int32_t b = 0; b < 4; ++b)
                for (int32_t bd = 0; bd < 4; ++bd) {
                    bool clash = (marks_held(a, ad) & marks_refusing(b, bd)) != 0;
                    bool clash_back = (marks_held(b, bd) & marks_refusing(a, ad)) != 0;
                    EXPECT_EQ(clash, !opens_beside({a, ad}, {b, bd})) << a << ad << b << bd;
                    EXPECT_EQ(clash, clash_back) << a << ad << b << bd;
                }
}

// Over a small stretch of bytes, every span against random sets of own ranges, byte by byte.
TEST(LockSpans, AHoldTakesExactlyTheBytesNoOwnRangeCovers) {
    std::mt19937 random(7);
    constexpr int64_t bytes = 24;
    for (int round = 0; round < 2000; ++round) {
        std::vector<locked_range> own;
        for (int64_t b = 0; b < bytes;) {
            b += std::uniform_int_distribution<int64_t>(0, 6)(random);
            int64_t last = b + std::uniform_int_distribution<int64_t>(0, 4)(random);
            if (last >= bytes) break;
            own.push_back({b, random() % 9 == 0 && last > bytes - 6 ? -1 : last});
            if (own.back().last < 0) break;
            b = last + 2;
        }
        int64_t first = std::uniform_int_distribution<int64_t>(0, bytes - 1)(random);
        int64_t last = std::uniform_int_distribution<int64_t>(first, bytes + 4)(random);
        std::vector<lock_span> parts;
        spans_uncovered(lock_span_of(first, last), own, parts);
        std::set<int64_t> held;
        for (size_t i = 0; i < parts.size(); ++i) {
            ASSERT_LT(parts[i].start, parts[i].end);
            if (i > 0) {
                ASSERT_LT(parts[i - 1].end, parts[i].start);  // in order, apart
            }
            for (int64_t b = parts[i].start; b < parts[i].end; ++b) held.insert(b);
        }
        for (int64_t b = first; b <= last; ++b) {
            bool covered = false;
            for (const locked_range& o : own) covered |= b >= o.first && (o.last < 0 || b <= o.last);
            EXPECT_EQ(held.contains(b), !covered) << round << " byte " << b;
        }
        EXPECT_EQ(held.size(), static_cast<size_t>(std::count_if(held.begin(), held.end(),
                                                                 [&](int64_t b) { return b >= first && b <= last; })));
    }
}

TEST(LockSpans, BytesPastTheMarksStartShareItsLastOffset) {
    constexpr int64_t marks = int64_t{1} << 62;
    const struct {
        int64_t first, last, start, end;
    } cases[] = {
        {0, 0, 0, 1},
        {5, -1, 5, marks},
        {marks - 1, marks + 7, marks - 1, marks},
        {marks + 3, INT64_MAX, marks - 1, marks},
        {INT64_MAX, -1, marks - 1, marks},
    };
    for (const auto& c : cases) {
        lock_span s = lock_span_of(c.first, c.last);
        EXPECT_EQ(s.start, c.start) << c.first;
        EXPECT_EQ(s.end, c.end) << c.first;
    }
}

// A pipe both ways between the test and a forked holder: the holder takes commands, one byte each.
struct holder_process {
    pid_t pid = -1;
    int to_child[2] = {-1, -1}, from_child[2] = {-1, -1};
    template <class Serve>
    void start(Serve serve) {
        ASSERT_EQ(::pipe(to_child), 0);
        ASSERT_EQ(::pipe(from_child), 0);
        pid = ::fork();
        if (pid == 0) {
            ::close(to_child[1]);
            ::close(from_child[0]);
            char c;
            while (::read(to_child[0], &c, 1) == 1) {
                char answer = serve(c);
                if (::write(from_child[1], &answer, 1) != 1) break;
            }
            ::_exit(0);
        }
        ::close(to_child[0]);
        ::close(from_child[1]);
    }
    bool tell(char c) { return ::write(to_child[1], &c, 1) == 1; }
    // The holder's next answer; 0 when it ended without one.
    char answer() {
        char a = 0;
        return ::read(from_child[0], &a, 1) == 1 ? a : 0;
    }
    char ask(char c) { return tell(c) ? answer() : 0; }
    // Waits for the holder to end: its wait status.
    int reaped() {
        int status = 0;
        ::waitpid(pid, &status, 0);
        pid = -1;
        return status;
    }
    ~holder_process() {
        if (to_child[1] >= 0) ::close(to_child[1]);
        if (pid > 0) ::waitpid(pid, nullptr, 0);
        if (from_child[0] >= 0) ::close(from_child[0]);
    }
};

class FileSharing : public file_test {
protected:
    // A file of 100 bytes with the bits given, in a folder every user may enter (and, with 0777,
    // delete from).
    void file_for_others(mode_t mode, mode_t folder = 0755) {
        write_file("f", std::string(100, 'a'));
        ASSERT_EQ(::chmod(dir.c_str(), folder), 0);
        ASSERT_EQ(::chmod(path("f").c_str(), mode), 0);
    }
};

// A forked child becomes the second user.
bool become_nobody() { return ::setgid(nobody) == 0 && ::setuid(nobody) == 0; }

// Bytes past the marks' start share one lock offset, so two ranges there overlap, and giving one
// back never takes a byte from the other.
TEST_F(FileSharing, RangesPastTheMarksStartOverlapAsTheKernelSeesThem) {
    constexpr int64_t marks = int64_t{1} << 62;
    write_file("f", "x");
    int32_t slot = file_handle_open(path("f"), r | w, 0, file_create_open);
    int32_t other = file_handle_open(path("f"), r | w, 0, file_create_open);
    ASSERT_EQ(file_handle_lock_range(slot, marks - 10, marks + 5), file_ok);
    EXPECT_EQ(file_handle_lock_range(slot, marks + 6, marks + 6), file_denied);
    EXPECT_EQ(file_handle_lock_range(other, marks + 6, marks + 6), file_denied);
    EXPECT_EQ(file_handle_lock_range(slot, marks - 20, marks - 11), file_ok);
}

TEST_F(FileSharing, EveryPairOfOpensFollowsTheRuleInOneProcessAndAcrossTwo) {
    write_file("f", "keep");
    const std::vector<open_form> forms = every_form();
    // The holder in this process, then in another: the form asked by its index.
    for (bool other_process : {false, true}) {
        int32_t held = -1;
        holder_process child;
        if (other_process) child.start([&](char c) {
            if (held >= 0) file_handle_close(held);
            held = -1;
            if (c == 'x') return 'y';
            held = file_handle_open(path("f"), forms[c].access, forms[c].deny, file_create_open);
            return held >= 0 ? 'y' : 'n';
        });
        for (size_t h = 0; h < forms.size(); ++h) {
            if (other_process) ASSERT_EQ(child.ask(static_cast<char>(h)), 'y');
            else ASSERT_GE(held = file_handle_open(path("f"), forms[h].access, forms[h].deny, file_create_open), 0);
            for (const open_form& o : forms) {
                int32_t slot = file_handle_open(path("f"), o.access, o.deny, file_create_open);
                EXPECT_EQ(slot >= 0, opens_beside(forms[h], o))
                    << other_process << " holder " << forms[h].access << forms[h].deny << " opener " << o.access << o.deny;
                if (slot >= 0) file_handle_close(slot);
                else EXPECT_EQ(slot, file_denied);
            }
            if (!other_process) file_handle_close(held);
        }
        if (other_process) child.ask('x');
    }
    EXPECT_EQ(read_file("f"), "keep");
}

// Shared between racing processes: a barrier and the counts of each round.
struct race_board {
    pthread_barrier_t barrier;
    std::atomic<int> inside, entered, refused;
    std::atomic<int> clashes, empty_rounds, spurious;
};

// Processes open the file all at once, round after round: exclusive opens let exactly one in,
// opens that never clash let everyone in.
void race(const std::string& file, int processes, bool exclusive, int rounds, race_board* board) {
    pthread_barrierattr_t attr;
    pthread_barrierattr_init(&attr);
    pthread_barrierattr_setpshared(&attr, PTHREAD_PROCESS_SHARED);
    pthread_barrier_init(&board->barrier, &attr, static_cast<unsigned>(processes));
    std::vector<pid_t> children;
    for (int p = 0; p < processes; ++p) {
        pid_t pid = ::fork();
        if (pid != 0) {
            children.push_back(pid);
            continue;
        }
        for (int round = 0; round < rounds; ++round) {
            pthread_barrier_wait(&board->barrier);
            open_form form = exclusive ? open_form{r | w, file_deny_read | file_deny_write}
                                       : open_form{r, p % 2 ? file_deny_write : 0};
            int32_t slot = file_handle_open(file, form.access, form.deny, file_create_open);
            if (slot >= 0) {
                if (board->inside.fetch_add(1) != 0 && exclusive) board->clashes.fetch_add(1);
                board->entered.fetch_add(1);
            } else {
                board->refused.fetch_add(1);
            }
            int last = pthread_barrier_wait(&board->barrier);
            if (last == PTHREAD_BARRIER_SERIAL_THREAD) {
                int in = board->entered.exchange(0);
                board->refused.store(0);
                if (exclusive && in == 0) board->empty_rounds.fetch_add(1);
                if (!exclusive && in != processes) board->spurious.fetch_add(1);
            }
            pthread_barrier_wait(&board->barrier);
            if (slot >= 0) {
                board->inside.fetch_sub(1);
                file_handle_close(slot);
            }
        }
        ::_exit(0);
    }
    for (pid_t pid : children) {
        int status = 0;
        ::waitpid(pid, &status, 0);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    }
    pthread_barrier_destroy(&board->barrier);
}

TEST_F(FileSharing, RacingProcessesNeverShareAClashAndNeverRefuseWithoutOne) {
    write_file("f", "shared");
    void* page = ::mmap(nullptr, sizeof(race_board), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
    ASSERT_NE(page, MAP_FAILED);
    for (int processes : {2, 4, 8})
        for (bool exclusive : {true, false}) {
            auto* board = new (page) race_board{};
            race(path("f"), processes, exclusive, 300, board);
            EXPECT_EQ(board->clashes.load(), 0) << processes << " processes";
            EXPECT_EQ(board->empty_rounds.load(), 0) << processes << " processes, nobody let in";
            EXPECT_EQ(board->spurious.load(), 0) << processes << " processes, a refusal without a clash";
        }
    ::munmap(page, sizeof(race_board));
}

// Another opener between its steps holds a tentative mark for a while: an open that denies
// reading and writing backs off and gets in once the mark is gone, instead of refusing at once.
// A round that load stretches (begun after the mark was to go, or the mark kept past the back-off)
// proves nothing either way and is tried again.
TEST_F(FileSharing, AnOpenBacksOffWhileAnotherOpenerIsBetweenItsSteps) {
    constexpr int64_t tentative_reads_mark = int64_t{1} << 62;  // the first mark an opener that reads takes
    constexpr auto between_steps = std::chrono::milliseconds(30);
    constexpr int rounds = 5;
    write_file("f", "data");
    holder_process opener;
    opener.start([&](char c) {
        static int fd = ::open(path("f").c_str(), O_RDONLY | O_CLOEXEC);
        struct flock fl = lock_request(c == 't' ? F_RDLCK : F_UNLCK, tentative_reads_mark, 1);
        return ::fcntl(fd, F_OFD_SETLK, &fl) == 0 ? 'y' : 'n';
    });
    for (int round = 0; round < rounds; ++round) {
        ASSERT_EQ(opener.ask('t'), 'y');
        auto gone_at = std::chrono::steady_clock::now() + between_steps;
        std::thread later([&] {
            std::this_thread::sleep_until(gone_at);
            opener.tell('u');
        });
        auto start = std::chrono::steady_clock::now();
        int32_t slot = file_handle_open(path("f"), r | w, file_deny_read | file_deny_write, file_create_never);
        auto answered = std::chrono::steady_clock::now();
        later.join();
        ASSERT_EQ(opener.answer(), 'y');
        if (start >= gone_at) continue;
        if (slot >= 0) {
            // The mark goes only after gone_at: an open in before then passed over it.
            EXPECT_TRUE(answered >= gone_at) << "got in while the mark was there";
            return;
        }
        ASSERT_EQ(slot, file_denied);
        ASSERT_TRUE(answered >= gone_at) << "refused while the mark was there: it did not back off";
    }
    FAIL() << "in no round did the open meet the mark and get in";
}

// A forked child that loops until it is killed, and dies with the test.
template <class Body>
pid_t looping_child(Body body) {
    pid_t pid = ::fork();
    if (pid != 0) return pid;
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    for (;;) body();
}
// Whether a byte came down the pipe (a child's sign) before the bound that only a hang reaches.
bool sign_came(int fd) {
    pollfd p{fd, POLLIN, 0};
    char c;
    return ::poll(&p, 1, static_cast<int>(std::chrono::milliseconds(hang_bound).count())) == 1 && ::read(fd, &c, 1) == 1;
}
void child_end(pid_t pid) {
    ::kill(pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
}

// A LOCK and a write in another process: the write lands before the LOCK is had, or is refused;
// never do the locked bytes change while the LOCK holds.
TEST_F(FileSharing, ALockedRangeNeverChangesUnderARacingWriter) {
    constexpr int64_t bytes = 64;
    write_file("f", std::string(bytes, 'a'));
    auto* writes = static_cast<std::atomic<int64_t>*>(
        ::mmap(nullptr, sizeof(std::atomic<int64_t>), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0));
    ASSERT_NE(writes, MAP_FAILED);
    std::string pattern(bytes, 'b');
    int32_t writer_slot = -1;
    uint64_t step = 0;
    int first_write[2];
    ASSERT_EQ(::pipe(first_write), 0);
    pid_t writer = looping_child([&] {
        if (writer_slot < 0) writer_slot = file_handle_open(path("f"), r | w, 0, file_create_open);
        pattern[step % bytes] = static_cast<char>('a' + step % 26);
        ++step;
        if (file_handle_write(writer_slot, 0, pattern.data(), bytes) == file_ok && writes->fetch_add(1) == 0)
            (void)!::write(first_write[1], "w", 1);
    });
    ::close(first_write[1]);
    EXPECT_TRUE(sign_came(first_write[0]));  // the writer writes before the LOCKs begin
    ::close(first_write[0]);
    int32_t slot = file_handle_open(path("f"), r | w, 0, file_create_open);
    ASSERT_GE(slot, 0);
    int changed = 0, locked = 0;
    char first[bytes], again[bytes];
    for (int round = 0; round < 100000; ++round) {
        if (file_handle_lock_range(slot, 0, bytes - 1) != file_ok) continue;
        ++locked;
        bool read = file_handle_read(slot, 0, first, bytes) == file_ok;
        if (round % 8 == 0) ::sched_yield();  // the writer runs meanwhile
        read = read && file_handle_read(slot, 0, again, bytes) == file_ok;
        changed += !read || std::memcmp(first, again, bytes) != 0;
        ASSERT_EQ(file_handle_unlock_range(slot, 0, bytes - 1), file_ok);
    }
    child_end(writer);
    EXPECT_EQ(changed, 0);
    EXPECT_GT(locked, 90000);
    ::munmap(writes, sizeof(std::atomic<int64_t>));
}

// Another handle LOCKs bytes past a file's end and writes them while the file keeps shrinking
// back: an input handle's read-ahead block never takes those bytes. The reads begin once the LOCK
// is had; at the end, with the writer stopped and the file short, a read gets through.
TEST_F(FileSharing, AReadAheadBlockNeverTakesBytesLockedPastTheEnd) {
    write_file("f", std::string(50, 'a'));
    const std::string locked(100, 'L');
    int32_t locker = -1, raw = -1;
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    pid_t child = looping_child([&] {
        if (locker < 0) {
            locker = file_handle_open(path("f"), r | w, 0, file_create_open);
            raw = ::open(path("f").c_str(), O_RDWR | O_CLOEXEC);
            if (file_handle_lock_range(locker, 100, -1) != file_ok) ::_exit(3);
            (void)!::write(ready[1], "l", 1);
        }
        (void)!::ftruncate(raw, 50);
        file_handle_write(locker, 100, locked.data(), 100);
    });
    ::close(ready[1]);
    EXPECT_TRUE(sign_came(ready[0]));
    ::close(ready[0]);
    int32_t reader = file_handle_open(path("f"), r, 0, file_create_never);
    ASSERT_GE(reader, 0);
    file_handle_record_of(reader).mode = file_mode_input;
    int taken = 0;
    // Whether a read from the start delivered a byte; counts a block that took a locked byte.
    auto read_from_start = [&] {
        file_handle_seek(reader, 0);
        file_os_of(reader).ahead_length = 0;  // the next byte refills the block
        if (file_handle_read_byte(reader) < 0) return false;
        file_bytes_view ahead = file_handle_ahead(reader);
        taken += ahead.length > 99 && ahead.data[99] == 'L';  // the view starts after byte 0
        return true;
    };
    for (int round = 0; round < 20000; ++round) read_from_start();
    int status = 0;
    ::kill(child, SIGSTOP);
    ::waitpid(child, &status, WUNTRACED);
    EXPECT_EQ(::truncate(path("f").c_str(), 50), 0);
    EXPECT_TRUE(read_from_start());
    child_end(child);
    EXPECT_EQ(taken, 0);
}

// A read-only handle's LOCK is exclusive when its user may write the file: it keeps out the
// transfers of other handles too.
TEST_F(FileSharing, AReadOnlyHandlesLockKeepsOutOtherHandlesTransfers) {
    write_file("f", std::string(100, 'a'));
    int32_t reader = file_handle_open(path("f"), r, 0, file_create_never);
    int32_t other = file_handle_open(path("f"), r | w, 0, file_create_open);
    ASSERT_EQ(file_handle_lock_range(reader, 10, 19), file_ok);
    char byte = 'x';
    EXPECT_EQ(file_handle_write(other, 15, &byte, 1), file_denied);
    EXPECT_EQ(file_handle_read(other, 15, &byte, 1), file_denied);
    EXPECT_EQ(file_handle_lock_range(other, 19, 30), file_denied);
    EXPECT_EQ(file_handle_read(reader, 10, &byte, 1), file_ok);  // its own bytes
    EXPECT_EQ(file_handle_write(other, 20, &byte, 1), file_ok);
    ASSERT_EQ(file_handle_unlock_range(reader, 10, 19), file_ok);
    EXPECT_EQ(file_handle_write(other, 15, &byte, 1), file_ok);
}

// The file opened again for writing goes with a read-only handle's last range: a LOCK taken
// again opens it again and keeps out other handles' writes as the first did.
TEST_F(FileSharing, AReadOnlyHandlesSecondLockKeepsOutWritesAsTheFirst) {
    write_file("f", std::string(100, 'a'));
    int32_t reader = file_handle_open(path("f"), r, 0, file_create_never);
    int32_t other = file_handle_open(path("f"), r | w, 0, file_create_open);
    char byte = 'x';
    for (int time = 1; time <= 2; ++time) {
        ASSERT_EQ(file_handle_lock_range(reader, 10, 19), file_ok) << time;
        EXPECT_EQ(file_handle_write(other, 15, &byte, 1), file_denied) << time;
        ASSERT_EQ(file_handle_unlock_range(reader, 10, 19), file_ok) << time;
    }
}

// Another process holds a read lease on the file and never gives it up: a read-only handle's
// LOCK, which opens the file again for writing, answers instead of waiting for the kernel to
// break the lease.
TEST_F(FileSharing, AReadOnlyHandlesLockNeverWaitsForALeaseBreak) {
    int64_t leases = 1, break_seconds = 0;
    std::ifstream("/proc/sys/fs/leases-enable") >> leases;
    std::ifstream("/proc/sys/fs/lease-break-time") >> break_seconds;
    if (leases == 0) GTEST_SKIP() << "the kernel gives no leases here";
    if (std::chrono::seconds(break_seconds) <= hang_bound)
        GTEST_SKIP() << "a lease break here is too short to tell from an answer";
    write_file("f", std::string(100, 'a'));
    holder_process leaser;
    leaser.start([&](char) {
        ::signal(SIGIO, SIG_IGN);  // the notice of the break, which it never heeds
        static int fd = ::open(path("f").c_str(), O_RDONLY | O_CLOEXEC);
        return ::fcntl(fd, F_SETLEASE, F_RDLCK) == 0 ? 'y' : 'n';
    });
    ASSERT_EQ(leaser.ask('l'), 'y');
    int32_t reader = file_handle_open(path("f"), r, 0, file_create_never);
    ASSERT_GE(reader, 0);
    auto start = std::chrono::steady_clock::now();
    file_handle_lock_range(reader, 10, 19);  // taken or not, it answers
    EXPECT_LT(std::chrono::steady_clock::now() - start, hang_bound);
}

// Another handle LOCKs a 50-byte file from its end on: an input handle still reads every byte, its
// read-ahead holding exactly the bytes the file has.
TEST_F(FileSharing, ALockFromTheFilesEndLeavesItsBytesToReaders) {
    std::string bytes;
    for (int i = 0; i < 50; ++i) bytes += static_cast<char>('a' + i % 26);
    write_file("f", bytes);
    int32_t locker = file_handle_open(path("f"), r | w, 0, file_create_open);
    ASSERT_EQ(file_handle_lock_range(locker, 50, -1), file_ok);
    int32_t reader = file_handle_open(path("f"), r, 0, file_create_never);
    ASSERT_GE(reader, 0);
    file_handle_record_of(reader).mode = file_mode_input;
    std::string read;
    int32_t byte;
    while ((byte = file_handle_read_byte(reader)) >= 0) read += static_cast<char>(byte);
    EXPECT_EQ(byte, file_at_end);
    EXPECT_EQ(read, bytes);
}

// When its user may not write the file, a read-only handle's LOCK is a shared lock: it keeps out
// other handles' exclusive LOCKs, but the kernel gives it no way to keep out their transfers.
TEST_F(FileSharing, AReadOnlyHandleThatMayNotWriteKeepsOutOnlyOtherLocks) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to act as a second user";
    file_for_others(0644);
    holder_process reader;
    reader.start([&](char) {
        if (!become_nobody()) return 'n';
        int32_t slot = file_handle_open(path("f"), r, 0, file_create_never);
        return slot >= 0 && file_handle_lock_range(slot, 10, 19) == file_ok ? 'y' : 'n';
    });
    ASSERT_EQ(reader.ask('l'), 'y');
    int32_t mine = file_handle_open(path("f"), r | w, 0, file_create_open);
    char byte = 'x';
    EXPECT_EQ(file_handle_lock_range(mine, 15, 15), file_denied);
    EXPECT_EQ(file_handle_write(mine, 15, &byte, 1), file_ok);
}

// A handle whose user may write the file but not read it can take only exclusive locks: its marks
// refuse, and are refused by, every other handle that writes the file, and its writes look for a
// LOCK instead of holding their bytes.
TEST_F(FileSharing, AHandleThatMayOnlyWriteMarksExclusively) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to act as a second user";
    file_for_others(0622);
    holder_process writer;
    int32_t slot = -1;
    writer.start([&](char c) {
        if (slot < 0 && !become_nobody()) return 'n';
        if (slot < 0) slot = file_handle_open(path("f"), w, 0, file_create_open);
        if (c == 'o') return slot >= 0 ? 'y' : 'n';
        if (c == 's') return file_handle_open(path("f"), w, 0, file_create_open) == file_denied ? 'y' : 'n';
        return file_handle_write(slot, 15, "x", 1) == file_denied ? 'y' : 'n';  // 'w': into a LOCK
    });
    ASSERT_EQ(writer.ask('o'), 'y');
    EXPECT_EQ(writer.ask('s'), 'y');  // a second such handle
    EXPECT_EQ(file_handle_open(path("f"), r | w, 0, file_create_open), file_denied);
    int32_t reader = file_handle_open(path("f"), r, 0, file_create_never);
    ASSERT_GE(reader, 0);
    ASSERT_EQ(file_handle_lock_range(reader, 10, 19), file_ok);
    EXPECT_EQ(writer.ask('w'), 'y');
}

// A user who may write the file but not read it KILLs it while its owner holds it open: the look
// for other handles needs no reading, so KILL raises 55 and the file stays.
TEST_F(FileSharing, AUserWhoMayOnlyWriteAHeldFileCannotKillIt) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to act as a second user";
    file_for_others(0622, 0777);
    int32_t mine = file_handle_open(path("f"), r | w, 0, file_create_open);
    ASSERT_GE(mine, 0);
    holder_process stranger;
    stranger.start([&](char) {
        if (!become_nobody()) return 'n';
        file_kill(text(path("f")));
        return error_take() == error_file_already_open ? 'y' : 'n';
    });
    EXPECT_EQ(stranger.ask('k'), 'y');
    EXPECT_TRUE(exists("f"));
}

std::set<std::string> entries(const std::string& folder) {
    std::set<std::string> names;
    if (DIR* d = ::opendir(folder.c_str())) {
        while (dirent* e = ::readdir(d))
            if (folder != "/dev/shm" || std::string_view(e->d_name).find("lumo") != std::string_view::npos)
                names.insert(e->d_name);
        ::closedir(d);
    }
    return names;
}

TEST_F(FileSharing, NothingIsMadeBesideTheFilesThemselves) {
    std::string tmp = path("tmp"), runtime = path("runtime");
    ASSERT_EQ(::mkdir(tmp.c_str(), 0700), 0);
    ASSERT_EQ(::mkdir(runtime.c_str(), 0700), 0);
    ::setenv("TMPDIR", tmp.c_str(), 1);
    ::setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
    std::set<std::string> shm = entries("/dev/shm"), ours = entries(dir);
    std::vector<int32_t> slots;
    for (const open_form& f : every_form())
        slots.push_back(file_handle_open(path(std::to_string(f.access * 4 + f.deny)), f.access, f.deny, file_create_open));
    for (int32_t s : slots) EXPECT_EQ(file_handle_lock_range(s, 0, -1), file_ok);
    int32_t reader = file_handle_open(path("4"), r, 0, file_create_never);  // opens beside the same form
    std::set<std::string> made = entries(dir);
    EXPECT_EQ(made.size(), ours.size() + slots.size());  // the files themselves, nothing else
    EXPECT_EQ(entries("/dev/shm"), shm);
    EXPECT_EQ(entries(tmp).size(), 2u);  // "." and ".."
    EXPECT_EQ(entries(runtime).size(), 2u);
    file_handle_close(reader);
    file_handles_reset();
    EXPECT_EQ(entries(dir), made);
    EXPECT_EQ(entries("/dev/shm"), shm);
    ::unsetenv("TMPDIR");
    ::unsetenv("XDG_RUNTIME_DIR");
}

// Twenty files held exclusively with LOCKs by a program that is killed, or ends by a fatal error:
// the next program opens and locks them all. The program holds them until the test has seen them
// held, and only then dies.
TEST_F(FileSharing, AKilledOrFailedProgramLeavesNothingThatStopsTheNextOpen) {
    constexpr int files = 20;
    for (int i = 0; i < files; ++i) write_file(std::to_string(i), "data");
    for (bool killed : {true, false}) {
        holder_process program;
        // 'h' holds every file; 'f' ends the program by a fatal error, which answers nothing.
        program.start([&](char c) {
            if (c == 'f') {
                error_raise(error_out_of_stack_space);
                ::_exit(2);
            }
            for (int i = 0; i < files; ++i) {
                int32_t slot = file_handle_open(path(std::to_string(i)), r | w, file_deny_read | file_deny_write, 1);
                if (slot < 0 || file_handle_lock_range(slot, 0, -1) != file_ok) return 'n';
            }
            return 'y';
        });
        ASSERT_EQ(program.ask('h'), 'y');
        EXPECT_EQ(file_handle_open(path("0"), r, 0, file_create_never), file_denied);  // held while it lives
        if (killed) ::kill(program.pid, SIGKILL);
        else EXPECT_EQ(program.ask('f'), 0);
        int status = program.reaped();
        EXPECT_TRUE(killed ? WIFSIGNALED(status) : WIFEXITED(status) && WEXITSTATUS(status) == 70) << status;
        for (int i = 0; i < files; ++i) {
            int32_t slot = file_handle_open(path(std::to_string(i)), r | w, file_deny_read | file_deny_write, 1);
            ASSERT_GE(slot, 0) << i;
            EXPECT_EQ(file_handle_lock_range(slot, 0, -1), file_ok);
            file_handle_close(slot);
        }
    }
}

// Another program's whole-file lock (fcntl, as lockf takes it) meets the marks: lumo's opens are
// refused while it is held, and it is refused while lumo has the file open.
TEST_F(FileSharing, AnotherProgramsWholeFileLockMeetsTheMarks) {
    write_file("f", "data");
    holder_process other;
    other.start([&](char c) {
        static int fd = ::open(path("f").c_str(), O_RDWR | O_CLOEXEC);
        struct flock fl = lock_request(c == 'l' ? F_WRLCK : F_UNLCK, 0, 0);
        return ::fcntl(fd, F_SETLK, &fl) == 0 ? 'y' : 'n';
    });
    ASSERT_EQ(other.ask('l'), 'y');
    EXPECT_EQ(file_handle_open(path("f"), r, 0, file_create_never), file_denied);
    ASSERT_EQ(other.ask('u'), 'y');
    int32_t slot = file_handle_open(path("f"), r, 0, file_create_never);
    ASSERT_GE(slot, 0);
    EXPECT_EQ(other.ask('l'), 'n');
    file_handle_close(slot);
    EXPECT_EQ(other.ask('l'), 'y');
    other.ask('u');
}

// The way Debian boots: no O_CREAT open of another user's file in a sticky folder. The file of
// one user, held open by it, is opened by another with a creating open.
TEST_F(FileSharing, AnotherUserOpensAHeldFileInAStickyFolder) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to act as a second user";
    // Set as Debian sets it where the test may, and put back however the test ends.
    struct sysctl_setting {
        std::string path = "/proc/sys/fs/protected_regular", before;
        sysctl_setting() {
            std::ifstream(path) >> before;
            if (!before.empty()) std::ofstream(path) << "2";
        }
        ~sysctl_setting() {
            if (!before.empty()) std::ofstream(path) << before;
        }
    } protected_regular;
    ASSERT_EQ(::chmod(dir.c_str(), 01777), 0);
    holder_process owner;
    owner.start([&](char) {
        if (!become_nobody()) return 'n';
        write_file("theirs", "theirs");
        ::chmod(path("theirs").c_str(), 0666);
        return file_handle_open(path("theirs"), r | w, 0, file_create_open) >= 0 ? 'y' : 'n';
    });
    ASSERT_EQ(owner.ask('o'), 'y');
    int32_t slot = file_handle_open(path("theirs"), r | w, 0, file_create_fallback);
    EXPECT_GE(slot, 0);
    EXPECT_EQ(file_handle_open(path("theirs"), r, file_deny_write, file_create_open), file_denied);
    file_handle_close(slot);
}

// What another user who may read the file can do with its locks is what opening it lets them
// do: hold marks and bytes. The owner's open, transfers, LOCK and CLOSE answer at once or within
// the back-off's bound; nothing hangs or fails that the rule lets through.
TEST_F(FileSharing, AStrangerHoldingEveryLockItMayTakeStallsNothing) {
    file_for_others(0644);
    int32_t mine = file_handle_open(path("f"), r | w, 0, file_create_open);
    ASSERT_GE(mine, 0);
    bool stranger = ::geteuid() == 0;
    holder_process attacker;
    attacker.start([&](char) {
        if (stranger && !become_nobody()) return 'n';
        int fd = ::open(path("f").c_str(), O_RDONLY | O_CLOEXEC);
        struct flock marks = lock_request(F_RDLCK, int64_t{1} << 62, 0);  // every mark, tentative and settled
        struct flock bytes = lock_request(F_RDLCK, 0, 10);                // and bytes 0-9
        return ::fcntl(fd, F_OFD_SETLK, &marks) == 0 && ::fcntl(fd, F_OFD_SETLK, &bytes) == 0 ? 'y' : 'n';
    });
    ASSERT_EQ(attacker.ask('a'), 'y');
    auto start = std::chrono::steady_clock::now();
    char bytes[20];
    EXPECT_EQ(file_handle_read(mine, 0, bytes, 20), file_ok);
    EXPECT_EQ(file_handle_write(mine, 0, bytes, 20), file_ok);
    EXPECT_EQ(file_handle_lock_range(mine, 10, 19), file_ok);
    EXPECT_EQ(file_handle_lock_range(mine, 0, 9), file_denied);  // the stranger holds them, as its LOCK would
    // It holds every mark, as a handle that reads and writes and denies both would.
    EXPECT_EQ(file_handle_open(path("f"), r, 0, file_create_never), file_denied);
    EXPECT_EQ(file_handle_close(mine), file_ok);
    // A few back-offs of 100 ms at most: less than a second's sleep beside them.
    auto took = std::chrono::steady_clock::now() - start;
    EXPECT_LT(took, sleep_taking(std::chrono::seconds(1)));
}

}  // namespace
