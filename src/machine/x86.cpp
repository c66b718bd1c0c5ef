#include "machine/x86.h"

#include <cstddef>

x86_register_file x86_registers;

void x86_registers_init() { x86_registers = x86_register_file{}; }

x86_cpu x86_cpu_start(x86_register_file& regs) {
    x86_cpu cpu{&regs, {}, regs.ip};
    for (int s = 0; s < x86_segment_count; ++s) cpu.base[s] = static_cast<uint32_t>(regs.sreg[s]) * 16;
    return cpu;
}

namespace {

enum : uint8_t {
    prefix_operand_size = 0x66,
    prefix_address_size = 0x67,
    opcode_two_byte = 0x0F,
};

// Segment overrides, accepted only in this order.
constexpr uint8_t segment_overrides[] = {0x26, 0x2E, 0x36, 0x3E, 0x64, 0x65};
constexpr x86_segment override_segments[] = {x86_es, x86_cs, x86_ss, x86_ds, x86_fs, x86_gs};

// A ModR/M operand: a register (by number, width given at access) or a linear address.
struct operand {
    bool is_register;
    uint8_t number;
    uint32_t linear;
};

// One instruction being decoded.
struct decoder {
    x86_cpu& cpu;
    const x86_bus& bus;
    uint32_t data_base;
    uint32_t stack_base;
    bool operand32 = false;
    bool address32 = false;

    x86_register_file& r() { return *cpu.regs; }

    uint8_t fetch8() { return bus.read(bus.context, cpu.base[x86_cs] + cpu.position++); }
    uint16_t fetch16() {
        uint16_t low = fetch8();
        return static_cast<uint16_t>(low | fetch8() << 8);
    }
    uint32_t fetch32() {
        uint32_t low = fetch16();
        return low | static_cast<uint32_t>(fetch16()) << 16;
    }
    uint8_t peek8() const { return bus.read(bus.context, cpu.base[x86_cs] + cpu.position); }

    uint32_t read(uint32_t linear, int bytes) const {
        uint32_t v = 0;
        for (int i = 0; i < bytes; ++i) v |= static_cast<uint32_t>(bus.read(bus.context, linear + i)) << (8 * i);
        return v;
    }
    void write(uint32_t linear, uint32_t v, int bytes) const {
        for (int i = 0; i < bytes; ++i) bus.write(bus.context, linear + i, static_cast<uint8_t>(v >> (8 * i)));
    }

    // Register by number and width in bytes.
    uint32_t reg(int n, int bytes) {
        if (bytes == 1) return x86_reg8(r(), n);
        if (bytes == 2) return x86_reg16(r(), n);
        return r().gpr[n];
    }
    void reg_set(int n, uint32_t v, int bytes) {
        if (bytes == 1) x86_reg8_set(r(), n, static_cast<uint8_t>(v));
        else if (bytes == 2) x86_reg16_set(r(), n, static_cast<uint16_t>(v));
        else r().gpr[n] = v;
    }

    uint32_t get(const operand& o, int bytes) { return o.is_register ? reg(o.number, bytes) : read(o.linear, bytes); }
    void set(const operand& o, uint32_t v, int bytes) {
        if (o.is_register) reg_set(o.number, v, bytes);
        else write(o.linear, v, bytes);
    }

    // 16-bit forms: BX+SI, BX+DI, BP+SI, BP+DI, SI, DI, BP (or a bare displacement), BX.
    operand modrm16(int mod, int rm) {
        static constexpr int8_t first[8] = {x86_ebx, x86_ebx, x86_ebp, x86_ebp, x86_esi, x86_edi, x86_ebp, x86_ebx};
        static constexpr int8_t second[8] = {x86_esi, x86_edi, x86_esi, x86_edi, -1, -1, -1, -1};
        uint32_t sum;
        bool on_stack;
        if (mod == 0 && rm == 6) {
            sum = fetch16();
            on_stack = false;
        } else {
            sum = x86_reg16(r(), first[rm]);
            if (second[rm] >= 0) sum += x86_reg16(r(), second[rm]);
            on_stack = first[rm] == x86_ebp;
            if (mod == 1) sum += static_cast<uint32_t>(static_cast<int8_t>(fetch8()));
            if (mod == 2) sum += fetch16();
        }
        return {false, 0, (on_stack ? stack_base : data_base) + (sum & 0xFFFF)};
    }

