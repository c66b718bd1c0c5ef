#include "core/strings.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>
#include <unordered_set>
#include <vector>

#include "core/errors.h"
#include "core/memory.h"

string_descriptor* string_empty = nullptr;
string_descriptor* string_space = nullptr;
string_descriptor* command_line_string = nullptr;
string_descriptor* x86_error_message = nullptr;

namespace {

// The top 8 bytes of the segment are reserved: two 4-byte entries' worth.
constexpr uint32_t segment_reserved = 8;

// Heap or segment list: one entry per live string in address order of the texts; a freed entry is
// null. capacity + 1 entries exist; count covers the highest entry in use.
struct descriptor_list {
    string_descriptor** entries = nullptr;
    uint32_t count = 0;
    uint32_t capacity = 0;
};

struct string_store {
    std::vector<string_descriptor*> blocks;  // every descriptor block (given back only by a reset)
    string_descriptor* block = nullptr;
    uint32_t block_used = 0;
    uint32_t block_size = 0;

    string_descriptor** recycle = nullptr;
    uint32_t recycle_count = 0;
    uint32_t recycle_capacity = 0;

    uint8_t* string_heap = nullptr;
    size_t string_heap_size = 0;
    size_t string_heap_used = 0;
    descriptor_list string_heap_list;

    size_t string_segment_top = string_segment_text_start;
    uint32_t string_segment_bottom = string_segment_size;
    descriptor_list string_segment_list;

    // Entry 0 is never used, so a temp_slot of 0 means "not registered".
    string_descriptor** string_temp_list = nullptr;
    uint32_t string_temp_top = 1;
    uint32_t temp_capacity = 0;

