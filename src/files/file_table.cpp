// Slots and file numbers: taking and recycling slots (last freed, first reused), binding BASIC
// file numbers, closing, and the result-to-error tables the statements share.
#include <unistd.h>

#include <cstdlib>

#include "core/error_codes.h"
#include "files/file_internal.h"
#include "files/file_locks_internal.h"

file_table_state file_table;
uint64_t file_handle_serial = 1;
// Number 0 is never bound. A free number's memo points at a slot with no block, so the fast ways
// of the byte statements need no test for it.
file_slot unbound_slot;
constexpr file_number_memo number_memo_blank{0, -1, &unbound_slot};
file_number_memo file_number_last = number_memo_blank;

file_handle_record* const* file_handle_records = nullptr;

int32_t file_handle_slot_count() { return static_cast<int32_t>(file_table.slots.size()); }

int32_t file_handle_alloc() {
    int32_t slot;
    if (!file_table.free_stack.empty()) {
        slot = file_table.free_stack.back();
        file_table.free_stack.pop_back();
    } else {
        slot = file_handle_slot_count();
        file_table.slots.push_back(std::make_unique<file_slot>());
        file_table.records.push_back(&file_table.slots.back()->record);
        file_handle_records = file_table.records.data();
    }
    file_handle_record_of(slot) = file_handle_record{};
    file_os_of(slot) = file_os_handle{};
    file_handle_record_of(slot).serial = file_handle_serial++;
    return slot;
}

int32_t file_handle_valid(int32_t slot) { return file_slot_open(slot) ? 1 : 0; }

int32_t file_handle_release(int32_t slot) {
    if (!file_handle_valid(slot)) return file_bad_slot;
    file_handle_record& r = file_handle_record_of(slot);
    r.in_use = 0;
    file_os_of(slot).ahead_length = 0;  // a block means an open slot to the byte reader
    if (r.file_number != 0) file_number_unbind(r.file_number);
    file_table.free_stack.push_back(slot);
    return file_ok;
}

int32_t file_handle_close(int32_t slot) {
    if (int32_t code = file_handle_release(slot); code != file_ok) return code;
    file_handle_record& r = file_handle_record_of(slot);
    std::free(r.record_buffer);
    r.record_buffer = nullptr;
    std::free(r.field_list);
    r.field_list = nullptr;
    r.field_count = 0;
    file_os_handle& os = file_os_of(slot);
    file_locks_drop(os);
    // close() may report a write the kernel could not complete; that is not a success.
    int failed = os.fd >= 0 ? ::close(os.fd) : 0;
    os.fd = -1;
    return failed != 0 ? file_fault : file_ok;
}

int32_t file_number_state(int32_t n) {
    if (n < 1) return file_bad_slot;
    if (file_table.numbers.contains(n)) return 1;
    // Only the highest number asked is kept: asking about a huge number allocates nothing.
    if (n > file_table.number_map_size) file_table.number_map_size = n;
    return 0;
}

int32_t file_number_first_free() {
    int32_t n = 1;
    for (const auto& [bound, slot] : file_table.numbers) {
        if (bound != n) break;
        ++n;
    }
    return n <= file_table.number_map_size ? n : file_table.number_map_size + 1;
}

void file_number_bind(int32_t n, int32_t slot) {
    file_number_last = number_memo_blank;
    file_table.numbers[n] = slot;
    if (n > file_table.number_map_size) file_table.number_map_size = n;
    file_handle_record_of(slot).file_number = n;
}

void file_number_unbind(int32_t n) {
    file_number_last = number_memo_blank;
    file_table.numbers.erase(n);
}

int32_t file_number_slot_lookup(int32_t n) {
    auto it = file_table.numbers.find(n);
    bool bound = it != file_table.numbers.end();
    file_number_last = {n, bound ? it->second : -1, bound ? &file_slot_of(it->second) : &unbound_slot};
    return file_number_last.slot;
}

int32_t file_number_lowest_bound() { return file_table.numbers.empty() ? 0 : file_table.numbers.begin()->first; }

int32_t file_number_map_size() { return file_table.number_map_size; }

int64_t file_handle_last_read_count() { return file_table.last_read_count; }

int32_t file_error_of_result(int32_t code) {
    switch (code) {
    case file_bad_slot: return error_invalid_handle;
    case file_no_access: return error_bad_file_mode;
    case file_bad_argument: return error_illegal_function_call;
    case file_denied: return error_permission_denied;
    case file_disk_full: return error_disk_full;
    default: return error_path_file_access;
    }
}

int32_t file_open_error_of_result(int32_t code) {
    switch (code) {
    case file_path_not_found: return error_path_not_found;
    case file_denied: return error_permission_denied;
    case file_device_unavailable: return error_device_unavailable;
    case file_bad_name: return error_bad_file_name;
    case file_fault: return error_too_many_files;
    case file_disk_full: return error_disk_full;
    default: return error_file_not_found;
    }
}

void file_handles_reset() {
    for (int32_t slot = 0; slot < file_handle_slot_count(); ++slot) file_handle_close(slot);
    file_table = file_table_state{};
    file_handle_records = nullptr;
    file_number_last = number_memo_blank;
}
