// The string store: descriptors, the growable heap, the 64 KB segment inside emulated memory, the
// room in which a short temporary keeps its text, and the register of temporaries that each
// statement releases. Texts are plain bytes, never terminated.
// It gives the basic operations (make, assign, join, free, swap); the string functions that build on
// them live in core/string_functions. Program thread only; no locks. Only the stores of LET and SWAP
// (string_assign, string_swap) look at the pending error; the other operations work while one is
// pending.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

// Binds a string to a record field of a random-access file; owned by the file layer.
struct field_link;

// Bytes of text a short temporary keeps inside its own descriptor.
constexpr uint32_t string_room_size = 32;

// One string. Nothing may depend on the record's size or layout: translated code and emulated
// programs see only the fields, and emulated programs only the 4-byte segment entries.
struct string_descriptor {
    uint8_t* text;                   // first byte; not terminated
    int32_t length;                  // bytes
    uint8_t in_segment;              // the text lives in the string segment
    uint8_t* segment_entry;          // the 4-byte entry in emulated memory, or null
    uint16_t segment_entry_offset;   // offset of that entry within the segment
    int32_t list_slot;               // index in the heap list or the segment list
    uint8_t temporary;               // registered in the temporary list
    int32_t temp_slot;               // index there; 0 when not registered
    uint8_t fixed;                   // fixed length; the store does not own the text
    uint8_t read_only;               // over constant text: never written or released
    struct field_link* field_link;   // record-field binding, or null
    uint8_t permanent;               // string_empty and string_space: never freed
    uint8_t in_room;                 // the text lives in room: a short temporary, in no list
    uint8_t room[string_room_size];
};

// The segment: 64 KB of emulated memory at linear address 0x500 (segment 0x50).
constexpr uint32_t string_segment_address = 0x500;
constexpr uint32_t string_segment_size = 65536;
constexpr uint32_t string_segment_text_start = 256;
// Room a new heap string keeps behind its text to grow in place.
constexpr uint32_t string_heap_room = 32;
// The longest text a string can hold; a longer request is the heap's out-of-memory error.
constexpr int64_t string_length_max = INT32_MAX;

// Permanent strings made at start-up.
extern string_descriptor* string_empty;         // segment string of length 0
extern string_descriptor* string_space;         // segment string holding one blank
extern string_descriptor* command_line_string;  // heap string: the arguments joined by blanks
extern string_descriptor* x86_error_message;    // heap string "Unknown Opcode (  )" and a NUL

string_descriptor* string_descriptor_alloc();
void string_descriptor_recycle(string_descriptor* s);

// A new heap string of that length (text not initialised), temporary when the flag is non-zero.
string_descriptor* string_new(uint32_t length, uint8_t temporary);
// A new temporary of that length (text not initialised): a short one keeps its text in its own
// descriptor, which costs no heap place and no list entry; an assignment copies it, since a
// descriptor's room cannot be taken over. A longer one is a heap string.
string_descriptor* string_temp_new(uint32_t length);
// A new temporary holding n bytes of s from byte `from` (0-based, inside the text); a temporary s
// is consumed.
string_descriptor* string_temp_copy(string_descriptor* s, uint32_t from, uint32_t n);
// A new segment string; a non-temporary one gets its 4-byte entry.
string_descriptor* string_segment_new(uint32_t length, uint8_t temporary);
// Temporary read-only strings over constant bytes (a negative length counts as 0).
string_descriptor* string_from_literal(const void* text, int32_t length);
string_descriptor* string_from_cstring(const char* text);  // null gives the empty text
// A fixed-length string over existing memory; inside the segment a non-temporary view gets an entry.
string_descriptor* string_fixed_view(void* address, int32_t length, uint8_t temporary);
// A temporary nobody else refers to, on the heap or in its room: it may be changed in place and
// returned.
inline bool string_disposable(const string_descriptor* s) {
    return s->temporary && !s->fixed && !s->read_only && !s->in_segment;
}
// n bytes (from one to two words' worth) read as a first and a last word, possibly overlapping,
// then written: the source is read whole before anything is written.
template <class Word>
inline void string_bytes_move_words(uint8_t* to, const uint8_t* from, size_t n) {
    Word head, tail;
    std::memcpy(&head, from, sizeof head);
    std::memcpy(&tail, from + n - sizeof tail, sizeof tail);
    std::memcpy(to, &head, sizeof head);
    std::memcpy(to + n - sizeof tail, &tail, sizeof tail);
}
// The most bytes string_bytes_move_short moves.
constexpr size_t string_short_move_max = 2 * sizeof(uint64_t);
// Moves up to string_short_move_max bytes, read whole in at most two words, then written, without
// a library call; the two texts may overlap.
inline void string_bytes_move_short(uint8_t* to, const uint8_t* from, size_t n) {
    if (n >= sizeof(uint64_t)) {
        string_bytes_move_words<uint64_t>(to, from, n);
    } else if (n >= sizeof(uint32_t)) {
        string_bytes_move_words<uint32_t>(to, from, n);
    } else if (n > 0) {
        uint8_t first = from[0], middle = from[n / 2], last = from[n - 1];
        to[0] = first;
        to[n / 2] = middle;
        to[n - 1] = last;
    }
}
// Moves n bytes from one text to another; the two may overlap. Most texts of a statement are a
// few bytes long: those take the short move.
inline void string_bytes_move(uint8_t* to, const uint8_t* from, size_t n) {
    if (n > string_short_move_max)
        std::memmove(to, from, n);
    else
        string_bytes_move_short(to, from, n);
}
// The text of a string as a view, valid while the string is neither changed nor freed.
inline std::string_view string_text_view(const string_descriptor* s) {
    return {reinterpret_cast<const char*>(s->text), static_cast<size_t>(s->length)};
}
// A new temporary heap string holding a copy of n bytes.
string_descriptor* string_temp_from_bytes(const void* bytes, size_t n);
inline string_descriptor* string_temp_from_text(std::string_view text) {
    return string_temp_from_bytes(text.data(), text.size());
}
// Registers an existing string as temporary (a string already registered stays as it is).
string_descriptor* string_make_temp(string_descriptor* s);

