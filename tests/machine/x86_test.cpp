#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "core/memory.h"
#include "core/runtime_fixture.h"
#include "machine/interrupts.h"
#include "platform/message_box.h"
#include "x86_fixture.h"

namespace {

constexpr uint16_t code_segment = 0x1000, data_segment = 0x50, extra_segment = 0x60, stack_segment = 0x2000;
constexpr uint32_t code = code_segment * 16, data = data_segment * 16, extra = extra_segment * 16,
                   stack = stack_segment * 16;

x86_register_file start_registers() {
    x86_register_file r{};
    r.sreg[x86_cs] = code_segment;
    r.sreg[x86_ds] = data_segment;
    r.sreg[x86_es] = extra_segment;
    r.sreg[x86_ss] = stack_segment;
    r.gpr[x86_esp] = 0x100;
    return r;
}

// Steps until the first result that is not "next" (at most 64 instructions).
x86_result run(x86_register_file& r, flat_machine& m) {
    x86_cpu cpu = x86_cpu_start(r);
    for (int i = 0; i < 64; ++i) {
        x86_result result = x86_step(cpu, m.bus());
        if (result.outcome != x86_outcome::next) return result;
    }
    return {x86_outcome::next, 0};
}

struct table_row {
    const char* name;
    std::vector<uint8_t> bytes;  // at CS:0, ending in a far return
    std::function<void(x86_register_file&, flat_machine&)> before;
    std::function<void(const x86_register_file&, const flat_machine&)> check;
};

void no_setup(x86_register_file&, flat_machine&) {}

TEST(X86Table, MovesPushesPopsAndEveryAddressForm) {
    const table_row rows[] = {
        {"mov ax, imm16", {0xB8, 0x34, 0x12, 0xCB}, no_setup,
         [](auto& r, auto&) { EXPECT_EQ(r.gpr[x86_eax], 0x1234u); }},
        {"mov eax, imm32", {0x66, 0xB8, 0x78, 0x56, 0x34, 0x12, 0xCB}, no_setup,
         [](auto& r, auto&) { EXPECT_EQ(r.gpr[x86_eax], 0x12345678u); }},
        {"mov ah, imm8 keeps al and the upper half", {0xB4, 0x7F, 0xCB},
         [](auto& r, auto&) { r.gpr[x86_eax] = 0xAABBCCDD; },
         [](auto& r, auto&) { EXPECT_EQ(r.gpr[x86_eax], 0xAABB7FDDu); }},
        {"mov ax, [moffs] through DS", {0xA1, 0x10, 0x00, 0xCB},
         [](auto&, auto& m) { m.put(data + 0x10, {0xEF, 0xBE}); },
         [](auto& r, auto&) { EXPECT_EQ(r.gpr[x86_eax], 0xBEEFu); }},
        {"ES override on moffs", {0x26, 0xA1, 0x10, 0x00, 0xCB},
         [](auto&, auto& m) { m.put(extra + 0x10, {0x22, 0x11}); },
         [](auto& r, auto&) { EXPECT_EQ(r.gpr[x86_eax], 0x1122u); }},
        {"push ds; pop es; then ES override uses the new ES", {0x1E, 0x07, 0x26, 0xA1, 0x10, 0x00, 0xCB},
         [](auto&, auto& m) { m.put(data + 0x10, {0x01, 0x02}); },
         [](auto& r, auto&) {
             EXPECT_EQ(r.sreg[x86_es], data_segment);
             EXPECT_EQ(r.gpr[x86_eax], 0x0201u);
         }},
        {"67 moffs takes 32 bits, mod 65536", {0x67, 0xA1, 0x10, 0x00, 0x01, 0x00, 0xCB},
         [](auto&, auto& m) { m.put(data + 0x10, {0x44, 0x33}); },
         [](auto& r, auto&) { EXPECT_EQ(r.gpr[x86_eax], 0x3344u); }},
        {"mov [moffs], eax", {0x66, 0xA3, 0x20, 0x00, 0xCB}, [](auto& r, auto&) { r.gpr[x86_eax] = 0xCAFEF00D; },
         [](auto&, auto& m) { EXPECT_EQ(m.dword(data + 0x20), 0xCAFEF00Du); }},
        {"mov [bx+si-1] wraps below zero", {0x89, 0x48, 0xFF, 0xCB},
         [](auto& r, auto&) { r.gpr[x86_ecx] = 0x5566; },
         [](auto&, auto& m) { EXPECT_EQ(m.word(data + 0xFFFF), 0x5566u); }},
        {"mov ax, [bp+6] uses SS", {0x8B, 0x46, 0x06, 0xCB},
         [](auto& r, auto& m) { r.gpr[x86_ebp] = 0x40; m.put(stack + 0x46, {0x78, 0x56}); },
         [](auto& r, auto&) { EXPECT_EQ(r.gpr[x86_eax], 0x5678u); }},
        {"DS override moves a BP form to DS", {0x3E, 0x8B, 0x46, 0x06, 0xCB},
         [](auto& r, auto& m) { r.gpr[x86_ebp] = 0x40; m.put(data + 0x46, {0x9A, 0x78}); },
         [](auto& r, auto&) { EXPECT_EQ(r.gpr[x86_eax], 0x789Au); }},
        {"mov ax, [disp16] (rm 6, mod 0) uses DS", {0x8B, 0x06, 0x30, 0x00, 0xCB},
         [](auto&, auto& m) { m.put(data + 0x30, {0x11, 0x22}); },
         [](auto& r, auto&) { EXPECT_EQ(r.gpr[x86_eax], 0x2211u); }},
        {"mov al, [bx+di+disp16]", {0x8A, 0x81, 0x00, 0x01, 0xCB},
         [](auto& r, auto& m) { r.gpr[x86_ebx] = 0x10; r.gpr[x86_edi] = 0x2; m.put(data + 0x112, {0x99}); },
         [](auto& r, auto&) { EXPECT_EQ(r.gpr[x86_eax], 0x99u); }},
        {"mov [bp+di], dl uses SS", {0x88, 0x13, 0xCB},
         [](auto& r, auto&) { r.gpr[x86_ebp] = 0x10; r.gpr[x86_edi] = 0x3; r.gpr[x86_edx] = 0x77; },
         [](auto&, auto& m) { EXPECT_EQ(m.memory[stack + 0x13], 0x77); }},
        {"67: mov ax, [eax] takes the offset mod 65536", {0x67, 0x8B, 0x00, 0xCB},
         [](auto& r, auto& m) { r.gpr[x86_eax] = 0x10010; m.put(data + 0x10, {0x0D, 0xF0}); },
         [](auto& r, auto&) { EXPECT_EQ(r.gpr[x86_eax], 0x1F00Du); }},
        {"67: mov ax, [ebp+2] uses SS", {0x67, 0x8B, 0x45, 0x02, 0xCB},
         [](auto& r, auto& m) { r.gpr[x86_ebp] = 0x20; m.put(stack + 0x22, {0x01, 0xA0}); },
         [](auto& r, auto&) { EXPECT_EQ(r.gpr[x86_eax], 0xA001u); }},
        {"67: mov ax, [disp32]", {0x67, 0x8B, 0x05, 0x40, 0x00, 0x00, 0x00, 0xCB},
         [](auto&, auto& m) { m.put(data + 0x40, {0x02, 0xB0}); },
         [](auto& r, auto&) { EXPECT_EQ(r.gpr[x86_eax], 0xB002u); }},
        {"67: mov ax, [ecx+disp32] (mod 2)", {0x67, 0x8B, 0x81, 0x00, 0x01, 0x00, 0x00, 0xCB},
         [](auto& r, auto& m) { r.gpr[x86_ecx] = 0x5; m.put(data + 0x105, {0x03, 0xC0}); },
         [](auto& r, auto&) { EXPECT_EQ(r.gpr[x86_eax], 0xC003u); }},
        {"SIB: [eax+ecx*4]", {0x67, 0x8B, 0x04, 0x88, 0xCB},
         [](auto& r, auto& m) { r.gpr[x86_eax] = 0x100; r.gpr[x86_ecx] = 0x3; m.put(data + 0x10C, {0x04, 0xD0}); },
         [](auto& r, auto&) { EXPECT_EQ(r.gpr[x86_eax], 0xD004u); }},
        {"SIB: [ebx+esi*8] scale 8", {0x67, 0x8B, 0x04, 0xF3, 0xCB},
         [](auto& r, auto& m) { r.gpr[x86_ebx] = 0x1; r.gpr[x86_esi] = 0x2; m.put(data + 0x11, {0x05, 0xE0}); },
         [](auto& r, auto&) { EXPECT_EQ(r.gpr[x86_eax], 0xE005u); }},
        {"SIB: index 4 is none, base 5 with mod 0 is disp32", {0x67, 0x8B, 0x04, 0x25, 0x50, 0x00, 0x00, 0x00, 0xCB},
         [](auto&, auto& m) { m.put(data + 0x50, {0x06, 0xF0}); },
         [](auto& r, auto&) { EXPECT_EQ(r.gpr[x86_eax], 0xF006u); }},
        {"SIB: [esp+2] uses SS", {0x67, 0x8B, 0x44, 0x24, 0x02, 0xCB},
         [](auto&, auto& m) { m.put(stack + 0x102, {0x07, 0x10}); },
         [](auto& r, auto&) { EXPECT_EQ(r.gpr[x86_eax], 0x1007u); }},
        {"SIB: [ebp+edx*2+1] (mod 1) uses SS", {0x67, 0x8B, 0x44, 0x55, 0x01, 0xCB},
         [](auto& r, auto& m) { r.gpr[x86_ebp] = 0x10; r.gpr[x86_edx] = 0x4; m.put(stack + 0x19, {0x08, 0x20}); },
         [](auto& r, auto&) { EXPECT_EQ(r.gpr[x86_eax], 0x2008u); }},
        {"SIB: the whole sum mod 65536", {0x67, 0x8B, 0x04, 0x48, 0xCB},
         [](auto& r, auto& m) { r.gpr[x86_eax] = 0xFFFF0000; r.gpr[x86_ecx] = 0x8008; m.put(data + 0x10, {0x09, 0x30}); },
         [](auto& r, auto&) { EXPECT_EQ(r.gpr[x86_eax], 0xFFFF3009u); }},
        {"mod 3 names registers of each width", {0x88, 0xE3, 0x66, 0x89, 0xC1, 0x8B, 0xD1, 0xCB},
         [](auto& r, auto&) { r.gpr[x86_eax] = 0x12345678; r.gpr[x86_edx] = 0xFFFF0000; },
         [](auto& r, auto&) {
             EXPECT_EQ(r.gpr[x86_ebx], 0x56u);           // mov bl, ah
             EXPECT_EQ(r.gpr[x86_ecx], 0x12345678u);     // mov ecx, eax
             EXPECT_EQ(r.gpr[x86_edx], 0xFFFF5678u);     // mov dx, cx
         }},
        {"mov word [disp16], imm16 and byte imm8", {0xC7, 0x06, 0x60, 0x00, 0x34, 0x12, 0xC6, 0x47, 0x02, 0x56, 0xCB},
         [](auto& r, auto&) { r.gpr[x86_ebx] = 0x60; },
         [](auto&, auto& m) { EXPECT_EQ(m.dword(data + 0x60), 0x00561234u); }},
        {"push imm16, pop [disp16]", {0x68, 0xCD, 0xAB, 0x8F, 0x06, 0x70, 0x00, 0xCB}, no_setup,
         [](auto& r, auto& m) {
             EXPECT_EQ(m.word(data + 0x70), 0xABCDu);
             EXPECT_EQ(r.gpr[x86_esp], 0x100u);
         }},
        {"66 6A pushes four bytes, sign-extended", {0x66, 0x6A, 0xFE, 0x66, 0x5B, 0xCB}, no_setup,
         [](auto& r, auto&) {
             EXPECT_EQ(r.gpr[x86_ebx], 0xFFFFFFFEu);
             EXPECT_EQ(r.gpr[x86_esp], 0x100u);
         }},
        {"6A pushes a sign-extended word", {0x6A, 0x80, 0xCB}, no_setup,
         [](auto& r, auto& m) {
             EXPECT_EQ(r.gpr[x86_esp], 0xFEu);
             EXPECT_EQ(m.word(stack + 0xFE), 0xFF80u);
         }},
        {"push r/m (FF /6) and a 32-bit push", {0xFF, 0x36, 0x10, 0x00, 0x66, 0x68, 0x01, 0x02, 0x03, 0x04, 0xCB},
         [](auto&, auto& m) { m.put(data + 0x10, {0x55, 0x66}); },
         [](auto& r, auto& m) {
             EXPECT_EQ(r.gpr[x86_esp], 0xFAu);
             EXPECT_EQ(m.word(stack + 0xFE), 0x6655u);
             EXPECT_EQ(m.dword(stack + 0xFA), 0x04030201u);
         }},
        {"SP wraps at 16 bits and keeps the upper half", {0x50, 0xCB},
         [](auto& r, auto&) { r.gpr[x86_esp] = 0xABCD0000; r.gpr[x86_eax] = 0x4242; },
         [](auto& r, auto& m) {
             EXPECT_EQ(r.gpr[x86_esp], 0xABCDFFFEu);
             EXPECT_EQ(m.word(stack + 0xFFFE), 0x4242u);
         }},
        {"push and pop FS and GS; pop recomputes the FS base", {0xB8, 0x70, 0x00, 0x50, 0x0F, 0xA1, 0x0F, 0xA8, 0x64, 0xA0, 0x01, 0x00, 0xCB},
         [](auto& r, auto& m) { r.sreg[x86_gs] = 0x1111; m.put(0x701, {0x5C}); },
         [](auto& r, auto& m) {
             EXPECT_EQ(r.sreg[x86_fs], 0x70);
             EXPECT_EQ(m.word(stack + 0xFE), 0x1111u);
             EXPECT_EQ(r.gpr[x86_eax] & 0xFF, 0x5Cu);
         }},
        {"mov ss, ax moves the stack", {0xB8, 0x00, 0x30, 0x8E, 0xD0, 0x53, 0xCB},
         [](auto& r, auto&) { r.gpr[x86_ebx] = 0x9876; },
         [](auto&, auto& m) { EXPECT_EQ(m.word(0x30000 + 0xFE), 0x9876u); }},
        {"mov es, [disp16]; mov [es:..] through it; mov ax, es", {0x8E, 0x06, 0x00, 0x00, 0x26, 0x88, 0x1E, 0x05, 0x00, 0x8C, 0xC0, 0xCB},
         [](auto& r, auto& m) { m.put(data, {0x00, 0x40}); r.gpr[x86_ebx] = 0x3C; },
         [](auto& r, auto& m) {
             EXPECT_EQ(m.memory[0x40005], 0x3C);
             EXPECT_EQ(r.gpr[x86_eax], 0x4000u);
         }},
        {"mov cs keeps running where the code is", {0xB8, 0x34, 0x12, 0x8E, 0xC8, 0xBB, 0x01, 0x00, 0x0E, 0xCB}, no_setup,
         [](auto& r, auto& m) {
             EXPECT_EQ(r.sreg[x86_cs], 0x1234);
             EXPECT_EQ(r.gpr[x86_ebx], 1u);
             EXPECT_EQ(m.word(stack + 0xFE), 0x1234u);
         }},
        {"int 33h reaches the interrupt", {0xCD, 0x33, 0xCB}, no_setup,
         [](auto&, auto& m) { EXPECT_EQ(m.interrupts, std::vector<uint8_t>{0x33}); }},
        {"retf imm16 ends the run and pops nothing", {0xCA, 0x04, 0x00}, no_setup,
         [](auto& r, auto&) { EXPECT_EQ(r.gpr[x86_esp], 0x100u); }},
        {"pop sp takes the popped word", {0x5C, 0xCB}, [](auto&, auto& m) { m.put(stack + 0x100, {0x34, 0x12}); },
         [](auto& r, auto&) { EXPECT_EQ(r.gpr[x86_esp], 0x1234u); }},
        {"several overrides in order: the last wins", {0x26, 0x3E, 0xA0, 0x01, 0x00, 0xCB},
         [](auto&, auto& m) { m.put(data + 1, {0x61}); m.put(extra + 1, {0x62}); },
         [](auto& r, auto&) { EXPECT_EQ(r.gpr[x86_eax], 0x61u); }},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        flat_machine m;
        x86_register_file r = start_registers();
        m.put(code, row.bytes);
        row.before(r, m);
        x86_result result = run(r, m);
        EXPECT_EQ(result.outcome, x86_outcome::far_return);
        EXPECT_EQ(r.ip, 0) << "the register file's IP is not advanced";
        row.check(r, m);
    }
}

TEST(X86Table, CodeAtTheTopOfMemoryWrapsWithinItsSegment) {
    flat_machine m;
    x86_register_file r = start_registers();
    r.sreg[x86_cs] = 0xFFFF;
    r.ip = 0xFFFE;
    m.put(0xFFFF0 + 0xFFFE, {0xB8, 0x34});
    m.put(0xFFFF0, {0x12, 0xCB});  // offsets 0 and 1 of the same segment
    EXPECT_EQ(run(r, m).outcome, x86_outcome::far_return);
    EXPECT_EQ(r.gpr[x86_eax], 0x1234u);

    // The highest dword operand ends at the last byte of the emulated memory.
    flat_machine top;
    x86_register_file t = start_registers();
    t.sreg[x86_ds] = 0xFFFF;
    top.put(code, {0x66, 0xA1, 0xFF, 0xFF, 0xCB});
    top.put(0x10FFEF, {1, 2, 3, 4});
    EXPECT_EQ(run(t, top).outcome, x86_outcome::far_return);
    EXPECT_EQ(t.gpr[x86_eax], 0x04030201u);
}

TEST(X86Table, UnknownOpcodesAreReportedBeforeAnythingChanges) {
    struct row {
        const char* name;
        std::vector<uint8_t> bytes;
        uint8_t reported;
    } rows[] = {
        {"an ADD", {0x01, 0xC0}, 0x01},
        {"a zero byte", {0x00}, 0x00},
        {"LEA", {0x8D, 0x06, 0x00, 0x00}, 0x8D},
        {"0F with another second byte reports that byte", {0x0F, 0x05}, 0x05},
        {"FF other than /6 (INC)", {0xFF, 0x06, 0x00, 0x00}, 0xFF},
        {"FF /4 (JMP)", {0xFF, 0xE0}, 0xFF},
        {"8F other than /0", {0x8F, 0x0E, 0x00, 0x00}, 0x8F},
        {"8C with segment 6", {0x8C, 0xF0}, 0x8C},
        {"8E with segment 7", {0x8E, 0xF8}, 0x8E},
        {"an override before 66", {0x26, 0x66, 0xB8, 0, 0, 0, 0}, 0x66},
        {"overrides out of order", {0x3E, 0x26, 0xA1, 0, 0}, 0x26},
        {"the same override twice", {0x26, 0x26, 0xA1, 0, 0}, 0x26},
        {"67 before an override", {0x67, 0x26, 0xA1, 0, 0}, 0x26},
        {"66 twice", {0x66, 0x66, 0x50}, 0x66},
        {"0F after 66 still wants a known second byte", {0x66, 0x0F, 0xB7}, 0xB7},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        flat_machine m;
        x86_register_file r = start_registers();
        m.put(code, row.bytes);
        x86_register_file before = r;
        x86_cpu cpu = x86_cpu_start(r);
        x86_result result = x86_step(cpu, m.bus());
        EXPECT_EQ(result.outcome, x86_outcome::unknown_opcode);
        EXPECT_EQ(result.opcode, row.reported);
        EXPECT_EQ(std::memcmp(&r, &before, sizeof r), 0);
        EXPECT_TRUE(m.written.empty());
    }
}

// The process exits of the runtime's run over dos_memory.
void run_in_segment(std::vector<uint8_t> bytes, uint8_t exit_byte) {
    platform::platform_message_box_handler_set([](const platform::message_box_call& call) {
        std::fprintf(stderr, "[%s] %s\n", call.caption.c_str(), call.text.c_str());
        return platform::id_ok;
    });
    dos_memory_reset();
    dos_memory[0] = exit_byte;
    for (size_t i = 0; i < bytes.size(); ++i) dos_memory[0x500 + 0x200 + i] = bytes[i];
    machine_code_call(0, 0x200);
    std::exit(123);  // a far return: not expected here
}

TEST(X86RunDeathTest, UnknownOpcodeShowsItsBoxAndExits86) {
    EXPECT_EXIT(run_in_segment({0xB0, 0x05, 0x01, 0xC0}, 0), ::testing::ExitedWithCode(86),
                "\\[X86 Error\\] Unknown Opcode \\(01\\)");
    EXPECT_EXIT(run_in_segment({0x0F, 0xAB}, 0), ::testing::ExitedWithCode(86), "Unknown Opcode \\(AB\\)");
}

TEST(X86RunDeathTest, AZeroByteEndsWithTheCodeAtLinearZero) {
    EXPECT_EXIT(run_in_segment({0xB0, 0x05, 0x00}, 7), ::testing::ExitedWithCode(7), "");
}

class MachineCode : public ::testing::Test {
protected:
    void SetUp() override { dos_memory_reset(); }
    recorded_boxes boxes;
};

TEST_F(MachineCode, StackLayoutOfACallWithTwoArguments) {
    segment_select(0x3000, 1);
    dos_memory[0x30000 + 0x10] = 0xCB;
    machine_code_args[0] = 0x1111;
    machine_code_args[1] = 0x2222;
    machine_code_call(2, 0x10);
    const x86_register_file& r = x86_registers;
    EXPECT_EQ(r.gpr[x86_esp], 0xFFF8u);
    EXPECT_EQ(r.sreg[x86_cs], 0x3000);
    EXPECT_EQ(r.sreg[x86_ss], 0xFFFF);
    EXPECT_EQ(r.sreg[x86_ds], 0x50);
    EXPECT_EQ(r.ip, 0x10);
    auto word = [](uint32_t l) { return dos_memory[l] | dos_memory[l + 1] << 8; };
    EXPECT_EQ(word(0xFFFF0 + 0xFFFE), 0x1111);
    EXPECT_EQ(word(0xFFFF0 + 0xFFFC), 0x2222);
    EXPECT_EQ(word(0xFFFF0 + 0xFFF8), 0xFFFF);
    EXPECT_EQ(word(0xFFFF0 + 0xFFFA), 0xFFFF);
    for (int n : {x86_eax, x86_ebx, x86_ecx, x86_edx, x86_ebp, x86_esi, x86_edi}) EXPECT_EQ(r.gpr[n], 0u);
}

TEST_F(MachineCode, RoutineReadsItsArgumentsThroughBp) {
    // push bp; mov bp, sp; mov ax, [bp+8]; mov bx, [bp+6]; mov [100h], ax; mov [102h], bx; pop bp; retf 4
    const uint8_t routine[] = {0x55, 0x8B, 0xEC, 0x8B, 0x46, 0x08, 0x8B, 0x5E, 0x06, 0xA3, 0x00, 0x01,
                               0x89, 0x1E, 0x02, 0x01, 0x5D, 0xCA, 0x04, 0x00};
    std::copy(std::begin(routine), std::end(routine), dos_memory + 0x500 + 0x400);
    machine_code_args[0] = 0xA1A1;
    machine_code_args[1] = 0xB2B2;
    machine_code_call(2, 0x400);
    EXPECT_EQ(x86_registers.gpr[x86_eax], 0xA1A1u);
    EXPECT_EQ(dos_memory[0x600] | dos_memory[0x601] << 8, 0xA1A1);
    EXPECT_EQ(dos_memory[0x602] | dos_memory[0x603] << 8, 0xB2B2);
    EXPECT_EQ(x86_registers.gpr[x86_esp], 0xFFF8u);
}

TEST_F(MachineCode, MoreArgumentsThanTheArrayHoldsRunNothing) {
    dos_memory[0x500] = 0x01;  // would exit 86 if it ran
    machine_code_call(machine_code_args_capacity + 1, 0);
    EXPECT_EQ(error_number.load(), 5);
    EXPECT_EQ(dos_memory[0xFFFF0 + 0xFFFE], 0);
}

}  // namespace

namespace {

TEST_F(MachineCode, CodeThatNeverEndsStillParksAtShutdown) {
    // MOV AL, 1 over a whole segment: the offset wraps and no far return or zero byte comes.
    for (uint32_t i = 0; i < 65536; i += 2) {
        dos_memory[0x30000 + i] = 0xB0;
        dos_memory[0x30000 + i + 1] = 0x01;
    }
    segment_select(0x3000, 1);
    shutdown_flag = 1;
    EXPECT_THROW(machine_code_call(0, 0), parked);
    EXPECT_EQ(x86_registers.gpr[x86_eax], 1u) << "the routine ran until the look at the flag";
}

}  // namespace
