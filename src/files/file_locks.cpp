#include "files/file_locks_internal.h"

#include <fcntl.h>
#include <sched.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <string>
#include <utility>

namespace {

constexpr int64_t marks_start = int64_t{1} << 62;  // far past any real file; locked bytes stay below

// Each mark's tentative and settled offset from the marks' start, laid out so that the marks an
// open commonly takes, and those it looks for, lie next to each other: one call a run.
constexpr int mark_kinds = 4, mark_offsets = 8;
constexpr int tentative_offset[mark_kinds] = {0, 1, 5, 7};  // reads, writes, denies read, denies write
constexpr int settled_offset[mark_kinds] = {2, 3, 4, 6};

// How long an opener keeps trying while other openers are between their steps, and a LOCK waits
// for transfers under way: a bound, so no other user can stall an open or a LOCK.
constexpr auto retry_limit = std::chrono::milliseconds(100);
constexpr int retry_quick_tries = 16;  // what stands in the way is over within microseconds
constexpr auto retry_first_pause = std::chrono::microseconds(20);
constexpr auto retry_longest_pause = std::chrono::milliseconds(2);

struct flock lock_request(short type, lock_span span) {
    struct flock fl{};
    fl.l_type = type;
    fl.l_whence = SEEK_SET;
    fl.l_start = span.start;
    fl.l_len = span.end - span.start;
    return fl;
}

// 0, or the errno of the refusal.
int set_lock(int fd, short type, lock_span span) {
    struct flock fl = lock_request(type, span);
    int r;
    do r = ::fcntl(fd, F_OFD_SETLK, &fl);
    while (r < 0 && errno == EINTR);
    return r == 0 ? 0 : errno;
}

// The type of a lock another description holds that clashes with one of type over span: F_UNLCK
// for none, -1 when the kernel does not say.
int clashing_lock(int fd, short type, lock_span span) {
    struct flock fl = lock_request(type, span);
    return ::fcntl(fd, F_OFD_GETLK, &fl) == 0 ? fl.l_type : -1;
}

int32_t refusal_result(int err) { return (err == EAGAIN || err == EACCES) ? file_denied : file_fault; }

// A file system that keeps no record locks (an NFS mount without its lock service, some FUSE
// ones): its files are opened unshared, as the runtime cannot share them.
constexpr int32_t marks_unkept = 1;
bool locks_unkept(int err) { return err == ENOLCK || err == EINVAL || err == EOPNOTSUPP || err == ENOSYS; }

// Backing off between tries: a few at once, then pauses that double, from a random start, up to
// the limit.
struct retry_state {
    std::chrono::steady_clock::time_point until = std::chrono::steady_clock::now() + retry_limit;
    int quick = retry_quick_tries;
    std::chrono::nanoseconds pause = retry_first_pause;
};
struct retry_seed_state {
    pid_t pid = 0;  // a forked child seeds its own
    uint64_t word = 0;
};
retry_seed_state retry_seed;

uint64_t retry_random() {
    if (retry_seed.pid != ::getpid()) {
        retry_seed.pid = ::getpid();
        auto now = static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
        retry_seed.word = (static_cast<uint64_t>(retry_seed.pid) * 0x9e3779b97f4a7c15u ^ now) | 1;
    }
    uint64_t& x = retry_seed.word;
    x ^= x << 13, x ^= x >> 7, x ^= x << 17;
    return x;
}

// False once the limit has passed; else gives way to other threads or sleeps for a jittered pause.
bool retry_wait(retry_state& r) {
    if (r.quick > 0) {
        --r.quick;
        return ::sched_yield(), true;
    }
    if (std::chrono::steady_clock::now() >= r.until) return false;
    auto ns = r.pause.count() / 2 + static_cast<int64_t>(retry_random() % static_cast<uint64_t>(r.pause.count()));
    struct timespec t{ns / 1000000000, ns % 1000000000};
    while (::nanosleep(&t, &t) != 0 && errno == EINTR) {
    }
    r.pause = std::min<std::chrono::nanoseconds>(r.pause * 2, retry_longest_pause);
    return true;
}

enum mark_side : uint32_t { side_tentative = 1, side_settled = 2, side_both = 3 };

// The offsets of the marks of a mask, on the sides asked, as bits.
uint32_t mark_offsets_of(uint32_t marks, uint32_t sides) {
    uint32_t offsets = 0;
    for (int k = 0; k < mark_kinds; ++k) {
        if (!(marks >> k & 1)) continue;
        if (sides & side_tentative) offsets |= 1u << tentative_offset[k];
        if (sides & side_settled) offsets |= 1u << settled_offset[k];
    }
    return offsets;
}

// Calls act(span) for each run of those offsets; false as soon as one does.
template <class Act>
bool each_mark_run(uint32_t marks, uint32_t sides, Act act) {
    uint32_t offsets = mark_offsets_of(marks, sides);
    for (int b = 0; b < mark_offsets; ++b) {
        if (!(offsets >> b & 1)) continue;
        int first = b;
        while (b + 1 < mark_offsets && (offsets >> (b + 1) & 1)) ++b;
        if (!act(lock_span{marks_start + first, marks_start + b + 1})) return false;
    }
    return true;
}

// A description open for reading marks with shared locks; one that may only write, exclusive ones.
short mark_type(const file_os_handle& os) { return os.fd_reads ? F_RDLCK : F_WRLCK; }

void marks_clear(const file_os_handle& os, uint32_t marks, uint32_t sides) {
    each_mark_run(marks, sides, [&](lock_span s) { return set_lock(os.fd, F_UNLCK, s), true; });
}

// Sets the marks on the sides asked; on a refusal none of them stays.
int32_t marks_set(const file_os_handle& os, uint32_t marks, uint32_t sides) {
    int err = 0;
    each_mark_run(marks, sides, [&](lock_span s) { return (err = set_lock(os.fd, mark_type(os), s)) == 0; });
    if (err != 0) marks_clear(os, marks, sides);
    return err == 0 ? file_ok : locks_unkept(err) ? marks_unkept : refusal_result(err);
}

// file_ok when no description but fd's holds one of the marks on the sides asked.
int32_t marks_absent(int fd, uint32_t marks, uint32_t sides) {
    int32_t code = file_ok;
    each_mark_run(marks, sides, [&](lock_span s) {
        int type = clashing_lock(fd, F_WRLCK, s);
        code = type == F_UNLCK ? file_ok : type < 0 ? file_fault : file_denied;
        return code == file_ok;
    });
    return code;
}

// Where the offsets of every mark of a mask end.
int64_t marks_end(uint32_t marks) { return marks_start + std::bit_width(mark_offsets_of(marks, side_both)); }

// file_ok when no description but the slot's holds a refusing mark. An open that reads its first
// byte next looks from that byte through the marks at once, for a lock of any type: finding none
// answers both. A look tells of one lock only, so when it finds any, the marks are looked for run
// by run and the byte is left to its own look.
int32_t refusing_marks_absent(file_os_handle& os, uint32_t refusing, bool first_byte_next) {
    os.first_byte_free = first_byte_next && clashing_lock(os.fd, F_WRLCK, {0, marks_end(refusing)}) == F_UNLCK;
    return os.first_byte_free ? file_ok : marks_absent(os.fd, refusing, side_both);
}

// One try at joining: file_denied with settled set when a settled mark refuses the open, clear
// when only tentative ones do. A settled handle keeps its tentative marks too, so an opener that
// looks after it took them always sees one or the other.
int32_t join_try(file_os_handle& os, uint32_t held, uint32_t refusing, bool first_byte_next, bool& settled) {
    // A mark that cannot be taken is held exclusively: by a handle that may only write, or by
    // another program's lock. That does not pass.
    settled = true;
    int32_t code = marks_set(os, held, side_tentative);
    if (code != file_ok) return code;
    code = refusing_marks_absent(os, refusing, first_byte_next);
    if (code == file_ok && (code = marks_set(os, held, side_settled)) == file_ok) return file_ok;
    marks_clear(os, held, side_tentative);
    if (code != file_denied) return code;
    int32_t look = marks_absent(os.fd, refusing, side_settled);
    settled = look == file_denied;
    return look == file_fault ? look : code;
}

// The file at the descriptor opened again for writing, for exclusive range locks: the
// descriptor, -1 when the user may not write it, or file_fault when it cannot be had now.
int reopen_for_writing(int fd) {
    char name[32] = "/proc/self/fd/";
    *std::to_chars(name + 14, name + sizeof name - 1, fd).ptr = '\0';
    int peer = ::open(name, O_WRONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);  // never waits for a lease
    if (peer >= 0) return peer;
    return (errno == EACCES || errno == EPERM || errno == EROFS || errno == ETXTBSY) ? -1 : int{file_fault};
}

// The description that takes the slot's range locks, and their type: fd when it is open for
// writing, else the file opened again for writing (kept until the slot's last range goes), else
// fd with shared locks, which keep out other handles' exclusive LOCKs but neither transfers nor
// another such shared LOCK. file_fault when the file cannot be opened again now.
int range_fd(file_os_handle& os, short& type) {
    type = F_WRLCK;
    if (os.fd_writes) return os.fd;
    if (!os.peer_tried) {
        int peer = reopen_for_writing(os.fd);
        if (peer == file_fault) return file_fault;
        os.peer_fd = peer;
        os.peer_tried = true;
    }
    if (os.peer_fd >= 0) return os.peer_fd;
    type = F_RDLCK;
    return os.fd;
}

// Whether a range clashes with one of the slot's own: as the kernel sees them, so ranges past the
// marks' start, which share its last offset, overlap.
bool overlaps(const locked_range& a, lock_span b) {
    lock_span s = lock_span_of(a.first, a.last);
    return s.start < b.end && b.start < s.end;
}

// Takes the span, waiting while only shared locks stand in the way: transfers, over in moments.
int32_t range_lock(int fd, short type, lock_span span) {
    retry_state retry;
    for (;;) {
        int err = set_lock(fd, type, span);
        if (err == 0) return file_ok;
        if (refusal_result(err) != file_denied) return file_fault;
        int exclusive = type == F_WRLCK ? clashing_lock(fd, F_RDLCK, span) : F_WRLCK;
        if (exclusive < 0) return file_fault;
        if (exclusive != F_UNLCK || !retry_wait(retry)) return file_denied;
    }
}

}  // namespace

