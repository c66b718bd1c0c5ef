#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <fstream>

#include <atomic>
#include <cstring>
#include <set>
#include <thread>
#include <vector>

#include "core/list.h"

namespace {

TEST(List, FreshListHandsOutIdsFromOne) {
    list* l = list_new(8);
    EXPECT_EQ(list_get(l, 1), nullptr);
    EXPECT_EQ(list_add(l), 1);
    EXPECT_EQ(list_add(l), 2);
    EXPECT_NE(list_get(l, 2), nullptr);
    list_destroy(l);
}

TEST(List, FreedIdsComeBackLastFreedFirstAndZeroed) {
    list* l = list_new(20);
    for (int i = 0; i < 6; ++i) list_add(l);
    std::memset(list_get(l, 3), 0xAB, 20);
    std::memset(list_get(l, 5), 0xCD, 20);
    EXPECT_EQ(list_remove(l, 3), -1);
    EXPECT_EQ(list_remove(l, 5), -1);
    EXPECT_EQ(list_get(l, 3), nullptr);
    EXPECT_EQ(list_add(l), 5);
    EXPECT_EQ(list_add(l), 3);
    for (int id : {3, 5}) {
        auto* item = static_cast<unsigned char*>(list_get(l, id));
        for (int b = 0; b < 20; ++b) EXPECT_EQ(item[b], 0) << "id " << id;
        EXPECT_EQ(list_item_id(l, item), id);
    }
    EXPECT_EQ(list_add(l), 7);
    list_destroy(l);
}

TEST(List, RemovingBadIdsChangesNothing) {
    list* l = list_new(8);
    list_add(l);
    list_add(l);
    ASSERT_EQ(list_remove(l, 2), -1);
    for (int id : {2, 0, -1, 3, 1000}) EXPECT_EQ(list_remove(l, id), 0) << id;
    EXPECT_EQ(list_add(l), 2);
    EXPECT_EQ(list_add(l), 3);
    list_destroy(l);
}

TEST(List, BlocksDoubleAndItemsNeverMove) {
    list* l = list_new(112);
    // Ids 1 | 2 3 4 | 5 ... 11: the second block holds ids 2 to 4, id 5 opens the block of 7.
    for (int i = 0; i < 5; ++i) list_add(l);
    auto addr = [&](int id) { return static_cast<char*>(list_get(l, id)); };
    EXPECT_EQ(addr(3) - addr(2), l->slot_size);
    EXPECT_EQ(addr(4) - addr(3), l->slot_size);
    EXPECT_EQ(l->block_count, 4);
    EXPECT_EQ(l->block_capacity, 7);

    std::vector<void*> before;
    for (int id = 1; id <= 5; ++id) before.push_back(list_get(l, id));
    for (int i = 0; i < 10000; ++i) list_add(l);
    for (int id = 1; id <= 5; ++id) EXPECT_EQ(list_get(l, id), before[id - 1]);
    for (int id = 1; id <= 10005; ++id) ASSERT_EQ(list_item_id(l, list_get(l, id)), id);
    list_destroy(l);
}

TEST(List, ItemsHoldingPointersStayAligned) {
    for (int size : {1, 8, 20, 72, 112}) {
        list* l = list_new(size);
        for (int i = 0; i < 40; ++i) {
            auto addr = reinterpret_cast<uintptr_t>(list_get(l, list_add(l)));
            ASSERT_EQ(addr % 8, 0u) << "item size " << size;
        }
        list_destroy(l);
    }
}

TEST(Mutex, NullHolderIsSkippedAndLockingIsRecursive) {
    mutex_lock(nullptr);
    mutex_unlock(nullptr);
    mutex* m = mutex_new();
    auto free_for_another_thread = [m] {
        bool got = false;
        std::thread other([&] {
            got = m->m.try_lock();
            if (got) m->m.unlock();
        });
        other.join();
        return got;
    };
    mutex_lock(m);
    mutex_lock(m);  // the owner may lock again
    mutex_unlock(m);
    EXPECT_FALSE(free_for_another_thread());  // still held once
    mutex_unlock(m);
    EXPECT_TRUE(free_for_another_thread());
    mutex_free(m);
}

void address_space_limit_to_512_mb_more() {
    long pages = 0;
    std::ifstream("/proc/self/statm") >> pages;
    rlim_t room = rlim_t(pages) * rlim_t(sysconf(_SC_PAGESIZE)) + (rlim_t(512) << 20);
    rlimit limit{room, room};
    setrlimit(RLIMIT_AS, &limit);
}

// With the address space limited, a block that cannot be had shows the two alerts and ends with
// the critical out-of-memory error instead of writing past the full block.
TEST(ListDeathTest, GrowthThatCannotBeHadIsCriticalOutOfMemory) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "the sanitizers reserve the address space themselves";
#endif
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            setenv("LUMO_MSGBOX", "auto", 1);
            address_space_limit_to_512_mb_more();
            list* l = list_new(32 << 20);
            for (int i = 0; i < 64; ++i) list_add(l);
        },
        ::testing::ExitedWithCode(70),
        ::testing::AllOf(::testing::HasSubstr("text=\"list_add: failed to allocate new buffer, structure size:\""),
                         ::testing::HasSubstr("caption=\"Critical Error #1\" text=\"Out of memory\"")));
}

// Two writers add and remove on a locked list while a reader looks items up without a lock.
TEST(ListThreaded, LockedListUnderConcurrentAddRemoveAndLookup) {
    list* l = list_new_locked(72);
    std::atomic<bool> done{false};
    std::atomic<int> bad{0};
    std::thread reader([&] {
        while (!done.load()) {
            int32_t high = l->highest_id.load();
            for (int32_t id = 1; id <= high; ++id)
                if (void* item = list_get(l, id)) {
                    int32_t seen = list_item_id(l, item);
                    if (seen != id && seen != 0) bad++;
                }
        }
    });
    auto writer = [&](std::set<int32_t>& owned) {
        for (int round = 0; round < 3000; ++round) {
            int32_t id = list_add(l);
            if (!owned.insert(id).second) bad++;
            if (round % 3 == 0) {
                int32_t victim = *owned.begin();
                owned.erase(owned.begin());
                if (list_remove(l, victim) != -1) bad++;
            }
        }
    };
    std::set<int32_t> a, b;
    std::thread w1(writer, std::ref(a)), w2(writer, std::ref(b));
    w1.join();
    w2.join();
    done = true;
    reader.join();
    EXPECT_EQ(bad.load(), 0);
    for (int32_t id : a) EXPECT_EQ(b.count(id), 0u) << "id " << id << " handed out twice";
    list_destroy(l);
}

}  // namespace
