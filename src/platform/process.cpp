#include "platform/process.h"

#include <array>
#include <atomic>
#include <cstdio>
#include <unistd.h>

namespace {

struct flush_hooks {
    std::array<std::atomic<process_flush_hook>, 16> hooks{};
    std::atomic<int> count{0};
};

flush_hooks& hooks() {
    static flush_hooks h;
    return h;
}

}  // namespace

void process_flush_hook_add(process_flush_hook hook) {
    auto& h = hooks();
    for (int i = 0; i < h.count.load(); ++i)
        if (h.hooks[i].load() == hook) return;
    int slot = h.count.fetch_add(1);
    if (slot < static_cast<int>(h.hooks.size())) h.hooks[slot].store(hook);
}

void process_exit(int code) {
    // Only the first caller flushes; a second thread ending the process at the same moment waits
    // for the first to finish.
    static std::atomic<bool> exiting{false};
    if (exiting.exchange(true)) {
        for (;;) pause();
    }
    auto& h = hooks();
    int n = h.count.load();
    if (n > static_cast<int>(h.hooks.size())) n = static_cast<int>(h.hooks.size());
    for (int i = 0; i < n; ++i)
        if (auto hook = h.hooks[i].load()) hook();
    std::fflush(nullptr);
    _exit(code);
}
