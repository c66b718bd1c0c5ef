#include "core/byte_span.h"

#include "core/stacks.h"

byte_span* byte_span_set(uint32_t address_low, uint32_t address_high, int32_t length, byte_span* span) {
    span->address_low = address_low;
    span->address_high = address_high;
    span->length = length < 0 ? 0 : length;
    return span;
}

byte_span* byte_span_new(uint32_t address_low, uint32_t address_high, int32_t length) {
    auto* span = static_cast<byte_span*>(local_stack_alloc(sizeof(byte_span)));
    return byte_span_set(address_low, address_high, length, span);
}
