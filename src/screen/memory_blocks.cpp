#include "screen/memory_blocks.h"

#include <cstdlib>
#include <cstring>
#include <vector>

#include "core/errors.h"
#include "screen/image_pool.h"

namespace {

constexpr int32_t lock_block_records = 10000;
constexpr int32_t lock_free_stack_start = 1000;

struct lock_pool_state {
    uint64_t serial = 0x3FFFFFFF;
    memory_lock* first_block = nullptr;  // its first record backs the dead image block
    memory_lock* block = nullptr;
    int32_t block_used = lock_block_records;
    std::vector<memory_lock*> blocks;  // every block stays: its records are reachable from the free stack
    memory_lock** free_stack = nullptr;
    int32_t free_capacity = 0;
    int32_t free_count = 0;
    // Scratch areas handed out by failed range checks. Each stays allocated: generated code may
    // still hold one while the statement that failed goes on to its end.
    std::vector<uint8_t*> scratch;
};
// Never destroyed: a thread still running at exit may hold locks.
lock_pool_state& pool = *new lock_pool_state;

bool lock_block_cut() {
    auto* records = static_cast<memory_lock*>(std::calloc(lock_block_records, sizeof(memory_lock)));
    if (!records) return false;
    pool.blocks.push_back(records);
    if (!pool.first_block) pool.first_block = records;
    pool.block = records;
    pool.block_used = 0;
    return true;
}

bool free_stack_reserve() {
    if (pool.free_count < pool.free_capacity) return true;
    int32_t capacity = pool.free_capacity ? pool.free_capacity * 2 : lock_free_stack_start;
    auto* stack = static_cast<memory_lock**>(std::realloc(pool.free_stack, sizeof(memory_lock*) * size_t(capacity)));
    if (!stack) return false;
    pool.free_stack = stack;
    pool.free_capacity = capacity;
    return true;
}

memory_lock* first_lock_record() {
    if (!pool.first_block && !lock_block_cut()) error_raise(error_memory_block_scratch);
    return pool.first_block;
}

bool has_lock(const memory_block& b) { return b.lock != nullptr; }
bool alive(const memory_block& b) { return b.lock && b.lock_id != 0 && b.lock->id == b.lock_id; }

// [address, address + size) inside the block, computed without overflow.
bool range_inside(const memory_block& b, const void* address, int64_t size) {
    auto a = reinterpret_cast<uintptr_t>(address);
    auto start = reinterpret_cast<uintptr_t>(b.address);
    if (size < 0 || b.size < 0 || a < start) return false;
    uintptr_t offset = a - start;
    return offset <= uintptr_t(b.size) && uintptr_t(size) <= uintptr_t(b.size) - offset;
}

memory_block plain_block(memory_lock* lock, uint64_t id, void* address, int32_t size, int32_t type) {
    return memory_block{static_cast<uint8_t*>(address), size, id, lock, type, 1, -1};
}

memory_block dead_image_block() {
    return memory_block{nullptr, 0, memory_block_freed_id, first_lock_record(), 0, 0, -1};
}

uint8_t* scratch_area(int32_t size) {
    size_t bytes = size > 16 ? size_t(size) : 16;
    auto* area = static_cast<uint8_t*>(std::calloc(bytes, 1));
    if (!area) {
        error_raise(error_memory_block_scratch);
        return nullptr;
    }
    pool.scratch.push_back(area);
    return area;
}

// The checks of a guarded fill; true when the fill may go ahead.
bool fill_allowed(const memory_block& b, const void* address, int32_t n, int32_t pattern_length) {
    if (!has_lock(b)) {
        error_raise(error_memory_not_initialized);
        return false;
    }
    if (!alive(b)) {
        error_raise(error_memory_freed);
        return false;
    }
    if (n < 0 || pattern_length <= 0) {
        error_raise(error_invalid_size);
        return false;
    }
    if (!range_inside(b, address, n)) {
        error_raise(error_memory_out_of_range);
        return false;
    }
    return true;
}

// An extended value as it lies in program memory: 10 bytes, then zeros to 32.
struct float80_element {
    uint8_t bytes[32];
};
float80_element float80_bytes(long double value) {
    float80_element e{};
    std::memcpy(e.bytes, &value, 10);
    return e;
}

int32_t copy_error(const memory_block& source, const void* source_address, int32_t n,
                   const memory_block& destination, const void* destination_address) {
    if (has_lock(source) != has_lock(destination))
        return has_lock(source) ? error_destination_not_initialized : error_source_not_initialized;
    if (!has_lock(source)) return error_source_and_destination_not_initialized;
    if (!alive(source) && !alive(destination)) return error_source_and_destination_freed;
    if (!alive(source)) return error_source_freed;
    if (!alive(destination)) return error_destination_freed;
    if (n < 0) return error_invalid_size;
    bool source_inside = range_inside(source, source_address, n);
    bool destination_inside = range_inside(destination, destination_address, n);
    if (!source_inside && !destination_inside) return error_source_and_destination_out_of_range;
    if (!source_inside) return error_source_out_of_range;
    if (!destination_inside) return error_destination_out_of_range;
    return 0;
}

// A typed fill repeats the value's little-endian memory image.
template <class T>
void guarded_fill(const memory_block& block, void* address, int32_t n, const T& value) {
    memory_block_pattern_fill(block, address, n, &value, sizeof(T));
}
template <class T>
void raw_fill(void* address, int32_t n, const T& value) {
    memory_pattern_fill(address, n, &value, sizeof(T));
}

}  // namespace

