// The value function over any text, and the number's text read back: the short form of the value
// must read as the same double again (it has 16 significant digits or all of them). The value is
// the stepwise lexer's, bit for bit.
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>

#include "core/number_parse.h"
#include "core/number_text.h"
#include "fuzz_fixture.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz_store_ready();
    uint32_t mark = string_temp_top();
    long double value = string_to_number(string_from_literal(data, int32_t(size)));
    long double stepwise = number_stepwise(data, data + size);
    if (std::memcmp(&value, &stepwise, 10) != 0) std::abort();
    auto d = static_cast<double>(value);
    if (std::isfinite(d)) {
        string_descriptor* s = string_from_double(d);
        std::string text(reinterpret_cast<const char*>(s->text), size_t(s->length));
        if (text.find('D') != std::string::npos) text[text.find('D')] = 'E';
        double back = std::strtod(text.c_str(), nullptr);
        // 16 significant digits (15 when the 16th was 9) hold a double within a few units.
        if (d != 0 && std::fabs(back - d) > std::fabs(d) * 1e-14) std::abort();
    }
    fuzz_input_done(mark);
    return 0;
}