uint32_t marks_held(int32_t access, int32_t deny) {
    return ((access & file_access_read) ? mark_reads_bit : 0) | ((access & file_access_write) ? mark_writes_bit : 0) |
           ((deny & file_deny_read) ? mark_denies_read_bit : 0) | ((deny & file_deny_write) ? mark_denies_write_bit : 0);
}

uint32_t marks_refusing(int32_t access, int32_t deny) {
    return ((access & file_access_read) ? mark_denies_read_bit : 0) |
           ((access & file_access_write) ? mark_denies_write_bit : 0) | ((deny & file_deny_read) ? mark_reads_bit : 0) |
           ((deny & file_deny_write) ? mark_writes_bit : 0);
}

lock_span lock_span_of(int64_t first, int64_t last) {
    int64_t start = std::min(first, marks_start - 1);
    int64_t end = last < 0 ? marks_start : std::min(last, marks_start - 1) + 1;
    return {start, end};
}

void spans_uncovered(lock_span span, const std::vector<locked_range>& own, std::vector<lock_span>& out) {
    int64_t from = span.start;
    for (const locked_range& r : own) {
        lock_span o = lock_span_of(r.first, r.last);
        if (o.start >= span.end) break;
        if (o.start > from) out.push_back({from, o.start});
        from = std::max(from, o.end);
    }
    if (from < span.end) out.push_back({from, span.end});
}