    string_field_hooks field_hooks;
    uint32_t heap_compactions = 0;
    uint32_t segment_compactions = 0;
};

string_store store;

uint8_t empty_text[1] = {0};

uint8_t* segment_base() { return dos_memory + string_segment_address; }

// Resizes a table of pointers; a failure is the table's critical error.
template <class T>
bool table_resize(T*& table, size_t entries, int32_t error) {
    if (entries > SIZE_MAX / sizeof(T)) {
        error_raise(error);
        return false;
    }
    void* p = std::realloc(table, entries * sizeof(T));
    if (!p) {
        error_raise(error);
        return false;
    }
    table = static_cast<T*>(p);
    return true;
}

bool capacity_double(uint32_t& capacity) {
    if (capacity >= UINT32_MAX / 2) return false;
    capacity *= 2;
    return true;
}

// Doubles the capacity of a table of capacity + extra entries; false after the table's critical error.
template <class T>
bool table_double(T*& table, uint32_t& capacity, uint32_t extra, int32_t error) {
    if (!capacity_double(capacity)) {
        error_raise(error);
        return false;
    }
    return table_resize(table, size_t(capacity) + extra, error);
}

[[gnu::cold]] void descriptor_block_take();

// A blank descriptor, with one flag set when given.
constexpr string_descriptor blank_with(uint8_t string_descriptor::*flag = nullptr) {
    string_descriptor d{};
    if (flag) d.*flag = 1;
    return d;
}

constexpr string_descriptor plain_blank = blank_with();
constexpr string_descriptor read_only_blank = blank_with(&string_descriptor::read_only);
constexpr string_descriptor fixed_blank = blank_with(&string_descriptor::fixed);
constexpr string_descriptor room_blank = blank_with(&string_descriptor::in_room);

// Sets every field to the blank's; the bytes of the room are left as they are, as any text made
// there sets them. A flag goes with the clear's wide stores: the store tests neighbouring flags with
// one load, which waits when its bytes come from a wide store and a later byte store.
void descriptor_clear(string_descriptor* s, const string_descriptor& blank = plain_blank) {
    std::memcpy(s, &blank, offsetof(string_descriptor, room));
}

// A descriptor from the recycle stack, else the next one of the block; its fields are not cleared:
// each maker clears it and sets its own fields together.
string_descriptor* descriptor_take() {
    if (store.recycle_count > 0) return store.recycle[--store.recycle_count];
    if (store.block_used == store.block_size) descriptor_block_take();
    return &store.block[store.block_used++];
}

[[gnu::cold, gnu::noinline]] bool recycle_stack_grow() {
    return table_double(store.recycle, store.recycle_capacity, 0, error_string_recycle_stack);
}

void descriptor_give(string_descriptor* s) {
    uint32_t n = store.recycle_count;
    if (n == store.recycle_capacity && !recycle_stack_grow()) return;
    store.recycle[n] = s;
    store.recycle_count = n + 1;
}

// ---- lists -------------------------------------------------------------------------------------

descriptor_list& list_of(const string_descriptor* s) {
    return s->in_segment ? store.string_segment_list : store.string_heap_list;
}

// Moves a live entry down to the next kept index of a walk that drops the freed entries.
void list_entry_keep(descriptor_list& l, uint32_t& kept, string_descriptor* s) {
    l.entries[kept] = s;
    s->list_slot = static_cast<int32_t>(kept);
    ++kept;
}

void list_compact(descriptor_list& l, int32_t error) {
    uint32_t kept = 0;
    for (uint32_t read = 0; read < l.count; ++read)
        if (string_descriptor* s = l.entries[read]) list_entry_keep(l, kept, s);
    l.count = kept;
    if (l.count >= l.capacity / 2) table_double(l.entries, l.capacity, 1, error);
}

// The slot a new entry of the list gets; the list is compacted first when all its entries are used.
uint32_t list_slot_take(descriptor_list& l, int32_t error) {
    if (l.count > l.capacity) list_compact(l, error);
    return l.count++;
}

int32_t list_error(const string_descriptor* s) {
    return s->in_segment ? error_string_segment_list : error_string_heap_list;
}

void list_register(string_descriptor* s) {
    descriptor_list& l = list_of(s);
    uint32_t slot = list_slot_take(l, list_error(s));
    l.entries[slot] = s;
    s->list_slot = static_cast<int32_t>(slot);
}

// The first live string after the slot, or null.
string_descriptor* list_next_live(const descriptor_list& l, uint32_t slot) {
    for (uint32_t i = slot + 1; i < l.count; ++i)
        if (l.entries[i]) return l.entries[i];
    return nullptr;
}

// ---- temporaries -------------------------------------------------------------------------------

// The store's words are read into locals first: every byte field written through a descriptor
// may alias them, and the compiler would read them again after each.
void temp_register(string_descriptor* s) {
    if (store.string_temp_top > store.temp_capacity) string_temp_list_grow();
    uint32_t top = store.string_temp_top;
    store.string_temp_list[top] = s;
    store.string_temp_top = top + 1;
    s->temp_slot = static_cast<int32_t>(top);
    s->temporary = 1;
}

// Drops the string's temporary entry; the top falls over every freed entry below it. The entry
// below the top is always live (or the top is 1), so only freeing that entry moves the top.
void temp_unregister(string_descriptor* s) {
    string_descriptor** list = store.string_temp_list;
    auto slot = static_cast<uint32_t>(s->temp_slot);
    list[slot] = nullptr;
    s->temp_slot = 0;
    s->temporary = 0;
    if (slot + 1 != store.string_temp_top) return;
    uint32_t top = slot;
    while (top > 1 && !list[top - 1]) --top;
    store.string_temp_top = top;
}

// ---- areas: the heap and the segment -------------------------------------------------------------

uint8_t* area_base(const string_descriptor* s) { return s->in_segment ? segment_base() : store.string_heap; }
size_t& area_top(const string_descriptor* s) { return s->in_segment ? store.string_segment_top : store.string_heap_used; }
size_t area_limit(const string_descriptor* s) { return s->in_segment ? store.string_segment_bottom : store.string_heap_size; }
size_t text_offset(const string_descriptor* s) { return static_cast<size_t>(s->text - area_base(s)); }
size_t text_end(const string_descriptor* s) { return text_offset(s) + static_cast<size_t>(s->length); }
size_t room_offset(const string_descriptor* s) { return static_cast<size_t>(s->text - s->room); }

void area_compact(const string_descriptor* s, size_t request) {
    if (s->in_segment)
        string_segment_compact(request);
    else
        string_heap_compact(request);
}

void segment_entry_write(const string_descriptor* s) {
    uint8_t* e = s->segment_entry;
    auto length = static_cast<uint16_t>(s->length);
    auto offset = static_cast<uint16_t>(s->text - segment_base());
    e[0] = static_cast<uint8_t>(length);
    e[1] = static_cast<uint8_t>(length >> 8);
    e[2] = static_cast<uint8_t>(offset);
    e[3] = static_cast<uint8_t>(offset >> 8);
}

void segment_entry_give(string_descriptor* s, int32_t error) {
    if (store.string_segment_bottom < 4 || store.string_segment_bottom - 4 < store.string_segment_top) {
        error_raise(error);
        return;
    }
    store.string_segment_bottom -= 4;
    s->segment_entry_offset = static_cast<uint16_t>(store.string_segment_bottom);
    s->segment_entry = segment_base() + store.string_segment_bottom;
    segment_entry_write(s);
}

bool inside_segment(const void* address) {
    auto a = reinterpret_cast<uintptr_t>(address);
    auto base = reinterpret_cast<uintptr_t>(segment_base());
    return a > base && a - base < string_segment_size;
}

// Moves the text of every live heap string by the same distance as the block (new_base is the block
// the texts were copied to); offsets are taken while the old block still exists.
void heap_rebase(uint8_t* new_base) {
    const descriptor_list& l = store.string_heap_list;
    for (uint32_t i = 0; i < l.count; ++i)
        if (string_descriptor* s = l.entries[i]) s->text = new_base + (s->text - store.string_heap);
}

// Closes the gaps between the texts and, in the same walk, drops the freed entries of the list, so
// the next compaction walks the live strings and those made since, not every string ever freed.
void heap_gaps_close() {
    descriptor_list& l = store.string_heap_list;
    size_t cursor = 0;
    uint32_t kept = 0;
    for (uint32_t i = 0; i < l.count; ++i) {
        string_descriptor* s = l.entries[i];
        if (!s) continue;
        size_t at = text_offset(s);
        // A gap of up to the growth room stays: the string in front may still grow into it.
        if (at > cursor + string_heap_room) {
            if (s->length > 0) std::memmove(store.string_heap + cursor, s->text, static_cast<size_t>(s->length));
            s->text = store.string_heap + cursor;
            at = cursor;
        }
        cursor = at + static_cast<size_t>(s->length);
        list_entry_keep(l, kept, s);
    }
    l.count = kept;
    store.string_heap_used = cursor;
}

// Grows the block when the heap would be more than about half full after the request.
void heap_grow_for(size_t request) {
    if (request + 2 * store.string_heap_used + string_heap_room < store.string_heap_size) return;
    if (store.string_heap_size > (SIZE_MAX - request) / 2) {
        error_raise(error_string_heap);
        return;
    }
    size_t size = request + 2 * store.string_heap_size;
    auto* fresh = static_cast<uint8_t*>(std::malloc(size));
    if (!fresh) {
        error_raise(error_string_heap);
        return;
    }
    if (store.string_heap_used > 0) std::memcpy(fresh, store.string_heap, store.string_heap_used);
    heap_rebase(fresh);
    std::free(store.string_heap);
    store.string_heap = fresh;
    store.string_heap_size = size;
}

// Gives the target a fresh place of that length at its area's top; the old text is given up first,
// so a compaction may reuse it.
void relocate(string_descriptor* target, size_t length) {
    if (!target->in_room) list_of(target).entries[target->list_slot] = nullptr;
    if (area_top(target) + length > area_limit(target)) area_compact(target, length);
    list_register(target);
    target->in_room = 0;
    size_t& top = area_top(target);
    target->text = area_base(target) + top;
    top += length;
}

// Makes room for a longer text: in place when nothing live follows before the new end (or while
// it fits a descriptor's room), else at the area's top.
void place_longer(string_descriptor* target, size_t length) {
    if (target->in_room) {
        if (room_offset(target) + length > string_room_size) relocate(target, length);
        return;
    }
    descriptor_list& l = list_of(target);
    auto slot = static_cast<uint32_t>(target->list_slot);
    size_t end = text_offset(target) + length;
    if (const string_descriptor* next = list_next_live(l, slot)) {
        if (end > text_offset(next)) relocate(target, length);
        return;
    }
    l.count = slot + 1;
    if (end > area_limit(target)) {
        relocate(target, length);
        return;
    }
    area_top(target) = end;
}

// A temporary whose text the target can take over instead of copying it.
bool takeover_possible(const string_descriptor* target, const string_descriptor* source) {
    return source->temporary && !source->fixed && !source->read_only && !source->in_room &&
           source->in_segment == target->in_segment;
}

string_descriptor* takeover(string_descriptor* target, string_descriptor* source) {
    descriptor_list& l = list_of(target);
    if (!target->in_room) l.entries[target->list_slot] = nullptr;
    target->in_room = 0;
    l.entries[source->list_slot] = target;
    target->list_slot = source->list_slot;
    temp_unregister(source);
    target->text = source->text;
    target->length = source->length;
    descriptor_give(source);
    if (target->segment_entry) segment_entry_write(target);
    return target;
}

void field_detach(string_descriptor* s) {
    if (store.field_hooks.detach) store.field_hooks.detach(s);
    s->field_link = nullptr;
}

void segment_text_release(const string_descriptor* s) {
    descriptor_list& l = store.string_segment_list;
    auto slot = static_cast<uint32_t>(s->list_slot);
    l.entries[slot] = nullptr;
    if (slot + 1 == l.count) --l.count;
}

// The list's count falls over the freed entries at its end, and the heap's top comes back to the
// room behind the last live text.
void heap_text_release(const string_descriptor* s) {
    descriptor_list& l = store.string_heap_list;
    string_descriptor** entries = l.entries;
    entries[s->list_slot] = nullptr;
    uint32_t count = l.count;
    while (count > 0 && !entries[count - 1]) --count;
    l.count = count;
    store.string_heap_used =
        count > 0 ? std::min(text_end(entries[count - 1]) + string_heap_room, store.string_heap_size) : 0;
}

// string_free, inlined into the store's own operations: most of them free a temporary on the way.
[[gnu::always_inline]] inline void free_string(string_descriptor* s) {
    if (s->permanent) return;
    if (s->field_link) field_detach(s);
    if (s->temp_slot != 0) temp_unregister(s);
    // The texts of fixed and read-only strings do not belong to the store; a room is no area's.
    if (!s->fixed && !s->read_only && !s->in_room) {
        if (s->in_segment)
            segment_text_release(s);
        else
            heap_text_release(s);
    }
    descriptor_give(s);
}

// Where a disposable temporary's text may grow to without touching another live text: the heap's
// top when it is the last heap string, or the start of b when b is the next and last heap string
// and a disposable temporary too (the join frees it). 0 when it may not grow in place.
size_t join_room_end(const string_descriptor* a, const string_descriptor* b) {
    if (a == b || !string_disposable(a)) return 0;
    uint32_t next = static_cast<uint32_t>(a->list_slot) + 1;
    uint32_t count = store.string_heap_list.count;
    if (next == count) return store.string_heap_used;
    if (string_disposable(b) && static_cast<uint32_t>(b->list_slot) == next && next + 1 == count) return text_offset(b);
    return 0;
}

// a may take b's bytes behind its own text: no copy of a, no new string.
bool joins_in_place(const string_descriptor* a, const string_descriptor* b, size_t length) {
    if (a->in_room) return a != b && room_offset(a) + length <= string_room_size;
    return text_offset(a) + length <= join_room_end(a, b);
}

string_descriptor* joined_in_place(string_descriptor* a, string_descriptor* b) {
    string_bytes_move(a->text + a->length, b->text, static_cast<size_t>(b->length));
    a->length += b->length;
    if (b->temporary) free_string(b);
    return a;
}

string_descriptor* assign_end(string_descriptor* target, string_descriptor* source) {
    if (source->temporary) free_string(source);
    if (target->segment_entry) segment_entry_write(target);
    return target;
}

string_descriptor* read_only_made(const void* text, int32_t length) {
    string_descriptor* s = descriptor_take();
    descriptor_clear(s, read_only_blank);
    s->text = text ? static_cast<uint8_t*>(const_cast<void*>(text)) : empty_text;
    s->length = text ? std::max(length, 0) : 0;
    temp_register(s);
    return s;
}

void descriptor_block_take() {
    auto* block = new (std::nothrow) string_descriptor[store.block_size]();
    if (!block) {
        error_raise(error_string_recycle_stack);
        return;
    }
    store.blocks.push_back(block);
    store.block = block;
    store.block_used = 0;
}

void store_release() {
    for (string_descriptor* b : store.blocks) delete[] b;
    store.blocks.clear();
    std::free(store.recycle);
    std::free(store.string_heap);
    std::free(store.string_heap_list.entries);
    std::free(store.string_segment_list.entries);
    std::free(store.string_temp_list);
    store = string_store{};
}

void list_make(descriptor_list& l, uint32_t capacity, int32_t error) {
    l.capacity = std::max(capacity, 1u);
    l.count = 0;
    table_resize(l.entries, size_t(l.capacity) + 1, error);
}

// The tables and the heap exist before any string is made.
struct store_maker {
    store_maker() { string_store_reset(); }
} maker;

}  // namespace

