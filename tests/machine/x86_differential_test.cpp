// Random code of the interpreter's subset run beside an independent x86 emulator in real mode:
// the general and segment registers (not IP or FLAGS) and the data memory must agree.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <sstream>

#include "x86_fixture.h"
#include "x86_random_code.h"

#ifdef LUMO_HAVE_X86EMU
#include <x86emu.h>
#endif

namespace {

#ifdef LUMO_HAVE_X86EMU

constexpr uint32_t data_end = 0x50000;    // every data access lies below (see x86_random_code.h)
constexpr uint16_t code_segment = 0x6000;  // above the data
constexpr uint32_t code_linear = code_segment * 16;
constexpr uint32_t peer_size = 0x111000;   // whole 4 KB pages over the emulated memory
constexpr int sequences = 100000;

bool peer_faulted;
int peer_steps;
// Straight-line code ends at its HLT; a step limit guards against a peer that decodes otherwise.
int count_step(x86emu_t*) { return ++peer_steps > 64; }
int stop_on_interrupt(x86emu_t* emu, u8, unsigned) {
    peer_faulted = true;
    x86emu_stop(emu);
    return 1;
}

std::string hex(const std::vector<uint8_t>& bytes) {
    std::ostringstream s;
    for (uint8_t b : bytes) s << std::hex << (b < 16 ? "0" : "") << int(b) << ' ';
    return s.str();
}

TEST(X86Differential, RandomSequencesAgreeWithAnIndependentEmulator) {
    std::mt19937 rng(19);
    flat_machine ours;
    std::vector<uint8_t> pristine(data_end);
    for (auto& b : pristine) b = static_cast<uint8_t>(rng() % 0x40);
    std::copy(pristine.begin(), pristine.end(), ours.memory.begin());
    std::vector<uint8_t> theirs(peer_size);
    std::copy(ours.memory.begin(), ours.memory.end(), theirs.begin());

    x86emu_t* emu = x86emu_new(X86EMU_PERM_RWX, 0);
    for (uint32_t page = 0; page < peer_size; page += X86EMU_PAGE_SIZE) x86emu_set_page(emu, page, theirs.data() + page);
    x86emu_set_intr_handler(emu, stop_on_interrupt);
    x86emu_set_code_handler(emu, count_step);

    int failures = 0;
    for (int n = 0; n < sequences && failures < 5; ++n) {
        const bool address32 = rng() % 2;
        x86_random_code gen{rng, !address32, address32};
        std::vector<uint8_t> code;
        for (int k = 1 + static_cast<int>(gen.below(8)); k > 0; --k) gen.instruction(code);

        x86_register_file regs{};
        for (uint32_t& g : regs.gpr) {
            g = gen.small() | gen.small() << 8;
            if (!address32) g |= static_cast<uint32_t>(gen.small() | gen.small() << 8) << 16;
        }
        regs.gpr[x86_esp] = 0x1000 + gen.below(0x2F00);
        for (uint16_t& s : regs.sreg) s = static_cast<uint16_t>(gen.small() | gen.small() << 8);
        regs.sreg[x86_cs] = code_segment;

        ours.put(code_linear, code);
        ours.memory[code_linear + code.size()] = 0xCB;
        std::copy(code.begin(), code.end(), theirs.begin() + code_linear);
        theirs[code_linear + code.size()] = 0xF4;  // HLT stops the peer

        x86_register_file ours_after = regs;
        ours.written.clear();
        x86_cpu cpu = x86_cpu_start(ours_after);
        x86_result result{};
        for (int i = 0; i < 16; ++i)
            if ((result = x86_step(cpu, ours.bus())).outcome != x86_outcome::next) break;

        const uint32_t* peer_gpr[8] = {&emu->x86.R_EAX, &emu->x86.R_ECX, &emu->x86.R_EDX, &emu->x86.R_EBX,
                                       &emu->x86.R_ESP, &emu->x86.R_EBP, &emu->x86.R_ESI, &emu->x86.R_EDI};
        for (int r = 0; r < 8; ++r) *const_cast<uint32_t*>(peer_gpr[r]) = regs.gpr[r];
        for (int s = 0; s < x86_segment_count; ++s) x86emu_set_seg_register(emu, emu->x86.seg + s, regs.sreg[s]);
        emu->x86.R_EIP = 0;
        peer_faulted = false;
        peer_steps = 0;
        x86emu_run(emu, 0);

        bool same = result.outcome == x86_outcome::far_return && !peer_faulted && peer_steps <= 64;
        for (int r = 0; r < 8; ++r) same &= ours_after.gpr[r] == *peer_gpr[r];
        for (int s = 0; s < x86_segment_count; ++s) same &= ours_after.sreg[s] == emu->x86.seg[s].sel;
        same &= std::memcmp(ours.memory.data(), theirs.data(), data_end) == 0;
        if (!same) {
            ++failures;
            std::ostringstream diff;
            for (int r = 0; r < 8; ++r)
                if (ours_after.gpr[r] != *peer_gpr[r]) diff << " r" << r << " " << std::hex << ours_after.gpr[r] << "/" << *peer_gpr[r];
            for (int s = 0; s < x86_segment_count; ++s)
                if (ours_after.sreg[s] != emu->x86.seg[s].sel) diff << " s" << s << " " << std::hex << ours_after.sreg[s] << "/" << emu->x86.seg[s].sel;
            for (uint32_t a = 0; a < data_end; ++a)
                if (ours.memory[a] != theirs[a]) {
                    diff << " byte " << std::hex << a << " " << int(ours.memory[a]) << "/" << int(theirs[a]);
                    break;
                }
            ADD_FAILURE() << "sequence " << n << ": " << hex(code) << (peer_faulted ? "(the peer faulted)" : "") << diff.str();
            std::copy(pristine.begin(), pristine.end(), ours.memory.begin());
            std::copy(pristine.begin(), pristine.end(), theirs.begin());
            continue;
        }
        for (uint32_t a : ours.written) {
            ASSERT_LT(a, data_end) << "sequence " << n << ": " << hex(code);
            ours.memory[a] = theirs[a] = pristine[a];
        }
    }
    x86emu_done(emu);
}

#else

TEST(X86Differential, RandomSequencesAgreeWithAnIndependentEmulator) {
    GTEST_SKIP() << "libx86emu-dev is not installed: no differential run";
}

#endif

}  // namespace
