// The random-number generator: the 24-bit linear congruential sequence
// x = (x * 16598013 + 12820163) mod 2^24 from 0x50000, each number x / 2^24, and its reseeding
// forms. Program thread only.
#pragma once

#include <cstdint>

// Next number in [0, 1). Without an argument x is 1; x = 0 gives the last number again; a negative
// x first reseeds from its bit pattern. 0 while an error is pending.
float random_next(float x, int32_t x_given);

// Reseeding forms of random_seed_set.
enum random_seed_form : int32_t {
    random_seed_with_value = 1,
    random_seed_restart = 3,
    // any other form asks the user for the seed
};
// Reseeds from the value (forms 1 and 3) or from the user's answer. Nothing while an error is
// pending.
void random_seed_set(double value, int32_t form);

// Program restart and start-up: the generator's state and its initial seed back to 0x50000.
void random_seed_reset();

// The seed prompt: prints the prompt at the text cursor (no newline) and reads one 16-bit signed
// integer with the keyboard line editor. The line editor's module registers it; until then the
// prompting form leaves the seed unchanged.
using random_seed_prompt_fn = int16_t (*)(const char* prompt);
void random_seed_prompt_set(random_seed_prompt_fn prompt);