// ---- descriptors ---------------------------------------------------------------------------------

string_descriptor* string_descriptor_alloc() {
    string_descriptor* s = descriptor_take();
    descriptor_clear(s);
    return s;
}

void string_descriptor_recycle(string_descriptor* s) { descriptor_give(s); }

// ---- making strings ------------------------------------------------------------------------------

string_descriptor* string_new(uint32_t length, uint8_t temporary) {
    if (length > string_length_max) {
        error_raise(error_string_heap);
        length = 0;
    }
    size_t reserve = size_t(length) + string_heap_room;
    if (store.string_heap_used + reserve > store.string_heap_size) string_heap_compact(reserve);
    string_descriptor* s = descriptor_take();
    uint8_t* text = store.string_heap + store.string_heap_used;
    store.string_heap_used += reserve;
    descriptor_list& l = store.string_heap_list;
    uint32_t slot = list_slot_take(l, error_string_heap_list);
    l.entries[slot] = s;
    descriptor_clear(s);
    s->text = text;
    s->length = static_cast<int32_t>(length);
    s->list_slot = static_cast<int32_t>(slot);
    if (temporary) temp_register(s);
    return s;
}

string_descriptor* string_temp_new(uint32_t length) {
    if (length > string_room_size) return string_new(length, 1);
    string_descriptor* s = descriptor_take();
    descriptor_clear(s, room_blank);
    s->text = s->room;
    s->length = static_cast<int32_t>(length);
    temp_register(s);
    return s;
}

