// The x86 real-mode interpreter for machine-code calls: a small subset (data moves, pushes and pops,
// INT and the far return) over a register file, reaching memory only through a small bus. x86_step
// runs one instruction and reports how it ended; x86_run runs the shared register file over the
// emulated memory until a far return and ends the process on an unknown opcode (exit 86, after its
// box) or when the next instruction byte is 0 (exit code: the byte at linear 0).
// Not here: arithmetic, flags, jumps, I/O instructions; IP in the register file is never advanced.
#pragma once

#include <cstdint>

// General registers by x86 register number, segment registers by x86 segment number.
enum x86_gpr : uint8_t { x86_eax, x86_ecx, x86_edx, x86_ebx, x86_esp, x86_ebp, x86_esi, x86_edi };
enum x86_segment : uint8_t { x86_es, x86_cs, x86_ss, x86_ds, x86_fs, x86_gs, x86_segment_count };

struct x86_register_file {
    uint32_t gpr[8];                  // EAX ECX EDX EBX ESP EBP ESI EDI
    uint16_t sreg[x86_segment_count];  // ES CS SS DS FS GS
    uint16_t ip;
};

// The registers shared by interrupt calls and machine-code calls (program thread).
extern x86_register_file x86_registers;

// Start-up: every register zero.
void x86_registers_init();

// The register tables by operand size: AL CL DL BL AH CH DH BH; AX ... DI; EAX ... EDI.
inline uint8_t x86_reg8(const x86_register_file& r, int n) {
    return n < 4 ? static_cast<uint8_t>(r.gpr[n]) : static_cast<uint8_t>(r.gpr[n - 4] >> 8);
}
inline void x86_reg8_set(x86_register_file& r, int n, uint8_t v) {
    if (n < 4) r.gpr[n] = (r.gpr[n] & 0xFFFFFF00u) | v;
    else r.gpr[n - 4] = (r.gpr[n - 4] & 0xFFFF00FFu) | static_cast<uint32_t>(v) << 8;
}
inline uint16_t x86_reg16(const x86_register_file& r, int n) { return static_cast<uint16_t>(r.gpr[n]); }
inline void x86_reg16_set(x86_register_file& r, int n, uint16_t v) { r.gpr[n] = (r.gpr[n] & 0xFFFF0000u) | v; }

// Memory and interrupts as the core sees them. Every address the core forms lies below
// 0xFFFF0 + 0xFFFF + 4: a bus over dos_memory needs no bounds check.
struct x86_bus {
    void* context;
    uint8_t (*read)(void* context, uint32_t linear);
    void (*write)(void* context, uint32_t linear, uint8_t value);
    void (*interrupt)(void* context, uint8_t number);
};

// One run: the registers, the segment bases (recomputed by segment loads, except CS's: the code
// stays where the run began) and the offset of the next instruction byte from the code base, which
// wraps at 16 bits as on the processor.
struct x86_cpu {
    x86_register_file* regs;
    uint32_t base[x86_segment_count];
    uint16_t position;
};

// A run starting at CS:IP of the registers.
x86_cpu x86_cpu_start(x86_register_file& regs);

enum class x86_outcome : uint8_t { next, far_return, unknown_opcode };
struct x86_result {
    x86_outcome outcome;
    uint8_t opcode;  // the byte reported for an unknown opcode (the second byte after 0F)
};
x86_result x86_step(x86_cpu& cpu, const x86_bus& bus);

// Runs x86_registers over dos_memory from CS:IP until a far return, which leaves the results in
// x86_registers. Looks at the shutdown flag every 65,536 instructions and parks when it is set.
void x86_run();
// The process ends: the box "Unknown Opcode (XX)" captioned "X86 Error", then exit code 86.
[[noreturn]] void x86_unknown_opcode_exit(uint8_t opcode);
