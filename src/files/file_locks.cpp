#include "files/file_locks_internal.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <string>

namespace {

// Sentinel bytes of the side file: shared locks that tell what a handle does. Every joined handle
// holds the reads or the writes byte, so those two tell whether the file is open at all.
enum : int64_t {
    sentinel_reads = 0,
    sentinel_writes = 1,
    sentinel_denies_read = 2,
    sentinel_denies_write = 3,
    sentinel_count = 4,
    sentinel_gate = 5,  // held exclusively while one opener checks and joins, or the last one leaves
    range_base = 64,
};
constexpr int64_t sentinel_access_bytes = 2;  // sentinel_reads and sentinel_writes
// User bytes beyond this share one side byte; far past any real file.
constexpr int64_t range_cap = int64_t{1} << 62;
constexpr size_t side_page = 4096;
constexpr int checks_before_mapping = 1;  // transfers that ask the kernel before the count is mapped

struct lock_folder_state {
    std::string shared_parent = "/dev/shm";
    int fd = -1;  // never closed once taken: handles opened through it name their side files by it
};
lock_folder_state lock_folder;

// The folder at path, made when missing; -1 when it cannot be had or is not to be trusted.
int folder_open(const std::string& path, bool shared) {
    bool made = ::mkdir(path.c_str(), shared ? 01777 : 0700) == 0;
    int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return -1;
    if (made && shared) ::fchmod(fd, 01777);  // past the umask: every user makes side files here
    struct stat st;
    if (::fstat(fd, &st) == 0 && lock_folder_trusted(st, ::geteuid(), shared)) return fd;
    ::close(fd);
    return -1;
}

// The shared folder, else one of this user's own (sharing then holds between this user's programs).
int folder_resolve() {
    int fd = folder_open(lock_folder.shared_parent + "/lumo-locks", true);
    if (fd >= 0) return fd;
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime && *runtime && (fd = folder_open(std::string(runtime) + "/lumo-locks", false)) >= 0) return fd;
    const char* tmp = std::getenv("TMPDIR");
    std::string parent = (tmp && *tmp) ? tmp : "/tmp";
    return folder_open(parent + "/lumo-locks-" + std::to_string(::geteuid()), false);
}

// The folder again after it was removed under the program.
int folder_renewed() {
    int fd = folder_resolve();
    if (fd >= 0) lock_folder.fd = fd;
    return fd;
}

int folder_fd() { return lock_folder.fd >= 0 ? lock_folder.fd : folder_renewed(); }

// The side file's name in the folder: the file's device and inode.
struct side_name {
    char text[48];
};
side_name side_name_of(dev_t dev, ino_t ino) {
    side_name name;
    char* end = std::to_chars(name.text, name.text + 20, static_cast<uint64_t>(dev)).ptr;
    *end++ = '-';
    end = std::to_chars(end, end + 20, static_cast<uint64_t>(ino)).ptr;
    *end = '\0';
    return name;
}