memory_lock* memory_lock_new(uint64_t* id) {
    memory_lock* lock;
    if (pool.free_count > 0) {
        lock = pool.free_stack[--pool.free_count];
    } else {
        if (pool.block_used >= lock_block_records && !lock_block_cut()) {
            error_raise(error_memory_block_scratch);
            return nullptr;
        }
        lock = &pool.block[pool.block_used++];
    }
    lock->id = ++pool.serial;
    lock->kind = memory_lock_over_address;
    lock->data = nullptr;
    if (id) *id = lock->id;
    return lock;
}

void memory_lock_free(memory_lock* lock) {
    // A retired record is already on the free stack; pushing it twice would hand it out twice.
    if (!lock || lock->id == 0) return;
    if (!free_stack_reserve()) {
        error_raise(error_memory_block_scratch);
        return;
    }
    lock->id = 0;
    if (lock->kind == memory_lock_owns_data) std::free(lock->data);
    lock->data = nullptr;
    pool.free_stack[pool.free_count++] = lock;
}

memory_block memory_block_over_address(void* address, int32_t size) {
    uint64_t id = 0;
    memory_lock* lock = memory_lock_new(&id);
    if (error_pending()) return plain_block(lock, id, nullptr, 0, 0);
    if (size < 0) {
        error_raise(error_invalid_size);
        return plain_block(lock, id, nullptr, 0, 0);
    }
    return plain_block(lock, id, address, size, memory_block_type_plain);
}

memory_block memory_block_new(int32_t n) {
    uint64_t id = 0;
    memory_lock* lock = memory_lock_new(&id);
    if (error_pending()) return plain_block(lock, id, nullptr, 0, 0);
    if (n < 0) {
        error_raise(error_illegal_function_call);
        return plain_block(lock, id, nullptr, 0, memory_block_type_plain);
    }
    if (n == 0) return plain_block(lock, id, reinterpret_cast<void*>(uintptr_t{1}), 0, memory_block_type_plain);
    void* data = std::malloc(size_t(n));
    if (!data) return plain_block(lock, id, nullptr, 0, memory_block_type_plain);
    lock->kind = memory_lock_owns_data;
    lock->data = data;
    return plain_block(lock, id, data, n, memory_block_type_plain);
}

memory_block memory_block_over_image(int32_t handle, int32_t handle_given) {
    if (error_pending()) return dead_image_block();
    int32_t slot = handle_given ? image_handle_resolve(handle) : dest_image_index;
    if (!slot) return dead_image_block();
    image_record* r = &image_pool[slot];
    if (!image_lock_live(r)) {
        memory_lock* lock = memory_lock_new(&r->lock_id);
        if (!lock) return dead_image_block();
        lock->kind = memory_lock_image;
        r->lock = lock;
    }
    // Images above 2 GB are covered as far as the block's 32-bit size reaches.
    size_t bytes = image_pixel_bytes(r);
    int32_t size = bytes > size_t(INT32_MAX) ? INT32_MAX : int32_t(bytes);
    return memory_block{r->pixels, size, r->lock_id, r->lock, memory_block_type_image + r->bytes_per_pixel,
                        r->bytes_per_pixel, -slot};
}

