#include "screen/memory_blocks.h"

#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <vector>

#include "core/errors.h"
#include "screen/image_fixture.h"
#include "screen/image_pool.h"

namespace {

using MemoryBlocks = image_test;

TEST_F(MemoryBlocks, NewBlockLivesUntilFreedAndDiesOnce) {
    memory_block b = memory_block_new(100);
    ASSERT_NE(b.address, nullptr);
    EXPECT_EQ(b.size, 100);
    EXPECT_EQ(b.type, memory_block_type_plain);
    EXPECT_EQ(b.element_size, 1);
    EXPECT_EQ(b.image, -1);
    EXPECT_EQ(b.lock->kind, memory_lock_owns_data);
    EXPECT_EQ(memory_block_exists(b), -1);

    memory_block copy = b;  // blocks are values: the copy dies with the memory
    memory_block_free(b);
    EXPECT_EQ(raised(), 0);
    EXPECT_EQ(memory_block_exists(b), 0);
    EXPECT_EQ(memory_block_exists(copy), 0);
    memory_block_free(b);
    EXPECT_EQ(raised(), 307);
    memory_block_free(copy);
    EXPECT_EQ(raised(), 307);

    memory_block other = memory_block_new(8);
    memory_block_copy(copy, copy.address, 1, other, other.address);
    EXPECT_EQ(raised(), 305);
    memory_block_free(other);
}

TEST_F(MemoryBlocks, ZeroSizedBlockHasMarkerAddressAndFreesNothing) {
    memory_block b = memory_block_new(0);
    EXPECT_EQ(b.address, reinterpret_cast<uint8_t*>(1));
    EXPECT_EQ(b.size, 0);
    EXPECT_EQ(b.lock->kind, memory_lock_over_address);
    memory_block_free(b);  // ASan would catch a free of the marker
    EXPECT_EQ(raised(), 0);
    EXPECT_EQ(b.lock->id, 0u);
}

TEST_F(MemoryBlocks, FailedConstructorsGiveEmptyBlocks) {
    struct row {
        const char* what;
        memory_block block;
        int32_t error;
        int32_t type;
    };
    char bytes[4];
    std::vector<row> rows;
    rows.push_back({"negative new", memory_block_new(-1), 0, 0});
    rows.back().error = raised();
    rows.push_back({"negative size over address", memory_block_over_address(bytes, -4), 0, 0});
    rows.back().error = raised();
    error_number = 9;
    rows.push_back({"new while an error is pending", memory_block_new(10), 0, 0});
    rows.push_back({"address while an error is pending", memory_block_over_address(bytes, 4), 0, 0});
    error_number = 0;
    const int32_t expected_error[] = {5, 301, 0, 0};
    const int32_t expected_type[] = {memory_block_type_plain, 0, 0, 0};
    for (size_t i = 0; i < rows.size(); ++i) {
        SCOPED_TRACE(rows[i].what);
        EXPECT_EQ(rows[i].error, expected_error[i]);
        EXPECT_EQ(rows[i].block.address, nullptr);
        EXPECT_EQ(rows[i].block.size, 0);
        EXPECT_EQ(rows[i].block.type, expected_type[i]);
        EXPECT_NE(rows[i].block.lock, nullptr);
    }
}

TEST_F(MemoryBlocks, BlocksOverOneImageShareItsLockUntilTheImageGoes) {
    int32_t slot = image_new(4, 3, 32);
    ASSERT_GT(slot, 1);
    memory_block a = memory_block_over_image(-slot, 1);
    memory_block b = memory_block_over_image(-slot, 1);
    EXPECT_EQ(a.lock, b.lock);
    EXPECT_EQ(a.lock_id, b.lock_id);
    EXPECT_EQ(a.lock->kind, memory_lock_image);
    EXPECT_EQ(a.address, image_pool[slot].pixels);
    EXPECT_EQ(a.size, 4 * 3 * 4);
    EXPECT_EQ(a.type, 3204);
    EXPECT_EQ(a.element_size, 4);
    EXPECT_EQ(a.image, -slot);

    memory_block_free(a);
    EXPECT_EQ(raised(), 0);
    EXPECT_EQ(memory_block_exists(a), 0);
    EXPECT_EQ(a.lock_id, memory_block_freed_id);
    EXPECT_EQ(memory_block_exists(b), -1);  // the image lock lives on

    image_free(slot);
    EXPECT_EQ(memory_block_exists(b), 0);
}

TEST_F(MemoryBlocks, DestinationImageBlockAndBadHandles) {
    int32_t slot = image_new(8, 2, 13);
    dest_image_select(-slot);
    memory_block d = memory_block_over_image(0, 0);
    EXPECT_EQ(d.image, -slot);
    EXPECT_EQ(d.size, 16);
    EXPECT_EQ(d.type, 3201);

    for (int32_t handle : {-1, -(slot + 1), INT32_MIN, -16777216 + 5}) {
        SCOPED_TRACE(handle);
        memory_block dead = memory_block_over_image(handle, 1);
        EXPECT_EQ(raised(), 258);
        EXPECT_EQ(dead.address, nullptr);
        EXPECT_EQ(dead.lock_id, memory_block_freed_id);
        EXPECT_NE(dead.lock, nullptr);
        EXPECT_EQ(dead.image, -1);
        EXPECT_EQ(memory_block_exists(dead), 0);
    }
}

TEST_F(MemoryBlocks, ScopeBlockStaysDeadWhenItsLockRecordIsReused) {
    memory_lock* scope = memory_lock_new();
    scope->kind = memory_lock_scope;
    int32_t local = 0;
    memory_block b = memory_block_make(&local, 4, 7, 4, scope);
    EXPECT_EQ(memory_block_exists(b), -1);
    memory_block_free(b);  // a scope lock stays: only this copy dies
    EXPECT_EQ(memory_block_exists(memory_block_make(&local, 4, 7, 4, scope)), -1);

    memory_block c = memory_block_make(&local, 4, 7, 4, scope);
    memory_lock_free(scope);
    EXPECT_EQ(memory_block_exists(c), 0);
    EXPECT_EQ(memory_block_exists(memory_block_make(&local, 4, 7, 4, scope)), 0);  // over a retired lock
    memory_lock* next = memory_lock_new();
    EXPECT_EQ(next, scope);  // the record is reused, with a new id
    EXPECT_EQ(memory_block_exists(c), 0);
    EXPECT_EQ(memory_block_exists(memory_block_make(&local, 4, 7, 4, scope)), -1);
    memory_lock_free(next);
}

TEST_F(MemoryBlocks, RetiringTwiceDoesNotHandTheRecordOutTwice) {
    memory_lock* lock = memory_lock_new();
    memory_lock_free(lock);
    memory_lock_free(lock);
    std::set<memory_lock*> taken;
    for (int i = 0; i < 3; ++i) taken.insert(memory_lock_new());
    EXPECT_EQ(taken.size(), 3u);
    for (memory_lock* l : taken) memory_lock_free(l);
}

TEST_F(MemoryBlocks, LockIdsGrowAndRecordsRecycleAcrossBlocks) {
    std::vector<memory_lock*> locks;
    uint64_t last = 0;
    for (int i = 0; i < 25000; ++i) {  // more than two blocks of records
        uint64_t id = 0;
        locks.push_back(memory_lock_new(&id));
        ASSERT_EQ(locks.back()->id, id);
        ASSERT_GT(id, last);
        last = id;
    }
    std::set<memory_lock*> distinct(locks.begin(), locks.end());
    EXPECT_EQ(distinct.size(), locks.size());
    for (memory_lock* l : locks) memory_lock_free(l);
    // Retired records come back before new ones are cut, last retired first.
    EXPECT_EQ(memory_lock_new(), locks.back());
}

TEST_F(MemoryBlocks, RangeCheckHandsBackScratchOnEveryFailure) {
    memory_block b = memory_block_new(16);
    EXPECT_EQ(memory_block_range_check(b, b.address, 16), b.address);
    EXPECT_EQ(memory_block_range_check(b, b.address + 16, 0), b.address + 16);
    EXPECT_EQ(memory_block_range_check(b, b.address + 15, 1), b.address + 15);
    EXPECT_EQ(raised(), 0);

    struct row {
        const char* what;
        memory_block block;
        const uint8_t* address;
        int32_t size;
        int32_t error;
    };
    memory_block dead = memory_block_new(4);
    memory_block_free(dead);
    const row rows[] = {
        {"past the end", b, b.address + 8, 9, 300},
        {"before the start", b, b.address - 1, 2, 300},
        {"negative size", b, b.address, -5, 300},
        {"whole size one byte late", b, b.address + 1, 16, 300},
        {"dead block", dead, dead.address, 4, 308},
        {"no lock", memory_block{}, nullptr, 4, 309},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.what);
        uint8_t* p = memory_block_range_check(r.block, r.address, r.size);
        EXPECT_EQ(raised(), r.error);
        ASSERT_NE(p, nullptr);
        int32_t usable = r.size > 0 ? r.size : 0;
        for (int32_t i = 0; i < usable; ++i) ASSERT_EQ(p[i], 0);
        std::memset(p, 0xAB, size_t(usable));  // the caller may write through it (ASan checks)
    }
    memory_block_free(b);
}

