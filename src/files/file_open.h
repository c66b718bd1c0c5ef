// The open and close statements and the free-file-number function: from the BASIC mode and its
// access and lock clauses to the file layer's access, deny bits and creation kind, the binding
// of the file number, and each mode's start (record buffer, append position, Ctrl+Z test).
// Not here: the by-slot layer (file_handles.h).
#pragma once

#include <cstdint>

struct string_descriptor;

// Mode arguments of the open statement.
enum : int32_t { open_mode_default = 0, open_mode_random = 1, open_mode_binary = 2, open_mode_input = 3,
                 open_mode_output = 4, open_mode_append = 5 };
// Access clause: absent, read and write, read, write. Lock clause: absent, shared, read write,
// read, write (what others are denied).
enum : int32_t { open_access_none = 0, open_access_read_write = 1, open_access_read = 2, open_access_write = 3 };
enum : int32_t { open_lock_none = 0, open_lock_shared = 1, open_lock_read_write = 2, open_lock_read = 3,
                 open_lock_write = 4 };
constexpr int64_t record_length_default = 128;

void file_open(string_descriptor* name, int32_t mode, int32_t access, int32_t lock, int32_t file_number,
               int64_t record_length, int32_t record_length_given);
void file_open_short_form(string_descriptor* mode_text, int32_t file_number, string_descriptor* name,
                          int64_t record_length, int32_t record_length_given);
// one_file 0 closes every file and network handle; else the file or network handle given.
void file_close(int32_t file_number, int32_t one_file);
int32_t file_free_number();

// What the open statement asks of the file layer for a mode and its clauses (pure).
struct open_request {
    int32_t access;
    int32_t deny;
    int32_t kind;
    uint8_t mode;  // as the slot keeps it
};
// False when the mode or a clause is out of range.
bool open_request_of(int32_t mode, int32_t access_clause, int32_t lock_clause, open_request& request);

// The close of everything at program end and shutdown: closes all, raises nothing.
void files_close_all_quietly();
// Start-up: hands files_close_all_quietly to the program's end and the shutdown, the record field
// calls to the string store and the whole-file read to font loading.
void file_layer_init();
