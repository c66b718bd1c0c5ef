// The turtle drawing language on the destination image: a pen that moves in eight directions or
// to points, drawing solid lines (lines.h) as it goes, turns, scales its steps, changes colour,
// flood-fills (flood_fill.h) and runs strings of the string segment as sub-strings. Numbers are
// decimal text or variables of the string segment named by a 3-byte reference. The pen works in
// pixel space with doubles; angle and scale live in the image and persist between calls.
// Program thread only; not re-entrant.
#pragma once

#include <cstdint>

struct string_descriptor;

// Error 5 for a text image and every syntax error, 6 when sub-strings nest deeper than
// turtle_nesting_max. An error ends the call: what was drawn stays, the cursor does not move.
// A move to a target that is not finite draws nothing and leaves the pen; an angle or scale that
// is not finite changes nothing.
void turtle_draw(string_descriptor* commands);

constexpr int32_t turtle_nesting_max = 8192;

// The string being read and the place in it.
struct turtle_text {
    const uint8_t* text;
    uint32_t length;
    uint32_t position;
};

// A number read: incomplete when a sign, a point after digits or a reference was left unfinished,
// missing when nothing numeric was read.
struct turtle_number {
    double value;
    bool incomplete, missing;
};

// Reads a number at the position and leaves the position on the first byte not consumed. Blanks
// and tabs are skipped anywhere; signs toggle before the digits; "=" as the first thing takes a
// variable: a type code and a 16-bit offset into the string segment.
turtle_number turtle_number_read(turtle_text& t);

// Type codes of the variables a reference can name.
enum : uint8_t {
    turtle_variable_i8 = 1,
    turtle_variable_u8 = 129,
    turtle_variable_i16 = 2,
    turtle_variable_u16 = 130,
    turtle_variable_i32 = 20,
    turtle_variable_u32 = 148,
    turtle_variable_i64 = 5,
    turtle_variable_u64 = 133,
    turtle_variable_f32 = 4,
    turtle_variable_f64 = 8,
    turtle_variable_f80 = 6,
    turtle_variable_string = 3,  // after X: a string's 4-byte entry (length, text offset)
};
