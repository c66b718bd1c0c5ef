// Record fields: the field statement binds string variables to consecutive stretches of a random
// file's record buffer; bound strings then mirror their fields after every GET and every change,
// and the aligned stores (LSET, RSET) write through them into the buffer. A binding remembers the
// file's serial, so it goes stale when the file is closed or reopened.
// Not here: the record transfers (random_access.h).
#pragma once

#include <cstdint>

struct string_descriptor;

struct field_link {
    int32_t file_number;
    uint64_t serial;
    int64_t width;
    int64_t offset;
};

int64_t field_begin(int32_t file_number);
int64_t field_attach(string_descriptor* s, int64_t width);
// Copies the record buffer into every string bound to a field of the file.
void field_refresh(int32_t file_number);
void field_string_assign(string_descriptor* s);
void field_string_detach(string_descriptor* s);

// Start-up and tests: the string store's record-field calls lead here; no field statement runs.
void record_fields_init();
