#include "files/random_access.h"

#include <cstring>
#include <memory>
#include <new>

#include "core/byte_span.h"
#include "core/error_codes.h"
#include "core/errors.h"
#include "core/strings.h"
#include "files/file_handles.h"
#include "files/file_internal.h"
#include "files/network_seam.h"
#include "files/record_fields.h"

namespace {

constexpr uint32_t short_string_max = 32767;
constexpr uint32_t long_prefix_size = 8;
constexpr uint32_t short_prefix_size = 2;
constexpr int64_t loc_block = 128;

bool is_random(const file_handle_record& r) { return r.mode == file_mode_random; }

// The slot bound to n, or -1 with 52 raised.
int32_t bound_slot(int32_t n) {
    int32_t slot = n > 0 ? file_number_slot(n) : -1;
    if (slot < 0) error_raise(error_bad_file_name_or_number);
    return slot;
}

// The slot of a GET or PUT after the checks they share, or -1 with the error raised.
int32_t transfer_slot(int32_t n, bool put) {
    int32_t slot = bound_slot(n);
    if (slot < 0) return -1;
    const file_handle_record& r = file_handle_record_of(slot);
    if (r.mode != file_mode_random && r.mode != file_mode_binary) return error_raise(error_bad_file_mode), -1;
    if (!(put ? r.can_write : r.can_read)) return error_raise(error_path_file_access), -1;
    return slot;
}

// The record functions: random files only; a negative number is a bad mode, not a network handle.
int32_t record_slot(int32_t n, bool put) {
    if (n < 0) return error_raise(error_bad_file_mode), -1;
    int32_t slot = bound_slot(n);
    if (slot < 0) return -1;
    if (!is_random(file_handle_record_of(slot))) return error_raise(error_bad_file_mode), -1;
    return transfer_slot(n, put);
}

// The first byte of record or byte number position: false when the number is below 1 or its byte
// would lie beyond what a 64-bit position holds (no record there can be read or written).
bool byte_of_position(const file_handle_record& r, int64_t position, int64_t& byte) {
    if (position < 1) return false;
    if (!is_random(r)) return byte = position - 1, true;
    int64_t length = r.record_length;
    if (position - 1 > (INT64_MAX - length) / length) return false;
    byte = (position - 1) * length;
    return true;
}

// Where a transfer starts: -1 (the current position) when no position is given. False with 63 raised.
bool transfer_start(const file_handle_record& r, int64_t position, int32_t given, int64_t& start) {
    start = -1;
    if (!given) return true;
    if (byte_of_position(r, position, start)) return true;
    error_raise(error_bad_record_number);
    return false;
}

bool transfer_ok(int32_t code, bool accept_short) {
    if (code == file_ok || (accept_short && code == file_at_end)) return true;
    error_raise(file_error_of_result(code));
    return false;
}

// After part of a record was moved, the next transfer starts at the next record.
void next_record(int32_t slot, int64_t record_start) {
    if (file_handle_seek(slot, record_start + file_handle_record_of(slot).record_length) != file_ok)
        error_raise(error_bad_file_mode);
}

// Raw GET or PUT of length bytes at data: the checks, the start, the move to the next record.
void raw_transfer(int32_t n, int64_t position, uint8_t* data, int32_t length, int32_t given, bool put) {
    int32_t slot = transfer_slot(n, put);
    if (slot < 0) return;
    file_handle_record& r = file_handle_record_of(slot);
    if (is_random(r) && length > r.record_length) return error_raise(error_bad_record_length);
    int64_t start;
    if (!transfer_start(r, position, given, start)) return;
    int64_t record_start = given ? start : r.position;
    int32_t code = put ? file_handle_write(slot, start, data, length) : file_handle_read(slot, start, data, length);
    if (!transfer_ok(code, !put)) return;
    if (is_random(r) && code != file_at_end && length < r.record_length) next_record(slot, record_start);
}

void record_transfer(int32_t n, int64_t record, int32_t given, bool put) {
    if (error_pending()) return;
    int32_t slot = record_slot(n, put);
    if (slot < 0) return;
    file_handle_record& r = file_handle_record_of(slot);
    int64_t start;
    if (!transfer_start(r, record, given, start)) return;
    int32_t code = put ? file_handle_write(slot, start, r.record_buffer, r.record_length)
                       : file_handle_read(slot, start, r.record_buffer, r.record_length);
    if (transfer_ok(code, !put) && !put) field_refresh(n);
}

void network_missing() { error_raise(error_bad_file_name_or_number); }

// The string stored at the front of a random record: its length and prefix size, or false when
// the prefix does not fit the record or the text would run past it.
bool record_string_decode(const uint8_t* record, int64_t record_length, int64_t& length, int64_t& prefix) {
    uint32_t word = record[0] | uint32_t{record[1]} << 8;
    if (word & 0x8000) {
        if (record_length < long_prefix_size) return false;
        uint64_t high = 0;
        for (int i = 7; i >= 2; --i) high = high << 8 | record[i];
        length = static_cast<int64_t>(high * (short_string_max + 1) + (word & 0x7FFF));
        prefix = long_prefix_size;
    } else {
        length = word;
        prefix = short_prefix_size;
    }
    return length <= record_length - prefix;
}

void string_store(string_descriptor* target, const uint8_t* bytes, int64_t length) {
    string_descriptor* value = string_new(static_cast<uint32_t>(length), 1);
    if (length > 0) std::memcpy(value->text, bytes, static_cast<size_t>(length));
    string_assign_always(target, value);
}

void lock_statement(int32_t n, int64_t first, int64_t last, int32_t flags, bool lock) {
    if (error_pending()) return;
    int32_t slot = bound_slot(n);
    if (slot < 0) return;
    const file_handle_record& r = file_handle_record_of(slot);
    // Text files always lock the whole file.
    if (r.mode == file_mode_input || r.mode == file_mode_output) flags = 0;
    int64_t length = is_random(r) ? r.record_length : 1;
    int64_t first_byte = -1, last_byte = -1;
    if (flags & lock_first_given) {
        if (!byte_of_position(r, first, first_byte)) return error_raise(error_illegal_function_call);
        last_byte = first_byte + length - 1;
    }
    if (flags & lock_last_given) {
        if (last < 1 || last > INT64_MAX / length) return error_raise(error_illegal_function_call);
        last_byte = last * length - 1;
    }
    int32_t code = lock ? file_handle_lock_range(slot, first_byte, last_byte)
                        : file_handle_unlock_range(slot, first_byte, last_byte);
    if (code != file_ok) error_raise(file_error_of_result(code));
}

}  // namespace

