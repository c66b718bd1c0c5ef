#include "files/file_locks_internal.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <atomic>
#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <string>

namespace {

// Sentinel bytes of the side file: shared locks that tell what a handle does.
enum : int64_t {
    sentinel_reads = 0,
    sentinel_writes = 1,
    sentinel_denies_read = 2,
    sentinel_denies_write = 3,
    sentinel_open = 4,
    sentinel_gate = 5,  // held exclusively while one opener checks and joins
    range_base = 64,
};
// User bytes beyond this share one side byte; far past any real file.
constexpr int64_t range_cap = int64_t{1} << 62;
constexpr size_t side_page = 4096;

std::string side_directory() {
    const char* tmp = std::getenv("TMPDIR");
    std::string dir = (tmp && *tmp) ? tmp : "/tmp";
    return dir + "/lumo-locks";
}

int side_file_open(const struct stat& st) {
    std::string dir = side_directory();
    if (::mkdir(dir.c_str(), 0777) == 0) ::chmod(dir.c_str(), 01777);
    std::string path = dir + "/" + std::to_string(st.st_dev) + "-" + std::to_string(st.st_ino);
    return ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
}

int lock_call(int fd, int command, short type, int64_t start, int64_t length) {
    struct flock fl{};
    fl.l_type = type;
    fl.l_whence = SEEK_SET;
    fl.l_start = start;
    fl.l_len = length;
    int r;
    do r = ::fcntl(fd, command, &fl);
    while (r < 0 && errno == EINTR);
    if (r < 0) return -1;
    return command == F_OFD_GETLK ? (fl.l_type == F_UNLCK ? 0 : 1) : 0;
}

// 1 when another open file description holds a lock that clashes with an exclusive one here.
int held_elsewhere(int fd, int64_t start, int64_t length) { return lock_call(fd, F_OFD_GETLK, F_WRLCK, start, length); }

// Side start and length of bytes first..last (last -1: to the end); length 0 means to the end.
void side_range(int64_t first, int64_t last, int64_t& start, int64_t& length) {
    int64_t f = std::min(first, range_cap);
    start = range_base + f;
    length = last < 0 ? 0 : std::min(last, range_cap) - f + 1;
}

// The shared count of range locks: the side file's first word, mapped; null when it cannot be.
uint32_t* lock_count_map(int fd) {
    struct stat st;
    if (::fstat(fd, &st) != 0) return nullptr;
    if (st.st_size < static_cast<off_t>(side_page) && ::ftruncate(fd, side_page) != 0) return nullptr;
    void* p = ::mmap(nullptr, side_page, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    return p == MAP_FAILED ? nullptr : static_cast<uint32_t*>(p);
}

void lock_count_add(uint32_t* count, int32_t delta) {
    if (count) std::atomic_ref<uint32_t>(*count).fetch_add(static_cast<uint32_t>(delta));
}

bool overlaps(const locked_range& a, int64_t first, int64_t last) {
    bool a_before = a.last >= 0 && a.last < first;
    bool b_before = last >= 0 && last < a.first;
    return !a_before && !b_before;
}

}  // namespace

int32_t file_locks_join(file_os_handle& os, const struct stat& st, int32_t access, int32_t deny) {
    os.lock_fd = side_file_open(st);
    if (os.lock_fd < 0) return (errno == EMFILE || errno == ENFILE) ? file_fault : file_ok;
    if (lock_call(os.lock_fd, F_OFD_SETLKW, F_WRLCK, sentinel_gate, 1) < 0) return file_ok;
    bool clash = ((access & file_access_read) && held_elsewhere(os.lock_fd, sentinel_denies_read, 1) == 1) ||
                 ((access & file_access_write) && held_elsewhere(os.lock_fd, sentinel_denies_write, 1) == 1) ||
                 ((deny & file_deny_read) && held_elsewhere(os.lock_fd, sentinel_reads, 1) == 1) ||
                 ((deny & file_deny_write) && held_elsewhere(os.lock_fd, sentinel_writes, 1) == 1);
    if (!clash) {
        os.lock_count = lock_count_map(os.lock_fd);
        lock_call(os.lock_fd, F_OFD_SETLK, F_RDLCK, sentinel_open, 1);
        if (access & file_access_read) lock_call(os.lock_fd, F_OFD_SETLK, F_RDLCK, sentinel_reads, 1);
        if (access & file_access_write) lock_call(os.lock_fd, F_OFD_SETLK, F_RDLCK, sentinel_writes, 1);
        if (deny & file_deny_read) lock_call(os.lock_fd, F_OFD_SETLK, F_RDLCK, sentinel_denies_read, 1);
        if (deny & file_deny_write) lock_call(os.lock_fd, F_OFD_SETLK, F_RDLCK, sentinel_denies_write, 1);
    }
    lock_call(os.lock_fd, F_OFD_SETLK, F_UNLCK, sentinel_gate, 1);
    if (!clash) return file_ok;
    file_locks_drop(os);
    return file_denied;
}

void file_locks_drop(file_os_handle& os) {
    lock_count_add(os.lock_count, -static_cast<int32_t>(os.ranges.size()));
    if (os.lock_count) ::munmap(os.lock_count, side_page);
    os.lock_count = nullptr;
    if (os.lock_fd >= 0) ::close(os.lock_fd);  // closing the description drops all its locks
    os.lock_fd = -1;
    os.ranges.clear();
}

bool file_locks_open_elsewhere(const struct stat& st) {
    int fd = side_file_open(st);
    if (fd < 0) return false;
    bool held = held_elsewhere(fd, sentinel_open, 1) == 1;
    ::close(fd);
    return held;
}

int32_t file_locks_range_take(file_os_handle& os, int64_t first, int64_t last) {
    if (os.lock_fd < 0) return file_fault;
    for (const locked_range& r : os.ranges)
        if (overlaps(r, first, last)) return file_denied;
    int64_t start, length;
    side_range(first, last, start, length);
    if (lock_call(os.lock_fd, F_OFD_SETLK, F_WRLCK, start, length) < 0)
        return (errno == EAGAIN || errno == EACCES) ? file_denied : file_fault;
    os.ranges.push_back({first, last});
    lock_count_add(os.lock_count, 1);
    return file_ok;
}

int32_t file_locks_range_give(file_os_handle& os, int64_t first, int64_t last) {
    if (os.lock_fd < 0) return file_fault;
    auto it = std::find_if(os.ranges.begin(), os.ranges.end(),
                           [&](const locked_range& r) { return r.first == first && r.last == last; });
    if (it == os.ranges.end()) return file_denied;
    int64_t start, length;
    side_range(first, last, start, length);
    if (lock_call(os.lock_fd, F_OFD_SETLK, F_UNLCK, start, length) < 0) return file_fault;
    os.ranges.erase(it);
    lock_count_add(os.lock_count, -1);
    return file_ok;
}

int32_t file_locks_range_check(const file_os_handle& os, int64_t position, int64_t count) {
    if (os.lock_fd < 0 || count <= 0) return file_ok;
    if (os.lock_count && std::atomic_ref<uint32_t>(*os.lock_count).load(std::memory_order_acquire) == 0) return file_ok;
    int64_t start, length;
    side_range(position, position + (count - 1), start, length);
    return held_elsewhere(os.lock_fd, start, length) == 1 ? file_denied : file_ok;
}
