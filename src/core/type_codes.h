// How translated code describes its variables to the runtime: the 32-bit type code of a variable that
// an item is read into, and the header of an array. Translated code includes this header and writes
// both; the runtime only reads them. Not here: reading items (data_items.h, file_items.h), the
// keyboard line editor.
#pragma once

#include <cstddef>
#include <cstdint>

// Size in bits (8, 16, 32 or 64 for integers, 32 or 64 for floats, 256 for the 32-byte extended
// slot) and flags.
using variable_type_code = uint32_t;
enum : uint32_t {
    type_code_size_mask = 0x1FF,
    type_code_whole_line = 0x200,       // with type_code_string: commas and quotes belong to the text
    type_code_not_stored = 0x1000000,   // the line editor neither clears nor writes the variable
    type_code_unsigned = 0x10000000,
    type_code_float = 0x20000000,
    type_code_string = 0x40000000,
};

constexpr uint32_t type_code_size(variable_type_code t) { return t & type_code_size_mask; }
constexpr bool type_code_is_string(variable_type_code t) { return (t & type_code_string) != 0; }
constexpr bool type_code_is_float(variable_type_code t) { return !type_code_is_string(t) && (t & type_code_float) != 0; }
constexpr bool type_code_is_integer(variable_type_code t) { return (t & (type_code_string | type_code_float)) == 0; }
constexpr bool type_code_is_unsigned(variable_type_code t) { return (t & type_code_unsigned) != 0; }

// One dimension of an array: its lowest index and its number of elements.
struct array_dimension {
    int32_t lower_bound;
    int32_t count;
    int32_t reserved[2];
};

enum : int32_t { array_allocated = 1 };  // bit of array_descriptor::flags: dimensioned

// The header of an array; one array_dimension per dimension follows it, the last dimension first.
// The number of dimensions is not stored: translated code passes it with each call. The header is
// padded to 24 bytes so that the dimensions after the 64-bit data pointer stay 8-byte aligned.
struct array_descriptor {
    void* data;
    int32_t reserved_1;
    int32_t flags;
    int32_t reserved_2;
    int32_t reserved_3;
};

// An array header with room for n dimensions, as translated code lays it out.
template <int n>
struct array_descriptor_of {
    array_descriptor header;
    array_dimension dimensions[n];
};

static_assert(offsetof(array_descriptor, data) == 0);
static_assert(offsetof(array_descriptor, flags) == 12);
static_assert(sizeof(array_descriptor) == 24);
static_assert(sizeof(array_dimension) == 16);
static_assert(offsetof(array_dimension, count) == 4);
static_assert(offsetof(array_descriptor_of<1>, dimensions) == sizeof(array_descriptor));

// Lowest and highest index of dimension d (1-based) of an n-dimensional array. A dimension outside
// 1..n or an array that is not dimensioned is error 9 and gives 0; a highest index beyond the 32-bit
// range is error 6 and gives 0. Both answer while an error is pending.
int32_t array_lower_bound(const array_descriptor* a, int32_t d, int32_t n);
int32_t array_upper_bound(const array_descriptor* a, int32_t d, int32_t n);