    // SIB byte: index * 2^scale + base; index 4 is none; base 5 with mod 0 is a 32-bit displacement.
    uint32_t sib(int mod, bool& on_stack) {
        uint8_t b = fetch8();
        int scale = b >> 6, index = (b >> 3) & 7, base = b & 7;
        uint32_t sum = index == x86_esp ? 0 : r().gpr[index] << scale;
        if (mod == 0 && base == x86_ebp) {
            sum += fetch32();
            on_stack = false;
        } else {
            sum += r().gpr[base];
            on_stack = base == x86_esp || base == x86_ebp;
        }
        return sum;
    }

    // 32-bit forms (prefix 67): EAX ECX EDX EBX, SIB, EBP (or a bare displacement), ESI, EDI.
    operand modrm32(int mod, int rm) {
        uint32_t sum;
        bool on_stack = false;
        if (rm == 4) {
            sum = sib(mod, on_stack);
        } else if (mod == 0 && rm == x86_ebp) {
            sum = fetch32();
        } else {
            sum = r().gpr[rm];
            on_stack = rm == x86_ebp;
        }
        if (mod == 1) sum += static_cast<uint32_t>(static_cast<int8_t>(fetch8()));
        if (mod == 2) sum += fetch32();
        return {false, 0, (on_stack ? stack_base : data_base) + (sum & 0xFFFF)};
    }

    // The operand of a ModR/M byte; reg_field gets bits 3-5.
    operand modrm(int& reg_field) {
        uint8_t b = fetch8();
        int mod = b >> 6, rm = b & 7;
        reg_field = (b >> 3) & 7;
        if (mod == 3) return {true, static_cast<uint8_t>(rm), 0};
        return address32 ? modrm32(mod, rm) : modrm16(mod, rm);
    }

    int word() const { return operand32 ? 4 : 2; }
    uint16_t sp() { return x86_reg16(r(), x86_esp); }
    void sp_add(int delta) { x86_reg16_set(r(), x86_esp, static_cast<uint16_t>(sp() + delta)); }
    uint32_t stack_top() { return cpu.base[x86_ss] + sp(); }

    void push(uint32_t v, int bytes) {
        sp_add(-bytes);
        write(stack_top(), v, bytes);
    }
    uint32_t pop(int bytes) {
        uint32_t v = read(stack_top(), bytes);
        sp_add(bytes);
        return v;
    }

    void segment_load(int s, uint16_t v) {
        r().sreg[s] = v;
        if (s != x86_cs) cpu.base[s] = static_cast<uint32_t>(v) * 16;
    }

    // An immediate of the operand size.
    uint32_t immediate() { return operand32 ? fetch32() : fetch16(); }

    uint32_t moffs() { return address32 ? fetch32() & 0xFFFF : fetch16(); }
};

x86_result unknown(uint8_t opcode) { return {x86_outcome::unknown_opcode, opcode}; }
constexpr x86_result next{x86_outcome::next, 0};

// The reg field of the ModR/M byte that follows, without consuming it.
int peek_reg_field(decoder& d) { return (d.peek8() >> 3) & 7; }

x86_result two_byte(decoder& d) {
    uint8_t op = d.fetch8();
    switch (op) {
    case 0xA0: d.push(d.r().sreg[x86_fs], 2); return next;
    case 0xA8: d.push(d.r().sreg[x86_gs], 2); return next;
    case 0xA1: d.segment_load(x86_fs, static_cast<uint16_t>(d.pop(2))); return next;
    case 0xA9: d.segment_load(x86_gs, static_cast<uint16_t>(d.pop(2))); return next;
    default: return unknown(op);
    }
}

}  // namespace

