#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

#include "core/memory.h"
#include "core/runtime_fixture.h"

namespace {

uint32_t linear_of(const uint8_t* p) { return static_cast<uint32_t>(p - dos_memory); }

bool memory_all_zero() {
    return std::all_of(dos_memory, dos_memory + dos_memory_size, [](uint8_t b) { return b == 0; });
}

class SegmentBytes : public ::testing::Test {
protected:
    void SetUp() override { dos_memory_reset(); }
    recorded_boxes boxes;
};

TEST_F(SegmentBytes, SelectThenWriteAndReadBack) {
    constexpr int32_t none = -1;
    struct row { int32_t given, segment, offset, value; int32_t error; int32_t linear; };
    const row rows[] = {
        {0, 0, 0, 65, 0, 0x500},             // no segment: the string segment
        {1, -1, 0xFFFF, 7, 0, 0x10FFEF},     // the highest byte a segment reaches
        {1, 0xFFFF, -1, 0x1FF, 0, 0x10FFEF}, // only the low byte is stored
        {1, -65536, 0, 1, 0, 0},
        {1, 65535, -65536, 2, 0, 0xFFFF0},
        {1, 0xA000, 0x10, 3, 0, 0xA0010},
        {1, 0xB800, 65535, 4, 0, 0xC7FFF},
        {1, 0x50, 65536, 5, 6, none},        // offset out of range
        {1, 0x50, -65537, 5, 6, none},
    };
    for (const auto& r : rows) {
        dos_memory_reset();
        error_number = 0;
        segment_select(r.segment, r.given);
        ASSERT_EQ(error_number.load(), 0);
        segment_byte_write(r.offset, r.value);
        EXPECT_EQ(error_number.load(), r.error) << r.segment << ":" << r.offset;
        if (r.linear == none) {
            EXPECT_TRUE(memory_all_zero());
            error_number = 0;
            EXPECT_EQ(segment_byte_read(r.offset), 0);
            EXPECT_EQ(error_number.load(), 6);
            continue;
        }
        EXPECT_EQ(dos_memory[r.linear], r.value & 0xFF) << std::hex << r.linear;
        EXPECT_EQ(segment_byte_read(r.offset), r.value & 0xFF);
        EXPECT_EQ(segment_byte_read(r.offset + (r.offset < 0 ? 65536 : -65536)), r.value & 0xFF);
        EXPECT_EQ(error_number.load(), 0);
    }
}

TEST_F(SegmentBytes, BadSegmentRaisesSixAndKeepsTheCurrentSegment) {
    for (int32_t bad : {65536, -65537, INT32_MAX, INT32_MIN}) {
        segment_select(0x1234, 1);
        error_number = 0;
        segment_select(bad, 1);
        EXPECT_EQ(error_number.load(), 6) << bad;
        EXPECT_EQ(linear_of(current_segment_base()), 0x12340u) << bad;
        EXPECT_EQ(current_segment(), 0x1234) << bad;
    }
}

TEST_F(SegmentBytes, NothingHappensWhileAnErrorIsPending) {
    segment_select(0x2000, 1);
    segment_byte_write(5, 99);
    error_number = 53;
    segment_select(0x3000, 1);
    segment_select(0, 0);
    EXPECT_EQ(linear_of(current_segment_base()), 0x20000u);
    EXPECT_EQ(current_segment(), 0x2000);
    segment_byte_write(6, 42);
    EXPECT_EQ(dos_memory[0x20006], 0);
    EXPECT_EQ(segment_byte_read(5), 0);
    EXPECT_EQ(segment_byte_read(70000), 0);
    EXPECT_EQ(error_number.load(), 53);
}

TEST(BlockAlloc, FreedBlockIsReusedFromTheTop) {
    dos_memory_reset();
    uint8_t* first = dos_block_alloc(1);
    uint8_t* second = dos_block_alloc(16);
    EXPECT_EQ(linear_of(first), 0x9FFF0u);
    EXPECT_EQ(linear_of(second), 0x9FFE0u);
    dos_block_free(first);
    EXPECT_EQ(linear_of(dos_block_alloc(16)), 0x9FFF0u);
    EXPECT_EQ(linear_of(dos_block_alloc(16)), 0x9FFD0u);
}

TEST(BlockAlloc, SizesRoundUpToSixteen) {
    struct row { uint32_t size, taken; };
    const row rows[] = {{1, 16}, {15, 16}, {16, 16}, {17, 32}, {31, 32}, {32, 32}, {33, 48},
                        {65521, 65536}, {65535, 65536}, {65536, 65536}};
    for (const auto& r : rows) {
        dos_memory_reset();
        EXPECT_EQ(linear_of(dos_block_alloc(r.size)), 0xA0000u - r.taken) << r.size;
        EXPECT_EQ(linear_of(dos_block_alloc(1)), 0xA0000u - r.taken - 16) << r.size;
    }
}

TEST(BlockAlloc, SizeZeroAndForeignPointersTouchNothing) {
    dos_memory_reset();
    dos_block_free(nullptr);  // empty list
    EXPECT_EQ(linear_of(dos_block_alloc(0)), 0xA0000u);
    uint8_t* a = dos_block_alloc(32);
    ASSERT_EQ(linear_of(a), 0x9FFE0u);
    dos_block_free(dos_memory + 0xA0000);
    dos_block_free(nullptr);
    dos_block_free(a + 16);  // inside the block, not its start
    dos_block_free(dos_memory + 0x500);
    EXPECT_EQ(linear_of(dos_block_alloc(16)), 0x9FFD0u);  // a is still there
    dos_block_free(a);
    dos_block_free(a);  // twice: the second does nothing
    EXPECT_EQ(linear_of(dos_block_alloc(32)), 0x9FFE0u);
    EXPECT_EQ(linear_of(dos_block_alloc(16)), 0x9FFC0u);
}

TEST(BlockAlloc, GapBetweenBlocksTakesTheFirstFitFromTheTop) {
    dos_memory_reset();
    uint8_t* a = dos_block_alloc(16);   // 9FFF0
    uint8_t* b = dos_block_alloc(32);   // 9FFD0
    uint8_t* c = dos_block_alloc(16);   // 9FFC0
    ASSERT_EQ(linear_of(c), 0x9FFC0u);
    dos_block_free(b);
    EXPECT_EQ(linear_of(dos_block_alloc(48)), 0x9FF90u);  // too big for the gap
    EXPECT_EQ(linear_of(dos_block_alloc(16)), 0x9FFE0u);  // top of the gap
    EXPECT_EQ(linear_of(dos_block_alloc(16)), 0x9FFD0u);  // the rest of it
    EXPECT_EQ(linear_of(dos_block_alloc(16)), 0x9FF80u);
    dos_block_free(a);
    EXPECT_EQ(linear_of(dos_block_alloc(32)), 0x9FF60u);  // 16 free at the top is too small
    EXPECT_EQ(linear_of(dos_block_alloc(16)), 0x9FFF0u);
}

TEST(BlockAlloc, HeapFillsDownToItsFloor) {
    dos_memory_reset();
    // 0xA0000 - 0x10500 = 8 blocks of 64 KB and 64,256 bytes.
    for (int i = 1; i <= 8; ++i) EXPECT_EQ(linear_of(dos_block_alloc(65536)), 0xA0000u - i * 0x10000u);
    EXPECT_EQ(linear_of(dos_block_alloc(64256)), 0x10500u);
}

// A random run against a model that keeps one flag per 16-byte unit of the heap: every block must
// lie inside the heap, never overlap a live one, and sit at the top of the highest free run that
// holds it.
TEST(BlockAlloc, RandomRunMatchesAUnitMapModel) {
    constexpr uint32_t units = (dos_block_heap_high - dos_block_heap_low) / 16;
    dos_memory_reset();
    std::vector<bool> used(units, false);
    std::vector<std::pair<uint8_t*, uint32_t>> live;  // pointer, units
    std::mt19937 rng(12345);

    auto expected_unit = [&](uint32_t n) -> int64_t {
        uint32_t run = 0;  // free units counted down from the top of the current run
        uint32_t top = units;
        for (int64_t u = units - 1; u >= 0; --u) {
            if (used[u]) {
                run = 0;
                top = static_cast<uint32_t>(u);
                continue;
            }
            if (++run == n) return top - n;
        }
        return -1;
    };
    int allocs = 0, no_room = 0;
    for (int op = 0; op < 10000; ++op) {
        bool alloc = live.empty() || rng() % 100 < 55;
        if (!alloc) {
            size_t i = rng() % live.size();
            dos_block_free(live[i].first);
            uint32_t u0 = linear_of(live[i].first) / 16 - dos_block_heap_low / 16;
            for (uint32_t u = u0; u < u0 + live[i].second; ++u) used[u] = false;
            live.erase(live.begin() + static_cast<ptrdiff_t>(i));
            continue;
        }
        uint32_t size = rng() % 3 == 0 ? 1 + rng() % 65536 : 1 + rng() % 4096;
        uint32_t n = (size + 15) / 16;
        int64_t want = expected_unit(n);
        if (want < 0) {  // no room: the allocator would end the process
            ++no_room;
            continue;
        }
        uint8_t* p = dos_block_alloc(size);
        uint32_t lin = linear_of(p);
        ASSERT_EQ(lin % 16, 0u);
        ASSERT_GE(lin, dos_block_heap_low);
        ASSERT_LE(lin + n * 16, dos_block_heap_high);
        ASSERT_EQ(lin, dos_block_heap_low + static_cast<uint32_t>(want) * 16) << "op " << op;
        for (uint32_t u = static_cast<uint32_t>(want); u < want + n; ++u) {
            ASSERT_FALSE(used[u]);
            used[u] = true;
        }
        live.emplace_back(p, n);
        ++allocs;
    }
    EXPECT_GT(allocs, 3000);
    EXPECT_GT(no_room, 100);  // the heap was full often enough for gaps to matter
}

class BlockAllocDeathTest : public ::testing::Test {
protected:
    void SetUp() override { GTEST_FLAG_SET(death_test_style, "threadsafe"); }
};

TEST_F(BlockAllocDeathTest, OverSixtyFourKilobytesIsCritical) {
    EXPECT_EXIT(
        {
            setenv("LUMO_MSGBOX", "auto", 1);
            dos_block_alloc(65537);
        },
        ::testing::ExitedWithCode(70), ::testing::HasSubstr("caption=\"Critical Error #5\" text=\"Out of memory\""));
}

TEST_F(BlockAllocDeathTest, FullHeapIsCritical) {
    EXPECT_EXIT(
        {
            setenv("LUMO_MSGBOX", "auto", 1);
            dos_memory_reset();
            for (int i = 0; i < 8; ++i) dos_block_alloc(65536);
            dos_block_alloc(64256 + 1);
        },
        ::testing::ExitedWithCode(70), ::testing::HasSubstr("caption=\"Critical Error #6\" text=\"Out of memory\""));
}

}  // namespace
