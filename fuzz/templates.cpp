// Templates of formatted output: the first byte picks the kind of value, the next 8 hold it, the
// rest is the template. The statement's values go through it one after another, as translated code
// calls them, for as long as the template answers another field.
#include <cstring>
#include <string>

#include "core/print_using.h"
#include "fuzz_fixture.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 9) return 0;
    fuzz_store_ready();
    uint32_t mark = string_temp_top();
    uint8_t kind = data[0];
    uint64_t bits;
    std::memcpy(&bits, data + 1, 8);
    string_descriptor* tmpl = string_from_literal(data + 9, int32_t(size - 9));
    string_descriptor* out = string_new(0, 0);  // the statement's string variable
    string_descriptor* text = string_from_literal(data + 1, 8);
    int32_t position = 0;
    for (int value = 0; value < 4 && error_number == 0; ++value) {
        switch (kind % 6) {
        case 0: position = print_using_int64(tmpl, int64_t(bits), position, out); break;
        case 1: position = print_using_uint64(tmpl, bits, position, out); break;
        case 2: {
            float f;
            std::memcpy(&f, &bits, 4);
            position = print_using_single(tmpl, f, position, out);
            break;
        }
        case 3: {
            double d;
            std::memcpy(&d, &bits, 8);
            position = print_using_double(tmpl, d, position, out);
            break;
        }
        case 4: {
            long double x = static_cast<long double>(int64_t(bits)) * (kind & 0x80 ? 1e300L : 1e-300L);
            position = print_using_float80(tmpl, x, position, out);
            break;
        }
        default: position = print_using_format(tmpl, position, out, text); break;
        }
        if (position == 0) break;
    }
    string_free(out);
    fuzz_input_done(mark);
    return 0;
}
