// Test helpers for the number conversions: a fresh string store per test, results read back as
// text (and freed, so that long differential loops keep the store small), and the loop sizes of
// the differential tests, smaller in the sanitizer builds.
#pragma once

#include <cstdint>
#include <random>
#include <string>

#include "core/error_codes.h"
#include "core/string_fixture.h"

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool sanitized_build = true;
#else
constexpr bool sanitized_build = false;
#endif

// Cases of a differential loop: the full count in the plain build, a tenth under the sanitizers.
constexpr int64_t differential_cases(int64_t full) { return sanitized_build ? full / 10 : full; }

// The text of a result string, which is freed.
inline std::string taken(string_descriptor* s) {
    std::string t = text_of(s);
    string_free(s);
    return t;
}

class number_test : public string_store_test {
protected:
    std::mt19937_64 random{20261210};
};
