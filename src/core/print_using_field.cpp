#include "core/print_using_field.h"

#include <algorithm>
#include <charconv>

namespace {

enum class scan_state { start, after_plus, integer, fraction, exponent };

bool at(std::string_view t, size_t i, std::string_view s) { return t.substr(i, s.size()) == s; }

bool one_of(scan_state s, std::initializer_list<scan_state> states) {
    return std::find(states.begin(), states.end(), s) != states.end();
}

// Digits of the number read in order; past the end they are zeros. Remembers how far it looked.
class digit_reader {
public:
    digit_reader(const std::string& digits, int64_t& reach) : digits_(digits), reach_(reach) {}
    char next() {
        char c = peek();
        ++index_;
        return c;
    }
    char peek() {
        reach_ = std::max(reach_, int64_t(index_));
        return index_ < digits_.size() ? digits_[index_] : '0';
    }
    size_t consumed() const { return index_; }

private:
    const std::string& digits_;
    int64_t& reach_;
    size_t index_ = 0;
};

bool has_other_sign(const numeric_field& f) { return f.leading_plus || f.trailing_plus || f.trailing_minus; }

int64_t integer_digits(const print_using_digits& n) { return int64_t(n.digits.size()) + n.exponent; }

// A field without integer positions does not show a value's only integer digit when it is 0.
void integer_zero_hidden(int32_t integer_positions, print_using_digits& n) {
    if (integer_positions <= 0 && integer_digits(n) == 1 && n.digits[0] == '0') n.digits.erase(0, 1);
}

void leading_sign(const numeric_field& f, const print_using_digits& n, bool overflow, std::string& out) {
    if (overflow) out += '%';
    if (f.leading_plus) out += n.negative ? '-' : '+';
}

// What writing a form found: whether the digit after the last one written asks for rounding up.
struct form_written {
    bool round_up;
    size_t digits;  // taken from the number
};

bool round_due(char next) { return next >= '5'; }

// Without an exponent: padding, sign, "$", integer digits with their commas, point, decimals.
form_written fixed_form(const numeric_field& f, print_using_digits& n, std::string& out, int64_t& reach) {
    int64_t positions = f.integer_positions;
    bool sign_place = n.negative && !has_other_sign(f);
    if (sign_place) --positions;
    integer_zero_hidden(int32_t(positions), n);
    int64_t width = positions;
    int64_t digit_positions = f.comma ? width - width / 4 : width;
    int64_t k = integer_digits(n);
    int64_t shown = std::max<int64_t>(k, 0);
    bool overflow = shown > digit_positions;
    if (overflow) width = f.comma ? shown + (shown - 1) / 3 : shown;
    leading_sign(f, n, overflow, out);

    int64_t leading_zeros = k < 0 ? -k : 0;
    int64_t characters = f.comma && shown > 0 ? shown + (shown - 1) / 3 : shown;
    int64_t padding = width - characters;
    bool zero_before_point = shown == 0 && padding >= 1;
    if (zero_before_point) --padding;
    out.append(size_t(std::max<int64_t>(padding, 0)), f.star_fill ? '*' : ' ');
    if (sign_place) out += '-';
    if (f.dollar) out += '$';
    if (zero_before_point) out += '0';
    digit_reader digits(n.digits, reach);
    for (int64_t left = characters; left > 0; --left) out += f.comma && left % 4 == 0 ? ',' : digits.next();
    if (f.point) out += '.';
    int64_t zeros = std::min<int64_t>(leading_zeros, f.decimal_positions);
    out.append(size_t(zeros), '0');
    for (int64_t i = zeros; i < f.decimal_positions; ++i) out += digits.next();
    // A leading zero not yet written comes before the digits: it never rounds up.
    return {leading_zeros <= f.decimal_positions && round_due(digits.peek()), digits.consumed()};
}

int32_t decimal_length(int64_t v) {
    int32_t n = 1;
    for (; v >= 10; v /= 10) ++n;
    return n;
}

// With an exponent: the first significant digit lands in the first integer position, or right
// after the point; a sign place ("-", a blank, or "0") comes first.
form_written exponent_form(const numeric_field& f, print_using_digits& n, std::string& out, int64_t& reach) {
    int32_t positions = f.integer_positions, decimals = f.decimal_positions;
    bool point = f.point;
    bool sign_place = !has_other_sign(f);
    if (sign_place) {
        if (positions > 0) {
            --positions;
        } else if (--decimals == 0) {
            point = false;
            positions = 1;
        }
    }
    integer_zero_hidden(positions, n);
    bool zero_place = false;
    if (!n.negative && sign_place && positions == 0) {
        if (decimals > 0) {
            zero_place = true;
        } else {
            positions = 1;
            sign_place = false;
        }
    }
    bool overflow = false;
    if (positions == 0 && decimals == 0) {
        positions = 1;
        overflow = true;
    }
    int64_t e = integer_digits(n) - 1 - (positions > 0 ? positions - 1 : -1);
    int32_t exponent_digits = f.exponent_digits;
    int64_t magnitude = e < 0 ? -e : e;
    if (decimal_length(magnitude) > exponent_digits) {
        exponent_digits = decimal_length(magnitude);
        overflow = true;
    }
    leading_sign(f, n, overflow, out);
    if (f.dollar) out += '$';
    if (zero_place)
        out += '0';
    else if (sign_place)
        out += n.negative ? '-' : ' ';
    digit_reader digits(n.digits, reach);
    for (int32_t i = 0; i < positions; ++i) out += digits.next();
    if (point) out += '.';
    for (int32_t i = 0; i < decimals; ++i) out += digits.next();
    form_written written{round_due(digits.peek()), digits.consumed()};
    out += n.letter;
    out += e < 0 ? '-' : '+';
    char text[24];
    char* end = std::to_chars(text, std::end(text), magnitude).ptr;
    out.append(size_t(exponent_digits - (end - text)), '0');
    out.append(text, end);
    return written;
}

// Adds one at the last digit written, carrying leftwards; a carry out of the first digit (or a
// round-up before any digit was written) puts a new leading 1 in front.
void round_up_at(print_using_digits& n, size_t written) {
    size_t i = std::min(written, n.digits.size());
    while (i > 0 && n.digits[i - 1] == '9') n.digits[--i] = '0';
    if (i > 0)
        ++n.digits[i - 1];
    else
        n.digits.insert(0, 1, '1');
}

bool is_zero(const print_using_digits& n) { return n.digits.find_first_not_of('0') == std::string::npos; }

void trailing_sign(const numeric_field& f, const print_using_digits& n, std::string& out) {
    if (f.trailing_plus) out += n.negative ? '-' : '+';
    if (f.trailing_minus) out += n.negative ? '-' : ' ';
}

}  // namespace

