#include "core/stacks.h"

#include <cstdlib>
#include <limits>
#include <vector>

#include "core/errors.h"

local_stack_state local_stack;
return_stack_state return_stack;

namespace {
constexpr size_t local_block_start = 1048576;
constexpr int64_t return_stack_start = 16384;

// Every block made; kept (and never destroyed) so memory handed out stays valid to the end.
std::vector<uint8_t*>& local_blocks() {
    static auto* blocks = new std::vector<uint8_t*>;
    return *blocks;
}
}  // namespace

void local_stack_init() {
    for (uint8_t* block : local_blocks()) std::free(block);
    local_blocks().clear();
    local_stack.block_size = local_block_start;
    local_stack.base = static_cast<uint8_t*>(std::malloc(local_stack.block_size));
    if (!local_stack.base) error_raise(error_local_stack_block);
    local_blocks().push_back(local_stack.base);
    local_stack.top = local_stack.base;
    local_stack.end = local_stack.base + local_stack.block_size;
}

void* local_stack_alloc(size_t n) {
    if (static_cast<size_t>(local_stack.end - local_stack.top) > n) {
        void* p = local_stack.top;
        local_stack.top += n;
        return p;
    }
    // A new block; the old one stays, so what it handed out remains valid.
    if (n > (std::numeric_limits<size_t>::max() - local_stack.block_size) / 2) error_raise(error_local_stack_block);
    size_t size = n + 2 * local_stack.block_size;
    auto* block = static_cast<uint8_t*>(std::malloc(size));
    if (!block) error_raise(error_local_stack_block);
    local_blocks().push_back(block);
    local_stack.block_size = size;
    local_stack.base = block;
    local_stack.top = block + n;
    local_stack.end = block + size;
    return block;
}

void local_stack_release(void* mark) {
    auto* m = static_cast<uint8_t*>(mark);
    local_stack.top = (m >= local_stack.base && m <= local_stack.end) ? m : local_stack.base;
}

void return_stack_init() {
    std::free(return_stack.entries);
    return_stack.entries = static_cast<int32_t*>(std::calloc(return_stack_start, sizeof(int32_t)));
    return_stack.capacity = return_stack.entries ? return_stack_start : 0;
    if (!return_stack.entries) error_raise(error_out_of_stack_space);
}

void return_stack_grow() {
    if (return_stack.capacity <= 0 || return_stack.capacity > std::numeric_limits<int32_t>::max() / 2)
        error_raise(error_out_of_stack_space);
    int64_t capacity = return_stack.capacity * 2;
    auto* grown = static_cast<int32_t*>(std::realloc(return_stack.entries, capacity * sizeof(int32_t)));
    if (!grown) error_raise(error_out_of_stack_space);
    return_stack.entries = grown;
    return_stack.capacity = capacity;
}
