#include "core/program_interface.h"

namespace {
void nothing() {}
translated_program registered{nullptr, nothing, nothing, nullptr};
}  // namespace

void program_register(const translated_program& program) { registered = program; }

const translated_program& program_registered() { return registered; }
