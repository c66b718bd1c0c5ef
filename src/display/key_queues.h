// The keyboard's queues: one ring that keeps the newest items (a full ring drops its oldest) serves
// both the key-hit ring and the scan-code queue, which also drops the repeated make or break byte of
// a held key and answers the byte taken last when it is empty. Plain values guarded by the
// keyboard's lock. Not here: the BIOS keyboard ring in emulated memory (bios_keyboard.h).
#pragma once

#include <array>
#include <cstdint>

template <class T, int32_t Capacity>
struct newest_ring {
    std::array<T, Capacity> items{};
    int32_t first = 0;
    int32_t count = 0;

    bool empty() const { return count == 0; }
    const T& newest() const { return items[(first + count - 1) % Capacity]; }
    void push(T item) {
        if (count == Capacity) drop_oldest();
        items[(first + count) % Capacity] = item;
        ++count;
    }
    // The oldest item, removed; the ring must not be empty.
    T pop() {
        T item = items[first];
        drop_oldest();
        return item;
    }
    void clear() { first = count = 0; }

private:
    void drop_oldest() {
        first = (first + 1) % Capacity;
        --count;
    }
};

// key_hit_ring: press codes and negated release codes. 8192 slots of which one stays free, so it
// keeps the newest 8191 codes.
constexpr int32_t key_hit_ring_capacity = 8191;
using key_code_ring = newest_ring<int32_t, key_hit_ring_capacity>;

// scancode_queue: set-1 make and break bytes for the emulated keyboard port.
constexpr int32_t scancode_queue_capacity = 256;
constexpr uint8_t scancode_first_byte = 0x81;
struct scan_byte_queue {
    newest_ring<uint8_t, scancode_queue_capacity> bytes;
    uint8_t last_taken = scancode_first_byte;
};

// Appends the byte unless it repeats the newest one (a held key's auto-repeat).
void scan_bytes_push(scan_byte_queue& queue, uint8_t byte);
// The oldest byte, removed; when empty the byte taken last again.
uint8_t scan_bytes_take(scan_byte_queue& queue);
