// What a translated program hands the runtime: its entry points and generated pieces. The program
// registers itself before calling runtime_main; the runtime never names the program's symbols.
#pragma once

#include <cstdint>

struct translated_program {
    // Start-up options fixed at translation (window_resizable_set and the like); may be null.
    void (*window_options)();
    // The program thread's body (program_thread_entry).
    void (*thread_entry)();
    // The program's main routine, called afresh to continue at its error handler.
    void (*main_routine)();
    // The generated calls of the program's trap handlers by handler number; may be null.
    void (*trap_handler_call)(int32_t handler, int64_t argument);
};

void program_register(const translated_program& program);
const translated_program& program_registered();