std::vector<uint8_t> record_string_prefix(uint32_t length) {
    if (length <= short_string_max) return {static_cast<uint8_t>(length), static_cast<uint8_t>(length >> 8)};
    uint32_t low = 0x8000 + length % (short_string_max + 1);
    uint64_t high = length / (short_string_max + 1);
    std::vector<uint8_t> prefix{static_cast<uint8_t>(low), static_cast<uint8_t>(low >> 8)};
    for (int i = 0; i < 6; ++i) prefix.push_back(static_cast<uint8_t>(high >> (8 * i)));
    return prefix;
}

void file_get_record(int32_t n, int64_t record, int32_t given) { record_transfer(n, record, given, false); }

void file_put_record(int32_t n, int64_t record, int32_t given) { record_transfer(n, record, given, true); }

void file_get_bytes(int32_t n, int64_t position, byte_span* span, int32_t given) {
    if (error_pending()) return;
    if (n < 0) return file_network.get_bytes ? file_network.get_bytes(n, span) : network_missing();
    raw_transfer(n, position, byte_span_data(*span), span->length, given, false);
}

void file_put_bytes(int32_t n, int64_t position, byte_span* span, int32_t given) {
    if (error_pending()) return;
    if (n < 0) {
        if (!file_network.put_bytes) return network_missing();
        return file_network.put_bytes(n, byte_span_data(*span), span->length);
    }
    raw_transfer(n, position, byte_span_data(*span), span->length, given, true);
}

void file_put_string(int32_t n, int64_t position, byte_span* span, int32_t given) {
    if (error_pending()) return;
    if (n < 0) return file_put_bytes(n, position, span, given);
    int32_t slot = transfer_slot(n, true);
    if (slot < 0) return;
    const file_handle_record& r = file_handle_record_of(slot);
    if (!is_random(r)) return file_put_bytes(n, position, span, given);
    // The prefix and the text go out together, from a buffer of our own: the caller's span stays.
    auto length = static_cast<uint32_t>(span->length);
    std::vector<uint8_t> prefix = record_string_prefix(length);
    if (int64_t{length} + static_cast<int64_t>(prefix.size()) > r.record_length)
        return error_raise(error_bad_record_length);
    std::unique_ptr<uint8_t[]> record(new (std::nothrow) uint8_t[prefix.size() + length]);
    if (!record) return error_raise(error_out_of_memory);
    std::memcpy(record.get(), prefix.data(), prefix.size());
    if (length > 0) std::memcpy(record.get() + prefix.size(), byte_span_data(*span), length);
    raw_transfer(n, position, record.get(), static_cast<int32_t>(prefix.size() + length), given, true);
}

