// Random straight-line code of the interpreter's subset, restricted to the forms where the
// interpreter and a 386 in real mode agree (no PUSH SP, no 66 on segment pushes and pops or on 8C,
// no 67 on moffs, no MOV CS, no ESP-based operand of 8F and FF, no use of SP other than by pushes
// and pops, no CS override, no INT or RETF). Every byte of an immediate or displacement is below
// 0x40 and so is every byte of the data memory, so segment values stay below 0x4000 and 16-bit
// sums never wrap. A sequence uses either 32-bit operands or 32-bit addresses, never both, so
// 32-bit address sums stay below 0x10000 (scales 1 and 2 only).
#pragma once

#include <cstdint>
#include <random>
#include <vector>

struct x86_random_code {
    std::mt19937& rng;
    bool operand32;  // 66 allowed
    bool address32;  // 67 allowed

    uint32_t below(uint32_t n) { return std::uniform_int_distribution<uint32_t>(0, n - 1)(rng); }
    bool chance(uint32_t n) { return below(n) == 0; }
    uint8_t small() { return static_cast<uint8_t>(below(0x40)); }

    void imm(std::vector<uint8_t>& out, int bytes) {
        for (int i = 0; i < bytes; ++i) out.push_back(small());
    }
    void disp32(std::vector<uint8_t>& out) {
        out.insert(out.end(), {small(), static_cast<uint8_t>(below(0x10)), 0, 0});
    }

    // A ModR/M operand with the reg field given; no_esp keeps ESP out of SIB bases.
    void modrm(std::vector<uint8_t>& out, int reg, bool address, bool no_esp, bool memory_only = false) {
        int mod = static_cast<int>(below(memory_only ? 3 : 4)), rm = static_cast<int>(below(8));
        // [EBP+disp8]: the peer emulator takes it through DS where the processor (and the
        // interpreter) take SS; the hand-made table covers it.
        if (address && mod == 1 && rm == 5) mod = 2;
        out.push_back(static_cast<uint8_t>(mod << 6 | reg << 3 | rm));
        if (mod == 3) return;
        if (!address) {
            if (mod == 0 && rm == 6) imm(out, 2);
            if (mod == 1) imm(out, 1);
            if (mod == 2) imm(out, 2);
            return;
        }
        if (rm == 4) {
            int base = static_cast<int>(below(8));
            if (no_esp && base == 4) base = 3;
            out.push_back(static_cast<uint8_t>(below(2) << 6 | below(8) << 3 | base));
            if (mod == 0 && base == 5) disp32(out);
        } else if (mod == 0 && rm == 5) {
            disp32(out);
        }
        if (mod == 1) imm(out, 1);
        if (mod == 2) disp32(out);
    }

    // SP as an operand other than through pushes and pops: set to any value, a later stack access may
    // cross offset FFFF (which faults on the processor); read, its value may reach a segment register.
    static bool uses_sp(const std::vector<uint8_t>& body) {
        const uint8_t op = body[0];
        if (op == 0xBC) return true;
        if (op != 0x89 && op != 0x8B && op != 0x8C && op != 0x8E && op != 0xC7 && op != 0x8F && op != 0xFF) return false;
        const int mod = body[1] >> 6, reg = (body[1] >> 3) & 7, rm = body[1] & 7;
        return ((op == 0x89 || op == 0x8B) && reg == 4) || (mod == 3 && rm == 4);
    }

    // One instruction, prefixes included.
    void instruction(std::vector<uint8_t>& out) {
        const bool wide = operand32 && chance(2);
        const bool address = address32 && chance(2);
        std::vector<uint8_t> body;
        bool wide_ok = false, override_ok = true, address_ok = false;
        switch (below(16)) {
        case 0: {
            uint8_t op = static_cast<uint8_t>(0x88 + below(4));
            body.push_back(op);
            modrm(body, static_cast<int>(below(8)), address, false);
            wide_ok = op & 1;
            address_ok = true;
            break;
        }
        case 1:
        case 2: {
            // Not CS: its value would let a later segment load reach the code.
            const int regs[] = {0, 2, 3, 4, 5};
            body.push_back(below(2) ? 0x8C : 0x8E);
            modrm(body, regs[below(5)], address, false);
            address_ok = true;
            break;
        }
        case 3: {
            uint8_t op = static_cast<uint8_t>(0xA0 + below(4));
            body.push_back(op);
            imm(body, 2);
            wide_ok = op & 1;
            break;
        }
        case 4:
            body.push_back(static_cast<uint8_t>(0xB0 + below(8)));
            imm(body, 1);
            break;
        case 5:
            body.push_back(static_cast<uint8_t>(0xB8 + below(8)));
            imm(body, wide ? 4 : 2);
            wide_ok = true;
            break;
        case 6:
            body.push_back(0xC6);
            modrm(body, 0, address, false);
            imm(body, 1);
            address_ok = true;
            break;
        case 7:
            body.push_back(0xC7);
            modrm(body, 0, address, false);
            imm(body, wide ? 4 : 2);
            wide_ok = address_ok = true;
            break;
        case 8: {
            uint8_t r = static_cast<uint8_t>(below(8));
            body.push_back(static_cast<uint8_t>(0x50 + (r == 4 ? 3 : r)));
            wide_ok = true;
            override_ok = false;
            break;
        }
        case 9: {
            // Not POP SP: a stack access that then crosses offset FFFF faults on the processor.
            uint8_t r = static_cast<uint8_t>(below(8));
            body.push_back(static_cast<uint8_t>(0x58 + (r == 4 ? 3 : r)));
            wide_ok = true;
            override_ok = false;
            break;
        }
        case 10:
            body.push_back(0x68);
            imm(body, wide ? 4 : 2);
            wide_ok = true;
            break;
        case 11:
            body.push_back(0x6A);
            imm(body, 1);
            wide_ok = true;
            break;
        case 12: {
            const uint8_t ops[] = {0x06, 0x16, 0x1E, 0x07, 0x17, 0x1F};  // not PUSH CS
            body.push_back(ops[below(6)]);
            break;
        }
        case 13: {
            const uint8_t second[] = {0xA0, 0xA8, 0xA1, 0xA9};
            body.insert(body.end(), {0x0F, second[below(4)]});
            break;
        }
        case 14:
            body.push_back(0x8F);
            do {
                body.resize(1);
                modrm(body, 0, address, true);
            } while (body[1] == 0xC4);  // not POP SP
            wide_ok = address_ok = true;
            break;
        default: {
            body.push_back(0xFF);
            // Not FF F4 (PUSH SP through ModR/M).
            do {
                body.resize(1);
                modrm(body, 6, address, true);
            } while (body[1] == 0xF4);
            wide_ok = address_ok = true;
            break;
        }
        }
        if (address && !address_ok) return instruction(out);  // the operand was made for 32-bit addresses
        if (uses_sp(body)) return instruction(out);
        if (wide && wide_ok) out.push_back(0x66);
        if (override_ok && chance(4)) {
            // Not CS: the code's own bytes are not data here.
            const uint8_t overrides[] = {0x26, 0x36, 0x3E, 0x64, 0x65};
            out.push_back(overrides[below(5)]);
        }
        if (address) out.push_back(0x67);
        out.insert(out.end(), body.begin(), body.end());
    }
};
