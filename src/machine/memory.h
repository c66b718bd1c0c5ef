// The emulated 1 MB real-mode memory.
#pragma once

#include <cstdint>

constexpr int32_t dos_memory_size = 1114099;
extern uint8_t dos_memory[dos_memory_size];

// Start-up: every byte zero.
void dos_memory_clear();
