// A DATA block read item after item by every reader, the reader picked by the item's position:
// the position only ever moves forward, stays within the block, and stays put on an error.
#include <cstdlib>

#include "core/data_items.h"
#include "fuzz_fixture.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz_store_ready();
    uint32_t mark = string_temp_top();
    auto length = int32_t(size);
    const variable_type_code types[] = {8, 16, 32, 64, type_code_unsigned | 8, type_code_unsigned | 16,
                                        type_code_unsigned | 32, type_code_float | 32, type_code_float | 64,
                                        type_code_float | 256};
    string_descriptor* target = string_new(0, 1);
    int32_t position = 0;
    for (int items = 0; items < 64 && position < length; ++items) {
        int32_t before = position;
        switch (position % 4) {
        case 0: data_read_number(data, position, length, types[size_t(position) % std::size(types)]); break;
        case 1: data_read_int64(data, position, length); break;
        case 2: data_read_uint64(data, position, length); break;
        default: data_read_string(data, position, length, target); break;
        }
        bool failed = error_number != 0;
        if (position < before || position > length || (failed && position != before)) std::abort();
        if (failed) {
            error_number = 0;
            ++position;  // step over what the readers refused
        }
    }
    fuzz_input_done(mark);
    return 0;
}