TEST_F(MemoryBlocks, TypedFillsRepeatTheValueImage) {
    struct row {
        const char* what;
        void (*fill)(void*, int32_t);
        int32_t n;
        std::vector<uint8_t> expected;
    };
    const row rows[] = {
        {"int8", [](void* a, int32_t n) { memory_fill_int8(a, n, -2); }, 3, {0xFE, 0xFE, 0xFE}},
        {"int16", [](void* a, int32_t n) { memory_fill_int16(a, n, 0x1234); }, 5, {0x34, 0x12, 0x34, 0x12, 0x34}},
        {"int32", [](void* a, int32_t n) { memory_fill_int32(a, n, 0x11223344); }, 6, {0x44, 0x33, 0x22, 0x11, 0x44, 0x33}},
        {"int64", [](void* a, int32_t n) { memory_fill_int64(a, n, 0x0102030405060708); }, 9,
         {8, 7, 6, 5, 4, 3, 2, 1, 8}},
        {"float32", [](void* a, int32_t n) { memory_fill_float32(a, n, 1.0f); }, 8, {0, 0, 0x80, 0x3F, 0, 0, 0x80, 0x3F}},
        {"float64", [](void* a, int32_t n) { memory_fill_float64(a, n, -2.0); }, 8, {0, 0, 0, 0, 0, 0, 0, 0xC0}},
        {"pointer", [](void* a, int32_t n) { memory_fill_pointer(a, n, reinterpret_cast<void*>(0x1122334455667788)); },
         10, {0x88, 0x77, 0x66, 0x55, 0x44, 0x33, 0x22, 0x11, 0x88, 0x77}},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.what);
        std::vector<uint8_t> bytes(r.expected.size() + 4, 0x5A);
        r.fill(bytes.data(), r.n);
        EXPECT_EQ(std::vector<uint8_t>(bytes.begin(), bytes.begin() + r.n), r.expected);
        for (size_t i = size_t(r.n); i < bytes.size(); ++i) EXPECT_EQ(bytes[i], 0x5A) << "byte " << i;
    }
}

