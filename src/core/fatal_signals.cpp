#include "core/fatal_signals.h"

#include <pthread.h>
#include <semaphore.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <mutex>
#include <thread>

#include "core/errors.h"

namespace {

// Room for the handler's frame and the kernel's signal frame (a few KiB with the widest registers).
constexpr size_t alternate_stack_size = size_t{64} << 10;

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
    // The first error that arrives is the one shown. Every call wakes the waiting thread, which
    // takes one wake-up: a hand-over that faults before its own wake-up (its stack runs out in
    // the post) is woken by the fault's.
    handover.number.compare_exchange_strong(expected, n);
    sem_post(&handover.raised);
    for (;;) pause();
}

void fatal_signal_handler_install(int signal, void (*handler)(int)) {
    fatal_signal_handover_start();
    struct sigaction action{};
    action.sa_handler = handler;
    action.sa_flags = SA_ONSTACK;
    sigemptyset(&action.sa_mask);
    sigaction(signal, &action, nullptr);
}

alternate_signal_stack::alternate_signal_stack() {
    stack_t current{};
    if (sigaltstack(nullptr, &current) != 0 || !(current.ss_flags & SS_DISABLE)) return;
    memory_ = std::make_unique<char[]>(alternate_stack_size);
    stack_t own{};
    own.ss_sp = memory_.get();
    own.ss_size = alternate_stack_size;
    if (sigaltstack(&own, nullptr) != 0) memory_.reset();
}

alternate_signal_stack::~alternate_signal_stack() {
    if (!memory_) return;
    stack_t off{};
    off.ss_flags = SS_DISABLE;
    sigaltstack(&off, nullptr);
}

void fatal_signal_thread_start(void (*entry)(), const char* name) {
    std::thread thread([entry] {
        alternate_signal_stack alternate;
        entry();
    });
    pthread_setname_np(thread.native_handle(), name);
    thread.detach();
}