string_descriptor* string_temp_copy(string_descriptor* s, uint32_t from, uint32_t n) {
    string_descriptor* r = string_temp_new(n);
    // Making the copy may have moved every heap text: s->text is read only now.
    string_bytes_move(r->text, s->text + from, n);
    if (s->temporary) free_string(s);
    return r;
}

string_descriptor* string_segment_new(uint32_t length, uint8_t temporary) {
    if (store.string_segment_top + length > store.string_segment_bottom) string_segment_compact(length);
    string_descriptor* s = string_descriptor_alloc();
    s->length = static_cast<int32_t>(length);
    s->text = segment_base() + store.string_segment_top;
    store.string_segment_top += length;
    s->in_segment = 1;
    list_register(s);
    if (temporary)
        temp_register(s);
    else
        segment_entry_give(s, error_string_segment_entry);
    return s;
}

string_descriptor* string_from_literal(const void* text, int32_t length) { return read_only_made(text, length); }

string_descriptor* string_from_cstring(const char* text) {
    size_t n = text ? std::strlen(text) : 0;
    return read_only_made(text, static_cast<int32_t>(std::min<size_t>(n, string_length_max)));
}

string_descriptor* string_fixed_view(void* address, int32_t length, uint8_t temporary) {
    string_descriptor* s = descriptor_take();
    descriptor_clear(s, fixed_blank);
    s->text = address ? static_cast<uint8_t*>(address) : empty_text;
    s->length = address ? std::max(length, 0) : 0;
    if (temporary)
        temp_register(s);
    else if (inside_segment(address))
        segment_entry_give(s, error_string_view_entry);
    return s;
}

