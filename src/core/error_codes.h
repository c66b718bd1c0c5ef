// The numbers of the runtime's errors, named once. error_raise takes them; the message table in
// errors.cpp gives their texts. Not here: raising, reporting, the fatal boxes (errors.h).
#pragma once

#include <cstdint>

enum basic_error : int32_t {
    error_none = 0,
    error_next_without_for = 1,
    error_syntax = 2,
    error_return_without_gosub = 3,
    error_out_of_data = 4,
    error_illegal_function_call = 5,
    error_overflow = 6,
    error_out_of_memory = 7,
    error_label_not_defined = 8,
    error_subscript_out_of_range = 9,
    error_duplicate_definition = 10,
    error_division_by_zero = 11,  // fatal
    error_illegal_in_direct_mode = 12,
    error_type_mismatch = 13,
    error_out_of_string_space = 14,
    error_string_formula_too_complex = 16,
    error_cannot_continue = 17,
    error_function_not_defined = 18,
    error_no_resume = 19,
    error_resume_without_error = 20,
    error_device_timeout = 24,
    error_device_fault = 25,
    error_for_without_next = 26,
    error_out_of_paper = 27,
    error_while_without_wend = 29,
    error_wend_without_while = 30,
    error_duplicate_label = 33,
    error_subprogram_not_defined = 35,
    error_argument_count_mismatch = 37,
    error_array_not_defined = 38,
    error_variable_required = 40,
    error_field_overflow = 50,
    error_internal = 51,
    error_bad_file_name_or_number = 52,
    error_file_not_found = 53,
    error_bad_file_mode = 54,
    error_file_already_open = 55,
    error_field_statement_active = 56,
    error_device_io = 57,
    error_file_already_exists = 58,
    error_bad_record_length = 59,
    error_disk_full = 61,
    error_input_past_end = 62,
    error_bad_record_number = 63,
    error_bad_file_name = 64,
    error_too_many_files = 67,
    error_device_unavailable = 68,
    error_communication_buffer_overflow = 69,
    error_permission_denied = 70,
    error_disk_not_ready = 71,
    error_disk_media = 72,
    error_feature_unavailable = 73,
    error_rename_across_disks = 74,
    error_path_file_access = 75,
    error_path_not_found = 76,

    // Runtime errors beyond the classic table.
    error_out_of_stack_space = 256,        // fatal
    error_critical_out_of_memory = 257,    // fatal, "Critical Error #1"
    error_invalid_handle = 258,
    error_dynamic_library_missing = 259,   // fatal
    error_dynamic_function_missing = 260,  // fatal
    error_dynamic_function_missing_2 = 261,  // fatal

    // Memory-block errors: critical, reported by error_report and then the end.
    error_memory_out_of_range = 300,
    error_invalid_size = 301,
    error_source_out_of_range = 302,
    error_destination_out_of_range = 303,
    error_source_and_destination_out_of_range = 304,
    error_source_freed = 305,
    error_destination_freed = 306,
    error_memory_already_freed = 307,
    error_memory_freed = 308,
    error_memory_not_initialized = 309,
    error_source_not_initialized = 310,
    error_destination_not_initialized = 311,
    error_source_and_destination_not_initialized = 312,
    error_source_and_destination_freed = 313,
    error_critical_first = 300,
    error_critical_last = 313,

    // The string store's fatal out-of-memory numbers: "Critical Error #(n - 500)".
    error_string_store_first = 502,
    error_string_store_last = 518,
};
