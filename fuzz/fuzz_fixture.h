// Shared by the harnesses: a string store made once, temporaries released after every input, and
// the pending error cleared.
#pragma once

#include <cstdint>

#include "core/errors.h"
#include "core/memory.h"
#include "core/strings.h"

inline void fuzz_store_ready() {
    static bool made = [] {
        dos_memory_clear();
        string_store_reset();
        string_segment_init();
        return true;
    }();
    (void)made;
}

// Ends an input: its temporaries go, and so does its error.
inline void fuzz_input_done(uint32_t mark) {
    string_temps_release(mark, 0);
    error_number = 0;
}