x86_result x86_step(x86_cpu& cpu, const x86_bus& bus) {
    decoder d{cpu, bus, cpu.base[x86_ds], cpu.base[x86_ss]};
    uint8_t op = d.fetch8();
    if (op == prefix_operand_size) {
        d.operand32 = true;
        op = d.fetch8();
    }
    for (std::size_t k = 0; k < sizeof segment_overrides; ++k) {
        if (op != segment_overrides[k]) continue;
        d.data_base = d.stack_base = cpu.base[override_segments[k]];
        op = d.fetch8();
    }
    if (op == prefix_address_size) {
        d.address32 = true;
        op = d.fetch8();
    }

    const int w = d.word();
    int reg_field = 0;
    switch (op) {
    case 0x88: { operand o = d.modrm(reg_field); d.set(o, d.reg(reg_field, 1), 1); return next; }
    case 0x89: { operand o = d.modrm(reg_field); d.set(o, d.reg(reg_field, w), w); return next; }
    case 0x8A: { operand o = d.modrm(reg_field); d.reg_set(reg_field, d.get(o, 1), 1); return next; }
    case 0x8B: { operand o = d.modrm(reg_field); d.reg_set(reg_field, d.get(o, w), w); return next; }
    case 0x8C:
    case 0x8E: {
        // Segment numbers 6 and 7 name no register.
        if (peek_reg_field(d) >= x86_segment_count) return unknown(op);
        operand o = d.modrm(reg_field);
        if (op == 0x8C) d.set(o, d.r().sreg[reg_field], 2);
        else d.segment_load(reg_field, static_cast<uint16_t>(d.get(o, 2)));
        return next;
    }
    case 0xA0: d.reg_set(x86_eax, d.read(d.data_base + d.moffs(), 1), 1); return next;
    case 0xA1: d.reg_set(x86_eax, d.read(d.data_base + d.moffs(), w), w); return next;
    case 0xA2: d.write(d.data_base + d.moffs(), d.reg(x86_eax, 1), 1); return next;
    case 0xA3: d.write(d.data_base + d.moffs(), d.reg(x86_eax, w), w); return next;
    case 0xC6: { operand o = d.modrm(reg_field); d.set(o, d.fetch8(), 1); return next; }
    case 0xC7: { operand o = d.modrm(reg_field); d.set(o, d.immediate(), w); return next; }
    case 0x68: d.push(d.immediate(), w); return next;
    // PUSH imm8 sign-extends to the operand size, as the processor does.
    case 0x6A: d.push(static_cast<uint32_t>(static_cast<int8_t>(d.fetch8())), w); return next;
    case 0x06: d.push(d.r().sreg[x86_es], 2); return next;
    case 0x0E: d.push(d.r().sreg[x86_cs], 2); return next;
    case 0x16: d.push(d.r().sreg[x86_ss], 2); return next;
    case 0x1E: d.push(d.r().sreg[x86_ds], 2); return next;
    case 0x07: d.segment_load(x86_es, static_cast<uint16_t>(d.pop(2))); return next;
    case 0x17: d.segment_load(x86_ss, static_cast<uint16_t>(d.pop(2))); return next;
    case 0x1F: d.segment_load(x86_ds, static_cast<uint16_t>(d.pop(2))); return next;
    case 0x8F: {
        // POP r/m only (reg 0); the operand is decoded before SP moves.
        if (peek_reg_field(d) != 0) return unknown(op);
        operand o = d.modrm(reg_field);
        d.set(o, d.pop(w), w);
        return next;
    }
    case 0xFF: {
        // PUSH r/m only (reg 6); SP moves first, so PUSH SP stores the decremented value.
        if (peek_reg_field(d) != 6) return unknown(op);
        d.sp_add(-w);
        operand o = d.modrm(reg_field);
        d.write(d.stack_top(), d.get(o, w), w);
        return next;
    }
    case 0xCD: bus.interrupt(bus.context, d.fetch8()); return next;
    case 0xCA: d.fetch16(); return {x86_outcome::far_return, 0};
    case 0xCB: return {x86_outcome::far_return, 0};
    case opcode_two_byte: return two_byte(d);
    default: break;
    }
    if (op >= 0xB0 && op <= 0xB7) {
        d.reg_set(op & 7, d.fetch8(), 1);
        return next;
    }
    if (op >= 0xB8 && op <= 0xBF) {
        d.reg_set(op & 7, d.immediate(), w);
        return next;
    }
    if (op >= 0x50 && op <= 0x57) {
        // The 8086 way: PUSH SP stores SP after the decrement.
        d.sp_add(-w);
        d.write(d.stack_top(), d.reg(op & 7, w), w);
        return next;
    }
    if (op >= 0x58 && op <= 0x5F) {
        d.reg_set(op & 7, d.pop(w), w);
        return next;
    }
    return unknown(op);
}
