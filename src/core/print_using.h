// Formatted output through templates: each call appends to the output string the template's literal
// text up to a field, the value formatted into that field and the literal text after it, and
// answers the position of the next field (0 at the template's end) for the next value. Numeric
// fields ("#", ".", ",", "+", "-", "**", "$$", "^^^^"), string fields ("&", "!", "\  \") and "_"
// escapes. Halves round away from zero, judged on the value's correctly rounded decimal digits.
// Every call returns 0 at once, appending nothing, while an error is pending.
// Not here: printing the output string (screen or file).
#pragma once

#include <cstdint>
#include <string>

#include "core/strings.h"

// A number ready for a field: digits x 10^exponent, most significant digit first.
struct print_using_digits {
    std::string digits;
    int64_t exponent = 0;
    bool negative = false;
    char letter = 'E';  // of an exponent field: E, D for doubles, F for extended values
};

// A string value; null counts as the empty string. A numeric field meeting it is error 13.
int32_t print_using_format(string_descriptor* template_string, int32_t position, string_descriptor* output,
                           string_descriptor* value);
int32_t print_using_int64(string_descriptor* template_string, int64_t value, int32_t position,
                          string_descriptor* output);
int32_t print_using_uint64(string_descriptor* template_string, uint64_t value, int32_t position,
                           string_descriptor* output);
int32_t print_using_single(string_descriptor* template_string, float value, int32_t position,
                           string_descriptor* output);
int32_t print_using_double(string_descriptor* template_string, double value, int32_t position,
                           string_descriptor* output);
int32_t print_using_float80(string_descriptor* template_string, long double value, int32_t position,
                            string_descriptor* output);