int32_t file_locks_join(file_os_handle& os, int32_t access, int32_t deny, bool first_byte_next) {
    os.shared = true;
    const uint32_t held = marks_held(access, deny), refusing = marks_refusing(access, deny);
    retry_state retry;
    bool settled;
    int32_t code;
    // Only openers between their steps stand in the way: back off until they are through.
    while ((code = join_try(os, held, refusing, first_byte_next, settled)) == file_denied && !settled &&
           retry_wait(retry)) {
    }
    if (code == marks_unkept) os.shared = false;
    return code == marks_unkept ? file_ok : code;
}

void file_locks_drop(file_os_handle& os) {
    if (os.peer_fd >= 0) ::close(os.peer_fd);  // its range locks go with it
    os.peer_fd = -1;
    os.peer_tried = false;
    os.ranges.clear();
    os.holds.clear();
    os.shared = false;
    os.first_byte_free = false;
}

bool file_locks_open_elsewhere(const std::string& path, const struct stat& st) {
    if (!S_ISREG(st.st_mode)) return false;
    // Looking needs a description of either kind: one for writing where the user may not read.
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0 && errno == EACCES) fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) return false;
    struct stat now;
    bool held = ::fstat(fd, &now) == 0 && now.st_dev == st.st_dev && now.st_ino == st.st_ino &&
                marks_absent(fd, mark_reads_bit | mark_writes_bit, side_both) == file_denied;
    ::close(fd);
    return held;
}

