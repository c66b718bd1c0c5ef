// Record and byte access: GET and PUT of a random file's record buffer, of raw bytes (a byte_span)
// and of strings (length-prefixed in random records), block transfers for the chain file, and
// the length, end-of-file, seek, next-position, location, lock and unlock functions. Positions are
// record numbers (random) or byte numbers (binary), counted from 1. Negative numbers are network
// handles (network_seam.h). Not here: sequential text (sequential.h), record fields (record_fields.h).
#pragma once

#include <cstdint>
#include <vector>

struct byte_span;
struct string_descriptor;

void file_get_record(int32_t file_number, int64_t record, int32_t record_given);
void file_put_record(int32_t file_number, int64_t record, int32_t record_given);
void file_get_bytes(int32_t file_number, int64_t position, byte_span* span, int32_t position_given);
void file_put_bytes(int32_t file_number, int64_t position, byte_span* span, int32_t position_given);
void file_get_string(int32_t file_number, int64_t position, string_descriptor* target, int32_t position_given);
void file_put_string(int32_t file_number, int64_t position, byte_span* span, int32_t position_given);
int32_t file_put_block(int32_t file_number, int32_t offset, const void* buffer, int64_t count);
int32_t file_get_block(int32_t file_number, int32_t offset, void* buffer, int64_t count);
int64_t file_length(int32_t file_number);
int32_t file_eof(int32_t file_number);
void file_seek(int32_t file_number, int64_t position);
int64_t file_seek_position(int32_t file_number);
int64_t file_loc(int32_t file_number);
enum : int32_t { lock_first_given = 1, lock_last_given = 2 };
void file_lock(int32_t file_number, int64_t first, int64_t last, int32_t flags);
void file_unlock(int32_t file_number, int64_t first, int64_t last, int32_t flags);

// The prefix of a string in a random record (pure): 2 bytes up to 32767, else 8.
std::vector<uint8_t> record_string_prefix(uint32_t length);