string_descriptor* string_temp_from_bytes(const void* bytes, size_t n) {
    // An oversized request reaches string_new, which raises the heap error and gives an empty string.
    string_descriptor* s = string_new(static_cast<uint32_t>(std::min<size_t>(n, UINT32_MAX)), 1);
    if (s->length > 0) std::memcpy(s->text, bytes, static_cast<size_t>(s->length));
    return s;
}

string_descriptor* string_make_temp(string_descriptor* s) {
    if (!s->temporary && !s->permanent) temp_register(s);
    return s;
}

// ---- assigning, joining, freeing -----------------------------------------------------------------

void string_fill_left(string_descriptor* target, const string_descriptor* source) {
    auto n = static_cast<size_t>(std::min(source->length, target->length));
    if (n > 0) std::memmove(target->text, source->text, n);
    std::memset(target->text + n, ' ', static_cast<size_t>(target->length) - n);
}

namespace {

// Most assignments copy a string that is no temporary into the target's own place: the
// target keeps its place and list entry, there is nothing to take over or free and no entry to
// rewrite, as the general way would find step by step.
bool assign_copies_in_place(const string_descriptor* target, const string_descriptor* source) {
    return !target->fixed && !target->read_only && !target->permanent && !target->segment_entry &&
           !source->temporary && source->length <= target->length;
}

[[gnu::noinline]] string_descriptor* assign_general(string_descriptor* target, string_descriptor* source) {
    if (target == source) return target;
    // Constant and permanent strings are never written.
    if (target->read_only || target->permanent) return assign_end(target, source);
    if (target->fixed) {
        string_fill_left(target, source);
        return assign_end(target, source);
    }
    if (takeover_possible(target, source)) return takeover(target, source);
    auto length = static_cast<size_t>(source->length);
    if (source->length > target->length) place_longer(target, length);
    // Placing may have compacted or grown the area: the source's text is read only now.
    string_bytes_move(target->text, source->text, length);
    target->length = source->length;
    return assign_end(target, source);
}

}  // namespace

