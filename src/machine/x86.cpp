#include "machine/x86.h"

// The registers come with the interpreter.
void x86_registers_init() {}
