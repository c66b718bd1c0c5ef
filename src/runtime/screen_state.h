// The screen-state stream that a chaining program hands to its target: the screen mode or the
// screen image's size, the font, every screen page with its pixels and its 176-byte record, the
// active and visual pages and the palette, as 32-bit little-endian tokens and values. The record is
// written and read field by field in its fixed layout, pointers as zeros. Reading rebuilds the
// screen through the screen statements and refuses a page whose stored geometry differs from the
// live page (error 5), so no record ever claims more pixels than its page holds. Program thread only.
// Not here: the chain file around the stream (chain.h).
#pragma once

#include <cstdint>
#include <vector>

struct image_record;

enum : uint32_t {
    screen_state_mode = 256,
    screen_state_image = 257,
    screen_state_text_size = 258,
    screen_state_font = 259,
    screen_state_page = 260,
    screen_state_pages = 261,
    screen_state_palette = 262,
    screen_state_end = 511,
};
constexpr int32_t screen_state_record_bytes = 176;

// Writes the stream at the open binary file's current position.
void screen_state_write(int32_t file_number);
// Reads a stream from the file's current position and rebuilds the screen.
void screen_state_read(int32_t file_number);

// The stream of the screen as it is now.
std::vector<uint8_t> screen_state_bytes();
// Where the reader takes its bytes from: false when they cannot be had (the buffer is then zeros).
struct screen_state_source {
    void* context;
    bool (*read)(void* context, void* buffer, int64_t count);
};
void screen_state_read_from(const screen_state_source& source);

// The record in its 176-byte layout, and back onto a record (every field but the pointers and locks).
void screen_state_record_put(const image_record& r, uint8_t* out);
void screen_state_record_get(const uint8_t* in, image_record& r);