string_descriptor* string_assign_always(string_descriptor* target, string_descriptor* source) {
    if (!assign_copies_in_place(target, source)) return assign_general(target, source);
    // One character is the most common text of all; up to two words go without a library call.
    auto length = static_cast<uint32_t>(source->length);
    if (length == 1)
        target->text[0] = source->text[0];
    else if (length <= string_short_move_max)
        string_bytes_move_short(target->text, source->text, length);
    else
        return assign_general(target, source);
    target->length = static_cast<int32_t>(length);
    return target;
}

string_descriptor* string_assign(string_descriptor* target, string_descriptor* source) {
    if (!error_pending()) [[likely]]
        return string_assign_always(target, source);
    // A temporary passed as its own target is the target: it stays for the statement's release.
    if (source != target && source->temporary) free_string(source);
    return target;
}

string_descriptor* string_concat(string_descriptor* a, string_descriptor* b) {
    if (b->length == 0) return a;
    if (a->length == 0) return b;
    int64_t length = int64_t(a->length) + b->length;
    if (length > string_length_max) {
        error_raise(error_string_heap);
        return a;
    }
    if (joins_in_place(a, b, static_cast<size_t>(length))) return joined_in_place(a, b);
    string_descriptor* r = string_new(static_cast<uint32_t>(length), 1);
    string_bytes_move(r->text, a->text, static_cast<size_t>(a->length));
    string_bytes_move(r->text + a->length, b->text, static_cast<size_t>(b->length));
    if (a->temporary) free_string(a);
    if (b != a && b->temporary) free_string(b);  // one temporary passed twice is freed once
    return r;
}

void string_free(string_descriptor* s) { free_string(s); }

void string_swap(string_descriptor* a, string_descriptor* b) {
    if (error_pending()) return;
    string_descriptor* w = string_new(static_cast<uint32_t>(a->length), 0);
    if (a->length > 0) std::memcpy(w->text, a->text, static_cast<size_t>(a->length));
    string_assign_always(a, b);
    string_assign_always(b, w);
    string_free(w);
}

// ---- temporaries ---------------------------------------------------------------------------------

uint32_t string_temp_top() { return store.string_temp_top; }

namespace {

// Frees every temporary registered at or above the floor and hands the value through. Freeing the
// entry below the top lowers the top over it and over every freed entry below it.
[[gnu::noinline]] int32_t temps_free_down_to(uint32_t floor, int32_t value) {
    while (store.string_temp_top > floor) {
        if (string_descriptor* s = store.string_temp_list[store.string_temp_top - 1])
            free_string(s);
        else
            --store.string_temp_top;
    }
    return value;
}

}  // namespace

