// A numeric item of a DATA statement or a sequential file, lexed into its digits, then converted
// with the range rules of the variable it goes into. The lexer here is the grammar both sources
// share; what ends an item and how errors are reported is theirs (data_items.h, file_items.h).
// Not here: the language's value function (number_parse.h), which has a looser grammar.
#pragma once

#include <cstdint>

#include "core/type_codes.h"

enum class digit_base : uint8_t { decimal = 0, hex = 1, octal = 2 };

constexpr int digit_buffer_capacity = 256;

struct digit_buffer {
    uint16_t count = 0;
    char digits[digit_buffer_capacity];  // decimal: significant digits; &H, &O: digits after leading zeros
    int64_t exponent = 0;                // decimal: the power of ten of the first digit
    bool negative = false;
    digit_base base = digit_base::decimal;
};

// The grammar of a numeric item, one byte at a time.
enum class lex_step { taken, ends, too_many };
class number_lexer {
public:
    explicit number_lexer(digit_buffer& buffer);  // clears it
    // A decimal item: sign, digits, point, exponent letter and its sign and digits.
    lex_step decimal(uint8_t c);
    // The byte after "&": H or O (either case) sets the base and answers true; any other byte,
    // or a negative read code, answers false and leaves the item decimal.
    bool base_letter(int32_t c);
    // After the base letter: a digit of the base, or the end of the item.
    lex_step based(uint8_t c);
    // The end of the item: the exponent joins the digits' power of ten; no digit means 0.
    void finish();

private:
    enum class state { start, integer, fraction, exponent_letter, exponent };
    lex_step decimal_digit(char c);
    lex_step digit_stored(char c);
    digit_buffer& b_;
    state state_ = state::start;
    int64_t exponent_value_ = 0;
    int exponent_digits_ = 0;
    bool exponent_negative_ = false;
    bool point_ = false;
};

// The conversions: false when the item is out of range.
bool digit_buffer_to_float(const digit_buffer& b, long double& value);
bool digit_buffer_to_int64(const digit_buffer& b, int64_t& value);
bool digit_buffer_to_uint64(const digit_buffer& b, uint64_t& value);
// Whether the first digit after the integer part is 5 to 9.
bool digit_buffer_round_up(const digit_buffer& b);
// The item as a variable of the given type holds it (integers rounded to nearest, ties to even;
// &H and &O items fill signed types as their bits); false when the type cannot hold it.
bool digit_buffer_to_type(const digit_buffer& b, variable_type_code type, long double& value);

// Translated code's 64-bit words from two 32-bit halves.
int64_t int64_from_halves(uint32_t high, uint32_t low);
uint64_t uint64_from_halves(uint32_t high, uint32_t low);
// The input statement's call for an empty list: nothing to do.
void number_input_empty();
