#include <gtest/gtest.h>

#include <sys/mman.h>

#include "core/byte_span.h"
#include "core/stacks.h"

namespace {

TEST(ByteSpan, NegativeLengthIsStoredAsZero) {
    byte_span span{};
    for (int32_t length : {-5, INT32_MIN, 0}) EXPECT_EQ(byte_span_set(1, 2, length, &span)->length, 0);
    EXPECT_EQ(byte_span_set(1, 2, INT32_MAX, &span)->length, INT32_MAX);
}

TEST(ByteSpan, SpansMadeOneAfterTheOtherLieSideBySideAndStayValid) {
    local_stack_init();
    byte_span* a = byte_span_new(10, 0, 3);
    byte_span* b = byte_span_new(20, 0, -1);
    EXPECT_EQ(reinterpret_cast<uint8_t*>(b), reinterpret_cast<uint8_t*>(a) + sizeof(byte_span));
    EXPECT_EQ(a->address_low, 10u);
    EXPECT_EQ(a->length, 3);
    EXPECT_EQ(b->address_low, 20u);
    EXPECT_EQ(b->length, 0);
}

TEST(ByteSpan, AddressAboveFourGigabytesKeepsItsHighWord) {
    // Memory placed above 4 GB: a user that took the low word alone would write elsewhere.
    void* hint = reinterpret_cast<void*>(uintptr_t{0x7f1234560000});
    void* p = mmap(hint, 4096, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    ASSERT_NE(p, MAP_FAILED);
    ASSERT_GT(reinterpret_cast<uintptr_t>(p), uintptr_t{0xFFFFFFFF});
    byte_span span{};
    byte_span_set(byte_span_low(p), byte_span_high(p), 16, &span);
    EXPECT_EQ(byte_span_data(span), p);
    munmap(p, 4096);
}

}  // namespace
