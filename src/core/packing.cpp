#include "core/packing.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>

#include "core/error_codes.h"
#include "core/errors.h"

namespace {

// Host and packed forms are both little-endian: bytes are copied as they lie.
static_assert(std::endian::native == std::endian::little);

constexpr size_t float80_bytes = 10;
constexpr size_t float80_form = 32;
constexpr int32_t bits_max = 64;

template <typename T>
string_descriptor* packed(T value, size_t n = sizeof(T)) {
    uint8_t bytes[sizeof(T)];
    std::memcpy(bytes, &value, sizeof(T));
    return string_temp_from_bytes(bytes, n);
}

// The first sizeof(T) bytes of s, or 0 after raising error 5 when it is shorter.
template <typename T>
T unpacked(const string_descriptor* s, size_t needed = sizeof(T)) {
    T value{};
    if (s->length < 0 || size_t(s->length) < needed) {
        error_raise(error_illegal_function_call);
        return value;
    }
    std::memcpy(&value, s->text, std::min(needed, sizeof(T)));
    return value;
}

uint32_t bits32(const uint8_t* p) {
    uint32_t v;
    std::memcpy(&v, p, 4);
    return v;
}
uint64_t bits64(const uint8_t* p) {
    uint64_t v;
    std::memcpy(&v, p, 8);
    return v;
}
void store(uint8_t* p, uint32_t v) { std::memcpy(p, &v, 4); }
void store(uint8_t* p, uint64_t v) { std::memcpy(p, &v, 8); }

// MBF single: fraction in bits 0-22, sign in bit 23, exponent in bits 24-31; value 1.f x 2^(e-129).
// MBF double: fraction in bits 0-54, sign in bit 55, exponent in bits 56-63.
constexpr int mbf_single_fraction_bits = 23;
constexpr int mbf_double_fraction_bits = 55;
constexpr int ieee_double_fraction_bits = 52;
constexpr int mbf_exponent_bias = 129;
constexpr int single_exponent_offset = 2;     // IEEE single field + 2 = MBF exponent
constexpr int double_exponent_offset = 894;   // IEEE double field - 894 = MBF exponent
constexpr int double_field_lowest = 895;      // the fields whose MBF exponent lies in 1..255
constexpr int double_field_highest = 1149;
constexpr int single_field_refused = 254;     // and above: no MBF exponent holds them

bool n_refused(int32_t n) {
    if (n >= 1 && n <= bits_max) return false;
    error_raise(error_illegal_function_call);
    return true;
}

uint64_t bit_mask(int32_t n) { return n == bits_max ? ~uint64_t(0) : (uint64_t(1) << n) - 1; }

// The IEEE value of the MBF bytes at the start of s (0 after error 5 when it is shorter). Bits is
// the unsigned integer of the form's width.
template <typename Ieee, typename Bits>
Ieee mbf_unpacked(int32_t (*convert)(const uint8_t*, uint8_t*), const string_descriptor* s) {
    static_assert(sizeof(Ieee) == sizeof(Bits));
    uint8_t mbf[sizeof(Bits)], ieee[sizeof(Bits)];
    Bits bits = unpacked<Bits>(s);
    std::memcpy(mbf, &bits, sizeof bits);
    convert(mbf, ieee);
    return std::bit_cast<Ieee>(ieee);
}

string_descriptor* mbf_packed(int32_t (*convert)(const uint8_t*, uint8_t*), const void* ieee, size_t n) {
    uint8_t bytes[8];
    if (convert(static_cast<const uint8_t*>(ieee), bytes) != 0) {
        error_raise(error_illegal_function_call);
        return string_new(0, 1);
    }
    return string_temp_from_bytes(bytes, n);
}

}  // namespace

string_descriptor* pack_int8(int32_t value) { return packed(int8_t(value)); }
string_descriptor* pack_uint8(uint32_t value) { return packed(uint8_t(value)); }
string_descriptor* pack_int16(int32_t value) { return packed(int16_t(value)); }
string_descriptor* pack_uint16(uint32_t value) { return packed(uint16_t(value)); }
string_descriptor* pack_int32(int32_t value) { return packed(value); }
string_descriptor* pack_uint32(uint32_t value) { return packed(value); }
string_descriptor* pack_int64(int64_t value) { return packed(value); }
string_descriptor* pack_uint64(uint64_t value) { return packed(value); }
string_descriptor* pack_single(float value) { return packed(value); }
string_descriptor* pack_double(double value) { return packed(value); }

string_descriptor* pack_float80(long double value) {
    uint8_t bytes[float80_form] = {};
    std::memcpy(bytes, &value, float80_bytes);
    return string_temp_from_bytes(bytes, float80_form);
}

string_descriptor* pack_mbf_single(float value) { return mbf_packed(ieee_single_to_mbf, &value, 4); }
string_descriptor* pack_mbf_double(double value) { return mbf_packed(ieee_double_to_mbf, &value, 8); }

string_descriptor* pack_ubits(int32_t n, uint64_t value) {
    if (n_refused(n)) return string_new(0, 1);
    return packed(value & bit_mask(n), size_t(n + 7) / 8);
}

string_descriptor* pack_bits(int32_t n, int64_t value) { return pack_ubits(n, uint64_t(value)); }

