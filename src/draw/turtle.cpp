#include "draw/turtle.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>

#include "core/error_codes.h"
#include "core/errors.h"
#include "core/memory.h"
#include "core/strings.h"
#include "draw/flood_fill.h"
#include "draw/lines.h"
#include "draw/pixel_shape.h"
#include "draw/pixel_space.h"
#include "screen/image_pool.h"

namespace {

constexpr double degrees_to_radians = 0.0174532925199433;
constexpr double two_to_63 = 9223372036854775808.0;
constexpr uint32_t reference_bytes = 3;
constexpr uint32_t f80_bytes = 10;

// Every 16-bit offset into the string segment, plus a 16-bit length or a 10-byte variable,
// stays inside the emulated memory.
static_assert(string_segment_address + 0xFFFF + 0xFFFF <= uint32_t{dos_memory_size});

const uint8_t* segment_bytes(uint16_t offset) { return dos_memory + string_segment_address + offset; }

uint16_t u16_at(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }

template <class T>
double variable_as(uint16_t offset) {
    T v;
    std::memcpy(&v, segment_bytes(offset), sizeof v);
    return static_cast<double>(v);
}

// The variable a reference names, converted to double; false for an unknown type code.
bool variable_read(uint8_t type, uint16_t offset, double& value) {
    switch (type) {
        case turtle_variable_i8: value = variable_as<int8_t>(offset); return true;
        case turtle_variable_u8: value = variable_as<uint8_t>(offset); return true;
        case turtle_variable_i16: value = variable_as<int16_t>(offset); return true;
        case turtle_variable_u16: value = variable_as<uint16_t>(offset); return true;
        case turtle_variable_i32: value = variable_as<int32_t>(offset); return true;
        case turtle_variable_u32: value = variable_as<uint32_t>(offset); return true;
        case turtle_variable_i64: value = variable_as<int64_t>(offset); return true;
        case turtle_variable_u64: value = variable_as<uint64_t>(offset); return true;
        case turtle_variable_f32: value = variable_as<float>(offset); return true;
        case turtle_variable_f64: value = variable_as<double>(offset); return true;
        case turtle_variable_f80: {
            long double v = 0;
            std::memcpy(&v, segment_bytes(offset), f80_bytes);
            value = static_cast<double>(v);
            return true;
        }
        default: return false;
    }
}

bool blank(uint8_t c) { return c == ' ' || c == '\t'; }

struct vec {
    double x, y;
};

// The state of one call. Only angle, scale, draw_color and at the end the cursor go back to the image.
struct turtle_run {
    image_record* d;
    double pen_x, pen_y;
    uint32_t colour;
    double angle, scale, aspect, inverse;
    vec up, right, up_right, down_right;  // the directions of U, R, E and F, turned by the angle
    bool no_draw = false, no_move = false;
    turtle_text text;
    int32_t depth = 0;
};

// The interrupted strings of X commands, innermost last.
std::array<turtle_text, turtle_nesting_max> substring_stack;

void directions_set(turtle_run& t) {
    t.up = {0, -1};
    t.right = {t.aspect, 0};
    t.up_right = {t.aspect, -1};
    t.down_right = {t.aspect, 1};
    if (t.angle == 0) return;
    double a = t.angle * degrees_to_radians, s = std::sin(a), c = std::cos(a);
    for (vec* v : {&t.up, &t.right, &t.up_right, &t.down_right}) *v = {v->x * c + v->y * s, v->y * c - v->x * s};
}

vec direction_of(const turtle_run& t, uint8_t command) {
    switch (command) {
        case 'U': return t.up;
        case 'D': return {-t.up.x, -t.up.y};
        case 'L': return {-t.right.x, -t.right.y};
        case 'R': return t.right;
        case 'E': return t.up_right;
        case 'F': return t.down_right;
        case 'G': return {-t.up_right.x, -t.up_right.y};
        default: return {-t.down_right.x, -t.down_right.y};  // H
    }
}

// The movement tail: a line unless B came first, the pen moved unless N came first. A target that is
// not finite (a NaN or infinite step, point or scale) neither draws nor moves the pen.
void pen_move(turtle_run& t, double x, double y) {
    if (std::isfinite(x) && std::isfinite(y)) {
        if (!t.no_draw)
            line_pixels_draw(pixel_round_even(t.pen_x), pixel_round_even(t.pen_y), pixel_round_even(x),
                             pixel_round_even(y), t.colour);
        if (!t.no_move) {
            t.pen_x = x;
            t.pen_y = y;
        }
    }
    t.no_draw = t.no_move = false;
}

// A number that must be there and complete.
bool number_given(turtle_run& t, double& n) {
    turtle_number r = turtle_number_read(t.text);
    n = r.value;
    return !r.incomplete && !r.missing;
}

// A whole number as a colour: its low 32 bits. Out of the 64-bit range, NaN or a fraction: false.
bool colour_of(double n, uint32_t& colour) {
    if (!(n > -two_to_63 && n < two_to_63)) return false;
    auto whole = static_cast<int64_t>(n);
    if (static_cast<double>(whole) != n) return false;
    colour = static_cast<uint32_t>(whole);
    return true;
}

bool blanks_skipped(turtle_text& t) {
    while (t.position < t.length && blank(t.text[t.position])) ++t.position;
    return t.position < t.length;
}

bool comma_taken(turtle_text& t) {
    if (t.position >= t.length || t.text[t.position] != ',') return false;
    ++t.position;
    return true;
}

int32_t move_to_point(turtle_run& t) {
    if (!blanks_skipped(t.text)) return error_illegal_function_call;
    uint8_t sign = t.text.text[t.text.position];
    bool relative = sign == '+' || sign == '-';
    double x, y;
    if (!number_given(t, x) || !comma_taken(t.text) || !number_given(t, y)) return error_illegal_function_call;
    if (relative) {
        double dx = x * t.inverse * t.right.x - y * t.inverse * t.up.x;
        double dy = x * t.right.y - y * t.up.y;
        x = t.pen_x + dx * t.scale;
        y = t.pen_y + dy * t.scale;
    }
    pen_move(t, x, y);
    return 0;
}

void angle_set(turtle_run& t, double angle) {
    t.angle = angle;
    t.d->turtle_angle = angle;
    directions_set(t);
}

int32_t fill_at_pen(turtle_run& t) {
    double p, b;
    uint32_t paint, border;
    if (!number_given(t, p) || !colour_of(p, paint) || !comma_taken(t.text) || !number_given(t, b) ||
        !colour_of(b, border))
        return error_illegal_function_call;
    auto x = static_cast<float>(logical_x(t.d, t.pen_x)), y = static_cast<float>(logical_y(t.d, t.pen_y));
    paint_fill(x, y, paint, border, nullptr, fill_paint_given | fill_border_given);
    t.colour = paint;
    return 0;
}

// X: the referenced string runs now; the rest of this one afterwards.
int32_t substring_enter(turtle_run& t) {
    turtle_text& s = t.text;
    if (s.length - s.position < reference_bytes || s.text[s.position] != turtle_variable_string)
        return error_illegal_function_call;
    if (t.depth == turtle_nesting_max) return error_overflow;
    const uint8_t* entry = segment_bytes(u16_at(s.text + s.position + 1));
    substring_stack[size_t(t.depth++)] = {s.text, s.length, s.position + reference_bytes};
    s = {segment_bytes(u16_at(entry + 2)), u16_at(entry), 0};
    return 0;
}

// One command; its letter has been read. Answers an error number or 0.
int32_t command_run(turtle_run& t, uint8_t command) {
    double n;
    switch (command) {
        case 'U': case 'D': case 'L': case 'R': case 'E': case 'F': case 'G': case 'H': {
            turtle_number r = turtle_number_read(t.text);
            if (r.incomplete) return error_illegal_function_call;
            n = r.missing ? 1.0 : r.value;
            vec v = direction_of(t, command);
            pen_move(t, t.pen_x + v.x * n * t.inverse * t.scale, t.pen_y + v.y * n * t.scale);
            return 0;
        }
        case 'M': return move_to_point(t);
        case 'B': t.no_draw = true; return 0;
        case 'N': t.no_move = true; return 0;
        case 'A':
            if (!number_given(t, n) || !(n == 0 || n == 1 || n == 2 || n == 3)) return error_illegal_function_call;
            angle_set(t, n * 90);
            return 0;
        case 'T':
            if (!blanks_skipped(t.text) || (t.text.text[t.text.position] | 0x20) != 'a') return error_illegal_function_call;
            ++t.text.position;
            if (!number_given(t, n)) return error_illegal_function_call;
            if (std::isfinite(n)) angle_set(t, n);  // a NaN or infinite angle turns nothing
            return 0;
        case 'C':
            if (!number_given(t, n) || !colour_of(n, t.colour)) return error_illegal_function_call;
            t.d->draw_color = t.colour;
            return 0;
        case 'S':
            if (!number_given(t, n) || n < 0) return error_illegal_function_call;
            if (!std::isfinite(n)) return 0;  // NaN or infinity keeps the scale
            t.scale = n / 4;
            t.d->turtle_scale = t.scale;
            return 0;
        case 'P': return fill_at_pen(t);
        case 'X': return substring_enter(t);
        case ' ': case '\t': case ';': return 0;
        default: return error_illegal_function_call;
    }
}

int32_t commands_run(turtle_run& t) {
    for (;;) {
        if (t.text.position >= t.text.length) {
            if (t.depth == 0) return 0;
            t.text = substring_stack[size_t(--t.depth)];
            continue;
        }
        uint8_t c = t.text.text[t.text.position++];
        if (c >= 'a' && c <= 'z') c = static_cast<uint8_t>(c - 'a' + 'A');
        if (int32_t error = command_run(t, c)) return error;
    }
}

}  // namespace

