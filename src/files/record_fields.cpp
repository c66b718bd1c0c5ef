#include "files/record_fields.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "core/error_codes.h"
#include "core/errors.h"
#include "core/strings.h"
#include "files/file_handles.h"

namespace {

constexpr uint8_t blank = ' ';

// The field statement in progress.
struct field_statement_state {
    int32_t file = 0;
    int64_t offset = 0;
    int64_t length = 0;
    bool blocked = true;  // the parts of a statement do nothing until a field_begin succeeds
};
field_statement_state statement;

// The random file a link still belongs to, or null when the link is stale.
file_handle_record* link_record(const field_link* link) {
    int32_t slot = file_number_slot(link->file_number);
    if (slot < 0) return nullptr;
    file_handle_record& r = file_handle_record_of(slot);
    return (r.mode == file_mode_random && r.serial == link->serial) ? &r : nullptr;
}

file_handle_record* random_record(int32_t n) {
    int32_t slot = file_number_slot(n);
    if (slot < 0) return nullptr;
    file_handle_record& r = file_handle_record_of(slot);
    return r.mode == file_mode_random ? &r : nullptr;
}

void link_drop(string_descriptor* s) {
    delete s->field_link;
    s->field_link = nullptr;
}

// The string's text made exactly its field's width, then filled from the buffer.
void field_copy_out(string_descriptor* s, const uint8_t* buffer) {
    const field_link* link = s->field_link;
    if (s->length < link->width) string_assign_always(s, string_new(static_cast<uint32_t>(link->width), 1));
    else if (s->length > link->width) s->length = static_cast<int32_t>(link->width);
    if (link->width > 0) std::memcpy(s->text, buffer + link->offset, static_cast<size_t>(link->width));
}

int64_t attach_refused(int32_t error) {
    statement.blocked = true;
    error_raise(error);
    return statement.offset;
}

}  // namespace

int64_t field_begin(int32_t n) {
    statement.blocked = true;
    if (error_pending()) return 0;
    if (n < 0) return error_raise(error_bad_file_mode), 0;
    if (file_number_slot(n) < 0) return error_raise(error_bad_file_name_or_number), 0;
    file_handle_record* r = random_record(n);
    if (!r) return error_raise(error_bad_file_mode), 0;
    statement = {n, 0, r->record_length, false};
    return r->record_length;
}

int64_t field_attach(string_descriptor* s, int64_t width) {
    if (statement.blocked) return statement.offset;
    if (error_pending()) {
        statement.blocked = true;
        return statement.offset;
    }
    // A read-only string (a literal) has no text of its own to mirror a field.
    if (width < 0 || s->read_only) return attach_refused(error_illegal_function_call);
    if (width > statement.length - statement.offset) return attach_refused(error_field_overflow);
    if (file_number_slot(statement.file) < 0) return attach_refused(error_bad_file_name_or_number);
    file_handle_record* r = random_record(statement.file);
    if (!r) return attach_refused(error_bad_file_mode);

    auto** list = static_cast<string_descriptor**>(
        std::realloc(r->field_list, sizeof(string_descriptor*) * static_cast<size_t>(r->field_count + 1)));
    if (!list) return attach_refused(error_out_of_memory);
    r->field_list = list;
    if (s->field_link) field_string_detach(s);
    s->field_link = new field_link{statement.file, r->serial, width, statement.offset};
    r->field_list[r->field_count++] = s;
    field_refresh(statement.file);
    statement.offset += width;
    return statement.offset;
}

void field_refresh(int32_t n) {
    file_handle_record* r = random_record(n);
    if (!r) return;
    for (int32_t i = 0; i < r->field_count; ++i) field_copy_out(r->field_list[i], r->record_buffer);
}

void field_string_assign(string_descriptor* s) {
    file_handle_record* r = link_record(s->field_link);
    if (!r) return link_drop(s);
    const field_link* link = s->field_link;
    auto n = std::min<int64_t>(s->length, link->width);
    uint8_t* field = r->record_buffer + link->offset;
    if (n > 0) std::memmove(field, s->text, static_cast<size_t>(n));
    std::memset(field + n, blank, static_cast<size_t>(link->width - n));
    field_refresh(link->file_number);
}

void field_string_detach(string_descriptor* s) {
    if (file_handle_record* r = link_record(s->field_link)) {
        string_descriptor** end = r->field_list + r->field_count;
        string_descriptor** at = std::find(r->field_list, end, s);
        if (at != end) {
            std::move(at + 1, end, at);
            --r->field_count;
        }
    }
    link_drop(s);
}

void record_fields_init() {
    statement = field_statement_state{};
    string_field_hooks_set({field_string_detach, field_string_assign});
}