int32_t unpack_int8(const string_descriptor* s) { return unpacked<uint8_t>(s); }
int32_t unpack_uint8(const string_descriptor* s) { return unpacked<uint8_t>(s); }
int32_t unpack_int16(const string_descriptor* s) { return unpacked<uint16_t>(s); }
int32_t unpack_uint16(const string_descriptor* s) { return unpacked<uint16_t>(s); }
int32_t unpack_int32(const string_descriptor* s) { return unpacked<int32_t>(s); }
uint32_t unpack_uint32(const string_descriptor* s) { return unpacked<uint32_t>(s); }
int64_t unpack_int64(const string_descriptor* s) { return unpacked<int64_t>(s); }
uint64_t unpack_uint64(const string_descriptor* s) { return unpacked<uint64_t>(s); }
float unpack_single(const string_descriptor* s) { return unpacked<float>(s); }
double unpack_double(const string_descriptor* s) { return unpacked<double>(s); }

long double unpack_float80(const string_descriptor* s) {
    // Bytes 10-15 of the host's long double are padding: only the 10 value bytes are copied.
    long double value = 0;
    if (s->length < int32_t(float80_form)) {
        error_raise(error_illegal_function_call);
        return value;
    }
    std::memcpy(&value, s->text, float80_bytes);
    return value;
}

float unpack_mbf_single(const string_descriptor* s) { return mbf_unpacked<float, uint32_t>(mbf_single_to_ieee, s); }

// Files written by the older interpreters hold fraction bits a double cannot in most doubles: they
// are dropped without a complaint.
double unpack_mbf_double(const string_descriptor* s) { return mbf_unpacked<double, uint64_t>(mbf_double_to_ieee, s); }

uint64_t unpack_ubits(int32_t n, const string_descriptor* s) {
    if (n_refused(n)) return 0;
    return unpacked<uint64_t>(s, size_t(n + 7) / 8) & bit_mask(n);
}

int64_t unpack_bits(int32_t n, const string_descriptor* s) {
    uint64_t v = unpack_ubits(n, s);
    if (n >= 1 && n < bits_max && (v >> (n - 1)) & 1) v |= ~bit_mask(n);
    return int64_t(v);
}

int32_t mbf_single_to_ieee(const uint8_t* source, uint8_t* destination) {
    uint32_t mbf = bits32(source);
    int exponent = int(mbf >> 24);
    uint32_t sign = (mbf >> 23) & 1;
    uint32_t ieee = 0;
    if (exponent > single_exponent_offset) {
        ieee = sign << 31 | uint32_t(exponent - single_exponent_offset) << 23 | (mbf & 0x7FFFFF);
    } else if (exponent != 0) {
        // Exponents 1 and 2 lie below the normal singles: one correctly rounded step to a denormal.
        double magnitude = std::ldexp(1.0 + double(mbf & 0x7FFFFF) / (1 << mbf_single_fraction_bits),
                                      exponent - mbf_exponent_bias);
        ieee = std::bit_cast<uint32_t>(float(sign ? -magnitude : magnitude));
    }
    store(destination, ieee);
    return 0;
}

int32_t ieee_single_to_mbf(const uint8_t* source, uint8_t* destination) {
    uint32_t ieee = bits32(source);
    uint32_t sign = ieee >> 31;
    int field = int((ieee >> 23) & 0xFF);
    if (field >= single_field_refused) return 1;
    uint32_t mbf = 0;
    if (field != 0) {
        mbf = uint32_t(field + single_exponent_offset) << 24 | sign << 23 | (ieee & 0x7FFFFF);
    } else if (double magnitude = std::fabs(double(std::bit_cast<float>(ieee))); magnitude != 0) {
        // A denormal: exact in MBF from 2^-128 on, below that the nearest MBF value is zero.
        int e;
        double fraction = std::frexp(magnitude, &e);  // magnitude = fraction x 2^e, fraction in [0.5, 1)
        int mbf_exponent = e - 1 + mbf_exponent_bias;
        if (mbf_exponent >= 1) {
            auto bits = uint32_t(std::ldexp(fraction * 2 - 1, mbf_single_fraction_bits));
            mbf = uint32_t(mbf_exponent) << 24 | sign << 23 | bits;
        }
    }
    store(destination, mbf);
    return 0;
}

int32_t mbf_double_to_ieee(const uint8_t* source, uint8_t* destination) {
    uint64_t mbf = bits64(source);
    int exponent = int(mbf >> 56);
    if (exponent == 0) {
        store(destination, uint64_t(0));
        return 0;
    }
    constexpr int dropped = mbf_double_fraction_bits - ieee_double_fraction_bits;
    uint64_t fraction = mbf & ((uint64_t(1) << mbf_double_fraction_bits) - 1);
    uint64_t sign = (mbf >> 55) & 1;
    store(destination, sign << 63 | uint64_t(exponent + double_exponent_offset) << 52 | fraction >> dropped);
    return (fraction & ((1 << dropped) - 1)) != 0 ? 1 : 0;
}

int32_t ieee_double_to_mbf(const uint8_t* source, uint8_t* destination) {
    uint64_t ieee = bits64(source);
    int field = int((ieee >> 52) & 0x7FF);
    if (field > double_field_highest) return 1;
    uint64_t mbf = 0;  // zero of either sign, and every magnitude below 2^-128
    if (field >= double_field_lowest) {
        constexpr int dropped = mbf_double_fraction_bits - ieee_double_fraction_bits;
        mbf = uint64_t(field - double_exponent_offset) << 56 | (ieee >> 63) << 55 |
              (ieee & ((uint64_t(1) << ieee_double_fraction_bits) - 1)) << dropped;
    }
    store(destination, mbf);
    return 0;
}
