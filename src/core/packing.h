// Numbers packed into short strings of their bytes and read back from the first bytes of a string:
// integers and IEEE values little-endian, the 32-byte extended form, the classic binary floating
// format of older interpreters (MBF) and bit fields of 1 to 64 bits. Packed results are new
// temporary heap strings; no function frees its argument or looks at a pending error.
// Not here: record fields and binary files, which store these strings.
#pragma once

#include <cstdint>

#include "core/strings.h"

string_descriptor* pack_int8(int32_t value);   // low 8 bits
string_descriptor* pack_uint8(uint32_t value);
string_descriptor* pack_int16(int32_t value);  // low 16 bits
string_descriptor* pack_uint16(uint32_t value);
string_descriptor* pack_int32(int32_t value);
string_descriptor* pack_uint32(uint32_t value);
string_descriptor* pack_int64(int64_t value);
string_descriptor* pack_uint64(uint64_t value);
string_descriptor* pack_single(float value);
string_descriptor* pack_double(double value);
// 32 bytes: the 10 bytes of the x87 extended value, then zeros.
string_descriptor* pack_float80(long double value);
// MBF: a value beyond the format's range (infinities and NaN too) is error 5 and gives the empty
// string; zero of either sign and magnitudes below the range pack as MBF zero.
string_descriptor* pack_mbf_single(float value);
string_descriptor* pack_mbf_double(double value);
// The n low bits (1..64) in (n + 7) / 8 bytes; another n is error 5 and gives the empty string.
string_descriptor* pack_ubits(int32_t n, uint64_t value);
string_descriptor* pack_bits(int32_t n, int64_t value);

// A string shorter than the form is error 5 and gives 0. The integers come zero-extended: the
// caller stores them as signed or unsigned.
int32_t unpack_int8(const string_descriptor* s);
int32_t unpack_uint8(const string_descriptor* s);
int32_t unpack_int16(const string_descriptor* s);
int32_t unpack_uint16(const string_descriptor* s);
int32_t unpack_int32(const string_descriptor* s);
uint32_t unpack_uint32(const string_descriptor* s);
int64_t unpack_int64(const string_descriptor* s);
uint64_t unpack_uint64(const string_descriptor* s);
float unpack_single(const string_descriptor* s);
double unpack_double(const string_descriptor* s);
long double unpack_float80(const string_descriptor* s);  // needs all 32 bytes; reads bytes 0-9
float unpack_mbf_single(const string_descriptor* s);
// The 3 lowest MBF fraction bits, which a double cannot hold, are dropped.
double unpack_mbf_double(const string_descriptor* s);
// The n-bit field (n in 1..64, else error 5 and 0), zero- or sign-extended from bit n - 1.
uint64_t unpack_ubits(int32_t n, const string_descriptor* s);
int64_t unpack_bits(int32_t n, const string_descriptor* s);

// The MBF converters: 0 for success, 1 for a refusal (a value beyond the MBF range) or, from
// mbf_double_to_ieee, for dropped fraction bits that were not all zero (the result holds the
// value with them dropped).
int32_t mbf_single_to_ieee(const uint8_t* source, uint8_t* destination);
int32_t ieee_single_to_mbf(const uint8_t* source, uint8_t* destination);
int32_t mbf_double_to_ieee(const uint8_t* source, uint8_t* destination);
int32_t ieee_double_to_mbf(const uint8_t* source, uint8_t* destination);
