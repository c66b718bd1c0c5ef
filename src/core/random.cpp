#include "core/random.h"

#include <bit>

#include "core/errors.h"

namespace {

constexpr uint32_t seed_start = 0x50000;
constexpr uint32_t state_mask = 0xFFFFFF;

struct random_state {
    uint32_t random_seed = seed_start;         // 24 bits used
    uint32_t random_seed_initial = seed_start;  // its low byte goes into the restart form
    random_seed_prompt_fn prompt = nullptr;
};

random_state state;

// The 16 seed bits of a double: its high word folded onto itself.
uint32_t seed_bits_of(double value) {
    uint32_t h = static_cast<uint32_t>(std::bit_cast<uint64_t>(value) >> 32);
    return (h ^ (h >> 16)) & 0xFFFF;
}

void seed_from_bits(uint32_t bits16, uint32_t low_byte_source) {
    state.random_seed = (bits16 << 8) | (low_byte_source & 0xFF);
}

}  // namespace

float random_next(float x, int32_t x_given) {
    if (error_pending()) return 0;
    if (!x_given) x = 1;
    if (x != 0) {
        if (x < 0) {
            uint32_t b = std::bit_cast<uint32_t>(x);
            state.random_seed = (b & state_mask) + (b >> 24);
        }
        state.random_seed = (state.random_seed * 0xFD43FDu + 0xC39EC3u) & state_mask;
    }
    return static_cast<float>(state.random_seed) / 16777216.0f;
}

void random_seed_set(double value, int32_t form) {
    if (error_pending()) return;
    switch (form) {
    case random_seed_restart: seed_from_bits(seed_bits_of(value), state.random_seed_initial); return;
    case random_seed_with_value: seed_from_bits(seed_bits_of(value), state.random_seed); return;
    default: break;
    }
    if (!state.prompt) return;
    int16_t answer = state.prompt("Random-number seed (-32768 to 32767)? ");
    if (error_pending()) return;
    seed_from_bits(static_cast<uint16_t>(answer), state.random_seed);
}

void random_seed_reset() {
    state.random_seed = seed_start;
    state.random_seed_initial = seed_start;
}

void random_seed_prompt_set(random_seed_prompt_fn prompt) { state.prompt = prompt; }
