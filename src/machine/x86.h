// The x86 real-mode interpreter for machine-code calls. Only the start-up step is here; the
// interpreter fills it.
#pragma once

// Start-up: zeroed registers and the register tables by operand size.
void x86_registers_init();
