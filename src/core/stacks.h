// The program thread's stacks: the bump stack of routines' local variables (blocks that are never
// freed, so memory handed out stays valid) and the stack of subroutine return points.
#pragma once

#include <cstddef>
#include <cstdint>

struct local_stack_state {
    uint8_t* base = nullptr;
    uint8_t* top = nullptr;
    uint8_t* end = nullptr;
    size_t block_size = 0;
};
extern local_stack_state local_stack;

struct return_stack_state {
    int32_t* entries = nullptr;
    int64_t capacity = 0;
};
extern return_stack_state return_stack;

// Start-up: the first 1 MB block of local_stack (earlier blocks of a previous start are freed).
void local_stack_init();
void* local_stack_alloc(size_t n);
void local_stack_release(void* mark);

// Program start-up: 16384 entries.
void return_stack_init();
void return_stack_grow();
