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
