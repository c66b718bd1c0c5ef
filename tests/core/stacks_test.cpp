#include <gtest/gtest.h>

#include <cstring>

#include "core/stacks.h"

namespace {

TEST(LocalStack, AllocationsComeFromTheBlockThenANewLargerBlock) {
    local_stack_init();
    uint8_t* base = local_stack.base;
    auto* a = static_cast<uint8_t*>(local_stack_alloc(1000000));
    EXPECT_EQ(a, base);
    std::memset(a, 0x5A, 1000000);

    auto* b = static_cast<uint8_t*>(local_stack_alloc(100000));
    EXPECT_EQ(b, local_stack.base);
    EXPECT_NE(local_stack.base, base);
    EXPECT_EQ(local_stack.block_size, 100000u + 2u * 1048576u);
    EXPECT_EQ(local_stack.end - local_stack.base, static_cast<ptrdiff_t>(local_stack.block_size));
    // What the first block handed out stays valid.
    EXPECT_EQ(a[0], 0x5A);
    EXPECT_EQ(a[999999], 0x5A);
}

TEST(LocalStack, ReleaseToAMarkOrToTheBlockBase) {
    local_stack_init();
    void* mark = local_stack_alloc(16);
    local_stack_alloc(64);
    local_stack_release(mark);
    EXPECT_EQ(static_cast<void*>(local_stack.top), mark);
    local_stack_alloc(64);
    local_stack_release(nullptr);
    EXPECT_EQ(local_stack.top, local_stack.base);
}

TEST(LocalStack, AFitThatWouldReachTheEndExactlyStartsANewBlock) {
    local_stack_init();
    uint8_t* base = local_stack.base;
    local_stack_alloc(1048576 - 10);
    local_stack_alloc(10);
    EXPECT_NE(local_stack.base, base);
}

TEST(ReturnStack, GrowsByDoubling) {
    return_stack_init();
    EXPECT_EQ(return_stack.capacity, 16384);
    return_stack.entries[16383] = 77;
    return_stack_grow();
    EXPECT_EQ(return_stack.capacity, 32768);
    EXPECT_EQ(return_stack.entries[16383], 77);
    return_stack.entries[32767] = 1;
}

}  // namespace
