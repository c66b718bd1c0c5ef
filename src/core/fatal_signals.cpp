#include "core/fatal_signals.h"

#include <semaphore.h>
#include <unistd.h>

#include <atomic>
#include <mutex>
#include <thread>

#include "core/errors.h"

namespace {

struct fatal_handover {
    std::once_flag started;
    sem_t raised;
    std::atomic<int32_t> number{0};
};
fatal_handover handover;

void handover_wait() {
    while (sem_wait(&handover.raised) != 0) {
        // interrupted by a signal: wait again
    }
    error_raise(handover.number.load());
}

}  // namespace

void fatal_signal_handover_start() {
    std::call_once(handover.started, [] {
        sem_init(&handover.raised, 0, 0);
        std::thread(handover_wait).detach();
    });
}

void fatal_signal_error(int32_t n) {
    static_assert(std::atomic<int32_t>::is_always_lock_free);
    int32_t expected = 0;
    // The first error that arrives is the one shown; a second faulting thread only waits.
    if (handover.number.compare_exchange_strong(expected, n)) sem_post(&handover.raised);
    for (;;) pause();
}