void file_get_string(int32_t n, int64_t position, string_descriptor* target, int32_t given) {
    if (error_pending()) return;
    if (n < 0) return file_network.get_string ? file_network.get_string(n, target) : network_missing();
    int32_t slot = transfer_slot(n, false);
    if (slot < 0) return;
    file_handle_record& r = file_handle_record_of(slot);
    if (!is_random(r)) return raw_transfer(n, position, target->text, target->length, given, false);
    if (r.record_length < short_prefix_size) return error_raise(error_bad_record_length);
    int64_t start;
    if (!transfer_start(r, position, given, start)) return;
    int64_t record_start = given ? start : r.position;
    std::unique_ptr<uint8_t[]> record(new (std::nothrow) uint8_t[static_cast<size_t>(r.record_length)]);
    if (!record) return error_raise(error_out_of_memory);
    if (!transfer_ok(file_handle_read(slot, start, record.get(), r.record_length), true)) return;
    int64_t delivered = file_handle_last_read_count();
    if (delivered == 0) return string_store(target, nullptr, 0);
    if (delivered < r.record_length) next_record(slot, record_start);
    int64_t length, prefix;
    if (!record_string_decode(record.get(), r.record_length, length, prefix)) {
        // Back to the record's start, so it can be read again in another shape.
        file_handle_seek(slot, record_start);
        return error_raise(error_bad_record_length);
    }
    string_store(target, record.get() + prefix, length);
}

int32_t file_put_block(int32_t n, int32_t offset, const void* buffer, int64_t count) {
    if (error_pending()) return 0;
    int32_t slot = bound_slot(n);
    if (slot < 0) return 0;
    if (!file_handle_record_of(slot).can_write) return error_raise(error_path_file_access), 0;
    if (offset < -1) return error_raise(error_illegal_function_call), 0;
    transfer_ok(file_handle_write(slot, offset, buffer, count), false);
    return 0;
}

int32_t file_get_block(int32_t n, int32_t offset, void* buffer, int64_t count) {
    if (error_pending()) return 0;
    int32_t slot = bound_slot(n);
    if (slot < 0) return 0;
    if (!file_handle_record_of(slot).can_read) return error_raise(error_path_file_access), 0;
    if (offset < -1) return error_raise(error_illegal_function_call), 0;
    transfer_ok(file_handle_read(slot, offset, buffer, count), true);
    return 0;
}

int64_t file_length(int32_t n) {
    if (n < 0) return file_network.length ? file_network.length(n) : (network_missing(), 0);
    int32_t slot = bound_slot(n);
    if (slot < 0) return 0;
    int64_t size = file_handle_size(slot);
    if (size >= 0) return size;
    error_raise(file_error_of_result(static_cast<int32_t>(size)));
    return 0;
}

namespace {

[[gnu::noinline]] int32_t eof_general(int32_t n) {
    if (n < 0) return file_network.eof ? file_network.eof(n) : (network_missing(), 0);
    int32_t slot = bound_slot(n);
    if (slot < 0) return 0;
    const file_handle_record& r = file_handle_record_of(slot);
    bool at_end = r.eof_flag || (r.mode == file_mode_input && file_handle_at_end(slot) == 1);
    return at_end ? -1 : 0;
}

}  // namespace

int32_t file_eof(int32_t n) {
    // Bytes still read ahead and no end marker met: not at the end, without a lookup.
    const file_slot* s = file_number_in_block(n);
    if (s && !s->record.eof_flag) return 0;
    return eof_general(n);
}

void file_seek(int32_t n, int64_t position) {
    if (error_pending()) return;
    int32_t slot = bound_slot(n);
    if (slot < 0) return;
    int64_t byte;
    if (!byte_of_position(file_handle_record_of(slot), position, byte)) return error_raise(error_bad_record_number);
    if (int32_t code = file_handle_seek(slot, byte); code != file_ok) error_raise(file_error_of_result(code));
}

int64_t file_seek_position(int32_t n) {
    int32_t slot = bound_slot(n);
    if (slot < 0) return 0;
    const file_handle_record& r = file_handle_record_of(slot);
    return is_random(r) ? r.position / r.record_length + 1 : r.position + 1;
}

int64_t file_loc(int32_t n) {
    int32_t slot = bound_slot(n);
    if (slot < 0) return 0;
    const file_handle_record& r = file_handle_record_of(slot);
    if (r.com.com_port != 0) return file_handle_bytes_waiting(slot);
    if (is_random(r)) return r.position / r.record_length + 1;
    if (r.mode == file_mode_binary) return r.position;
    return r.position == 0 ? 1 : (r.position - 1) / loc_block + 1;
}

void file_lock(int32_t n, int64_t first, int64_t last, int32_t flags) { lock_statement(n, first, last, flags, true); }

void file_unlock(int32_t n, int64_t first, int64_t last, int32_t flags) { lock_statement(n, first, last, flags, false); }
