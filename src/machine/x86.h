// The x86 real-mode interpreter for machine-code calls.
#pragma once

// Start-up: zeroed registers and the register tables by operand size.
void x86_registers_init();
