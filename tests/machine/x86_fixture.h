// Test helpers for the interpreter: a flat memory behind the bus that records what the core wrote
// and which interrupts it called, and register-file builders.
#pragma once

#include <cstdint>
#include <set>
#include <vector>

#include "core/memory.h"
#include "machine/x86.h"

struct flat_machine {
    std::vector<uint8_t> memory = std::vector<uint8_t>(dos_memory_size, 0);
    std::set<uint32_t> written;
    std::vector<uint8_t> interrupts;

    x86_bus bus() {
        return {this,
                [](void* c, uint32_t linear) { return static_cast<flat_machine*>(c)->memory.at(linear); },
                [](void* c, uint32_t linear, uint8_t v) {
                    auto* m = static_cast<flat_machine*>(c);
                    m->memory.at(linear) = v;
                    m->written.insert(linear);
                },
                [](void* c, uint8_t number) { static_cast<flat_machine*>(c)->interrupts.push_back(number); }};
    }
    void put(uint32_t linear, std::vector<uint8_t> bytes) {
        for (uint8_t b : bytes) memory.at(linear++) = b;
    }
    uint32_t word(uint32_t linear) const { return memory.at(linear) | memory.at(linear + 1) << 8; }
    uint32_t dword(uint32_t linear) const { return word(linear) | word(linear + 2) << 16; }
};
