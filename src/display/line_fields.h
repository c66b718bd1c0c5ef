// The decisions of the keyboard line editor, free of screen and keyboard: splitting a typed line
// into the fields of its targets, the radix literals, and whether the field being typed can still
// become a value of its variable's type, with the value it stands for so far.
// Not here: reading keys, echo and redraw, storing into variables (line_editor.h).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "core/type_codes.h"

// The whole-line type word that replaces a whole-line string target's type for one call.
constexpr variable_type_code line_whole_type = 0xFFFFFE00u;
constexpr bool line_whole_mode(variable_type_code first_type) {
    return type_code_is_string(first_type) && (first_type & type_code_whole_line) != 0;
}

// Fields 1..n of a line: commas end fields (not inside a leading double quote's field, nor in
// whole-line mode); quotes that open and close a field are not part of it. Invalid: a comma that
// would open field n + 1, or anything but a comma after a closing quote. The last field is the one
// being typed.
struct line_split_result {
    bool valid = false;
    std::vector<std::string> fields;
};
line_split_result line_split(std::string_view line, int32_t n, bool whole_line);

// Radix literals: 0 invalid, 1 hexadecimal ("&H", also "" and "&"), 2 octal ("&O"); the value is 0
// unless the kind is not 0. At most 16 hexadecimal or 22 octal digits (22 only from a leading 0 or 1).
enum : int32_t { radix_invalid = 0, radix_hexadecimal = 1, radix_octal = 2 };
int32_t radix_literal_parse(std::string_view text, uint64_t& value);

// What a field stands for: nothing to store, an integer's bits, a floating value, or text.
enum class field_kind { none, integer, floating, text };
struct field_value {
    field_kind kind = field_kind::none;
    uint64_t bits = 0;         // integer: the low size / 8 bytes are stored
    long double number = 0.0;  // floating: already rounded to the target's precision
    std::string text;
};
// False when no further typing can turn the field into a value of the type.
bool field_check(std::string_view field, variable_type_code type, int32_t fixed_length, field_value& value);
