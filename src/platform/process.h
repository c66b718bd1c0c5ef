// Ending the process. Every path that ends the process goes through process_exit: it runs the
// registered flush hooks (open files, the debug log), flushes the C streams and calls _exit, so no
// static destructor runs while other threads still use the runtime (exit() while the main thread is
// inside freeglut crashes on Linux). Starting another program: process_spawn.
#pragma once

#include <string>
#include <sys/types.h>
#include <vector>

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

// Starting another program. The child starts with default signal actions and nothing blocked,
// whatever the runtime set, and with the environment it is given.
struct process_spawn_options {
    std::string directory;    // where the child starts; empty: here
    bool stdin_null = false;  // standard input from /dev/null
    bool search_path = false; // a name without '/' is looked for on PATH
};

// The child's process id, or -1 when nothing was started. envp ends with a null pointer.
pid_t process_spawn(const std::vector<std::string>& args, char* const* envp, const process_spawn_options& options);
