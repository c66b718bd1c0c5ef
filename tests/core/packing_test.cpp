#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstring>
#include <limits>
#include <thread>
#include <vector>

#include "core/number_fixture.h"
#include "core/packing.h"

namespace {

// Bytes as the examples write them: "FE FF".
std::string hex_of(const std::string& bytes) {
    static constexpr char digits[] = "0123456789ABCDEF";
    std::string t;
    for (unsigned char b : bytes) {
        if (!t.empty()) t += ' ';
        t += digits[b >> 4];
        t += digits[b & 15];
    }
    return t;
}

std::string bytes_of(const char* hex) {
    std::string b;
    for (const char* p = hex; *p; p += (p[2] ? 3 : 2)) b += char(std::stoi(std::string(p, 2), nullptr, 16));
    return b;
}

class Packing : public number_test {
protected:
    string_descriptor* bytes(const char* hex) { return literal(bytes_of(hex)); }
    std::string packed(string_descriptor* s) { return hex_of(taken(s)); }
    // The error a call raised; the pending error is cleared.
    int32_t raised() { return error_number.exchange(0); }
};

TEST_F(Packing, Examples) {
    EXPECT_EQ(packed(pack_int16(-2)), "FE FF");
    EXPECT_EQ(unpack_int16(bytes("FE FF 00")), 65534);
    EXPECT_EQ(int16_t(unpack_int16(bytes("FE FF 00"))), -2);
    EXPECT_EQ(packed(pack_mbf_single(1.0f)), "00 00 00 81");
    EXPECT_EQ(packed(pack_mbf_single(-0.5f)), "00 00 80 80");
    EXPECT_EQ(packed(pack_mbf_single(0.0f)), "00 00 00 00");
    EXPECT_EQ(unpack_mbf_single(bytes("00 00 00 81")), 1.0f);
    EXPECT_EQ(unpack_mbf_single(bytes("12 34 56 00")), 0.0f);
    EXPECT_EQ(packed(pack_mbf_double(0.5)), "00 00 00 00 00 00 00 80");
    EXPECT_EQ(packed(pack_mbf_double(std::ldexp(1.0, 127))), "");
    EXPECT_EQ(raised(), error_illegal_function_call);
    EXPECT_EQ(unpack_mbf_double(bytes("08 00 00 00 00 00 00 81")), 1 + std::ldexp(1.0, -52));
    EXPECT_EQ(packed(pack_bits(12, -1)), "FF 0F");
    EXPECT_EQ(unpack_bits(12, bytes("FF 0F")), -1);
    EXPECT_EQ(unpack_ubits(12, bytes("FF 0F")), 4095u);
    EXPECT_EQ(unpack_float80(literal(std::string(31, '\0'))), 0.0L);
    EXPECT_EQ(raised(), error_illegal_function_call);
    EXPECT_EQ(raised(), 0);
}

TEST_F(Packing, MbfVectorsFromTheFormatsDefinition) {
    struct row { float v; const char* mbf; };
    const row rows[] = {{1.0f, "00 00 00 81"}, {-0.5f, "00 00 80 80"}, {0.5f, "00 00 00 80"}, {-1.0f, "00 00 80 81"},
                        {3.0f, "00 00 40 82"}, {10.0f, "00 00 20 84"}, {100.0f, "00 00 48 87"}, {0.1f, "CD CC 4C 7D"}};
    for (const row& r : rows) {
        EXPECT_EQ(packed(pack_mbf_single(r.v)), r.mbf) << r.v;
        EXPECT_EQ(unpack_mbf_single(bytes(r.mbf)), r.v) << r.v;
        // A single's value as an MBF double: the same bytes after 32 zero fraction bits.
        EXPECT_EQ(packed(pack_mbf_double(r.v)), std::string("00 00 00 00 ") + r.mbf) << r.v;
    }
    EXPECT_EQ(raised(), 0);
}

// Mended: zero of either sign is MBF zero, magnitudes below the MBF range pack as zero, the low
// fraction bits that a double cannot hold are dropped instead of refusing the value, and MBF
// exponents 1 and 2 read as correctly rounded denormals.
TEST_F(Packing, MbfEdges) {
    EXPECT_EQ(packed(pack_mbf_single(-0.0f)), "00 00 00 00");
    EXPECT_EQ(packed(pack_mbf_double(-0.0)), "00 00 00 00 00 00 00 00");
    EXPECT_EQ(packed(pack_mbf_double(1e-300)), "00 00 00 00 00 00 00 00");
    EXPECT_EQ(packed(pack_mbf_double(std::numeric_limits<double>::denorm_min())), "00 00 00 00 00 00 00 00");
    EXPECT_EQ(packed(pack_mbf_single(std::ldexp(1.0f, -128))), "00 00 00 01");
    EXPECT_EQ(packed(pack_mbf_single(-std::ldexp(1.5f, -127))), "00 00 C0 02");
    EXPECT_EQ(packed(pack_mbf_single(std::ldexp(1.0f, -129))), "00 00 00 00");
    EXPECT_EQ(packed(pack_mbf_double(std::ldexp(1.0, -128))), "00 00 00 00 00 00 00 01");
    EXPECT_EQ(packed(pack_mbf_double(std::ldexp(1.0, 126) * 1.5)), "00 00 00 00 00 00 40 FF");
    EXPECT_EQ(raised(), 0);
    EXPECT_EQ(unpack_mbf_double(bytes("01 00 00 00 00 00 00 81")), 1.0);
    EXPECT_EQ(raised(), 0);
    uint8_t ieee[8];
    EXPECT_EQ(mbf_double_to_ieee(reinterpret_cast<const uint8_t*>(bytes_of("01 00 00 00 00 00 00 81").data()), ieee), 1);
    EXPECT_EQ(std::bit_cast<double>(ieee), 1.0);
    // 1 + 2^-23 at 2^-128 needs 2 bits below the denormals' last: ties to even gives 2^-128.
    EXPECT_EQ(unpack_mbf_single(bytes("01 00 00 01")), std::ldexp(1.0f, -128));
    EXPECT_EQ(unpack_mbf_single(bytes("03 00 00 01")), std::ldexp(1.0f, -128) + std::ldexp(1.0f, -149));
    EXPECT_EQ(unpack_mbf_single(bytes("FF FF 7F 01")), std::ldexp(1.0f, -127));  // rounds up to the next power
    EXPECT_EQ(unpack_mbf_single(bytes("00 00 80 02")), -std::ldexp(1.0f, -127));
    for (float v : {std::numeric_limits<float>::infinity(), std::numeric_limits<float>::quiet_NaN(),
                    std::numeric_limits<float>::max(), std::ldexp(1.0f, 127)}) {
        EXPECT_EQ(packed(pack_mbf_single(v)), "") << v;
        EXPECT_EQ(raised(), error_illegal_function_call) << v;
    }
    EXPECT_EQ(packed(pack_mbf_double(std::numeric_limits<double>::infinity())), "");
    EXPECT_EQ(raised(), error_illegal_function_call);
}

TEST_F(Packing, IntegersAndIeeeAgainstTheirMemory) {
    for (int i = 0; i < 1000; ++i) {
        uint64_t v = random();
        auto memory = [](auto x) { return hex_of(std::string(reinterpret_cast<const char*>(&x), sizeof x)); };
        ASSERT_EQ(packed(pack_int8(int32_t(v))), memory(uint8_t(v)));
        ASSERT_EQ(packed(pack_uint8(uint32_t(v))), memory(uint8_t(v)));
        ASSERT_EQ(packed(pack_int16(int32_t(v))), memory(uint16_t(v)));
        ASSERT_EQ(packed(pack_uint16(uint32_t(v))), memory(uint16_t(v)));
        ASSERT_EQ(packed(pack_int32(int32_t(v))), memory(uint32_t(v)));
        ASSERT_EQ(packed(pack_uint32(uint32_t(v))), memory(uint32_t(v)));
        ASSERT_EQ(packed(pack_int64(int64_t(v))), memory(v));
        ASSERT_EQ(packed(pack_uint64(v)), memory(v));
        ASSERT_EQ(packed(pack_single(std::bit_cast<float>(uint32_t(v)))), memory(uint32_t(v)));
        ASSERT_EQ(packed(pack_double(std::bit_cast<double>(v))), memory(v));
        string_descriptor* s = literal(bytes_of(memory(v).c_str()));
        ASSERT_EQ(unpack_int8(s), int32_t(v & 0xFF));
        ASSERT_EQ(unpack_uint16(s), int32_t(v & 0xFFFF));
        ASSERT_EQ(unpack_int32(s), int32_t(v));
        ASSERT_EQ(unpack_uint32(s), uint32_t(v));
        ASSERT_EQ(unpack_int64(s), int64_t(v));
        ASSERT_EQ(unpack_uint64(s), v);
        ASSERT_EQ(std::bit_cast<uint64_t>(unpack_double(s)), v);
        ASSERT_EQ(std::bit_cast<uint32_t>(unpack_single(s)), uint32_t(v));
        long double x = std::ldexp((long double)v, int(v % 200) - 100);
        std::string f80 = taken(pack_float80(x));
        ASSERT_EQ(f80.size(), 32u);
        ASSERT_EQ(std::memcmp(f80.data(), &x, 10), 0);
        ASSERT_EQ(f80.substr(10), std::string(22, '\0'));
        ASSERT_EQ(unpack_float80(literal(f80)), x);
    }
    // Too short: error 5 and 0, from every reader.
    string_descriptor* one = literal("\x7F");
    EXPECT_EQ(unpack_int8(one), 0x7F);
    EXPECT_EQ(raised(), 0);
    const std::vector<std::function<double()>> short_reads = {
        [&] { return unpack_int16(one); }, [&] { return unpack_uint16(one); }, [&] { return unpack_int32(one); },
        [&] { return unpack_uint32(one); }, [&] { return double(unpack_int64(one)); },
        [&] { return double(unpack_uint64(one)); }, [&] { return unpack_single(one); },
        [&] { return unpack_double(one); }, [&] { return double(unpack_mbf_single(one)); },
        [&] { return unpack_mbf_double(one); }, [&] { return double(unpack_ubits(9, one)); },
        [&] { return double(unpack_int8(literal(""))); }};
    for (const auto& read : short_reads) {
        EXPECT_EQ(read(), 0);
        EXPECT_EQ(raised(), error_illegal_function_call);
    }
}

TEST_F(Packing, BitFields) {
    for (int32_t n : {1, 7, 8, 9, 12, 63, 64}) {
        uint64_t mask = n == 64 ? ~0ull : (1ull << n) - 1;
        for (int64_t v : {int64_t(-1), int64_t(0), int64_t(1) << (n - 1), int64_t(0x5A5A5A5A5A5A5A5A)}) {
            std::string b = taken(pack_bits(n, v));
            ASSERT_EQ(b.size(), size_t(n + 7) / 8) << n;
            ASSERT_EQ(taken(pack_ubits(n, uint64_t(v))), b);
            uint64_t field = uint64_t(v) & mask;
            ASSERT_EQ(unpack_ubits(n, literal(b)), field) << n;
            int64_t sign_extended = n < 64 && (field >> (n - 1)) ? int64_t(field | ~mask) : int64_t(field);
            ASSERT_EQ(unpack_bits(n, literal(b)), sign_extended) << n;
        }
    }
    EXPECT_EQ(raised(), 0);
    // Mended: widths outside 1..64 are refused instead of sizing the string from them.
    for (int32_t n : {0, -1, 65, INT32_MAX, INT32_MIN}) {
        EXPECT_EQ(taken(pack_bits(n, -1)), "");
        EXPECT_EQ(raised(), error_illegal_function_call);
        EXPECT_EQ(unpack_ubits(n, literal("\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF")), 0u);
        EXPECT_EQ(raised(), error_illegal_function_call);
        EXPECT_EQ(unpack_bits(n, literal("\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF")), 0);
        EXPECT_EQ(raised(), error_illegal_function_call);
    }
}

// Every single bit pattern through the MBF converters: fields 1-253 come back bit-exact, 254-255
// are refused, and the denormals come back when MBF holds them and as zero below its range.
TEST(MbfExhaustive, EverySingle) {
    const uint64_t step = sanitized_build ? 1021 : 1;
    unsigned threads = std::max(1u, std::min(8u, std::thread::hardware_concurrency()));
    std::vector<uint64_t> failures(threads);
    std::vector<std::thread> workers;
    for (unsigned t = 0; t < threads; ++t) {
        workers.emplace_back([&, t] {
            uint64_t failed = 0;
            for (uint64_t i = t * step; i <= 0xFFFFFFFF; i += step * threads) {
                auto bits = uint32_t(i);
                uint8_t mbf[4], back[4];
                int32_t refused = ieee_single_to_mbf(reinterpret_cast<const uint8_t*>(&bits), mbf);
                uint32_t field = (bits >> 23) & 0xFF;
                if (field >= 254) {
                    failed += refused != 1;
                    continue;
                }
                mbf_single_to_ieee(mbf, back);
                float x = std::bit_cast<float>(bits);
                uint32_t want = field != 0 || std::fabs(x) >= 0x1p-128f ? bits : 0;
                failed += refused != 0 || std::memcmp(back, &want, 4) != 0;
            }
            failures[t] = failed;
        });
    }
    for (auto& w : workers) w.join();
    for (uint64_t f : failures) EXPECT_EQ(f, 0u);
}

TEST(MbfExhaustive, DoublesInTheMbfRangeRoundTrip) {
    std::mt19937_64 random(7);
    for (int64_t i = 0; i < differential_cases(10000000); ++i) {
        uint64_t field = 895 + random() % (1149 - 895 + 1);
        uint64_t bits = (random() & 0x800FFFFFFFFFFFFFull) | field << 52;
        uint8_t mbf[8], back[8];
        ASSERT_EQ(ieee_double_to_mbf(reinterpret_cast<const uint8_t*>(&bits), mbf), 0);
        ASSERT_EQ(mbf_double_to_ieee(mbf, back), 0);
        ASSERT_EQ(std::memcmp(back, &bits, 8), 0) << std::hex << bits;
    }
}

}  // namespace
