#include "core/string_functions.h"

#include <algorithm>
#include <cstring>

#include "core/errors.h"

namespace {

constexpr uint8_t blank = ' ';

// The n bytes of s from byte `from`, with 0 <= from and from + n <= length.
string_descriptor* part_of(string_descriptor* s, int64_t from, int64_t n) {
    if (from == 0 && n == s->length) return s;
    if (!string_disposable(s)) return string_temp_copy(s, static_cast<uint32_t>(from), static_cast<uint32_t>(n));
    s->text += from;
    s->length = static_cast<int32_t>(n);
    return s;
}

// s itself when it may be changed, else a copy (a temporary s is consumed).
string_descriptor* writable(string_descriptor* s) {
    return string_disposable(s) ? s : string_temp_copy(s, 0, static_cast<uint32_t>(s->length));
}

string_descriptor* case_mapped(string_descriptor* s, uint8_t from, uint8_t to, bool set_bit) {
    if (s->length == 0) return s;
    string_descriptor* r = writable(s);
    for (int32_t i = 0; i < r->length; ++i) {
        uint8_t c = r->text[i];
        if (c >= from && c <= to) r->text[i] = set_bit ? uint8_t(c | 0x20) : uint8_t(c & ~0x20);
    }
    return r;
}

int64_t blanks_leading(const string_descriptor* s) {
    int64_t k = 0;
    while (k < s->length && s->text[k] == blank) ++k;
    return k;
}

int64_t blanks_trailing(const string_descriptor* s) {
    int64_t k = 0;
    while (k < s->length && s->text[s->length - 1 - k] == blank) ++k;
    return k;
}

// Stores write only into strings whose text the program owns.
bool store_target(const string_descriptor* t) { return !t->read_only && !t->permanent; }

// Unsigned byte order over the common part; then the shorter is the smaller.
int compare(const string_descriptor* a, const string_descriptor* b) {
    auto n = static_cast<size_t>(std::min(a->length, b->length));
    int r = n > 0 ? std::memcmp(a->text, b->text, n) : 0;
    if (r != 0) return r < 0 ? -1 : 1;
    return a->length < b->length ? -1 : a->length > b->length ? 1 : 0;
}

bool equal(const string_descriptor* a, const string_descriptor* b) {
    return a->length == b->length && (a->length == 0 || std::memcmp(a->text, b->text, size_t(a->length)) == 0);
}

int32_t truth(bool b) { return b ? -1 : 0; }

}  // namespace

string_descriptor* string_to_upper(string_descriptor* s) { return case_mapped(s, 'a', 'z', false); }
string_descriptor* string_to_lower(string_descriptor* s) { return case_mapped(s, 'A', 'Z', true); }

string_descriptor* string_from_char_code(int32_t code) {
    if (code < 0 || code > 255) {
        error_raise(error_illegal_function_call);
        return string_new(0, 1);
    }
    string_descriptor* r = string_new(1, 1);
    r->text[0] = static_cast<uint8_t>(code);
    return r;
}

string_descriptor* string_variable_reference(uint8_t type, uint16_t offset) {
    string_descriptor* r = string_new(3, 1);
    r->text[0] = type;
    r->text[1] = static_cast<uint8_t>(offset);
    r->text[2] = static_cast<uint8_t>(offset >> 8);
    return r;
}

string_descriptor* string_left(string_descriptor* s, int32_t n) {
    int64_t k = std::clamp<int64_t>(n, 0, s->length);
    return part_of(s, 0, k);
}

string_descriptor* string_right(string_descriptor* s, int32_t n) {
    int64_t k = std::clamp<int64_t>(n, 0, s->length);
    return part_of(s, s->length - k, k);
}

string_descriptor* string_mid(string_descriptor* s, int32_t start, int32_t count, int32_t count_given) {
    // 64-bit: start + count near the 32-bit limits must not wrap.
    int64_t length = s->length;
    int64_t from = start;
    int64_t n;
    if (count_given) {
        n = count;
        if (from < 1) {
            n += from - 1;
            from = 1;
        }
        if (n < 1 || from > length) return part_of(s, 0, 0);
        n = std::min(n, length - from + 1);
    } else {
        from = std::max<int64_t>(from, 1);
        n = length - from + 1;
        if (n < 1) return part_of(s, 0, 0);
    }
    return part_of(s, from - 1, n);
}

string_descriptor* string_trim_left(string_descriptor* s) {
    int64_t k = blanks_leading(s);
    return part_of(s, k, s->length - k);
}

string_descriptor* string_trim_right(string_descriptor* s) { return part_of(s, 0, s->length - blanks_trailing(s)); }

string_descriptor* string_spaces(int32_t n) { return string_repeat_byte(n, blank); }

