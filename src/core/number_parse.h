// The language's value function: the number at the start of a text as an extended value, whatever
// follows. Decimal numbers with sign, point and exponent (E or D), blanks and tabs skipped anywhere,
// and &H and &O integers. Text that does not start with a number gives 0; the only error is 6 for
// a hexadecimal or octal number beyond 64 bits. Texts of any length.
// Not here: the stricter items of DATA statements and files (digit_buffer.h).
#pragma once

#include <cstdint>

#include "core/strings.h"

// Does not free its argument or look at a pending error.
long double string_to_number(const string_descriptor* s);
// The same, a byte at a time through the lexer's states: string_to_number's way for texts beyond
// its quick pass (blanks, "&", long numbers), which gives the same value for the others.
long double number_stepwise(const uint8_t* p, const uint8_t* end);
