// The file layer's own files only: the operating-system side of a slot and the table that holds
// the slots. file_table.cpp owns the state; file_io.cpp, file_locks.cpp and serial.cpp work on the
// slot they are handed; the byte statements take bytes of a read-ahead block here on their fast way.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <memory>
#include <map>
#include <vector>

#include "files/file_handles.h"

// A byte range a slot has locked: first and last byte, last -1 for "to the end and beyond".
struct locked_range {
    int64_t first;
    int64_t last;
};

// A half-open span of lock offsets.
struct lock_span {
    int64_t start, end;
};

struct file_os_handle {
    int fd = -1;
    bool fd_reads = false;   // fd takes shared locks (open for reading)
    bool fd_writes = false;  // fd takes exclusive locks (open for writing)
    bool shared = false;     // joined the file's sharing (file_locks_internal.h): regular files
    int peer_fd = -1;        // the file open for writing, for a read-only handle's LOCK; -1 when none
    bool peer_tried = false;
    bool first_byte_free = false;  // the join found no other handle's lock on byte 0; told once
    bool seekable = false;     // transfers at the kept position (regular files, block devices)
    std::vector<locked_range> ranges;
    std::vector<lock_span> holds;    // what the transfer under way holds
    int32_t pushback = -1;           // a byte stepped back on a device that cannot seek
    std::vector<uint8_t> ahead;      // input files: room for a block, taken at the first read
    int64_t ahead_length = 0;        // the bytes of the room read ahead, from file offset ahead_start
    int64_t ahead_start = 0;
};

struct file_slot {
    file_handle_record record;
    file_os_handle os;
};

struct file_table_state {
    std::vector<std::unique_ptr<file_slot>> slots;  // growth never moves a slot
    std::vector<file_handle_record*> records;       // each slot's record, for file_handle_records
    std::vector<int32_t> free_stack;
    std::map<int32_t, int32_t> numbers;  // bound file numbers only: number -> slot
    int32_t number_map_size = 0;         // the highest number ever asked about
    int64_t last_read_count = 0;
    int64_t bytes_read_total = 0;  // every byte delivered by the operating system, for tests
};
extern file_table_state file_table;

// Whether the table has the slot, open or not (one unsigned test refuses negative numbers too).
inline bool file_slot_in_table(int32_t slot) { return static_cast<uint32_t>(slot) < file_table.slots.size(); }
inline file_slot& file_slot_of(int32_t slot) { return *file_table.slots[static_cast<size_t>(slot)]; }
inline file_os_handle& file_os_of(int32_t slot) { return file_slot_of(slot).os; }
// The slot when it is open, else null: the check of file_handle_valid where a byte's cost counts.
inline file_slot* file_slot_open(int32_t slot) {
    return file_slot_in_table(slot) && file_slot_of(slot).record.in_use ? &file_slot_of(slot) : nullptr;
}

// Whether the read-ahead block holds a file position. Positions are never negative: one unsigned
// test is both bounds.
inline bool file_block_holds(const file_os_handle& os, int64_t position) {
    return static_cast<uint64_t>(position - os.ahead_start) < static_cast<uint64_t>(os.ahead_length);
}
// Whether the slot's read-ahead block holds its kept position. Only an open, readable input file
// has a block (releasing the slot empties it), and a file never keeps a stepped-back byte: such a
// slot needs no other check.
inline bool file_block_holds_position(const file_slot& s) { return file_block_holds(s.os, s.record.position); }
// The slot of file number n when n is the number asked last and the slot's block holds its kept
// position, else null: the common way of a loop over one file, a few loads and no lookup.
inline file_slot* file_number_in_block(int32_t n) {
    if (n != file_number_last.number) return nullptr;
    file_slot* s = file_number_last.data;
    return file_block_holds_position(*s) ? s : nullptr;
}
// The byte at the kept position of a slot whose block holds it.
inline uint8_t file_block_byte(const file_slot& s) {
    return s.os.ahead[static_cast<size_t>(s.record.position - s.os.ahead_start)];
}
// A byte delivered at the kept position: the position moves on past it.
inline int32_t file_byte_taken(file_handle_record& r, uint8_t byte) {
    ++r.position;
    r.eof_flag = 0;
    file_table.last_read_count = 1;
    return byte;
}
// The byte at the kept position of a slot whose block holds it, taken.
inline int32_t file_block_byte_take(file_slot& s) { return file_byte_taken(s.record, file_block_byte(s)); }
