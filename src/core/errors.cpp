#include "core/errors.h"

#include <cstdio>

#include "core/alerts.h"
#include "core/program_interface.h"
#include "core/program_wake.h"
#include "core/shutdown.h"
#include "platform/message_box.h"
#include "platform/process.h"

std::atomic<int32_t> error_number{0};
std::atomic<int32_t> event_pending{0};
std::atomic<int32_t> error_line{0};

double current_line_label = 0;
int32_t error_handler_set = 0;
int32_t error_handler_active = 0;
int32_t error_handler_jump = 0;
int32_t error_resume_retry = 0;
int32_t error_handler_code = 0;
double error_handler_label_line = 0;

namespace {

struct message_entry {
    int32_t number;
    const char* text;
};

constexpr message_entry messages[] = {
    {error_next_without_for, "NEXT without FOR"},
    {error_syntax, "Syntax error"},
    {error_return_without_gosub, "RETURN without GOSUB"},
    {error_out_of_data, "Out of DATA"},
    {error_illegal_function_call, "Illegal function call"},
    {error_overflow, "Overflow"},
    {error_out_of_memory, "Out of memory"},
    {error_label_not_defined, "Label not defined"},
    {error_subscript_out_of_range, "Subscript out of range"},
    {error_duplicate_definition, "Duplicate definition"},
    {error_illegal_in_direct_mode, "Illegal in direct mode"},
    {error_type_mismatch, "Type mismatch"},
    {error_out_of_string_space, "Out of string space"},
    {error_string_formula_too_complex, "String formula too complex"},
    {error_cannot_continue, "Cannot continue"},
    {error_function_not_defined, "Function not defined"},
    {error_no_resume, "No RESUME"},
    {error_resume_without_error, "RESUME without error"},
    {error_device_timeout, "Device timeout"},
    {error_device_fault, "Device fault"},
    {error_for_without_next, "FOR without NEXT"},
    {error_out_of_paper, "Out of paper"},
    {error_while_without_wend, "WHILE without WEND"},
    {error_wend_without_while, "WEND without WHILE"},
    {error_duplicate_label, "Duplicate label"},
    {error_subprogram_not_defined, "Subprogram not defined"},
    {error_argument_count_mismatch, "Argument-count mismatch"},
    {error_array_not_defined, "Array not defined"},
    {error_variable_required, "Variable required"},
    {error_field_overflow, "FIELD overflow"},
    {error_internal, "Internal error"},
    {error_bad_file_name_or_number, "Bad file name or number"},
    {error_file_not_found, "File not found"},
    {error_bad_file_mode, "Bad file mode"},
    {error_file_already_open, "File already open"},
    {error_field_statement_active, "FIELD statement active"},
    {error_device_io, "Device I/O error"},
    {error_file_already_exists, "File already exists"},
    {error_bad_record_length, "Bad record length"},
    {error_disk_full, "Disk full"},
    {error_input_past_end, "Input past end of file"},
    {error_bad_record_number, "Bad record number"},
    {error_bad_file_name, "Bad file name"},
    {error_too_many_files, "Too many files"},
    {error_device_unavailable, "Device unavailable"},
    {error_communication_buffer_overflow, "Communication-buffer overflow"},
    {error_permission_denied, "Permission denied"},
    {error_disk_not_ready, "Disk not ready"},
    {error_disk_media, "Disk-media error"},
    {error_feature_unavailable, "Feature unavailable"},
    {error_rename_across_disks, "Rename across disks"},
    {error_path_file_access, "Path/File access error"},
    {error_path_not_found, "Path not found"},
    {error_invalid_handle, "Invalid handle"},
    {error_memory_out_of_range, "Memory region out of range"},
    {error_invalid_size, "Invalid size"},
    {error_source_out_of_range, "Source memory region out of range"},
    {error_destination_out_of_range, "Destination memory region out of range"},
    {error_source_and_destination_out_of_range, "Source and destination memory regions out of range"},
    {error_source_freed, "Source memory has been freed"},
    {error_destination_freed, "Destination memory has been freed"},
    {error_memory_already_freed, "Memory already freed"},
    {error_memory_freed, "Memory has been freed"},
    {error_memory_not_initialized, "Memory not initialized"},
    {error_source_not_initialized, "Source memory not initialized"},
    {error_destination_not_initialized, "Destination memory not initialized"},
    {error_source_and_destination_not_initialized, "Source and destination memory not initialized"},
    {error_source_and_destination_freed, "Source and destination memory have been freed"},
};

// The box of a fatal number: its text and caption. Fixed buffers: the out-of-memory numbers
// arrive with the heap exhausted.
// The out-of-memory numbers' captions count from 502 - 500 = 2 ("Critical Error #1" is 257).
constexpr int32_t out_of_memory_caption_base = 500;

struct fatal_box {
    const char* text = nullptr;
    char caption[32] = {};
};

bool fatal_box_of(int32_t n, fatal_box& box) {
    const char* caption = "Critical Error";
    switch (n) {
    case error_division_by_zero: box.text = "Division by zero"; break;
    case error_out_of_stack_space: box.text = "Out of stack space"; break;
    case error_critical_out_of_memory:
        box.text = "Out of memory";
        caption = "Critical Error #1";
        break;
    case error_dynamic_library_missing: box.text = "Cannot find dynamic library file"; break;
    case error_dynamic_function_missing:
    case error_dynamic_function_missing_2: box.text = "Sub/Function does not exist in dynamic library"; break;
    default:
        if (n < error_out_of_memory_first || n > error_out_of_memory_last) return false;
        box.text = "Out of memory";
        std::snprintf(box.caption, sizeof box.caption, "Critical Error #%d", static_cast<int>(n - out_of_memory_caption_base));
        return true;
    }
    std::snprintf(box.caption, sizeof box.caption, "%s", caption);
    return true;
}

void error_handler_enter() {
    error_handler_code = error_number.load();
    error_number.store(0);
    error_handler_label_line = current_line_label;
    error_handler_jump = 1;
    program_registered().main_routine();
}

}  // namespace

