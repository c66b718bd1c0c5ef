// The fatal out-of-memory errors with the heap really exhausted: the address space is limited just
// above what the process uses and every byte malloc still gives is taken, then the store's growth
// fails. Each ends with its standard-error line and exit code 70 (not an exception's abort).
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

#include "core/errors.h"
#include "core/list.h"
#include "core/strings.h"

namespace {

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool sanitized = true;  // the sanitizers reserve address space of their own
#else
constexpr bool sanitized = false;
#endif

// Bytes of address space the process has mapped now.
size_t address_space_used() {
    char text[128] = {};
    int fd = open("/proc/self/statm", O_RDONLY | O_CLOEXEC);
    if (fd < 0) return 0;
    ssize_t n = read(fd, text, sizeof text - 1);
    close(fd);
    return n > 0 ? std::strtoull(text, nullptr, 10) * static_cast<size_t>(sysconf(_SC_PAGESIZE)) : 0;
}

// Grows the stack now, so that the fatal path's calls later need no new stack pages.
void stack_touch() {
    volatile char room[256 * 1024];
    for (size_t i = 0; i < sizeof room; i += 4096) room[i] = 1;
}

// The blocks taken, chained through themselves; volatile, or the compiler drops the allocations.
void* volatile heap_taken = nullptr;

// Limits the address space a little above the process's use and takes what malloc still gives.
void heap_exhaust() {
    stack_touch();
    const size_t limit = address_space_used() + (32u << 20);
    rlimit r{limit, limit};
    ASSERT_EQ(setrlimit(RLIMIT_AS, &r), 0);
    for (size_t size = 1u << 24; size >= sizeof(void*); size /= 2) {
        while (void* p = std::malloc(size)) {
            *static_cast<void**>(p) = heap_taken;
            heap_taken = p;
        }
    }
}

struct out_of_memory_case {
    const char* name;
    void (*prepare)();
    void (*fail)();
    const char* line;
};

list* grown_list = nullptr;

const out_of_memory_case cases[] = {
    {"raised directly", [] {}, [] { error_raise(error_critical_out_of_memory); },
     "msgbox style=0x1000 caption=\"Critical Error #1\" text=\"Out of memory\" answer=1\n"},
    {"string heap growth", [] { string_store_reset(); }, [] { string_new(4u << 20, 1); },
     "msgbox style=0x1000 caption=\"Critical Error #12\" text=\"Out of memory\" answer=1\n"},
    {"list growth", [] { grown_list = list_new(4096); },
     [] {
         for (;;) list_add(grown_list);
     },
     "msgbox style=0x1000 caption=\"Critical Error #1\" text=\"Out of memory\" answer=1\n"},
};

TEST(OutOfMemoryDeathTest, TheLineThenExitCode70WithTheHeapExhausted) {
    if (sanitized) GTEST_SKIP() << "address space cannot be limited under a sanitizer";
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    for (const out_of_memory_case& c : cases) {
        EXPECT_EXIT(
            {
                setenv("LUMO_MSGBOX", "auto", 1);
                unsetenv("DISPLAY");
                c.prepare();
                heap_exhaust();
                c.fail();
            },
            ::testing::ExitedWithCode(70), ::testing::HasSubstr(c.line))
            << c.name;
    }
}

}  // namespace