int32_t side_open_result(int err) {
    switch (err) {
    case EMFILE:
    case ENFILE: return file_fault;
    case ENOSPC:
    case EDQUOT: return file_disk_full;
    default: return file_denied;  // not allowed to join, or not a file of ours
    }
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

// Calls act(start, length) for each run of set bits of the sentinel mask (bit b: sentinel byte b).
template <class Act>
bool each_sentinel_run(uint32_t mask, Act act) {
    for (int64_t b = 0; b < sentinel_count; ++b) {
        if (!(mask >> b & 1)) continue;
        int64_t start = b;
        while (b + 1 < sentinel_count && (mask >> (b + 1) & 1)) ++b;
        if (!act(start, b - start + 1)) return false;
    }
    return true;
}

// The sentinels a handle holds, and those others must not hold for it to join.
uint32_t sentinels_held(int32_t access, int32_t deny) {
    return ((access & file_access_read) ? 1u << sentinel_reads : 0) |
           ((access & file_access_write) ? 1u << sentinel_writes : 0) |
           ((deny & file_deny_read) ? 1u << sentinel_denies_read : 0) |
           ((deny & file_deny_write) ? 1u << sentinel_denies_write : 0);
}
uint32_t sentinels_refusing(int32_t access, int32_t deny) {
    return ((access & file_access_read) ? 1u << sentinel_denies_read : 0) |
           ((access & file_access_write) ? 1u << sentinel_denies_write : 0) |
           ((deny & file_deny_read) ? 1u << sentinel_reads : 0) |
           ((deny & file_deny_write) ? 1u << sentinel_writes : 0);
}

// A trusted side file gets the bits that let the file's users join it, and the file's group when
// that group's users may open it and others may not (where this user may change them: its maker).
void side_file_fit(int fd, struct stat& side, const struct stat& real) {
    mode_t want = side_file_mode(real.st_mode);
    if ((side.st_mode & 07777) != want && ::fchmod(fd, want) == 0) side.st_mode = (side.st_mode & S_IFMT) | want;
    bool group_matters = (want & 060) >> 3 != (want & 06);
    if (group_matters && side.st_gid != real.st_gid && ::fchown(fd, static_cast<uid_t>(-1), real.st_gid) == 0)
        side.st_gid = real.st_gid;
}

// Opens the file's side file into os holding its gate: made when missing, joined when some handle
// has it, and taken again when its last holder removed it meanwhile.
int32_t side_file_take(file_os_handle& os, const struct stat& real) {
    side_name name = side_name_of(real.st_dev, real.st_ino);
    int dir = folder_fd();
    bool renewed = false;
    for (;;) {
        if (dir < 0) return file_denied;
        int fd = ::openat(dir, name.text, O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, side_file_mode(real.st_mode));
        if (fd < 0 && errno == ENOENT && !renewed) {  // the folder itself was removed
            dir = folder_renewed();
            renewed = true;
            continue;
        }
        if (fd < 0) return side_open_result(errno);
        struct stat side;
        int32_t code = ::fstat(fd, &side) == 0 ? file_ok : file_fault;
        if (code == file_ok && !side_file_trusted(side, real, ::geteuid)) code = file_denied;
        if (code == file_ok) side_file_fit(fd, side, real);
        if (code == file_ok && lock_call(fd, F_OFD_SETLKW, F_WRLCK, sentinel_gate, 1) < 0) code = file_fault;
        if (code != file_ok) {
            ::close(fd);
            return code;
        }
        struct stat named;
        bool is_named = ::fstatat(dir, name.text, &named, AT_SYMLINK_NOFOLLOW) == 0;
        int err = is_named ? 0 : errno;
        if (is_named && named.st_dev == side.st_dev && named.st_ino == side.st_ino) {
            os.lock_fd = fd;
            os.lock_dir = dir;
            os.lock_dev = real.st_dev;
            os.lock_ino = real.st_ino;
            return file_ok;
        }
        ::close(fd);
        if (err != 0 && err != ENOENT) return file_fault;
    }
}

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

// The count, mapped now when it never was (LOCK), else at the handle's second transfer: a handle
// that moves bytes once (the input open's first-byte test) asks the kernel, cheaper than a mapping.
uint32_t* lock_count_of(file_os_handle& os, bool now) {
    if (os.lock_count || os.lock_checks > checks_before_mapping) return os.lock_count;
    if (!now && os.lock_checks++ < checks_before_mapping) return nullptr;
    os.lock_checks = checks_before_mapping + 1;  // mapped or failed: never tried again
    return os.lock_count = lock_count_map(os.lock_fd);
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

mode_t side_file_mode(mode_t real_mode) {
    mode_t mode = 0;
    for (int shift : {6, 3, 0})
        if (real_mode & (mode_t{06} << shift)) mode |= mode_t{06} << shift;
    return mode;
}

bool lock_folder_trusted(const struct stat& st, uid_t me, bool shared) {
    if (!S_ISDIR(st.st_mode) || (st.st_mode & S_ISGID)) return false;
    if (!shared) return st.st_uid == me && (st.st_mode & 022) == 0;
    return st.st_uid == me || (st.st_mode & S_ISVTX);
}

bool side_file_trusted(const struct stat& side, const struct stat& real, uid_t (*me)()) {
    if (!S_ISREG(side.st_mode) || side.st_nlink > 1 || side.st_size > static_cast<off_t>(side_page)) return false;
    if (side.st_uid == real.st_uid || side.st_uid == 0) return true;
    if (real.st_mode & 06) return true;  // any user may open the file
    // Only a member of the file's group (or root) can give the side file that group.
    if (side.st_gid == real.st_gid && (real.st_mode & 060)) return true;
    return side.st_uid == me();  // asked last: the common cases need no call
}

int32_t file_locks_join(file_os_handle& os, const struct stat& st, int32_t access, int32_t deny) {
    if (int32_t code = side_file_take(os, st); code != file_ok) return code;
    int fd = os.lock_fd;
    auto free_here = [&](int64_t start, int64_t length) { return held_elsewhere(fd, start, length) != 1; };
    bool clash = !each_sentinel_run(sentinels_refusing(access, deny), free_here);
    if (clash) {
        // Another handle holds the file, so its side file stays; closing gives the gate back.
        ::close(fd);
        os.lock_fd = -1;
        return file_denied;
    }
    auto take = [&](int64_t start, int64_t length) { return lock_call(fd, F_OFD_SETLK, F_RDLCK, start, length) == 0; };
    each_sentinel_run(sentinels_held(access, deny), take);
    lock_call(fd, F_OFD_SETLK, F_UNLCK, sentinel_gate, 1);
    return file_ok;
}

void file_locks_drop(file_os_handle& os) {
    lock_count_add(os.lock_count, -static_cast<int32_t>(os.ranges.size()));
    if (os.lock_count) ::munmap(os.lock_count, side_page);
    os.lock_count = nullptr;
    os.lock_checks = 0;
    os.ranges.clear();
    if (os.lock_fd < 0) return;
    // The file's last handle, in whatever process, removes the side file; openers wait at the gate.
    if (lock_call(os.lock_fd, F_OFD_SETLKW, F_WRLCK, sentinel_gate, 1) == 0 &&
        held_elsewhere(os.lock_fd, sentinel_reads, sentinel_access_bytes) == 0)
        ::unlinkat(os.lock_dir, side_name_of(os.lock_dev, os.lock_ino).text, 0);
    ::close(os.lock_fd);  // closing the description drops all its locks
    os.lock_fd = -1;
}

bool file_locks_open_elsewhere(const struct stat& st) {
    int dir = folder_fd();
    if (dir < 0) return false;
    // No side file: no handle has the file open.
    int fd = ::openat(dir, side_name_of(st.st_dev, st.st_ino).text, O_RDWR | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return false;
    struct stat side;
    bool held = ::fstat(fd, &side) == 0 && side_file_trusted(side, st, ::geteuid) &&
                held_elsewhere(fd, sentinel_reads, sentinel_access_bytes) == 1;
    ::close(fd);
    return held;
}

int32_t file_locks_range_take(file_os_handle& os, int64_t first, int64_t last) {
    if (os.lock_fd < 0) return file_fault;
    for (const locked_range& r : os.ranges)
        if (overlaps(r, first, last)) return file_denied;
    int64_t start, length;
    side_range(first, last, start, length);
    uint32_t* count = lock_count_of(os, true);
    if (lock_call(os.lock_fd, F_OFD_SETLK, F_WRLCK, start, length) < 0)
        return (errno == EAGAIN || errno == EACCES) ? file_denied : file_fault;
    os.ranges.push_back({first, last});
    lock_count_add(count, 1);
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

int32_t file_locks_range_check(file_os_handle& os, int64_t position, int64_t count) {
    if (os.lock_fd < 0 || count <= 0) return file_ok;
    uint32_t* held = lock_count_of(os, false);
    if (held && std::atomic_ref<uint32_t>(*held).load(std::memory_order_acquire) == 0) return file_ok;
    int64_t start, length;
    side_range(position, position + (count - 1), start, length);
    return held_elsewhere(os.lock_fd, start, length) == 1 ? file_denied : file_ok;
}

std::string file_locks_folder_parent_set(const std::string& parent) {
    std::string before = lock_folder.shared_parent;
    lock_folder.shared_parent = parent;
    lock_folder.fd = -1;  // taken again at the next open; the old one stays open for its handles
    return before;
}
