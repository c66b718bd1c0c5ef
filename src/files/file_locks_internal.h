// Sharing and byte-range locks between every handle of a file, in this process and others. POSIX
// has no share modes and no mandatory locks, so each slot holds open-file-description locks on a
// side file named after the file's identity (device and inode): shared locks on a few sentinel
// bytes say who reads, writes and denies what, and a user byte b is locked exclusively at 64 + b.
// Such locks clash between two handles of one process, read-only handles can take them, root
// cannot bypass them, and they vanish when their holder dies. The side file's first word, mapped
// by a handle at its first LOCK or second transfer, counts the range locks held, so transfers look for clashes
// only while some handle of the file holds one (a holder that died leaves the count high: the
// look then merely costs a call).
// Side files live in /dev/shm/lumo-locks, shared by every user (sticky); a folder there that is a
// symlink or not to be trusted gives way to one of the user's own ($XDG_RUNTIME_DIR/lumo-locks, else
// $TMPDIR/lumo-locks-<uid>). A side file exists while some handle has its file open: the last
// handle to leave, in whatever process, removes it under the gate that openers take. Its bits
// follow the file's, so only users who may open the file can join it or touch its locks.
// Not here: opening the file itself (file_io.cpp).
#pragma once

#include <sys/stat.h>

#include <cstdint>
#include <string>

#include "files/file_internal.h"

// Joins the file's sharing: file_denied when another handle denies what this one asks, or holds
// what this one denies, and when the side file cannot be joined (no folder, not allowed, or not a
// file the file's users made); file_fault when no descriptor is left for it.
int32_t file_locks_join(file_os_handle& os, const struct stat& st, int32_t access, int32_t deny);
// Leaves the sharing and gives up every range lock of the slot; the last handle removes the side file.
void file_locks_drop(file_os_handle& os);
// Another handle holds the file open (the sentinel any joined handle keeps).
bool file_locks_open_elsewhere(const struct stat& st);

// Locks or unlocks bytes first..last (last -1: to the end and beyond): file_denied on a clash,
// on an overlap with the slot's own locks, or when unlocking a range not locked exactly so.
int32_t file_locks_range_take(file_os_handle& os, int64_t first, int64_t last);
int32_t file_locks_range_give(file_os_handle& os, int64_t first, int64_t last);
// file_denied when another handle has locked any of count bytes from position.
int32_t file_locks_range_check(file_os_handle& os, int64_t position, int64_t count);

// The decisions of joining, for tests. The side file's bits: read and write for each class of
// users that may read or write the file.
mode_t side_file_mode(mode_t real_mode);
// A lock folder to use: a directory, not set-group; a shared one owned by this user or sticky, a
// private one owned by this user and writable by no one else.
bool lock_folder_trusted(const struct stat& st, uid_t me, bool shared);
// A side file to join: a regular file of one link and at most a page, made by this user, root, the
// file's owner, or a user who could open the file (anyone may, or the maker gave it the file's group).
// me answers the user this program runs as; it is asked only when the rest does not decide.
bool side_file_trusted(const struct stat& side, const struct stat& real, uid_t (*me)());
// Tests: the shared folder is made under parent from now on; answers the parent before.
std::string file_locks_folder_parent_set(const std::string& parent);