TEST_F(MemoryBlocks, ExtendedFillUsesZeroPadded32ByteElements) {
    std::vector<uint8_t> bytes(70, 0x5A);
    memory_fill_float80(bytes.data(), 68, 1.0L);
    // 1.0 as an extended value: significand 0x8000000000000000, exponent 0x3FFF.
    const uint8_t value[10] = {0, 0, 0, 0, 0, 0, 0, 0x80, 0xFF, 0x3F};
    for (int element = 0; element < 3; ++element) {
        for (int i = 0; i < 32 && element * 32 + i < 68; ++i) {
            uint8_t want = i < 10 ? value[i] : 0;
            ASSERT_EQ(bytes[size_t(element * 32 + i)], want) << "element " << element << " byte " << i;
        }
    }
    EXPECT_EQ(bytes[68], 0x5A);
}

TEST_F(MemoryBlocks, GuardedFillsCheckBeforeTouchingMemory) {
    memory_block b = memory_block_new(8);
    std::memset(b.address, 0, 8);
    memory_block_fill_int16(b, b.address + 2, 5, 0x1234);
    EXPECT_EQ(raised(), 0);
    const uint8_t want[8] = {0, 0, 0x34, 0x12, 0x34, 0x12, 0x34, 0};
    EXPECT_EQ(std::memcmp(b.address, want, 8), 0);
    memory_block_fill_float80(b, b.address, 8, 2.0L);
    EXPECT_EQ(raised(), 0);
    EXPECT_EQ(b.address[7], 0x80);

    memory_block dead = memory_block_new(8);
    memory_block_free(dead);
    struct row {
        const char* what;
        memory_block block;
        int32_t offset;
        int32_t n;
        int32_t pattern_length;
        int32_t error;
    };
    const row rows[] = {
        {"no lock", memory_block{}, 0, 1, 1, 309},
        {"dead", dead, 0, 1, 1, 308},
        {"negative count", b, 0, -1, 1, 301},
        {"empty pattern", b, 0, 1, 0, 301},
        {"past the end", b, 4, 5, 1, 300},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.what);
        std::memset(b.address, 7, 8);
        uint8_t pattern = 9;
        memory_block_pattern_fill(r.block, b.address + r.offset, r.n, &pattern, r.pattern_length);
        EXPECT_EQ(raised(), r.error);
        for (int i = 0; i < 8; ++i) EXPECT_EQ(b.address[i], 7);
    }
    memory_fill_int32(b.address, -4, 1);  // raw fills of no bytes touch nothing
    for (int i = 0; i < 8; ++i) EXPECT_EQ(b.address[i], 7);
    memory_block_free(b);
}

