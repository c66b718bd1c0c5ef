// Interrupt calls and machine-code calls over the shared register file x86_registers: the register
// records of the interrupt statements, the emulated mouse-driver interrupt 0x33 (every other number
// does nothing) and the set-up of the stack for a machine-code routine run by the interpreter.
// Not here: the interpreter itself (x86.h), the mouse ring and its position mapping (mouse.h).
#pragma once

#include <cstdint>

struct byte_span;

// The interrupt statements' register records: AX BX CX DX BP SI DI FLAGS as 16-bit words, and DS ES
// for the segment form. FLAGS is neither read nor written. A span too short for its record: error 5,
// the out span checked first, nothing else happens.
void interrupt_call(int32_t number, const byte_span* in, const byte_span* out);
void interrupt_call_segments(int32_t number, const byte_span* in, const byte_span* out);
// The emulated interrupt on x86_registers; also the interpreter's INT instruction.
void interrupt_emulate(int32_t number);

// Arguments of a machine-code call, filled by generated code before the call (the first at 0).
constexpr int32_t machine_code_args_capacity = 64;
extern uint16_t machine_code_args[machine_code_args_capacity];
// Runs the routine at offset in the current segment with n arguments on the stack (the first
// deepest) under the far return address FFFF:FFFF; SS = FFFF, DS = 0x50. More arguments than the
// array holds: error 5 and nothing runs.
void machine_code_call(int32_t n, int32_t offset);

// Pure: CX and DX of mouse function 3 from the pointer as the position queries give it (on the
// newest record) and the displayed image.
struct mouse_driver_reading {
    float x, y;
    int32_t buttons;  // bit 0 left, bit 2 right
};
struct mouse_driver_display {
    bool is_text;
    int32_t mode;
    int32_t columns, rows;  // text displays
};
struct mouse_driver_position {
    uint16_t cx, dx;
};
mouse_driver_position mouse_driver_position_of(const mouse_driver_reading& reading, const mouse_driver_display& display);
