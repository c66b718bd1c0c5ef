#include "files/file_open.h"

#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "core/error_codes.h"
#include "core/errors.h"
#include "core/shutdown.h"
#include "core/strings.h"
#include "files/file_handles.h"
#include "files/network_seam.h"
#include "files/record_fields.h"
#include "files/sequential.h"
#include "screen/fonts.h"

namespace {

constexpr uint8_t ctrl_z = 26;

// Input files: a first byte 26 marks an empty text file. Regular files only: a port's byte would
// be lost. False when the byte cannot be read (the error is raised).
bool input_first_byte_check(int32_t slot) {
    int32_t byte = file_handle_first_byte(slot);
    if (byte == file_at_end || byte == file_no_access) return true;
    if (byte < 0) {
        error_raise(byte == file_denied ? error_permission_denied : error_path_file_access);
        return false;
    }
    if (byte == ctrl_z) file_handle_record_of(slot).eof_flag = 1;
    return true;
}

// Random files: their record length and zeroed buffer. False when the buffer cannot be had.
bool random_start(int32_t slot, int64_t record_length, int32_t given) {
    file_handle_record& r = file_handle_record_of(slot);
    r.record_length = (given && record_length != -1) ? record_length : record_length_default;
    r.record_buffer = static_cast<uint8_t*>(std::calloc(static_cast<size_t>(r.record_length), 1));
    if (r.record_buffer) return true;
    error_raise(error_out_of_memory);
    return false;
}

}  // namespace

bool open_request_of(int32_t mode, int32_t access_clause, int32_t lock_clause, open_request& q) {
    if (mode < open_mode_default || mode > open_mode_append || access_clause < open_access_none ||
        access_clause > open_access_write || lock_clause < open_lock_none || lock_clause > open_lock_write)
        return false;
    constexpr int32_t read_write = file_access_read | file_access_write;
    switch (mode) {
    case open_mode_default:
    case open_mode_random: q = {read_write, 0, file_create_fallback, file_mode_random}; break;
    case open_mode_binary: q = {read_write, 0, file_create_fallback, file_mode_binary}; break;
    case open_mode_input: q = {file_access_read, 0, file_create_never, file_mode_input}; break;
    case open_mode_output: q = {file_access_write, 0, file_create_truncate, file_mode_output}; break;
    default: q = {file_access_write, 0, file_create_open, file_mode_output}; break;
    }
    if (access_clause != open_access_none) {
        constexpr int32_t access_of_clause[] = {0, read_write, file_access_read, file_access_write};
        q.access = access_of_clause[access_clause];
        if (q.kind == file_create_fallback) q.kind = file_create_open;
    }
    if (lock_clause != open_lock_none) {
        constexpr int32_t deny_of_clause[] = {0, 0, file_deny_read | file_deny_write, file_deny_read, file_deny_write};
        q.deny = deny_of_clause[lock_clause];
    }
    return true;
}

void file_open(string_descriptor* name, int32_t mode, int32_t access, int32_t lock, int32_t file_number,
               int64_t record_length, int32_t record_length_given) {
    if (error_pending()) return;
    // A record length must fit a buffer the runtime can hold.
    if (record_length_given && (record_length == 0 || record_length < -1 || record_length > INT32_MAX))
        return error_raise(error_illegal_function_call);
    open_request q;
    if (!open_request_of(mode, access, lock, q)) return error_raise(error_illegal_function_call);
    int32_t state = file_number_state(file_number);
    if (state < 0) return error_raise(error_bad_file_name_or_number);
    if (state == 1) return error_raise(error_file_already_open);

    int32_t slot = file_handle_open(string_text_view(name), q.access, q.deny, q.kind);
    if (slot < 0) return error_raise(file_open_error_of_result(slot));
    file_number_bind(file_number, slot);
    file_handle_record& r = file_handle_record_of(slot);
    r.mode = q.mode;
    r.print_column = 1;

    bool started = true;
    if (q.mode == file_mode_random) started = random_start(slot, record_length, record_length_given);
    else if (mode == open_mode_append) {
        int64_t size = file_handle_size(slot);
        if (size > 0) file_handle_seek(slot, size);
    } else if (q.mode == file_mode_input) {
        started = input_first_byte_check(slot);
    }
    // An open that failed half-way leaves the number free.
    if (!started) file_handle_close(slot);
}

void file_open_short_form(string_descriptor* mode_text, int32_t file_number, string_descriptor* name,
                          int64_t record_length, int32_t record_length_given) {
    if (error_pending()) return;
    if (mode_text->length == 0) return error_raise(error_bad_file_mode);
    int32_t mode;
    switch (mode_text->text[0] & 0xDF) {
    case 'R': mode = open_mode_random; break;
    case 'B': mode = open_mode_binary; break;
    case 'I': mode = open_mode_input; break;
    case 'O': mode = open_mode_output; break;
    case 'A': mode = open_mode_append; break;
    default: return error_raise(error_bad_file_mode);
    }
    file_open(name, mode, open_access_none, open_lock_none, file_number, record_length_given ? record_length : 0,
              record_length_given);
}

void file_close(int32_t file_number, int32_t one_file) {
    if (error_pending()) return;
    if (!one_file) return files_close_all_quietly();
    if (file_number < 0) {
        if (file_network.close) file_network.close(file_number);
        return;
    }
    int32_t slot = file_number_slot(file_number);
    if (slot >= 0 && file_handle_close(slot) != file_ok) error_raise(error_path_file_access);
}

int32_t file_free_number() { return file_number_first_free(); }

void files_close_all_quietly() {
    if (file_network.close_all) file_network.close_all();
    while (int32_t n = file_number_lowest_bound()) {
        int32_t code = file_handle_close(file_number_slot(n));
        if (code == file_bad_slot) file_number_unbind(n);  // never left bound, whatever happened
        else if (code != file_ok)
            std::fprintf(stderr, "lumo: closing file #%d reported an error; its last writes may be lost\n", n);
    }
}

void file_layer_init() {
    runtime_shutdown_seams.files_close_all = files_close_all_quietly;
    record_fields_init();
    sequential_items_connect();
    font_file_reader_set(
        [](std::string_view name, std::string& bytes) { return file_read_whole(name, bytes) == file_ok; });
}
