// The emulated real-mode memory: one flat byte array indexed by linear address (segment * 16 +
// offset), the current segment of the byte read and write statements, and the allocator of blocks
// in conventional memory. It does not know what lives at the BIOS, string or video addresses; their
// owners keep those areas.
#pragma once

#include <atomic>
#include <cstdint>

constexpr int32_t dos_memory_size = 1114099;  // FFFF:FFFF plus a 4-byte access there
extern uint8_t dos_memory[dos_memory_size];

// Linear addresses of the map that this module relies on.
constexpr uint32_t dos_default_segment = 0x50;          // the string segment
constexpr uint32_t dos_block_heap_low = 0x10500;        // lowest byte a block may use
constexpr uint32_t dos_block_heap_high = 0xA0000;       // one past the heap: mode-13 pixels
constexpr uint32_t dos_block_size_max = 65536;
constexpr uint32_t dos_block_slots = 147136;

// Start-up: every byte zero.
void dos_memory_clear();

// One byte at a linear address, for areas that one thread writes while another reads (BIOS
// keyboard area, tick count): relaxed atomic access, no ordering.
inline uint8_t dos_byte_read(uint32_t linear) {
    return std::atomic_ref<uint8_t>(dos_memory[linear]).load(std::memory_order_relaxed);
}
inline void dos_byte_write(uint32_t linear, uint8_t value) {
    std::atomic_ref<uint8_t>(dos_memory[linear]).store(value, std::memory_order_relaxed);
}

// A 16-bit word in the machine's byte order (low byte first), in any byte buffer.
inline uint16_t word_load(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }
inline void word_store(uint8_t* p, uint16_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}

// The current segment (program thread). Without a segment: segment 0x50. Segments and offsets
// are accepted from -65536 to 65535 and taken modulo 65536; outside that, error 6 and nothing
// changes.
void segment_select(int32_t segment, int32_t segment_given);
int32_t segment_byte_read(int32_t offset);
void segment_byte_write(int32_t offset, int32_t value);
// Start of the current segment inside dos_memory, and its number.
uint8_t* current_segment_base();
uint16_t current_segment();
// The range the byte statements accept for a segment or an offset.
constexpr bool segment_word_in_range(int32_t v) { return v >= -65536 && v <= 65535; }

// Blocks of conventional memory, first fit from the top of the heap down; sizes are rounded up to
// 16. Size 0 gives the start of mode-13 pixel memory and allocates nothing. A size above 64 KB, a
// full heap or a full node table are critical "Out of memory" errors (505, 506, 507).
uint8_t* dos_block_alloc(uint32_t size);
// Releases the block that starts at p; any other pointer is ignored.
void dos_block_free(const uint8_t* p);

// Tests: memory zero, no blocks, segment 0x50.
void dos_memory_reset();
