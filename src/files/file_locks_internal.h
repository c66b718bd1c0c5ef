// Sharing and byte-range locks between every handle of a regular file, in this process and
// others, held by the kernel on the file itself as open-file-description locks: they clash between
// two handles of one process, stop root too, vanish with their holder, and only a user who may
// open the file can take any. Nothing else is kept anywhere.
// Share marks are one-byte locks far beyond any real file (from 2^62): a handle holds a mark for
// what it reads, writes and denies. An opener takes its marks as tentative ones, looks for the
// marks that refuse it, and only then takes them as settled: a settled mark that refuses it ends
// the open, a tentative one (another opener between its steps) makes it back off and try again.
// A LOCK range is an exclusive lock on the bytes themselves, and every transfer holds a shared
// lock on its bytes while it moves them, so a LOCK never meets a transfer half done.
// Not here: opening the file itself (file_io.cpp).
#pragma once

#include <sys/stat.h>

#include <cstdint>
#include <string>
#include <vector>

#include "files/file_internal.h"

// Joins the file's sharing with fd (a regular file): file_denied when another handle denies what
// this one asks or holds what this one denies; file_fault when the kernel refuses the locks. An
// open that reads its first byte next has the join look for another handle's LOCK of it too.
int32_t file_locks_join(file_os_handle& os, int32_t access, int32_t deny, bool first_byte_next);
// Gives up the slot's range locks; closing the slot's descriptor then drops its marks.
void file_locks_drop(file_os_handle& os);
// Another handle holds the regular file at path (st) open.
bool file_locks_open_elsewhere(const std::string& path, const struct stat& st);

// Locks or unlocks bytes first..last (last -1: to the end and beyond): file_denied on a clash,
// on an overlap with the slot's own locks, or when unlocking a range not locked exactly so.
int32_t file_locks_range_take(file_os_handle& os, int64_t first, int64_t last);
int32_t file_locks_range_give(file_os_handle& os, int64_t first, int64_t last);
// Holds count bytes from position against other handles' LOCKs while one transfer moves them:
// file_denied when another handle has locked any of them. Every hold is released before the next.
int32_t file_locks_transfer_hold(file_os_handle& os, int64_t position, int64_t count);
void file_locks_transfer_release(file_os_handle& os);
// file_denied when another handle has locked the first byte: the join's answer, once, where it
// found that no other handle locks it, else a look now. Holds nothing.
int32_t file_locks_first_byte_check(file_os_handle& os);
// file_denied when another handle has locked any of count bytes from position; holds nothing.
int32_t file_locks_range_check(const file_os_handle& os, int64_t position, int64_t count);

// The decisions, for tests. Marks are bits: those a handle holds, and those another handle must
// not hold for it to open.
constexpr uint32_t mark_reads_bit = 1u << 0;
constexpr uint32_t mark_writes_bit = 1u << 1;
constexpr uint32_t mark_denies_read_bit = 1u << 2;
constexpr uint32_t mark_denies_write_bit = 1u << 3;
uint32_t marks_held(int32_t access, int32_t deny);
uint32_t marks_refusing(int32_t access, int32_t deny);
// The parts of a transfer's span that the slot's own ranges (in order of their first bytes) do
// not cover, in order: a hold never takes bytes the slot's LOCK holds, which would weaken it.
void spans_uncovered(lock_span span, const std::vector<locked_range>& own, std::vector<lock_span>& out);
// Where bytes first..last (last -1: to the end) lie among the lock offsets; bytes past the marks'
// start share its last offset.
lock_span lock_span_of(int64_t first, int64_t last);
