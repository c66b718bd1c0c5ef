#include "platform/process.h"

#include <atomic>
#include <cstdio>
#include <mutex>
#include <unistd.h>

namespace {

// The hooks in the order they came, as a list that only grows. process_exit walks it without a
// lock and allocates nothing, so it also runs on the fatal out-of-memory path.
struct hook_node {
    process_flush_hook hook;
    std::atomic<hook_node*> next{nullptr};
};

struct flush_hooks {
    std::mutex add_lock;
    std::atomic<hook_node*> head{nullptr};
    hook_node* tail = nullptr;
};

flush_hooks& hooks() {
    static flush_hooks h;
    return h;
}

}  // namespace

void process_flush_hook_add(process_flush_hook hook) {
    auto& h = hooks();
    std::lock_guard<std::mutex> guard(h.add_lock);
    for (hook_node* n = h.head.load(); n; n = n->next.load())
        if (n->hook == hook) return;
    auto* node = new hook_node{hook};
    (h.tail ? h.tail->next : h.head).store(node, std::memory_order_release);
    h.tail = node;
}

void process_exit(int code) {
    // Only the first caller flushes; a second thread ending the process at the same moment waits
    // for the first to finish.
    static std::atomic<bool> exiting{false};
    if (exiting.exchange(true)) {
        for (;;) pause();
    }
    for (hook_node* n = hooks().head.load(std::memory_order_acquire); n; n = n->next.load(std::memory_order_acquire))
        n->hook();
    std::fflush(nullptr);
    _exit(code);
}
