// The interpreter in the runtime: x86_registers over dos_memory, INT through interrupt_emulate, and
// the process exits of an unknown opcode and of a zero byte.
#include <cstdio>

#include "core/alerts.h"
#include "core/memory.h"
#include "core/shutdown.h"
#include "machine/interrupts.h"
#include "machine/x86.h"
#include "platform/message_box.h"
#include "platform/process.h"

namespace {

// Other threads write the BIOS areas, so every byte goes through the relaxed accessors.
uint8_t dos_read(void*, uint32_t linear) { return dos_byte_read(linear); }
void dos_write(void*, uint32_t linear, uint8_t value) { dos_byte_write(linear, value); }
void dos_interrupt(void*, uint8_t number) { interrupt_emulate(number); }

constexpr x86_bus dos_bus{nullptr, dos_read, dos_write, dos_interrupt};
// Instructions between two looks at the shutdown flag: code without a far return or a zero byte
// runs for ever through the wrapping offset, and must not hold up the runtime's end.
constexpr uint32_t shutdown_check_mask = 0xFFFF;

}  // namespace

void x86_unknown_opcode_exit(uint8_t opcode) {
    char text[32];
    std::snprintf(text, sizeof text, "Unknown Opcode (%02X)", opcode);
    message_box(nullptr, text, "X86 Error", platform::mb_ok | platform::mb_system_modal);
    process_exit(platform::exit_x86_unknown);
}

void x86_run() {
    x86_cpu cpu = x86_cpu_start(x86_registers);
    for (uint32_t count = 1;; ++count) {
        x86_result result = x86_step(cpu, dos_bus);
        if (result.outcome == x86_outcome::far_return) return;
        if (result.outcome == x86_outcome::unknown_opcode) x86_unknown_opcode_exit(result.opcode);
        if (dos_read(nullptr, cpu.base[x86_cs] + cpu.position) == 0) process_exit(dos_read(nullptr, 0));
        if ((count & shutdown_check_mask) == 0 && runtime_shutting_down()) program_thread_park();
    }
}
