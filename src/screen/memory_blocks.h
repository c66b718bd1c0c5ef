// Typed memory blocks and the lock records that tell whether the memory behind a block still exists.
// A block is alive while its lock still carries the id the block remembers; retiring a lock sets its
// id to 0 and ids are never reused, so every block over freed memory is recognised as dead.
// The locks are validity tokens, not mutual exclusion. Program thread only.
#pragma once

#include <cstdint>

enum : int32_t {
    memory_lock_over_address = 0,
    memory_lock_owns_data = 1,
    memory_lock_image = 2,
    memory_lock_scope = 3,
};

struct memory_lock {
    uint64_t id;  // 0 once retired
    int32_t kind;
    void* data;   // what a memory_lock_owns_data lock frees when retired
};

constexpr uint64_t memory_block_freed_id = 0x3FFFFFFD;
constexpr int32_t memory_block_type_plain = 16384;
constexpr int32_t memory_block_type_image = 3200;  // + bytes per pixel

struct memory_block {
    uint8_t* address;  // null for a failed block
    int32_t size;
    uint64_t lock_id;
    memory_lock* lock;
    int32_t type;
    int32_t element_size;
    int32_t image;     // handle of the covered image, -1 = none
};

// A lock of kind memory_lock_over_address with the next id (also stored in *id when given); the
// caller sets kind and data. Generated code takes one of kind memory_lock_scope for the main program
// and for each SUB or FUNCTION call, builds blocks over its variables with memory_block_make and
// retires the lock when the scope ends. Records are recycled, so this allocates nothing in the steady state.
memory_lock* memory_lock_new(uint64_t* id = nullptr);
// Retiring a lock already retired does nothing.
void memory_lock_free(memory_lock* lock);

memory_block memory_block_over_address(void* address, int32_t size);
memory_block memory_block_new(int32_t n);
memory_block memory_block_over_image(int32_t handle, int32_t handle_given);
memory_block memory_block_make(void* address, int32_t size, int32_t type, int32_t element_size, memory_lock* lock);

int32_t memory_block_exists(const memory_block& block);
void memory_block_free(memory_block& block);
// The address when [address, address + size) lies in the live block; otherwise an error and a
// zeroed scratch area of at least size bytes (never null), valid until the next failed check.
uint8_t* memory_block_range_check(const memory_block& block, const void* address, int32_t size);

// n bytes repeating the pattern from its first byte; nothing when n or the length is not positive.
void memory_pattern_fill(void* destination, int64_t n, const void* pattern, int32_t pattern_length);
void memory_block_pattern_fill(const memory_block& block, void* address, int32_t n, const void* pattern,
                               int32_t pattern_length);

void memory_block_fill_int8(const memory_block& block, void* address, int32_t n, int8_t value);
void memory_block_fill_int16(const memory_block& block, void* address, int32_t n, int16_t value);
void memory_block_fill_int32(const memory_block& block, void* address, int32_t n, int32_t value);
void memory_block_fill_int64(const memory_block& block, void* address, int32_t n, int64_t value);
void memory_block_fill_float32(const memory_block& block, void* address, int32_t n, float value);
void memory_block_fill_float64(const memory_block& block, void* address, int32_t n, double value);
// Elements of 32 bytes: the 10-byte extended value, then zeros.
void memory_block_fill_float80(const memory_block& block, void* address, int32_t n, long double value);
// Elements of 8 bytes: pointers are 64-bit.
void memory_block_fill_pointer(const memory_block& block, void* address, int32_t n, const void* value);

void memory_fill_int8(void* address, int32_t n, int8_t value);
void memory_fill_int16(void* address, int32_t n, int16_t value);
void memory_fill_int32(void* address, int32_t n, int32_t value);
void memory_fill_int64(void* address, int32_t n, int64_t value);
void memory_fill_float32(void* address, int32_t n, float value);
void memory_fill_float64(void* address, int32_t n, double value);
void memory_fill_float80(void* address, int32_t n, long double value);
void memory_fill_pointer(void* address, int32_t n, const void* value);

void memory_block_copy(const memory_block& source, const void* source_address, int32_t n,
                       const memory_block& destination, void* destination_address);