TEST_F(MemoryBlocks, CopyRaisesTheFirstFailingConditionInOrder) {
    memory_block a = memory_block_new(8);
    memory_block b = memory_block_new(8);
    memory_block dead1 = memory_block_new(8);
    memory_block dead2 = memory_block_new(8);
    memory_block_free(dead1);
    memory_block_free(dead2);
    const memory_block none{};
    struct row {
        const char* what;
        memory_block source;
        const uint8_t* source_address;
        int32_t n;
        memory_block destination;
        uint8_t* destination_address;
        int32_t error;
    };
    const row rows[] = {
        {"destination without lock", a, a.address, 1, none, b.address, 311},
        {"source without lock", none, a.address, 1, b, b.address, 310},
        {"neither has a lock", none, a.address, 1, none, b.address, 312},
        {"both dead", dead1, a.address, 1, dead2, b.address, 313},
        {"source dead", dead1, a.address, 1, b, b.address, 305},
        {"destination dead", a, a.address, 1, dead2, b.address, 306},
        {"negative count", a, a.address, -1, b, b.address, 301},
        {"both outside", a, a.address + 4, 5, b, b.address + 4, 304},
        {"source outside", a, a.address + 4, 5, b, b.address, 302},
        {"destination outside", a, a.address, 5, b, b.address + 4, 303},
        {"nothing at both ends", a, a.address + 8, 0, b, b.address + 8, 0},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.what);
        std::memset(a.address, 1, 8);
        std::memset(b.address, 2, 8);
        memory_block_copy(r.source, r.source_address, r.n, r.destination, r.destination_address);
        EXPECT_EQ(raised(), r.error);
        for (int i = 0; i < 8; ++i) EXPECT_EQ(b.address[i], 2);
    }
    memory_block_free(a);
    memory_block_free(b);
}

TEST_F(MemoryBlocks, CopyMovesBytesAndAllowsOverlap) {
    memory_block a = memory_block_new(8);
    for (int i = 0; i < 8; ++i) a.address[i] = uint8_t(i);
    memory_block_copy(a, a.address, 6, a, a.address + 2);
    EXPECT_EQ(raised(), 0);
    const uint8_t want[8] = {0, 1, 0, 1, 2, 3, 4, 5};
    EXPECT_EQ(std::memcmp(a.address, want, 8), 0);
    memory_block_free(a);
}

TEST_F(MemoryBlocks, BlockOverAddressIsPlainMemory) {
    char bytes[12] = {};
    memory_block b = memory_block_over_address(bytes, 12);
    EXPECT_EQ(b.address, reinterpret_cast<uint8_t*>(bytes));
    EXPECT_EQ(b.size, 12);
    EXPECT_EQ(b.type, memory_block_type_plain);
    EXPECT_EQ(b.lock->kind, memory_lock_over_address);
    memory_block_fill_int8(b, bytes + 11, 1, 3);
    EXPECT_EQ(bytes[11], 3);
    memory_block_free(b);
    EXPECT_EQ(raised(), 0);
    EXPECT_EQ(memory_block_exists(b), 0);
}

}  // namespace
