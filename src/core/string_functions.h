// The language's string functions: case conversion, character codes, left, right and middle parts,
// trimming, repetition, searching, the aligned stores into fixed-length strings, overwriting part of
// a string, the six comparisons and the exchange of two memory areas.
// Functions that build a string from a string argument consume a temporary argument: a disposable
// one (a temporary nobody else refers to) is changed in place and returned, any other temporary is
// copied (a short copy into its descriptor's room) and freed. Starts and counts out of range are clamped, never read past a text.
// Truth values are -1 and 0. The string-valued functions run while an error is pending; the
// statements return at once then, and string_assign stores nothing.
#pragma once

#include <cstdint>

#include "core/strings.h"

string_descriptor* string_to_upper(string_descriptor* s);
string_descriptor* string_to_lower(string_descriptor* s);
// A 1-byte string; a code outside 0-255 is error 5 and gives the empty string.
string_descriptor* string_from_char_code(int32_t code);
// The 3-byte variable reference: the type byte, then the offset's low and high bytes.
string_descriptor* string_variable_reference(uint8_t type, uint16_t offset);
string_descriptor* string_left(string_descriptor* s, int32_t n);
string_descriptor* string_right(string_descriptor* s, int32_t n);
// count bytes from start (1-based), or the rest of s when no count is given.
string_descriptor* string_mid(string_descriptor* s, int32_t start, int32_t count, int32_t count_given);
string_descriptor* string_trim_left(string_descriptor* s);
string_descriptor* string_trim_right(string_descriptor* s);
string_descriptor* string_spaces(int32_t n);
// n copies of the low byte of code.
string_descriptor* string_repeat_byte(int32_t n, int32_t code);

// Statements: the target keeps its length; the source is not freed.
void string_set_left(string_descriptor* target, string_descriptor* source);
void string_set_right(string_descriptor* target, string_descriptor* source);
void string_mid_overwrite(string_descriptor* target, int32_t start, int32_t count, string_descriptor* source,
                          int32_t count_given);

// Numeric functions: they never free their arguments.
// 1-based position of pattern in s at or after start, or 0.
int32_t string_find(int32_t start, string_descriptor* s, string_descriptor* pattern, int32_t start_given);
int32_t string_equal(string_descriptor* a, string_descriptor* b);
int32_t string_not_equal(string_descriptor* a, string_descriptor* b);
int32_t string_greater(string_descriptor* a, string_descriptor* b);
int32_t string_less(string_descriptor* a, string_descriptor* b);
int32_t string_less_equal(string_descriptor* a, string_descriptor* b);
int32_t string_greater_equal(string_descriptor* a, string_descriptor* b);
// The byte at a 1-based position; outside the text error 5 and 0.
int32_t string_char_code_at(string_descriptor* s, int32_t position);
// The first byte; error 5 and 0 for the empty string.
int32_t string_char_code(string_descriptor* s);
int32_t string_length(string_descriptor* s);

// SWAP of numbers: exchanges n bytes between two areas; nothing while an error is pending, as a LET.
void memory_swap(void* a, void* b, uint32_t n);
