// The pure parts of formatted output: scanning a numeric field of a template and writing a number
// into it. print_using.cpp runs the template; the tests check these directly.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "core/print_using.h"

struct numeric_field {
    bool leading_plus = false;
    bool star_fill = false;
    bool dollar = false;
    bool comma = false;
    bool point = false;
    bool trailing_plus = false;
    bool trailing_minus = false;
    int32_t integer_positions = 0;
    int32_t decimal_positions = 0;
    int32_t exponent_digits = 0;  // 0: no exponent
    size_t end = 0;               // template position after the field
};

// The numeric field that starts at `position`, if one does.
bool numeric_field_scan(std::string_view template_text, size_t position, numeric_field& field);

// Writes the number into the field (rounding may change the digits); answers the highest index of
// the digits it looked at, the digit that decided the rounding included.
int64_t numeric_field_write(const numeric_field& field, print_using_digits& number, std::string& out);