bool numeric_field_scan(std::string_view t, size_t position, numeric_field& field) {
    numeric_field f;
    scan_state state = scan_state::start;
    using s = scan_state;
    size_t i = position;
    while (i < t.size()) {
        char c = t[i];
        if (one_of(state, {s::integer, s::fraction, s::exponent}) && (c == '+' || c == '-')) {
            (c == '+' ? f.trailing_plus : f.trailing_minus) = true;
            ++i;
            break;
        }
        if (one_of(state, {s::integer, s::fraction}) && at(t, i, "^^^^")) {
            bool five = at(t, i, "^^^^^");
            f.exponent_digits = five ? 3 : 2;
            i += five ? 5 : 4;
            state = s::exponent;
        } else if (state == s::fraction && c == '#') {
            ++f.decimal_positions;
            ++i;
        } else if (state == s::integer && c == ',') {
            f.comma = true;
            ++f.integer_positions;
            ++i;
        } else if (one_of(state, {s::start, s::after_plus, s::integer}) && (c == '#' || c == '.')) {
            if (c == '#') {
                ++f.integer_positions;
                state = s::integer;
            } else {
                f.point = true;
                state = s::fraction;
            }
            ++i;
        } else if (one_of(state, {s::start, s::after_plus}) && at(t, i, "**")) {
            f.star_fill = true;
            f.dollar = at(t, i, "**$");
            f.integer_positions += 2;
            i += f.dollar ? 3 : 2;
            state = s::integer;
        } else if (one_of(state, {s::start, s::after_plus}) && at(t, i, "$$")) {
            f.dollar = true;
            f.integer_positions += 1;
            i += 2;
            state = s::integer;
        } else if (state == s::start && c == '+') {
            f.leading_plus = true;
            ++i;
            state = s::after_plus;
        } else {
            break;
        }
    }
    if (!one_of(state, {s::integer, s::fraction, s::exponent})) return false;
    if (f.integer_positions + f.decimal_positions == 0) return false;
    f.end = i;
    field = f;
    return true;
}

int64_t numeric_field_write(const numeric_field& f, print_using_digits& n, std::string& out) {
    int64_t reach = -1;
    size_t start = out.size();
    bool zero_with_exponent = f.exponent_digits > 0 && is_zero(n);
    // Zero shows as in the same field without the exponent, and the exponent +00.
    numeric_field form = f;
    if (zero_with_exponent) form.exponent_digits = 0;
    for (bool may_round = true;; may_round = false) {
        out.resize(start);
        form_written w = form.exponent_digits > 0 ? exponent_form(form, n, out, reach) : fixed_form(form, n, out, reach);
        if (!may_round || !w.round_up) break;
        round_up_at(n, w.digits);
    }
    if (zero_with_exponent) {
        out += n.letter;
        out += '+';
        out.append(size_t(f.exponent_digits), '0');
    }
    trailing_sign(f, n, out);
    return reach;
}