int32_t file_locks_range_take(file_os_handle& os, int64_t first, int64_t last) {
    if (!os.shared) return file_fault;
    lock_span span = lock_span_of(first, last);
    for (const locked_range& r : os.ranges)
        if (overlaps(r, span)) return file_denied;
    short type;
    int fd = range_fd(os, type);
    if (fd < 0) return file_fault;
    if (int32_t code = range_lock(fd, type, span); code != file_ok) return code;
    auto at = std::lower_bound(os.ranges.begin(), os.ranges.end(), first,
                               [](const locked_range& r, int64_t f) { return r.first < f; });
    os.ranges.insert(at, {first, last});
    return file_ok;
}

int32_t file_locks_range_give(file_os_handle& os, int64_t first, int64_t last) {
    if (!os.shared) return file_fault;
    auto it = std::find_if(os.ranges.begin(), os.ranges.end(),
                           [&](const locked_range& r) { return r.first == first && r.last == last; });
    if (it == os.ranges.end()) return file_denied;
    short type;
    if (set_lock(range_fd(os, type), F_UNLCK, lock_span_of(first, last)) != 0) return file_fault;
    os.ranges.erase(it);
    // The file open again for writing goes with the last range: running it, or watching it for
    // writes, sees only what the handle does.
    if (os.ranges.empty() && os.peer_fd >= 0) {
        ::close(os.peer_fd);
        os.peer_fd = -1;
        os.peer_tried = false;
    }
    return file_ok;
}

int32_t file_locks_transfer_hold(file_os_handle& os, int64_t position, int64_t count) {
    if (!os.shared || count <= 0) return file_ok;
    // A description that may only write cannot take shared locks: it looks instead.
    if (!os.fd_reads) return file_locks_range_check(os, position, count);
    lock_span span = lock_span_of(position, position + (count - 1));
    os.holds.clear();
    if (os.ranges.empty()) os.holds.push_back(span);
    else spans_uncovered(span, os.ranges, os.holds);
    for (size_t i = 0; i < os.holds.size(); ++i) {
        int err = set_lock(os.fd, F_RDLCK, os.holds[i]);
        if (err == 0) continue;
        os.holds.resize(i);
        file_locks_transfer_release(os);
        return refusal_result(err);
    }
    return file_ok;
}

void file_locks_transfer_release(file_os_handle& os) {
    for (const lock_span& s : os.holds) set_lock(os.fd, F_UNLCK, s);
    os.holds.clear();
}

int32_t file_locks_first_byte_check(file_os_handle& os) {
    if (std::exchange(os.first_byte_free, false)) return file_ok;
    return file_locks_range_check(os, 0, 1);
}

int32_t file_locks_range_check(const file_os_handle& os, int64_t position, int64_t count) {
    if (!os.shared || count <= 0) return file_ok;
    int type = clashing_lock(os.fd, F_RDLCK, lock_span_of(position, position + (count - 1)));
    return type == F_UNLCK ? file_ok : type < 0 ? file_fault : file_denied;
}