// LET: target = source, unless an error is pending: the statement ends at its error, so the target
// keeps its value. A temporary source is consumed either way. Returns the target.
string_descriptor* string_assign(string_descriptor* target, string_descriptor* source);
// target = source also while an error is pending: the runtime's own stores (what INPUT, READ and
// the file reads hand their targets, the texts it keeps). Consumes a temporary source.
string_descriptor* string_assign_always(string_descriptor* target, string_descriptor* source);
// a followed by b; consumes temporary operands. An empty operand gives the other one back itself.
string_descriptor* string_concat(string_descriptor* a, string_descriptor* b);
void string_free(string_descriptor* s);
// SWAP: exchanges the values of two string variables (fixed-length ones are padded or cut); nothing
// while an error is pending, as a LET.
void string_swap(string_descriptor* a, string_descriptor* b);

// The statement protocol: a routine keeps string_temp_top() as its mark; each statement that made
// temporaries ends with string_temps_release(mark, value), which frees every temporary registered
// at or above the mark and hands the value through.
uint32_t string_temp_top();
int32_t string_temps_release(uint32_t mark, int32_t value);

// A routine that gives its segment strings 4-byte entries saves the bottom when it starts and
// restores it when it ends; that is how entries are given back.
uint32_t string_segment_bottom();
void string_segment_bottom_restore(uint32_t bottom);

// Compaction and growth; the store runs them itself when an area runs out of room. The heap's
// compaction also drops the heap list's freed entries (the list's order stays).
// Rare: kept out of line, so the makers that may call them save no registers on their common way.
[[gnu::cold]] void string_heap_compact(size_t request);
[[gnu::cold]] void string_segment_compact(size_t request);
void string_heap_list_compact();
void string_segment_list_compact();
[[gnu::cold]] void string_temp_list_grow();

// Start-up: the string segment at emulated address 0x500 with string_empty and string_space.
void string_segment_init();
// Start-up: x86_error_message and command_line_string.
void startup_strings_make(const std::string& command_line);

// The file layer's record-field calls: string_free detaches a bound string, the aligned stores
// write a bound string through to its field. Without hooks a binding is simply dropped.
struct string_field_hooks {
    void (*detach)(string_descriptor* s) = nullptr;
    void (*assign)(string_descriptor* s) = nullptr;
};
void string_field_hooks_set(const string_field_hooks& hooks);
// Writes a bound string's value through to its record field.
void string_field_assign(string_descriptor* s);

// Left-aligned store into the target's text: as many source bytes as fit, blanks after; the
// target's length never changes. The fixed-length assignment and the aligned store share it.
void string_fill_left(string_descriptor* target, const string_descriptor* source);

// Tests and benchmarks: rebuild an empty store with the given sizes (everything made before is
// gone; string_segment_init makes the permanent strings again).
struct string_store_sizes {
    size_t heap_size = 1048576;
    uint32_t list_capacity = 65535;      // heap and segment lists hold capacity + 1 entries
    uint32_t temp_capacity = 65535;
    uint32_t recycle_capacity = 65536;
    uint32_t descriptor_block = 65536;
};
void string_store_reset(const string_store_sizes& sizes = {});

struct string_store_stats {
    size_t heap_size, heap_used;
    uint32_t heap_list_count, heap_list_capacity;
    uint32_t segment_top, segment_bottom, segment_list_count, segment_list_capacity;
    uint32_t temp_top, temp_capacity;
    uint32_t recycled;  // descriptors waiting on the recycle stack
    uint32_t heap_compactions, segment_compactions;
};
string_store_stats string_store_stats_get();
// Walks the store and answers the first broken invariant, or an empty text: list slots point back,
// texts lie inside their area in list order without overlap, segment entries read back, temporary
// slots are consistent, texts kept in a descriptor lie inside its room, and no live descriptor waits
// on the recycle stack.
std::string string_store_verify();