string_descriptor* string_repeat_byte(int32_t n, int32_t code) {
    string_descriptor* r = string_new(static_cast<uint32_t>(std::max(n, 0)), 1);
    if (r->length > 0) std::memset(r->text, static_cast<uint8_t>(code), static_cast<size_t>(r->length));
    return r;
}

void string_set_left(string_descriptor* target, string_descriptor* source) {
    if (error_pending() || !store_target(target)) return;
    string_fill_left(target, source);
    if (target->field_link) string_field_assign(target);
}

void string_set_right(string_descriptor* target, string_descriptor* source) {
    if (error_pending() || !store_target(target)) return;
    auto width = static_cast<size_t>(target->length);
    auto n = std::min(static_cast<size_t>(source->length), width);
    // The source's first bytes go to the right end; copied before the blanks, so an overlapping
    // source is read before it is overwritten.
    if (n > 0) std::memmove(target->text + (width - n), source->text, n);
    std::memset(target->text, blank, width - n);
    if (target->field_link) string_field_assign(target);
}

void string_mid_overwrite(string_descriptor* target, int32_t start, int32_t count, string_descriptor* source,
                          int32_t count_given) {
    if (error_pending() || !store_target(target)) return;
    // 64-bit: start + count near the 32-bit limits must not wrap and write past the target.
    int64_t n = count_given ? count : source->length;
    int64_t at = start;
    int64_t skip = 0;
    if (at < 1) {
        // Source bytes that would fall before the target's first byte are dropped.
        n += at - 1;
        skip = 1 - at;
        at = 1;
    }
    if (n < 1 || at > target->length || source->length - skip < 1) return;
    n = std::min({n, target->length - at + 1, source->length - skip});
    uint8_t* to = target->text + (at - 1);
    const uint8_t* from = source->text + skip;
    if (to != from) std::memmove(to, from, static_cast<size_t>(n));
}

int32_t string_find(int32_t start, string_descriptor* s, string_descriptor* pattern, int32_t start_given) {
    int64_t from = start_given ? start : 1;
    int64_t length = s->length;
    int64_t plen = pattern->length;
    if (length == 0) return 0;
    if (from < 1) {
        if (plen == 0) return 0;
        from = 1;
    }
    if (from > length) return 0;
    if (plen == 0) return static_cast<int32_t>(from);
    const uint8_t* text = s->text;
    const uint8_t first = pattern->text[0];
    // i: 0-based place of a candidate; the pattern must fit in front of the end.
    for (int64_t i = from - 1; i + plen <= length;) {
        const void* hit = std::memchr(text + i, first, static_cast<size_t>(length - plen - i + 1));
        if (!hit) return 0;
        i = static_cast<const uint8_t*>(hit) - text;
        if (std::memcmp(text + i, pattern->text, static_cast<size_t>(plen)) == 0) return static_cast<int32_t>(i + 1);
        ++i;
    }
    return 0;
}

int32_t string_equal(string_descriptor* a, string_descriptor* b) { return truth(equal(a, b)); }
int32_t string_not_equal(string_descriptor* a, string_descriptor* b) { return truth(!equal(a, b)); }
int32_t string_greater(string_descriptor* a, string_descriptor* b) { return truth(compare(a, b) > 0); }
int32_t string_less(string_descriptor* a, string_descriptor* b) { return truth(compare(a, b) < 0); }
int32_t string_less_equal(string_descriptor* a, string_descriptor* b) { return truth(compare(a, b) <= 0); }
int32_t string_greater_equal(string_descriptor* a, string_descriptor* b) { return truth(compare(a, b) >= 0); }

int32_t string_char_code_at(string_descriptor* s, int32_t position) {
    if (position < 1 || position > s->length) {
        error_raise(error_illegal_function_call);
        return 0;
    }
    return s->text[position - 1];
}

int32_t string_char_code(string_descriptor* s) {
    if (s->length == 0) {
        error_raise(error_illegal_function_call);
        return 0;
    }
    return s->text[0];
}

int32_t string_length(string_descriptor* s) { return s->length; }

void memory_swap(void* a, void* b, uint32_t n) {
    if (error_pending()) return;
    auto* p = static_cast<uint8_t*>(a);
    auto* q = static_cast<uint8_t*>(b);
    uint32_t i = 0;
    for (; i + 4 <= n; i += 4) {
        uint32_t x, y;
        std::memcpy(&x, p + i, 4);
        std::memcpy(&y, q + i, 4);
        std::memcpy(p + i, &y, 4);
        std::memcpy(q + i, &x, 4);
    }
    for (; i < n; ++i) std::swap(p[i], q[i]);
}