turtle_number turtle_number_read(turtle_text& t) {
    double value = 0, place = 0;
    double sign = 1;
    bool fraction = false, missing = true, incomplete = false;
    constexpr turtle_number unfinished{0, true, true};  // a reference cut short or of no known type
    while (t.position < t.length) {
        uint8_t c = t.text[t.position];
        if (blank(c)) {
            ++t.position;
        } else if (c >= '0' && c <= '9') {
            if (fraction) {
                value = value + (c - '0') * place;
                place = place / 10;
            } else {
                value = value * 10 + (c - '0');
            }
            missing = incomplete = false;
            ++t.position;
        } else if (c == '-' || c == '+') {
            if (fraction || !missing) break;
            if (c == '-') sign = -sign;
            incomplete = true;
            ++t.position;
        } else if (c == '.') {
            if (fraction) break;
            fraction = true;
            place = 0.1;
            if (!missing) incomplete = true;
            ++t.position;
        } else if (c == '=') {
            if (incomplete || fraction || !missing) return {0, true, missing};
            // A reference: its type code and offset must all be there; the sign does not apply.
            if (t.length - t.position <= reference_bytes) return unfinished;
            uint8_t type = t.text[t.position + 1];
            uint16_t offset = u16_at(t.text + t.position + 2);
            t.position += 1 + reference_bytes;
            double v;
            if (!variable_read(type, offset, v)) return unfinished;
            return {v, false, false};
        } else {
            break;
        }
    }
    return {value * sign, incomplete, missing};
}

void turtle_draw(string_descriptor* commands) {
    if (error_pending()) return;
    image_record* d = dest_image;
    if (d->is_text) {
        error_raise(error_illegal_function_call);
        return;
    }
    turtle_run t{};
    t.d = d;
    t.angle = d->turtle_angle;
    t.scale = d->turtle_scale;
    t.aspect = mode_pixel_aspect(d->mode);
    t.inverse = 1 / t.aspect;
    directions_set(t);
    t.pen_x = pixel_space_x(d, d->cursor_x);
    t.pen_y = pixel_space_y(d, d->cursor_y);
    t.colour = d->draw_color;
    t.text = {commands->text, static_cast<uint32_t>(std::max(commands->length, 0)), 0};
    if (int32_t error = commands_run(t)) {
        error_raise(error);
        return;
    }
    d->cursor_x = static_cast<float>(logical_x(d, t.pen_x));
    d->cursor_y = static_cast<float>(logical_y(d, t.pen_y));
}