int32_t string_temps_release(uint32_t mark, int32_t value) {
    // Entry 0 is never used: nothing lies below 1. Most statements have freed their temporaries on
    // the way, and then the check alone runs, saving no registers.
    uint32_t floor = std::max(mark, 1u);
    if (store.string_temp_top <= floor) return value;
    return temps_free_down_to(floor, value);
}

void string_temp_list_grow() {
    if (store.string_temp_top >= store.temp_capacity / 2)
        table_double(store.string_temp_list, store.temp_capacity, 1, error_string_temp_list);
}

uint32_t string_segment_bottom() { return store.string_segment_bottom; }

void string_segment_bottom_restore(uint32_t bottom) {
    store.string_segment_bottom = std::min(bottom, string_segment_size - segment_reserved);
}

// ---- compaction ----------------------------------------------------------------------------------

void string_heap_compact(size_t request) {
    ++store.heap_compactions;
    heap_gaps_close();
    heap_grow_for(request);
}

void string_segment_compact(size_t request) {
    ++store.segment_compactions;
    const descriptor_list& l = store.string_segment_list;
    size_t cursor = string_segment_text_start;
    for (uint32_t i = 0; i < l.count; ++i) {
        string_descriptor* s = l.entries[i];
        if (!s) continue;
        if (text_offset(s) != cursor) {
            if (s->length > 0) std::memmove(segment_base() + cursor, s->text, static_cast<size_t>(s->length));
            s->text = segment_base() + cursor;
            if (s->segment_entry) segment_entry_write(s);
        }
        cursor += static_cast<size_t>(s->length);
    }
    store.string_segment_top = cursor;
    if (store.string_segment_top + request > store.string_segment_bottom) error_raise(error_string_segment_full);
}

void string_heap_list_compact() { list_compact(store.string_heap_list, error_string_heap_list); }
void string_segment_list_compact() { list_compact(store.string_segment_list, error_string_segment_list); }

// ---- start-up ------------------------------------------------------------------------------------

void string_segment_init() {
    store.string_segment_bottom -= segment_reserved;
    std::memset(segment_base() + store.string_segment_bottom, 0, segment_reserved);
    string_empty = string_segment_new(0, 0);
    string_empty->permanent = 1;
    string_space = string_segment_new(1, 0);
    string_space->text[0] = ' ';
    string_space->permanent = 1;
}

void startup_strings_make(const std::string& command_line) {
    // The message keeps its terminating zero: the interpreter fills in the opcode and hands it on.
    static const char unknown_opcode[] = "Unknown Opcode (  )";
    x86_error_message = string_new(0, 0);
    string_assign_always(x86_error_message, string_from_literal(unknown_opcode, sizeof unknown_opcode));
    command_line_string = string_new(static_cast<uint32_t>(command_line.size()), 0);
    if (!command_line.empty()) std::memcpy(command_line_string->text, command_line.data(), command_line.size());
}

// ---- record fields -------------------------------------------------------------------------------

void string_field_hooks_set(const string_field_hooks& hooks) { store.field_hooks = hooks; }

void string_field_assign(string_descriptor* s) {
    if (store.field_hooks.assign)
        store.field_hooks.assign(s);
    else
        s->field_link = nullptr;
}

// ---- tests ---------------------------------------------------------------------------------------

void string_store_reset(const string_store_sizes& sizes) {
    string_field_hooks hooks = store.field_hooks;
    store_release();
    store.field_hooks = hooks;
    string_empty = string_space = command_line_string = x86_error_message = nullptr;
    store.block_size = std::max(sizes.descriptor_block, 1u);
    store.block_used = store.block_size;  // the first alloc takes the first block
    descriptor_block_take();
    store.recycle_capacity = std::max(sizes.recycle_capacity, 1u);
    table_resize(store.recycle, store.recycle_capacity, error_string_recycle_stack);
    list_make(store.string_heap_list, sizes.list_capacity, error_string_heap_list);
    list_make(store.string_segment_list, sizes.list_capacity, error_string_segment_list);
    store.temp_capacity = std::max(sizes.temp_capacity, 1u);
    store.string_temp_list = static_cast<string_descriptor**>(std::calloc(size_t(store.temp_capacity) + 1, sizeof(void*)));
    if (!store.string_temp_list) error_raise(error_string_temp_list);
    store.string_heap_size = std::max<size_t>(sizes.heap_size, string_heap_room);
    store.string_heap = static_cast<uint8_t*>(std::malloc(store.string_heap_size));
    if (!store.string_heap) error_raise(error_string_heap);
}

