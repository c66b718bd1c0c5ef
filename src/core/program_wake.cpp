#include "core/program_wake.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>

namespace {

struct wake_state {
    std::mutex lock;
    std::condition_variable woken;
    uint32_t ticket = 0;
    std::atomic<uint64_t> idle_token{0};
};
wake_state wake;

}  // namespace

uint32_t program_wake_ticket() {
    std::lock_guard guard(wake.lock);
    return wake.ticket;
}

void program_wake() {
    {
        std::lock_guard guard(wake.lock);
        ++wake.ticket;
    }
    wake.woken.notify_all();
}

void program_wake_wait(uint32_t ticket, int64_t timeout_ms) {
    wake.idle_token.fetch_add(1);
    {
        std::unique_lock guard(wake.lock);
        auto stale = [&] { return wake.ticket != ticket; };
        if (timeout_ms < 0) wake.woken.wait(guard, stale);
        else wake.woken.wait_for(guard, std::chrono::milliseconds(timeout_ms), stale);
    }
    wake.idle_token.fetch_add(1);
}

uint64_t program_idle_token() { return wake.idle_token.load(); }
