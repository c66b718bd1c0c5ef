// libFuzzer harness for the x86 interpreter: fuzzed registers and code at a fuzzed CS:IP in a
// memory exactly as large as the emulated memory, stepped until the code ends or 4096 steps have
// run. Any sanitizer report (a byte fetched or written outside the memory) is a finding.
//
// Input: bytes 0-1 CS, 2-3 IP, 4-35 the eight general registers, 36-47 the six segment registers
// (CS from bytes 0-1), then the code, laid down from CS:IP with the offset wrapping in its segment.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "core/memory.h"
#include "machine/x86.h"

namespace {

constexpr size_t header_size = 48;
constexpr int step_limit = 4096;

std::vector<uint8_t>& memory() {
    static std::vector<uint8_t> m(dos_memory_size);
    return m;
}

uint8_t bus_read(void*, uint32_t linear) { return memory().data()[linear]; }
void bus_write(void*, uint32_t linear, uint8_t value) { memory().data()[linear] = value; }
void bus_interrupt(void*, uint8_t) {}

uint32_t little(const uint8_t* p, int bytes) {
    uint32_t v = 0;
    for (int i = 0; i < bytes; ++i) v |= static_cast<uint32_t>(p[i]) << (8 * i);
    return v;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < header_size) return 0;
    std::vector<uint8_t>& m = memory();
    std::memset(m.data(), 0, m.size());
    x86_register_file regs{};
    for (int r = 0; r < 8; ++r) regs.gpr[r] = little(data + 4 + 4 * r, 4);
    for (int s = 0; s < x86_segment_count; ++s) regs.sreg[s] = static_cast<uint16_t>(little(data + 36 + 2 * s, 2));
    regs.sreg[x86_cs] = static_cast<uint16_t>(little(data, 2));
    regs.ip = static_cast<uint16_t>(little(data + 2, 2));
    const uint32_t code_base = static_cast<uint32_t>(regs.sreg[x86_cs]) * 16;
    for (size_t i = header_size; i < size; ++i)
        m[code_base + ((regs.ip + i - header_size) & 0xFFFF)] = data[i];

    const x86_bus bus{nullptr, bus_read, bus_write, bus_interrupt};
    x86_cpu cpu = x86_cpu_start(regs);
    for (int step = 0; step < step_limit; ++step)
        if (x86_step(cpu, bus).outcome != x86_outcome::next) break;
    return 0;
}