string_store_stats string_store_stats_get() {
    return {store.string_heap_size,
            store.string_heap_used,
            store.string_heap_list.count,
            store.string_heap_list.capacity,
            static_cast<uint32_t>(store.string_segment_top),
            store.string_segment_bottom,
            store.string_segment_list.count,
            store.string_segment_list.capacity,
            store.string_temp_top,
            store.temp_capacity,
            store.recycle_count,
            store.heap_compactions,
            store.segment_compactions};
}

namespace {

std::string list_verify(const descriptor_list& l, bool segment, const std::unordered_set<const void*>& recycled) {
    size_t floor = segment ? string_segment_text_start : 0;
    size_t top = segment ? store.string_segment_top : store.string_heap_used;
    auto fault = [segment](uint32_t i, const char* what) {
        return std::string(segment ? "segment" : "heap") + " entry " + std::to_string(i) + ": " + what;
    };
    if (l.count > l.capacity + 1) return fault(l.count, "count beyond the entries");
    for (uint32_t i = 0; i < l.count; ++i) {
        const string_descriptor* s = l.entries[i];
        if (!s) continue;
        if (recycled.count(s)) return fault(i, "descriptor is on the recycle stack");
        if (s->list_slot != static_cast<int32_t>(i)) return fault(i, "list_slot does not point back");
        if (s->in_segment != segment || s->fixed || s->read_only || s->in_room) return fault(i, "wrong kind of string");
        if (s->length < 0) return fault(i, "negative length");
        size_t offset = text_offset(s);
        // floor: the area's start, then the end of the text before (list order is address order)
        if (offset < floor) return fault(i, "text overlaps the one before or lies below the area");
        if (offset + static_cast<size_t>(s->length) > top) return fault(i, "text beyond the area's top");
        floor = offset + static_cast<size_t>(s->length);
        if (s->temporary && (s->temp_slot <= 0 || static_cast<uint32_t>(s->temp_slot) >= store.string_temp_top ||
                             store.string_temp_list[s->temp_slot] != s))
            return fault(i, "temporary without its entry");
        if (s->segment_entry) {
            const uint8_t* e = s->segment_entry;
            if (s->segment_entry != segment_base() + s->segment_entry_offset) return fault(i, "entry offset differs");
            if ((e[0] | e[1] << 8) != (s->length & 0xFFFF) || (e[2] | e[3] << 8) != static_cast<int>(offset))
                return fault(i, "4-byte entry does not read back");
        }
    }
    return "";
}

}  // namespace

std::string string_store_verify() {
    std::unordered_set<const void*> recycled(store.recycle, store.recycle + store.recycle_count);
    if (recycled.size() != store.recycle_count) return "a descriptor is on the recycle stack twice";
    if (store.string_heap_used > store.string_heap_size) return "heap used beyond its size";
    if (store.string_segment_top > store.string_segment_bottom) return "segment top above its bottom";
    for (const bool segment : {false, true}) {
        std::string fault = list_verify(segment ? store.string_segment_list : store.string_heap_list, segment, recycled);
        if (!fault.empty()) return fault;
    }
    if (store.string_temp_top > 1 && !store.string_temp_list[store.string_temp_top - 1])
        return "the entry below the temporary top is free";
    for (uint32_t i = 1; i < store.string_temp_top; ++i) {
        const string_descriptor* s = store.string_temp_list[i];
        if (!s) continue;
        if (recycled.count(s)) return "temporary entry " + std::to_string(i) + " is recycled";
        if (!s->temporary || s->temp_slot != static_cast<int32_t>(i))
            return "temporary entry " + std::to_string(i) + " does not point back";
        if (s->in_room && (s->in_segment || s->fixed || s->read_only || s->text < s->room || s->length < 0 ||
                           room_offset(s) + static_cast<size_t>(s->length) > string_room_size))
            return "temporary entry " + std::to_string(i) + " lies outside its room";
    }
    return "";
}
