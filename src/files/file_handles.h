// The file layer: the table of open files and serial ports, BASIC file numbers, and reading,
// writing, positioning, sizing and locking by slot. It never raises a BASIC error: every call
// answers 0, a value, or a negative file_result; the statements (files/file_open.h,
// files/random_access.h, files/sequential.h) turn results into errors. Program thread only (and
// the control thread's close of everything after the program thread has parked).
// Not here: sharing and range locks (file_locks_internal.h), path mapping (path_names.h), serial ports
// (serial.h), the statements.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

struct string_descriptor;
struct file_slot;

enum file_result : int32_t {
    file_ok = 0,
    file_short_write = -1,        // fewer bytes written than asked
    file_bad_slot = -2,           // not a valid open slot
    file_no_access = -3,          // no read or write access; seek refused; size unreadable
    file_bad_argument = -4,       // negative count or position, bad lock range
    file_not_found = -5,          // open: file not found, or a failure without a code of its own
    file_path_not_found = -6,     // open: path not found
    file_denied = -7,             // access denied, sharing or lock violation
    file_device_unavailable = -8, // drive invalid; serial port cannot be opened or configured
    file_fault = -9,              // too many open files; any other read, write or lock failure
    file_at_end = -10,            // the read delivered fewer bytes than asked
    file_bad_name = -11,          // a NUL in the name, or a bad serial device text
    file_disk_full = -12,         // the device or a size limit refused more bytes
};

// Access and deny bits of file_handle_open.
enum : int32_t { file_access_read = 1, file_access_write = 2 };
enum : int32_t { file_deny_read = 1, file_deny_write = 2 };
// Creation kinds: existing only; open or create; open or create, then truncate; open or create
// with read and write access, falling back to read only, then write only.
enum : int32_t { file_create_never = 0, file_create_open = 1, file_create_truncate = 2, file_create_fallback = 3 };
// The modes the open statement keeps.
enum : uint8_t { file_mode_random = 1, file_mode_binary = 2, file_mode_input = 3, file_mode_output = 4 };

// Serial-port settings of a slot (files/serial.h); com_port 0 for a file.
struct com_settings {
    uint8_t com_port;
    int32_t com_baud;
    uint8_t com_parity;     // com_parity_* of serial.h
    uint8_t com_data_bits;  // 5-8
    uint8_t com_stop_bits;  // times ten: 10, 15, 20
    uint8_t com_asc;
    uint8_t com_lf;
    uint8_t com_rs;
    int32_t com_cd_ms;
    int32_t com_cs_ms;  // write time-out
    int32_t com_ds_ms;  // read time-out
    int32_t com_op_ms;
};

struct file_handle_record {
    uint64_t serial;
    uint8_t in_use;
    uint8_t can_read;
    uint8_t can_write;
    uint8_t deny_read;
    uint8_t deny_write;
    int64_t position;
    uint8_t eof_flag;
    int32_t file_number;
    uint8_t mode;
    int64_t record_length;
    uint8_t* record_buffer;
    string_descriptor** field_list;
    int32_t field_count;
    int64_t print_column;
    com_settings com;
};

extern uint64_t file_handle_serial;

// The records by slot, kept in step with the table; a record stays where it is while the table
// grows.
extern file_handle_record* const* file_handle_records;
inline file_handle_record& file_handle_record_of(int32_t slot) { return *file_handle_records[slot]; }
int32_t file_handle_slot_count();

int32_t file_handle_alloc();
int32_t file_handle_valid(int32_t slot);
int32_t file_handle_release(int32_t slot);
// Releases the slot, frees its buffers and closes the descriptor; file_fault when closing failed
// (the kernel may have lost written data).
int32_t file_handle_close(int32_t slot);

int32_t file_number_state(int32_t n);
int32_t file_number_first_free();
void file_number_bind(int32_t n, int32_t slot);
void file_number_unbind(int32_t n);
// The number asked last and its slot (-1 when free): the statements of a loop over a file ask
// for one number again and again. Binding and unbinding forget it.
struct file_number_memo {
    int32_t number;
    int32_t slot;
    file_slot* data;  // the slot's record and block; for a free number a slot never read ahead
};
extern file_number_memo file_number_last;
int32_t file_number_slot_lookup(int32_t n);
// The slot bound to n, or -1.
inline int32_t file_number_slot(int32_t n) {
    return n == file_number_last.number ? file_number_last.slot : file_number_slot_lookup(n);
}
// The lowest bound file number, 0 when none is bound.
int32_t file_number_lowest_bound();
// The highest file number ever asked about.
int32_t file_number_map_size();

int32_t file_handle_open(std::string_view name, int32_t access, int32_t deny, int32_t kind);
int32_t file_handle_seek(int32_t slot, int64_t position);
int64_t file_handle_position(int32_t slot);
int32_t file_handle_write(int32_t slot, int64_t offset, const void* buffer, int64_t count);
int32_t file_handle_read(int32_t slot, int64_t offset, void* buffer, int64_t count);
int64_t file_handle_last_read_count();
// The first byte of a file, looked at without moving the position: the byte, file_at_end when the
// file is empty, file_no_access where bytes cannot be read in place (a port, a pipe), file_denied
// when another handle has locked it. The input open's end-marker test; it holds nothing.
int32_t file_handle_first_byte(int32_t slot);
int64_t file_handle_size(int32_t slot);
int32_t file_handle_at_end(int32_t slot);
int32_t file_handle_eof_flag(int32_t slot);
int32_t file_handle_lock_range(int32_t slot, int64_t first, int64_t last);
int32_t file_handle_unlock_range(int32_t slot, int64_t first, int64_t last);
// One byte at the kept position, as a one-byte file_handle_read would answer it (0-255, or a
// negative result). Input files are read ahead in blocks of file_read_ahead_size bytes, each read
// at the first position that falls outside the block before: bytes that other handles write later
// into a block already read are not seen.
constexpr int64_t file_read_ahead_size = 65536;
int32_t file_handle_read_byte(int32_t slot);
// Input files: the bytes read ahead from the kept position on, the block refilled when it is used
// up; empty at the end of the file, on an error, or for a slot that is not read ahead.
struct file_bytes_view {
    const uint8_t* data;
    int64_t length;
};
file_bytes_view file_handle_ahead(int32_t slot);
// Takes n bytes of that view: the position moves on as if they had been read one by one.
void file_handle_ahead_take(int32_t slot, int64_t n);
// Steps back over the byte just read (a device that cannot seek keeps it for the next read).
int32_t file_handle_unread_byte(int32_t slot, uint8_t byte);
// Every byte read from the operating system so far (tests count rereads with it).
int64_t file_handle_bytes_read_total();
// Bytes waiting in a serial port's input queue; 0 for a file or when it cannot be read.
int64_t file_handle_bytes_waiting(int32_t slot);

// A whole file read through the layer (fonts): file_ok, or the result that stopped it.
int32_t file_read_whole(std::string_view name, std::string& bytes);

// The BASIC error of a read, write or seek result (any negative code).
int32_t file_error_of_result(int32_t code);
// The BASIC error of an open result.
int32_t file_open_error_of_result(int32_t code);

// Tests: closes every slot and forgets the table and the file numbers.
void file_handles_reset();
