#include "core/file_items.h"

#include <string>

#include "core/error_codes.h"
#include "core/errors.h"
#include "core/file_item_source.h"

namespace {

constexpr int32_t cr = 13, lf = 10, separator = ',', quote = '"';

int32_t no_file_layer(int32_t) {
    error_raise(error_bad_file_name_or_number);
    return -1;
}

file_item_source installed{no_file_layer, nullptr, nullptr, nullptr};

bool blank_or_tab(int32_t c) { return c == ' ' || c == '\t'; }

// The slot to read, or -1 once the error is raised.
int32_t slot_of(int32_t file_number) {
    if (file_number < 0) {
        error_raise(error_bad_file_name_or_number);
        return -1;
    }
    return installed.input_slot(file_number);
}

// The first byte that is not a blank or tab.
int32_t after_blanks(int32_t slot) {
    int32_t c;
    do c = installed.read_byte(slot);
    while (blank_or_tab(c));
    return c;
}

// Reads bytes into the lexer until one does not belong; answers that byte, or the result code.
template <typename Step>
int32_t item_read(int32_t slot, int32_t c, Step step, int32_t& result) {
    for (; c >= 0; c = installed.read_byte(slot)) {
        lex_step s = step(uint8_t(c));
        if (s == lex_step::ends) break;
        if (s == lex_step::too_many) {
            result = file_lex_too_many_digits;
            break;
        }
    }
    if (c == file_byte_error) result = file_lex_error_raised;
    return c;
}

// Lexes the next item; on a failure raises its error and answers false.
bool item_lexed(int32_t file_number, digit_buffer& b) {
    switch (file_number_lex(file_number, b)) {
    case file_lex_ok: return true;
    case file_lex_too_many_digits: error_raise(error_overflow); return false;
    case file_lex_end_of_file: error_raise(error_input_past_end); return false;
    default: return false;
    }
}

// Lexes the next item and converts it with convert(buffer, value); a value the target cannot hold
// is error 6.
template <typename T, typename Convert>
T number_read(int32_t file_number, Convert convert) {
    if (error_pending()) return 0;
    digit_buffer b;
    if (!item_lexed(file_number, b)) return 0;
    T value;
    if (convert(b, value)) return value;
    error_raise(error_overflow);
    return 0;
}

// An unquoted item up to its separator, without trailing blanks and tabs; answers the byte that
// ended it.
int32_t plain_item(int32_t slot, int32_t c, std::string& item) {
    for (; c >= 0 && c != separator && c != cr && c != lf; c = installed.read_byte(slot)) item += char(c);
    item.erase(item.find_last_not_of(" \t") + 1);
    return c;
}

// A quoted item up to its closing quote; then the bytes up to the separator are dropped. Answers
// the byte that ended the item.
int32_t quoted_item(int32_t slot, std::string& item) {
    int32_t c;
    while ((c = installed.read_byte(slot)) >= 0 && c != quote) item += char(c);
    if (c == quote) {
        do c = installed.read_byte(slot);
        while (c >= 0 && c != separator && c != cr && c != lf);
    }
    return c;
}

}  // namespace

void file_item_source_set(const file_item_source& source) {
    bool whole = source.input_slot && source.read_byte && source.skip_item_separator && source.skip_line_end;
    installed = whole ? source : file_item_source{no_file_layer, nullptr, nullptr, nullptr};
}

int32_t file_number_lex(int32_t file_number, digit_buffer& buffer) {
    number_lexer lexer(buffer);
    int32_t slot = slot_of(file_number);
    if (slot < 0) return file_lex_error_raised;
    int32_t c = after_blanks(slot);
    if (c == file_byte_end) return file_lex_end_of_file;
    if (c == file_byte_error) return file_lex_error_raised;
    int32_t result = file_lex_ok;
    if (c == '&') {
        c = installed.read_byte(slot);
        if (lexer.base_letter(c))
            c = item_read(slot, installed.read_byte(slot), [&](uint8_t b) { return lexer.based(b); }, result);
        // "&" followed by anything else is the value 0; that byte ends the item.
    } else {
        c = item_read(slot, c, [&](uint8_t b) { return lexer.decimal(b); }, result);
    }
    lexer.finish();
    if (c == file_byte_error) return file_lex_error_raised;
    installed.skip_item_separator(slot, c);
    return result;
}

long double file_input_number(int32_t file_number, variable_type_code type) {
    return number_read<long double>(file_number, [type](const digit_buffer& b, long double& value) {
        return digit_buffer_to_type(b, type, value);
    });
}

int64_t file_input_int64(int32_t file_number) { return number_read<int64_t>(file_number, digit_buffer_to_int64); }

uint64_t file_input_uint64(int32_t file_number) { return number_read<uint64_t>(file_number, digit_buffer_to_uint64); }

void file_input_string(int32_t file_number, string_descriptor* target) {
    if (error_pending()) return;
    int32_t slot = slot_of(file_number);
    if (slot < 0) return;
    int32_t c = after_blanks(slot);
    if (c == file_byte_error) return;
    if (c == file_byte_end) {
        string_assign_always(target, string_empty);
        error_raise(error_input_past_end);
        return;
    }
    std::string item;
    c = c == quote ? quoted_item(slot, item) : plain_item(slot, c, item);
    if (c == file_byte_error) return;
    if (c == cr || c == lf) installed.skip_line_end(slot, c);
    string_assign_always(target, string_temp_from_bytes(item.data(), item.size()));
}
