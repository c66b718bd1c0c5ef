#include "core/memory.h"

#include <cstring>
#include <vector>

#include "core/errors.h"

uint8_t dos_memory[dos_memory_size];

namespace {

// One allocated block, as linear addresses [start, end).
struct dos_block_node {
    uint32_t start;
    uint32_t end;
};

struct memory_state {
    uint32_t segment_base = dos_default_segment * 16;
    // Allocated blocks sorted by descending address (the highest first). Freed slots are reused
    // before new ones, so the node table is full exactly when this many blocks are live.
    std::vector<dos_block_node> blocks;
};

memory_state state;

uint32_t current_linear(int32_t offset) { return state.segment_base + (static_cast<uint32_t>(offset) & 0xFFFF); }

}  // namespace

void dos_memory_clear() { std::memset(dos_memory, 0, sizeof dos_memory); }

void dos_memory_reset() {
    dos_memory_clear();
    state = memory_state{};
}

void segment_select(int32_t segment, int32_t segment_given) {
    if (error_pending()) return;
    if (!segment_given) {
        state.segment_base = dos_default_segment * 16;
        return;
    }
    if (!segment_word_in_range(segment)) {
        error_raise(error_overflow);
        return;
    }
    state.segment_base = (static_cast<uint32_t>(segment) & 0xFFFF) * 16;
}

int32_t segment_byte_read(int32_t offset) {
    if (error_pending()) return 0;
    if (!segment_word_in_range(offset)) {
        error_raise(error_overflow);
        return 0;
    }
    return dos_byte_read(current_linear(offset));
}

void segment_byte_write(int32_t offset, int32_t value) {
    if (error_pending()) return;
    if (!segment_word_in_range(offset)) {
        error_raise(error_overflow);
        return;
    }
    dos_byte_write(current_linear(offset), static_cast<uint8_t>(value & 0xFF));
}

uint8_t* current_segment_base() { return dos_memory + state.segment_base; }
uint16_t current_segment() { return static_cast<uint16_t>(state.segment_base / 16); }

uint8_t* dos_block_alloc(uint32_t size) {
    if (size > dos_block_size_max) {
        error_raise(error_dos_block_too_large);
        return nullptr;
    }
    if (size == 0) return dos_memory + dos_block_heap_high;
    size = (size + 15) & ~15u;

    // Walk down from the top; the first gap that holds the block takes it.
    uint32_t cur = dos_block_heap_high;
    auto at = state.blocks.begin();
    for (; at != state.blocks.end(); ++at) {
        if (cur - at->end >= size) break;
        cur = at->start;
    }
    if (at == state.blocks.end() && cur - dos_block_heap_low < size) {
        error_raise(error_dos_memory_full);
        return nullptr;
    }
    if (state.blocks.size() >= dos_block_slots) {
        error_raise(error_dos_node_table_full);
        return nullptr;
    }
    state.blocks.insert(at, dos_block_node{cur - size, cur});
    return dos_memory + (cur - size);
}

void dos_block_free(const uint8_t* p) {
    for (auto at = state.blocks.begin(); at != state.blocks.end(); ++at) {
        if (dos_memory + at->start == p) {
            state.blocks.erase(at);
            return;
        }
    }
}
