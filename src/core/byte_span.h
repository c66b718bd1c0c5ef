// Byte spans: a view of the caller's memory (address and length) that raw transfers, graphics
// arrays, palette loading and interrupt calls take, whatever the variable's type. Not here: the
// transfers themselves (files/random_access.h and their other users).
#pragma once

#include <cstdint>

// The 12-byte record translated code builds; the address is carried as two 32-bit words.
struct byte_span {
    uint32_t address_low;
    uint32_t address_high;
    int32_t length;  // never negative
};
static_assert(sizeof(byte_span) == 12);

// A span on the local-variable stack, valid until the calling routine releases its locals.
byte_span* byte_span_new(uint32_t address_low, uint32_t address_high, int32_t length);
// Fills a span the caller owns and answers it.
byte_span* byte_span_set(uint32_t address_low, uint32_t address_high, int32_t length, byte_span* span);

// The whole 64-bit address: every user goes through this, never through the low word alone.
inline uint8_t* byte_span_data(const byte_span& span) {
    return reinterpret_cast<uint8_t*>(static_cast<uintptr_t>(span.address_high) << 32 | span.address_low);
}
// The words of an address, for code that builds a span from a pointer.
inline uint32_t byte_span_low(const void* p) { return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(p)); }
inline uint32_t byte_span_high(const void* p) { return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(p) >> 32); }
