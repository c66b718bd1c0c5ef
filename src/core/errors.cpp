#include "core/errors.h"

#include <cstdio>
#include <string>

#include "core/alerts.h"
#include "core/program_interface.h"
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
    {1, "NEXT without FOR"},
    {2, "Syntax error"},
    {3, "RETURN without GOSUB"},
    {4, "Out of DATA"},
    {5, "Illegal function call"},
    {6, "Overflow"},
    {7, "Out of memory"},
    {8, "Label not defined"},
    {9, "Subscript out of range"},
    {10, "Duplicate definition"},
    {12, "Illegal in direct mode"},
    {13, "Type mismatch"},
    {14, "Out of string space"},
    {16, "String formula too complex"},
    {17, "Cannot continue"},
    {18, "Function not defined"},
    {19, "No RESUME"},
    {20, "RESUME without error"},
    {24, "Device timeout"},
    {25, "Device fault"},
    {26, "FOR without NEXT"},
    {27, "Out of paper"},
    {29, "WHILE without WEND"},
    {30, "WEND without WHILE"},
    {33, "Duplicate label"},
    {35, "Subprogram not defined"},
    {37, "Argument-count mismatch"},
    {38, "Array not defined"},
    {40, "Variable required"},
    {50, "FIELD overflow"},
    {51, "Internal error"},
    {52, "Bad file name or number"},
    {53, "File not found"},
    {54, "Bad file mode"},
    {55, "File already open"},
    {56, "FIELD statement active"},
    {57, "Device I/O error"},
    {58, "File already exists"},
    {59, "Bad record length"},
    {61, "Disk full"},
    {62, "Input past end of file"},
    {63, "Bad record number"},
    {64, "Bad file name"},
    {67, "Too many files"},
    {68, "Device unavailable"},
    {69, "Communication-buffer overflow"},
    {70, "Permission denied"},
    {71, "Disk not ready"},
    {72, "Disk-media error"},
    {73, "Feature unavailable"},
    {74, "Rename across disks"},
    {75, "Path/File access error"},
    {76, "Path not found"},
    {258, "Invalid handle"},
    {300, "Memory region out of range"},
    {301, "Invalid size"},
    {302, "Source memory region out of range"},
    {303, "Destination memory region out of range"},
    {304, "Source and destination memory regions out of range"},
    {305, "Source memory has been freed"},
    {306, "Destination memory has been freed"},
    {307, "Memory already freed"},
    {308, "Memory has been freed"},
    {309, "Memory not initialized"},
    {310, "Source memory not initialized"},
    {311, "Destination memory not initialized"},
    {312, "Source and destination memory not initialized"},
    {313, "Source and destination memory have been freed"},
};

// The box of a fatal number: its text and caption.
struct fatal_box {
    const char* text;
    std::string caption;
};

bool fatal_box_of(int32_t n, fatal_box& box) {
    switch (n) {
    case 11: box = {"Division by zero", "Critical Error"}; return true;
    case 256: box = {"Out of stack space", "Critical Error"}; return true;
    case 257: box = {"Out of memory", "Critical Error #1"}; return true;
    case 259: box = {"Cannot find dynamic library file", "Critical Error"}; return true;
    case 260:
    case 261: box = {"Sub/Function does not exist in dynamic library", "Critical Error"}; return true;
    default: break;
    }
    if (n >= 502 && n <= 518) {
        box = {"Out of memory", "Critical Error #" + std::to_string(n - 500)};
        return true;
    }
    return false;
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

bool error_is_critical(int32_t n) { return n >= 300 && n <= 313; }

void error_raise(int32_t n) {
    fatal_box box;
    if (fatal_box_of(n, box)) {
        message_box(nullptr, box.text, box.caption.c_str(), platform::mb_ok | platform::mb_system_modal);
        process_exit(platform::exit_fatal);
    }
    // First error of a statement wins, also when two threads raise at once.
    int32_t expected = 0;
    if (error_number.compare_exchange_strong(expected, n < 1 ? 5 : n)) event_pending.store(1);
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
