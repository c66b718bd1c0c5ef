#include "platform/vector_level.h"

namespace {

// x86-64-v4 spelled out: not every compiler knows the level's own name.
bool cpu_is_x86_64_v4() {
    return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
           __builtin_cpu_supports("avx512cd") && __builtin_cpu_supports("avx512dq") &&
           __builtin_cpu_supports("avx512vl");
}

vector_level level_asked() {
    if (cpu_is_x86_64_v4()) return vector_level::x86_64_v4;
    if (__builtin_cpu_supports("avx2")) return vector_level::avx2;
    return vector_level::baseline;
}

}  // namespace

vector_level vector_level_of_cpu() {
    static const vector_level level = level_asked();
    return level;
}

bool cpu_has_byte_permutes() {
    static const bool has = vector_level_of_cpu() == vector_level::x86_64_v4 && __builtin_cpu_supports("avx512vbmi");
    return has;
}
