// The winding explanation program's process entry.
#include "program/winding.h"
#include "runtime/startup.h"

int main(int argc, char** argv) {
    program_register(winding_program());
    runtime_main(argc, argv);
}
