#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>

#include "core/number_fixture.h"
#include "core/number_parse.h"

namespace {

class NumberParse : public number_test {
protected:
    long double value_of(const std::string& text) { return string_to_number(literal(text)); }
};

bool same_bits(long double a, long double b) { return std::memcmp(&a, &b, 10) == 0; }

TEST_F(NumberParse, Examples) {
    struct row { const char* text; long double want; int32_t error; };
    const row rows[] = {
        {"  12  34abc", 1234, 0}, {"-1.5E+2", -150, 0}, {"1D3", 1000, 0}, {".5", 0.5L, 0}, {"0.0001", 0.0001L, 0},
        {"&H1F", 31, 0}, {"&H1", 1, 0}, {"&O7", 7, 0}, {"&hF", 15, 0}, {"&h", 0, 0}, {"&O17", 15, 0}, {"-&H10", 0, 0}, {"&X1", 0, 0}, {"&HFFFF", 65535, 0},
        {"&HFFFFFFFFFFFFFFFF", -1, 0}, {"&H8000000000000000", -9223372036854775807.0L - 1, 0},
        {"&H10000000000000000", 0, error_overflow}, {"&H0000000000000000001", 1, 0},  // leading zeros do not count
        {"&O1777777777777777777777", -1, 0}, {"&O2000000000000000000000", 0, error_overflow},
        {"&O07777777777777777777777", 0, error_overflow},
        {"9223372036854775807", 9223372036854775807.0L, 0}, {"-9223372036854775808", -9223372036854775808.0L, 0},
        {"18446744073709551616", 18446744073709551616.0L, 0}, {"1e", 1, 0}, {"1e-", 1, 0}, {"+", 0, 0}, {"", 0, 0},
        {"-0", 0, 0}, {".", 0, 0}, {"E5", 0, 0}, {"abc", 0, 0}, {"\t-\t3 . 2 5", -3.25L, 0}, {"1.2.3", 1.2L, 0}, {"1e2e3", 100, 0},
        {"12-3", 12, 0}, {"&H 1", 0, 0}, {"&H1 2", 1, 0}, {"1E0000000000000000000000001", 10, 0},
        {"1E1234567890123456789", HUGE_VALL, 0}, {"0.1", 0.1L, 0}, {"1D400", 1e400L, 0},
        // "&" after the start ends a decimal number; only at the start does it begin &H or &O.
        {"7&", 7, 0}, {"7 &", 7, 0}, {"-7&", -7, 0}, {"1.5&", 1.5L, 0}, {"1e2&", 100, 0}, {"1&H5", 1, 0},
        {"12&O7", 12, 0}, {"&H1F&", 31, 0}, {"7a&", 7, 0}, {"-&", 0, 0}, {"1e-&5", 1, 0},
    };
    for (const row& r : rows) {
        long double got = value_of(r.text);
        EXPECT_TRUE(same_bits(got, r.want)) << '\'' << r.text << "' gives " << (double)got;
        EXPECT_EQ(error_number.exchange(0), r.error) << r.text;
    }
}

// The number a generated text holds, as the C library reads it: blanks dropped, D as E, and zero
// without a sign when no digit is significant ("-0").
long double strtold_of(std::string text) {
    text.erase(std::remove_if(text.begin(), text.end(), [](char c) { return c == ' ' || c == '\t'; }), text.end());
    std::replace(text.begin(), text.end(), 'D', 'E');
    std::replace(text.begin(), text.end(), 'd', 'e');
    char* end;
    long double v = std::strtold(text.c_str(), &end);
    std::string used(text.c_str(), size_t(end - text.c_str()));
    std::string mantissa = used.substr(0, used.find_first_of("eE"));
    return mantissa.find_first_of("123456789") == std::string::npos ? 0.0L : v;
}

TEST_F(NumberParse, GeneratedTextsAgreeWithStrtold) {
    auto digits = [&](int max) {
        std::string d;
        for (int n = int(random() % unsigned(max + 1)); n > 0; --n) d += char('0' + random() % 10);
        return d;
    };
    for (int64_t i = 0; i < differential_cases(1000000); ++i) {
        std::string t;
        // Now and then the text ends after a part with "&" and digits, which end the number there.
        auto ended_by_ampersand = [&] {
            if (random() % 16) return false;
            t += '&' + digits(2);
            return true;
        };
        do {
            switch (random() % 3) {
            case 0: break;
            case 1: t += '-'; break;
            default: t += '+'; break;
            }
            if (ended_by_ampersand()) break;
            if (random() % 4 == 0) t += std::string(random() % 5, '0');
            t += digits(random() % 3 == 0 ? 40 : 20);
            if (ended_by_ampersand()) break;
            if (random() % 2) {
                t += '.';
                if (ended_by_ampersand()) break;
                t += digits(25);
                if (ended_by_ampersand()) break;
            }
            if (random() % 3 == 0) {
                t += "eEdD"[random() % 4];
                if (ended_by_ampersand()) break;
                if (random() % 2) t += "+-"[random() % 2];
                if (ended_by_ampersand()) break;
                t += digits(random() % 5 == 0 ? 5 : 3);
                if (ended_by_ampersand()) break;
            }
        } while (false);
        if (random() % 10 == 0) t.insert(random() % (t.size() + 1), " ");
        if (random() % 10 == 0) t += "z1";
        ASSERT_TRUE(same_bits(value_of(t), strtold_of(t))) << '\'' << t << '\'';
    }
    EXPECT_EQ(error_number, 0);
}

// The quick pass against the stepwise lexer it stands in for, bit for bit and error for error, on
// texts around the quick pass's limits: 0 to 21 digits with leading zeros and zeros after the
// point, both signs, E/D/e/d exponents of 0 to 6 digits across the exact, product and library
// ranges, bytes that end the number (blank, tab, "&", a second sign or point, a letter), &H and &O
// numbers up to overflow, and exact ties between two extended values (an odd 65-bit integer written
// as 19 digits times 10 or 100) with their neighbours.
TEST_F(NumberParse, QuickPassAgreesWithTheStepwiseLexer) {
    auto digits = [&](int n) {
        std::string d;
        for (; n > 0; --n) d += char('0' + random() % 10);
        return d;
    };
    auto tie = [&] {
        // m x 5^k odd and between 2^64 and 2^65: m x 10^k lies halfway between two extended values.
        int k = int(random() % 2) + 1;
        uint64_t low = (uint64_t(1) << 63) / (k == 1 ? 5 : 25) * 2 + 1, high = low * 2;
        uint64_t m = (low + random() % (high - low)) | 1;
        m += int64_t(random() % 5) - 2;  // and its neighbours
        return std::to_string(m) + (random() % 2 ? std::string(size_t(k), '0') : "E" + std::to_string(k));
    };
    const char* endings[] = {"", " ", "\t5", "&", "&H1", "+", "-", ".", "e", "x", " 7", "9&"};
    for (int64_t i = 0; i < differential_cases(2000000); ++i) {
        std::string t;
        switch (random() % 8) {
        case 0: t = tie(); break;
        case 1:
            t = std::string(random() % 2 ? "&H" : "&o") + digits(int(random() % 24));
            if (t[1] == 'H') t += "ABCDEFabcdef"[random() % 12];
            break;
        default: {
            t = std::string("\0-+", 3).substr(random() % 3, 1);
            if (t[0] == 0) t.clear();
            t += std::string(random() % 3, '0') + digits(int(random() % 22));
            if (random() % 2) t += '.' + std::string(random() % 4, '0') + digits(int(random() % 21));
            if (random() % 2) {
                t += "EeDd"[random() % 4];
                if (random() % 2) t += "+-"[random() % 2];
                t += std::string(random() % 3, '0') + digits(int(random() % 7));
            }
        }
        }
        t += endings[random() % std::size(endings)];
        long double quick = value_of(t);
        int32_t quick_error = error_number.exchange(0);
        auto bytes = reinterpret_cast<const uint8_t*>(t.data());
        long double stepwise = number_stepwise(bytes, bytes + t.size());
        ASSERT_TRUE(same_bits(quick, stepwise)) << '\'' << t << "' gives " << (double)quick << " for " << (double)stepwise;
        ASSERT_EQ(quick_error, error_number.exchange(0)) << t;
    }
}

// Mended: any length. 100,000 digits overflow nothing and give the correctly rounded value.
TEST_F(NumberParse, TextsOfAnyLength) {
    std::string t = "0." + std::string(50000, '0');
    for (int i = 0; i < 100000; ++i) t += char('1' + i % 9);
    t += "E50010";
    EXPECT_TRUE(same_bits(value_of(t), strtold_of(t)));
    std::string whole(100000, '7');
    EXPECT_TRUE(same_bits(value_of(whole), strtold_of(whole)));
    EXPECT_TRUE(std::isinf(value_of(whole)));
    std::string third = "." + std::string(100000, '3');
    EXPECT_TRUE(same_bits(value_of(third), 1.0L / 3));
}

}  // namespace
