// Opening, reading, writing, positioning, sizing and locking by slot. Files are read and written
// at the position the slot keeps (pread/pwrite), so no operating-system file pointer has to be
// kept in step; pipes, character devices and serial ports are read and written in sequence.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>

#include "files/file_internal.h"
#include "files/file_locks_internal.h"
#include "files/path_names.h"
#include "files/serial.h"

namespace {

constexpr int64_t transfer_chunk = 0x7ffff000;  // the most one read or write call moves

int32_t open_result_of_errno(int err, const std::string& path) {
    switch (err) {
    case ENOENT: {
        // A missing file in an existing directory, or a missing directory on the way.
        size_t slash = path.find_last_of('/');
        std::string parent = slash == std::string::npos ? "." : (slash == 0 ? "/" : path.substr(0, slash));
        struct stat st;
        return (::stat(parent.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) ? file_not_found : file_path_not_found;
    }
    case ENOTDIR:
    case ELOOP: return file_path_not_found;
    case EACCES:
    case EPERM:
    case EROFS:
    case ETXTBSY:
    case EISDIR:
    case EBUSY: return file_denied;
    case EMFILE:
    case ENFILE: return file_fault;
    case ENXIO:
    case ENODEV: return file_device_unavailable;
    case ENAMETOOLONG: return file_bad_name;
    case ENOSPC:
    case EDQUOT: return file_disk_full;
    default: return file_not_found;
    }
}

int32_t transfer_result_of_errno(int err) {
    switch (err) {
    case EACCES:
    case EPERM: return file_denied;
    case ENOSPC:
    case EDQUOT:
    case EFBIG: return file_disk_full;
    default: return file_fault;
    }
}

int access_mode(int32_t access) {
    if ((access & file_access_read) && (access & file_access_write)) return O_RDWR;
    return (access & file_access_write) ? O_WRONLY : O_RDONLY;
}

// A creating open makes the file only when it is missing, so an existing file (another user's in
// a sticky folder, say) is never opened with O_CREAT.
int open_creating_last(const std::string& path, int flags, bool create) {
    int fd = ::open(path.c_str(), flags);
    if (fd >= 0 || errno != ENOENT || !create) return fd;
    fd = ::open(path.c_str(), flags | O_CREAT | O_EXCL, 0666);
    if (fd >= 0 || errno != EEXIST) return fd;
    return ::open(path.c_str(), flags | O_CREAT, 0666);  // made meanwhile, or a link to a missing file
}

bool regular_or_missing(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 ? S_ISREG(st.st_mode) : errno == ENOENT;
}

// The descriptor of one attempt and its access mode. A regular file asked for writing only is
// opened for reading too where the user may read it: marks and the holds of transfers are shared
// locks, which only a readable description takes.
int open_descriptor(const std::string& path, int32_t access, int32_t kind, int& mode) {
    // Non-blocking only for the open: a FIFO never hangs it.
    constexpr int flags = O_CLOEXEC | O_NOCTTY | O_NONBLOCK;
    bool create = kind != file_create_never;
    mode = access_mode(access);
    if (mode == O_WRONLY && regular_or_missing(path)) {
        int fd = open_creating_last(path, flags | O_RDWR, create);
        if (fd >= 0 || errno != EACCES) return mode = O_RDWR, fd;
    }
    return open_creating_last(path, flags | mode, create);
}

// The input handles of the file identified by st forget their read-ahead blocks: the next read
// and the end test then find the file's new end instead of bytes it no longer has.
void blocks_of_file_drop(const struct stat& st) {
    for (const auto& s : file_table.slots) {
        struct stat other;
        if (s->os.ahead_length != 0 && ::fstat(s->os.fd, &other) == 0 && other.st_dev == st.st_dev &&
            other.st_ino == st.st_ino)
            s->os.ahead_length = 0;
    }
}

int32_t truncate_to_empty(int fd, const struct stat& st) {
    if (::ftruncate(fd, 0) != 0) return transfer_result_of_errno(errno);
    blocks_of_file_drop(st);
    return file_ok;
}

// One attempt at opening path into the slot's descriptor with these access bits.
int32_t open_attempt(int32_t slot, const std::string& path, int32_t access, int32_t deny, int32_t kind) {
    int mode;
    int fd = open_descriptor(path, access, kind, mode);
    if (fd < 0) return open_result_of_errno(errno, path);
    struct stat st;
    int32_t code = file_ok;
    if (::fstat(fd, &st) != 0) code = file_fault;
    else if (S_ISDIR(st.st_mode)) code = file_denied;
    // The read-only attribute: no write bits refuse writing, root included.
    else if ((access & file_access_write) && S_ISREG(st.st_mode) && (st.st_mode & 0222) == 0) code = file_denied;
    if (code != file_ok) {
        ::close(fd);
        return code;
    }
    // Blocking again where it tells (FIFOs, devices); a regular file ignores the flag. The open set
    // no other flag that F_SETFL changes.
    if (!S_ISREG(st.st_mode)) ::fcntl(fd, F_SETFL, 0);
    file_os_handle& os = file_os_of(slot);
    os.fd = fd;
    os.fd_reads = mode != O_WRONLY;
    os.fd_writes = mode != O_RDONLY;
    os.seekable = S_ISREG(st.st_mode) || S_ISBLK(st.st_mode);
    // Opens of existing files only are OPEN FOR INPUT, which reads the first byte next, and
    // whole-file reads.
    if (S_ISREG(st.st_mode)) code = file_locks_join(os, access, deny, kind == file_create_never);
    // Truncation only once the sharing allows it: a holder that denies writing keeps its bytes.
    if (code == file_ok && kind == file_create_truncate && S_ISREG(st.st_mode) && st.st_size != 0)
        code = truncate_to_empty(fd, st);
    if (code != file_ok) {
        file_locks_drop(os);
        ::close(fd);
        os.fd = -1;
    }
    return code;
}

// An existing file is opened as named, and the names of its folders searched for another case
// only when that finds nothing. An open that may create searches first: it would otherwise make a
// file beside the one whose name differs in case.
int32_t open_attempt_matching_case(int32_t slot, std::string& path, int32_t access, int32_t deny, int32_t kind) {
    if (kind != file_create_never) file_name_match_case(path);
    int32_t code = open_attempt(slot, path, access, deny, kind);
    if (kind != file_create_never || (code != file_not_found && code != file_path_not_found)) return code;
    std::string named = path;
    file_name_match_case(path);
    return path == named ? code : open_attempt(slot, path, access, deny, kind);
}

int32_t open_serial(int32_t slot, int32_t access) {
    int fd = com_open(file_handle_record_of(slot).com, access);
    if (fd < 0) return fd;
    file_os_of(slot).fd = fd;
    return file_ok;
}

// The slot's record after the checks every by-slot transfer shares; null with the code set.
file_handle_record* transfer_slot(int32_t slot, int64_t offset, int64_t count, bool write, int32_t& code) {
    if (!file_handle_valid(slot)) return code = file_bad_slot, nullptr;
    file_handle_record& r = file_handle_record_of(slot);
    if (!(write ? r.can_write : r.can_read)) return code = file_no_access, nullptr;
    if (count < 0) return code = file_bad_argument, nullptr;
    if (offset != -1 && (code = file_handle_seek(slot, offset)) != file_ok) return nullptr;
    if (count > INT64_MAX - r.position) return code = file_bad_argument, nullptr;
    return &r;
}

// Moves up to count bytes and answers how many moved; code tells why fewer moved (file_ok at the
// end of a file or a port's time-out). Short transfers of pipes and signals are continued.
int64_t transfer(const file_handle_record& r, const file_os_handle& os, uint8_t* data, int64_t count, bool write,
                 int32_t& code) {
    code = file_ok;
    if (r.com.com_port != 0) {
        int64_t n = write ? com_write(os.fd, data, count, r.com.com_cs_ms) : com_read(os.fd, data, count, r.com.com_ds_ms);
        if (n < 0) return code = static_cast<int32_t>(n), 0;
        return n;
    }
    int64_t done = 0;
    while (done < count) {
        auto chunk = static_cast<size_t>(std::min(count - done, transfer_chunk));
        off_t at = r.position + done;
        ssize_t n;
        if (os.seekable) n = write ? ::pwrite(os.fd, data + done, chunk, at) : ::pread(os.fd, data + done, chunk, at);
        else n = write ? ::write(os.fd, data + done, chunk) : ::read(os.fd, data + done, chunk);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return code = transfer_result_of_errno(errno), done;
        if (n == 0) break;
        done += n;
    }
    if (!write) file_table.bytes_read_total += done;
    return done;
}

// The bytes of the next block that are held for its read: the whole block, else as far as the
// file has them, so a LOCK of bytes past its end leaves reading alone; -1 with the code set when
// another handle has locked bytes of the file that the block would read.
int64_t block_hold(const file_handle_record& r, file_os_handle& os, int32_t& code) {
    int64_t want = std::min<int64_t>(file_read_ahead_size, INT64_MAX - r.position);
    if ((code = file_locks_transfer_hold(os, r.position, want)) != file_denied) return code == file_ok ? want : -1;
    struct stat st;
    if (::fstat(os.fd, &st) != 0 || st.st_size >= r.position + want) return -1;
    int64_t held = std::max<int64_t>(st.st_size - r.position, 0);
    return (code = file_locks_transfer_hold(os, r.position, held)) == file_ok ? held : -1;
}

// Input files: the next block at the kept position into the read-ahead buffer; false at the end
// of the file or on an error (code says which). Only bytes held are read.
[[gnu::noinline]] bool read_ahead_fill(file_handle_record& r, file_os_handle& os, int32_t& code) {
    os.ahead.resize(file_read_ahead_size);  // taken once: the room stays while the slot is open
    int64_t done = 0;
    if (int64_t held = block_hold(r, os, code); held > 0) {
        done = transfer(r, os, os.ahead.data(), held, false, code);
        file_locks_transfer_release(os);
    }
    os.ahead_length = code == file_ok ? done : 0;
    os.ahead_start = r.position;
    return code == file_ok && done > 0;
}

// The kept position's index in the read-ahead buffer, refilled first when the position lies outside
// it; -1 at the end of the file or on an error (code says which).
int64_t ahead_index(file_handle_record& r, file_os_handle& os, int32_t& code) {
    code = file_ok;
    if (file_block_holds(os, r.position)) return r.position - os.ahead_start;
    return read_ahead_fill(r, os, code) ? 0 : -1;
}

// The slot whose read-ahead block holds its kept position, else null.
file_slot* slot_in_block(int32_t slot) {
    if (!file_slot_in_table(slot)) return nullptr;
    file_slot& s = file_slot_of(slot);
    return file_block_holds_position(s) ? &s : nullptr;
}

file_bytes_view view_at_position(const file_slot& s) {
    int64_t at = s.record.position - s.os.ahead_start;
    return {s.os.ahead.data() + at, s.os.ahead_length - at};
}

// The block view's slow way: a slot that is not read ahead, or the block refilled.
[[gnu::noinline]] file_bytes_view view_refilled(int32_t slot) {
    file_slot* s = file_slot_open(slot);
    if (!s) return {nullptr, 0};
    file_handle_record& r = s->record;
    file_os_handle& os = s->os;
    if (r.mode != file_mode_input || !os.seekable || !r.can_read || os.pushback >= 0) return {nullptr, 0};
    int32_t code;
    if (ahead_index(r, os, code) < 0) return {nullptr, 0};  // the byte reader answers the end or error
    return view_at_position(*s);
}

// The end test's slow way: a port, or a file whose block does not hold the position.
[[gnu::noinline]] int32_t at_end_outside_block(int32_t slot) {
    file_slot* s = file_slot_open(slot);
    if (!s) return file_bad_slot;
    // A port is at its end while nothing waits to be read.
    if (s->record.com.com_port != 0) return file_handle_bytes_waiting(slot) == 0 ? 1 : 0;
    return s->record.position >= file_handle_size(slot) ? 1 : 0;
}

// The byte reader's slow way: no open slot, a read straight from the descriptor, a stepped-back
// byte, or the block refilled.
[[gnu::noinline]] int32_t byte_outside_block(int32_t slot) {
    file_slot* s = file_slot_open(slot);
    if (!s) return file_bad_slot;
    file_handle_record& r = s->record;
    file_os_handle& os = s->os;
    bool buffered = r.mode == file_mode_input && os.seekable;
    if (!r.can_read || (os.pushback < 0 && !buffered)) {
        uint8_t byte = 0;
        int32_t code = file_handle_read(slot, -1, &byte, 1);
        return code == file_ok ? byte : code;
    }
    file_table.last_read_count = 0;
    int32_t byte = os.pushback;
    os.pushback = -1;
    if (byte < 0) {
        int32_t code;
        int64_t at = ahead_index(r, os, code);
        if (at < 0) {
            if (code != file_ok) return code;
            r.eof_flag = 1;
            return file_at_end;
        }
        byte = os.ahead[static_cast<size_t>(at)];
    }
    return file_byte_taken(r, byte);
}

int32_t range_arguments(int64_t& first, int64_t last) {
    if (first == -1) first = 0;
    if (first < 0 || last < -1 || (last != -1 && last < first)) return file_bad_argument;
    return file_ok;
}

}  // namespace

int32_t file_handle_open(std::string_view name, int32_t access, int32_t deny, int32_t kind) {
    int32_t slot = file_handle_alloc();
    file_handle_record& r = file_handle_record_of(slot);
    r.can_read = (access & file_access_read) ? 1 : 0;
    r.can_write = (access & file_access_write) ? 1 : 0;
    r.deny_read = (deny & file_deny_read) ? 1 : 0;
    r.deny_write = (deny & file_deny_write) ? 1 : 0;

    int32_t code = file_ok;
    std::string path;
    if (name.find('\0') != std::string_view::npos) code = file_bad_name;
    else if (int32_t com = com_spec_parse(name, r.com); com < 0) code = file_bad_name;
    else if (r.com.com_port != 0) code = open_serial(slot, access);
    else if ((code = file_name_map(name, path)) == file_ok) {
        code = open_attempt_matching_case(slot, path, access, deny, kind);
        if (code != file_ok && kind == file_create_fallback) {
            for (int32_t fallback : {int32_t{file_access_read}, int32_t{file_access_write}}) {
                code = open_attempt(slot, path, fallback, deny, kind);
                if (code == file_ok) {
                    r.can_read = fallback == file_access_read;
                    r.can_write = fallback == file_access_write;
                    break;
                }
            }
        }
    }
    r.in_use = 1;
    if (code != file_ok) {
        file_handle_release(slot);
        return code;
    }
    return slot;
}

int32_t file_handle_seek(int32_t slot, int64_t position) {
    if (!file_handle_valid(slot)) return file_bad_slot;
    if (position < 0) return file_bad_argument;
    if (!file_os_of(slot).seekable) return file_no_access;
    file_handle_record_of(slot).position = position;
    return file_ok;
}

int64_t file_handle_position(int32_t slot) {
    return file_handle_valid(slot) ? file_handle_record_of(slot).position : int64_t{file_bad_slot};
}

int32_t file_handle_write(int32_t slot, int64_t offset, const void* buffer, int64_t count) {
    int32_t code;
    file_handle_record* r = transfer_slot(slot, offset, count, true, code);
    if (!r) return code;
    file_os_handle& os = file_os_of(slot);
    if ((code = file_locks_transfer_hold(os, r->position, count)) != file_ok) return code;
    int64_t done = transfer(*r, os, static_cast<uint8_t*>(const_cast<void*>(buffer)), count, true, code);
    file_locks_transfer_release(os);
    r->position += done;  // what was written counts, also when the rest failed
    if (code != file_ok) return code;
    return done < count ? file_short_write : file_ok;
}

int32_t file_handle_read(int32_t slot, int64_t offset, void* buffer, int64_t count) {
    file_table.last_read_count = 0;
    int32_t code;
    file_handle_record* r = transfer_slot(slot, offset, count, false, code);
    if (!r) return code;
    file_os_handle& os = file_os_of(slot);
    if ((code = file_locks_transfer_hold(os, r->position, count)) != file_ok) return code;
    auto* data = static_cast<uint8_t*>(buffer);
    int64_t done = transfer(*r, os, data, count, false, code);
    file_locks_transfer_release(os);
    r->position += done;
    file_table.last_read_count = done;
    if (code != file_ok) return code;
    if (done < count) {
        std::memset(data + done, 0, static_cast<size_t>(count - done));
        r->eof_flag = 1;
        return file_at_end;
    }
    r->eof_flag = 0;
    return file_ok;
}

int32_t file_handle_first_byte(int32_t slot) {
    file_slot* s = file_slot_open(slot);
    if (!s) return file_bad_slot;
    if (!s->os.seekable || !s->record.can_read) return file_no_access;
    if (int32_t code = file_locks_first_byte_check(s->os); code != file_ok) return code;
    uint8_t byte = 0;
    ssize_t n;
    do n = ::pread(s->os.fd, &byte, 1, 0);
    while (n < 0 && errno == EINTR);
    if (n < 0) return transfer_result_of_errno(errno);
    file_table.bytes_read_total += n;
    return n == 0 ? int32_t{file_at_end} : byte;
}

int64_t file_handle_size(int32_t slot) {
    if (!file_handle_valid(slot)) return file_bad_slot;
    if (file_handle_record_of(slot).com.com_port != 0) return file_no_access;
    struct stat st;
    return ::fstat(file_os_of(slot).fd, &st) == 0 ? st.st_size : int64_t{file_no_access};
}

int32_t file_handle_at_end(int32_t slot) {
    // Bytes still read ahead: not at the end, and no need to ask for the size.
    return slot_in_block(slot) ? 0 : at_end_outside_block(slot);
}

int32_t file_handle_eof_flag(int32_t slot) {
    return file_handle_valid(slot) ? file_handle_record_of(slot).eof_flag : int32_t{file_bad_slot};
}

int32_t file_handle_lock_range(int32_t slot, int64_t first, int64_t last) {
    if (!file_handle_valid(slot)) return file_bad_slot;
    if (int32_t code = range_arguments(first, last); code != file_ok) return code;
    return file_locks_range_take(file_os_of(slot), first, last);
}

int32_t file_handle_unlock_range(int32_t slot, int64_t first, int64_t last) {
    if (!file_handle_valid(slot)) return file_bad_slot;
    if (int32_t code = range_arguments(first, last); code != file_ok) return code;
    return file_locks_range_give(file_os_of(slot), first, last);
}

int64_t file_handle_bytes_waiting(int32_t slot) {
    if (!file_handle_valid(slot) || file_handle_record_of(slot).com.com_port == 0) return 0;
    return com_bytes_waiting(file_os_of(slot).fd);
}

int32_t file_read_whole(std::string_view name, std::string& bytes) {
    int32_t slot = file_handle_open(name, file_access_read, 0, file_create_never);
    if (slot < 0) return slot;
    int64_t size = file_handle_size(slot);
    int32_t code = size < 0 ? static_cast<int32_t>(size) : file_ok;
    if (code == file_ok) {
        bytes.resize(static_cast<size_t>(size));
        code = file_handle_read(slot, 0, bytes.data(), size);
    }
    file_handle_close(slot);
    return code;
}

int32_t file_handle_read_byte(int32_t slot) {
    file_slot* s = slot_in_block(slot);
    return s ? file_block_byte_take(*s) : byte_outside_block(slot);
}

file_bytes_view file_handle_ahead(int32_t slot) {
    file_slot* s = slot_in_block(slot);
    return s ? view_at_position(*s) : view_refilled(slot);
}

void file_handle_ahead_take(int32_t slot, int64_t n) {
    file_slot* s = file_slot_open(slot);
    if (!s || n <= 0) return;
    s->record.position += n;
    s->record.eof_flag = 0;
}

int32_t file_handle_unread_byte(int32_t slot, uint8_t byte) {
    if (!file_handle_valid(slot)) return file_bad_slot;
    file_handle_record& r = file_handle_record_of(slot);
    if (r.position < 1) return file_bad_argument;
    if (file_os_of(slot).seekable) return file_handle_seek(slot, r.position - 1);
    file_os_of(slot).pushback = byte;
    --r.position;
    return file_ok;
}

int64_t file_handle_bytes_read_total() { return file_table.bytes_read_total; }
