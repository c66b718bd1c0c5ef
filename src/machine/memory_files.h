// Memory save and load: a stretch of the emulated memory to a file and back, in the memory-image
// format of the period: the byte 0xFD, segment, offset and count as 16-bit little-endian words (a
// count of 0 is an empty or a full 64 KB image), then the bytes. A stretch wraps within its segment
// (byte i at offset (offset + i) AND 0xFFFF), so it never leaves the emulated memory.
// Not here: the emulated memory (core/memory.h).
#pragma once

#include <cstdint>

struct string_descriptor;

// Saves length bytes (up to 65536) from offset of the current segment. Error 6 for an offset or
// length out of range, 64 when the file cannot be made, 75 when its bytes cannot all be written.
void segment_save_file(string_descriptor* name, int32_t offset, int32_t length);
// Loads an image to the segment and offset it was saved from, or to offset of the current segment
// when one is given. Error 6 for an offset out of range, 53 when the file cannot be opened, 54 for
// a bad header or a body shorter than its count (the bytes read stay).
void segment_load_file(string_descriptor* name, int32_t offset, int32_t offset_given);