const char* error_message(int32_t n) {
    for (const auto& m : messages)
        if (m.number == n) return m.text;
    return "Unprintable error";
}

bool error_is_critical(int32_t n) { return n >= error_critical_first && n <= error_critical_last; }

void event_pending_raise() {
    event_pending.store(1);
    program_wake();
}

void error_raise(int32_t n) {
    fatal_box box;
    if (fatal_box_of(n, box)) {
        message_box(nullptr, box.text, box.caption, platform::mb_ok | platform::mb_system_modal);
        process_exit(platform::exit_fatal);
    }
    // First error of a statement wins, also when two threads raise at once.
    int32_t expected = 0;
    if (error_number.compare_exchange_strong(expected, n < 1 ? error_illegal_function_call : n)) event_pending_raise();
}

void error_report() {
    int32_t n = error_number.load();
    bool critical = error_is_critical(n);
    if (error_handler_set && !error_handler_active && !critical) {
        error_handler_enter();
        return;
    }
    char text[256];
    std::snprintf(text, sizeof text, "Line:%u\n%s%s", static_cast<uint32_t>(error_line.load()), error_message(n),
                  critical ? "" : "\nContinue?");
    char caption[64];
    std::snprintf(caption, sizeof caption, "%s%u", critical ? "Critical Error #" : "Unhandled Error #",
                  static_cast<uint32_t>(n));
    if (critical) {
        message_box(nullptr, text, caption, platform::mb_ok);
        process_exit(platform::exit_fatal);
    }
    int answer = message_box(nullptr, text, caption, platform::mb_yes_no | platform::mb_system_modal);
    // Only Yes goes on: a box nobody could answer stops the program instead of skipping every error.
    if (answer != platform::id_yes) {
        stop_request.store(1);
        program_thread_park();
    }
    error_number.store(0);
}

int32_t error_line_get() { return error_line.load(); }
int32_t error_code_get() { return error_handler_code; }
double error_label_line_get() { return error_handler_label_line; }
