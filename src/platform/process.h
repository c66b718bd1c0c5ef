// Ending the process. Every path that ends the process goes through process_exit: it runs the
// registered flush hooks (open files, the debug log), flushes the C streams and calls _exit, so no
// static destructor runs while other threads still use the runtime (exit() while the main thread is
// inside freeglut crashes on Linux).
#pragma once

namespace platform {

// Exit codes of the runtime.
enum exit_code : int {
    exit_normal = 0,          // the program's end, or the answer "No"
    exit_display_failed = 1,  // the display mode cannot be made
    exit_x86_unknown = 86,    // the machine-code interpreter met an opcode it does not know
    exit_no_error_handler = 99,
    exit_fatal = 70,          // every critical or fatal error
};

}  // namespace platform

using process_flush_hook = void (*)();

// Registers a hook run by process_exit before the process ends, in the order registered (any
// number; idempotent per hook).
void process_flush_hook_add(process_flush_hook hook);

[[noreturn]] void process_exit(int code);
