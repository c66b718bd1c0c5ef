// The x86 interpreter's rate over a 64 KB segment of random subset instructions (16-bit forms)
// ending in a far return, beside an independent x86 emulator running the same bytes (ending in
// HLT) in the same run. Items are instructions.
#include <benchmark/benchmark.h>

#include <random>
#include <vector>

#include "../tests/machine/x86_random_code.h"
#include "core/memory.h"
#include "machine/x86.h"

#ifdef LUMO_HAVE_X86EMU
#include <x86emu.h>
#endif

namespace {

constexpr uint16_t code_segment = 0x6000;
constexpr uint32_t code_linear = code_segment * 16;
constexpr uint32_t data_end = 0x50000;

struct workload {
    std::vector<uint8_t> code;  // without its last byte
    x86_register_file start{};
    int64_t instructions = 0;
};

const workload& workload_get() {
    static const workload w = [] {
        workload w;
        std::mt19937 rng(7);
        x86_random_code gen{rng, false, false};
        while (w.code.size() < 65536 - 16) {
            gen.instruction(w.code);
            ++w.instructions;
        }
        for (uint32_t& g : w.start.gpr) g = gen.small() | gen.small() << 8;
        w.start.gpr[x86_esp] = 0x2000;
        for (uint16_t& s : w.start.sreg) s = static_cast<uint16_t>(gen.small() | gen.small() << 8);
        w.start.sreg[x86_cs] = code_segment;
        return w;
    }();
    return w;
}

void memory_fill(uint8_t* memory) {
    std::mt19937 rng(8);
    for (uint32_t i = 0; i < data_end; ++i) memory[i] = static_cast<uint8_t>(rng() % 0x40);
}

void BM_x86_run(benchmark::State& state) {
    const workload& w = workload_get();
    memory_fill(dos_memory);
    std::copy(w.code.begin(), w.code.end(), dos_memory + code_linear);
    dos_memory[code_linear + w.code.size()] = 0xCB;
    for (auto _ : state) {
        x86_registers = w.start;
        x86_run();
        benchmark::DoNotOptimize(x86_registers.gpr[0]);
    }
    state.SetItemsProcessed(state.iterations() * w.instructions);
}
BENCHMARK(BM_x86_run);

#ifdef LUMO_HAVE_X86EMU
void BM_x86emu_run(benchmark::State& state) {
    const workload& w = workload_get();
    std::vector<uint8_t> memory(0x111000);
    memory_fill(memory.data());
    std::copy(w.code.begin(), w.code.end(), memory.begin() + code_linear);
    memory[code_linear + w.code.size()] = 0xF4;
    x86emu_t* emu = x86emu_new(X86EMU_PERM_RWX, 0);
    for (uint32_t page = 0; page < memory.size(); page += X86EMU_PAGE_SIZE) x86emu_set_page(emu, page, memory.data() + page);
    for (auto _ : state) {
        const uint32_t* from = w.start.gpr;
        emu->x86.R_EAX = from[x86_eax];
        emu->x86.R_ECX = from[x86_ecx];
        emu->x86.R_EDX = from[x86_edx];
        emu->x86.R_EBX = from[x86_ebx];
        emu->x86.R_ESP = from[x86_esp];
        emu->x86.R_EBP = from[x86_ebp];
        emu->x86.R_ESI = from[x86_esi];
        emu->x86.R_EDI = from[x86_edi];
        for (int s = 0; s < x86_segment_count; ++s) x86emu_set_seg_register(emu, emu->x86.seg + s, w.start.sreg[s]);
        emu->x86.R_EIP = 0;
        x86emu_run(emu, 0);
        benchmark::DoNotOptimize(emu->x86.R_EAX);
    }
    x86emu_done(emu);
    state.SetItemsProcessed(state.iterations() * w.instructions);
}
BENCHMARK(BM_x86emu_run);
#endif

}  // namespace
