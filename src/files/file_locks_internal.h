// Sharing and byte-range locks between every handle of a file, in this process and others. POSIX
// has no share modes and no mandatory locks, so each slot holds open-file-description locks on a
// side file named after the file's identity (device and inode) in $TMPDIR/lumo-locks: shared
// locks on a few sentinel bytes say who reads, writes and denies what, and a user byte b is locked
// exclusively at 64 + b. Such locks clash between two handles of one process, read-only handles
// can take them, root cannot bypass them, and they vanish when their holder dies. The side file's
// first word, mapped by every handle, counts the range locks held, so transfers look for clashes
// only while some handle of the file holds one (a holder that died leaves the count high: the
// look then merely costs a call).
// Not here: opening the file itself (file_io.cpp).
#pragma once

#include <sys/stat.h>

#include <cstdint>

#include "files/file_internal.h"

// Joins the file's sharing: file_denied when another handle denies what this one asks, or holds
// what this one denies; file_fault when no descriptor is left for the side file. Where no side
// file can be made at all (no writable $TMPDIR), nothing is shared and nothing is refused.
int32_t file_locks_join(file_os_handle& os, const struct stat& st, int32_t access, int32_t deny);
// Leaves the sharing and gives up every range lock of the slot.
void file_locks_drop(file_os_handle& os);
// Another handle holds the file open (the sentinel any joined handle keeps).
bool file_locks_open_elsewhere(const struct stat& st);

// Locks or unlocks bytes first..last (last -1: to the end and beyond): file_denied on a clash,
// on an overlap with the slot's own locks, or when unlocking a range not locked exactly so.
int32_t file_locks_range_take(file_os_handle& os, int64_t first, int64_t last);
int32_t file_locks_range_give(file_os_handle& os, int64_t first, int64_t last);
// file_denied when another handle has locked any of count bytes from position.
int32_t file_locks_range_check(const file_os_handle& os, int64_t position, int64_t count);
