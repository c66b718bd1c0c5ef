// The seam between the item readers of sequential files (file_items.h) and the file layer: the
// file layer installs its sequential-input primitives here at start-up. Until it does, every file
// number answers "Bad file name or number" (52). Tests install a source over memory.
#pragma once

#include <cstdint>

// Codes of read_byte besides a byte 0-255.
enum : int32_t { file_byte_end = -1, file_byte_error = -2 };

struct file_item_source {
    // The slot of a BASIC file number (0 or more) open for sequential input with read access, or -1
    // after raising 52 (not open), 54 (not sequential input) or 75 (no read access).
    int32_t (*input_slot)(int32_t file_number) = nullptr;
    // The next byte, file_byte_end at the end of the file (or at a byte 26, which stays unread), or
    // file_byte_error after raising the error of a failed read.
    int32_t (*read_byte)(int32_t slot) = nullptr;
    // Drops the rest of an item up to and including its separator (a comma, or a line end with its
    // partner); `ended` is the byte that ended the item, or file_byte_end.
    void (*skip_item_separator)(int32_t slot, int32_t ended) = nullptr;
    // After a CR or LF was read: consumes its partner (LF after CR, CR after LF) when it follows.
    void (*skip_line_end)(int32_t slot, int32_t first) = nullptr;
};

// Installs the source; a source with a null member falls back to "no file layer".
void file_item_source_set(const file_item_source& source);
