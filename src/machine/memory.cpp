#include "machine/memory.h"

#include <cstring>

uint8_t dos_memory[dos_memory_size];

void dos_memory_clear() { std::memset(dos_memory, 0, sizeof dos_memory); }
