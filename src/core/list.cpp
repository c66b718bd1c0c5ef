#include "core/list.h"

#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>

#include "core/alerts.h"
#include "core/errors.h"

namespace {

// A retired table kept on a singly linked chain until the list is destroyed.
struct retired_table {
    retired_table* next;
    void* table;
};

void retire(list* l, void* table) {
    auto* r = static_cast<retired_table*>(std::malloc(sizeof(retired_table)));
    if (!r) error_raise(error_critical_out_of_memory);
    *r = {static_cast<retired_table*>(l->retired), table};
    l->retired = r;
}

// The id word after each item; lock-free readers look at it, so it is accessed atomically.
std::atomic_ref<int32_t> id_word(const list* l, uint8_t* item) {
    return std::atomic_ref<int32_t>(*reinterpret_cast<int32_t*>(item + l->id_offset));
}

// Capacity growth 2k + 1, refused before it overflows.
int32_t grown_capacity(int32_t k) {
    if (k > (std::numeric_limits<int32_t>::max() - 2) / 2) error_raise(error_critical_out_of_memory);
    return 2 * k + 1;
}

void* zeroed(size_t count, size_t size) {
    void* p = std::calloc(count, size);
    if (!p) error_raise(error_critical_out_of_memory);
    return p;
}

void block_alloc_failed(const list* l) {
    alert_text("list_add: failed to allocate new buffer, structure size:");
    alert_number(l->slot_size);
    error_raise(error_critical_out_of_memory);
}

void block_append(list* l) {
    int32_t capacity = grown_capacity(l->block_capacity);
    if (l->block_count + 1 >= static_cast<int32_t>(std::size(l->blocks))) block_alloc_failed(l);
    auto* block = static_cast<uint8_t*>(std::calloc(static_cast<size_t>(capacity) + 1, l->slot_size));
    if (!block) block_alloc_failed(l);
    l->current_block = block;
    l->block_capacity = capacity;
    l->block_used = 0;
    l->blocks[++l->block_count] = block;
}

void id_table_grow(list* l) {
    int32_t k = l->id_capacity;
    int32_t capacity = grown_capacity(k);
    auto** table = static_cast<uint8_t**>(zeroed(static_cast<size_t>(capacity) + 1, sizeof(uint8_t*)));
    uint8_t** old = l->id_table.load(std::memory_order_relaxed);
    std::memcpy(table, old, (static_cast<size_t>(k) + 1) * sizeof(uint8_t*));
    retire(l, old);
    l->id_table.store(table, std::memory_order_release);
    l->id_capacity = capacity;
}

void free_stack_grow(list* l) {
    int32_t k = l->free_capacity;
    int32_t capacity = grown_capacity(k);
    auto* stack = static_cast<int32_t*>(zeroed(static_cast<size_t>(capacity) + 1, sizeof(int32_t)));
    std::memcpy(stack, l->free_ids, (static_cast<size_t>(l->free_top) + 1) * sizeof(int32_t));
    retire(l, l->free_ids);
    l->free_ids = stack;
    l->free_capacity = capacity;
}

// Takes the last freed id, or returns 0 when none is free. The free stack is looked at under the
// remove mutex, which list_remove holds while it pushes.
int32_t id_reuse(list* l) {
    mutex_lock(l->remove_mutex);
    if (l->free_top == 0) {
        mutex_unlock(l->remove_mutex);
        return 0;
    }
    int32_t id = l->free_ids[l->free_top--];
    uint8_t* item = l->id_table.load(std::memory_order_relaxed)[id];
    std::memset(item, 0, l->item_size);
    id_word(l, item).store(id, std::memory_order_release);
    mutex_unlock(l->remove_mutex);
    return id;
}

int32_t id_append(list* l) {
    if (l->block_capacity < l->block_used + 1) block_append(l);
    int32_t id = l->highest_id.load(std::memory_order_relaxed) + 1;
    l->block_used++;
    uint8_t* item = l->current_block + static_cast<size_t>(l->block_used) * l->slot_size;
    id_word(l, item).store(id, std::memory_order_release);
    if (id > l->id_capacity) id_table_grow(l);
    l->id_table.load(std::memory_order_relaxed)[id] = item;
    l->highest_id.store(id, std::memory_order_release);
    return id;
}

list* list_make(int32_t item_size, bool locked) {
    if (item_size < 0 || item_size > std::numeric_limits<int32_t>::max() - 16)
        error_raise(error_critical_out_of_memory);
    auto* l = new list;
    l->item_size = item_size;
    l->id_offset = (item_size + 3) & ~3;
    l->slot_size = (l->id_offset + 4 + 7) & ~7;
    l->blocks[1] = static_cast<uint8_t*>(zeroed(1, 4));  // placeholder block of capacity 0
    l->current_block = l->blocks[1];
    l->block_count = 1;
    l->free_ids = static_cast<int32_t*>(zeroed(1, sizeof(int32_t)));
    l->id_table.store(static_cast<uint8_t**>(zeroed(1, sizeof(uint8_t*))));
    if (locked) {
        l->add_mutex = mutex_new();
        l->remove_mutex = mutex_new();
    }
    return l;
}

}  // namespace

mutex* mutex_new() { return new mutex; }

void mutex_free(mutex* m) { delete m; }

void mutex_lock(mutex* m) {
    if (m) m->m.lock();
}

void mutex_unlock(mutex* m) {
    if (m) m->m.unlock();
}

list* list_new(int32_t item_size) { return list_make(item_size, false); }

list* list_new_locked(int32_t item_size) { return list_make(item_size, true); }

int32_t list_add(list* l) {
    mutex_lock(l->add_mutex);
    int32_t id = id_reuse(l);
    if (id == 0) id = id_append(l);
    mutex_unlock(l->add_mutex);
    return id;
}

int32_t list_remove(list* l, int32_t id) {
    mutex_lock(l->remove_mutex);
    uint8_t* item = static_cast<uint8_t*>(list_get(l, id));
    if (!item) {
        mutex_unlock(l->remove_mutex);
        return 0;
    }
    if (l->free_capacity < l->free_top + 1) free_stack_grow(l);
    l->free_ids[++l->free_top] = id;
    id_word(l, item).store(0, std::memory_order_release);
    mutex_unlock(l->remove_mutex);
    return -1;
}

void* list_get(list* l, int32_t id) {
    if (id < 1 || id > l->highest_id.load(std::memory_order_acquire)) return nullptr;
    uint8_t* item = l->id_table.load(std::memory_order_acquire)[id];
    return id_word(l, item).load(std::memory_order_acquire) ? item : nullptr;
}

int32_t list_item_id(list* l, const void* item) {
    return id_word(l, static_cast<uint8_t*>(const_cast<void*>(item))).load(std::memory_order_acquire);
}

void list_destroy(list* l) {
    for (int32_t b = 1; b <= l->block_count; ++b) std::free(l->blocks[b]);
    for (auto* r = static_cast<retired_table*>(l->retired); r;) {
        auto* next = r->next;
        std::free(r->table);
        std::free(r);
        r = next;
    }
    std::free(l->free_ids);
    std::free(l->id_table.load());
    mutex_free(l->add_mutex);
    mutex_free(l->remove_mutex);
    delete l;
}
