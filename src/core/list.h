// The runtime's pool of fixed-size items addressed by ids from 1. Items never move once made, freed
// ids are handed out again last-freed first, and list_get finds an item without any lock.
// A list made by list_new_locked has an add and a remove mutex (taken in that order).
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>

// One recursive operating-system mutex (a locked list's add path may re-enter it).
struct mutex {
    std::recursive_mutex m;
};

mutex* mutex_new();
void mutex_free(mutex* m);
void mutex_lock(mutex* m);
void mutex_unlock(mutex* m);

struct list {
    int32_t item_size = 0;
    // Each slot holds the item, then its 4-byte id word at id_offset; slots are rounded to 8 bytes
    // so that items holding pointers stay aligned.
    int32_t id_offset = 0;
    int32_t slot_size = 0;
    uint8_t* current_block = nullptr;
    int32_t block_used = 0;
    int32_t block_capacity = 0;
    int32_t* free_ids = nullptr;  // entries from 1
    int32_t free_top = 0;
    int32_t free_capacity = 0;
    uint8_t* blocks[64] = {};  // entries from 1
    int32_t block_count = 0;
    // Readers load the table and the highest id without a lock: both are published with release.
    std::atomic<uint8_t**> id_table{nullptr};  // entries from 1
    std::atomic<int32_t> highest_id{0};
    int32_t id_capacity = 0;
    // Every table retired by growth stays allocated until list_destroy, so a reader holding an old
    // table pointer never reads freed memory.
    void* retired = nullptr;
    mutex* add_mutex = nullptr;
    mutex* remove_mutex = nullptr;
};

list* list_new(int32_t item_size);
list* list_new_locked(int32_t item_size);
int32_t list_add(list* l);
int32_t list_remove(list* l, int32_t id);
void* list_get(list* l, int32_t id);
int32_t list_item_id(list* l, const void* item);
void list_destroy(list* l);
