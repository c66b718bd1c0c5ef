#include "core/data_items.h"

#include "core/error_codes.h"
#include "core/errors.h"

namespace {

constexpr uint8_t separator = ',';
constexpr uint8_t quote = '"';

// After "&": "H" or "O" and their digits up to the comma; a comma or the end right after the "&"
// is the value 0.
int32_t based_item(const uint8_t* data, int32_t& i, int32_t length, number_lexer& lexer) {
    if (i >= length) return data_lex_ok;
    if (data[i] == separator) {
        ++i;
        return data_lex_ok;
    }
    if (!lexer.base_letter(data[i])) return data_lex_syntax_error;
    for (++i; i < length; ++i) {
        if (data[i] == separator) {
            ++i;
            return data_lex_ok;
        }
        lex_step s = lexer.based(data[i]);
        if (s == lex_step::ends) return data_lex_syntax_error;
        if (s == lex_step::too_many) return data_lex_too_many_digits;
    }
    return data_lex_ok;
}

int32_t decimal_item(const uint8_t* data, int32_t& i, int32_t length, number_lexer& lexer) {
    for (; i < length; ++i) {
        if (data[i] == separator) {
            ++i;
            break;
        }
        lex_step s = lexer.decimal(data[i]);
        if (s == lex_step::ends) return data_lex_syntax_error;
        if (s == lex_step::too_many) return data_lex_too_many_digits;
    }
    lexer.finish();
    return data_lex_ok;
}

// Lexes into `buffer`; on any error but the end of the DATA raises it and restores the position.
bool item_lexed(const uint8_t* data, int32_t& position, int32_t length, digit_buffer& buffer) {
    int32_t start = position;
    switch (data_number_lex(data, position, length, buffer)) {
    case data_lex_ok: return true;
    case data_lex_out_of_data: error_raise(error_out_of_data); break;
    case data_lex_syntax_error: error_raise(error_syntax); break;
    default: error_raise(error_overflow); break;
    }
    position = start;
    return false;
}

// Lexes the item and converts it with convert(buffer, value); a value the target cannot hold is
// error 6 with the position back at the item's start.
template <typename T, typename Convert>
T number_read(const uint8_t* data, int32_t& position, int32_t length, Convert convert) {
    if (error_pending()) return 0;
    int32_t start = position;
    digit_buffer b;
    if (!item_lexed(data, position, length, b)) return 0;
    T value;
    if (convert(b, value)) return value;
    position = start;
    error_raise(error_overflow);
    return 0;
}

}  // namespace

int32_t data_number_lex(const uint8_t* data, int32_t& position, int32_t length, digit_buffer& buffer) {
    number_lexer lexer(buffer);
    if (position < 0 || position >= length) return data_lex_out_of_data;
    if (data[position] == '&') {
        ++position;
        return based_item(data, position, length, lexer);
    }
    return decimal_item(data, position, length, lexer);
}

long double data_read_number(const uint8_t* data, int32_t& position, int32_t length, variable_type_code type) {
    return number_read<long double>(data, position, length, [type](const digit_buffer& b, long double& value) {
        return digit_buffer_to_type(b, type, value);
    });
}

int64_t data_read_int64(const uint8_t* data, int32_t& position, int32_t length) {
    return number_read<int64_t>(data, position, length, digit_buffer_to_int64);
}

uint64_t data_read_uint64(const uint8_t* data, int32_t& position, int32_t length) {
    return number_read<uint64_t>(data, position, length, digit_buffer_to_uint64);
}

void data_read_string(const uint8_t* data, int32_t& position, int32_t length, string_descriptor* target) {
    if (error_pending()) return;
    if (position < 0 || position >= length) {
        error_raise(error_out_of_data);
        string_assign_always(target, string_empty);
        return;
    }
    int32_t start = position, i = position;
    int32_t first = i, last = i;  // the item's bytes
    if (data[i] == quote) {
        first = ++i;
        while (i < length && data[i] != quote) ++i;
        last = i;
        if (i < length) ++i;  // the closing quote
        if (i < length && data[i] != separator) {
            error_raise(error_out_of_data);
            position = start;
            string_assign_always(target, string_empty);
            return;
        }
    } else {
        while (i < length && data[i] != separator) ++i;
        last = i;
    }
    if (i < length) ++i;  // the comma
    position = i;
    string_assign_always(target, string_temp_from_bytes(data + first, size_t(last - first)));
}
