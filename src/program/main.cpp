// The winding explanation program's process entry.
#include "core/startup.h"
#include "program/winding.h"

int main(int argc, char** argv) {
    program_register(winding_program());
    runtime_main(argc, argv);
}
