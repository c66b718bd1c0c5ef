// Which of the vector builds of a loop this processor runs: x86-64-v4 (AVX-512 F, BW, CD, DQ, VL
// with AVX2), AVX2, or the baseline, plus the AVX-512 byte permutes some loops add to the first.
// Asked once; each loop keeps its own pick in a plain function pointer at its first call
// (loader-resolved clones run before the sanitizers' runtimes start). Not here: the loops.
#pragma once

enum class vector_level { baseline, avx2, x86_64_v4 };

vector_level vector_level_of_cpu();
// AVX-512 VBMI: bytes picked from two whole 64-byte registers by a 7-bit index.
bool cpu_has_byte_permutes();