memory_block memory_block_make(void* address, int32_t size, int32_t type, int32_t element_size, memory_lock* lock) {
    return memory_block{static_cast<uint8_t*>(address), size, lock ? lock->id : 0, lock, type, element_size, -1};
}

int32_t memory_block_exists(const memory_block& block) { return alive(block) ? -1 : 0; }

void memory_block_free(memory_block& block) {
    if (!has_lock(block)) {
        error_raise(error_memory_not_initialized);
        return;
    }
    if (!alive(block)) {
        error_raise(error_memory_already_freed);
        return;
    }
    if (block.lock->kind == memory_lock_over_address || block.lock->kind == memory_lock_owns_data)
        memory_lock_free(block.lock);
    block.lock_id = memory_block_freed_id;
}

uint8_t* memory_block_range_check(const memory_block& block, const void* address, int32_t size) {
    if (alive(block) && range_inside(block, address, size)) return static_cast<uint8_t*>(const_cast<void*>(address));
    error_raise(!has_lock(block) ? error_memory_not_initialized
                : !alive(block)  ? error_memory_freed
                                 : error_memory_out_of_range);
    return scratch_area(size);
}

void memory_pattern_fill(void* destination, int64_t n, const void* pattern, int32_t pattern_length) {
    if (n <= 0 || pattern_length <= 0) return;
    auto* d = static_cast<uint8_t*>(destination);
    if (pattern_length == 1) {
        std::memset(d, *static_cast<const uint8_t*>(pattern), size_t(n));
        return;
    }
    size_t total = size_t(n);
    size_t filled = total < size_t(pattern_length) ? total : size_t(pattern_length);
    std::memmove(d, pattern, filled);
    // Double the filled part: it is a whole number of patterns until the last copy.
    while (filled < total) {
        size_t part = filled < total - filled ? filled : total - filled;
        std::memcpy(d + filled, d, part);
        filled += part;
    }
}

void memory_block_pattern_fill(const memory_block& block, void* address, int32_t n, const void* pattern,
                               int32_t pattern_length) {
    if (fill_allowed(block, address, n, pattern_length)) memory_pattern_fill(address, n, pattern, pattern_length);
}

void memory_block_fill_int8(const memory_block& b, void* a, int32_t n, int8_t v) { guarded_fill(b, a, n, v); }
void memory_block_fill_int16(const memory_block& b, void* a, int32_t n, int16_t v) { guarded_fill(b, a, n, v); }
void memory_block_fill_int32(const memory_block& b, void* a, int32_t n, int32_t v) { guarded_fill(b, a, n, v); }
void memory_block_fill_int64(const memory_block& b, void* a, int32_t n, int64_t v) { guarded_fill(b, a, n, v); }
void memory_block_fill_float32(const memory_block& b, void* a, int32_t n, float v) { guarded_fill(b, a, n, v); }
void memory_block_fill_float64(const memory_block& b, void* a, int32_t n, double v) { guarded_fill(b, a, n, v); }
void memory_block_fill_float80(const memory_block& b, void* a, int32_t n, long double v) {
    guarded_fill(b, a, n, float80_bytes(v));
}
void memory_block_fill_pointer(const memory_block& b, void* a, int32_t n, const void* v) { guarded_fill(b, a, n, v); }

void memory_fill_int8(void* a, int32_t n, int8_t v) { raw_fill(a, n, v); }
void memory_fill_int16(void* a, int32_t n, int16_t v) { raw_fill(a, n, v); }
void memory_fill_int32(void* a, int32_t n, int32_t v) { raw_fill(a, n, v); }
void memory_fill_int64(void* a, int32_t n, int64_t v) { raw_fill(a, n, v); }
void memory_fill_float32(void* a, int32_t n, float v) { raw_fill(a, n, v); }
void memory_fill_float64(void* a, int32_t n, double v) { raw_fill(a, n, v); }
void memory_fill_float80(void* a, int32_t n, long double v) { raw_fill(a, n, float80_bytes(v)); }
void memory_fill_pointer(void* a, int32_t n, const void* v) { raw_fill(a, n, v); }

void memory_block_copy(const memory_block& source, const void* source_address, int32_t n,
                       const memory_block& destination, void* destination_address) {
    if (int32_t error = copy_error(source, source_address, n, destination, destination_address)) {
        error_raise(error);
        return;
    }
    if (n > 0) std::memmove(destination_address, source_address, size_t(n));
}
